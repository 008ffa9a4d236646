// The run sequence of every launcher class, its default steps, and the single error exit.
#include "VelCMD.h"

#include "VelDebugInit.h"
#include "debug.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace
{

const mode_t FILE_MASK = 022;

} // namespace

VelCMD::VelCMD(const std::string& name, const std::string& classToLoad) : myName(name), myClassToLoad(classToLoad) {}

VelCMD::~VelCMD() = default;

std::string VelCMD::getName(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return path;
    return path.substr(slash + 1);
}

const std::string& VelCMD::getClassToLoad()
{
    return myClassToLoad;
}

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
    [[maybe_unused]] VelDebugInit start(myName); // the constructor starts the trace
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
    if (msg != nullptr)
    {
        const char* logMsg = msg;
        DBG_STR(logMsg);
        fprintf(stderr, "%s\n", logMsg);
        // The message is data, never a format: a '%' in it must arrive unchanged.
        syslog(LOG_ERR, "%s", logMsg);
    }
    DBG_LEAVE("VelCMD::errorExit");
    exit(status);
}
