// The byte path of builds for processors other than x86_64: the scalar level alone.
#include "byte_path/filter.h"
#include "byte_path/levels.h"
#include "byte_path/text_mode.h"

FilterSpan* filter_span = scalar::filter;
TranslateSpan* translate_span = scalar::translate;
StagePiece* stage_piece = scalar::stage;

const char* byte_path_lacks(BytePath level) {
    return level == BytePath::scalar ? "" : " an x86_64 build";
}

BytePath choose_byte_path(BytePath) { return BytePath::scalar; }
