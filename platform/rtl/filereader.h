// Reading a user's file while another program may change it.
//
// A file is read with pread in bounded pieces, never through a memory
// mapping: a mapped page past the end of a file that another program cut
// short (a download being rewritten, a log rotated, a file on a network
// share) raises SIGBUS on access, which ends the program. Read here, the same
// change turns into a short read, and the reader reports it as EReadError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class TFileReader {
public:
    TFileReader() = default;
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    // Opens a regular file for reading (OpenRegularFile: pipes, sockets,
    // devices and folders are refused) and takes its size. False, with the
    // last error set, when it cannot be opened.
    bool Open(const std::string& fileName);
    // Open, raising EFOpenError "Cannot open file "<name>". <reason>".
    void OpenOrRaise(const std::string& fileName);
    void Close();
    bool IsOpen() const { return m_handle >= 0; }
    const std::string& FileName() const { return m_fileName; }
    // The size the file had when it was opened.
    std::int64_t Size() const { return m_size; }
    // The descriptor, for callers that read pieces themselves.
    int Handle() const { return m_handle; }

    // Reads exactly count bytes at offset, in pieces. Raises EReadError when
    // the range lies outside the size taken at opening, when a read fails,
    // or when the file ends before the range does (it shrank).
    void ReadAt(std::int64_t offset, void* buffer, std::size_t count) const;
    // Reads up to count bytes at offset and answers how many: fewer only
    // where the file ends. Raises EReadError when a read fails.
    std::size_t ReadSome(std::int64_t offset, void* buffer, std::size_t count) const;
    // The whole file, read in pieces of at most 1 MB. The size taken at
    // opening bounds it, so a file that grows meanwhile is read as it was;
    // one that shrinks meanwhile raises EReadError. A file of no size (the
    // kernel's pseudo files) is read to its end, up to 64 MB. Raises
    // EOutOfMemory when the file is larger than the memory the machine can
    // still give.
    std::string ReadAll() const;
    // Whether the file on disk is now shorter than the size taken at opening.
    bool Shrunk() const;

    // Called before every piece this process reads from a file, with the
    // reader and the offset of the piece. Tests change the file here to
    // show what a change between opening and reading does; empty otherwise.
    using TReadHook = std::function<void(const TFileReader& reader, std::int64_t offset)>;
    static void SetReadHook(TReadHook hook);

private:
    [[noreturn]] void RaiseReadError(int err) const;

    int m_handle = -1;
    std::int64_t m_size = 0;
    std::string m_fileName;
};
