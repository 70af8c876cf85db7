// Rich Text Format: a reader that turns a document into paragraphs of
// formatted runs, and a writer that turns them back into RTF. Character
// formatting (font, size, bold, italic, underline, strike-out, colour),
// paragraph alignment, tabs and line breaks are kept; pictures, objects and
// other groups the reader does not know are skipped without breaking the
// text. Text is UTF-8; "\'hh" bytes are decoded under the code page of the
// document or of the current font's character set, "\uN" as Unicode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TRtfCharFormat {
    std::string FontName;     // empty: the reader's default font
    int HalfPoints = 24;      // \fsN
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    bool HasColor = false;    // false: the automatic (window text) colour
    std::uint32_t Color = 0;  // 0x00RRGGBB when HasColor
    bool operator==(const TRtfCharFormat&) const = default;
};

struct TRtfRun {
    // UTF-8 text; '\t' a tab, '\n' a line break inside the paragraph.
    std::string Text;
    TRtfCharFormat Format;
    bool operator==(const TRtfRun&) const = default;
};

enum class TRtfAlign { Left, Center, Right, Justify };

struct TRtfParagraph {
    std::vector<TRtfRun> Runs;
    TRtfAlign Align = TRtfAlign::Left;
    bool operator==(const TRtfParagraph&) const = default;
    std::string Text() const;
};

struct TRtfDocument {
    std::vector<TRtfParagraph> Paragraphs;
    // The paragraphs' texts joined with '\n'.
    std::string PlainText() const;
    bool operator==(const TRtfDocument&) const = default;
};

// True when the data starts (after blanks) with "{\rtf".
bool IsRtf(std::string_view data);
// Reads an RTF document. Data that is no RTF is taken as plain UTF-8 text,
// one paragraph per line, as a rich edit loads it. Damaged RTF (unbalanced
// groups, cut-off escapes) gives the text read up to the damage. When lossy
// is given it tells whether writing the document back would lose parts of
// the data: pictures, objects, field instructions, headers, footers, notes,
// or the data was no RTF at all.
TRtfDocument ReadRtf(std::string_view data, bool* lossy = nullptr);
// Writes a document as RTF that ReadRtf reads back equal: adjacent runs of
// one format are merged and empty runs dropped, nothing else changes.
std::string WriteRtf(const TRtfDocument& document);
// The document with adjacent equal-format runs merged and empty runs dropped.
TRtfDocument NormalizeRtf(const TRtfDocument& document);
// Bytes in a Windows code page (1252, 936, ...) to UTF-8; unmappable bytes
// become U+FFFD. Code page 65001 is UTF-8 itself.
std::string CodePageToUtf8(std::string_view bytes, int codePage);
