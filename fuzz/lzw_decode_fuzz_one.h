// One fuzz input through the LZW decoders. The first byte picks the
// decoder: even bytes compress (a .Z stream, header included, as it
// comes), odd bytes ZOO method 1 over the rest. Output is counted, not
// kept, and refused past 16 MB. Shared by the libFuzzer target and the
// corpus replay test.
#pragma once

#include "archive/zadlzw.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline void LzwDecodeOne(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (1u << 20))
        return;
    struct Source : TLzwSource {
        const std::uint8_t* p;
        std::size_t left;
        std::size_t Read(std::uint8_t* buffer, std::size_t cap) override
        {
            const std::size_t n = std::min(cap, left);
            std::memcpy(buffer, p, n);
            p += n;
            left -= n;
            return n;
        }
    } source;
    source.p = data + 1;
    source.left = size - 1;
    struct Sink : TLzwSink {
        std::size_t total = 0;
        bool Write(const std::uint8_t*, std::size_t count) override
        {
            total += count;
            return total <= (1u << 24);
        }
    } sink;
    if (data[0] % 2 == 0) {
        TLzwBuffers b;
        DecodeCompressStream(source, sink, b);
    } else {
        TZooLzwBuffers b;
        DecodeZooLzw(source, sink, b);
    }
}
