// The byte search and the ASCII fold of the file search against plain
// byte-at-a-time answers, at every place a needle can stand: the vector
// loop and its tail must agree wherever the block edges fall.
#include "rtl/bytesearch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

TEST(FindBytes, AgreesWithAPlainSearchAtEveryPlace)
{
    // Haystacks of repeated needle prefixes, so that near misses (first and
    // last byte right, a middle one wrong) come at every offset.
    for (std::size_t m = 1; m <= 20; ++m) {
        std::string needle;
        for (std::size_t i = 0; i < m; ++i)
            needle += static_cast<char>('a' + i % 3);
        std::string nearMiss = needle;
        if (m > 2)
            nearMiss[m / 2] = 'x';
        // Every size up to 48, and sizes around the 64-place steps.
        std::vector<std::size_t> sizes;
        for (std::size_t size = 0; size <= 48; ++size)
            sizes.push_back(size);
        for (std::size_t size : {63, 64, 65, 79, 80, 127, 128, 129, 150})
            sizes.push_back(size + m - 1);
        for (const std::size_t size : sizes) {
            std::string hay;
            while (hay.size() < size)
                hay += nearMiss;
            hay.resize(size);
            EXPECT_EQ(FindBytes(hay, needle), hay.find(needle)) << m << " " << size;
            for (std::size_t at = 0; at + m <= size; ++at) {
                std::string with = hay;
                with.replace(at, m, needle);
                ASSERT_EQ(FindBytes(with, needle), with.find(needle)) << m << " " << size << " " << at;
            }
        }
    }
}

TEST(FindBytes, EdgeCases)
{
    using namespace std::string_view_literals;
    EXPECT_EQ(FindBytes("abc", ""), 0u);
    EXPECT_EQ(FindBytes("", "a"), std::string_view::npos);
    EXPECT_EQ(FindBytes("ab", "abc"), std::string_view::npos);
    // Bytes above 0x7F and zero bytes are bytes like any other.
    EXPECT_EQ(FindBytes("\x00\xFF\x80\xFF\x80 tail"sv, "\xFF\x80 "sv), 3u);
    EXPECT_EQ(FindBytes(std::string(1000, '\0') + "k", "k"), 1000u);
    // The first of several occurrences.
    EXPECT_EQ(FindBytes(std::string(40, 'a') + "keykey" + std::string(40, 'a'), "key"), 40u);
}

TEST(FoldAsciiCase, LowersAsciiLettersOnlyAtEveryOffset)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    for (std::size_t offset = 0; offset < 17; ++offset) {
        std::string block = all.substr(offset) + all.substr(0, offset);
        FoldAsciiCase(block.data(), block.size());
        for (std::size_t i = 0; i < block.size(); ++i) {
            const auto b = static_cast<unsigned char>(all[(i + offset) % 256]);
            const unsigned char want = b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
            ASSERT_EQ(static_cast<unsigned char>(block[i]), want) << offset << " " << int(b);
        }
    }
    // UTF-8 text keeps its characters: "É" (C3 89) and "ß" (C3 9F) stay.
    std::string text = "\xC3\x89T\xC3\x9F";
    FoldAsciiCase(text.data(), text.size());
    EXPECT_EQ(text, "\xC3\x89t\xC3\x9F");
}
