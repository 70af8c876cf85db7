// Editing operations of the hex editor control: bytes and 16-bit
// characters, inserting, appending, replacing and deleting ranges, erasing
// at the caret, nibble shifts, conversions between translations, the data
// as text, and positioning by offset.
#include "hexedit/zuradhex.h"

#include "rtl/filesave.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// A buffer that lies inside the data block would move under an edit that
// changes the data's size: such a buffer is copied first.
class StableBuffer {
public:
    StableBuffer(const void* buffer, std::int32_t size, const std::uint8_t* data, std::int32_t dataSize)
        : m_pointer(static_cast<const std::uint8_t*>(buffer))
    {
        if (m_pointer && size > 0 && data && m_pointer + size > data && m_pointer < data + dataSize) {
            m_copy.assign(m_pointer, m_pointer + size);
            m_pointer = m_copy.data();
        }
    }
    const std::uint8_t* Get() const { return m_pointer; }

private:
    const std::uint8_t* m_pointer;
    std::vector<std::uint8_t> m_copy;
};

}  // namespace

std::int32_t TCustomZURadUvudod::LastCaretPos() const
{
    const std::int32_t size = GetDataSize();
    return GetInsertMode() ? size : std::max(0, size - 1);
}

// ====================================================================== single bytes

void TCustomZURadUvudod::IntChangeByte(std::uint8_t oldByte, std::uint8_t newByte, std::int32_t pos, std::int32_t,
                                       std::int32_t, const std::string& desc)
{
    if (oldByte == newByte)
        return;
    CreateUndo(ufKindBytesChanged, pos, 1, 0, desc);
    WriteBuffer(&newByte, pos, 1);
    if (!GetInsertMode())
        SetChanged(pos, true);
    RedrawPos(pos, pos);
    Changed();
}

void TCustomZURadUvudod::IntChangeWideChar(char16_t oldChar, char16_t newChar, std::int32_t pos, std::int32_t,
                                           std::int32_t, const std::string& desc)
{
    if (oldChar == newChar)
        return;
    CreateUndo(ufKindBytesChanged, pos, 2, 0, desc);
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(newChar & 0xFF), static_cast<std::uint8_t>(newChar >> 8)};
    WriteBuffer(bytes, pos, 2);
    if (!GetInsertMode()) {
        SetChanged(pos, (oldChar & 0xFF) != (newChar & 0xFF));
        SetChanged(pos + 1, (oldChar >> 8) != (newChar >> 8));
    }
    RedrawPos(pos, pos + 1);
    Changed();
}

// ====================================================================== ranges without undo

void TCustomZURadUvudod::InternalAppendBuffer(const void* buffer, std::int32_t size)
{
    InternalInsertBuffer(buffer, size, GetDataSize());
}

void TCustomZURadUvudod::InternalInsertBuffer(const void* buffer, std::int32_t size, std::int32_t pos)
{
    if (size <= 0)
        return;
    const std::int32_t old = GetDataSize();
    const StableBuffer source(buffer, size, m_data.Memory(), old);
    if (old == 0) {
        m_data.Seek(0, soBeginning);
        m_changes.Clear();
    }
    m_data.SetSize(static_cast<std::int64_t>(old) + size);
    if (pos < old)
        m_data.Move(pos, static_cast<std::int64_t>(pos) + size, old - pos);
    WriteBuffer(source.Get(), pos, size);
    CalcSizes();
}

void TCustomZURadUvudod::InternalDelete(std::int32_t from, std::int32_t to, std::int32_t col, std::int32_t row)
{
    const std::int32_t size = GetDataSize();
    if (to < size)
        m_data.Move(to, from, size - to);
    const std::int32_t newSize = size - (to - from);
    m_data.SetSize(newSize);
    const bool inChar = GetIsCharFieldCol(Col());
    if (newSize == 0) {
        MoveCaretTo(0, inChar);
    } else {
        const std::int32_t at = col >= 0 ? GetPositionAtCursor(col, row) : RawCaretPos();
        if (at >= newSize)
            MoveCaretTo(LastCaretPos(), inChar);
        else if (col >= 0)
            MoveColRow(col, row, true, true);
    }
    CalcSizes();
    ResetSelection(false);
    Invalidate();
}

void TCustomZURadUvudod::ReplaceAllData(const void* data, std::int32_t size)
{
    m_data.SetSize(size);
    if (size > 0)
        std::memcpy(m_data.Memory(), data, static_cast<size_t>(size));
    CalcSizes();
    ResetSelection(false);
    Invalidate();
}

// ====================================================================== ranges with undo

void TCustomZURadUvudod::InsertBuffer(const void* buffer, std::int32_t size, std::int32_t pos,
                                      const std::string& desc, bool moveCursor)
{
    if (!buffer || size <= 0)
        return;
    CreateUndo(ufKindInsertBuffer, pos, size, 0, desc);
    InternalInsertBuffer(buffer, size, pos);
    CutMarks(pos);
    if (Enabled()) {
        SetSelection(pos, pos, pos + size - 1);
        if (moveCursor) {
            MoveCaretTo(pos + size - 1, GetInCharField());
            SetSelection(pos, pos, pos + size - 1);
        }
        Invalidate();
    }
    Changed();
}

void TCustomZURadUvudod::AppendBuffer(const void* buffer, std::int32_t size, const std::string& desc,
                                      bool moveCursor)
{
    if (!buffer || size <= 0)
        return;
    const std::int32_t at = GetDataSize();
    CreateUndo(ufKindAppendBuffer, at, size, 0, desc);
    CutMarks(at);
    InternalAppendBuffer(buffer, size);
    if (moveCursor)
        MoveCaretTo(at, GetInCharField());
    SetSelection(at, at, at + size - 1);
    Invalidate();
    Changed();
}

void TCustomZURadUvudod::ReplaceSelection(const void* buffer, std::int32_t size, const std::string& desc,
                                          bool moveCursor)
{
    const bool field = GetInCharField();
    if (m_selAnchor == -1) {
        // Without a selection: an insertion at the caret, the end slot of
        // insert mode included.
        InsertBuffer(buffer, size, std::clamp(RawCaretPos(), 0, GetDataSize()), desc, moveCursor);
        return;
    }
    if (!buffer || size < 0)
        return;
    const StableBuffer source(buffer, size, m_data.Memory(), GetDataSize());
    std::int32_t n = size;
    if (IsFileSizeFixed()) {
        // A fixed size: the selection takes as many bytes as it holds, or
        // shrinks to the bytes there are.
        if (n < 1)
            throw EZURadUvudod(zaz_text::kCannotUpdateUndo);
        const std::int32_t selected = GetSelCount();
        if (n > selected)
            n = selected;
        else if (n < selected) {
            const std::int32_t first = std::min(GetSelStart(), GetSelEnd());
            SetSelStart(first);
            SetSelEnd(GetSelStart() + n - 1);
        }
    }
    CreateUndo(ufKindReplace, m_selStart, n, GetSelCount(), desc);
    std::int32_t start, stop, col, row;
    InternalGetCurSel(start, stop, col, row);
    InternalDelete(start, stop, col, row);
    InternalInsertBuffer(source.Get(), n, start);
    CutMarks(start);
    if (moveCursor && n > 0) {
        MoveCaretTo(start + n - 1, field);
        SetSelection(start + n - 1, start, start + n - 1);
    }
    Invalidate();
    Changed();
}

void TCustomZURadUvudod::DeleteSelection(const std::string& desc)
{
    std::int32_t start, stop, col, row;
    CurSelRange(start, stop, col, row);
    CreateUndo(ufKindByteRemoved, start, stop - start, 0, desc);
    CutMarks(start);
    InternalDelete(start, stop, col, row);
    Changed();
}

void TCustomZURadUvudod::InternalErase(bool backwards, const std::string& desc)
{
    const std::int32_t unit = m_bytesPerUnit;
    const std::int32_t size = GetDataSize();
    std::int32_t c = GetCursorPos();
    CheckUnit(c);
    std::int32_t n = unit;
    if (backwards) {
        std::int32_t e = c;
        if (GetInsertMode() && m_selAnchor == -1) {
            e = RawCaretPos();
            // A trailing part of a unit goes one byte at a time.
            if (e == size && size % unit != 0)
                n = 1;
            else
                CheckUnit(e);
        }
        if (e <= 0)
            return;
        n = std::min(n, e);
        CreateUndo(ufKindByteRemoved, e - n, n, 0, desc);
        InternalDelete(e - n, e, Col(), Row());
        if (e == c)
            Seek(e - n, 0);
        else if (Col() + 1 < ColCount())
            MoveColRow(Col() + 1, Row(), true, true);
        Changed();
    } else {
        if (c >= size)
            return;
        while (c + n > size)
            --n;
        CreateUndo(ufKindByteRemoved, c, n, 0, desc);
        InternalDelete(c, c + n, Col(), Row());
        Changed();
    }
}

// ====================================================================== nibbles

std::unique_ptr<TFileStream> TCustomZURadUvudod::CreateShift4BitStream(std::int32_t startPos, std::string& fileName)
{
    const std::int32_t size = GetDataSize();
    if (startPos < 0)
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    if (startPos >= size)
        return nullptr;
    int handle = -1;
    for (int tries = 0; handle < 0 && tries < 100; ++tries) {
        fileName = GetTempName();
        handle = FileCreatePrivate(fileName);
        if (handle < 0 && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (handle < 0)
        throw EFCreateError("Cannot create file \"" + fileName + "\". " + SysErrorMessage(GetLastError()));
    FileClose(handle);
    try {
        auto stream = std::make_unique<TFileStream>(fileName, fmOpenReadWrite | fmShareExclusive);
        // Each output byte takes the high nibble of its input byte as its
        // low nibble, after the low nibble of the byte before.
        constexpr std::int32_t kBlock = 512;
        std::uint8_t block[kBlock];
        std::uint8_t carry = 0;
        for (std::int32_t pos = startPos; pos < size; pos += kBlock) {
            const std::int32_t n = std::min(kBlock, size - pos);
            ReadBuffer(block, pos, n);
            for (std::int32_t i = 0; i < n; ++i) {
                const std::uint8_t b = block[i];
                block[i] = static_cast<std::uint8_t>((b >> 4) | (carry << 4));
                carry = b & 0x0F;
            }
            stream->WriteBuffer(block, n);
        }
        stream->Seek(0, soBeginning);
        return stream;
    } catch (...) {
        DeleteFile(fileName);
        throw;
    }
}

bool TCustomZURadUvudod::InternalInsertNibble(std::int32_t pos, bool highNibble)
{
    const std::int32_t size = GetDataSize();
    if (size == 0)
        return false;
    WaitCursor();
    try {
        m_data.SetSize(static_cast<std::int64_t>(size) + 1);
    } catch (...) {
        OldCursor();
        throw;
    }
    std::uint8_t* d = m_data.Memory();
    // From the end backwards: every byte after pos takes the low nibble of
    // the byte before it and the high nibble of its own old value; the new
    // last byte holds the nibble pushed out of the old last byte.
    d[size] = static_cast<std::uint8_t>((d[size - 1] & 0x0F) << 4);
    for (std::int32_t i = size - 1; i > pos; --i)
        d[i] = static_cast<std::uint8_t>(((d[i - 1] & 0x0F) << 4) | (d[i] >> 4));
    d[pos] = highNibble ? static_cast<std::uint8_t>(d[pos] >> 4) : static_cast<std::uint8_t>(d[pos] & 0xF0);
    OldCursor();
    return true;
}

bool TCustomZURadUvudod::InternalDeleteNibble(std::int32_t pos, bool highNibble)
{
    const std::int32_t size = GetDataSize();
    if (size == 0)
        return false;
    WaitCursor();
    std::uint8_t* d = m_data.Memory();
    // Every nibble after the removed one moves forward by one place; a zero
    // nibble fills the end.
    auto nextHigh = [&](std::int32_t i) { return i + 1 < size ? static_cast<std::uint8_t>(d[i + 1] >> 4) : 0; };
    const std::uint8_t keep = highNibble ? static_cast<std::uint8_t>(d[pos] & 0x0F) : static_cast<std::uint8_t>(d[pos] >> 4);
    d[pos] = static_cast<std::uint8_t>((keep << 4) | nextHigh(pos));
    for (std::int32_t i = pos + 1; i < size; ++i)
        d[i] = static_cast<std::uint8_t>(((d[i] & 0x0F) << 4) | nextHigh(i));
    OldCursor();
    return true;
}

bool TCustomZURadUvudod::InsertNibble(std::int32_t pos, bool highNibble, const std::string& desc)
{
    if (GetDataSize() == 0) {
        ResetSelection(false);
        const std::uint8_t zero = 0;
        AppendBuffer(&zero, 1, desc, true);
        return true;
    }
    return NibbleEdit(ufKindNibbleInsert, pos, highNibble, desc);
}

bool TCustomZURadUvudod::DeleteNibble(std::int32_t pos, bool highNibble, const std::string& desc)
{
    return NibbleEdit(ufKindNibbleDelete, pos, highNibble, desc);
}

bool TCustomZURadUvudod::NibbleEdit(TZAZUndoFlag kind, std::int32_t pos, bool highNibble, const std::string& desc)
{
    if (pos < 0 || pos >= GetDataSize())
        return false;
    CreateUndo(kind, pos, 1, 0, desc);
    ResetSelection(false);
    const bool done = kind == ufKindNibbleInsert ? InternalInsertNibble(pos, highNibble)
                                                 : InternalDeleteNibble(pos, highNibble);
    if (done)
        CutMarks(pos);
    CalcSizes();
    Invalidate();
    Changed();
    return done;
}

// ====================================================================== conversion

void TCustomZURadUvudod::InternalConvertRange(std::int32_t from, std::int32_t to, TZAZTranslationKind transFrom,
                                              TZAZTranslationKind transTo)
{
    WaitCursor();
    try {
        m_data.TranslateToAnsi(transFrom, from, to - from + 1);
        m_data.TranslateFromAnsi(transTo, from, to - from + 1);
    } catch (...) {
        OldCursor();
        throw;
    }
    OldCursor();
}

void TCustomZURadUvudod::ConvertRange(std::int32_t from, std::int32_t to, TZAZTranslationKind transFrom,
                                      TZAZTranslationKind transTo, const std::string& desc)
{
    if (to < from || transFrom == transTo || to >= GetDataSize() || from < 0)
        return;
    CreateUndo(ufKindConvert, from, to - from + 1, 0, desc);
    InternalConvertRange(from, to, transFrom, transTo);
    Invalidate();
    Changed();
}

// ====================================================================== positioning

std::int32_t TCustomZURadUvudod::Seek(std::int32_t offset, std::int32_t origin)
{
    const std::int32_t size = GetDataSize();
    if (size == 0)
        return -1;
    std::int64_t target;
    switch (origin) {
    case 0: target = offset; break;
    case 1: target = static_cast<std::int64_t>(GetCursorPos()) + offset; break;
    case 2: target = static_cast<std::int64_t>(size) - 1 + offset; break;
    default: target = GetCursorPos(); break;
    }
    const std::int32_t pos = static_cast<std::int32_t>(std::clamp<std::int64_t>(target, 0, size - 1));
    SetSelStart(pos);
    return pos;
}

void TCustomZURadUvudod::SeekToEOF() { MoveCaretTo(LastCaretPos(), GetIsCharFieldCol(Col())); }

std::int32_t TCustomZURadUvudod::GetCurrentValue() const
{
    const std::int32_t pos = RawCaretPos();
    if (pos < 0 || pos >= GetDataSize())
        return -1;
    return GetDataAt(pos);
}

// ====================================================================== text properties

std::string TCustomZURadUvudod::GetAsText() const
{
    return std::string(reinterpret_cast<const char*>(m_data.Memory()), static_cast<size_t>(GetDataSize()));
}

void TCustomZURadUvudod::SetAsText(const std::string& text)
{
    // An empty text has nothing to put in place of the data: nothing changes.
    if (text.empty())
        return;
    std::string bytes(text.size(), '\0');
    TranslateBufferFromAnsi(m_translation, text.data(), bytes.data(), static_cast<std::int32_t>(text.size()));
    if (GetDataSize() > 0) {
        SetSelStart(0);
        SetSelEnd(GetDataSize() - 1);
    }
    ReplaceSelection(bytes.data(), static_cast<std::int32_t>(bytes.size()), {}, true);
}

std::string TCustomZURadUvudod::GetAsHex() { return m_data.GetAsHex(0, GetDataSize(), m_swapNibbles); }

void TCustomZURadUvudod::SetAsHex(const std::string& text)
{
    std::string bytes(text.size() / 2 + 1, '\0');
    std::int32_t count = 0;
    ConvertHexToBin(text.data(), reinterpret_cast<std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(text.size()),
                    count, m_swapNibbles);
    if (count == 0)
        return;
    if (GetDataSize() > 0) {
        SetSelStart(0);
        SetSelEnd(GetDataSize() - 1);
    }
    ReplaceSelection(bytes.data(), count, {}, true);
}

std::string TCustomZURadUvudod::GetSelectionAsText() const
{
    if (GetDataSize() == 0 || m_selAnchor == -1)
        return {};
    return std::string(reinterpret_cast<const char*>(m_data.Memory() + m_selStart), static_cast<size_t>(GetSelCount()));
}

void TCustomZURadUvudod::SetSelectionAsText(const std::string& text)
{
    if (text.empty())
        return;
    ReplaceSelection(text.data(), static_cast<std::int32_t>(text.size()), {}, true);
}

std::string TCustomZURadUvudod::GetSelectionAsHex()
{
    if (GetDataSize() == 0 || m_selAnchor == -1)
        return {};
    return m_data.GetAsHex(m_selStart, GetSelCount(), m_swapNibbles);
}

void TCustomZURadUvudod::SetSelectionAsHex(const std::string& text)
{
    if (text.empty())
        return;
    std::string bytes(text.size() / 2 + 1, '\0');
    std::int32_t count = 0;
    ConvertHexToBin(text.data(), reinterpret_cast<std::uint8_t*>(bytes.data()), static_cast<std::int32_t>(text.size()),
                    count, m_swapNibbles);
    bytes.resize(static_cast<size_t>(count));
    SetSelectionAsText(bytes);
}
