// Serialiser of xsd__base64Binary (ClifByteArray), declared in
// SoapWireTypes.h: bytes as Base64 text, typed xsd:base64Binary. On input the
// element's xsi:type, when present, must name base64Binary or base64 (in any
// namespace: xsd:base64Binary, SOAP-ENC:base64, SOAP-ENC:base64Binary);
// anything else fails the call with SOAP_TYPE. A nil or absent element leaves
// a null pointer and count 0.

#include "soapH.h"

namespace
{
bool typedAsBytes(struct soap* soap, const char* type)
{
    return !*soap->type || !soap_match_tag(soap, soap->type, type)
           || !soap_match_tag(soap, soap->type, ":base64Binary")
           || !soap_match_tag(soap, soap->type, ":base64");
}

// Decodes the element's Base64 text into bytes owned by the context. This is
// the one place where reply bytes are decoded.
bool readBase64Text(struct soap* soap, ClifByteArray* a)
{
    a->__ptr = soap_getbase64(soap, &a->__size, 0);
    return a->__ptr || !soap->error;
}
}

void soap_default_xsd__base64Binary(struct soap* soap, ClifByteArray* a)
{
    (void)soap;
    a->__ptr = nullptr;
    a->__size = 0;
}

void soap_serialize_xsd__base64Binary(struct soap* soap, const ClifByteArray* a)
{
#ifndef WITH_NOIDREF
    if (a->__ptr)
        (void)soap_array_reference(soap, a, a->__ptr, a->__size, SOAP_TYPE_xsd__base64Binary);
#else
    (void)soap;
    (void)a;
#endif
}

int soap_out_xsd__base64Binary(struct soap* soap, const char* tag, int id, const ClifByteArray* a,
                               const char* type)
{
    id = soap_element_id(soap, tag, id, a, a->__ptr, a->__size, type, SOAP_TYPE_xsd__base64Binary, nullptr);
    if (id < 0)
        return soap->error;  // written as nil or as a reference
    if (soap_element_begin_out(soap, tag, id, type) || soap_putbase64(soap, a->__ptr, a->__size))
        return soap->error;
    return soap_element_end_out(soap, tag);
}

ClifByteArray* soap_in_xsd__base64Binary(struct soap* soap, const char* tag, ClifByteArray* a,
                                         const char* type)
{
    if (soap_element_begin_in(soap, tag, 1, nullptr))
        return nullptr;
    if (!typedAsBytes(soap, type))
    {
        soap->error = SOAP_TYPE;
        return nullptr;
    }
    a = static_cast<ClifByteArray*>(soap_id_enter(soap, soap->id, a, SOAP_TYPE_xsd__base64Binary,
                                                  sizeof(ClifByteArray), soap->type, soap->arrayType,
                                                  soap_instantiate, soap_fbase));
    if (!a)
        return nullptr;
    soap_default_xsd__base64Binary(soap, a);
    if (soap->body && *soap->href != '#')
    {
        if (!readBase64Text(soap, a) || soap_element_end_in(soap, tag))
            return nullptr;
    }
    else
    {
        // A reference (href) to bytes given elsewhere in the message.
        a = static_cast<ClifByteArray*>(soap_id_forward(soap, soap->href, a, 0, SOAP_TYPE_xsd__base64Binary,
                                                        SOAP_TYPE_xsd__base64Binary, sizeof(ClifByteArray),
                                                        0, soap_finsert, soap_fbase));
        if (soap->body && soap_element_end_in(soap, tag))
            return nullptr;
    }
    return a;
}
