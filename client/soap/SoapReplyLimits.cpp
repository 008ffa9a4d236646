#include "SoapReplyLimits.h"

#include <cstring>
#include <new>

#include "soapH.h"

namespace
{
const char s_pluginId[] = "clif-reply-limits";

// Where the reader stands in the message.
enum class Phase
{
    Start,  // nothing seen yet but blanks
    Header, // in the HTTP header, or in a body that is not parsed as XML (an HTTP error)
    Body,   // in the XML, which is looked at
};

// Where the reader stands in the XML.
enum class Markup
{
    Text,        // between tags
    Open,        // just after '<'
    Start,       // in a start tag, outside any attribute value
    Value,       // in an attribute value
    End,         // in an end tag
    Pi,          // in <?...?>
    Bang,        // just after "<!"
    Comment,     // in <!--...-->
    Cdata,       // in <![CDATA[...]]>
    Declaration, // in another <!...>
};

struct ReplyLimits
{
    int (*runtimePrepareInitRecv)(struct soap*);
    int (*runtimeParse)(struct soap*);
    int (*runtimePrepareRecv)(struct soap*, const char*, size_t);

    Phase phase;
    Markup markup;
    bool afterMarkup;    // only blanks since the last markup ended
    size_t blanks;       // blanks in a row since then
    unsigned attributes; // of the start tag being read
    char quote;          // the quote that ends the attribute value
    bool tooManyAttributes;
    char last[2]; // the two bytes before, for the ends of comments, CDATA and <?...?>

    void beginMessage()
    {
        phase = Phase::Start;
        beginXml();
    }
    void beginXml()
    {
        markup = Markup::Text;
        afterMarkup = true;
        blanks = 0;
        attributes = 0;
        quote = 0;
        tooManyAttributes = false;
        last[0] = last[1] = 0;
    }
};

ReplyLimits* limitsOf(struct soap* context)
{
    return static_cast<ReplyLimits*>(soap_lookup_plugin(context, s_pluginId));
}

bool isBlank(unsigned char c)
{
    return c <= 32; // as the runtime counts blanks
}

int refuse(struct soap* context, const char* fault, const char* detail, int error)
{
    return soap_set_receiver_error(context, fault, detail, error);
}

int refuseCompressed(struct soap* context)
{
    return refuse(context, "Compressed reply refused",
                  "The server compressed its reply (Content-Encoding), which the client never asks for",
                  SOAP_ZLIB_ERROR);
}

// Steps over one byte of XML; false when the byte is to be dropped.
bool keepByte(ReplyLimits& limits, unsigned char c)
{
    const char before = limits.last[1];
    const char beforeThat = limits.last[0];
    limits.last[0] = before;
    limits.last[1] = static_cast<char>(c);
    switch (limits.markup)
    {
    case Markup::Text:
        if (c == '<')
        {
            limits.markup = Markup::Open;
            limits.afterMarkup = false;
        }
        else if (!isBlank(c))
        {
            limits.afterMarkup = false;
        }
        else if (limits.afterMarkup && ++limits.blanks > REPLY_BLANKS_KEPT)
        {
            return false;
        }
        return true;
    case Markup::Open:
        limits.markup = c == '/' ? Markup::End : c == '?' ? Markup::Pi : c == '!' ? Markup::Bang : Markup::Start;
        limits.attributes = 0;
        return true;
    case Markup::Start:
        if (c == '"' || c == '\'')
        {
            limits.quote = static_cast<char>(c);
            limits.markup = Markup::Value;
        }
        else if (c == '=' && ++limits.attributes > REPLY_ATTRIBUTES_PER_ELEMENT)
        {
            limits.tooManyAttributes = true;
        }
        break;
    case Markup::Value:
        if (c == static_cast<unsigned char>(limits.quote))
            limits.markup = Markup::Start;
        return true;
    case Markup::Bang:
        limits.markup = c == '-' ? Markup::Comment : c == '[' ? Markup::Cdata : Markup::Declaration;
        return true;
    case Markup::Pi:
        if (c == '>' && before == '?')
            break;
        return true;
    case Markup::Comment:
        if (c == '>' && before == '-' && beforeThat == '-')
            break;
        return true;
    case Markup::Cdata:
        if (c == '>' && before == ']' && beforeThat == ']')
            break;
        return true;
    case Markup::End:
    case Markup::Declaration: break;
    }
    if (c == '>' && limits.markup != Markup::Value)
    {
        limits.markup = Markup::Text;
        limits.afterMarkup = true;
        limits.blanks = 0;
    }
    return true;
}

// Looks at the body bytes [data, data + size), which end where the runtime's buffer ends, and
// drops from them, in place, what keepByte drops. The runtime counts the bytes it received
// before it calls this, so its count of the message stays that of the wire.
// Rule: this relies on the runtime (gSOAP 2.8, soap_recv_raw and soap_begin_recv) handing each
// body byte over once, after chunked coding and inflation, in a region that ends at buflen, with
// only the next chunk's raw bytes (up to chunkbuflen) behind it. A runtime that calls
// fpreparerecv otherwise must be checked against it: the fault tests (ReplyMemory) read blanks in
// one body and in chunks of 1000 bytes and must still see the whole output.
int limitBytes(struct soap* context, ReplyLimits& limits, const char* data, size_t size)
{
    char* bytes = context->buf + (data - context->buf);
    size_t kept = 0;
    for (size_t i = 0; i < size;)
    {
        if (limits.markup == Markup::Text && !limits.afterMarkup)
        {
            // Text (Base64 output above all) is kept whole up to the next markup.
            const void* next = std::memchr(bytes + i, '<', size - i);
            const size_t end = next ? static_cast<size_t>(static_cast<const char*>(next) - bytes) : size;
            if (kept != i)
                std::memmove(bytes + kept, bytes + i, end - i);
            kept += end - i;
            i = end;
            if (i == size)
                break;
        }
        const auto c = static_cast<unsigned char>(bytes[i++]);
        if (keepByte(limits, c))
            bytes[kept++] = static_cast<char>(c);
        if (limits.tooManyAttributes)
            return refuse(context, "Reply refused", "An element of the reply carries too many attributes",
                          SOAP_SYNTAX_ERROR);
    }
    // An empty buffer would read as a stale byte: one blank stays (it is still the first byte).
    if (kept == 0 && size > 0)
        kept = 1;
    const size_t dropped = size - kept;
    if (dropped == 0)
        return SOAP_OK;
    const size_t end = context->buflen;
    context->buflen -= dropped;
    // With chunked transfer coding the next chunk's header may follow in the buffer.
    if ((context->mode & SOAP_IO) == SOAP_IO_CHUNK && context->chunkbuflen > end)
    {
        std::memmove(context->buf + context->buflen, context->buf + end, context->chunkbuflen - end);
        context->chunkbuflen -= dropped;
    }
    return SOAP_OK;
}

int prepareInitRecv(struct soap* context)
{
    ReplyLimits* limits = limitsOf(context);
    limits->beginMessage();
    return limits->runtimePrepareInitRecv ? limits->runtimePrepareInitRecv(context) : SOAP_OK;
}

// The XML starts where a successful HTTP header ends.
int parseHeader(struct soap* context)
{
    ReplyLimits* limits = limitsOf(context);
    int rc = limits->runtimeParse(context);
    if (rc == SOAP_OK)
    {
        limits->phase = Phase::Body;
        limits->beginXml();
    }
    return rc;
}

int prepareRecv(struct soap* context, const char* data, size_t size)
{
    ReplyLimits* limits = limitsOf(context);
    if (limits->runtimePrepareRecv)
    {
        if (int rc = limits->runtimePrepareRecv(context, data, size))
            return rc;
    }
    if (limits->phase == Phase::Start)
    {
        // An HTTP status line begins with a letter; anything else is the message itself.
        size_t i = 0;
        while (i < size && isBlank(static_cast<unsigned char>(data[i])))
            ++i;
        if (i == size)
            return SOAP_OK;
        const char first = data[i];
        if (first == 0x1F)
            return refuseCompressed(context);
        const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
        limits->phase = letter ? Phase::Header : Phase::Body;
    }
    if (limits->phase != Phase::Body)
        return SOAP_OK;
    if (context->mode & SOAP_ENC_ZLIB)
        return refuseCompressed(context);
    return limitBytes(context, *limits, data, size);
}

int copyLimits(struct soap* /*context*/, struct soap_plugin* copy, struct soap_plugin* original)
{
    auto* data = new (std::nothrow) ReplyLimits(*static_cast<ReplyLimits*>(original->data));
    if (!data)
        return SOAP_EOM;
    copy->data = data;
    return SOAP_OK;
}

void deleteLimits(struct soap* /*context*/, struct soap_plugin* plugin)
{
    delete static_cast<ReplyLimits*>(plugin->data);
}

int createLimits(struct soap* context, struct soap_plugin* plugin, void* /*argument*/)
{
    auto* data = new (std::nothrow) ReplyLimits();
    if (!data)
        return SOAP_EOM;
    data->runtimePrepareInitRecv = context->fprepareinitrecv;
    data->runtimeParse = context->fparse;
    data->runtimePrepareRecv = context->fpreparerecv;
    data->beginMessage();
    plugin->id = s_pluginId;
    plugin->data = data;
    plugin->fcopy = copyLimits;
    plugin->fdelete = deleteLimits;
    context->fprepareinitrecv = prepareInitRecv;
    context->fparse = parseHeader;
    context->fpreparerecv = prepareRecv;
    return SOAP_OK;
}
} // namespace

int limitReplies(struct soap* context)
{
    if (!context)
        return SOAP_EOM;
    if (soap_lookup_plugin(context, s_pluginId))
        return SOAP_OK;
    return soap_register_plugin(context, createLimits);
}
