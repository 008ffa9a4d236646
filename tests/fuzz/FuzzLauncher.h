// A launcher object for the harnesses: a refused start becomes an exception instead of the
// end of the process, and the option strings (normally kept to the end) are released.
#ifndef VEL_FUZZ_LAUNCHER_H
#define VEL_FUZZ_LAUNCHER_H

#include <cstdlib>
#include <string>

#include "VelCMD.h"

namespace velfuzz
{

struct Refused
{
    int status;
};

class FuzzCMD : public VelCMD
{
public:
    FuzzCMD() : VelCMD("velfuzz", "com/orva/vel/Fuzz") {}
    ~FuzzCMD() override
    {
        for (int i = 0; i < getOptionCount(); ++i)
            std::free(const_cast<char*>(getOption(i)));
    }

    [[noreturn]] void errorExit(int status, const char*) override { throw Refused{status}; }

    void setBasePath(const std::string& base) { myBasePath = base; }
};

} // namespace velfuzz

#endif
