// The run-length walk of RLE8 and RLE4 DIBs, shared by every reader of
// packed bitmaps (the image classes' BMP codec and the class library's
// bitmap graphic), so that both read a damaged run the same way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

// A count byte and a value byte make a run; a zero byte is followed by a
// code: 0 end of line, 1 end of bitmap, 2 a delta (dx, dy), 3 or more an
// absolute run of that many pixels, padded to an even number of bytes.
// Rows count from the bottom. The walk ends at the end of the bitmap, at
// the end of the data, or once it has left the top of the picture (rows
// only ever move up), whichever comes first; what it did not reach keeps
// the values the bitmap was created with. Source gives the next byte or -1
// at the end; Rows is the depth's store, which drops every pixel outside
// the picture. The answer is false when the data ended before the bitmap
// did (a file cut short).
template <class Source, class Rows>
bool DecodeDibRle(Source& in, Rows& rows)
{
    std::uint64_t x = 0, row = 0;
    for (;;) {
        const int count = in.Get();
        if (count < 0)
            return false;
        if (count > 0) {
            const int value = in.Get();
            if (value < 0)
                return false;
            if (!rows.Run(row, x, count, value))
                return true;
            continue;
        }
        const int code = in.Get();
        if (code < 0)
            return false;
        if (code == 1)
            return true;
        if (code == 0) {
            x = 0;
            ++row;
        } else if (code == 2) {
            const int dx = in.Get(), dy = in.Get();
            if (dx < 0 || dy < 0)
                return false;
            x += static_cast<std::uint64_t>(dx);
            row += static_cast<std::uint64_t>(dy);
        } else {
            const int bytes = Rows::AbsoluteBytes(code);
            for (int i = 0; i < bytes; ++i) {
                const int value = in.Get();
                if (value < 0)
                    return false;
                rows.Absolute(row, x, i, code, value);
            }
            if (bytes & 1)
                in.Get();
        }
        if (row >= rows.height)
            return true;
    }
}

// RLE8: x counts bytes of the current row. first is the bottom row; rows
// follow it upwards, stride bytes apart.
struct DibRle8Rows {
    std::uint8_t* first;
    std::uint32_t stride;
    std::uint32_t height;

    void Store(std::uint64_t row, std::uint64_t x, int value)
    {
        if (row < height && x < stride)
            first[row * stride + x] = static_cast<std::uint8_t>(value);
    }
    // A run that passes the row end ends the bitmap.
    bool Run(std::uint64_t row, std::uint64_t& x, int count, int value)
    {
        const std::uint64_t room = x < stride ? stride - x : 0;
        const std::uint64_t n = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), room);
        if (row < height && n > 0)
            std::memset(first + row * stride + x, value, static_cast<std::size_t>(n));
        x += n;
        return n == static_cast<std::uint64_t>(count);
    }
    static int AbsoluteBytes(int count) { return count; }
    void Absolute(std::uint64_t row, std::uint64_t& x, int, int, int value) { Store(row, x++, value); }
};

// RLE4: x counts pixels (nibbles, the high one first in a byte). A run
// alternates the high and low nibble of its value.
struct DibRle4Rows {
    std::uint8_t* first;
    std::uint32_t stride;
    std::uint32_t height;

    void Store(std::uint64_t row, std::uint64_t x, int nibble)
    {
        if (row >= height || x >= static_cast<std::uint64_t>(stride) * 2)
            return;
        std::uint8_t& b = first[row * stride + x / 2];
        if (x % 2 == 0)
            b = static_cast<std::uint8_t>((b & 0x0F) | (nibble << 4));
        else
            b = static_cast<std::uint8_t>((b & 0xF0) | nibble);
    }
    bool Run(std::uint64_t row, std::uint64_t& x, int count, int value)
    {
        for (int i = 0; i < count; ++i)
            Store(row, x++, i % 2 == 0 ? value >> 4 : value & 0x0F);
        return true;
    }
    static int AbsoluteBytes(int count) { return (count + 1) / 2; }
    void Absolute(std::uint64_t row, std::uint64_t& x, int index, int count, int value)
    {
        Store(row, x++, value >> 4);
        if (2 * index + 1 < count)
            Store(row, x++, value & 0x0F);
    }
};
