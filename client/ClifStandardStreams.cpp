#include "ClifStandardStreams.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "ClifMessages.h"

namespace
{
// What the caller set up for SIGPIPE, restored when local output meets a closed pipe.
struct sigaction s_inheritedSigpipe;
bool s_sigpipeSaved = false;
}

void ClifStandardStreams::prepare()
{
    for (int fd = 0; fd <= 2; ++fd)
        openNullOnClosed(fd);

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    s_sigpipeSaved = sigaction(SIGPIPE, &ignore, &s_inheritedSigpipe) == 0;
}

void ClifStandardStreams::openNullOnClosed(int fd)
{
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return;
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null == fd)
        return;  // cppcheck-suppress resourceLeak ; it is the standard descriptor now
    // The lower descriptors are open by now, so /dev/null can only land elsewhere if it
    // could not be opened at all: do not run with a descriptor that anything may take.
    if (null < 0 || dup2(null, fd) != fd)
        std::_Exit(1);
    close(null);
}

void ClifStandardStreams::writeFailed(const char* streamName, int error)
{
    if (error != EPIPE) {
        std::fprintf(stderr, ClifMessages::WRITE_FAILED, streamName, std::strerror(error));
        std::fflush(stderr);
        std::exit(1);
    }
    if (s_sigpipeSaved)
        sigaction(SIGPIPE, &s_inheritedSigpipe, nullptr);
    else
        std::signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
    // The caller ignores SIGPIPE: stop all the same, there is nobody left to write for.
    std::exit(1);
}
