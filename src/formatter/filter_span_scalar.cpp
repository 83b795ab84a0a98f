// The filter at the scalar level, which builds without SSE2 take alone: the byte loop.
#include "formatter/filter_span.h"

void scalar::filter_span(const unsigned char*& in, const unsigned char* in_end,
                         unsigned char*& out, const unsigned char* out_end) {
    filter_bytes(in, in_end, out, out_end);
}
