// Character translation tables and the small conversion routines of the hex
// editor: hexadecimal text and bytes, numbers in any radix from 2 to 16,
// unsigned 64-bit arithmetic with overflow detection.
#pragma once

#include "hexedit/zazerrors.h"

#include <array>
#include <cstdint>
#include <string>

enum TZAZTranslationKind { tkAsIs, tkDos8, tkASCII, tkMac, tkBCD, tkCustom };
enum TZAZCharConvType { cctFromAnsi, cctToAnsi };

using TZAZCharConv = std::array<std::uint8_t, 256>;
using TZAZCharConvTable = std::array<TZAZCharConv, 2>;  // indexed by TZAZCharConvType

extern const TZAZCharConvTable ZAZ_CCONV_MAC;
extern const TZAZCharConvTable ZAZ_CCONV_BCD38;
// Shared by all editors of the process; both halves start as the identity.
extern TZAZCharConvTable ZAZCustomCharConv;

extern const std::array<std::string, 6> ZAZTranslationDesc;
extern const std::array<std::string, 6> ZAZTranslationDescShort;
extern const std::array<std::string, 11> ZAZUndoDesc;

// The single-byte code pages behind "ANSI" and "OEM" in the character field:
// Windows-1252 and code page 437. The conversions are byte to byte; a
// character the other page lacks becomes its nearest look-alike or '?'.
std::uint8_t AnsiToOemChar(std::uint8_t c);
std::uint8_t OemToAnsiChar(std::uint8_t c);
// The Unicode code point of a Windows-1252 byte (for drawing).
char16_t AnsiCharToUnicode(std::uint8_t c);

// Translate count bytes between ANSI and the kind's code; source and dest may
// be the same block. Kinds beyond tkCustom (taken modulo 128) do nothing.
void TranslateBufferFromAnsi(int kind, const void* source, void* dest, std::int32_t count);
void TranslateBufferToAnsi(int kind, const void* source, void* dest, std::int32_t count);

// Hexadecimal text to bytes: non-digits are skipped, digits pair into bytes
// (high nibble first, or low first with swapNibbles), a lone last digit is
// dropped. destCount receives the number of bytes written. dest must hold
// count / 2 bytes.
std::uint8_t* ConvertHexToBin(const char* source, std::uint8_t* dest, std::int32_t count, std::int32_t& destCount,
                              bool swapNibbles);
// True when the text holds at least two hexadecimal digits: it gives at
// least one byte as hexadecimal text.
bool HasHexByte(const void* text, std::uint64_t count);
// Bytes to upper-case hexadecimal text plus a terminating zero; dest must
// hold 2 * count + 1 characters.
char* ConvertBinToHex(const std::uint8_t* source, char* dest, std::int32_t count, bool swapNibbles);

// Digits of an unsigned value; radix 2 to 16, else EZURadUvudod.
std::string IntToRadix(std::uint32_t value, std::uint8_t radix);
std::string IntToRadixLen(std::uint32_t value, std::uint8_t radix, std::uint8_t minLen);
std::string IntToRadix64(std::uint64_t value, std::uint8_t radix);
std::string IntToRadixLen64(std::uint64_t value, std::uint8_t radix, std::uint8_t minLen);
std::string IntToOctal(std::uint32_t value);

// Value of the digits; "Invalid character %s, cannot convert using radix %xh"
// or EIntOverflow "Integer overflow".
std::int32_t RadixToInt(const std::string& text, std::uint8_t radix);
std::int64_t RadixToInt64(const std::string& text, std::uint8_t radix);
std::int32_t OctalToInt(const std::string& text);
// A number with a radix prefix (0x, $, o, %) or suffix (h, o, %), else decimal.
std::int32_t CheckRadixToInt(const std::string& text);
std::int64_t CheckRadixToInt64(const std::string& text);

bool TryDivideU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result);
bool TryModuloU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result);
bool TryMultiplyU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result);
bool TryAddU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result);
bool TrySubtractU64(std::uint64_t a, std::uint64_t b, std::uint64_t& result);
// Raise EIntOverflow "Integer overflow", or EDivByZero for a zero divisor.
std::uint64_t DivideU64(std::uint64_t a, std::uint64_t b);
std::uint64_t ModuloU64(std::uint64_t a, std::uint64_t b);
std::uint64_t MultiplyU64(std::uint64_t a, std::uint64_t b);
std::uint64_t AddU64(std::uint64_t a, std::uint64_t b);
std::uint64_t SubtractU64(std::uint64_t a, std::uint64_t b);

VISTREL_DECLARE_EXCEPTION(EDivByZero, Exception)

void SwapWideChar(char16_t& c);

// Grey of the same brightness and the 24-bit inverse of an RGB value
// (0x00BBGGRR).
std::uint32_t FadeToGrayRGB(std::uint32_t rgb);
std::uint32_t InvertRGB(std::uint32_t rgb);

inline std::int32_t Min(std::int32_t a, std::int32_t b) { return a < b ? a : b; }
inline std::int32_t Max(std::int32_t a, std::int32_t b) { return a > b ? a : b; }

