#ifndef CMS_STATE_H
#define CMS_STATE_H

#include <map>
#include <memory>
#include <set>
#include <string>

#include "CmsOptions.h"
#include "CommandSession.h"

// Everything the stand-in CMS keeps between requests.
struct CmsState
{
    CmsOptions options;
    std::map<std::string, std::string> users;
    std::set<std::string> tokens;
    std::map<std::string, std::unique_ptr<CommandSession>> sessions;
    unsigned long sessionCount = 0;
};

#endif
