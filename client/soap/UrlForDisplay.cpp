#include "UrlForDisplay.h"

std::string urlForDisplay(const std::string& url)
{
    std::string::size_type scheme = url.find("://");
    std::string::size_type hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    std::string::size_type hostEnd = url.find_first_of("/?#", hostStart);
    std::string::size_type at = url.rfind('@', hostEnd == std::string::npos ? url.size() : hostEnd);
    if (at == std::string::npos || at < hostStart)
        return url;
    return url.substr(0, hostStart) + url.substr(at + 1);
}
