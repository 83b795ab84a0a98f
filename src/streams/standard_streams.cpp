// The three standard stream records, start-up and the end of the process.
#include "streams/text_stream.h"

namespace {

unsigned char input_buffer[BUFFER_SIZE];

constexpr HandleInfo UNCLASSIFIED = {NO_OS_HANDLE, HandleKind::device, false, LF};

constexpr TextStream input_at_start() {
    return {input_buffer, 0, input_buffer, flag::read | flag::fixed_buffer,
            0, {0, 0}, BUFFER_SIZE, nullptr};
}

constexpr TextStream output_at_start(int handle) {
    return {nullptr, 0, nullptr, flag::write, handle, {0, 0}, 0, nullptr};
}

// A missing handle counts as a device, as a console does.
HandleKind kind_of(FileType type) {
    switch (type) {
    case FileType::missing:
    case FileType::device: return HandleKind::device;
    case FileType::pipe: return HandleKind::pipe;
    default: return HandleKind::disk;
    }
}

}  // namespace

// Constant-initialised, so no start-up code runs before the process entry.
HandleInfo handle_info[3] = {UNCLASSIFIED, UNCLASSIFIED, UNCLASSIFIED};
TextStream standard_input = input_at_start();
TextStream standard_output = output_at_start(1);
TextStream standard_error = output_at_start(2);

namespace {
TextStream* const ALL_STREAMS[] = {&standard_input, &standard_output, &standard_error};
}

void streams_start_over() {
    for (HandleInfo& info : handle_info) info = UNCLASSIFIED;
    standard_input = input_at_start();
    standard_output = output_at_start(1);
    standard_error = output_at_start(2);
}

void classify_standard_handles() {
    platform_prepare_standard_handles();
    for (int index = 0; index < 3; ++index) {
        StandardHandle found = platform_standard_handle(index);
        handle_info[index].os_handle = found.handle;
        handle_info[index].kind = kind_of(found.type);
        if (found.handle == NO_OS_HANDLE) ALL_STREAMS[index]->handle = -1;
    }
}

int stream_flush(TextStream& stream) {
    int result = 0;
    int pending = static_cast<int>(stream.position - stream.base);
    if ((stream.flags & flag::write) && pending > 0) {
        int written = handle_write(stream.handle, stream.base, pending);
        if (written != pending) {
            stream.flags |= flag::error;
            result = -1;
        }
    }
    stream.position = stream.base;
    stream.count = 0;
    return result;
}

void streams_flush_all() {
    // Every stream is set for reading or writing from the start, so all are
    // flushed; a failure is already marked on its stream and the status stays the caller's.
    for (TextStream* stream : ALL_STREAMS) {
        stream_flush(*stream);
    }
}

void exit_process(int status) {
    streams_flush_all();
    platform_exit(status);
}
