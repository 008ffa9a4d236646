// Ends through the launcher's error exit with the message given as the first argument,
// so a test can see what reaches standard error and the system log.
#include "VelCMD.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    VelCMD command("velprobe", "com/orva/vel/Probe");
    command.errorExit(argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 1, argc > 1 ? argv[1] : nullptr);
}
