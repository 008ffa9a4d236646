#ifndef CLIF_STANDARD_STREAMS_H
#define CLIF_STANDARD_STREAMS_H

// The process's standard descriptors and SIGPIPE, set up before anything else runs.
class ClifStandardStreams
{
public:
    // Puts /dev/null on any of descriptors 0, 1 and 2 that is closed, so that no socket or
    // file the client opens later becomes its standard input or output. Ignores SIGPIPE: a
    // server that closes the connection while a request is still being sent makes the call
    // fail (and the run end with its message) instead of killing the process silently.
    // Output to a descriptor left non-blocking waits until the descriptor takes it.
    static void prepare();

    // A write of local output failed with this errno value; never returns. A reader that went
    // away (EPIPE) ends the client as it ends any filter: by SIGPIPE, as the caller had set it
    // up. Any other error (a full disk, an I/O error) is named on standard error, with the
    // stream, and ends the client with status 1: output that was lost is never a success.
    [[noreturn]] static void writeFailed(const char* streamName, int error);

private:
    static void openNullOnClosed(int fd);
    // Puts streams on descriptors 1 and 2 that wait while a descriptor the caller left
    // non-blocking is full (EAGAIN), so that every byte arrives.
    static void waitOnFullOutput();
};

#endif
