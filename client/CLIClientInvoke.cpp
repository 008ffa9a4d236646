#include "CLIClientInvoke.h"

#include "CLIClientLogon.h"
#include "ClifCause.h"
#include "ClifConfigDirectory.h"
#include "ClifRequestBytes.h"
#include "SoapConnection.h"
#include "TlsClientSetup.h"

namespace
{
// Stands in for a missing pointer so that an empty command line is sent as an
// empty array, never as a nil one.
std::string s_noArgument;
} // namespace

CLIClientInvoke::CLIClientInvoke(std::string invokeUrl) : m_replySlot(0)
{
    if (setupTlsClient(proxy.soap, s_CLIConfigDirectory) == SOAP_OK)
    {
        m_endpoint = invokeUrl;
        proxy.endpoint = m_endpoint.c_str();
    }
    else
    {
        soapError = SoapError::fromContext(proxy.soap);
        ClifCause::noteRoot(ClifCause::ofFailedSetup(proxy.soap));
        m_setupFault = soapError;
    }
}

ns3__Map* CLIClientInvoke::envMapItems(const std::map<std::string, std::string>& env)
{
    if (!m_envMapItems)
        m_envMapItems.emplace(env);
    return m_envMapItems->get();
}

ClifResult CLIClientInvoke::invoke(std::string token, std::string user, const std::map<std::string, std::string>& env,
                                   std::vector<std::string> args)
{
    ns3__Map* envMap = envMapItems(env);
    ArrayOf_USCORExsd_USCOREstring commandLine;
    commandLine.__ptr = args.empty() ? &s_noArgument : args.data();
    commandLine.__size = int(args.size());

    clearSoapError();
    if (failedSetup())
        return ClifResult();
    ns5__invokeResponse response;
    response._invokeReturn = nullptr;
    int rc = proxy.ns5__invoke(token, user, envMap, &commandLine, response);
    return finishCall(rc, rc == SOAP_OK ? response._invokeReturn : nullptr, "invoke");
}

ClifResult CLIClientInvoke::checkStatus(std::string token, std::string sessionId,
                                        const std::map<std::string, std::string>& env, const unsigned char* in, int len,
                                        bool stdinOpen)
{
    ns3__Map* envMap = envMapItems(env);
    xsd__base64Binary input = requestBytes(in, len);

    clearSoapError();
    if (failedSetup())
        return ClifResult();
    ns5__statusResponse response;
    response._statusReturn = nullptr;
    int rc = proxy.ns5__status(token, sessionId, envMap, input, stdinOpen, response);
    return finishCall(rc, rc == SOAP_OK ? response._statusReturn : nullptr, "status");
}

ClifResult CLIClientInvoke::checkStatus(std::string token, std::string sessionId,
                                        const std::map<std::string, std::string>& env, const char* in, int len,
                                        bool stdinOpen)
{
    return checkStatus(token, sessionId, env, reinterpret_cast<const unsigned char*>(in), len, stdinOpen);
}

SoapError* CLIClientInvoke::getSoapError()
{
    return soapError ? &*soapError : nullptr;
}

// Not const: it changes the context that the next call connects with.
// NOLINTNEXTLINE(readability-make-member-function-const)
void CLIClientInvoke::continueAfter(CLIClientLogon& logon)
{
    if (!handOverSoapConnection(logon.soapContext(), logon.endpoint(), proxy.soap, proxy.endpoint))
        handOverTlsSession(logon.soapContext(), proxy.soap);
}

// Turns the reply into a result and releases everything the runtime
// allocated for the call. The output bytes are kept in the slot pair of
// this call (without a copy); the pair of the previous call stays untouched, so the
// previous result's bytes remain valid until this call has returned, and
// memory does not grow with the command's output.
ClifResult CLIClientInvoke::finishCall(int rc, const ns1__clifstatus* status, const char* operation)
{
    ClifResult result;
    if (rc != SOAP_OK)
    {
        soapError = SoapError::fromContext(proxy.soap);
        ClifCause::note(ClifCause::ofFailedCall(proxy.soap, proxy.endpoint ? proxy.endpoint : "",
                                                ClifCause::CLIF_SERVICE, operation));
    }
    else if (status)
    {
        result.sessionId = status->sessionId ? *status->sessionId : std::string();
        result.complete = status->complete;
        result.pollPeriod = int(static_cast<unsigned long long>(status->pollPeriod) & 0xffffffffULL);
        result.returnCode = status->returnCode;
        result.errOpen = status->errOpen;
        result.outOpen = status->outOpen;

        // The reply's bytes are kept, not copied: the pair shares them with
        // the context's arrays, which soap_end frees.
        ClifByteArray& errBytes = m_replyBytes[m_replySlot][0];
        ClifByteArray& outBytes = m_replyBytes[m_replySlot][1];
        errBytes = status->err;
        outBytes = status->out;
        const bool hasErr = errBytes.__ptr && errBytes.__size > 0;
        const bool hasOut = outBytes.__ptr && outBytes.__size > 0;
        result.errData = hasErr ? errBytes.__ptr : nullptr;
        result.errLength = hasErr ? errBytes.__size : 0;
        result.outData = hasOut ? outBytes.__ptr : nullptr;
        result.outLength = hasOut ? outBytes.__size : 0;
        m_replySlot = 1 - m_replySlot;
    }
    soap_destroy(proxy.soap);
    soap_end(proxy.soap);
    return result;
}

void CLIClientInvoke::clearSoapError()
{
    soapError.reset();
}

// As for the logon (CLIClientLogon::failedSetup): after a failed TLS set-up no call leaves.
bool CLIClientInvoke::failedSetup()
{
    if (m_setupFault)
        soapError = m_setupFault;
    return m_setupFault.has_value();
}
