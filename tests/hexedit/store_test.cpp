#include "hexedit/zazstream.h"
#include "rtl/streams.h"
#include "test_support/temp_dir.h"
#include "win/wintypes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void Fill(TZAZMemoryStream& s, const std::string& bytes)
{
    s.SetSize(static_cast<std::int64_t>(bytes.size()));
    std::memcpy(s.Memory(), bytes.data(), bytes.size());
}

TEST(MemoryStore, BlockOperationsRefuseEverythingOutsideTheData)
{
    TZAZMemoryStream s;
    Fill(s, "ABCDEFGH");
    s.SetPosition(3);
    char buf[8] = {};
    s.ReadBufferAt(buf, 6, 2);
    EXPECT_EQ(std::string(buf, 2), "GH");
    EXPECT_EQ(s.Position(), 3);  // restored
    s.WriteBufferAt("xy", 0, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.Memory()), 8), "xyCDEFGH");
    EXPECT_EQ(s.GetAsHex(6, 2, false), "4748");
    EXPECT_EQ(s.GetAsHex(6, 2, true), "7484");

    // (position, count) pairs that must be refused with the bounds message
    // and leave the data and the position alone.
    const std::pair<std::int64_t, std::int64_t> bad[] = {{7, 2}, {8, 1}, {-1, 2}, {2, -1}, {-5, 0}, {0, 9}};
    for (auto [pos, count] : bad) {
        try {
            s.ReadBufferAt(buf, pos, count);
            ADD_FAILURE() << pos << " " << count;
        } catch (const EZURadUvudod& e) {
            EXPECT_EQ(e.Message(), "Data position/length out of data bounds");
        }
        EXPECT_THROW(s.WriteBufferAt(buf, pos, count), EZURadUvudod);
        EXPECT_THROW(s.GetAsHex(pos, count, false), EZURadUvudod);
        EXPECT_THROW(s.TranslateFromAnsi(tkBCD, pos, count), EZURadUvudod);
    }
    EXPECT_EQ(s.Size(), 8);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.Memory()), 8), "xyCDEFGH");
    EXPECT_THROW(s.CheckBounds(-1), EZURadUvudod);
    EXPECT_NO_THROW(s.CheckBounds(8));
    // tkAsIs does nothing at all, even out of bounds.
    EXPECT_NO_THROW(s.TranslateToAnsi(tkAsIs, 100, 5));
}

TEST(MemoryStore, MoveAndTranslateInPlace)
{
    TZAZMemoryStream s;
    Fill(s, "ABCDEF");
    s.Move(0, 2, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.Memory()), 6), "ABABCD");
    s.Move(2, 0, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.Memory()), 6), "ABCDCD");
    s.TranslateFromAnsi(tkBCD, 0, 2);
    EXPECT_EQ(s.Memory()[0], 0xC1);
    s.TranslateToAnsi(tkBCD, 0, 2);
    EXPECT_EQ(s.Memory()[0], 'A');
}

TEST(MemoryStore, GrowthBeyondAvailableMemoryIsRefusedBeforeAllocating)
{
    TMemoryStream s;
    s.SetSize(10);
    const std::int64_t avail = AvailableMemory();
    ASSERT_GT(avail, 0);
    try {
        s.SetSize(avail + (std::int64_t(1) << 30));
        FAIL();
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(), "Out of memory while expanding memory stream");
    }
    EXPECT_EQ(s.Size(), 10);
}

TEST(ChangeMarks, SetGetCut)
{
    TZAZChangeMarks m;
    EXPECT_FALSE(m.Get(0));
    m.Set(5, false);  // clearing past the end does not grow the array
    EXPECT_EQ(m.Size(), 0);
    m.Set(70, true);
    EXPECT_EQ(m.Size(), 71);
    EXPECT_TRUE(m.Get(70));
    EXPECT_FALSE(m.Get(69));
    m.Set(3, true);
    m.Set(3, false);
    EXPECT_FALSE(m.Get(3));
    m.Set(64, true);
    m.Cut(65);
    EXPECT_EQ(m.Size(), 65);
    EXPECT_TRUE(m.Get(64));
    EXPECT_FALSE(m.Get(70));
    m.Cut(64);
    m.Set(64, true);
    m.Cut(100);  // never grows
    EXPECT_EQ(m.Size(), 65);
    EXPECT_FALSE(m.Get(-1));
}

TEST(FileStreams, ShareModesAreHonouredBetweenOpens)
{
    TempDir dir;
    dir.Write("a.bin", "hello");
    const std::string name = dir.Path("a.bin");
    {
        TFileStream reader(name, fmOpenRead | fmShareDenyWrite);
        // Another deny-none reader is fine, an exclusive writer is not.
        EXPECT_NO_THROW(TFileStream(name, fmOpenRead | fmShareDenyNone));
        const int h = FileOpen(name, fmOpenReadWrite | fmShareExclusive);
        EXPECT_EQ(h, -1);
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        // Creating over a locked file fails without truncating it.
        EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
    }
    EXPECT_EQ(dir.Read("a.bin"), "hello");
    const int h = FileOpen(name, fmOpenReadWrite | fmShareExclusive);
    EXPECT_GE(h, 0);
    FileClose(h);
    EXPECT_THROW(TFileStream(dir.Path("missing"), fmOpenRead), EFOpenError);
    EXPECT_EQ(FileOpen(dir.Root(), fmOpenRead), -1);  // a folder is not a file
}

TEST(FileStreams, ReadWriteSeekSize)
{
    TempDir dir;
    const std::string name = dir.Path("b.bin");
    {
        TFileStream out(name, fmCreate);
        out.WriteBuffer("0123456789", 10);
        EXPECT_EQ(out.Size(), 10);
        out.SetSize(4);
    }
    EXPECT_EQ(dir.Read("b.bin"), "0123");
    TFileStream in(name, fmOpenRead | fmShareDenyNone);
    char buf[8];
    in.Seek(1, soBeginning);
    in.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "123");
    EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
}

}  // namespace
