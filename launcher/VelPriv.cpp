// Keys and privileges: the key set-up with the start privileges, and giving those privileges up.
#include "VelPriv.h"

#include "TrustedEnv.h"
#include "VelCMD.h"
#include "VelMessages.h"
#include "debug.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <linux/capability.h>
#include <semaphore.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace
{

const char* const AUTHENTICATE_CLASS = "com/orva/vel/utilities/authenticate/VelAuthenticate";

// How long one thread may take to clear its capabilities, and how often the thread list is gone
// through (threads may start threads meanwhile; those inherit what their creator still held).
constexpr long ANSWER_TIMEOUT_MS = 5000;
constexpr long ANSWER_POLL_MS = 20;
constexpr int MAX_PASSES = 100;

// One thread is asked at a time: its signal handler reports here.
sem_t s_threadAnswered;
volatile sig_atomic_t s_threadCleared = 0;

pid_t currentThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// Async-signal-safe: raw system calls only.
bool clearOwnCapabilities()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0)
        return false;
    // Ambient capabilities cannot outlast the permitted and inheritable ones; they are cleared
    // outright all the same, where the kernel has them.
    return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0L, 0L, 0L) == 0 || errno == EINVAL;
}

void clearCapabilitiesOnSignal(int)
{
    int savedErrno = errno;
    s_threadCleared = clearOwnCapabilities() ? 1 : 0;
    sem_post(&s_threadAnswered);
    errno = savedErrno;
}

std::string threadStatusPath(pid_t tid)
{
    return "/proc/self/task/" + std::to_string(tid) + "/status";
}

// The IDs of the process's threads; false if they cannot be listed.
bool listThreads(std::vector<pid_t>& threads)
{
    threads.clear();
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return false;
    while (const struct dirent* entry = readdir(tasks))
    {
        char* end = nullptr;
        long tid = strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && tid > 0)
            threads.push_back(static_cast<pid_t>(tid));
    }
    closedir(tasks);
    return !threads.empty();
}

// Whether the thread holds a capability in any of its four sets. A thread that has ended holds
// none; a status without the sets counts as holding some.
bool threadHoldsCapabilities(pid_t tid)
{
    FILE* status = fopen(threadStatusPath(tid).c_str(), "re");
    if (status == nullptr)
        return errno != ENOENT && errno != ESRCH;
    const char* const sets[] = {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"};
    int found = 0;
    bool holds = false;
    char line[256];
    while (fgets(line, sizeof line, status) != nullptr)
    {
        for (const char* set : sets)
        {
            size_t length = strlen(set);
            if (strncmp(line, set, length) != 0)
                continue;
            ++found;
            if (strtoull(line + length, nullptr, 16) != 0)
                holds = true;
        }
    }
    fclose(status);
    // Kernels before 4.3 have no ambient set.
    return holds || found < 3;
}

bool threadExists(pid_t tid)
{
    return access(threadStatusPath(tid).c_str(), F_OK) == 0;
}

// Asks one other thread to clear its own capabilities and waits for its answer.
bool askThread(pid_t tid, int signal)
{
    while (sem_trywait(&s_threadAnswered) == 0)
    {
        // a late answer of a thread that ended meanwhile
    }
    s_threadCleared = 0;
    if (syscall(SYS_tgkill, getpid(), tid, signal) != 0)
        return errno == ESRCH; // it has ended
    for (long waited = 0; waited < ANSWER_TIMEOUT_MS; waited += ANSWER_POLL_MS)
    {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += ANSWER_POLL_MS * 1000000L;
        if (deadline.tv_nsec >= 1000000000L)
        {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        if (sem_timedwait(&s_threadAnswered, &deadline) == 0)
            return s_threadCleared == 1;
        if (errno != ETIMEDOUT && errno != EINTR)
            return false;
        if (!threadExists(tid))
            return true; // it ended before it handled the signal
    }
    return false;
}

// A real-time signal that nobody in the process handles, or 0.
int findUnusedSignal(struct sigaction& previous)
{
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
    {
        if (sigaction(signal, nullptr, &previous) == 0 && (previous.sa_flags & SA_SIGINFO) == 0 &&
            previous.sa_handler == SIG_DFL)
            return signal;
    }
    return 0;
}

// Goes through the threads until none holds a capability, asking each one that does.
bool askEveryThread(int signal)
{
    pid_t self = currentThreadId();
    std::vector<pid_t> threads;
    for (int pass = 0; pass < MAX_PASSES; ++pass)
    {
        if (!listThreads(threads))
            return false;
        bool anyHeld = false;
        for (pid_t tid : threads)
        {
            if (!threadHoldsCapabilities(tid))
                continue;
            anyHeld = true;
            if (tid == self || !askThread(tid, signal))
                return false;
        }
        if (!anyHeld)
            return true;
    }
    return false;
}

} // namespace

bool VelPriv::startsPrivileged()
{
    if (isSecureStart())
        return true;
    // The ambient set is always part of the permitted and inheritable ones.
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return true; // what cannot be read counts as held
    for (const __user_cap_data_struct& word : data)
    {
        if (word.permitted != 0 || word.effective != 0 || word.inheritable != 0)
            return true;
    }
    return false;
}

bool VelPriv::protectPrivilegedStart()
{
    return !startsPrivileged() || prctl(PR_SET_DUMPABLE, 0L, 0L, 0L, 0L) == 0;
}

bool VelPriv::resetGroupIDs(gid_t gid)
{
    gid_t real = 0, effective = 0, saved = 0;
    return setresgid(gid, gid, gid) == 0 && getresgid(&real, &effective, &saved) == 0 && real == gid &&
           effective == gid && saved == gid;
}

bool VelPriv::clearCapabilities()
{
    if (!clearOwnCapabilities())
        return false;
    struct sigaction previous = {};
    int signal = findUnusedSignal(previous);
    if (signal == 0)
        return false;
    if (sem_init(&s_threadAnswered, 0, 0) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = clearCapabilitiesOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(signal, &action, nullptr) != 0)
        return false;
    if (!askEveryThread(signal))
        return false; // the handler stays: a late answer must not meet the default action
    sigaction(signal, &previous, nullptr);
    sem_destroy(&s_threadAnswered);
    return true;
}

void VelCMD::readKeys()
{
    DBG_ENTER("VelCMD::readKeys");
    DBG_MSG("Look for authenticate class.");
    jclass authClass = myEnv->FindClass(AUTHENTICATE_CLASS);
    checkCall(authClass == nullptr, VelMessages::noAuthenticateClass(myName));
    DBG_MSG("Get ketKey method.");
    jmethodID setKeys = myEnv->GetStaticMethodID(authClass, "setKeys", "()V");
    checkCall(setKeys == nullptr, VelMessages::noSetKeysMethod(myName));
    DBG_MSG("Call authenticate.setKeys().");
    // The keys are not set after an exception: the command must not run.
    myEnv->CallStaticVoidMethod(authClass, setKeys);
    checkCall(false, VelMessages::setKeysException(myName), true);
    myEnv->DeleteLocalRef(authClass);
    resetUID();
    DBG_LEAVE("VelCMD::readKeys");
}

void VelCMD::resetUID()
{
    DBG_ENTER("VelCMD::resetUID");
    DBG_INT(origUID);
    // A secure start may also have been given a group (set-group-ID): the caller's own comes back
    // first, while the user IDs may still change group IDs.
    bool secure = isSecureStart();
    if (secure && !VelPriv::resetGroupIDs(getgid()))
        errorExit(1, VelMessages::cannotResetGid(myName).c_str());
    // setuid alone keeps the saved user ID of a non-root owner, from which the privileges
    // could be taken back: set all three and check that all three hold.
    uid_t real = 0, effective = 0, saved = 0;
    if (setresuid(origUID, origUID, origUID) < 0 || getresuid(&real, &effective, &saved) < 0 || real != origUID ||
        effective != origUID || saved != origUID)
        errorExit(1, VelMessages::cannotResetUid(myName).c_str());
    // File capabilities survive a setresuid to the same user ID, and inheritable ones any setresuid.
    if (secure && !VelPriv::clearCapabilities())
        errorExit(1, VelMessages::cannotClearCapabilities(myName).c_str());
    DBG_LEAVE("VelCMD::resetUID");
}
