#include "clifserviceSoapBinding.h"

#include "SoapBindingNsmap.h"
#include "SoapCallGuard.h"

clifserviceSoapBinding::clifserviceSoapBinding()
    : soap(soap_new()), endpoint("http://localhost:8080/jboss-net/services/clifservice")
{
    if (soap)
    {
        soap_set_namespaces(soap, namespaces);
        prepareSoapConnections(soap);
    }
}

clifserviceSoapBinding::~clifserviceSoapBinding()
{
    if (soap)
    {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap); // finalises and frees the context
    }
}

int clifserviceSoapBinding::ns5__invoke(std::string in0, std::string in1, ns3__Map* in2,
                                        ArrayOf_USCORExsd_USCOREstring* in3, struct ns5__invokeResponse& result)
{
    if (int rc = checkSoapCall(soap, endpoint, "invoke"))
        return endSoapCall(soap, rc);
    return endSoapCall(soap, soap_call_ns5__invoke(soap, endpoint, nullptr, in0, in1, in2, in3, result));
}

int clifserviceSoapBinding::ns5__status(std::string in0, std::string in1, ns3__Map* in2, xsd__base64Binary in3,
                                        bool in4, struct ns5__statusResponse& result)
{
    if (int rc = checkSoapCall(soap, endpoint, "status"))
        return endSoapCall(soap, rc);
    return endSoapCall(soap, soap_call_ns5__status(soap, endpoint, nullptr, in0, in1, in2, in3, in4, result));
}
