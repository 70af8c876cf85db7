#include "pdfobjects.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Arrays and dictionaries nest at most this deep; deeper ones are read as
// the elements of the last level, so a hostile file cannot exhaust the
// stack.
constexpr int kMaxDepth = 32;

// A number as PDF writes it: an optional sign, digits with at most one dot
// among them. False for anything else ("1.2.3", "-", "e5").
bool ReadPdfNumber(std::string_view text, double& value, bool& integer)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    double whole = 0;
    double fraction = 0;
    double scale = 1;
    bool digits = false;
    bool dot = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (dot) {
                scale /= 10;
                fraction += (c - '0') * scale;
            } else {
                whole = whole * 10 + (c - '0');
            }
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (!digits)
        return false;
    value = whole + fraction;
    if (negative)
        value = -value;
    // Sizes beyond what a double holds exactly are no use anywhere.
    if (!std::isfinite(value))
        value = 0;
    integer = !dot;
    return true;
}

enum class TParse { Ok, End, Cut };

TParse ParseAt(TPdfLexer& lexer, TPdfObject& object, int depth, bool references);

TParse ParseArray(TPdfLexer& lexer, TPdfObject& object, int depth, bool references)
{
    auto array = std::make_shared<TPdfArray>();
    for (;;) {
        const std::size_t at = lexer.Pos();
        const TPdfLexer::TToken t = lexer.Peek();
        if (t == TPdfLexer::TToken::Cut || (t == TPdfLexer::TToken::End && lexer.Partial()))
            return TParse::Cut;
        if (t == TPdfLexer::TToken::End)
            break;
        if (t == TPdfLexer::TToken::ArrayClose) {
            lexer.Next();
            break;
        }
        if (t == TPdfLexer::TToken::DictClose) {
            // A dictionary's end inside an array ends the array too.
            break;
        }
        TPdfObject element;
        const TParse r = ParseAt(lexer, element, depth + 1, references);
        if (r == TParse::Cut || (r == TParse::End && lexer.Partial()))
            return TParse::Cut;
        if (r == TParse::End || lexer.Pos() == at)
            break;
        array->push_back(std::move(element));
    }
    object = TPdfObject {};
    object.Kind = TPdfObject::TKind::Array;
    object.Array = std::move(array);
    return TParse::Ok;
}

TParse ParseDict(TPdfLexer& lexer, TPdfObject& object, int depth, bool references)
{
    auto dict = std::make_shared<TPdfDict>();
    for (;;) {
        const std::size_t at = lexer.Pos();
        const TPdfLexer::TToken t = lexer.Next();
        if (t == TPdfLexer::TToken::Cut || (t == TPdfLexer::TToken::End && lexer.Partial()))
            return TParse::Cut;
        if (t == TPdfLexer::TToken::End || t == TPdfLexer::TToken::DictClose)
            break;
        if (t == TPdfLexer::TToken::ArrayClose) {
            lexer.SetPos(at);
            break;
        }
        if (t != TPdfLexer::TToken::Name)
            continue; // a key that is no name: skipped with its place
        std::string key = lexer.Text();
        TPdfObject value;
        const std::size_t valueAt = lexer.Pos();
        const TPdfLexer::TToken next = lexer.Peek();
        if (next == TPdfLexer::TToken::Cut || (next == TPdfLexer::TToken::End && lexer.Partial()))
            return TParse::Cut;
        if (next == TPdfLexer::TToken::DictClose || next == TPdfLexer::TToken::End) {
            dict->emplace_back(std::move(key), TPdfObject {});
            continue;
        }
        const TParse r = ParseAt(lexer, value, depth + 1, references);
        if (r == TParse::Cut || (r == TParse::End && lexer.Partial()))
            return TParse::Cut;
        if (r == TParse::End || lexer.Pos() == valueAt)
            break;
        dict->emplace_back(std::move(key), std::move(value));
    }
    object = TPdfObject {};
    object.Kind = TPdfObject::TKind::Dict;
    object.Dict = std::move(dict);
    return TParse::Ok;
}

TParse ParseAt(TPdfLexer& lexer, TPdfObject& object, int depth, bool references)
{
    for (;;) {
        const TPdfLexer::TToken t = lexer.Next();
        switch (t) {
        case TPdfLexer::TToken::End: return TParse::End;
        case TPdfLexer::TToken::Cut: return TParse::Cut;
        case TPdfLexer::TToken::Junk: continue;
        case TPdfLexer::TToken::Number: {
            const double value = lexer.Number();
            if (references && lexer.IntegerNumber() && value >= 0) {
                // "N G R" is one reference; anything else leaves the number.
                const std::size_t after = lexer.Pos();
                const TPdfLexer::TToken second = lexer.Next();
                if (second == TPdfLexer::TToken::Cut || (second == TPdfLexer::TToken::End && lexer.Partial()))
                    return TParse::Cut;
                if (second == TPdfLexer::TToken::Number && lexer.IntegerNumber() && lexer.Number() >= 0) {
                    const double gen = lexer.Number();
                    const TPdfLexer::TToken third = lexer.Next();
                    if (third == TPdfLexer::TToken::Cut || (third == TPdfLexer::TToken::End && lexer.Partial()))
                        return TParse::Cut;
                    if (third == TPdfLexer::TToken::Keyword && lexer.Text() == "R"
                        && value <= std::numeric_limits<std::uint32_t>::max()
                        && gen <= std::numeric_limits<std::uint32_t>::max()) {
                        object = TPdfObject {};
                        object.Kind = TPdfObject::TKind::Ref;
                        object.Ref = {static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(gen)};
                        return TParse::Ok;
                    }
                }
                lexer.SetPos(after);
            }
            object = TPdfObject::MakeNumber(value);
            return TParse::Ok;
        }
        case TPdfLexer::TToken::String:
            object = TPdfObject::MakeString(lexer.Text());
            return TParse::Ok;
        case TPdfLexer::TToken::Name:
            object = TPdfObject::MakeName(lexer.Text());
            return TParse::Ok;
        case TPdfLexer::TToken::Keyword: {
            object = TPdfObject {};
            const std::string& word = lexer.Text();
            if (word == "true" || word == "false") {
                object.Kind = TPdfObject::TKind::Bool;
                object.Boolean = word == "true";
            } else if (word != "null") {
                object.Kind = TPdfObject::TKind::Keyword;
                object.Text = word;
            }
            return TParse::Ok;
        }
        case TPdfLexer::TToken::ArrayOpen:
            if (depth >= kMaxDepth)
                continue;
            return ParseArray(lexer, object, depth, references);
        case TPdfLexer::TToken::DictOpen:
            if (depth >= kMaxDepth)
                continue;
            return ParseDict(lexer, object, depth, references);
        case TPdfLexer::TToken::ArrayClose:
        case TPdfLexer::TToken::DictClose:
            // A close without its open: nothing to read here.
            object = TPdfObject {};
            object.Kind = TPdfObject::TKind::Keyword;
            object.Text = t == TPdfLexer::TToken::ArrayClose ? "]" : ">>";
            return TParse::Ok;
        case TPdfLexer::TToken::BraceOpen:
        case TPdfLexer::TToken::BraceClose:
            object = TPdfObject {};
            object.Kind = TPdfObject::TKind::Keyword;
            object.Text = t == TPdfLexer::TToken::BraceOpen ? "{" : "}";
            return TParse::Ok;
        }
    }
}

} // namespace

bool PdfIsWhitespace(std::uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }

bool PdfIsDelimiter(std::uint8_t c)
{
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/'
        || c == '%';
}

const TPdfObject& PdfNull()
{
    static const TPdfObject null;
    return null;
}

const TPdfObject& TPdfObject::Get(std::string_view key) const
{
    if (Kind != TKind::Dict || !Dict)
        return PdfNull();
    for (const auto& [k, v] : *Dict)
        if (k == key)
            return v;
    return PdfNull();
}

const TPdfArray& TPdfObject::Elements() const
{
    static const TPdfArray none;
    return Kind == TKind::Array && Array ? *Array : none;
}

std::int64_t TPdfObject::Int(std::int64_t fallback) const
{
    if (Kind != TKind::Number)
        return fallback;
    constexpr double kLimit = 2147483647.0;
    return static_cast<std::int64_t>(std::clamp(Number, -kLimit, kLimit));
}

TPdfObject TPdfObject::MakeNumber(double value)
{
    TPdfObject o;
    o.Kind = TKind::Number;
    o.Number = value;
    return o;
}

TPdfObject TPdfObject::MakeName(std::string name)
{
    TPdfObject o;
    o.Kind = TKind::Name;
    o.Text = std::move(name);
    return o;
}

TPdfObject TPdfObject::MakeString(std::string bytes)
{
    TPdfObject o;
    o.Kind = TKind::String;
    o.Text = std::move(bytes);
    return o;
}

void TPdfLexer::SkipWhitespace()
{
    while (m_pos < m_bytes.size()) {
        const auto c = static_cast<std::uint8_t>(m_bytes[m_pos]);
        if (PdfIsWhitespace(c)) {
            ++m_pos;
        } else if (c == '%') {
            std::size_t end = m_pos;
            while (end < m_bytes.size() && m_bytes[end] != '\r' && m_bytes[end] != '\n')
                ++end;
            // A comment that the run cuts may go on in the next piece.
            if (end == m_bytes.size() && m_partial)
                return;
            m_pos = end;
        } else {
            return;
        }
    }
}

TPdfLexer::TToken TPdfLexer::Peek()
{
    const std::size_t at = m_pos;
    const TToken t = Next();
    m_pos = at;
    return t;
}

TPdfLexer::TToken TPdfLexer::Next()
{
    SkipWhitespace();
    if (m_pos >= m_bytes.size())
        return TToken::End;
    const std::size_t start = m_pos;
    const auto c = static_cast<std::uint8_t>(m_bytes[m_pos]);
    TToken t;
    switch (c) {
    case '%': return TToken::Cut; // a comment that runs to the end of a partial run
    case '(': t = ReadLiteralString(); break;
    case '<':
        if (m_pos + 1 >= m_bytes.size() && m_partial) {
            t = TToken::Cut;
        } else if (m_pos + 1 < m_bytes.size() && m_bytes[m_pos + 1] == '<') {
            m_pos += 2;
            t = TToken::DictOpen;
        } else {
            t = ReadHexString();
        }
        break;
    case '>':
        if (m_pos + 1 >= m_bytes.size() && m_partial) {
            t = TToken::Cut;
        } else if (m_pos + 1 < m_bytes.size() && m_bytes[m_pos + 1] == '>') {
            m_pos += 2;
            t = TToken::DictClose;
        } else {
            ++m_pos;
            t = TToken::Junk;
        }
        break;
    case '[': ++m_pos; t = TToken::ArrayOpen; break;
    case ']': ++m_pos; t = TToken::ArrayClose; break;
    case '{': ++m_pos; t = TToken::BraceOpen; break;
    case '}': ++m_pos; t = TToken::BraceClose; break;
    case ')': ++m_pos; t = TToken::Junk; break;
    case '/': t = ReadName(); break;
    default: t = ReadRegular(); break;
    }
    if (t == TToken::Cut)
        m_pos = start;
    return t;
}

TPdfLexer::TToken TPdfLexer::ReadLiteralString()
{
    m_text.clear();
    ++m_pos;
    int nesting = 1;
    while (m_pos < m_bytes.size()) {
        const auto c = static_cast<std::uint8_t>(m_bytes[m_pos++]);
        if (c == '\\') {
            if (m_pos >= m_bytes.size())
                break;
            const auto e = static_cast<std::uint8_t>(m_bytes[m_pos++]);
            switch (e) {
            case 'n': m_text += '\n'; break;
            case 'r': m_text += '\r'; break;
            case 't': m_text += '\t'; break;
            case 'b': m_text += '\b'; break;
            case 'f': m_text += '\f'; break;
            case '\r':
                // A backslash at the end of a line joins the lines.
                if (m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                    ++m_pos;
                break;
            case '\n': break;
            default:
                if (e >= '0' && e <= '7') {
                    int value = e - '0';
                    for (int k = 0; k < 2 && m_pos < m_bytes.size() && m_bytes[m_pos] >= '0' && m_bytes[m_pos] <= '7'; ++k)
                        value = value * 8 + (m_bytes[m_pos++] - '0');
                    m_text += static_cast<char>(value & 0xFF);
                } else {
                    m_text += static_cast<char>(e);
                }
            }
        } else if (c == '(') {
            ++nesting;
            m_text += '(';
        } else if (c == ')') {
            if (--nesting == 0)
                return TToken::String;
            m_text += ')';
        } else if (c == '\r') {
            // An end of line in a string is a line feed, however written.
            if (m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                ++m_pos;
            m_text += '\n';
        } else {
            m_text += static_cast<char>(c);
        }
    }
    return m_partial ? TToken::Cut : TToken::String;
}

TPdfLexer::TToken TPdfLexer::ReadHexString()
{
    m_text.clear();
    ++m_pos;
    int high = -1;
    while (m_pos < m_bytes.size()) {
        const auto c = static_cast<std::uint8_t>(m_bytes[m_pos++]);
        if (c == '>') {
            if (high >= 0)
                m_text += static_cast<char>(high << 4);
            return TToken::String;
        }
        const int v = HexDigitValue(c);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            m_text += static_cast<char>(high << 4 | v);
            high = -1;
        }
    }
    if (m_partial)
        return TToken::Cut;
    if (high >= 0)
        m_text += static_cast<char>(high << 4);
    return TToken::String;
}

TPdfLexer::TToken TPdfLexer::ReadName()
{
    m_text.clear();
    ++m_pos;
    while (m_pos < m_bytes.size()) {
        const auto c = static_cast<std::uint8_t>(m_bytes[m_pos]);
        if (PdfIsWhitespace(c) || PdfIsDelimiter(c))
            return TToken::Name;
        if (c == '#' && m_pos + 2 < m_bytes.size() && HexDigitValue(m_bytes[m_pos + 1]) >= 0
            && HexDigitValue(m_bytes[m_pos + 2]) >= 0) {
            m_text += static_cast<char>(HexDigitValue(m_bytes[m_pos + 1]) << 4 | HexDigitValue(m_bytes[m_pos + 2]));
            m_pos += 3;
            continue;
        }
        m_text += static_cast<char>(c);
        ++m_pos;
    }
    return m_partial ? TToken::Cut : TToken::Name;
}

TPdfLexer::TToken TPdfLexer::ReadRegular()
{
    const std::size_t start = m_pos;
    while (m_pos < m_bytes.size()) {
        const auto c = static_cast<std::uint8_t>(m_bytes[m_pos]);
        if (PdfIsWhitespace(c) || PdfIsDelimiter(c))
            break;
        ++m_pos;
    }
    if (m_pos == m_bytes.size() && m_partial)
        return TToken::Cut;
    const std::string_view word = m_bytes.substr(start, m_pos - start);
    if (ReadPdfNumber(word, m_number, m_integer))
        return TToken::Number;
    m_text.assign(word);
    return TToken::Keyword;
}

bool ParsePdfObject(TPdfLexer& lexer, TPdfObject& object, bool references)
{
    const std::size_t start = lexer.Pos();
    const TParse r = ParseAt(lexer, object, 0, references);
    if (r == TParse::Ok)
        return true;
    lexer.SetPos(start);
    return false;
}
