#include "zadstreams.h"

#include "archive/zadaes.h"
#include "archive/zadbase.h"
#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>
#include <vector>

const char* const SReadError = "Stream read error";
const char* const SWriteError = "Stream write error";
const char* const SMemoryStreamError = "Out of memory while expanding memory stream";
const char* const SRangeError = "Range check error";
const char* const SSeekNotImplemented = "Seek not implemented";


namespace {
constexpr std::int64_t kCopyChunk = 131072;
constexpr std::int64_t kDirectCopyChunk = 1 << 20;
constexpr std::int64_t kTempCopyChunk = 100000;
constexpr std::int64_t kStoreCopyChunk = 102400;
constexpr std::int32_t kMemoryDelta = 8192;
}  // namespace

// ---- TStream32 -------------------------------------------------------------------

std::int32_t TStream32::Seek32(std::int32_t offset, WORD origin)
{
    if (origin > 2)
        return -1;
    const std::int64_t r = Seek(static_cast<std::int64_t>(offset), static_cast<TSeekOrigin>(origin));
    if (r < 0 || r > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(r);
}

void TStream32::Progress(TStream32* sender)
{
    if (sender && sender->ActiveProgressHandler)
        sender->ActiveProgressHandler(sender);
}

std::int64_t TStream32::ChunkedCopy(TStream32* source, std::int64_t count, std::int64_t chunkLimit)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    bool neverCancelled = false;
    ActiveCancelRef = CancelRef ? CancelRef : &neverCancelled;
    ActiveProgressHandler = ProgressHandler;
    std::int64_t copied = 0;
    // Between two plain files the kernel moves each chunk itself, without a
    // trip through our memory. Its chunks are 1 MB: at 128 KB the per-call
    // cost dominates, and a megabyte still takes well under a millisecond,
    // so the pump and the cancel polling between chunks stay as responsive.
    auto* fromFile = dynamic_cast<THandleStream32*>(source);
    auto* toFile = dynamic_cast<THandleStream32*>(this);
    const bool direct = fromFile && toFile && fromFile->Valid() && toFile->Valid() && !source->ReadNotify &&
                        typeid(*source) == typeid(TFileStream32) && typeid(*this) == typeid(TFileStream32);
    const std::int64_t chunk = std::min(count, direct ? kDirectCopyChunk : chunkLimit);
    if (chunk <= 0)
        return 0;
    std::vector<char> buffer(direct ? 0 : static_cast<size_t>(chunk));
    while (count > 0 && !*ActiveCancelRef) {
        const auto n = static_cast<std::int32_t>(std::min(chunk, count));
        ProcessMessages();
        if (*ActiveCancelRef)
            break;
        if (direct) {
            DWORD done = 0;
            const bool ok = CopyFileRange(fromFile->Handle(), toFile->Handle(), static_cast<DWORD>(n), &done);
            if (!ok)
                throw EWriteError(SWriteError);  // the last error says why (112: disk full)
            if (done != static_cast<DWORD>(n))
                throw EReadError(SReadError);  // the source ended early
        } else {
            source->ReadBuffer(buffer.data(), n);
            WriteBuffer(buffer.data(), n);
        }
        count -= n;
        copied += n;
    }
    ActiveCancelRef = nullptr;
    return copied;
}

std::int64_t TStream32::CopyFrom(TStream32* source, std::int64_t count)
{
    return ChunkedCopy(source, count, kCopyChunk);
}

// ---- handle and file streams --------------------------------------------------------

THandleStream32::THandleStream32(HANDLE handle) : m_handle(handle) {}

THandleStream32::~THandleStream32() { m_handle = INVALID_HANDLE_VALUE; }

std::int64_t THandleStream32::Read(void* buffer, std::int64_t count)
{
    if (!Valid() || count <= 0)
        return 0;
    count = std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max());
    DWORD done = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(count), &done))
        done = 0;
    if (done > 0 && ReadNotify) {
        if (RemainingRef)
            *RemainingRef -= count;
        ReadNotify(this);
    }
    return static_cast<std::int32_t>(done);
}

std::int64_t THandleStream32::Write(const void* buffer, std::int64_t count)
{
    if (!Valid() || count <= 0)
        return 0;
    count = std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max());
    DWORD done = 0;
    WriteFile(m_handle, buffer, static_cast<DWORD>(count), &done);
    return done;
}

std::int64_t THandleStream32::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (!Valid())
        return -1;
    std::int64_t pos = -1;
    if (!SetFilePointerEx(m_handle, offset, &pos, static_cast<DWORD>(origin)))
        return -1;
    return pos;
}

std::int32_t THandleStream32::Seek32(std::int32_t offset, WORD origin)
{
    if (origin > 2)
        return -1;
    const std::int64_t r = Seek(static_cast<std::int64_t>(offset), static_cast<TSeekOrigin>(origin));
    return r < 0 || r > std::numeric_limits<std::int32_t>::max() ? -1 : static_cast<std::int32_t>(r);
}

void THandleStream32::SetSize(std::int64_t newSize)
{
    if (!Valid() || Seek(newSize, soBeginning) != newSize || !SetEndOfFile(m_handle)) {
        const DWORD code = Valid() ? GetLastError() : ERROR_INVALID_HANDLE;
        throw EOSError(SysErrorMessage(code), code);
    }
}

std::int64_t THandleStream32::Size()
{
    std::int64_t size = 0;
    if (!Valid() || !GetFileSizeEx(m_handle, &size))
        return 0;
    return size;
}

TFileStream32::TFileStream32(const std::string& fileName, unsigned mode) : THandleStream32(OpenHandle(fileName, mode)) {}

HANDLE TFileStream32::OpenHandle(const std::string& fileName, unsigned mode)
{
    if (mode == fmCreate)
        return CreateFileA(fileName, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    static const DWORD access[4] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, 0};
    // Sharing 0 (compatibility) and 0x40 share everything; 0x10 nothing;
    // 0x20 denies writing; 0x30 denies reading.
    static const DWORD share[5] = {FILE_SHARE_READ | FILE_SHARE_WRITE, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE};
    const DWORD acc = access[mode & 3];
    const unsigned shareIndex = (mode >> 4) & 7;
    if (acc == 0 || shareIndex > 4) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(fileName, acc, share[shareIndex], OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

TFileStream32::~TFileStream32()
{
    if (Valid())
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

// ---- memory streams ------------------------------------------------------------------

std::int64_t TCustomMemoryStream32::Read(void* buffer, std::int64_t count)
{
    if (m_position < 0 || count < 0 || m_position >= m_size)
        return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, m_size - m_position));
    std::memcpy(buffer, m_memory + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

std::int32_t TCustomMemoryStream32::Seek32(std::int32_t offset, WORD origin)
{
    std::int64_t p = m_position;
    switch (origin) {
    case 0: p = offset; break;
    case 1: p = static_cast<std::int64_t>(m_position) + offset; break;
    case 2: p = static_cast<std::int64_t>(m_size) + offset; break;
    default: break;
    }
    if (p < std::numeric_limits<std::int32_t>::min() || p > std::numeric_limits<std::int32_t>::max())
        throw ERangeError(SRangeError);
    m_position = static_cast<std::int32_t>(p);
    return m_position;
}

std::int64_t TCustomMemoryStream32::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (offset < std::numeric_limits<std::int32_t>::min() || offset > std::numeric_limits<std::int32_t>::max())
        throw ERangeError(SRangeError);
    return Seek32(static_cast<std::int32_t>(offset), static_cast<WORD>(origin));
}

void TCustomMemoryStream32::SetPointer(void* ptr, std::int32_t size)
{
    m_memory = static_cast<char*>(ptr);
    m_size = size;
}

void TCustomMemoryStream32::SaveToStream(TStream32* dest)
{
    if (m_size != 0)
        dest->WriteBuffer(m_memory, m_size);
}

void TCustomMemoryStream32::SaveToFile(const std::string& fileName)
{
    TFileStream32 f(fileName, fmCreate);
    if (f.Valid())
        SaveToStream(&f);
}

TMemoryStream32::~TMemoryStream32() { Clear(); }

void* TMemoryStream32::Realloc(std::int32_t& newCapacity)
{
    if (newCapacity > 0 && newCapacity != m_size) {
        const std::int64_t rounded = (static_cast<std::int64_t>(newCapacity) + (kMemoryDelta - 1)) / kMemoryDelta * kMemoryDelta;
        if (rounded > std::numeric_limits<std::int32_t>::max())
            throw EStreamError(SMemoryStreamError);
        newCapacity = static_cast<std::int32_t>(rounded);
    }
    if (newCapacity == m_capacity)
        return m_memory;
    if (newCapacity == 0) {
        std::free(m_memory);
        return nullptr;
    }
    void* p = std::realloc(m_memory, static_cast<size_t>(newCapacity));
    if (!p)
        throw EStreamError(SMemoryStreamError);
    return p;
}

void TMemoryStream32::SetCapacity(std::int32_t newCapacity)
{
    m_memory = static_cast<char*>(Realloc(newCapacity));
    m_capacity = newCapacity;
}

std::int64_t TMemoryStream32::Write(const void* buffer, std::int64_t count)
{
    if (m_position < 0 || count < 0)
        return 0;
    const std::int64_t end = static_cast<std::int64_t>(m_position) + count;
    if (end <= 0)
        return 0;
    if (end > std::numeric_limits<std::int32_t>::max())
        throw EStreamError(SMemoryStreamError);
    if (end > m_size) {
        if (end > m_capacity)
            SetCapacity(static_cast<std::int32_t>(end));
        m_size = static_cast<std::int32_t>(end);
    }
    std::memcpy(m_memory + m_position, buffer, static_cast<size_t>(count));
    m_position = static_cast<std::int32_t>(end);
    return count;
}

void TMemoryStream32::SetSize(std::int64_t newSize)
{
    if (newSize < 0 || newSize > std::numeric_limits<std::int32_t>::max())
        throw ERangeError(SRangeError);
    const std::int32_t oldPosition = m_position;
    SetCapacity(static_cast<std::int32_t>(newSize));
    m_size = static_cast<std::int32_t>(newSize);
    if (oldPosition > m_size)
        m_position = m_size;
}

void TMemoryStream32::Clear()
{
    SetCapacity(0);
    m_size = 0;
    m_position = 0;
}

void TMemoryStream32::LoadFromStream(TStream32* source)
{
    source->SetPosition(0);
    const std::int64_t size = source->Size();
    SetSize(size & 0x7FFFFFFF);
    if (m_size != 0)
        source->ReadBuffer(m_memory, m_size);
}

void TMemoryStream32::LoadFromFile(const std::string& fileName)
{
    TFileStream32 f(fileName, fmOpenRead | fmShareDenyWrite);
    if (f.Valid())
        LoadFromStream(&f);
}

// ---- comment stream ----------------------------------------------------------------------

std::int64_t TMainCommentStream::CopyFrom(TStream32* source, std::int64_t count)
{
    Clear();
    CommentOffset = source->Position();
    const std::int64_t n = TStream32::CopyFrom(source, count);
    Changed = false;
    m_position = 0;
    return n;
}

std::int64_t TMainCommentStream::Read(void* buffer, std::int64_t count)
{
    m_position = 0;
    const std::int64_t n = TMemoryStream32::Read(buffer, count);
    m_position = 0;
    return n;
}

std::int64_t TMainCommentStream::Write(const void* buffer, std::int64_t count)
{
    const std::int64_t n = TMemoryStream32::Write(buffer, count);
    if (n > 0)
        Changed = true;
    return n;
}

void TMainCommentStream::ReadComment(char* buf, std::size_t bufSize, WORD& len)
{
    len = 0;
    if (m_size == 0 || !buf || bufSize == 0)
        return;
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>({bufSize, static_cast<std::size_t>(m_size), 0xFFFF}));
    std::memcpy(buf, m_memory, static_cast<size_t>(n));
    m_position = 0;
    len = static_cast<WORD>(n);
}

bool TMainCommentStream::isChanged(const char* buf, std::int32_t len)
{
    return !(len == m_size && CompareMem(buf, m_memory, len));
}

bool TMainCommentStream::WriteComment(const char* buf, std::int32_t len)
{
    if (!buf || (!Changed && !isChanged(buf, len)))
        return false;
    Clear();
    const std::int64_t n = Write(buf, len);
    m_position = 0;
    return n == len;
}

// ---- temporary streams -----------------------------------------------------------------

namespace {

void BindTempCallbacks(TStream32* s, TZipCommon* owner)
{
    s->MoveFileProc = [owner](TObject* sender, const std::string& to, const std::string& from, bool sameDrive) {
        owner->TempFileMoveFile(sender, to, from, sameDrive);
    };
    s->MoveBeginProc = [owner](TObject* sender, const std::string& archive, const std::string& temp, bool& cancel) {
        owner->TempFileMoveBegin(sender, archive, temp, cancel);
    };
    s->MoveEndProc = [owner](TObject* sender) { owner->TempFileMoveEnd(sender); };
    s->ReadNotify = [owner](TObject* sender) { owner->TempFileProgress(sender); };
    s->CancelRef = owner->CancelRef;
}

}  // namespace

TTempMemStream::TTempMemStream(TZipCommon* owner, const std::string& fileName, unsigned mode) : Owner(owner), Mode(mode)
{
    BindTempCallbacks(this, owner);
    if (mode == fmCreate) {
        IsCreate = true;
        FinalName = fileName;
        TempName = "NoName";
    } else {
        TempName = fileName;
    }
}

TTempMemStream::~TTempMemStream()
{
    // A memory-built archive is written to a temporary file beside nothing:
    // the move callback receives a real file, so the same replace-when-
    // complete rules apply as for the file stream.
    if (IsCreate && !(CancelRef && *CancelRef) && Mode != 0 && !FinalName.empty()) {
        const std::string tmp = GetTempFileNameA(Owner->ReadTempDir(), "zad");
        try {
            if (!tmp.empty()) {
                SaveToFile(tmp);
                bool cancel = CancelRef && *CancelRef;
                if (MoveBeginProc)
                    MoveBeginProc(this, FinalName, tmp, cancel);
                if (!cancel && MoveFileProc)
                    MoveFileProc(this, FinalName, tmp, false);
            }
            if (MoveEndProc)
                MoveEndProc(this);
        } catch (...) {
            if (!tmp.empty())
                _EraseFile(tmp, doFinal);
            Clear();
            return;  // a destructor never throws; the owner was told through OnError
        }
        if (!tmp.empty())
            _EraseFile(tmp, doFinal);
    }
    Clear();
}

std::int64_t TTempMemStream::CopyFrom(TStream32* source, std::int64_t count)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    ChunkedCopy(source, count, kTempCopyChunk);
    return count;
}

std::int64_t TTempMemStream::Read(void* buffer, std::int64_t count)
{
    const std::int64_t n = TMemoryStream32::Read(buffer, count);
    if (ReadNotify) {
        Owner->RemainingUnpackedSize -= count;
        ReadNotify(this);
    }
    return n;
}

TTempFileStream::TTempFileStream(TZipCommon* owner, const std::string& fileName, const std::string& tempPath, unsigned mode)
    : Owner(owner), Mode(mode)
{
    BindTempCallbacks(this, owner);
    if (mode == fmCreate) {
        IsCreate = true;
        FinalName = fileName;
        TempName = GetTempFileNameStr(tempPath);
        if (!TempName.empty())
            m_handle = CreateFileA(TempName, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    } else {
        TempName = fileName;
        m_handle = OpenHandle(fileName, mode);
    }
}

std::int64_t TTempFileStream::Read(void* buffer, std::int64_t count)
{
    if (!Valid() || count <= 0)
        return 0;
    count = std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max());
    DWORD done = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(count), &done))
        done = 0;
    if (ReadNotify && Owner->RemainingUnpackedSize > 0) {
        Owner->RemainingUnpackedSize -= count;
        ReadNotify(this);
    }
    return done;
}

std::int64_t TTempFileStream::CopyFrom(TStream32* source, std::int64_t count)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    ChunkedCopy(source, count, kTempCopyChunk);
    return count;
}

void TTempFileStream::Finish()
{
    const bool cancelled = CancelRef && *CancelRef;
    if (!IsCreate || cancelled || Mode == 0 || FinalName.empty())
        return;
    const std::string tempDir = Owner->ReadTempDir();
    const std::string mountTemp = GetMountPointOf(tempDir);
    const bool sameDrive = !mountTemp.empty() && mountTemp == GetMountPointOf(ExtractFilePath(FinalName).empty() ? "." : ExtractFilePath(FinalName));
    if (Valid())
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    bool cancel = cancelled;
    try {
        if (MoveBeginProc)
            MoveBeginProc(this, FinalName, TempName, cancel);
        if (!cancel && MoveFileProc)
            MoveFileProc(this, FinalName, TempName, sameDrive);
    } catch (...) {
        if (Owner->ArchiveSize > 65536 && MoveEndProc)
            MoveEndProc(this);
        if (GetLastError() == ERROR_DISK_FULL)
            Owner->RaiseErrorStr(Owner->ArchiveFile(), "", "0", E_DISKFULL);
        throw;
    }
    if (Owner->ArchiveSize > 65536 && MoveEndProc)
        MoveEndProc(this);
}

TTempFileStream::~TTempFileStream()
{
    try {
        Finish();
    } catch (...) {
        // Reported through the owner's OnError; a destructor does not throw.
    }
    if (Valid())
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    if (IsCreate && !TempName.empty())
        _EraseFile(TempName, doFinal);
}

// ---- buffered reading ------------------------------------------------------------------

TBufferedReadStream32::TBufferedReadStream32(TStream32* source, std::int32_t bufferSize)
    : m_source(source), m_buffer(static_cast<size_t>(std::max(bufferSize, 4096))), m_size(source->Size())
{
}

std::int64_t TBufferedReadStream32::Read(void* buffer, std::int64_t count)
{
    if (count <= 0 || m_pos < 0 || m_pos >= m_size)
        return 0;
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count && m_pos < m_size) {
        if (m_pos < m_windowStart || m_pos >= m_windowStart + m_windowLen) {
            const std::int64_t left = count - done;
            if (left >= static_cast<std::int64_t>(m_buffer.size())) {
                // Large reads go straight to the source.
                if (m_source->Seek(m_pos, soBeginning) != m_pos)
                    break;
                const std::int64_t n = m_source->Read(out + done, left);
                if (n <= 0)
                    break;
                done += n;
                m_pos += n;
                continue;
            }
            m_windowStart = m_pos;
            m_windowLen = 0;
            if (m_source->Seek(m_pos, soBeginning) != m_pos)
                break;
            const std::int64_t n = m_source->Read(m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()));
            if (n <= 0)
                break;
            m_windowLen = static_cast<std::int32_t>(n);
        }
        const auto offset = static_cast<std::int32_t>(m_pos - m_windowStart);
        const std::int64_t n = std::min<std::int64_t>(count - done, m_windowLen - offset);
        std::memcpy(out + done, m_buffer.data() + offset, static_cast<size_t>(n));
        done += n;
        m_pos += n;
    }
    return done;
}

std::int64_t TBufferedReadStream32::Seek(std::int64_t offset, TSeekOrigin origin)
{
    std::int64_t p = offset;
    if (origin == soCurrent)
        p = m_pos + offset;
    else if (origin == soEnd)
        p = m_size + offset;
    if (p < 0)
        return -1;
    m_pos = p;
    return m_pos;
}

// ---- filter streams ------------------------------------------------------------------

TCalcStreamCRC::TCalcStreamCRC(TStream32* source, std::int64_t count, BYTE crcWidth, const zad_stream_plus& plus,
                               bool* cancelRef, TNotifyEvent progress)
    : Source(source), CrcWidth(crcWidth), Crc(crcWidth == 16 ? 0 : CRC_MASK), Plus(plus)
{
    CancelRef = cancelRef;
    ProgressHandler = progress;
    source->ActiveProgressHandler = progress;
    CopyFrom(source, count);
}

std::int64_t TCalcStreamCRC::Write(const void* buffer, std::int64_t count)
{
    if (CrcWidth == 16)
        Crc = Crc16_buf(buffer, static_cast<size_t>(count), static_cast<std::uint16_t>(Crc));
    else
        Crc = Crc32_buf(buffer, static_cast<size_t>(count), Crc);
    if (Source->ActiveProgressHandler) {
        if (Plus.RemainingRef)
            *Plus.RemainingRef -= count;
        Source->ActiveProgressHandler(Source);
    }
    return count;
}

std::uint32_t CalcStreamCRC16(TStream32* stream, std::int64_t count, const zad_stream_plus& plus)
{
    TCalcStreamCRC c(stream, count, 16, plus, nullptr, nullptr);
    stream->SetPosition(0);
    return c.Crc;
}

std::uint32_t CalcStreamCRC32(TStream32* stream, std::int64_t count, const zad_stream_plus& plus, bool* cancelRef,
                              TNotifyEvent progress)
{
    TCalcStreamCRC c(stream, count, 32, plus, cancelRef, progress);
    stream->SetPosition(0);
    return c.Crc;
}

std::uint32_t CalcFileCRC(HANDLE handle, std::int64_t count, const zad_stream_plus& plus, bool* cancelRef,
                          TNotifyEvent progress)
{
    THandleStream32 s(handle);
    return CalcStreamCRC32(&s, count, plus, cancelRef, progress);
}

TStoreStream::TStoreStream(TStream32* dest, BYTE crcWidth, const zad_stream_plus& plus)
    : Dest(dest), CrcWidth(crcWidth), Plus(plus)
{
    const int kind = plus.Flags >> 8;
    if (kind == 0)
        Crc = crcWidth == 16 ? 0 : CRC_MASK;
    else
        Crc = crcWidth == 16 ? Crc16Val : Crc32Val;
    CancelRef = plus.CancelRef;
}

std::int64_t TStoreStream::Write(const void* buffer, std::int64_t count)
{
    const int kind = Plus.Flags >> 8;
    std::vector<char> work;
    const void* out = buffer;
    if (kind == 0) {
        if (CrcWidth == 16)
            Crc = Crc16_buf(buffer, static_cast<size_t>(count), static_cast<std::uint16_t>(Crc));
        else if (CrcWidth == 32)
            Crc = Crc32_buf(buffer, static_cast<size_t>(count), Crc);
    } else if (kind >= 1 && kind <= 4) {
        work.assign(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + count);
        if (kind == 4)
            zadEncodeBuf(false, work.data(), work.size());
        else
            zadEncryptBuf(work.data(), static_cast<std::int32_t>(count));  // the current AES entry's context
        out = work.data();
    }
    if (Plus.RemainingRef)
        *Plus.RemainingRef -= count;
    Dest->WriteBuffer(out, count);
    m_total += count;
    if (m_source)
        Progress(m_source);
    return count;
}

std::int32_t TStoreStream::Seek32(std::int32_t offset, WORD origin)
{
    if (offset == 0 && origin == 1)
        return static_cast<std::int32_t>(m_total);
    return -1;
}

std::int64_t TStoreStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (offset < std::numeric_limits<std::int32_t>::min() || offset > std::numeric_limits<std::int32_t>::max())
        throw ERangeError(SRangeError);
    return Seek32(static_cast<std::int32_t>(offset), static_cast<WORD>(origin));
}

std::int64_t TStoreStream::CopyFrom(TStream32* source, std::int64_t count)
{
    if (count == 0) {
        source->SetPosition(0);
        count = source->Size();
    }
    m_source = source;
    ChunkedCopy(source, count, kStoreCopyChunk);
    m_source = nullptr;
    return count;
}

void TStoreStream::CopyStream(TStream32* source)
{
    source->CancelRef = CancelRef;
    source->ProgressHandler = ProgressHandler;
    source->ActiveProgressHandler = ProgressHandler;
    CopyFrom(source, 0);
}

TEncryptStream::TEncryptStream(TStream32* source, TStream32* dest, std::int64_t count, const std::string& password,
                               bool writeHeader)
    : Dest(dest)
{
    Crc = CalcStreamCRC32(source, count, zad_stream_plus{}) ^ CRC_MASK;
    Header = zadEncryptHead(password, 0, Crc);
    if (writeHeader)
        dest->WriteBuffer(Header.data(), 12);
    TStream32::CopyFrom(source, 0);
}

TEncryptStream::~TEncryptStream()
{
    if (Dest)
        Dest->SetPosition(0);
}

std::int64_t TEncryptStream::Write(const void* buffer, std::int64_t count)
{
    std::vector<char> work(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + count);
    zadEncodeBuf(false, work.data(), work.size());
    Dest->WriteBuffer(work.data(), count);
    return count;
}

TDecryptStream::TDecryptStream(TStream32* source, TStream32* dest, const std::string& password)
    : Dest(dest), Password(password)
{
    if (password.empty() || seed_keys(password) != 0)
        return;
    const std::int64_t left = source->Size() - source->Position();
    if (left > 0)
        TStream32::CopyFrom(source, left);
}

TDecryptStream::~TDecryptStream()
{
    if (Dest)
        Dest->SetPosition(0);
}

std::int64_t TDecryptStream::Write(const void* buffer, std::int64_t count)
{
    std::vector<char> work(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + count);
    zadDecodeBuf(false, work.data(), work.size());
    Dest->WriteBuffer(work.data(), count);
    return count;
}

TDecryptStreamCRC::TDecryptStreamCRC(TStream32* source, TStream32* dest, const std::string& password, std::uint32_t check)
    : Dest(dest), Password(password)
{
    if (source->Size() - source->Position() < 12)
        return;
    TStream32::CopyFrom(source, 12);
    if (m_headerFill != 12)
        return;
    std::memcpy(HeaderCopy, Header + 12, 12);
    HeaderRead = true;
    m_ok = decrypt_pw(Header, 0, check, 0, password);
    if (!m_ok)
        return;
    const std::int64_t left = source->Size() - source->Position();
    if (left > 0)
        TStream32::CopyFrom(source, left);
}

TDecryptStreamCRC::~TDecryptStreamCRC()
{
    if (Dest)
        Dest->SetPosition(0);
}

std::int64_t TDecryptStreamCRC::Write(const void* buffer, std::int64_t count)
{
    if (!HeaderRead) {
        const auto take = static_cast<std::int32_t>(std::min<std::int64_t>(count, 12 - m_headerFill));
        std::memcpy(Header + 12 + m_headerFill, buffer, static_cast<size_t>(take));
        m_headerFill += take;
        return count;
    }
    std::vector<char> work(static_cast<const char*>(buffer), static_cast<const char*>(buffer) + count);
    zadDecodeBuf(false, work.data(), work.size());
    Dest->WriteBuffer(work.data(), count);
    return count;
}

std::uint32_t EncryptBuffer(const void* source, void* dest, std::int32_t count, const std::string& password, bool writeHeader)
{
    if (!source || !dest || password.empty() || count <= 0)
        return 0xFFFFFFFFu;
    TMemoryStream32 in, out;
    in.WriteBuffer(source, count);
    std::uint32_t crc;
    {
        TEncryptStream e(&in, &out, 0, password, writeHeader);
        crc = e.Crc;
    }
    std::memcpy(dest, out.Memory(), static_cast<size_t>(out.Size()));
    return crc;
}

std::uint32_t zadEncryptStream(TStream32* inStream, TStream32* outStream, const std::string& password, bool writeHeader,
                               std::int32_t maxLen, std::string& headerText, std::int64_t count)
{
    TEncryptStream e(inStream, outStream, count, password, writeHeader);
    headerText = e.Header.substr(0, static_cast<size_t>(std::max(maxLen, 0)));
    return e.Crc;
}

bool zadDecryptStreamCRC(TStream32* inStream, TStream32* outStream, const std::string& password, std::uint32_t check)
{
    TDecryptStreamCRC d(inStream, outStream, password, check);
    return d.PasswordOk();
}

void TStreamTozadStream(TStream& src, TStream32& dst)
{
    std::vector<char> buf(static_cast<size_t>(kCopyChunk));
    try {
        std::int64_t left = src.Size() - src.Position();
        while (left > 0) {
            const std::int64_t n = std::min(left, kCopyChunk);
            src.ReadBuffer(buf.data(), n);
            dst.WriteBuffer(buf.data(), n);
            left -= n;
        }
    } catch (...) {
        dst.SetPosition(0);
        throw;
    }
    dst.SetPosition(0);
}

void zadStreamToTStream(TStream32& src, TStream& dst, std::int64_t count)
{
    count = std::min(count, src.Size() - src.Position());
    std::vector<char> buf(static_cast<size_t>(std::max<std::int64_t>(0, std::min(count, kCopyChunk))));
    while (count > 0) {
        const std::int64_t n = std::min(count, kCopyChunk);
        ProcessMessages();
        src.ReadBuffer(buf.data(), n);
        dst.WriteBuffer(buf.data(), n);
        count -= n;
    }
    dst.SetPosition(0);
}

void* zadAllocMem(void*, unsigned items, unsigned size) { return std::calloc(items, size); }
void zadFreeMem(void*, void* ptr) { std::free(ptr); }
