// The filter's fast path where SSE2 is not the baseline: the byte loop alone.
#include "formatter/filter_span.h"

void filter_span(const unsigned char*& in, const unsigned char* in_end, unsigned char*& out,
                 const unsigned char* out_end) {
    filter_bytes(in, in_end, out, out_end);
}
