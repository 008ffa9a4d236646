#include "RequestExchange.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "soapH.h"

namespace
{
// The exchange being served; the server handles one request at a time.
RequestExchange* s_serving = nullptr;

size_t contentLength(const std::string& headers)
{
    std::istringstream lines(headers);
    std::string line;
    while (std::getline(lines, line))
    {
        const char key[] = "content-length:";
        if (line.size() > sizeof key - 1 && strncasecmp(line.c_str(), key, sizeof key - 1) == 0)
            return size_t(std::strtoull(line.c_str() + sizeof key - 1, nullptr, 10));
    }
    return 0;
}
} // namespace

RequestExchange::RequestExchange(struct soap* context, int number)
    : m_context(context), m_number(number), m_replayed(0), m_transportRecv(context->frecv)
{}

bool RequestExchange::readRequest()
{
    char buffer[65536];
    size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos)
    {
        size_t n = m_transportRecv(m_context, buffer, sizeof buffer);
        if (n == 0)
            return false;
        m_request.append(buffer, n);
        headerEnd = m_request.find("\r\n\r\n");
        if (headerEnd == std::string::npos && m_request.size() > (1u << 20))
            return false;
    }
    size_t total = headerEnd + 4 + contentLength(m_request.substr(0, headerEnd + 2));
    while (m_request.size() < total)
    {
        size_t n = m_transportRecv(m_context, buffer, std::min(sizeof buffer, total - m_request.size()));
        if (n == 0)
            return false;
        m_request.append(buffer, n);
    }
    return true;
}

std::string RequestExchange::fileName(const std::string& dir, const char* kind, const char* suffix) const
{
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%04d%s", kind, m_number, suffix);
    return dir + name;
}

void RequestExchange::record(const std::string& dir, bool firstOnConnection) const
{
    // Written before the request, so that a reader who sees the request sees this too.
    if (m_context->ssl)
    {
        const char* kind = !firstOnConnection ? "kept" : SSL_session_reused(m_context->ssl) ? "resumed" : "full";
        std::ofstream(fileName(dir, "handshake", ".txt")) << kind;
    }
    std::string path = fileName(dir, "request");
    std::ofstream(path + ".tmp", std::ios::binary) << m_request;
    if (std::rename((path + ".tmp").c_str(), path.c_str()) != 0) // readers never see half a file
        std::perror(path.c_str());
}

bool RequestExchange::sendScriptedReply(const std::string& dir)
{
    std::ifstream in(fileName(dir, "reply"), std::ios::binary);
    if (!in)
        return false;
    std::string reply((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    m_context->fsend(m_context, reply.data(), reply.size());
    return true;
}

int RequestExchange::serve(bool lastOnConnection)
{
    s_serving = this;
    m_context->frecv = replay;
    // One request: the connection's next one is read afresh, after it has come.
    m_context->bufidx = m_context->buflen = 0;
    int rc = soap_begin_serve(m_context);
    if (rc == SOAP_OK)
    {
        if (lastOnConnection)
            m_context->keep_alive = 0; // the reply says "Connection: close"
        rc = soap_serve_request(m_context);
        if (rc != SOAP_OK && m_context->error < SOAP_STOP)
            rc = soap_send_fault(m_context);
    }
    m_context->frecv = m_transportRecv;
    s_serving = nullptr;
    return rc;
}

size_t RequestExchange::replay(struct soap*, char* buffer, size_t length)
{
    RequestExchange* self = s_serving;
    size_t n = std::min(length, self->m_request.size() - self->m_replayed);
    self->m_request.copy(buffer, n, self->m_replayed);
    self->m_replayed += n;
    return n;
}
