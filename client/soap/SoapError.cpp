#include "SoapError.h"

#include "soapH.h"

namespace
{
std::string textOf(const char** field)
{
    return field && *field ? std::string(*field) : std::string();
}
} // namespace

SoapError SoapError::fromContext(struct soap* context)
{
    if (!context)
        return SoapError("", "", "");
    // Fills in code and string from the error number where the runtime set
    // only that (transport and HTTP errors).
    if (context->error)
        soap_set_fault(context);
    std::string detail = textOf(soap_faultdetail(context));
    // A refused TLS handshake is reported under the detail that names where
    // the connection failed, as for every other connect failure; the fault
    // string keeps the TLS library's reason.
    if (context->error == SOAP_SSL_ERROR && detail == "SSL/TLS handshake failed")
        detail = "SSL connect failed in tcp_connect()";
    return SoapError(textOf(soap_faultcode(context)), textOf(soap_faultstring(context)), detail);
}
