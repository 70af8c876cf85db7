// The decoder for ZIP method 1 ("Shrunk"): LZW with codes of 9 to 13 bits.
// Code 256 is a control code: 256 then 1 widens the codes by a bit, 256
// then 2 frees every code that no other code extends (a partial clear), so
// that later strings reuse them, lowest first. Each code read after the
// first defines the string of the code before it plus the first character
// of its own; a code not defined yet is the one about to be (the KwKwK
// case).
//
// Codes never widen past 13 bits and a string is never longer than the
// 8,192-entry code table can make it: a widening past 13 bits, an unknown
// control code or a string built through a freed code is 25116 "Bad block",
// a chain longer than the stack (a loop through reused codes) 25305 "Stack
// overflow".
#pragma once

#include "archive/zadinflate.h"

#include <cstdint>
#include <vector>

// The decoder's tables, kept by an extractor for a whole run.
struct TShrinkBuffers {
    std::vector<std::uint8_t> input;
    std::vector<std::int16_t> parent;  // -1: the code is free
    std::vector<std::uint8_t> value;
    std::vector<std::uint8_t> stack;
    std::vector<std::uint8_t> output;
};

// Decodes the current entry until its packed data ends. On InvalidData,
// fault holds the message id of what was wrong.
TInflateResult Unshrink(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                        TShrinkBuffers& buffers, int& fault);
