#include "VelpiMainSoapBinding.h"

#include "SoapBindingNsmap.h"
#include "SoapCallGuard.h"

VelpiMainSoapBinding::VelpiMainSoapBinding()
    : soap(soap_new()), endpoint("https://localhost:50001/velsoap/services/VelpiMain5_0")
{
    if (soap)
    {
        soap_set_namespaces(soap, namespaces);
        prepareSoapConnections(soap);
    }
}

VelpiMainSoapBinding::~VelpiMainSoapBinding()
{
    if (soap)
    {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap); // finalises and frees the context
    }
}

int VelpiMainSoapBinding::ns0__logon(std::string username, std::string password, struct ns0__logonResponse& result)
{
    if (int rc = checkSoapCall(soap, endpoint, "logon"))
        return endSoapCall(soap, rc);
    return endSoapCall(soap, soap_call_ns0__logon(soap, endpoint, nullptr, username, password, result));
}

int VelpiMainSoapBinding::ns0__logonAsRoot(xsd__base64Binary cmsPrivateKeyBytes, std::string username,
                                           struct ns0__logonAsRootResponse& result)
{
    if (int rc = checkSoapCall(soap, endpoint, "logonAsRoot"))
        return endSoapCall(soap, rc);
    return endSoapCall(soap, soap_call_ns0__logonAsRoot(soap, endpoint, nullptr, cmsPrivateKeyBytes, username, result));
}

int VelpiMainSoapBinding::ns0__getCMSConfigPath(struct ns0__getCMSConfigPathResponse& result)
{
    if (int rc = checkSoapCall(soap, endpoint, "getCMSConfigPath"))
        return endSoapCall(soap, rc);
    return endSoapCall(soap, soap_call_ns0__getCMSConfigPath(soap, endpoint, nullptr, result));
}
