// GIF data built in the tests, byte by byte: LZW code streams packed into
// sub-blocks, and whole files of a header, extensions, frames and trailer.
// Hostile files are made here too, each named after the fault it shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace gifbytes {

struct Code {
    int value;
    int width;
};

// Codes packed least significant bit first, cut into sub-blocks of
// blockSize bytes, then the terminator.
inline std::vector<std::uint8_t> Pack(int codeSize, const std::vector<Code>& codes, size_t blockSize = 255)
{
    std::vector<std::uint8_t> bytes;
    std::uint32_t acc = 0;
    int count = 0;
    for (const Code& c : codes) {
        acc |= static_cast<std::uint32_t>(c.value) << count;
        count += c.width;
        while (count >= 8) {
            bytes.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    if (count > 0)
        bytes.push_back(static_cast<std::uint8_t>(acc));
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(codeSize)};
    for (size_t i = 0; i < bytes.size(); i += blockSize) {
        const size_t n = std::min(blockSize, bytes.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
    return out;
}

// Every pixel as its own code, widths following the decoder's table:
// clear, the pixels, end.
inline std::vector<Code> Literals(int codeSize, const std::vector<std::uint8_t>& pixels)
{
    const int clear = 1 << codeSize;
    int width = codeSize + 1, nextFree = clear + 2, limit = 2 * clear;
    std::vector<Code> codes{{clear, width}};
    for (size_t i = 0; i < pixels.size(); ++i) {
        codes.push_back({pixels[i], width});
        if (i > 0 && nextFree < 4096 && ++nextFree >= limit && limit < 4096) {
            limit *= 2;
            ++width;
        }
    }
    codes.push_back({clear + 1, width});
    return codes;
}

struct Rgb {
    std::uint8_t r, g, b;
};

// The table size field for count entries (2 << field >= count).
inline int SizeField(size_t count)
{
    int field = 0;
    while ((2u << field) < count)
        ++field;
    return field;
}

// A GIF file assembled block by block.
class Builder {
public:
    Builder& Header(int width, int height, const std::vector<Rgb>& global = {}, int background = 0,
                    const std::string& signature = "GIF89a")
    {
        Append(signature);
        Word(width);
        Word(height);
        const int field = SizeField(global.size());
        Byte(global.empty() ? 0 : 0x80 | 0x70 | field);
        Byte(background);
        Byte(0);
        Table(global, field);
        return *this;
    }
    Builder& Gce(int disposal, int delay, int transparent = -1)
    {
        Bytes({0x21, 0xF9, 4, static_cast<std::uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0))});
        Word(delay);
        Bytes({static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0), 0});
        return *this;
    }
    Builder& Comment(const std::vector<std::string>& blocks)
    {
        Bytes({0x21, 0xFE});
        for (const std::string& b : blocks) {
            Byte(static_cast<int>(b.size()));
            Append(b);
        }
        Byte(0);
        return *this;
    }
    // An application extension: the block (size byte and its bytes), then
    // the data sub-blocks given whole (length bytes included) and a 0.
    Builder& App(const std::string& block, const std::vector<std::uint8_t>& subBlocks, bool terminate = true)
    {
        Bytes({0x21, 0xFF, static_cast<std::uint8_t>(block.size())});
        Append(block);
        Bytes(subBlocks);
        if (terminate)
            Byte(0);
        return *this;
    }
    // A frame of width x height pixels given row by row (rows reordered
    // into pass order when interlaced).
    Builder& Frame(int left, int top, int width, int height, const std::vector<std::uint8_t>& pixels,
                   const std::vector<Rgb>& local = {}, bool interlaced = false, size_t blockSize = 255, int codeSize = 8)
    {
        Byte(',');
        Word(left);
        Word(top);
        Word(width);
        Word(height);
        const int field = SizeField(local.size());
        Byte((local.empty() ? 0 : 0x80 | field) | (interlaced ? 0x40 : 0));
        Table(local, field);
        std::vector<std::uint8_t> order = pixels;
        if (interlaced) {
            order.clear();
            const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
            for (const auto& p : passes)
                for (int y = p[0]; y < height; y += p[1])
                    order.insert(order.end(), pixels.begin() + y * width, pixels.begin() + (y + 1) * width);
        }
        Bytes(Pack(codeSize, Literals(codeSize, order), blockSize));
        return *this;
    }
    // A descriptor and data of the given bytes, whatever the sizes claim.
    Builder& FrameHead(int left, int top, int width, int height, std::uint8_t packed = 0)
    {
        Byte(',');
        Word(left);
        Word(top);
        Word(width);
        Word(height);
        Byte(packed);
        return *this;
    }
    Builder& Trailer() { return Byte(';'); }
    Builder& Byte(int b)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(b));
        return *this;
    }
    Builder& Bytes(const std::vector<std::uint8_t>& b)
    {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    Builder& Append(const std::string& s)
    {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    Builder& Word(int w) { return Byte(w & 0xFF).Byte((w >> 8) & 0xFF); }
    std::string Str() const { return std::string(m_bytes.begin(), m_bytes.end()); }
    const std::vector<std::uint8_t>& Data() const { return m_bytes; }

private:
    void Table(const std::vector<Rgb>& colors, int field)
    {
        if (colors.empty())
            return;
        for (size_t i = 0; i < (2u << field); ++i) {
            const Rgb c = i < colors.size() ? colors[i] : Rgb {0, 0, 0};
            Bytes({c.r, c.g, c.b});
        }
    }
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace gifbytes
