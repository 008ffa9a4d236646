#ifndef CLIF_BYTE_ARRAY_H
#define CLIF_BYTE_ARRAY_H

// A byte array of the SOAP messages (xsd__base64Binary): a pointer and a
// count, named as gSOAP names the members of its arrays. A null pointer is a
// nil element; a pointer with count 0 an empty one.
struct ClifByteArray
{
    unsigned char* __ptr = nullptr;  // NOLINT(bugprone-reserved-identifier): gSOAP's array members
    int __size = 0;                  // NOLINT(bugprone-reserved-identifier)
};

#endif
