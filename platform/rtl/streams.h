// The runtime library's byte streams: the abstract stream with its block
// helpers, file streams with the open and share modes of the class library,
// and a memory stream held in one contiguous block.
#pragma once

#include "sysutils.h"

#include <cstdint>
#include <memory>
#include <string>

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads or writes up to count bytes; answers the number moved.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, soBeginning); }
    virtual std::int64_t Size();
    // Raises EStreamError when the size cannot be changed.
    virtual void SetSize(std::int64_t newSize);

    // Whole-or-error block transfers: EReadError "Stream read error" on a
    // short read, EWriteError "Stream write error" on a short write.
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Copies count bytes from source's position (count 0: the whole source
    // from its start); answers the number copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Open modes of FileOpen and TFileStream: one access mode or'ed with one
// share mode. fmCreate creates or truncates and opens for reading and writing.
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFF00;

// File handles of the class library's file functions. Sharing is advisory:
// an exclusive (or deny-read) open holds an exclusive lock on the file, a
// deny-write open a shared lock, a deny-none or compatible open no lock; an
// open whose lock conflicts with another open of the file fails with
// ERROR_SHARING_VIOLATION. An open for reading only takes a regular file
// (OpenRegularFile): a pipe, socket or device is refused without waiting.
// Failures answer -1 and set the last error.
int FileOpen(const std::string& fileName, unsigned mode);
int FileCreate(const std::string& fileName, unsigned shareMode = fmShareExclusive);
std::int64_t FileRead(int handle, void* buffer, std::int64_t count);
std::int64_t FileWrite(int handle, const void* buffer, std::int64_t count);
std::int64_t FileSeek(int handle, std::int64_t offset, int origin);
// Reads at a position without moving the file pointer; safe to call from
// several threads on one handle. Answers the bytes read or -1.
std::int64_t FileReadAt(int handle, std::int64_t pos, void* buffer, std::int64_t count);
bool FileTruncate(int handle, std::int64_t size);
void FileClose(int handle);

// A stream over a file handle that it owns.
class TFileStream : public TStream {
public:
    // Raises EFOpenError "Cannot open file "<name>". <reason>" or, with
    // fmCreate, EFCreateError "Cannot create file "<name>". <reason>".
    TFileStream(const std::string& fileName, unsigned mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    void SetSize(std::int64_t newSize) override;

    const std::string& FileName() const { return m_fileName; }
    int Handle() const { return m_handle; }

private:
    std::string m_fileName;
    int m_handle = -1;
};

// A stream in one contiguous block of memory that grows and shrinks with its
// size; SetSize makes the block fit, writes past the end grow it ahead. Growing beyond what the machine can give raises EOutOfMemory "Out of
// memory while expanding memory stream" before anything is allocated. Bytes
// added by SetSize are not initialised.
class TMemoryStream : public TStream {
public:
    TMemoryStream();
    ~TMemoryStream() override;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return m_size; }
    void SetSize(std::int64_t newSize) override;
    void Clear();

    std::uint8_t* Memory() { return m_memory; }
    const std::uint8_t* Memory() const { return m_memory; }

private:
    void SetCapacity(std::int64_t capacity);
    void GrowForWrite(std::int64_t end);

    std::uint8_t* m_memory = nullptr;
    std::int64_t m_size = 0;
    std::int64_t m_capacity = 0;
    std::int64_t m_position = 0;
};

// Bytes of memory this process may still allocate and touch without the
// machine running short: the smaller of the system's available memory and
// what the process's control-group memory limit leaves. -1 when unknown.
std::int64_t AvailableMemory();
// For tests: AvailableMemory answers bytes, as on a machine with that much
// memory left; a negative value (the default) gives the machine's answer.
void SetAvailableMemoryOverride(std::int64_t bytes);


// Creates a new file that must not exist yet (read and write access, no
// sharing); -1 with the last error set otherwise.
int FileCreateNew(const std::string& fileName);
// The absolute path of a file with every symbolic link and "." or ".."
// resolved in its folder; for a file that does not exist yet, its folder
// resolved and its own name appended.
std::string CanonicalFileName(const std::string& fileName);
