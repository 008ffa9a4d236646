#ifndef CLIF_PARSER_H
#define CLIF_PARSER_H

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ClifConfigDirectory.h"
#include "ClifConfigFile.h"
#include "ClifInputRelay.h"
#include "ClifResult.h"

class CLIClientInvoke;
class CLIClientLogon;

// One run of the remote command client: reads the command line, the client
// configuration and the caller's environment, logs on to the CMS, starts the
// command there and relays input and output until it has finished.
class ClifCmdInvoker
{
public:
    typedef std::map<std::string, std::string> EnvMap;

    // Command-line error bits, as returned by parseCommandLine.
    enum ParseError
    {
        PASSWORD_ERROR = 1,
        USERNAME_ERROR = 2,
        CMS_ERROR = 4,
        ENV_ERROR = 8
    };

    // The whole run; the result is the process exit status.
    int invokeCluiCmd(int argc, char** argv);

    // Command line (ClifParser.cpp).
    int parseCommandLine(int argc, char** argv);
    std::string stripFullPath(const char* path);
    void printError(int flags);
    bool isValidParam(char* value);
    void getUsernameOnUnix();

    // The relay of standard input (ClifInputRelay.cpp) and of the remote output (ClifOutputWriter.cpp).
    std::string readFromStdIn();
    void displayStatus(ClifResult result);

    // Configuration directory and CLIClientConfig.cfg (ClifConfig.cpp).
    std::string getCLIConfigDirectory(const char* programPath);
    std::string findDirInPath(const char* fileName);
    std::string addSlash(const char* text);
    std::string addSlash(const std::string& text);
    // The file is read on the first use, once per run.
    const ClifConfigFile& configFile();
    void fillCms();
    int getLocalCmsOnUnix();
    int readUrls();

    // Environment map (ClifEnvMap.cpp).
    // Returns the map itself, not a copy: the caller does not use it, and a copy per --env
    // option would make many of them quadratic.
    const EnvMap& buildEnvmap(char* text);
    void fillEnvmap();
    void getLocalEnvMap();
    void updateEnvMapFromConfigFile();
    void getDTFLANGSettings();

    // Read-only views of the run's state.
    const std::string& cms() const { return m_cms; }
    const std::string& logonUrl() const { return m_logonUrl; }
    const std::string& invokeUrl() const { return m_invokeUrl; }
    const EnvMap& envMap() const { return m_envMap; }
    const EnvMap& userEnvMap() const { return m_userEnvMap; }
    const std::vector<std::string>& args() const { return m_args; }

private:
    std::string logOn(CLIClientLogon& logon);
    void printConnectionHelp();
    int pollUntilComplete(CLIClientInvoke& invoker, const std::string& token, ClifResult current);
    void pauseForPollPeriod(int pollPeriod);
    void writeOut(std::FILE* stream, const char* streamName, const unsigned char* data, int length);

    std::string m_password;
    std::string m_username;
    std::string m_cms;
    std::string m_logonUrl;
    std::string m_invokeUrl;
    std::optional<ClifConfigFile> m_configFile;
    EnvMap m_envMap;
    EnvMap m_userEnvMap;
    std::vector<std::string> m_args;
    bool m_stdinOpen = false;
    ClifInputRelay m_stdinRelay{0};
};

#endif
