#include "pdftext.h"

#include "rtl/bytesearch.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

constexpr int kWindowSize = 15;
// A block may inflate to at most this many times its own size; the rest is
// taken for a picture or damage.
constexpr std::uint64_t kMaxInflateRatio = 10;
// Inflated data is taken in pieces of this size and turned into text at
// once, so a block never needs its whole inflated size in memory.
constexpr std::size_t kInflatePiece = 64 * 1024;

bool IsWhitespace(char c) { return c == ' ' || c == '\r' || c == '\n'; }
bool IsNumberChar(char c) { return (c >= '0' && c <= '9') || c == '.'; }
// String bytes that are written: printable ASCII and the upper half but
// 0xFF, as they stand (the output need not be UTF-8).
bool IsWritten(std::uint8_t c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

// Where the data of a block starts and ends round its keywords: after
// "stream" and a CR LF or LF, and before a CR LF or LF and "endstream". A
// lone CR stays part of the data.
std::size_t DataStart(std::string_view rest, std::size_t s)
{
    std::size_t start = s + 6;
    if (rest.substr(start, 2) == "\r\n")
        return start + 2;
    if (rest.substr(start, 1) == "\n")
        return start + 1;
    return start;
}

std::size_t DataEnd(std::string_view rest, std::size_t e)
{
    if (e >= 2 && rest.substr(e - 2, 2) == "\r\n")
        return e - 2;
    if (e >= 1 && rest[e - 1] == '\n')
        return e - 1;
    return e;
}

// zlib's stream with its end always called.
class TInflater {
public:
    TInflater() { m_ok = inflateInit(&m_zs) == Z_OK; }
    ~TInflater()
    {
        if (m_ok)
            inflateEnd(&m_zs);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
    bool Ok() const { return m_ok; }
    z_stream& Stream() { return m_zs; }

private:
    z_stream m_zs {};
    bool m_ok = false;
};

} // namespace

float ReadNumberBefore(const TOperatorWindow& window, int k)
{
    int i = k;
    while (i > 0 && window[i] == ' ')
        --i;
    const int last = i;
    while (i > 0 && IsNumberChar(window[i]))
        --i;
    const char* first = window.data() + i + 1;
    const char* end = window.data() + last + 1;
    if (first >= end)
        return -1.0f;
    // Read the same whatever the user's locale: PDF numbers always have a
    // dot. At most 14 characters neither overflow nor underflow a float.
    float value = 0;
    const std::from_chars_result r = std::from_chars(first, end, value, std::chars_format::fixed);
    return r.ec == std::errc() ? value : -1.0f;
}

bool MatchOperator(std::string_view op, const TOperatorWindow& window)
{
    return window[12] == op[0] && window[13] == op[1] && IsWhitespace(window[11]) && IsWhitespace(window[14]);
}

TContentTextWriter::TContentTextWriter() { m_window.fill(' '); }

void TContentTextWriter::Write(const std::uint8_t* bytes, std::size_t count, std::string& out)
{
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t c = bytes[k];
        if (m_inText) {
            if (!m_inString && MatchOperator("TD", m_window)) {
                // The second operand of a text move: down a line, or along it.
                const float y = ReadNumberBefore(m_window, 10);
                if (y > 1.0f)
                    out += "\r\n";
                else if (y < 1.0f)
                    out += '\t';
            }
            if (!m_inString && MatchOperator("ET", m_window)) {
                m_inText = false;
                out += "\r\n";
            } else if (c == '(' && !m_inString && !m_escape) {
                m_inString = true;
                // The number before a string of a TJ array moves it back
                // along the line, in thousandths of the font size.
                const float n = std::trunc(ReadNumberBefore(m_window, 14));
                if (n > 1000)
                    out += '\t';
                else if (n > 100)
                    out += ' ';
            } else if (c == ')' && m_inString && !m_escape) {
                m_inString = false;
            } else if (m_inString) {
                if (c == '\\' && !m_escape) {
                    m_escape = true;
                } else {
                    m_escape = false;
                    if (IsWritten(c))
                        out += static_cast<char>(c);
                }
            }
        }
        std::memmove(m_window.data(), m_window.data() + 1, kWindowSize - 1);
        m_window[kWindowSize - 1] = static_cast<char>(c);
        if (!m_inText && MatchOperator("BT", m_window))
            m_inText = true;
    }
}

bool BlockText(const std::uint8_t* data, std::size_t size, std::string& text)
{
    text.clear();
    TInflater inflater;
    if (!inflater.Ok())
        return false;
    z_stream& zs = inflater.Stream();
    const std::uint64_t limit = kMaxInflateRatio * size;
    std::uint64_t inflated = 0;
    std::size_t fed = 0;
    TContentTextWriter writer;
    std::uint8_t piece[kInflatePiece];
    for (;;) {
        if (zs.avail_in == 0 && fed < size) {
            const std::size_t n = std::min<std::size_t>(size - fed, UINT_MAX);
            zs.next_in = const_cast<Bytef*>(data + fed);
            zs.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        zs.next_out = piece;
        zs.avail_out = sizeof piece;
        const int ret = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = sizeof piece - zs.avail_out;
        inflated += produced;
        if (inflated > limit)
            return false;
        writer.Write(piece, produced, text);
        // A stream that asks for a preset dictionary gives nothing, and
        // counts as read.
        if (ret == Z_STREAM_END || ret == Z_NEED_DICT)
            return true;
        // Z_BUF_ERROR: the data ended before the stream did.
        if (ret != Z_OK)
            return false;
    }
}

void ExtractPdfText(const std::uint8_t* data, std::size_t size, const std::function<void(std::string_view)>& sink)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string text;
    for (;;) {
        const std::size_t s = FindBytes(rest, "stream");
        const std::size_t e = FindBytes(rest, "endstream");
        if (s == std::string_view::npos || e == std::string_view::npos || s >= e)
            return;
        const std::size_t start = DataStart(rest, s);
        const std::size_t end = DataEnd(rest, e);
        // "stream", CR LF, "endstream" puts the start past the end: an
        // empty block, not a negative size.
        if (end > start && BlockText(reinterpret_cast<const std::uint8_t*>(rest.data()) + start, end - start, text)
            && !text.empty())
            sink(text);
        // 7 bytes past the data's end lies inside the word "endstream", past
        // the start of its own "stream": the next search finds the next block.
        rest.remove_prefix(end + 7);
    }
}
