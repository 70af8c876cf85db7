// Text encodings the program meets: UTF-8 (its own), UTF-16 (files that
// start with FF FE, wide shell and archive names) and code page 437 (names
// in DOS-era archives, the hex editor's OEM character field).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends one code point as UTF-8; surrogates and values past U+10FFFF
// become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-16 to UTF-8: surrogate pairs are joined, an unpaired surrogate becomes
// U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// The same over little-endian bytes (an odd last byte is dropped).
std::string Utf16LeBytesToUtf8(const std::uint8_t* data, std::size_t size);

// Code page 437, bytes 80 to FF.
inline constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Windows-1252, bytes 80 to 9F (0 where the page has no character; A0 to FF
// are Latin-1 and stand for themselves).
inline constexpr char16_t kCp1252Ctrl[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

// The Unicode character of a byte in code page 437 or Windows-1252; usable
// where tables are built at compile time.
constexpr char16_t Cp437ToUnicode(int byte)
{
    return byte < 0x80 ? static_cast<char16_t>(byte) : kCp437High[(byte - 0x80) & 0x7F];
}
constexpr char16_t Cp1252ToUnicode(int byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kCp1252Ctrl[byte - 0x80] : static_cast<char16_t>(byte);
}

std::string Cp437ToUtf8(std::string_view text);
// UTF-8 to code page 437; characters the page lacks become '?'.
std::string Utf8ToCp437(std::string_view text);

// Decodes the UTF-8 character at i and moves i past it; a malformed sequence
// gives U+FFFD.
char32_t NextUtf8(std::string_view text, std::size_t& i);

// The length of the well-formed UTF-8 sequence at p[i] (no overlong forms,
// no surrogates, nothing above U+10FFFF), 0 when none starts there.
std::size_t Utf8SequenceAt(const unsigned char* p, std::size_t n, std::size_t i);
inline std::size_t Utf8SequenceAt(std::string_view s, std::size_t i)
{
    return Utf8SequenceAt(reinterpret_cast<const unsigned char*>(s.data()), s.size(), i);
}
