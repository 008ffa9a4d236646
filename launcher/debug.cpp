// Launcher debug trace: globals, start of the trace file, level parsing and line writers.
#include "debug.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const TRACE_ENV_VAR = "VEL_DTRACE";
const char* const DEBUG_FILE_PATH = "/var/opt/vel/logs/";
const char* const TRACE_SUFFIX = ".dbg";
const char* const DEBUG_PID = ".%d";

uint32_t _Debug = 0;
FILE* stddbg = nullptr;
int indent = 0;
char indentSpaces[INDENT_BUFFER_SIZE] = "";

namespace
{

// Rebuilds the indentation string from the counter, cut to what the buffer holds.
void fillIndentSpaces(int count)
{
    if (count < 0)
        count = 0;
    if (count > INDENT_BUFFER_SIZE - 1)
        count = INDENT_BUFFER_SIZE - 1;
    memset(indentSpaces, ' ', static_cast<size_t>(count));
    indentSpaces[count] = '\0';
}

void writeDateBanner()
{
    time_t now = time(nullptr);
    if (now <= 0)
        return;
    const struct tm* local = localtime(&now);
    if (local == nullptr)
        return;
    // asctime's fixed English form is the banner's format, whatever the locale.
    const char* text = asctime(local); // NOLINT(bugprone-unsafe-functions,cert-msc24-c,cert-msc33-c)
    if (text == nullptr)
        return;
    fprintf(stddbg, "%s\n", text);
}

// Why an opened trace file is not used (an errno value), or 0 once it has been emptied.
int refuseOrEmpty(int fd)
{
    struct stat status = {};
    if (fstat(fd, &status) < 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    if (status.st_nlink != 1)
        return EMLINK; // a hard link to some other file
    if (ftruncate(fd, 0) < 0)
        return errno;
    return 0;
}

// Opens the trace file for writing, created with the file-creation mask or emptied, as fopen(path, "w")
// does, but only if it is a regular file of its own: the log directory may be writable by others, who
// could plant a link there (to a file a privileged run would overwrite) or a FIFO (on which the open
// would wait for ever). Nothing is emptied before the checks. Sets errno and returns null on refusal.
FILE* openTraceFile(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    int err = refuseOrEmpty(fd);
    FILE* stream = err == 0 ? fdopen(fd, "w") : nullptr;
    if (stream == nullptr)
    {
        if (err == 0)
            err = errno;
        // fdopen failed or was not called: fd is still open and ours.
        close(fd); // cppcheck-suppress doubleFree
        errno = err;
    }
    return stream;
}

} // namespace

void debug_initialize(int level, const char* envVar, const char* path)
{
    if (stddbg == nullptr)
    {
        stddbg = openTraceFile(path);
        if (stddbg == nullptr)
        {
            int err = errno;
            fprintf(stderr, "Can't open debug trace file. '%s'\n", path);
            fprintf(stderr, "Error #%d - %s\n", err, strerror(err));
            // Without a stream the trace stays off: no level is set.
            return;
        }
    }
    setvbuf(stddbg, nullptr, _IONBF, 0);
    writeDateBanner();
    _Debug |= static_cast<uint32_t>(level);
    // Parse a copy: the list is cut up in place and the environment must stay intact.
    const char* value = getenv(envVar);
    if (value != nullptr)
    {
        std::string list(value);
        parseDebugString(list.data(), &_Debug);
    }
}

void parseDebugString(char* list, uint32_t* mask)
{
    if (list == nullptr)
        return;
    char* savePtr = nullptr;
    for (const char* field = strtok_r(list, ",", &savePtr); field != nullptr; field = strtok_r(nullptr, ",", &savePtr))
    {
        // 64 bits on every target: a large level reads the same on a 32-bit one.
        long long number = strtoll(field, nullptr, 10);
        if (number >= 32)
        {
            fprintf(stderr, "DBG: Bad debug level number - %lld\n", number);
            continue;
        }
        // Negative levels select nothing and are dropped quietly.
        if (number < 0)
            continue;
        *mask |= (1u << number);
    }
}

void debug_indent()
{
    fillIndentSpaces(indent);
    indent += 2;
}

void debug_unindent()
{
    indent -= 2;
    fillIndentSpaces(indent);
}

void debugEnter(const char* file, const char* label)
{
    debug_indent();
    fprintf(stddbg, "%-20s:%sEntering %s()\n", file, indentSpaces, label);
}

void debugLeave(const char* file, const char* label, int line)
{
    debug_unindent();
    fprintf(stddbg, "%-20s:%sLeaving  %s() at %d\n", file, indentSpaces, label, line);
}

void debugMessage(const char* file, const char* text)
{
    fprintf(stddbg, "%-20s: ", file);
    fprintf(stddbg, "%s    %s\n", indentSpaces, text);
}

void debugString(const char* file, const char* expr, const char* value)
{
    fprintf(stddbg, "%-20s: ", file);
    fprintf(stddbg, "%s    %s='%s'\n", indentSpaces, expr, value != nullptr ? value : "<NULL>");
}

void debugInt(const char* file, const char* expr, long long value)
{
    fprintf(stddbg, "%-20s: ", file);
    fprintf(stddbg, "%s    %s=%lld\n", indentSpaces, expr, value);
}
