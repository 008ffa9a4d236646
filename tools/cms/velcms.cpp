// velcms: stand-in for the CMS's logon service and clif service, serving both
// over HTTPS (or plain HTTP) on one port, one connection at a time. A connection
// is kept open for further requests (HTTP/1.1 keep-alive) until it has been idle
// for the keep-alive time or the client closes it or asks to. It serves one
// connection at a time: when another client is waiting as a reply goes out, that
// reply says "Connection: close" and the next client's turn comes after it. A
// connection is never closed under a client that may be sending on it.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>

#include "CmsState.h"
#include "RequestExchange.h"
#include "SoapBindingNsmap.h"
#include "soapH.h"

namespace
{
volatile sig_atomic_t s_stopRequested = 0;

void requestStop(int)
{
    s_stopRequested = 1;
}

void installSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = requestStop; // no SA_RESTART: a pending accept returns
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int boundPort(SOAP_SOCKET socket)
{
    sockaddr_storage address;
    socklen_t length = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// Waits on a kept connection for the client's next request. False when the
// connection has been idle for idleMs or the server is asked to stop; true when
// the connection has something to read (a request, or the client's close, which
// the read then finds).
bool nextRequestComes(struct soap* context, long long idleMs)
{
    if (context->ssl && SSL_has_pending(context->ssl))
        return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleMs);
    pollfd wait = {context->socket, POLLIN, 0};
    while (!s_stopRequested)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        int ready = poll(&wait, 1, int(std::min<long long>(left.count(), 200)));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0)
            return true;
    }
    return false;
}

// True when another client is waiting to connect.
bool clientWaiting(struct soap* context)
{
    pollfd wait = {context->master, POLLIN, 0};
    return poll(&wait, 1, 0) > 0;
}

void handleConnection(struct soap* context, const CmsOptions& options, int& requestNumber)
{
    // A connection's first request takes its number at once (a connection that
    // brings none uses it up); a further one only when it has come.
    ++requestNumber;
    if (!options.serverPem.empty() && soap_ssl_accept(context) != SOAP_OK)
        return;
    for (bool first = true;; first = false)
    {
        if (!first && !nextRequestComes(context, options.keepAliveMs))
        {
            // The client is idle and not reading: send close_notify and do not wait for its
            // own (the runtime would wait up to 5 s, keeping the next client waiting).
            if (context->ssl)
            {
                SSL_shutdown(context->ssl);
                SSL_free(context->ssl);
                context->ssl = nullptr;
            }
            return;
        }
        RequestExchange exchange(context, first ? requestNumber : requestNumber + 1);
        if (!exchange.readRequest())
            return;
        if (!first)
            ++requestNumber;
        if (!options.recordDir.empty())
            exchange.record(options.recordDir, first);
        if (!options.scriptDir.empty() && exchange.sendScriptedReply(options.scriptDir))
            return;
        exchange.serve(clientWaiting(context));
        soap_destroy(context);
        soap_end(context);
        if (!context->keep_alive || !soap_valid_socket(context->socket))
            return;
    }
}
} // namespace

int main(int argc, char** argv)
{
    CmsState state;
    if (!state.options.parse(argc, argv))
        return 2;
    const CmsOptions& options = state.options;
    if (!options.usersFile.empty())
        state.users = readUsers(options.usersFile);
    installSignals();
    // Every status reply allocates and frees a chunk's worth of strings. Kept in
    // the heap, not mapped afresh (and faulted in page by page) for each reply,
    // they cost the same from call to call.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);

    struct soap context;
    soap_init(&context);
    if (options.keepAliveMs > 0)
        soap_set_mode(&context, SOAP_IO_KEEPALIVE);
    soap_set_namespaces(&context, namespaces);
    context.user = &state;
    context.bind_flags = SO_REUSEADDR;
    context.accept_timeout = -200000; // wake up five times a second to notice SIGTERM
    context.recv_timeout = 30;
    context.send_timeout = 30;
    // A session ID context lets clients resume their TLS sessions, as a production server allows.
    if (!options.serverPem.empty() &&
        soap_ssl_server_context(&context, SOAP_SSL_NO_AUTHENTICATION, options.serverPem.c_str(), nullptr, nullptr,
                                nullptr, nullptr, nullptr, "velcms") != SOAP_OK)
    {
        soap_print_fault(&context, stderr);
        return 1;
    }
    if (!options.tlsMax.empty())
        SSL_CTX_set_max_proto_version(context.ctx, options.tlsMax == "1.2" ? TLS1_2_VERSION : TLS1_3_VERSION);
    if (!soap_valid_socket(soap_bind(&context, options.host.c_str(), options.port, 16)))
    {
        soap_print_fault(&context, stderr);
        return 1;
    }
    const char* scheme = options.serverPem.empty() ? "http" : "https";
    // Flushed: whoever started the server reads the port from this line through a pipe.
    std::cout << "velcms listening on " << scheme << "://" << options.host << ":" << boundPort(context.master) << '\n'
              << std::flush;

    int requestNumber = 0;
    while (!s_stopRequested)
    {
        if (!soap_valid_socket(soap_accept(&context)))
            continue; // time-out, interrupted or failed accept
        handleConnection(&context, options, requestNumber);
        soap_destroy(&context);
        soap_end(&context);
        context.keep_alive = 0;
        soap_closesock(&context);
    }
    state.sessions.clear(); // ends the commands still running
    soap_destroy(&context);
    soap_end(&context);
    soap_done(&context);
    return 0;
}
