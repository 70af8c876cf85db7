#include "charset.h"

#include "rtl/sysutils.h"
#include "rtl/unicode.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>

namespace {

bool IsUtf8Name(const std::string& name) { return name == "utf-8" || name == "utf8"; }

// Every byte forms valid UTF-8 (no overlong forms, no surrogates).
bool ValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const size_t start = i;
        // A replacement character written as such is valid; one that stands
        // for a malformed sequence is not.
        if (NextUtf8(s, i) == 0xFFFD && s.compare(start, i - start, "\xEF\xBF\xBD") != 0)
            return false;
    }
    return true;
}

// Windows-1252, byte for byte; bytes the page leaves undefined become U+FFFD.
std::string Cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) {
        const char16_t u = Cp1252ToUnicode(b);
        AppendUtf8(out, u == 0 ? U'\uFFFD' : char32_t(u));
    }
    return out;
}

// UTF-8 with malformed sequences replaced.
std::string CleanUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size())
        AppendUtf8(out, NextUtf8(bytes, i));
    return out;
}

// Converters by charset name, opened once per thread: opening one loads
// and searches the converter modules, which costs more than converting a
// page. Each is reset before use.
class ConverterCache {
public:
    ~ConverterCache()
    {
        for (auto& [name, cd] : m_open)
            if (cd != Invalid())
                ::iconv_close(cd);
    }
    // nullptr-like Invalid() when iconv knows no such set.
    iconv_t Get(const std::string& name)
    {
        const auto it = m_open.find(name);
        if (it != m_open.end())
            return it->second;
        // A hostile file could name any number of sets: the cache stays small.
        if (m_open.size() >= 32) {
            for (auto& [n, cd] : m_open)
                if (cd != Invalid())
                    ::iconv_close(cd);
            m_open.clear();
        }
        const iconv_t cd = ::iconv_open("UTF-8", name.c_str());
        m_open.emplace(name, cd);
        return cd;
    }
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    std::map<std::string, iconv_t> m_open;
};

} // namespace

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset)
{
    const std::string name = LowerCase(charset);
    if (name.empty() || IsUtf8Name(name))
        return CleanUtf8(bytes);
    // Browsers read Latin-1 and ASCII labels as Windows-1252.
    if (name == "windows-1252" || name == "iso-8859-1" || name == "latin1" || name == "us-ascii" || name == "ascii")
        return Cp1252ToUtf8(bytes);
    thread_local ConverterCache converters;
    iconv_t cd = converters.Get(name);
    if (cd == ConverterCache::Invalid())
        return Cp1252ToUtf8(bytes);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (r != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // A sequence the set does not allow, or one cut off at the end: one
        // replacement character, then on with the next byte.
        AppendUtf8(out, U'\uFFFD');
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    return out;
}

std::string HtmlCharset(std::string_view html)
{
    if (html.size() >= 3 && std::memcmp(html.data(), "\xEF\xBB\xBF", 3) == 0)
        return "utf-8";
    if (html.size() >= 2 && std::memcmp(html.data(), "\xFF\xFE", 2) == 0)
        return "utf-16le";
    if (html.size() >= 2 && std::memcmp(html.data(), "\xFE\xFF", 2) == 0)
        return "utf-16be";
    // <meta charset="x"> and <meta http-equiv=... content="text/html; charset=x">
    // both name it after "charset=" inside a meta tag.
    const std::string head = LowerCase(html.substr(0, 4096));
    size_t at = 0;
    while ((at = head.find("<meta", at)) != std::string::npos) {
        const size_t end = head.find('>', at);
        const std::string_view tag = std::string_view(head).substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t cs = tag.find("charset");
        at += 5;
        if (cs == std::string_view::npos)
            continue;
        size_t i = cs + 7;
        while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t'))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '"' || tag[i] == '\''))
            ++i;
        size_t j = i;
        while (j < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[j])) || tag[j] == '-' || tag[j] == '_'
                                     || tag[j] == '.' || tag[j] == ':'))
            ++j;
        if (j > i)
            return std::string(tag.substr(i, j - i));
    }
    return ValidUtf8(html) ? "utf-8" : "windows-1252";
}
