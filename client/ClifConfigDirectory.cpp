#include "ClifConfigDirectory.h"

std::string s_CLIConfigDirectory;
