#ifndef CLIF_LOCAL_COMMANDS_H
#define CLIF_LOCAL_COMMANDS_H

// clifclient under its own name, which is never a command of the CMS: it
// answers locally (--help, --version, --check) and forwards nothing. Under any
// other name the command line goes to the CMS as always.
namespace ClifLocalCommands
{
// True when the base name of the program path is "clifclient".
bool isOwnName(const char* programPath);

// Runs the local command line; the result is the exit status.
int run(int argc, char** argv);
} // namespace ClifLocalCommands

#endif
