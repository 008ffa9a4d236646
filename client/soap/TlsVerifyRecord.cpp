#include "TlsVerifyRecord.h"

#include <openssl/bio.h>
#include <openssl/x509.h>

namespace
{
TlsVerifyFailure s_failure;
}

std::string certificateName(const X509_NAME* name)
{
    if (!name)
        return "";
    BIO* out = BIO_new(BIO_s_mem());
    if (!out)
        return "";
    X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* text = nullptr;
    long length = BIO_get_mem_data(out, &text);
    std::string result(text ? text : "", length > 0 ? size_t(length) : 0);
    BIO_free(out);
    return result;
}

int recordVerifyResult(int ok, X509_STORE_CTX* store)
{
    if (!ok && !s_failure.failed && store)
    {
        s_failure.failed = true;
        s_failure.reason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        s_failure.depth = X509_STORE_CTX_get_error_depth(store);
        X509* cert = X509_STORE_CTX_get_current_cert(store);
        s_failure.subject = cert ? certificateName(X509_get_subject_name(cert)) : "";
        s_failure.issuer = cert ? certificateName(X509_get_issuer_name(cert)) : "";
    }
    return ok;
}

void clearVerifyFailure()
{
    if (s_failure.failed)
        s_failure = TlsVerifyFailure();
}

const TlsVerifyFailure& lastVerifyFailure()
{
    return s_failure;
}
