// The output side of the relay: the remote command's bytes on the local streams.
#include "ClifParser.h"
#include "ClifStandardStreams.h"

#include <cerrno>
#include <cstdio>

// A stream that cannot be written ends the run here, before any further status call.
void ClifCmdInvoker::displayStatus(ClifResult result)
{
    writeOut(stdout, "standard output", result.outData, result.outLength);
    writeOut(stderr, "standard error", result.errData, result.errLength);
}

void ClifCmdInvoker::writeOut(std::FILE* stream, const char* streamName, const unsigned char* data, int length)
{
    errno = 0;
    if (length > 0 && data)
        std::fwrite(data, 1, static_cast<size_t>(length), stream);
    std::fflush(stream);
    if (std::ferror(stream))
    {
        int error = errno != 0 ? errno : EIO;
        std::clearerr(stream);
        ClifStandardStreams::writeFailed(streamName, error);
    }
}
