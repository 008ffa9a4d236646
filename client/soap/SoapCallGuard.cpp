#include "SoapCallGuard.h"

#include <cerrno>
#include <cstring>

#include "soapH.h"

int checkSoapCall(struct soap* context, const char* endpoint)
{
    if (!context)
        return SOAP_EOM;
    if (endpoint && *endpoint)
        return SOAP_OK;
    soap_begin(context);
    context->errnum = ECONNREFUSED;
    return soap_set_receiver_error(context, strerror(ECONNREFUSED),
                                   "connect failed in tcp_connect()", SOAP_TCP_ERROR);
}
