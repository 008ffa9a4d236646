#include "ClifStandardStreams.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <ext/stdio_sync_filebuf.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "ClifMessages.h"

namespace
{
// What the caller set up for SIGPIPE, restored when local output meets a closed pipe.
struct sigaction s_inheritedSigpipe;
bool s_sigpipeSaved = false;

// Writes every byte or returns the errno value of the failure. The caller may have left the
// descriptor non-blocking (the flag belongs to the open file, shared with the caller): when it
// cannot take more now, the write waits until it can, instead of losing the rest.
int writeAll(int fd, const char* data, size_t size)
{
    while (size > 0)
    {
        ssize_t written = write(fd, data, size);
        if (written > 0)
        {
            data += written;
            size -= static_cast<size_t>(written);
        }
        else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            pollfd ready = {fd, POLLOUT, 0};
            if (poll(&ready, 1, -1) < 0 && errno != EINTR)
                return errno;
        }
        else if (written < 0 && errno != EINTR)
        {
            return errno;
        }
        else if (written == 0)
        {
            return EIO;
        }
    }
    return 0;
}

ssize_t writeToDescriptor(void* cookie, const char* data, size_t size)
{
    int error = writeAll(*static_cast<const int*>(cookie), data, size);
    if (error != 0)
    {
        errno = error;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

// A stream over fd that writes through writeAll, buffered as the C library buffers its own.
std::FILE* waitingStream(int fd, int buffering)
{
    static int s_descriptors[] = {0, 1, 2};
    cookie_io_functions_t io = {nullptr, writeToDescriptor, nullptr, nullptr};
    std::FILE* stream = fopencookie(&s_descriptors[fd], "w", io);
    if (stream)
        std::setvbuf(stream, nullptr, buffering, buffering == _IONBF ? 0 : BUFSIZ);
    return stream;
}
} // namespace

void ClifStandardStreams::prepare()
{
    for (int fd = 0; fd <= 2; ++fd)
        openNullOnClosed(fd);
    waitOnFullOutput();

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    s_sigpipeSaved = sigaction(SIGPIPE, &ignore, &s_inheritedSigpipe) == 0;
}

// Everything the client writes goes through stdout and stderr (the C++ streams share them), so
// replacing the two streams covers remote output, the client's messages and perror alike.
void ClifStandardStreams::waitOnFullOutput()
{
    std::FILE* out = waitingStream(1, isatty(1) ? _IOLBF : _IOFBF);
    std::FILE* err = waitingStream(2, _IONBF);
    if (!out || !err)
    {
        if (out)
            std::fclose(out);
        if (err)
            std::fclose(err);
        return;
    }
    stdout = out;
    stderr = err;
    // Kept to the end of the process: the C++ library flushes std::cout after every static
    // object of the program has been destroyed.
    std::cout.rdbuf(new __gnu_cxx::stdio_sync_filebuf<char>(out));
    std::cerr.rdbuf(new __gnu_cxx::stdio_sync_filebuf<char>(err));
    std::clog.rdbuf(std::cerr.rdbuf());
}

void ClifStandardStreams::openNullOnClosed(int fd)
{
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return;
    int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null == fd)
        return; // cppcheck-suppress resourceLeak ; it is the standard descriptor now
    // The lower descriptors are open by now, so /dev/null can only land elsewhere if it
    // could not be opened at all: do not run with a descriptor that anything may take.
    if (null < 0 || dup2(null, fd) != fd)
        std::_Exit(1);
    close(null);
}

void ClifStandardStreams::writeFailed(const char* streamName, int error)
{
    if (error != EPIPE)
    {
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
