// Internals of the JPEG 2000 library layer: the format table, the limits
// every decoder applies before it allocates, and small byte helpers.
#pragma once

#include "jpeg2000/jasper.h"

#include <cstdint>
#include <cstdio>

struct JasFormat {
    const char* name;
    // True when the first bytes (n of them, fewer at a short stream) are this format's.
    bool (*matches)(const unsigned char* magic, std::size_t n);
    jas_image_t* (*decode)(jas_stream_t* stream);
    int (*encode)(jas_image_t* image, jas_stream_t* stream, const char* optstr);
};

// Decoders and encoders of the five formats.
bool JasJp2Matches(const unsigned char* magic, std::size_t n);
bool JasJpcMatches(const unsigned char* magic, std::size_t n);
jas_image_t* JasJp2Decode(jas_stream_t* stream);
jas_image_t* JasJpcDecode(jas_stream_t* stream);
int JasJp2Encode(jas_image_t* image, jas_stream_t* stream, const char* optstr);
int JasJpcEncode(jas_image_t* image, jas_stream_t* stream, const char* optstr);

bool JasPgxMatches(const unsigned char* magic, std::size_t n);
jas_image_t* JasPgxDecode(jas_stream_t* stream);
int JasPgxEncode(jas_image_t* image, jas_stream_t* stream, const char* optstr);

bool JasPnmMatches(const unsigned char* magic, std::size_t n);
jas_image_t* JasPnmDecode(jas_stream_t* stream);
int JasPnmEncode(jas_image_t* image, jas_stream_t* stream, const char* optstr);

bool JasRasMatches(const unsigned char* magic, std::size_t n);
jas_image_t* JasRasDecode(jas_stream_t* stream);
int JasRasEncode(jas_image_t* image, jas_stream_t* stream, const char* optstr);

// Limits. An image holds at most kJasMaxSamples samples over all its
// components and at most kJasMaxComponents components.
constexpr std::uint64_t kJasMaxSamples = std::uint64_t{1} << 27;
constexpr int kJasMaxComponents = 64;
constexpr long kJasMaxSide = 1L << 20;

// Checks a picture's size before anything is allocated for it: the limits
// above, and the bytes left in the stream (when its length is known) must
// hold the least data such a picture takes: samples x numerator /
// denominator bytes.
bool JasSizeAllowed(jas_stream_t* stream, std::uint64_t width, std::uint64_t height, std::uint64_t components,
                    std::uint64_t numerator, std::uint64_t denominator);

// True when every component has component 0's size (and precision, when
// asked): what the single-plane writers need.
bool JasUniform(const jas_image_t* image, bool samePrecision);

// An image of `count` components of one size, precision and sign, or null.
jas_image_t* JasCreateUniform(int count, long width, long height, int prec, bool sgnd, int clrspc);

// Exactly n bytes, or false.
inline bool JasReadExact(jas_stream_t* s, void* buf, int n) { return jas_stream_read(s, buf, n) == n; }

inline std::uint32_t JasBe32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::uint16_t JasBe16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline void JasPutBe32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

// The largest sample value of a precision (1 to 31 bits).
inline std::int64_t JasMaxValue(int prec) { return (std::int64_t{1} << prec) - 1; }

// Reads the decimal fields of a text header (PNM, PGX) one byte at a time.
class JasTextHeader {
public:
    JasTextHeader(jas_stream_t* stream, bool comments) : m_stream(stream), m_comments(comments) {}

    // Skips white space (and '#' comments to the end of the line when the
    // format has them); the next byte, which is not consumed, or -1.
    int SkipSpace()
    {
        for (;;) {
            const int c = Peek();
            if (c == '#' && m_comments) {
                while (Peek() != '\n' && Peek() != '\r' && Peek() >= 0)
                    Next();
            } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                Next();
            } else {
                return c;
            }
        }
    }
    // A decimal number of at most maxValue after white space; false when
    // there is none or it is larger.
    bool UInt(std::uint32_t maxValue, std::uint32_t& out)
    {
        int c = SkipSpace();
        if (c < '0' || c > '9')
            return false;
        std::uint64_t v = 0;
        while (c >= '0' && c <= '9') {
            v = v * 10 + static_cast<std::uint64_t>(c - '0');
            if (v > maxValue)
                return false;
            Next();
            c = Peek();
        }
        out = static_cast<std::uint32_t>(v);
        return true;
    }
    int Peek()
    {
        if (m_peek == kNone)
            m_peek = jas_stream_getc(m_stream);
        return m_peek;
    }
    int Next()
    {
        const int c = Peek();
        m_peek = kNone;
        return c;
    }

private:
    static constexpr int kNone = -2;
    jas_stream_t* m_stream;
    bool m_comments;
    int m_peek = kNone;
};
