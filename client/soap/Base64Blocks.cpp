// The vector decoding of Base64 text: 32 characters are checked and turned
// into their six-bit values by nibble look-ups (pshufb), packed into 24 bytes
// by two multiply-adds and two shuffles. Each character is valid when the
// classes of its low nibble and of its high nibble have no bit in common.
// The rule: it must give exactly the bytes that the group decoder in
// SoapByteArrayType.cpp gives for the same text and stop before any block it
// cannot take whole; tests/fuzz/fuzz_base64_text.cpp checks this against the
// runtime's decoder (its seeds "blocks" and "blocks_broken" reach this path).
// It stays while it saves 10% of the client's CPU per MiB relayed
// (BENCHMARKS.md, "Pieces kept or removed by measurement").
#include "Base64Blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace
{
__attribute__((target("avx2"))) std::size_t decodeWithAvx2(const unsigned char* in, std::size_t length,
                                                           unsigned char* out)
{
    // Classes by high nibble: 0x2 '+' '/', 0x3 digits, 0x4 0x6 letters from
    // 'A' 'a', 0x5 0x7 letters to 'Z' 'z'; 0x10 for a nibble that never is.
    const __m256i highClass = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                               0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                                               0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // Per low nibble, the high-nibble classes in which it is not a character.
    const __m256i lowClass = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                              0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                              0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    // What to add to a character to get its value, by high nibble; '/'
    // (high nibble 2) is moved to index 1.
    const __m256i shift = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                                           -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i slash = _mm256_set1_epi8('/');
    // Within each 32-bit lane: a<<6|b and c<<6|d, then (a<<6|b)<<12 | (c<<6|d).
    const __m256i pairs = _mm256_set1_epi32(0x01400140);
    const __m256i quads = _mm256_set1_epi32(0x00011000);
    // The three bytes of each lane, first byte first, 12 per 128-bit half ...
    const __m256i bytes = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10,
                                           9, 8, 14, 13, 12, -1, -1, -1, -1);
    // ... and the two halves' 12 bytes next to each other.
    const __m256i halves = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

    std::size_t used = 0;
    while (length - used >= 32)
    {
        const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + used));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
        const __m256i low = _mm256_and_si256(text, nibble);
        if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowClass, low), _mm256_shuffle_epi8(highClass, high)))
            break;
        const __m256i index = _mm256_add_epi8(_mm256_cmpeq_epi8(text, slash), high);
        const __m256i values = _mm256_add_epi8(text, _mm256_shuffle_epi8(shift, index));
        const __m256i merged = _mm256_madd_epi16(_mm256_maddubs_epi16(values, pairs), quads);
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(merged, bytes), halves);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
        out += 24;
        used += 32;
    }
    return used;
}

bool hasAvx2()
{
    static const bool s_hasAvx2 = __builtin_cpu_supports("avx2");
    return s_hasAvx2;
}
} // namespace

std::size_t decodeBase64Blocks(const unsigned char* in, std::size_t length, unsigned char* out)
{
    return hasAvx2() ? decodeWithAvx2(in, length, out) : 0;
}

#else

std::size_t decodeBase64Blocks(const unsigned char*, std::size_t, unsigned char*)
{
    return 0;
}

#endif
