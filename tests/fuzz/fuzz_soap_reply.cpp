// The reply reader of the two SOAP clients: arbitrary bytes (HTTP head and body) as the answer
// to logon, getCMSConfigPath, invoke or status, read by the generated deserialisers through
// the proxies exactly as a real call reads them. The first byte picks the call.
//
// The "connection" is one end of a socket pair whose other end already holds the reply and is
// shut for writing: the runtime sends its request, reads the reply to its end and closes.
#include <cstdint>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "VelpiMainSoapBinding.h"
#include "clifserviceSoapBinding.h"

namespace
{

const char* const ENDPOINT = "http://cms.fuzz.invalid:8080/velsoap/services/Fuzz";

int s_clientEnd = -1;

SOAP_SOCKET connectToReply(struct soap* soap, const char*, const char*, int)
{
    int fd = s_clientEnd;
    s_clientEnd = -1;
    if (fd < 0)
    {
        soap->error = SOAP_TCP_ERROR;
        return SOAP_INVALID_SOCKET;
    }
    return fd;
}

// Loads the reply into a fresh socket pair; the client end is handed out by connectToReply.
bool prepareReply(const uint8_t* data, size_t size, int& serverEnd)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return false;
    size_t sent = 0;
    while (sent < size)
    {
        ssize_t n = send(ends[1], data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0)
            break; // a reply longer than the socket buffer is cut: still a reply
        sent += static_cast<size_t>(n);
    }
    shutdown(ends[1], SHUT_WR);
    s_clientEnd = ends[0];
    serverEnd = ends[1];
    return true;
}

void finish(struct soap* soap, int serverEnd)
{
    if (soap_valid_socket(soap->socket))
    {
        close(soap->socket);
        soap->socket = SOAP_INVALID_SOCKET;
    }
    if (s_clientEnd >= 0)
    {
        close(s_clientEnd);
        s_clientEnd = -1;
    }
    close(serverEnd);
}

// Reads every byte the reply claims to hold, as the client does when it shows them.
unsigned touch(const xsd__base64Binary& bytes)
{
    unsigned sum = 0;
    for (int i = 0; bytes.__ptr && i < bytes.__size; ++i)
        sum += bytes.__ptr[i];
    return sum;
}

volatile unsigned s_sink;

void readStatus(const ns1__clifstatus* status)
{
    if (!status)
        return;
    unsigned sum = touch(status->out) + touch(status->err);
    if (status->sessionId)
        sum += static_cast<unsigned>(status->sessionId->size());
    sum += static_cast<unsigned>(status->returnCode) + static_cast<unsigned>(status->pollPeriod);
    s_sink = sum;
}

void callLogonService(unsigned which, const uint8_t* data, size_t size)
{
    VelpiMainSoapBinding proxy;
    proxy.endpoint = ENDPOINT;
    proxy.soap->fopen = connectToReply;
    int serverEnd = -1;
    if (!prepareReply(data, size, serverEnd))
        return;
    if (which == 0)
    {
        ns0__logonResponse response;
        if (proxy.ns0__logon("admin", "secret", response) == SOAP_OK)
            s_sink = static_cast<unsigned>(response._logonReturn.size());
    }
    else
    {
        ns0__getCMSConfigPathResponse response;
        if (proxy.ns0__getCMSConfigPath(response) == SOAP_OK)
            s_sink = static_cast<unsigned>(response.getCMSConfigPathReturn.size());
    }
    finish(proxy.soap, serverEnd);
}

void callClifService(unsigned which, const uint8_t* data, size_t size)
{
    clifserviceSoapBinding proxy;
    proxy.endpoint = ENDPOINT;
    proxy.soap->fopen = connectToReply;
    int serverEnd = -1;
    if (!prepareReply(data, size, serverEnd))
        return;

    std::string key = "LOCALE", value = "en_US";
    ns3__mapItem item;
    item.key = &key;
    item.value = &value;
    std::vector<ns3__mapItem*> items{&item};
    ns3__Map env;
    env.item = &items;
    if (which == 2)
    {
        std::string args[] = {"velnode", "-l"};
        ArrayOf_USCORExsd_USCOREstring commandLine;
        commandLine.__ptr = args;
        commandLine.__size = 2;
        ns5__invokeResponse response;
        response._invokeReturn = nullptr;
        if (proxy.ns5__invoke("token", "admin", &env, &commandLine, response) == SOAP_OK)
            readStatus(response._invokeReturn);
    }
    else
    {
        unsigned char input[] = {'a', 'b', 'c'};
        xsd__base64Binary in;
        in.__ptr = input;
        in.__size = 3;
        ns5__statusResponse response;
        response._statusReturn = nullptr;
        if (proxy.ns5__status("token", "session", &env, in, true, response) == SOAP_OK)
            readStatus(response._statusReturn);
    }
    finish(proxy.soap, serverEnd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned which = data[0] % 4;
    if (which < 2)
        callLogonService(which, data + 1, size - 1);
    else
        callClifService(which, data + 1, size - 1);
    return 0;
}
