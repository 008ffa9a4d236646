#ifndef CLI_CLIENT_LOGON_H
#define CLI_CLIENT_LOGON_H

#include <optional>
#include <string>
#include <vector>

#include "SoapError.h"
#include "VelpiMainSoapBinding.h"

// Obtains the logon token from the CMS's logon service, either with a user
// name and password or, on the CMS itself, with the bytes of the CMS's
// private key file.
class CLIClientLogon
{
public:
    explicit CLIClientLogon(std::string logonUrl);

    CLIClientLogon(const CLIClientLogon&) = delete;
    CLIClientLogon& operator=(const CLIClientLogon&) = delete;

    // Logs on with user name and password; empty on failure.
    std::string getLogonToken(std::string user, std::string password);
    // Logs on as the CMS's administrator with the CMS's key file; empty on failure.
    std::string getLogonToken(std::string user);

    // The fault of the last failed call, null when it succeeded.
    SoapError* getSoapError();

    // The context of the logon calls, whose connection (or TLS session) the invocation
    // continues on, and the endpoint it talks to.
    // NOLINTNEXTLINE(readability-make-member-function-const): the caller takes its connection away
    struct soap* soapContext() { return proxy.soap; }
    const struct soap* soapContext() const { return proxy.soap; }
    const char* endpoint() const { return proxy.endpoint; }

private:
    void recordFault(const char* operation);
    void noteIfEmpty(const std::string& token) const;
    void clearSoapError();
    bool failedSetup();

    VelpiMainSoapBinding proxy;
    std::optional<SoapError> soapError;
    // The fault of a failed TLS set-up: every call then fails with it, sending nothing.
    std::optional<SoapError> m_setupFault;
    std::string m_endpoint;                // private copy the proxy's endpoint points to
    std::vector<unsigned char> m_keyBytes; // key file bytes of the root logon
};

#endif
