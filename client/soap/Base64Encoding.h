#ifndef BASE64_ENCODING_H
#define BASE64_ENCODING_H

#include <cstddef>

// The length of the Base64 text of `bytes` bytes, padded with '=' to whole
// groups of four characters.
constexpr std::size_t base64TextLength(std::size_t bytes)
{
    return (bytes + 2) / 3 * 4;
}

// Writes the Base64 text of in[0 .. length) to out, in the standard alphabet,
// padded with '=' and without line breaks, as the runtime's soap_putbase64
// writes it: base64TextLength(length) characters, not terminated. Returns that
// count.
std::size_t encodeBase64(const unsigned char* in, std::size_t length, char* out);

#endif
