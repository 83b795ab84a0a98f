// The byte path of builds for x86_64: all four levels, the processor's features deciding which
// one runs. The processor is asked directly, with cpuid and xgetbv, for the very names the
// kernels' target attributes list, so the Windows build, which runs no start-up code of a C
// runtime, asks it the same way, and a feature the kernels use is never left unchecked.
#include <cpuid.h>

#include <cstddef>

#include "byte_path/filter.h"
#include "byte_path/levels.h"
#include "byte_path/text_mode.h"
#include "byte_path/x86_64_features.h"

namespace {

struct Kernels {
    FilterSpan* filter;
    TranslateSpan* translate;
    StagePiece* stage;
    const char* features;  // as the target attributes list them, beyond what every x86_64 has
};

// By BytePath.
constexpr Kernels LEVELS[] = {
    {scalar::filter, scalar::translate, scalar::stage, ""},
    {sse2::filter, sse2::translate, sse2::stage, ""},
    {avx2::filter, avx2::translate, avx2::stage, AVX2_FEATURES},
    {avx512::filter, avx512::translate, avx512::stage, AVX512_FEATURES},
};

constexpr Kernels EVERY_X86_64 = LEVELS[static_cast<int>(BytePath::sse2)];

enum Register { EAX, EBX, ECX, EDX };

// The register state that the operating system must save for a feature to be usable: SSE and
// AVX for 256-bit registers, and the mask and 512-bit registers as well for AVX-512.
constexpr unsigned long long YMM_STATE = 0x6;
constexpr unsigned long long ZMM_STATE = 0xE6;
constexpr unsigned OSXSAVE_BIT = 27;  // of ECX in leaf 1: the system lets xgetbv say so

struct Feature {
    const char* name;  // as a target attribute names it
    unsigned leaf;     // of cpuid, asked with subleaf 0
    Register where;
    unsigned bit;
    unsigned long long state;
};

constexpr Feature FEATURES[] = {
    {"popcnt", 1, ECX, 23, 0},
    {"bmi", 7, EBX, 3, 0},  // BMI1
    {"bmi2", 7, EBX, 8, 0},
    {"avx2", 7, EBX, 5, YMM_STATE},
    {"avx512f", 7, EBX, 16, ZMM_STATE},
    {"avx512bw", 7, EBX, 30, ZMM_STATE},
    {"avx512vl", 7, EBX, 31, ZMM_STATE},
    {"avx512vbmi", 7, ECX, 1, ZMM_STATE},
    {"avx512vbmi2", 7, ECX, 6, ZMM_STATE},
};

// The register state the operating system saves, or none where it does not say.
unsigned long long saved_state() {
    unsigned registers[4] = {};
    __get_cpuid(1, &registers[EAX], &registers[EBX], &registers[ECX], &registers[EDX]);
    if ((registers[ECX] >> OSXSAVE_BIT & 1) == 0) return 0;
    unsigned low = 0;
    unsigned high = 0;
    asm("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return static_cast<unsigned long long>(high) << 32 | low;
}

bool processor_has(const Feature& feature) {
    unsigned registers[4] = {};
    bool asked = __get_cpuid_count(feature.leaf, 0, &registers[EAX], &registers[EBX],
                                   &registers[ECX], &registers[EDX]);
    bool present = asked && (registers[feature.where] >> feature.bit & 1) != 0;
    return present && (saved_state() & feature.state) == feature.state;
}

// Whether `name`, of `length` letters, is `known`.
bool same_name(const char* name, std::size_t length, const char* known) {
    std::size_t at = 0;
    while (at < length && known[at] == name[at]) ++at;
    return at == length && known[at] == '\0';
}

// Whether the processor has the feature `name`, of `length` letters; a name that no entry of
// FEATURES knows counts as missing.
bool has_feature(const char* name, std::size_t length) {
    for (const Feature& feature : FEATURES) {
        if (same_name(name, length, feature.name)) return processor_has(feature);
    }
    return false;
}

constexpr int LACKING_SIZE = 80;  // room for the names of every feature checked, and more
char lacking[LACKING_SIZE];
int lacking_length;

// Adds `letter` to `lacking` where it fits, keeping the last place for the end of the text.
void add_lacking(char letter) {
    if (lacking_length == LACKING_SIZE - 1) return;
    lacking[lacking_length] = letter;
    ++lacking_length;
}

// Adds a space and the `length` letters of `name` to `lacking`, as many as fit.
void note_lacking(const char* name, std::size_t length) {
    add_lacking(' ');
    for (std::size_t at = 0; at < length; ++at) add_lacking(name[at]);
}

}  // namespace

// SSE2, which every x86_64 processor runs, until choose_byte_path is called; constant-initialised,
// so that no start-up code runs.
FilterSpan* filter_span = EVERY_X86_64.filter;
TranslateSpan* translate_span = EVERY_X86_64.translate;
StagePiece* stage_piece = EVERY_X86_64.stage;

const char* byte_path_lacks(BytePath level) {
    lacking_length = 0;
    const char* name = LEVELS[static_cast<int>(level)].features;
    while (*name != '\0') {
        std::size_t length = 0;
        while (name[length] != '\0' && name[length] != ',') ++length;
        if (!has_feature(name, length)) note_lacking(name, length);
        name += length;
        if (*name == ',') ++name;
    }
    lacking[lacking_length] = '\0';
    return lacking;
}

BytePath choose_byte_path(BytePath most) {
    int level = static_cast<int>(most);
    // SSE2 lacks nothing, so the search ends there at the latest.
    while (byte_path_lacks(static_cast<BytePath>(level))[0] != '\0') --level;
    const Kernels& kernels = LEVELS[level];
    filter_span = kernels.filter;
    translate_span = kernels.translate;
    stage_piece = kernels.stage;
    return static_cast<BytePath>(level);
}
