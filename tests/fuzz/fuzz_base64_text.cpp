// The client's Base64 reader against the runtime's (soap_getbase64): the same text, delivered
// to each in the same pieces, must give the same bytes or the same refusal, and leave the
// input at the same place. The first byte sets the size of the pieces the transport delivers
// (so groups, references and markup fall across buffer ends); the rest is the element's text.
// And the client's Base64 writer against the runtime's (soap_s2base64, the text that
// soap_putbase64 sends): the rest, taken as bytes, must give the same text, of the length the
// writer counts for it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Base64Encoding.h"
#include "soapH.h"

namespace
{

struct Feed
{
    const uint8_t* data;
    size_t size;
    size_t piece;
};

size_t feedPiece(struct soap* soap, char* buf, size_t len)
{
    auto* feed = static_cast<Feed*>(soap->user);
    size_t n = feed->size < feed->piece ? feed->size : feed->piece;
    if (n > len)
        n = len;
    std::memcpy(buf, feed->data, n);
    feed->data += n;
    feed->size -= n;
    return n;
}

void start(struct soap* soap, Feed* feed)
{
    soap_init(soap);
    soap->user = feed;
    soap->frecv = feedPiece;
    soap->bufidx = soap->buflen = 0;
    soap->ahead = 0;
}

// What follows the text: the character held back, the read position in the input buffer (both
// were filled by the same pieces) and the input not yet delivered.
void expectSameRest(struct soap* a, struct soap* b, const Feed& fa, const Feed& fb)
{
    if (a->ahead != b->ahead || a->bufidx != b->bufidx || a->buflen != b->buflen || fa.size != fb.size)
    {
        std::fprintf(stderr, "readers stop at different places\n");
        std::abort();
    }
}

void expectSameText(const uint8_t* bytes, size_t size)
{
    struct soap runtime;
    soap_init(&runtime);
    const char* expected = soap_s2base64(&runtime, bytes, nullptr, int(size));
    char* text = static_cast<char*>(std::malloc(base64TextLength(size) + 1));
    const size_t length = encodeBase64(bytes, size, text);
    if (!expected || length != base64TextLength(size) || length != std::strlen(expected) ||
        std::memcmp(expected, text, length) != 0)
    {
        std::fprintf(stderr, "texts differ for %zu bytes\n", size);
        std::abort();
    }
    std::free(text);
    soap_end(&runtime);
    soap_done(&runtime);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    Feed runtimeFeed{data + 1, size - 1, size_t(data[0] % 64) + 1};
    Feed clientFeed = runtimeFeed;
    struct soap runtime;
    struct soap client;
    start(&runtime, &runtimeFeed);
    start(&client, &clientFeed);

    int runtimeSize = 0;
    const unsigned char* runtimeBytes = soap_getbase64(&runtime, &runtimeSize, 0);
    ClifByteArray clientBytes;
    const bool clientRead = readBase64Text(&client, &clientBytes);

    const bool runtimeRead = runtimeBytes || !runtime.error;
    if (runtimeRead != clientRead || runtime.error != client.error)
    {
        std::fprintf(stderr, "refusals differ: runtime %d (error %d), client %d (error %d)\n", int(runtimeRead),
                     runtime.error, int(clientRead), client.error);
        std::abort();
    }
    if (runtimeRead)
    {
        if ((runtimeBytes == nullptr) != (clientBytes.__ptr == nullptr) || runtimeSize != clientBytes.__size ||
            (runtimeSize > 0 && std::memcmp(runtimeBytes, clientBytes.__ptr, size_t(runtimeSize)) != 0))
        {
            std::fprintf(stderr, "bytes differ: runtime %d, client %d\n", runtimeSize, clientBytes.__size);
            std::abort();
        }
        expectSameRest(&runtime, &client, runtimeFeed, clientFeed);
    }
    soap_destroy(&runtime);
    soap_end(&runtime);
    soap_done(&runtime);
    soap_destroy(&client);
    soap_end(&client);
    soap_done(&client);
    expectSameText(data + 1, size - 1);
    return 0;
}
