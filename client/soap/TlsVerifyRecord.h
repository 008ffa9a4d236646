#ifndef TLS_VERIFY_RECORD_H
#define TLS_VERIFY_RECORD_H

#include <string>

#include <openssl/ssl.h>

// Why the last server certificate did not verify: OpenSSL's reason and the
// names of the certificate it stopped at. Filled during the handshake by
// recordVerifyResult; the client is single-threaded and makes one handshake
// at a time, so one record serves the whole process.
struct TlsVerifyFailure
{
    bool failed = false;
    std::string reason;  // X509_verify_cert_error_string
    std::string subject; // one-line names, RFC 2253 order
    std::string issuer;
    int depth = 0; // 0 is the server's own certificate
};

// The certificate-verify callback of the client's TLS contexts. Changes
// nothing in the verification: it returns `ok` as it came and only notes the
// first failure of the handshake.
int recordVerifyResult(int ok, X509_STORE_CTX* store);

// Forgets the last failure; called before each handshake that is to be judged.
void clearVerifyFailure();

const TlsVerifyFailure& lastVerifyFailure();

// A certificate's name on one line ("CN=cms.example.com,O=Example").
std::string certificateName(const X509_NAME* name);

#endif
