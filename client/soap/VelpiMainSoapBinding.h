#ifndef VELPI_MAIN_SOAP_BINDING_H
#define VELPI_MAIN_SOAP_BINDING_H

#include "soapH.h"

// Proxy of the logon service: a runtime context of its own and the endpoint
// that every call goes to.
class VelpiMainSoapBinding
{
public:
    struct soap* soap;
    const char* endpoint;

    VelpiMainSoapBinding();
    virtual ~VelpiMainSoapBinding();

    VelpiMainSoapBinding(const VelpiMainSoapBinding&) = delete;
    VelpiMainSoapBinding& operator=(const VelpiMainSoapBinding&) = delete;

    virtual int ns0__logon(std::string username, std::string password, struct ns0__logonResponse& result);
    virtual int ns0__logonAsRoot(xsd__base64Binary cmsPrivateKeyBytes, std::string username,
                                 struct ns0__logonAsRootResponse& result);
    virtual int ns0__getCMSConfigPath(struct ns0__getCMSConfigPathResponse& result);
};

#endif
