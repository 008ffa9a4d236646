"""What clifclient writes for its user, byte for byte, as the black-box tests expect it. The names
are those of client's ClifMessages.h; a text changed there changes here."""

# Command line: the head line, then one line per faulty option.
PARSE_ERROR = b"Parse error. The following options caused trouble: \n"
PASSWORD_ARGUMENT = b"The password argument was incorrectly specified.\n"
USERNAME_ARGUMENT = b"The username argument was incorrectly specified.\n"
CMS_ARGUMENT = b"The cms argument was incorrectly specified.\n"
ENV_ARGUMENT = b"The environment argument(s) was incorrectly specified.\n"
EMPTY_ARGUMENT = b"Error: no arg specified, but expected\n"

# CLIClientConfig.cfg cannot be opened: while the CMS name is sought, while the URLs are read.
NO_CONFIG_FOR_CMS = b"Unable to open config file; using local machine instead...\n"
NO_CONFIG_FOR_URLS = b"Could not read the URL's to logon to server and invoke commands\n"

# Logon: the TLS set-up failed; the CMS named no configuration directory; no logon token.
LOGON_SETUP_FAILED = b" There was an error in CLIClientLogon constructor\n"
EMPTY_INSTALL_PATH = b"Empty Install path retuned\n"
CONNECTION_HELP = (
    b"There was a problem connecting to the Orva Fleetwise server. Make sure that:\n"
    b"1. Your username has been added to Orva Fleetwise.\n"
    b"2. Your username and password, if specified, are correctly spelled.\n"
    b"3. Orva Fleetwise is running.\n"
    b"4. You used '--' for any long options and double quotes if your username includes a domain.\n"
    b"Example: <commandname> --user \"mydomain\\myusername\" --pass yourpasswd\n")

# Failed calls: the invoke call (the fault string and a newline follow), a status call (the fault
# string and a newline follow while the input is open).
INVOKE_FAILED = b"There was a problem invoking the command, "
PANIC_LINE = b"Panic: Possibly lost connection to server\n"
