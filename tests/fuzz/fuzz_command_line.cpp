// The command line of clifclient (options, refused values, the --env splitter):
// the bytes between NUL bytes are the arguments, the first one the program path.
#include <cstdlib>
#include <string>
#include <vector>

#include "ClifParser.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A program name without '/' is looked up in PATH: keep that look-up cheap.
    setenv("PATH", "/nonexistent-vel-fuzz", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> pieces = velfuzz::splitAtNul(velfuzz::text(data, size));
    std::vector<std::vector<char>> storage;
    storage.reserve(pieces.size());
    for (const std::string& piece : pieces)
        storage.emplace_back(piece.c_str(), piece.c_str() + piece.size() + 1);
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (std::vector<char>& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    ClifCmdInvoker invoker;
    int flags = invoker.parseCommandLine(static_cast<int>(pieces.size()), argv.data());
    if (flags < 0 || flags > 15 || invoker.args().empty() || invoker.args().size() > pieces.size())
        __builtin_trap();
    // What --env adds has a name without '='.
    for (const auto& entry : invoker.userEnvMap())
    {
        if (entry.first.find('=') != std::string::npos)
            __builtin_trap();
    }

    // The splitter alone, on every piece, '=' or not.
    ClifCmdInvoker splitter;
    for (std::vector<char>& arg : storage)
        splitter.buildEnvmap(arg.data());
    splitter.buildEnvmap(nullptr);
    return 0;
}
