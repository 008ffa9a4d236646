#include "SoapError.h"

#include "soapH.h"

namespace
{
std::string textOf(const char** field)
{
    return field && *field ? std::string(*field) : std::string();
}
}

SoapError* SoapError::fromContext(struct soap* context)
{
    if (!context)
        return new SoapError("", "", "");
    // Fills in code and string from the error number where the runtime set
    // only that (transport and HTTP errors).
    if (context->error)
        soap_set_fault(context);
    return new SoapError(textOf(soap_faultcode(context)), textOf(soap_faultstring(context)),
                         textOf(soap_faultdetail(context)));
}
