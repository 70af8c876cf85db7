// Text archives through the lister and TUUDecode: uuencode, uuencode -m,
// uuenview -x, mpack and split sets (fixtures made and checked against
// uudecode, uudeview and munpack by scripts/make-gzip-tar-fixtures.sh;
// the decoded files are kept in fixtures/text/originals).
#include "../archive/lister_support.h"
#include "archive/zaduudecode.h"
#include "extract_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

std::string Tx(const std::string& name) { return Fixture("text/" + name); }

std::string ReadAllOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Original(const std::string& name) { return ReadAllOf(Tx("originals/" + name)); }

struct Decoded {
    ExtractLog log;
    int count = 0;
    std::map<std::string, std::string> files;
};

Decoded Decode(const std::string& archive, TOnNextVolume nextVolume = nullptr)
{
    TempDir out;
    TUUDecode u;
    Decoded d;
    u.OnBegin = [&d](TObject*, const std::string& name, int, bool&) { d.log.begun.push_back(name); };
    u.OnEnd = [&d](TObject*, const std::string& name, bool pass) { d.log.ended.emplace_back(name, pass); };
    u.OnError = [&d](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        d.log.errors.emplace_back(code, file);
        d.log.extended.push_back(ext);
    };
    u.OnNextVolume = std::move(nextVolume);
    u.SetArchiveFile(archive);
    u.SetExtractDir(out.Root());
    u.FileSpec.Clear();
    u.FileSpec.Add("*.*");
    d.count = u.Extract();
    d.files = TreeOf(out.Root());
    return d;
}

TEST(UUDecode, EncodingsDecodeToTheOriginals)
{
    const struct {
        const char* archive;
        std::map<std::string, std::string> files;
    } cases[] = {
        {"uu.uue", {{"data.bin", Original("data.bin")}}},
        // Shorter than one full line: the alphabet is told by the line itself.
        {"small.uue", {{"small.bin", Original("small.bin")}}},
        {"b64.uue", {{"words.txt", Original("words.txt")}}},
        {"xx.xxe", {{"data.bin", Original("data.bin")}}},
        {"upper.uue", {{"upper.bin", Original("upper.bin")}}},
        {"mime.txt", {{"data.bin", Original("data.bin")}, {"words.txt", Original("words.txt")}}},
        // A Base64 line that begins with "end" is data, not an end line.
        {"endline.txt", {{"endline.bin", Original("endline.bin")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        // The lister names the files the extractor writes.
        const Listing l = ListFile(Tx(c.archive));
        std::vector<std::string> listed;
        for (const auto& e : l.entries)
            listed.push_back(e.name);
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> written;
        for (const auto& f : c.files)
            written.push_back(f.first);
        EXPECT_EQ(listed, written);
        const Decoded d = Decode(Tx(c.archive));
        EXPECT_EQ(d.count, static_cast<int>(c.files.size()));
        EXPECT_TRUE(d.files == c.files);
        EXPECT_EQ(d.log.Failed(), 0);
        EXPECT_TRUE(d.log.errors.empty());
    }
}

// Counted lines of bytes in a 64-character alphabet, as uuencode writes them.
std::string CountedLines(const std::string& bytes, const std::string& alphabet)
{
    std::string text;
    for (size_t at = 0; at < bytes.size(); at += 45) {
        const std::string chunk = bytes.substr(at, 45);
        text += alphabet[chunk.size()];
        for (size_t i = 0; i < chunk.size(); i += 3) {
            const auto b = [&](size_t k) { return i + k < chunk.size() ? static_cast<std::uint8_t>(chunk[i + k]) : 0; };
            const unsigned v = (b(0) << 16) | (b(1) << 8) | b(2);
            for (int shift = 18; shift >= 0; shift -= 6)
                text += alphabet[(v >> shift) & 63];
        }
        text += "\n";
    }
    return text + alphabet[0] + "\nend\n";
}

Decoded DecodeText(const std::string& text, int maxHeaderLines = 100)
{
    TempDir work;
    work.Write("t.uue", text);
    TempDir out;
    TUUDecode u;
    Decoded d;
    u.OnBegin = [&d](TObject*, const std::string& name, int, bool&) { d.log.begun.push_back(name); };
    u.OnEnd = [&d](TObject*, const std::string& name, bool pass) { d.log.ended.emplace_back(name, pass); };
    u.OnError = [&d](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        d.log.errors.emplace_back(code, file);
        d.log.extended.push_back(ext);
    };
    u.MaxHeaderLines = maxHeaderLines;
    u.SetArchiveFile(work.Path("t.uue"));
    u.SetExtractDir(out.Root());
    u.FileSpec.Add("*.*");
    d.count = u.Extract();
    d.files = TreeOf(out.Root());
    return d;
}

TEST(UUDecode, HeaderLinesBeforeTheStartLine)
{
    const std::string data = Original("small.bin") + Original("data.bin").substr(0, 200);
    // An alphabet of no standard: the digits and letters turned round.
    std::string own = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz+-";
    std::reverse(own.begin(), own.end());
    const std::string body = "begin 644 own.bin\n" + CountedLines(data, own);
    const std::string prose(150, '\n');
    const struct {
        const char* what;
        std::string text;
        int maxHeaderLines;
        bool decoded;
        std::vector<int> errors;
    } cases[] = {
        {"table", "table\n" + own.substr(0, 32) + "\n" + own.substr(32) + "\n" + body, 100, true, {}},
        {"charmap", "size 210\ncharmap " + own + "\n" + body, 100, true, {}},
        // Prose that begins with the keywords is passed over.
        {"prose", "size matters here\ntables\ncharmap " + own + "\n" + body, 100, true, {}},
        {"size no number", "size 2x0\ncharmap " + own + "\n" + body, 100, false, {E_BADHEADR}},
        {"short charmap", "charmap " + own.substr(1) + "\n" + body, 100, false, {E_BADHEADR}},
        {"short table", "table\n" + own.substr(0, 32) + "\n" + own.substr(40) + "\n" + body, 100, false, {E_BADHEADR}},
        // With MaxHeaderLines set, the start line is searched for in that many lines.
        {"far start", prose + "charmap " + own + "\n" + body, 100, false, {}},
        {"far start, more lines", prose + "charmap " + own + "\n" + body, 200, true, {}},
        // By default the whole text is searched, as the lister does.
        {"far start, the whole text", prose + "charmap " + own + "\n" + body, 0, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = DecodeText(c.text, c.maxHeaderLines);
        if (c.decoded) {
            EXPECT_TRUE(d.files == (std::map<std::string, std::string>{{"own.bin", data}}));
            EXPECT_EQ(d.log.Failed(), 0);
        } else {
            EXPECT_TRUE(d.files.empty());
            EXPECT_TRUE(d.log.begun.empty());
        }
        std::vector<int> codes;
        for (const auto& e : d.log.errors)
            codes.push_back(e.first);
        EXPECT_EQ(codes, c.errors);
    }
}

TEST(UUDecode, OverlongFullLineIsReportedAndDecodingGoesOn)
{
    const std::string uu = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    std::string text = "begin 644 long.bin\n" + CountedLines(Original("data.bin").substr(0, 90), uu);
    // The first full line runs on with characters of the alphabet.
    text.insert(text.find('\n', text.find('\n') + 1), std::string(300, 'A'));
    const Decoded d = DecodeText(text);
    EXPECT_TRUE(d.files == (std::map<std::string, std::string>{{"long.bin", Original("data.bin").substr(0, 90)}}));
    EXPECT_EQ(d.log.Failed(), 0);
    EXPECT_EQ(d.log.ErrorsWith(25177), 1);
}

TEST(UUDecode, DecodeStreamToStream)
{
    const std::string data = Original("data.bin");
    const auto decode = [](const std::string& text, TDecodeMethod method, std::string& result) {
        TMemoryStream32 in, out;
        in.Write(text.data(), static_cast<std::int64_t>(text.size()));
        TUUDecode u;
        const bool ok = u.DecodeStreamToStream(in, out, method);
        EXPECT_EQ(out.Position(), 0);
        result.assign(static_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
        return ok;
    };
    std::string uuText = ReadAllOf(Tx("uu.uue"));
    uuText.erase(0, uuText.find('\n') + 1);  // bare data lines
    std::string got;
    EXPECT_TRUE(decode(uuText, uudecode, got));
    EXPECT_TRUE(got == data);

    // Base64 lines of 76 characters, the data after some other text.
    TMemoryStream32 b64;
    const std::string sample = data.substr(0, 1000);
    std::string b64Text = "preamble\n";
    const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string enc;
    for (size_t i = 0; i < sample.size(); i += 3) {
        const auto b = [&](size_t k) { return i + k < sample.size() ? static_cast<std::uint8_t>(sample[i + k]) : 0; };
        const unsigned v = (b(0) << 16) | (b(1) << 8) | b(2);
        enc += abc[(v >> 18) & 63];
        enc += abc[(v >> 12) & 63];
        enc += i + 1 < sample.size() ? abc[(v >> 6) & 63] : '=';
        enc += i + 2 < sample.size() ? abc[v & 63] : '=';
    }
    for (size_t i = 0; i < enc.size(); i += 76)
        b64Text += enc.substr(i, 76) + "\n";
    EXPECT_TRUE(decode(b64Text + "--boundary\n", B64Decode, got));
    EXPECT_TRUE(got == sample);

    // Data that does not begin with a counted line; cut before its end line.
    EXPECT_FALSE(decode("Subject: data\n" + uuText, uudecode, got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(decode(uuText.substr(0, uuText.size() / 2), uudecode, got));
}

TEST(UUDecode, DecodeBase64Groups)
{
    const struct {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TQ==", "M"},
        {"=AAA", ""},
        {"TWFuTQ", "Man"},  // a rest under four characters is ignored
        // A foreign character keeps the value its position had before ("W").
        {"TWFuT*==", "ManM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TMemoryStream32 out;
        const auto n = TUUDecode::DecodeBase64(c.text, static_cast<std::int32_t>(std::strlen(c.text)), out);
        EXPECT_EQ(n, static_cast<std::int32_t>(std::strlen(c.bytes)));
        EXPECT_EQ(std::string(static_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size())), c.bytes);
    }
}

TEST(UUDecode, SplitSetContinuesInItsParts)
{
    // Without an OnNextVolume handler the parts are taken when they exist.
    const Decoded d = Decode(Tx("split.uue"));
    EXPECT_EQ(d.count, 1);
    EXPECT_TRUE(d.files == (std::map<std::string, std::string>{{"big.bin", Original("big.bin")}}));
    EXPECT_EQ(d.log.Failed(), 0);
    // The later parts begin with data lines, not a start line: noted.
    EXPECT_EQ(d.log.ErrorsWith(25241), 2);
    EXPECT_EQ(d.log.extended.at(0), "line starting with 77 found before \"begin\"");

    // Other text before a part's data is passed over; a repeated start line
    // is no note.
    {
        TempDir parts;
        parts.Write("s.uue", ReadAllOf(Tx("split.uue")));
        parts.Write("s.uu1", "Subject: part 2 of 3\nFrom: someone\n\n" + ReadAllOf(Tx("split.uu1")));
        parts.Write("s.uu2", "begin 644 big.bin\n" + ReadAllOf(Tx("split.uu2")));
        const Decoded p = Decode(parts.Path("s.uue"));
        EXPECT_TRUE(p.files == (std::map<std::string, std::string>{{"big.bin", Original("big.bin")}}));
        EXPECT_EQ(p.log.ErrorsWith(25241), 1);
    }

    // A refused part ends the file unfinished: it fails and leaves nothing.
    std::vector<int> asked;
    const Decoded refused = Decode(Tx("split.uue"), [&](TObject*, std::string&, int id, bool, bool& cancel) {
        asked.push_back(id);
        cancel = id == 2;
    });
    EXPECT_EQ(asked, (std::vector<int>{1, 2}));
    EXPECT_TRUE(refused.files.empty());
    EXPECT_EQ(refused.log.Failed(), 1);
}

TEST(UUDecode, ZipPartsAreFilesOfTheirOwn)
{
    // Mode 999: every text part carries one part of a split ZIP archive.
    const std::string uu = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    const std::string first = Original("data.bin").substr(0, 500), last = Original("small.bin");
    std::string firstText = CountedLines(first, uu);
    firstText.erase(firstText.rfind("end\n"));
    TempDir parts;
    parts.Write("set.uue", "begin 999 set.z01\n" + firstText);
    parts.Write("set.uu1", "Subject: set.zip, part 2\n\nbegin 999 set.zip\n" + CountedLines(last, uu));
    const Decoded d = Decode(parts.Path("set.uue"));
    EXPECT_EQ(d.count, 2);
    EXPECT_TRUE(d.files == (std::map<std::string, std::string>{{"set.z01", first}, {"set.zip", last}}));
    EXPECT_EQ(d.log.begun.size(), 2u);
    EXPECT_EQ(d.log.Failed(), 0);
    EXPECT_TRUE(d.log.errors.empty());

    // The last part cut short fails alone.
    const std::string cut = CountedLines(last, uu);
    parts.Write("set.uu1", "begin 999 set.zip\n" + cut.substr(0, cut.rfind("end\n")));
    const Decoded c = Decode(parts.Path("set.uue"));
    EXPECT_TRUE(c.files == (std::map<std::string, std::string>{{"set.z01", first}}));
    EXPECT_EQ(c.log.Failed(), 1);
    EXPECT_EQ(c.log.ErrorsWith(25178), 1);
}

TEST(UUDecode, UnfinishedAndHostileFiles)
{
    // The data ends without its end line (and no next part exists).
    const Decoded cut = Decode(Tx("truncated.uue"));
    EXPECT_TRUE(cut.files.empty());
    EXPECT_EQ(cut.count, 0);
    EXPECT_EQ(cut.log.ended, (std::vector<std::pair<std::string, bool>>{{cut.log.begun.at(0), false}}));
    EXPECT_EQ(cut.log.ErrorsWith(25178), 1);

    const Decoded evil = Decode(Tx("traversal.uue"));
    EXPECT_TRUE(evil.files.empty());
    EXPECT_EQ(evil.log.ErrorsWith(E_INVALIDFILENAME), 1);
    EXPECT_EQ(evil.log.Failed(), 1);
}

TEST(UUDecode, ManyAttachmentsIntoAMemoryTarget)
{
    // Tens of thousands of MIME attachments decode one after the other.
    std::string text = "Content-Type: multipart/mixed; boundary=\"=-b\"\n\n";
    constexpr int kParts = 20000;
    for (int i = 0; i < kParts; ++i)
        text += "--=-b\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"f" +
                std::to_string(i) + ".txt\"\n\naGk=\n";
    text += "--=-b--\n";
    TempDir work;
    work.Write("many.txt", text);
    TUUDecode u;
    u.SetArchiveFile(work.Path("many.txt"));
    u.FileSpec.Add("*.*");
    TDecompMemoryStream memory;
    EXPECT_EQ(u.ExtractToMemoryStream(&memory), kParts);
    ASSERT_EQ(memory.Count(), kParts);
    EXPECT_EQ(memory.GetFileName(kParts - 1), "f" + std::to_string(kParts - 1) + ".txt");
    EXPECT_EQ(memory.Size(), 2 * kParts);
}

} // namespace
