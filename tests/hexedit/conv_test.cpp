#include "hexedit/zazconv.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>

namespace {

void ExpectInversePermutation(const TZAZCharConvTable& t)
{
    std::set<int> from(t[cctFromAnsi].begin(), t[cctFromAnsi].end());
    std::set<int> to(t[cctToAnsi].begin(), t[cctToAnsi].end());
    EXPECT_EQ(from.size(), 256u);
    EXPECT_EQ(to.size(), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(t[cctToAnsi][t[cctFromAnsi][i]], i);
        EXPECT_EQ(t[cctFromAnsi][t[cctToAnsi][i]], i);
    }
}

TEST(Translation, FixedTablesArePermutationsWithInverseHalves)
{
    ExpectInversePermutation(ZAZ_CCONV_MAC);
    ExpectInversePermutation(ZAZ_CCONV_BCD38);
    ExpectInversePermutation(ZAZCustomCharConv);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(ZAZ_CCONV_MAC[cctFromAnsi][i], i);
    EXPECT_EQ(ZAZ_CCONV_MAC[cctFromAnsi][0x80], 0xC4);
    EXPECT_EQ(ZAZ_CCONV_MAC[cctFromAnsi][0xFF], 0xD8);
    EXPECT_EQ(ZAZ_CCONV_BCD38[cctFromAnsi]['A'], 0xC1);
    EXPECT_EQ(ZAZ_CCONV_BCD38[cctToAnsi][0xC1], 'A');
    EXPECT_EQ(ZAZ_CCONV_BCD38[cctFromAnsi][' '], 0x40);
}

TEST(Translation, BufferRoutinesByKind)
{
    const std::uint8_t text[] = {'A', 'z', '0', 0xE9, 0x80};
    struct Case {
        int kind;
        std::uint8_t expected[5];
    };
    const Case cases[] = {
        {tkAsIs, {'A', 'z', '0', 0xE9, 0x80}},
        {tkDos8, {'A', 'z', '0', 0x82, '?'}},  // é is 82h in code page 437; the euro sign has no place there
        {tkASCII, {'A', 'z', '0', 0x82, '?'}},
        {tkMac, {'A', 'z', '0', 0x8E, 0xC4}},
        {tkBCD, {0xC1, 0xA9, 0xF0, 0x29, 0x80}},
        {tkCustom, {'A', 'z', '0', 0xE9, 0x80}},
        {tkCustom + 128, {'A', 'z', '0', 0xE9, 0x80}},  // the kind is taken modulo 128
    };
    for (const auto& c : cases) {
        std::uint8_t out[5];
        TranslateBufferFromAnsi(c.kind, text, out, 5);
        EXPECT_EQ(0, std::memcmp(out, c.expected, 5)) << "kind " << c.kind;
        std::uint8_t back[5];
        TranslateBufferToAnsi(c.kind, out, back, 5);
        if (c.kind == tkMac || c.kind == tkBCD) {
            EXPECT_EQ(0, std::memcmp(back, text, 5)) << "kind " << c.kind;
        }
    }
    // In place, and an unknown kind leaves the bytes alone.
    std::uint8_t buf[2] = {'A', 'B'};
    TranslateBufferFromAnsi(tkBCD, buf, buf, 2);
    EXPECT_EQ(buf[0], 0xC1);
    EXPECT_EQ(buf[1], 0xC2);
    TranslateBufferFromAnsi(9, buf, buf, 2);
    EXPECT_EQ(buf[0], 0xC1);
}

TEST(Translation, OemConversionKeepsAsciiAndMapsAccents)
{
    for (int c = 0; c < 128; ++c) {
        EXPECT_EQ(OemToAnsiChar(static_cast<std::uint8_t>(c)), c);
        EXPECT_EQ(AnsiToOemChar(static_cast<std::uint8_t>(c)), c);
    }
    EXPECT_EQ(OemToAnsiChar(0x82), 0xE9);  // é
    EXPECT_EQ(OemToAnsiChar(0xC4), '-');   // box drawing best fit
    EXPECT_EQ(AnsiToOemChar(0xFC), 0x81);  // ü
    EXPECT_EQ(AnsiCharToUnicode(0x80), u'\u20AC');
    EXPECT_EQ(AnsiCharToUnicode(0xE9), u'\u00E9');
}

TEST(HexText, ConvertHexToBinSkipsNonDigitsAndDropsLoneDigit)
{
    const char text[] = "4a 4B-7";
    std::uint8_t out[4] = {};
    std::int32_t n = -1;
    ConvertHexToBin(text, out, 7, n, false);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(out[0], 0x4A);
    EXPECT_EQ(out[1], 0x4B);
    ConvertHexToBin(text, out, 7, n, true);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(out[0], 0xA4);
    EXPECT_EQ(out[1], 0xB4);
    ConvertHexToBin("", out, 0, n, false);
    EXPECT_EQ(n, 0);
}

TEST(HexText, ConvertBinToHex)
{
    const std::uint8_t bytes[] = {0x00, 0x4A, 0xFF};
    char out[7];
    EXPECT_STREQ(ConvertBinToHex(bytes, out, 3, false), "004AFF");
    EXPECT_STREQ(ConvertBinToHex(bytes, out, 3, true), "00A4FF");
    EXPECT_STREQ(ConvertBinToHex(bytes, out, 0, false), "");
}

// Long texts go through the block-wise path: it must give exactly what one
// digit at a time gives, whatever stands between the digits and wherever a
// block begins, in place or into another buffer, with either nibble order.
TEST(HexText, LongTextsDecodeAsDigitByDigit)
{
    auto reference = [](const std::string& text, bool swap) {
        std::string out;
        int pending = -1;
        for (unsigned char c : text) {
            const int v = std::isxdigit(c) ? (std::isdigit(c) ? c - '0' : (c | 0x20) - 'a' + 10) : -1;
            if (v < 0)
                continue;
            if (pending < 0) {
                pending = v;
                continue;
            }
            out.push_back(static_cast<char>(swap ? (v << 4) | pending : (pending << 4) | v));
            pending = -1;
        }
        return out;
    };
    std::string digits;
    for (int i = 0; i < 300; ++i)
        digits += "0123456789abcdefABCDEF"[(i * 7) % 22];
    const struct {
        const char* name;
        std::string text;
    } texts[] = {
        {"digits only", digits},
        {"odd count", digits + "F"},
        {"blanks every 2", [&] { std::string t; for (size_t i = 0; i < digits.size(); i += 2) t += digits.substr(i, 2) + " "; return t; }()},
        {"one lone digit first", "7 " + digits},
        {"separators inside blocks", [&] { std::string t = digits; for (size_t i = 5; i < t.size(); i += 37) t[i] = "-:\n\xC1G@`g/"[i % 10]; return t; }()},
        {"high and odd bytes", [&] { std::string t = digits; for (size_t i = 3; i < t.size(); i += 29) t[i] = static_cast<char>(0x80 + i % 128); return t; }()},
    };
    for (const auto& t : texts)
        for (bool swap : {false, true})
            for (size_t start : {0u, 1u, 15u, 17u}) {
                SCOPED_TRACE(std::string(t.name) + (swap ? " swapped" : "") + " from " + std::to_string(start));
                const std::string text = t.text.substr(start);
                const std::string expected = reference(text, swap);
                std::string out(text.size() / 2 + 1, '\0');
                std::int32_t n = -1;
                ConvertHexToBin(text.data(), reinterpret_cast<std::uint8_t*>(out.data()),
                                static_cast<std::int32_t>(text.size()), n, swap);
                EXPECT_EQ(out.substr(0, static_cast<size_t>(n)), expected);
                std::string inPlace = text;
                ConvertHexToBin(inPlace.data(), reinterpret_cast<std::uint8_t*>(inPlace.data()),
                                static_cast<std::int32_t>(inPlace.size()), n, swap);
                EXPECT_EQ(inPlace.substr(0, static_cast<size_t>(n)), expected);
            }
    // And back: every byte value, at every offset a block may start from.
    std::string bytes;
    for (int i = 0; i < 256 + 37; ++i)
        bytes.push_back(static_cast<char>(i * 101));
    for (bool swap : {false, true}) {
        std::string hex(2 * bytes.size() + 1, 'x');
        ConvertBinToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), hex.data(),
                        static_cast<std::int32_t>(bytes.size()), swap);
        for (size_t i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            const std::string pair = {"0123456789ABCDEF"[swap ? b & 15 : b >> 4], "0123456789ABCDEF"[swap ? b >> 4 : b & 15]};
            ASSERT_EQ(hex.substr(2 * i, 2), pair) << i;
        }
        EXPECT_EQ(hex.back(), '\0');
    }
}

TEST(HexText, HasHexByteNeedsTwoDigits)
{
    EXPECT_FALSE(HasHexByte("Hello", 5));  // only the "e"
    EXPECT_FALSE(HasHexByte("", 0));
    EXPECT_TRUE(HasHexByte("Hello there", 11));
    EXPECT_TRUE(HasHexByte("4 1", 3));
    EXPECT_FALSE(HasHexByte("41", 1));  // the count bounds the text
}

TEST(Radix, IntToRadix)
{
    EXPECT_EQ(IntToRadixLen(255, 16, 4), "00FF");
    EXPECT_EQ(IntToRadix(0, 2), "0");
    EXPECT_EQ(IntToRadix(0xFFFFFFFFu, 16), "FFFFFFFF");
    EXPECT_EQ(IntToRadix(5, 2), "101");
    EXPECT_EQ(IntToOctal(8), "10");
    EXPECT_EQ(IntToRadix64(0xFFFFFFFFFFFFFFFFull, 16), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(IntToRadixLen64(10, 10, 5), "00010");
    EXPECT_EQ(IntToRadixLen(123456, 10, 2), "123456");
    // A radix outside 2..16 would divide by zero or never end.
    EXPECT_THROW(IntToRadix(5, 0), EZURadUvudod);
    EXPECT_THROW(IntToRadix(5, 1), EZURadUvudod);
    EXPECT_THROW(IntToRadix64(5, 17), EZURadUvudod);
}

TEST(Radix, RadixToIntAndErrors)
{
    EXPECT_EQ(RadixToInt("ff", 16), 255);
    EXPECT_EQ(RadixToInt("", 16), 0);
    EXPECT_EQ(RadixToInt("777", 8), 511);
    EXPECT_EQ(OctalToInt("10"), 8);
    EXPECT_EQ(RadixToInt("7FFFFFFF", 16), 0x7FFFFFFF);
    EXPECT_EQ(RadixToInt64("7FFFFFFFFFFFFFFF", 16), INT64_MAX);
    try {
        RadixToInt("19", 8);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "Invalid character 9, cannot convert using radix 8h");
    }
    try {
        RadixToInt("G", 16);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "Invalid character G, cannot convert using radix 10h");
    }
    EXPECT_THROW(RadixToInt("80000000", 16), EIntOverflow);
    EXPECT_THROW(RadixToInt("100000000", 16), EIntOverflow);
    EXPECT_THROW(RadixToInt64("8000000000000000", 16), EIntOverflow);
}

TEST(Radix, CheckRadixToIntPrefixesAndSuffixes)
{
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {{"0xff", 255}, {"$FF", 255}, {"FFh", 255}, {"10o", 8}, {"o10", 8}, {"O10", 8},
                          {"101%", 5},   {"%101", 5},  {"12", 12},   {"0XA", 10}, {"-5", -5}};
    for (const auto& c : cases) {
        EXPECT_EQ(CheckRadixToInt(c.text), c.value) << c.text;
        EXPECT_EQ(CheckRadixToInt64(c.text), c.value) << c.text;
    }
    EXPECT_EQ(CheckRadixToInt64("$100000000"), 0x100000000ll);
    EXPECT_THROW(CheckRadixToInt("12x"), EConvertError);
    EXPECT_THROW(CheckRadixToInt64("abc"), EConvertError);
    EXPECT_THROW(CheckRadixToInt("$FG"), EZURadUvudod);
}

TEST(Unsigned64, ArithmeticWithOverflow)
{
    const std::uint64_t kMax = ~0ull;
    std::uint64_t r = 0;
    EXPECT_FALSE(TrySubtractU64(1, 2, r));
    EXPECT_TRUE(TrySubtractU64(2, 1, r));
    EXPECT_EQ(r, 1u);
    EXPECT_FALSE(TryAddU64(kMax, 1, r));
    EXPECT_TRUE(TryAddU64(kMax - 1, 1, r));
    EXPECT_EQ(r, kMax);
    EXPECT_FALSE(TryMultiplyU64(1ull << 32, 1ull << 32, r));
    EXPECT_TRUE(TryMultiplyU64(1ull << 31, 1ull << 32, r));
    EXPECT_EQ(r, 1ull << 63);
    EXPECT_FALSE(TryDivideU64(5, 0, r));
    EXPECT_FALSE(TryModuloU64(5, 0, r));
    EXPECT_TRUE(TryModuloU64(7, 3, r));
    EXPECT_EQ(r, 1u);
    EXPECT_THROW(AddU64(kMax, 1), EIntOverflow);
    EXPECT_THROW(SubtractU64(0, 1), EIntOverflow);
    EXPECT_THROW(MultiplyU64(kMax, 2), EIntOverflow);
    EXPECT_THROW(DivideU64(1, 0), EDivByZero);
    EXPECT_THROW(ModuloU64(1, 0), EDivByZero);
    EXPECT_EQ(DivideU64(kMax, 2), kMax >> 1);
}

TEST(Helpers, SwapFadeInvert)
{
    char16_t c = 0x1234;
    SwapWideChar(c);
    EXPECT_EQ(c, 0x3412);
    EXPECT_EQ(FadeToGrayRGB(0xFFFFFF), 0xFFFFFFu);
    EXPECT_EQ(FadeToGrayRGB(0x0000FF), 0x494949u);  // pure red: 74 * 255 / 256 = 73
    EXPECT_EQ(FadeToGrayRGB(0x00FF00), 0x919191u);  // green: 146 * 255 / 256 = 145
    EXPECT_EQ(InvertRGB(0x00FFFF00), 0x000000FFu);
    EXPECT_EQ(InvertRGB(0xFF000000), 0x00FFFFFFu);
    EXPECT_EQ(Min(3, -1), -1);
    EXPECT_EQ(Max(3, -1), 3);
}

}  // namespace
