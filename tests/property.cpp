// One random scenario of the whole process over the scripted platform, and
// what must hold in every one: the output bytes and status that a small
// reference works out, the exact write calls, and the rules of the reads.
#include "property.h"

#include "fake_platform.h"
#include "streams/text_stream.h"

namespace {

const std::string BANNER = "a simple pretty html formatter\n", USAGE = "usage: tagsplit <input >output\n";

const char ALPHABET[] = "<>>\t\r\r\n\n  \0abcde";  // 16 bytes: what most input bytes decode to

struct Scenario {
    FileType in, out;
    int argument_count;
    std::string input;
};

// Decodes a scenario from any bytes, so that uniform random ones often meet
// what matters: reads at the buffer's edges, short writes, TAB, CR, LF, '>'
// and now and then a 0x1A. Bytes from 128 on stand for themselves.
Scenario set_up(const std::uint8_t* data, std::size_t size) {
    const FileType types[] = {FileType::disk, FileType::pipe, FileType::character, FileType::missing};
    const int edges[] = {1, 2, 1023, 1024, 1025, BUFFER_SIZE - 1, BUFFER_SIZE, BUFFER_SIZE + 1};
    auto take = [&] { return size > 0 ? (--size, int(*data++)) : 0; };
    fake::reset();
    fake::Handle &in = fake::handles[0], &out = fake::handles[1];
    int flags = take(), arguments = take(), failing_read = take(), chunks = take() % 9;
    in.type = types[flags & 3];
    out.type = types[flags >> 2 & 3];
    fake::memory_refused = (flags & 0x30) == 0x30;
    in.can_step_back = !(flags & 0x40);
    if (failing_read < 48) in.failing_read = failing_read % 12;
    for (int i = 0; i < 8; ++i) {
        int high = take(), low = take();
        if (i < chunks) in.chunks.push_back(high < 128 ? edges[high % 8] : 1 + (high << 8 | low) % 5000);
    }
    for (int i = 0, limits = take() % 4; i < 3; ++i) {
        int call = take() % 24, limit = take();
        if (i < limits) out.write_limits[call] = limit < 128 ? limit % 4 : limit * 8 % (MAX_PIECE + 1);
    }
    int mark = take(), at = take() << 8 | take();
    for (; size > 0; --size, ++data) in.input += *data < 128 ? ALPHABET[*data % 16] : char(*data);
    if (mark < 40) in.input.insert(at % (in.input.size() + 1), 1, char(END_OF_DATA));
    return {in.type, out.type, arguments < 224 ? 1 : arguments % 4, in.input};
}

// The filter as a plain loop of one get and one or two puts a byte: the
// fast path must make exactly its calls.
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

// Walks the calls on standard input the way the text rules must have made
// them, and collects the bytes they handed to the formatter.
struct InputWalk {
    std::string given;
    bool failed = false, ended = false;
};

const char* walk_reads(const Scenario& s, InputWalk& walk) {
    const auto& calls = fake::calls;
    int held = -1;
    bool peek_due = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const fake::Call& call = calls[i];
        bool after_peek = i > 0 && calls[i - 1].asked == 1 && calls[i - 1].result == 1;
        if (call.op == 'B' && (s.in != FileType::disk || !after_peek)) return "step back";
        if (call.op != 'R') continue;
        if (call.handle != 0 || s.argument_count != 1) return "read of another handle, or on the usage path";
        if (walk.ended) return "read after the end of the input";
        if (call.asked == 1) {
            if (!peek_due) return "peek without a CR at the end of a read";
            peek_due = false;
            bool stepped_back = i + 1 < calls.size() && calls[i + 1].op == 'B' && calls[i + 1].result == 0;
            if (call.result == 1 && call.bytes[0] != LF && !stepped_back) held = call.bytes[0] & 0xff;
            continue;
        }
        if (peek_due) return "no peek after a CR at the end of a read";
        if (call.asked != (held < 0 ? BUFFER_SIZE : BUFFER_SIZE - 1)) return "read size";
        if (call.result < 0) {
            walk.failed = walk.ended = true;
            continue;
        }
        std::string unit = (held < 0 ? "" : std::string(1, char(held))) + call.bytes;
        held = -1;
        std::size_t cut = unit.find(END_OF_DATA);
        if (s.in != FileType::character || cut != 0) walk.given += unit.substr(0, cut);
        walk.ended = unit.empty() || cut == 0 || (cut != std::string::npos && s.in != FileType::character);
        peek_due = cut == std::string::npos && !unit.empty() && unit.back() == CR;
    }
    if (s.in == FileType::missing) walk.failed = true;
    else if (!walk.ended && s.argument_count == 1) return "input not read to its end";
    return nullptr;
}

// The source bytes of each block that reaches the handle in writes of its own.
std::vector<std::string> blocks_of(const Scenario& s, const std::string& source) {
    bool console = s.out == FileType::character, usage = s.argument_count != 1;
    std::size_t size = console && !usage ? 1 : fake::memory_refused ? (console ? 2 : 1) : BUFFER_SIZE;
    // On a console each usage line goes through a buffer lent for that line alone.
    std::vector<std::string> parts = console && usage ? std::vector{BANNER, USAGE} : std::vector{source};
    std::vector<std::string> blocks;
    for (const std::string& part : parts) {
        for (std::size_t at = 0; at < part.size(); at += size) blocks.push_back(part.substr(at, size));
    }
    return blocks;
}

// The write calls that carry `source` to standard output: pieces of a block
// close at the staging limit, and a short piece drops the rest of its block.
std::vector<fake::Call> expected_writes(const Scenario& s, const std::string& source) {
    std::vector<fake::Call> writes;
    if (s.out == FileType::missing) return writes;
    for (const std::string& block : blocks_of(s, source)) {
        for (std::size_t at = 0; at < block.size();) {
            std::string piece;
            for (; at < block.size() && piece.size() < STAGING_LIMIT; ++at) {
                if (block[at] == LF) piece += CR;
                piece += block[at];
            }
            auto limit = fake::handles[1].write_limits.find(int(writes.size()));
            int n = limit != fake::handles[1].write_limits.end() ? std::min<int>(limit->second, piece.size()) : piece.size();
            writes.push_back({'W', 1, int(piece.size()), n, piece.substr(0, n)});
            if (n < int(piece.size())) break;
        }
    }
    return writes;
}

}  // namespace

const char* scenario_fails(const std::uint8_t* data, std::size_t size) {
    Scenario s = set_up(data, size);
    fake::run_process(s.argument_count, plain_filter);
    std::vector<fake::Call> plain = fake::calls;
    set_up(data, size);
    int status = fake::run_process(s.argument_count);
    if (fake::calls != plain) return "calls differ from those of the plain loop";

    InputWalk walk;
    if (const char* fault = walk_reads(s, walk)) return fault;
    bool usage = s.argument_count != 1;
    bool file_or_pipe = s.in == FileType::disk || s.in == FileType::pipe;
    std::string before_end = s.input.substr(0, s.input.find(END_OF_DATA));
    if (!usage && file_or_pipe && !walk.failed && filtered(walk.given) != filtered(before_end)) return "bytes lost";
    std::string source = usage ? BANNER + USAGE : filtered(walk.given);
    std::vector<fake::Call> writes, expected = expected_writes(s, source);
    int obtained = 0;
    for (const fake::Call& call : fake::calls) {
        if (call.op == 'W') writes.push_back(call);
        obtained += call.op == 'M' && !fake::memory_refused;
    }
    bool lost = walk.failed || (s.out == FileType::missing && !source.empty());
    for (const fake::Call& call : writes) lost |= call.result < call.asked;
    // A usage line stops at its first lost byte, which the reference leaves alone.
    if (writes != expected && !(usage && lost)) return "write calls";
    if (obtained > 1) return "more than one buffer obtained";
    if (status != (usage ? 2 : lost ? 1 : 0)) return "exit status";
    return nullptr;
}
