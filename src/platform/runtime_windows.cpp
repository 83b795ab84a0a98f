// The few C library functions the compiler and the stream layer call, for a
// program that links no C runtime. Built with -ffreestanding so that these
// loops are not turned back into calls to themselves.
#include <cstddef>

extern "C" {

void* memcpy(void* destination, const void* source, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    auto* from = static_cast<const unsigned char*>(source);
    while (n-- > 0) *to++ = *from++;
    return destination;
}

void* memmove(void* destination, const void* source, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    auto* from = static_cast<const unsigned char*>(source);
    if (to <= from) {
        while (n-- > 0) *to++ = *from++;
    } else {
        while (n-- > 0) to[n] = from[n];
    }
    return destination;
}

void* memset(void* destination, int value, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    while (n-- > 0) *to++ = static_cast<unsigned char>(value);
    return destination;
}

void* memchr(const void* area, int value, std::size_t n) {
    auto* p = static_cast<const unsigned char*>(area);
    for (; n > 0; --n, ++p) {
        if (*p == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p);
    }
    return nullptr;
}

}  // extern "C"
