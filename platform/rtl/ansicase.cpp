// Case mapping of UTF-8 text through the C library's wide-character tables
// of the C.UTF-8 locale, which every glibc carries, so the result does not
// hang on the locale the user runs the program in.
#include "sysutils.h"

#include "unicode.h"

#include <locale.h>
#include <wctype.h>

namespace {

locale_t Utf8Locale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

// The character at i when its bytes are well-formed UTF-8 (re-encoding it
// gives the same bytes back: no overlong form, surrogate or truncated
// sequence); i moves past it either way, or past one byte when it is none.
bool NextCharacter(std::string_view text, std::size_t& i, char32_t& character)
{
    const std::size_t start = i;
    character = NextUtf8(text, i);
    std::string again;
    AppendUtf8(again, character);
    if (again == text.substr(start, i - start))
        return true;
    i = start + 1;
    return false;
}

template <typename Map> std::string MapCase(std::string_view text, Map map)
{
    std::string out;
    out.reserve(text.size());
    const locale_t locale = Utf8Locale();
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        char32_t c;
        if (NextCharacter(text, i, c) && locale)
            AppendUtf8(out, static_cast<char32_t>(map(static_cast<wint_t>(c), locale)));
        else
            out.append(text.substr(start, i - start));
    }
    return out;
}

} // namespace

std::string AnsiUpperCase(std::string_view text) { return MapCase(text, towupper_l); }

std::string AnsiLowerCase(std::string_view text) { return MapCase(text, towlower_l); }

std::size_t StrCharLength(std::string_view text)
{
    std::size_t i = 0;
    char32_t c;
    if (!text.empty())
        NextCharacter(text, i, c);
    return i;
}
