// One fuzz input through the ARC decoders: the first byte picks the method
// (2 to 9), the rest is the packed data, read in pieces of a size the
// second byte gives. The output is held to 16 MB, as the data path holds
// an entry to its declared size. Shared by the libFuzzer target and the
// corpus replay test.
#pragma once

#include "archive/zadarcdec.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline void ArcDecodeOne(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > (1u << 20))
        return;
    const int method = 2 + data[0] % 8;
    const std::size_t piece = 1 + data[1];
    const std::uint8_t* packed = data + 2;
    const std::size_t packedSize = size - 2;
    std::size_t pos = 0;
    std::uint64_t written = 0;
    TArcDecoder decoder(
        [&](std::uint8_t* buf, std::int32_t count) {
            const std::size_t n = std::min({static_cast<std::size_t>(count), piece, packedSize - pos});
            std::memcpy(buf, packed + pos, n);
            pos += n;
            return static_cast<std::int32_t>(n);
        },
        [&](const std::uint8_t*, std::int32_t count) {
            written += static_cast<std::uint64_t>(count);
            return written <= (1u << 24);
        });
    decoder.Decode(method);
}
