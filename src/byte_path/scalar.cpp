// The scalar level, which builds without SSE2 take alone: the filter's byte loop, and runs found
// with memchr and copied with memcpy for the read translation and the staging.
#include <cstring>

#include "byte_path/filter.h"
#include "byte_path/text_mode.h"

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

void filter(const unsigned char*& in, const unsigned char* in_end, unsigned char*& out,
            const unsigned char* out_end) {
    filter_bytes(in, in_end, out, out_end);
}

unsigned char* translate(unsigned char*& in, unsigned char* end, unsigned char* out) {
    return translate_runs<find_cr_or_ctrl_z>(in, end, out);
}

int stage(const unsigned char*& source, const unsigned char* end, unsigned char* piece) {
    int staged = 0;
    while (source < end && staged < STAGING_LIMIT) {
        std::size_t window = static_cast<std::size_t>(end - source);
        std::size_t room = static_cast<std::size_t>(STAGING_LIMIT - staged);
        if (window > room) window = room;
        const unsigned char* lf = find(source, window, LF);
        std::size_t run = lf != nullptr ? static_cast<std::size_t>(lf - source) : window;
        std::memcpy(piece + staged, source, run);
        staged += static_cast<int>(run);
        source += run;
        if (lf != nullptr) {
            piece[staged] = CR;
            piece[staged + 1] = LF;
            staged += 2;
            ++source;
        }
    }
    return staged;
}

}  // namespace scalar
