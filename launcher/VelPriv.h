// What a secure start (set-user-ID, set-group-ID, file capabilities) gives up, beyond the user IDs,
// so that nothing of its start privileges reaches the caller.
#ifndef VEL_PRIV_H
#define VEL_PRIV_H

#include <sys/types.h>

class VelPriv
{
public:
    // Whether the process started with privileges that a caller must not reach: a secure start, or
    // a capability in any set, whoever gave it (file capabilities, a starter that kept its own,
    // inherited or ambient ones).
    static bool startsPrivileged();

    // For a privileged start: makes the process non-dumpable (no core file, no ptrace, no
    // /proc/PID/mem or environ for the caller) before it reads anything with its privileges. The
    // kernel does so itself only when an exec raises them; giving them up later keeps it so, to the
    // end of the process. False when it cannot be done.
    static bool protectPrivilegedStart();

    // Sets the real, effective and saved group IDs to gid; true when all three hold it.
    static bool resetGroupIDs(gid_t gid);

    // Clears the permitted, effective, inheritable and ambient capabilities of every thread of the
    // process; true when no thread holds any. The kernel keeps them per thread and lets a thread
    // change only its own, so each thread that holds some is asked by a signal to clear its own.
    static bool clearCapabilities();
};

#endif
