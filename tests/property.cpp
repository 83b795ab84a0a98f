// One scenario of the whole process over the scripted platform, and what must hold
// in every one: output, status and every write call as a small reference has them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "fake_platform.h"
#include "streams/text_stream.h"

namespace {

using fake::handles;
using T = FileType;
const std::string BANNER = "a simple pretty html formatter\n", USAGE = "usage: tagsplit <input >output\n";
const char ALPHABET[] = "<>>\t\r\r\n\n  \0abcde";  // 16 bytes: what most input bytes decode to

// Decodes a scenario so that random bytes often meet what matters: reads at the buffer's
// edges, short writes, TAB, CR, LF, '>', a rare 0x1A. Returns the argument count.
int set_up(const std::uint8_t* data, std::size_t size) {
    const FileType types[] = {T::disk, T::pipe, T::character, T::missing};
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

// The filter as a plain loop of a get and one or two puts a byte, whose calls the fast path must make.
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
    for (char c : given) out += c == '>' ? ">\n" : c == '\t' || c == CR || c == LF ? "" : std::string(1, c);
    return out;
}

// Walks the reads as the text rules must make them, collecting the bytes they gave the formatter.
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
            bool steps_back = kind == T::disk && next >= 0 && (next != LF || last > 1);
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
        if (kind != T::character || cut != 0) given += unit.substr(0, cut);
        ended = unit.empty() || cut == 0 || (cut != std::string::npos && kind != T::character);
        peek_due = cut == std::string::npos && !unit.empty() && unit.back() == CR;
    }
    failed |= kind == T::missing;
    return ended || failed || argument_count != 1 ? nullptr : "input not read to its end";
}

// The write calls that carry `source`: blocks of 4096, of a byte (console, unbuffered) or of a usage line
// on a console (2 bytes through the spare); pieces close at the staging limit; a short one ends its block.
std::vector<fake::Call> expected_writes(bool usage, const std::string& source) {
    bool console = handles[1].type == T::character;
    const auto& limits = handles[1].write_limits;
    std::size_t size = console && !usage ? 1 : fake::memory_refused ? (console ? 2 : 1) : BUFFER_SIZE;
    std::vector<fake::Call> writes;
    for (const std::string& part : console && usage ? std::vector{BANNER, USAGE} : std::vector{source}) {
        for (std::size_t block = 0; block < part.size() && handles[1].type != T::missing; block += size) {
            for (std::size_t at = block, end = std::min(block + size, part.size()); at < end;) {
                std::string piece;
                for (; at < end && piece.size() < STAGING_LIMIT; ++at) {
                    if (part[at] == LF) piece += CR;
                    piece += part[at];
                }
                auto limit = limits.find(int(writes.size()));
                int n = std::min<int>(limit == limits.end() ? piece.size() : limit->second, piece.size());
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
    std::ranges::copy_if(fake::calls, std::back_inserter(writes), [](const auto& c) { return c.op == 'W'; });
    long obtained = std::ranges::count(fake::calls, 'M', &fake::Call::op);
    bool lost = failed || (handles[1].type == T::missing && !source.empty());
    for (const fake::Call& call : writes) lost |= call.result < call.asked;
    // A usage line stops at its first lost byte, which the reference leaves alone.
    if (writes != expected_writes(usage, source) && !(usage && lost)) return "write calls";
    if (obtained > (fake::memory_refused ? 2 : 1)) return "more than one buffer obtained";
    if (status != (usage ? 2 : lost ? 1 : 0)) return "exit status";
    return nullptr;
}

// The libFuzzer target, in the fuzzing build: every input is a scenario.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* fault = fake::scenario_fails(data, size);
    if (fault != nullptr) std::fprintf(stderr, "property fails: %s\n", fault), std::abort();
    return 0;
}
