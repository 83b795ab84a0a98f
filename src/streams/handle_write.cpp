// Writes to a standard handle with the text rule: every LF leaves as CR LF.
// The expansion goes through a fixed staging area, so each platform write
// carries at most MAX_PIECE bytes and writing never needs memory.
#include "streams/byte_scan.h"
#include "streams/text_stream.h"

namespace {

// How many bytes from `source` on have all their output within the first
// `written` bytes of their staged piece.
int source_bytes_within(const unsigned char* source, int written) {
    int count = 0;
    for (int used = 0;; ++count) {
        used += source[count] == LF ? 2 : 1;
        if (used > written) return count;
    }
}

}  // namespace

int handle_write(int index, const unsigned char* source, int n) {
    if (index < 0) return -1;
    if (n == 0) return 0;
    OsHandle handle = handle_info[index].os_handle;
    unsigned char stage[STAGE_SIZE];
    const unsigned char* end = source + n;
    int delivered = 0;  // source bytes whose whole output reached the handle
    bool wrote_any = false;
    while (source < end) {
        const unsigned char* piece_source = source;
        int staged = stage_piece(source, end, stage);
        int written = platform_write(handle, stage, staged);
        if (written > 0) wrote_any = true;
        if (written < staged) {
            // No retry: the platform already retried what can succeed.
            delivered += source_bytes_within(piece_source, written);
            break;
        }
        delivered += static_cast<int>(source - piece_source);
    }
    return wrote_any ? delivered : -1;
}
