#include "CLIClientLogon.h"

#include <cstdio>
#include <iostream>

#include "TlsClientSetup.h"

CLIClientLogon::CLIClientLogon(std::string logonUrl)
    : soapError(nullptr)
{
    if (setupTlsClient(proxy.soap) == SOAP_OK)
    {
        m_endpoint = logonUrl;
        proxy.endpoint = m_endpoint.c_str();
    }
    else
    {
        std::cout << " There was an error in CLIClientLogon constructor" << std::endl;
        recordFault();
    }
}

CLIClientLogon::~CLIClientLogon()
{
    delete soapError;
}

std::string CLIClientLogon::getLogonToken(std::string user, std::string password)
{
    clearSoapError();
    ns0__logonResponse response;
    if (proxy.ns0__logon(user, password, response) != SOAP_OK)
    {
        recordFault();
        return "";
    }
    return response.logonReturn;
}

std::string CLIClientLogon::getLogonToken(std::string user)
{
    clearSoapError();
    ns0__getCMSConfigPathResponse pathResponse;
    if (proxy.ns0__getCMSConfigPath(pathResponse) != SOAP_OK)
    {
        recordFault();
        return "";
    }
    const std::string& configPath = pathResponse.getCMSConfigPathReturn;
    if (configPath.empty())
    {
        std::cout << "Empty Install path retuned\n";
        return "";
    }

    FILE* keyFile = std::fopen((configPath + "/.rconfig.server").c_str(), "rb");
    if (!keyFile)
        return "";
    std::fseek(keyFile, 0, SEEK_END);
    long size = std::ftell(keyFile);
    std::rewind(keyFile);
    m_keyBytes.assign(size > 0 ? size_t(size) : 0, 0);
    size_t got = m_keyBytes.empty() ? 0 : std::fread(m_keyBytes.data(), 1, m_keyBytes.size(), keyFile);
    std::fclose(keyFile);
    m_keyBytes.resize(got);

    // A non-null pointer even for an empty file: the key is then sent as an
    // empty element, not as a nil one.
    static unsigned char s_noBytes[1];
    xsd__base64Binary keyBytes;
    keyBytes.__ptr = m_keyBytes.empty() ? s_noBytes : m_keyBytes.data();
    keyBytes.__size = int(m_keyBytes.size());

    clearSoapError();
    ns0__logonAsRootResponse rootResponse;
    if (proxy.ns0__logonAsRoot(keyBytes, user, rootResponse) != SOAP_OK)
    {
        recordFault();
        return "";
    }
    return rootResponse.logonAsRootReturn;
}

SoapError* CLIClientLogon::getSoapError()
{
    return soapError;
}

void CLIClientLogon::recordFault()
{
    delete soapError;
    soapError = SoapError::fromContext(proxy.soap);
}

void CLIClientLogon::clearSoapError()
{
    delete soapError;
    soapError = nullptr;
}
