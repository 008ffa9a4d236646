#ifndef SOAP_ERROR_H
#define SOAP_ERROR_H

#include <string>

struct soap;

// The fault of the last failed call of a service client: code, string and
// detail, each empty when the runtime left it unset.
struct SoapError
{
    std::string faultCode;
    std::string faultString;
    std::string faultDetail;

    SoapError(const std::string& code, const std::string& string, const std::string& detail)
        : faultCode(code), faultString(string), faultDetail(detail)
    {}

    // Copies the fault that the runtime context holds after a failed call.
    static SoapError fromContext(struct soap* context);
};

#endif
