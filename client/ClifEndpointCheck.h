#ifndef CLIF_ENDPOINT_CHECK_H
#define CLIF_ENDPOINT_CHECK_H

#include <string>

#include "ClifCause.h"

// One service URL tried without a logon, with the client's own TLS set-up.
struct ClifEndpointCheck
{
    bool ok = false;
    std::string summary; // one line: the connection and the server's certificate, or the cause
    std::string cause;   // the cause lines when not ok

    // The logon service: one getCMSConfigPath call, which needs no credentials and so
    // proves the URL's path as well. The clif service: a connection (and TLS handshake)
    // only, closed at once; nothing is sent.
    static ClifEndpointCheck run(const std::string& url, ClifCause::Service service);
};

#endif
