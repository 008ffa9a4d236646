#include "TrustedEnv.h"

#include <cstdlib>
#include <sys/auxv.h>

bool isSecureStart()
{
    return getauxval(AT_SECURE) != 0;
}

const char* getTrustedEnv(const char* name)
{
    if (isSecureStart())
        return nullptr;
    return getenv(name);
}
