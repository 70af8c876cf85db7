#include "archive/zadtextmark.h"

#include "archive/zadgbls.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

const std::string_view kBase64Marker = "Content-Transfer-Encoding: Base64";
// A file is carried as an attachment, or inline (as mpack writes it).
const std::string_view kDispositions[] = {"Content-Disposition: attachment; filename=\"",
                                          "Content-Disposition: inline; filename=\""};
const std::string_view kBeginBase64 = "begin-base64 ";
// The xxencode alphabet: a character's place is its 6-bit value.
const std::string_view kXXAlphabet = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool StartsNoCase(const char* p, std::int32_t avail, std::string_view text)
{
    return avail >= static_cast<std::int32_t>(text.size()) && SameText(std::string_view(p, text.size()), text);
}

std::int32_t NextLine(const char* buf, std::int32_t n, std::int32_t i)
{
    const void* nl = std::memchr(buf + i, '\n', static_cast<size_t>(n - i));
    return nl ? static_cast<std::int32_t>(static_cast<const char*>(nl) - buf) + 1 : n;
}

// The name behind a "begin" marker: after the mode, which ends at a blank.
// False when the line names no file.
bool NameAfterMode(const char* buf, std::int32_t n, std::int32_t modeAt, std::string& name)
{
    std::int32_t k = modeAt;
    while (k < n && buf[k] != ' ' && buf[k] != '\n')
        ++k;
    if (k >= n || buf[k] != ' ')
        return false;
    int pos = k + 1;
    name.clear();
    if (pos < n && buf[pos] != '\r' && buf[pos] != '\n' && buf[pos] != '\0' && buf[pos] != '"')
        GetFilenameFromBuffer(buf, n, pos, name);
    return !name.empty();
}

using TCountOf = int (*)(char c);

// uuencoded or xxencoded lines: each starts with the count of bytes it
// carries and holds at least the characters that many bytes need; a line of
// no bytes or the line "end" closes the data.
std::int64_t CountedLinesSize(TStream32& stream, std::int64_t from, TCountOf value)
{
    TTextLineReader lines(stream, from);
    std::string line;
    std::int64_t total = 0;
    while (lines.Next(line)) {
        // Blanks are data in uuencoding (the value 0): only "end" is trimmed.
        if (SameText(Trim(line), "end"))
            return total;
        if (line.empty())
            return -1;
        const int count = value(line[0]);
        if (count < 0)
            return -1;
        if (count == 0)
            return total;
        const size_t needed = (static_cast<size_t>(count) * 4 + 2) / 3;
        if (line.size() - 1 < needed)
            return -1;
        for (size_t i = 1; i <= needed; ++i)
            if (value(line[i]) < 0)
                return -1;
        total += count;
    }
    return -1;
}

// Base64 lines: characters of the alphabet with '=' padding. The bytes are
// three quarters of the characters, counted over all lines.
std::int64_t Base64LinesSize(TStream32& stream, std::int64_t from, bool mime)
{
    TTextLineReader lines(stream, from);
    std::string line;
    if (mime) {
        // The part's remaining header lines end at an empty line.
        bool headerEnded = false;
        while (lines.Next(line))
            if (line.empty()) {
                headerEnded = true;
                break;
            }
        if (!headerEnded)
            return -1;
    }
    std::int64_t chars = 0;
    while (lines.Next(line)) {
        if (!mime && line == "====")
            return chars * 3 / 4;
        if (mime && (line.empty() || line.rfind("--", 0) == 0))
            return chars * 3 / 4;
        for (char c : line) {
            if (IsBase64Char(c))
                ++chars;
            else if (c != '=')
                return -1;
        }
    }
    // A MIME part may end with the file; "begin-base64" data needs its "====".
    return mime && !lines.Overlong() ? chars * 3 / 4 : -1;
}

}  // namespace

int UUValue(char c) { return c >= 0x20 && c <= 0x60 ? (c - 0x20) & 0x3F : -1; }

int XXValue(char c)
{
    const size_t i = kXXAlphabet.find(c);
    return i == std::string_view::npos ? -1 : static_cast<int>(i);
}

bool IsBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

TTextLineReader::TTextLineReader(TStream32& stream, std::int64_t from) : m_stream(stream), m_pos(from), m_buffer(65536) {}

bool TTextLineReader::Next(std::string& line)
{
    line.clear();
    bool any = false;
    for (;;) {
        if (m_at == m_len && !Fill())
            return any;  // the last line, without a line end
        const char* p = m_buffer.data() + m_at;
        const void* nl = std::memchr(p, '\n', static_cast<size_t>(m_len - m_at));
        const std::int32_t take = nl ? static_cast<std::int32_t>(static_cast<const char*>(nl) - p) : m_len - m_at;
        line.append(p, static_cast<size_t>(take));
        m_at += take;
        any = true;
        if (line.size() > kMaxTextLine) {
            if (!SkipLongLines) {
                m_overlong = true;
                return false;
            }
            // Passed over up to its line end; the search goes on after it.
            line.clear();
            if (!nl)
                continue;
            ++m_at;
            continue;
        }
        if (nl) {
            ++m_at;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
    }
}

bool TTextLineReader::Fill()
{
    m_at = m_len = 0;
    if (m_stream.Seek(m_pos, soBeginning) != m_pos)
        return false;
    const std::int64_t got = m_stream.Read(m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()));
    if (got <= 0)
        return false;
    m_len = static_cast<std::int32_t>(got);
    m_pos += got;
    return true;
}

TTextMarker FindTextMarker(const char* buf, std::int32_t n, bool needName)
{
    TTextMarker m;
    for (std::int32_t i = 0; i + 3 <= n; i = NextLine(buf, n, i)) {
        const char* p = buf + i;
        const std::int32_t left = n - i;
        if (StartsNoCase(p, left, kBase64Marker)) {
            const std::int32_t j = NextLine(buf, n, i);
            if (!needName)
                return {TTextEncoding::Base64Mime, {}, j};
            const auto named = std::find_if(std::begin(kDispositions), std::end(kDispositions), [&](std::string_view d) {
                return n - j >= static_cast<std::int32_t>(d.size()) + 1 && StartsNoCase(buf + j, n - j, d);
            });
            if (named != std::end(kDispositions)) {
                int pos = j + static_cast<int>(named->size());
                GetFilenameFromBuffer(buf, n, pos, m.name);
                m.kind = TTextEncoding::Base64Mime;
                m.dataStart = NextLine(buf, n, j);
                return m;
            }
            continue;
        }
        TTextEncoding kind = TTextEncoding::None;
        std::int32_t modeAt = 0;
        if (StartsNoCase(p, left, kBeginBase64) && left > static_cast<std::int32_t>(kBeginBase64.size()) &&
            p[kBeginBase64.size()] >= '0' && p[kBeginBase64.size()] <= '7') {
            kind = TTextEncoding::Base64Begin;
            modeAt = i + static_cast<std::int32_t>(kBeginBase64.size());
        } else if (StartsNoCase(p, left, "begin 6") || StartsNoCase(p, left, "begin 7") ||
                   StartsNoCase(p, left, "begin 999 ")) {
            // 999 marks a part of a split ZIP archive.
            kind = TTextEncoding::UU;
            modeAt = i + 6;
        }
        if (kind == TTextEncoding::None)
            continue;
        m.kind = kind;
        m.dataStart = NextLine(buf, n, i);
        if (!NameAfterMode(buf, n, modeAt, m.name) && needName)
            continue;
        return m;
    }
    return {};
}

TArcType TextArcType(TTextEncoding kind)
{
    switch (kind) {
    case TTextEncoding::UU: return atUUE;
    case TTextEncoding::Base64Begin:
    case TTextEncoding::Base64Mime: return atB64;
    default: return atNA;
    }
}

std::int64_t DecodedTextSize(TStream32& stream, std::int64_t dataStart, TTextEncoding kind)
{
    switch (kind) {
    case TTextEncoding::UU: {
        // The same lines read as uuencoded first; a line that does not fit
        // uuencoding sends the file to the xxencode alphabet.
        const std::int64_t uu = CountedLinesSize(stream, dataStart, UUValue);
        return uu >= 0 ? uu : CountedLinesSize(stream, dataStart, XXValue);
    }
    case TTextEncoding::Base64Begin: return Base64LinesSize(stream, dataStart, false);
    case TTextEncoding::Base64Mime: return Base64LinesSize(stream, dataStart, true);
    default: return -1;
    }
}

std::vector<TTextEntry> FindTextEntries(TStream32& stream)
{
    std::vector<TTextEntry> entries;
    TTextLineReader lines(stream, 0);
    lines.SkipLongLines = true;
    std::string line, next;
    bool pending = false;
    std::int64_t lineStart = 0, nextStart = 0;
    for (;;) {
        if (!pending) {
            lineStart = lines.Position();
            if (!lines.Next(line))
                break;
        }
        pending = false;
        std::string text = line + "\n";
        TTextMarker marker = FindTextMarker(text.data(), static_cast<std::int32_t>(text.size()), true);
        if (marker.kind == TTextEncoding::None &&
            FindTextMarker(text.data(), static_cast<std::int32_t>(text.size()), false).kind == TTextEncoding::Base64Mime) {
            // A MIME part's encoding line: the next line names the file.
            nextStart = lines.Position();
            if (!lines.Next(next))
                break;
            text = line + "\n" + next + "\n";
            marker = FindTextMarker(text.data(), static_cast<std::int32_t>(text.size()), true);
            if (marker.kind != TTextEncoding::Base64Mime) {
                line = next;
                lineStart = nextStart;
                pending = true;
                continue;
            }
            marker.dataStart = lines.Position();
        } else if (marker.kind != TTextEncoding::None) {
            marker.dataStart = lines.Position();
        }
        if (marker.kind == TTextEncoding::None)
            continue;
        TTextEntry e;
        e.marker = marker;
        e.markerStart = lineStart;
        e.decodedSize = DecodedTextSize(stream, marker.dataStart, marker.kind);
        entries.push_back(std::move(e));
    }
    return entries;
}
