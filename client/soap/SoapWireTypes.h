// Types of the service definition whose serialisers are written by hand
// (gSOAP's custom serializers), for the reading rules soapcpp2 has no switch
// for. soapcpp2 reads this file through VelServices.h; the serialisers are in
// SoapStringType.cpp, SoapByteArrayType.cpp and SoapScalarTypes.cpp.

#include <string>
#include "ClifByteArray.h"

// Strings, typed xsd:string on output; on input an element typed as anything
// but xsd:string or SOAP-ENC:string is a type error.
extern typedef std::string xsd__string;

// Bytes as Base64 text, typed xsd:base64Binary.
extern class ClifByteArray;
extern typedef ClifByteArray xsd__base64Binary;

// Booleans and integers, written without xsi:type. On input a boolean is read
// whatever its xsi:type says; an integer typed as anything but a numeric type
// is a type error.
extern typedef bool xsd__boolean;
extern typedef int xsd__int;
extern typedef LONG64 xsd__long;
