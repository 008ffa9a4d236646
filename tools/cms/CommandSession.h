#ifndef COMMAND_SESSION_H
#define COMMAND_SESSION_H

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// What a status reply reports of a command.
struct SessionProgress
{
    std::string out;
    std::string err;
    bool outOpen = true;
    bool errOpen = true;
    bool complete = false;
    int returnCode = 0;
    bool morePending = false; // a stream had more bytes than one reply takes
};

// One command run for a client: a child process in its own process group
// whose standard streams are non-blocking pipes, polled on each status call.
class CommandSession
{
public:
    // Starts the program; on failure returns null and sets error. The output
    // pipes hold up to outputBuffer bytes (as far as the system allows), so
    // that a command can write a whole reply's worth between two status calls,
    // as the CMS buffers a command's output between polls.
    static std::unique_ptr<CommandSession> start(const std::string& path, const std::vector<std::string>& args,
                                                 const std::vector<std::string>& env, size_t outputBuffer,
                                                 std::string& error);
    ~CommandSession();

    CommandSession(const CommandSession&) = delete;
    CommandSession& operator=(const CommandSession&) = delete;

    // Queues bytes for the command's standard input and writes them as the
    // command takes them, waiting a little for a full pipe; closes the input
    // once it is drained and inputOpen is false.
    void feedInput(const unsigned char* data, size_t length, bool inputOpen);
    // Takes what the command wrote so far, at most maxChunk bytes per stream.
    SessionProgress collect(size_t maxChunk);

private:
    CommandSession(pid_t pid, int in, int out, int err);
    void flushInput(int waitMs);
    bool drain(int& fd, std::string& into, size_t maxChunk, bool& more);

    pid_t m_pid;
    int m_in;
    int m_out;
    int m_err;
    std::string m_pendingInput;
    size_t m_inputSent; // bytes of m_pendingInput already written
    bool m_inputClosing;
    bool m_reaped;
    int m_exitStatus;
};

#endif
