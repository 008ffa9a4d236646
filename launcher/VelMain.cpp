// The Java main: the command's class and its main, the arguments as Java strings, the VM's end.
#include "VelCMD.h"

#include "VelMessages.h"
#include "VelVersion.h"
#include "debug.h"

#include <cstdio>
#include <cstring>

namespace
{

const char* const MAIN_METHOD = "main";
const char* const MAIN_SIGNATURE = "([Ljava/lang/String;)V";
const char* const STRING_CLASS = "java/lang/String";

// The name of the locale's character set as the runtime reports it ("native.encoding", from JDK 17
// on), or null where it reports none. From JDK 18 on the runtime's default character set is UTF-8
// whatever the locale, so the default no longer decodes an argument in the user's own encoding.
jstring nativeEncoding(JNIEnv* env)
{
    jstring name = nullptr;
    jclass systemClass = env->FindClass("java/lang/System");
    jmethodID getProperty = systemClass == nullptr ? nullptr
                                                   : env->GetStaticMethodID(systemClass, "getProperty",
                                                                            "(Ljava/lang/String;)Ljava/lang/String;");
    jstring key = getProperty == nullptr ? nullptr : env->NewStringUTF("native.encoding");
    if (key != nullptr)
        name = static_cast<jstring>(env->CallStaticObjectMethod(systemClass, getProperty, key));
    if (env->ExceptionCheck() == JNI_TRUE)
    {
        env->ExceptionClear();
        name = nullptr;
    }
    if (key != nullptr)
        env->DeleteLocalRef(key);
    if (systemClass != nullptr)
        env->DeleteLocalRef(systemClass);
    return name;
}

} // namespace

void VelCMD::callMain(int argc, char** argv)
{
    DBG_ENTER("VelCMD::callMain");
    DBG_MSG("Find the Class.");
    DBG_STR(getClassToLoad().c_str());
    jclass mainClass = myEnv->FindClass(myClassToLoad.c_str());
    DBG_MSG("Got a Class.");
    if (mainClass == nullptr)
    {
        DBG_MSG("Class not found");
        fputs(VelMessages::notInitializedHint(VelVersion::getProductName()).c_str(), stderr);
        DBG_STR(myName.c_str());
        errorExit(1, VelMessages::cannotLoadClass(myName, myClassToLoad).c_str());
    }

    DBG_MSG("Find the main method.");
    jmethodID mainMethod = myEnv->GetStaticMethodID(mainClass, MAIN_METHOD, MAIN_SIGNATURE);
    std::string method = std::string(MAIN_METHOD) + MAIN_SIGNATURE;
    checkCall(mainMethod == nullptr, VelMessages::noMainMethod(myName, method, myClassToLoad), true);

    DBG_MSG("Converting Arguments.");
    jobjectArray args = convertArgs(argc, argv);
    DBG_INT(argc);
    for (int i = 0; i < argc; ++i)
    {
        DBG_INT(i);
        DBG_STR(argv[i]);
    }

    DBG_MSG("Start the java main method now.  If a daemon logs again there is an Error.");
    DBG_MSG("Calling main() now.");
    DBG_MSG("  (NOTE: If this is a daemon running in the foreground, I may not log again.)");
    myEnv->CallStaticVoidMethod(mainClass, mainMethod, args);
    checkCall(false, VelMessages::mainException(myName), true);
    DBG_LEAVE("VelCMD::callMain");
}

jobjectArray VelCMD::convertArgs(int argc, char** argv)
{
    DBG_ENTER("VelCMD::convertArgs");
    jclass stringClass = myEnv->FindClass(STRING_CLASS);
    checkCall(stringClass == nullptr, VelMessages::noStringClass(myName));
    jobjectArray array = myEnv->NewObjectArray(argc, stringClass, nullptr);
    checkCall(array == nullptr, VelMessages::noArgumentArray(myName));
    for (int i = 0; i < argc; ++i)
    {
        jstring element = convertString(argv[i]);
        myEnv->SetObjectArrayElement(array, i, element);
        checkCall(false, VelMessages::cannotStoreArgument(myName), true);
        myEnv->DeleteLocalRef(element);
    }
    myEnv->DeleteLocalRef(stringClass);
    DBG_LEAVE("VelCMD::convertArgs");
    return array;
}

jstring VelCMD::convertString(const char* text)
{
    DBG_ENTER("VelCMD::ConvertString");
    // Built from raw bytes by a String constructor, so the locale's character set decodes it, not
    // modified UTF-8: the one the runtime names as the native encoding, else (before JDK 17, or
    // a name the runtime cannot decode) the runtime's default, which then follows the locale.
    jsize length = static_cast<jsize>(strlen(text));
    jclass stringClass = myEnv->FindClass(STRING_CLASS);
    checkCall(stringClass == nullptr, VelMessages::noStringClass(myName));
    jmethodID constructor = myEnv->GetMethodID(stringClass, "<init>", "([B)V");
    checkCall(constructor == nullptr, VelMessages::noStringConstructor(myName));
    jbyteArray bytes = myEnv->NewByteArray(length);
    checkCall(bytes == nullptr, VelMessages::noByteArray(myName));
    myEnv->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(text));
    checkCall(false, VelMessages::byteArrayException(myName), true);
    jstring result = nullptr;
    jstring encoding = nativeEncoding(myEnv);
    jmethodID decodingConstructor =
        encoding == nullptr ? nullptr : myEnv->GetMethodID(stringClass, "<init>", "([BLjava/lang/String;)V");
    if (decodingConstructor != nullptr)
        result = static_cast<jstring>(myEnv->NewObject(stringClass, decodingConstructor, bytes, encoding));
    if (myEnv->ExceptionCheck() == JNI_TRUE)
        myEnv->ExceptionClear(); // an encoding the runtime does not know: its default decodes
    if (encoding != nullptr)
        myEnv->DeleteLocalRef(encoding);
    if (result == nullptr)
    {
        result = static_cast<jstring>(myEnv->NewObject(stringClass, constructor, bytes));
        checkCall(result == nullptr, VelMessages::cannotConstructString(myName), true);
    }
    myEnv->DeleteLocalRef(bytes);
    myEnv->DeleteLocalRef(stringClass);
    DBG_LEAVE("VelCMD::ConvertString");
    return result;
}

void VelCMD::endJVM()
{
    DBG_ENTER("VelCMD::endJVM");
    myJvm->DestroyJavaVM();
    DBG_LEAVE("VelCMD::endJVM");
}

void VelCMD::checkCall(bool failed, const std::string& msg, bool describeException)
{
    bool pending = myEnv->ExceptionCheck() == JNI_TRUE;
    if (!failed && !pending)
        return;
    if (pending)
    {
        // No JNI call but these may follow while an exception is pending.
        if (describeException)
            myEnv->ExceptionDescribe();
        myEnv->ExceptionClear();
    }
    errorExit(1, msg.c_str());
}
