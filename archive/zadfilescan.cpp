#include "zadfilescan.h"

#include <tuple>
#include <utility>

namespace {
char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

TInternalMask::TInternalMask(const std::string& mask)
{
    bool skipTo = false;
    for (char c : mask) {
        if (c == '*') {
            skipTo = true;
        } else if (c == '?') {
            // A '?' right after a '*' adds nothing the '*' does not already match.
            if (!skipTo)
                m_items.push_back(Item{false, msAny, 0});
        } else {
            m_items.push_back(Item{skipTo, msLiteral, Up(c)});
            skipTo = false;
        }
    }
    m_items.push_back(Item{skipTo, msLiteral, 0});
    m_endsWithDot = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::matches(const std::string& name) const
{
    std::string text = name;
    if (m_endsWithDot && text.find('.') == std::string::npos)
        text += '.';
    // The name's end reads as the character 0, which only the terminating
    // item matches. A name holding a zero byte ends there.
    const size_t end = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
    auto at = [&](size_t p) { return p < end ? text[p] : '\0'; };

    // Pending restart points. With only '*' and '?' a failure never needs to
    // go back further than the most recent '*': whatever an earlier '*' could
    // absorb, the later one can absorb too. So a new restart point replaces
    // the older ones; the stack holds at most one entry whatever the mask's
    // length, and a match takes time proportional to name times mask.
    std::vector<std::pair<size_t, size_t>> stack;
    size_t pos = 0, item = 0;
    for (;;) {
        bool failed = false;
        for (; item < m_items.size(); ++item) {
            const Item& it = m_items[item];
            if (it.SkipTo) {
                while (at(pos) != '\0' && Up(at(pos)) != it.Literal)
                    ++pos;
                if (at(pos) != '\0') {
                    stack.clear();
                    stack.emplace_back(pos + 1, item);
                }
            }
            const char c = at(pos);
            const bool ok = it.State == msAny ? c != '\0' : Up(c) == it.Literal;
            if (!ok) {
                failed = true;
                break;
            }
            ++pos;
        }
        if (!failed)
            return true;
        if (stack.empty())
            return false;
        std::tie(pos, item) = stack.back();
        stack.pop_back();
    }
}

bool MatchesMask(const std::string& name, const std::string& mask) { return TInternalMask(mask).matches(name); }
