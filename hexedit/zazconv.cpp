#include "hexedit/zazconv.h"

#include "rtl/unicode.h"
#include "win/splitwork.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// From-ANSI half of the Macintosh table for bytes 80-FF (00-7F are themselves).
constexpr std::uint8_t kMacFromAnsiHigh[128] = {
    0xC4, 0xC5, 0xAB, 0xC9, 0xD1, 0xF7, 0xDC, 0xE1, 0xE0, 0xE2, 0xE4, 0xE3, 0xAC, 0xB0, 0xAA, 0xF8,
    0xD5, 0xCE, 0xC3, 0xCF, 0xD3, 0xD4, 0xD2, 0xDB, 0xDA, 0xDD, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC,
    0xA0, 0xC1, 0xA2, 0xA3, 0xDF, 0xB4, 0xB6, 0xA4, 0xC6, 0xA9, 0xBB, 0xC7, 0xC2, 0xAD, 0xA8, 0xFF,
    0xA1, 0xB1, 0xB2, 0xB3, 0xA5, 0xB5, 0xA6, 0xB7, 0xB8, 0xB9, 0xBC, 0xC8, 0xBA, 0xBD, 0xCA, 0xC0,
    0xCB, 0xE7, 0xE5, 0xCC, 0x80, 0x81, 0xAE, 0x82, 0xE9, 0x83, 0xE6, 0xE8, 0xED, 0xEA, 0xEB, 0xEC,
    0xD0, 0x84, 0xF1, 0xEE, 0xEF, 0xCD, 0x85, 0xD7, 0xAF, 0xF4, 0xF2, 0xF3, 0x86, 0xD9, 0xDE, 0xA7,
    0x88, 0x87, 0x89, 0x8B, 0x8A, 0x8C, 0xBE, 0x8D, 0x8F, 0x8E, 0x90, 0x91, 0x93, 0x92, 0x94, 0x95,
    0xF0, 0x96, 0x98, 0x97, 0x99, 0x9B, 0x9A, 0xD6, 0xBF, 0x9D, 0x9C, 0x9E, 0x9F, 0xFD, 0xFE, 0xD8,
};

// From-ANSI half of EBCDIC code page 38.
constexpr std::uint8_t kBcd38FromAnsi[256] = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F, 0x16, 0x05, 0x25, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26, 0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,
    0x40, 0x4F, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x4A, 0xE0, 0x5A, 0x5F, 0x6D,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x20, 0xD0, 0xA1, 0x07,
    0x80, 0x22, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x77, 0x2C, 0x0A, 0x3B, 0x3E, 0x1A, 0x70, 0x71, 0x72, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xA0, 0x15, 0x73, 0x74, 0x75, 0x76, 0x6A, 0x78, 0x09, 0x3A, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0x23, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0x1B, 0x24, 0x06, 0x14, 0x28, 0x2B, 0x21, 0x17, 0x51, 0x52, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0x2A, 0xE1, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x29, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0x30, 0x31, 0x08, 0x33, 0x34, 0x35, 0x36, 0x04, 0x38, 0x39, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// The to-ANSI half is the inverse permutation of the from-ANSI half.
constexpr TZAZCharConvTable MakeTable(const std::uint8_t (&from)[256])
{
    TZAZCharConvTable t{};
    for (int i = 0; i < 256; ++i) {
        t[cctFromAnsi][i] = from[i];
        t[cctToAnsi][from[i]] = static_cast<std::uint8_t>(i);
    }
    return t;
}

constexpr TZAZCharConvTable MakeMacTable()
{
    std::uint8_t from[256]{};
    for (int i = 0; i < 128; ++i)
        from[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 128; ++i)
        from[128 + i] = kMacFromAnsiHigh[i];
    return MakeTable(from);
}

constexpr TZAZCharConvTable MakeIdentity()
{
    TZAZCharConvTable t{};
    for (int i = 0; i < 256; ++i)
        t[0][i] = t[1][i] = static_cast<std::uint8_t>(i);
    return t;
}


// A plain look-alike for the box, block and shade characters of code page
// 437 that Windows-1252 lacks, as the system's best-fit conversion does.
constexpr std::uint8_t BestFit(char16_t u)
{
    if (u == 0x2500 || u == 0x2550)
        return '-';
    if (u == 0x2502 || u == 0x2551)
        return '|';
    if (u >= 0x2500 && u < 0x2580)
        return '+';
    if (u >= 0x2580 && u < 0x25A1)
        return '#';
    return '?';
}

struct OemAnsiTables {
    std::uint8_t oemToAnsi[256]{};
    std::uint8_t ansiToOem[256]{};
};

constexpr OemAnsiTables MakeOemAnsi()
{
    OemAnsiTables t{};
    for (int o = 0; o < 256; ++o) {
        const char16_t u = Cp437ToUnicode(o);
        std::uint8_t found = BestFit(u);
        for (int a = 0; a < 256; ++a)
            if (Cp1252ToUnicode(a) == u && (a < 0x80 || a >= 0xA0 || u >= 0x100)) {
                found = static_cast<std::uint8_t>(a);
                break;
            }
        t.oemToAnsi[o] = found;
    }
    for (int a = 0; a < 256; ++a) {
        const char16_t u = Cp1252ToUnicode(a);
        std::uint8_t found = '?';
        if (u != 0 || a == 0)
            for (int o = 0; o < 256; ++o)
                if (Cp437ToUnicode(o) == u) {
                    found = static_cast<std::uint8_t>(o);
                    break;
                }
        t.ansiToOem[a] = found;
    }
    return t;
}

constexpr OemAnsiTables kOemAnsi = MakeOemAnsi();

constexpr char kDigits[] = "0123456789ABCDEF";

void CheckRadix(std::uint8_t radix)
{
    if (radix < 2 || radix > 16)
        throw EZURadUvudod(Format(zaz_text::kInvalidRadixValue, radix));
}

template <typename T>
std::string ToRadix(T value, std::uint8_t radix, std::uint8_t minLen)
{
    CheckRadix(radix);
    char buf[72];
    int n = 0;
    do {
        buf[n++] = kDigits[value % radix];
        value /= radix;
    } while (value != 0);
    std::string out;
    if (minLen > n)
        out.assign(static_cast<size_t>(minLen - n), '0');
    while (n > 0)
        out.push_back(buf[--n]);
    return out;
}

template <typename T>
T FromRadix(const std::string& text, std::uint8_t radix)
{
    T value = 0;
    constexpr T kMax = std::numeric_limits<T>::max();
    for (char ch : text) {
        const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        const char* p = up ? std::strchr(kDigits, up) : nullptr;
        const int digit = p ? static_cast<int>(p - kDigits) : 99;
        if (digit >= radix)
            throw EZURadUvudod(Format(zaz_text::kInvalidChar, std::string(1, ch).c_str(), static_cast<unsigned>(radix)));
        if (value > (kMax - digit) / radix)
            throw EIntOverflow(zaz_text::kIntOverflow);
        value = static_cast<T>(value * radix + digit);
    }
    return value;
}

std::int64_t StrToInt64Strict(const std::string& text)
{
    const std::string t = Trim(text);
    errno = 0;
    char* end = nullptr;
    const long long v = t.empty() ? 0 : std::strtoll(t.c_str(), &end, 10);
    if (t.empty() || errno != 0 || *end != '\0')
        throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    return true;
}

bool EndsWith(const std::string& s, char suffix)
{
    return !s.empty() && std::toupper(static_cast<unsigned char>(s.back())) == suffix;
}

template <typename T>
T CheckRadix(const std::string& text, T (*decimal)(const std::string&))
{
    if (StartsWith(text, "0X"))
        return FromRadix<T>(text.substr(2), 16);
    if (StartsWith(text, "$"))
        return FromRadix<T>(text.substr(1), 16);
    if (EndsWith(text, 'H'))
        return FromRadix<T>(text.substr(0, text.size() - 1), 16);
    if (EndsWith(text, 'O'))
        return FromRadix<T>(text.substr(0, text.size() - 1), 8);
    if (StartsWith(text, "O"))
        return FromRadix<T>(text.substr(1), 8);
    if (EndsWith(text, '%'))
        return FromRadix<T>(text.substr(0, text.size() - 1), 2);
    if (StartsWith(text, "%"))
        return FromRadix<T>(text.substr(1), 2);
    return decimal(text);
}

std::int32_t DecimalInt32(const std::string& text) { return StrToInt(text); }

void Translate(const std::uint8_t* table, const void* source, void* dest, std::int32_t count)
{
    const auto* s = static_cast<const std::uint8_t*>(source);
    auto* d = static_cast<std::uint8_t*>(dest);
    for (std::int32_t i = 0; i < count; ++i)
        d[i] = table[s[i]];
}

void TranslateBuffer(int kind, TZAZCharConvType direction, const void* source, void* dest, std::int32_t count)
{
    if (count <= 0)
        return;
    kind %= 128;
    switch (kind) {
    case tkAsIs:
        if (source != dest)
            std::memmove(dest, source, static_cast<size_t>(count));
        break;
    case tkDos8:
    case tkASCII:
        Translate(direction == cctFromAnsi ? kOemAnsi.ansiToOem : kOemAnsi.oemToAnsi, source, dest, count);
        break;
    case tkMac: Translate(ZAZ_CCONV_MAC[direction].data(), source, dest, count); break;
    case tkBCD: Translate(ZAZ_CCONV_BCD38[direction].data(), source, dest, count); break;
    case tkCustom: Translate(ZAZCustomCharConv[direction].data(), source, dest, count); break;
    default: break;
    }
}

}  // namespace

const TZAZCharConvTable ZAZ_CCONV_MAC = MakeMacTable();
const TZAZCharConvTable ZAZ_CCONV_BCD38 = MakeTable(kBcd38FromAnsi);
TZAZCharConvTable ZAZCustomCharConv = MakeIdentity();

const std::array<std::string, 6> ZAZTranslationDesc = {"Windows",   "Dos 8 Bit",          "ASCII 7 Bit",
                                                       "Macintosh", "EBCDIC Codepage 38", "Custom Translation"};
const std::array<std::string, 6> ZAZTranslationDescShort = {"WIN", "DOS", "ASC", "MAC", "BCD", "Cust"};
const std::array<std::string, 11> ZAZUndoDesc = {
    "Change Byte(s)", "Remove Data",     "Insert Buffer",         "Replace",          "Append Buffer", "Insert Nibble",
    "Delete Nibble",  "Convert",         "Cursor movement",       "Multiple Modification", "All data saved"};

std::uint8_t AnsiToOemChar(std::uint8_t c) { return kOemAnsi.ansiToOem[c]; }
std::uint8_t OemToAnsiChar(std::uint8_t c) { return kOemAnsi.oemToAnsi[c]; }
char16_t AnsiCharToUnicode(std::uint8_t c)
{
    const char16_t u = Cp1252ToUnicode(c);
    return u == 0 ? static_cast<char16_t>(c) : u;
}

void TranslateBufferFromAnsi(int kind, const void* source, void* dest, std::int32_t count)
{
    TranslateBuffer(kind, cctFromAnsi, source, dest, count);
}

void TranslateBufferToAnsi(int kind, const void* source, void* dest, std::int32_t count)
{
    TranslateBuffer(kind, cctToAnsi, source, dest, count);
}

namespace {

// The value of each character as a hexadecimal digit, -1 for the others.
constexpr std::array<std::int8_t, 256> kHexValue = [] {
    std::array<std::int8_t, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    return t;
}();

// The two digits of each byte value, high nibble first.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
    std::array<std::array<char, 2>, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF]};
    return t;
}();

}  // namespace

#if defined(__SSE2__)
namespace {

// Sixteen characters as hexadecimal digit values; false when any of them
// is not a digit.
inline bool HexDigits16(const std::uint8_t* source, __m128i& values)
{
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    // Unsigned "less than" through a signed compare of values biased by 0x80.
    const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmplt_epi8(_mm_xor_si128(d, bias), _mm_set1_epi8(static_cast<char>(0x80 + 10)));
    const __m128i l = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isLetter = _mm_cmplt_epi8(_mm_xor_si128(l, bias), _mm_set1_epi8(static_cast<char>(0x80 + 6)));
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF)
        return false;
    values = _mm_or_si128(_mm_and_si128(isDigit, d), _mm_and_si128(isLetter, _mm_add_epi8(l, _mm_set1_epi8(10))));
    return true;
}

// Nibble values 0 to 15 as upper-case digits.
inline __m128i HexChars16(__m128i nibbles)
{
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8(7));
    return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
}

}  // namespace
#endif

std::uint8_t* ConvertHexToBin(const char* source, std::uint8_t* dest, std::int32_t count, std::int32_t& destCount,
                              bool swapNibbles)
{
    // dest may be source itself: byte k is written after digit 2k + 1 was
    // read, and a block of 16 digits is read whole before its 8 bytes are
    // written, so nothing still to be read is overwritten.
    std::int32_t written = 0;
    int pending = -1;
    const auto* s = reinterpret_cast<const std::uint8_t*>(source);
    std::int32_t i = 0;
    while (i < count) {
#if defined(__SSE2__)
        // Runs of digits (the common case: a whole copied block) go sixteen
        // at a time.
        __m128i v;
        if (pending < 0 && count - i >= 16 && HexDigits16(s + i, v)) {
            const __m128i first = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
            const __m128i second = _mm_srli_epi16(v, 8);
            const __m128i pairs = swapNibbles ? _mm_or_si128(_mm_slli_epi16(second, 4), first)
                                              : _mm_or_si128(_mm_slli_epi16(first, 4), second);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + written), _mm_packus_epi16(pairs, pairs));
            written += 8;
            i += 16;
            continue;
        }
#endif
        const int value = kHexValue[s[i++]];
        if (value < 0)
            continue;
        if (pending < 0) {
            pending = value;
            continue;
        }
        dest[written++] = static_cast<std::uint8_t>(swapNibbles ? (value << 4) | pending : (pending << 4) | value);
        pending = -1;
    }
    destCount = written;
    return dest;
}

bool HasHexByte(const void* text, std::uint64_t count)
{
    const auto* s = static_cast<const std::uint8_t*>(text);
    int digits = 0;
    for (std::uint64_t i = 0; i < count; ++i)
        if (kHexValue[s[i]] >= 0 && ++digits == 2)
            return true;
    return false;
}

namespace {

void BinToHexDigits(const std::uint8_t* source, char* dest, std::int32_t count, bool swapNibbles)
{
    char* d = dest;
    std::int32_t i = 0;
#if defined(__SSE2__)
    for (; count - i >= 16; i += 16, d += 32) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(b, 4), _mm_set1_epi8(0x0F));
        const __m128i low = _mm_and_si128(b, _mm_set1_epi8(0x0F));
        const __m128i first = HexChars16(swapNibbles ? low : high);
        const __m128i second = HexChars16(swapNibbles ? high : low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi8(first, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi8(first, second));
    }
#endif
    for (; i < count; ++i, d += 2) {
        const std::array<char, 2>& pair = kHexPairs[source[i]];
        d[0] = pair[swapNibbles ? 1 : 0];
        d[1] = pair[swapNibbles ? 0 : 1];
    }
}

}  // namespace

char* ConvertBinToHex(const std::uint8_t* source, char* dest, std::int32_t count, bool swapNibbles)
{
    // A large block is encoded on several threads: most of the cost is the
    // kernel's faulting in of the fresh text block.
    SplitLargeWork(count, std::int64_t(4) << 20, 16, [&](std::int64_t begin, std::int64_t end) {
        BinToHexDigits(source + begin, dest + 2 * begin, static_cast<std::int32_t>(end - begin), swapNibbles);
    });
    dest[2 * static_cast<std::int64_t>(std::max(count, 0))] = '\0';
    return dest;
}

std::string IntToRadix(std::uint32_t value, std::uint8_t radix) { return ToRadix(value, radix, 0); }
std::string IntToRadixLen(std::uint32_t value, std::uint8_t radix, std::uint8_t minLen)
{
    return ToRadix(value, radix, minLen);
}
std::string IntToRadix64(std::uint64_t value, std::uint8_t radix) { return ToRadix(value, radix, 0); }
std::string IntToRadixLen64(std::uint64_t value, std::uint8_t radix, std::uint8_t minLen)
{
    return ToRadix(value, radix, minLen);
}
std::string IntToOctal(std::uint32_t value) { return IntToRadix(value, 8); }

std::int32_t RadixToInt(const std::string& text, std::uint8_t radix) { return FromRadix<std::int32_t>(text, radix); }
std::int64_t RadixToInt64(const std::string& text, std::uint8_t radix) { return FromRadix<std::int64_t>(text, radix); }
std::int32_t OctalToInt(const std::string& text) { return RadixToInt(text, 8); }
std::int32_t CheckRadixToInt(const std::string& text) { return CheckRadix<std::int32_t>(text, &DecimalInt32); }
std::int64_t CheckRadixToInt64(const std::string& text) { return CheckRadix<std::int64_t>(text, &StrToInt64Strict); }

bool TryDivideU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result)
{
    if (b == 0)
        return false;
    result = a / b;
    return true;
}

bool TryModuloU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result)
{
    if (b == 0)
        return false;
    result = a % b;
    return true;
}

bool TryMultiplyU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result)
{
    return !__builtin_mul_overflow(a, b, &result);
}

bool TryAddU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result) { return !__builtin_add_overflow(a, b, &result); }

bool TrySubtractU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result)
{
    return !__builtin_sub_overflow(a, b, &result);
}

std::uint64_t DivideU64(std::uint64_t a, std::uint64_t b)
{
    if (b == 0)
        throw EDivByZero(zaz_text::kDivByZero);
    return a / b;
}

std::uint64_t ModuloU64(std::uint64_t a, std::uint64_t b)
{
    if (b == 0)
        throw EDivByZero(zaz_text::kDivByZero);
    return a % b;
}

std::uint64_t MultiplyU64(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r = 0;
    if (!TryMultiplyU64(a, b, r))
        throw EIntOverflow(zaz_text::kIntOverflow);
    return r;
}

std::uint64_t AddU64(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r = 0;
    if (!TryAddU64(a, b, r))
        throw EIntOverflow(zaz_text::kIntOverflow);
    return r;
}

std::uint64_t SubtractU64(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r = 0;
    if (!TrySubtractU64(a, b, r))
        throw EIntOverflow(zaz_text::kIntOverflow);
    return r;
}

void SwapWideChar(char16_t& c) { c = static_cast<char16_t>(((c & 0xFF) << 8) | (c >> 8)); }

std::uint32_t FadeToGrayRGB(std::uint32_t rgb)
{
    const std::uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
    const std::uint32_t gray = (74 * r + 146 * g + 36 * b) / 256;
    return gray | (gray << 8) | (gray << 16);
}

std::uint32_t InvertRGB(std::uint32_t rgb) { return (~rgb) & 0x00FFFFFF; }
