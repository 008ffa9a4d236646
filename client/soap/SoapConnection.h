#ifndef SOAP_CONNECTION_H
#define SOAP_CONNECTION_H

struct soap;

// The connection of a client context, kept open from call to call (HTTP/1.1 keep-alive) and
// handed from the logon's context to the invocation's when both talk to the same server.
//
// A kept connection carries the next call only when nothing can have happened to it since the
// last reply: it has been idle for less than KEPT_CONNECTION_IDLE_SECONDS, nothing is left
// unread (in the runtime's buffer, in the TLS layer, or on the socket: a server's close, a
// close_notify, a reset or stray bytes all make the socket readable), and the last reply was
// framed beyond doubt (its Content-Length matched the body to the byte, or its chunks ended).
// Otherwise the call opens a new connection before it sends anything. A call that fails, or a
// reply that says "Connection: close" or comes as HTTP/1.0, closes the connection. Nothing is
// ever sent twice: once a request has gone out, a broken connection fails the call.

// Servers close idle connections after some 5 s (Apache httpd) to 60 s (Tomcat); a connection
// idle for this long is closed and replaced rather than raced against the server's own close.
const int KEPT_CONNECTION_IDLE_SECONDS = 2;

// Lets the context keep its connections open. Registered once per context, as a runtime
// plug-in; returns 0 or the runtime's error code.
int keepSoapConnections(struct soap* context);

// Moves the open connection of `from` (socket and TLS state, verified by `from` under the
// same TLS settings) to `to` when both endpoints name the same scheme, host and port, spelled
// alike, and the connection may carry another call; returns whether it did. Otherwise closes
// the connection of `from`, so that its TLS session can be offered by `to` and a server that
// serves one connection at a time is free for the next.
bool handOverSoapConnection(struct soap* from, const char* fromEndpoint, struct soap* to, const char* toEndpoint);

// Closes the context's connection, if any, without waiting for the server's part of the close.
void closeSoapConnection(struct soap* context);

// What the context's last call went over.
struct SoapConnectionUse
{
    bool reused = false; // a connection kept from an earlier call (or handed over)
    unsigned opened = 0; // connections this context has opened so far
};
SoapConnectionUse soapConnectionUse(const struct soap* context);

#endif
