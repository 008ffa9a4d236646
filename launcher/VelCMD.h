// Base class of the launcher: runs one Java command in a virtual machine inside this process.
#ifndef VEL_CMD_H
#define VEL_CMD_H

#include <jni.h>
#include <string>
#include <sys/types.h>

class VelCMD
{
public:
    // Capacity of the virtual machine's option list.
    static constexpr int MAX_JVM_OPTIONS = 40;
    // Longest word taken from VEL_JVM_OPTS (it is collected in a buffer of 256 bytes).
    static constexpr size_t MAX_USER_OPTION_LENGTH = 255;

    VelCMD(const std::string& name, const std::string& classToLoad);
    virtual ~VelCMD();

    virtual int run(int argc, char** argv, char** envp);
    virtual void loadLibraries();
    virtual void localInit();
    virtual void localProcessing(JNIEnv* env);
    virtual void localDone();
    virtual void localVMargs(JavaVMInitArgs* args);
    // Kept for the launcher classes' interface: the run sequence never calls it.
    virtual void initAuthFlags();
    virtual void setFilePermissions();
    [[noreturn]] virtual void errorExit(int status, const char* msg);

    static std::string getName(const std::string& path);
    const std::string& getClassToLoad();

    void setup();
    void jvmSequence();
    void setupDebugLogging();

    // Keys and privileges.
    void readKeys();
    void resetUID();

    // Virtual machine options and start.
    void startJVM();
    void addJVMOption(const std::string& option);
    // "-D" + property + "=" + value; nothing for an empty or unset value.
    void addSystemProperty(const std::string& property, const std::string& value);
    void addSystemProperty(const std::string& property, const char* value);
    // Class-loading, garbage-collector and profiler traces, as the environment asks.
    void addTraceOptions();
    std::string genOptionString(std::string property, std::string value, std::string prefix, std::string separator);
    std::string genOptionString(std::string property, const char* value, std::string prefix, std::string separator);
    void addUserJVMOptions(const char* words);

    // Install paths and class path.
    std::string readBasePath();
    void insertInstallDir(std::string& path);
    std::string readShlibPath();
    std::string readJavaHome();
    std::string readClassPath();
    std::string readPolicyFile();
    // The code base: every file of the library directory.
    std::string readCodeBase();
    std::string getFilesFromDir(std::string dir, std::string ext);
    // The listing filter of getFilesFromDir: suffix is "." and the extension.
    static bool hasArchiveSuffix(const char* filename, const std::string& suffix);

    // The Java main.
    void callMain(int argc, char** argv);
    jobjectArray convertArgs(int argc, char** argv);
    jstring convertString(const char* text);
    void endJVM();
    // After a JNI call that can raise: ends the start with the message when the call failed or
    // left an exception pending; describeException lets the virtual machine print that first.
    void checkCall(bool failed, const std::string& msg, bool describeException = false);

    int getOptionCount() const { return myOptionCount; }
    const char* getOption(int index) const { return myOptions[index].optionString; }

protected:
    uid_t origUID = 0;
    JNIEnv* myEnv = nullptr;
    JavaVM* myJvm = nullptr;
    std::string myName;
    std::string myBasePath;
    std::string myClassToLoad;
    int myArgc = 0;
    char** myArgv = nullptr;
    char** myEnvp = nullptr;      // kept from run for the class's interface; nothing reads it
    unsigned char myAuthFlag = 0; // tested by VelInitAux; no launcher class sets it
    // Heap sizes in MiB, kept for the class's interface: nothing sets them; startJVM uses defaults.
    int myHeapMax = 0;
    int myHeapMin = 0;
    int myYoungGen = 0;
    JavaVMOption myOptions[MAX_JVM_OPTIONS] = {};
    int myOptionCount = 0;
    bool myShowJvmOpts = false;
};

#endif
