// One scenario of the whole process over the scripted platform, and what must hold
// in every one: output, status and every write call as a small reference has them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "fake_platform.h"
#include "byte_path/levels.h"
#include "streams/text_stream.h"

namespace {

using fake::handles;
using T = FileType;
const std::string BANNER = "a simple pretty html formatter\n";
const std::string USAGE = "usage: tagsplit <input >output\n";
const char ALPHABET[] = "<>>\t\r\r\n\n  \0abcd";  // what most input bytes decode to
const int CR_LF_SYMBOL = 15;  // and the last of 16 symbols: CR CR LF

// Sizes the scripted reads so that each ends at a CR and the next call is its peek: the CR rules
// need that, and random sizes rarely give it.
void end_reads_at_crs(fake::Handle& in) {
    std::size_t at = 0;
    for (std::size_t k = 0; k + 1 < in.chunks.size(); k += 2) {
        std::size_t cr = in.input.find(CR, at + in.chunks[k] % 3);
        if (cr == std::string::npos) return;
        in.chunks[k] = int(cr - at + 1);
        in.chunks[k + 1] = 1;
        bool stepped_back = in.type == T::disk && in.can_step_back;
        at = stepped_back ? cr + 1 : cr + 2;
    }
}

// Decodes a scenario so that random bytes often meet what matters: reads at the buffer's
// edges or ending in a CR, short writes, TAB, CR, LF, '>', a rare 0x1A. Returns the argument
// count. Its bytes: 0 flags, 1 arguments, 2 the failing read, 3 the read count, 4-19 each read's
// size (2 bytes, high first), 20 the write limit count, 21-26 each limit's call and size, 27 a
// 0x1A, 28-29 where it goes; past the end they read as 0. The input follows, from
// SCENARIO_HEADER on.
int set_up(const std::uint8_t* data, std::size_t size) {
    const FileType types[] = {T::disk, T::pipe, T::device, T::missing};
    const int edges[] = {1, 2, 1023, 1024, 1025, BUFFER_SIZE - 1, BUFFER_SIZE, BUFFER_SIZE + 1};
    auto at = [&](std::size_t i) { return i < size ? int(data[i]) : 0; };
    fake::reset();
    fake::Handle& in = handles[0];
    fake::Handle& out = handles[1];
    in.type = types[at(0) & 3];
    out.type = types[at(0) >> 2 & 3];
    fake::memory_refused = (at(0) & 0x30) == 0x30;
    in.can_step_back = !(at(0) & 0x40);
    if (at(2) < 48) in.failing_read = at(2) % 12;
    for (int i = 0; i < at(3) % 9; ++i) {
        int high = at(4 + 2 * i);
        int low = at(5 + 2 * i);
        in.chunks.push_back(high < 128 ? edges[high % 8] : 1 + (high << 8 | low) % 5000);
    }
    for (int i = 0; i < at(20) % 4; ++i) {
        int call = at(21 + 2 * i) % 24;
        int limit = at(22 + 2 * i);
        out.write_limits[call] = limit < 128 ? limit % 4 : limit * 8 % (MAX_PIECE + 1);
    }
    for (std::size_t i = fake::SCENARIO_HEADER; i < size; ++i) {
        int symbol = data[i] % 16;
        if (data[i] >= 128) {
            in.input += char(data[i]);
        } else if (symbol == CR_LF_SYMBOL) {
            in.input += "\r\r\n";
        } else {
            in.input += ALPHABET[symbol];
        }
    }
    std::size_t mark_at = (at(28) << 8 | at(29)) % (in.input.size() + 1);
    if (at(27) < 40) in.input.insert(mark_at, 1, char(CTRL_Z));
    if (at(0) & 0x80) end_reads_at_crs(in);
    return at(1) < 224 ? 1 : at(1) % 4;
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
    bool peek_due = false;
    bool ended = false;
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
        std::size_t cut = unit.find(CTRL_Z);
        if (kind != T::device || cut != 0) given += unit.substr(0, cut);
        ended = unit.empty() || cut == 0 || (cut != std::string::npos && kind != T::device);
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
    bool console = handles[1].type == T::device;
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
    int status = fake::run_process(argument_count);
    std::string given;
    bool usage = argument_count != 1;
    bool failed = false;
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

// The fuzzing build runs the widest level the processor has; which one is not looked at.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    choose_byte_path(BytePath::avx512);
    return 0;
}

// The libFuzzer target, in the fuzzing build: every input is a scenario.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* fault = fake::scenario_fails(data, size);
    if (fault == nullptr) return 0;
    std::fprintf(stderr, "property fails: %s\n", fault);
    std::abort();
}
