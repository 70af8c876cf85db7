// The explode decoder for ZIP method 6 ("Imploded"): PKWARE's sliding
// dictionary of 4 KB or 8 KB whose literals, match lengths and distances are
// coded with Shannon-Fano trees sent, run-length coded, at the start of the
// entry. The trees are canonical codes sent bit-inverted, so they are built
// by the inflate decoder's one table builder (codes of up to 16 bits) and
// read through its bounded bit input, complemented.
//
// The entry's flags choose the variant: bit 1 the 8 KB dictionary (7 low
// distance bits, else 6), bit 2 a literal tree (minimum match 3, else
// literals are raw bytes and the minimum match is 2).
#pragma once

#include "archive/zadinflate.h"

#include <cstdint>
#include <vector>

// The decoder's buffers, kept by an extractor for a whole run.
struct TExplodeBuffers {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> window;
    THuftTable literals, lengths, distances;
};

// Decodes the current entry: exactly rec.UnpackedSize bytes unless the data
// ends or breaks first. A match that would pass the declared size is cut
// there; a match that reaches before the first byte of the entry gives
// zeros. An invalid tree or code ends the call as InvalidData without
// writing what the window holds.
TInflateResult Explode(TStream32* inStream, TStream32*& outStream, const TInflateRec& rec, const TInflateProc& proc,
                       TExplodeBuffers& buffers);
