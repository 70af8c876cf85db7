// The deflate streams over zlib: round trip, seeking, the source position a
// freed decompress stream leaves, the input limit, the CRC register.
#include "archive/zadzlib.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace {

std::string Text(size_t n)
{
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "word" + std::to_string(i % 977) + " ";
    s.resize(n);
    return s;
}

// A memory stream holding the raw deflate data of text followed by a tail.
void Fill(TMemoryStream32& m, const std::string& text, const std::string& tail)
{
    {
        TCompressStream c(&m, dtDeflateN, -15);
        c.Write(text.data(), static_cast<std::int64_t>(text.size()));
        EXPECT_EQ(c.GetCrcValue() ^ 0xFFFFFFFFu, crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    }
    m.Write(tail.data(), static_cast<std::int64_t>(tail.size()));
    m.SetPosition(0);
}

}  // namespace

TEST(ZlibStreams, RoundTripAndSourcePositionAfterFree)
{
    const std::string text = Text(50000);
    TMemoryStream32 m;
    Fill(m, text, "TAIL");
    const std::int64_t deflateEnd = m.Size() - 4;
    std::string out(text.size(), '\0');
    {
        TDecompressStream d(&m, emNone, -15);
        EXPECT_EQ(d.Read(out.data(), 1000, static_cast<std::int32_t>(out.size())), static_cast<std::int32_t>(out.size()));
        EXPECT_EQ(d.TotalOut(), text.size());
    }
    EXPECT_EQ(out, text);
    EXPECT_EQ(m.Position(), deflateEnd);
}

TEST(ZlibStreams, SeekRestartsAndSkipsForward)
{
    // Two deflate streams one after the other; the decompress stream is
    // made over the second.
    const std::string first = Text(30000);
    std::string second = "another text: " + Text(30000);
    second.resize(30000);
    TMemoryStream32 m;
    Fill(m, first, "");
    const std::int64_t secondStart = m.Size();
    m.SetPosition(secondStart);
    {
        TCompressStream c(&m, dtDeflateN, -15);
        c.Write(second.data(), static_cast<std::int64_t>(second.size()));
    }
    m.SetPosition(secondStart);
    TDecompressStream d(&m, emNone, -15);
    char buf[100];
    d.Read(buf, 100);
    EXPECT_EQ(std::string(buf, 100), second.substr(0, 100));
    EXPECT_EQ(d.Seek(std::int64_t{10000}, soCurrent), 10100);
    d.Read(buf, 10);
    EXPECT_EQ(std::string(buf, 10), second.substr(10100, 10));
    // Back to the start: decoding restarts from the source's position 0,
    // not from where the source was when the stream was made.
    EXPECT_EQ(d.Seek(std::int64_t{0}, soBeginning), 0);
    d.Read(buf, 20);
    EXPECT_EQ(std::string(buf, 20), first.substr(0, 20));
    // A forward seek from the beginning past what was decoded skips on.
    EXPECT_EQ(d.Seek(std::int64_t{25000}, soBeginning), 25000);
    d.Read(buf, 10);
    EXPECT_EQ(std::string(buf, 10), first.substr(25000, 10));
}

TEST(ZlibStreams, InputLimitKeepsWhatFollows)
{
    const std::string text = Text(20000);
    TMemoryStream32 m;
    Fill(m, text, "XYZ");
    const std::int64_t packed = m.Size() - 3;
    TDecompressStream d(&m, emNone, -15);
    d.InputLimit = packed;
    std::string out(text.size() + 10, '\0');
    d.Read(out.data(), 131070, static_cast<std::int32_t>(out.size()));
    EXPECT_EQ(d.SourceBytesRead(), packed);
    EXPECT_EQ(d.TotalOut(), text.size());
}

TEST(ZlibStreams, TruncatedSourceReportsBufferError)
{
    const std::string text = Text(40000);
    TMemoryStream32 m;
    Fill(m, text, "");
    m.SetSize(m.Size() / 2);
    m.SetPosition(0);
    TDecompressStream d(&m, emNone, -15);
    std::string out(text.size(), '\0');
    EXPECT_EQ(d.Read(out.data(), 4096, static_cast<std::int32_t>(out.size())), Z_BUF_ERROR);
    EXPECT_LT(d.TotalOut(), text.size());
}

TEST(ZlibStreams, EmptyCompressStreamStillEnds)
{
    TMemoryStream32 m;
    { TCompressStream c(&m, dtDeflateN, -15); }
    EXPECT_GT(m.Size(), 0);
    m.SetPosition(0);
    TDecompressStream d(&m, emNone, -15);
    char b[4];
    d.Read(b, 4);
    EXPECT_TRUE(d.StreamEnd());
    EXPECT_EQ(d.TotalOut(), 0u);
}
