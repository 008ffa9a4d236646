// Small helpers shared by the harnesses: cutting the fuzzer's bytes into pieces.
#ifndef VEL_FUZZ_INPUT_H
#define VEL_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velfuzz
{

inline std::string text(const uint8_t* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The pieces between NUL bytes, as C strings would see them (a trailing NUL ends the last one).
inline std::vector<std::string> splitAtNul(const std::string& all)
{
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;)
    {
        std::string::size_type nul = all.find('\0', start);
        if (nul == std::string::npos)
        {
            if (start < all.size() || pieces.empty())
                pieces.push_back(all.substr(start));
            return pieces;
        }
        pieces.push_back(all.substr(start, nul - start));
        start = nul + 1;
    }
}

// The text up to the first NUL: what a C string holding these bytes reads as.
inline std::string cString(const std::string& all)
{
    return all.substr(0, all.find('\0'));
}

} // namespace velfuzz

#endif
