#ifndef SOAP_CALL_GUARD_H
#define SOAP_CALL_GUARD_H

struct soap;

// Checks that a call may go out at all. With an empty endpoint the runtime
// would write the request (password included) to standard output and parse
// standard input as the reply; such a call fails instead like a refused
// connection, sending and reading nothing. Returns 0 when the call may go on,
// else the error code that the context now holds.
int checkSoapCall(struct soap* context, const char* endpoint);

#endif
