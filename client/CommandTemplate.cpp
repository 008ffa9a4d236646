#include "ClifParser.h"
#include "ClifStandardStreams.h"

// Installed under the name of each management command: runs that command on the CMS.
int main(int argc, char** argv)
{
    ClifStandardStreams::prepare();
    ClifCmdInvoker invoker;
    return invoker.invokeCluiCmd(argc, argv);
}
