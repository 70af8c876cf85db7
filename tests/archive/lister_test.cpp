// Listing ZIP and JAR archives made by real tools, and damaged copies.
// The fixtures come from scripts/make-archive-fixtures.sh.
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "lister_support.h"
#include "zip_writer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using zipwriter::Put16;
using zipwriter::Put32;

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
    zipwriter::Archive b;
    b.Add("a.txt", "aaa").comment = std::string("note\0hidden", 11);
    b.Add("b.txt", "bbbb");
    const Listing l = ListBytes(b.Build());
    EXPECT_TRUE(l.result);
    ASSERT_EQ(Names(l), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(l.entries[0].comment, "note");
}

TEST(ZipLister, CommentLongerThanTheBuffer)
{
    zipwriter::Archive b;
    b.Add("a.txt", "aaa").comment = std::string(40000, 'c');
    b.Add("b.txt", "bbbb");
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
    zipwriter::Archive b;
    b.Add("a.txt", "aaa").extra = overlong;
    b.Add("b.txt", "bb").extra = tiny;
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

TEST(TextLister, EveryEncodedFileIsAnEntry)
{
    // The extractor finds both files: so does the listing, each with its
    // text (the first one's from the file's start).
    const Listing uue = ListBytes("header text\nBEGIN 644 report.txt\nM86%C\nend\nbegin 644 second.txt\n", "a.uue");
    EXPECT_EQ(uue.type, atUUE);
    ASSERT_EQ(uue.entries.size(), 2u);
    EXPECT_EQ(uue.entries[0].name, "report.txt");
    EXPECT_EQ(uue.entries[0].packed, 43);
    EXPECT_EQ(uue.entries[1].name, "second.txt");
    EXPECT_EQ(uue.entries[1].packed, 21);
    const Listing b64 = ListBytes(
        "Content-Transfer-Encoding: base64\r\nContent-Type: text/plain\r\n\r\n"
        "Content-Transfer-Encoding: Base64\r\nContent-Disposition: attachment; filename=\"pic.png\"\r\n\r\niVBORw0KGgo=\r\n",
        "m.eml");
    EXPECT_EQ(b64.type, atB64);
    ASSERT_EQ(b64.entries.size(), 1u);
    EXPECT_EQ(b64.entries[0].name, "pic.png");
}

namespace {

// Encoders for the text-archive cases: uuencoding and xxencoding differ
// only in their 64-character alphabet; Base64 in lines of 60 characters.
std::string EncodeCountedLines(const std::string& data, const std::string& alphabet)
{
    std::string out;
    for (size_t at = 0; at < data.size(); at += 45) {
        const size_t n = std::min<size_t>(45, data.size() - at);
        out += alphabet[n];
        for (size_t i = 0; i < n; i += 3) {
            const auto byte = [&](size_t k) { return k < n ? static_cast<unsigned char>(data[at + k]) : 0u; };
            const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
            for (int s = 18; s >= 0; s -= 6)
                out += alphabet[(v >> s) & 63];
        }
        out += '\n';
    }
    return out + alphabet[0] + "\nend\n";
}

std::string EncodeBase64Lines(const std::string& data)
{
    static const std::string a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        unsigned v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            flat += k <= n ? a[(v >> (18 - 6 * k)) & 63] : '=';
    }
    std::string out;
    for (size_t i = 0; i < flat.size(); i += 60)
        out += flat.substr(i, 60) + "\r\n";
    return out;
}

}  // namespace

TEST(TextLister, DetectionListingAndTotalsAgree)
{
    // The entry's unpacked size is what its lines decode to; where the lines
    // do not give it, the text's own size stands, marked as such. The totals
    // count the entry.
    std::string data;
    for (int i = 0; i < 100; ++i)
        data += static_cast<char>(i * 37 + 11);
    const std::string uu = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    const std::string xx = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string damaged = "begin 644 cut.bin\n" + EncodeCountedLines(data, uu);
    damaged.resize(damaged.find("\n", 30));  // a line cut short, no "end"
    const struct {
        const char* what;
        std::string text;
        TArcType type;
        const char* name;
        std::int64_t unpacked;  // -1: the text's size
    } cases[] = {
        {"uuencoded", "Subject: report\n\nbegin 644 report.bin\n" + EncodeCountedLines(data, uu), atUUE, "report.bin", 100},
        {"xxencoded", "begin 644 report.xx\n" + EncodeCountedLines(data, xx), atUUE, "report.xx", 100},
        {"begin-base64", "begin-base64 644 pic.png\n" + EncodeBase64Lines(data) + "====\n", atB64, "pic.png", 100},
        {"base64 of 99 bytes", "BEGIN-BASE64 600 odd.bin\n" + EncodeBase64Lines(data.substr(1)) + "====\n", atB64, "odd.bin", 99},
        {"MIME part", "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
                      "Content-Type: application/octet-stream\r\n\r\n" + EncodeBase64Lines(data) + "\r\n--boundary--\r\n",
         atB64, "a.bin", 100},
        {"damaged", damaged, atUUE, "cut.bin", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Listing l = ListBytes(c.text, "t.txt");
        EXPECT_EQ(l.type, c.type);
        ASSERT_EQ(l.entries.size(), 1u);
        EXPECT_EQ(l.entries[0].name, c.name);
        EXPECT_EQ(l.entries[0].packed, static_cast<std::int64_t>(c.text.size()));
        const std::int64_t unpacked = c.unpacked < 0 ? static_cast<std::int64_t>(c.text.size()) : c.unpacked;
        EXPECT_EQ(l.entries[0].unpacked, unpacked);
        EXPECT_EQ(l.entries[0].method, c.unpacked < 0 ? "(encoded size)" : "");
        EXPECT_EQ(l.totalFiles, 1);
        EXPECT_EQ(l.totalUnpacked, unpacked);
    }
}

TEST(TextLister, AMarkerThatNamesNoFileSaysSo)
{
    // Detection sees the marker; when no line names an encoded file the
    // listing says there is nothing to decode instead of showing nothing.
    for (const std::string& text : {std::string("begin-base64 644\nQUJD\n====\n"),
                                   std::string("Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n")}) {
        SCOPED_TRACE(text);
        const Listing l = ListBytes(text, "t.txt");
        EXPECT_EQ(l.type, atB64);
        EXPECT_TRUE(l.entries.empty());
        EXPECT_FALSE(l.result);
        EXPECT_EQ(l.errors, (std::vector<int>{25266}));
    }
}
