// Serialisers of the booleans and integers (xsd__boolean, xsd__int,
// xsd__long), declared in SoapWireTypes.h. All three are written without
// xsi:type, whatever type the generated code passes. On input a boolean is
// read whatever its xsi:type says; for integers the runtime's check of its
// built-in types stays: an integer typed as anything but a numeric type (in
// any namespace) fails the call with SOAP_TYPE. Values given by reference
// (href, as Axis sends them by default) are read as gSOAP reads its own.

#include "soapH.h"

#include <cstring>

const char* soap_xsd__boolean2s(struct soap* soap, bool n)
{
    (void)soap;
    return n ? "true" : "false";
}

// "true" and "false", or the numbers 0 and 1.
int soap_s2xsd__boolean(struct soap* soap, const char* s, bool* a)
{
    if (!s)
        return soap->error;
    if (!std::strcmp(s, "true") || !std::strcmp(s, "false"))
    {
        *a = *s == 't';
        return SOAP_OK;
    }
    if (!*s)
        return soap->error = SOAP_EMPTY;
    long n = 0;
    if (soap_s2long(soap, s, &n) || n < 0 || n > 1)
        return soap->error = SOAP_TYPE;
    *a = n != 0;
    return SOAP_OK;
}

void soap_default_xsd__boolean(struct soap* soap, bool* a)
{
    (void)soap;
    *a = false;
}

int soap_out_xsd__boolean(struct soap* soap, const char* tag, int id, const bool* a, const char* type)
{
    (void)type;
    if (soap_element_begin_out(soap, tag, soap_embedded_id(soap, id, a, SOAP_TYPE_xsd__boolean), nullptr) ||
        soap_send(soap, soap_xsd__boolean2s(soap, *a)))
        return soap->error;
    return soap_element_end_out(soap, tag);
}

bool* soap_in_xsd__boolean(struct soap* soap, const char* tag, bool* a, const char* type)
{
    (void)type;
    if (soap_element_begin_in(soap, tag, 0, nullptr))
        return nullptr;
    a = static_cast<bool*>(
        soap_id_enter(soap, soap->id, a, SOAP_TYPE_xsd__boolean, sizeof(bool), nullptr, nullptr, nullptr, nullptr));
    if (!a)
        return nullptr;
    if (*soap->href != '#')
    {
        int err = soap_s2xsd__boolean(soap, soap_value(soap), a);
        if ((soap->body && soap_element_end_in(soap, tag)) || err)
            return nullptr;
    }
    else
    {
        a = static_cast<bool*>(soap_id_forward(soap, soap->href, a, 0, SOAP_TYPE_xsd__boolean, SOAP_TYPE_xsd__boolean,
                                               sizeof(bool), 0, nullptr, nullptr));
        if (soap->body && soap_element_end_in(soap, tag))
            return nullptr;
    }
    return a;
}

void soap_default_xsd__int(struct soap* soap, int* a)
{
    (void)soap;
    *a = 0;
}

int soap_out_xsd__int(struct soap* soap, const char* tag, int id, const int* a, const char* type)
{
    (void)type;
    return soap_outint(soap, tag, id, a, nullptr, SOAP_TYPE_xsd__int);
}

int* soap_in_xsd__int(struct soap* soap, const char* tag, int* a, const char* type)
{
    return soap_inint(soap, tag, a, type, SOAP_TYPE_xsd__int);
}

void soap_default_xsd__long(struct soap* soap, LONG64* a)
{
    (void)soap;
    *a = 0;
}

int soap_out_xsd__long(struct soap* soap, const char* tag, int id, const LONG64* a, const char* type)
{
    (void)type;
    return soap_outLONG64(soap, tag, id, a, nullptr, SOAP_TYPE_xsd__long);
}

LONG64* soap_in_xsd__long(struct soap* soap, const char* tag, LONG64* a, const char* type)
{
    return soap_inLONG64(soap, tag, a, type, SOAP_TYPE_xsd__long);
}
