// The text of PDF content streams: an interpreter of the text, state and
// XObject operators that follows where each character is drawn, and a
// layout that turns those places into lines and word gaps the way readers
// of the page see them.
#pragma once

#include "pdffont.h"
#include "pdfobjects.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TPdfDocument;

struct TPdfPoint {
    double X = 0;
    double Y = 0;
};

// Turns drawn characters into lines of UTF-8 text with CR LF line ends.
//
// A character whose baseline lies more than half the font size away from
// the last one's starts a new line (the text moved down a line, by any
// operator); along the line, a gap of more than a tenth of the font size
// between the end of one character and the start of the next is a word
// space, a gap of a whole font size or more a tab. A character drawn again
// where it stands (bold made by overprinting) is written once. Ligatures
// are written as their letters.
class TPdfTextLayout {
public:
    // Text goes to sink in pieces; the sink answers false to stop.
    explicit TPdfTextLayout(std::function<bool(std::string_view)> sink);
    ~TPdfTextLayout();

    // One character: its text (empty when the font does not say), where it
    // starts and ends on the page, the font size there and the direction
    // of the line (of length 1, or 0 when unknown).
    void Glyph(std::u32string_view text, const TPdfPoint& start, const TPdfPoint& end, double size, TPdfPoint direction);
    // Ends the line and hands on what is held. The next character starts a
    // line of its own.
    void EndBlock();
    // The bytes of text handed on so far, and whether the sink asked to stop.
    std::uint64_t Written() const { return m_written; }
    bool Stopped() const { return m_stopped; }

private:
    void Write(std::u32string_view text);
    void Separate(char separator);
    void NewLine();
    void Flush();

    std::function<bool(std::string_view)> m_sink;
    std::string m_pending;
    std::uint64_t m_written = 0;
    bool m_stopped = false;
    bool m_hasLast = false;
    bool m_lineEmpty = true;
    char m_lastWritten = 0;
    TPdfPoint m_lastEnd, m_lastDirection {1, 0};
    double m_lastSize = 0;
    // The last characters written, to find one drawn twice at one place.
    struct TRecent {
        char32_t Char = 0;
        TPdfPoint Start;
    };
    std::array<TRecent, 8> m_recent;
    std::size_t m_recentNext = 0;
    std::size_t m_recentCount = 0;
};

// Limits of one content stream: its decoded bytes and the text it gives.
struct TPdfContentLimits {
    std::uint64_t MaxContent = 256u << 20;
    std::uint64_t MaxText = 16u << 20;
};

// Runs the content streams of a page (or any content) through the layout.
class TPdfContentReader {
public:
    TPdfContentReader(const TPdfDocument* document, TPdfTextLayout& layout, const TPdfObject& resources,
        TPdfContentLimits limits = {});
    ~TPdfContentReader();
    TPdfContentReader(const TPdfContentReader&) = delete;
    TPdfContentReader& operator=(const TPdfContentReader&) = delete;

    // Reads a content stream of the document; the streams of one page are
    // read one after the other as one content.
    void ReadStream(const TPdfObject& stream);
    // Reads content bytes that come in pieces; last ends them.
    bool Feed(const std::uint8_t* data, std::size_t size, bool last);

    // Some content was left out: a stream decoded to more than MaxContent
    // bytes or gave more than MaxText bytes of text.
    bool Cut() const { return m_cut; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> m;
    bool m_cut = false;
};
