// The listing filter of the class path: a name is taken when the first occurrence of
// "." and the extension ends it. Name and extension are split at the first NUL byte.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "VelCMD.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string all = velfuzz::text(data, size);
    std::string::size_type nul = all.find('\0');
    std::string name = all.substr(0, nul);
    std::string ext = nul == std::string::npos ? std::string("jar") : velfuzz::cString(all.substr(nul + 1));
    std::string suffix = "." + ext;

    bool taken = VelCMD::hasArchiveSuffix(name.c_str(), suffix);
    bool endsWithSuffix =
        name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    bool firstAtEnd = endsWithSuffix && name.find(suffix) == name.size() - suffix.size();
    if (taken != firstAtEnd)
        __builtin_trap();
    return 0;
}
