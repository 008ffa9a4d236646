#ifndef BASE64_BLOCKS_H
#define BASE64_BLOCKS_H

#include <cstddef>

// Decodes Base64 text in blocks of 32 characters of the standard alphabet,
// 24 bytes each, with the processor's vector instructions where it has them
// (AVX2). Stops before the first block that holds any other byte (a blank,
// '=', markup) or before fewer than 32 characters remain, leaving those to
// the caller's character-wise decoding. Returns the count of characters
// decoded, a multiple of 32; 0 on a processor without AVX2.
//
// Writes out[0 .. used * 3 / 4 + BASE64_BLOCK_SLACK): up to that many bytes
// past the decoded ones are scratch that the caller overwrites.
std::size_t decodeBase64Blocks(const unsigned char* in, std::size_t length, unsigned char* out);

constexpr std::size_t BASE64_BLOCK_SLACK = 8;

#endif
