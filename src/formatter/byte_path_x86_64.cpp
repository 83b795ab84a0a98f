// The byte path of builds for x86_64: all three levels, the processor's
// features deciding whether the AVX-512 one runs.
#include "formatter/byte_path.h"
#include "formatter/filter_span.h"
#include "streams/byte_scan.h"

namespace {

struct Kernels {
    FilterSpan* filter;
    TranslateSpan* translate;
    StagePiece* stage;
};

// By BytePath.
constexpr Kernels LEVELS[] = {
    {scalar::filter_span, scalar::translate_span, scalar::stage_piece},
    {sse2::filter_span, sse2::translate_span, sse2::stage_piece},
    {avx512::filter_span, avx512::translate_span, avx512::stage_piece},
};

constexpr Kernels EVERY_X86_64 = LEVELS[static_cast<int>(BytePath::sse2)];

constexpr int LACKING_SIZE = 80;  // room for the names of every feature checked, and more
char lacking[LACKING_SIZE];
int lacking_length;

// Adds a space and `name` to `lacking` unless the processor has the feature; a name that
// would not fit is cut short rather than written past the end.
void note_unless(bool present, const char* name) {
    if (present) return;
    const char* letter = name;
    char next = ' ';
    while (next != '\0' && lacking_length < LACKING_SIZE - 1) {
        lacking[lacking_length] = next;
        ++lacking_length;
        next = *letter;
        ++letter;
    }
}

}  // namespace

// SSE2, which every x86_64 processor runs, until choose_byte_path is called;
// constant-initialised, so that no start-up code runs.
FilterSpan* filter_span = EVERY_X86_64.filter;
TranslateSpan* translate_span = EVERY_X86_64.translate;
StagePiece* stage_piece = EVERY_X86_64.stage;

// A feature the AVX-512 kernels are built for, noted when the processor lacks it.
#define CHECK_FEATURE(name) note_unless(__builtin_cpu_supports(name), name)

const char* byte_path_lacks(BytePath level) {
    lacking_length = 0;
    if (level == BytePath::avx512) {
        // Asked here, not at start-up: the Windows build runs no constructors.
        __builtin_cpu_init();
        CHECK_FEATURE("avx512f");
        CHECK_FEATURE("avx512bw");
        CHECK_FEATURE("avx512vl");
        CHECK_FEATURE("avx512vbmi");
        CHECK_FEATURE("avx512vbmi2");
        CHECK_FEATURE("bmi2");
        CHECK_FEATURE("popcnt");
    }
    lacking[lacking_length] = '\0';
    return lacking;
}

BytePath choose_byte_path(BytePath most) {
    BytePath level = most;
    if (byte_path_lacks(level)[0] != '\0') level = BytePath::sse2;
    const Kernels& kernels = LEVELS[static_cast<int>(level)];
    filter_span = kernels.filter;
    translate_span = kernels.translate;
    stage_piece = kernels.stage;
    return level;
}
