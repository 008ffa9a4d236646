#ifndef CLIF_CONFIG_FILE_H
#define CLIF_CONFIG_FILE_H

#include <map>
#include <string>

// Every entry of CLIClientConfig.cfg that the client uses, from one reading
// of the file, word by word (ClifConfigEntry's word rule):
// - cms: only the first word beginning with "cms" counts, and only when it is
//   a "cms=" entry;
// - clifserviceurl, velpimainurl, LINE_END, LOCALE, ENCODING: the last entry
//   of each key wins; LINE_END's "\r\n" and "\n" written out stand for the
//   line ends themselves.
struct ClifConfigFile
{
    int openError = 0; // 0, or the error number of the failed open (then nothing else is set)
    bool cmsNamed = false;
    std::string cms;
    std::string invokeUrl;
    std::string logonUrl;
    std::map<std::string, std::string> envEntries; // LINE_END, LOCALE, ENCODING as the map takes them

    // Reads the file at `path`, which must be a regular file.
    static ClifConfigFile read(const std::string& path);
};

#endif
