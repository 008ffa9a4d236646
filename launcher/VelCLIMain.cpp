// Entry point of vellauncher: the name it was started under picks the command.
#include "VelCLI.h"

int main(int argc, char** argv, char** envp)
{
    // Without argv[0] there is no command name to look up.
    if (argc < 1 || argv[0] == nullptr)
        return 1;
    static std::string baseName;
    baseName = VelCMD::getName(argv[0]);
    argv[0] = &baseName[0];

    VelCMD* command = VelCLI::createCLI(baseName);
    if (command == nullptr)
        return 1;
    // The launcher object lives until the process ends.
    return command->run(argc, argv, envp);
}
