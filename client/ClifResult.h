#ifndef CLIF_RESULT_H
#define CLIF_RESULT_H

#include <string>

// The outcome of one invoke or status call. The byte pointers are not owned:
// they stay valid until the next call of the same client has returned.
struct ClifResult
{
    std::string sessionId;
    bool complete = false;
    int pollPeriod = 0;
    int returnCode = 0;
    unsigned char* errData = nullptr;
    int errLength = 0;
    bool errOpen = false;
    unsigned char* outData = nullptr;
    int outLength = 0;
    bool outOpen = false;
};

#endif
