#include "SoapConnection.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "soapH.h"

namespace
{
const char s_pluginId[] = "clif-kept-connection";

using Clock = std::chrono::steady_clock;

struct KeptConnection
{
    int (*runtimeParse)(struct soap*);
    SOAP_SOCKET (*runtimeOpen)(struct soap*, const char*, const char*, int);
    int (*runtimeDisconnect)(struct soap*);
    int (*runtimeFinalReceive)(struct soap*);
    ULONG64 bodyStart;    // bytes of the reply before its body
    bool bodyUncheckable; // compressed: where its bytes end on the wire cannot be told
    Clock::time_point idleSince;
    SoapConnectionUse use;
};

KeptConnection* keptOf(const struct soap* context)
{
    return context ? static_cast<KeptConnection*>(soap_lookup_plugin(const_cast<struct soap*>(context), s_pluginId))
                   : nullptr;
}

// Bytes of the current message taken so far (the runtime's own soap_tell).
ULONG64 bytesTaken(const struct soap* context)
{
    return context->count - context->buflen + context->bufidx - (context->ahead != 0 ? 1 : 0);
}

int parseNotingBodyStart(struct soap* context)
{
    KeptConnection* kept = keptOf(context);
    int rc = kept->runtimeParse(context);
    kept->bodyStart = bytesTaken(context);
    kept->bodyUncheckable = context->zlib_in != SOAP_ZLIB_NONE;
    return rc;
}

// The reply has been read whole. The connection stays open only if the body ended where its
// framing says: the bytes the runtime holds beyond the envelope (a line end, say) must be
// exactly the rest of the Content-Length. A reply without a length ends with the connection.
// The rule: a connection carries another call only when every byte the server sent on it is
// accounted for; in any doubt it is closed (which costs a new connection, never a wrong reply).
int checkReplyEnd(struct soap* context)
{
    KeptConnection* kept = keptOf(context);
    kept->idleSince = Clock::now();
    if (context->keep_alive)
    {
        bool chunked = (context->mode & SOAP_IO) == SOAP_IO_CHUNK;
        bool attachments = (context->mode & (SOAP_ENC_DIME | SOAP_ENC_MIME)) != 0;
        if (!chunked)
        {
            ULONG64 held = (context->buflen - context->bufidx) + (context->ahead != 0 ? 1 : 0);
            ULONG64 taken = bytesTaken(context) - kept->bodyStart;
            if (kept->bodyUncheckable || attachments || context->length == 0 || taken + held != context->length)
                context->keep_alive = 0;
            else
            {
                context->bufidx = context->buflen;
                context->ahead = 0;
            }
        }
        else if (kept->bodyUncheckable || attachments || context->bufidx < context->buflen)
        {
            context->keep_alive = 0;
        }
    }
    return kept->runtimeFinalReceive ? kept->runtimeFinalReceive(context) : SOAP_OK;
}

// Runs as every call ends: a failed call leaves nothing to trust on its connection.
int disconnectAfterFailure(struct soap* context)
{
    KeptConnection* kept = keptOf(context);
    if (context->error != SOAP_OK)
        context->keep_alive = 0;
    return kept->runtimeDisconnect ? kept->runtimeDisconnect(context) : SOAP_OK;
}

SOAP_SOCKET openCounted(struct soap* context, const char* endpoint, const char* host, int port)
{
    KeptConnection* kept = keptOf(context);
    kept->use.reused = false;
    ++kept->use.opened;
    context->bufidx = context->buflen = 0;
    return kept->runtimeOpen(context, endpoint, host, port);
}

bool mayCarryAnotherCall(struct soap* context)
{
    const KeptConnection* kept = keptOf(context);
    if (!kept || !context->keep_alive || !soap_valid_socket(context->socket))
        return false;
    if (Clock::now() - kept->idleSince >= std::chrono::seconds(KEPT_CONNECTION_IDLE_SECONDS))
        return false;
    if (context->bufidx < context->buflen || (context->ssl && SSL_has_pending(context->ssl)))
        return false;
    // Between a reply and the next request the server has nothing to say: anything readable
    // (its close, a close_notify, a reset, stray bytes) or an error ends the connection.
    struct pollfd check = {context->socket, POLLIN | POLLPRI | POLLRDHUP, 0};
    return poll(&check, 1, 0) == 0;
}

// Asked by the runtime before it reuses the connection for a call.
int pollKeptConnection(struct soap* context)
{
    if (!mayCarryAnotherCall(context))
        return SOAP_EOF;
    keptOf(context)->use.reused = true;
    return SOAP_OK;
}

// Closes at once: sends close_notify and does not wait for the server's (the runtime would
// wait up to 5 s, a round trip at the end of every run). The TLS session is kept for later
// connections, as the runtime keeps it.
int closeAtOnce(struct soap* context)
{
    if (context->ssl)
    {
        if (context->session)
        {
            SSL_SESSION_free(context->session);
            context->session = nullptr;
        }
        if (*context->host)
        {
            context->session = SSL_get1_session(context->ssl);
            if (context->session)
            {
                std::strncpy(context->session_host, context->host, sizeof context->session_host - 1);
                context->session_host[sizeof context->session_host - 1] = '\0';
                context->session_port = context->port;
            }
        }
        if (soap_valid_socket(context->socket))
            SSL_shutdown(context->ssl);
        SSL_free(context->ssl);
        context->ssl = nullptr;
        context->bio = nullptr;
        ERR_clear_error();
    }
    if (soap_valid_socket(context->socket))
    {
        close(context->socket);
        context->socket = SOAP_INVALID_SOCKET;
    }
    context->bufidx = context->buflen = 0;
    return SOAP_OK;
}

int copyKept(struct soap* /*context*/, struct soap_plugin* copy, struct soap_plugin* original)
{
    auto* data = new (std::nothrow) KeptConnection(*static_cast<KeptConnection*>(original->data));
    if (!data)
        return SOAP_EOM;
    copy->data = data;
    return SOAP_OK;
}

void deleteKept(struct soap* /*context*/, struct soap_plugin* plugin)
{
    delete static_cast<KeptConnection*>(plugin->data);
}

int createKept(struct soap* context, struct soap_plugin* plugin, void* /*argument*/)
{
    auto* data = new (std::nothrow) KeptConnection{
        context->fparse, context->fopen, context->fdisconnect, context->fpreparefinalrecv, 0, false, Clock::now(), {}};
    if (!data)
        return SOAP_EOM;
    plugin->id = s_pluginId;
    plugin->data = data;
    plugin->fcopy = copyKept;
    plugin->fdelete = deleteKept;
    context->fparse = parseNotingBodyStart;
    context->fopen = openCounted;
    context->fdisconnect = disconnectAfterFailure;
    context->fpreparefinalrecv = checkReplyEnd;
    context->fpoll = pollKeptConnection;
    context->fclose = closeAtOnce;
    soap_set_imode(context, SOAP_IO_KEEPALIVE);
    soap_set_omode(context, SOAP_IO_KEEPALIVE);
    return SOAP_OK;
}

// "scheme://host:port" of an endpoint, as it is spelled.
std::string serverOf(const char* endpoint)
{
    std::string url = endpoint ? endpoint : "";
    size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return "";
    size_t end = url.find_first_of("/?#", scheme + 3);
    return url.substr(0, end);
}
} // namespace

int keepSoapConnections(struct soap* context)
{
    if (!context)
        return SOAP_EOM;
    if (soap_lookup_plugin(context, s_pluginId))
        return SOAP_OK;
    return soap_register_plugin(context, createKept);
}

bool handOverSoapConnection(struct soap* from, const char* fromEndpoint, struct soap* to, const char* toEndpoint)
{
    if (!from)
        return false;
    std::string server = serverOf(fromEndpoint);
    KeptConnection* toKept = keptOf(to);
    if (server.empty() || strcasecmp(server.c_str(), serverOf(toEndpoint).c_str()) != 0 || !toKept ||
        soap_valid_socket(to->socket) || !mayCarryAnotherCall(from))
    {
        closeSoapConnection(from);
        return false;
    }
    to->socket = from->socket;
    to->ssl = from->ssl;
    to->bio = from->bio;
    to->imode = (to->imode & ~SOAP_ENC_SSL) | (from->imode & SOAP_ENC_SSL);
    to->omode = (to->omode & ~SOAP_ENC_SSL) | (from->omode & SOAP_ENC_SSL);
    to->keep_alive = from->keep_alive;
    std::memcpy(to->host, from->host, sizeof to->host);
    to->port = from->port;
    toKept->idleSince = keptOf(from)->idleSince;
    from->socket = SOAP_INVALID_SOCKET;
    from->ssl = nullptr;
    from->bio = nullptr;
    from->keep_alive = 0;
    return true;
}

void closeSoapConnection(struct soap* context)
{
    if (!context)
        return;
    context->keep_alive = 0;
    if (soap_valid_socket(context->socket) || context->ssl)
        context->fclose(context);
}

SoapConnectionUse soapConnectionUse(const struct soap* context)
{
    const KeptConnection* kept = keptOf(context);
    return kept ? kept->use : SoapConnectionUse();
}
