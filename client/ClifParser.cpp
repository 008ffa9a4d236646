// Command line, user name and the local side of the input and output relay.
#include "ClifParser.h"
#include "ClifStandardStreams.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <pwd.h>
#include <sys/select.h>
#include <unistd.h>

std::string s_CLIConfigDirectory;

namespace {

bool isOption(const char* arg, const char* longName, const char* shortName)
{
    return std::strcmp(arg, longName) == 0 || (shortName && std::strcmp(arg, shortName) == 0);
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

    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        bool hasNext = i + 1 < argc;
        if (isOption(arg, "--password", "--pass")) {
            if (hasNext && isValidParam(argv[i + 1]))
                m_password = argv[++i];
            else
                flags |= PASSWORD_ERROR;
        } else if (isOption(arg, "--username", "--user")) {
            if (hasNext && isValidParam(argv[i + 1]))
                m_username = argv[++i];
            else
                flags |= USERNAME_ERROR;
        } else if (hasNext && isOption(arg, "--cms", nullptr)) {
            if (isValidParam(argv[i + 1]))
                m_cms = argv[++i];
            else
                flags |= CMS_ERROR;
        } else if (hasNext && isOption(arg, "--env", nullptr)) {
            if (isValidParam(argv[i + 1])) {
                // A value without '=' names no variable: it is taken off the
                // command line but counts as an environment error.
                char* value = argv[++i];
                if (std::strchr(value, '='))
                    buildEnvmap(value);
                else
                    flags |= ENV_ERROR;
            } else {
                flags |= ENV_ERROR;
            }
        } else {
            m_args.push_back(arg);
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
    std::cout << "Parse error. The following options caused trouble: \n";
    if (flags & PASSWORD_ERROR)
        std::cout << "The password argument was incorrectly specified.\n";
    if (flags & USERNAME_ERROR)
        std::cout << "The username argument was incorrectly specified.\n";
    if (flags & CMS_ERROR)
        std::cout << "The cms argument was incorrectly specified.\n";
    if (flags & ENV_ERROR)
        std::cout << "The environment argument(s) was incorrectly specified.\n";
    std::cout << std::flush;
}

// Takes the argument vector's char* as the command line hands it over.
bool ClifCmdInvoker::isValidParam(char* value)  // NOLINT(readability-non-const-parameter)
{
    if (value == nullptr)
        return false;
    if (value[0] == '\0') {
        std::cout << "Error: no arg specified, but expected\n" << std::flush;
        return false;
    }
    return value[0] != '-';
}

void ClifCmdInvoker::getUsernameOnUnix()
{
    struct passwd* entry = getpwuid(getuid());
    if (entry && entry->pw_name)
        m_username = entry->pw_name;
}

// Reads the lines that are ready now, one character at a time so that nothing
// is taken ahead of the next readiness test. Never waits for input to arrive.
std::string ClifCmdInvoker::readFromStdIn()
{
    std::string text;
    for (;;) {
        if (!m_stdinReader.hasBuffered()) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(0, &readable);
            struct timeval timeout;
            timeout.tv_sec = 0;
            timeout.tv_usec = 1;
            int ready = select(1, &readable, nullptr, nullptr, &timeout);
            if (ready < 0) {
                std::perror("select: poll");
                std::exit(1);
            }
            if (ready == 0 || !FD_ISSET(0, &readable))
                return text;
        }
        if (!m_stdinReader.appendLine(text)) {
            m_stdinOpen = false;
            return text;
        }
    }
}

// A closed reader of either stream ends the run here, before any further status call.
void ClifCmdInvoker::displayStatus(ClifResult result)
{
    writeOut(stdout, result.outData, result.outLength);
    writeOut(stderr, result.errData, result.errLength);
}

void ClifCmdInvoker::writeOut(std::FILE* stream, const unsigned char* data, int length)
{
    errno = 0;
    if (length > 0 && data)
        std::fwrite(data, 1, static_cast<size_t>(length), stream);
    std::fflush(stream);
    if (std::ferror(stream)) {
        int error = errno;
        std::clearerr(stream);
        ClifStandardStreams::writeFailed(error);
    }
}
