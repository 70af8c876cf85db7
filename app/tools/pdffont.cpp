#include "pdffont.h"

#include "pdfdocument.h"

#include <algorithm>

namespace {

// A character map or an embedded font program is read up to this size.
constexpr std::size_t kMaxProgram = 4u << 20;
// The widths and characters a font may list; beyond, entries are dropped.
constexpr std::size_t kMaxEntries = 1u << 20;

std::uint64_t Key(std::uint32_t code, std::size_t length) { return std::uint64_t(length) << 32 | code; }

std::uint32_t BigEndian(std::string_view bytes)
{
    std::uint32_t v = 0;
    for (unsigned char c : bytes)
        v = v << 8 | c;
    return v;
}

// The characters of UTF-16BE bytes, surrogate pairs joined; a single byte
// stands for itself.
std::u32string Utf16Be(std::string_view bytes)
{
    std::u32string text;
    if (bytes.size() == 1) {
        text += static_cast<unsigned char>(bytes[0]);
        return text;
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t u = static_cast<unsigned char>(bytes[i]) << 8 | static_cast<unsigned char>(bytes[i + 1]);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const char32_t low = static_cast<unsigned char>(bytes[i + 2]) << 8 | static_cast<unsigned char>(bytes[i + 3]);
            if (low >= 0xDC00 && low < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        text += u;
    }
    return text;
}

// The characters a bfchar or bfrange destination names: UTF-16BE bytes, or
// a glyph name.
std::u32string Destination(const TPdfObject& o)
{
    if (o.IsString())
        return Utf16Be(o.Text);
    if (o.IsName())
        return PdfGlyphNameText(o.Text);
    return {};
}

std::string_view Stripped(std::string_view baseFont)
{
    if (baseFont.size() > 7 && baseFont[6] == '+')
        baseFont.remove_prefix(7);
    return baseFont;
}

// The encoding that an embedded Type 1 font program carries in its clear
// text ("dup 12 /fi put" lines before eexec), or none.
bool BuiltinType1Encoding(std::string_view program, std::array<std::string, 256>& names)
{
    const std::size_t eexec = program.find("eexec");
    if (eexec != std::string_view::npos)
        program = program.substr(0, eexec);
    const std::size_t at = program.find("/Encoding");
    if (at == std::string_view::npos)
        return false;
    TPdfLexer lexer(program, at + 9);
    std::vector<TPdfObject> last;
    bool any = false;
    TPdfObject o;
    while (ParsePdfObject(lexer, o, false)) {
        if (o.IsKeyword("StandardEncoding") || o.IsKeyword("readonly") || o.IsKeyword("def"))
            break;
        if (o.IsKeyword("put") && last.size() >= 3 && last[last.size() - 3].IsKeyword("dup")
            && last[last.size() - 2].IsNumber() && last.back().IsName()) {
            const std::int64_t code = last[last.size() - 2].Int(-1);
            if (code >= 0 && code < 256) {
                names[static_cast<std::size_t>(code)] = last.back().Text;
                any = true;
            }
        }
        last.push_back(o);
        if (last.size() > 4)
            last.erase(last.begin());
    }
    return any;
}

} // namespace

void TPdfCMap::Parse(std::string_view program)
{
    TPdfLexer lexer(program);
    std::vector<TPdfObject> operands;
    TPdfObject o;
    while (ParsePdfObject(lexer, o, false)) {
        if (o.Kind != TPdfObject::TKind::Keyword) {
            if (operands.size() < kMaxEntries)
                operands.push_back(std::move(o));
            continue;
        }
        if (o.Text == "endcodespacerange") {
            for (std::size_t i = 0; i + 1 < operands.size(); i += 2) {
                const TPdfObject& low = operands[i];
                const TPdfObject& high = operands[i + 1];
                if (low.IsString() && high.IsString() && low.Text.size() == high.Text.size() && !low.Text.empty()
                    && low.Text.size() <= 4)
                    m_codeSpace.push_back({BigEndian(low.Text), BigEndian(high.Text), low.Text.size()});
            }
        } else if (o.Text == "endbfchar") {
            for (std::size_t i = 0; i + 1 < operands.size(); i += 2) {
                const TPdfObject& code = operands[i];
                if (code.IsString() && !code.Text.empty() && code.Text.size() <= 4 && m_chars.size() < kMaxEntries)
                    m_chars[Key(BigEndian(code.Text), code.Text.size())] = Destination(operands[i + 1]);
            }
        } else if (o.Text == "endbfrange") {
            for (std::size_t i = 0; i + 2 < operands.size(); i += 3) {
                const TPdfObject& low = operands[i];
                const TPdfObject& high = operands[i + 1];
                const TPdfObject& dst = operands[i + 2];
                if (!low.IsString() || !high.IsString() || low.Text.empty() || low.Text.size() > 4
                    || low.Text.size() != high.Text.size() || BigEndian(low.Text) > BigEndian(high.Text))
                    continue;
                TRange r {BigEndian(low.Text), BigEndian(high.Text), low.Text.size(), {}, {}};
                if (dst.IsArray()) {
                    for (const TPdfObject& d : dst.Elements())
                        r.Each.push_back(Destination(d));
                } else {
                    r.First = Destination(dst);
                    if (r.First.empty())
                        continue;
                }
                if (m_ranges.size() < kMaxEntries)
                    m_ranges.push_back(std::move(r));
            }
        }
        operands.clear();
    }
    std::sort(m_ranges.begin(), m_ranges.end(), [](const TRange& a, const TRange& b) { return a.Low < b.Low; });
}

std::size_t TPdfCMap::CodeLength(std::string_view bytes) const
{
    for (std::size_t length = 1; length <= 4 && length <= bytes.size(); ++length) {
        for (const TCodeSpace& s : m_codeSpace) {
            if (s.Length != length)
                continue;
            // Each byte lies between the bytes of the range's ends.
            bool inside = true;
            for (std::size_t k = 0; k < length && inside; ++k) {
                const unsigned shift = static_cast<unsigned>(8 * (length - 1 - k));
                const unsigned b = static_cast<unsigned char>(bytes[k]);
                inside = b >= ((s.Low >> shift) & 0xFF) && b <= ((s.High >> shift) & 0xFF);
            }
            if (inside)
                return length;
        }
    }
    std::size_t shortest = 4;
    for (const TCodeSpace& s : m_codeSpace)
        shortest = std::min(shortest, s.Length);
    return m_codeSpace.empty() ? 1 : std::min(shortest, std::max<std::size_t>(bytes.size(), 1));
}

const std::u32string* TPdfCMap::Lookup(std::uint32_t code, std::size_t length) const
{
    if (const auto it = m_chars.find(Key(code, length)); it != m_chars.end())
        return &it->second;
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), code, [](std::uint32_t c, const TRange& r) { return c < r.Low; });
    // Ranges do not overlap in a sound map; a few neighbours are looked at
    // for maps with codes of several lengths.
    for (int tries = 0; tries < 4 && it != m_ranges.begin(); ++tries) {
        --it;
        if (it->Length != length || code > it->High)
            continue;
        const std::uint32_t offset = code - it->Low;
        if (!it->Each.empty())
            return offset < it->Each.size() ? &it->Each[offset] : nullptr;
        const std::uint64_t key = Key(code, length);
        if (const auto made = m_made.find(key); made != m_made.end())
            return &made->second;
        std::u32string text = it->First;
        text.back() += offset;
        return &m_made.emplace(key, std::move(text)).first->second;
    }
    return nullptr;
}

std::shared_ptr<const TPdfFont> TPdfFont::Fallback()
{
    static const std::shared_ptr<const TPdfFont> font = [] {
        auto f = std::shared_ptr<TPdfFont>(new TPdfFont);
        const TPdfEncoding& doc = PdfEncoding(TPdfEncodingName::PdfDoc);
        for (int c = 0; c < 256; ++c) {
            if (doc[c])
                f->m_text[c] = std::u32string(1, doc[c]);
            f->m_width[c] = 0.5;
        }
        return f;
    }();
    return font;
}

std::shared_ptr<const TPdfFont> TPdfFont::Load(const TPdfObject& dict, const TPdfDocument& document)
{
    auto font = std::shared_ptr<TPdfFont>(new TPdfFont);
    if (document.Resolve(dict.Get("Subtype")).IsName("Type0"))
        font->LoadComposite(dict, document);
    else
        font->LoadSimple(dict, document);
    return font;
}

void TPdfFont::LoadSimple(const TPdfObject& dict, const TPdfDocument& document)
{
    const std::string subtype = document.Resolve(dict.Get("Subtype")).Text;
    const std::string_view baseFont = Stripped(document.Resolve(dict.Get("BaseFont")).Text);
    const TPdfObject& descriptor = document.Resolve(dict.Get("FontDescriptor"));
    const bool symbolic = (descriptor.Get("Flags").Int(0) & 4) != 0;

    // The base encoding: named by the font, else the font program's own.
    const TPdfObject& encoding = document.Resolve(dict.Get("Encoding"));
    std::string baseName = encoding.IsName() ? encoding.Text : document.Resolve(encoding.Get("BaseEncoding")).Text;
    const TPdfEncoding* base = nullptr;
    if (baseName == "WinAnsiEncoding")
        base = &PdfEncoding(TPdfEncodingName::WinAnsi);
    else if (baseName == "MacRomanEncoding")
        base = &PdfEncoding(TPdfEncodingName::MacRoman);
    else if (baseName == "StandardEncoding")
        base = &PdfEncoding(TPdfEncodingName::Standard);
    else if (baseFont.substr(0, 6) == "Symbol")
        base = &PdfEncoding(TPdfEncodingName::Symbol);
    else if (subtype == "TrueType")
        base = &PdfEncoding(symbolic ? TPdfEncodingName::PdfDoc : TPdfEncodingName::WinAnsi);
    else
        base = &PdfEncoding(TPdfEncodingName::Standard);
    for (int c = 0; c < 256; ++c)
        m_text[c] = (*base)[c] ? std::u32string(1, (*base)[c]) : std::u32string();

    if (baseName.empty() && subtype != "TrueType") {
        // A Type 1 program's own encoding (TeX's fonts carry theirs).
        std::array<std::string, 256> names;
        std::string program;
        const TPdfObject& file = descriptor.Get("FontFile");
        if (!file.IsNull() && document.StreamBytes(file, kMaxProgram, program) && BuiltinType1Encoding(program, names))
            for (int c = 0; c < 256; ++c)
                if (!names[c].empty() && names[c] != ".notdef")
                    m_text[c] = PdfGlyphNameText(names[c]);
    }

    // The differences from the base encoding: a code, then the glyph names
    // of it and the codes after it.
    std::int64_t code = -1;
    for (const TPdfObject& d : document.Resolve(encoding.Get("Differences")).Elements()) {
        const TPdfObject& e = document.Resolve(d);
        if (e.IsNumber()) {
            code = e.Int(-1);
        } else if (e.IsName() && code >= 0 && code < 256) {
            m_text[static_cast<std::size_t>(code)] = PdfGlyphNameText(e.Text);
            ++code;
        }
    }

    std::string program;
    const TPdfObject& toUnicode = dict.Get("ToUnicode");
    if (!toUnicode.IsNull() && document.StreamBytes(toUnicode, kMaxProgram, program)) {
        TPdfCMap map;
        map.Parse(program);
        for (std::uint32_t c = 0; c < 256; ++c)
            if (const std::u32string* text = map.Lookup(c, 1))
                m_text[c] = *text;
    }

    // Widths in thousandths of the size, or in glyph units scaled by the
    // font matrix for a Type 3 font.
    double scale = 0.001;
    if (subtype == "Type3") {
        const TPdfArray& matrix = document.Resolve(dict.Get("FontMatrix")).Elements();
        if (!matrix.empty() && document.Resolve(matrix[0]).IsNumber())
            scale = document.Resolve(matrix[0]).Number;
    }
    const TPdfObject& widths = document.Resolve(dict.Get("Widths"));
    const std::int64_t first = dict.Get("FirstChar").Int(0);
    const double missing = descriptor.Get("MissingWidth").IsNumber() ? descriptor.Get("MissingWidth").Number : 0;
    const TPdfStandardFamily family = PdfStandardFamily(baseFont);
    for (int c = 0; c < 256; ++c) {
        if (widths.IsArray()) {
            const std::int64_t i = c - first;
            const TPdfArray& w = widths.Elements();
            const TPdfObject& value = i >= 0 && i < static_cast<std::int64_t>(w.size()) ? document.Resolve(w[static_cast<std::size_t>(i)]) : PdfNull();
            m_width[c] = (value.IsNumber() ? value.Number : missing) * scale;
        } else {
            // The standard fonts may leave out their widths.
            m_width[c] = PdfStandardWidth(family, m_text[c].empty() ? 0 : m_text[c][0]) / 1000.0;
        }
    }
}

void TPdfFont::LoadComposite(const TPdfObject& dict, const TPdfDocument& document)
{
    m_composite = true;
    const TPdfObject& encoding = document.Resolve(dict.Get("Encoding"));
    if (encoding.IsName()) {
        const std::string& name = encoding.Text;
        m_identity = name == "Identity-H" || name == "Identity-V";
        m_unicodeCodes = name.find("UCS2") != std::string::npos || name.find("UTF16") != std::string::npos;
    } else if (document.IsStream(encoding)) {
        std::string program;
        if (document.StreamBytes(dict.Get("Encoding"), kMaxProgram, program))
            m_encoding.Parse(program);
        m_identity = false;
    }
    std::string program;
    const TPdfObject& toUnicode = dict.Get("ToUnicode");
    if (!toUnicode.IsNull() && document.StreamBytes(toUnicode, kMaxProgram, program))
        m_toUnicode.Parse(program);

    const TPdfArray& descendants = document.Resolve(dict.Get("DescendantFonts")).Elements();
    const TPdfObject& cidFont = descendants.empty() ? PdfNull() : document.Resolve(descendants[0]);
    const TPdfObject& dw = document.Resolve(cidFont.Get("DW"));
    m_defaultWidth = (dw.IsNumber() ? dw.Number : 1000) / 1000.0;
    // [c [w1 w2 ...]] gives the widths of c, c + 1, ...; [c1 c2 w] one width
    // for c1 to c2.
    const TPdfArray& w = document.Resolve(cidFont.Get("W")).Elements();
    for (std::size_t i = 0; i < w.size() && m_cidWidths.size() < kMaxEntries;) {
        const TPdfObject& a = document.Resolve(w[i]);
        if (!a.IsNumber()) {
            ++i;
            continue;
        }
        const std::int64_t c = a.Int(0);
        if (i + 1 < w.size() && document.Resolve(w[i + 1]).IsArray()) {
            std::int64_t cid = c;
            for (const TPdfObject& v : document.Resolve(w[i + 1]).Elements()) {
                const TPdfObject& width = document.Resolve(v);
                if (width.IsNumber() && cid >= 0 && m_cidWidths.size() < kMaxEntries)
                    m_cidWidths[static_cast<std::uint32_t>(cid)] = width.Number / 1000.0;
                ++cid;
            }
            i += 2;
        } else if (i + 2 < w.size()) {
            const std::int64_t last = document.Resolve(w[i + 1]).Int(-1);
            const TPdfObject& width = document.Resolve(w[i + 2]);
            if (width.IsNumber() && c >= 0 && last >= c && m_cidRanges.size() < kMaxEntries)
                m_cidRanges.push_back({static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(last), width.Number / 1000.0});
            i += 3;
        } else {
            break;
        }
    }
}

double TPdfFont::CompositeWidth(std::uint32_t cid) const
{
    if (const auto it = m_cidWidths.find(cid); it != m_cidWidths.end())
        return it->second;
    for (const TCidRange& r : m_cidRanges)
        if (cid >= r.First && cid <= r.Last)
            return r.Width;
    return m_defaultWidth;
}

void TPdfFont::Decode(std::string_view bytes, std::vector<TPdfChar>& out) const
{
    if (!m_composite) {
        for (unsigned char c : bytes)
            out.push_back({m_text[c], m_width[c], c == 32});
        return;
    }
    for (std::size_t i = 0; i < bytes.size();) {
        const std::string_view rest = bytes.substr(i);
        std::size_t length = 2;
        if (m_encoding.HasCodeSpace())
            length = m_encoding.CodeLength(rest);
        else if (!m_identity && !m_unicodeCodes && m_toUnicode.HasCodeSpace())
            length = m_toUnicode.CodeLength(rest);
        length = std::min(length, rest.size());
        const std::uint32_t code = BigEndian(rest.substr(0, length));
        i += length;
        TPdfChar ch;
        if (const std::u32string* text = m_toUnicode.Lookup(code, length)) {
            ch.Text = *text;
        } else if (m_unicodeCodes && code > 0 && (code < 0xD800 || code > 0xDFFF)) {
            auto it = m_unicodeOfCode.find(code);
            if (it == m_unicodeOfCode.end())
                it = m_unicodeOfCode.emplace(code, std::u32string(1, static_cast<char32_t>(code))).first;
            ch.Text = it->second;
        }
        ch.Width = CompositeWidth(code);
        ch.WordSpace = length == 1 && code == 32;
        out.push_back(ch);
    }
}
