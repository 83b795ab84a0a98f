// One random scenario of the whole process over the scripted platform, and
// what must hold in every one: the output bytes and status that a small
// reference works out, the exact write calls, and the rules of the reads.
#include <cstdio>
#include <cstdlib>

#include "fake_platform.h"
#include "streams/text_stream.h"

namespace {

using fake::handles;
const std::string BANNER = "a simple pretty html formatter\n", USAGE = "usage: tagsplit <input >output\n";
const char ALPHABET[] = "<>>\t\r\r\n\n  \0abcde";  // 16 bytes: what most input bytes decode to

// Decodes a scenario from any bytes, so that uniform random ones often meet
// what matters: reads at the buffer's edges, short writes, TAB, CR, LF, '>'
// and now and then a 0x1A. Bytes from 128 on stand for themselves. Returns
// the argument count.
int set_up(const std::uint8_t* data, std::size_t size) {
    const FileType types[] = {FileType::disk, FileType::pipe, FileType::character, FileType::missing};
    const int edges[] = {1, 2, 1023, 1024, 1025, BUFFER_SIZE - 1, BUFFER_SIZE, BUFFER_SIZE + 1};
    auto take = [&] { return size > 0 ? (--size, int(*data++)) : 0; };
    fake::reset();
    fake::Handle &in = handles[0], &out = handles[1];
    int flags = take(), arguments = take(), failing_read = take(), chunks = take() % 9;
    in.type = types[flags & 3];
    out.type = types[flags >> 2 & 3];
    fake::memory_refused = (flags & 0x30) == 0x30;
    in.can_step_back = !(flags & 0x40);
    if (failing_read < 48) in.failing_read = failing_read % 12;
    for (int i = 0, high, low; i < 8; ++i) {
        high = take(), low = take();
        if (i < chunks) in.chunks.push_back(high < 128 ? edges[high % 8] : 1 + (high << 8 | low) % 5000);
    }
    for (int i = 0, limits = take() % 4, call, limit; i < 3; ++i) {
        call = take() % 24, limit = take();
        if (i < limits) out.write_limits[call] = limit < 128 ? limit % 4 : limit * 8 % (MAX_PIECE + 1);
    }
    int mark = take(), at = take() << 8 | take();
    for (; size > 0; --size, ++data) in.input += *data < 128 ? ALPHABET[*data % 16] : char(*data);
    if (mark < 40) in.input.insert(at % (in.input.size() + 1), 1, char(END_OF_DATA));
    return arguments < 224 ? 1 : arguments % 4;
}

// The filter as a plain loop of a get and one or two puts a byte, whose
// calls the fast path must make exactly.
int plain_filter(int argument_count) {
    if (argument_count != 1) return run_formatter(argument_count);
    for (int c; (c = stream_get_byte(standard_input)) != END;) {
        if (c == '\t' || c == LF || c == CR) continue;
        stream_put_byte(standard_output, c);
        if (c == '>') stream_put_byte(standard_output, LF);
    }
    stream_flush(standard_output);
    return (standard_output.flags | standard_input.flags) & flag::error ? 1 : 0;
}

std::string filtered(const std::string& given) {
    std::string out;
    for (char c : given) {
        if (c != '\t' && c != '\r' && c != '\n') out += c;
        if (c == '>') out += '\n';
    }
    return out;
}

// Walks the reads the way the text rules must have made them, and collects
// the bytes they gave the formatter; `failed` when a read failed.
const char* walk_reads(int argument_count, std::string& given, bool& failed) {
    const auto& calls = fake::calls;
    FileType kind = handles[0].type;
    int held = -1;
    std::size_t last = 0;  // the bytes of the last read, a held byte included
    bool peek_due = false, ended = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const fake::Call& call = calls[i];
        if (call.op == 'B') return "step back where none is due";
        if (call.op != 'R') continue;
        if (call.handle != 0 || argument_count != 1) return "read of another handle, or on the usage path";
        if (ended) return "read after the end of the input";
        if (call.asked == 1) {
            if (!peek_due) return "peek without a CR at the end of a read";
            peek_due = false;
            // A disk file steps back over the byte, but for an LF that follows a lone CR.
            int next = call.result == 1 ? call.bytes[0] & 0xff : -1;
            bool steps_back = kind == FileType::disk && next >= 0 && (next != LF || last > 1);
            if (steps_back != (i + 1 < calls.size() && calls[i + 1].op == 'B')) return "step back";
            bool moved = steps_back && calls[++i].result == 0;
            if (next >= 0 && next != LF && !moved) held = next;
            continue;
        }
        if (peek_due) return "no peek after a CR at the end of a read";
        if (call.asked != (held < 0 ? BUFFER_SIZE : BUFFER_SIZE - 1)) return "read size";
        failed = ended = call.result < 0;
        if (failed) continue;
        std::string unit = (held < 0 ? "" : std::string(1, char(held))) + call.bytes;
        held = -1;
        last = unit.size();
        std::size_t cut = unit.find(END_OF_DATA);
        if (kind != FileType::character || cut != 0) given += unit.substr(0, cut);
        ended = unit.empty() || cut == 0 || (cut != std::string::npos && kind != FileType::character);
        peek_due = cut == std::string::npos && !unit.empty() && unit.back() == CR;
    }
    failed |= kind == FileType::missing;
    return ended || failed || argument_count != 1 ? nullptr : "input not read to its end";
}

// The write calls that carry `source` to standard output: blocks of 4096, of
// a byte on a console or unbuffered, or of a usage line on a console (of two
// bytes through the spare); pieces close at the staging limit; a short piece
// drops the rest of its block.
std::vector<fake::Call> expected_writes(bool usage, const std::string& source) {
    bool console = handles[1].type == FileType::character;
    std::size_t size = console && !usage ? 1 : fake::memory_refused ? (console ? 2 : 1) : BUFFER_SIZE;
    std::vector<fake::Call> writes;
    for (const std::string& part : console && usage ? std::vector{BANNER, USAGE} : std::vector{source}) {
        for (std::size_t block = 0; block < part.size() && handles[1].type != FileType::missing; block += size) {
            for (std::size_t at = block, end = std::min(block + size, part.size()); at < end;) {
                std::string piece;
                for (; at < end && piece.size() < STAGING_LIMIT; ++at) {
                    if (part[at] == LF) piece += CR;
                    piece += part[at];
                }
                auto limit = handles[1].write_limits.find(int(writes.size()));
                int n = std::min<int>(limit != handles[1].write_limits.end() ? limit->second : piece.size(), piece.size());
                writes.push_back({'W', 1, int(piece.size()), n, piece.substr(0, n)});
                if (n < int(piece.size())) break;
            }
        }
    }
    return writes;
}

}  // namespace

const char* fake::scenario_fails(const std::uint8_t* data, std::size_t size) {
    int argument_count = set_up(data, size);
    fake::run_process(argument_count, plain_filter);
    std::vector<fake::Call> plain = fake::calls;
    set_up(data, size);
    int status = fake::run_process(argument_count);
    if (fake::calls != plain) return "calls differ from those of the plain loop";

    std::string given;
    bool usage = argument_count != 1, failed = false;
    if (const char* fault = walk_reads(argument_count, given, failed)) return fault;
    std::string source = usage ? BANNER + USAGE : filtered(given);
    std::vector<fake::Call> writes;
    int obtained = 0;
    for (const fake::Call& call : fake::calls) {
        if (call.op == 'W') writes.push_back(call);
        obtained += call.op == 'M' && !fake::memory_refused;
    }
    bool lost = failed || (handles[1].type == FileType::missing && !source.empty());
    for (const fake::Call& call : writes) lost |= call.result < call.asked;
    // A usage line stops at its first lost byte, which the reference leaves alone.
    if (writes != expected_writes(usage, source) && !(usage && lost)) return "write calls";
    if (obtained > 1) return "more than one buffer obtained";
    if (status != (usage ? 2 : lost ? 1 : 0)) return "exit status";
    return nullptr;
}

// The libFuzzer target, in the fuzzing build: every input is a scenario.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* fault = fake::scenario_fails(data, size);
    if (fault != nullptr) std::fprintf(stderr, "property fails: %s\n", fault), std::abort();
    return 0;
}
