// The one-call deflate routines and the compressed clipboard record, checked
// against zlib itself and against gzip.
#include "archive/zadcrc.h"
#include "archive/zaddeflate.h"
#include "archive/zadinflate.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Text(std::size_t n)
{
    static const char* const words[] = {"archive ", "deflate ", "folder ", "viewer ", "stream ", "\n"};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 6];
    s.resize(n);
    return s;
}

std::string Noise(std::size_t n)
{
    std::mt19937 rng(11);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::uint32_t StandardCrc(const std::string& s)
{
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Raw deflate decoded by zlib itself.
std::string ZlibInflate(const std::uint8_t* data, std::size_t size)
{
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out;
    std::vector<std::uint8_t> buf(65536);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = buf.data();
        z.avail_out = static_cast<uInt>(buf.size());
        r = inflate(&z, Z_NO_FLUSH);
        out.append(reinterpret_cast<char*>(buf.data()), buf.size() - z.avail_out);
    }
    EXPECT_EQ(r, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

std::string Bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string MemText(TMemoryStream32& m)
{
    return std::string(static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size()));
}

struct Input {
    const char* name;
    std::string bytes;
};

std::vector<Input> Inputs()
{
    return {{"empty", ""},
            {"one byte", "x"},
            {"small", "hello hello hello hello"},
            {"incompressible", Noise(100000)},
            {"multi-megabyte", Text(3 * 1024 * 1024 + 17)}};
}

}  // namespace

TEST(DeflateRoutines, EveryPairOfRoutinesRoundTripsAndZlibReadsTheOutput)
{
    for (const Input& in : Inputs()) {
        for (TDeflateType type : {dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX}) {
            SCOPED_TRACE(std::string(in.name) + " type " + std::to_string(type));
            const std::uint32_t reg = ~StandardCrc(in.bytes);

            // Buffer to buffer, both ways, with the same CRC register.
            std::vector<std::uint8_t> packed, unpacked;
            EXPECT_EQ(zadCompress_BufToBuf(in.bytes.data(), in.bytes.size(), packed, type), reg);
            EXPECT_EQ(ZlibInflate(packed.data(), packed.size()), in.bytes);
            EXPECT_EQ(zadDecompress_BufToBuf(packed.data(), packed.size(), unpacked), reg);
            EXPECT_EQ(Bytes(unpacked), in.bytes);

            // Stream to stream, both ways, crossed with the buffer routines.
            TMemoryStream32 src, viaStream, back;
            src.WriteBuffer(in.bytes.data(), in.bytes.size());
            src.SetPosition(0);
            const std::uint32_t got = zadCompress_StreamToStream(&src, &viaStream, in.bytes.size(), type);
            EXPECT_EQ(got, in.bytes.empty() ? 0xFFFFFFFFu : reg);
            if (!in.bytes.empty()) {
                EXPECT_EQ(ZlibInflate(static_cast<const std::uint8_t*>(viaStream.Memory()), viaStream.Size()), in.bytes);
                TMemoryStream32 fromBuf;
                fromBuf.WriteBuffer(packed.data(), packed.size());
                fromBuf.SetPosition(0);
                EXPECT_EQ(zadDecompress_StreamToStream(&fromBuf, &back), reg);
                EXPECT_EQ(MemText(back), in.bytes);
                EXPECT_EQ(Crc32Val, reg);
            }

            // The string routines.
            std::string s = in.bytes;
            std::int64_t size = -1;
            EXPECT_EQ(zadCompress_String_Method1(s, size, type), reg);
            EXPECT_EQ(size, static_cast<std::int64_t>(s.size()));
            EXPECT_EQ(zadDecompress_String_Method1(s), in.bytes);
            std::string s2 = in.bytes;
            EXPECT_EQ(zadCompress_String_Method2(s2, size, type), StandardCrc(in.bytes));
            EXPECT_EQ(zadDecompress_String_Method1(s2), in.bytes);
        }
    }
}

TEST(DeflateRoutines, GzipReadsTheRawDataOnceWrappedInAGzipHeader)
{
    TempDir dir;
    const std::string text = Text(200000);
    std::vector<std::uint8_t> packed;
    const std::uint32_t reg = zadCompress_BufToBuf(text.data(), text.size(), packed, dtDeflateN);
    std::string gz("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    gz += Bytes(packed);
    const std::uint32_t crc = ~reg;
    for (std::uint32_t v : {crc, static_cast<std::uint32_t>(text.size())})
        for (int i = 0; i < 4; ++i)
            gz += static_cast<char>(v >> (8 * i));
    dir.Write("t.gz", gz);
    std::string out;
    FILE* p = ::popen(("gzip -dc " + dir.Path("t.gz")).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0);
    EXPECT_EQ(out, text);
}

TEST(DeflateRoutines, TheSmallExamples)
{
    // 40,000 decoded bytes come back as the first 32,768.
    const std::string text = Text(40000);
    std::string s = text;
    std::int64_t size = 0;
    zadCompress_String_Method1(s, size, dtDeflateN);
    EXPECT_EQ(zadDecompress_String_Method2(s, size), text.substr(0, 32768));
    EXPECT_EQ(zadDecompress_String_Method2("", 5), "");

    // An empty source leaves Crc32Val at 0 when it was 0xFFFFFFFF.
    TMemoryStream32 empty, out;
    zad_stream_plus plus;
    std::uint32_t crc = 123;
    Crc32Val = 0xFFFFFFFF;
    EXPECT_TRUE(zadCompressStreamProc(&empty, &out, plus, crc, dtDeflateN, nullptr, -15));
    EXPECT_EQ(Crc32Val, 0u);
    EXPECT_EQ(crc, 0u);  // the standard CRC of nothing
    EXPECT_EQ(ZlibInflate(static_cast<const std::uint8_t*>(out.Memory()), out.Size()), "");

    // The flags word's high byte keeps the caller's CRC.
    TMemoryStream32 one, out2;
    one.WriteBuffer("abc", 3);
    one.SetPosition(0);
    plus.Flags = 0x100;
    crc = 77;
    EXPECT_TRUE(zadCompressStreamProc(&one, &out2, plus, crc, dtDeflateN, nullptr, -15));
    EXPECT_EQ(crc, 77u);
    EXPECT_EQ(out2.Position(), 0);
}

TEST(DeflateRoutines, CancelByteStopsTheStreamProc)
{
    const std::string text = Text(500000);
    TMemoryStream32 src, out;
    src.WriteBuffer(text.data(), text.size());
    src.SetPosition(0);
    bool cancel = true;
    zad_stream_plus plus;
    plus.CancelRef = &cancel;
    std::uint32_t crc = 0;
    EXPECT_FALSE(zadCompressStreamProc(&src, &out, plus, crc, dtDeflateN, nullptr, -15));
}

TEST(DeflateRoutines, InflatingStopsAtTheMemoryLimitAndFailsCleanly)
{
    const std::string zeros(8 * 1024 * 1024, '\0');
    std::vector<std::uint8_t> packed, out;
    zadCompress_BufToBuf(zeros.data(), zeros.size(), packed, dtDeflateN);
    EXPECT_THROW(zadDecompress_BufToBuf(packed.data(), packed.size(), out, 0, 1024 * 1024), EOutOfMemory);
    EXPECT_TRUE(out.empty());
    // With room it decodes; damaged data end the decoding without raising.
    zadDecompress_BufToBuf(packed.data(), packed.size(), out, 0, 64 * 1024 * 1024);
    EXPECT_EQ(out.size(), zeros.size());
    const std::uint8_t garbage[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_NO_THROW(zadDecompress_BufToBuf(garbage, sizeof garbage, out));
    EXPECT_TRUE(out.empty());
}

namespace {

// A source whose every read raises.
class TRaisingStream : public TMemoryStream32 {
public:
    std::int64_t Read(void*, std::int64_t) override
    {
        ++reads;
        throw EReadError("Stream read error");
    }
    int reads = 0;
};

// A destination that refuses every write.
class TFullStream : public TMemoryStream32 {
public:
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
};

}  // namespace

TEST(DeflateRoutines, StreamInflateEndsOnARaisingSourceAndPassesWriteErrors)
{
    TRaisingStream bad;
    TMemoryStream32 out;
    EXPECT_EQ(zadDecompress_StreamToStream(&bad, &out), 0xFFFFFFFFu);
    EXPECT_GT(bad.reads, 0);
    EXPECT_LT(bad.reads, 10);

    std::vector<std::uint8_t> packed;
    const std::string text = Text(1000);
    zadCompress_BufToBuf(text.data(), text.size(), packed, dtDeflateN);
    TMemoryStream32 src;
    src.WriteBuffer(packed.data(), packed.size());
    src.SetPosition(0);
    TFullStream full;
    EXPECT_THROW(zadDecompress_StreamToStream(&src, &full), EWriteError);
}

TEST(DeflateRoutines, FileRoutines)
{
    TempDir dir;
    const std::string text = Text(70000);
    dir.Write("in.txt", text);
    TMemoryStream32 packed;
    EXPECT_EQ(zadCompress_FileToStream(dir.Path("in.txt"), &packed, 0), ~StandardCrc(text));
    EXPECT_EQ(zadCompress_FileToStream(dir.Path("missing.txt"), &packed, 0), 0u);
    EXPECT_EQ(zadCompress_FileToStream(dir.Path("in.txt"), nullptr, 0), 0u);

    packed.SetPosition(0);
    EXPECT_EQ(zadDecompress_StreamToFile(&packed, dir.Path("out.txt")), ~StandardCrc(text));
    EXPECT_EQ(dir.Read("out.txt"), text);
    // An existing file is left as it is.
    dir.Write("keep.txt", "mine");
    packed.SetPosition(0);
    EXPECT_EQ(zadDecompress_StreamToFile(&packed, dir.Path("keep.txt")), 0u);
    EXPECT_EQ(dir.Read("keep.txt"), "mine");
}

TEST(CompressedRecord, LayoutByteByByte)
{
    const std::string text = "hello hello hello hello";
    TMemoryStream32 src;
    src.WriteBuffer(text.data(), text.size());
    for (TDeflateType type : {dtDeflateS, dtDeflateN}) {
        SCOPED_TRACE(type);
        src.SetPosition(0);
        std::vector<std::uint8_t> rec;
        std::int64_t packed = -1;
        const std::uint32_t reg = BuildCompressedRecord(&src, text.size(), type, rec, packed);
        EXPECT_EQ(reg, ~StandardCrc(text));
        ASSERT_EQ(rec.size(), 13 + static_cast<std::size_t>(packed) + 1);
        EXPECT_EQ(Bytes(std::vector<std::uint8_t>(rec.begin(), rec.begin() + 4)), std::string("PM\x03\x04"));
        EXPECT_EQ(rec[4], static_cast<std::uint8_t>(type));
        EXPECT_EQ(rec[5] | rec[6] << 8 | rec[7] << 16 | static_cast<std::uint32_t>(rec[8]) << 24, text.size());
        EXPECT_EQ(rec[9] | rec[10] << 8 | rec[11] << 16 | static_cast<std::uint32_t>(rec[12]) << 24, reg);
        const std::uint8_t* data = rec.data() + 13;
        if (type == dtDeflateS)
            EXPECT_EQ(std::string(data, data + packed), text);
        else
            EXPECT_EQ(ZlibInflate(data, packed), text);
        EXPECT_EQ(rec.back(), 0);

        TMemoryStream32 back;
        EXPECT_EQ(ReadCompressedRecord(rec.data(), rec.size(), &back), reg);
        EXPECT_EQ(MemText(back), text);
        EXPECT_EQ(back.Position(), 0);
    }
    TMemoryStream32 none;
    std::vector<std::uint8_t> rec;
    std::int64_t packed = 0;
    EXPECT_EQ(BuildCompressedRecord(&none, 0, dtDeflateN, rec, packed), 0xFFFFFFFFu);
    EXPECT_TRUE(rec.empty());
}

TEST(CompressedRecord, DeflatedDataAsLongAsTheSourceStayMarkedDeflated)
{
    // "adddd" deflates to exactly five bytes.
    const std::string text = "adddd";
    TMemoryStream32 src;
    src.WriteBuffer(text.data(), text.size());
    src.SetPosition(0);
    std::vector<std::uint8_t> rec;
    std::int64_t packed = 0;
    const std::uint32_t reg = BuildCompressedRecord(&src, text.size(), dtDeflateN, rec, packed);
    ASSERT_EQ(packed, 5);
    EXPECT_EQ(rec[4], dtDeflateN);
    TMemoryStream32 back;
    EXPECT_EQ(ReadCompressedRecord(rec.data(), rec.size(), &back), reg);
    EXPECT_EQ(MemText(back), text);
}

TEST(CompressedRecord, DamagedRecordsLeaveTheDestinationUntouched)
{
    const std::string text = Text(5000);
    TMemoryStream32 src;
    src.WriteBuffer(text.data(), text.size());
    src.SetPosition(0);
    std::vector<std::uint8_t> good;
    std::int64_t packed = 0;
    BuildCompressedRecord(&src, text.size(), dtDeflateN, good, packed);

    auto with = [&](auto change) {
        std::vector<std::uint8_t> r = good;
        change(r);
        return r;
    };
    // A record that decodes to far more than it states: the reader must
    // not decode past the stated size.
    const std::string big(4 * 1024 * 1024, 'z');
    std::vector<std::uint8_t> bomb;
    TMemoryStream32 bigSrc;
    bigSrc.WriteBuffer(big.data(), big.size());
    bigSrc.SetPosition(0);
    BuildCompressedRecord(&bigSrc, big.size(), dtDeflateN, bomb, packed);
    bomb[5] = 10, bomb[6] = 0, bomb[7] = 0, bomb[8] = 0;

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"foreign signature", with([](auto& r) { r[0] = 'X'; })},
        {"CRC differs", with([](auto& r) { r[9] ^= 1; })},
        {"data damaged", with([](auto& r) { r[20] ^= 0x55; })},
        {"cut short", with([](auto& r) { r.resize(r.size() / 2); })},
        {"unknown method", with([](auto& r) { r[4] = 9; })},
        {"stored bytes fewer than stated", with([](auto& r) { r[4] = 0; r[6] = 0x7F; })},
        {"states less than it holds", bomb},
        {"claims gigabytes over a few bytes", with([](auto& r) { r[8] = 0xF0; })},
        {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream32 dest;
        dest.WriteBuffer("before", 6);
        EXPECT_EQ(ReadCompressedRecord(c.bytes.data(), c.bytes.size(), &dest), 0xFFFFFFFFu);
        EXPECT_EQ(MemText(dest), "before");
        EXPECT_EQ(dest.Position(), 6);
    }
}
