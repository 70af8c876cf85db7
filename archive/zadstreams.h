// The archive library's byte streams: 64-bit positions and sizes, a chunked
// copy that pumps the application's messages and polls a cancel byte, file
// streams over kernel handles, growable memory streams, the ZIP archive
// comment, the temporary streams that build a new archive and move it into
// place, and the filter streams that checksum, store, encrypt or decrypt
// what passes through them.
#pragma once

#include "archive/zadconsts.h"
#include "rtl/classes.h"
#include "rtl/streams.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TZipCommon;
class TStream32;


using TTempFileMove = std::function<void(TObject* sender, const std::string& toFileName,
                                         const std::string& fromFileName, bool sameDrive)>;
using TTempFileMoveBegin = std::function<void(TObject* sender, const std::string& archive,
                                              const std::string& tempFileName, bool& cancel)>;

// Stream texts of the class library.
extern const char* const SReadError;          // "Stream read error"
extern const char* const SWriteError;         // "Stream write error"
extern const char* const SMemoryStreamError;  // "Out of memory while expanding memory stream"
extern const char* const SRangeError;         // "Range check error"
extern const char* const SSeekNotImplemented; // "Seek not implemented"

// The library's stream: a class-library stream (Read, Write, the 64-bit
// Seek, Size, SetSize, ReadBuffer and WriteBuffer with their "Stream read
// error" / "Stream write error") with the copy, cancel and progress hooks.
class TStream32 : public TStream, public TObject {
public:
    ~TStream32() override = default;

    // The 32-bit seek (origins 0 beginning, 1 current, 2 end); -1 on failure.
    virtual std::int32_t Seek32(std::int32_t offset, WORD origin);
    void SetSize(std::int64_t) override {}
    // Copies count bytes (0: the whole source from its start) in chunks,
    // letting the application process its messages before each chunk and
    // stopping when the cancel byte is set; returns the bytes copied.
    virtual std::int64_t CopyFrom(TStream32* source, std::int64_t count);

    // Reports a block: fires Sender's ActiveProgressHandler when assigned.
    static void Progress(TStream32* sender);

    TNotifyEvent ProgressHandler;
    bool* ActiveCancelRef = nullptr;
    TNotifyEvent ActiveProgressHandler;
    bool* CancelRef = nullptr;  // nullptr: never cancelled
    std::int64_t* RemainingRef = nullptr;
    TNotifyEvent ReadNotify;
    TTempFileMove MoveFileProc;
    TTempFileMoveBegin MoveBeginProc;
    TNotifyEvent MoveEndProc;

protected:
    std::int64_t ChunkedCopy(TStream32* source, std::int64_t count, std::int64_t chunkLimit);
};

// A stream over a kernel file handle it does not own.
class THandleStream32 : public TStream32 {
public:
    explicit THandleStream32(HANDLE handle);
    ~THandleStream32() override;
    HANDLE Handle() const { return m_handle; }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int32_t Seek32(std::int32_t offset, WORD origin) override;
    void SetSize(std::int64_t newSize) override;
    std::int64_t Size() override;

protected:
    HANDLE m_handle;
};

// Files open with the class library's modes (rtl/streams.h): access in the
// low two bits, sharing in bits 4 to 6; fmCreate creates or truncates.

// A file stream. A failed open raises nothing: Handle is invalid, reads and
// writes move 0 bytes and the size reads 0; the caller reports the failure.
class TFileStream32 : public THandleStream32 {
public:
    TFileStream32(const std::string& fileName, unsigned mode);
    ~TFileStream32() override;
    // Opens a handle the way the constructor does.
    static HANDLE OpenHandle(const std::string& fileName, unsigned mode);

protected:
    TFileStream32() : THandleStream32(INVALID_HANDLE_VALUE) {}
};

class TCustomMemoryStream32 : public TStream32 {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int32_t Seek32(std::int32_t offset, WORD origin) override;
    // Offsets outside the 32-bit range raise ERangeError.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return m_size; }
    void* Memory() const { return m_memory; }
    void SetPointer(void* ptr, std::int32_t size);
    void SaveToStream(TStream32* dest);
    void SaveToFile(const std::string& fileName);

protected:
    char* m_memory = nullptr;
    std::int32_t m_size = 0;
    std::int32_t m_position = 0;
};

// Grows in steps of 8,192 bytes; failing to grow raises EStreamError
// "Out of memory while expanding memory stream".
class TMemoryStream32 : public TCustomMemoryStream32 {
public:
    ~TMemoryStream32() override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    void SetSize(std::int64_t newSize) override;
    void Clear();
    std::int32_t Capacity() const { return m_capacity; }
    virtual void* Realloc(std::int32_t& newCapacity);
    virtual void LoadFromStream(TStream32* source);
    virtual void LoadFromFile(const std::string& fileName);

protected:
    void SetCapacity(std::int32_t newCapacity);
    std::int32_t m_capacity = 0;
};

// The ZIP archive comment with the ending-record details found beside it.
class TMainCommentStream : public TMemoryStream32 {
public:
    TMainCommentStream() = default;
    void LoadFromStream(TStream32*) override {}
    void LoadFromFile(const std::string&) override {}
    std::int64_t CopyFrom(TStream32* source, std::int64_t count) override;
    // Reads at most count bytes of the comment from its start; Position
    // stays 0.
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    // Copies the comment into buf (bufSize bytes of room, never more) and
    // sets len to the bytes copied.
    void ReadComment(char* buf, std::size_t bufSize, WORD& len);
    bool WriteComment(const char* buf, std::int32_t len);
    bool isChanged(const char* buf, std::int32_t len);

    bool Changed = false;
    std::uint32_t EndSignature = 0;
    std::int64_t CentralDirOffset = 0;
    std::int64_t EndingOffset = 0;
    std::int64_t CommentOffset = 0;
};

// Builds a new archive in memory; see TTempFileStream.
class TTempMemStream : public TMemoryStream32 {
public:
    TTempMemStream(TZipCommon* owner, const std::string& fileName, unsigned mode);
    ~TTempMemStream() override;
    std::int64_t CopyFrom(TStream32* source, std::int64_t count) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;

    bool IsCreate = false;
    std::string FinalName;
    TZipCommon* Owner;
    unsigned Mode;
    std::string TempName;
};

// Builds a new archive in a temporary file (mode fmCreate) and, when freed
// without cancel, hands it to the owner's move callbacks, which put it in
// place of FinalName; the temporary file is erased in every case. With any
// other mode it is a plain file stream over fileName.
class TTempFileStream : public TFileStream32 {
public:
    TTempFileStream(TZipCommon* owner, const std::string& fileName, const std::string& tempPath, unsigned mode);
    ~TTempFileStream() override;
    std::int64_t CopyFrom(TStream32* source, std::int64_t count) override;
    std::int64_t Read(void* buffer, std::int64_t count) override;

    bool IsCreate = false;
    std::string FinalName;
    TZipCommon* Owner;
    TDeleteOptions DeleteOptions = doFinal;
    unsigned Mode;
    std::string TempName;

private:
    void Finish();
};

// A read-only window over another stream: reads are served from a buffer
// refilled in large blocks, so that walking many small headers costs few
// system calls. Seeking only moves the position.
class TBufferedReadStream32 : public TStream32 {
public:
    explicit TBufferedReadStream32(TStream32* source, std::int32_t bufferSize = 262144);
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return m_size; }

private:
    TStream32* m_source;
    std::vector<char> m_buffer;
    std::int64_t m_size;
    std::int64_t m_pos = 0;
    std::int64_t m_windowStart = 0;
    std::int32_t m_windowLen = 0;
};

// What the filter streams are given: the CRC start, the counter of bytes
// still to do, the cancel byte, and a word whose high byte is the encryption
// kind (0 none, 1 to 3 AES, 4 the traditional ZIP cipher).
struct zad_stream_plus {
    std::uint32_t Crc = 0;
    std::int64_t* RemainingRef = nullptr;
    bool* CancelRef = nullptr;
    WORD Flags = 0;
};

// A write-only stream that checksums everything copied into it from source.
class TCalcStreamCRC : public TStream32 {
public:
    TCalcStreamCRC(TStream32* source, std::int64_t count, BYTE crcWidth, const zad_stream_plus& plus, bool* cancelRef,
                   TNotifyEvent progress);
    std::int64_t Read(void*, std::int64_t) override { return -1; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int32_t Seek32(std::int32_t, WORD) override { return -1; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return -1; }

    TStream32* Source;
    BYTE CrcWidth;
    std::uint32_t Crc;
    zad_stream_plus Plus;
};

// The store method of the compressor: checksums or encrypts each block and
// writes it to Dest. Kinds 1 to 3 encrypt with the AES entry begun by
// TzadAES::zadEncryptInit, kind 4 with the traditional cipher's data keys.
class TStoreStream : public TStream32 {
public:
    TStoreStream(TStream32* dest, BYTE crcWidth, const zad_stream_plus& plus);
    std::int64_t Read(void*, std::int64_t) override { return -1; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int32_t Seek32(std::int32_t offset, WORD origin) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    // Chunks of at most 102,400 bytes.
    std::int64_t CopyFrom(TStream32* source, std::int64_t count) override;
    void CopyStream(TStream32* source);

    TStream32* Dest;
    BYTE CrcWidth;
    std::uint32_t Crc;
    zad_stream_plus Plus;

private:
    TStream32* m_source = nullptr;
    std::int64_t m_total = 0;
};


// Encrypts the whole of source (traditional cipher) into dest, the 12-byte
// header first when writeHeader.
class TEncryptStream : public TMemoryStream32 {
public:
    TEncryptStream(TStream32* source, TStream32* dest, std::int64_t count, const std::string& password, bool writeHeader);
    ~TEncryptStream() override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;

    TStream32* Dest;
    std::uint32_t Crc = 0;
    std::string Header;
};

// Decrypts source (from its position to its end) into dest with the data keys
// seeded from password.
class TDecryptStream : public TMemoryStream32 {
public:
    TDecryptStream(TStream32* source, TStream32* dest, const std::string& password);
    ~TDecryptStream() override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;

    TStream32* Dest;
    std::string Password;
};

// Reads the 12-byte encryption header from source, checks the password
// against check (the CRC) and, when it is right, decrypts the rest into dest.
class TDecryptStreamCRC : public TMemoryStream32 {
public:
    TDecryptStreamCRC(TStream32* source, TStream32* dest, const std::string& password, std::uint32_t check);
    ~TDecryptStreamCRC() override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    bool PasswordOk() const { return m_ok; }

    TStream32* Dest;
    std::string Password;
    bool HeaderRead = false;
    std::uint8_t Header[24] = {};
    std::uint8_t HeaderCopy[12] = {};

private:
    std::int32_t m_headerFill = 0;
    bool m_ok = false;
};

// CRC-16 of count bytes (0: all) of stream; position reset to 0 afterwards.
std::uint32_t CalcStreamCRC16(TStream32* stream, std::int64_t count, const zad_stream_plus& plus);
// The running (not inverted) CRC-32 of count bytes (0: all) of stream.
std::uint32_t CalcStreamCRC32(TStream32* stream, std::int64_t count, const zad_stream_plus& plus,
                              bool* cancelRef = nullptr, TNotifyEvent progress = nullptr);
std::uint32_t CalcFileCRC(HANDLE handle, std::int64_t count, const zad_stream_plus& plus, bool* cancelRef = nullptr,
                          TNotifyEvent progress = nullptr);

// The traditional cipher over memory and streams. EncryptBuffer writes
// count bytes (after the 12-byte header when writeHeader) to dest, which has
// room for count + 12, and answers the CRC; 0xFFFFFFFF and nothing written
// without source, dest, password or bytes.
std::uint32_t EncryptBuffer(const void* source, void* dest, std::int32_t count, const std::string& password, bool writeHeader);
std::uint32_t zadEncryptStream(TStream32* inStream, TStream32* outStream, const std::string& password, bool writeHeader,
                               std::int32_t maxLen, std::string& headerText, std::int64_t count);
// Answers whether the password was right (and the data decrypted).
bool zadDecryptStreamCRC(TStream32* inStream, TStream32* outStream, const std::string& password, std::uint32_t check);

// Adapters between the class library's streams and this family; chunks of
// at most 131,072 bytes; the destination's position is 0 afterwards.
void TStreamTozadStream(TStream& src, TStream32& dst);
void zadStreamToTStream(TStream32& src, TStream& dst, std::int64_t count);

void* zadAllocMem(void* opaque, unsigned items, unsigned size);
void zadFreeMem(void* opaque, void* ptr);
