#include "unicode.h"


void AppendUtf8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string Utf16LeBytesToUtf8(const std::uint8_t* data, std::size_t size)
{
    std::u16string wide(size / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return Utf16ToUtf8(wide);
}

std::string Cp437ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        AppendUtf8(out, Cp437ToUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

char32_t NextUtf8(std::string_view s, std::size_t& i)
{
    const auto c = static_cast<unsigned char>(s[i++]);
    if (c < 0x80)
        return c;
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0)
        return 0xFFFD;
    char32_t cp = c & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return cp;
}

std::string Utf8ToCp437(std::string_view text)
{
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = NextUtf8(text, i);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 128; ++k)
            if (kCp437High[k] == cp) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        out += mapped;
    }
    return out;
}

std::size_t Utf8SequenceAt(const unsigned char* p, std::size_t n, std::size_t i)
{
    const unsigned char c = p[i];
    if (c < 0x80)
        return 1;
    std::size_t len;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > n)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}
