#include "weburl.h"

#include "rtl/sysutils.h"

#include <vector>

namespace {

bool IsSchemeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-'
        || c == '.';
}

// The position of the colon that ends a scheme, npos without one. A single
// letter is a drive ("C:/page.htm" saved on Windows), not a scheme.
size_t SchemeEnd(std::string_view s)
{
    if (s.empty() || !((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z')))
        return std::string_view::npos;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == ':')
            return i >= 2 ? i : std::string_view::npos;
        if (!IsSchemeChar(s[i]))
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

} // namespace

bool HexByteAt(std::string_view text, size_t at, char& byte)
{
    if (at + 1 >= text.size())
        return false;
    const int hi = HexDigitValue(text[at]);
    const int lo = HexDigitValue(text[at + 1]);
    if (hi < 0 || lo < 0)
        return false;
    byte = static_cast<char>(hi * 16 + lo);
    return true;
}

std::string UrlScheme(std::string_view address)
{
    const size_t colon = SchemeEnd(address);
    return colon == std::string_view::npos ? std::string() : LowerCase(address.substr(0, colon));
}

std::string_view WithoutFragment(std::string_view s)
{
    const size_t hash = s.find('#');
    return hash == std::string_view::npos ? s : s.substr(0, hash);
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char byte;
        if (text[i] == '%' && HexByteAt(text, i + 1, byte)) {
            out += byte;
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string RemoveDotSegments(std::string_view path)
{
    std::vector<std::string_view> out;
    const bool absolute = !path.empty() && path.front() == '/';
    size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        const size_t slash = path.find('/', i);
        const std::string_view seg = path.substr(i, slash == std::string_view::npos ? std::string_view::npos : slash - i);
        trailing = seg == ".." || seg == ".";
        if (seg == "..") {
            if (!out.empty())
                out.pop_back();
        } else if (seg != ".") {
            out.push_back(seg);
        }
        if (slash == std::string_view::npos)
            break;
        i = slash + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t k = 0; k < out.size(); ++k) {
        if (k)
            result += '/';
        result += out[k];
    }
    if (trailing && !out.empty())
        result += '/';
    return result;
}

std::string ResolveUrl(std::string_view base, std::string_view reference)
{
    if (SchemeEnd(reference) != std::string_view::npos)
        return std::string(reference);
    const size_t colon = SchemeEnd(base);
    if (colon == std::string_view::npos)
        return std::string(reference);
    const std::string_view scheme = base.substr(0, colon);
    std::string_view rest = WithoutFragment(base.substr(colon + 1));
    std::string_view authority;
    bool hasAuthority = false;
    if (rest.substr(0, 2) == "//") {
        hasAuthority = true;
        const size_t slash = rest.find('/', 2);
        authority = rest.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    }
    const std::string_view basePath = rest.substr(0, rest.find('?'));
    std::string prefix = std::string(scheme) + ":";
    if (hasAuthority)
        prefix += "//" + std::string(authority);

    if (reference.substr(0, 2) == "//")
        return std::string(scheme) + ":" + std::string(reference);
    if (reference.empty())
        return prefix + std::string(rest);
    if (reference.front() == '#' || reference.front() == '?')
        return prefix + std::string(basePath) + std::string(reference);
    // Query and fragment of the reference stay as they are; only its path
    // is merged with the base's.
    const size_t tail = reference.find_first_of("?#");
    const std::string_view refPath = reference.substr(0, tail);
    const std::string_view refTail = tail == std::string_view::npos ? std::string_view() : reference.substr(tail);
    std::string merged;
    if (refPath.front() == '/') {
        merged = std::string(refPath);
    } else {
        const size_t lastSlash = basePath.rfind('/');
        if (lastSlash == std::string_view::npos)
            merged = (hasAuthority ? "/" : "") + std::string(refPath);
        else
            merged = std::string(basePath.substr(0, lastSlash + 1)) + std::string(refPath);
    }
    return prefix + RemoveDotSegments(merged) + std::string(refTail);
}

std::string LocalFileOfReference(const std::string& folder, std::string_view reference)
{
    // In a page a '#' starts the fragment and a '?' the query; a file name
    // holding them is written escaped (%23, %3F).
    reference = WithoutFragment(reference);
    reference = reference.substr(0, reference.find('?'));
    if (reference.empty())
        return {};
    const std::string scheme = UrlScheme(reference);
    if (!scheme.empty()) {
        if (scheme != "file")
            return {};
        std::string_view rest = reference.substr(5);
        if (rest.substr(0, 2) == "//") {
            const size_t slash = rest.find('/', 2);
            const std::string host = LowerCase(rest.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2));
            if (!host.empty() && host != "localhost")
                return {};
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        }
        const std::string path = PercentDecode(rest);
        return !path.empty() && path.front() == '/' ? RemoveDotSegments(path) : std::string();
    }
    if (reference.substr(0, 2) == "//")
        return {};
    const std::string path = PercentDecode(reference);
    if (path.front() == '/')
        return RemoveDotSegments(path);
    return RemoveDotSegments(folder + path);
}
