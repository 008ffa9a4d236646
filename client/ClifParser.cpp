// Command line and user name.
#include "ClifParser.h"
#include "ClifMessages.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include <pwd.h>
#include <unistd.h>

namespace
{

bool isOption(const char* arg, const char* longName, const char* shortName)
{
    return std::strcmp(arg, longName) == 0 || (shortName && std::strcmp(arg, shortName) == 0);
}

// Overwrites an argument in place, so that the process table (ps, /proc/PID/cmdline) no longer
// shows it once it has been read.
void hideArgument(char* arg)
{
    std::memset(arg, '*', std::strlen(arg));
}

// The option's name when arg is "--password=..." or "--pass=...", else null. Such an argument is no
// option; it is forwarded, but it most likely holds a password.
const char* passwordWithEquals(const char* arg)
{
    for (const char* name : {"--password", "--pass"})
    {
        size_t length = std::strlen(name);
        if (std::strncmp(arg, name, length) == 0 && arg[length] == '=')
            return name;
    }
    return nullptr;
}

} // namespace

int ClifCmdInvoker::parseCommandLine(int argc, char** argv)
{
    m_envMap.clear();
    m_userEnvMap.clear();
    int flags = 0;

    // Element 0 is always the program path, whatever it looks like.
    const char* programPath = (argc > 0 && argv[0]) ? argv[0] : "";
    s_CLIConfigDirectory = getCLIConfigDirectory(programPath);
    m_args.push_back(stripFullPath(programPath));

    for (int i = 1; i < argc; ++i)
    {
        char* arg = argv[i];
        bool hasNext = i + 1 < argc;
        if (isOption(arg, "--password", "--pass"))
        {
            if (hasNext && isValidParam(argv[i + 1]))
            {
                m_password = argv[++i];
                hideArgument(argv[i]);
            }
            else
            {
                flags |= PASSWORD_ERROR;
            }
        }
        else if (isOption(arg, "--username", "--user"))
        {
            if (hasNext && isValidParam(argv[i + 1]))
                m_username = argv[++i];
            else
                flags |= USERNAME_ERROR;
        }
        else if (hasNext && isOption(arg, "--cms", nullptr))
        {
            if (isValidParam(argv[i + 1]))
                m_cms = argv[++i];
            else
                flags |= CMS_ERROR;
        }
        else if (hasNext && isOption(arg, "--env", nullptr))
        {
            if (isValidParam(argv[i + 1]))
            {
                // A value without '=' names no variable: it is taken off the
                // command line but counts as an environment error.
                char* value = argv[++i];
                if (std::strchr(value, '='))
                    buildEnvmap(value);
                else
                    flags |= ENV_ERROR;
            }
            else
            {
                flags |= ENV_ERROR;
            }
        }
        else
        {
            m_args.push_back(arg);
            if (const char* option = passwordWithEquals(arg))
            {
                // The forwarded copy is taken; the process table shows only the option's name.
                std::fprintf(stderr, ClifMessages::PASSWORD_WITH_EQUALS, m_args.front().c_str(), option);
                std::fflush(stderr);
                hideArgument(arg + std::strlen(option) + 1);
            }
        }
    }

    if (flags != 0)
        printError(flags);
    return flags;
}

std::string ClifCmdInvoker::stripFullPath(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(slash + 1) : std::string(path);
}

void ClifCmdInvoker::printError(int flags)
{
    std::cout << ClifMessages::PARSE_ERROR;
    if (flags & PASSWORD_ERROR)
        std::cout << ClifMessages::PASSWORD_ARGUMENT;
    if (flags & USERNAME_ERROR)
        std::cout << ClifMessages::USERNAME_ARGUMENT;
    if (flags & CMS_ERROR)
        std::cout << ClifMessages::CMS_ARGUMENT;
    if (flags & ENV_ERROR)
        std::cout << ClifMessages::ENV_ARGUMENT;
    std::cout << std::flush;
}

// Takes the argument vector's char* as the command line hands it over.
// cppcheck-suppress [constParameter,constParameterPointer]
bool ClifCmdInvoker::isValidParam(char* value) // NOLINT(readability-non-const-parameter)
{
    if (value == nullptr)
        return false;
    if (value[0] == '\0')
    {
        std::cout << ClifMessages::EMPTY_ARGUMENT << std::flush;
        return false;
    }
    return value[0] != '-';
}

void ClifCmdInvoker::getUsernameOnUnix()
{
    // The client is single-threaded: the reentrant form would gain nothing.
    const struct passwd* entry = getpwuid(getuid()); // cppcheck-suppress getpwuidCalled
    if (entry && entry->pw_name)
        m_username = entry->pw_name;
}
