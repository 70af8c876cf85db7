// One fuzz input through the shrink, reduce and explode decoders. The first
// byte picks the decoder: 0 shrink, 1 to 4 reduce with that factor, 5 to 8
// explode with the flags (byte - 5) * 2 (literal tree and 8 KB dictionary
// in all four combinations); the next two give the declared size (times
// 16, little-endian); the rest is the packed stream. Shared by the
// libFuzzer target and the corpus replay test.
#pragma once

#include "archive/zadexplode.h"
#include "archive/zadreduce.h"
#include "archive/zadshrink.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline void ZipLegacyDecodeOne(const std::uint8_t* data, std::size_t size)
{
    if (size < 3 || size > (1u << 20))
        return;
    const int which = data[0] % 9;
    const std::uint8_t* packed = data + 3;
    const std::size_t packedSize = size - 3;
    std::size_t pos = 0;
    std::uint64_t written = 0;
    TInflateProc proc;
    proc.ReadProc = [&](TStream32*, TStream32*, void* buf, bool, BYTE, std::int32_t count, TDataType) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), packedSize - pos);
        std::memcpy(buf, packed + pos, n);
        pos += n;
        return static_cast<std::int32_t>(n);
    };
    proc.WriteProc = [&](TStream32*&, void*, bool, BYTE, std::int32_t count, TDataType) {
        written += static_cast<std::uint64_t>(count);
        // Like the data path, nothing past the declared size is taken.
        return written > (1u << 24) ? 0 : count;
    };
    TInflateRec rec;
    rec.PackedSize = static_cast<std::int64_t>(packedSize);
    rec.UnpackedSize = static_cast<std::int64_t>(data[1] | (data[2] << 8)) * 16;
    TStream32* out = nullptr;
    int fault = 0;
    if (which == 0) {
        TShrinkBuffers b;
        Unshrink(nullptr, out, rec, proc, b, fault);
    } else if (which <= 4) {
        TReduceBuffers b;
        Unreduce(nullptr, out, rec, proc, which, b, fault);
    } else {
        rec.BitFlag = static_cast<WORD>((which - 5) * 2);
        TExplodeBuffers b;
        Explode(nullptr, out, rec, proc, b);
    }
}
