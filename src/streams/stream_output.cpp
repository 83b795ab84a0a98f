// Output streams: a block is written when a byte arrives at a full buffer; a
// console gets every byte by itself, or a whole line at once.
#include "streams/text_stream.h"

namespace {

bool is_device(const TextStream& stream) {
    return stream.handle < 0 || handle_info[stream.handle].kind == HandleKind::device;
}

void obtain_buffer(TextStream& stream) {
    unsigned char* buffer = platform_allocate(BUFFER_SIZE);
    if (buffer == nullptr) {
        stream.flags |= flag::unbuffered;
        return;
    }
    stream.base = buffer;
    stream.position = buffer;
    stream.size = BUFFER_SIZE;
    stream.flags |= flag::own_buffer;
}

void lend(TextStream& stream, unsigned char* buffer, int size) {
    stream.base = buffer;
    stream.position = buffer;
    stream.size = size;
    stream.count = size;
    stream.flags |= flag::temporary_buffer;
}

// Lends the line buffer, obtained the first time; `spare` when memory is refused.
void lend_line_buffer(TextStream& stream) {
    if (stream.line_buffer == nullptr) stream.line_buffer = platform_allocate(BUFFER_SIZE);
    if (stream.line_buffer != nullptr) {
        lend(stream, stream.line_buffer, BUFFER_SIZE);
    } else {
        lend(stream, stream.spare, sizeof stream.spare);
    }
}

void take_back_line_buffer(TextStream& stream) {
    stream.flags &= ~flag::temporary_buffer;
    stream.base = nullptr;
    stream.position = nullptr;
    stream.size = 0;
    stream.count = 0;
}

}  // namespace

int stream_put_byte_slow(TextStream& stream, int byte) {
    unsigned char value = static_cast<unsigned char>(byte);
    if (stream.base == nullptr && !(stream.flags & flag::unbuffered) && !is_device(stream)) {
        obtain_buffer(stream);
    }
    bool written = true;
    if (stream.base != nullptr) {
        int pending = static_cast<int>(stream.position - stream.base);
        // The block is dropped if its write fails: the buffer restarts either way.
        if (pending > 0) written = handle_write(stream.handle, stream.base, pending) == pending;
        stream.base[0] = value;
        stream.position = stream.base + 1;
        stream.count = stream.size - 1;
    } else {
        written = handle_write(stream.handle, &value, 1) == 1;
    }
    if (!written) {
        stream.flags |= flag::error;
        return -1;
    }
    return value;
}

int stream_put_line(TextStream& stream, const char* text) {
    bool lent = is_device(stream) && stream.base == nullptr && !(stream.flags & flag::unbuffered);
    if (lent) lend_line_buffer(stream);
    int result = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (stream_put_byte(stream, static_cast<unsigned char>(*p)) < 0) {
            result = -1;
            break;
        }
    }
    // The line feed's own outcome does not change the result.
    if (result == 0) stream_put_byte(stream, LF);
    if (lent) {
        stream_flush(stream);  // a failure stays marked on the stream
        take_back_line_buffer(stream);
    }
    return result;
}
