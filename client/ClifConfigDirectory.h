#ifndef CLIF_CONFIG_DIRECTORY_H
#define CLIF_CONFIG_DIRECTORY_H

#include <string>

// The client configuration directory, always ending in '/'. Set once while the
// command line is scanned; the SOAP clients take "server_cert.pem" and
// "randomfile" from it.
extern std::string s_CLIConfigDirectory;

#endif
