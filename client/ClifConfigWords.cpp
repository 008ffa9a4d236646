#include "ClifConfigWords.h"

bool ClifConfigEntry::match(const std::string& word, const std::string& key, std::string& value)
{
    std::string::size_type eq = word.find('=');
    if (eq == std::string::npos || eq != key.size() || word.compare(0, eq, key) != 0)
        return false;
    value = word.substr(eq + 1);
    return true;
}

ClifLocaleName ClifLocaleName::split(const std::string& text)
{
    ClifLocaleName parts;
    std::string::size_type dot = text.find('.');
    if (dot != std::string::npos)
    {
        parts.name = text.substr(0, dot);
        parts.encoding = text.substr(dot + 1);
        parts.encoding = parts.encoding.substr(0, parts.encoding.find('@'));
        parts.hasEncoding = true;
    }
    else
    {
        parts.name = text.substr(0, text.find('@'));
    }
    return parts;
}
