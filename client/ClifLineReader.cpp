#include "ClifLineReader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool ClifLineReader::appendLine(std::string& text)
{
    for (;;) {
        if (!hasBuffered() && !refill())
            return false;
        const char* begin = m_buffer + m_start;
        std::size_t available = m_end - m_start;
        const void* newline = std::memchr(begin, '\n', available);
        std::size_t taken = newline ? static_cast<const char*>(newline) - begin + 1 : available;
        text.append(begin, taken);
        m_start += taken;
        if (newline)
            return true;
    }
}

// A read error ends the input like the end of file does; otherwise the descriptor
// would stay readable for ever.
bool ClifLineReader::refill()
{
    ssize_t got;
    do {
        got = read(m_fd, m_buffer, sizeof m_buffer);
    } while (got < 0 && errno == EINTR);
    m_start = 0;
    m_end = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got > 0;
}
