#include "hexedit/zazoffset.h"

#include "hexedit/zazconv.h"

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Reads a run of hex digits from text[i]; false when there is none. Values
// that do not fit in 32 bits saturate (every caller refuses them anyway).
bool ReadHex(const std::string& text, size_t& i, std::uint32_t& value)
{
    const size_t start = i;
    std::uint64_t v = 0;
    while (i < text.size() && IsHexDigit(text[i])) {
        const char c = text[i];
        const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        v = std::min<std::uint64_t>(v * 16 + static_cast<unsigned>(d), 0xFFFFFFFFull);
        ++i;
    }
    value = static_cast<std::uint32_t>(v);
    return i > start;
}

bool IsValidUnit(std::int64_t v) { return v == 1 || v == 2 || v == 4 || v == 8; }

}  // namespace

void TZAZOffsetFormat::Parse(const std::string& text, std::int32_t bytesPerRow, std::int32_t bytesPerColumn,
                             std::int32_t rulerUnit)
{
    if (text.empty()) {
        Flags = 0;
        Format.clear();
        return;
    }
    TZAZOffsetFormat f = *this;
    f.Flags = 0;
    size_t i = 0;
    auto at = [&](size_t k) { return k < text.size() ? static_cast<char>(text[k] & ~0x20) : '\0'; };

    // Divisor.
    std::int64_t divisor;
    if (at(0) == 'R' && i + 1 < text.size() && text[1] == '%') {
        f.Flags |= offCalcRow;
        divisor = bytesPerRow;
        i = 2;
    } else if (at(0) == 'C' && i + 1 < text.size() && text[1] == '%') {
        f.Flags |= offCalcColumn;
        divisor = bytesPerColumn;
        i = 2;
    } else {
        size_t k = 0;
        std::uint32_t v = 0;
        if (ReadHex(text, k, v) && k < text.size() && text[k] == '%') {
            divisor = v;
            i = k + 1;
        } else if (text[0] == '%') {
            f.Flags |= offBytesPerUnit;
            divisor = rulerUnit;
            i = 1;
        } else {
            f.Flags |= offBytesPerUnit;
            divisor = rulerUnit;
        }
    }
    if (!IsValidUnit(divisor))
        throw EZURadUvudod(::Format(zaz_text::kInvalidBytesPerUnit, static_cast<int>(divisor)));
    f.BytesPerUnit = static_cast<std::uint8_t>(divisor);

    // Width.
    if (i + 1 < text.size() && text[i] == '-' && text[i + 1] == '!') {
        f.Flags |= offCalcWidth;
        f.MinWidth = 1;
        i += 2;
    } else {
        size_t k = i;
        std::uint32_t v = 0;
        if (ReadHex(text, k, v) && k < text.size() && text[k] == '!') {
            // Widths beyond 255 digits cannot be produced; refuse them here
            // rather than failing on every paint.
            if (v > 0xFF)
                throw EZURadUvudod(::Format(zaz_text::kInvalidWidth, v));
            f.MinWidth = static_cast<std::int32_t>(v);
            i = k + 1;
        } else if (i < text.size() && text[i] == '!') {
            f.MinWidth = 1;
            i += 1;
        } else {
            f.MinWidth = 1;
        }
    }

    // Radix.
    std::uint32_t radix = 0;
    size_t k = i;
    if (!ReadHex(text, k, radix))
        throw EZURadUvudod(::Format(zaz_text::kMissingChar, "number radix"));
    if (k >= text.size() || text[k] != ':')
        throw EZURadUvudod(::Format(zaz_text::kMissingChar, ":"));
    if (radix < 2 || radix > 16)
        throw EZURadUvudod(::Format(zaz_text::kInvalidRadix, radix));
    f.Radix = static_cast<std::uint8_t>(radix);
    i = k + 1;

    // Prefix | suffix.
    const size_t bar = text.find('|', i);
    if (bar == std::string::npos)
        throw EZURadUvudod(::Format(zaz_text::kMissingChar, "|"));
    f.Prefix = text.substr(i, bar - i);
    f.Suffix = text.substr(bar + 1);
    f.Format = text;
    *this = f;
}

std::string TZAZOffsetFormat::OffsetString(std::uint32_t position, bool lowerCase) const
{
    if (Format.empty())
        return {};
    std::string digits;
    if (!(MinWidth == 0 && position == 0)) {
        digits = IntToRadixLen(position / BytesPerUnit, Radix, static_cast<std::uint8_t>(MinWidth));
        if (lowerCase)
            digits = LowerCase(digits);
    }
    return Prefix + digits + Suffix;
}

void TZAZOffsetFormat::CalcWidth(std::uint32_t reference)
{
    MinWidth = static_cast<std::int32_t>(IntToRadix(reference / BytesPerUnit, Radix).size());
}
