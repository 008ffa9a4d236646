#ifndef CLIF_CALL_TRACE_H
#define CLIF_CALL_TRACE_H

#include <string>

struct soap;

// What one SOAP call did on the wire, noted by a gSOAP plug-in on the
// call's context: the operation and endpoint, the HTTP status, the bytes
// each way, the time taken, and the connection it went over (new or reused;
// the TLS version, whether the TLS session was resumed, the server
// certificate's names). Never credentials or payload bytes: the plug-in
// counts bytes and reads nothing of them.
struct ClifCallRecord
{
    std::string operation;
    std::string endpoint;
    int httpStatus = 0;
    unsigned long long bytesOut = 0;
    unsigned long long bytesIn = 0;
    double milliseconds = 0;
    bool newConnection = false;
    std::string tlsVersion; // empty over plain HTTP or without a new connection
    bool tlsResumed = false;
    std::string peerSubject;
    std::string peerIssuer;
    std::string peerNotAfter;
};

// The call trace: with VEL_CLIF_TRACE in the environment (whatever its
// value), every SOAP call prints one line on standard error when it ends.
//
// Rule: when the variable is absent nothing is registered on any context and
// the calls pay one test of a process-wide flag; keep it that way.
namespace ClifCallTrace
{
bool enabled();

// Where the trace lines go (the client's report of causes, which names the
// program); without it the calls are recorded and nothing is printed.
void setReport(void (*report)(const std::string& lines));

// Registers the recording plug-in on a context when tracing is on, or when
// `always` is set (the configuration check reads the records).
void attach(struct soap* context, bool always = false);

// Start and end of one call (SoapCallGuard); the end prints the trace line.
void beginCall(struct soap* context, const char* operation, const char* endpoint);
void endCall(struct soap* context, int rc);

// The record of the context's last call; null when the plug-in is not attached.
const ClifCallRecord* lastCall(const struct soap* context);

// The trace line of a call, without the program name.
std::string describe(const ClifCallRecord& call, int rc);
} // namespace ClifCallTrace

#endif
