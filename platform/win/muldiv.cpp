// Scaling of coordinates and sizes without an intermediate overflow.
#include "win/wintypes.h"

#include <cstdint>
#include <limits>

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    std::int64_t quotient = product / denominator;
    const std::int64_t remainder = product % denominator;
    // Twice the remainder against the divisor, both as magnitudes: a half
    // rounds away from zero, in the direction of the exact result.
    const std::uint64_t twiceRem = 2 * static_cast<std::uint64_t>(remainder < 0 ? -remainder : remainder);
    const std::uint64_t divisor = static_cast<std::uint64_t>(denominator < 0 ? -static_cast<std::int64_t>(denominator)
                                                                             : denominator);
    if (twiceRem >= divisor)
        quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min())
        return -1;
    return static_cast<int>(quotient);
}
