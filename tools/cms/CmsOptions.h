#ifndef CMS_OPTIONS_H
#define CMS_OPTIONS_H

#include <map>
#include <string>

// Settings of the stand-in CMS, taken from its command line.
struct CmsOptions
{
    std::string host = "127.0.0.1";
    int port = 0;                 // 0: any free port
    std::string serverPem;        // private key and certificate chain; empty: plain HTTP
    std::string usersFile;        // lines "user:password"
    std::string commandsDir;      // commands that invoke may run
    std::string configDir;        // answer of getCMSConfigPath; holds ".rconfig.server"
    long long pollPeriod = 200;   // milliseconds, returned with every status
    size_t maxChunk = 1 << 20;    // most output bytes per stream and reply
    std::string recordDir;        // raw requests are written here when set
    std::string scriptDir;        // scripted raw replies are taken from here when set
    long long keepAliveMs = 5000; // idle time after which a kept connection is closed; 0: one request per connection
    long long answerWithinMs = 0; // invoke waits this long for a quick command to end and answers complete
    std::string tlsMax;           // highest TLS version offered: "1.2" or "1.3" (empty: the library's)

    // Parses the command line; on error prints usage and returns false.
    bool parse(int argc, char** argv);
};

// Reads "user:password" lines.
std::map<std::string, std::string> readUsers(const std::string& file);

#endif
