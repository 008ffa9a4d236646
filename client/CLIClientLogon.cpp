#include "CLIClientLogon.h"

#include <cstdio>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ClifCause.h"
#include "ClifConfigDirectory.h"
#include "ClifMessages.h"
#include "ClifRequestBytes.h"
#include "TlsClientSetup.h"

namespace
{
// Opens the key file for reading if it is a regular file. The file is read by its size, which a
// directory does not have (seeking to its end gives a huge offset); O_NONBLOCK keeps a FIFO
// from blocking the open. Anything else counts as a file that cannot be opened.
std::FILE* openRegularFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file)
        close(fd);
    return file;
}
} // namespace

CLIClientLogon::CLIClientLogon(std::string logonUrl)
{
    if (setupTlsClient(proxy.soap, s_CLIConfigDirectory) == SOAP_OK)
    {
        m_endpoint = logonUrl;
        proxy.endpoint = m_endpoint.c_str();
    }
    else
    {
        std::cout << ClifMessages::LOGON_SETUP_FAILED << std::flush;
        soapError = SoapError::fromContext(proxy.soap);
        ClifCause::noteRoot(ClifCause::ofFailedSetup(proxy.soap));
        m_setupFault = soapError;
    }
}

std::string CLIClientLogon::getLogonToken(std::string user, std::string password)
{
    clearSoapError();
    if (failedSetup())
        return "";
    ns0__logonResponse response;
    if (proxy.ns0__logon(user, password, response) != SOAP_OK)
    {
        recordFault("logon");
        return "";
    }
    noteIfEmpty(response._logonReturn);
    return response._logonReturn;
}

std::string CLIClientLogon::getLogonToken(std::string user)
{
    clearSoapError();
    if (failedSetup())
        return "";
    ns0__getCMSConfigPathResponse pathResponse;
    if (proxy.ns0__getCMSConfigPath(pathResponse) != SOAP_OK)
    {
        recordFault("getCMSConfigPath");
        return "";
    }
    const std::string& configPath = pathResponse.getCMSConfigPathReturn;
    if (configPath.empty())
    {
        std::cout << ClifMessages::EMPTY_INSTALL_PATH;
        ClifCause::note("logon without a password: the CMS (" + urlForDisplay(proxy.endpoint) +
                        ") named no configuration directory to find its key file in");
        return "";
    }

    const std::string keyPath = configPath + "/.rconfig.server";
    FILE* keyFile = openRegularFile(keyPath);
    if (!keyFile)
    {
        ClifCause::note(ClifCause::ofUnreadableKeyFile(keyPath));
        return "";
    }
    long size = std::fseek(keyFile, 0, SEEK_END) == 0 ? std::ftell(keyFile) : -1;
    if (std::fseek(keyFile, 0, SEEK_SET) != 0)
        size = -1;
    m_keyBytes.assign(size > 0 ? size_t(size) : 0, 0);
    size_t got = m_keyBytes.empty() ? 0 : std::fread(m_keyBytes.data(), 1, m_keyBytes.size(), keyFile);
    std::fclose(keyFile);
    m_keyBytes.resize(got);

    // An empty file is sent as an empty element, not as a nil one.
    xsd__base64Binary keyBytes = requestBytes(m_keyBytes.data(), int(m_keyBytes.size()));

    clearSoapError();
    ClifCause::warnIfClearText(proxy.endpoint ? proxy.endpoint : "", "the CMS key");
    ns0__logonAsRootResponse rootResponse;
    if (proxy.ns0__logonAsRoot(keyBytes, user, rootResponse) != SOAP_OK)
    {
        recordFault("logonAsRoot");
        return "";
    }
    noteIfEmpty(rootResponse._logonAsRootReturn);
    return rootResponse._logonAsRootReturn;
}

SoapError* CLIClientLogon::getSoapError()
{
    return soapError ? &*soapError : nullptr;
}

void CLIClientLogon::recordFault(const char* operation)
{
    soapError = SoapError::fromContext(proxy.soap);
    ClifCause::note(
        ClifCause::ofFailedCall(proxy.soap, proxy.endpoint ? proxy.endpoint : "", ClifCause::LOGON_SERVICE, operation));
}

void CLIClientLogon::noteIfEmpty(const std::string& token) const
{
    if (token.empty())
        ClifCause::note("the logon service (" + urlForDisplay(proxy.endpoint) + ") answered without a logon token");
}

void CLIClientLogon::clearSoapError()
{
    soapError.reset();
}

// Without its TLS set-up the context would, at connect time, build a TLS context of its own that
// trusts the system's CA store, and send the credentials to the generated default endpoint, a
// host nobody configured. No call leaves: it fails at once with the set-up's fault.
bool CLIClientLogon::failedSetup()
{
    if (m_setupFault)
        soapError = m_setupFault;
    return m_setupFault.has_value();
}
