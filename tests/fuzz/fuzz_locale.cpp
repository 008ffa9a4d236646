// Locale names and DTFLANG: language_territory[.encoding][@modifier] cut into its parts.
#include <cstdlib>
#include <string>

#include "ClifConfigWords.h"
#include "ClifParser.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string all = velfuzz::text(data, size);
    ClifLocaleName parts = ClifLocaleName::split(all);
    // The name is a prefix of the text without '.' (and without '@' when there is no
    // encoding); the encoding holds no '@'.
    if (all.compare(0, parts.name.size(), parts.name) != 0 || parts.name.find('.') != std::string::npos ||
        (!parts.hasEncoding && parts.name.find('@') != std::string::npos) ||
        parts.encoding.find('@') != std::string::npos || (!parts.hasEncoding && !parts.encoding.empty()))
        __builtin_trap();

    setenv("DTFLANG", velfuzz::cString(all).c_str(), 1);
    ClifCmdInvoker invoker;
    invoker.getDTFLANGSettings();
    unsetenv("DTFLANG");
    return 0;
}
