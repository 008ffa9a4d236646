#include "ClifCallTrace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "TlsVerifyRecord.h"
#include "UrlForDisplay.h"
#include "soapH.h"

namespace
{
const char s_pluginId[] = "clif-call-trace";
// Set once a context has the plug-in; until then a call's start and end test this flag alone.
bool s_recording = false;
void (*s_report)(const std::string& lines) = nullptr;

struct CallTrace
{
    ClifCallRecord record;
    struct timespec start;
    SOAP_SOCKET (*runtimeOpen)(struct soap*, const char*, const char*, int);
    int (*runtimeSend)(struct soap*, const char*, size_t);
    size_t (*runtimeReceive)(struct soap*, char*, size_t);
    int (*runtimeParse)(struct soap*);
};

bool readEnabled()
{
    return std::getenv("VEL_CLIF_TRACE") != nullptr;
}

CallTrace* traceOf(const struct soap* context)
{
    return static_cast<CallTrace*>(soap_lookup_plugin(const_cast<struct soap*>(context), s_pluginId));
}

std::string notAfterOf(X509* cert)
{
    BIO* out = BIO_new(BIO_s_mem());
    if (!out)
        return "";
    ASN1_TIME_print(out, X509_get0_notAfter(cert));
    char* text = nullptr;
    long length = BIO_get_mem_data(out, &text);
    std::string result(text ? text : "", length > 0 ? size_t(length) : 0);
    BIO_free(out);
    return result;
}

// The connection (and its TLS handshake) is made here; what it became is
// noted while the TLS object is still there.
SOAP_SOCKET openNoting(struct soap* context, const char* endpoint, const char* host, int port)
{
    CallTrace* trace = traceOf(context);
    SOAP_SOCKET socket = trace->runtimeOpen(context, endpoint, host, port);
    if (!soap_valid_socket(socket))
        return socket;
    ClifCallRecord& record = trace->record;
    record.newConnection = true;
    if (context->ssl)
    {
        record.tlsVersion = SSL_get_version(context->ssl);
        record.tlsResumed = SSL_session_reused(context->ssl) == 1;
        if (X509* peer = SSL_get1_peer_certificate(context->ssl))
        {
            record.peerSubject = certificateName(X509_get_subject_name(peer));
            record.peerIssuer = certificateName(X509_get_issuer_name(peer));
            record.peerNotAfter = notAfterOf(peer);
            X509_free(peer);
        }
    }
    return socket;
}

int sendCounting(struct soap* context, const char* data, size_t length)
{
    CallTrace* trace = traceOf(context);
    int rc = trace->runtimeSend(context, data, length);
    if (rc == SOAP_OK)
        trace->record.bytesOut += length;
    return rc;
}

size_t receiveCounting(struct soap* context, char* buffer, size_t length)
{
    CallTrace* trace = traceOf(context);
    size_t got = trace->runtimeReceive(context, buffer, length);
    trace->record.bytesIn += got;
    return got;
}

int parseNotingStatus(struct soap* context)
{
    CallTrace* trace = traceOf(context);
    int rc = trace->runtimeParse(context);
    trace->record.httpStatus = context->status;
    return rc;
}

int copyTrace(struct soap* /*context*/, struct soap_plugin* copy, struct soap_plugin* original)
{
    auto* data = new (std::nothrow) CallTrace(*static_cast<CallTrace*>(original->data));
    if (!data)
        return SOAP_EOM;
    copy->data = data;
    return SOAP_OK;
}

void deleteTrace(struct soap* /*context*/, struct soap_plugin* plugin)
{
    delete static_cast<CallTrace*>(plugin->data);
}

int createTrace(struct soap* context, struct soap_plugin* plugin, void* /*argument*/)
{
    auto* data = new (std::nothrow)
        CallTrace{ClifCallRecord(), {0, 0}, context->fopen, context->fsend, context->frecv, context->fparse};
    if (!data)
        return SOAP_EOM;
    plugin->id = s_pluginId;
    plugin->data = data;
    plugin->fcopy = copyTrace;
    plugin->fdelete = deleteTrace;
    context->fopen = openNoting;
    context->fsend = sendCounting;
    context->frecv = receiveCounting;
    context->fparse = parseNotingStatus;
    return SOAP_OK;
}

std::string count(unsigned long long bytes)
{
    return std::to_string(bytes) + " B";
}
} // namespace

namespace ClifCallTrace
{
bool enabled()
{
    static const bool s_enabled = readEnabled();
    return s_enabled;
}

void setReport(void (*report)(const std::string& lines))
{
    s_report = report;
}

void attach(struct soap* context, bool always)
{
    if (!context || !(always || enabled()) || traceOf(context))
        return;
    if (soap_register_plugin(context, createTrace) == SOAP_OK)
        s_recording = true;
}

void beginCall(struct soap* context, const char* operation, const char* endpoint)
{
    if (!s_recording)
        return;
    CallTrace* trace = context ? traceOf(context) : nullptr;
    if (!trace)
        return;
    trace->record = ClifCallRecord();
    trace->record.operation = operation ? operation : "";
    trace->record.endpoint = urlForDisplay(endpoint ? endpoint : "");
    clock_gettime(CLOCK_MONOTONIC, &trace->start);
}

void endCall(struct soap* context, int rc)
{
    if (!s_recording)
        return;
    CallTrace* trace = context ? traceOf(context) : nullptr;
    if (!trace)
        return;
    struct timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    trace->record.milliseconds =
        double(end.tv_sec - trace->start.tv_sec) * 1e3 + double(end.tv_nsec - trace->start.tv_nsec) / 1e6;
    if (enabled() && s_report)
        s_report("trace: " + describe(trace->record, rc));
}

const ClifCallRecord* lastCall(const struct soap* context)
{
    const CallTrace* trace = context ? traceOf(context) : nullptr;
    return trace ? &trace->record : nullptr;
}

std::string describe(const ClifCallRecord& call, int rc)
{
    char time[32];
    std::snprintf(time, sizeof time, "%.1f ms", call.milliseconds);
    std::string line = call.operation + " " + (call.endpoint.empty() ? "(no URL)" : call.endpoint) + ": ";
    if (call.httpStatus >= 100 && call.httpStatus < 600)
        line += "HTTP " + std::to_string(call.httpStatus);
    else
        line += "no HTTP reply";
    if (rc != SOAP_OK)
        line += ", failed (gSOAP error " + std::to_string(rc) + ")";
    line += ", sent " + count(call.bytesOut) + ", received " + count(call.bytesIn) + ", " + time;
    if (!call.newConnection)
        line += call.bytesOut > 0 ? ", connection reused" : ", no connection";
    else if (!call.tlsVersion.empty())
        line += ", new connection, " + call.tlsVersion + (call.tlsResumed ? " session resumed" : " full handshake");
    else
        line += ", new connection, plain HTTP";
    return line;
}
} // namespace ClifCallTrace
