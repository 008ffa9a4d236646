// Virtual machine options and start: the option list, the user's own options, JNI_CreateJavaVM.
#include "VelCMD.h"

#include "TrustedEnv.h"
#include "VelMessages.h"
#include "debug.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Options of a secure start. The process holds the keys and, until it gives them up, the start
// privileges, while its IDs become the caller's: no attach listener (jcmd, agents), no
// performance-data file in /tmp, no crash or compiler-replay report that would copy memory
// contents into a file of the caller's.
const char* const SECURE_START_OPTIONS[] = {
    "-XX:+DisableAttachMechanism",
    "-XX:-UsePerfData",
    "-XX:ErrorFile=/dev/null",
    "-XX:-DumpReplayDataOnError",
};

} // namespace

void VelCMD::addJVMOption(const std::string& option)
{
    DBG_ENTER("\"addJVMOption\"");
    if (myOptionCount >= MAX_JVM_OPTIONS)
        errorExit(1, VelMessages::NO_OPTION_SPACE);
    DBG_STR(option.c_str());
    // The copy lives as long as the process: the virtual machine keeps pointers to it.
    char* copy = strdup(option.c_str());
    if (copy == nullptr)
        errorExit(1, VelMessages::NO_OPTION_SPACE);
    if (myShowJvmOpts)
    {
        fprintf(stdout, "addJVMOption(): %s\n", copy);
        fflush(stdout);
    }
    myOptions[myOptionCount].optionString = copy;
    myOptions[myOptionCount].extraInfo = nullptr;
    ++myOptionCount;
    DBG_LEAVE("\"addJVMOption\"");
}

std::string VelCMD::genOptionString(std::string property, std::string value, std::string prefix, std::string separator)
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

std::string VelCMD::genOptionString(std::string property, const char* value, std::string prefix, std::string separator)
{
    DBG_ENTER("VelCMD::genOptionString(string,char*)");
    DBG_MSG("Incoming:");
    DBG_STR(value);
    std::string result = genOptionString(property, std::string(value != nullptr ? value : ""), prefix, separator);
    DBG_LEAVE("VelCMD::genOptionString(string,char*)");
    return result;
}

void VelCMD::addSystemProperty(const std::string& property, const std::string& value)
{
    addJVMOption(genOptionString(property, value, "-D", "="));
}

void VelCMD::addSystemProperty(const std::string& property, const char* value)
{
    addJVMOption(genOptionString(property, value, "-D", "="));
}

void VelCMD::addUserJVMOptions(const char* words)
{
    if (words == nullptr)
        return;
    char word[MAX_USER_OPTION_LENGTH + 1];
    const char* scan = words;
    while (*scan != '\0')
    {
        if (*scan != '-')
        {
            ++scan;
            continue;
        }
        size_t length = 0;
        while (scan[length] != '\0' && scan[length] != ' ')
            ++length;
        if (length > MAX_USER_OPTION_LENGTH)
        {
            // A cut option would be a different option: refuse the whole start.
            errorExit(1, VelMessages::userOptionTooLong(myName).c_str());
        }
        memcpy(word, scan, length);
        word[length] = '\0';
        addJVMOption(word);
        scan += length;
    }
}

void VelCMD::addTraceOptions()
{
    if (getenv("VEL_VERBOSE_TRACE") != nullptr)
        addJVMOption(genOptionString("verbose", std::string("class"), "-", ":"));

    bool gcTrace = getTrustedEnv("VEL_GC_TRACE") != nullptr;
    bool eprofTrace = getTrustedEnv("VEL_EPROF_TRACE") != nullptr;
    if (gcTrace || eprofTrace)
    {
        std::string logDir = std::string("%b/var/opt/vel/") + "logs/";
        insertInstallDir(logDir);
        if (gcTrace)
            addJVMOption("-Xloggc:" + logDir + myName + ".gc.log");
        if (eprofTrace)
            addJVMOption("-Xrunhprof:file=" + logDir + myName + ".eprof");
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
    addSystemProperty("sun.rmi.dgc.server.gcInterval", std::string("1800000"));
    addSystemProperty("sun.rmi.dgc.client.gcInterval", std::string("1800000"));
    addSystemProperty("vel.display", getenv("DISPLAY"));
    addSystemProperty("vel.browser", getenv("BROWSER"));
    addSystemProperty("VEL_BASE_DIR", readBasePath());
    addSystemProperty("networkaddress.cache.ttl", std::string("30"));
    addSystemProperty("java.class.path", readClassPath());
    addSystemProperty("java.home", readJavaHome());
    addSystemProperty("java.library.path", readShlibPath());
    addSystemProperty("java.security.policy", readPolicyFile());
    addSystemProperty("vel.codeBase", readCodeBase());
    addSystemProperty("java.protocol.handler.pkgs", std::string("org.apache.naming.resources"));
    addJVMOption("-ea");
    if (isSecureStart())
    {
        for (const char* option : SECURE_START_OPTIONS)
            addJVMOption(option);
    }

    addTraceOptions();

    const char* userOptions = getTrustedEnv("VEL_JVM_OPTS");
    if (userOptions != nullptr && *userOptions != '\0')
        addUserJVMOptions(userOptions);

    if (getenv("FOREGROUND") != nullptr)
        addJVMOption("-DFOREGROUND=true");
    addSystemProperty("vel.path", getenv("PATH"));

    removeRuntimeOptionVariables();
    vmArgs.version = JNI_VERSION_1_4;
    vmArgs.nOptions = myOptionCount;
    vmArgs.options = myOptions;
    vmArgs.ignoreUnrecognized = JNI_TRUE;
    DBG_MSG("Start the JVM.");
    jint result = JNI_CreateJavaVM(&myJvm, reinterpret_cast<void**>(&myEnv), &vmArgs);
    if (result < 0)
        errorExit(1, VelMessages::cannotCreateJvm(myName).c_str());
    DBG_MSG("JVM successfully started");
    DBG_LEAVE("VelCMD::startJVM");
}
