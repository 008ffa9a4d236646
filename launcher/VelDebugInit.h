// Starts the launcher's trace file for one command when VEL_DTRACE asks for it.
#ifndef VEL_DEBUG_INIT_H
#define VEL_DEBUG_INIT_H

#include <string>

class VelDebugInit
{
public:
    explicit VelDebugInit(const std::string& name);
};

#endif
