// The stream layer's byte runs at the scalar level, which builds without SSE2
// take alone: runs found with memchr and copied with memcpy.
#include <cstring>

#include "streams/byte_scan.h"

namespace scalar {

namespace {

const unsigned char* find(const unsigned char* from, std::size_t n, unsigned char byte) {
    return static_cast<const unsigned char*>(std::memchr(from, byte, n));
}

const unsigned char* find_cr_or_ctrl_z(const unsigned char* from, const unsigned char* to) {
    const unsigned char* cr = find(from, static_cast<std::size_t>(to - from), CR);
    const unsigned char* before = cr != nullptr ? cr : to;
    const unsigned char* mark = find(from, static_cast<std::size_t>(before - from), CTRL_Z);
    return mark != nullptr ? mark : before;
}

}  // namespace

unsigned char* translate_span(unsigned char*& in, unsigned char* end, unsigned char* out) {
    return translate_runs<find_cr_or_ctrl_z>(in, end, out);
}

int stage_piece(const unsigned char*& source, const unsigned char* end, unsigned char* stage) {
    int staged = 0;
    while (source < end && staged < STAGING_LIMIT) {
        std::size_t window = static_cast<std::size_t>(end - source);
        std::size_t room = static_cast<std::size_t>(STAGING_LIMIT - staged);
        if (window > room) window = room;
        const unsigned char* lf = find(source, window, LF);
        std::size_t run = lf != nullptr ? static_cast<std::size_t>(lf - source) : window;
        std::memcpy(stage + staged, source, run);
        staged += static_cast<int>(run);
        source += run;
        if (lf != nullptr) {
            stage[staged] = CR;
            stage[staged + 1] = LF;
            staged += 2;
            ++source;
        }
    }
    return staged;
}

}  // namespace scalar
