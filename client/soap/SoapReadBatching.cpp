#include "SoapReadBatching.h"

#include <new>

#include <sys/socket.h>

#include "TlsClientSetup.h"
#include "soapH.h"

namespace
{
const char s_pluginId[] = "clif-read-batching";

// The bytes one read waits for while more than that is owed.
const int BATCH_BYTES = 64 * 1024;
// The most of a reply the TLS layer can hold, read from the socket but not yet
// handed to the runtime: its read-ahead buffer, with a margin.
const ULONG64 TLS_HELD_BYTES = TLS_READ_BUFFER_BYTES + 4096;

struct ReadBatching
{
    int (*runtimeParse)(struct soap*);
    size_t (*runtimeReceive)(struct soap*, char*, size_t);
    ULONG64 bodyStart;          // bytes received up to the first byte of the body
    SOAP_SOCKET batchedSocket;  // the socket whose low-water mark is raised, if any
};

ReadBatching* batchingOf(struct soap* context)
{
    return static_cast<ReadBatching*>(soap_lookup_plugin(context, s_pluginId));
}

// The body starts where the header parser stopped reading.
int parseNotingBodyStart(struct soap* context)
{
    ReadBatching* batching = batchingOf(context);
    int rc = batching->runtimeParse(context);
    batching->bodyStart = context->count - (context->buflen - context->bufidx);
    return rc;
}

bool bodyOwesABatch(const struct soap* context, const ReadBatching& batching)
{
    // Content-Length counts the bytes on the wire: with chunks or compression
    // the runtime's count is not comparable with it.
    if (context->length == 0 || (context->mode & SOAP_ENC_ZLIB) || (context->mode & SOAP_IO) == SOAP_IO_CHUNK)
        return false;
    // The length is reset when the next message begins, before its header is read.
    if (context->count < batching.bodyStart)
        return false;
    ULONG64 received = context->count - batching.bodyStart;
    return context->length > received && context->length - received > TLS_HELD_BYTES + BATCH_BYTES;
}

void setLowWaterMark(SOAP_SOCKET socket, int bytes)
{
    setsockopt(socket, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
}

size_t receiveInBatches(struct soap* context, char* buffer, size_t size)
{
    ReadBatching* batching = batchingOf(context);
    SOAP_SOCKET socket = context->socket;
    if (soap_valid_socket(socket))
    {
        bool raised = batching->batchedSocket == socket;
        bool wanted = bodyOwesABatch(context, *batching);
        if (wanted && !raised)
        {
            setLowWaterMark(socket, BATCH_BYTES);
            batching->batchedSocket = socket;
        }
        else if (!wanted && raised)
        {
            setLowWaterMark(socket, 1);
            batching->batchedSocket = SOAP_INVALID_SOCKET;
        }
    }
    return batching->runtimeReceive(context, buffer, size);
}

int copyBatching(struct soap* /*context*/, struct soap_plugin* copy, struct soap_plugin* original)
{
    auto* data = new (std::nothrow) ReadBatching(*static_cast<ReadBatching*>(original->data));
    if (!data)
        return SOAP_EOM;
    data->batchedSocket = SOAP_INVALID_SOCKET;
    copy->data = data;
    return SOAP_OK;
}

void deleteBatching(struct soap* /*context*/, struct soap_plugin* plugin)
{
    delete static_cast<ReadBatching*>(plugin->data);
}

int createBatching(struct soap* context, struct soap_plugin* plugin, void* /*argument*/)
{
    auto* data = new (std::nothrow) ReadBatching{context->fparse, context->frecv, 0, SOAP_INVALID_SOCKET};
    if (!data)
        return SOAP_EOM;
    plugin->id = s_pluginId;
    plugin->data = data;
    plugin->fcopy = copyBatching;
    plugin->fdelete = deleteBatching;
    context->fparse = parseNotingBodyStart;
    context->frecv = receiveInBatches;
    return SOAP_OK;
}
}

int batchReplyReads(struct soap* context)
{
    if (!context)
        return SOAP_EOM;
    if (soap_lookup_plugin(context, s_pluginId))
        return SOAP_OK;
    // With SO_RCVBUF left alone the kernel sizes the buffer for the low-water mark.
    context->rcvbuf = 0;
    return soap_register_plugin(context, createBatching);
}
