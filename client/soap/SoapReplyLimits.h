#ifndef SOAP_REPLY_LIMITS_H
#define SOAP_REPLY_LIMITS_H

#include <cstddef>

struct soap;

// The most blanks kept in a row right after markup (a tag, the XML declaration,
// a comment): the runtime keeps such a run whole in memory while it looks for
// the next tag, so 300 MiB of blanks between two elements would cost 300 MiB
// and more. The blanks beyond are dropped from the reply as it is read.
const size_t REPLY_BLANKS_KEPT = 4096;

// The most attributes one element of a reply may carry: the runtime compares
// each new attribute with all earlier ones of its element, so 100 000 of them
// cost minutes of CPU. A reply with more fails the call.
const unsigned REPLY_ATTRIBUTES_PER_ELEMENT = 64;

// Bounds what the runtime keeps and spends on a reply while it parses it: the
// two limits above, and compressed replies (Content-Encoding gzip or deflate,
// which the client never asks for) are refused, so that a reply's memory
// follows the bytes that the server sent. Each body byte is looked at once, as
// the runtime hands it over (after chunked transfer coding). Registered once
// per context, as a runtime plug-in. Returns 0 or the runtime's error code.
int limitReplies(struct soap* context);

#endif
