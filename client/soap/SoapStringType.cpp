// Serialiser of xsd__string (std::string), declared in SoapWireTypes.h. It
// reads and writes as gSOAP's own std::string serialiser does, and adds the
// type check: a string element that carries an xsi:type must be typed
// xsd:string, or SOAP-ENC:string as Axis servers type their strings (the same
// type in SOAP encoding); any other type fails the call with SOAP_TYPE.

#include "soapH.h"

namespace
{
bool typedAsString(struct soap* soap)
{
    return !*soap->type || !soap_match_tag(soap, soap->type, "xsd:string") ||
           !soap_match_tag(soap, soap->type, "SOAP-ENC:string");
}
} // namespace

int soap_out_xsd__string(struct soap* soap, const char* tag, int id, const std::string* s, const char* type)
{
    if (s->empty())
        return (soap->mode & SOAP_C_NILSTRING) ? soap_element_null(soap, tag, id, type)
                                               : soap_element_empty(soap, tag, id, type);
    if (soap_element_begin_out(soap, tag, soap_embedded_id(soap, id, s, SOAP_TYPE_xsd__string), type) ||
        soap_string_out(soap, s->c_str(), 0) || soap_element_end_out(soap, tag))
        return soap->error;
    return SOAP_OK;
}

std::string* soap_in_xsd__string(struct soap* soap, const char* tag, std::string* s, const char* type)
{
    (void)type;
    if (soap_element_begin_in(soap, tag, 1, nullptr))
        return nullptr;
    if (!typedAsString(soap))
    {
        soap->error = SOAP_TYPE;
        return nullptr;
    }
    if (!s)
        s = soap_new_xsd__string(soap, -1);
    if (soap->null && s)
        s->erase();
    if (soap->body && *soap->href != '#')
    {
        s = static_cast<std::string*>(soap_id_enter(soap, soap->id, s, SOAP_TYPE_xsd__string, sizeof(std::string),
                                                    soap->type, soap->arrayType, soap_instantiate, soap_fbase));
        if (s)
        {
            const char* text = soap_string_in(soap, 1, 0, -1, nullptr);
            if (!text)
                return nullptr;
            s->assign(text);
        }
    }
    else
    {
        // A reference (href) to a string given elsewhere in the message.
        void* entered = soap_id_enter(soap, soap->id, s, SOAP_TYPE_xsd__string, sizeof(std::string), soap->type,
                                      soap->arrayType, soap_instantiate, soap_fbase);
        s = static_cast<std::string*>(soap_id_forward(soap, soap->href, entered, 0, SOAP_TYPE_xsd__string,
                                                      SOAP_TYPE_xsd__string, sizeof(std::string), 0, soap_finsert,
                                                      nullptr));
    }
    if (soap->body && soap_element_end_in(soap, tag))
        return nullptr;
    return s;
}
