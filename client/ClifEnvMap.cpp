// The environment map sent with every call: the caller's environment, locale,
// working directory and line end, as the remote command should see them.
#include "ClifParser.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "ClifConfigWords.h"

// Takes the argument vector's char* as the command line hands it over.
const ClifCmdInvoker::EnvMap& ClifCmdInvoker::buildEnvmap(char* text) // NOLINT(readability-non-const-parameter)
{
    std::string entry = text ? text : "";
    std::string::size_type eq = entry.find('=');
    std::string name = entry.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
    // insert() keeps an existing entry: the first --env for a name wins.
    m_userEnvMap.insert(EnvMap::value_type(name, value));
    return m_userEnvMap;
}

void ClifCmdInvoker::fillEnvmap()
{
    for (char** entry = environ; entry && *entry; ++entry)
    {
        const char* eq = std::strchr(*entry, '=');
        if (!eq || eq == *entry)
            continue;
        m_envMap[std::string(*entry, static_cast<std::string::size_type>(eq - *entry))] = eq + 1;
    }

    getLocalEnvMap();

    updateEnvMapFromConfigFile();

    for (EnvMap::const_iterator it = m_userEnvMap.begin(); it != m_userEnvMap.end(); ++it)
        m_envMap[it->first] = it->second;

    getDTFLANGSettings();
}

void ClifCmdInvoker::getLocalEnvMap()
{
    std::setlocale(LC_ALL, "");
    const char* ctype = std::setlocale(LC_CTYPE, "");
    // A locale the system cannot set is reported like the "C" locale.
    std::string locale = ctype ? ctype : "C";
    if (locale == "C")
        locale = "en_US";

    ClifLocaleName parts = ClifLocaleName::split(locale);
    m_envMap["LOCALE"] = parts.name;
    m_envMap["ENCODING"] = parts.hasEncoding ? parts.encoding : std::string("UTF-8");
    m_envMap["LINE_END"] = "\n";
}

// Nothing, not even the working directory, without a readable file.
void ClifCmdInvoker::updateEnvMapFromConfigFile()
{
    const ClifConfigFile& config = configFile();
    if (config.openError != 0)
        return;
    char cwd[511];
    if (getcwd(cwd, sizeof cwd))
        m_envMap["CWD"] = addSlash(cwd);
    for (const auto& entry : config.envEntries)
        m_envMap[entry.first] = entry.second;
}

void ClifCmdInvoker::getDTFLANGSettings()
{
    const char* dtflang = std::getenv("DTFLANG");
    if (!dtflang)
        return;
    ClifLocaleName parts = ClifLocaleName::split(dtflang);
    if (!parts.name.empty())
        m_envMap["LOCALE"] = parts.name;
    if (!parts.encoding.empty())
        m_envMap["ENCODING"] = parts.encoding;
}
