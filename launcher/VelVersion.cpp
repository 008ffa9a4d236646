#include "VelVersion.h"

const char* const PRODUCT = "Orva Fleetwise";

std::string VelVersion::getProductName()
{
    return PRODUCT;
}
