#include "hexedit/zuradhex.h"

#include "kernel/kernel.h"
#include "rtl/clock.h"
#include "vcl/caret.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>

namespace {

constexpr std::int32_t kChunk = 61440;
constexpr const char* kVersion = "2026-12-10, Vistrel hex editor control";

std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (char16_t ch : text) {
        std::uint32_t c = ch;
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;  // a lone half of a pair shows as the replacement mark
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// System error texts end without the period that the message adds.
std::string TrimErrorText(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

// Digits 0-9 of the built-in bookmark icons, 3 x 5 pixels, top row first,
// bit 2 the left column.
constexpr std::uint8_t kDigitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr TColor kIconTransparent = clFuchsia;

// Reads a file range into memory on several threads, stripe after stripe
// from the start, so that the copy loop can follow it chunk by chunk with
// its progress reports. Both the copying and the kernel's zeroing of fresh
// pages are spread over the threads.
class StripeReader {
public:
    static constexpr std::int64_t kStripe = std::int64_t(2) << 20;

    StripeReader(int handle, std::int64_t filePos, std::uint8_t* dest, std::int64_t count)
        : m_handle(handle), m_filePos(filePos), m_dest(dest), m_count(count),
          m_stripes((count + kStripe - 1) / kStripe), m_state(new std::atomic<int>[static_cast<size_t>(m_stripes)])
    {
        for (std::int64_t i = 0; i < m_stripes; ++i)
            m_state[static_cast<size_t>(i)].store(0);
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        for (unsigned t = 0; t < threads; ++t)
            m_workers.emplace_back([this] { Work(); });
    }
    ~StripeReader()
    {
        m_stop = true;
        for (auto& w : m_workers)
            w.join();
    }
    StripeReader(const StripeReader&) = delete;
    StripeReader& operator=(const StripeReader&) = delete;

    // Waits until every byte below end has arrived; false when a read failed.
    bool WaitUntil(std::int64_t end)
    {
        const std::int64_t last = (end - 1) / kStripe;
        for (; m_waited <= last; ++m_waited) {
            auto& state = m_state[static_cast<size_t>(m_waited)];
            state.wait(0);
            if (state.load() != 1)
                return false;
        }
        return true;
    }

private:
    void Work()
    {
        for (;;) {
            const std::int64_t i = m_next.fetch_add(1);
            if (i >= m_stripes || m_stop)
                return;
            const std::int64_t offset = i * kStripe;
            const std::int64_t n = std::min(kStripe, m_count - offset);
            const std::int64_t got = FileReadAt(m_handle, m_filePos + offset, m_dest + offset, n);
            auto& state = m_state[static_cast<size_t>(i)];
            state.store(got == n ? 1 : 2);
            state.notify_all();
        }
    }

    int m_handle;
    std::int64_t m_filePos;
    std::uint8_t* m_dest;
    std::int64_t m_count;
    std::int64_t m_stripes;
    std::unique_ptr<std::atomic<int>[]> m_state;
    std::atomic<std::int64_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::int64_t m_waited = 0;
    std::vector<std::thread> m_workers;
};
constexpr TColor kIconLightGray = RGB(212, 208, 200);

}  // namespace

TColor InvertColor(TColor c) { return static_cast<TColor>(InvertRGB(ColorToRGB(c))); }
TColor FadeToGray(TColor c) { return static_cast<TColor>(FadeToGrayRGB(ColorToRGB(c))); }
bool IsKeyDown(int virtualKey) { return (GetKeyState(virtualKey) & 0x8000) != 0; }

// ====================================================================== TZAZColors

void TZAZColors::Assign(const TObject& source)
{
    const auto* other = dynamic_cast<const TZAZColors*>(&source);
    if (!other)
        return;
    SetBackground(other->Background());
    SetChangedBackground(other->ChangedBackground());
    SetChangedText(other->ChangedText());
    SetCursorFrame(other->CursorFrame());
    SetNonFocusCursorFrame(other->NonFocusCursorFrame());
    SetOffset(other->Offset());
    SetOddColumn(other->OddColumn());
    SetEvenColumn(other->EvenColumn());
    SetCurrentOffsetBackground(other->CurrentOffsetBackground());
    SetOffsetBackGround(other->OffsetBackGround());
    SetCurrentOffset(other->CurrentOffset());
    SetGrid(other->Grid());
    SetActiveFieldBackground(other->ActiveFieldBackground());
}

void TZAZColors::Changed(const char* name)
{
    if (m_parent)
        m_parent->ColorsChanged(name);
}

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

// ====================================================================== raw access

std::int32_t TCustomZURadUvudod::GetDataSize() const
{
    const std::int64_t size = const_cast<TZAZMemoryStream&>(m_data).Size();
    if (size > INT32_MAX)
        throw ERangeError("Range check error");
    return static_cast<std::int32_t>(size);
}

void TCustomZURadUvudod::ReadBuffer(void* buffer, std::int32_t index, std::int32_t count)
{
    m_data.CheckRange(index, count);
    if (count > 0)
        std::memcpy(buffer, m_data.Memory() + index, static_cast<size_t>(count));
}

void TCustomZURadUvudod::WriteBuffer(const void* buffer, std::int32_t index, std::int32_t count)
{
    m_data.CheckRange(index, count);
    if (count > 0)
        std::memcpy(m_data.Memory() + index, buffer, static_cast<size_t>(count));
}

void TCustomZURadUvudod::MoveFileMem(std::int32_t fromPos, std::int32_t toPos, std::int32_t count)
{
    m_data.CheckRange(fromPos, count);
    m_data.CheckRange(toPos, count);
    m_data.Move(fromPos, toPos, count);
}

std::unique_ptr<std::uint8_t[]> TCustomZURadUvudod::BufferFromFile(std::int32_t pos, std::int32_t& count)
{
    const std::int32_t size = GetDataSize();
    if (pos < 0 || pos >= size || count < 0)
        throw EZURadUvudod(zaz_text::kInvalidBufferArg);
    if (static_cast<std::int64_t>(pos) + count > size)
        count = size - pos;
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[static_cast<size_t>(std::max(count, 1))]);
    try {
        m_data.ReadBufferAt(block.get(), pos, count);
    } catch (const std::exception&) {
        count = 0;
        return nullptr;
    }
    return block;
}

// ====================================================================== change marks, state

bool TCustomZURadUvudod::HasChanged(std::int32_t pos) const { return !GetInsertMode() && m_changes.Get(pos); }

void TCustomZURadUvudod::SetChanged(std::int32_t pos, bool value)
{
    if (GetInsertMode())
        m_changes.Clear();
    m_changes.Set(pos, value);
}

bool TCustomZURadUvudod::GetModified() const
{
    if (!m_modified)
        return false;
    if (GetDataSize() == 0 && !FileExists(m_fileName))
        return false;
    return true;
}

void TCustomZURadUvudod::SetModified(bool value)
{
    m_modified = value;
    if (!value) {
        FreeStorage(true);
        m_changes.Clear();
        Invalidate();
    }
}

void TCustomZURadUvudod::FreeStorage(bool undo)
{
    // The history goes with the data it was recorded on, also inside a
    // grouped update (whose suspension of recording stays in force).
    if (undo)
        m_undo->ClearHistory();
    else
        m_data.Clear();
}

void TCustomZURadUvudod::WaitCursor()
{
    m_cursorStack.push_back(Cursor());
    SetCursor(TCursor::crHourGlass);
}

void TCustomZURadUvudod::OldCursor()
{
    if (m_cursorStack.empty())
        return;
    SetCursor(m_cursorStack.back());
    m_cursorStack.pop_back();
}

std::string GetTempName()
{
    const std::string dir = GetTempPathA();
    std::uint32_t tick = GetTickCount();
    for (;;) {
        const std::string name = dir + Format("%08X", tick) + ".ZAZT";
        if (!FileExists(name))
            return name;
        ++tick;  // the next free name rather than waiting for the clock
    }
}

// ====================================================================== streams and files

void TCustomZURadUvudod::Stream2Stream(TStream& source, TStream& dest, TZAZProgressKind kind, std::int32_t count)
{
    std::int64_t total = count;
    if (count == -1)
        total = source.Size() - source.Position();
    if (total < 0)
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    std::int64_t remaining = total;
    int lastPercent = 255;
    bool cancel = false;
    const std::string name = m_progressFileName.empty() ? m_fileName : m_progressFileName;
    // Copies between a file and the byte store go straight into (or out of)
    // the store's block: no second copy of the data.
    auto* destMem = dynamic_cast<TMemoryStream*>(&dest);
    auto* srcMem = dynamic_cast<TMemoryStream*>(&source);
    std::unique_ptr<std::uint8_t[]> buffer;
    // A large file read into the store goes through several threads.
    std::unique_ptr<StripeReader> reader;
    auto* srcFile = dynamic_cast<TFileStream*>(&source);
    const std::int64_t srcStart = srcFile ? source.Position() : 0;
    const std::int64_t destStart = destMem ? destMem->Position() : 0;
    if (srcFile && destMem && total >= (std::int64_t(16) << 20) && destStart >= 0 &&
        destStart + total <= destMem->Size())
        reader = std::make_unique<StripeReader>(srcFile->Handle(), srcStart, destMem->Memory() + destStart, total);
    while (remaining > 0) {
        const double exact = static_cast<double>(total - remaining) / static_cast<double>(total) * 100.0;
        const int percent = static_cast<int>(std::nearbyint(exact));  // ties to even
        if (percent != lastPercent || remaining <= kChunk) {
            lastPercent = remaining > kChunk ? percent : 100;
            if (OnProgress) {
                OnProgress(this, kind, name, static_cast<std::uint8_t>(lastPercent), cancel);
                if (cancel)
                    throw EZURadUvudod(zaz_text::kCancelled);
            }
        }
        const std::int64_t n = std::min<std::int64_t>(remaining, kChunk);
        if (reader) {
            if (!reader->WaitUntil(total - remaining + n))
                throw EReadError("Stream read error");
            destMem->Seek(destStart + total - remaining + n, soBeginning);
        } else if (destMem && destMem->Position() >= 0 && destMem->Position() + n <= destMem->Size()) {
            const std::int64_t pos = destMem->Position();
            source.ReadBuffer(destMem->Memory() + pos, n);
            destMem->Seek(pos + n, soBeginning);
        } else if (srcMem) {
            const std::int64_t pos = srcMem->Position();
            if (pos < 0 || pos + n > srcMem->Size())
                throw EReadError("Stream read error");
            dest.WriteBuffer(srcMem->Memory() + pos, n);
            srcMem->Seek(pos + n, soBeginning);
        } else {
            if (!buffer)
                buffer.reset(new std::uint8_t[kChunk]);
            source.ReadBuffer(buffer.get(), n);
            dest.WriteBuffer(buffer.get(), n);
        }
        remaining -= n;
    }
    if (reader)
        source.Seek(srcStart + total, soBeginning);
}

void TCustomZURadUvudod::LoadFromFile(const std::string& fileName)
{
    // Probe: readable with any sharing, and writable without sharing?
    m_readOnlyFile = true;
    bool probeOk = false;
    if (!FileExists(fileName)) {
        SetLastError(DirectoryExists(fileName) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    } else {
        const int h = FileOpen(fileName, fmOpenRead | fmShareDenyNone);
        if (h >= 0) {
            probeOk = true;
            FileClose(h);
            const int w = FileOpen(fileName, fmOpenReadWrite | fmShareExclusive);
            if (w >= 0) {
                FileClose(w);
                m_readOnlyFile = false;
            }
        }
    }
    if (!probeOk) {
        const std::string reason = TrimErrorText(SysErrorMessage(GetLastError()));
        throw EFOpenError(Format(zaz_text::kCannotOpen, fileName.c_str(), reason.c_str()));
    }
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    m_progressFileName = fileName;
    try {
        LoadFromStream(stream);
    } catch (...) {
        m_hasFile = false;
        m_progressFileName.clear();
        throw;
    }
    m_fileName = fileName;
    m_hasFile = true;
    m_progressFileName.clear();
}

void TCustomZURadUvudod::LoadFromStream(TStream& stream)
{
    FreeStorage(false);
    CalcSizes();
    WaitCursor();
    std::exception_ptr error;
    try {
        stream.Seek(0, soBeginning);
        const std::int64_t size = stream.Size();
        // Refused before anything is allocated: positions are 32-bit.
        if (size > INT32_MAX)
            throw EZURadUvudod(Format(zaz_text::kFileTooLarge, static_cast<long long>(size)));
        m_data.SetSize(size);
        m_data.Seek(0, soBeginning);
        Stream2Stream(stream, m_data, pkLoad, -1);
        m_data.Seek(0, soBeginning);
    } catch (...) {
        error = std::current_exception();
        // Emptied before the layout is recomputed so that rows and caret
        // match what is left.
        FreeStorage(false);
    }
    FreeStorage(true);
    m_changes.Clear();
    CalcSizes();
    m_modified = false;
    m_selecting = false;
    ResetSelection(false);
    MoveColRow(2, 2, true, true);
    Changed();
    OldCursor();
    if (error) {
        FreeStorage(false);
        FreeStorage(true);
        m_hasFile = false;
        std::rethrow_exception(error);
    }
}

void TCustomZURadUvudod::PrepareOverwriteDiskFile()
{
    if (m_readOnlyFile)
        throw EFOpenError(Format(zaz_text::kSaveReadOnly, m_fileName.c_str()));
}

void TCustomZURadUvudod::SaveToFile(const std::string& fileName, bool makeCurrent)
{
    // The same file however it is spelled: links, "." and ".." resolved.
    const std::string target = CanonicalFileName(fileName);
    const bool overwritesCurrent = !m_fileName.empty() && target == CanonicalFileName(m_fileName);
    if (overwritesCurrent)
        PrepareOverwriteDiskFile();

    // The data go to a new file beside the target, which replaces the target
    // only when complete: a cancelled or failed save leaves it as it was.
    std::string temp;
    int handle = -1;
    for (std::uint32_t n = GetTickCount(), tries = 0; handle < 0 && tries < 100; ++n, ++tries) {
        temp = target + Format(".~%08X.tmp", n);
        handle = FileCreateNew(temp);
        if (handle < 0 && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (handle < 0)
        throw EFCreateError("Cannot create file \"" + fileName + "\". " + SysErrorMessage(GetLastError()));
    FileClose(handle);
    m_progressFileName = fileName;
    try {
        {
            TFileStream out(temp, fmOpenReadWrite | fmShareExclusive);
            SaveToStream(out);
        }
        CommitSavedFile(temp, target, overwritesCurrent);
    } catch (...) {
        DeleteFile(temp);
        m_progressFileName.clear();
        throw;
    }
    m_hasFile = true;
    if (makeCurrent) {
        m_changes.Clear();
        m_modified = false;
        m_readOnlyFile = false;
        m_fileName = fileName;
        m_data.Seek(0, soBeginning);
        FreeStorage(true);
    }
    m_progressFileName.clear();
}

void TCustomZURadUvudod::CommitSavedFile(const std::string& temp, const std::string& target, bool)
{
    if (!ReplaceFileWith(temp, target))
        throw EFCreateError("Cannot create file \"" + target + "\". " + SysErrorMessage(GetLastError()));
}

void TCustomZURadUvudod::SaveToStream(TStream& stream)
{
    WaitCursor();
    try {
        m_data.Seek(0, soBeginning);
        Stream2Stream(m_data, stream, pkSave, -1);
    } catch (...) {
        Invalidate();
        OldCursor();
        throw;
    }
    Invalidate();
    OldCursor();
}

void TCustomZURadUvudod::SaveRangeToStream(TStream& stream, std::int32_t start, std::int32_t count)
{
    if (start < 0 || count < 0)
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    WaitCursor();
    try {
        m_data.Seek(start, soBeginning);
        Stream2Stream(m_data, stream, pkSave, count);
    } catch (...) {
        Invalidate();
        OldCursor();
        throw;
    }
    Invalidate();
    OldCursor();
}

void TCustomZURadUvudod::CreateEmptyFile(const std::string& name)
{
    FreeStorage(false);
    m_fileName = name.empty() ? std::string(zaz_text::kUntitled) : name;
    FreeStorage(true);
    ResetSelection(false);
    m_changes.Clear();
    CalcSizes();
    m_modified = false;
    m_readOnlyFile = true;
    m_hasFile = false;
    MoveColRow(2, 2, true, true);
    Changed();
}

void TCustomZURadUvudod::SetDataSize(std::int32_t newSize)
{
    const std::int32_t oldSize = GetDataSize();
    if (newSize == oldSize)
        return;
    if (newSize < 0)
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    const std::int32_t caret = GetCursorPos();
    if (oldSize != 0 && newSize != 0 && IsFileSizeFixed())
        throw EZURadUvudod(zaz_text::kFixedSize);
    ++m_sizeChangeOverride;
    try {
        const bool shrink = newSize < oldSize;
        if (shrink)
            CreateUndo(ufKindByteRemoved, newSize, oldSize - newSize, 0);
        else
            CreateUndo(ufKindAppendBuffer, oldSize, newSize - oldSize, 0);
        m_data.SetSize(newSize);
        if (!shrink)
            std::memset(m_data.Memory() + oldSize, 0, static_cast<size_t>(newSize - oldSize));
        m_modified = true;
        CalcSizes();
        SetSelection(m_selAnchor, m_selStart, m_selEnd);
        // A caret left on a byte that is gone moves to the new end.
        if (caret >= newSize) {
            ResetSelection(true);
            if (newSize > 0 || GetInsertMode())
                MoveCaretTo(GetInsertMode() ? newSize : newSize - 1, GetInCharField());
            else
                MoveCaretTo(0, GetInCharField());
        }
    } catch (...) {
        --m_sizeChangeOverride;
        throw;
    }
    --m_sizeChangeOverride;
}

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

// ====================================================================== layout

void TCustomZURadUvudod::SetRulerString()
{
    MakeRulerStrings(m_layout.BytesPerRow, m_layout.RulerUnit, m_layout.Unicode, m_rulerNumberBase, m_hexLowerCase,
                     m_hexRuler, m_charRuler);
}

void TCustomZURadUvudod::CalcSizes()
{
    const std::int32_t size = GetDataSize();
    m_changes.Cut(size);
    SetColCount(CalcColCount());
    SetRowCount(m_layout.RowCount(size, GetInsertMode()));
    SetFixedCols(2);
    SetFixedRows(2);
    AdjustMetrics();
}

void TCustomZURadUvudod::AdjustMetrics()
{
    Canvas().Font().Assign(Font());
    m_charWidth = std::max(1, Canvas().TextWidth("w"));
    const std::int32_t rowHeight = Canvas().TextHeight("yY") + 2;
    SetOffsetDisplayWidth();
    SetColWidths(1, 6);
    const auto widths = m_layout.ColumnWidths(m_charWidth);
    for (std::int32_t c = 2; c < static_cast<std::int32_t>(widths.size()); ++c)
        SetColWidths(c, widths[static_cast<size_t>(c)]);
    if (DefaultRowHeight() != rowHeight)
        SetDefaultRowHeight(rowHeight);
    SetRowHeights(0, m_showRuler ? rowHeight + 3 : 0);
    SetRowHeights(1, 0);
    CheckSetCaret();
}

void TCustomZURadUvudod::SetOffsetDisplayWidth()
{
    const std::int32_t rows = std::max(0, RowCount() - 3);
    const auto reference = static_cast<std::uint32_t>(static_cast<std::int64_t>(rows) * m_layout.BytesPerRow);
    std::size_t length;
    if (OnGetOffsetText && !m_inOffsetEvent) {
        std::string text;
        m_inOffsetEvent = true;
        m_isMaxOffset = true;
        m_offsetEventUsed = true;
        try {
            OnGetOffsetText(this, reference, text);
        } catch (...) {
            m_inOffsetEvent = false;
            m_isMaxOffset = false;
            throw;
        }
        m_inOffsetEvent = false;
        m_isMaxOffset = false;
        length = text.size();
    } else {
        if (m_offsetFormat.Flags & offCalcWidth)
            m_offsetFormat.CalcWidth(reference);
        length = GetOffsetString(reference).size();
    }
    m_offsetLength = static_cast<std::int32_t>(length) + 1;
    SetColWidths(0, m_gutterWidth == -1 ? m_offsetLength * m_charWidth + 21 : m_gutterWidth);
}

void TCustomZURadUvudod::SetBytesPerRow(std::int32_t value)
{
    if (value == m_layout.BytesPerRow)
        return;
    if (value < 1 || value > 256 || (m_layout.Unicode && value % 2 != 0))
        throw EZURadUvudod(zaz_text::kInvalidBytesPerLine);
    if ((m_offsetFormat.Flags & offCalcRow) && value > 255)
        throw ERangeError("Range check error");
    const std::int32_t anchor = m_selAnchor, start = m_selStart, end = m_selEnd;
    const bool field = GetIsCharFieldCol(Col());
    std::int32_t pos = GetPositionAtCursor(Col(), Row());
    const bool lowNibble = Col() != GetCursorAtPos(pos, field).X;
    m_layout.BytesPerRow = value;
    if (m_offsetFormat.Flags & offCalcRow)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(value);
    SetRulerString();
    CalcSizes();
    if (pos >= GetDataSize())
        pos = GetDataSize() - 1;
    TGridCoord cell = GetCursorAtPos(pos, field);
    if (lowNibble)
        ++cell.X;
    MoveColRow(cell.X, cell.Y, true, true);
    SetSelection(anchor, start, end);
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerColumn(std::int32_t value)
{
    if (value == m_layout.BytesPerColumn)
        return;
    if (value < 1 || value > 256 || (m_layout.Unicode && value % 2 != 0))
        throw EZURadUvudod(zaz_text::kInvalidBytesPerColumn);
    if ((m_offsetFormat.Flags & offCalcColumn) && value > 255)
        throw ERangeError("Range check error");
    m_layout.BytesPerColumn = value;
    if (m_offsetFormat.Flags & offCalcColumn)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(value);
    AdjustMetrics();
    SetRulerString();
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerUnit(std::int32_t value)
{
    if (value == m_bytesPerUnit)
        return;
    if (m_layout.Unicode && value != 2)
        throw EZURadUvudod(zaz_text::kUnicodeUnit);
    if (value != 1 && value != 2 && value != 4 && value != 8)
        throw EZURadUvudod(Format(zaz_text::kInvalidBytesPerUnit, value));
    m_bytesPerUnit = value;
    if (m_rulerBytesPerUnit == -1)
        m_layout.RulerUnit = value;
    if (m_offsetFormat.Flags & offBytesPerUnit)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(m_layout.RulerUnit);
    AdjustMetrics();
    SetRulerString();
    if (GetSelCount() % value != 0)
        SetSelection(-1, -1, -1);
    Invalidate();
}

void TCustomZURadUvudod::SetRulerBytesPerUnit(std::int32_t value)
{
    if (value == m_rulerBytesPerUnit)
        return;
    if (value != -1 && value != 1 && value != 2 && value != 4 && value != 8)
        throw EZURadUvudod(Format(zaz_text::kInvalidRulerUnit, value));
    m_rulerBytesPerUnit = value;
    m_layout.RulerUnit = value == -1 ? m_bytesPerUnit : value;
    if (m_offsetFormat.Flags & offBytesPerUnit)
        m_offsetFormat.BytesPerUnit = static_cast<std::uint8_t>(m_layout.RulerUnit);
    AdjustMetrics();
    SetRulerString();
    Invalidate();
}

void TCustomZURadUvudod::SetBytesPerBlock(std::int32_t value)
{
    if (value == m_layout.BytesPerBlock)
        return;
    m_layout.BytesPerBlock = value;
    AdjustMetrics();
}

void TCustomZURadUvudod::SetSeparateBlocksInCharField(bool value)
{
    if (value == m_layout.SeparateBlocksInCharField)
        return;
    m_layout.SeparateBlocksInCharField = value;
    // Both ways at once, so the character field never keeps stale gaps.
    if (m_layout.BytesPerBlock > 1)
        AdjustMetrics();
}

void TCustomZURadUvudod::SetShowRuler(bool value)
{
    if (value == m_showRuler && !IsLoading())
        return;
    m_showRuler = value;
    AdjustMetrics();
}

void TCustomZURadUvudod::SetRulerNumberBase(std::int32_t value)
{
    if (value < 2 || value > 16)
        value = 16;
    if (value == m_rulerNumberBase)
        return;
    m_rulerNumberBase = value;
    SetRulerString();
    if (m_showRuler)
        Invalidate();
}

void TCustomZURadUvudod::SetGutterWidth(std::int32_t value)
{
    if (value == m_gutterWidth)
        return;
    m_gutterWidth = value < 0 ? -1 : value;
    SetOffsetDisplayWidth();
    Invalidate();
}

void TCustomZURadUvudod::SetUnicodeChars(bool value)
{
    if (value == m_layout.Unicode)
        return;
    if (value) {
        if (m_layout.BytesPerRow % 2 != 0)
            throw EZURadUvudod(zaz_text::kInvalidBytesPerLine);
        if (m_layout.BytesPerColumn % 2 != 0)
            throw EZURadUvudod(zaz_text::kInvalidBytesPerColumn);
        if (GetDataSize() % 2 != 0)
            throw EZURadUvudod(zaz_text::kOddUnicode);
        m_translation = tkAsIs;
    }
    m_layout.Unicode = value;
    SetColCount(CalcColCount());
    SetBytesPerUnit(value ? 2 : 1);
    CalcSizes();
    SetRulerString();
    Invalidate();
}

void TCustomZURadUvudod::SetUnicodeBigEndian(bool value)
{
    if (value == m_unicodeBigEndian)
        return;
    m_unicodeBigEndian = value;
    if (m_layout.Unicode)
        Invalidate();
}

void TCustomZURadUvudod::CreateCaretGlyph()
{
    if (CaretOwner() == this)
        DestroyCaret();
    const int h = std::max(1, DefaultRowHeight() - 2);
    const int w = std::max(1, m_charWidth);
    m_caretBitmap->SetSize(w, h);
    TCanvas& c = m_caretBitmap->Canvas();
    c.Brush().SetColor(clBlack);
    c.FillRect(Rect(0, 0, w, h));
    TZAZCaretKind kind = m_caretKind;
    if (kind == ckAuto)
        kind = m_readOnlyView ? ckBottom : (m_insertMode ? ckLeft : ckFull);
    TRect mark = Rect(0, 0, w, h);
    if (kind == ckLeft)
        mark = Rect(0, 0, std::min(2, w), h);
    else if (kind == ckBottom)
        mark = Rect(0, std::max(0, h - 2), w, h);
    c.Brush().SetColor(clWhite);
    c.FillRect(mark);
    CreateCaret(this, m_caretBitmap.get(), w, h);
    ShowCaret(this);
}

void TCustomZURadUvudod::CheckSetCaret() { PlaceCaretOnCell(Col(), Row()); }

void TCustomZURadUvudod::PlaceCaretOnCell(std::int32_t col, std::int32_t row)
{
    const TRect r = CellRect(col, row);
    if (r.Left + r.Bottom == 0)
        IntSetCaretPos(-50, -50, -1);
    else
        IntSetCaretPos(r.Left, r.Top, col);
}

std::int32_t TCustomZURadUvudod::GetPosAtCursor(std::int32_t col, std::int32_t row)
{
    m_inCharField = GetIsCharFieldCol(col);
    return m_layout.PositionAt(col, row);
}

std::int32_t TCustomZURadUvudod::GetPositionAtCursor(std::int32_t col, std::int32_t row) const
{
    return m_layout.PositionAt(col, row);
}

TGridCoord TCustomZURadUvudod::GetCursorAtPos(std::int32_t pos, bool inCharField) const
{
    TGridCoord c;
    m_layout.CellAt(pos, inCharField, c.X, c.Y);
    return c;
}

std::int32_t TCustomZURadUvudod::GetOtherFieldCol(std::int32_t col)
{
    m_inCharField = GetIsCharFieldCol(col);
    return m_layout.OtherFieldCol(col);
}

void TCustomZURadUvudod::CheckUnit(std::int32_t& pos) const { pos = (pos / m_bytesPerUnit) * m_bytesPerUnit; }

void TCustomZURadUvudod::CheckSelectUnit(std::int32_t& start, std::int32_t& end) const
{
    CheckUnit(start);
    CheckUnit(end);
    const std::int32_t last = GetDataSize() - 1;
    std::int32_t& larger = end >= start ? end : start;
    larger = std::min(larger + m_bytesPerUnit - 1, last);
}

std::int32_t TCustomZURadUvudod::DisplayStart() const
{
    if (GetDataSize() == 0)
        return -1;
    return GetPositionAtCursor(2, TopRow());
}

std::int32_t TCustomZURadUvudod::DisplayEnd() const
{
    if (GetDataSize() == 0)
        return -1;
    const std::int64_t end = static_cast<std::int64_t>(DisplayStart()) +
                             static_cast<std::int64_t>(VisibleRowCount()) * m_layout.BytesPerRow - 1;
    return static_cast<std::int32_t>(std::min<std::int64_t>(GetDataSize() - 1, end));
}

std::int32_t TCustomZURadUvudod::DropPosition() const
{
    if (!m_showDragCell)
        return -1;
    std::int32_t pos = GetPositionAtCursor(m_dragCell.X, m_dragCell.Y);
    CheckUnit(pos);
    return pos;
}

// ====================================================================== offsets

void TCustomZURadUvudod::SetOffsetFormat(const std::string& text)
{
    if (text == m_offsetFormat.Format)
        return;
    // The parser changes nothing when it fails, so the previous format stays.
    m_offsetFormat.Parse(text, m_layout.BytesPerRow, m_layout.BytesPerColumn, m_layout.RulerUnit);
    SetOffsetDisplayWidth();
    Invalidate();
}

std::string TCustomZURadUvudod::GetOffsetString(std::uint32_t position)
{
    if (OnGetOffsetText && !m_inOffsetEvent) {
        std::string text;
        m_inOffsetEvent = true;
        m_isMaxOffset = false;
        try {
            OnGetOffsetText(this, position, text);
        } catch (...) {
            m_inOffsetEvent = false;
            throw;
        }
        m_inOffsetEvent = false;
        return text;
    }
    return m_offsetFormat.OffsetString(position, m_hexLowerCase);
}

std::string TCustomZURadUvudod::GetAnyOffsetString(std::uint32_t position)
{
    if (m_offsetFormat.Format.empty())
        return IntToRadix(position, 16);
    return GetOffsetString(position);
}

void TCustomZURadUvudod::UpdateGetOffsetText()
{
    SetOffsetDisplayWidth();
    Invalidate();
}

void TCustomZURadUvudod::SetHexLowerCase(bool value)
{
    if (value == m_hexLowerCase)
        return;
    m_hexLowerCase = value;
    m_digits = value ? "0123456789abcdef" : "0123456789ABCDEF";
    SetRulerString();
    Invalidate();
}

// ====================================================================== painting properties

void TCustomZURadUvudod::ColorsChanged(const char* name)
{
    if (std::strcmp(name, "Background") == 0)
        SetColor(m_colors->Background());
    Invalidate();
}

void TCustomZURadUvudod::SetRepaintFlag(bool& flag, bool value)
{
    if (flag == value)
        return;
    flag = value;
    Invalidate();
}

void TCustomZURadUvudod::SetCaretKind(TZAZCaretKind kind)
{
    if (kind == m_caretKind)
        return;
    m_caretKind = kind;
    if (HasFocus()) {
        CreateCaretGlyph();
        SetCaretPos(-50, -50);
        Invalidate();
    }
}

void TCustomZURadUvudod::BuildBookmarkImages()
{
    if (!m_customBookmarkBitmap) {
        m_bookmarkBitmap->SetSize(200, 10);
        TCanvas& c = m_bookmarkBitmap->Canvas();
        for (int icon = 0; icon < 20; ++icon) {
            const int x0 = icon * 10;
            const bool hexField = icon < 10;
            c.Brush().SetColor(kIconTransparent);
            c.FillRect(Rect(x0, 0, x0 + 10, 10));
            c.Brush().SetColor(clBlack);
            c.FillRect(Rect(x0 + 1, 0, x0 + 9, 1));
            c.FillRect(Rect(x0 + 1, 9, x0 + 9, 10));
            c.FillRect(Rect(x0, 1, x0 + 1, 9));
            c.FillRect(Rect(x0 + 9, 1, x0 + 10, 9));
            c.Brush().SetColor(hexField ? clYellow : kIconLightGray);
            c.FillRect(Rect(x0 + 1, 1, x0 + 5, 9));
            c.Brush().SetColor(hexField ? kIconLightGray : clYellow);
            c.FillRect(Rect(x0 + 5, 1, x0 + 9, 9));
            const auto& glyph = kDigitGlyphs[icon % 10];
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 3; ++x)
                    if (glyph[y] & (4 >> x))
                        c.SetPixel(x0 + 4 + x, 2 + y, clBlack);
        }
    }
    if (m_constructed)
        for (std::int32_t r = TopRow(); r <= CalcDrawInfo().LastRow; ++r)
            InvalidateCell(0, r);
}

void TCustomZURadUvudod::SetBookmarkBitmap(const TBitmap* bitmap)
{
    if (!bitmap) {
        m_customBookmarkBitmap = false;
        BuildBookmarkImages();
        return;
    }
    if (bitmap->Width() != 200 || bitmap->Height() != 10)
        throw EZURadUvudod(zaz_text::kInvalidBookmarkBitmap);
    auto copy = std::make_unique<TBitmap>(200, 10);
    TBitmap& source = const_cast<TBitmap&>(*bitmap);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 200; ++x)
            copy->Canvas().SetPixel(x, y, source.Canvas().Pixel(x, y));
    m_bookmarkBitmap = std::move(copy);
    m_customBookmarkBitmap = true;
    BuildBookmarkImages();
}

// ====================================================================== painting

bool TCustomZURadUvudod::HasFocus() const { return Focused(); }

void TCustomZURadUvudod::FocusRect(TCanvas& canvas, const TRect& r)
{
    // A dotted frame, as the system draws a focus rectangle.
    for (int x = r.Left; x < r.Right; x += 2) {
        canvas.SetPixel(x, r.Top, clBlack);
        canvas.SetPixel(x, r.Bottom - 1, clBlack);
    }
    for (int y = r.Top; y < r.Bottom; y += 2) {
        canvas.SetPixel(r.Left, y, clBlack);
        canvas.SetPixel(r.Right - 1, y, clBlack);
    }
}

void TCustomZURadUvudod::DrawCellText(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& cell,
                                      std::u16string text, TColor fill, TColor textColor, TColor textBack)
{
    const TRect textRect = Rect(cell.Left, cell.Top, std::min(cell.Right, cell.Left + m_charWidth), cell.Bottom);
    bool defaultDraw = true;
    if (OnDrawCell)
        OnDrawCell(this, canvas, col, row, text, col == 0 ? cell : textRect, defaultDraw);
    if (!defaultDraw)
        return;
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    canvas.Brush().SetColor(fill);
    canvas.FillRect(cell);
    if (text.empty())
        return;
    const std::string utf8 = Utf8(text);
    canvas.Font().SetColor(textColor);
    canvas.Brush().SetColor(textBack);
    if (col == 0) {
        const int x = cell.Right - 4 - canvas.TextWidth(utf8);
        canvas.TextRect(cell, x, cell.Top + 1, utf8);
    } else {
        canvas.TextRect(textRect, textRect.Left, cell.Top + 1, utf8);
    }
}

void TCustomZURadUvudod::PaintRulerCell(TCanvas& canvas, std::int32_t col, const TRect& rect)
{
    const std::int32_t B = m_layout.BytesPerRow;
    std::u16string text;
    if (col >= 2 && col <= 2 * B + 1) {
        const size_t i = static_cast<size_t>(col - 2);
        if (i < m_hexRuler.size())
            text.push_back(static_cast<char16_t>(m_hexRuler[i]));
    } else if (col == 2 * B + 2) {
        text = u"  ";
    } else {
        const size_t i = static_cast<size_t>(col - 2 * B - 3);
        if (i < m_charRuler.size())
            text.push_back(static_cast<char16_t>(m_charRuler[i]));
    }
    const bool current = col == Col();
    DrawCellText(canvas, col, 0, rect, text, m_colors->OffsetBackGround(),
                 current ? m_colors->CurrentOffset() : m_colors->Offset(),
                 current ? m_colors->CurrentOffsetBackground() : m_colors->OffsetBackGround());
}

void TCustomZURadUvudod::PaintGutterCell(TCanvas& canvas, std::int32_t row, const TRect& rect)
{
    const std::int64_t first = static_cast<std::int64_t>(row - 2) * m_layout.BytesPerRow;
    std::string offset = GetOffsetString(static_cast<std::uint32_t>(first));
    std::u16string text(offset.begin(), offset.end());
    const bool current = row == Row();
    const TColor back = current ? m_colors->CurrentOffsetBackground() : m_colors->OffsetBackGround();
    DrawCellText(canvas, 0, row, rect, text, back, current ? m_colors->CurrentOffset() : m_colors->Offset(), back);
    TBitmap& icons = *m_bookmarkBitmap;
    TColor transparent = clNone;
    for (int i = 0; i < 10; ++i) {
        const TZAZBookmark& b = m_bookmarks[static_cast<size_t>(i)];
        if (b.mPosition < first || b.mPosition >= first + m_layout.BytesPerRow)
            continue;
        if (transparent == clNone)
            transparent = icons.Canvas().Pixel(0, 0);
        const int icon = i + (b.mInCharField ? 10 : 0);
        const int x0 = rect.Left + 3;
        const int y0 = rect.Top + (rect.Height() - 10) / 2;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const TColor p = icons.Canvas().Pixel(icon * 10 + x, y);
                if (p != transparent)
                    canvas.SetPixel(x0 + x, y0 + y, p);
            }
    }
}

void TCustomZURadUvudod::PaintDataCell(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& rect)
{
    const std::int32_t B = m_layout.BytesPerRow;
    const std::int32_t size = GetDataSize();
    const std::int32_t pos = GetPositionAtCursor(col, row);
    const bool isChar = GetIsCharFieldCol(col);
    const bool separator = col == 2 * B + 2;
    const bool lastHex = col == 2 * B + 1;
    const bool lastChar = col == ColCount() - 1;
    const bool focused = HasFocus();
    m_paintPosition = pos;
    m_paintSelected = false;

    if (!separator && pos < size) {
        const bool active = isChar == m_lastCaretField;
        TColor fill = (active && !lastHex && !lastChar) ? m_colors->ActiveFieldBackground() : m_colors->Background();
        const std::uint8_t* data = m_data.Memory();
        std::u16string text;
        if (!isChar) {
            const std::uint8_t b = data[pos];
            const bool high = ((col - 2) % 2 == 0) != m_swapNibbles;
            text.push_back(static_cast<char16_t>(m_digits[high ? b >> 4 : b & 0xF]));
        } else if (!m_layout.Unicode) {
            text.push_back(AnsiCharToUnicode(TranslateToAnsiChar(data[pos])));
        } else {
            const std::uint8_t lo = data[pos];
            const std::uint8_t hi = pos + 1 < size ? data[pos + 1] : 0;
            char16_t ch = static_cast<char16_t>(lo | (hi << 8));
            if (m_unicodeBigEndian)
                SwapWideChar(ch);
            if (ch < 256 && m_maskedChars.test(ch))
                ch = static_cast<char16_t>(static_cast<std::uint8_t>(m_maskChar));
            if (ch != 0)
                text.push_back(ch);
        }
        const bool changed = HasChanged(pos) || (m_layout.Unicode && isChar && HasChanged(pos + 1));
        TColor textColor, textBack;
        if (changed) {
            textColor = m_colors->ChangedText();
            textBack = m_colors->ChangedBackground();
        } else {
            textBack = active ? m_colors->ActiveFieldBackground() : m_colors->Background();
            if (!isChar)
                textColor = ((col - 2) / (2 * m_layout.BytesPerColumn)) % 2 == 0 ? m_colors->OddColumn()
                                                                                : m_colors->EvenColumn();
            else
                textColor = Font().Color();
        }
        if (IsSelected(pos) && !(m_hideSelection && !focused)) {
            m_paintSelected = true;
            textBack = InvertColor(textBack);
            textColor = InvertColor(textColor);
            if (!lastHex && !lastChar && pos != m_selEnd)
                fill = InvertColor(fill);
            if (m_graySelection && !focused) {
                textBack = FadeToGray(textBack);
                textColor = FadeToGray(textColor);
            }
        }
        DrawCellText(canvas, col, row, rect, text, fill, textColor, textBack);
        if (m_showDragCell && m_dragCell == GridCoord(col, row)) {
            canvas.Pen().SetStyle(TPenStyle::psSolid);
            canvas.Pen().SetColor(textColor);
            canvas.Pen().SetWidth(2);
            canvas.MoveTo(rect.Left + 1, rect.Top + 1);
            canvas.LineTo(rect.Left + 1, rect.Bottom - 1);
            canvas.Pen().SetWidth(1);
        }
    }

    // Cursor frames.
    const TRect frame = Rect(rect.Left, rect.Top, rect.Left + m_charWidth, rect.Bottom - 1);
    const bool onCaretRow = row == Row();
    if (focused) {
        if (onCaretRow && col == GetOtherFieldColCheck(Col())) {
            if (m_focusFrame)
                FocusRect(canvas, frame);
            else {
                canvas.Brush().SetColor(m_colors->CursorFrame());
                canvas.FrameRect(frame);
            }
        }
    } else if (m_showPositionIfNotFocused && onCaretRow && col == Col()) {
        if (m_focusFrame)
            FocusRect(canvas, frame);
        else {
            canvas.Brush().SetColor(m_colors->NonFocusCursorFrame());
            canvas.FrameRect(frame);
        }
    }

    // Grid lines.
    if (m_drawGridLines) {
        canvas.Brush().SetColor(m_colors->Grid());
        if (lastChar)
            canvas.FillRect(Rect(rect.Right - 1, rect.Top, rect.Right, rect.Bottom));
        canvas.FillRect(Rect(rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom));
        if (separator)
            canvas.FillRect(Rect(rect.Left, rect.Top, rect.Left + 1, rect.Bottom));
    }
}

void TCustomZURadUvudod::Paint()
{
    TCanvas& canvas = Canvas();
    canvas.Font().Assign(Font());
    canvas.Brush().SetStyle(TBrushStyle::bsSolid);
    const TGridDrawInfo info = CalcDrawInfo();
    const int cw = ClientWidth(), ch = ClientHeight();
    const std::int32_t lastCharCol = ColCount() - 1;
    const std::int32_t lastDataRow = std::min(info.LastRow, RowCount() - 1);
    const int gutter = ColWidths(0);
    const int rulerBottom = RowHeights(0) + RowHeights(1);

    // Whatever no cell covers shows the control's colour.
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(0, 0, cw, ch));

    if (m_showRuler) {
        m_paintPosition = -1;
        for (std::int32_t r = 0; r <= 1; ++r) {
            for (std::int32_t c = 0; c <= 1; ++c) {
                const TRect rect = CellRect(c, r);
                if (!rect.IsEmpty())
                    DrawCellText(canvas, c, r, rect, u"", m_colors->OffsetBackGround(), m_colors->Offset(),
                                 m_colors->OffsetBackGround());
            }
            for (std::int32_t c = info.FirstCol; c <= std::min(info.LastCol, lastCharCol); ++c) {
                const TRect rect = CellRect(c, r);
                if (!rect.IsEmpty())
                    PaintRulerCell(canvas, c, rect);
            }
        }
    }
    for (std::int32_t r = info.FirstRow; r <= lastDataRow; ++r) {
        m_paintPosition = -1;
        const TRect rect = CellRect(0, r);
        if (!rect.IsEmpty())
            PaintGutterCell(canvas, r, rect);
        if (m_drawGridLines) {
            const TRect spacer = CellRect(1, r);
            if (!spacer.IsEmpty()) {
                canvas.Brush().SetColor(m_colors->Grid());
                canvas.FillRect(Rect(spacer.Left, spacer.Bottom - 1, spacer.Right, spacer.Bottom));
            }
        }
    }
    for (std::int32_t r = info.FirstRow; r <= lastDataRow; ++r)
        for (std::int32_t c = info.FirstCol; c <= std::min(info.LastCol, lastCharCol); ++c) {
            const TRect rect = CellRect(c, r);
            if (!rect.IsEmpty())
                PaintDataCell(canvas, c, r, rect);
        }
    m_paintPosition = -1;
    m_paintSelected = false;

    // Right of the last column and below the last row.
    const int right = info.GridWidth, bottom = info.GridHeight;
    canvas.Brush().SetColor(Color());
    canvas.FillRect(Rect(right, 0, cw, ch));
    canvas.FillRect(Rect(0, bottom, right, ch));
    canvas.Brush().SetColor(m_colors->OffsetBackGround());
    canvas.FillRect(Rect(right, 0, cw, std::min(rulerBottom, ch)));
    canvas.FillRect(Rect(0, bottom, std::min(gutter, right), ch));

    canvas.Pen().SetStyle(TPenStyle::psSolid);
    canvas.Pen().SetWidth(1);
    if (gutter > 0) {
        if (m_drawGutter3D) {
            canvas.Brush().SetColor(clBtnShadow);
            canvas.FillRect(Rect(gutter, rulerBottom, gutter + 1, ch));
            canvas.Brush().SetColor(clBtnHighlight);
            canvas.FillRect(Rect(gutter - 1, rulerBottom, gutter, ch));
        } else if (m_drawGridLines) {
            canvas.Brush().SetColor(m_colors->Grid());
            canvas.FillRect(Rect(gutter - 1, rulerBottom, gutter, ch));
        }
    }
    if (m_showRuler) {
        const int rh = RowHeights(0);
        if (m_drawGutter3D) {
            canvas.Brush().SetColor(clBtnShadow);
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 1, cw, rh));
            canvas.Brush().SetColor(clBtnHighlight);
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 2, cw, rh - 1));
        } else if (m_drawGridLines) {
            canvas.Brush().SetColor(m_colors->Grid());
            canvas.FillRect(Rect(std::max(0, gutter - 1), rh - 1, cw, rh));
        }
    }
}

// ====================================================================== caret and selection

void TCustomZURadUvudod::IntSetCaretPos(int x, int y, std::int32_t col)
{
    if (!HasFocus())
        return;
    if (col != -1) {
        const bool inChar = GetIsCharFieldCol(col);
        if (inChar != m_lastCaretField) {
            m_lastCaretField = inChar;
            Invalidate();
        }
    }
    SetCaretPos(x, y);
}

void TCustomZURadUvudod::MoveCaretTo(std::int32_t pos, bool inCharField)
{
    const TGridCoord c = GetCursorAtPos(pos, inCharField);
    if (c.X < ColCount() && c.Y < RowCount())
        MoveColRow(c.X, c.Y, true, true);
}

bool TCustomZURadUvudod::SelectCell(std::int32_t col, std::int32_t row)
{
    const std::int32_t B = m_layout.BytesPerRow;
    const std::int32_t size = GetDataSize();
    if (size == 0) {
        const std::int32_t firstChar = std::max(2, 2 * B + 3);
        if (row == 2 && (col == 2 || col == firstChar)) {
            m_inCharField = GetIsCharFieldCol(col);
            PlaceCaretOnCell(col, row);
            return true;
        }
        return false;
    }
    if (!CheckSelectCell(col, row))
        return false;
    if (col != Col() || row != Row()) {
        InvalidateCell(GetOtherFieldColCheck(Col()), Row());
        InvalidateCell(GetOtherFieldColCheck(col), row);
        if (m_showRuler && col != Col()) {
            InvalidateCell(GetOtherFieldColCheck(Col()), 0);
            InvalidateCell(GetOtherFieldColCheck(col), 0);
            InvalidateCell(Col(), 0);
            InvalidateCell(col, 0);
        }
        if (row != Row()) {
            InvalidateCell(0, Row());
            InvalidateCell(0, row);
        }
    }
    if (m_selecting) {
        std::int32_t n = GetPositionAtCursor(col, row);
        const std::int32_t c = GetPositionAtCursor(Col(), Row());
        if (m_extendOrigin == -1)
            m_extendOrigin = c;
        const std::int32_t u = m_bytesPerUnit;
        auto alignDown = [u](std::int32_t p) { return (p / u) * u; };
        auto resetKeepSelecting = [&](std::int32_t origin) {
            ResetSelection(true);
            m_extendOrigin = origin;
            m_selecting = true;
        };
        if (GetInsertMode()) {
            if (n < m_extendOrigin) {
                const std::int32_t o = alignDown(m_extendOrigin);
                n = alignDown(n);
                if (o == n)
                    resetKeepSelecting(n);
                else
                    NewSelection(o - u, n);
            } else if (n == m_extendOrigin) {
                resetKeepSelecting(n);
            } else {
                const std::int32_t o = alignDown(m_extendOrigin);
                n = alignDown(n);
                if (o == n)
                    resetKeepSelecting(n);
                else
                    NewSelection(o, n - u);
            }
        } else {
            NewSelection(m_extendOrigin, n);
        }
    } else {
        ResetSelection(true);
    }
    PlaceCaretOnCell(col, row);
    SelectionChanged();
    return true;
}

bool TCustomZURadUvudod::CheckSelectCell(std::int32_t col, std::int32_t row)
{
    bool ok = TCustomGrid::SelectCell(col, row);
    if (!m_selectCellGuard || !ok)
        return ok;
    m_selectCellGuard = false;
    try {
        const bool shiftDown = (GetKeyState(VK_SHIFT) & ~1) != 0;
        const bool leftDown = (GetKeyState(VK_LBUTTON) & ~1) != 0;
        if (!shiftDown && !leftDown)
            ResetSelection(true);
        const std::int32_t size = GetDataSize();
        const std::int32_t p = GetPosAtCursor(col, row);
        const bool inChar = GetIsCharFieldCol(col);
        const bool valid =
            p < size || (GetInsertMode() && p == size && (inChar || (col - 2) % 2 == 0));
        if (valid && col == 2 * m_layout.BytesPerRow + 2) {
            ok = false;
            if (leftDown)
                MoveColRow(std::max(2, col - 1), row, true, true);
        } else if (!valid) {
            ok = false;
            MoveCaretTo(GetInsertMode() ? size : size - 1, GetIsCharFieldCol(Col()));
        }
    } catch (...) {
        m_selectCellGuard = true;
        throw;
    }
    m_selectCellGuard = true;
    return ok;
}

void TCustomZURadUvudod::NewSelection(std::int32_t a, std::int32_t b)
{
    CheckSelectUnit(a, b);
    const std::int32_t oldStart = m_selStart, oldEnd = m_selEnd, oldAnchor = m_selAnchor;
    SetSelection(a, std::min(a, b), std::max(a, b));
    if (oldAnchor == -1)
        RedrawPos(m_selStart, m_selEnd);
    else {
        RedrawPos(std::min(m_selStart, oldStart), std::max(m_selStart, oldStart));
        RedrawPos(std::min(oldEnd, m_selEnd), std::max(oldEnd, m_selEnd));
    }
    SelectionChanged();
}

void TCustomZURadUvudod::Select(std::int32_t fromCol, std::int32_t fromRow, std::int32_t toCol, std::int32_t toRow)
{
    const std::int32_t from = m_selAnchor != -1 ? m_selAnchor : GetPositionAtCursor(fromCol, fromRow);
    NewSelection(from, GetPositionAtCursor(toCol, toRow));
}

void TCustomZURadUvudod::ResetSelection(bool redraw)
{
    m_selecting = false;
    const std::int32_t oldStart = m_selStart, oldEnd = m_selEnd;
    SetSelection(-1, -1, -1);
    m_extendOrigin = -1;
    if (redraw && oldStart >= 0)
        RedrawPos(oldStart, oldEnd);
}

void TCustomZURadUvudod::SetSelection(std::int32_t anchor, std::int32_t start, std::int32_t end)
{
    const std::int32_t last = GetDataSize() - 1;
    auto clamp = [last](std::int32_t v) { return std::max(-1, std::min(v, last)); };
    m_selEnd = clamp(end);
    m_selAnchor = clamp(anchor);
    m_selStart = clamp(start);
}

void TCustomZURadUvudod::RedrawPos(std::int32_t from, std::int32_t to)
{
    if (from < 0 || to < 0)
        return;
    const std::int32_t r1 = std::max(GetRow(std::min(from, to)), TopRow());
    const std::int32_t r2 = std::min(GetRow(std::max(from, to)), CalcDrawInfo().LastRow);
    if (r1 > r2)
        return;
    const TRect top = CellRect(0, r1);
    const TRect bottom = CellRect(0, r2);
    if (top.IsEmpty() || bottom.IsEmpty())
        return;
    InvalidateRect(Rect(ColWidths(0) + ColWidths(1), top.Top, ClientWidth(), bottom.Bottom));
}

void TCustomZURadUvudod::InternalGetCurSel(std::int32_t& start, std::int32_t& stop, std::int32_t& col,
                                           std::int32_t& row)
{
    CurSelRange(start, stop, col, row);
    m_changes.Cut(start);
}

void TCustomZURadUvudod::CurSelRange(std::int32_t& start, std::int32_t& stop, std::int32_t& col,
                                     std::int32_t& row) const
{
    if (m_selAnchor == -1) {
        start = GetPositionAtCursor(Col(), Row());
        stop = start + 1;
        col = Col();
        row = Row();
    } else {
        start = m_selStart;
        stop = m_selEnd + 1;
        const TGridCoord c = GetCursorAtPos(start, GetIsCharFieldCol(Col()));
        col = c.X;
        row = c.Y;
    }
}

std::int32_t TCustomZURadUvudod::GetSelStart() const { return m_selAnchor == -1 ? GetCursorPos() : m_selAnchor; }

std::int32_t TCustomZURadUvudod::GetSelEnd() const
{
    if (m_selAnchor == -1)
        return GetCursorPos();
    return m_selAnchor == m_selEnd ? m_selStart : m_selEnd;
}

void TCustomZURadUvudod::SetSelStart(std::int32_t pos)
{
    if (pos < 0 || pos >= GetDataSize())
        throw EZURadUvudod(zaz_text::kInvalidSelStart);
    ResetSelection(true);
    MoveCaretTo(pos, GetInCharField());
}

void TCustomZURadUvudod::SetSelEnd(std::int32_t pos)
{
    if (pos < -1 || pos >= GetDataSize())
        throw EZURadUvudod(zaz_text::kInvalidSelEnd);
    ResetSelection(true);
    if (pos >= 0) {
        const TGridCoord to = GetCursorAtPos(pos, GetInCharField());
        Select(Col(), Row(), to.X, to.Y);
        SelectionChanged();
    }
}

void TCustomZURadUvudod::SelectAll()
{
    const std::int32_t size = GetDataSize();
    if (size == 0)
        return;
    MoveCaretTo(GetInsertMode() ? size : size - 1, GetInCharField());
    NewSelection(0, size - 1);
}

std::int32_t TCustomZURadUvudod::GetCursorPos() const
{
    return std::clamp(GetPositionAtCursor(Col(), Row()), 0, std::max(0, GetDataSize() - 1));
}

void TCustomZURadUvudod::TruncMaxPosition(std::int32_t& pos) const
{
    const std::int32_t size = GetDataSize();
    if (pos >= size)
        pos = GetInsertMode() ? size : size - 1;
}

bool TCustomZURadUvudod::GetInCharField() const
{
    if (GetDataSize() == 0)
        return false;
    return GetIsCharFieldCol(Col());
}

void TCustomZURadUvudod::SetInCharField(bool value)
{
    if (GetDataSize() == 0 || value == GetInCharField())
        return;
    MoveColRow(GetOtherFieldCol(Col()), Row(), true, true);
}

std::int32_t TCustomZURadUvudod::GetTopLeftPosition(bool& inCharField) const
{
    inCharField = GetInCharField();
    return GetPositionAtCursor(std::max(LeftCol(), 2), TopRow());
}

void TCustomZURadUvudod::SetTopLeftPosition(std::int32_t pos, bool inCharField)
{
    const TGridCoord c = GetCursorAtPos(pos, inCharField);
    SetTopRow(c.Y);
    SetLeftCol(c.X);
}

void TCustomZURadUvudod::SetInsertMode(bool value)
{
    if (value == m_insertMode || !IsInsertModePossible())
        return;
    const std::int32_t size = GetDataSize();
    const bool onEndSlot = size > 0 && GetPositionAtCursor(Col(), Row()) >= size;
    m_insertMode = value;
    if (m_caretKind == ckAuto && HasFocus()) {
        CreateCaretGlyph();
        CheckSetCaret();
    }
    if (size == 0)
        return;
    if (size % m_layout.BytesPerRow == 0) {
        if (value)
            SetRowCount(RowCount() + 1);
        else {
            if (onEndSlot)
                SetSelStart(size - 1);
            SetRowCount(RowCount() - 1);
        }
    } else if (!value && onEndSlot) {
        SetSelStart(size - 1);
    }
    m_changes.Clear();
    Invalidate();
}

void TCustomZURadUvudod::SetAllowInsertMode(bool value)
{
    if (!value && m_insertMode)
        SetInsertMode(false);
    m_allowInsertMode = value;
}

void TCustomZURadUvudod::SetFixedFileSize(bool value)
{
    if (value == m_noSizeChange)
        return;
    if (value)
        SetInsertMode(false);
    m_noSizeChange = value;
}

void TCustomZURadUvudod::SetReadOnlyView(bool value)
{
    if (value == m_readOnlyView)
        return;
    m_readOnlyView = value;
    if (m_caretKind == ckAuto && HasFocus()) {
        CreateCaretGlyph();
        CheckSetCaret();
    }
}

void TCustomZURadUvudod::SetHideSelection(bool value)
{
    if (value == m_hideSelection)
        return;
    m_hideSelection = value;
    if (!HasFocus() && GetSelCount() > 0)
        Invalidate();
}

void TCustomZURadUvudod::SetGraySelectionIfNotFocused(bool value)
{
    if (value == m_graySelection)
        return;
    m_graySelection = value;
    if (!HasFocus() && GetSelCount() > 0 && !m_hideSelection)
        Invalidate();
}

void TCustomZURadUvudod::SetShowPositionIfNotFocused(bool value)
{
    if (value == m_showPositionIfNotFocused)
        return;
    m_showPositionIfNotFocused = value;
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

void TCustomZURadUvudod::SyncView(TCustomZURadUvudod& source, std::int32_t offset)
{
    const std::int32_t size = GetDataSize();
    auto cut = [size](std::int64_t p) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(p, 0, std::max(0, size - 1)));
    };
    const bool differ = source.BytesPerRow() != BytesPerRow() || source.BytesPerColumn() != BytesPerColumn() ||
                        source.BytesPerUnit() != BytesPerUnit() || source.GetDataSize() != size || offset != 0;
    const bool sourceField = source.GetIsCharFieldCol(source.Col());
    if (differ) {
        const TRect r = source.CellRect(source.Col(), source.Row());
        if (r.Left + r.Bottom != 0) {
            MoveCaretTo(cut(static_cast<std::int64_t>(source.GetCursorPos()) + offset), sourceField);
        } else {
            const std::int32_t p = cut(
                static_cast<std::int64_t>(source.GetPositionAtCursor(std::max(source.LeftCol(), 2), source.TopRow())) +
                offset);
            const TGridCoord c = GetCursorAtPos(p, sourceField);
            SetLeftCol(c.X);
            SetTopRow(c.Y);
        }
    } else {
        SetTopRow(source.TopRow());
        SetLeftCol(source.LeftCol());
        MoveColRow(source.Col(), source.Row(), true, false);
    }
    if (source.SelAnchor() != -1)
        NewSelection(cut(static_cast<std::int64_t>(source.SelFirst()) + offset),
                     cut(static_cast<std::int64_t>(source.SelLast()) + offset));
    else if (m_selAnchor != -1)
        ResetSelection(true);
}
