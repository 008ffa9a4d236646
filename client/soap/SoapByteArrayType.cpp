// Serialiser of xsd__base64Binary (ClifByteArray), declared in
// SoapWireTypes.h: bytes as Base64 text (Base64Encoding.cpp), typed
// xsd:base64Binary. On input the element's xsi:type, when present, must name
// base64Binary or base64 (in any namespace: xsd:base64Binary, SOAP-ENC:base64,
// SOAP-ENC:base64Binary); anything else fails the call with SOAP_TYPE. A nil
// or absent element leaves a null pointer and count 0.

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Base64Encoding.h"
#include "soapH.h"

namespace
{
bool typedAsBytes(struct soap* soap, const char* type)
{
    return !*soap->type || !soap_match_tag(soap, soap->type, type) ||
           !soap_match_tag(soap, soap->type, ":base64Binary") || !soap_match_tag(soap, soap->type, ":base64");
}

// The runtime's markers that soap_get returns for markup (stdsoap2.cpp).
constexpr soap_wchar kMarkupLt = -2; // '<' of a start tag
constexpr soap_wchar kMarkupTt = -3; // "</" of an end tag
constexpr soap_wchar kMarkupAp = -6; // the lowest marker; below it, a character reference

constexpr unsigned char kBlank = 64;   // ignored between the characters
constexpr unsigned char kSpecial = 65; // left to soap_get: markup, '=', references, errors

// Value of each input byte: 0-63 for the Base64 alphabet, kBlank for the
// runtime's blanks (every byte up to 32), kSpecial for all others.
struct Base64Table
{
    unsigned char value[256]{};
    constexpr Base64Table()
    {
        for (int c = 0; c < 256; ++c)
            value[c] = c <= 32 ? kBlank : kSpecial;
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (unsigned char v = 0; v < 64; ++v)
            value[static_cast<unsigned char>(alphabet[v])] = v;
    }
};
constexpr Base64Table s_base64;

// The fast path's tables: for each position in a group of four characters,
// each alphabet character's six bits already at their place among the
// group's three bytes, in a word whose lowest byte is the first (so that the
// four parts are only or-ed together). Any other byte sets the top bit,
// which no valid group has.
constexpr uint32_t kNotInGroup = 0x80000000u;
struct Base64GroupTables
{
    uint32_t part[4][256]{};
    constexpr Base64GroupTables()
    {
        for (int c = 0; c < 256; ++c)
        {
            const uint32_t v = s_base64.value[c];
            if (v >= 64)
            {
                part[0][c] = part[1][c] = part[2][c] = part[3][c] = kNotInGroup;
                continue;
            }
            part[0][c] = v << 2;
            part[1][c] = (v >> 4) | ((v & 0x0F) << 12);
            part[2][c] = ((v >> 2) << 8) | ((v & 0x03) << 22);
            part[3][c] = v << 16;
        }
    }
};
constexpr Base64GroupTables s_groups;

// The three bytes of a group word; on a little-endian machine as one store
// of four bytes, whose last one the next group overwrites (the sink keeps
// room for it).
inline void storeGroup(unsigned char* out, uint32_t word)
{
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    {
        std::memcpy(out, &word, 4);
    }
    else
    {
        out[0] = static_cast<unsigned char>(word);
        out[1] = static_cast<unsigned char>(word >> 8);
        out[2] = static_cast<unsigned char>(word >> 16);
    }
}

// The decoded bytes, in one buffer that grows by realloc; handed to a
// ClifByteArray at the end.
class ByteSink
{
public:
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
    ByteSink() = default;
    ~ByteSink() { std::free(m_bytes); }

    // Room for at least n more bytes at end(); false when memory is out.
    bool reserve(size_t n)
    {
        if (m_capacity - m_size >= n)
            return true;
        size_t capacity = m_capacity < 4096 ? 4096 : m_capacity;
        while (capacity - m_size < n)
            capacity *= 2;
        auto* bytes = static_cast<unsigned char*>(std::realloc(m_bytes, capacity));
        if (!bytes)
            return false;
        m_bytes = bytes;
        m_capacity = capacity;
        return true;
    }
    unsigned char* end() { return m_bytes + m_size; }
    void grow(size_t n) { m_size += n; }
    size_t size() const { return m_size; }

    // Hands the bytes to a: a non-null pointer even for no bytes, as the
    // runtime gives.
    bool handTo(ClifByteArray* a)
    {
        if (!m_bytes && !reserve(1))
            return false;
        a->m_owner.reset(m_bytes, std::free);
        a->__ptr = m_bytes;
        a->__size = static_cast<int>(m_size);
        m_bytes = nullptr;
        m_capacity = m_size = 0;
        return true;
    }

private:
    unsigned char* m_bytes = nullptr;
    size_t m_capacity = 0;
    size_t m_size = 0;
};

// One 4-character group in the making: the bits and the count of characters.
struct Base64Group
{
    unsigned long bits = 0;
    int count = 0;
};

// Decodes what the input buffer holds from its read position: whole groups
// at once, until the buffer ends or a byte needs soap_get.
void decodeBuffered(struct soap* soap, ByteSink& sink, Base64Group& group)
{
    const auto* in = reinterpret_cast<const unsigned char*>(soap->buf);
    size_t i = soap->bufidx;
    const size_t end = soap->buflen;
    // Room for every whole group: three bytes more for a group that characters of an earlier
    // buffer began, one more for storeGroup's fourth byte.
    if (i >= end || !sink.reserve((end - i) / 4 * 3 + 3 + 1))
        return;
    unsigned char* out = sink.end();
    unsigned long bits = group.bits;
    int count = group.count;
    while (i < end)
    {
        if (count == 0)
        {
            // The common case: alphabet characters in a row, by groups of four.
            while (end - i >= 4)
            {
                const uint32_t word = s_groups.part[0][in[i]] | s_groups.part[1][in[i + 1]] |
                                      s_groups.part[2][in[i + 2]] | s_groups.part[3][in[i + 3]];
                if (word & kNotInGroup)
                    break;
                storeGroup(out, word);
                out += 3;
                i += 4;
            }
            if (i >= end)
                break;
        }
        const unsigned char v = s_base64.value[in[i]];
        if (v == kSpecial)
            break;
        ++i;
        if (v == kBlank)
            continue;
        bits = (bits << 6) + v;
        if (++count == 4)
        {
            out[0] = static_cast<unsigned char>(bits >> 16);
            out[1] = static_cast<unsigned char>(bits >> 8);
            out[2] = static_cast<unsigned char>(bits);
            out += 3;
            bits = 0;
            count = 0;
        }
    }
    sink.grow(static_cast<size_t>(out - sink.end()));
    soap->bufidx = i;
    group.bits = bits;
    group.count = count;
}

// The end of the text ('=' or markup): the last partial group gives its
// bytes; after '=' the rest of the text is skipped up to the next markup.
bool finishText(struct soap* soap, ByteSink& sink, const Base64Group& group, soap_wchar c, ClifByteArray* a)
{
    if (!sink.reserve(2))
    {
        soap->error = SOAP_EOM;
        return false;
    }
    unsigned char* out = sink.end();
    if (group.count == 2)
    {
        out[0] = static_cast<unsigned char>(group.bits >> 4);
        sink.grow(1);
    }
    else if (group.count == 3)
    {
        out[0] = static_cast<unsigned char>(group.bits >> 10);
        out[1] = static_cast<unsigned char>(group.bits >> 2);
        sink.grow(2);
    }
    if (soap->maxlength > 0 && sink.size() > static_cast<size_t>(soap->maxlength))
    {
        soap->error = SOAP_LENGTH;
        return false;
    }
    if (sink.size() > static_cast<size_t>(INT_MAX) || !sink.handTo(a))
    {
        soap->error = SOAP_EOM;
        return false;
    }
    if (c >= 0)
    {
        while ((c = soap_get(soap)) != EOF && c != kMarkupLt && c != kMarkupTt)
            continue;
    }
    soap_unget(soap, c);
    return true;
}
} // namespace

// Buffered bytes are decoded in place of the input buffer; a byte that is
// markup, '=', a reference or an error, and any byte while the runtime holds
// one back or is inside CDATA, is read by soap_get and treated exactly as
// soap_getbase64 treats it.
bool readBase64Text(struct soap* soap, ClifByteArray* a)
{
    ByteSink sink;
    Base64Group group;
    for (;;)
    {
        if (!soap->ahead && !soap->cdata)
            decodeBuffered(soap, sink, group);
        soap_wchar c = soap_get(soap);
        if (c < kMarkupAp)
            c &= 0x7FFFFFFF;
        if (c == '=' || c < 0)
            return finishText(soap, sink, group, c, a);
        const unsigned char v = c < 256 ? s_base64.value[c] : kSpecial;
        if (v < 64)
        {
            group.bits = (group.bits << 6) + v;
            if (++group.count == 4)
            {
                if (!sink.reserve(3))
                {
                    soap->error = SOAP_EOM;
                    return false;
                }
                unsigned char* out = sink.end();
                out[0] = static_cast<unsigned char>(group.bits >> 16);
                out[1] = static_cast<unsigned char>(group.bits >> 8);
                out[2] = static_cast<unsigned char>(group.bits);
                sink.grow(3);
                group = Base64Group();
            }
        }
        else if (v != kBlank)
        {
            soap->error = SOAP_TYPE;
            return false;
        }
    }
}

void soap_default_xsd__base64Binary(struct soap* soap, ClifByteArray* a)
{
    (void)soap;
    a->__ptr = nullptr;
    a->__size = 0;
    a->m_owner.reset();
}

void soap_serialize_xsd__base64Binary(struct soap* soap, const ClifByteArray* a)
{
#ifndef WITH_NOIDREF
    if (a->__ptr)
        (void)soap_array_reference(soap, a, a->__ptr, a->__size, SOAP_TYPE_xsd__base64Binary);
#else
    (void)soap;
    (void)a;
#endif
}

namespace
{
// Writes the bytes as Base64 text, as the runtime's soap_putbase64 does, but
// in the counting pass of a request only counts the text's length (nothing
// watches the counted bytes unless a send hook is set), and encodes by pairs
// of characters into pieces of 16 KiB.
int putBase64Text(struct soap* soap, const unsigned char* bytes, int size)
{
    if (!bytes || size <= 0)
        return SOAP_OK;
#ifdef WITH_DOM
    if ((soap->mode & SOAP_XML_DOM) && soap->dom)
        return soap_putbase64(soap, bytes, size);
#endif
    std::size_t left = static_cast<std::size_t>(size);
#ifndef WITH_LEANER
    const bool hooked = soap->fpreparesend || soap->ffiltersend;
#else
    const bool hooked = false;
#endif
    if ((soap->mode & SOAP_IO_LENGTH) && !hooked)
    {
        soap->count += base64TextLength(left);
        return SOAP_OK;
    }
    char text[16384];
    constexpr std::size_t kPieceBytes = sizeof text / 4 * 3; // whole groups: '=' only at the end
    while (left > 0)
    {
        std::size_t piece = left < kPieceBytes ? left : kPieceBytes;
        if (soap_send_raw(soap, text, encodeBase64(bytes, piece, text)))
            return soap->error;
        bytes += piece;
        left -= piece;
    }
    return SOAP_OK;
}
} // namespace

int soap_out_xsd__base64Binary(struct soap* soap, const char* tag, int id, const ClifByteArray* a, const char* type)
{
    id = soap_element_id(soap, tag, id, a, a->__ptr, a->__size, type, SOAP_TYPE_xsd__base64Binary, nullptr);
    if (id < 0)
        return soap->error; // written as nil or as a reference
    if (soap_element_begin_out(soap, tag, id, type) || putBase64Text(soap, a->__ptr, a->__size))
        return soap->error;
    return soap_element_end_out(soap, tag);
}

ClifByteArray* soap_in_xsd__base64Binary(struct soap* soap, const char* tag, ClifByteArray* a, const char* type)
{
    if (soap_element_begin_in(soap, tag, 1, nullptr))
        return nullptr;
    if (!typedAsBytes(soap, type))
    {
        soap->error = SOAP_TYPE;
        return nullptr;
    }
    a = static_cast<ClifByteArray*>(soap_id_enter(soap, soap->id, a, SOAP_TYPE_xsd__base64Binary, sizeof(ClifByteArray),
                                                  soap->type, soap->arrayType, soap_instantiate, soap_fbase));
    if (!a)
        return nullptr;
    soap_default_xsd__base64Binary(soap, a);
    if (soap->body && *soap->href != '#')
    {
        if (!readBase64Text(soap, a) || soap_element_end_in(soap, tag))
            return nullptr;
    }
    else
    {
        // A reference (href) to bytes given elsewhere in the message.
        a = static_cast<ClifByteArray*>(soap_id_forward(soap, soap->href, a, 0, SOAP_TYPE_xsd__base64Binary,
                                                        SOAP_TYPE_xsd__base64Binary, sizeof(ClifByteArray), 0,
                                                        soap_finsert, soap_fbase));
        if (soap->body && soap_element_end_in(soap, tag))
            return nullptr;
    }
    return a;
}
