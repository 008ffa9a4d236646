// Entry point of vellauncher: the name it was started under picks the command.
#include "VelCLI.h"
#include "VelPriv.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed. Otherwise the trace file or a
// file the JVM opens (a library, an archive) would become the process's standard input or
// output, and messages or Java output would be written into it.
void openNullOnClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
    {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lower descriptors are open by now, so /dev/null takes this one.
        int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null == fd)
            continue;
        if (null < 0 || dup2(null, fd) != fd)
            _exit(1);
        close(null);
    }
}

} // namespace

int main(int argc, char** argv, char** envp)
{
    // First of all, before anything is read with the start privileges.
    if (!VelPriv::protectPrivilegedStart())
        return 1;
    openNullOnClosedStandardDescriptors();
    // Without argv[0] there is no command name to look up.
    if (argc < 1 || argv[0] == nullptr)
        return 1;
    static std::string baseName;
    baseName = VelCMD::getName(argv[0]);
    argv[0] = baseName.data();

    VelCMD* command = VelCLI::createCLI(baseName);
    if (command == nullptr)
        return 1;
    // The launcher object lives until the process ends.
    return command->run(argc, argv, envp);
}
