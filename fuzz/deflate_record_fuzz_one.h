// One fuzz input through the compressed clipboard record's reader and the
// buffer and stream inflaters. The first byte picks the reader: even the
// record reader, odd the buffer inflater (its output bounded to 16 MB, the
// way a small machine bounds it) and then the stream inflater. Shared by the
// libFuzzer target and the corpus replay test.
#pragma once

#include "archive/zaddeflate.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A stream that takes what is written and forgets it, counting it.
class TCountingSink : public TStream32 {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t count) override
    {
        m_size += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
    std::int64_t Written() const { return m_size; }

private:
    std::int64_t m_size = 0;
};

inline void DeflateRecordFuzzOne(const std::uint8_t* data, std::size_t size)
{
    // 64 KB inflate to at most about 64 MB: each input stays quick.
    if (size < 1 || size > (1u << 16))
        return;
    const std::uint8_t* body = data + 1;
    const std::size_t bodySize = size - 1;
    if (data[0] % 2 == 0) {
        TMemoryStream32 dest;
        ReadCompressedRecord(body, bodySize, &dest);
        return;
    }
    std::vector<std::uint8_t> out;
    try {
        zadDecompress_BufToBuf(body, static_cast<std::int64_t>(bodySize), out, 0, 16u << 20);
    } catch (const EOutOfMemory&) {
    }
    TMemoryStream32 src;
    if (bodySize > 0)
        src.WriteBuffer(body, static_cast<std::int64_t>(bodySize));
    src.SetPosition(0);
    TCountingSink sink;
    zadDecompress_StreamToStream(&src, &sink);
}
