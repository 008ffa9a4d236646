#ifndef SOAP_READ_BATCHING_H
#define SOAP_READ_BATCHING_H

struct soap;

// Lets the reads of a long reply body sleep until a batch of bytes has arrived
// (SO_RCVLOWAT) instead of waking for every TLS record the server writes, and
// leaves the socket's receive buffer to the kernel's tuning (the runtime would
// fix it at 64 KiB, less than a batch takes with its TCP overhead). A reply of
// 1 MiB then takes some 20 reads instead of some 50. The batch is asked for
// only while the body's Content-Length says that more than a batch must still
// come beyond all the TLS layer may already hold, so a read never waits for
// bytes the server does not owe; near the end of a body, for chunked or
// compressed replies and outside bodies, reads take what has arrived as before.
// Registered once per context, as a runtime plug-in. Returns 0 or the
// runtime's error code.
int batchReplyReads(struct soap* context);

#endif
