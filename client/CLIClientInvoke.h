#ifndef CLI_CLIENT_INVOKE_H
#define CLI_CLIENT_INVOKE_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClifEnvMapItems.h"
#include "ClifResult.h"
#include "SoapError.h"
#include "clifserviceSoapBinding.h"

class CLIClientLogon;

// Starts a command on the CMS through the clif service and follows it with
// status calls that relay input and collect output.
class CLIClientInvoke
{
public:
    explicit CLIClientInvoke(std::string invokeUrl);

    CLIClientInvoke(const CLIClientInvoke&) = delete;
    CLIClientInvoke& operator=(const CLIClientInvoke&) = delete;

    ClifResult invoke(std::string token, std::string user, const std::map<std::string, std::string>& env,
                      std::vector<std::string> args);

    ClifResult checkStatus(std::string token, std::string sessionId, const std::map<std::string, std::string>& env,
                           const unsigned char* in, int len, bool stdinOpen);
    ClifResult checkStatus(std::string token, std::string sessionId, const std::map<std::string, std::string>& env,
                           const char* in, int len, bool stdinOpen);

    // The fault of the last failed call, null when it succeeded.
    SoapError* getSoapError();

    // Continues on the logon's connection when both services are on the same
    // server (scheme, host and port as the URLs spell them); otherwise the
    // logon's connection is closed and its TLS session offered on the next
    // connection, which resumes it instead of making a second full handshake.
    void continueAfter(CLIClientLogon& logon);

private:
    ns3__Map* envMapItems(const std::map<std::string, std::string>& env);
    ClifResult finishCall(int rc, const ns1__clifstatus* status, const char* operation);
    void clearSoapError();
    bool failedSetup();

    clifserviceSoapBinding proxy;
    std::optional<SoapError> soapError;
    // The fault of a failed TLS set-up: every call then fails with it, sending nothing.
    std::optional<SoapError> m_setupFault;
    std::string m_endpoint; // private copy the proxy's endpoint points to
    // The reply's byte arrays, kept (sharing their decoded bytes) in one of
    // two slots used in turn, so that a result's bytes outlive the next call
    // while the memory held stays bounded.
    ClifByteArray m_replyBytes[2][2];
    int m_replySlot;
    // The environment map is the run's: its items are built at the first call
    // and every later call sends the same.
    std::optional<ClifEnvMapItems> m_envMapItems;
};

#endif
