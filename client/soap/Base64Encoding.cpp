#include "Base64Encoding.h"

#include <cstdint>
#include <cstring>

namespace
{
// The two characters of every 12 bits: half a group in one look-up.
struct Base64Pairs
{
    char pair[4096][2]{};
    constexpr Base64Pairs()
    {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int bits = 0; bits < 4096; ++bits)
        {
            pair[bits][0] = alphabet[bits >> 6];
            pair[bits][1] = alphabet[bits & 0x3F];
        }
    }
};
constexpr Base64Pairs s_pairs;

inline void putGroup(char* out, uint32_t bits)
{
    std::memcpy(out, s_pairs.pair[bits >> 12], 2);
    std::memcpy(out + 2, s_pairs.pair[bits & 0xFFF], 2);
}
} // namespace

std::size_t encodeBase64(const unsigned char* in, std::size_t length, char* out)
{
    char* start = out;
    for (; length >= 3; length -= 3, in += 3, out += 4)
        putGroup(out, uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2]);
    if (length > 0)
    {
        uint32_t bits = uint32_t(in[0]) << 16 | (length == 2 ? uint32_t(in[1]) << 8 : 0);
        putGroup(out, bits);
        out[3] = '=';
        if (length == 1)
            out[2] = '=';
        out += 4;
    }
    return std::size_t(out - start);
}
