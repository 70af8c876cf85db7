// Searching bytes for a byte string, as fast as memory can be read: the file
// search scans whole files for its keywords.
#pragma once

#include <cstddef>
#include <string_view>

// The offset of the first occurrence of needle in haystack, or
// std::string_view::npos; an empty needle is found at 0.
std::size_t FindBytes(std::string_view haystack, std::string_view needle);

// Lower-cases the ASCII letters of a block in place and leaves every other
// byte as it is (folding the bytes of UTF-8 text one by one would turn parts
// of characters into other bytes).
void FoldAsciiCase(char* data, std::size_t size);
