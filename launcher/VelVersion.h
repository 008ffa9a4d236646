// The product name that the launcher's messages use.
#ifndef VEL_VERSION_H
#define VEL_VERSION_H

#include <string>

extern const char* const PRODUCT;

class VelVersion
{
public:
    static std::string getProductName();
};

#endif
