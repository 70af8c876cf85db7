// Both routines work on vectors of 16 bytes through the compiler's generic
// vector types, which every target GCC and Clang build for supports.
//
// FindBytes tests 64 starting places at once (128 with AVX2) for the needle's first and
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

bool NeedleAt(const char* p, std::string_view needle) { return std::memcmp(p, needle.data(), needle.size()) == 0; }

// The vector loop for any vector width: W places tested at once, four
// vectors a step. Everything it calls is inlined, so that the AVX2 copy
// below runs on 32-byte vectors throughout.
using Lanes32 = unsigned char __attribute__((vector_size(32)));

template <class Wide>
[[gnu::always_inline]] inline std::size_t ScanWide(const char* p, std::size_t size, std::string_view needle)
{
    constexpr std::size_t W = sizeof(Wide);
    const std::size_t m = needle.size();
    const char front = needle.front();
    const char back = needle.back();
    const Wide first = Wide{} + static_cast<unsigned char>(front);
    const Wide last = Wide{} + static_cast<unsigned char>(back);
    // The places where the needle may start: p up to end - 1. A place's test
    // reads the byte m - 1 further on, which stays within the haystack.
    const char* const end = p + (size - m + 1);
    constexpr std::ptrdiff_t kStep = 4 * static_cast<std::ptrdiff_t>(W);
    const char* q = p;
    for (; end - q >= kStep; q += kStep) {
        Wide hits{};
        for (std::size_t k = 0; k < 4; ++k) {
            Wide a, b;
            std::memcpy(&a, q + k * W, W);
            std::memcpy(&b, q + k * W + m - 1, W);
            hits |= Wide((a == first) & (b == last));
        }
        std::uint64_t words[W / 8];
        std::memcpy(words, &hits, W);
        std::uint64_t any = 0;
        for (std::uint64_t w : words)
            any |= w;
        if (!any)
            continue;
        for (const char* r = q; r < q + kStep; ++r)
            if (*r == front && r[m - 1] == back && NeedleAt(r, needle))
                return static_cast<std::size_t>(r - p);
    }
    for (; q < end; ++q)
        if (*q == front && q[m - 1] == back && NeedleAt(q, needle))
            return static_cast<std::size_t>(q - p);
    return std::string_view::npos;
}

std::size_t ScanSse(const char* p, std::size_t size, std::string_view needle) { return ScanWide<Lanes>(p, size, needle); }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Twice the places per instruction where the processor has AVX2.
__attribute__((target("avx2"))) std::size_t ScanAvx2(const char* p, std::size_t size, std::string_view needle)
{
    return ScanWide<Lanes32>(p, size, needle);
}

bool HasAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
std::size_t ScanAvx2(const char* p, std::size_t size, std::string_view needle) { return ScanSse(p, size, needle); }
bool HasAvx2() { return false; }
#endif

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
    return HasAvx2() ? ScanAvx2(p, haystack.size(), needle) : ScanSse(p, haystack.size(), needle);
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
