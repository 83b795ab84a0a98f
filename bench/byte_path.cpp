// byte_path CORPUS: tagsplit's own work on the bytes, with no system call.
// The stream layer and the formatter run over a platform that hands out the
// corpus from memory and drops what is written; prints ns/byte for the read
// translation, the filter and the CR LF staging, and in total (best of 5),
// for each level of the byte path this processor runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "byte_path/levels.h"
#include "formatter/formatter.h"
#include "streams/text_stream.h"

namespace {

std::vector<unsigned char> corpus;
std::size_t taken;  // corpus bytes handed out so far

}  // namespace

void platform_prepare_standard_handles() {}
StandardHandle platform_standard_handle(int index) { return {index, FileType::disk}; }

int platform_read(OsHandle, unsigned char* destination, int size) {
    std::size_t n = std::min(corpus.size() - taken, static_cast<std::size_t>(size));
    std::memcpy(destination, corpus.data() + taken, n);  // the copy a kernel makes
    taken += n;
    return static_cast<int>(n);
}

int platform_write(OsHandle, const unsigned char*, int size) { return size; }

bool platform_step_back(OsHandle) {
    --taken;
    return true;
}

unsigned char* platform_allocate(std::size_t size) { return new unsigned char[size]; }
void platform_exit(int) { std::abort(); }

namespace {

// Seconds of the best of five runs of `work`, each from the corpus's start.
template <class Work>
double best_of_five(Work work) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        streams_start_over();
        classify_standard_handles();
        taken = 0;
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

unsigned char block[BUFFER_SIZE];

// Seconds of the best of five runs that copy `bytes` to `block` a block at a
// time, as the filter leaves them in the output buffer, and stage each for
// writing when `staged`.
double copy_blocks(const std::vector<unsigned char>& bytes, bool staged) {
    return best_of_five([&] {
        for (std::size_t at = 0; at < bytes.size(); at += BUFFER_SIZE) {
            std::size_t n = std::min<std::size_t>(BUFFER_SIZE, bytes.size() - at);
            std::memcpy(block, bytes.data() + at, n);
            if (staged) handle_write(1, block, static_cast<int>(n));
        }
    });
}

// Times the stages at `level` and prints them on a line.
void time_level(BytePath level, const std::vector<unsigned char>& output) {
    choose_byte_path(level);
    double copy = best_of_five([&] {
        int got = 1;
        while (got > 0) got = platform_read(0, block, BUFFER_SIZE);
    });
    double read = best_of_five([&] {
        int got = 1;
        while (got > 0) got = handle_read(0, block, BUFFER_SIZE);
    });
    read -= copy;
    double stage = copy_blocks(output, true) - copy_blocks(output, false);
    double total = best_of_five([] { filter_input(); });
    total -= copy;
    double ns = 1e9 / static_cast<double>(corpus.size());
    std::printf("%-6s read translation %.3f, filter %.3f, CR LF staging %.3f, total %.3f\n",
                BYTE_PATH_NAMES[static_cast<int>(level)], read * ns,
                (total - read - stage) * ns, stage * ns, total * ns);
}

}  // namespace

int main(int argc, char** argv) {
    std::ifstream file(argc == 2 ? argv[1] : "", std::ios::binary);
    corpus.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (corpus.empty()) return 2;
    std::vector<unsigned char> output;  // the filtered bytes, for the staging alone
    for (unsigned char c : corpus) {
        if (c != '\t' && c != '\r' && c != '\n') output.push_back(c);
        if (c == '>') output.push_back('\n');
    }
    std::printf("byte path in memory, ns/byte:\n");
    for (int level = 0; level <= static_cast<int>(BytePath::avx512); ++level) {
        if (*byte_path_lacks(BytePath(level)) == '\0') time_level(BytePath(level), output);
    }
    return 0;
}
