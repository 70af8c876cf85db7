// Writes bits least significant first, the way deflate, shrink, reduce and
// implode pack them; shared by the decoder tests and the test encoders.
#pragma once

#include <cstdint>
#include <string>

struct BitWriter {
    std::string bytes;
    int used = 8;
    void Put(std::uint32_t value, int count)
    {
        for (int i = 0; i < count; ++i) {
            if (used == 8) {
                bytes.push_back('\0');
                used = 0;
            }
            if (value & (1u << i))
                bytes.back() = static_cast<char>(bytes.back() | (1 << used));
            ++used;
        }
    }
    // A Huffman code goes most significant bit first.
    void PutCode(std::uint32_t code, int len)
    {
        for (int i = len - 1; i >= 0; --i)
            Put((code >> i) & 1, 1);
    }
    // Whole bytes, as tree descriptions are sent.
    void PutBytes(const std::string& s)
    {
        for (char c : s)
            Put(static_cast<std::uint8_t>(c), 8);
    }
};
