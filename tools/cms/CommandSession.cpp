#include "CommandSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Makes the pipe hold up to size bytes (at most 16 MiB), or as much as the
// system allows (fs.pipe-max-size, 1 MiB by default, unless root); a pipe it
// cannot enlarge keeps its size.
void enlargePipe(int fd, size_t size)
{
    const int capped = static_cast<int>(std::min<size_t>(size, 16 << 20));
    if (fcntl(fd, F_GETPIPE_SZ) >= capped)
        return;
    for (int want = capped; want > 65536; want /= 2)
        if (fcntl(fd, F_SETPIPE_SZ, want) >= 0)
            return;
}

// Longest wait, within one status call, for the command to take the input of that call.
const int INPUT_WAIT_MS = 1000;

long long nowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
} // namespace

std::unique_ptr<CommandSession> CommandSession::start(const std::string& path, const std::vector<std::string>& args,
                                                      const std::vector<std::string>& env, size_t outputBuffer,
                                                      std::string& error)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0)
    {
        error = strerror(errno);
        return nullptr;
    }
    if (pipe2(out, O_CLOEXEC) != 0)
    {
        error = strerror(errno);
        close(in[0]), close(in[1]);
        return nullptr;
    }
    if (pipe2(err, O_CLOEXEC) != 0)
    {
        error = strerror(errno);
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        return nullptr;
    }

    // Everything exec needs is prepared before fork.
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (size_t i = 1; i < args.size(); ++i)
        argv.push_back(const_cast<char*>(args[i].c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (const std::string& entry : env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
    {
        error = strerror(errno);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        return nullptr;
    }
    if (pid == 0)
    {
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        // dup2 clears close-on-exec on the copies; every other descriptor of
        // the server (sockets, other sessions' pipes) closes on exec or here.
        if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0)
            _exit(127);
        closefrom(3);
        execve(argv[0], argv.data(), envp.data());
        const char* message = strerror(errno);
        (void)!write(2, message, strlen(message));
        (void)!write(2, "\n", 1);
        _exit(127);
    }
    setpgid(pid, pid);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    setNonBlocking(in[1]);
    enlargePipe(out[0], outputBuffer);
    enlargePipe(err[0], outputBuffer);
    setNonBlocking(out[0]);
    setNonBlocking(err[0]);
    return std::unique_ptr<CommandSession>(new CommandSession(pid, in[1], out[0], err[0]));
}

CommandSession::CommandSession(pid_t pid, int in, int out, int err)
    : m_pid(pid), m_in(in), m_out(out), m_err(err), m_inputSent(0), m_inputClosing(false), m_reaped(false),
      m_exitStatus(0)
{}

CommandSession::~CommandSession()
{
    closeFd(m_in);
    closeFd(m_out);
    closeFd(m_err);
    if (!m_reaped)
    {
        kill(-m_pid, SIGTERM);
        for (int i = 0; i < 50; ++i)
        {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                return;
            struct timespec pause = {0, 20L * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        kill(-m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

void CommandSession::feedInput(const unsigned char* data, size_t length, bool inputOpen)
{
    if (m_in < 0)
        return;
    if (data && length > 0)
    {
        m_pendingInput.erase(0, m_inputSent);
        m_inputSent = 0;
        m_pendingInput.append(reinterpret_cast<const char*>(data), length);
    }
    if (!inputOpen)
        m_inputClosing = true;
    flushInput(INPUT_WAIT_MS);
}

// Writes pending input while the pipe takes it. With a wait, a full pipe is waited on for
// that long at most, or until the command has output to collect: a command that reads its
// input keeps up with a client that sends it fast, and what the server holds stays bounded.
void CommandSession::flushInput(int waitMs)
{
    long long deadline = nowMs() + waitMs;
    while (m_in >= 0 && m_inputSent < m_pendingInput.size())
    {
        ssize_t n = write(m_in, m_pendingInput.data() + m_inputSent, m_pendingInput.size() - m_inputSent);
        if (n > 0)
        {
            m_inputSent += size_t(n);
        }
        else if (n < 0 && errno == EINTR)
        {
            continue;
        }
        else if (n < 0 && errno == EAGAIN)
        {
            long long left = deadline - nowMs();
            if (left <= 0)
                return; // the rest goes with a later call
            struct pollfd watched[3] = {{m_in, POLLOUT, 0}, {m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            if (poll(watched, 3, int(left)) > 0 && (watched[1].revents || watched[2].revents))
                return;
        }
        else
        {
            // The command no longer reads its input.
            closeFd(m_in);
        }
    }
    m_pendingInput.clear();
    m_inputSent = 0;
    if (m_inputClosing)
        closeFd(m_in);
}

bool CommandSession::drain(int& fd, std::string& into, size_t maxChunk, bool& more)
{
    char buffer[65536];
    while (fd >= 0 && into.size() < maxChunk)
    {
        size_t want = std::min(sizeof buffer, maxChunk - into.size());
        ssize_t n = read(fd, buffer, want);
        if (n > 0)
            into.append(buffer, size_t(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            return true;
        else
            closeFd(fd); // end of the stream (or a broken pipe)
    }
    if (fd >= 0)
        more = true;
    return fd >= 0;
}

SessionProgress CommandSession::collect(size_t maxChunk)
{
    SessionProgress progress;
    flushInput(0);
    progress.outOpen = drain(m_out, progress.out, maxChunk, progress.morePending);
    progress.errOpen = drain(m_err, progress.err, maxChunk, progress.morePending);
    if (!m_reaped && !progress.outOpen && !progress.errOpen)
    {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_reaped = true;
            m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    progress.complete = m_reaped;
    progress.returnCode = m_reaped ? m_exitStatus : 0;
    return progress;
}
