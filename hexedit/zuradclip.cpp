// The extended control's clipboard: copy, cut and paste, and taking another
// program's data from a paste or a drop.
#include "hexedit/zuradhexex.h"

#include "hexedit/zazdataobj.h"

#include "rtl/streams.h"

#include <algorithm>
#include <vector>

namespace {

// Releases a fetched medium on every way out.
class MediumGuard {
public:
    explicit MediumGuard(STGMEDIUM& medium) : m_medium(medium) {}
    ~MediumGuard()
    {
        if (m_medium.hGlobal)
            ReleaseStgMedium(&m_medium);
    }
    MediumGuard(const MediumGuard&) = delete;
    MediumGuard& operator=(const MediumGuard&) = delete;

private:
    STGMEDIUM& m_medium;
};

// Puts back the cursor the control showed when the work began.
class CursorGuard {
public:
    explicit CursorGuard(TCustomZURadUvudod& control) : m_control(control) { m_control.WaitCursor(); }
    ~CursorGuard() { m_control.OldCursor(); }
    CursorGuard(const CursorGuard&) = delete;
    CursorGuard& operator=(const CursorGuard&) = delete;

private:
    TCustomZURadUvudod& m_control;
};

[[noreturn]] void TooLarge(std::uint64_t size)
{
    throw EZURadUvudod(Format(zaz_text::kFileTooLarge, static_cast<long long>(size)));
}

// The whole content of a dropped file. Only a regular file is read (a pipe
// or a device would block or never end), and one that does not fit beside
// the data, in positions or in memory, is refused before it is read.
std::vector<std::uint8_t> ReadDroppedFile(const std::string& name, std::int32_t dataSize)
{
    TFileStream file(name, fmOpenRead | fmShareDenyNone);
    const std::int64_t size = file.Size();
    if (size < 0 || size > static_cast<std::int64_t>(INT32_MAX) - dataSize || size > AvailableMemory())
        TooLarge(static_cast<std::uint64_t>(size));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    file.ReadBuffer(bytes.data(), size);
    return bytes;
}

} // namespace

// ====================================================================== commands

bool TZURadUvudodEx::CanCopy() const { return GetDataSize() > 0 && GetSelCount() > 0; }

bool TZURadUvudodEx::CanCut() const { return CanCopy() && !ReadOnlyView() && !NoSizeChange(); }

bool TZURadUvudodEx::CanPaste()
{
    if (ReadOnlyView())
        return false;
    TComPtr<IDataObject> data;
    if (FAILED(OleGetClipboard(data.Out())) || !data)
        return false;
    DWORD effect = DROPEFFECT_COPY;
    if (SupportsOLEData(data.Get(), 0, TPoint{0, 0}, effect, oleClipboard) != S_OK)
        return false;
    return !NoSizeChange() || GetDataSize() > 0;
}

TZAZDataObject* TZURadUvudodEx::NewDataObject()
{
    const std::int32_t start = std::min(GetSelStart(), GetSelEnd());
    return new TZAZDataObject(GetFastPointer() + start, GetSelCount(), FileName(), m_clipboardAsHexText,
                              SwapNibbles());
}

bool TZURadUvudodEx::CBCopy()
{
    if (!CanCopy())
        return false;
    CursorGuard hourglass(*this);
    TZAZDataObject* object = NewDataObject();
    object->AddRef();
    if (m_clipObject)
        m_clipObject->Release();
    m_clipObject = object;
    OleCheck(OleSetClipboard(object));
    return true;
}

bool TZURadUvudodEx::CBCut()
{
    if (!CanCut() || !CBCopy())
        return false;
    CursorGuard hourglass(*this);
    DeleteSelection("Cut to Clipboard");
    return true;
}

bool TZURadUvudodEx::CBPaste()
{
    if (!CanPaste())
        return false;
    TComPtr<IDataObject> data;
    if (FAILED(OleGetClipboard(data.Out())) || !data)
        return false;
    DWORD effect = DROPEFFECT_COPY;
    return SUCCEEDED(InsertOLEData(data.Get(), 0, TPoint{0, 0}, effect, oleClipboard));
}

bool TZURadUvudodEx::OwnsClipBoard() const { return m_clipObject && OleIsCurrentClipboard(m_clipObject) == S_OK; }

void TZURadUvudodEx::ReleaseClipboard(bool flush)
{
    if (!OwnsClipBoard())
        return;
    if (flush)
        OleCheck(OleFlushClipboard());
    else
        OleSetClipboard(nullptr);  // emptying ignores failures
}

// ====================================================================== taking foreign data

TClipFormats TZURadUvudodEx::GetMyOLEFormats() const
{
    const TZAZClipFormats& f = ZAZClipFormats();
    TClipFormats formats = {f.Own,          CF_HDROP,    CF_TEXT, f.RichText,     CF_UNICODETEXT, CF_BITMAP,
                            CF_PALETTE,     CF_METAFILEPICT, CF_TIFF, CF_OEMTEXT, CF_DIB,         CF_RIFF,
                            CF_WAVE,        CF_ENHMETAFILE,  CF_LOCALE, f.RegEditHexData};
    if (!m_supportsOtherClipFormats)
        formats.resize(2);
    return formats;
}

bool TZURadUvudodEx::OLEHasSupportedFormat(IDataObject* data, const TClipFormats& formats, std::int32_t high,
                                           CLIPFORMAT& chosen) const
{
    const TFormatEnum offered(data);
    for (std::int32_t i = 0; i <= high && i < static_cast<std::int32_t>(formats.size()); ++i)
        if (offered.HasFormat(formats[static_cast<std::size_t>(i)])) {
            chosen = formats[static_cast<std::size_t>(i)];
            return true;
        }
    return false;
}

HRESULT TZURadUvudodEx::SupportsOLEData(IDataObject* data, DWORD, TPoint, DWORD& effect,
                                        TZAZOLEOperation operation)
{
    HRESULT result = S_FALSE;
    if (!ReadOnlyView()) {
        const TClipFormats formats = GetMyOLEFormats();
        CLIPFORMAT chosen = 0;
        if (OLEHasSupportedFormat(data, formats, static_cast<std::int32_t>(formats.size()) - 1, chosen)) {
            m_lastPasteFormat[operation] = chosen;
            result = S_OK;
        }
    }
    if (m_lastPasteFormat[operation] == CF_HDROP && effect == DROPEFFECT_MOVE)
        effect = DROPEFFECT_LINK;
    return result;
}

HRESULT TZURadUvudodEx::ModifyOLEDropEffect(DWORD keyState, TPoint, DWORD& effect)
{
    if (m_dragging) {
        effect = (keyState & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
        return S_OK;
    }
    effect = (keyState & MK_SHIFT) ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    if (m_lastPasteFormat[oleDrop] == CF_HDROP && effect == DROPEFFECT_MOVE)
        effect = DROPEFFECT_LINK;
    return S_OK;
}

void TZURadUvudodEx::TakeDroppedFiles(IDataObject* data, DWORD effect, TZAZByteString& bytes, HRESULT& result)
{
    STGMEDIUM medium{};
    MediumGuard release(medium);
    if (FAILED(GetOLEData(data, CF_HDROP, medium)) || medium.tymed != TYMED_HGLOBAL)
        return;
    const HDROP drop = medium.hGlobal;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
    std::vector<std::uint8_t> names;
    for (UINT i = 0; i < count; ++i) {
        // A Linux path has no 260-character limit: the name is read whole.
        std::string name(DragQueryFileA(drop, i, nullptr, 0), '\0');
        DragQueryFileA(drop, i, name.data(), static_cast<UINT>(name.size() + 1));
        result = S_OK;
        if (effect == DROPEFFECT_LINK) {
            if (names.size() + name.size() + 1 > static_cast<std::size_t>(INT32_MAX))
                TooLarge(names.size() + name.size() + 1);
            names.insert(names.end(), name.begin(), name.end());
            names.push_back(0);
            continue;
        }
        bytes.Own(ReadDroppedFile(name, GetDataSize()));
        return;
    }
    bytes.Own(std::move(names));
}

void TZURadUvudodEx::TakeMedium(IDataObject* data, CLIPFORMAT format, TZAZOLEOperation operation, bool hexText,
                                TZAZByteString& bytes, STGMEDIUM& medium, HRESULT& result)
{
    if (FAILED(GetOLEData(data, format, medium)))
        return;
    std::uint8_t* block = nullptr;
    std::uint64_t size = 0;
    if ((medium.tymed == TYMED_HGLOBAL || medium.tymed == TYMED_MFPICT) && medium.hGlobal) {
        block = static_cast<std::uint8_t*>(GlobalLock(medium.hGlobal));
        size = GlobalSize(medium.hGlobal);
    }
    // A block that its source keeps (it asked to be told of the release)
    // is read, never rewritten.
    const bool writable = medium.tymed == TYMED_HGLOBAL && !medium.pUnkForRelease;
    OLEMediumToBytes(block, medium.hGlobal, format, size, UnicodeBigEndian(), writable, bytes);
    if (bytes.Empty())
        return;
    // Hex text is taken as the bytes its digits give; a text with no pair of
    // digits in it ("Hello") is no hex text and goes in as it is.
    if ((format == CF_TEXT || format == CF_OEMTEXT) && operation == oleClipboard && hexText &&
        HasHexByte(bytes.Data(), bytes.Size()))
        bytes.HexToBytes(SwapNibbles());
    result = S_OK;
}

HRESULT TZURadUvudodEx::InsertOLEData(IDataObject* data, DWORD, TPoint, DWORD& effect, TZAZOLEOperation operation)
{
    CursorGuard hourglass(*this);
    HRESULT result = E_FAIL;
    TZAZByteString bytes;
    STGMEDIUM medium{};
    MediumGuard release(medium);
    CLIPFORMAT format = m_lastPasteFormat[operation];
    const TZAZClipFormats& f = ZAZClipFormats();
    bool chosen = true;
    // The dialog's "Hex Text" choice serves this paste only; the property
    // changes only through its own setting.
    bool hexText = m_clipboardAsHexText;
    if (format != f.Own && format != CF_HDROP) {
        const TClipFormats formats = GetMyOLEFormats();
        chosen = ChooseOLEFormat(formats, static_cast<std::int32_t>(formats.size()) - 1, data, hexText, format);
    }
    if (chosen) {
        if (format == CF_HDROP)
            TakeDroppedFiles(data, effect, bytes, result);
        else
            TakeMedium(data, format, operation, hexText, bytes, medium, result);
        if (bytes.Size() > static_cast<std::uint64_t>(INT32_MAX))
            TooLarge(bytes.Size());
        std::int32_t count = static_cast<std::int32_t>(bytes.Size());
        CheckUnit(count);
        if (bytes.Empty() || count == 0)
            result = E_FAIL;
        else if (operation == oleClipboard)
            PasteData(bytes.Data(), count, "Paste from Clipboard");
        else
            result = PlaceDrop(bytes, count, effect);
    } else {
        result = E_FAIL;
    }
    if (FAILED(result))
        effect = DROPEFFECT_NONE;
    return result;
}

HRESULT TZURadUvudodEx::PlaceDrop(TZAZByteString& bytes, std::int32_t count, DWORD& effect)
{
    std::int32_t p = DropPosition();
    if (p < 0)
        return E_FAIL;
    const std::int32_t size = GetDataSize();
    const std::uint8_t* buffer = bytes.Data();
    if (m_dragging && effect == DROPEFFECT_MOVE) {
        // A move inside: the size counts as free for the two steps.
        ++m_sizeChangeOverride;
        struct Restore {
            std::int32_t& n;
            ~Restore() { --n; }
        } restore{m_sizeChangeOverride};
        m_droppedInside = true;
        m_moveSteps = 0;
        const std::int32_t lower = std::min(GetSelStart(), GetSelEnd());
        const std::int32_t selected = GetSelCount();
        // Dropped on itself (or just behind itself): the bytes would land
        // where they are, so nothing moves.
        if (selected == 0 || (p >= lower && p <= lower + selected)) {
            effect = DROPEFFECT_NONE;
            return S_OK;
        }
        if (p > lower)
            p -= selected;
        DeleteSelection();
        m_moveSteps = 1;
        if (p >= GetDataSize())
            AppendBuffer(buffer, count, "Data Dropped", true);
        else
            InsertBuffer(buffer, count, p, "Data Dropped", true);
        m_moveSteps = 2;
        return S_OK;
    }
    if (p >= size) {
        if (!NoSizeChange())
            AppendBuffer(buffer, count, "Data Dropped", true);
        return S_OK;
    }
    if (!NoSizeChange()) {
        if (IsSelected(p))
            ReplaceSelection(buffer, count, "Data Dropped", true);
        else
            InsertBuffer(buffer, count, p, "Data Dropped", true);
    } else if (SelAnchor() != -1 && IsSelected(p)) {
        ReplaceSelection(buffer, count, "Data Dropped", true);
    } else {
        // An overwrite that keeps the size, cut at the end of the data.
        const std::int32_t n = std::min(count, size - p);
        Replace(buffer, p, n, n, "Data Dropped", true);
    }
    return S_OK;
}

void TZURadUvudodEx::PasteData(const void* buffer, std::int32_t count, const std::string& description)
{
    const bool field = GetInCharField();
    if (SelAnchor() == -1) {
        std::int32_t pos = GetPosAtCursor(Col(), Row());
        std::int32_t unit = pos;
        CheckUnit(unit);
        if (unit != pos) {
            pos = unit;
            MoveCaretTo(pos, field);
        }
        // Overwrite mode (and a fixed size) overwrites from the caret: only
        // bytes past the end make the data grow, and a fixed size cuts them.
        if (!GetInsertMode() && pos < GetDataSize())
            NewSelection(pos, std::min(GetDataSize() - 1, pos + count - 1));
    }
    ReplaceSelection(buffer, count, description, true);
    // The caret stands after the pasted bytes, as after typing them.
    const std::int32_t last = GetCursorPos();
    ResetSelection(true);
    const std::int32_t size = GetDataSize();
    MoveCaretTo(std::min(last + 1, GetInsertMode() ? size : size - 1), field);
}
