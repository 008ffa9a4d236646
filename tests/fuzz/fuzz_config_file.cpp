// The reader of CLIClientConfig.cfg: the cms word, the two service URLs and the
// LINE_END, LOCALE and ENCODING entries, from arbitrary file contents.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "ClifParser.h"
#include "FuzzInput.h"

namespace
{

std::string s_dir;

void removeScratch()
{
    static_cast<void>(std::remove((s_dir + "CLIClientConfig.cfg").c_str())); // may never have been written
    rmdir(s_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vel-fuzz-cfg-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    s_dir = pattern + "/";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = s_dir + "CLIClientConfig.cfg";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    s_CLIConfigDirectory = s_dir;

    ClifCmdInvoker invoker;
    invoker.fillCms();
    invoker.readUrls();
    invoker.updateEnvMapFromConfigFile();
    return 0;
}
