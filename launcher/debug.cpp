// Launcher debug trace: globals, start of the trace file, level parsing and line writers.
#include "debug.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

const char* const TRACE_ENV_VAR = "VEL_DTRACE";
const char* const DEBUG_FILE_PATH = "/var/opt/vel/logs/";
const char* const TRACE_SUFFIX = ".dbg";
const char* const DEBUG_PID = ".%d";
const char* const USE_ENV = "VEL_USE_ENV";
const char* const JAVA_HOME = "JAVA_HOME";
const char* const pathSeparator = ":";

uint32_t _Debug = 0;
FILE* stddbg = nullptr;
int indent = 0;
char indentSpaces[INDENT_BUFFER_SIZE] = "";

namespace {

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
    struct tm* local = localtime(&now);
    if (local == nullptr)
        return;
    const char* text = asctime(local);
    if (text == nullptr)
        return;
    fprintf(stddbg, "%s\n", text);
}

} // namespace

void debug_initialize(int level, const char* envVar, const char* path)
{
    if (stddbg == nullptr) {
        stddbg = fopen(path, "w");
        if (stddbg == nullptr) {
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
    if (value != nullptr) {
        std::string list(value);
        parseDebugString(list.data(), &_Debug);
    }
}

void parseDebugString(char* list, uint32_t* mask)
{
    if (list == nullptr)
        return;
    char* savePtr = nullptr;
    for (char* field = strtok_r(list, ",", &savePtr); field != nullptr;
         field = strtok_r(nullptr, ",", &savePtr)) {
        // 64 bits on every target: a large level reads the same on a 32-bit one.
        long long number = strtoll(field, nullptr, 10);
        if (number >= 32) {
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
