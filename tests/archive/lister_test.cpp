// Listing ZIP and JAR archives made by real tools, and damaged copies.
// The fixtures come from scripts/make-archive-fixtures.sh.
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "lister_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Stamp(TDateTime d)
{
    int y, mo, da, h, mi, s, ms;
    DecodeDate(d, y, mo, da);
    DecodeTime(d, h, mi, s, ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
}

std::vector<std::string> Names(const Listing& l)
{
    std::vector<std::string> n;
    for (const auto& e : l.entries)
        n.push_back(e.name);
    return n;
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

// A ZIP of stored entries built byte by byte, so tests can damage it at will.
struct ZipBuilder {
    struct Entry {
        std::string name, data, comment, extra;
        unsigned flags = 0;
    };
    std::vector<Entry> entries;
    std::string archiveComment;
    std::string Build(std::vector<size_t>* centralAt = nullptr) const
    {
        std::string out, cd;
        for (const Entry& e : entries) {
            const unsigned offset = static_cast<unsigned>(out.size());
            const unsigned crc = [&] {
                unsigned c = 0xFFFFFFFF;
                for (unsigned char b : e.data) {
                    c ^= b;
                    for (int k = 0; k < 8; ++k)
                        c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
                }
                return ~c;
            }();
            std::string h(30, '\0');
            Put32(h, 0, 0x04034B50);
            Put16(h, 4, 10);
            Put16(h, 6, e.flags);
            Put16(h, 12, 0x3061);  // 2004-03-01
            Put32(h, 14, crc);
            Put32(h, 18, static_cast<unsigned>(e.data.size()));
            Put32(h, 22, static_cast<unsigned>(e.data.size()));
            Put16(h, 26, static_cast<unsigned>(e.name.size()));
            Put16(h, 28, static_cast<unsigned>(e.extra.size()));
            out += h + e.name + e.extra + e.data;
            std::string c(46, '\0');
            Put32(c, 0, 0x02014B50);
            Put16(c, 4, 20);
            Put16(c, 6, 10);
            Put16(c, 8, e.flags);
            Put16(c, 14, 0x3061);
            Put32(c, 16, crc);
            Put32(c, 20, static_cast<unsigned>(e.data.size()));
            Put32(c, 24, static_cast<unsigned>(e.data.size()));
            Put16(c, 28, static_cast<unsigned>(e.name.size()));
            Put16(c, 30, static_cast<unsigned>(e.extra.size()));
            Put16(c, 32, static_cast<unsigned>(e.comment.size()));
            Put32(c, 38, 0x20);
            Put32(c, 42, offset);
            if (centralAt)
                centralAt->push_back(out.size() + cd.size());
            cd += c + e.name + e.extra + e.comment;
        }
        const unsigned cdAt = static_cast<unsigned>(out.size());
        out += cd;
        std::string end(22, '\0');
        Put32(end, 0, 0x06054B50);
        Put16(end, 8, static_cast<unsigned>(entries.size()));
        Put16(end, 10, static_cast<unsigned>(entries.size()));
        Put32(end, 12, static_cast<unsigned>(cd.size()));
        Put32(end, 16, cdAt);
        Put16(end, 20, static_cast<unsigned>(archiveComment.size()));
        return out + end + archiveComment;
    }
};

Listing ListBytes(const std::string& bytes, const std::string& name = "t.zip")
{
    TempDir dir;
    dir.Write(name, bytes);
    return ListFile(dir.Path(name));
}

}  // namespace

TEST(ZipLister, StoredArchive)
{
    const Listing l = ListFile(FixturePath("stored.zip"));
    EXPECT_TRUE(l.result);
    EXPECT_EQ(l.type, atZip);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"hello.txt", "docs/notes.txt"}));
    const ListedEntry& e = l.entries[0];
    EXPECT_EQ(e.packed, 16);
    EXPECT_EQ(e.unpacked, 16);
    EXPECT_EQ(e.crc, 0x68a78e9fu);
    EXPECT_EQ(e.method, "Stored");
    EXPECT_EQ(e.offset, 0);
    EXPECT_EQ(e.filenum, 1);
    EXPECT_FALSE(e.encrypted);
    EXPECT_EQ(Stamp(e.date), "2004-03-01 12:00:10");
    EXPECT_EQ(l.entries[1].filenum, 2);
    EXPECT_EQ(l.totalFiles, 2);
    EXPECT_EQ(l.totalUnpacked, 39);
    EXPECT_TRUE(l.errors.empty());
}

TEST(ZipLister, DeflatedWithFolders)
{
    const Listing hidden = ListFile(FixturePath("deflated.zip"));
    EXPECT_EQ(Names(hidden), (std::vector<std::string>{"hello.txt", "docs/utf.txt", "docs/sub/long.txt", "docs/notes.txt"}));
    EXPECT_EQ(hidden.totalFiles, 4);
    EXPECT_EQ(hidden.totalRatio, 93);  // (7937 - 564) / 7937: the ratio of the totals, not of them swapped
    EXPECT_EQ(hidden.entries[2].method, "DFLT-X");
    EXPECT_EQ(hidden.entries[2].unpacked, 7892);
    EXPECT_EQ(hidden.entries[2].packed, 522);
    const Listing shown = ListFile(FixturePath("deflated.zip"), true);
    ASSERT_EQ(shown.entries.size(), 7u);
    EXPECT_EQ(shown.entries[1].name, "docs/");
    EXPECT_EQ(shown.entries[1].method, "");
    EXPECT_EQ(shown.totalFiles, 7);
    EXPECT_EQ(shown.totalUnpacked, hidden.totalUnpacked);  // folders add nothing
}

TEST(ZipLister, CommentsOfEntriesAndArchive)
{
    TVirOV v;
    Listing l;
    Attach(v, l);
    v.SetArchiveFile(FixturePath("comments.zip"));
    ASSERT_TRUE(v.Activate());
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[0].comment, "comment of hello");
    EXPECT_EQ(l.entries[1].comment, "comment of notes");
    char buf[64] = {};
    WORD len = 0;
    v.Comment->ReadComment(buf, sizeof buf, len);
    EXPECT_EQ(std::string(buf, len), "The archive comment.");
}

TEST(ZipLister, DataDescriptorsFromAPipe)
{
    const Listing l = ListFile(FixturePath("pipe.zip"));
    EXPECT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[1].crc, 0x5d455a2cu);
    EXPECT_EQ(l.entries[1].unpacked, 23);
}

TEST(ZipLister, LocalHeaderWalkStepsOverDataDescriptors)
{
    // Without its central directory the archive is read from its local
    // headers; the sizes come from the descriptors after the data.
    std::string bytes = ReadFixture("pipe.zip");
    const size_t cd = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(cd, std::string::npos);
    bytes.resize(cd);
    const Listing l = ListBytes(bytes);
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[0].unpacked, 16);
    EXPECT_EQ(l.entries[1].crc, 0x5d455a2cu);
    // OnCorruptZipHeader is not assigned; the walk ran off the end without
    // reaching a central directory: the archive is truncated.
    EXPECT_EQ(l.errors, (std::vector<int>{25270, 25236}));
    EXPECT_FALSE(l.result);
}

TEST(ZipLister, Zip64Records)
{
    const Listing l = ListFile(FixturePath("zip64-full.zip"));
    EXPECT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name, "big/entry.txt");
    EXPECT_EQ(l.entries[0].unpacked, 17);
    EXPECT_EQ(l.entries[0].packed, 17);
    EXPECT_EQ(l.entries[0].offset, 0);
    const Listing streamed = ListFile(FixturePath("zip64.zip"));
    ASSERT_EQ(streamed.entries.size(), 1u);
    EXPECT_EQ(streamed.entries[0].unpacked, 14);
}

TEST(ZipLister, SelfExtractors)
{
    for (const char* name : {"sfx.exe", "sfx-unadjusted.exe"}) {
        const Listing l = ListFile(FixturePath(name));
        EXPECT_TRUE(l.result) << name;
        EXPECT_EQ(l.type, atZipExe) << name;
        ASSERT_EQ(l.entries.size(), 2u) << name;
        EXPECT_EQ(l.entries[0].offset, 512) << name;  // the local header's real place
        EXPECT_TRUE(l.errors.empty()) << name;
    }
}

TEST(ZipLister, JarAndEncryptedEntries)
{
    const Listing jar = ListFile(FixturePath("test.jar"));
    EXPECT_EQ(jar.type, atJar);
    // fastjar marks its folder only by the trailing '/' of the name.
    EXPECT_EQ(Names(jar), (std::vector<std::string>{"META-INF/MANIFEST.MF", "hello.txt", "docs/notes.txt"}));
    const Listing enc = ListFile(FixturePath("encrypted.zip"));
    ASSERT_EQ(enc.entries.size(), 2u);
    EXPECT_TRUE(enc.entries[0].encrypted);
    EXPECT_EQ(enc.entries[0].packed, 16);  // 28 stored, less the 12-byte header
    EXPECT_EQ(enc.entries[1].packed, 522);
}

TEST(ZipLister, NamesLongerThan255Bytes)
{
    const Listing l = ListFile(FixturePath("longname.zip"));
    EXPECT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name.size(), 288u);
    EXPECT_EQ(l.entries[0].name.substr(l.entries[0].name.size() - 4), ".txt");
    EXPECT_EQ(l.entries[0].unpacked, 5);
}

TEST(ZipLister, CommentWithZeroByteDoesNotMisalignTheWalk)
{
    ZipBuilder b;
    b.entries.push_back({"a.txt", "aaa", std::string("note\0hidden", 11), ""});
    b.entries.push_back({"b.txt", "bbbb", "", ""});
    const Listing l = ListBytes(b.Build());
    EXPECT_TRUE(l.result);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(l.entries[0].comment, "note");
}

TEST(ZipLister, CommentLongerThanTheBuffer)
{
    ZipBuilder b;
    b.entries.push_back({"a.txt", "aaa", std::string(40000, 'c'), ""});
    b.entries.push_back({"b.txt", "bbbb", "", ""});
    const Listing l = ListBytes(b.Build());
    EXPECT_TRUE(l.result);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(l.entries[0].comment.size(), 32767u);
}

TEST(ZipLister, ExtraFieldsAreCheckedAgainstWhatRemains)
{
    // An extra field that claims more bytes than the area holds, and a
    // ZIP64 field too small for the value it should carry.
    std::string overlong(4, '\0');
    Put16(overlong, 0, 0x9901);
    Put16(overlong, 2, 0xFFF0);
    std::string tiny(6, '\0');
    Put16(tiny, 0, 0x0001);
    Put16(tiny, 2, 2);
    ZipBuilder b;
    b.entries.push_back({"a.txt", "aaa", "", overlong});
    b.entries.push_back({"b.txt", "bb", "", tiny});
    const Listing l = ListBytes(b.Build());
    EXPECT_TRUE(l.result);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(l.entries[0].method, "Stored");
    EXPECT_EQ(l.entries[1].unpacked, 2);
}

TEST(ZipLister, EndRecordAtTheVeryEndAndChecksBeforeIt)
{
    // A file that ends with a bare ending record whose locator and ZIP64
    // checks would reach in front of the file: detection reads nothing
    // outside the file.
    std::string end(22, '\0');
    Put32(end, 0, 0x06054B50);
    const std::string bytes = std::string(3, 'x') + end;
    TempDir dir;
    dir.Write("t.zip", bytes);
    TVirOV v;
    v.SetArchiveFile(dir.Path("t.zip"));
    EXPECT_TRUE(v.HeadFlag.Has(htEnding));
    EXPECT_FALSE(v.HeadFlag.Has(htLocator));
    EXPECT_FALSE(v.HeadFlag.Has(htCentral));
    // Truncated after the signature: the record does not fit and is no ending.
    dir.Write("u.zip", std::string(20, 'y') + std::string("PK\x05\x06", 4) + std::string(10, '\0'));
    v.SetArchiveFile(dir.Path("u.zip"));
    EXPECT_FALSE(v.HeadFlag.Has(htEnding));
}

TEST(ZipLister, NotAnArchiveOrTruncatedEndsWithAnError)
{
    const Listing text = ListBytes(std::string(500, 'z'), "plain.txt");
    EXPECT_FALSE(text.result);
    EXPECT_FALSE(text.errors.empty());
    // Every prefix of a real archive: no crash, no endless walk, and a false
    // result with a report whenever entries went missing.
    const std::string full = ReadFixture("deflated.zip");
    for (size_t n = 20; n < full.size(); n += 7) {
        const Listing l = ListBytes(full.substr(0, n));
        if (l.entries.size() < 4) {
            EXPECT_TRUE(!l.result && !l.errors.empty()) << "prefix " << n;
        }
    }
}

TEST(ZipLister, BusyIsClearedAfterAFailure)
{
    TVirOV v;
    Listing l;
    Attach(v, l);
    v.SetArchiveFile("/no/such/file.zip");
    EXPECT_FALSE(v.Activate());
    EXPECT_EQ(l.errors, (std::vector<int>{25192}));
    EXPECT_FALSE(v.Busy());
    v.SetArchiveFile(FixturePath("stored.zip"));
    v.OnRead = nullptr;
    EXPECT_FALSE(v.Activate());
    EXPECT_EQ(l.errors.back(), 25270);
    Attach(v, l);
    EXPECT_TRUE(v.Activate());
    EXPECT_EQ(l.entries.size(), 2u);
}

TEST(ZipLister, ReentrantActivateIsRefused)
{
    TVirOV v;
    Listing l;
    Attach(v, l);
    v.SetArchiveFile(FixturePath("stored.zip"));
    bool inner = true;
    v.OnRead = [&](TObject*, std::int64_t, int) { inner = v.Activate(); };
    EXPECT_TRUE(v.Activate());
    EXPECT_FALSE(inner);
}

TEST(ZipLister, CancelInTheFirstOnRead)
{
    TVirOV v;
    Listing l;
    Attach(v, l);
    v.SetArchiveFile(FixturePath("deflated.zip"));
    auto record = v.OnRead;
    v.OnRead = [&](TObject* s, std::int64_t o, int n) {
        record(s, o, n);
        v.SetCancel(true);
    };
    v.Activate();
    EXPECT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.totalFiles, 1);
    EXPECT_EQ(l.errors, (std::vector<int>{25443}));
}

TEST(ZipLister, MissingCentralDirectoryAndTheCorruptHeaderEvent)
{
    std::string bytes = ReadFixture("stored.zip");
    bytes.resize(bytes.find(std::string("PK\x01\x02", 4)));
    TempDir dir;
    dir.Write("broken.zip", bytes);
    TVirOV v;
    Listing l;
    Attach(v, l);
    THeaderTypeState seen;
    v.OnCorruptZipHeader = [&](TObject*, THeaderTypeState flags, bool&) { seen = flags; };
    v.SetArchiveFile(dir.Path("broken.zip"));
    EXPECT_TRUE(v.Activate());
    EXPECT_TRUE(seen.Has(htLocal));
    EXPECT_TRUE(l.entries.empty());  // the handler left Cancel true
    Listing l2;
    Attach(v, l2);
    v.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    EXPECT_FALSE(v.Activate());  // listed, but reported as truncated
    EXPECT_EQ(Names(l2), (std::vector<std::string>{"hello.txt", "docs/notes.txt"}));
}

TEST(ZipLister, QueryInterface)
{
    TVirOV v;
    v.FileSpec.Add("*.*");
    v.SetArchiveFile(FixturePath("stored.zip"));
    TStringList names;
    v.FilesInArchive(&names);
    ASSERT_EQ(names.Count(), 2);
    EXPECT_EQ(names[1], "docs/notes.txt");
    EXPECT_EQ(v.GetFileCrc("docs/notes.txt"), 0x5d455a2cu);
    EXPECT_EQ(v.GetFileUnpackedSize("hello.txt"), 16);
    EXPECT_EQ(v.GetFileCrc("absent.txt"), 0u);  // the listing succeeds; Setup cleared Crc
    EXPECT_EQ(v.FileSpec[0], "*.*");
}

TEST(TextLister, FirstEncodedFileIsTheOnlyEntry)
{
    const Listing uue = ListBytes("header text\nBEGIN 644 report.txt\nM86%C\nend\nbegin 644 second.txt\n", "a.uue");
    EXPECT_EQ(uue.type, atUUE);
    ASSERT_EQ(uue.entries.size(), 1u);
    EXPECT_EQ(uue.entries[0].name, "report.txt");
    EXPECT_EQ(uue.entries[0].packed, 64);
    const Listing b64 = ListBytes(
        "Content-Transfer-Encoding: base64\r\nContent-Type: text/plain\r\n\r\n"
        "Content-Transfer-Encoding: Base64\r\nContent-Disposition: attachment; filename=\"pic.png\"\r\n\r\niVBORw0KGgo=\r\n",
        "m.eml");
    EXPECT_EQ(b64.type, atB64);
    ASSERT_EQ(b64.entries.size(), 1u);
    EXPECT_EQ(b64.entries[0].name, "pic.png");
}
