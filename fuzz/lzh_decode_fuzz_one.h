// One fuzz input through the LZH decoders. The first byte picks the decoder
// and its parameters (below); the next three give the declared unpacked
// size (little-endian, at most 16 MB); the rest is the packed data. Output
// is counted, not kept. Shared by the libFuzzer target and the corpus
// replay test.
//
//   byte 0 % 8:  0 lh4 (12, 4)   1 lh5, ZOO 2, BH 1 (13, 4)   2 lh6, BH 3 (15, 5)
//                3 lh7, ARJ 1-3 (16, 5)   4-5 lh1   6-7 ARJ method 4
#pragma once

#include "archive/zadlh1.h"
#include "archive/zadlzh.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline void LzhDecodeOne(const std::uint8_t* data, std::size_t size)
{
    if (size < 4 || size > (1u << 20))
        return;
    const std::int64_t declared = data[1] | (data[2] << 8) | (data[3] << 16);
    const std::uint8_t* p = data + 4;
    std::size_t left = size - 4;
    const TLzhSource source = [&](std::uint8_t* buf, std::int32_t count) -> std::int32_t {
        const std::size_t n = std::min(static_cast<std::size_t>(count), left);
        std::memcpy(buf, p, n);
        p += n;
        left -= n;
        return static_cast<std::int32_t>(n);
    };
    std::int64_t total = 0;
    const TLzhSink sink = [&](const std::uint8_t*, std::int32_t count) {
        total += count;
        return total <= declared;
    };
    static const TLzhParams kParams[] = {{12, 4}, {13, 4}, {15, 5}, {16, 5}};
    const int which = data[0] % 8;
    if (which < 4) {
        TLzhDecoder d;
        d.Decode(kParams[which], declared, source, sink);
    } else if (which < 6) {
        Lh1Decode(declared, source, sink);
    } else {
        TLzhDecoder d;
        d.DecodeFast(declared, source, sink);
    }
}
