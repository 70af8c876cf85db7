#include "pdfcontent.h"

#include "pdfdocument.h"

#include "rtl/unicode.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace {

// A token that is not complete after this many bytes (a string of many
// megabytes) is dropped, so that the buffer of a stream stays small.
constexpr std::size_t kMaxToken = 1u << 20;
// The operands an operator may take; more are dropped from the front.
constexpr std::size_t kMaxOperands = 64;
// The graphics states q may save, and the depth of forms within forms.
constexpr std::size_t kMaxSavedStates = 256;
constexpr int kMaxFormDepth = 12;
// Pending text is handed on in pieces of about this size.
constexpr std::size_t kFlushSize = 64 * 1024;

struct TMatrix {
    double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;
    // This transformation, then the other.
    TMatrix Then(const TMatrix& o) const
    {
        return {A * o.A + B * o.C, A * o.B + B * o.D, C * o.A + D * o.C, C * o.B + D * o.D, E * o.A + F * o.C + o.E,
            E * o.B + F * o.D + o.F};
    }
    TPdfPoint Apply(double x, double y) const { return {A * x + C * y + E, B * x + D * y + F}; }
};

TMatrix Translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

enum class TOp {
    Save, Restore, Concat, BeginText, EndText, CharSpace, WordSpace, Scale, Leading, Font, Rise, Move, MoveLeading,
    SetMatrix, NextLine, Show, ShowArray, NextLineShow, NextLineShowSpaced, XObject, ExtGState, BeginImage,
    ImageData, Other,
};

TOp OperatorOf(std::string_view name)
{
    static const std::unordered_map<std::string_view, TOp> ops = {
        {"q", TOp::Save}, {"Q", TOp::Restore}, {"cm", TOp::Concat}, {"BT", TOp::BeginText}, {"ET", TOp::EndText},
        {"Tc", TOp::CharSpace}, {"Tw", TOp::WordSpace}, {"Tz", TOp::Scale}, {"TL", TOp::Leading},
        {"Tf", TOp::Font}, {"Ts", TOp::Rise}, {"Td", TOp::Move}, {"TD", TOp::MoveLeading},
        {"Tm", TOp::SetMatrix}, {"T*", TOp::NextLine}, {"Tj", TOp::Show}, {"TJ", TOp::ShowArray},
        {"'", TOp::NextLineShow}, {"\"", TOp::NextLineShowSpaced}, {"Do", TOp::XObject}, {"gs", TOp::ExtGState},
        {"BI", TOp::BeginImage}, {"ID", TOp::ImageData},
    };
    const auto it = ops.find(name);
    return it == ops.end() ? TOp::Other : it->second;
}

bool IsSpaceChar(char32_t c) { return c == 0x20 || c == 0xA0 || c == 0x3000 || (c >= 0x2000 && c <= 0x200A); }

double Length(TPdfPoint p) { return std::sqrt(p.X * p.X + p.Y * p.Y); }

} // namespace

// ---- the layout ------------------------------------------------------------------------------

TPdfTextLayout::TPdfTextLayout(std::function<bool(std::string_view)> sink) : m_sink(std::move(sink)) {}

TPdfTextLayout::~TPdfTextLayout() = default;

void TPdfTextLayout::Flush()
{
    if (m_pending.empty() || m_stopped)
        return;
    if (!m_sink(m_pending))
        m_stopped = true;
    m_pending.clear();
}

void TPdfTextLayout::Write(std::u32string_view text)
{
    const std::size_t before = m_pending.size();
    for (const char32_t c : text) {
        // Ligatures as the letters they join, as a reader searches for them.
        switch (c) {
        case 0xFB00: m_pending += "ff"; continue;
        case 0xFB01: m_pending += "fi"; continue;
        case 0xFB02: m_pending += "fl"; continue;
        case 0xFB03: m_pending += "ffi"; continue;
        case 0xFB04: m_pending += "ffl"; continue;
        case 0xFB05:
        case 0xFB06: m_pending += "st"; continue;
        default: break;
        }
        // Control characters have no place in a line of text.
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            continue;
        AppendUtf8(m_pending, c);
    }
    if (m_pending.size() > before) {
        m_written += m_pending.size() - before;
        m_lastWritten = m_pending.back();
        m_lineEmpty = false;
    }
    if (m_pending.size() >= kFlushSize)
        Flush();
}

void TPdfTextLayout::Separate(char separator)
{
    if (m_lineEmpty || m_lastWritten == '\t' || (separator == ' ' && m_lastWritten == ' '))
        return;
    if (m_lastWritten == ' ' && !m_pending.empty() && m_pending.back() == ' ') {
        m_pending.back() = separator;
    } else {
        m_pending += separator;
        ++m_written;
    }
    m_lastWritten = separator;
}

void TPdfTextLayout::NewLine()
{
    if (m_lineEmpty)
        return;
    // A line does not end in the gap before its end.
    while (!m_pending.empty() && (m_pending.back() == ' ' || m_pending.back() == '\t')) {
        m_pending.pop_back();
        --m_written;
    }
    m_pending += "\r\n";
    m_written += 2;
    m_lineEmpty = true;
    m_lastWritten = '\n';
    m_recentCount = 0;
}

void TPdfTextLayout::EndBlock()
{
    NewLine();
    m_hasLast = false;
    Flush();
}

void TPdfTextLayout::Glyph(std::u32string_view text, const TPdfPoint& start, const TPdfPoint& end, double size, TPdfPoint direction)
{
    if (m_stopped)
        return;
    if (direction.X == 0 && direction.Y == 0)
        direction = m_hasLast ? m_lastDirection : TPdfPoint {1, 0};
    size = std::abs(size);
    if (m_hasLast) {
        // Where the character starts, seen from where the last one ended,
        // along the last line and across it.
        const double vx = start.X - m_lastEnd.X;
        const double vy = start.Y - m_lastEnd.Y;
        const double along = vx * m_lastDirection.X + vy * m_lastDirection.Y;
        const double across = -vx * m_lastDirection.Y + vy * m_lastDirection.X;
        const double em = std::max(size, m_lastSize);
        // A text without a font size (no Tf) still moves: any move counts.
        const double tiny = 1e-3;
        if (std::abs(across) > std::max(0.5 * em, tiny)) {
            NewLine();
        } else if (!text.empty() && along < -0.15 * em
            && std::any_of(m_recent.begin(), m_recent.begin() + m_recentCount, [&](const TRecent& r) {
                   const double dx = start.X - r.Start.X, dy = start.Y - r.Start.Y;
                   return r.Char == text[0] && std::abs(dx * direction.X + dy * direction.Y) < std::max(0.1 * em, tiny)
                       && std::abs(-dx * direction.Y + dy * direction.X) < std::max(0.2 * em, tiny);
               })) {
            // The same character over itself: drawn twice to look bold.
            return;
        } else if (along >= std::max(em, tiny)) {
            Separate('\t');
        } else if (along > std::max(0.1 * em, tiny) || along < -em) {
            Separate(' ');
        }
    }
    m_hasLast = true;
    m_lastEnd = end;
    m_lastDirection = direction;
    m_lastSize = size;
    if (text.empty())
        return;
    if (text.size() == 1 && IsSpaceChar(text[0])) {
        Separate(' ');
    } else {
        Write(text);
        m_recent[m_recentNext] = {text[0], start};
        m_recentNext = (m_recentNext + 1) % m_recent.size();
        m_recentCount = std::min(m_recentCount + 1, m_recent.size());
    }
}

// ---- the interpreter -------------------------------------------------------------------------

struct TPdfContentReader::TImpl {
    struct TState {
        TMatrix Ctm;
        double CharSpace = 0;
        double WordSpace = 0;
        double Scale = 1;
        double Leading = 0;
        double Rise = 0;
        double FontSize = 0;
        std::shared_ptr<const TPdfFont> Font;
    };
    // The bytes of one content stream not yet read, and the operands read.
    struct TParser {
        std::string Buffer;
        std::vector<TPdfObject> Operands;
        bool InImage = false;
    };

    const TPdfDocument* Document;
    TPdfTextLayout& Layout;
    TPdfContentLimits Limits;
    std::vector<TPdfObject> Resources;
    TState State;
    std::vector<TState> Saved;
    TMatrix Text, Line;
    TParser Top;
    std::vector<std::uint32_t> Forms;
    std::vector<TPdfChar> Chars;
    std::uint64_t ContentBytes = 0;
    std::uint64_t TextAtStart = 0;
    bool Cut = false;
    // Between BT and ET: text shown elsewhere is no text of the page.
    bool InText = false;

    TImpl(const TPdfDocument* document, TPdfTextLayout& layout, const TPdfObject& resources, TPdfContentLimits limits)
        : Document(document), Layout(layout), Limits(limits)
    {
        Resources.push_back(resources);
        State.Font = TPdfFont::Fallback();
    }

    const TPdfObject& Resolve(const TPdfObject& o) const { return Document ? Document->Resolve(o) : o; }

    // The entry of a resource category (Font, XObject, ExtGState).
    const TPdfObject& Resource(std::string_view category, const std::string& name) const
    {
        return Resolve(Resolve(Resources.back().Get(category)).Get(name));
    }
    TPdfObject ResourceRef(std::string_view category, const std::string& name) const
    {
        return Resolve(Resources.back().Get(category)).Get(name);
    }

    bool Over() const { return Layout.Written() - TextAtStart > Limits.MaxText; }

    // Reads a piece of a parser's stream; false once the stream is to stop.
    bool Consume(TParser& p, const std::uint8_t* data, std::size_t size, bool last)
    {
        if (Layout.Stopped() || Cut)
            return false;
        // Content beyond the limit is left out: what came before is read.
        bool over = false;
        if (ContentBytes + size > Limits.MaxContent) {
            size = static_cast<std::size_t>(Limits.MaxContent - std::min(ContentBytes, Limits.MaxContent));
            over = true;
            last = true;
        }
        ContentBytes += size;
        if (size > 0)
            p.Buffer.append(reinterpret_cast<const char*>(data), size);
        TPdfLexer lexer(p.Buffer, 0, !last);
        for (;;) {
            if (p.InImage && !SkipImage(p, lexer, last))
                break;
            TPdfObject o;
            if (!ParsePdfObject(lexer, o, false))
                break;
            if (o.Kind == TPdfObject::TKind::Keyword) {
                Operator(o.Text, p, lexer);
                p.Operands.clear();
                if (Over()) {
                    Cut = true;
                    return false;
                }
                if (Layout.Stopped())
                    return false;
            } else {
                if (p.Operands.size() >= kMaxOperands)
                    p.Operands.erase(p.Operands.begin());
                p.Operands.push_back(std::move(o));
            }
        }
        p.Buffer.erase(0, lexer.Pos());
        if (p.Buffer.size() > kMaxToken)
            p.Buffer.clear();
        if (last) {
            p.Buffer.clear();
            p.Operands.clear();
            p.InImage = false;
        }
        if (over) {
            Cut = true;
            return false;
        }
        return true;
    }

    // The data of an inline image, up to "EI" between white space.
    bool SkipImage(TParser& p, TPdfLexer& lexer, bool last)
    {
        const std::string& b = p.Buffer;
        for (std::size_t i = std::max<std::size_t>(lexer.Pos(), 1); i + 1 < b.size(); ++i) {
            if (b[i] != 'E' || b[i + 1] != 'I' || !PdfIsWhitespace(static_cast<std::uint8_t>(b[i - 1])))
                continue;
            if (i + 2 == b.size() && !last) {
                lexer.SetPos(i - 1);
                return false;
            }
            if (i + 2 < b.size() && !PdfIsWhitespace(static_cast<std::uint8_t>(b[i + 2]))
                && !PdfIsDelimiter(static_cast<std::uint8_t>(b[i + 2])))
                continue;
            lexer.SetPos(i + 2);
            p.InImage = false;
            return true;
        }
        // Keep the last bytes, which may begin the end.
        lexer.SetPos(b.size() > 2 ? b.size() - 2 : lexer.Pos());
        if (last)
            p.InImage = false;
        return false;
    }

    double Number(const TParser& p, std::size_t fromEnd) const
    {
        if (fromEnd == 0 || fromEnd > p.Operands.size())
            return 0;
        const TPdfObject& o = p.Operands[p.Operands.size() - fromEnd];
        return o.IsNumber() ? o.Number : 0;
    }

    void MoveText(double x, double y)
    {
        Line = Translation(x, y).Then(Line);
        Text = Line;
    }

    void Show(const std::string& bytes)
    {
        if (!InText)
            return;
        Chars.clear();
        State.Font->Decode(bytes, Chars);
        const double size = State.FontSize;
        // The characters of one string stand along one line: each is placed
        // by its distance from the string's start.
        const TMatrix base = Text.Then(State.Ctm);
        const double em = size * Length({base.C, base.D});
        TPdfPoint direction {base.A, base.B};
        const double length = Length(direction);
        if (length > 0)
            direction = {direction.X / length, direction.Y / length};
        double x = 0;
        for (const TPdfChar& ch : Chars) {
            // A character ends where its glyph does: character and word
            // spacing make gaps like any other move.
            const TPdfPoint start = base.Apply(x, State.Rise);
            const TPdfPoint end = base.Apply(x + ch.Width * size * State.Scale, State.Rise);
            Layout.Glyph(ch.Text, start, end, em, direction);
            x += (ch.Width * size + State.CharSpace + (ch.WordSpace ? State.WordSpace : 0)) * State.Scale;
        }
        Text = Translation(x, 0).Then(Text);
    }

    void ShowArray(const TPdfObject& array)
    {
        for (const TPdfObject& e : array.Elements()) {
            if (e.IsString())
                Show(e.Text);
            else if (e.IsNumber())
                // Thousandths of the font size, to the left.
                Text = Translation(-e.Number / 1000.0 * State.FontSize * State.Scale, 0).Then(Text);
        }
    }

    void SetFont(const TPdfObject& fontRef, double size)
    {
        std::shared_ptr<const TPdfFont> font = Document && !fontRef.IsNull() ? Document->Font(fontRef) : nullptr;
        State.Font = font ? font : TPdfFont::Fallback();
        State.FontSize = size;
    }

    void Form(const TPdfObject& ref)
    {
        if (!Document || Forms.size() >= static_cast<std::size_t>(kMaxFormDepth))
            return;
        const TPdfObject& form = Resolve(ref);
        if (!form.Get("Subtype").IsName("Form") || !Document->IsStream(ref))
            return;
        if (ref.IsRef() && std::find(Forms.begin(), Forms.end(), ref.Ref.Num) != Forms.end())
            return;
        Forms.push_back(ref.IsRef() ? ref.Ref.Num : 0);
        const TState outer = State;
        const TMatrix outerText = Text, outerLine = Line;
        const bool outerInText = InText;
        InText = false;
        std::vector<TState> outerSaved = std::move(Saved);
        Saved.clear();
        const TPdfArray& m = Resolve(form.Get("Matrix")).Elements();
        if (m.size() == 6) {
            double v[6];
            for (int i = 0; i < 6; ++i)
                v[i] = Resolve(m[i]).IsNumber() ? Resolve(m[i]).Number : 0;
            State.Ctm = TMatrix {v[0], v[1], v[2], v[3], v[4], v[5]}.Then(State.Ctm);
        }
        const TPdfObject& own = Resolve(form.Get("Resources"));
        Resources.push_back(own.IsDict() ? own : Resources.back());
        TParser nested;
        const TPdfDecodeResult r = Document->DecodeStream(ref, [&](const std::uint8_t* d, std::size_t n) {
            return Consume(nested, d, n, false);
        });
        if (r != TPdfDecodeResult::Stopped)
            Consume(nested, nullptr, 0, true);
        Resources.pop_back();
        State = outer;
        Text = outerText;
        Line = outerLine;
        InText = outerInText;
        Saved = std::move(outerSaved);
        Forms.pop_back();
    }

    void Operator(const std::string& name, TParser& p, TPdfLexer& lexer)
    {
        switch (OperatorOf(name)) {
        case TOp::Save:
            if (Saved.size() < kMaxSavedStates)
                Saved.push_back(State);
            break;
        case TOp::Restore:
            if (!Saved.empty()) {
                State = std::move(Saved.back());
                Saved.pop_back();
            }
            break;
        case TOp::Concat:
            if (p.Operands.size() >= 6)
                State.Ctm = TMatrix {Number(p, 6), Number(p, 5), Number(p, 4), Number(p, 3), Number(p, 2), Number(p, 1)}.Then(State.Ctm);
            break;
        case TOp::BeginText:
            Text = Line = TMatrix {};
            InText = true;
            break;
        case TOp::EndText: InText = false; break;
        case TOp::CharSpace: State.CharSpace = Number(p, 1); break;
        case TOp::WordSpace: State.WordSpace = Number(p, 1); break;
        case TOp::Scale: State.Scale = Number(p, 1) / 100.0; break;
        case TOp::Leading: State.Leading = Number(p, 1); break;
        case TOp::Rise: State.Rise = Number(p, 1); break;
        case TOp::Font:
            if (p.Operands.size() >= 2 && p.Operands[p.Operands.size() - 2].IsName())
                SetFont(ResourceRef("Font", p.Operands[p.Operands.size() - 2].Text), Number(p, 1));
            break;
        case TOp::Move: MoveText(Number(p, 2), Number(p, 1)); break;
        case TOp::MoveLeading:
            State.Leading = -Number(p, 1);
            MoveText(Number(p, 2), Number(p, 1));
            break;
        case TOp::SetMatrix:
            if (p.Operands.size() >= 6)
                Text = Line = TMatrix {Number(p, 6), Number(p, 5), Number(p, 4), Number(p, 3), Number(p, 2), Number(p, 1)};
            break;
        case TOp::NextLine: MoveText(0, -State.Leading); break;
        case TOp::Show:
            if (!p.Operands.empty() && p.Operands.back().IsString())
                Show(p.Operands.back().Text);
            break;
        case TOp::ShowArray:
            if (!p.Operands.empty())
                ShowArray(p.Operands.back());
            break;
        case TOp::NextLineShow:
            MoveText(0, -State.Leading);
            if (!p.Operands.empty() && p.Operands.back().IsString())
                Show(p.Operands.back().Text);
            break;
        case TOp::NextLineShowSpaced:
            if (p.Operands.size() >= 3) {
                State.WordSpace = Number(p, 3);
                State.CharSpace = Number(p, 2);
            }
            MoveText(0, -State.Leading);
            if (!p.Operands.empty() && p.Operands.back().IsString())
                Show(p.Operands.back().Text);
            break;
        case TOp::XObject:
            if (!p.Operands.empty() && p.Operands.back().IsName())
                Form(ResourceRef("XObject", p.Operands.back().Text));
            break;
        case TOp::ExtGState:
            if (!p.Operands.empty() && p.Operands.back().IsName()) {
                // A graphics state may set the font: [font size].
                const TPdfArray& font = Resolve(Resource("ExtGState", p.Operands.back().Text).Get("Font")).Elements();
                if (font.size() == 2)
                    SetFont(font[0], Resolve(font[1]).IsNumber() ? Resolve(font[1]).Number : 0);
            }
            break;
        case TOp::BeginImage: break;
        case TOp::ImageData:
            // One white-space byte, then the image's bytes up to "EI".
            lexer.SetPos(lexer.Pos() + 1);
            p.InImage = true;
            break;
        case TOp::Other: break;
        }
    }
};

TPdfContentReader::TPdfContentReader(const TPdfDocument* document, TPdfTextLayout& layout, const TPdfObject& resources,
    TPdfContentLimits limits)
    : m(std::make_unique<TImpl>(document, layout, resources, limits))
{
}

TPdfContentReader::~TPdfContentReader() = default;

void TPdfContentReader::ReadStream(const TPdfObject& stream)
{
    if (!m->Document)
        return;
    m->ContentBytes = 0;
    m->TextAtStart = m->Layout.Written();
    m->Document->DecodeStream(stream, [this](const std::uint8_t* d, std::size_t n) { return m->Consume(m->Top, d, n, false); });
    // A stream's last token ends with it; the next stream starts afresh.
    m->Consume(m->Top, nullptr, 0, true);
    m_cut = m_cut || m->Cut;
}

bool TPdfContentReader::Feed(const std::uint8_t* data, std::size_t size, bool last)
{
    if (m->ContentBytes == 0)
        m->TextAtStart = m->Layout.Written();
    const bool go = m->Consume(m->Top, data, size, last);
    m_cut = m_cut || m->Cut;
    if (last)
        m->ContentBytes = 0;
    return go;
}
