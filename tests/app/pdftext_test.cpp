// The PDF text window: the text the content writer makes of content
// streams, the block walk with its empty and oversized blocks, the window
// over real PDF files, and what a failed extraction leaves on disk; and the
// fuzz corpus.
//
// Fixtures: tests/app/fixtures/convert/cases*.pdf, made by
// scripts/make-convert-fixtures.sh (qpdf, from a hand-written content stream).
#include "app/tools/extractpdf.h"
#include "app/tools/pdftext.h"
#include "fuzz/pdf_text_fuzz_one.h"
#include "test_support/file_size_limit.h"
#include "test_support/fuzz_corpus.h"
#include "tool_form_fixture.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <random>

namespace {

const std::string kFixtures = std::string(VISTREL_TEST_DATA) + "/fixtures/convert/";

// The text of the fixture's content stream.
const std::string kCasesText = "First line\r\nSecond\tline\r\nHello World\r\nLeft\tRight\r\nKerned\r\na)b";

std::string Deflate(const std::string& data)
{
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                  data.size(), Z_BEST_COMPRESSION),
        Z_OK);
    out.resize(size);
    return out;
}

// A stream block as a PDF file holds it.
std::string Block(const std::string& data, const std::string& eol = "\r\n")
{
    return "<< /Length " + std::to_string(data.size()) + " >>\nstream" + eol + data + eol + "endstream\nendobj\n";
}

std::string Extract(const std::string& pdf)
{
    std::string text;
    ExtractPdfText(reinterpret_cast<const std::uint8_t*>(pdf.data()), pdf.size(),
        [&](std::string_view t) { text += t; });
    return text;
}

} // namespace

TEST(PdfContentText, WritesTheStringsOfTextObjects)
{
    struct Case {
        const char* name;
        std::string content;
        std::string text;
    } cases[] = {
        {"a string", "BT /F1 12 Tf (Hello) Tj ET\n", "Hello"},
        // ET is seen with the byte after its whitespace: a block's last ET
        // writes no line break, one followed by more content does.
        {"ET followed by more content", "BT (Hello) Tj ET\nQ\n", "Hello\r\n"},
        {"TD down a line, the sign ignored", "BT (a) Tj 0 -14 TD (b) Tj ET\n", "a\r\nb"},
        {"TD along the line", "BT (a) Tj 10 0 TD (b) Tj ET\n", "a\tb"},
        {"TD by exactly 1", "BT (a) Tj 0 1 TD (b) Tj ET\n", "ab"},
        {"TD with a fraction", "BT (a) Tj 0 -14.5 TD (b) Tj 0 0.5 TD (c) Tj ET\n", "a\r\nb\tc"},
        {"TD without a number", "BT (a) Tj TD (b) Tj ET\n", "a\tb"},
        {"Td is no TD", "BT (a) Tj 0 -14 Td (b) Tj ET\n", "ab"},
        {"TJ with -250", "BT [(Hello) -250 (World)] TJ ET\n", "Hello World"},
        {"TJ with -1200", "BT [(Hello) -1200 (World)] TJ ET\n", "Hello\tWorld"},
        {"TJ with -50", "BT [(Hello) -50 (World)] TJ ET\n", "HelloWorld"},
        {"TJ with 1000.5", "BT [(a) 1000.5 (b)] TJ ET\n", "a b"},
        {"an escaped parenthesis", "BT (a\\)b) Tj ET\n", "a)b"},
        {"an escaped backslash and letter", "BT (a\\\\b\\nc) Tj ET\n", "a\\bnc"},
        {"text outside BT and ET", "(x) Tj BT (y) Tj ET (z) Tj\n", "y\r\n"},
        {"BT not between whitespace", "xBT (y) Tj ET\nBTx (z) Tj ET\n", ""},
        {"BT after a line break", "q\nBT\r(y) Tj\rET\rQ", "y\r\n"},
        {"operators inside a string", "BT ( ET ) Tj ( BT ) Tj ET\n", " ET  BT "},
        {"control bytes and 0xFF dropped, the upper half kept", "BT (a\x01\t\xe9\xff\x80) Tj ET\n", "a\xe9\x80"},
        {"two text objects", "BT (a) Tj ET\nBT (b) Tj ET\n", "a\r\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Extract(Block(Deflate(c.content))), c.text);
        // The same fed in pieces of one byte.
        TContentTextWriter writer;
        std::string text;
        for (char ch : c.content)
            writer.Write(reinterpret_cast<const std::uint8_t*>(&ch), 1, text);
        EXPECT_EQ(text, c.text);
    }
}

TEST(PdfContentText, NumbersReadTheSameInEveryLocale)
{
    TOperatorWindow window;
    window.fill(' ');
    const std::string tail = "0 -14.75 TD\n";
    std::copy(tail.begin(), tail.end(), window.end() - static_cast<long>(tail.size()));
    EXPECT_TRUE(MatchOperator("TD", window));
    EXPECT_FLOAT_EQ(ReadNumberBefore(window, 10), 14.75f);
    // Position 0 is never part of a number.
    window.fill('7');
    window[14] = ' ';
    EXPECT_FLOAT_EQ(ReadNumberBefore(window, 14), 7777777777777.0f);
    window.fill('.');
    EXPECT_FLOAT_EQ(ReadNumberBefore(window, 14), -1.0f);
}

TEST(PdfBlocks, WalksEveryBlockAndSkipsThoseWithoutText)
{
    const std::string a = Block(Deflate("BT (one) Tj ET\nQ\n"));
    const std::string b = Block(Deflate("BT (two) Tj ET\nQ\n"), "\n");
    struct Case {
        const char* name;
        std::string pdf;
        std::string text;
    } cases[] = {
        {"two blocks", a + b, "one\r\ntwo\r\n"},
        {"an uncompressed block between", a + Block("BT (plain) Tj ET\nQ\n") + b, "one\r\ntwo\r\n"},
        {"a picture block between", a + Block("\xff\xd8\xff\xe0 JFIF data") + b, "one\r\ntwo\r\n"},
        // "stream", CR LF, "endstream": the data would end before it starts.
        {"an empty block", a + "stream\r\nendstream\n" + b, "one\r\ntwo\r\n"},
        {"an empty block after LF", a + "stream\nendstream\n" + b, "one\r\ntwo\r\n"},
        {"keywords back to back", "streamendstream" + a, "one\r\n"},
        {"a damaged block", a + Block(Deflate("BT (lost) Tj ET\nQ\n").substr(0, 8)) + b, "one\r\ntwo\r\n"},
        // A lone CR before "endstream" stays part of the data, after the
        // zlib stream's end.
        {"a lone CR", "stream\r\n" + Deflate("BT (cr) Tj ET\nQ\n") + "\rendstream" + b, "cr\r\ntwo\r\n"},
        {"a last block without endstream", a + "stream\r\n" + Deflate("BT (cut) Tj ET\nQ\n"), "one\r\n"},
        {"endstream before stream ends the walk", "endstream " + a, ""},
        {"no blocks", "%PDF-1.4\n%%EOF\n", ""},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Extract(c.pdf), c.text);
    }
}

TEST(PdfBlocks, ABlockInflatingPastTenTimesItsSizeWritesNothing)
{
    // Text that compresses far better than ten to one, and text that does not.
    std::string repeated = "BT ";
    for (int i = 0; i < 20000; ++i)
        repeated += "(aaaa) Tj ";
    repeated += "ET\nQ\n";
    std::mt19937 rng(7);
    std::string varied = "BT (";
    for (int i = 0; i < 20000; ++i)
        varied += static_cast<char>('a' + rng() % 26);
    varied += ") Tj ET\nQ\n";
    const std::string bomb = Deflate(repeated);
    ASSERT_GT(repeated.size(), 10 * bomb.size());
    ASSERT_LT(varied.size(), 10 * Deflate(varied).size());
    EXPECT_EQ(Extract(Block(bomb)), "");
    EXPECT_EQ(Extract(Block(Deflate(varied))), varied.substr(4, 20000) + "\r\n");

    // Bytes after the zlib stream's end count to the block's size: padded
    // to exactly a tenth of what it inflates to, the block is read; one byte
    // less, and it is not.
    repeated.resize((repeated.size() + 9) / 10 * 10, ' ');
    const std::string deflated = Deflate(repeated);
    const std::size_t tenth = repeated.size() / 10;
    ASSERT_LT(deflated.size(), tenth);
    std::string expected;
    for (int i = 0; i < 20000; ++i)
        expected += "aaaa";
    expected += "\r\n";
    EXPECT_EQ(Extract(Block(deflated + std::string(tenth - deflated.size(), '%'))), expected);
    EXPECT_EQ(Extract(Block(deflated + std::string(tenth - deflated.size() - 1, '%'))), "");
}

namespace {

class PdfTextForm : public ToolFormTest<TfrmPDF> {
protected:
    void Extract(const std::string& input, const std::string& output) { Run(form->Button1, input, output); }
    std::vector<std::string> Messages() const { return ToolFormTest::Messages(Application->Title()); }
};

} // namespace

TEST_F(PdfTextForm, WritesTheWordsOfRealPdfFiles)
{
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"cases.pdf", kCasesText},
        {"cases_objstm.pdf", kCasesText},
        // Content that is not compressed gives no text, and says so by an
        // empty file.
        {"cases_plain.pdf", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts->asked.clear();
        dir.Write("out.txt", "an older text");
        Extract(kFixtures + c.name, dir.Path("out.txt"));
        EXPECT_EQ(Messages(), std::vector<std::string> {"Extract OK!"});
        EXPECT_EQ(dir.Read("out.txt"), c.text);
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.txt"});
}

TEST_F(PdfTextForm, ProposesTheShownPdfWithTxtAppended)
{
    ExpectProposal("/docs/a.pdf", "/docs/a.pdf", "/docs/a.pdf.txt");
    ExpectProposal("/docs/B.PDF", "/docs/B.PDF", "/docs/B.PDF.txt");
    ExpectProposal("/docs/a.txt", "", "");
    ExpectProposal("", "", "");
}

TEST_F(PdfTextForm, RefusesToWriteOverItsInput)
{
    const std::string pdf = Slurp(kFixtures + "cases.pdf");
    dir.Write("a.pdf", pdf);
    Extract(dir.Path("a.pdf"), dir.Root() + "./a.pdf");
    EXPECT_EQ(Messages(), std::vector<std::string> {"The output file must not be the input file!"});
    EXPECT_EQ(dir.Read("a.pdf"), pdf);
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"a.pdf"});
}

TEST_F(PdfTextForm, FailuresLeaveNoOutputBehind)
{
    dir.Write("empty.pdf", "");
    dir.Write("sub/keep", "");
    struct Case {
        const char* name;
        std::string input, output;
        const char* message;
    } cases[] = {
        {"a missing input", dir.Path("missing.pdf"), dir.Path("out.txt"), "Unable to open the input file!"},
        {"a folder as input", dir.Path("sub"), dir.Path("out.txt"), "Unable to open the input file!"},
        {"no input name", "", dir.Path("out.txt"), "Unable to open the input file!"},
        {"a missing output folder", kFixtures + "cases.pdf", dir.Path("missing/out.txt"),
            "Unable to create the output file!"},
        {"a folder as output", kFixtures + "cases.pdf", dir.Path("sub"), "Unable to create the output file!"},
        {"no output name", kFixtures + "cases.pdf", "", "Unable to create the output file!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts->asked.clear();
        Extract(c.input, c.output);
        EXPECT_EQ(Messages(), std::vector<std::string> {c.message});
        EXPECT_EQ(dir.Names(), (std::vector<std::string> {"empty.pdf", "sub"}));
    }
    // An empty file holds no text.
    prompts->asked.clear();
    Extract(dir.Path("empty.pdf"), dir.Path("out.txt"));
    EXPECT_EQ(Messages(), std::vector<std::string> {"Extract OK!"});
    EXPECT_EQ(dir.Read("out.txt"), "");
}

TEST_F(PdfTextForm, AWriteFailureIsReportedAndKeepsTheOlderText)
{
    dir.Write("out.txt", "an older text");
    {
        const FileSizeLimit full(10);
        Extract(kFixtures + "cases.pdf", dir.Path("out.txt"));
    }
    const std::vector<std::string> messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Unable to write the output file!", 0), 0u) << messages[0];
    EXPECT_EQ(dir.Read("out.txt"), "an older text");
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.txt"});
}

TEST_F(PdfTextForm, TheDialogsFillTheBoxes)
{
    prompts->PushFiles({"/docs/a.pdf"});
    ClickWidget(form->Button3->Widget());
    prompts->PushText("/docs/words.txt");
    ClickWidget(form->Button4->Widget());
    EXPECT_EQ(form->Edit1->Text(), "/docs/a.pdf");
    EXPECT_EQ(form->Edit2->Text(), "/docs/words.txt");
    ASSERT_EQ(prompts->asked.size(), 2u);
    EXPECT_EQ(prompts->asked[0].caption, "Open a PDF");
    EXPECT_EQ(prompts->asked[0].text, "pdf(*.pdf)|*.pdf");
    EXPECT_EQ(prompts->asked[1].caption, "Save as a TXT");
    EXPECT_EQ(prompts->asked[1].text, "TXT(*.txt)|*.txt");
}

TEST(PdfTextFuzzCorpus, ReplaysEveryInput)
{
    EXPECT_GE(ReplayFuzzCorpus("pdf_text", [](const std::string& bytes) {
        PdfTextFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }), 5);
}

TEST(PdfTextFuzzCorpus, MutatedInputsNeverCrash)
{
    const std::string pdf = Slurp(kFixtures + "cases.pdf");
    RunMutatedInputs("pdf-text-fuzz-last.bin", pdf, pdf.size(), 6, 300, 20261211, [](const std::string& bytes) {
        PdfTextFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    });
}
