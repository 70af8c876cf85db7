// The offset format of the hex editor's gutter: a short text such as
// "-!10:0x|" that says how a row's byte offset is written.
//
//   [divisor] [width] radix ":" prefix "|" suffix
//   divisor: "R%" (bytes per row), "C%" (bytes per column), hex "%" (that
//            number), "%" or nothing (the ruler's bytes per unit)
//   width:   "-!" (computed from the largest offset), hex "!" (at least
//            that many digits), "!" or nothing (1)
//   radix:   hex number 2..10h, then ":"
#pragma once

#include <cstdint>
#include <string>

enum TZAZOffsetFormatFlag { offCalcWidth = 1, offCalcRow = 2, offCalcColumn = 4, offBytesPerUnit = 8 };
using TZAZOffsetFormatFlags = unsigned;

struct TZAZOffsetFormat {
    std::string Format;
    std::string Prefix;
    std::string Suffix;
    std::int32_t MinWidth = 1;
    TZAZOffsetFormatFlags Flags = 0;
    std::uint8_t Radix = 16;
    std::uint8_t BytesPerUnit = 1;

    // Parses text; on any error raises EZURadUvudod and leaves this format
    // unchanged. bytesPerRow, bytesPerColumn and rulerUnit feed the divisors
    // of "R%", "C%" and the unit-following forms.
    void Parse(const std::string& text, std::int32_t bytesPerRow, std::int32_t bytesPerColumn, std::int32_t rulerUnit);

    // The text of a position; empty when the format text is empty.
    std::string OffsetString(std::uint32_t position, bool lowerCase) const;
    // For offCalcWidth: MinWidth becomes the digit count of
    // (reference div divisor) in the radix.
    void CalcWidth(std::uint32_t reference);
};
