// Linked in place of the formatter, beside the program's own entry and start-up: the status is
// the level of the byte path whose kernels the start-up chose, or LEVEL_UNKNOWN.
#include <iterator>

#include "byte_path/filter.h"
#include "byte_path/levels.h"
#include "byte_path/text_mode.h"
#include "formatter/formatter.h"

namespace {

constexpr int LEVEL_UNKNOWN = 99;

struct Kernels {
    FilterSpan* filter;
    TranslateSpan* translate;
    StagePiece* stage;
};

// By BytePath.
constexpr Kernels LEVELS[] = {
    {scalar::filter, scalar::translate, scalar::stage},
    {sse2::filter, sse2::translate, sse2::stage},
    {avx2::filter, avx2::translate, avx2::stage},
    {avx512::filter, avx512::translate, avx512::stage},
};

}  // namespace

int run_formatter(int) {
    for (int level = 0; level < int(std::size(LEVELS)); ++level) {
        const Kernels& kernels = LEVELS[level];
        bool in_use = filter_span == kernels.filter && translate_span == kernels.translate;
        if (in_use && stage_piece == kernels.stage) return level;
    }
    return LEVEL_UNKNOWN;
}
