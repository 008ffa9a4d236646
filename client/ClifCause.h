#ifndef CLIF_CAUSE_H
#define CLIF_CAUSE_H

#include <string>

#include "UrlForDisplay.h"

struct soap;

// The cause of a failed step, for the user, on standard error: one or two
// lines, each starting with the command name the user typed ("velnode: ..."),
// then what failed and where (host and port, URL, file with its full path)
// and why (system or TLS error text, HTTP status, the CMS's fault string).
// Standard output and exit statuses are left as they are.
//
// Rule: a cause never holds the password, the logon token or key bytes, and
// no request or reply payload: only URLs (without user information), file
// names, error texts and the fault string the server sent.
namespace ClifCause
{
// Which service a call went to: names the configuration key of its URL.
enum Service
{
    LOGON_SERVICE,
    CLIF_SERVICE
};

// Also sends the call trace's lines through report.
void setProgramName(const std::string& name);
const std::string& programName();

// Writes the lines (separated by '\n') to standard error, each behind the program name.
void report(const std::string& lines);

// Notes why the run is about to fail; reportNoted prints it when the run ends
// with a failure. A failed TLS set-up is the root of everything after it and
// stays noted; otherwise the latest cause replaces the one before.
void note(const std::string& lines);
void noteRoot(const std::string& lines);
void reportNoted();

// The cause of a failed call on the context: `endpoint` is the URL the proxy
// called (empty when the configuration gave none), `operation` its name.
std::string ofFailedCall(const struct soap* context, const std::string& endpoint, Service service,
                         const char* operation);

// What is wrong with "server_cert.pem" and "randomfile" of the configuration
// directory; empty when both can be used.
std::string ofTlsFiles();

// What a failed TLS set-up of the context comes from: the files when they are
// at fault, else the TLS library's own words.
std::string ofFailedSetup(const struct soap* context);

// Why the configuration file could not be read (error number of the open),
// with the path tried; a second line when the program was started through a
// symbolic link, which does not move the configuration directory.
std::string ofUnreadableConfig(int error, const char* programPath);

// Why the CMS key file that the logon without a password reads cannot be read.
std::string ofUnreadableKeyFile(const std::string& path);

// Warns on standard error when `secret` (what travels: "the password", "the
// CMS key") is about to go to a plain http:// URL. The call still goes.
void warnIfClearText(const std::string& url, const char* secret);

// The full path of a configuration file ("server_cert.pem", ...): the
// configuration directory made absolute (it is kept as the program path gave
// it, for instance "./../bin/"), the ".." steps left in.
std::string configFilePath(const char* name);
} // namespace ClifCause

#endif
