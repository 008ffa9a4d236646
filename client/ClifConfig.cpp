// Configuration directory, CLIClientConfig.cfg, the CMS name and the service URLs.
#include "ClifParser.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <unistd.h>

#include "ClifConfigWords.h"
#include "ClifMessages.h"
#include "ClifRegularFile.h"

namespace {

const char* const CONFIG_FILE_NAME = "CLIClientConfig.cfg";

} // namespace

// The "bin" directory beside the program's own directory, as a path through
// "..": neither made canonical nor resolved through links.
std::string ClifCmdInvoker::getCLIConfigDirectory(const char* programPath)
{
    std::string path = programPath ? programPath : "";
    std::string startDir;
    std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos) {
        startDir = path.substr(0, slash + 1);
    } else {
        startDir = findDirInPath(path.c_str());
        if (startDir.empty()) {
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
    while (start < pieces.size()) {
        std::string::size_type colon = pieces.find(':', start);
        std::string::size_type end = colon == std::string::npos ? pieces.size() : colon;
        std::string dir = addSlash(pieces.substr(start, end - start));
        std::FILE* probe = std::fopen((dir + fileName).c_str(), "rb");
        if (probe) {
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

int ClifCmdInvoker::openConfigFile(std::ifstream& file, std::string name)
{
    std::string path = name.empty() ? s_CLIConfigDirectory + CONFIG_FILE_NAME : name;
    if (int error = checkRegularFile(path))
        return error;
    errno = 0;
    file.open(path.c_str(), std::ios::in);
    if (file.good())
        return 0;
    int error = errno != 0 ? errno : EIO;
    file.close();
    return error;
}

void ClifCmdInvoker::fillCms()
{
    std::ifstream file;
    if (openConfigFile(file, "") != 0) {
        std::cout << ClifMessages::NO_CONFIG_FOR_CMS << std::flush;
        getLocalCmsOnUnix();
        return;
    }
    readCmsFromConfigFile(file);
}

// Only the first word beginning with "cms" is looked at. Its value after "cms="
// is the name; a file without such an entry names the local machine.
void ClifCmdInvoker::readCmsFromConfigFile(std::ifstream& file)
{
    std::string word;
    bool found = false;
    while (file >> word) {
        if (word.compare(0, 3, "cms") == 0) {
            std::string value;
            if (ClifConfigEntry::match(word, "cms", value)) {
                m_cms = value;
                found = true;
            }
            break;
        }
    }
    file.close();
    if (!found)
        getLocalCmsOnUnix();
}

int ClifCmdInvoker::getLocalCmsOnUnix()
{
    std::vector<char> name(256);
    int error = 0;
    for (int growth = 0; growth <= 10; ++growth) {
        errno = 0;
        if (gethostname(name.data(), name.size()) == 0 && std::memchr(name.data(), '\0', name.size())) {
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
    std::ifstream file;
    int error = openConfigFile(file, "");
    if (error != 0) {
        std::cout << ClifMessages::NO_CONFIG_FOR_URLS << std::flush;
        return error;
    }
    std::string word;
    std::string value;
    while (file >> word) {
        if (ClifConfigEntry::match(word, "clifserviceurl", value))
            m_invokeUrl = value;
        else if (ClifConfigEntry::match(word, "velpimainurl", value))
            m_logonUrl = value;
    }
    file.close();
    return 0;
}
