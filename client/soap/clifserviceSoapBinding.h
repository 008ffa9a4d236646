#ifndef CLIFSERVICE_SOAP_BINDING_H
#define CLIFSERVICE_SOAP_BINDING_H

#include "soapH.h"

// Proxy of the clif service ("clifservice"): a runtime context of its own and
// the endpoint that every call goes to.
class clifserviceSoapBinding
{
public:
    struct soap* soap;
    const char* endpoint;

    clifserviceSoapBinding();
    virtual ~clifserviceSoapBinding();

    clifserviceSoapBinding(const clifserviceSoapBinding&) = delete;
    clifserviceSoapBinding& operator=(const clifserviceSoapBinding&) = delete;

    virtual int ns5__invoke(std::string in0, std::string in1, ns3__Map* in2, ArrayOf_USCORExsd_USCOREstring* in3,
                            struct ns5__invokeResponse& result);
    virtual int ns5__status(std::string in0, std::string in1, ns3__Map* in2, xsd__base64Binary in3, bool in4,
                            struct ns5__statusResponse& result);
};

#endif
