#ifndef CLIF_LINE_READER_H
#define CLIF_LINE_READER_H

#include <cstddef>
#include <string>

// Reads lines from a descriptor through a buffer of its own. Bytes that were read ahead of the
// current line stay in the buffer, so "is input ready" must ask hasBuffered() before it asks the
// descriptor: together they still see every byte not yet taken.
class ClifLineReader
{
public:
    explicit ClifLineReader(int fd) : m_fd(fd) {}

    // Bytes are waiting in the buffer.
    bool hasBuffered() const { return m_start < m_end; }

    // Appends the next line, its '\n' included, to text. Returns false when the end of the input
    // (or a read error) came first; what was read of a last partial line is appended all the same.
    bool appendLine(std::string& text);

private:
    bool refill();

    int m_fd;
    char m_buffer[64 * 1024] = {};
    std::size_t m_start = 0;
    std::size_t m_end = 0;
};

#endif
