// Runs one of the library's own decoders over packed bytes held in memory
// and collects what it writes, through procedures shaped like the
// extraction data path's.
#pragma once

#include "archive/zadinflate.h"

#include <algorithm>
#include <cstring>
#include <string>

struct Decoded {
    TInflateResult result;
    std::string out;
};

// decode(rec, proc) runs the decoder; rec carries the packed size (the
// bytes given), unpacked and the entry's flags.
template <typename Decoder>
Decoded RunDecoder(const std::string& packed, std::int64_t unpacked, WORD flags, Decoder decode)
{
    size_t pos = 0;
    Decoded d;
    TInflateProc proc;
    proc.ReadProc = [&](TStream32*, TStream32*, void* buf, bool, BYTE, std::int32_t count, TDataType) {
        const size_t n = std::min<size_t>(static_cast<size_t>(count), packed.size() - pos);
        std::memcpy(buf, packed.data() + pos, n);
        pos += n;
        return static_cast<std::int32_t>(n);
    };
    proc.WriteProc = [&](TStream32*&, void* buf, bool, BYTE, std::int32_t count, TDataType) {
        d.out.append(static_cast<const char*>(buf), static_cast<size_t>(count));
        return count;
    };
    TInflateRec rec;
    rec.BitFlag = flags;
    rec.PackedSize = static_cast<std::int64_t>(packed.size());
    rec.UnpackedSize = unpacked;
    d.result = decode(rec, proc);
    return d;
}
