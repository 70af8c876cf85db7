// The bit input of the LZH decoders: most significant bit first, filled from
// the entry's source in blocks. Past the end of the packed bytes it supplies
// zero bits so that a peek near the end is harmless, and remembers how many:
// a decoder asks Overrun() after each code and fails the entry as soon as it
// has consumed a bit the data do not hold.
#pragma once

#include "archive/zadlzh.h"

#include <cstdint>
#include <vector>

class TLzhBitInput {
public:
    static constexpr std::int32_t kBlock = 32768;

    explicit TLzhBitInput(const TLzhSource& source) : m_source(source) { m_buffer.resize(kBlock); }

    // The next n bits (1 to 24) without consuming them.
    std::uint32_t Peek(int n)
    {
        if (m_count < n)
            Refill();
        return static_cast<std::uint32_t>(m_bits >> (64 - n));
    }
    void Drop(int n)
    {
        if (m_count < n)
            Refill();
        m_bits <<= n;
        m_count -= n;
    }
    std::uint32_t Get(int n)
    {
        if (n == 0)
            return 0;
        const std::uint32_t v = Peek(n);
        m_bits <<= n;
        m_count -= n;
        return v;
    }
    // True once a consumed bit lay beyond the packed bytes.
    bool Overrun() const { return m_count < m_padding; }

private:
    // Tops the buffer up to at least 57 bits.
    void Refill()
    {
        while (m_count <= 56) {
            std::uint8_t b = 0;
            if (m_pos < m_len) {
                b = m_buffer[static_cast<size_t>(m_pos++)];
            } else if (!m_ended && Load()) {
                b = m_buffer[static_cast<size_t>(m_pos++)];
            } else {
                m_padding += 8;
            }
            m_bits |= static_cast<std::uint64_t>(b) << (56 - m_count);
            m_count += 8;
        }
    }
    bool Load()
    {
        const std::int32_t got = m_source(m_buffer.data(), kBlock);
        m_pos = 0;
        m_len = got > 0 ? got : 0;
        m_ended = m_len == 0;
        return !m_ended;
    }

    const TLzhSource& m_source;
    std::vector<std::uint8_t> m_buffer;
    std::int32_t m_pos = 0;
    std::int32_t m_len = 0;
    bool m_ended = false;
    std::uint64_t m_bits = 0;  // left-aligned
    int m_count = 0;           // bits held, padding included
    int m_padding = 0;         // zero bits supplied past the end (all at the bottom)
};
