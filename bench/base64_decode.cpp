// Base64 decoding speed of the client's reader (readBase64Text), the runtime's soap_getbase64 and
// OpenSSL's EVP_DecodeBlock, on the same text: SIZE MiB of random bytes, encoded in one line (as
// the server writes it) and in lines of 76 characters. The readers get the text through the
// runtime's input buffer, as from a connection; EVP_DecodeBlock gets it in one piece, lines
// removed beforehand (it refuses line ends). Prints the median of RUNS runs, in ms per MiB of decoded bytes.
//   usage: base64-decode [SIZE_MIB [RUNS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "soapH.h"

namespace
{

struct Feed
{
    const char* data;
    size_t size;
};

size_t feedPiece(struct soap* soap, char* buf, size_t len)
{
    auto* feed = static_cast<Feed*>(soap->user);
    const size_t n = std::min(len, feed->size);
    std::memcpy(buf, feed->data, n);
    feed->data += n;
    feed->size -= n;
    return n;
}

std::string encode(const std::vector<unsigned char>& bytes, size_t lineLength)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), bytes.data(), int(bytes.size()));
    text.resize(size_t(n));
    if (lineLength == 0)
        return text;
    std::string lines;
    for (size_t i = 0; i < text.size(); i += lineLength)
        lines.append(text, i, lineLength).append("\n");
    return lines;
}

template <class Decode>
double medianMsPerMiB(int runs, double mib, Decode decode)
{
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r)
    {
        const auto start = std::chrono::steady_clock::now();
        decode();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2] / mib;
}

// Runs one of the soap readers over the message (text and end tag); the decoded size is checked.
template <class Reader>
void readThroughRuntime(const std::string& message, size_t expected, Reader reader)
{
    Feed feed{message.data(), message.size()};
    struct soap soap;
    soap_init(&soap);
    soap.user = &feed;
    soap.frecv = feedPiece;
    soap.bufidx = soap.buflen = 0;
    if (reader(&soap) != expected)
    {
        std::fprintf(stderr, "base64-decode: wrong size decoded\n");
        std::exit(1);
    }
    soap_destroy(&soap);
    soap_end(&soap);
    soap_done(&soap);
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? size_t(std::atoi(argv[1])) : 64;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    std::vector<unsigned char> bytes(mib << 20);
    std::mt19937 random(15);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());

    std::printf("%-12s %14s %14s %16s\n", "text", "client ms/MiB", "runtime ms/MiB", "EVP_DecodeBlock");
    for (size_t lineLength : {size_t(0), size_t(76)})
    {
        const std::string text = encode(bytes, lineLength) + "</x>";
        const std::string oneLine = encode(bytes, 0);
        const double client = medianMsPerMiB(runs, double(mib), [&] {
            readThroughRuntime(text, bytes.size(), [](struct soap* soap) {
                ClifByteArray a;
                return readBase64Text(soap, &a) ? size_t(a.__size) : 0;
            });
        });
        const double runtime = medianMsPerMiB(runs, double(mib), [&] {
            readThroughRuntime(text, bytes.size(), [](struct soap* soap) {
                int n = 0;
                return soap_getbase64(soap, &n, 0) ? size_t(n) : 0;
            });
        });
        std::vector<unsigned char> out(oneLine.size() / 4 * 3);
        const double evp = medianMsPerMiB(runs, double(mib), [&] {
            const std::string& joined = oneLine;
            if (EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(joined.data()), int(joined.size())) <
                0)
                std::exit(1);
        });
        std::printf("%-12s %14.2f %14.2f %16.2f\n", lineLength ? "76-char lines" : "one line", client, runtime, evp);
    }
    return 0;
}
