// The MHT reader, the address rules and the character sets of the web
// browser control, and the MHT fuzz corpus replayed under the sanitizers
// with a cheap in-suite fuzz over it. A mutated input is written to disk
// before it runs (mht-fuzz-last.bin in the temporary folder), so a crash
// leaves it behind for replay.
#include "fuzz/mht_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include "web/charset.h"
#include "web/mhtreader.h"
#include "web/stylelinks.h"
#include "web/weburl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

const std::filesystem::path kCorpus = FuzzCorpusDir("mht_read");

void FuzzOne(const std::string& bytes)
{
    MhtFuzzReadOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(MhtReader, ReadsASavedPageWithItsPictures)
{
    TMhtArchive mht;
    ASSERT_TRUE(mht.Read(Slurp(std::string(VISTREL_TEST_DATA) + "/fixtures/players/page.mht")));
    ASSERT_EQ(mht.Parts().size(), 3u);
    const TMhtPart* root = mht.Root();
    ASSERT_EQ(root, &mht.Parts()[0]);
    EXPECT_EQ(root->ContentType, "text/html");
    EXPECT_EQ(root->Charset, "windows-1252");
    EXPECT_EQ(root->Location, "http://example.com/archive/page.htm");
    // Quoted-printable undone: the soft line break joins the tag again.
    EXPECT_NE(root->Body.find("Archived caf\xE9"), std::string::npos);
    EXPECT_NE(root->Body.find("<img src=\"images/red.png\" width=\"32\" height=\"32\">"), std::string::npos);

    const TMhtPart* red = mht.Find("images/red.png", root->Location);
    ASSERT_EQ(red, &mht.Parts()[1]);
    EXPECT_EQ(red->Body.compare(0, 4, "\x89PNG"), 0);
    EXPECT_EQ(mht.Find("http://example.com/archive/images/red.png#top", ""), red);
    EXPECT_EQ(mht.Find("./images/../images/red.png", root->Location), red);
    EXPECT_EQ(mht.Find("cid:green@archive", root->Location), &mht.Parts()[2]);
    EXPECT_EQ(mht.Find("cid:nothing", root->Location), nullptr);
    EXPECT_EQ(mht.Find("images/blue.png", root->Location), nullptr);
    EXPECT_EQ(mht.Find("", root->Location), nullptr);
}

TEST(MhtReader, ShapesOfMessages)
{
    // The start parameter names the root inside a nested alternative.
    TMhtArchive nested;
    ASSERT_TRUE(nested.Read(Slurp(kCorpus / "nested.mht")));
    ASSERT_EQ(nested.Parts().size(), 3u);
    EXPECT_EQ(nested.Root()->ContentId, "r");
    EXPECT_EQ(CharsetToUtf8(nested.Root()->Body, nested.Root()->Charset).find("\xE4\xBD\xA0\xE5\xA5\xBD"), 3u);
    const TMhtPart* gif = nested.Find("../z.gif", nested.Root()->Location);
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->Body.compare(0, 6, "GIF89a"), 0);

    // One part, no multipart at all.
    TMhtArchive single;
    ASSERT_TRUE(single.Read(Slurp(kCorpus / "single.mht")));
    ASSERT_EQ(single.Parts().size(), 1u);
    EXPECT_EQ(single.Root()->Body, "<b>single part message \xC3\xA9");

    // Escapes differ between the page and Content-Location; the file ends
    // without its closing delimiter, and "--XY" is no delimiter of "X".
    TMhtArchive unclosed;
    ASSERT_TRUE(unclosed.Read(Slurp(kCorpus / "unclosed.mht")));
    ASSERT_EQ(unclosed.Parts().size(), 2u);
    const TMhtPart* picture = unclosed.Find("c%20d.png", unclosed.Root()->Location);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Body, "PNGDATA\n--XY\nnot a delimiter\n");

    // Bytes without a MIME header are the page itself; nothing is nothing.
    TMhtArchive bare;
    ASSERT_TRUE(bare.Read("<html>page</html>"));
    EXPECT_EQ(bare.Root()->ContentType, "text/html");
    TMhtArchive empty;
    std::string error;
    EXPECT_FALSE(empty.Read("", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(empty.Root(), nullptr);
    TMhtArchive noParts;
    EXPECT_FALSE(noParts.Read("Content-Type: multipart/related; boundary=Q\r\n\r\nonly a preamble\r\n"));
}

TEST(MhtReader, DeepNestingStopsAtTheLimit)
{
    std::string message = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
    std::string tail;
    for (int i = 0; i < 40; ++i) {
        message += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1)
            + "\r\n\r\n";
        tail = "--b" + std::to_string(i) + "--\r\n" + tail;
    }
    message += "--b40\r\nContent-Type: text/html\r\n\r\n<p>deep</p>\r\n--b40--\r\n" + tail;
    TMhtArchive mht;
    EXPECT_FALSE(mht.Read(message));
}

TEST(MhtReader, TransferEncodings)
{
    EXPECT_EQ(DecodeBase64("aGVs\r\nbG8g d29y\tbGQ=\r\nignored"), "hello world");
    EXPECT_EQ(DecodeBase64("////"), "\xFF\xFF\xFF");
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_EQ(DecodeQuotedPrintable("caf=E9 =3D=\r\nsoft=\nbreak"), "caf\xE9 =softbreak");
    // An "=" that starts no escape stays, also at the very end.
    EXPECT_EQ(DecodeQuotedPrintable("a=zz b=4"), "a=zz b=4");
    EXPECT_EQ(DecodeQuotedPrintable("end="), "end=");
}

TEST(WebAddresses, RelativeReferencesResolve)
{
    const char* base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"}, {"/g", "http://a/g"},
        {"//g", "http://g"}, {"g?y", "http://a/b/c/g?y"}, {"g#s", "http://a/b/c/g#s"}, {"..", "http://a/b/"},
        {"../g", "http://a/b/g"}, {"../../g", "http://a/g"}, {"../../../g", "http://a/g"},
        {"g;x=1/../y", "http://a/b/c/y"}, {"cid:x", "cid:x"}, {"https://o/p", "https://o/p"},
    };
    for (const auto& [reference, expected] : cases)
        EXPECT_EQ(ResolveUrl(base, reference), expected) << reference;
    EXPECT_EQ(ResolveUrl("", "images/a.png"), "images/a.png");
    EXPECT_EQ(UrlScheme("HTTP://x"), "http");
    EXPECT_EQ(UrlScheme("C:/page.htm"), "");
    EXPECT_EQ(PercentDecode("a%20b%zz%4"), "a b%zz%4");
}

TEST(WebAddresses, OnlyLocalFilesAreNamed)
{
    const std::string folder = "/srv/site/";
    const std::pair<const char*, const char*> cases[] = {
        {"pic.png", "/srv/site/pic.png"},
        {"img/a%20b.png", "/srv/site/img/a b.png"},
        {"img/caf%E9.png", "/srv/site/img/caf\xE9.png"},
        {"../up.png", "/srv/up.png"},
        {"../../../../etc/x.png", "/etc/x.png"},
        {"/abs/x.png", "/abs/x.png"},
        {"pic.png#frag", "/srv/site/pic.png"},
        {"pic.png?size=2", "/srv/site/pic.png"},
        {"file:///etc/x.png", "/etc/x.png"},
        {"FILE://localhost/x.png", "/x.png"},
        {"file://otherhost/x.png", ""},
        {"http://127.0.0.1/x.png", ""},
        {"https://example.com/x.png", ""},
        {"//example.com/x.png", ""},
        {"data:image/png;base64,AAAA", ""},
        {"#top", ""},
        {"", ""},
    };
    for (const auto& [reference, expected] : cases)
        EXPECT_EQ(LocalFileOfReference(folder, reference), expected) << reference;
}

TEST(WebCharsets, PagesAreReadInTheirCharacterSet)
{
    struct Case {
        std::string bytes;
        const char* charset;
        std::string utf8;
    };
    const Case cases[] = {
        {"caf\xE9 \x80", "windows-1252", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"caf\xE9", "ISO-8859-1", "caf\xC3\xA9"},
        {"\xC4\xE3\xBA\xC3", "gb2312", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        {"\xC4\xE3\xBA", "GB2312", "\xE4\xBD\xA0\xEF\xBF\xBD"}, // cut off: a replacement
        {"ok \xFF", "utf-8", "ok \xEF\xBF\xBD"},
        {"caf\xE9", "no-such-charset", "caf\xC3\xA9"},
        {std::string("h\0i\0", 4), "utf-16le", "hi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CharsetToUtf8(c.bytes, c.charset), c.utf8) << c.charset;

    EXPECT_EQ(HtmlCharset("<html><head><meta charset=\"GB2312\"></head>"), "gb2312");
    EXPECT_EQ(HtmlCharset("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">"),
        "windows-1251");
    EXPECT_EQ(HtmlCharset("\xEF\xBB\xBF<p>x</p>"), "utf-8");
    EXPECT_EQ(HtmlCharset("<p>caf\xC3\xA9 \xEF\xBF\xBD</p>"), "utf-8");
    EXPECT_EQ(HtmlCharset("<p>caf\xE9</p>"), "windows-1252");
    EXPECT_EQ(HtmlCharset("<meta name=\"charset\">"), "utf-8");
}

TEST(WebStyleLinks, LinkedStyleSheetsGetTheTypeTheEngineAsksFor)
{
    struct Case {
        const char* page;
        const char* expected; // nullptr: unchanged
    };
    const Case cases[] = {
        {"<link rel=\"stylesheet\" href=\"s.css\">", "<link rel=\"stylesheet\" href=\"s.css\" type=\"text/css\">"},
        {"<LINK REL=StyleSheet HREF='s.css'/>", "<LINK REL=StyleSheet HREF='s.css' type=\"text/css\"/>"},
        {"<link href=s.css rel=\"icon stylesheet\" >", "<link href=s.css rel=\"icon stylesheet\"  type=\"text/css\">"},
        {"<link\nrel=stylesheet\nhref=s.css/>", "<link\nrel=stylesheet\nhref=s.css/ type=\"text/css\">"},
        // An empty type and text/css in capitals are overruled by the one given last.
        {"<link rel=stylesheet type=\"\" href=s.css>", "<link rel=stylesheet type=\"\" href=s.css type=\"text/css\">"},
        {"<link rel=stylesheet type=TEXT/CSS href=s.css>", "<link rel=stylesheet type=TEXT/CSS href=s.css type=\"text/css\">"},
        // Another type, an alternate sheet, another relation: left alone.
        {"<link rel=stylesheet type=\"text/less\" href=s.less>", nullptr},
        {"<link rel=\"alternate stylesheet\" href=s.css>", nullptr},
        {"<link rel=icon href=i.png><linked rel=stylesheet>", nullptr},
        // Markup in comments, scripts and style elements is no markup.
        {"<!-- <link rel=stylesheet href=a.css> --><p>x</p>", nullptr},
        {"<script>s = '<link rel=stylesheet href=a.css>';</script>", nullptr},
        {"<style>/* <link rel=stylesheet> */</style><link rel=stylesheet href=b.css>",
            "<style>/* <link rel=stylesheet> */</style><link rel=stylesheet href=b.css type=\"text/css\">"},
        // Cut short: nothing is made up.
        {"<link rel=stylesheet href=\"s.css", nullptr},
        {"<!-- <link rel=stylesheet>", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TypeStyleSheetLinks(c.page), c.expected ? c.expected : c.page) << c.page;
}

TEST(MhtFuzzCorpus, ReplaysEveryInput)
{
    EXPECT_GE(ReplayFuzzCorpus("mht_read", FuzzOne), 5);
}

TEST(MhtFuzzCorpus, MutatedInputsNeverCrash)
{
    const std::string last = (std::filesystem::temp_directory_path() / "mht-fuzz-last.bin").string();
    std::mt19937 rng(20261210);
    for (const char* name : {"ie-page.mht", "nested.mht", "unclosed.mht"}) {
        const std::string original = Slurp(kCorpus / name);
        for (int round = 0; round < 100; ++round) {
            std::string m = original;
            const int edits = 1 + static_cast<int>(rng() % 6);
            for (int k = 0; k < edits; ++k) {
                const size_t at = rng() % m.size();
                switch (rng() % 5) {
                case 0: m[at] = static_cast<char>(rng()); break;
                case 1: m[at] = '\n'; break;
                case 2: m[at] = '='; break;
                case 3: m.insert(at, "--"); break;
                default: m.resize(at + 1); break;
                }
            }
            std::ofstream(last, std::ios::binary) << m;
            FuzzOne(m);
        }
    }
    std::filesystem::remove(last);
}
