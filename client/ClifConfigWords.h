#ifndef CLIF_CONFIG_WORDS_H
#define CLIF_CONFIG_WORDS_H

#include <string>

// The word rule of CLIClientConfig.cfg: an entry is a word "key=value" whose key
// stands at the very start of the word and is followed directly by the word's
// first '='. The value is the rest of the word and may be empty.
class ClifConfigEntry
{
public:
    static bool match(const std::string& word, const std::string& key, std::string& value);
};

// A locale name of the form language_territory[.encoding][@modifier], cut into
// the language part and the encoding part (the modifier is dropped).
struct ClifLocaleName
{
    std::string name;
    std::string encoding;
    bool hasEncoding = false;

    static ClifLocaleName split(const std::string& text);
};

#endif
