// Both routines work on vectors of 16 bytes through the compiler's generic
// vector types, which every target GCC and Clang build for supports.
//
// FindBytes tests 64 starting places at once for the needle's first and
// last bytes and compares the whole needle only where both agree: in text
// that happens at a small share of places, so the search runs at about the
// speed of reading the bytes (glibc's memmem, testing place by place, takes
// about twice as long).
#include "bytesearch.h"

#include <cstdint>
#include <cstring>

namespace {

using Lanes = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kLanes = sizeof(Lanes);

Lanes Load(const char* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store(char* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

Lanes Splat(unsigned char c) { return Lanes {} + c; }

bool Any(Lanes v)
{
    std::uint64_t halves[2];
    std::memcpy(halves, &v, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

bool NeedleAt(const char* p, std::string_view needle) { return std::memcmp(p, needle.data(), needle.size()) == 0; }

} // namespace

std::size_t FindBytes(std::string_view haystack, std::string_view needle)
{
    const std::size_t m = needle.size();
    if (m == 0)
        return 0;
    if (haystack.size() < m)
        return std::string_view::npos;
    const char* const p = haystack.data();
    if (m == 1) {
        const void* hit = std::memchr(p, needle[0], haystack.size());
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) : std::string_view::npos;
    }
    const char front = needle.front();
    const char back = needle.back();
    const Lanes first = Splat(static_cast<unsigned char>(front));
    const Lanes last = Splat(static_cast<unsigned char>(back));
    // The places where the needle may start: p up to end - 1. A place's test
    // reads the byte m - 1 further on, which stays within the haystack.
    const char* const end = p + (haystack.size() - m + 1);
    auto candidates = [&](const char* q) { return Lanes((Load(q) == first) & (Load(q + m - 1) == last)); };
    auto matchAt = [&](const char* q) { return *q == front && q[m - 1] == back && NeedleAt(q, needle); };
    // Four vectors of places at a time, so that the loop's own work is
    // small beside the reading.
    constexpr std::ptrdiff_t kStep = 4 * kLanes;
    const char* q = p;
    for (; end - q >= kStep; q += kStep) {
        if (!Any(candidates(q) | candidates(q + kLanes) | candidates(q + 2 * kLanes) | candidates(q + 3 * kLanes)))
            continue;
        for (const char* r = q; r < q + kStep; ++r)
            if (matchAt(r))
                return static_cast<std::size_t>(r - p);
    }
    for (; q < end; ++q)
        if (matchAt(q))
            return static_cast<std::size_t>(q - p);
    return std::string_view::npos;
}

void FoldAsciiCase(char* data, std::size_t size)
{
    // A byte b is an upper-case letter when b - 'A' (wrapping) is below 26.
    const Lanes a = Splat('A');
    const Lanes letters = Splat(26);
    const Lanes bit = Splat(0x20);
    std::size_t i = 0;
    for (; i + kLanes <= size; i += kLanes) {
        const Lanes v = Load(data + i);
        Store(data + i, v | (Lanes((v - a) < letters) & bit));
    }
    for (; i < size; ++i)
        if (static_cast<unsigned char>(data[i] - 'A') < 26)
            data[i] = static_cast<char>(data[i] | 0x20);
}
