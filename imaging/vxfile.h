// The byte streams every codec reads and writes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An abstract byte stream. Operations never raise; they report through
// their results (0, false, -1).
class VxFile {
public:
    virtual ~VxFile() = default;
    virtual bool Close() = 0;
    // Reads up to size x count bytes; returns the number of whole items read.
    virtual std::size_t Read(void* buffer, std::size_t size, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t size, std::size_t count) = 0;
    // origin 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(std::int32_t offset, std::int32_t origin) = 0;
    virtual std::int32_t Tell() = 0;
    virtual std::int32_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual std::int32_t Error() = 0;
    virtual bool PutC(std::uint8_t byte)
    {
        return Write(&byte, 1, 1) == 1;
    }
    // The next byte (0 to 255), or -1 at the end.
    virtual std::int32_t GetC() = 0;
};

// A stream over an open C stream. It never closes a stream it was given:
// whoever opened the stream closes it.
class VxIOFile : public VxFile {
public:
    explicit VxIOFile(std::FILE* stream = nullptr);
    ~VxIOFile() override;
    bool Close() override;
    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t Tell() override;
    std::int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    std::int32_t Error() override;
    bool PutC(std::uint8_t byte) override;
    std::int32_t GetC() override;

private:
    std::FILE* m_stream;
    bool m_close;
};

// A stream over a growable memory buffer. A buffer handed to the
// constructor stays the caller's: it is read and written in place, and a
// write that outgrows it moves the data into a buffer of the stream's own
// (allocated with malloc), which the stream frees on close unless
// GetBuffer detached it.
class VxMemFile : public VxFile {
public:
    explicit VxMemFile(std::uint8_t* buffer = nullptr, std::int32_t size = 0);
    ~VxMemFile() override;
    bool Open();
    std::uint8_t* GetBuffer(bool detach = true);
    bool Close() override;
    std::size_t Read(void* buffer, std::size_t size, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
    bool Seek(std::int32_t offset, std::int32_t origin) override;
    std::int32_t Tell() override;
    std::int32_t Size() override;
    bool Flush() override;
    bool Eof() override;
    std::int32_t Error() override;
    bool PutC(std::uint8_t byte) override;
    std::int32_t GetC() override;

    std::int32_t Capacity() const { return m_capacity; }

private:
    bool Grow(std::uint64_t needed);
    bool Reserve(std::uint64_t end);

    std::uint8_t* m_buffer;
    std::int32_t m_size;
    bool m_freeOnClose;
    std::int32_t m_position;
    std::int32_t m_capacity;
    bool m_foreign;  // the buffer belongs to the caller
};
