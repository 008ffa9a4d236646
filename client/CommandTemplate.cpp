#include <malloc.h>

#include "ClifLocalCommands.h"
#include "ClifParser.h"
#include "ClifStandardStreams.h"

namespace
{
// Each reply's bytes are freed after the next call, while the next reply
// fills a buffer of about the same size. Kept in the heap instead of being
// unmapped and mapped afresh (the kernel zeroing each new page, often a huge
// page at a time), the memory costs no page faults from reply to reply;
// buffers from 16 MiB on are still mapped on their own and returned. The
// growth comment of ByteSink in soap/SoapByteArrayType.cpp ("grows by
// realloc") states what this threshold does to the reply buffer: keep the
// two in step. Runs first in main, before any reply is allocated.
void keepReplyMemoryInTheHeap()
{
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}
} // namespace

// Installed under the name of each management command: runs that command on the CMS.
// Under its own name it answers locally.
int main(int argc, char** argv)
{
    keepReplyMemoryInTheHeap();
    ClifStandardStreams::prepare();
    if (ClifLocalCommands::isOwnName(argc > 0 ? argv[0] : nullptr))
        return ClifLocalCommands::run(argc, argv);
    ClifCmdInvoker invoker;
    return invoker.invokeCluiCmd(argc, argv);
}
