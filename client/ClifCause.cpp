#include "ClifCause.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "ClifCallTrace.h"
#include "ClifConfigDirectory.h"
#include "ClifRegularFile.h"
#include "TlsVerifyRecord.h"
#include "soapH.h"

namespace
{
std::string s_programName; // empty until set: "clifclient"
std::string s_noted;
bool s_notedIsRoot = false;

const char* const CONFIG_FILE_NAME = "CLIClientConfig.cfg";

struct UrlParts
{
    std::string scheme;
    std::string host;
    std::string port;
};

UrlParts partsOf(const std::string& url)
{
    UrlParts parts;
    std::string::size_type colon = url.find("://");
    std::string rest = url;
    if (colon != std::string::npos)
    {
        parts.scheme = url.substr(0, colon);
        rest = url.substr(colon + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    std::string::size_type at = rest.rfind('@');
    if (at != std::string::npos)
        rest = rest.substr(at + 1);
    if (!rest.empty() && rest[0] == '[')
    {
        std::string::size_type close = rest.find(']');
        parts.host = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':')
            parts.port = rest.substr(close + 2);
    }
    else
    {
        std::string::size_type portColon = rest.find(':');
        parts.host = rest.substr(0, portColon);
        if (portColon != std::string::npos)
            parts.port = rest.substr(portColon + 1);
    }
    if (parts.port.empty())
        parts.port = parts.scheme == "https" ? "443" : "80";
    return parts;
}

// The runtime's texts may run over several lines (the TLS library's error queue).
std::string oneLine(const char* text)
{
    std::string line;
    for (const char* p = text ? text : ""; *p; ++p)
    {
        if (*p == '\n' || *p == '\r')
        {
            if (!line.empty() && line.compare(line.size() - 2, 2, "; ") != 0 && p[1] != '\0')
                line += "; ";
        }
        else
        {
            line += *p;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';'))
        line.pop_back();
    return line;
}

const char* faultStringOf(const struct soap* context)
{
    const char** text = soap_faultstring(const_cast<struct soap*>(context));
    return text && *text ? *text : "";
}

const char* faultDetailOf(const struct soap* context)
{
    const char** text = soap_faultdetail(const_cast<struct soap*>(context));
    return text && *text ? *text : "";
}

// The reason of the last OpenSSL error in a text such as
// "error:0A00010B:SSL routines::wrong version number".
std::string tlsReason(const std::string& text)
{
    std::string::size_type routines = text.rfind("routines:");
    if (routines == std::string::npos)
        return text;
    std::string::size_type colon = text.find(':', routines + 9);
    std::string reason = colon == std::string::npos ? text.substr(routines + 9) : text.substr(colon + 1);
    std::string::size_type end = reason.find(';');
    return end == std::string::npos ? reason : reason.substr(0, end);
}

const char* httpReason(int status)
{
    switch (status)
    {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
    }
}

const char* urlKeyOf(ClifCause::Service service)
{
    return service == ClifCause::LOGON_SERVICE ? "velpimainurl" : "clifserviceurl";
}

const char* serviceNameOf(ClifCause::Service service)
{
    return service == ClifCause::LOGON_SERVICE ? "logon service" : "clif service";
}

// Words of the configuration file that look like entries but set nothing: a
// misspelt key is the usual reason for a URL that is missing.
std::string unknownEntries()
{
    std::ifstream file(ClifCause::configFilePath(CONFIG_FILE_NAME).c_str());
    std::string word;
    std::string found;
    int count = 0;
    static const char* const known[] = {"clifserviceurl=", "velpimainurl=", "cms", "LINE_END=", "LOCALE=", "ENCODING="};
    while (file >> word && count < 5)
    {
        std::string::size_type equals = word.find('=');
        // "#KEY=value" is the sample file's way to show a setting without making it.
        if (equals == std::string::npos || equals == 0 || word[0] == '#')
            continue;
        bool isKnown = false;
        for (const char* key : known)
            isKnown = isKnown || word.compare(0, std::strlen(key), key) == 0;
        if (!isKnown)
        {
            found += (found.empty() ? "" : ", ") + word.substr(0, equals + 1);
            ++count;
        }
    }
    return found;
}

std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    std::string dir = cwd;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + (path.compare(0, 2, "./") == 0 ? path.substr(2) : path);
}

std::string firstCertificateSubject(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return "";
    X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    std::string subject = cert ? certificateName(X509_get_subject_name(cert)) : "";
    X509_free(cert);
    return subject;
}

std::string ofTlsHandshake(const struct soap* context, const std::string& shownUrl, const UrlParts& at)
{
    const TlsVerifyFailure& verify = lastVerifyFailure();
    std::string where = at.host + " port " + at.port + " (" + shownUrl + ")";
    std::string pem = ClifCause::configFilePath("server_cert.pem");
    if (verify.failed)
    {
        std::string cause = "the certificate of " + where + " does not verify against " + pem + ": " + verify.reason +
                            "\ncertificate " + (verify.depth == 0 ? "" : "in its chain ") +
                            "subject: " + verify.subject + "; issuer: " + verify.issuer;
        if (verify.depth == 0 && !verify.subject.empty() && verify.subject == firstCertificateSubject(pem))
            return cause + " (server_cert.pem holds this certificate itself; it must hold the certificate of "
                           "its issuer, the CA that signed it)";
        return cause + " (server_cert.pem must hold the CA certificate that signed the CMS's certificate)";
    }
    std::string reason = tlsReason(oneLine(faultStringOf(context)));
    std::string cause = "TLS handshake with " + where + " failed: " + reason;
    // A plain-HTTP server answers a TLS greeting with an HTTP error page
    // (read as a bad record) or closes the connection.
    if (reason.find("wrong version number") != std::string::npos ||
        reason.find("packet length too long") != std::string::npos ||
        reason.find("record layer failure") != std::string::npos ||
        reason.find("unexpected eof") != std::string::npos || reason.find("EOF was observed") != std::string::npos)
        cause += "\nthe server did not answer in TLS; if it serves plain HTTP on that port, the URL must start "
                 "with http://";
    return cause;
}
} // namespace

namespace ClifCause
{
void setProgramName(const std::string& name)
{
    s_programName = name;
    ClifCallTrace::setReport(report);
}

const std::string& programName()
{
    static const std::string s_ownName = "clifclient";
    return s_programName.empty() ? s_ownName : s_programName;
}

void report(const std::string& lines)
{
    std::string text;
    std::string::size_type start = 0;
    while (start < lines.size())
    {
        std::string::size_type end = lines.find('\n', start);
        if (end == std::string::npos)
            end = lines.size();
        text += programName() + ": " + lines.substr(start, end - start) + "\n";
        start = end + 1;
    }
    std::cerr << text << std::flush;
}

void note(const std::string& lines)
{
    if (!s_notedIsRoot)
        s_noted = lines;
}

void noteRoot(const std::string& lines)
{
    if (!s_notedIsRoot)
    {
        s_noted = lines;
        s_notedIsRoot = true;
    }
}

void reportNoted()
{
    if (!s_noted.empty())
        report(s_noted);
    s_noted.clear();
    s_notedIsRoot = false;
}

std::string configFilePath(const char* name)
{
    return absolutePath(s_CLIConfigDirectory + name);
}

std::string ofFailedCall(const struct soap* context, const std::string& endpoint, Service service,
                         const char* operation)
{
    if (endpoint.empty())
    {
        std::string cause = std::string("no URL for the ") + serviceNameOf(service) + ": " +
                            configFilePath(CONFIG_FILE_NAME) + " has no " + urlKeyOf(service) + "= entry";
        std::string unknown = unknownEntries();
        if (!unknown.empty())
            cause += "\nentries with unknown keys, which set nothing: " + unknown;
        return cause;
    }
    if (!context)
        return std::string(operation) + " call to " + urlForDisplay(endpoint) + " failed: out of memory";
    if (!context->ctx && context->error == SOAP_SSL_ERROR)
        return ofFailedSetup(context);

    std::string shownUrl = urlForDisplay(endpoint);
    UrlParts at = partsOf(endpoint);
    std::string fault = oneLine(faultStringOf(context));
    std::string detail = oneLine(faultDetailOf(context));
    int error = context->error;

    if (error == SOAP_TCP_ERROR)
    {
        if (detail.find("getaddrinfo") != std::string::npos || detail.find("host by name") != std::string::npos)
            return "cannot resolve host " + at.host + " (" + shownUrl + "): " + fault;
        if (detail.find("SSL_connect") != std::string::npos)
            return "TLS handshake with " + at.host + " port " + at.port + " (" + shownUrl + ") failed: " + fault;
        return "cannot connect to " + at.host + " port " + at.port + " (" + shownUrl + "): " + fault;
    }
    if (error == SOAP_SSL_ERROR)
        return ofTlsHandshake(context, shownUrl, at);
    if (error >= 100 && error < 600)
    {
        std::string cause = "HTTP " + std::to_string(error) + (*httpReason(error) ? " " : "") + httpReason(error) +
                            " from " + shownUrl + " (" + operation + " call)";
        if (error == 404)
            cause += std::string("\nno ") + serviceNameOf(service) + " at that path: check " + urlKeyOf(service) +
                     "= in " + configFilePath(CONFIG_FILE_NAME);
        return cause;
    }
    if (error == SOAP_FAULT || error == SOAP_CLI_FAULT || error == SOAP_SVR_FAULT)
    {
        bool isLogon = service == LOGON_SERVICE;
        return std::string(isLogon ? "logon" : operation) + " refused by the CMS (" + shownUrl + "): " + fault;
    }
    if (error == SOAP_EOF)
    {
        std::string cause = "no reply from " + at.host + " port " + at.port + " (" + shownUrl + ", " + operation +
                            " call): the connection ended before a complete reply";
        if (at.scheme == "http")
            cause += "\nif the server speaks TLS on that port, the URL must start with https://";
        return cause;
    }
    std::string cause = std::string(operation) + " call to " + shownUrl + " failed: " + fault;
    if (!detail.empty())
        cause += " (" + detail + ")";
    return cause;
}

std::string ofTlsFiles()
{
    std::string randomFile = configFilePath("randomfile");
    std::string caFile = configFilePath("server_cert.pem");
    std::string problems;
    if (int error = checkRegularFile(s_CLIConfigDirectory + "randomfile"))
    {
        problems += "cannot read " + randomFile + ": " +
                    (error == EACCES && access((s_CLIConfigDirectory + "randomfile").c_str(), R_OK) == 0
                         ? std::string("not a regular file")
                         : std::string(std::strerror(error))) +
                    " (it seeds the TLS random generator; make it with: head -c 1024 /dev/urandom > " + randomFile +
                    ")";
    }
    else
    {
        struct stat info;
        if (stat((s_CLIConfigDirectory + "randomfile").c_str(), &info) == 0 && info.st_size == 0)
            problems += randomFile +
                        " is empty (it seeds the TLS random generator; fill it with: head -c 1024 "
                        "/dev/urandom > " +
                        randomFile + ")";
    }
    std::string caProblem;
    if (int error = checkRegularFile(s_CLIConfigDirectory + "server_cert.pem"))
    {
        caProblem = "cannot read " + caFile + ": " +
                    (error == EACCES && access((s_CLIConfigDirectory + "server_cert.pem").c_str(), R_OK) == 0
                         ? std::string("not a regular file")
                         : std::string(std::strerror(error)));
    }
    else
    {
        FILE* file = std::fopen((s_CLIConfigDirectory + "server_cert.pem").c_str(), "r");
        X509* cert = file ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
        if (file)
            std::fclose(file);
        if (!cert)
            caProblem = caFile + " holds no PEM certificate (it must hold the CA certificate that signed the "
                                 "CMS's certificate)";
        X509_free(cert);
    }
    if (!caProblem.empty())
        problems += (problems.empty() ? "" : "\n") + caProblem;
    return problems;
}

std::string ofFailedSetup(const struct soap* context)
{
    std::string files = ofTlsFiles();
    if (!files.empty())
        return files;
    std::string cause = "TLS set-up failed";
    if (context)
    {
        std::string detail = oneLine(faultDetailOf(context));
        cause += ": " + tlsReason(oneLine(faultStringOf(context)));
        if (!detail.empty())
            cause += " (" + detail + ")";
    }
    return cause + " with " + configFilePath("server_cert.pem") + " and " + configFilePath("randomfile");
}

std::string ofUnreadableKeyFile(const std::string& path)
{
    int error = checkRegularFile(path);
    std::string why = error == 0                                           ? "cannot be read"
                      : error == EACCES && access(path.c_str(), R_OK) == 0 ? "not a regular file"
                                                                           : std::strerror(error);
    return "logon without a password: cannot read the CMS key file " + path + ": " + why +
           "\nthat logon works only on the CMS itself, for a user who may read that file; elsewhere give --user "
           "and --pass";
}

void warnIfClearText(const std::string& url, const char* secret)
{
    if (strncasecmp(url.c_str(), "http://", 7) == 0)
        report(std::string("warning: ") + secret + " goes in clear text to " + urlForDisplay(url) +
               " (an https:// URL would protect it)");
}

std::string ofUnreadableConfig(int error, const char* programPath)
{
    std::string tried = configFilePath(CONFIG_FILE_NAME);
    std::string why = error == EACCES && access((s_CLIConfigDirectory + CONFIG_FILE_NAME).c_str(), R_OK) == 0
                          ? "not a regular file"
                          : std::strerror(error);
    std::string cause = "cannot read the configuration file " + tried + ": " + why;

    // The directory the program was found in: the configuration directory without "../bin/".
    const std::string up = "../bin/";
    const std::string& dir = s_CLIConfigDirectory;
    if (dir.size() < up.size() || dir.compare(dir.size() - up.size(), up.size(), up) != 0)
        return cause;
    std::string path = programPath ? programPath : "";
    std::string::size_type slash = path.rfind('/');
    std::string started = absolutePath(dir.substr(0, dir.size() - up.size()) +
                                       (slash == std::string::npos ? path : path.substr(slash + 1)));
    struct stat info;
    if (lstat(started.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return cause;
    // The link as the user made it, one step: the directory it points into is
    // the one whose configuration the command would have found.
    char target[PATH_MAX];
    ssize_t length = readlink(started.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return cause;
    std::string link(target, size_t(length));
    if (link[0] != '/')
        link = started.substr(0, started.rfind('/') + 1) + link;
    std::string targetDir = link.substr(0, link.rfind('/') + 1);
    // A command linked to clifclient beside it (as installed) moves nothing.
    char startedReal[PATH_MAX];
    char targetReal[PATH_MAX];
    if (realpath(started.substr(0, started.rfind('/') + 1).c_str(), startedReal) &&
        realpath(targetDir.c_str(), targetReal) && std::strcmp(startedReal, targetReal) == 0)
        return cause;
    cause += "\n" + started + " is a symbolic link to " + link +
             ": the configuration directory is taken from the path the command was started by, not from the "
             "link's target";
    if (checkRegularFile(targetDir + "../bin/" + CONFIG_FILE_NAME) == 0)
        cause += " (" + targetDir + "../bin/" + CONFIG_FILE_NAME + " exists: put " +
                 targetDir.substr(0, targetDir.size() - 1) + " on PATH instead of linking)";
    return cause;
}
} // namespace ClifCause
