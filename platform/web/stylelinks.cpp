#include "stylelinks.h"

#include <cctype>

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// Whether the text at `at` opens the tag `name` ("<link", "</script"): the
// name followed by a blank, '/' or '>' (or the end of the page).
bool TagAt(std::string_view html, size_t at, std::string_view name)
{
    if (at + name.size() > html.size() || !EqualsNoCase(html.substr(at, name.size()), name))
        return false;
    const size_t after = at + name.size();
    return after == html.size() || IsSpace(html[after]) || html[after] == '/' || html[after] == '>';
}

// Whether the space-separated tokens of a rel value hold `token`.
bool HasToken(std::string_view value, std::string_view token)
{
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && IsSpace(value[i]))
            ++i;
        size_t j = i;
        while (j < value.size() && !IsSpace(value[j]))
            ++j;
        if (j > i && EqualsNoCase(value.substr(i, j - i), token))
            return true;
        i = j;
    }
    return false;
}

struct LinkTag {
    size_t end = std::string_view::npos; // the '>' that closes it; npos when the page ends first
    size_t insertAt = 0;                 // before "/>" or ">"
    bool styleSheet = false;
    bool typedOtherwise = false;         // a type other than text/css
};

// Reads the attributes of the tag whose name ends at `at`.
LinkTag ReadLinkTag(std::string_view html, size_t at)
{
    LinkTag tag;
    bool hasRel = false;
    std::string_view rel;
    size_t i = at;
    while (i < html.size()) {
        while (i < html.size() && (IsSpace(html[i]) || html[i] == '/'))
            ++i;
        if (i >= html.size())
            break;
        if (html[i] == '>') {
            tag.end = i;
            // Before a closing "/" of its own; an unquoted value may end
            // in '/' and keeps it.
            const bool selfClosing = i >= at + 2 && html[i - 1] == '/'
                && (IsSpace(html[i - 2]) || html[i - 2] == '"' || html[i - 2] == '\'');
            tag.insertAt = selfClosing ? i - 1 : i;
            break;
        }
        const size_t nameStart = i;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>' && html[i] != '/')
            ++i;
        const std::string_view name = html.substr(nameStart, i - nameStart);
        size_t k = i;
        while (k < html.size() && IsSpace(html[k]))
            ++k;
        std::string_view value;
        if (k < html.size() && html[k] == '=') {
            ++k;
            while (k < html.size() && IsSpace(html[k]))
                ++k;
            if (k < html.size() && (html[k] == '"' || html[k] == '\'')) {
                const size_t close = html.find(html[k], k + 1);
                const size_t stop = close == std::string_view::npos ? html.size() : close;
                value = html.substr(k + 1, stop - k - 1);
                i = close == std::string_view::npos ? html.size() : close + 1;
            } else {
                size_t j = k;
                while (j < html.size() && !IsSpace(html[j]) && html[j] != '>')
                    ++j;
                value = html.substr(k, j - k);
                i = j;
            }
        }
        if (EqualsNoCase(name, "rel")) {
            hasRel = true;
            rel = value;
        } else if (EqualsNoCase(name, "type")) {
            size_t a = 0, b = value.size();
            while (a < b && IsSpace(value[a]))
                ++a;
            while (b > a && IsSpace(value[b - 1]))
                --b;
            tag.typedOtherwise = b > a && !EqualsNoCase(value.substr(a, b - a), "text/css");
        }
    }
    tag.styleSheet = hasRel && HasToken(rel, "stylesheet") && !HasToken(rel, "alternate");
    return tag;
}

} // namespace

std::string TypeStyleSheetLinks(std::string_view html)
{
    std::string out;
    out.reserve(html.size() + 64);
    size_t copied = 0;
    size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        if (html.compare(i, 4, "<!--") == 0) {
            const size_t end = html.find("-->", i + 4);
            if (end == std::string_view::npos)
                break;
            i = end + 3;
            continue;
        }
        // The text of a script or style element is no markup.
        bool skipped = false;
        for (std::string_view raw : {std::string_view("script"), std::string_view("style")}) {
            if (!TagAt(html, i + 1, raw))
                continue;
            const std::string closing = "</" + std::string(raw);
            size_t j = html.find('>', i);
            while (j != std::string_view::npos) {
                j = html.find("</", j);
                if (j == std::string_view::npos || TagAt(html, j, closing))
                    break;
                j += 2;
            }
            i = j == std::string_view::npos ? html.size() : j + closing.size();
            skipped = true;
            break;
        }
        if (skipped)
            continue;
        if (!TagAt(html, i + 1, "link")) {
            ++i;
            continue;
        }
        const LinkTag tag = ReadLinkTag(html, i + 5);
        if (tag.end == std::string_view::npos)
            break;
        if (tag.styleSheet && !tag.typedOtherwise) {
            // Given last, so it stands for the tag's type whatever came before.
            out.append(html.substr(copied, tag.insertAt - copied));
            out.append(" type=\"text/css\"");
            copied = tag.insertAt;
        }
        i = tag.end + 1;
    }
    out.append(html.substr(copied));
    return out;
}
