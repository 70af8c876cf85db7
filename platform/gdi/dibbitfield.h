// One colour channel of a packed pixel (16-bit and 32-bit BMP, 15- and
// 16-bit Targa), given by its mask.
//
// The channel's value is widened to 0..255 by repeating its bits below
// themselves, the scaling every common reader uses: a 5-bit 31 gives 255,
// 16 gives 132, a 6-bit 63 gives 255, a 1-bit 1 gives 255. Channels wider
// than 8 bits keep their top 8. A zero mask is a channel that is absent and
// reads as 0.
#pragma once

#include <cstdint>

class DibBitfield {
public:
    DibBitfield() = default;
    explicit DibBitfield(std::uint32_t mask)
    {
        if (mask == 0)
            return;
        m_field = mask;
        while (!(mask & 1u)) {
            mask >>= 1;
            ++m_shift;
        }
        // The field runs from its lowest to its highest set bit.
        while (mask) {
            mask >>= 1;
            ++m_bits;
        }
        if (m_bits <= 8) {
            for (std::uint32_t v = 0; v < (1u << m_bits); ++v) {
                std::uint32_t r = 0;
                int filled = 0;
                while (filled < 8) {
                    r = (r << m_bits) | v;
                    filled += m_bits;
                }
                m_table[v] = static_cast<std::uint8_t>(r >> (filled - 8));
            }
        }
    }

    bool Present() const { return m_bits != 0; }

    std::uint8_t operator()(std::uint32_t word) const
    {
        if (m_bits == 0)
            return 0;
        const std::uint32_t v = (word & m_field) >> m_shift;
        return m_bits <= 8 ? m_table[v] : static_cast<std::uint8_t>(v >> (m_bits - 8));
    }

private:
    std::uint32_t m_field = 0;
    int m_shift = 0;
    int m_bits = 0;
    std::uint8_t m_table[256] = {};
};
