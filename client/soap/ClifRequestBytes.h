#ifndef CLIF_REQUEST_BYTES_H
#define CLIF_REQUEST_BYTES_H

#include "ClifByteArray.h"

// Bytes of a request parameter, never a nil element: without bytes (a null
// pointer or a count of 0) the parameter goes out as an empty element.
inline ClifByteArray requestBytes(const unsigned char* data, int size)
{
    static unsigned char s_noBytes[1];
    ClifByteArray bytes;
    bool some = data && size > 0;
    bytes.__ptr = some ? const_cast<unsigned char*>(data) : s_noBytes;
    bytes.__size = some ? size : 0;
    return bytes;
}

#endif
