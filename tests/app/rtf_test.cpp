// The RTF reader and writer on documents shaped like the common writers'
// output and on broken ones; the rich edit and the plain text view.
#include "app_fixture.h"

#include "vcl/memo.h"
#include "vcl/richedit.h"
#include "vcl/rtf.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

// Readable failure output.
void PrintTo(const TRtfDocument& doc, std::ostream* os)
{
    for (const auto& p : doc.Paragraphs) {
        *os << "\n  [align " << static_cast<int>(p.Align) << "]";
        for (const auto& r : p.Runs)
            *os << " {" << r.Format.FontName << "/" << r.Format.HalfPoints << (r.Format.Bold ? "/b" : "")
                << (r.Format.Italic ? "/i" : "") << (r.Format.Underline ? "/u" : "") << (r.Format.StrikeOut ? "/s" : "")
                << (r.Format.HasColor ? "/c" + std::to_string(r.Format.Color) : "") << " \"" << r.Text << "\"}";
    }
}

namespace {

std::string Fixture(const std::string& name)
{
    std::ifstream in(std::string(VISTREL_TEST_DATA) + "/fixtures/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Texts(const TRtfDocument& doc)
{
    std::vector<std::string> out;
    for (const auto& p : doc.Paragraphs)
        out.push_back(p.Text());
    return out;
}

// The run that holds the text, or nullptr.
const TRtfRun* RunWith(const TRtfDocument& doc, const std::string& text)
{
    for (const auto& p : doc.Paragraphs)
        for (const auto& r : p.Runs)
            if (r.Text.find(text) != std::string::npos)
                return &r;
    return nullptr;
}

} // namespace

TEST(Rtf, WordPadDocument)
{
    const TRtfDocument doc = ReadRtf(Fixture("wordpad.rtf"));
    EXPECT_EQ(Texts(doc), (std::vector<std::string> {"Quarterly Report",
                              "Sales grew by 12 percent in Q3; see the red figures.",
                              "Column A\tColumn B\nsecond line {braces} and a backslash \\",
                              "underlined blue, caf\xC3\xA9 and \xE2\x80\x9Cquotes\xE2\x80\x9D."}));
    EXPECT_EQ(doc.Paragraphs[0].Align, TRtfAlign::Center);
    EXPECT_EQ(doc.Paragraphs[1].Align, TRtfAlign::Left);
    const TRtfRun* title = RunWith(doc, "Quarterly");
    ASSERT_TRUE(title);
    EXPECT_TRUE(title->Format.Bold);
    EXPECT_EQ(title->Format.HalfPoints, 32);
    EXPECT_EQ(title->Format.FontName, "Calibri");
    const TRtfRun* red = RunWith(doc, "red");
    ASSERT_TRUE(red);
    EXPECT_TRUE(red->Format.HasColor);
    EXPECT_EQ(red->Format.Color, 0xFF0000u);
    EXPECT_TRUE(RunWith(doc, "Q3")->Format.Italic);
    EXPECT_EQ(RunWith(doc, "Column A")->Format.FontName, "Arial");
    const TRtfRun* blue = RunWith(doc, "underlined blue");
    EXPECT_TRUE(blue->Format.Underline);
    EXPECT_EQ(blue->Format.Color, 0x0000FFu);
}

TEST(Rtf, WordProcessorDocumentSkipsItsMachinery)
{
    const TRtfDocument doc = ReadRtf(Fixture("word.rtf"));
    EXPECT_EQ(Texts(doc), (std::vector<std::string> {
                              "Hello world \xE2\x80\x94 a \xE2\x80\x9Ctest\xE2\x80\x9D.",
                              "\xE4\xB8\xAD\xE6\x96\x87 and \xE4\xB8\xAD\xE6\x96\x87.",
                              "a link then a picture: after it.",
                          }));
    EXPECT_TRUE(RunWith(doc, "Hello")->Format.Bold);
    EXPECT_EQ(RunWith(doc, "Hello")->Format.FontName, "Calibri");
    EXPECT_EQ(RunWith(doc, "\xE4\xB8\xAD\xE6\x96\x87")->Format.FontName, "SimSun");
    EXPECT_TRUE(RunWith(doc, "a link")->Format.Underline);
    EXPECT_EQ(RunWith(doc, " after it.")->Format.Color, 0xC0504Du);
}

TEST(Rtf, LibreOfficeDocument)
{
    const TRtfDocument doc = ReadRtf(Fixture("libreoffice.rtf"));
    EXPECT_EQ(Texts(doc), (std::vector<std::string> {"Right aligned bold", "Green italic \xE2\x82\xAC euro"}));
    EXPECT_EQ(doc.Paragraphs[0].Align, TRtfAlign::Right);
    EXPECT_EQ(RunWith(doc, "Right")->Format.FontName, "Liberation Serif");
    EXPECT_TRUE(RunWith(doc, "bold")->Format.Bold);
    EXPECT_TRUE(RunWith(doc, "Green")->Format.Italic);
    EXPECT_EQ(RunWith(doc, "Green")->Format.Color, 0x008000u);
}

TEST(Rtf, WrittenDocumentsReadBackEqual)
{
    TRtfDocument built;
    TRtfCharFormat plain;
    plain.FontName = "Courier New";
    TRtfCharFormat fancy;
    fancy.FontName = "\xE5\xAE\x8B\xE4\xBD\x93";  // a CJK font name
    fancy.HalfPoints = 37;
    fancy.Bold = fancy.Italic = fancy.Underline = fancy.StrikeOut = true;
    fancy.HasColor = true;
    fancy.Color = 0x123456;
    built.Paragraphs.push_back({{{"Braces {} and \\ backslash\ttab", plain}, {"line\nbreak", fancy}}, TRtfAlign::Justify});
    built.Paragraphs.push_back({{}, TRtfAlign::Left});
    built.Paragraphs.push_back({{{"\xF0\x9F\x98\x80 emoji, \xE4\xB8\xAD, caf\xC3\xA9", fancy}}, TRtfAlign::Right});
    built.Paragraphs.push_back({{}, TRtfAlign::Center});
    EXPECT_EQ(ReadRtf(WriteRtf(built)), built);

    for (const char* name : {"wordpad.rtf", "word.rtf", "libreoffice.rtf"}) {
        const TRtfDocument doc = ReadRtf(Fixture(name));
        EXPECT_EQ(ReadRtf(WriteRtf(doc)), doc) << name;
    }
    EXPECT_TRUE(ReadRtf(WriteRtf(TRtfDocument {})).Paragraphs.empty());
}

TEST(Rtf, BrokenDocumentsKeepTheTextBeforeTheDamage)
{
    struct Case {
        std::string data;
        std::vector<std::string> texts;
    };
    const std::string deep = "{\\rtf1 a" + std::string(100000, '{') + "b" + std::string(100000, '}') + "}";
    const std::vector<Case> cases = {
        {"{\\rtf1 Hello {\\b bold", {"Hello bold"}},
        {"{\\rtf1 abc\\'4", {"abc"}},
        {"{\\rtf1 abc\\'zzdef}", {"abcdef"}},
        {"{\\rtf1 abc\\bin999999 xyz}", {"abc"}},
        {"{\\rtf1 a} b", {"a"}},
        {"{\\rtf1 x\\u55357?}", {"x\xEF\xBF\xBD"}},
        {"{\\rtf1 \\u-3913?}", {"\xEF\x82\xB7"}},
        {"{\\rtf1 {\\pict 0123456789abcdef}{\\*\\unknown hidden}shown\\par}", {"shown"}},
        {"{\\rtf1 \\fs999999999 \\cf99 \\f77 x\\uc99999 \\u65 yz}", {"xA"}},
        {"{\\rtf1 x\\", {"x"}},
        {deep, {"a"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Texts(ReadRtf(c.data)), c.texts) << c.data.substr(0, 60);
}

TEST(Rtf, PlainTextAndCodePages)
{
    EXPECT_EQ(Texts(ReadRtf("one\r\ntwo\nthree")), (std::vector<std::string> {"one", "two", "three"}));
    EXPECT_EQ(CodePageToUtf8("\xD6\xD0", 936), "\xE4\xB8\xAD");
    EXPECT_EQ(CodePageToUtf8("\xE9", 1252), "\xC3\xA9");
    EXPECT_EQ(CodePageToUtf8("\xC0", 1251), "\xD0\x90");
    // A cut double-byte character becomes one replacement character.
    EXPECT_EQ(CodePageToUtf8("a\xD6", 936), "a\xEF\xBF\xBD");
    EXPECT_EQ(Texts(ReadRtf("{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'c1}")), std::vector<std::string> {"\xD0\x90\xD0\x91"});
}

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

struct TextCase {
    const char* name;  // the file of the fuzz corpus that holds the input
    std::string data;
    std::vector<std::string> texts;
    bool lossy = false;
};

// Documents that were read wrongly, with the text a faithful reader gives.
std::vector<TextCase> CraftedCases()
{
    const std::string fonts = "{\\fonttbl{\\f0 Times;}{\\f1\\fcharset134 SimSun;}{\\f2\\fcharset204 Arial Cyr;}}";
    return {
        // A surrogate pair is two neighbouring \uN.
        {"rtf_surrogate_pair", "{\\rtf1 \\u-10179?\\u-8704?!}", {"\xF0\x9F\x98\x80!"}},
        {"rtf_surrogate_pair_uc2", "{\\rtf1\\uc2 \\u-10179\\'3f\\'3f\\u-8704\\'3f\\'3f!}", {"\xF0\x9F\x98\x80!"}},
        // Halves that are not neighbours are no character: each is U+FFFD,
        // never joined with a later, unrelated half.
        {"rtf_surrogates_apart", "{\\rtf1 a\\u-10179?b\\par c\\u-8704?d}",
            {"a" + kReplacement + "b", "c" + kReplacement + "d"}},
        {"rtf_surrogates_in_two_groups", "{\\rtf1 {\\u-10179?}{\\u-8704?}}", {kReplacement + kReplacement}},
        {"rtf_surrogate_high_at_end", "{\\rtf1 x\\u-10179?}", {"x" + kReplacement}},
        {"rtf_surrogate_high_then_high", "{\\rtf1 \\u-10179?\\u-10179?\\u-8704?}",
            {kReplacement + "\xF0\x9F\x98\x80"}},
        {"rtf_surrogate_low_alone", "{\\rtf1 \\u-8704?z}", {kReplacement + "z"}},
        // Bytes read before a code-page change keep the page they came under.
        {"rtf_ansicpg_midtext", "{\\rtf1\\ansi caf\\'e9 \\ansicpg1251 \\'cf}", {"caf\xC3\xA9 \xD0\x9F"}},
        // An object's result is text, as a field's result is.
        {"rtf_object_result",
            "{\\rtf1 before {\\object\\objemb{\\*\\objclass Word.Document.8}{\\*\\objdata 0102}"
            "{\\result {\\b shown result}}} after}",
            {"before shown result after"}, true},
        {"rtf_object_without_result", "{\\rtf1 a{\\object{\\*\\objdata 01}}b}", {"ab"}, true},
        // One converter per code page serves the whole read, groups in
        // different pages and broken sequences alike.
        {"rtf_codepage_groups",
            "{\\rtf1\\ansi" + fonts + "\\f0 a {\\f2 \\'cf\\'f0} b\\par c {\\f1 \\'d6\\'d0}{\\f2 \\'ec}{\\f1 x\\'d6}"
            "{\\f1 \\'d6\\'d0} d}",
            {"a \xD0\x9F\xD1\x80 b", "c \xE4\xB8\xAD\xD0\xBCx" + kReplacement + "\xE4\xB8\xAD d"}},
    };
}

const std::string kRtfCorpus = std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/rtf_read";

} // namespace

TEST(Rtf, CraftedDocumentsReadFaithfully)
{
    for (const TextCase& c : CraftedCases()) {
        bool lossy = false;
        EXPECT_EQ(Texts(ReadRtf(c.data, &lossy)), c.texts) << c.name;
        EXPECT_EQ(lossy, c.lossy) << c.name;
    }
}

// The corpus of the RTF fuzz target holds the crafted documents and the
// fixtures; with VISTREL_WRITE_RTF_CORPUS set the test writes them anew.
TEST(RtfFuzzCorpus, HoldsTheCraftedDocuments)
{
    const bool write = std::getenv("VISTREL_WRITE_RTF_CORPUS") != nullptr;
    std::vector<std::pair<std::string, std::string>> files;
    for (const TextCase& c : CraftedCases())
        files.emplace_back(c.name, c.data);
    for (const char* name : {"wordpad.rtf", "word.rtf", "libreoffice.rtf"})
        files.emplace_back(name, Fixture(name));
    for (const auto& [name, data] : files) {
        if (write)
            std::ofstream(kRtfCorpus + "/" + name, std::ios::binary) << data;
        std::ifstream in(kRtfCorpus + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        EXPECT_EQ(ss.str(), data) << name;
    }
}

TEST(RtfFuzzCorpus, ReplaysWithoutFindings)
{
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kRtfCorpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        SCOPED_TRACE(entry.path().string());
        const TRtfDocument read = ReadRtf(ss.str());
        EXPECT_EQ(ReadRtf(WriteRtf(read)), NormalizeRtf(read));
        ++files;
    }
    EXPECT_GE(files, CraftedCases().size() + 3);
}

class TextControlTest : public AppTest {};

TEST_F(TextControlTest, RichEditKeepsTheDocument)
{
    TRichEdit edit(nullptr);
    for (const char* name : {"wordpad.rtf", "word.rtf", "libreoffice.rtf"}) {
        const TRtfDocument doc = ReadRtf(Fixture(name));
        edit.SetDocument(doc);
        EXPECT_EQ(edit.Document(), doc) << name;
        EXPECT_FALSE(edit.Modified());
    }
    edit.LoadFromFile(std::string(VISTREL_TEST_DATA) + "/fixtures/word.rtf");
    edit.SaveToFile(dir.Path("again.rtf"));
    TRichEdit second(nullptr);
    second.LoadFromFile(dir.Path("again.rtf"));
    EXPECT_EQ(second.Document(), edit.Document());
    EXPECT_THROW(second.LoadFromFile(dir.Path("missing.rtf")), EFOpenError);
    EXPECT_EQ(second.Document(), edit.Document());
}

TEST_F(TextControlTest, MemoLinesSelectionAndSearch)
{
    TMemo memo(nullptr);
    memo.SetText("first line\nSecond word\nthird word");
    EXPECT_EQ(memo.Lines().Items(), (std::vector<std::string> {"first line", "Second word", "third word"}));
    EXPECT_EQ(memo.LineIndex(1), 11);
    EXPECT_EQ(memo.LineFromChar(13), 1);
    EXPECT_EQ(memo.FindText("word", 0), 18);
    EXPECT_EQ(memo.FindText("word", 19), 29);
    EXPECT_EQ(memo.FindText("WORD", 0), -1);
    memo.SetSelStart(18);
    memo.SetSelLength(4);
    EXPECT_EQ(memo.SelStart(), 18);
    EXPECT_EQ(memo.SelText(), "word");
    memo.SetSelStart(1000);
    EXPECT_EQ(memo.SelStart(), 33);
    memo.Clear();
    EXPECT_EQ(memo.Lines().Count(), 0);
}

// Random changes of the fixtures must never crash the reader or the writer;
// a failing input is left on disk for replay.
TEST(Rtf, MutatedDocumentsNeverCrash)
{
    std::mt19937 rng(99);
    static const char kTokens[] = "{}\\'*u-0123456789abcdef;";
    for (const char* name : {"wordpad.rtf", "word.rtf", "libreoffice.rtf"}) {
        const std::string good = Fixture(name);
        for (int round = 0; round < 200; ++round) {
            std::string doc = good;
            const int changes = 1 + static_cast<int>(rng() % 10);
            for (int k = 0; k < changes; ++k) {
                const size_t at = rng() % doc.size();
                if (rng() % 2)
                    doc[at] = kTokens[rng() % (sizeof kTokens - 1)];
                else
                    doc[at] = static_cast<char>(rng());
            }
            if (rng() % 4 == 0)
                doc.resize(rng() % doc.size());
            std::ofstream(std::string(::testing::TempDir()) + "rtf_mutation_last.rtf", std::ios::binary) << doc;
            const TRtfDocument read = ReadRtf(doc);
            const std::string written = WriteRtf(read);
            EXPECT_EQ(ReadRtf(written), NormalizeRtf(read)) << name << " round " << round;
        }
    }
}
