#include "VelCMD.h"

#include "TrustedEnv.h"
#include "VelDebugInit.h"
#include "VelPriv.h"
#include "VelVersion.h"
#include "debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace {

const char* const MAIN_METHOD = "main";
const char* const MAIN_SIGNATURE = "([Ljava/lang/String;)V";
const char* const STRING_CLASS = "java/lang/String";

// Fixed paths below the install base; "%b" stands for the base path.
const char* const DEFAULT_SHLIB_PATH =
    "%b/opt/vel/j2re/lib/i386/:%b/opt/vel/j2re/lib/i386/server:"
    "%b/opt/vel/j2re/lib/i386/native_threads:%b/opt/vel/j2re/lib/i386/hotspot:"
    "%b/opt/vel/lib/:%b/opt/vel/j2re/lib/:/usr/lib";
const char* const SHLIB_PATH_TAIL = "/opt/orvaconsole/lib";
const char* const DEFAULT_JAVA_HOME = "%b/opt/vel/j2re/";
const char* const PATCH_DIR = "%b/opt/vel/patch/";
const char* const LIB_DIR = "%b/opt/vel/lib/";
const char* const MAIN_ARCHIVE = "vel.jar";
const char* const JRE_LIB_DIR = "%b/opt/vel/j2re/lib/";
const char* const CLASS_PATH_TAIL =
    "/opt/orvaconsole/webapps/ROOT/ui/jsp/resources:/opt/orvaconsole/lib";
const char* const ARCHIVE_EXT = "jar";
const char* const BASE_TOKEN = "%b";

const mode_t FILE_MASK = 022;

// Appends an entry to a ":"-separated list, with a separator only between entries.
void appendEntry(std::string& list, const std::string& entry)
{
    if (!list.empty())
        list += pathSeparator;
    list += entry;
}

} // namespace

VelCMD::VelCMD(const std::string& name, const std::string& classToLoad)
    : myName(name), myClassToLoad(classToLoad)
{
}

VelCMD::~VelCMD() = default;

std::string VelCMD::getName(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return path;
    return path.substr(slash + 1);
}

std::string VelCMD::getClassToLoad()
{
    return myClassToLoad;
}

// ---------------------------------------------------------------- run sequence

int VelCMD::run(int argc, char** argv, char** envp)
{
    myArgc = argc;
    myArgv = argv;
    myEnvp = envp;
    setup();
    jvmSequence();
    localDone();
    return 0;
}

void VelCMD::setup()
{
    origUID = getuid();
    setupDebugLogging();
    myShowJvmOpts = getenv("VEL_SHOW_JVM_OPTS") != nullptr;
    loadLibraries();
    localInit();
}

void VelCMD::jvmSequence()
{
    startJVM();
    localProcessing(myEnv);
    callMain(myArgc, myArgv);
    endJVM();
}

void VelCMD::setupDebugLogging()
{
    [[maybe_unused]] VelDebugInit start(myName);  // the constructor starts the trace
}

void VelCMD::loadLibraries() {}
void VelCMD::localInit() {}
void VelCMD::localProcessing(JNIEnv*) {}
void VelCMD::localDone() {}
void VelCMD::localVMargs(JavaVMInitArgs*) {}
void VelCMD::initAuthFlags() {}

void VelCMD::setFilePermissions()
{
    umask(FILE_MASK);
}

void VelCMD::errorExit(int status, const char* msg)
{
    DBG_ENTER("VelCMD::errorExit");
    if (msg != nullptr) {
        const char* logMsg = msg;
        DBG_STR(logMsg);
        fprintf(stderr, "%s\n", logMsg);
        // The message is data, never a format: a '%' in it must arrive unchanged.
        syslog(LOG_ERR, "%s", logMsg);
    }
    DBG_LEAVE("VelCMD::errorExit");
    exit(status);
}

// ---------------------------------------------------------------- virtual machine options and start

void VelCMD::addJVMOption(const std::string& option)
{
    DBG_ENTER("\"addJVMOption\"");
    if (myOptionCount >= MAX_JVM_OPTIONS)
        errorExit(1, "VelDaemon::addJVMOption: Insufficient space for option");
    DBG_STR(option.c_str());
    // The copy lives as long as the process: the virtual machine keeps pointers to it.
    char* copy = strdup(option.c_str());
    if (copy == nullptr)
        errorExit(1, "VelDaemon::addJVMOption: Insufficient space for option");
    if (myShowJvmOpts) {
        fprintf(stdout, "addJVMOption(): %s\n", copy);
        fflush(stdout);
    }
    myOptions[myOptionCount].optionString = copy;
    myOptions[myOptionCount].extraInfo = nullptr;
    ++myOptionCount;
    DBG_LEAVE("\"addJVMOption\"");
}

std::string VelCMD::genOptionString(std::string property, std::string value, std::string prefix,
                                    std::string separator)
{
    DBG_ENTER("VelCMD::genOptionString(string,string)");
    DBG_MSG("Incoming:");
    DBG_STR(property.c_str());
    DBG_STR(value.c_str());
    std::string retValue;
    if (!value.empty())
        retValue = prefix + property + separator + value;
    DBG_STR(retValue.c_str());
    DBG_LEAVE("VelCMD::genOptionString(string,string)");
    return retValue;
}

std::string VelCMD::genOptionString(std::string property, const char* value, std::string prefix,
                                    std::string separator)
{
    DBG_ENTER("VelCMD::genOptionString(string,char*)");
    DBG_MSG("Incoming:");
    DBG_STR(value);
    std::string result =
        genOptionString(property, std::string(value != nullptr ? value : ""), prefix, separator);
    DBG_LEAVE("VelCMD::genOptionString(string,char*)");
    return result;
}

void VelCMD::addUserJVMOptions(const char* words)
{
    if (words == nullptr)
        return;
    char word[MAX_USER_OPTION_LENGTH + 1];
    const char* scan = words;
    while (*scan != '\0') {
        if (*scan != '-') {
            ++scan;
            continue;
        }
        size_t length = 0;
        while (scan[length] != '\0' && scan[length] != ' ')
            ++length;
        if (length > MAX_USER_OPTION_LENGTH) {
            // A cut option would be a different option: refuse the whole start.
            std::string msg = "ERROR:   " + myName +
                              " cannot use a VEL_JVM_OPTS option longer than 255 characters.";
            errorExit(1, msg.c_str());
        }
        memcpy(word, scan, length);
        word[length] = '\0';
        addJVMOption(word);
        scan += length;
    }
}

void VelCMD::startJVM()
{
    DBG_ENTER("VelCMD::startJVM");
    // No launcher class changes the heap members, so the defaults always apply.
    DBG_MSG("Setting heap size according to default values");
    std::string minHeapSize = "16m";
    std::string maxHeapSize = "128m";
    std::string youngGenSize = "8m";
    DBG_STR(minHeapSize.c_str());
    DBG_STR(maxHeapSize.c_str());
    DBG_STR(youngGenSize.c_str());

    JavaVMInitArgs vmArgs;
    localVMargs(&vmArgs);

    addJVMOption(genOptionString("ms", minHeapSize, "-X", ""));
    addJVMOption(genOptionString("mx", maxHeapSize, "-X", ""));
    addJVMOption(genOptionString("mn", youngGenSize, "-X", ""));
    addJVMOption("-XX:SurvivorRatio=3");
    addJVMOption("-XX:TargetSurvivorRatio=75");
    addJVMOption("-XX:MinHeapFreeRatio=30");
    addJVMOption("-XX:MaxHeapFreeRatio=50");
    addJVMOption("-XX:+UseCMSCompactAtFullCollection");
    addJVMOption(genOptionString("sun.rmi.dgc.server.gcInterval", std::string("1800000"), "-D", "="));
    addJVMOption(genOptionString("sun.rmi.dgc.client.gcInterval", std::string("1800000"), "-D", "="));
    addJVMOption(genOptionString("vel.display", getenv("DISPLAY"), "-D", "="));
    addJVMOption(genOptionString("vel.browser", getenv("BROWSER"), "-D", "="));
    addJVMOption(genOptionString("VEL_BASE_DIR", readBasePath(), "-D", "="));
    addJVMOption(genOptionString("networkaddress.cache.ttl", std::string("30"), "-D", "="));
    addJVMOption(genOptionString("java.class.path", readClassPath(), "-D", "="));
    addJVMOption(genOptionString("java.home", readJavaHome(), "-D", "="));
    addJVMOption(genOptionString("java.library.path", readShlibPath(), "-D", "="));

    std::string policyDir = std::string("%b/etc/opt/vel/") + "config/";
    insertInstallDir(policyDir);
    addJVMOption(genOptionString("java.security.policy", policyDir + "java.policy", "-D", "="));

    std::string codeBaseDir = std::string("%b/opt/vel/") + "lib/";
    insertInstallDir(codeBaseDir);
    addJVMOption(genOptionString("vel.codeBase", codeBaseDir + "*", "-D", "="));

    addJVMOption(genOptionString("java.protocol.handler.pkgs",
                                 std::string("org.apache.naming.resources"), "-D", "="));
    addJVMOption("-ea");
    if (isSecureStart()) {
        for (const std::string& option : VelPriv::secureStartOptions())
            addJVMOption(option);
    }

    if (getenv("VEL_VERBOSE_TRACE") != nullptr)
        addJVMOption(genOptionString("verbose", std::string("class"), "-", ":"));

    bool gcTrace = getTrustedEnv("VEL_GC_TRACE") != nullptr;
    bool eprofTrace = getTrustedEnv("VEL_EPROF_TRACE") != nullptr;
    if (gcTrace || eprofTrace) {
        std::string logDir = std::string("%b/var/opt/vel/") + "logs/";
        insertInstallDir(logDir);
        if (gcTrace)
            addJVMOption("-Xloggc:" + logDir + myName + ".gc.log");
        if (eprofTrace)
            addJVMOption("-Xrunhprof:file=" + logDir + myName + ".eprof");
    }

    const char* userOptions = getTrustedEnv("VEL_JVM_OPTS");
    if (userOptions != nullptr && *userOptions != '\0')
        addUserJVMOptions(userOptions);

    if (getenv("FOREGROUND") != nullptr)
        addJVMOption("-DFOREGROUND=true");
    addJVMOption(genOptionString("vel.path", getenv("PATH"), "-D", "="));

    removeRuntimeOptionVariables();
    vmArgs.version = JNI_VERSION_1_4;
    vmArgs.nOptions = myOptionCount;
    vmArgs.options = myOptions;
    vmArgs.ignoreUnrecognized = JNI_TRUE;
    DBG_MSG("Start the JVM.");
    jint result = JNI_CreateJavaVM(&myJvm, reinterpret_cast<void**>(&myEnv), &vmArgs);
    if (result < 0) {
        std::string msg = "ERROR:   Cannot create Java Virtual Machine for " + myName + ".";
        errorExit(1, msg.c_str());
    }
    DBG_MSG("JVM successfully started");
    DBG_LEAVE("VelCMD::startJVM");
}

// ---------------------------------------------------------------- install paths and class path

std::string VelCMD::readBasePath()
{
    DBG_ENTER("VelCMD::readBasePath");
    if (myBasePath.empty()) {
        const char* szPATH = getTrustedEnv("VEL_BASE_DIR");
        if (szPATH != nullptr) {
            DBG_STR(szPATH);
            myBasePath = szPATH;
        } else {
            myBasePath.clear();
        }
        DBG_STR(myBasePath.c_str());
    }
    DBG_LEAVE("VelCMD::readBasePath");
    return myBasePath;
}

void VelCMD::insertInstallDir(std::string& path)
{
    DBG_ENTER("\"insertInstallDir\"");
    std::string base = readBasePath();
    std::string::size_type at = path.find(BASE_TOKEN);
    while (at != std::string::npos) {
        path.replace(at, strlen(BASE_TOKEN), base);
        // Go on behind the inserted text, so a token inside the base path stays as it is.
        at = path.find(BASE_TOKEN, at + base.size());
    }
    DBG_LEAVE("\"insertInstallDir\"");
}

std::string VelCMD::readShlibPath()
{
    DBG_ENTER("VelCMD::readShlibPath");
    std::string result;
    bool useEnv = getTrustedEnv(USE_ENV) != nullptr;
    const char* external = useEnv ? getenv("LD_LIBRARY_PATH") : nullptr;
    if (external != nullptr) {
        DBG_MSG("VEL_USE_ENV is set - using external shared library path");
        result = external;
    } else {
        if (useEnv)
            DBG_MSG("Library path does not appear to be set.  Setting to default.");
        else
            DBG_MSG("VEL_USE_ENV is not set");
        result = DEFAULT_SHLIB_PATH;
        insertInstallDir(result);
    }
    if (!result.empty())
        result += pathSeparator;
    result += SHLIB_PATH_TAIL;
    DBG_MSG(result.c_str());
    DBG_LEAVE("VelCMD::readShlibPath");
    return result;
}

std::string VelCMD::readJavaHome()
{
    DBG_ENTER("VelCMD::readJavaHome");
    std::string result;
    const char* external = nullptr;
    if (getTrustedEnv(USE_ENV) != nullptr) {
        DBG_MSG("VEL_USE_ENV is set - using external JAVA_HOME");
        external = getenv(JAVA_HOME);
        if (external == nullptr)
            DBG_MSG("Java Home does not appear to be set.  Setting to default.");
    } else {
        DBG_MSG("VEL_USE_ENV is not set");
    }
    if (external != nullptr) {
        result = external;
    } else {
        result = DEFAULT_JAVA_HOME;
        insertInstallDir(result);
    }
    DBG_MSG(result.c_str());
    DBG_LEAVE("VelCMD::readJavaHome");
    return result;
}

std::string VelCMD::readClassPath()
{
    DBG_ENTER("VelCMD::readClassPath");
    std::string classPath;
    if (getTrustedEnv(USE_ENV) != nullptr) {
        DBG_MSG("VEL_USE_ENV value is set -- attempt use the environment class path.");
        const char* external = getenv("CLASSPATH");
        if (external != nullptr) {
            DBG_MSG("Environment class path defined -- using it.");
            classPath = external;
        }
    }

    std::string patchDir = PATCH_DIR;
    insertInstallDir(patchDir);
    std::string patches = getFilesFromDir(patchDir, ARCHIVE_EXT);
    if (!patches.empty())
        appendEntry(classPath, patches);

    std::string libDir = LIB_DIR;
    insertInstallDir(libDir);
    appendEntry(classPath, libDir + MAIN_ARCHIVE);

    std::string libraries = getFilesFromDir(libDir, ARCHIVE_EXT);
    if (!libraries.empty())
        appendEntry(classPath, libraries);

    std::string runtimeDir = JRE_LIB_DIR;
    insertInstallDir(runtimeDir);
    std::string runtime = getFilesFromDir(runtimeDir, ARCHIVE_EXT);
    if (!runtime.empty())
        appendEntry(classPath, runtime);

    appendEntry(classPath, CLASS_PATH_TAIL);
    insertInstallDir(classPath);
    DBG_STR(classPath.c_str());
    DBG_LEAVE("VelCMD::readClassPath");
    return classPath;
}

// Taken only when the first occurrence of the suffix ends the name.
bool VelCMD::hasArchiveSuffix(const char* filename, const std::string& suffix)
{
    const char* index = strstr(filename, suffix.c_str());
    return index != nullptr && strlen(index) == suffix.size();
}

std::string VelCMD::getFilesFromDir(std::string dir, std::string ext)
{
    DBG_ENTER("VelCMD::getFilesFromDir");
    DBG_STR(dir.c_str());
    DBG_STR(ext.c_str());
    std::string suffix = "." + ext;
    std::string pathList;

    DBG_MSG("open directory.");
    DIR* directory = opendir(dir.c_str());
    if (directory == nullptr) {
        DBG_LEAVE("VelCMD::getFilesFromDir");
        return pathList;
    }
    DBG_MSG("Begin while.");
    while (struct dirent* dirStruct = readdir(directory)) {
        DBG_MSG("get filename.");
        DBG_STR(dirStruct->d_name);
        std::string filename = dirStruct->d_name;
        DBG_STR(filename);
        if (hasArchiveSuffix(dirStruct->d_name, suffix)) {
            const char* index = strstr(dirStruct->d_name, suffix.c_str());
            DBG_STR(index);
            appendEntry(pathList, dir + filename);
        }
    }
    closedir(directory);
    DBG_STR(pathList.c_str());
    DBG_LEAVE("VelCMD::getFilesFromDir");
    return pathList;
}

// ---------------------------------------------------------------- the Java main

void VelCMD::callMain(int argc, char** argv)
{
    DBG_ENTER("VelCMD::callMain");
    DBG_MSG("Find the Class.");
    DBG_STR(getClassToLoad().c_str());
    jclass mainClass = myEnv->FindClass(myClassToLoad.c_str());
    DBG_MSG("Got a Class.");
    if (mainClass == nullptr) {
        DBG_MSG("Class not found");
        fprintf(stderr, "Error:   %s might not be initialized.\n",
                VelVersion::getProductName().c_str());
        fprintf(stderr, "         Please run `velinitconfig -a` before executing this command.\n");
        DBG_STR(myName.c_str());
        std::string msg = "ERROR:   The command '" + myName + "' cannot load the class " +
                          myClassToLoad + ".\n" +
                          "Perhaps the command is restricted to administrative users.";
        errorExit(1, msg.c_str());
    }

    DBG_MSG("Find the main method.");
    jmethodID mainMethod = myEnv->GetStaticMethodID(mainClass, MAIN_METHOD, MAIN_SIGNATURE);
    if (mainMethod == nullptr) {
        if (myEnv->ExceptionCheck())
            myEnv->ExceptionDescribe();
        std::string msg = "ERROR:   " + myName + " cannot find the method " + MAIN_METHOD +
                          MAIN_SIGNATURE + " in the class " + myClassToLoad + ".";
        errorExit(1, msg.c_str());
    }

    DBG_MSG("Converting Arguments.");
    jobjectArray args = convertArgs(argc, argv);
    DBG_INT(argc);
    for (int i = 0; i < argc; ++i) {
        DBG_INT(i);
        DBG_STR(argv[i]);
    }

    DBG_MSG("Start the java main method now.  If a daemon logs again there is an Error.");
    DBG_MSG("Calling main() now.");
    DBG_MSG("  (NOTE: If this is a daemon running in the foreground, I may not log again.)");
    myEnv->CallStaticVoidMethod(mainClass, mainMethod, args);

    if (myEnv->ExceptionCheck()) {
        myEnv->ExceptionDescribe();
        myEnv->ExceptionClear();
        std::string msg = "ERROR:   " + myName + " received an exception from Java Virtual Machine.";
        errorExit(1, msg.c_str());
    }
    DBG_LEAVE("VelCMD::callMain");
}

jobjectArray VelCMD::convertArgs(int argc, char** argv)
{
    DBG_ENTER("VelCMD::convertArgs");
    jclass stringClass = myEnv->FindClass(STRING_CLASS);
    if (stringClass == nullptr) {
        std::string msg = "ERROR:   Cannot find class java/lang/String from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    jobjectArray array = myEnv->NewObjectArray(argc, stringClass, nullptr);
    if (array == nullptr) {
        std::string msg = "ERROR:   Memory allocation error for jStringArr from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    for (int i = 0; i < argc; ++i) {
        jstring element = convertString(argv[i]);
        myEnv->SetObjectArrayElement(array, i, element);
        myEnv->DeleteLocalRef(element);
    }
    myEnv->DeleteLocalRef(stringClass);
    DBG_LEAVE("VelCMD::convertArgs");
    return array;
}

jstring VelCMD::convertString(const char* text)
{
    DBG_ENTER("VelCMD::ConvertString");
    // Built from raw bytes by the String constructor, so the runtime's default
    // character set (from the locale) decodes it, not modified UTF-8.
    jsize length = static_cast<jsize>(strlen(text));
    jclass stringClass = myEnv->FindClass(STRING_CLASS);
    if (stringClass == nullptr) {
        std::string msg = "ERROR:   Cannot find class java/lang/String from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    jmethodID constructor = myEnv->GetMethodID(stringClass, "<init>", "([B)V");
    if (constructor == nullptr) {
        std::string msg = "ERROR:   Cannot find java/lang/String constructor from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    jbyteArray bytes = myEnv->NewByteArray(length);
    if (bytes == nullptr) {
        std::string msg = "ERROR:   Cannot construct NewByteArray from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    myEnv->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(text));
    if (myEnv->ExceptionOccurred() != nullptr) {
        myEnv->ExceptionDescribe();
        std::string msg = "ERROR:   Exception creating ByteArray from " + myName + ".";
        errorExit(1, msg.c_str());
    }
    jstring result = static_cast<jstring>(myEnv->NewObject(stringClass, constructor, bytes));
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
