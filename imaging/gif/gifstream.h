// The few ways the GIF reader takes bytes from its stream. Every read is
// bounded by what the stream holds: a fixed-size record cut short raises
// "Premature end of data", a single byte at the end answers -1, and moving
// back by one byte is how the reader looks ahead.
#pragma once

#include "imaging/gif/gifcommon.h"
#include "rtl/streams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gifio {

// Reads count bytes or raises "Premature end of data".
void ReadExact(TStream& stream, void* buffer, std::int64_t count);
// The next byte, or -1 at the end of the data.
int GetStreamByte(TStream& stream);
// Moves back over the byte just read.
void PutBack(TStream& stream);
// Bytes between the position and the end of the stream.
std::int64_t Remaining(TStream& stream);
// Skips count bytes, stopping at the end of the data.
void Skip(TStream& stream, std::int64_t count);

// Sub-blocks of text: each non-empty sub-block is one line, cut at its
// first zero byte; a zero length byte or the end of the data ends them.
void ReadTextSubBlocks(TStream& stream, std::vector<std::string>& lines);

}  // namespace gifio
