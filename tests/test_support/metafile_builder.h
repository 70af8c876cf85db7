// Builders of enhanced and placeable Windows metafiles for tests, record by
// record, so that a test states the one record it is about.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace mftest {

inline void Put16(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
inline void Put32(std::vector<std::uint8_t>& v, std::uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
inline void Set32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(x >> (8 * i));
}
inline std::uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }

// An EMF of width x height pixels recorded on a device of 10 pixels a
// millimetre, so that the frame maps onto the pixels exactly.
class Emf {
public:
    Emf(int width, int height) : m_width(width), m_height(height) {}

    // A record of 32-bit fields.
    Emf& Rec(std::uint32_t type, std::initializer_list<std::uint32_t> fields)
    {
        std::vector<std::uint8_t> body;
        for (std::uint32_t f : fields)
            Put32(body, f);
        return Raw(type, body);
    }
    // A record whose fields are given as bytes (padded to 4).
    Emf& Raw(std::uint32_t type, std::vector<std::uint8_t> body)
    {
        while (body.size() % 4)
            body.push_back(0);
        Put32(m_records, type);
        Put32(m_records, static_cast<std::uint32_t>(8 + body.size()));
        m_records.insert(m_records.end(), body.begin(), body.end());
        ++m_count;
        return *this;
    }
    // Bytes as they stand, for records that break the framing.
    Emf& Bytes(const std::vector<std::uint8_t>& b)
    {
        m_records.insert(m_records.end(), b.begin(), b.end());
        return *this;
    }

    Emf& Brush(std::uint32_t slot, std::uint32_t color, std::uint32_t style = 0)
    {
        return Rec(39, {slot, style, color, 0});
    }
    Emf& Pen(std::uint32_t slot, std::uint32_t color, std::int32_t width = 0, std::uint32_t style = 0)
    {
        return Rec(38, {slot, style, static_cast<std::uint32_t>(width), 0, color});
    }
    Emf& Select(std::uint32_t slot) { return Rec(37, {slot}); }
    Emf& Rectangle(int l, int t, int r, int b) { return Box(43, l, t, r, b); }
    Emf& Ellipse(int l, int t, int r, int b) { return Box(42, l, t, r, b); }
    Emf& Box(std::uint32_t type, int l, int t, int r, int b)
    {
        return Rec(type, {static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(r),
                          static_cast<std::uint32_t>(b)});
    }
    // A null pen and a solid brush, so that fills cover their box exactly.
    Emf& Fill(std::uint32_t color)
    {
        Brush(90, color).Select(90);
        return Select(0x80000008u);  // NULL_PEN
    }

    // Header (108 bytes), the records, EMR_EOF with the palette entries.
    std::vector<std::uint8_t> Build(const std::vector<std::uint32_t>& palette = {}) const
    {
        std::vector<std::uint8_t> v;
        Put32(v, 1);
        Put32(v, 108);
        for (std::int32_t x : {0, 0, m_width, m_height})  // rclBounds
            Put32(v, static_cast<std::uint32_t>(x));
        for (std::int32_t x : {0, 0, m_width * 10, m_height * 10})  // rclFrame, 0.01 mm
            Put32(v, static_cast<std::uint32_t>(x));
        Put32(v, 0x464D4520);
        Put32(v, 0x10000);
        Put32(v, 0);  // nBytes, set below
        Put32(v, m_count + 2);
        Put16(v, 100);
        Put16(v, 0);
        Put32(v, 0);
        Put32(v, 0);
        Put32(v, static_cast<std::uint32_t>(palette.size()));
        for (std::int32_t x : {1000, 1000, 100, 100})  // szlDevice, szlMillimeters
            Put32(v, static_cast<std::uint32_t>(x));
        for (int i = 0; i < 5; ++i)
            Put32(v, 0);
        v.insert(v.end(), m_records.begin(), m_records.end());
        Put32(v, 14);
        Put32(v, static_cast<std::uint32_t>(20 + 4 * palette.size()));
        Put32(v, static_cast<std::uint32_t>(palette.size()));
        Put32(v, 16);
        for (std::uint32_t p : palette)
            Put32(v, p);
        Put32(v, static_cast<std::uint32_t>(20 + 4 * palette.size()));
        Set32(v, 48, static_cast<std::uint32_t>(v.size()));
        return v;
    }

private:
    int m_width, m_height;
    std::uint32_t m_count = 0;
    std::vector<std::uint8_t> m_records;
};

// A placeable WMF: box in metafile units and units per inch.
class Wmf {
public:
    Wmf(int left, int top, int right, int bottom, int inch) : m_box{left, top, right, bottom}, m_inch(inch) {}

    // A record: function and 16-bit parameters as stored.
    Wmf& Rec(std::uint16_t fn, std::initializer_list<int> params)
    {
        Put32(m_records, static_cast<std::uint32_t>(3 + params.size()));
        Put16(m_records, fn);
        for (int p : params)
            Put16(m_records, static_cast<std::uint32_t>(p) & 0xFFFF);
        return *this;
    }
    Wmf& Bytes(const std::vector<std::uint8_t>& b)
    {
        m_records.insert(m_records.end(), b.begin(), b.end());
        return *this;
    }
    Wmf& Window(int x, int y, int w, int h) { return Rec(0x020B, {y, x}).Rec(0x020C, {h, w}); }
    Wmf& Brush(std::uint32_t color) { return Rec(0x02FC, {0, static_cast<int>(color & 0xFFFF), static_cast<int>(color >> 16), 0}); }
    Wmf& NullPen() { return Rec(0x02FA, {5, 0, 0, 0, 0}); }
    Wmf& Select(int slot) { return Rec(0x012D, {slot}); }
    Wmf& Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }

    // Placeable header with its checksum (off by `checksumError`), the
    // metafile header (its size in words off by `sizeError`), the records, EOF.
    std::vector<std::uint8_t> Build(int checksumError = 0, std::int64_t sizeError = 0) const
    {
        std::vector<std::uint8_t> v;
        const std::uint32_t words[10] = {0xCDD7, 0x9AC6, 0,
                                         static_cast<std::uint32_t>(m_box[0]) & 0xFFFF,
                                         static_cast<std::uint32_t>(m_box[1]) & 0xFFFF,
                                         static_cast<std::uint32_t>(m_box[2]) & 0xFFFF,
                                         static_cast<std::uint32_t>(m_box[3]) & 0xFFFF,
                                         static_cast<std::uint32_t>(m_inch), 0, 0};
        std::uint32_t sum = 0;
        for (std::uint32_t w : words) {
            Put16(v, w);
            sum ^= w;
        }
        Put16(v, (sum + static_cast<std::uint32_t>(checksumError)) & 0xFFFF);
        const std::size_t words16 = 9 + m_records.size() / 2 + 3;
        Put16(v, 1);
        Put16(v, 9);
        Put16(v, 0x300);
        Put32(v, static_cast<std::uint32_t>(static_cast<std::int64_t>(words16) + sizeError));
        Put16(v, 16);
        Put32(v, 16);
        Put16(v, 0);
        v.insert(v.end(), m_records.begin(), m_records.end());
        Put32(v, 3);
        Put16(v, 0);
        return v;
    }

private:
    int m_box[4];
    int m_inch;
    std::vector<std::uint8_t> m_records;
};

}  // namespace mftest
