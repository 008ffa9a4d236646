#include "ClifLocalCommands.h"
#include "ClifParser.h"
#include "ClifStandardStreams.h"

// Installed under the name of each management command: runs that command on the CMS.
// Under its own name it answers locally.
int main(int argc, char** argv)
{
    ClifStandardStreams::prepare();
    if (ClifLocalCommands::isOwnName(argc > 0 ? argv[0] : nullptr))
        return ClifLocalCommands::run(argc, argv);
    ClifCmdInvoker invoker;
    return invoker.invokeCluiCmd(argc, argv);
}
