// The hex editor control's data: raw access to the byte store, the change
// marks and file state, and loading and saving files and streams.
#include "hexedit/zuradhex.h"

#include "kernel/kernel.h"
#include "rtl/clock.h"
#include "rtl/filesave.h"
#include "win/splitwork.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>

namespace {

constexpr std::int32_t kChunk = 61440;

// System error texts end without the period that the message adds.
std::string TrimErrorText(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '.'))
        text.pop_back();
    return text;
}

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

}  // namespace

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
        CopyLargeBlock(m_data.Memory() + index, buffer, static_cast<size_t>(count));
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
    // A file the editor cannot hold is refused before anything changes: the
    // data shown so far stay.
    const std::int64_t size = stream.Size();
    if (size > INT32_MAX)
        throw EZURadUvudod(Format(zaz_text::kFileTooLarge, static_cast<long long>(size)));
    if (const std::int64_t available = AvailableMemory(); available >= 0 && size > available)
        throw EOutOfMemory("Out of memory while expanding memory stream");
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
    // Bookmarks belong to the data they marked.
    ClearBookmarks();
    CalcSizes();
    m_modified = false;
    m_selecting = false;
    ResetSelection(false);
    MoveColRow(2, 2, true, true);
    Changed();
    // New data that fill as many rows as the old ones leave rows, columns and
    // caret as they were, which repaints nothing by itself: the old bytes
    // would stay on screen.
    Invalidate();
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

    // The target is checked before anything is written (a regular file the
    // user may write, or a new name in a folder that takes it); the data go
    // to a new file beside it first, so a cancelled or failed save leaves
    // it as it was, and then into place keeping the file's links, owner,
    // group and mode.
    TFileSave save(fileName);
    m_progressFileName = fileName;
    try {
        SaveToStream(save.Stream());
        CommitSavedFile(save, overwritesCurrent);
    } catch (...) {
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

void TCustomZURadUvudod::CommitSavedFile(TFileSave& save, bool)
{
    save.Commit(m_data.Memory(), m_data.Size());
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
    ClearBookmarks();
    CalcSizes();
    m_modified = false;
    m_readOnlyFile = true;
    m_hasFile = false;
    MoveColRow(2, 2, true, true);
    Changed();
    Invalidate();
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
