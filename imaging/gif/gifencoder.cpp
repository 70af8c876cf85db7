#include "imaging/gif/gifencoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kInvalidOperation = "Invalid stream operation";
constexpr int kMaxCode = 4095;  // the largest code 12 bits hold
// Runs are counted in an int; a frame may hold 2^32 pixels of one value.
constexpr int kLongestRun = 1 << 30;

// The rows of an interlaced frame go out in four passes.
struct InterlacePass {
    int start;
    int step;
};
constexpr InterlacePass kPasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

}  // namespace

std::int64_t TGIFStream::Read(void*, std::int64_t) { throw Exception(kInvalidOperation); }
std::int64_t TGIFStream::Seek(std::int64_t, TSeekOrigin) { throw Exception(kInvalidOperation); }
std::int64_t TGIFStream::Write(const void*, std::int64_t) { throw Exception(kInvalidOperation); }

std::int64_t TGIFWriter::Write(const void* buffer, std::int64_t count)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    for (std::int64_t i = 0; i < count; ++i)
        PutByte(bytes[i]);
    return count;
}

// Puts the full block's length in front of it and opens the next; a full
// buffer goes out first.
void TGIFWriter::CloseBlock()
{
    m_buffer[static_cast<std::size_t>(m_blockStart)] = static_cast<std::uint8_t>(kBlockBytes - 1);
    if (m_used == static_cast<int>(m_buffer.size())) {
        m_used = 0;
        m_destination.WriteBuffer(m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()));
    }
    m_blockStart = m_used;
    m_blockEnd = m_blockStart + kBlockBytes;
    ++m_used;
}

void TGIFWriter::Flush()
{
    int end = m_blockStart;
    if (m_used > m_blockStart + 1) {
        m_buffer[static_cast<std::size_t>(m_blockStart)] = static_cast<std::uint8_t>(m_used - m_blockStart - 1);
        end = m_used;
    }
    m_blockStart = 0;
    m_blockEnd = kBlockBytes;
    m_used = 1;
    if (end > 0)
        m_destination.WriteBuffer(m_buffer.data(), end);
}

void THashTable::Clear() { m_slots.fill(kEmpty); }

void THashTable::Insert(std::uint32_t key, int code)
{
    const int step = Step(key);
    int slot = FirstSlot(key);
    for (int probes = 0; probes < kSize; ++probes) {
        if ((m_slots[slot] >> 12) == (kEmpty >> 12)) {
            m_slots[slot] = (key << 12) | static_cast<std::uint32_t>(code & 0xFFF);
            return;
        }
        slot -= step;
        if (slot < 0)
            slot += kSize;
    }
    throw GIFException("LZW dictionary overflow");
}

int THashTable::LookupAfter(std::uint32_t key, int slot) const
{
    const int step = Step(key);
    for (int probes = 1; probes < kSize; ++probes) {
        slot -= step;
        if (slot < 0)
            slot += kSize;
        const std::uint32_t entry = m_slots[static_cast<std::size_t>(slot)];
        if ((entry >> 12) == (kEmpty >> 12))
            return -1;
        if ((entry >> 12) == key)
            return static_cast<int>(entry & 0xFFF);
    }
    return -1;
}

void TGIFEncoder::Compress(TStream& stream, int bitsPerPixel, int width, int height, bool interlace,
                           const std::uint8_t* data, int maxColor)
{
    if (bitsPerPixel > 8)
        throw GIFException("Invalid bits per pixel");
    m_colorCount = maxColor;
    m_bitsPerPixel = std::max(bitsPerPixel, 2);
    m_initialCodeWidth = m_bitsPerPixel + 1;
    const auto codeSize = static_cast<std::uint8_t>(m_bitsPerPixel);
    stream.WriteBuffer(&codeSize, 1);

    m_codeWidth = m_initialCodeWidth;
    m_largestCode = MaxCodeForBits(m_codeWidth);
    m_clearCode = 1 << m_bitsPerPixel;
    m_endCode = m_clearCode + 1;
    m_firstFreeCode = m_clearCode + 2;
    m_clearFlag = false;
    m_bucket = 0;
    m_bitsInBucket = 0;
    m_width = width;
    m_height = height;
    m_interlaced = interlace;
    m_data = m_current = data;
    m_pixelsLeft = interlace ? width : static_cast<std::int64_t>(width) * height;
    m_row = m_pass = 0;

    TGIFWriter writer(stream);
    m_writer = &writer;
    try {
        if (data && width > 0 && height > 0)
            DoCompress();
        Output(m_endCode);
        FlushBits();
        writer.Flush();
    } catch (...) {
        m_writer = nullptr;
        throw;
    }
    m_writer = nullptr;
    const std::uint8_t terminator = 0;
    stream.WriteBuffer(&terminator, 1);
}

bool TGIFEncoder::NextRow()
{
    if (!m_interlaced)
        return false;
    m_row += kPasses[m_pass].step;
    while (m_row >= m_height) {
        if (++m_pass == 4)
            return false;
        m_row = kPasses[m_pass].start;
    }
    m_current = m_data + static_cast<std::int64_t>(m_row) * m_width;
    m_pixelsLeft = m_width;
    return true;
}

// The end code's last bits go out as a partial byte.
void TGIFEncoder::FlushBits()
{
    while (m_bitsInBucket > 0) {
        m_writer->PutByte(static_cast<std::uint8_t>(m_bucket));
        m_bucket >>= 8;
        m_bitsInBucket -= 8;
    }
    m_bitsInBucket = 0;
}

void TGIFEncoder::EmitClearCode()
{
    m_clearFlag = true;
    Output(m_clearCode);
}

void TLZWEncoder::AdjustCodeWidth()
{
    if (m_clearFlag) {
        m_codeWidth = m_initialCodeWidth;
        m_largestCode = MaxCodeForBits(m_codeWidth);
        m_clearFlag = false;
    } else {
        ++m_codeWidth;
        m_largestCode = m_codeWidth == 12 ? 4096 : MaxCodeForBits(m_codeWidth);
    }
}

void TLZWEncoder::EmitClearCode()
{
    TGIFEncoder::EmitClearCode();
    m_dictionary.Clear();
    m_nextFreeCode = m_clearCode + 2;
}

// The pixels are taken a row (or the whole frame) at a time, so that the
// loop over them stays free of row bookkeeping.
template <bool kDictionary>
void TLZWEncoder::Encode()
{
    EmitClearCode();
    int prefix = ReadPixel();
    const std::uint8_t* p = nullptr;
    const std::uint8_t* end = nullptr;
    while (TakePixels(p, end)) {
        for (; p != end; ++p) {
            const int pixel = CheckedPixel(*p);
            const auto key = static_cast<std::uint32_t>(prefix) * 256 + static_cast<std::uint32_t>(pixel);
            if constexpr (kDictionary) {
                const int code = m_dictionary.Lookup(key);
                if (code >= 0) {
                    prefix = code;
                    continue;
                }
            }
            OutputCode(prefix);
            prefix = pixel;
            if (m_nextFreeCode >= kMaxCode) {
                EmitClearCode();
            } else {
                if constexpr (kDictionary)
                    m_dictionary.Insert(key, m_nextFreeCode);
                ++m_nextFreeCode;
            }
        }
    }
    OutputCode(prefix);
}

void TLZWEncoder::DoCompress() { Encode<true>(); }

void TPlainEncoder::DoCompress() { Encode<false>(); }

std::int64_t GIFIntegerSquareRoot(std::int64_t x)
{
    if (x < 2)
        return x;
    int bits = 0;
    for (std::int64_t v = x; v > 0; v >>= 1)
        ++bits;
    std::int64_t r = std::int64_t{1} << ((bits + 1) / 2);
    for (;;) {
        const std::int64_t v = (x / r + r) / 2;
        if (v == r || v == r + 1)
            return r;
        r = v;
    }
}

int GIFTriangleCost(std::int64_t count, int n)
{
    const std::int64_t per = static_cast<std::int64_t>(n) * (n + 1) / 2;
    std::int64_t cost = 0;
    if (per > 0) {
        cost = (count / per) * n;
        count %= per;
    }
    if (count > 0) {
        std::int64_t k = GIFIntegerSquareRoot(count);
        while (k > 0 && k * (k + 1) >= 2 * count)
            --k;
        while (k * (k + 1) < 2 * count)
            ++k;
        cost += k;
    }
    return static_cast<int>(std::min<std::int64_t>(cost, 0x7FFFFFFF));
}

void TRLEEncoder::EmitClearCode()
{
    m_bumpCount = m_initialBump;
    m_clearLimit = m_initialClearLimit;
    m_codesSinceClear = 0;
    m_runTableSize = 0;
    TGIFEncoder::EmitClearCode();
    m_codeWidth = m_initialCodeWidth;
}

// Every code keeps the decoder's table in step: the width grows when the
// decoder's next entry would not fit, and a clear comes before the table
// could fill.
void TRLEEncoder::EmitRunCode(int code)
{
    m_clearFlag = false;
    Output(code);
    ++m_codesSinceClear;
    if (m_codesSinceClear == m_bumpCount) {
        ++m_codeWidth;
        m_bumpCount += 1 << (m_codeWidth - 1);
    }
    if (m_codesSinceClear >= m_clearLimit)
        EmitClearCode();
}

void TRLEEncoder::RestoreClearLimit()
{
    m_clearLimit = m_initialClearLimit;
    if (m_codesSinceClear >= m_clearLimit)
        EmitClearCode();
}

// Right after a clear the decoder's table is empty, so the run is written
// as the pixel, then codes for 2, 3, 4... pixels, each of which the decoder
// learns as it reads the one before.
void TRLEEncoder::FlushAfterClear(int count)
{
    RaiseClearLimit();
    m_runTablePixel = m_runPixel;
    int n = 1;
    while (count > 0) {
        if (n == 1) {
            m_runTableSize = 1;
            EmitRunCode(m_runPixel);
            count -= 1;
        } else if (count >= n) {
            m_runTableSize = n;
            EmitRunCode(m_firstFreeCode + n - 2);
            count -= n;
        } else if (count == 1) {
            ++m_runTableSize;
            EmitRunCode(m_runPixel);
            count = 0;
        } else {
            ++m_runTableSize;
            EmitRunCode(m_firstFreeCode + count - 2);
            count = 0;
        }
        n = m_codesSinceClear == 0 ? 1 : n + 1;
    }
    RestoreClearLimit();
}

void TRLEEncoder::FlushClearOrRepeat(int count)
{
    if (1 + GIFTriangleCost(count, m_maxRunCodes) < count) {
        EmitClearCode();
        FlushAfterClear(count);
        return;
    }
    for (int i = 0; i < count; ++i)
        EmitRunCode(m_runPixel);
}

// The run codes learnt since the last clear still stand for runs of this
// pixel: repeat the longest, unless starting over after a clear is cheaper.
void TRLEEncoder::FlushWithRunTable(int count)
{
    const int t = m_runTableSize;
    int repeats = count / t;
    int left = count % t;
    int extra = left > 0 ? 1 : 0;
    if (m_codesSinceClear + repeats + extra > m_maxRunCodes) {
        repeats = m_maxRunCodes - m_codesSinceClear;
        left = count - repeats * t;
        extra = 1 + GIFTriangleCost(left, m_maxRunCodes);
    }
    if (1 + GIFTriangleCost(count, m_maxRunCodes) < repeats + extra) {
        EmitClearCode();
        FlushAfterClear(count);
        return;
    }
    RaiseClearLimit();
    for (int i = 0; i < repeats; ++i)
        EmitRunCode(m_firstFreeCode + t - 2);
    if (left > 0) {
        if (m_clearFlag)
            FlushAfterClear(left);
        else if (left == 1)
            EmitRunCode(m_runPixel);
        else
            EmitRunCode(m_firstFreeCode + left - 2);
    }
    RestoreClearLimit();
}

void TRLEEncoder::FlushRun(int count)
{
    if (count == 1)
        EmitRunCode(m_runPixel);
    else if (m_clearFlag)
        FlushAfterClear(count);
    else if (m_runTableSize > 1 && m_runTablePixel == m_runPixel)
        FlushWithRunTable(count);
    else
        FlushClearOrRepeat(count);
}

void TRLEEncoder::DoCompress()
{
    m_maxRunCodes = MaxCodeForBits(12) - m_firstFreeCode;
    m_initialBump = m_clearCode - 1;
    m_initialClearLimit = m_bitsPerPixel <= 3 ? 9 : m_clearCode - 2;
    EmitClearCode();
    m_runPixel = -1;
    int count = 0;
    for (int pixel = ReadPixel(); pixel >= 0; pixel = ReadPixel()) {
        // A run longer than kLongestRun goes out as several runs.
        if (count > 0 && (pixel != m_runPixel || count == kLongestRun)) {
            FlushRun(count);
            count = 0;
        }
        if (count > 0) {
            ++count;
        } else {
            m_runPixel = pixel;
            count = 1;
        }
    }
    if (count > 0)
        FlushRun(count);
}
