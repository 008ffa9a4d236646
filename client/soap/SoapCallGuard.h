#ifndef SOAP_CALL_GUARD_H
#define SOAP_CALL_GUARD_H

struct soap;

// Checks that a call may go out at all. With an empty endpoint the runtime
// would write the request (password included) to standard output and parse
// standard input as the reply; such a call fails instead like a refused
// connection, sending and reading nothing. Returns 0 when the call may go on,
// else the error code that the context now holds. `operation` names the call
// for the trace.
int checkSoapCall(struct soap* context, const char* endpoint, const char* operation);

// Ends a call begun by checkSoapCall (the trace line, when tracing is on); returns rc.
int endSoapCall(struct soap* context, int rc);

// Settings for every connection a client context makes. TCP keep-alive probes an idle
// connection after a minute and gives up after eight unanswered probes 15 s apart, and the same
// three minutes bound data that the peer never acknowledges: a CMS that was powered off or cut
// off mid-call fails the call within minutes, while a live one that takes an hour to answer
// is still waited for. Requests offer no compressed reply (no Accept-Encoding); one that
// comes compressed all the same is refused, and what a reply may cost is bounded
// (SoapReplyLimits.h). The connection is kept open from call to call
// (SoapConnection.h).
void prepareSoapConnections(struct soap* context);

#endif
