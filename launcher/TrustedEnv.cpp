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

void removeRuntimeOptionVariables()
{
    if (!isSecureStart())
        return;
    unsetenv("JAVA_TOOL_OPTIONS");
    unsetenv("_JAVA_OPTIONS");
}
