// Wildcard masks: '*' matches any run of characters (also none), '?' exactly
// one; ASCII letters compare without regard to case, every other byte
// exactly; a mask that ends in '.' also matches names without an extension.
#pragma once

#include <string>
#include <vector>

enum TMaskStates { msLiteral, msAny, msSet, msMBCSLiteral };

class TInternalMask {
public:
    explicit TInternalMask(const std::string& mask);
    bool matches(const std::string& name) const;

    struct Item {
        bool SkipTo = false;
        TMaskStates State = msLiteral;
        char Literal = 0;
    };
    const std::vector<Item>& Items() const { return m_items; }
    bool EndsWithDot() const { return m_endsWithDot; }

private:
    std::vector<Item> m_items;
    bool m_endsWithDot = false;
};

bool MatchesMask(const std::string& name, const std::string& mask);
