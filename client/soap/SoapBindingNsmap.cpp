// The global namespace table. Every message declares all eight prefixes, in
// this order. The first four also accept the W3C namespace of any dated
// version on input; the service namespaces come from the service definition.
#include "SoapBindingNsmap.h"

#include "VelNamespaceUris.h"

SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", "http://www.w3.org/*/soap-envelope", nullptr},
    {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/", "http://www.w3.org/*/soap-encoding", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"ns1", VEL_NAMESPACE_ns1, nullptr, nullptr},
    {"ns3", VEL_NAMESPACE_ns3, nullptr, nullptr},
    {"ns5", VEL_NAMESPACE_ns5, nullptr, nullptr},
    {"ns0", VEL_NAMESPACE_ns0, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr}};
