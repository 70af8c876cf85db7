// The text of the large text view: lines, characters and positions against a
// plain scan of the same bytes, edits and undo against a string, files read
// whole, converted from UTF-16 or read from the disk as needed, and files
// that change while they are read.
#include "test_support/read_hooks.h"
#include "rtl/unicode.h"
#include "test_support/temp_dir.h"
#include "vcl/textdoc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

constexpr std::int64_t kChunk = TTextDocument::kChunkBytes;

// Where each line starts: 0, and after every CR LF, CR or LF.
std::vector<std::int64_t> LineStarts(const std::string& t)
{
    std::vector<std::int64_t> starts {0};
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')
            ++i;
        if (t[i] == '\r' || t[i] == '\n')
            starts.push_back(static_cast<std::int64_t>(i) + 1);
    }
    return starts;
}

// The character boundaries of the text as the view decodes it, with the
// characters before each (a 4-byte sequence counting 2).
struct Boundaries {
    std::vector<std::int64_t> at;
    std::vector<std::int64_t> chars;
};

Boundaries CharBoundaries(const std::string& t)
{
    Boundaries b;
    std::int64_t pos = 0, chars = 0;
    ForEachViewChar(t, [&](char32_t ch, std::size_t len) {
        b.at.push_back(pos);
        b.chars.push_back(chars);
        pos += static_cast<std::int64_t>(len);
        chars += ch >= 0x10000 ? 2 : 1;
    });
    b.at.push_back(pos);
    b.chars.push_back(chars);
    return b;
}

// Checks the document against the text, at every position of a small text
// and around every chunk boundary and at a sample of places of a large one.
void ExpectSameText(const TTextDocument& doc, const std::string& t)
{
    ASSERT_EQ(doc.Size(), static_cast<std::int64_t>(t.size()));
    ASSERT_EQ(doc.Bytes(0, doc.Size()), t);
    const std::vector<std::int64_t> starts = LineStarts(t);
    ASSERT_EQ(doc.LineCount(), static_cast<std::int64_t>(starts.size()));
    std::vector<std::int64_t> lines;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(starts.size()); i += starts.size() > 400 ? 37 : 1)
        lines.push_back(i);
    lines.push_back(static_cast<std::int64_t>(starts.size()) - 1);
    for (std::int64_t line : lines) {
        EXPECT_EQ(doc.LineStart(line), starts[static_cast<std::size_t>(line)]) << "line " << line;
        const std::int64_t next = line + 1 < static_cast<std::int64_t>(starts.size())
            ? starts[static_cast<std::size_t>(line) + 1]
            : static_cast<std::int64_t>(t.size());
        std::int64_t end = next;
        if (line + 1 < static_cast<std::int64_t>(starts.size()))
            end = next >= 2 && t[static_cast<std::size_t>(next) - 2] == '\r' && t[static_cast<std::size_t>(next) - 1] == '\n'
                ? next - 2
                : next - 1;
        EXPECT_EQ(doc.LineEnd(line), end) << "line " << line;
    }
    const Boundaries b = CharBoundaries(t);
    std::vector<std::size_t> picks;
    if (b.at.size() < 3000) {
        for (std::size_t k = 0; k < b.at.size(); ++k)
            picks.push_back(k);
    } else {
        std::mt19937 rng(5);
        for (int k = 0; k < 400; ++k)
            picks.push_back(rng() % b.at.size());
        for (std::size_t k = 0; k < b.at.size(); ++k)
            if (b.at[k] % kChunk < 6 || b.at[k] % kChunk > kChunk - 6)
                picks.push_back(k);
    }
    for (std::size_t k : picks) {
        const std::int64_t pos = b.at[k];
        // A CR LF is one place: no position between its two bytes.
        if (pos > 0 && pos < static_cast<std::int64_t>(t.size()) && t[static_cast<std::size_t>(pos) - 1] == '\r'
            && t[static_cast<std::size_t>(pos)] == '\n')
            continue;
        const auto line = std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin() - 1;
        EXPECT_EQ(doc.LineOf(pos), line) << "pos " << pos;
        EXPECT_EQ(doc.Chars(0, pos), b.chars[k]) << "pos " << pos;
        EXPECT_EQ(doc.CharStart(pos), pos) << "pos " << pos;
        if (k + 1 < b.at.size()) {
            const std::int64_t next = b.at[k + 1];
            const bool pair = t[static_cast<std::size_t>(pos)] == '\r' && next < static_cast<std::int64_t>(t.size())
                && t[static_cast<std::size_t>(next)] == '\n';
            EXPECT_EQ(doc.NextChar(pos), pair ? next + 1 : next) << "pos " << pos;
            if (next - pos > 1) {
                EXPECT_EQ(doc.CharStart(next - 1), pos) << "inside the character at " << pos;
            }
        }
        const bool afterPair = pos >= 2 && t[static_cast<std::size_t>(pos) - 1] == '\n'
            && t[static_cast<std::size_t>(pos) - 2] == '\r';
        if (k > 0 && !afterPair) {
            EXPECT_EQ(doc.PrevChar(pos), b.at[k - 1]) << "pos " << pos;
        }
    }
}

// A text of several chunks whose chunk boundaries fall between the CR and
// the LF of a pair, inside a 3-byte and a 4-byte character, on a lone CR and
// among bytes that are no text.
std::string ChunkyText()
{
    std::string t;
    auto fillTo = [&](std::int64_t size) {
        while (static_cast<std::int64_t>(t.size()) < size)
            t += "word ";
        t.resize(static_cast<std::size_t>(size));
    };
    fillTo(kChunk - 1);
    t += "\r\n";
    fillTo(2 * kChunk - 1);
    t += "\xE2\x82\xAC";  // the euro sign across the second boundary
    fillTo(3 * kChunk - 2);
    t += "\xF0\x9F\x98\x80";  // an emoji across the third
    fillTo(4 * kChunk - 1);
    t += "\r";
    t += std::string("\0\x01\x7F\xFF\xC0\x80\xED\xA0\x80 end\n", 14);
    fillTo(5 * kChunk + 11);
    t += "\n\n\rlast";
    return t;
}

} // namespace

TEST(TextDocument, LinesPositionsAndCharactersAgreeWithAPlainScan)
{
    const std::string cases[] = {
        "",
        "a",
        "a\n",
        "\r\n",
        "\n\n",
        "one\rtwo\r\nthree\nfour\r",
        std::string("nul\0and\x01\x7F\xFF\xC3", 11),
        "caf\xC3\xA9 \xF0\x9F\x98\x80\r\n\xE2\x82\xAC",
        ChunkyText(),
    };
    for (const std::string& t : cases) {
        SCOPED_TRACE(t.size() < 40 ? t : "chunky text");
        TTextDocument doc;
        doc.SetText(t);
        EXPECT_TRUE(doc.Editable());
        ExpectSameText(doc, t);
    }
}

TEST(TextDocument, EditsAndUndoAgreeWithAString)
{
    std::string model = ChunkyText();
    TTextDocument doc;
    doc.SetText(model);
    std::vector<std::string> history;
    std::mt19937 rng(11);
    const std::string pieces[] = {"x", "\r\n", "\n", "\r", "\xC3\xA9", "\xF0\x9F\x98\x80", "", "two words",
        std::string(70000, 'q') + "\n"};
    for (int step = 0; step < 150; ++step) {
        SCOPED_TRACE(step);
        if (!history.empty() && rng() % 5 == 0) {
            std::int64_t from = 0, to = 0;
            ASSERT_TRUE(doc.Undo(from, to));
            model = history.back();
            history.pop_back();
        } else {
            const std::int64_t size = doc.Size();
            std::int64_t a = doc.CharStart(static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(size + 1)));
            std::int64_t b = rng() % 3 == 0 ? a : doc.CharStart(std::min<std::int64_t>(size, a + rng() % 200000));
            const std::string& text = pieces[rng() % std::size(pieces)];
            // An edit that changes nothing leaves no undo step.
            if (a != b || !text.empty())
                history.push_back(model);
            doc.Replace(a, b, text);
            model.replace(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a), text);
        }
        ASSERT_EQ(doc.Size(), static_cast<std::int64_t>(model.size()));
        if (step % 15 == 0)
            ExpectSameText(doc, model);
    }
    ExpectSameText(doc, model);
    EXPECT_TRUE(doc.Modified());

    // Typing at one place is undone as one edit.
    doc.SetText("abc");
    doc.Replace(1, 1, "x", true);
    doc.Replace(2, 2, "y", true);
    doc.Replace(3, 3, "z", true);
    EXPECT_EQ(doc.Bytes(0, doc.Size()), "axyzbc");
    std::int64_t from = 0, to = 0;
    ASSERT_TRUE(doc.Undo(from, to));
    EXPECT_EQ(doc.Bytes(0, doc.Size()), "abc");
    EXPECT_FALSE(doc.CanUndo());
}

// Removing what stood between a lead byte and its continuation bytes makes
// one character of them, however the chunks lay.
TEST(TextDocument, AnEditThatJoinsACharacterAcrossChunksCountsItOnce)
{
    const std::string head(70000, 'a'), tail(70000, 'b');
    std::string model = head + "\xE2" + "Q" + "\x80\xA6" + tail;
    TTextDocument doc;
    doc.SetText(model);
    EXPECT_EQ(doc.Chars(0, doc.Size()), static_cast<std::int64_t>(model.size()));
    const std::int64_t q = static_cast<std::int64_t>(head.size()) + 1;
    doc.Replace(q, q + 1, "");
    model.erase(static_cast<std::size_t>(q), 1);
    ExpectSameText(doc, model);
    EXPECT_EQ(doc.Chars(0, doc.Size()), static_cast<std::int64_t>(head.size() + 1 + tail.size()));
    EXPECT_EQ(doc.NextChar(q - 1), q + 2);
}

TEST(TextDocument, FindsMatchesAcrossChunksFromWhereItIsAsked)
{
    std::string t(3 * kChunk, '.');
    t.replace(static_cast<std::size_t>(kChunk) - 3, 6, "needle");
    t.replace(static_cast<std::size_t>(2 * kChunk) + 10, 6, "needle");
    TTextDocument doc;
    doc.SetText(t);
    EXPECT_EQ(doc.Find("needle", 0), kChunk - 3);
    EXPECT_EQ(doc.Find("needle", kChunk - 3), kChunk - 3);
    EXPECT_EQ(doc.Find("needle", kChunk - 2), 2 * kChunk + 10);
    EXPECT_EQ(doc.Find("needle", 2 * kChunk + 11), -1);
    EXPECT_EQ(doc.Find("Needle", 0), -1);
    EXPECT_EQ(doc.Find("", 0), -1);
}

TEST(TextDocument, WritesItsBytesOrTheTextAsShown)
{
    TTextDocument doc;
    doc.SetText(std::string("a\0b\xFF\t\r\n", 7));
    EXPECT_TRUE(doc.HasStandIns());
    std::string bytes, shown;
    doc.WriteTo([&](std::string_view s) { bytes += s; }, false);
    doc.WriteTo([&](std::string_view s) { shown += s; }, true);
    EXPECT_EQ(bytes, std::string("a\0b\xFF\t\r\n", 7));
    EXPECT_EQ(shown, "a\xE2\x90\x80" "b\xEF\xBF\xBD\t\r\n");
}

namespace {

// Text of many lines with characters of every length and CR LF pairs, some
// of them across the reader's first and later reads.
std::string FileText(std::size_t size)
{
    std::string t;
    std::mt19937 rng(3);
    const char* words[] = {"alpha ", "\xC3\xA9t\xC3\xA9 ", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\r\n", "\n", "tab\t"};
    while (t.size() < size)
        t += words[rng() % std::size(words)];
    t.resize(size);
    return t;
}

std::string Utf16Le(const std::u16string& s)
{
    std::string out("\xFF\xFE", 2);
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

} // namespace

TEST(TextDocument, LoadsFilesWholeConvertedOrFromTheDisk)
{
    TempDir dir;
    const std::string text = FileText(5 * 1024 * 1024 + 333);
    dir.Write("utf8.txt", text);
    // A surrogate pair across the reader's first read (256 KB after the
    // byte order mark), and an odd last byte, which is dropped.
    std::u16string wide = u"A";
    while (wide.size() < 200000)
        wide += u"\U0001F600 line\r\n";
    dir.Write("utf16.txt", Utf16Le(wide) + "x");
    std::string expected16 = Utf16ToUtf8(wide);
    struct Case {
        const char* name;
        bool detect;
        std::int64_t maxHeld;
        TTextDocState state;
        std::string expected;
        bool utf16;
    } cases[] = {
        {"utf8.txt", true, TTextDocument::kMaxHeldBytes, TTextDocState::Complete, text, false},
        {"utf8.txt", true, 1024 * 1024, TTextDocState::OnDemand, text, false},
        {"utf16.txt", true, TTextDocument::kMaxHeldBytes, TTextDocState::Complete, expected16, true},
        {"utf16.txt", true, 1024, TTextDocState::OnDemand, expected16, true},
        {"utf16.txt", false, TTextDocument::kMaxHeldBytes, TTextDocState::Complete, Utf16Le(wide) + "x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.maxHeld < 4096 ? " from the disk" : ""));
        TTextDocument doc;
        ASSERT_TRUE(doc.Load(dir.Path(c.name), c.detect, {}, c.maxHeld));
        doc.WaitLoaded();
        EXPECT_FALSE(doc.Reading());
        EXPECT_EQ(doc.State(), c.state);
        EXPECT_EQ(doc.Editable(), c.state == TTextDocState::Complete);
        EXPECT_EQ(doc.FromUtf16(), c.utf16);
        EXPECT_EQ(doc.Reason().empty(), c.state == TTextDocState::Complete);
        ASSERT_EQ(doc.Bytes(0, doc.Size()), c.expected);
        const std::vector<std::int64_t> starts = LineStarts(c.expected);
        ASSERT_EQ(doc.LineCount(), static_cast<std::int64_t>(starts.size()));
        for (std::size_t line = 0; line < starts.size(); line += starts.size() / 50 + 1) {
            EXPECT_EQ(doc.LineStart(static_cast<std::int64_t>(line)), starts[line]) << "line " << line;
        }
        EXPECT_EQ(doc.Chars(0, doc.Size()), CharBoundaries(c.expected).chars.back());
        // A document read from the disk is never changed.
        if (c.state != TTextDocState::Complete) {
            doc.Replace(0, 1, "changed");
            EXPECT_EQ(doc.Bytes(0, 3), c.expected.substr(0, 3));
        }
    }
    TTextDocument missing;
    EXPECT_FALSE(missing.Load(dir.Path("missing.txt"), true, {}));
    EXPECT_EQ(missing.State(), TTextDocState::Empty);
}

// The file is cut short after its first read: the document keeps what was
// read before, says why, and cannot be changed; one read from the disk as
// it is shown shows zero bytes where the file no longer reaches.
TEST(TextDocument, AFileCutShortWhileItIsReadShowsThePartReadBefore)
{
    TempDir dir;
    const std::string text = FileText(6 * 1024 * 1024);
    const std::string path = dir.Path("shrinks.txt");
    for (const bool hold : {true, false}) {
        SCOPED_TRACE(hold ? "held" : "from the disk");
        dir.Write("shrinks.txt", text);
        const CutShortOnRead cut(path, 0, 1000);
        TTextDocument doc;
        ASSERT_TRUE(doc.Load(path, true, {}, hold ? TTextDocument::kMaxHeldBytes : 4096));
        doc.WaitLoaded();
        EXPECT_EQ(doc.State(), TTextDocState::Failed);
        EXPECT_NE(doc.Reason().find("changed while it was read"), std::string::npos) << doc.Reason();
        EXPECT_FALSE(doc.Editable());
        ASSERT_GT(doc.Size(), 200 * 1024);
        ASSERT_LE(doc.Size(), 256 * 1024);
        if (hold) {
            EXPECT_EQ(doc.Bytes(0, doc.Size()), text.substr(0, static_cast<std::size_t>(doc.Size())));
        } else {
            EXPECT_EQ(doc.Bytes(0, 1000), text.substr(0, 1000));
            EXPECT_EQ(doc.Bytes(100000, 100010), std::string(10, '\0'));
            EXPECT_TRUE(doc.ChangedOnDisk());
        }
    }
}
