// Configuration directory, CLIClientConfig.cfg, the CMS name and the service URLs.
#include "ClifParser.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <unistd.h>

#include "ClifMessages.h"

namespace
{

const char* const CONFIG_FILE_NAME = "CLIClientConfig.cfg";

} // namespace

// The "bin" directory beside the program's own directory, as a path through
// "..": neither made canonical nor resolved through links.
std::string ClifCmdInvoker::getCLIConfigDirectory(const char* programPath)
{
    std::string path = programPath ? programPath : "";
    std::string startDir;
    std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos)
    {
        startDir = path.substr(0, slash + 1);
    }
    else
    {
        startDir = findDirInPath(path.c_str());
        if (startDir.empty())
        {
            char cwd[1024];
            if (getcwd(cwd, sizeof cwd))
                startDir = cwd;
        }
    }
    return addSlash(startDir) + ".." + "/" + "bin" + "/";
}

std::string ClifCmdInvoker::findDirInPath(const char* fileName)
{
    const char* searchPath = std::getenv("PATH");
    if (!searchPath || !*searchPath)
        return "";
    std::string pieces = searchPath;
    std::string::size_type start = 0;
    while (start < pieces.size())
    {
        std::string::size_type colon = pieces.find(':', start);
        std::string::size_type end = colon == std::string::npos ? pieces.size() : colon;
        std::string dir = addSlash(pieces.substr(start, end - start));
        std::FILE* probe = std::fopen((dir + fileName).c_str(), "rb");
        if (probe)
        {
            std::fclose(probe);
            return dir;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return "";
}

std::string ClifCmdInvoker::addSlash(const char* text)
{
    return addSlash(std::string(text ? text : ""));
}

std::string ClifCmdInvoker::addSlash(const std::string& text)
{
    if (!text.empty() && text[text.size() - 1] == '/')
        return text;
    return text + "/";
}

const ClifConfigFile& ClifCmdInvoker::configFile()
{
    if (!m_configFile)
        m_configFile = ClifConfigFile::read(s_CLIConfigDirectory + CONFIG_FILE_NAME);
    return *m_configFile;
}

// A file without a cms entry names the local machine.
void ClifCmdInvoker::fillCms()
{
    const ClifConfigFile& config = configFile();
    if (config.openError != 0)
        std::cout << ClifMessages::NO_CONFIG_FOR_CMS << std::flush;
    if (config.cmsNamed)
        m_cms = config.cms;
    else
        getLocalCmsOnUnix();
}

int ClifCmdInvoker::getLocalCmsOnUnix()
{
    std::vector<char> name(256);
    int error = 0;
    for (int growth = 0; growth <= 10; ++growth)
    {
        errno = 0;
        if (gethostname(name.data(), name.size()) == 0 && std::memchr(name.data(), '\0', name.size()))
        {
            m_cms = name.data();
            return errno;
        }
        error = errno;
        if (error != ENAMETOOLONG && error != 0)
            break;
        name.resize(name.size() + 256);
    }
    return error;
}

int ClifCmdInvoker::readUrls()
{
    const ClifConfigFile& config = configFile();
    if (config.openError != 0)
    {
        std::cout << ClifMessages::NO_CONFIG_FOR_URLS << std::flush;
        return config.openError;
    }
    m_invokeUrl = config.invokeUrl;
    m_logonUrl = config.logonUrl;
    return 0;
}
