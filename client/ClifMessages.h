#ifndef CLIF_MESSAGES_H
#define CLIF_MESSAGES_H

// Every text that clifclient writes for its user, in one place: the command invoker and its logon
// and invocation clients take theirs from here. All but the last three go to standard output.
namespace ClifMessages
{
// Command line (printError, isValidParam): the head line, then one line per faulty option.
constexpr const char* PARSE_ERROR = "Parse error. The following options caused trouble: \n";
constexpr const char* PASSWORD_ARGUMENT = "The password argument was incorrectly specified.\n";
constexpr const char* USERNAME_ARGUMENT = "The username argument was incorrectly specified.\n";
constexpr const char* CMS_ARGUMENT = "The cms argument was incorrectly specified.\n";
constexpr const char* ENV_ARGUMENT = "The environment argument(s) was incorrectly specified.\n";
constexpr const char* EMPTY_ARGUMENT = "Error: no arg specified, but expected\n";

// CLIClientConfig.cfg cannot be opened: while the CMS name is sought, while the URLs are read.
constexpr const char* NO_CONFIG_FOR_CMS = "Unable to open config file; using local machine instead...\n";
constexpr const char* NO_CONFIG_FOR_URLS = "Could not read the URL's to logon to server and invoke commands\n";

// Logon (CLIClientLogon): the TLS set-up failed; the CMS named no configuration directory.
constexpr const char* LOGON_SETUP_FAILED = " There was an error in CLIClientLogon constructor\n";
constexpr const char* EMPTY_INSTALL_PATH = "Empty Install path retuned\n";

// No logon token: what to check, as one block with nothing substituted.
constexpr const char* CONNECTION_HELP =
    "There was a problem connecting to the Orva Fleetwise server. Make sure that:\n"
    "1. Your username has been added to Orva Fleetwise.\n"
    "2. Your username and password, if specified, are correctly spelled.\n"
    "3. Orva Fleetwise is running.\n"
    "4. You used '--' for any long options and double quotes if your username includes a domain.\n"
    "Example: <commandname> --user \"mydomain\\myusername\" --pass yourpasswd\n";

// Failed calls: the invoke call (followed by the fault string and a newline), a status call
// (followed by the fault string while the input is open).
constexpr const char* INVOKE_FAILED = "There was a problem invoking the command, ";
constexpr const char* PANIC_LINE = "Panic: Possibly lost connection to server\n";

// On standard error: a failed write of local output (the stream's name and the system error
// text, as a printf format), and the prefix of perror's line when the wait on standard input fails.
constexpr const char* WRITE_FAILED = "Error writing %s: %s\n";
// On standard error: "--pass=..." or "--password=..." is no option and goes to the command as an
// argument (the program name, then the option's name, as a printf format).
constexpr const char* PASSWORD_WITH_EQUALS = "%s: %s=VALUE is not an option: it is passed on to the command as it is\n";
constexpr const char* SELECT_FAILED = "select: poll";
} // namespace ClifMessages

#endif
