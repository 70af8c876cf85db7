// The decoder for ZIP methods 2 to 5 ("Reduce-1" to "Reduce-4", factor f =
// method - 1): bytes coded against the follower set of the byte before
// them, then expanded by a repeat coder whose marker 0x90 introduces a
// length (the low 8 - f bits of the next byte, extended by a byte when they
// are all set) and a distance (the high f bits times 256, plus a byte, plus
// 1) into a 4,096-byte ring.
//
// A follower set holds at most 32 bytes: a count above that, or an index
// past the set, is 25116 "Bad block". Decoding ends when the entry's
// declared size is out (the last packed byte may hold several symbols), or
// when the data ends first.
#pragma once

#include "archive/zadinflate.h"

#include <array>
#include <cstdint>
#include <vector>

// The decoder's tables, kept by an extractor for a whole run.
struct TReduceBuffers {
    std::vector<std::uint8_t> input;
    std::array<std::array<std::uint8_t, 32>, 256> followers{};
    std::array<std::uint8_t, 256> counts{};
    std::vector<std::uint8_t> ring;
    std::vector<std::uint8_t> output;
};

// Decodes the current entry with compression factor 1 to 4. On InvalidData,
// fault holds the message id of what was wrong.
TInflateResult Unreduce(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                        int factor, TReduceBuffers& buffers, int& fault);
