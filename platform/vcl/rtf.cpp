#include "rtf.h"

#include "rtl/sysutils.h"
#include "rtl/unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>
#include <string>

// ---- code pages ------------------------------------------------------------------

namespace {

// The iconv name of a Windows code page.
std::string IconvName(int codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 850: return "CP850";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 10000: return "MACINTOSH";
    case 65001: return "UTF-8";
    default:
        if (codePage >= 1250 && codePage <= 1258)
            return "CP" + std::to_string(codePage);
        return "CP1252";
    }
}

// Code page of a font's character set (\fcharsetN); 0 when the set names none.
int CodePageOfCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;
    }
}

// Converters from Windows code pages to UTF-8, each opened once and kept for
// the life of the decoder: glibc loads a code page's module at every
// iconv_open, which took most of the time of reading a document that
// switches code pages once a paragraph.
class CodePageDecoder {
public:
    CodePageDecoder() = default;
    ~CodePageDecoder()
    {
        for (const auto& [codePage, cd] : m_open)
            if (cd != kNone)
                ::iconv_close(cd);
    }
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    // Appends the bytes' text to out; unmappable bytes become U+FFFD.
    void Decode(std::string_view bytes, int codePage, std::string& out)
    {
        // Every code page read here keeps ASCII as it is.
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            out.append(bytes);
            return;
        }
        const iconv_t cd = Converter(codePage);
        if (cd == kNone) {
            for (unsigned char c : bytes)
                AppendUtf8(out, c < 0x80 ? c : 0xFFFD);
            return;
        }
        // A converter may hold the shift state of an earlier piece.
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        // iconv reads its input through a pointer to non-const; it never writes there.
        char* inPtr = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        m_buffer.resize(bytes.size() * 4 + 16);
        while (inLeft > 0) {
            char* outPtr = m_buffer.data();
            size_t outLeft = m_buffer.size();
            const size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(m_buffer.data(), m_buffer.size() - outLeft);
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                // An unmappable or cut-off sequence: one replacement, then go on.
                AppendUtf8(out, 0xFFFD);
                ++inPtr;
                --inLeft;
                ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

    iconv_t Converter(int codePage)
    {
        const auto found = m_open.find(codePage);
        if (found != m_open.end())
            return found->second;
        iconv_t cd = ::iconv_open("UTF-8", IconvName(codePage).c_str());
        if (cd == kNone)
            cd = ::iconv_open("UTF-8", "CP1252");
        m_open.emplace(codePage, cd);
        return cd;
    }

    std::map<int, iconv_t> m_open;
    std::string m_buffer;
};

} // namespace

std::string CodePageToUtf8(std::string_view bytes, int codePage)
{
    std::string out;
    CodePageDecoder().Decode(bytes, codePage, out);
    return out;
}

// ---- document ----------------------------------------------------------------------

std::string TRtfParagraph::Text() const
{
    std::string s;
    for (const TRtfRun& r : Runs)
        s += r.Text;
    return s;
}

std::string TRtfDocument::PlainText() const
{
    std::string s;
    for (size_t i = 0; i < Paragraphs.size(); ++i) {
        if (i)
            s += '\n';
        s += Paragraphs[i].Text();
    }
    return s;
}

TRtfDocument NormalizeRtf(const TRtfDocument& document)
{
    TRtfDocument out;
    for (const TRtfParagraph& p : document.Paragraphs) {
        TRtfParagraph q;
        q.Align = p.Align;
        for (const TRtfRun& r : p.Runs) {
            if (r.Text.empty())
                continue;
            if (!q.Runs.empty() && q.Runs.back().Format == r.Format)
                q.Runs.back().Text += r.Text;
            else
                q.Runs.push_back(r);
        }
        out.Paragraphs.push_back(std::move(q));
    }
    return out;
}

bool IsRtf(std::string_view data)
{
    size_t i = 0;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return data.substr(i, 5) == "{\\rtf";
}

// ---- reader ------------------------------------------------------------------------

namespace {

enum class Dest { Text, Skip, FontTable, FontEntry, ColorTable };

struct GroupState {
    TRtfCharFormat format;
    Dest dest = Dest::Text;
    int uc = 1;
    int font = -1;
    bool fontTableEntry = false;
    // Inside an \object group: its \result is text again, read in the
    // destination the object stood in.
    bool inObject = false;
    Dest objectOuter = Dest::Text;
};

struct FontInfo {
    std::string name;
    int codePage = 0;
};

// Destinations whose contents are never text.
bool IsSkippedDestination(const std::string& word)
{
    static const char* const kSkip[] = {"stylesheet", "info", "pict", "object", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "themedata", "colorschememapping",
        "latentstyles", "datastore", "listtable", "listoverridetable", "rsidtbl", "xmlnstbl", "generator",
        "nonshppict", "bkmkstart", "bkmkend", "pgdsctbl", "revtbl", "filetbl", "mmathPr", "xe", "tc", "txe",
        "template", "docvar", "userprops", "operator", "author", "title", "subject", "comment", "keywords",
        "doccomm", "company", "creatim", "revtim", "printim", "buptim", "password", "passwordhash", "wgrffmtfilter",
        "fchars", "lchars", "pnseclvl", "shpinst", "sp", "do", "atnid", "atnauthor", "annotation", "objdata",
        "blipuid", "panose", "falt", "fontemb", "fontfile"};
    for (const char* s : kSkip)
        if (word == s)
            return true;
    return false;
}

// Skipped destinations that hold part of the document's content.
bool IsContentDestination(const std::string& word)
{
    static const char* const kContent[] = {"pict", "object", "fldinst", "shpinst", "header", "headerl", "headerr",
        "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "objdata"};
    for (const char* s : kContent)
        if (word == s)
            return true;
    return false;
}

class RtfReader {
public:
    bool Lossy() const { return m_lossy; }

    explicit RtfReader(std::string_view data) : m_data(data) {}

    TRtfDocument Read()
    {
        m_states.push_back(GroupState {});
        size_t& i = m_pos;
        // The first group is the document itself.
        while (i < m_data.size()) {
            const char c = m_data[i];
            if (c == '{') {
                EndPendingSurrogate();
                FlushBytes();
                ++i;
                GroupState next = m_states.back();
                next.fontTableEntry = false;
                if (m_states.size() > 4096) {
                    // Nesting this deep is no document: the rest is skipped.
                    m_lossy = true;
                    break;
                }
                if (next.dest == Dest::FontTable)
                    next.dest = Dest::FontEntry;
                m_states.push_back(next);
                m_skipLeft = 0;
                // "{\*\word" marks a destination that readers not knowing it skip.
                if (m_data.substr(i, 2) == "\\*") {
                    i += 2;
                    const std::string word = PeekWord();
                    if (!IsKnownStarredDestination(word)) {
                        m_states.back().dest = Dest::Skip;
                        if (IsContentDestination(word))
                            m_lossy = true;
                    }
                }
            } else if (c == '}') {
                EndPendingSurrogate();
                FlushBytes();
                ++i;
                EndGroup();
                if (m_states.size() <= 1)
                    break;
            } else if (c == '\\') {
                ControlWord();
            } else if (c == '\r' || c == '\n') {
                ++i;
            } else {
                ++i;
                TextByte(static_cast<unsigned char>(c));
            }
        }
        EndPendingSurrogate();
        FlushBytes();
        if (!m_paragraph.Runs.empty())
            EndParagraph();
        return NormalizeRtf(m_doc);
    }

private:
    GroupState& State() { return m_states.back(); }

    std::string PeekWord() const
    {
        size_t j = m_pos;
        if (j >= m_data.size() || m_data[j] != '\\')
            return {};
        ++j;
        std::string word;
        while (j < m_data.size() && std::isalpha(static_cast<unsigned char>(m_data[j])))
            word += m_data[j++];
        return word;
    }

    static bool IsKnownStarredDestination(const std::string& word)
    {
        // Starred groups whose text belongs to the document.
        return word == "fldrslt" || word == "pntext" || word == "listtext";
    }

    void EndGroup()
    {
        if (m_states.size() > 1) {
            const GroupState ended = m_states.back();
            m_states.pop_back();
            if (ended.dest == Dest::FontEntry && State().dest == Dest::FontTable)
                FinishFontEntry();
        }
        m_skipLeft = 0;
    }

    int CodePage() const
    {
        const GroupState& s = m_states.back();
        if (s.font >= 0) {
            const auto it = m_fonts.find(s.font);
            if (it != m_fonts.end() && it->second.codePage != 0)
                return it->second.codePage;
        }
        return m_codePage;
    }

    void TextByte(unsigned char b)
    {
        if (m_skipLeft > 0) {
            --m_skipLeft;
            return;
        }
        EndPendingSurrogate();
        // Control characters are no text (a literal tab is a tab).
        if (b < 0x20 && b != '\t')
            return;
        switch (State().dest) {
        case Dest::Text:
            m_bytes += static_cast<char>(b);
            break;
        case Dest::FontEntry:
        case Dest::FontTable:
            if (b == ';')
                FinishFontEntry();
            else
                m_fontBytes += static_cast<char>(b);
            break;
        case Dest::ColorTable:
            if (b == ';') {
                m_colors.push_back(m_colorSet ? (m_red << 16 | m_green << 8 | m_blue) : kAutoColor);
                m_red = m_green = m_blue = 0;
                m_colorSet = false;
            }
            break;
        case Dest::Skip:
            break;
        }
    }

    void FinishFontEntry()
    {
        if (m_fontNumber >= 0 && !m_fontDone) {
            FontInfo& f = m_fonts[m_fontNumber];
            FlushFontBytes();
            std::string name;
            for (char c : m_fontName)
                if (static_cast<unsigned char>(c) >= 0x20)
                    name += c;
            while (!name.empty() && name.back() == ' ')
                name.pop_back();
            while (!name.empty() && name.front() == ' ')
                name.erase(0, 1);
            f.name = name;
            m_fontDone = true;
        }
        m_fontName.clear();
        m_fontBytes.clear();
    }

    // Decodes the font name's pending bytes under the font's code page.
    void FlushFontBytes()
    {
        if (m_fontBytes.empty())
            return;
        const auto it = m_fonts.find(m_fontNumber);
        const int codePage = it != m_fonts.end() && it->second.codePage ? it->second.codePage : m_codePage;
        m_decoder.Decode(m_fontBytes, codePage, m_fontName);
        m_fontBytes.clear();
    }

    void FlushBytes()
    {
        if (m_bytes.empty())
            return;
        m_text.clear();
        m_decoder.Decode(m_bytes, CodePage(), m_text);
        m_bytes.clear();
        AppendText(m_text);
    }

    void AppendText(const std::string& text)
    {
        if (text.empty() || State().dest != Dest::Text)
            return;
        TRtfCharFormat format = State().format;
        if (State().font < 0) {
            const auto it = m_fonts.find(State().font >= 0 ? State().font : m_defaultFont);
            format.FontName = it != m_fonts.end() ? it->second.name : std::string();
        }
        if (!m_paragraph.Runs.empty() && m_paragraph.Runs.back().Format == format)
            m_paragraph.Runs.back().Text += text;
        else
            m_paragraph.Runs.push_back(TRtfRun {text, format});
    }

    void AppendCodePoint(std::uint32_t cp)
    {
        if (cp < 0x20 && cp != '\t' && cp != '\n')
            return;
        FlushBytes();
        std::string s;
        AppendUtf8(s, cp);
        AppendText(s);
    }

    void EndParagraph()
    {
        EndPendingSurrogate();
        FlushBytes();
        m_paragraph.Align = m_align;
        m_doc.Paragraphs.push_back(std::move(m_paragraph));
        m_paragraph = TRtfParagraph {};
    }

    void ControlWord()
    {
        size_t& i = m_pos;
        ++i;  // the backslash
        if (i >= m_data.size())
            return;
        const char c = m_data[i];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++i;
            ControlSymbol(c);
            return;
        }
        std::string word;
        while (i < m_data.size() && std::isalpha(static_cast<unsigned char>(m_data[i])) && word.size() < 32)
            word += m_data[i++];
        bool hasParam = false;
        long long param = 0;
        bool negative = false;
        if (i < m_data.size() && m_data[i] == '-' && i + 1 < m_data.size()
            && std::isdigit(static_cast<unsigned char>(m_data[i + 1]))) {
            negative = true;
            ++i;
        }
        int digits = 0;
        while (i < m_data.size() && std::isdigit(static_cast<unsigned char>(m_data[i]))) {
            if (digits < 10)
                param = param * 10 + (m_data[i] - '0');
            ++digits;
            ++i;
            hasParam = true;
        }
        if (negative)
            param = -param;
        if (i < m_data.size() && m_data[i] == ' ')
            ++i;
        Word(word, hasParam, static_cast<int>(std::clamp<long long>(param, -2147483647LL, 2147483647LL)));
    }

    void ControlSymbol(char c)
    {
        switch (c) {
        case '\'': {
            if (m_pos + 2 > m_data.size()) {
                m_pos = m_data.size();
                return;
            }
            const int hi = HexDigitValue(m_data[m_pos]);
            const int lo = HexDigitValue(m_data[m_pos + 1]);
            m_pos += 2;
            if (hi < 0 || lo < 0)
                return;
            TextByte(static_cast<unsigned char>(hi * 16 + lo));
            return;
        }
        case '\\':
        case '{':
        case '}':
            TextByte(static_cast<unsigned char>(c));
            return;
        case '~':
            Special(0x00A0);
            return;
        case '_':
            Special(0x2011);
            return;
        case '-':
            return;  // optional hyphen
        case '\r':
        case '\n':
            if (State().dest == Dest::Text && m_skipLeft == 0)
                EndParagraph();
            return;
        case '\t':
            Special('\t');
            return;
        default:
            return;
        }
    }

    // A character given by a control word; counts as one skipped character
    // after \uN.
    void Special(std::uint32_t cp)
    {
        if (m_skipLeft > 0) {
            --m_skipLeft;
            return;
        }
        EndPendingSurrogate();
        if (State().dest == Dest::Text)
            AppendCodePoint(cp);
    }

    void Word(const std::string& w, bool hasParam, int n)
    {
        // Any control word but a \uN, or a fallback character being skipped,
        // comes between the halves of a surrogate pair.
        if (m_skipLeft == 0 && !(w == "u" && hasParam))
            EndPendingSurrogate();
        GroupState& s = State();
        // Destinations.
        if (w == "fonttbl") {
            s.dest = Dest::FontTable;
            return;
        }
        if (w == "colortbl") {
            s.dest = Dest::ColorTable;
            m_red = m_green = m_blue = 0;
            m_colorSet = false;
            return;
        }
        if (w == "result" && s.inObject) {
            // An object's result: the text a reader without the object shows.
            s.dest = s.objectOuter;
            return;
        }
        if (w == "object") {
            s.inObject = true;
            s.objectOuter = s.dest;
        }
        if (IsSkippedDestination(w)) {
            FlushBytes();
            s.dest = Dest::Skip;
            if (IsContentDestination(w))
                m_lossy = true;
            return;
        }
        if (w == "bin") {
            // Raw binary data of the given length.
            FlushBytes();
            const size_t count = hasParam && n > 0 ? static_cast<size_t>(n) : 0;
            m_pos = std::min(m_data.size(), m_pos + count);
            return;
        }
        if (s.dest == Dest::FontTable || s.dest == Dest::FontEntry) {
            if (w == "f" && hasParam) {
                FinishFontEntryIfPending();
                m_fontNumber = n;
                m_fontDone = false;
                m_fontName.clear();
                m_fontBytes.clear();
                m_fonts[n];
            } else if (w == "fcharset" && m_fontNumber >= 0) {
                m_fonts[m_fontNumber].codePage = CodePageOfCharset(n);
            } else if (w == "cpg" && m_fontNumber >= 0) {
                m_fonts[m_fontNumber].codePage = n;
            } else if (w == "u" && hasParam && m_fontNumber >= 0) {
                FlushFontBytes();
                const std::uint32_t unit = static_cast<std::uint32_t>(n < 0 ? n + 65536 : n) & 0xFFFF;
                if (unit >= 0x20)
                    AppendUtf8(m_fontName, unit);
                m_skipLeft = s.uc;
            }
            return;
        }
        if (s.dest == Dest::ColorTable) {
            if (w == "red")
                m_red = static_cast<std::uint32_t>(std::clamp(n, 0, 255)), m_colorSet = true;
            else if (w == "green")
                m_green = static_cast<std::uint32_t>(std::clamp(n, 0, 255)), m_colorSet = true;
            else if (w == "blue")
                m_blue = static_cast<std::uint32_t>(std::clamp(n, 0, 255)), m_colorSet = true;
            return;
        }
        // Unicode characters and their fallbacks.
        if (w == "uc") {
            s.uc = std::clamp(n, 0, 16);
            return;
        }
        if (w == "u" && hasParam) {
            const std::uint32_t unit = static_cast<std::uint32_t>(n < 0 ? n + 65536 : n) & 0xFFFF;
            m_skipLeft = 0;
            // A surrogate pair is two neighbouring \uN (the first one's
            // fallback characters between them); a half without its
            // neighbour is no character and reads as U+FFFD.
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                EndPendingSurrogate();
                m_highSurrogate = unit;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                if (m_highSurrogate)
                    AppendCodePointIfText(0x10000 + ((m_highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
                else
                    AppendCodePointIfText(0xFFFD);
                m_highSurrogate = 0;
            } else {
                EndPendingSurrogate();
                AppendCodePointIfText(unit);
            }
            m_skipLeft = s.uc;
            return;
        }
        if (m_skipLeft > 0) {
            --m_skipLeft;
            return;
        }
        if (s.dest != Dest::Text)
            return;
        // Document settings. Bytes read so far keep the code page they came
        // under.
        if (w == "ansicpg" || w == "mac" || w == "pc" || w == "pca")
            FlushBytes();
        if (w == "ansicpg") {
            m_codePage = n > 0 ? n : 1252;
        } else if (w == "mac") {
            m_codePage = 10000;
        } else if (w == "pc") {
            m_codePage = 437;
        } else if (w == "pca") {
            m_codePage = 850;
        } else if (w == "deff") {
            m_defaultFont = n;
        }
        // Characters.
        else if (w == "par" || w == "sect" || w == "page" || w == "row") {
            EndParagraph();
        } else if (w == "line") {
            AppendCodePoint('\n');
        } else if (w == "tab" || w == "cell") {
            AppendCodePoint('\t');
        } else if (w == "emdash") {
            AppendCodePoint(0x2014);
        } else if (w == "endash") {
            AppendCodePoint(0x2013);
        } else if (w == "bullet") {
            AppendCodePoint(0x2022);
        } else if (w == "lquote") {
            AppendCodePoint(0x2018);
        } else if (w == "rquote") {
            AppendCodePoint(0x2019);
        } else if (w == "ldblquote") {
            AppendCodePoint(0x201C);
        } else if (w == "rdblquote") {
            AppendCodePoint(0x201D);
        } else if (w == "emspace") {
            AppendCodePoint(0x2003);
        } else if (w == "enspace") {
            AppendCodePoint(0x2002);
        }
        // Character formatting.
        else {
            FlushBytes();
            const bool on = !hasParam || n != 0;
            if (w == "plain") {
                s.format = TRtfCharFormat {};
                s.font = -1;
            } else if (w == "b") {
                s.format.Bold = on;
            } else if (w == "i") {
                s.format.Italic = on;
            } else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw" || w == "uldash" || w == "ulth"
                || w == "ulwave") {
                s.format.Underline = on;
            } else if (w == "ulnone") {
                s.format.Underline = false;
            } else if (w == "strike") {
                s.format.StrikeOut = on;
            } else if (w == "fs" && hasParam) {
                s.format.HalfPoints = std::clamp(n, 2, 3276);
            } else if (w == "f" && hasParam) {
                s.font = n;
                const auto it = m_fonts.find(n);
                s.format.FontName = it != m_fonts.end() ? it->second.name : std::string();
            } else if (w == "cf") {
                if (n > 0 && static_cast<size_t>(n) < m_colors.size() && m_colors[static_cast<size_t>(n)] != kAutoColor) {
                    s.format.HasColor = true;
                    s.format.Color = m_colors[static_cast<size_t>(n)];
                } else {
                    s.format.HasColor = false;
                    s.format.Color = 0;
                }
            } else if (w == "pard") {
                m_align = TRtfAlign::Left;
            } else if (w == "ql") {
                m_align = TRtfAlign::Left;
            } else if (w == "qc") {
                m_align = TRtfAlign::Center;
            } else if (w == "qr") {
                m_align = TRtfAlign::Right;
            } else if (w == "qj") {
                m_align = TRtfAlign::Justify;
            }
        }
    }

    void AppendCodePointIfText(std::uint32_t cp)
    {
        if (State().dest == Dest::Text)
            AppendCodePoint(cp);
    }

    // A high surrogate whose low half did not come next: U+FFFD in its place.
    void EndPendingSurrogate()
    {
        if (!m_highSurrogate)
            return;
        m_highSurrogate = 0;
        AppendCodePointIfText(0xFFFD);
    }

    void FinishFontEntryIfPending()
    {
        if (m_fontNumber >= 0 && !m_fontDone)
            FinishFontEntry();
    }

    static constexpr std::uint32_t kAutoColor = 0xFFFFFFFFu;

    std::string_view m_data;
    size_t m_pos = 0;
    std::vector<GroupState> m_states;
    TRtfDocument m_doc;
    TRtfParagraph m_paragraph;
    TRtfAlign m_align = TRtfAlign::Left;
    std::string m_bytes;
    std::string m_text;
    CodePageDecoder m_decoder;
    int m_skipLeft = 0;
    std::uint32_t m_highSurrogate = 0;
    int m_codePage = 1252;
    int m_defaultFont = 0;
    std::map<int, FontInfo> m_fonts;
    int m_fontNumber = -1;
    bool m_fontDone = true;
    std::string m_fontName;
    std::string m_fontBytes;
    std::vector<std::uint32_t> m_colors;
    std::uint32_t m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorSet = false;
    bool m_lossy = false;
};

} // namespace

TRtfDocument ReadRtf(std::string_view data, bool* lossy)
{
    if (lossy)
        *lossy = !IsRtf(data);
    if (!IsRtf(data)) {
        TRtfDocument doc;
        size_t start = 0;
        while (start <= data.size()) {
            size_t end = data.find_first_of("\r\n", start);
            if (end == std::string_view::npos)
                end = data.size();
            TRtfParagraph p;
            // Text as the view holds it: well-formed UTF-8 without control
            // characters other than tabs.
            std::string line;
            for (char c : CodePageToUtf8(data.substr(start, end - start), 65001))
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t')
                    line += c;
            if (!line.empty())
                p.Runs.push_back(TRtfRun {line, TRtfCharFormat {}});
            if (end == data.size()) {
                if (!line.empty())
                    doc.Paragraphs.push_back(std::move(p));
                break;
            }
            doc.Paragraphs.push_back(std::move(p));
            start = end + (data.substr(end, 2) == "\r\n" ? 2 : 1);
        }
        return doc;
    }
    RtfReader reader(data);
    TRtfDocument doc = reader.Read();
    if (lossy)
        *lossy = reader.Lossy();
    return doc;
}

// ---- writer ------------------------------------------------------------------------

namespace {

// Decodes one UTF-8 sequence at s[i]; advances i. Bad bytes give U+FFFD.
std::uint32_t NextCodePoint(const std::string& s, size_t& i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + static_cast<size_t>(len) > s.size()) {
        ++i;
        return 0xFFFD;
    }
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((d & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    i += static_cast<size_t>(len);
    return cp;
}

void WriteUnit(std::string& out, std::uint32_t unit)
{
    const int signedUnit = unit >= 0x8000 ? static_cast<int>(unit) - 65536 : static_cast<int>(unit);
    out += "\\u" + std::to_string(signedUnit) + "?";
}

void WriteText(std::string& out, const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        const std::uint32_t cp = NextCodePoint(text, i);
        if (cp == '\\' || cp == '{' || cp == '}') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\t') {
            out += "\\tab ";
        } else if (cp == '\n') {
            out += "\\line ";
        } else if (cp < 0x20) {
            continue;
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
            WriteUnit(out, cp);
        } else {
            const std::uint32_t v = cp - 0x10000;
            WriteUnit(out, 0xD800 + (v >> 10));
            WriteUnit(out, 0xDC00 + (v & 0x3FF));
        }
    }
}

} // namespace

std::string WriteRtf(const TRtfDocument& input)
{
    const TRtfDocument document = NormalizeRtf(input);
    std::vector<std::string> fonts;
    std::vector<std::uint32_t> colors;
    auto fontIndex = [&](const std::string& name) {
        const auto it = std::find(fonts.begin(), fonts.end(), name);
        if (it != fonts.end())
            return static_cast<int>(it - fonts.begin());
        fonts.push_back(name);
        return static_cast<int>(fonts.size()) - 1;
    };
    auto colorIndex = [&](std::uint32_t color) {
        const auto it = std::find(colors.begin(), colors.end(), color);
        if (it != colors.end())
            return static_cast<int>(it - colors.begin()) + 1;
        colors.push_back(color);
        return static_cast<int>(colors.size());
    };
    std::string body;
    for (const TRtfParagraph& p : document.Paragraphs) {
        body += "\\pard";
        switch (p.Align) {
        case TRtfAlign::Left: body += "\\ql"; break;
        case TRtfAlign::Center: body += "\\qc"; break;
        case TRtfAlign::Right: body += "\\qr"; break;
        case TRtfAlign::Justify: body += "\\qj"; break;
        }
        body += ' ';
        for (const TRtfRun& r : p.Runs) {
            const TRtfCharFormat& f = r.Format;
            body += "{\\f" + std::to_string(fontIndex(f.FontName)) + "\\fs" + std::to_string(f.HalfPoints);
            if (f.Bold)
                body += "\\b";
            if (f.Italic)
                body += "\\i";
            if (f.Underline)
                body += "\\ul";
            if (f.StrikeOut)
                body += "\\strike";
            if (f.HasColor)
                body += "\\cf" + std::to_string(colorIndex(f.Color & 0xFFFFFF));
            body += ' ';
            WriteText(body, r.Text);
            body += '}';
        }
        body += "\\par\r\n";
    }
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl";
    if (fonts.empty())
        fonts.push_back("");
    for (size_t i = 0; i < fonts.size(); ++i) {
        out += "{\\f" + std::to_string(i) + "\\fnil\\fcharset0 ";
        WriteText(out, fonts[i]);
        out += ";}";
    }
    out += "}\r\n{\\colortbl ;";
    for (std::uint32_t c : colors)
        out += "\\red" + std::to_string((c >> 16) & 0xFF) + "\\green" + std::to_string((c >> 8) & 0xFF) + "\\blue"
            + std::to_string(c & 0xFF) + ";";
    out += "}\r\n\\viewkind4\r\n";
    out += body;
    out += "}\r\n";
    return out;
}
