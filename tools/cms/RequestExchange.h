#ifndef REQUEST_EXCHANGE_H
#define REQUEST_EXCHANGE_H

#include <string>

struct soap;

// One HTTP request on an accepted connection. The request is read whole
// first, so that it can be recorded byte for byte and answered either with a
// scripted raw reply or by the generated service dispatcher.
class RequestExchange
{
public:
    RequestExchange(struct soap* context, int number);

    // Reads the headers and the Content-Length bytes of the body.
    bool readRequest();
    // Writes the raw request to DIR/request-NNNN.http and, on a TLS connection,
    // "full" or "resumed" (the connection's handshake) to DIR/handshake-NNNN.txt,
    // or "kept" for a further request on a connection that carried one before.
    void record(const std::string& dir, bool firstOnConnection) const;
    // Sends DIR/reply-NNNN.http as it is when that file exists.
    bool sendScriptedReply(const std::string& dir);
    // Hands the request bytes to the runtime and serves them; the connection stays
    // open when both sides keep it alive, unless this is the last reply on it.
    int serve(bool lastOnConnection);

private:
    static size_t replay(struct soap* context, char* buffer, size_t length);
    std::string fileName(const std::string& dir, const char* kind, const char* suffix = ".http") const;

    struct soap* m_context;
    int m_number;
    std::string m_request;
    size_t m_replayed;
    size_t (*m_transportRecv)(struct soap*, char*, size_t);
};

#endif
