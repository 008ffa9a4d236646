#include "ClifConfigFile.h"

#include <cerrno>
#include <fstream>

#include "ClifConfigWords.h"
#include "ClifRegularFile.h"

namespace
{

int openRegular(std::ifstream& file, const std::string& path)
{
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

std::string lineEndOf(const std::string& value)
{
    if (value == "\\r\\n")
        return "\r\n";
    if (value == "\\n")
        return "\n";
    return value;
}

} // namespace

ClifConfigFile ClifConfigFile::read(const std::string& path)
{
    ClifConfigFile config;
    std::ifstream file;
    config.openError = openRegular(file, path);
    bool cmsSeen = false;
    std::string word;
    std::string value;
    while (config.openError == 0 && file >> word)
    {
        if (!cmsSeen && word.compare(0, 3, "cms") == 0)
        {
            cmsSeen = true;
            if (ClifConfigEntry::match(word, "cms", value))
            {
                config.cms = value;
                config.cmsNamed = true;
            }
        }
        else if (ClifConfigEntry::match(word, "clifserviceurl", value))
        {
            config.invokeUrl = value;
        }
        else if (ClifConfigEntry::match(word, "velpimainurl", value))
        {
            config.logonUrl = value;
        }
        else if (ClifConfigEntry::match(word, "LINE_END", value))
        {
            config.envEntries["LINE_END"] = lineEndOf(value);
        }
        else if (ClifConfigEntry::match(word, "LOCALE", value) || ClifConfigEntry::match(word, "ENCODING", value))
        {
            config.envEntries[word.substr(0, word.find('='))] = value;
        }
    }
    return config;
}
