// Reads from a standard handle with the text rules: CR LF arrives as LF and
// 0x1A ends the data.
#include "byte_path/text_mode.h"
#include "streams/text_stream.h"

namespace {

// A CR that ends a read peeks one byte ahead to learn whether it starts a CR LF.
// `out` is where the CR would be stored; returns the new end of the stored bytes.
unsigned char* settle_final_cr(HandleInfo& info, unsigned char* stored, unsigned char* out) {
    unsigned char next;
    // A peek that fails counts as nothing to see: the CR stays, and the next read meets the
    // failure again if it lasts.
    if (platform_read(info.os_handle, &next, 1) <= 0) {
        out[0] = CR;
        return out + 1;
    }
    bool first_byte_is_lf = next == LF && out == stored;
    bool stepped_back = false;
    if (info.kind == HandleKind::disk && !first_byte_is_lf) {
        stepped_back = platform_step_back(info.os_handle);
    }
    if (stepped_back) {
        // The next read sees the byte again; an LF there stands for the CR LF.
        if (next == LF) return out;
        out[0] = CR;
        return out + 1;
    }
    // A pipe or device cannot give the byte back, so it is held for the next
    // read; a disk file that cannot step back is treated the same way.
    if (next == LF) {
        out[0] = LF;
    } else {
        out[0] = CR;
        info.lookahead = next;
    }
    return out + 1;
}

// Translates the `n` bytes at `data` in place and returns how many remain.
int translate(HandleInfo& info, unsigned char* data, int n) {
    unsigned char* end = data + n;
    unsigned char* in = data;
    unsigned char* out = translate_span(in, end, data);
    if (in != end && *in == CTRL_Z) {
        // A console is asked again next time; a file or pipe has ended for good.
        if (info.kind != HandleKind::device) info.end_seen = true;
    } else if (in != end) {
        out = settle_final_cr(info, data, out);
    }
    return static_cast<int>(out - data);
}

}  // namespace

int handle_read(int index, unsigned char* destination, int size) {
    if (index < 0) return -1;
    HandleInfo& info = handle_info[index];
    if (size == 0 || info.end_seen) return 0;
    int held = 0;
    // Only a pipe, a device, or a disk file that could not step back holds a byte.
    if (info.lookahead != LF) {
        destination[0] = info.lookahead;
        info.lookahead = LF;
        held = 1;
    }
    int got = 0;
    if (size > held) {
        got = platform_read(info.os_handle, destination + held, size - held);
        if (got < 0) return -1;
    }
    return translate(info, destination, held + got);
}
