// The "%b" replacement in the launcher's fixed paths: base path and path from the input
// (split at the first NUL byte).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "FuzzLauncher.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("VEL_BASE_DIR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string all = velfuzz::text(data, size);
    std::string::size_type nul = all.find('\0');
    std::string base = nul == std::string::npos ? std::string() : all.substr(0, nul);
    std::string path = nul == std::string::npos ? all : all.substr(nul + 1);

    velfuzz::FuzzCMD command;
    command.setBasePath(base);
    std::string replaced = path;
    command.insertInstallDir(replaced);

    // Each token is replaced at most once: the result cannot grow beyond that.
    size_t tokens = 0;
    for (std::string::size_type at = path.find("%b"); at != std::string::npos; at = path.find("%b", at + 2))
        ++tokens;
    if (replaced.size() > path.size() + tokens * base.size())
        __builtin_trap();
    // A base path without '%' leaves no token of the path behind.
    if (base.find('%') == std::string::npos && path.find('%') == path.rfind('%') &&
        replaced.find("%b") != std::string::npos && tokens > 0)
        __builtin_trap();
    return 0;
}
