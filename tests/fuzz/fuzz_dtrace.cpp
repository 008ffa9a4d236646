// The VEL_DTRACE level list: comma-separated numbers, anything else included.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "debug.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string list = velfuzz::cString(velfuzz::text(data, size));
    uint32_t mask = 0;
    parseDebugString(list.data(), &mask);
    parseDebugString(nullptr, &mask);
    return 0;
}
