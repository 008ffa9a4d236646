// The VEL_JVM_OPTS splitter: each word that starts with '-' becomes one JVM option.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "FuzzLauncher.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("VEL_SHOW_JVM_OPTS");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string words = velfuzz::cString(velfuzz::text(data, size));
    velfuzz::FuzzCMD command;
    try
    {
        command.addUserJVMOptions(words.c_str());
    }
    catch (const velfuzz::Refused& refused)
    {
        if (refused.status != 1)
            __builtin_trap();
    }
    if (command.getOptionCount() > VelCMD::MAX_JVM_OPTIONS)
        __builtin_trap();
    for (int i = 0; i < command.getOptionCount(); ++i)
    {
        const char* option = command.getOption(i);
        size_t length = std::strlen(option);
        if (option[0] != '-' || std::strchr(option, ' ') || length > VelCMD::MAX_USER_OPTION_LENGTH ||
            words.find(option) == std::string::npos)
            __builtin_trap();
    }
    return 0;
}
