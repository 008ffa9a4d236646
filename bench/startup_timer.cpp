// Times program starts: from just before the spawn to the first line on standard
// output, and to the exit. Variants are run round-robin so that a load change on a
// shared machine falls on all of them alike.
//
// usage: startup-timer PLAN RUNS WARMUP
// PLAN holds one variant per line: NAME, then "env:NAME=VALUE" fields that the variant
// adds to the environment, then the argument vector, all separated by tabs.
// Prints one line per run: "NAME ROUND FIRST_LINE_NS EXIT_NS", and the first line each
// variant printed as "# NAME first-line: TEXT".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

struct Variant
{
    std::string name;
    std::vector<std::string> env;
    std::vector<std::string> args;
};

const std::string ENV_FIELD = "env:";

struct Sample
{
    long long firstLineNs = -1;
    long long exitNs = -1;
    std::string firstLine;
    int status = 0;
};

long long nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

std::vector<Variant> readSpec(const char* path)
{
    std::vector<Variant> variants;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
    {
        if (line.empty())
            continue;
        Variant v;
        std::stringstream fields(line);
        std::string field;
        std::getline(fields, v.name, '\t');
        while (std::getline(fields, field, '\t'))
        {
            if (v.args.empty() && field.compare(0, ENV_FIELD.size(), ENV_FIELD) == 0)
                v.env.push_back(field.substr(ENV_FIELD.size()));
            else
                v.args.push_back(field);
        }
        variants.push_back(v);
    }
    return variants;
}

Sample runOnce(const Variant& v)
{
    Sample s;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
    {
        perror("pipe");
        exit(2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : v.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The variant's own settings replace inherited ones of the same name.
    std::vector<char*> envp;
    for (const std::string& e : v.env)
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e != nullptr; ++e)
    {
        bool replaced = false;
        for (const std::string& own : v.env)
            replaced = replaced || strncmp(*e, own.c_str(), own.find('=') + 1) == 0;
        if (!replaced)
            envp.push_back(*e);
    }
    envp.push_back(nullptr);

    long long start = nowNs();
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0)
    {
        fprintf(stderr, "startup-timer: cannot start %s: %s\n", argv[0], strerror(rc));
        exit(2);
    }
    char buffer[4096];
    bool seenNewline = false;
    for (;;)
    {
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (!seenNewline)
        {
            const char* nl = static_cast<const char*>(memchr(buffer, '\n', size_t(n)));
            s.firstLine.append(buffer, nl ? size_t(nl - buffer) : size_t(n));
            if (nl)
            {
                s.firstLineNs = nowNs() - start;
                seenNewline = true;
            }
        }
    }
    close(out[0]);
    waitpid(pid, &s.status, 0);
    s.exitNs = nowNs() - start;
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
    {
        fprintf(stderr, "usage: startup-timer PLAN RUNS WARMUP\n");
        return 2;
    }
    std::vector<Variant> variants = readSpec(argv[1]);
    int runs = atoi(argv[2]);
    int warmup = atoi(argv[3]);
    if (variants.empty() || runs < 1)
    {
        fprintf(stderr, "startup-timer: nothing to run\n");
        return 2;
    }
    for (int round = -warmup; round < runs; ++round)
    {
        // Rotate the order each round so that no variant always follows the same one.
        for (size_t k = 0; k < variants.size(); ++k)
        {
            const Variant& v = variants[(k + size_t(round + warmup)) % variants.size()];
            Sample s = runOnce(v);
            if (!WIFEXITED(s.status) || WEXITSTATUS(s.status) != 0 || s.firstLineNs < 0)
            {
                fprintf(stderr, "startup-timer: %s failed (status %d, first line '%s')\n", v.name.c_str(), s.status,
                        s.firstLine.c_str());
                return 1;
            }
            if (round == -warmup)
                printf("# %s first-line: %s\n", v.name.c_str(), s.firstLine.c_str());
            if (round >= 0)
                printf("%s %d %lld %lld\n", v.name.c_str(), round, s.firstLineNs, s.exitNs);
            fflush(stdout);
        }
    }
    return 0;
}
