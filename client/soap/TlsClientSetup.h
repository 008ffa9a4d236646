#ifndef TLS_CLIENT_SETUP_H
#define TLS_CLIENT_SETUP_H

struct soap;

// Sets up TLS on a client context: the server's certificate must verify
// against "server_cert.pem" of the client configuration directory (and only
// against it, never the system's default CA store), the random generator is
// seeded from "randomfile" there; the certificate's host name is not
// compared with the endpoint's. Returns 0 or the runtime's error code.
int setupTlsClient(struct soap* context);

#endif
