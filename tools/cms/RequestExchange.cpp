#include "RequestExchange.h"

#include <strings.h>

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
}

RequestExchange::RequestExchange(struct soap* context, int number)
    : myContext(context), myNumber(number), myReplayed(0), myTransportRecv(context->frecv)
{
}

bool RequestExchange::readRequest()
{
    char buffer[65536];
    size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos)
    {
        size_t n = myTransportRecv(myContext, buffer, sizeof buffer);
        if (n == 0)
            return false;
        myRequest.append(buffer, n);
        headerEnd = myRequest.find("\r\n\r\n");
        if (headerEnd == std::string::npos && myRequest.size() > (1u << 20))
            return false;
    }
    size_t total = headerEnd + 4 + contentLength(myRequest.substr(0, headerEnd + 2));
    while (myRequest.size() < total)
    {
        size_t n = myTransportRecv(myContext, buffer, std::min(sizeof buffer, total - myRequest.size()));
        if (n == 0)
            return false;
        myRequest.append(buffer, n);
    }
    return true;
}

std::string RequestExchange::fileName(const std::string& dir, const char* kind) const
{
    char name[64];
    std::snprintf(name, sizeof name, "/%s-%04d.http", kind, myNumber);
    return dir + name;
}

void RequestExchange::record(const std::string& dir) const
{
    std::string path = fileName(dir, "request");
    std::ofstream(path + ".tmp", std::ios::binary) << myRequest;
    std::rename((path + ".tmp").c_str(), path.c_str());  // readers never see half a file
}

bool RequestExchange::sendScriptedReply(const std::string& dir)
{
    std::ifstream in(fileName(dir, "reply"), std::ios::binary);
    if (!in)
        return false;
    std::string reply((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    myContext->fsend(myContext, reply.data(), reply.size());
    return true;
}

int RequestExchange::serve()
{
    s_serving = this;
    myContext->frecv = replay;
    int rc = soap_serve(myContext);
    myContext->frecv = myTransportRecv;
    s_serving = nullptr;
    return rc;
}

size_t RequestExchange::replay(struct soap*, char* buffer, size_t length)
{
    RequestExchange* self = s_serving;
    size_t n = std::min(length, self->myRequest.size() - self->myReplayed);
    self->myRequest.copy(buffer, n, self->myReplayed);
    self->myReplayed += n;
    return n;
}
