// Run-time defaults of the sanitizer test build, linked into every executable of that build only.
// A finding ends the process with status 86, which no program of the project uses, so that a test
// that expects a failure status cannot mistake a finding for the failure it expects. Reports go to
// files in the build's report directory (VEL_SANITIZE_LOG_PATH, a path prefix the build defines):
// some programs run with their standard error in a file or discarded and their status unchecked
// (the stand-in CMS), and the test command fails on any report left there. An allocation that
// cannot be made returns null, as glibc's malloc does, so that a reply asking for a huge buffer
// meets the program's own handling of that (gSOAP fails the call) rather than a report. A fault of
// the gSOAP runtime that the tests provoke on purpose is suppressed (VEL_SANITIZE_SUPPRESSIONS).

#if defined(VEL_SANITIZE_HOSTS_JVM)
// The JVM handles SIGSEGV, SIGBUS, SIGFPE and SIGILL itself (implicit null checks, stack banging,
// safepoint polls): the sanitizer must not take these signals first. A fake stack for
// use-after-return confuses the JVM's stack walking, and the JVM's own allocations are kept
// until the process ends, so leak checking is off in processes that host it.
#define VEL_ASAN_OPTIONS                                                        \
    "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"            \
    "allow_user_segv_handler=1:detect_stack_use_after_return=0:detect_leaks=0:" \
    "allocator_may_return_null=1:exitcode=86:"                                  \
    "suppressions=" VEL_SANITIZE_SUPPRESSIONS ":log_path=" VEL_SANITIZE_LOG_PATH
#else
#define VEL_ASAN_OPTIONS                                                           \
    "detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:" \
    "strict_init_order=1:allocator_may_return_null=1:exitcode=86:"                 \
    "suppressions=" VEL_SANITIZE_SUPPRESSIONS ":log_path=" VEL_SANITIZE_LOG_PATH
#endif

extern "C" {

__attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return VEL_ASAN_OPTIONS;
}

__attribute__((visibility("default"), used)) const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1:exitcode=86:log_path=" VEL_SANITIZE_LOG_PATH;
}
}
