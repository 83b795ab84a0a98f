// The few C library functions the compiler and the stream layer call, for a
// program that links no C runtime. Built with -ffreestanding so that these
// loops are not turned back into calls to themselves.
#include <cstddef>

extern "C" {

void* memcpy(void* destination, const void* source, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    auto* from = static_cast<const unsigned char*>(source);
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    return destination;
}

void* memmove(void* destination, const void* source, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    auto* from = static_cast<const unsigned char*>(source);
    if (to <= from) {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
        for (std::size_t i = n; i > 0; --i) to[i - 1] = from[i - 1];
    }
    return destination;
}

void* memset(void* destination, int value, std::size_t n) {
    auto* to = static_cast<unsigned char*>(destination);
    for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<unsigned char>(value);
    return destination;
}

void* memchr(const void* area, int value, std::size_t n) {
    auto* p = static_cast<const unsigned char*>(area);
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p + i);
    }
    return nullptr;
}

}  // extern "C"
