// Runs a program and reports its peak resident size and CPU time.
//
// usage: run-measured REPORT_FILE PROGRAM [ARG ...]
// Writes "maxrss_kib=N user_s=X sys_s=Y" to REPORT_FILE and exits with the program's
// status. Linux carries the peak resident size of a process across exec, so a program
// started straight from a large parent (a Python script) would report the parent's size;
// this small process in between keeps that floor at its own, about a megabyte.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        fprintf(stderr, "usage: run-measured REPORT_FILE PROGRAM [ARG ...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid < 0)
    {
        perror("run-measured: fork");
        return 2;
    }
    if (pid == 0)
    {
        execv(argv[2], argv + 2);
        perror("run-measured: exec");
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
    {
        perror("run-measured: wait4");
        return 2;
    }
    FILE* report = fopen(argv[1], "w");
    if (report == nullptr)
    {
        perror("run-measured: report file");
        return 2;
    }
    fprintf(report, "maxrss_kib=%ld user_s=%ld.%06ld sys_s=%ld.%06ld\n", usage.ru_maxrss, long(usage.ru_utime.tv_sec),
            long(usage.ru_utime.tv_usec), long(usage.ru_stime.tv_sec), long(usage.ru_stime.tv_usec));
    fclose(report);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
