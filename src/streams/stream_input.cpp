// Refills an input stream's buffer when stream_get_byte finds it empty.
#include "streams/text_stream.h"

int stream_refill(TextStream& stream) {
    int n = handle_read(stream.handle, stream.base, stream.size);
    if (n <= 0) {
        // END is not remembered: the next call reads again.
        stream.flags |= n == 0 ? flag::end_of_input : flag::error;
        stream.count = 0;
        return END;
    }
    stream.position = stream.base + 1;
    stream.count = n - 1;
    return stream.base[0];
}
