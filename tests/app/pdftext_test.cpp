// The PDF text window: the content interpreter's lines, word gaps and
// characters; the stream filters; the walk of loose blocks with its empty,
// damaged and oversized ones; real documents against pdftotext; the window
// with encrypted documents and runs that find nothing; and the fuzz corpus.
//
// Fixtures: tests/app/fixtures/convert/*.pdf, made by
// scripts/make-convert-fixtures.sh: cases*.pdf and encodings.pdf by qpdf
// from hand-written content streams (cases_password.pdf and
// cases_restricted.pdf encrypted by qpdf), groff_*.pdf by groff and
// ghostscript's ps2pdf, writer.pdf by LibreOffice.
#include "app/tools/extractpdf.h"
#include "app/tools/pdfcontent.h"
#include "app/tools/pdffilters.h"
#include "app/tools/pdftext.h"
#include "fuzz/pdf_text_fuzz_one.h"
#include "test_support/file_size_limit.h"
#include "test_support/fuzz_corpus.h"
#include "test_support/named_temp_files.h"
#include "test_support/run_command.h"
#include "tool_form_fixture.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

namespace {

const std::string kFixtures = std::string(VISTREL_TEST_DATA) + "/fixtures/convert/";

// The text of the cases fixtures, as pdftotext gives it but for the tab of
// the wide gap and the line ends.
const std::string kCasesText = "First line\r\nSecondline\r\nHello World\r\nLeft\tRight\r\nKerned\r\na)b\r\n";

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

// A stream block as a PDF file holds it, without the object around it.
std::string Block(const std::string& data, const std::string& eol = "\r\n")
{
    return "<< /Length " + std::to_string(data.size()) + " >>\nstream" + eol + data + eol + "endstream\nendobj\n";
}

std::string Extract(const std::string& pdf, TPdfTextResult* result = nullptr, TPdfContentLimits limits = {})
{
    std::string text;
    const TPdfTextResult r = ExtractPdfText(reinterpret_cast<const std::uint8_t*>(pdf.data()), pdf.size(),
        [&](std::string_view t) { text += t; }, limits);
    if (result)
        *result = r;
    EXPECT_EQ(r.TextBytes, text.size());
    return text;
}

// Content read without a document (every font the stand-in one: PDFDoc
// characters half a unit wide), in one piece or a byte at a time.
std::string ContentText(const std::string& content, bool bytewise)
{
    std::string text;
    TPdfTextLayout layout([&](std::string_view t) {
        text += t;
        return true;
    });
    TPdfContentReader reader(nullptr, layout, TPdfObject {});
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    if (bytewise) {
        for (std::size_t i = 0; i < content.size(); ++i)
            reader.Feed(bytes + i, 1, false);
        reader.Feed(nullptr, 0, true);
    } else {
        reader.Feed(bytes, content.size(), true);
    }
    layout.EndBlock();
    return text;
}

std::string Decode(const std::string& data, const std::string& filter, TPdfDecodeResult* result = nullptr)
{
    std::string out;
    const TPdfDecodeResult r = DecodePdfStream(data, TPdfObject::MakeName(filter), PdfNull(),
        [&](const std::uint8_t* d, std::size_t n) {
            out.append(reinterpret_cast<const char*>(d), n);
            return true;
        });
    if (result)
        *result = r;
    return out;
}

// PDF's LZW as a writer codes it: a clear code first, codes of 9 to 12 bits
// most significant bit first, growing one code early, the table cleared
// when full, the end code last.
std::string LzwEncode(const std::string& data)
{
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    int width = 9;
    auto put = [&](int code) {
        bits = bits << width | static_cast<std::uint32_t>(code);
        count += width;
        while (count >= 8) {
            out += static_cast<char>(bits >> (count - 8));
            count -= 8;
        }
    };
    std::map<std::string, int> table;
    int next = 258;
    put(256);
    std::string w;
    for (char c : data) {
        const std::string wc = w + c;
        if (wc.size() == 1 || table.count(wc)) {
            w = wc;
            continue;
        }
        put(w.size() == 1 ? static_cast<unsigned char>(w[0]) : table[w]);
        table[wc] = next++;
        // The reader's table is one code behind; with early change it
        // widens when it holds one code less than the width's last.
        if (next >= (1 << width) && width < 12)
            ++width;
        if (next == 4094) {
            put(256);
            table.clear();
            next = 258;
            width = 9;
        }
        w = std::string(1, c);
    }
    if (!w.empty())
        put(w.size() == 1 ? static_cast<unsigned char>(w[0]) : table[w]);
    put(257);
    if (count > 0)
        out += static_cast<char>(bits << (8 - count));
    return out;
}

// The words of a text, whatever separates them.
std::multiset<std::string> Words(const std::string& text)
{
    std::multiset<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.insert(w);
    return words;
}

} // namespace

TEST(PdfContentText, LinesAndGapsFollowWhereTheTextIsDrawn)
{
    // The stand-in font at size 10 makes every character 5 units wide: a
    // gap of more than 1 unit is a word space, one of 10 or more a tab, a
    // move across the line of more than 5 a new line.
    struct Case {
        const char* name;
        std::string content;
        std::string text;
    } cases[] = {
        {"a string", "BT /F1 10 Tf (Hello) Tj ET", "Hello\r\n"},
        {"T* to the next line", "BT /F1 10 Tf 12 TL (a) Tj T* (b) Tj ET", "a\r\nb\r\n"},
        {"' to the next line", "BT /F1 10 Tf 12 TL (a) Tj (b) ' ET", "a\r\nb\r\n"},
        {"\" to the next line", "BT /F1 10 Tf 12 TL (a) Tj 0 0 (b) \" ET", "a\r\nb\r\n"},
        {"Td down a line", "BT /F1 10 Tf (a) Tj 0 -14 Td (b) Tj ET", "a\r\nb\r\n"},
        {"TD down a line", "BT /F1 10 Tf (a) Tj 0 -14 TD (b) Tj ET", "a\r\nb\r\n"},
        {"Td up a line", "BT /F1 10 Tf (a) Tj 0 14 Td (b) Tj ET", "a\r\nb\r\n"},
        {"Tm to another line", "BT /F1 10 Tf 1 0 0 1 72 700 Tm (a) Tj 1 0 0 1 72 680 Tm (b) Tj ET", "a\r\nb\r\n"},
        {"a subscript stays on its line", "BT /F1 10 Tf (H) Tj 5 -3 Td (2) Tj ET", "H2\r\n"},
        {"Td that goes on with the word", "BT /F1 10 Tf (ab) Tj 10 0 Td (cd) Tj ET", "abcd\r\n"},
        {"Td along the line: a word gap", "BT /F1 10 Tf (ab) Tj 15 0 Td (c) Tj ET", "ab c\r\n"},
        {"Td along the line by a whole size: a tab", "BT /F1 10 Tf (a) Tj 20 0 Td (b) Tj ET", "a\tb\r\n"},
        {"TJ with -250", "BT /F1 10 Tf [(Hello) -250 (World)] TJ ET", "Hello World\r\n"},
        {"TJ with -1200", "BT /F1 10 Tf [(Hello) -1200 (World)] TJ ET", "Hello\tWorld\r\n"},
        {"TJ with -50", "BT /F1 10 Tf [(Hello) -50 (World)] TJ ET", "HelloWorld\r\n"},
        {"character spacing makes the gaps", "BT /F1 10 Tf 3 Tc (abc) Tj ET", "a b c\r\n"},
        {"word spacing widens a space", "BT /F1 10 Tf 3 Tw (a b) Tj ET", "a b\r\n"},
        // A space widened to a whole size or more: a tab, as a table's gap.
        {"word spacing makes a column gap", "BT /F1 10 Tf 20 Tw (a b) Tj ET", "a\tb\r\n"},
        {"a scaled text matrix", "BT /F1 10 Tf 2 0 0 2 0 0 Tm (ab) Tj 0 -2 Td (c) Tj ET", "abc\r\n"},
        {"text turned by cm", "0 1 -1 0 300 0 cm BT /F1 10 Tf (ab) Tj 15 0 Td (c) Tj 0 -14 Td (d) Tj ET",
            "ab c\r\nd\r\n"},
        {"two text objects on one line", "BT /F1 10 Tf (a) Tj ET BT /F1 10 Tf 5 0 Td (b) Tj ET", "ab\r\n"},
        {"two text objects on two lines", "BT /F1 10 Tf 0 20 Td (a) Tj ET BT /F1 10 Tf (b) Tj ET", "a\r\nb\r\n"},
        {"a character printed over itself", "BT /F1 10 Tf (Bold) Tj ET BT /F1 10 Tf 0.3 0 Td (Bold) Tj ET", "Bold\r\n"},
        {"q and Q keep the font", "BT /F1 10 Tf (a) Tj q /F1 30 Tf Q 0 -14 Td (b) Tj ET", "a\r\nb\r\n"},
        {"an escaped parenthesis", "BT /F1 10 Tf (a\\)b) Tj ET", "a)b\r\n"},
        {"escapes and octal codes", "BT /F1 10 Tf (a\\\\b\\101\\nc) Tj ET", "a\\bAc\r\n"},
        {"a hex string", "BT /F1 10 Tf <48 65 6C6C 6F> Tj ET", "Hello\r\n"},
        {"text outside BT and ET", "(x) Tj BT /F1 10 Tf (y) Tj ET (z) Tj", "y\r\n"},
        {"BT not between whitespace", "xBT (y) Tj ET BTx (z) Tj ET", ""},
        {"operators inside a string", "BT /F1 10 Tf ( ET ) Tj ( BT ) Tj ET", "ET BT\r\n"},
        {"control bytes dropped, PDFDoc characters", "BT /F1 10 Tf (a\x01\t\xe9\xff\x80\x93) Tj ET",
            "a\xc3\xa9\xc3\xbf\xe2\x80\xa2" "fi\r\n"},
        {"an inline image skipped", "BT /F1 10 Tf (a) Tj ET BI /W 2 /H 1 ID \x01(b) Tj EI\x02\n EI BT /F1 10 Tf 5 0 Td (c) Tj ET",
            "ac\r\n"},
        {"a comment", "BT /F1 10 Tf (a) Tj % (b) Tj\n(c) Tj ET", "ac\r\n"},
        {"no font size: any move counts", "BT (a) Tj 10 0 TD (b) Tj 0 -1 Td (c) Tj ET", "a\tb\r\nc\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContentText(c.content, false), c.text);
        // The same fed a byte at a time: a token cut between pieces waits
        // for the rest.
        EXPECT_EQ(ContentText(c.content, true), c.text);
    }
}

TEST(PdfFilters, DecodeTheFiltersOfContentStreams)
{
    const std::string text = "BT (Hello) Tj ET";
    struct Case {
        const char* name;
        std::string data;
        std::string filter;
        std::string decoded;
        TPdfDecodeResult result;
    } cases[] = {
        {"deflate", Deflate(text), "FlateDecode", text, TPdfDecodeResult::Ok},
        {"deflate with bytes after its end", Deflate(text) + "\r\n%%", "FlateDecode", text, TPdfDecodeResult::Ok},
        {"no zlib data", "plain text", "FlateDecode", "", TPdfDecodeResult::Damaged},
        {"hex, spaces and an odd digit", "48 65 6c6C6f2\n>ignored", "ASCIIHexDecode", "Hello ", TPdfDecodeResult::Ok},
        {"ASCII85 with z and a short last group", "z87cURD]j7B\nEbo7~>", "ASCII85Decode",
            std::string(4, '\0') + "Hello world", TPdfDecodeResult::Ok},
        {"run length", std::string("\x04Hello\xfe!\x80", 9), "RunLengthDecode", "Hello!!!", TPdfDecodeResult::Ok},
        // Codes 256, 65, 66, 258, 260 (known only as it is made), 257.
        {"LZW, a code before the table holds it", std::string("\x80\x10\x48\x50\x28\x24\x04", 7), "LZWDecode",
            "ABABABA", TPdfDecodeResult::Ok},
        {"a picture", "\xff\xd8\xff\xe0", "DCTDecode", "", TPdfDecodeResult::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPdfDecodeResult r;
        EXPECT_EQ(Decode(c.data, c.filter, &r), c.decoded);
        EXPECT_EQ(r, c.result);
    }
    // Deflate cut short gives what came before the cut.
    const std::string longer = text + " BT (" + std::string(3000, 'x') + ") Tj ET";
    TPdfDecodeResult r;
    const std::string part = Decode(Deflate(longer).substr(0, 12), "FlateDecode", &r);
    EXPECT_EQ(r, TPdfDecodeResult::Damaged);
    EXPECT_FALSE(part.empty());
    EXPECT_EQ(longer.substr(0, part.size()), part);
    // LZW over a long text: every code width and a cleared table.
    std::mt19937 rng(3);
    std::string longText;
    for (int i = 0; i < 60000; ++i)
        longText += static_cast<char>('a' + rng() % (i % 7 == 0 ? 26 : 3));
    EXPECT_TRUE(Decode(LzwEncode(longText), "LZWDecode") == longText);
}

TEST(PdfFilters, APngPredictorAndAChainOfFilters)
{
    // Rows of three bytes, each with its filter type: Sub, Up, Average, Paeth.
    const std::string rows = std::string("\x01\x01\x01\x01", 4) + std::string("\x02\x01\x01\x01", 4)
        + std::string("\x03\x00\x00\x00", 4) + std::string("\x04\x01\x00\x00", 4);
    auto parms = std::make_shared<TPdfDict>();
    parms->emplace_back("Predictor", TPdfObject::MakeNumber(12));
    parms->emplace_back("Columns", TPdfObject::MakeNumber(3));
    TPdfObject parmsObject;
    parmsObject.Kind = TPdfObject::TKind::Dict;
    parmsObject.Dict = parms;
    std::string out;
    const auto sink = [&](const std::uint8_t* d, std::size_t n) {
        out.append(reinterpret_cast<const char*>(d), n);
        return true;
    };
    EXPECT_EQ(DecodePdfStream(Deflate(rows), TPdfObject::MakeName("FlateDecode"), parmsObject, sink), TPdfDecodeResult::Ok);
    EXPECT_EQ(out, std::string("\x01\x02\x03\x02\x03\x04\x01\x02\x03\x02\x02\x03", 12));

    // ASCII85 over deflate, as ghostscript writes pages.
    TPdfObject chain;
    chain.Kind = TPdfObject::TKind::Array;
    chain.Array = std::make_shared<TPdfArray>(TPdfArray {TPdfObject::MakeName("AHx"), TPdfObject::MakeName("Fl")});
    std::string hex;
    for (unsigned char c : Deflate("BT (x) Tj ET")) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    out.clear();
    EXPECT_EQ(DecodePdfStream(hex + ">", chain, PdfNull(), sink), TPdfDecodeResult::Ok);
    EXPECT_EQ(out, "BT (x) Tj ET");
    // The sink stops the decoding.
    int pieces = 0;
    EXPECT_EQ(DecodePdfStream(std::string(200000, 'x'), PdfNull(), PdfNull(),
                  [&](const std::uint8_t*, std::size_t) { return ++pieces < 2; }),
        TPdfDecodeResult::Stopped);
    EXPECT_EQ(pieces, 2);
}

TEST(PdfBlocks, LooseBlocksAreWalkedAndThoseWithoutTextSkipped)
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

TEST(PdfBlocks, ABlockThatInflatesFarBeyondItsSizeGivesAllItsText)
{
    // A listing compresses far better than ten to one; all of it is read.
    std::string listing = "BT /F1 10 Tf 12 TL\n";
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        listing += "(line of the listing) ' ";
        expected += "line of the listing\r\n";
    }
    listing += "ET\n";
    const std::string deflated = Deflate(listing);
    ASSERT_GT(listing.size(), 100 * deflated.size());
    TPdfTextResult result;
    EXPECT_TRUE(Extract(Block(deflated), &result) == expected);
    EXPECT_FALSE(result.Cut);

    // The text of one block, and its decoded size, have a limit: what lies
    // beyond is left out and said so; the next block is read.
    TPdfContentLimits limits;
    limits.MaxText = 1000;
    const std::string two = Block(deflated) + Block(Deflate("BT (next) Tj ET\n"));
    const std::string text = Extract(two, &result, limits);
    EXPECT_TRUE(result.Cut);
    EXPECT_GE(text.size(), 1000u);
    EXPECT_LT(text.size(), 1100u);
    EXPECT_EQ(text.substr(text.size() - 6), "next\r\n");
    limits = {};
    limits.MaxContent = 24 * 1024;
    EXPECT_EQ(Extract(two, &result, limits).substr(0, 21), "line of the listing\r\n");
    EXPECT_TRUE(result.Cut);
}

namespace {

// The text pdftotext gives, in UTF-8.
std::string Pdftotext(const std::string& file) { return RunCommand("pdftotext -enc UTF-8 '" + file + "' - 2>/dev/null"); }

} // namespace

TEST(PdfDocuments, TheWordsAndLinesOfRealDocumentsAreThoseOfPdftotext)
{
    struct Case {
        const char* file;
        // Our text; pdftotext's has the same words, in these lines unless it
        // sets columns apart.
        std::string text;
    } cases[] = {
        {"cases.pdf", kCasesText},
        {"cases_objstm.pdf", kCasesText},
        {"cases_plain.pdf", kCasesText},
        {"encodings.pdf",
            "WinAnsi: Caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac 5 na\xc3\xafve\r\n"
            "MacRoman: Caf\xc3\xa9 na\xc3\xafve \xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x80\xa2 x\r\n"
            "Standard: it\xe2\x80\x99s \xe2\x80\x9c" "fine\xe2\x80\x9d \xe2\x80\x94 dash fine\r\n"
            "Differences: \xc3\xa9t\xc3\xa9 file \xe2\x86\x92 \xe2\x82\xac\r\n"},
        {"groff_man.pdf",
            "CAFE(1)\tTest Manual\tCAFE(1)\r\nNAME\r\ncaf\xc3\xa9 \xe2\x88\x92 a test of the \xc3\xa9mission\r\n"
            "DESCRIPTION\r\nHello world, this is a test of the \xc3\xa9mission. Line two of the paragraph goes on and "
            "on so that it wraps onto a\r\nsecond line of output text in the PDF.\r\n\"Quotes\" and na\xc3\xafve "
            "fa\xc3\xa7" "ade \xe2\x80\x94 dashes \xe2\x80\x93 fi ligature office.\r\nName\tCount\tPrice\r\n"
            "apples\t12\t0.50\r\npears\t7\t1.25\r\ntest\t2024\t1\r\n"},
        {"writer.pdf",
            "Caf\xc3\xa9 au lait, na\xc3\xafve fa\xc3\xa7" "ade.\r\nSecond paragraph with \xe2\x80\x9cquotes\xe2\x80\x9d "
            "\xe2\x80\x94 and a dash \xe2\x80\x93 ok.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = kFixtures + c.file;
        const std::string text = Extract(Slurp(file));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(Words(text), Words(Pdftotext(file)));
    }
    // The ASCII85 copy of the groff page reads the same; the listing, whose
    // content inflates more than ten times, gives every line.
    EXPECT_EQ(Extract(Slurp(kFixtures + "groff_man_ascii85.pdf")), Extract(Slurp(kFixtures + "groff_man.pdf")));
    const std::string listing = Extract(Slurp(kFixtures + "groff_listing.pdf"));
    EXPECT_EQ(Words(listing), Words(Pdftotext(kFixtures + "groff_listing.pdf")));
    for (int i = 1; i <= 50; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "\r\nentry %03d: the same words on every line of the listing\r\n", i);
        EXPECT_NE(listing.find(line), std::string::npos) << line;
    }
}

TEST(PdfDocuments, AnEncryptedDocumentIsNotReadAsPlainStreams)
{
    for (const char* name : {"cases_password.pdf", "cases_restricted.pdf"}) {
        SCOPED_TRACE(name);
        TPdfTextResult result;
        EXPECT_EQ(Extract(Slurp(kFixtures + name), &result), "");
        EXPECT_TRUE(result.Encrypted);
    }
}

namespace {

class PdfTextForm : public ToolFormTest<TfrmPDF> {
protected:
    void Extract(const std::string& input, const std::string& output) { Run(form->Button1, input, output); }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked)
            out.push_back(a.kind == "input" ? "asked " + a.caption : a.text);
        return out;
    }
};

} // namespace

TEST_F(PdfTextForm, WritesTheTextOfRealPdfFiles)
{
    for (const char* name : {"cases.pdf", "cases_objstm.pdf", "cases_plain.pdf"}) {
        SCOPED_TRACE(name);
        prompts->asked.clear();
        dir.Write("out.txt", "an older text");
        Extract(kFixtures + name, dir.Path("out.txt"));
        EXPECT_EQ(Messages(), std::vector<std::string> {"Extract OK!"});
        EXPECT_EQ(dir.Read("out.txt"), kCasesText);
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.txt"});
}

TEST_F(PdfTextForm, AnEncryptedDocumentIsReadWithItsPassword)
{
    struct Case {
        const char* name;
        const char* file;
        const char* viewerPassword;          // the viewer shows the file with it; null: it shows another file
        std::vector<std::string> answers;    // typed into the password question
        std::vector<std::string> messages;
        bool written;
    } cases[] = {
        {"the viewer's password", "cases_password.pdf", "secret", {}, {"Extract OK!"}, true},
        {"an empty user password", "cases_restricted.pdf", nullptr, {}, {"Extract OK!"}, true},
        {"another file: the password asked for", "cases_password.pdf", nullptr, {"secret"},
            {"asked PASSWORD", "Extract OK!"}, true},
        {"a wrong password", "cases_password.pdf", nullptr, {"wrong"},
            {"asked PASSWORD", "The PDF file is encrypted and the password does not open it: no text was extracted."},
            false},
        {"the question cancelled", "cases_password.pdf", nullptr, {},
            {"asked PASSWORD", "The PDF file is encrypted and the password does not open it: no text was extracted."},
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompts->asked.clear();
        dir.Write("out.txt", "an older text");
        const std::string file = kFixtures + c.file;
        form->SetViewerDocument(c.viewerPassword ? file : kFixtures + "cases.pdf", c.viewerPassword ? c.viewerPassword : "");
        for (const std::string& a : c.answers)
            prompts->PushText(a);
        if (c.answers.empty())
            prompts->PushCancel();
        Extract(file, dir.Path("out.txt"));
        EXPECT_EQ(Messages(), c.messages);
        const std::string text = dir.Read("out.txt");
        if (c.written) {
            // Through the PDF library: the same words, its own layout.
            EXPECT_EQ(Words(text), Words(kCasesText));
            EXPECT_NE(text.find("Hello World\r\n"), std::string::npos);
        } else {
            EXPECT_EQ(text, "an older text");
        }
        prompts->answers.clear();
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.txt"});
}

TEST_F(PdfTextForm, ARunThatFindsNoTextSaysSoAndWritesNothing)
{
    dir.Write("empty.pdf", "");
    dir.Write("pictures.pdf", "%PDF-1.4\n" + Block(Deflate("q 10 0 0 10 0 0 cm /Im1 Do Q\n")) + "%%EOF\n");
    for (const char* name : {"empty.pdf", "pictures.pdf"}) {
        SCOPED_TRACE(name);
        prompts->asked.clear();
        dir.Write("out.txt", "an older text");
        Extract(dir.Path(name), dir.Path("out.txt"));
        EXPECT_EQ(Messages(), std::vector<std::string> {"No text was found in the PDF file: no text file was written."});
        EXPECT_EQ(dir.Read("out.txt"), "an older text");
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string> {"empty.pdf", "out.txt", "pictures.pdf"}));
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
}

TEST_F(PdfTextForm, AWriteFailureIsReportedAndKeepsTheOlderText)
{
    dir.Write("out.txt", "an older text");
    WithEachKindOfTemporaryFile([&] {
        prompts->asked.clear();
        {
            const FileSizeLimit full(10);
            Extract(kFixtures + "cases.pdf", dir.Path("out.txt"));
        }
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("Unable to write the output file!", 0), 0u) << messages[0];
        EXPECT_EQ(dir.Read("out.txt"), "an older text");
        EXPECT_EQ(dir.Names(), std::vector<std::string> {"out.txt"});
    });
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
    // The small document often; the two of real writers, with their fonts
    // and character maps, fewer times (each pass reads all of them).
    for (const auto& [name, rounds] : {std::pair {"cases.pdf", 300}, {"groff_man.pdf", 25}, {"writer.pdf", 25}}) {
        SCOPED_TRACE(name);
        const std::string pdf = Slurp(kFixtures + name);
        RunMutatedInputs("pdf-text-fuzz-last.bin", pdf, pdf.size(), 6, rounds, 20261211, [](const std::string& bytes) {
            PdfTextFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        });
    }
}
