// Archive type detection from content: every signature of the table, the
// executable probes, wrappers, text markers and the ZIP set types.
#include "archive/zadbase.h"
#include "archive/zadstreams.h"
#include "lister_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Pad(std::string head, size_t size = 64, char fill = '\x11')
{
    if (head.size() < size)
        head.append(size - head.size(), fill);
    return head;
}

struct Detected {
    TArcType type;
    std::int64_t start;
    THeaderTypeState flags;
};

Detected DetectBytes(const std::string& bytes, const std::string& name = "", TzadDriveType drive = dtFixed,
                     const std::string& label = "DATA")
{
    TRegisterVirOV r;
    r.DriveQuery = [=](const std::string&, TzadDriveType& t, std::string& l) {
        t = drive;
        l = label;
        return true;
    };
    if (!name.empty()) {
        TempDir dir;
        dir.Write(name, bytes);
        r.SetArchiveFile(dir.Path(name));
        return {r.ArcType, r.ArchiveStartOffset, r.HeadFlag};
    }
    TMemoryStream32 m;
    m.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    const TArcType t = r.GetArcType(&m);
    return {t, r.ArchiveStartOffset, r.HeadFlag};
}

void Put16(std::string& s, size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, unsigned v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}

// An executable stub of the given size whose DOS header says its image ends
// at imageEnd (pages of 512 bytes, bytes on the last page).
std::string Exe(size_t size, unsigned imageEnd = 0)
{
    std::string s(size, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    if (imageEnd) {
        Put16(s, 4, imageEnd / 512 + 1);
        Put16(s, 2, imageEnd % 512);
    }
    return s;
}

// A minimal PE file whose string resource 1 is text.
std::string PeWithString(size_t size, const std::u16string& text)
{
    std::string s(size, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    Put32(s, 0x3C, 0x40);
    std::memcpy(&s[0x40], "PE\0\0", 4);
    Put16(s, 0x44, 0x14C);
    Put16(s, 0x46, 1);      // sections
    Put16(s, 0x54, 224);    // optional header size
    const size_t opt = 0x58;
    Put16(s, opt, 0x10B);
    Put32(s, opt + 96 + 16, 0x1000);  // resource directory RVA
    Put32(s, opt + 96 + 20, 0x100);
    const size_t sec = opt + 224;
    std::memcpy(&s[sec], ".rsrc\0\0\0", 8);
    Put32(s, sec + 8, 0x200);
    Put32(s, sec + 12, 0x1000);
    Put32(s, sec + 16, 0x200);
    Put32(s, sec + 20, 0x400);
    const size_t rs = 0x400;
    auto dir = [&](size_t at, unsigned id, unsigned offset) {
        Put16(s, at + 14, 1);
        Put32(s, at + 16, id);
        Put32(s, at + 20, offset);
    };
    dir(rs + 0x00, 6, 0x80000018);  // type: strings
    dir(rs + 0x18, 1, 0x80000030);  // block 1: ids 0..15
    dir(rs + 0x30, 0x409, 0x48);    // language
    Put32(s, rs + 0x48, 0x1058);    // data RVA
    Put32(s, rs + 0x4C, 0x60);
    size_t p = rs + 0x58;
    Put16(s, p, 0);  // string 0 empty
    p += 2;
    Put16(s, p, static_cast<unsigned>(text.size()));
    p += 2;
    for (char16_t c : text) {
        Put16(s, p, c);
        p += 2;
    }
    return s;
}

}  // namespace

TEST(Detection, SignatureTableForPlainFiles)
{
    struct Case {
        std::string head;
        TArcType type;
    };
    const Case cases[] = {
        {"MSCF", atCab},
        {"BH\x05\x07", atBh},
        {"\x13\x5D\x65\x8C", atMsGZ},
        {"Rar!", atRar},
        {"\xB7\xDF\x54\x57", atArc},
        {"PKG5", atUnknown},
        {std::string("\x24\x00-lh5-", 7), atLha},
        {"\x1A\x02", atArc},
        {"\x1A\x1E", atArc},
        {"\x1A\x08", atArc},
        {"\x1A\x09", atArc},
        {"\x1A\x0A", atPak},
        {"\x1A\x0B", atPak},
        {"\x1F\x1E", atGZip},
        {"%!", atGZip},
        {"\x1F\x8B", atGZip},
        {"\x1F\x9D", atGZip},
        {"\x1F\x9E", atGZip},
        {"\x1F\xA0", atGZip},
        {"HA", atHA},
        {"ZOO 2.10 Archive", atZoo},
        {"\xB7\x92", atArcExe},
        {"\x60\xEA", atArj},
        {"1234567**ACE**", atAce},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DetectBytes(Pad(c.head)).type, c.type) << c.head;
    EXPECT_EQ(DetectBytes(Pad("\xB7\x92")).start, 7716);
    EXPECT_EQ(DetectBytes(Pad("\xB7\xDF\x54\x57")).start, 0);
}

TEST(Detection, SizeLimitsAndGarbage)
{
    EXPECT_EQ(DetectBytes(std::string(19, '\x60')).type, atNA);
    EXPECT_EQ(DetectBytes(Pad("\x60\xEA", 20)).type, atArj);
    EXPECT_EQ(DetectBytes(std::string(300, 'q')).type, atNA);
    EXPECT_EQ(DetectBytes(Pad("PKG4")).type, atNA);
    EXPECT_EQ(DetectBytes(Pad("PKCI")).type, atNA);
}

TEST(Detection, ZipSetTypesFromTheDrive)
{
    const std::string spanned = Pad("PK\x07\x08", 200);
    EXPECT_EQ(DetectBytes(spanned, "", dtFixed, "DATA").type, atZipMV);
    EXPECT_EQ(DetectBytes(spanned, "", dtRemovable, "PKBACK# 001").type, atZipDS);
    EXPECT_EQ(DetectBytes(spanned, "", dtRemovable, "USBSTICK").type, atZipMV);
}

TEST(Detection, ZipBehindZerosAndJarByName)
{
    const std::string stored = ReadFixture("stored.zip");
    std::string local = stored.substr(0, stored.find(std::string("PK\x01\x02", 4)));
    const Detected d = DetectBytes(std::string(1000, '\0') + local);
    EXPECT_EQ(d.type, atZip);
    EXPECT_EQ(d.start, 1000);
    EXPECT_EQ(d.flags, (THeaderTypeState{htLocal}));
    EXPECT_EQ(DetectBytes(stored, "x.JAR").type, atJar);
    EXPECT_EQ(DetectBytes(stored, "x.zip").type, atZip);
    EXPECT_EQ(DetectBytes(ReadFixture("sfx.exe"), "x.jar").type, atZipExe);
    const Detected z = DetectBytes(stored);
    EXPECT_TRUE(z.flags.Has(htCentral) && z.flags.Has(htEnding) && z.flags.Has(htLocal));
    const Detected z64 = DetectBytes(ReadFixture("zip64-full.zip"));
    EXPECT_TRUE(z64.flags.Has(htLocator) && z64.flags.Has(htEnding64));
}

TEST(Detection, LhaBehindAWrapper)
{
    std::string s(400, 'x');
    s[0] = '\0';
    s[130] = '\x2D';
    s[131] = '\x6C';
    const Detected d = DetectBytes(s);
    EXPECT_EQ(d.type, atLha);
    EXPECT_EQ(d.start, 128);
}

TEST(Detection, RealTarAndGzip)
{
    EXPECT_EQ(DetectBytes(ReadFixture("small.tar")).type, atTar);
    EXPECT_EQ(DetectBytes(ReadFixture("hello.txt.gz")).type, atGZip);
    std::string bad = ReadFixture("small.tar");
    bad[148] = '7';  // wrong checksum
    EXPECT_NE(DetectBytes(bad).type, atTar);
}

TEST(Detection, TextMarkers)
{
    EXPECT_EQ(DetectBytes(Pad("Some text\nbegin 644 report.txt\nM86\n", 100, '\n')).type, atUUE);
    EXPECT_EQ(DetectBytes(Pad("BEGIN 755 A.TXT\n", 100, '\n')).type, atUUE);
    EXPECT_EQ(DetectBytes(Pad("x\ncontent-transfer-encoding: BASE64\n", 100, '\n')).type, atB64);
    EXPECT_EQ(DetectBytes(Pad("x\nbegin 544 a\n", 100, '\n')).type, atNA);
    EXPECT_EQ(DetectBytes(Pad("x begin 644 a\n", 100, '\n')).type, atNA);  // not at a line start
}

TEST(Detection, ExecutableProbes)
{
    std::string arc = Exe(8000);
    arc[6674] = '\x1A';
    arc[6675] = '\x08';
    Detected d = DetectBytes(arc);
    EXPECT_EQ(d.type, atArcExe);
    EXPECT_EQ(d.start, 6674);
    std::string pak = Exe(9000);
    pak[8601] = '\x1A';
    pak[8602] = '\x0B';
    EXPECT_EQ(DetectBytes(pak).type, atPakExe);
    std::string lha = Exe(3000);
    std::memcpy(&lha[1947], "-lh5-", 5);
    d = DetectBytes(lha);
    EXPECT_EQ(d.type, atLhaExe);
    EXPECT_EQ(d.start, 1945);
    std::string zip = Exe(8000);
    std::memcpy(&zip[7612], "PK\x03\x04", 4);
    d = DetectBytes(zip);
    EXPECT_EQ(d.type, atZipExe);
    EXPECT_EQ(d.start, 7612);
    // The end of the DOS image, from the header's page counts.
    std::string rar = Exe(3000, 1500);
    std::memcpy(&rar[1500], "Rar!", 4);
    d = DetectBytes(rar);
    EXPECT_EQ(d.type, atRarExe);
    EXPECT_EQ(d.start, 1500);
    std::string arj = Exe(3000, 1000);
    std::memcpy(&arj[1000], "xx\x60\xEA", 4);
    std::memcpy(&arj[1002], "\x60\xEA", 2);
    d = DetectBytes(arj);
    EXPECT_EQ(d.type, atArjExe);
    EXPECT_EQ(d.start, 1002);
    // Found by the byte search from 17,000.
    std::string cab = Exe(40000);
    std::memcpy(&cab[20000], "MSCF\0\0\0\0", 8);
    d = DetectBytes(cab);
    EXPECT_EQ(d.type, atCabExe);
    EXPECT_EQ(d.start, 20000);
    EXPECT_EQ(DetectBytes(Exe(30000)).type, atNA);
}

TEST(Detection, AceSelfExtractorFoundThroughItsStringResource)
{
    std::string exe = PeWithString(13000, u"12345");
    std::memcpy(&exe[12352], "**ACE**", 7);
    const Detected d = DetectBytes(exe);
    EXPECT_EQ(d.type, atAceExe);
    EXPECT_EQ(d.start, 12345);
    // A resource that is no number ends that probe.
    std::string other = PeWithString(13000, u"12a45");
    std::memcpy(&other[12352], "**ACE**", 7);
    EXPECT_NE(DetectBytes(other).type, atAceExe);
}

TEST(Detection, ByteSearchInsidePlainFiles)
{
    std::string s(5000, 'g');
    std::memcpy(&s[3000], "Rar!", 4);
    const Detected d = DetectBytes(s);
    EXPECT_EQ(d.type, atRarExe);
    EXPECT_EQ(d.start, 3000);
    // A ZIP behind a foreign header is listed from its central directory.
    const std::string inner = ReadFixture("stored.zip");
    TempDir dir;
    dir.Write("wrapped.bin", std::string(777, 'w') + inner);
    const Listing l = ListFile(dir.Path("wrapped.bin"));
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.entries.size(), 2u);
}

TEST(Detection, VolumeNumbering)
{
    TempDir dir;
    dir.Write("archive.r01", Pad("Rar!", 100));
    dir.Write("archive.arj", Pad("\x60\xEA", 100));
    TRegisterVirOV r;
    r.SetArchiveFile(dir.Path("archive.r01"));
    EXPECT_EQ(r.ArcType, atRar);
    EXPECT_EQ(r.VolumeLetter, 'r');
    EXPECT_EQ(r.VolumeNumber, 2);
    r.SetArchiveFile(dir.Path("archive.arj"));
    EXPECT_EQ(r.VolumeNumber, 1);
    r.SetArchiveFile(dir.Path("missing.zip"));
    EXPECT_EQ(r.ArcType, atNA);
    EXPECT_EQ(r.ArchiveFile(), "");
}

TEST(Detection, TypeSets)
{
    EXPECT_FALSE(TRegisterVirOV::IsArcValid(atUnknown));
    EXPECT_TRUE(TRegisterVirOV::IsArcValid(atHA));
    EXPECT_TRUE(TRegisterVirOV::IsArcVerifyable(atJarExe));
    EXPECT_FALSE(TRegisterVirOV::IsArcVerifyable(atCab));
    EXPECT_TRUE(TRegisterVirOV::IsArcSearchable(atJarExe));
    EXPECT_FALSE(TRegisterVirOV::IsArcDecompressable(atJarExe));
    EXPECT_TRUE(isSeedKeysSupported(atBhExe));
    EXPECT_FALSE(isPasswordSupported(atZipExe));
    EXPECT_FALSE(TRegisterVirOV::IsZipped(static_cast<TArcType>(99)));
}
