// Text-mode streams over the three standard handles: line feeds leave as
// CR LF, CR LF arrives as a line feed, and 0x1A ends the input data.
#pragma once

#include "byte_path/text_mode.h"
#include "platform/platform.h"

inline constexpr int END = -1;

inline constexpr int BUFFER_SIZE = 4096;  // input reads, output blocks, line buffers
// A write piece at its longest, when an expanded LF lands last.
inline constexpr int MAX_PIECE = STAGING_LIMIT + 1;

enum class HandleKind : unsigned char { disk, pipe, device };

struct HandleInfo {
    OsHandle os_handle;
    HandleKind kind;
    bool end_seen;            // a 0x1A was met on a disk file or pipe
    unsigned char lookahead;  // byte held for the next read; LF means none
};

// The bits of TextStream::flags, as flag::read, flag::error and so on. Only write, unbuffered
// and error steer the code; the others are set and never read, kept as a record of the stream's
// buffer and of why a read gave END for whoever inspects a stream in a debugger.
namespace flag {
enum : unsigned {
    read = 1u << 0,
    write = 1u << 1,
    fixed_buffer = 1u << 2,
    own_buffer = 1u << 3,
    temporary_buffer = 1u << 4,
    unbuffered = 1u << 5,
    end_of_input = 1u << 6,
    error = 1u << 7,
};
}  // namespace flag

struct TextStream {
    unsigned char* position;  // next byte to take or place to store
    int count;                // bytes left to take, or room left to fill
    unsigned char* base;      // nullptr while there is no buffer
    unsigned flags;
    int handle;               // 0, 1 or 2; -1 when detached
    unsigned char spare[2];   // lent as the line buffer when memory is refused
    int size;
    unsigned char* line_buffer;  // obtained by the first console line write
};

extern HandleInfo handle_info[3];
extern TextStream standard_input;
extern TextStream standard_output;
extern TextStream standard_error;

void classify_standard_handles();
int handle_read(int index, unsigned char* destination, int size);
int handle_write(int index, const unsigned char* source, int n);
int stream_refill(TextStream& stream);
int stream_put_byte_slow(TextStream& stream, int byte);
int stream_put_line(TextStream& stream, const char* text);
int stream_flush(TextStream& stream);
void streams_flush_all();
[[noreturn]] void exit_process(int status);

// Puts every record back in the state a process starts in, for a test or a benchmark that runs
// the program's work more than once in one process.
void streams_start_over();

// Moves the stream on to `to`, inside the bytes it holds or the room it has, as as many
// stream_get_byte or stream_put_byte calls would, for a caller that takes or fills many at once.
inline void stream_advance(TextStream& stream, const unsigned char* to) {
    int moved = static_cast<int>(to - stream.position);
    stream.position += moved;
    stream.count -= moved;
}

inline int stream_get_byte(TextStream& stream) {
    if (stream.count > 0) {
        --stream.count;
        int byte = *stream.position;
        ++stream.position;
        return byte;
    }
    return stream_refill(stream);
}

inline int stream_put_byte(TextStream& stream, int byte) {
    if (stream.count > 0) {
        --stream.count;
        stream.position[0] = static_cast<unsigned char>(byte);
        ++stream.position;
        return static_cast<unsigned char>(byte);
    }
    return stream_put_byte_slow(stream, byte);
}
