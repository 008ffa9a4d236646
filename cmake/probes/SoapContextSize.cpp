// Prints the size that the installed gSOAP library allocates for a context in soap_new() and the
// size of struct soap as this translation unit sees it: equal when the library and the project
// agree on the layout of the context they share. The allocations are watched through malloc,
// which the library's operator new also ends in. The probe links the serialisers that soapcpp2
// writes for an empty service definition (the library refers to them; soap_new() calls none), and
// has an empty namespace table.
#include <cstddef>
#include <cstdio>

#include <stdsoap2.h>

extern "C" void* __libc_malloc(std::size_t size);

SOAP_NMAC struct Namespace namespaces[] = {{nullptr, nullptr, nullptr, nullptr}};

namespace
{
struct Allocation
{
    void* address;
    std::size_t size;
};
Allocation s_allocations[4096];
std::size_t s_count = 0;
bool s_watching = false;
} // namespace

extern "C" void* malloc(std::size_t size) noexcept
{
    void* address = __libc_malloc(size);
    if (s_watching && s_count < sizeof s_allocations / sizeof s_allocations[0])
        s_allocations[s_count++] = {address, size};
    return address;
}

int main()
{
    s_watching = true;
    struct soap* context = soap_new();
    s_watching = false;
    std::size_t allocated = 0;
    for (std::size_t i = 0; i < s_count; ++i)
        if (s_allocations[i].address == context)
            allocated = s_allocations[i].size;
    std::printf("%zu %zu", allocated, sizeof(struct soap));
    soap_free(context);
    return 0;
}
