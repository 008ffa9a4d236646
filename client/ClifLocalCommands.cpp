// clifclient under its own name: --help, --version and --check.
#include "ClifLocalCommands.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <strings.h>
#include <sys/stat.h>

#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "ClifCause.h"
#include "ClifConfigDirectory.h"
#include "ClifEndpointCheck.h"
#include "ClifParser.h"
#include "ClifRegularFile.h"
#include "TlsVerifyRecord.h"
#include "stdsoap2.h"

namespace
{
const char* const OWN_NAME = "clifclient";

const char* const HELP =
    "Usage: COMMAND [--user NAME] [--pass PASSWORD] [--cms HOST] [--env NAME=VALUE]... [ARGUMENT]...\n"
    "       clifclient --help | --version | --check\n"
    "\n"
    "clifclient runs Orva Fleetwise management commands on the central management server (CMS).\n"
    "It is installed under the name of each command (velnode, veluser, ...), as links beside it.\n"
    "Started as velnode, it logs on to the CMS over SOAP on HTTPS, runs velnode there with the\n"
    "remaining arguments, sends its standard input to it, writes the command's standard output and\n"
    "standard error as they arrive, and exits with the command's return code.\n"
    "\n"
    "Options of every command (anywhere on the line; everything else is forwarded unchanged):\n"
    "  --user NAME, --username NAME      log on as NAME (default: your login name)\n"
    "  --pass PASSWORD, --password PASSWORD\n"
    "                                    log on with this password; without one the client logs on\n"
    "                                    with the CMS's key file, which works only on the CMS itself\n"
    "  --cms HOST                        name of the CMS (the URLs come from CLIClientConfig.cfg)\n"
    "  --env NAME=VALUE                  send NAME=VALUE in the command's environment (repeatable)\n"
    "\n"
    "Options under the name clifclient:\n"
    "  --help      this text\n"
    "  --version   the client's version and its SOAP and TLS libraries\n"
    "  --check     check the configuration without logging on: the files, the two URLs and a TLS\n"
    "              handshake with each service; exit 0 only when everything would work\n"
    "\n"
    "Files, in the configuration directory: the \"bin\" directory beside the directory the command\n"
    "was started from, as a path through \"..\" (/opt/vel/clif/bin/velnode reads /opt/vel/clif/bin/../bin/).\n"
    "A command found through PATH counts from the PATH directory it was found in: a symbolic link to a\n"
    "command from another directory moves the configuration directory with it (add the install\n"
    "directory to PATH instead); links made beside clifclient move nothing.\n"
    "  CLIClientConfig.cfg  velpimainurl=URL of the logon service, clifserviceurl=URL of the clif\n"
    "                       service; optional cms=HOST, LOCALE=..., ENCODING=..., LINE_END=...\n"
    "  server_cert.pem      the CA certificate that signed the CMS's certificate, in PEM\n"
    "  randomfile           random bytes that seed TLS: head -c 1024 /dev/urandom > randomfile\n"
    "\n"
    "Environment:\n"
    "  VEL_CLIF_TRACE  when set, each SOAP call is traced on standard error (never credentials)\n"
    "\n"
    "Exit status:\n"
    "  the remote command's return code (a code that is not 0 but whose low 8 bits are 0 gives 1)\n"
    "  1         a command-line error, or the wait on standard input failed\n"
    "  2, 13, .. CLIClientConfig.cfg could not be read (the system's error number)\n"
    "  255       the logon, the start of the command or a status call failed\n"
    "The cause of a failure is written on standard error, behind the command name.\n";

std::string absoluteDirectory(const std::string& dir)
{
    std::string path = ClifCause::configFilePath("");
    return path.empty() ? dir : path;
}

// The state lines of the report: "  ok    what  detail" or "  FAIL  ..." with
// further lines of the cause indented below.
class Report
{
public:
    void ok(const std::string& what, const std::string& detail) { line("ok  ", what, detail); }
    void warn(const std::string& what, const std::string& detail) { line("warn", what, detail); }
    void fail(const std::string& what, const std::string& cause)
    {
        ++m_problems;
        line("FAIL", what, cause);
    }
    void note(const std::string& text) { std::cout << "          " << text << "\n"; }
    int problems() const { return m_problems; }

private:
    void line(const char* mark, const std::string& what, const std::string& detail)
    {
        std::string::size_type newline = detail.find('\n');
        std::cout << "  " << mark << "  " << what << ": " << detail.substr(0, newline) << "\n";
        while (newline != std::string::npos)
        {
            std::string::size_type next = detail.find('\n', newline + 1);
            note(detail.substr(newline + 1, next == std::string::npos ? std::string::npos : next - newline - 1));
            newline = next;
        }
    }

    int m_problems = 0;
};

std::string validity(X509* cert, bool& usable)
{
    BIO* out = BIO_new(BIO_s_mem());
    std::string notAfter;
    if (out)
    {
        ASN1_TIME_print(out, X509_get0_notAfter(cert));
        char* text = nullptr;
        long length = BIO_get_mem_data(out, &text);
        notAfter.assign(text ? text : "", length > 0 ? size_t(length) : 0);
        BIO_free(out);
    }
    usable = true;
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
    {
        usable = false;
        return "not valid yet";
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
    {
        usable = false;
        return "expired on " + notAfter;
    }
    return "valid until " + notAfter;
}

bool checkTlsFiles(Report& report)
{
    std::string problems = ClifCause::ofTlsFiles();
    std::string caPath = ClifCause::configFilePath("server_cert.pem");
    std::string randomPath = ClifCause::configFilePath("randomfile");
    bool caBad = problems.find(caPath) != std::string::npos;
    bool randomBad = problems.find(randomPath) != std::string::npos;
    bool usable = !caBad;
    if (caBad)
    {
        std::string::size_type at = problems.find('\n');
        std::string caLine = randomBad && at != std::string::npos ? problems.substr(at + 1) : problems;
        report.fail("server_cert.pem", caLine);
    }
    else
    {
        FILE* file = std::fopen((s_CLIConfigDirectory + "server_cert.pem").c_str(), "r");
        X509* cert = file ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
        if (file)
            std::fclose(file);
        if (cert)
        {
            bool valid = true;
            std::string detail = caPath + ": subject " + certificateName(X509_get_subject_name(cert)) + "; issuer " +
                                 certificateName(X509_get_issuer_name(cert)) + "; " + validity(cert, valid);
            if (valid)
                report.ok("server_cert.pem", detail);
            else
                report.fail("server_cert.pem", detail);
            usable = valid;
            X509_free(cert);
        }
    }
    if (randomBad)
    {
        report.fail("randomfile", problems.substr(0, problems.find('\n')));
        usable = false;
    }
    else
    {
        struct stat info;
        long long size = stat((s_CLIConfigDirectory + "randomfile").c_str(), &info) == 0 ? info.st_size : 0;
        report.ok("randomfile", randomPath + ": " + std::to_string(size) + " bytes");
    }
    return usable;
}

void checkEndpoint(Report& report, const std::string& url, ClifCause::Service service)
{
    const char* what = service == ClifCause::LOGON_SERVICE ? "logon service" : "clif service";
    ClifEndpointCheck check = ClifEndpointCheck::run(url, service);
    if (check.ok)
        report.ok(what, urlForDisplay(url) + ": " + check.summary);
    else
        report.fail(what, check.cause);
}

int check(const char* programPath)
{
    ClifCmdInvoker invoker;
    s_CLIConfigDirectory = invoker.getCLIConfigDirectory(programPath);
    Report report;
    std::string startedBy = programPath;
    if (!std::strchr(programPath, '/'))
        startedBy += ", found through PATH in " + invoker.findDirInPath(programPath);
    std::cout << "configuration directory: " << absoluteDirectory(s_CLIConfigDirectory) << "\n"
              << "  (from the path clifclient was started by, " << startedBy
              << "; every command linked beside it reads the same)\n";

    const ClifConfigFile& config = invoker.configFile();
    const std::string urls[2] = {config.logonUrl, config.invokeUrl};
    bool configRead = false;
    if (config.openError != 0)
    {
        report.fail("CLIClientConfig.cfg", ClifCause::ofUnreadableConfig(config.openError, programPath));
    }
    else
    {
        configRead = true;
        report.ok("CLIClientConfig.cfg", ClifCause::configFilePath("CLIClientConfig.cfg"));
        for (ClifCause::Service service : {ClifCause::LOGON_SERVICE, ClifCause::CLIF_SERVICE})
        {
            const std::string& url = urls[service];
            report.note(std::string(service == ClifCause::LOGON_SERVICE ? "logon URL (velpimainurl=):  "
                                                                        : "clif URL (clifserviceurl=): ") +
                        (url.empty() ? "none" : urlForDisplay(url)));
        }
    }

    bool tlsUsable = checkTlsFiles(report);
    for (ClifCause::Service service : {ClifCause::LOGON_SERVICE, ClifCause::CLIF_SERVICE})
    {
        const char* what = service == ClifCause::LOGON_SERVICE ? "logon service" : "clif service";
        const std::string& url = urls[service];
        if (!configRead)
            break;
        if (url.empty())
            report.fail(what, ClifCause::ofFailedCall(nullptr, url, service, "check"));
        else if (!tlsUsable)
            report.fail(what, urlForDisplay(url) + ": not tried, the TLS files cannot be used");
        else
            checkEndpoint(report, url, service);
        if (strncasecmp(url.c_str(), "http://", 7) == 0)
            report.warn(what,
                        service == ClifCause::LOGON_SERVICE
                            ? "the password goes in clear text over http:// (an https:// URL would protect it)"
                            : "the logon token goes in clear text over http:// (an https:// URL would protect it)");
    }

    if (report.problems() == 0)
        std::cout << "everything would work\n" << std::flush;
    else
        std::cout << report.problems() << (report.problems() == 1 ? " problem" : " problems")
                  << " found: the commands would fail\n"
                  << std::flush;
    return report.problems() == 0 ? 0 : 1;
}

void printVersion()
{
    std::cout << "clifclient " << VEL_CLIENT_VERSION << " (gSOAP " << GSOAP_VERSION / 100000 << "."
              << GSOAP_VERSION / 1000 % 100 << "." << GSOAP_VERSION % 1000 << ", " << OpenSSL_version(OPENSSL_VERSION)
              << ")\n"
              << std::flush;
}

int usage(const char* problem)
{
    std::cerr << OWN_NAME << ": " << problem << "\n"
              << OWN_NAME << ": clifclient runs commands of the CMS under their own names (velnode, ...);"
              << " under its own name it knows --help, --version and --check\n"
              << std::flush;
    return 1;
}
} // namespace

namespace ClifLocalCommands
{
bool isOwnName(const char* programPath)
{
    if (!programPath)
        return false;
    const char* slash = std::strrchr(programPath, '/');
    return std::strcmp(slash ? slash + 1 : programPath, OWN_NAME) == 0;
}

int run(int argc, char** argv)
{
    ClifCause::setProgramName(OWN_NAME);
    if (argc != 2)
        return usage(argc < 2 ? "no option given" : "one option at a time");
    const char* option = argv[1];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0)
    {
        std::cout << HELP << std::flush;
        return 0;
    }
    if (std::strcmp(option, "--version") == 0)
    {
        printVersion();
        return 0;
    }
    if (std::strcmp(option, "--check") == 0)
        return check(argv[0]);
    return usage((std::string("unknown option ") + option).c_str());
}
} // namespace ClifLocalCommands
