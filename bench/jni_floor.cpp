// The floor of a JNI launcher: creates the virtual machine with the options given,
// calls the static main of a class and destroys the machine. Nothing else.
//
// usage: jni-floor [--first CLASS.METHOD] [JVM-OPTION ...] -- CLASS [ARG ...]
// CLASS is written with slashes (com/example/Main). Arguments are passed as modified UTF-8.
// --first calls a static void METHOD() of another class before main, as a launcher
// that sets up keys does; without it the program is the bare floor.
#include <cstdio>
#include <cstring>
#include <jni.h>
#include <string>
#include <vector>

namespace
{

// Calls the static void method named "CLASS.METHOD".
bool callFirst(JNIEnv* env, const std::string& target)
{
    std::string::size_type dot = target.rfind('.');
    std::string className = target.substr(0, dot);
    std::string methodName = dot == std::string::npos ? "" : target.substr(dot + 1);
    jclass cls = env->FindClass(className.c_str());
    jmethodID method = cls ? env->GetStaticMethodID(cls, methodName.c_str(), "()V") : nullptr;
    if (method != nullptr)
        env->CallStaticVoidMethod(cls, method);
    if (method == nullptr || env->ExceptionCheck())
    {
        env->ExceptionDescribe();
        fprintf(stderr, "jni-floor: cannot call %s\n", target.c_str());
        return false;
    }
    env->DeleteLocalRef(cls);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const char* first = nullptr;
    int optionsStart = 1;
    if (argc > 2 && strcmp(argv[1], "--first") == 0)
    {
        first = argv[2];
        optionsStart = 3;
    }
    int split = optionsStart;
    while (split < argc && strcmp(argv[split], "--") != 0)
        ++split;
    if (split + 1 >= argc)
    {
        fprintf(stderr, "usage: jni-floor [--first CLASS.METHOD] [JVM-OPTION ...] -- CLASS [ARG ...]\n");
        return 2;
    }
    std::vector<JavaVMOption> options;
    for (int i = optionsStart; i < split; ++i)
        options.push_back(JavaVMOption{argv[i], nullptr});

    JavaVMInitArgs vmArgs;
    vmArgs.version = JNI_VERSION_1_4;
    vmArgs.nOptions = jint(options.size());
    vmArgs.options = options.data();
    vmArgs.ignoreUnrecognized = JNI_TRUE;
    JavaVM* jvm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&jvm, reinterpret_cast<void**>(&env), &vmArgs) < 0)
    {
        fprintf(stderr, "jni-floor: cannot create the virtual machine\n");
        return 1;
    }

    if (first != nullptr && !callFirst(env, first))
        return 1;

    const char* className = argv[split + 1];
    jclass mainClass = env->FindClass(className);
    jmethodID mainMethod = mainClass ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : nullptr;
    if (mainMethod == nullptr)
    {
        env->ExceptionDescribe();
        fprintf(stderr, "jni-floor: no main in %s\n", className);
        return 1;
    }
    int firstArg = split + 2;
    jobjectArray args = env->NewObjectArray(argc - firstArg, env->FindClass("java/lang/String"), nullptr);
    for (int i = firstArg; i < argc; ++i)
        env->SetObjectArrayElement(args, i - firstArg, env->NewStringUTF(argv[i]));
    env->CallStaticVoidMethod(mainClass, mainMethod, args);
    int status = 0;
    if (env->ExceptionCheck())
    {
        env->ExceptionDescribe();
        status = 1;
    }
    jvm->DestroyJavaVM();
    return status;
}
