// The library's streams against memory and temporary files.
#include "archive/zadbase.h"
#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadstreams.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

std::string Contents(TMemoryStream32& m) { return std::string(static_cast<char*>(m.Memory()), static_cast<size_t>(m.Size())); }

void Put(TStream32& s, const std::string& text) { s.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size())); }

}  // namespace

TEST(MemoryStream32, GrowsInSteps)
{
    TMemoryStream32 m;
    Put(m, "x");
    EXPECT_EQ(m.Capacity(), 8192);
    m.SetPosition(0);
    Put(m, std::string(8193, 'a'));
    EXPECT_EQ(m.Capacity(), 16384);
    m.SetSize(0);
    EXPECT_EQ(m.Capacity(), 0);
    EXPECT_EQ(m.Memory(), nullptr);
}

TEST(MemoryStream32, SeekPastTheEndThenWrite)
{
    TMemoryStream32 m;
    Put(m, "abc");
    EXPECT_EQ(m.Seek32(5, 0), 5);
    char c;
    EXPECT_EQ(m.Read(&c, 1), 0);
    Put(m, "de");
    EXPECT_EQ(m.Size(), 7);
    EXPECT_EQ(Contents(m).substr(5), "de");
    EXPECT_THROW(m.Seek(std::int64_t{1} << 40, soBeginning), ERangeError);
}

TEST(FileStream32, MissingFileGivesAnInvalidHandleAndNoException)
{
    TempDir dir;
    TFileStream32 f(dir.Path("missing"), fmOpenRead | fmShareDenyWrite);
    EXPECT_FALSE(f.Valid());
    char c;
    EXPECT_EQ(f.Read(&c, 1), 0);
    EXPECT_EQ(f.Size(), 0);
}

TEST(FileStream32, SixtyFourBitPositionsOnASparseFile)
{
    TempDir dir;
    const std::int64_t five = 5LL << 30;
    {
        TFileStream32 f(dir.Path("big"), fmCreate);
        ASSERT_TRUE(f.Valid());
        f.SetSize(five);
        EXPECT_EQ(f.Size(), five);
        EXPECT_EQ(f.Seek(five - 4, soBeginning), five - 4);
        Put(f, "tail");
        EXPECT_EQ(f.Seek32(0, 1), -1);  // beyond what a 32-bit seek reports
    }
    TFileStream32 f(dir.Path("big"), fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f.Size(), five);
    f.Seek(-4, soEnd);
    char buf[4];
    f.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "tail");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
}

TEST(StreamCopy, CountZeroCopiesTheWholeSourceFromItsStart)
{
    TMemoryStream32 src, dst;
    Put(src, "0123456789");
    src.SetPosition(7);
    EXPECT_EQ(dst.CopyFrom(&src, 0), 10);
    EXPECT_EQ(Contents(dst), "0123456789");
}

TEST(StreamCopy, CancelStopsBetweenChunks)
{
    TMemoryStream32 src, dst;
    Put(src, std::string(1000000, 'z'));
    src.SetPosition(0);
    bool cancel = false;
    dst.CancelRef = &cancel;
    static bool* s_cancel;
    static int s_pumps;
    s_cancel = &cancel;
    s_pumps = 0;
    // The pump runs the application's handlers; the third one cancels.
    ProcessMessagesHook = +[] {
        if (++s_pumps == 3)
            *s_cancel = true;
    };
    const std::int64_t n = dst.CopyFrom(&src, 0);
    ProcessMessagesHook = nullptr;
    EXPECT_EQ(n, 2 * 131072);
    EXPECT_EQ(dst.Size(), 2 * 131072);
    // Already cancelled: nothing at all.
    TMemoryStream32 dst2;
    dst2.CancelRef = &cancel;
    EXPECT_EQ(dst2.CopyFrom(&src, 0), 0);
}

TEST(CommentStream, ReadHonoursItsCountAndReadCommentItsBuffer)
{
    TMainCommentStream c;
    Put(c, "a comment of some length");
    EXPECT_TRUE(c.Changed);
    char small[8] = {};
    EXPECT_EQ(c.Read(small, 5), 5);
    EXPECT_EQ(std::string(small, 5), "a com");
    EXPECT_EQ(c.Position(), 0);
    char buf[10];
    std::fill(std::begin(buf), std::end(buf), '#');
    WORD len = 99;
    c.ReadComment(buf, 6, len);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(std::string(buf, 10), "a comm####");
}

TEST(CommentStream, WriteCommentOnlyWhenChanged)
{
    TMemoryStream32 src;
    Put(src, "XXhello");
    src.SetPosition(2);
    TMainCommentStream c;
    EXPECT_EQ(c.CopyFrom(&src, 5), 5);
    EXPECT_EQ(c.CommentOffset, 2);
    EXPECT_FALSE(c.Changed);
    EXPECT_FALSE(c.WriteComment("hello", 5));
    EXPECT_TRUE(c.WriteComment("howdy", 5));
    EXPECT_EQ(Contents(c), "howdy");
    EXPECT_FALSE(c.WriteComment(nullptr, 3));
}

namespace {
struct TempOwner : TZipCommon {
    int moves = 0;
    void TempFileMoveFile(TObject* s, const std::string& to, const std::string& from, bool same) override
    {
        ++moves;
        TZipCommon::TempFileMoveFile(s, to, from, same);
    }
};
}  // namespace

TEST(TempFileStream, ReplacesTheTargetOnlyWhenComplete)
{
    TempDir dir;
    dir.Write("arc.zip", "old archive");
    TempOwner owner;
    owner.TempDir = dir.Root();
    {
        TTempFileStream t(&owner, dir.Path("arc.zip"), dir.Root(), fmCreate);
        ASSERT_TRUE(t.Valid());
        Put(t, "new archive");
        EXPECT_EQ(dir.Read("arc.zip"), "old archive");
    }
    EXPECT_EQ(owner.moves, 1);
    EXPECT_EQ(dir.Read("arc.zip"), "new archive");
    // Only the archive is left: the temporary file is gone.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Root()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(TempFileStream, CancelledBuildLeavesTheOldFile)
{
    TempDir dir;
    dir.Write("arc.zip", "old archive");
    TempOwner owner;
    owner.TempDir = dir.Root();
    {
        TTempFileStream t(&owner, dir.Path("arc.zip"), dir.Root(), fmCreate);
        Put(t, "half");
        owner.CancelFlag = true;
    }
    EXPECT_EQ(owner.moves, 0);
    EXPECT_EQ(dir.Read("arc.zip"), "old archive");
}

TEST(TempFileStream, CopyMoveCancelledMidwayLeavesTheOldFile)
{
    TempDir dir;
    dir.Write("arc.zip", "old archive");
    dir.Write("new.tmp", std::string(3000000, 'n'));  // several chunks
    TZipCommon owner;
    TMemoryStream32 sender;
    bool cancel = false;
    sender.CancelRef = &cancel;
    static bool* s_cancel;
    static int s_pumps;
    s_cancel = &cancel;
    s_pumps = 0;
    ProcessMessagesHook = +[] {
        if (++s_pumps == 2)
            *s_cancel = true;
    };
    owner.TempFileMoveFile(&sender, dir.Path("arc.zip"), dir.Path("new.tmp"), false);
    ProcessMessagesHook = nullptr;
    EXPECT_TRUE(dir.Read("arc.zip") == "old archive");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Root()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 2);  // no half-copied sibling left behind
    cancel = false;
    owner.TempFileMoveFile(&sender, dir.Path("arc.zip"), dir.Path("new.tmp"), false);
    EXPECT_TRUE(dir.Read("arc.zip") == std::string(3000000, 'n'));
}

TEST(FilterStreams, CrcOfAStream)
{
    TMemoryStream32 m;
    Put(m, "123456789");
    EXPECT_EQ(CalcStreamCRC32(&m, 0, zad_stream_plus{}) ^ CRC_MASK, 0xCBF43926u);
    EXPECT_EQ(CalcStreamCRC16(&m, 0, zad_stream_plus{}), 0xBB3Du);
    EXPECT_EQ(m.Position(), 0);
}

TEST(FilterStreams, EncryptThenDecryptRestoresTheData)
{
    const std::string plain = "The quick brown fox jumps over the lazy dog";
    TMemoryStream32 src, enc, dec;
    Put(src, plain);
    std::uint32_t crc;
    {
        TEncryptStream e(&src, &enc, 0, "secret", true);
        crc = e.Crc;
    }
    EXPECT_EQ(enc.Size(), static_cast<std::int64_t>(plain.size() + 12));
    enc.SetPosition(0);
    {
        TDecryptStreamCRC d(&enc, &dec, "secret", crc);
        EXPECT_TRUE(d.PasswordOk());
    }
    EXPECT_EQ(Contents(dec), plain);
    TMemoryStream32 wrong;
    enc.SetPosition(0);
    TDecryptStreamCRC d(&enc, &wrong, "wrong", crc);
    EXPECT_FALSE(d.PasswordOk());
    EXPECT_EQ(wrong.Size(), 0);
}

TEST(FilterStreams, StoreStreamChecksumsWhatItWrites)
{
    TMemoryStream32 src, dst;
    Put(src, "123456789");
    std::int64_t remaining = 100;
    zad_stream_plus plus;
    plus.RemainingRef = &remaining;
    TStoreStream s(&dst, 32, plus);
    s.CopyStream(&src);
    EXPECT_EQ(s.Crc ^ CRC_MASK, 0xCBF43926u);
    EXPECT_EQ(Contents(dst), "123456789");
    EXPECT_EQ(remaining, 91);
    EXPECT_EQ(s.Seek32(0, 1), 9);
    // Encryption kinds 1 to 3 (AES) are tested with whole entries in
    // tests/archive_extract/aes_entry_test.cpp.
}

TEST(StreamAdapters, BetweenClassLibraryStreamsAndOurs)
{
    TMemoryStream plain;
    plain.WriteBuffer("abcdefgh", 8);
    plain.SetPosition(3);
    TMemoryStream32 ours;
    TStreamTozadStream(plain, ours);
    EXPECT_EQ(Contents(ours), "defgh");
    EXPECT_EQ(ours.Position(), 0);
    ours.SetPosition(1);
    TMemoryStream back;
    zadStreamToTStream(ours, back, 100);  // cut to what is left
    EXPECT_EQ(back.Size(), 4);
    EXPECT_EQ(back.Position(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.Memory()), 4), "efgh");
}
