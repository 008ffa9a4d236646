// Service definition of the CMS's two SOAP services, from which soapcpp2
// generates the types, serialisers and call stubs at build time.
//
// Namespace URIs: these are the one place where they are chosen; the
// namespace table (SoapBindingNsmap) is generated from them.
//   ns0  logon service ("VelpiMain", version 5.0 of the client SOAP interface)
//   ns1  types of the clif service
//   ns3  Apache XML-SOAP (Map, mapItem), as Apache SOAP and Axis define it
//   ns5  operations of the clif service, named after the server's package

//gsoap ns1 schema namespace: http://clifservice
//gsoap ns3 schema namespace: http://xml.apache.org/xml-soap
//gsoap ns5 schema namespace: http://clif.server.vel.orva.com
//gsoap ns0 schema namespace: urn:vel-clientsoap-5.0

//gsoap ns0 service name: VelpiMainSoapBinding
//gsoap ns0 service style: rpc
//gsoap ns0 service encoding: encoded
//gsoap ns0 service location: https://localhost:50001/velsoap/services/VelpiMain5_0
//gsoap ns0 service method-action: logon ""
//gsoap ns0 service method-action: logonAsRoot ""
//gsoap ns0 service method-action: getCMSConfigPath ""

//gsoap ns5 service name: clifserviceSoapBinding
//gsoap ns5 service style: rpc
//gsoap ns5 service encoding: encoded
//gsoap ns5 service location: http://localhost:8080/jboss-net/services/clifservice
//gsoap ns5 service method-action: invoke "clifservice"
//gsoap ns5 service method-action: status "clifservice"

#import "stlvector.h"
// Strings, bytes, booleans and integers have serialisers of their own
// (SoapWireTypes.h).
#import "SoapWireTypes.h"

// SOAP-encoded array of strings: the command line of invoke. The required
// attribute gives the array its xsi:type beside the arrayType.
class ArrayOf_USCORExsd_USCOREstring
{
public:
    xsd__string* __ptr;
    int __size;
    @ char* xsi__type 1 = "SOAP-ENC:Array";
    struct soap* soap;
};

// One entry of an Apache map.
class ns3__mapItem
{
public:
    xsd__string* key;
    xsd__string* value;
    struct soap* soap;
};

// Apache map: the environment handed to the command.
class ns3__Map
{
public:
    std::vector<ns3__mapItem*>* item;
    struct soap* soap;
};

// Progress of a command running on the CMS.
class ns1__clifstatus
{
public:
    xsd__boolean complete;
    xsd__base64Binary err;
    xsd__boolean errOpen;
    xsd__base64Binary out;
    xsd__boolean outOpen;
    xsd__long pollPeriod;
    xsd__int returnCode;
    xsd__string* sessionId;
    struct soap* soap;
};

// Responses. A member whose name starts with an underscore is read from the
// first child element whatever its name, and written under its name without
// the underscore; getCMSConfigPath's return is read only by its own name.
struct ns0__logonResponse
{
    xsd__string _logonReturn;
};
int ns0__logon(xsd__string username, xsd__string password, struct ns0__logonResponse& r);

struct ns0__logonAsRootResponse
{
    xsd__string _logonAsRootReturn;
};
int ns0__logonAsRoot(xsd__base64Binary cmsPrivateKeyBytes, xsd__string username, struct ns0__logonAsRootResponse& r);

struct ns0__getCMSConfigPathResponse
{
    xsd__string getCMSConfigPathReturn;
};
int ns0__getCMSConfigPath(struct ns0__getCMSConfigPathResponse& r);

struct ns5__invokeResponse
{
    ns1__clifstatus* _invokeReturn;
};
int ns5__invoke(xsd__string in0, xsd__string in1, ns3__Map* in2, ArrayOf_USCORExsd_USCOREstring* in3,
                struct ns5__invokeResponse& r);

struct ns5__statusResponse
{
    ns1__clifstatus* _statusReturn;
};
int ns5__status(xsd__string in0, xsd__string in1, ns3__Map* in2, xsd__base64Binary in3, xsd__boolean in4,
                struct ns5__statusResponse& r);
