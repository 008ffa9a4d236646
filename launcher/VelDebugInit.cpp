#include "VelDebugInit.h"

#include "TrustedEnv.h"
#include "debug.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace
{

// The trace file path is kept in a buffer of this size (at most 79 characters).
constexpr size_t TRACE_PATH_SIZE = 80;

} // namespace

VelDebugInit::VelDebugInit(const std::string& name)
{
    const char* levels = getTrustedEnv(TRACE_ENV_VAR);
    if (levels == nullptr || *levels == '\0')
        return;

    char pidSuffix[32];
    snprintf(pidSuffix, sizeof pidSuffix, DEBUG_PID, static_cast<int>(getpid()));
    std::string fullPath = std::string(DEBUG_FILE_PATH) + name + TRACE_SUFFIX + pidSuffix;

    char path[TRACE_PATH_SIZE];
    snprintf(path, sizeof path, "%s", fullPath.c_str());
    if (fullPath.size() >= sizeof path)
    {
        // A cut path would name another file: refuse it and run without a trace.
        fprintf(stderr, "Can't open debug trace file. '%s'\n", fullPath.c_str());
        fprintf(stderr, "Error #%d - %s\n", ENAMETOOLONG, strerror(ENAMETOOLONG));
        return;
    }

    debug_initialize(0, TRACE_ENV_VAR, path);
    DBG_MSG("Debug started: ");
}
