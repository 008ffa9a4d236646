#ifndef CLIF_BYTE_ARRAY_H
#define CLIF_BYTE_ARRAY_H

#include <memory>

// A byte array of the SOAP messages (xsd__base64Binary): a pointer and a
// count, named as gSOAP names the members of its arrays. A null pointer is a
// nil element; a pointer with count 0 an empty one.
//
// Bytes decoded from a message are held by m_owner, shared by every copy of
// the array (gSOAP copies a multi-referenced one), so a holder of a copy keeps
// them after the context's memory is freed, without copying the bytes.
struct ClifByteArray
{
    unsigned char* __ptr = nullptr; // NOLINT(bugprone-reserved-identifier): gSOAP's array members
    int __size = 0;                 // NOLINT(bugprone-reserved-identifier)
    std::shared_ptr<unsigned char> m_owner;
};

// Decodes the Base64 text of the element the context is in, up to its end
// tag, into a (held by m_owner). The rules are the runtime's own
// (soap_getbase64): standard alphabet, blanks and character references
// anywhere, the text ends at '=' or at markup; a group of one character
// gives no byte. False with soap->error set (SOAP_TYPE for a character
// outside the alphabet) when the text is refused.
bool readBase64Text(struct soap* soap, ClifByteArray* a);

#endif
