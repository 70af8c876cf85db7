#include "pdffilters.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// One filter of a chain. Feed takes a piece of its input and hands what it
// decodes to next; Finish says that the input has ended. Both answer false
// once the chain is to stop (the sink said so).
class TStage {
public:
    virtual ~TStage() = default;
    virtual bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) = 0;
    virtual bool Finish(const TPdfSink& next) = 0;
    bool Damaged() const { return m_damaged; }

protected:
    bool m_damaged = false;
};

// Gathers output bytes and hands them on a full piece at a time.
class TOutput {
public:
    TOutput() { m_buffer.reserve(kPdfDecodePiece); }
    bool Put(std::uint8_t c, const TPdfSink& next)
    {
        m_buffer.push_back(c);
        return m_buffer.size() < kPdfDecodePiece || Flush(next);
    }
    bool Put(const std::uint8_t* data, std::size_t size, const TPdfSink& next)
    {
        while (size > 0) {
            const std::size_t n = std::min(size, kPdfDecodePiece - m_buffer.size());
            m_buffer.insert(m_buffer.end(), data, data + n);
            data += n;
            size -= n;
            if (m_buffer.size() == kPdfDecodePiece && !Flush(next))
                return false;
        }
        return true;
    }
    bool Flush(const TPdfSink& next)
    {
        if (m_buffer.empty())
            return true;
        const bool go = next(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return go;
    }

private:
    std::vector<std::uint8_t> m_buffer;
};

class TFlateStage : public TStage {
public:
    TFlateStage() { m_ok = inflateInit(&m_zs) == Z_OK; }
    ~TFlateStage() override
    {
        if (m_ok)
            inflateEnd(&m_zs);
    }
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        if (!m_ok || m_ended) {
            m_damaged = m_damaged || !m_ok;
            return true;
        }
        std::array<std::uint8_t, kPdfDecodePiece> piece;
        while (size > 0) {
            const std::size_t n = std::min<std::size_t>(size, UINT_MAX / 2);
            m_zs.next_in = const_cast<Bytef*>(data);
            m_zs.avail_in = static_cast<uInt>(n);
            data += n;
            size -= n;
            for (;;) {
                m_zs.next_out = piece.data();
                m_zs.avail_out = static_cast<uInt>(piece.size());
                const int ret = inflate(&m_zs, Z_NO_FLUSH);
                const std::size_t produced = piece.size() - m_zs.avail_out;
                if (produced > 0 && !next(piece.data(), produced))
                    return false;
                if (ret == Z_STREAM_END) {
                    // Bytes after the end of the zlib stream are padding.
                    m_ended = true;
                    return true;
                }
                if (ret != Z_OK && ret != Z_BUF_ERROR) {
                    // Damaged data, or a preset dictionary that no PDF has.
                    m_damaged = true;
                    m_ended = true;
                    return true;
                }
                if (m_zs.avail_in == 0 && m_zs.avail_out != 0)
                    break;
                if (ret == Z_BUF_ERROR && m_zs.avail_out != 0)
                    break;
            }
        }
        return true;
    }
    bool Finish(const TPdfSink&) override
    {
        // A stream that breaks off gave what it held; many writers leave out
        // the end of the last block, which costs nothing of the text.
        if (!m_ended)
            m_damaged = true;
        return true;
    }

private:
    z_stream m_zs {};
    bool m_ok = false;
    bool m_ended = false;
};

// The PNG predictors of /DecodeParms: rows of a tag byte and the row's
// bytes, each predicted from the pixel before and the row above.
class TPngPredictorStage : public TStage {
public:
    TPngPredictorStage(int colors, int bitsPerComponent, int columns)
    {
        const std::uint64_t bits = std::uint64_t(colors) * bitsPerComponent * columns;
        m_rowSize = static_cast<std::size_t>((bits + 7) / 8);
        m_pixelSize = static_cast<std::size_t>(std::max<std::uint64_t>(1, (std::uint64_t(colors) * bitsPerComponent + 7) / 8));
        m_previous.assign(m_rowSize, 0);
        m_row.reserve(m_rowSize + 1);
    }
    bool Valid() const { return m_rowSize > 0 && m_rowSize <= (1u << 24); }
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        for (std::size_t i = 0; i < size; ++i) {
            m_row.push_back(data[i]);
            if (m_row.size() == m_rowSize + 1 && !EmitRow(next))
                return false;
        }
        return true;
    }
    bool Finish(const TPdfSink& next) override
    {
        if (m_row.size() > 1) {
            m_row.resize(m_rowSize + 1, 0);
            if (!EmitRow(next))
                return false;
        }
        return m_out.Flush(next);
    }

private:
    bool EmitRow(const TPdfSink& next)
    {
        const std::uint8_t tag = m_row[0];
        std::uint8_t* row = m_row.data() + 1;
        for (std::size_t i = 0; i < m_rowSize; ++i) {
            const int left = i >= m_pixelSize ? row[i - m_pixelSize] : 0;
            const int up = m_previous[i];
            const int upLeft = i >= m_pixelSize ? m_previous[i - m_pixelSize] : 0;
            int add = 0;
            switch (tag) {
            case 1: add = left; break;
            case 2: add = up; break;
            case 3: add = (left + up) / 2; break;
            case 4: {
                const int p = left + up - upLeft;
                const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
                add = pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
                break;
            }
            default: break;
            }
            row[i] = static_cast<std::uint8_t>(row[i] + add);
        }
        std::memcpy(m_previous.data(), row, m_rowSize);
        m_row.clear();
        return m_out.Put(m_previous.data(), m_rowSize, next);
    }

    std::size_t m_rowSize = 0;
    std::size_t m_pixelSize = 1;
    std::vector<std::uint8_t> m_previous;
    std::vector<std::uint8_t> m_row;
    TOutput m_out;
};

class TAsciiHexStage : public TStage {
public:
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        for (std::size_t i = 0; i < size && !m_ended; ++i) {
            const std::uint8_t c = data[i];
            int v = -1;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            else if (c == '>')
                m_ended = true;
            if (v < 0)
                continue;
            if (m_high < 0) {
                m_high = v;
            } else {
                if (!m_out.Put(static_cast<std::uint8_t>(m_high << 4 | v), next))
                    return false;
                m_high = -1;
            }
        }
        return true;
    }
    bool Finish(const TPdfSink& next) override
    {
        if (m_high >= 0 && !m_out.Put(static_cast<std::uint8_t>(m_high << 4), next))
            return false;
        m_high = -1;
        return m_out.Flush(next);
    }

private:
    int m_high = -1;
    bool m_ended = false;
    TOutput m_out;
};

class TAscii85Stage : public TStage {
public:
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        for (std::size_t i = 0; i < size && !m_ended; ++i) {
            const std::uint8_t c = data[i];
            if (c == '~') {
                m_ended = true;
            } else if (c == 'z' && m_count == 0) {
                const std::uint8_t zeros[4] = {};
                if (!m_out.Put(zeros, 4, next))
                    return false;
            } else if (c >= '!' && c <= 'u') {
                m_group[m_count++] = c - '!';
                if (m_count == 5 && !EmitGroup(5, next))
                    return false;
            } else if (!PdfIsWhitespace(c)) {
                m_damaged = true;
            }
        }
        return true;
    }
    bool Finish(const TPdfSink& next) override
    {
        // A last group of n characters gives n - 1 bytes.
        if (m_count > 1) {
            const int n = m_count;
            for (int k = n; k < 5; ++k)
                m_group[k] = 84;
            if (!EmitGroup(n, next))
                return false;
        }
        m_count = 0;
        return m_out.Flush(next);
    }

private:
    bool EmitGroup(int characters, const TPdfSink& next)
    {
        std::uint64_t value = 0;
        for (int k = 0; k < 5; ++k)
            value = value * 85 + m_group[k];
        m_count = 0;
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
        return m_out.Put(bytes, static_cast<std::size_t>(characters - 1), next);
    }

    int m_group[5] = {};
    int m_count = 0;
    bool m_ended = false;
    TOutput m_out;
};

// LZW as PDF writes it: codes of 9 to 12 bits, most significant bit first,
// 256 clears the table and 257 ends the data; with early change (the
// default) the code grows one code sooner.
class TLzwStage : public TStage {
public:
    explicit TLzwStage(bool earlyChange) : m_early(earlyChange ? 1 : 0) { Reset(); }
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        for (std::size_t i = 0; i < size && !m_ended; ++i) {
            m_bits = m_bits << 8 | data[i];
            m_bitCount += 8;
            while (m_bitCount >= m_codeSize && !m_ended) {
                const int code = static_cast<int>((m_bits >> (m_bitCount - m_codeSize)) & ((1u << m_codeSize) - 1));
                m_bitCount -= m_codeSize;
                if (!Code(code, next))
                    return false;
            }
        }
        return true;
    }
    bool Finish(const TPdfSink& next) override { return m_out.Flush(next); }

private:
    std::size_t Length(int code) const { return code < 256 ? 1 : m_length[code]; }
    void Reset()
    {
        m_next = 258;
        m_codeSize = 9;
        m_previous = -1;
    }
    bool Code(int code, const TPdfSink& next)
    {
        if (code == 256) {
            Reset();
            return true;
        }
        if (code == 257) {
            m_ended = true;
            return true;
        }
        if (code > m_next || (code == m_next && m_previous < 0)) {
            m_damaged = true;
            m_ended = true;
            return true;
        }
        // The string of a code, written backwards from its last byte; a code
        // not yet in the table is the previous string and its first byte.
        const int known = code == m_next ? m_previous : code;
        std::size_t at = Length(known);
        const std::size_t length = at + (code == m_next ? 1 : 0);
        for (int c = known; c >= 0; c = c < 256 ? -1 : m_prefix[c])
            m_string[--at] = c < 256 ? static_cast<std::uint8_t>(c) : m_suffix[c];
        const std::uint8_t first = m_string[0];
        if (code == m_next)
            m_string[length - 1] = first;
        if (m_previous >= 0 && m_next < 4096) {
            m_prefix[m_next] = m_previous;
            m_suffix[m_next] = first;
            m_length[m_next] = static_cast<std::uint16_t>(Length(m_previous) + 1);
            ++m_next;
            if (m_next + m_early >= (1 << m_codeSize) && m_codeSize < 12)
                ++m_codeSize;
        }
        m_previous = code;
        return m_out.Put(m_string.data(), length, next);
    }

    int m_early;
    int m_next = 258;
    int m_codeSize = 9;
    int m_previous = -1;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    bool m_ended = false;
    std::array<int, 4096> m_prefix {};
    std::array<std::uint8_t, 4096> m_suffix {};
    std::array<std::uint16_t, 4096> m_length {};
    std::array<std::uint8_t, 4097> m_string {};
    TOutput m_out;
};

class TRunLengthStage : public TStage {
public:
    bool Feed(const std::uint8_t* data, std::size_t size, const TPdfSink& next) override
    {
        for (std::size_t i = 0; i < size && !m_ended; ++i) {
            const std::uint8_t c = data[i];
            if (m_literal > 0) {
                --m_literal;
                if (!m_out.Put(c, next))
                    return false;
            } else if (m_repeat > 0) {
                for (int k = 0; k < m_repeat; ++k)
                    if (!m_out.Put(c, next))
                        return false;
                m_repeat = 0;
            } else if (c < 128) {
                m_literal = c + 1;
            } else if (c > 128) {
                m_repeat = 257 - c;
            } else {
                m_ended = true;
            }
        }
        return true;
    }
    bool Finish(const TPdfSink& next) override { return m_out.Flush(next); }

private:
    int m_literal = 0;
    int m_repeat = 0;
    bool m_ended = false;
    TOutput m_out;
};

const TPdfObject& ParmsAt(const TPdfObject& parms, std::size_t i)
{
    if (parms.IsArray())
        return i < parms.Elements().size() ? parms.Elements()[i] : PdfNull();
    return i == 0 ? parms : PdfNull();
}

// The stages of one filter; none when it is not read here.
bool AddStages(const std::string& name, const TPdfObject& parms, std::vector<std::unique_ptr<TStage>>& stages)
{
    if (name == "FlateDecode" || name == "Fl" || name == "LZWDecode" || name == "LZW") {
        if (name == "FlateDecode" || name == "Fl")
            stages.push_back(std::make_unique<TFlateStage>());
        else
            stages.push_back(std::make_unique<TLzwStage>(parms.Get("EarlyChange").Int(1) != 0));
        const std::int64_t predictor = parms.Get("Predictor").Int(1);
        if (predictor >= 10) {
            auto png = std::make_unique<TPngPredictorStage>(static_cast<int>(std::clamp<std::int64_t>(parms.Get("Colors").Int(1), 1, 32)),
                static_cast<int>(std::clamp<std::int64_t>(parms.Get("BitsPerComponent").Int(8), 1, 16)),
                static_cast<int>(std::clamp<std::int64_t>(parms.Get("Columns").Int(1), 1, 1 << 20)));
            if (!png->Valid())
                return false;
            stages.push_back(std::move(png));
        } else if (predictor > 1) {
            return false;
        }
        return true;
    }
    if (name == "ASCIIHexDecode" || name == "AHx") {
        stages.push_back(std::make_unique<TAsciiHexStage>());
        return true;
    }
    if (name == "ASCII85Decode" || name == "A85") {
        stages.push_back(std::make_unique<TAscii85Stage>());
        return true;
    }
    if (name == "RunLengthDecode" || name == "RL") {
        stages.push_back(std::make_unique<TRunLengthStage>());
        return true;
    }
    return false;
}

} // namespace

TPdfDecodeResult DecodePdfStream(std::string_view data, const TPdfObject& filter, const TPdfObject& parms,
    const TPdfSink& sink)
{
    std::vector<std::unique_ptr<TStage>> stages;
    std::vector<const TPdfObject*> names;
    if (filter.IsName())
        names.push_back(&filter);
    else
        for (const TPdfObject& f : filter.Elements())
            names.push_back(&f);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!names[i]->IsName() || !AddStages(names[i]->Text, ParmsAt(parms, i), stages))
            return TPdfDecodeResult::Unsupported;

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    if (stages.empty()) {
        for (std::size_t at = 0; at < data.size(); at += kPdfDecodePiece)
            if (!sink(bytes + at, std::min(kPdfDecodePiece, data.size() - at)))
                return TPdfDecodeResult::Stopped;
        return TPdfDecodeResult::Ok;
    }
    // Each stage hands its output to the next one, the last to the sink.
    std::vector<TPdfSink> next(stages.size() + 1);
    next[stages.size()] = sink;
    for (std::size_t i = stages.size(); i-- > 0;)
        next[i] = [&stages, &next, i](const std::uint8_t* d, std::size_t n) { return stages[i]->Feed(d, n, next[i + 1]); };
    bool go = next[0](bytes, data.size());
    for (std::size_t i = 0; go && i < stages.size(); ++i)
        go = stages[i]->Finish(next[i + 1]);
    if (!go)
        return TPdfDecodeResult::Stopped;
    for (const auto& s : stages)
        if (s->Damaged())
            return TPdfDecodeResult::Damaged;
    return TPdfDecodeResult::Ok;
}
