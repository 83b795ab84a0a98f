// The stream layer's work on runs of bytes: finding where the read rules
// apply, and staging a write piece with a CR before every LF. The build
// picks one of two files: 16 bytes at a time with SSE2, or memchr and memcpy.
#pragma once

#include "streams/text_stream.h"

// A staging area: a piece and the 16 bytes past it that a vector store may reach.
inline constexpr int STAGE_SIZE = MAX_PIECE + 16;

// The first CR or 0x1A in [from, to), or `to`.
const unsigned char* find_cr_or_end_mark(const unsigned char* from, const unsigned char* to);

// Stages bytes from `source` on, a CR before every LF, until the source ends
// or STAGING_LIMIT or more bytes are staged; returns the staged count.
int stage_piece(const unsigned char*& source, const unsigned char* end, unsigned char* stage);
