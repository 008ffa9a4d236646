#ifndef TLS_CLIENT_SETUP_H
#define TLS_CLIENT_SETUP_H

#include <string>

struct soap;

// What one read from a TLS connection may take at once (the TLS layer's
// read-ahead buffer); the most of a reply that the TLS layer holds before the
// runtime has it.
const int TLS_READ_BUFFER_BYTES = 128 * 1024;

// Sets up TLS on a client context: the server's certificate must verify
// against "server_cert.pem" of the client configuration directory
// `directory` (ending in '/'), and only against it, never the system's
// default CA store; the random generator is seeded from "randomfile" there;
// the certificate's host name is not compared with the endpoint's. The file
// may hold the CA or the server's own certificate. An endpoint given by its
// address sends no server name (SNI). Returns 0 or the runtime's error code.
int setupTlsClient(struct soap* context, const std::string& directory);

// Lets `to` resume the TLS session that `from` kept from its last connection,
// so that a command pays one full handshake however many contexts it uses.
// The runtime offers the session only on a connection to the host and port it
// was made with; elsewhere `to` makes its own full handshake. Both contexts
// are set up by setupTlsClient, so the trust the session was made under is
// the one `to` would apply. Does nothing when `from` kept no session.
void handOverTlsSession(const struct soap* from, struct soap* to);

#endif
