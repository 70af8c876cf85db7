// The hex editor control's construction, character translation and the
// messages and focus changes it handles. Its data and files, grid layout,
// painting and caret and selection live in zuraddata.cpp, zuradgrid.cpp,
// zuradpaint.cpp and zuradcaret.cpp.
#include "hexedit/zuradhex.h"

#include "vcl/caret.h"

namespace {

constexpr const char* kVersion = "2026-12-10, Vistrel hex editor control";

}  // namespace

TColor InvertColor(TColor c) { return static_cast<TColor>(InvertRGB(ColorToRGB(c))); }
TColor FadeToGray(TColor c) { return static_cast<TColor>(FadeToGrayRGB(ColorToRGB(c))); }
bool IsKeyDown(int virtualKey) { return (GetKeyState(virtualKey) & 0x8000) != 0; }

// ====================================================================== construction

TCustomZURadUvudod::TCustomZURadUvudod(TComponent* owner) : TCustomGrid(owner)
{
    m_undo = std::make_unique<TZAZUndoStorage>(*this);
    for (int c = 0; c < 32; ++c)
        m_maskedChars.set(static_cast<size_t>(c));
    m_colors = std::make_unique<TZAZColors>(this);
    SetColor(m_colors->Background());
    ParentColor = false;
    Font().SetName("Courier New");
    Font().SetSize(11);
    SetOptions(goThumbTracking);
    DefaultDrawing = false;
    SetBorderStyle(TBorderStyle::bsSingle);
    Ctl3D = false;
    DoubleBuffered = true;
    SetCursor(TCursor::crIBeam);
    SetDefaultColWidth(0);
    SetDefaultRowHeight(0);
    m_offsetFormat.Parse("-!10:0x|", m_layout.BytesPerRow, m_layout.BytesPerColumn, m_layout.RulerUnit);
    m_bookmarkBitmap = std::make_unique<TBitmap>();
    m_caretBitmap = std::make_unique<TBitmap>();
    BuildBookmarkImages();
    SetRulerString();
    CalcSizes();
    MoveColRow(2, 2, true, false);
    m_constructed = true;
}

TCustomZURadUvudod::~TCustomZURadUvudod()
{
    m_cursorStack.clear();
    m_data.Clear();
    m_changes.Clear();
    if (CaretOwner() == this)
        DestroyCaret();
}

void TCustomZURadUvudod::Loaded()
{
    if (m_fileName == "---")
        CreateEmptyFile(zaz_text::kUntitled);
}

void TCustomZURadUvudod::CreateWnd()
{
    if (m_fileName == "---")
        CreateEmptyFile(zaz_text::kUntitled);
}

std::string TCustomZURadUvudod::Version() const { return kVersion; }

// ====================================================================== translation

void TCustomZURadUvudod::SetTranslation(TZAZTranslationKind kind)
{
    if (kind == m_translation)
        return;
    if (kind != tkAsIs && m_layout.Unicode)
        throw EZURadUvudod(zaz_text::kUnicodeTranslation);
    m_translation = kind;
    Invalidate();
}

std::uint8_t TCustomZURadUvudod::TranslateToAnsiChar(std::uint8_t b) const
{
    std::uint8_t c = b;
    switch (m_translation) {
    case tkAsIs: break;
    case tkDos8: c = OemToAnsiChar(b); break;
    case tkASCII: c = b >= 0x80 ? static_cast<std::uint8_t>(m_maskChar) : OemToAnsiChar(b); break;
    case tkMac: c = ZAZ_CCONV_MAC[cctToAnsi][b]; break;
    case tkBCD: c = ZAZ_CCONV_BCD38[cctToAnsi][b]; break;
    case tkCustom: c = ZAZCustomCharConv[cctToAnsi][b]; break;
    }
    if (m_maskChar != 0 && m_maskedChars.test(c))
        return static_cast<std::uint8_t>(m_maskChar);
    return c;
}

std::uint8_t TCustomZURadUvudod::TranslateFromAnsiChar(std::uint8_t c) const
{
    std::uint8_t b = c;
    switch (m_translation) {
    case tkAsIs: break;
    case tkDos8: b = c < 32 ? 0 : AnsiToOemChar(c); break;
    case tkASCII: b = (c < 32 || c >= 128) ? 0 : AnsiToOemChar(c); break;
    case tkMac: b = ZAZ_CCONV_MAC[cctFromAnsi][c]; break;
    case tkBCD: b = ZAZ_CCONV_BCD38[cctFromAnsi][c]; break;
    case tkCustom: b = ZAZCustomCharConv[cctFromAnsi][c]; break;
    }
    if (m_maskedChars.test(b))
        return 0;
    return b;
}

void TCustomZURadUvudod::SetMaskChar(char c)
{
    if (c == m_maskChar)
        return;
    m_maskChar = c;
    Invalidate();
}

void TCustomZURadUvudod::SetMaskedChars(const TZAZCharSet& chars)
{
    if (chars == m_maskedChars)
        return;
    m_maskedChars = chars;
    Invalidate();
}

void TCustomZURadUvudod::SelectionChanged()
{
    if (m_selChangeCount == 0)
        PostMessage(Handle(), CM_SELECTIONCHANGED, 0, 0);
    ++m_selChangeCount;
}

void TCustomZURadUvudod::Changed()
{
    if (OnChange)
        OnChange(this);
    SelectionChanged();
}

void TCustomZURadUvudod::WndProc(TMessage& message)
{
    switch (message.Msg) {
    case CM_SELECTIONCHANGED:
        // Without a handler the count is reset as well, so that a handler
        // assigned later still hears of the next change.
        if (m_selChangeCount != 0) {
            struct Reset {
                std::int32_t& count;
                ~Reset() { count = 0; }
            } reset{m_selChangeCount};
            if (OnSelectionChanged)
                OnSelectionChanged(this);
        }
        return;
    case CM_INTUPDATECARET:
        if (message.WParam == 7)
            CheckSetCaret();
        return;
    default:
        TCustomGrid::WndProc(message);
    }
}

void TCustomZURadUvudod::FocusChanged(bool focused)
{
    if (focused) {
        CreateCaretGlyph();
        CheckSetCaret();
    } else {
        if (CaretOwner() == this) {
            HideCaret(this);
            DestroyCaret();
        }
        m_selecting = false;
    }
    Invalidate();
}

void TCustomZURadUvudod::Scrolled(bool) { CheckSetCaret(); }

void TCustomZURadUvudod::TopLeftChanged()
{
    CheckSetCaret();
    if (OnTopLeftChanged)
        OnTopLeftChanged(this);
}

void TCustomZURadUvudod::Resize()
{
    PostMessage(Handle(), CM_INTUPDATECARET, 7, 7);
    TCustomGrid::Resize();
}

void TCustomZURadUvudod::FontChanged()
{
    TCustomGrid::FontChanged();
    if (!m_constructed)
        return;
    AdjustMetrics();
    if (HasFocus())
        CreateCaretGlyph();
}

bool TCustomZURadUvudod::CanFocus() const
{
    if (!TCustomGrid::CanFocus())
        return false;
    const TWinControl* top = Parent();
    while (top && top->Parent())
        top = top->Parent();
    if (top && (!top->Enabled() || !top->Visible()))
        return false;
    return true;
}
