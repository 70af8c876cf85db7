// How much memory a decoded picture may take: what the machine can give.
//
// A picture's size comes from its file's header, so a decoder asks here
// before it allocates: a photo of 200 megapixels is fine on a machine with
// a few gigabytes, a claim of 4 gigapixels is not. Whether the file can
// hold what its header claims is the decoder's own question (the bytes
// present against what the format's coding can reach).
#pragma once

#include <cstdint>
#include <string>

// The most bytes one picture's buffer may take in this process: half of
// the machine's physical memory, or of the memory limit of the control
// group the process runs in when that is lower, and no more than the
// address space the process may still take (its RLIMIT_AS and RLIMIT_DATA
// less what it already holds).
std::uint64_t PictureMemoryLimit();

// Whether a buffer of this many bytes is within PictureMemoryLimit.
bool PictureFitsInMemory(std::uint64_t bytes);

// The one text for a picture too big for the memory, naming its size:
// "Picture of 65535 x 65535 pixels is too big for the memory of this computer".
std::string PictureTooBigMessage(std::uint64_t width, std::uint64_t height);

// The one text for a header that claims more than its file can hold:
// "The file is too short for a picture of 11000 x 11000 pixels".
std::string PictureDataMissingMessage(std::uint64_t width, std::uint64_t height);

// While it lives, PictureMemoryLimit answers the given number of bytes, so
// that a test can make a buffer that the machine would give fail.
class ScopedPictureMemoryLimit {
public:
    explicit ScopedPictureMemoryLimit(std::uint64_t bytes);
    ~ScopedPictureMemoryLimit();
    ScopedPictureMemoryLimit(const ScopedPictureMemoryLimit&) = delete;
    ScopedPictureMemoryLimit& operator=(const ScopedPictureMemoryLimit&) = delete;

private:
    std::uint64_t m_previous;
};
