#include "TlsClientSetup.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include <arpa/inet.h>

#include "ClifRegularFile.h"
#include "TlsVerifyRecord.h"
#include "soapH.h"

namespace
{
// The runtime keeps pointers to the file names for later handshakes, so the
// names live as long as the process.
const char* keptName(const std::string& name)
{
    static std::set<std::string> s_names;
    return s_names.insert(name).first->c_str();
}

// The random file must be a regular file and hold at least one byte; the
// runtime alone would let a missing file pass.
bool yieldsAByte(const char* path)
{
    if (checkRegularFile(path) != 0)
        return false;
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    bool gotByte = std::fgetc(file) != EOF;
    std::fclose(file);
    return gotByte;
}

bool isAddressLiteral(const char* host)
{
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    unsigned char address[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// The runtime names the endpoint's host in the ClientHello (SNI) whatever it is; TLS allows only
// host names there. Runs as each handshake starts, before the ClientHello is written, and takes
// an address back out.
void sendNoAddressAsServerName(const SSL* ssl, int where, int /*ret*/)
{
    if (!(where & SSL_CB_HANDSHAKE_START))
        return;
    auto* connection = const_cast<SSL*>(ssl);
    const char* name = SSL_get_servername(connection, TLSEXT_NAMETYPE_host_name);
    if (name && isAddressLiteral(name))
        SSL_set_tlsext_host_name(connection, nullptr);
}
} // namespace

int setupTlsClient(struct soap* context, const std::string& directory)
{
    if (!context)
        return SOAP_EOM;
    const char* caFile = keptName(directory + "server_cert.pem");
    const char* randomFile = keptName(directory + "randomfile");
    if (!yieldsAByte(randomFile))
        return soap_set_receiver_error(context, "SSL/TLS error", "Can't load randomness", SOAP_SSL_ERROR);
    // A FIFO or a device in place of the CA file would block or never end the runtime's read.
    if (checkRegularFile(caFile) != 0)
        return soap_set_receiver_error(context, "SSL/TLS error", "Can't read CA file", SOAP_SSL_ERROR);
    // Notes why a server certificate does not verify, for the cause shown to the user.
    context->fsslverify = recordVerifyResult;
    // Trust only the CA file: with the host-name check off, the default CA
    // store would let any publicly signed certificate for any host pass.
    int rc = soap_ssl_client_context(context, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION | SOAP_SSL_NO_DEFAULT_CA_PATH,
                                     nullptr, nullptr, caFile, nullptr, randomFile);
    if (rc == SOAP_OK)
    {
        // The TLS context keeps verifying the peer during the handshake;
        // only the comparison of the certificate's name with the host is off.
        context->ssl_flags &= ~SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION;
        // Each read from the connection takes what has arrived, up to the
        // read-ahead buffer, instead of a record header and then its body:
        // a reply of 1 MiB takes some 20 reads instead of some 170.
        SSL_CTX_set_read_ahead(context->ctx, 1);
        SSL_CTX_set_default_read_buffer_len(context->ctx, TLS_READ_BUFFER_BYTES);
        // Every certificate of the CA file is a trust anchor, the server's own included: the file
        // may hold the CA that signed the server's certificate or that certificate itself.
        X509_STORE_set_flags(SSL_CTX_get_cert_store(context->ctx), X509_V_FLAG_PARTIAL_CHAIN);
        SSL_CTX_set_info_callback(context->ctx, sendNoAddressAsServerName);
    }
    return rc;
}

void handOverTlsSession(const struct soap* from, struct soap* to)
{
    if (!from || !to || !from->session || SSL_SESSION_up_ref(from->session) != 1)
        return;
    if (to->session)
        SSL_SESSION_free(to->session);
    to->session = from->session;
    std::memcpy(to->session_host, from->session_host, sizeof to->session_host);
    to->session_port = from->session_port;
}
