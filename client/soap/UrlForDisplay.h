#ifndef URL_FOR_DISPLAY_H
#define URL_FOR_DISPLAY_H

#include <string>

// The URL without user information ("https://u:p@h/x" gives "https://h/x"):
// the only form of an endpoint that may be shown or recorded.
std::string urlForDisplay(const std::string& url);

#endif
