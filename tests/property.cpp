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
const std::string BANNER = "a simple pretty html formatter\n";
const std::string USAGE = "usage: tagsplit <input >output\n";
const char ALPHABET[] = "<>>\t\r\r\n\n  \0abcde";  // 16 bytes: what most input bytes decode to

// The first bytes of a scenario, in order; those past its end read as 0. The input follows.
struct Header {
    std::uint8_t flags, arguments, failing_read, chunk_count;
    std::uint8_t chunks[8][2];  // each read's size, high byte first
    std::uint8_t limit_count, limits[3][2];  // each write limit: the call, then the limit
    std::uint8_t mark, mark_at[2];  // a 0x1A, and where it goes, high byte first
};
static_assert(sizeof(Header) == fake::SCENARIO_HEADER);

// Decodes a scenario so that random bytes often meet what matters: reads at the buffer's
// edges, short writes, TAB, CR, LF, '>', a rare 0x1A. Returns the argument count.
int set_up(const std::uint8_t* data, std::size_t size) {
    const FileType types[] = {T::disk, T::pipe, T::character, T::missing};
    const int edges[] = {1, 2, 1023, 1024, 1025, BUFFER_SIZE - 1, BUFFER_SIZE, BUFFER_SIZE + 1};
    Header h{};
    std::size_t header_size = std::min(size, sizeof h);
    std::copy_n(data, header_size, reinterpret_cast<std::uint8_t*>(&h));
    fake::reset();
    fake::Handle& in = handles[0];
    fake::Handle& out = handles[1];
    in.type = types[h.flags & 3];
    out.type = types[h.flags >> 2 & 3];
    fake::memory_refused = (h.flags & 0x30) == 0x30;
    in.can_step_back = !(h.flags & 0x40);
    if (h.failing_read < 48) in.failing_read = h.failing_read % 12;
    for (int i = 0; i < h.chunk_count % 9; ++i) {
        int high = h.chunks[i][0];
        int low = h.chunks[i][1];
        in.chunks.push_back(high < 128 ? edges[high % 8] : 1 + (high << 8 | low) % 5000);
    }
    for (int i = 0; i < h.limit_count % 4; ++i) {
        int call = h.limits[i][0] % 24;
        int limit = h.limits[i][1];
        out.write_limits[call] = limit < 128 ? limit % 4 : limit * 8 % (MAX_PIECE + 1);
    }
    for (std::size_t i = header_size; i < size; ++i) {
        in.input += data[i] < 128 ? ALPHABET[data[i] % 16] : char(data[i]);
    }
    int at = h.mark_at[0] << 8 | h.mark_at[1];
    if (h.mark < 40) in.input.insert(at % (in.input.size() + 1), 1, char(END_OF_DATA));
    return h.arguments < 224 ? 1 : h.arguments % 4;
}

// The filter as a plain loop, a get and one or two puts a byte: the calls the fast path must make.
int plain_filter(int argument_count) {
    if (argument_count != 1) return run_formatter(argument_count);
    for (;;) {
        int c = stream_get_byte(standard_input);
        if (c == END) break;
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
        if (c != '\t' && c != CR && c != LF) out += c == '>' ? ">\n" : std::string(1, c);
    }
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
        if (call.handle != 0 || argument_count != 1) return "read of another handle, or for usage";
        if (ended || failed) return "read after the end of the input";
        if (call.asked == 1) {
            if (!peek_due) return "peek without a CR at the end of a read";
            peek_due = false;
            // A disk file steps back over the byte, but for an LF that follows a lone CR.
            int next = call.result == 1 ? call.bytes[0] & 0xff : -1;
            bool steps_back = kind == T::disk && next >= 0 && (next != LF || last > 1);
            if (steps_back != (i + 1 < calls.size() && calls[i + 1].op == 'B')) return "step back";
            bool moved = steps_back && calls[i + 1].result == 0;
            if (steps_back) ++i;  // past the step back
            if (next >= 0 && next != LF && !moved) held = next;
            continue;
        }
        if (peek_due) return "no peek after a CR at the end of a read";
        if (call.asked != (held < 0 ? BUFFER_SIZE : BUFFER_SIZE - 1)) return "read size";
        failed = call.result < 0;
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

// The write calls that carry `source`: blocks of 4096, of a byte (console, unbuffered) or of a
// usage line on a console (2 bytes through the spare); pieces close at the staging limit; a short
// one ends its block.
std::vector<fake::Call> expected_writes(bool usage, const std::string& source) {
    if (handles[1].type == T::missing) return {};
    bool console = handles[1].type == T::character;
    const auto& limits = handles[1].write_limits;
    std::size_t size = BUFFER_SIZE;
    if (fake::memory_refused) size = console ? 2 : 1;
    if (console && !usage) size = 1;
    std::vector<std::string> parts = {source};
    if (console && usage) parts = {BANNER, USAGE};
    std::vector<fake::Call> writes;
    for (const std::string& part : parts) {
        for (std::size_t block = 0; block < part.size(); block += size) {
            for (std::size_t at = block, end = std::min(block + size, part.size()); at < end;) {
                std::string piece;
                for (; at < end && piece.size() < STAGING_LIMIT; ++at) {
                    if (part[at] == LF) piece += CR;
                    piece += part[at];
                }
                int asked = int(piece.size());
                auto limit = limits.find(int(writes.size()));
                int n = limit == limits.end() ? asked : std::min(asked, limit->second);
                writes.push_back({'W', 1, asked, n, piece.substr(0, n)});
                if (n < asked) break;
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
    const char* fault = walk_reads(argument_count, given, failed);
    if (fault != nullptr) return fault;
    std::string source = usage ? BANNER + USAGE : filtered(given);
    std::vector<fake::Call> writes = fake::calls;
    std::erase_if(writes, [](const fake::Call& call) { return call.op != 'W'; });
    bool lost = failed || (handles[1].type == T::missing && !source.empty());
    for (const fake::Call& call : writes) lost |= call.result < call.asked;
    long obtained = std::ranges::count(fake::calls, 'M', &fake::Call::op);
    // A usage line stops at its first lost byte, which the reference leaves alone.
    if (writes != expected_writes(usage, source) && !(usage && lost)) return "write calls";
    if (obtained > (fake::memory_refused ? 2 : 1)) return "more than one buffer obtained";
    if (status != (usage ? 2 : lost ? 1 : 0)) return "exit status";
    return nullptr;
}

// The libFuzzer target, in the fuzzing build: every input is a scenario.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* fault = fake::scenario_fails(data, size);
    if (fault == nullptr) return 0;
    std::fprintf(stderr, "property fails: %s\n", fault);
    std::abort();
}
