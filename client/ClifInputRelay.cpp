// The standard-input side of the relay: what is ready goes up with the next status call.
#include "ClifInputRelay.h"
#include "ClifMessages.h"
#include "ClifParser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <sys/select.h>
#include <unistd.h>

namespace
{

// One read takes at most this much; a pipe holds no more by default.
const std::size_t READ_SIZE = std::size_t{64} * 1024;

} // namespace

std::string ClifCmdInvoker::readFromStdIn()
{
    std::string text;
    if (!m_stdinRelay.takeReady(text))
        m_stdinOpen = false;
    return text;
}

// Each read follows a readiness test and takes what one read(2) returns, so it never waits for
// the rest of a line or a block: a producer that pauses mid-line does not stop the polling.
bool ClifInputRelay::takeReady(std::string& text) const
{
    std::size_t taken = 0;
    while (taken < m_limit)
    {
        if (!isReady())
            return true;
        std::size_t want = std::min(READ_SIZE, m_limit - taken);
        std::size_t start = text.size();
        text.resize(start + want);
        ssize_t got;
        do
        {
            got = read(m_fd, &text[start], want);
        } while (got < 0 && errno == EINTR);
        int readError = got < 0 ? errno : 0;
        text.resize(start + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got > 0)
        {
            taken += static_cast<std::size_t>(got);
            continue;
        }
        // A descriptor that someone else made non-blocking may still have nothing after all
        // (the input stays open). Otherwise this is the end of the input; a read error ends it
        // too, else the descriptor would stay readable for ever.
        return readError == EAGAIN || readError == EWOULDBLOCK;
    }
    return true;
}

// Waits 1 microsecond at most: the polling goes on while nothing is typed.
bool ClifInputRelay::isReady() const
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(m_fd, &readable);
    struct timeval timeout;
    timeout.tv_sec = 0;
    timeout.tv_usec = 1;
    int ready = select(m_fd + 1, &readable, nullptr, nullptr, &timeout);
    if (ready < 0)
    {
        std::perror(ClifMessages::SELECT_FAILED);
        std::exit(1);
    }
    return ready > 0 && FD_ISSET(m_fd, &readable);
}
