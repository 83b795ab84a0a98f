// Writes to a standard handle with the text rule: every LF leaves as CR LF.
// The expansion goes through a fixed staging area, so each platform write
// carries at most MAX_PIECE bytes and writing never needs memory.
#include "byte_path/text_mode.h"
#include "streams/text_stream.h"

// A write cut short is a failure like any other: every caller needs to know only whether all
// n bytes arrived, not how far a short write got.
int handle_write(int index, const unsigned char* source, int n) {
    if (index < 0) return -1;
    if (n == 0) return 0;
    OsHandle handle = handle_info[index].os_handle;
    unsigned char stage[STAGE_SIZE];
    const unsigned char* end = source + n;
    while (source < end) {
        int staged = stage_piece(source, end, stage);
        int written = platform_write(handle, stage, staged);
        // No retry: the platform already retried what can succeed.
        if (written < staged) return -1;
    }
    return n;
}
