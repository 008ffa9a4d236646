// Launcher debug trace: level mask, trace stream, indentation and the four line forms.
#ifndef VEL_DEBUG_H
#define VEL_DEBUG_H

#include <cstdint>
#include <cstdio>
#include <string>

// The trace's switch variable and the pieces of its file's path.
extern const char* const TRACE_ENV_VAR;   // "VEL_DTRACE"
extern const char* const DEBUG_FILE_PATH; // "/var/opt/vel/logs/"
extern const char* const TRACE_SUFFIX;    // ".dbg"
extern const char* const DEBUG_PID;       // ".%d"

// Size of the indentation buffer; it holds at most INDENT_BUFFER_SIZE - 1 spaces.
constexpr int INDENT_BUFFER_SIZE = 1024;

extern uint32_t _Debug;                       // level n enables bit n
extern FILE* stddbg;                          // the trace file once open, unbuffered
extern int indent;                            // nesting counter, steps of 2
extern char indentSpaces[INDENT_BUFFER_SIZE]; // `indent` spaces, cut to the buffer

void debug_initialize(int level, const char* envVar, const char* path);
void parseDebugString(char* list, uint32_t* mask);
void debug_indent();
void debug_unindent();

// Bit 0 enables message and value lines, bit 31 entry and exit lines.
inline bool debugValuesOn()
{
    return stddbg != nullptr && (_Debug & 1u) != 0;
}
inline bool debugCallsOn()
{
    return stddbg != nullptr && static_cast<int32_t>(_Debug) < 0;
}

void debugEnter(const char* file, const char* label);
void debugLeave(const char* file, const char* label, int line);
void debugMessage(const char* file, const char* text);
void debugString(const char* file, const char* expr, const char* value);
inline void debugString(const char* file, const char* expr, const std::string& value)
{
    debugString(file, expr, value.c_str());
}
void debugInt(const char* file, const char* expr, long long value);

#define DBG_ENTER(label)                 \
    do                                   \
    {                                    \
        if (debugCallsOn())              \
            debugEnter(__FILE__, label); \
    } while (0)
#define DBG_LEAVE(label)                           \
    do                                             \
    {                                              \
        if (debugCallsOn())                        \
            debugLeave(__FILE__, label, __LINE__); \
    } while (0)
#define DBG_MSG(text)                     \
    do                                    \
    {                                     \
        if (debugValuesOn())              \
            debugMessage(__FILE__, text); \
    } while (0)
#define DBG_STR(expr)                           \
    do                                          \
    {                                           \
        if (debugValuesOn())                    \
            debugString(__FILE__, #expr, expr); \
    } while (0)
#define DBG_INT(expr)                                                \
    do                                                               \
    {                                                                \
        if (debugValuesOn())                                         \
            debugInt(__FILE__, #expr, static_cast<long long>(expr)); \
    } while (0)

#endif
