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

// Code page 437: the Unicode character of a byte, and a string converted.
char16_t Cp437ToUnicode(std::uint8_t byte);
std::string Cp437ToUtf8(std::string_view text);
