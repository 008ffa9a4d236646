#ifndef CLIF_INPUT_RELAY_H
#define CLIF_INPUT_RELAY_H

#include <climits>
#include <cstddef>
#include <string>

// Takes from a descriptor what it holds ready now, never waiting for more: part of a line, a
// block of a binary stream, the next piece of a file, in the order read. Each take stops at a
// limit, so that one status call carries a bounded number of bytes whatever the size of the
// input, and the rest follows with the next calls.
class ClifInputRelay
{
public:
    // The most bytes one status call carries. At 1 MiB a call costs about as much as its
    // fixed round trip and more brings no gain in throughput (see BENCHMARKS.md); memory
    // stays flat, and a small file still travels in one call.
    static constexpr std::size_t CALL_LIMIT = std::size_t{1} << 20;
    static_assert(CALL_LIMIT <= INT_MAX, "a take must fit the int count of a status call");

    explicit ClifInputRelay(int fd, std::size_t limit = CALL_LIMIT) : m_fd(fd), m_limit(limit) {}

    // Appends the bytes that are ready now, at most the limit, to text. Returns false once the
    // end of the input (or a read error) has been reached; bytes read before it are appended
    // all the same. A failed readiness test prints the system error and ends the process
    // with status 1.
    bool takeReady(std::string& text) const;

private:
    bool isReady() const;

    int m_fd;
    std::size_t m_limit;
};

#endif
