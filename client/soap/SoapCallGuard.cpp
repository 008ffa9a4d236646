#include "SoapCallGuard.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>

#include "ClifCallTrace.h"
#include "SoapConnection.h"
#include "SoapReplyLimits.h"
#include "TlsVerifyRecord.h"
#include "soapH.h"

namespace
{
const unsigned int KEEP_IDLE_SECONDS = 60;
const unsigned int KEEP_INTERVAL_SECONDS = 15;
const unsigned int KEEP_PROBES = 8;
const unsigned int DEAD_PEER_MS = (KEEP_IDLE_SECONDS + KEEP_PROBES * KEEP_INTERVAL_SECONDS) * 1000;

// The runtime's own writers, the same for every context.
int (*s_runtimePost)(struct soap*, const char*, const char*, int, const char*, const char*, ULONG64) = nullptr;
int (*s_runtimePostHeader)(struct soap*, const char*, const char*) = nullptr;

// Runs on the connected socket, just before the request goes out.
int postOnGuardedSocket(struct soap* context, const char* endpoint, const char* host, int port, const char* path,
                        const char* action, ULONG64 count)
{
    if (soap_valid_socket(context->socket))
    {
        unsigned int timeout = DEAD_PEER_MS;
        setsockopt(context->socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
    }
    return s_runtimePost(context, endpoint, host, port, path, action, count);
}

int postHeaderWithoutEncodings(struct soap* context, const char* key, const char* value)
{
    if (key && strcasecmp(key, "Accept-Encoding") == 0)
        return SOAP_OK;
    return s_runtimePostHeader(context, key, value);
}
} // namespace

int checkSoapCall(struct soap* context, const char* endpoint, const char* operation)
{
    if (!context)
        return SOAP_EOM;
    clearVerifyFailure();
    ClifCallTrace::beginCall(context, operation, endpoint);
    if (endpoint && *endpoint)
        return SOAP_OK;
    soap_begin(context);
    context->errnum = ECONNREFUSED;
    return soap_set_receiver_error(context, strerror(ECONNREFUSED), "connect failed in tcp_connect()", SOAP_TCP_ERROR);
}

int endSoapCall(struct soap* context, int rc)
{
    ClifCallTrace::endCall(context, rc);
    return rc;
}

void prepareSoapConnections(struct soap* context)
{
    if (!context)
        return;
    context->tcp_keep_alive = 1;
    context->tcp_keep_idle = KEEP_IDLE_SECONDS;
    context->tcp_keep_intvl = KEEP_INTERVAL_SECONDS;
    context->tcp_keep_cnt = KEEP_PROBES;
    if (!s_runtimePost)
    {
        s_runtimePost = context->fpost;
        s_runtimePostHeader = context->fposthdr;
    }
    context->fpost = postOnGuardedSocket;
    context->fposthdr = postHeaderWithoutEncodings;
    limitReplies(context);
    ClifCallTrace::attach(context);
    keepSoapConnections(context);
}
