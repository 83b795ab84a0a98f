// The byte path of builds for processors other than x86_64: the scalar level alone.
#include "formatter/byte_path.h"
#include "formatter/filter_span.h"
#include "streams/byte_scan.h"

FilterSpan* filter_span = scalar::filter_span;
TranslateSpan* translate_span = scalar::translate_span;
StagePiece* stage_piece = scalar::stage_piece;

const char* byte_path_lacks(BytePath level) {
    return level == BytePath::scalar ? "" : " an x86_64 build";
}

BytePath choose_byte_path(BytePath) { return BytePath::scalar; }
