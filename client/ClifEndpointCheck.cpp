#include "ClifEndpointCheck.h"

#include "ClifCallTrace.h"
#include "ClifConfigDirectory.h"
#include "TlsClientSetup.h"
#include "TlsVerifyRecord.h"
#include "VelpiMainSoapBinding.h"
#include "soapH.h"

namespace
{
std::string connectionOf(const ClifCallRecord* call)
{
    if (!call || !call->newConnection)
        return "";
    if (call->tlsVersion.empty())
        return "plain HTTP";
    return call->tlsVersion + ", the server's certificate verifies against server_cert.pem (subject " +
           call->peerSubject + "; issuer " + call->peerIssuer + "; valid until " + call->peerNotAfter + ")";
}

// Over plain HTTP: a HEAD request, whose reply shows whether an HTTP server
// listens there at all (a TLS server answers with an alert record or hangs up).
std::string plainHttpAnswer(struct soap* context)
{
    std::string request = std::string("HEAD ") + (*context->path ? context->path : "/") +
                          " HTTP/1.0\r\nHost: " + context->host + "\r\n\r\n";
    if (context->fsend(context, request.data(), request.size()) != SOAP_OK)
        return "the connection was closed before the HTTP request went out";
    char head[5];
    size_t got = 0;
    while (got < sizeof head)
    {
        size_t n = context->frecv(context, head + got, sizeof head - got);
        if (n == 0)
            break;
        got += n;
    }
    if (got == sizeof head && std::string(head, got) == "HTTP/")
        return "";
    if (got > 0 && (head[0] == 0x15 || head[0] == 0x16))
        return "the server answered in TLS: the URL must start with https://";
    return "no HTTP reply on that port; if the server speaks TLS there, the URL must start with https://";
}

// Opens the connection the way a call would, TLS handshake included, and
// closes it; nothing is sent over TLS.
int connectOnly(struct soap* context, const std::string& url, std::string& problem)
{
    clearVerifyFailure();
    ClifCallTrace::beginCall(context, "connect", url.c_str());
    soap_begin(context);
    soap_set_endpoint(context, url.c_str());
    context->error = SOAP_OK;
    context->socket = context->fopen(context, url.c_str(), context->host, context->port);
    int rc = soap_valid_socket(context->socket) ? SOAP_OK : (context->error ? context->error : SOAP_TCP_ERROR);
    if (rc == SOAP_OK && !context->ssl)
        problem = plainHttpAnswer(context);
    if (soap_valid_socket(context->socket))
        soap_force_closesock(context);
    context->error = rc;
    ClifCallTrace::endCall(context, rc);
    return rc;
}
} // namespace

ClifEndpointCheck ClifEndpointCheck::run(const std::string& url, ClifCause::Service service)
{
    ClifEndpointCheck check;
    VelpiMainSoapBinding proxy;
    if (!proxy.soap)
    {
        check.cause = "out of memory";
        return check;
    }
    ClifCallTrace::attach(proxy.soap, true);
    if (setupTlsClient(proxy.soap, s_CLIConfigDirectory) != SOAP_OK)
    {
        check.cause = ClifCause::ofFailedSetup(proxy.soap);
        return check;
    }
    if (url.empty())
    {
        check.cause = ClifCause::ofFailedCall(proxy.soap, url, service, "check");
        return check;
    }
    proxy.endpoint = url.c_str();
    int rc;
    const char* operation;
    std::string answer;
    if (service == ClifCause::LOGON_SERVICE)
    {
        operation = "getCMSConfigPath";
        ns0__getCMSConfigPathResponse response;
        rc = proxy.ns0__getCMSConfigPath(response);
        if (rc == SOAP_OK)
            answer = "the logon service answers (CMS configuration directory: " +
                     (response.getCMSConfigPathReturn.empty() ? std::string("none") : response.getCMSConfigPathReturn) +
                     ")";
    }
    else
    {
        operation = "connect";
        std::string problem;
        rc = connectOnly(proxy.soap, url, problem);
        if (rc == SOAP_OK && !problem.empty())
        {
            check.cause = urlForDisplay(url) + ": " + problem;
            return check;
        }
    }
    const ClifCallRecord* call = ClifCallTrace::lastCall(proxy.soap);
    if (rc != SOAP_OK)
    {
        check.cause = ClifCause::ofFailedCall(proxy.soap, url, service, operation);
        return check;
    }
    check.ok = true;
    check.summary = connectionOf(call);
    if (!answer.empty())
        check.summary += (check.summary.empty() ? "" : "; ") + answer;
    return check;
}
