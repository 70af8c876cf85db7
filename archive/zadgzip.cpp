#include "archive/zadgzip.h"

#include "archive/zadgbls.h"
#include "rtl/sysutils.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint8_t kFlagHeaderCrc = 0x02, kFlagExtra = 0x04, kFlagName = 0x08, kFlagComment = 0x10,
                       kFlagEncrypted = 0x20;
// The part of a stored name that is kept, and the longest comment or
// extra field stepped over, are bounded by the fields' own limits.
constexpr int kMaxStoredName = 4096;
constexpr std::size_t kInputSize = 256 * 1024;
constexpr std::size_t kOutputSize = 256 * 1024;

// A forward-only byte reader over the stream, whose buffer zlib reads from
// directly.
class TGzipInput {
public:
    explicit TGzipInput(TStream32& stream) : m_stream(stream), m_buffer(kInputSize) {}
    int Byte()
    {
        if (m_pos == m_len && !Fill())
            return -1;
        return m_buffer[m_pos++];
    }
    bool Skip(std::int64_t n)
    {
        while (n > 0) {
            if (m_pos == m_len && !Fill())
                return false;
            const auto step = static_cast<std::size_t>(std::min<std::int64_t>(n, static_cast<std::int64_t>(m_len - m_pos)));
            m_pos += step;
            n -= static_cast<std::int64_t>(step);
        }
        return true;
    }
    // Steps over a zero-terminated field; the bytes are kept when name is given.
    bool SkipZeroTerminated(std::string* name)
    {
        for (;;) {
            const int c = Byte();
            if (c < 0)
                return false;
            if (c == 0)
                return true;
            if (name && name->size() < kMaxStoredName)
                name->push_back(static_cast<char>(c));
        }
    }
    bool Fill()
    {
        if (m_eof)
            return false;
        const std::int64_t got = m_stream.Read(m_buffer.data(), static_cast<std::int64_t>(m_buffer.size()));
        m_pos = 0;
        m_len = got > 0 ? static_cast<std::size_t>(got) : 0;
        m_consumed += static_cast<std::int64_t>(m_len);
        if (m_len == 0)
            m_eof = true;
        return m_len > 0;
    }
    std::uint8_t* Data() { return m_buffer.data() + m_pos; }
    std::size_t Available() const { return m_len - m_pos; }
    void Consume(std::size_t n) { m_pos += n; }
    std::int64_t Consumed() const { return m_consumed - static_cast<std::int64_t>(m_len - m_pos); }

private:
    TStream32& m_stream;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    std::int64_t m_consumed = 0;
    bool m_eof = false;
};

// The fields after the signature: method, flags, time, and the optional
// fields, all stepped over.
bool ReadMemberRest(TGzipInput& in, std::uint16_t magic, TGzipHeader& h)
{
    h.Magic = magic;
    const int method = in.Byte(), flags = in.Byte();
    if (method < 0 || flags < 0)
        return false;
    h.Method = static_cast<std::uint8_t>(method);
    h.Flags = static_cast<std::uint8_t>(flags);
    std::uint8_t rest[6];
    for (auto& b : rest) {
        const int c = in.Byte();
        if (c < 0)
            return false;
        b = static_cast<std::uint8_t>(c);
    }
    h.MTime = rest[0] | (rest[1] << 8) | (rest[2] << 16) | (static_cast<std::uint32_t>(rest[3]) << 24);
    h.ExtraFlags = rest[4];
    if (h.Flags & kFlagExtra) {
        const int lo = in.Byte(), hi = in.Byte();
        if (lo < 0 || hi < 0 || !in.Skip(lo | (hi << 8)))
            return false;
    }
    std::string stored;
    h.HasName = (h.Flags & kFlagName) != 0;
    if (h.HasName && !in.SkipZeroTerminated(&stored))
        return false;
    h.Name = GzipStoredBaseName(stored);
    if ((h.Flags & kFlagComment) && !in.SkipZeroTerminated(nullptr))
        return false;
    // The header CRC of RFC 1952; the older gzip used the bit for a
    // continuation, which the extractor refuses before decoding.
    if (magic == kGzipMagic && (h.Flags & kFlagHeaderCrc) && !in.Skip(2))
        return false;
    return true;
}

bool Accepted(std::uint16_t sign)
{
    return sign == kGzipMagic || sign == kGzipOldMagic || sign == kCompressMagic || sign == 0x1E1F || sign == 0xA01F;
}

} // namespace

std::string GzipStoredBaseName(const std::string& stored)
{
    const size_t p = stored.find_last_of("/\\");
    std::string base = p == std::string::npos ? stored : stored.substr(p + 1);
    if (base == "." || base == "..")
        base.clear();
    return base;
}

bool ReadGzipHeader(TStream32& stream, std::int64_t pos, TGzipHeader& h)
{
    h = TGzipHeader{};
    if (stream.Seek(pos, soBeginning) != pos)
        return false;
    TGzipInput in(stream);
    const int a = in.Byte(), b = in.Byte();
    if (a < 0 || b < 0)
        return false;
    const auto magic = static_cast<std::uint16_t>(a | (b << 8));
    if (!Accepted(magic))
        return false;
    h.Magic = magic;
    if (magic != kGzipMagic && magic != kGzipOldMagic) {
        // compress and the others: the byte after the signature says how the
        // data is coded.
        const int flags = in.Byte();
        if (flags < 0)
            return false;
        h.Method = static_cast<std::uint8_t>(flags);
        h.DataOffset = pos;
        return true;
    }
    if (!ReadMemberRest(in, magic, h))
        return false;
    h.DataOffset = pos + in.Consumed();
    return true;
}

TGzipResult DecodeGzipFile(TStream32& stream, const std::function<bool(const std::uint8_t*, std::size_t)>& write,
                           const std::function<void(std::int64_t)>& progress, const bool* cancel)
{
    if (stream.Seek(0, soBeginning) != 0)
        return TGzipResult::BadData;
    TGzipInput in(stream);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return TGzipResult::BadData;
    struct End {
        z_stream& z;
        ~End() { inflateEnd(&z); }
    } end{z};
    std::vector<std::uint8_t> out(kOutputSize);
    for (bool first = true;; first = false) {
        // The next member, or the end of the file: the input's end, zero
        // padding, or bytes that are no member header.
        const int a = in.Byte();
        if (a < 0)
            return first ? TGzipResult::BadData : TGzipResult::Ok;
        const int b = in.Byte();
        const auto magic = static_cast<std::uint16_t>(a | (std::max(b, 0) << 8));
        if (b < 0 || (magic != kGzipMagic && magic != kGzipOldMagic))
            return first ? TGzipResult::BadData : TGzipResult::Ok;
        TGzipHeader h;
        if (!ReadMemberRest(in, magic, h) || h.Method != Z_DEFLATED || (h.Flags & kFlagEncrypted))
            return TGzipResult::BadData;
        if (magic == kGzipOldMagic && (h.Flags & kFlagHeaderCrc))
            return TGzipResult::BadData;
        inflateReset(&z);
        std::uint32_t crc = crc32(0, nullptr, 0);
        std::uint32_t size = 0;
        for (;;) {
            if (in.Available() == 0 && !in.Fill())
                return TGzipResult::BadData;  // the member ends inside its data
            z.next_in = in.Data();
            z.avail_in = static_cast<uInt>(in.Available());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            in.Consume(in.Available() - z.avail_in);
            const std::size_t produced = out.size() - z.avail_out;
            if (produced > 0) {
                crc = crc32(crc, out.data(), static_cast<uInt>(produced));
                size += static_cast<std::uint32_t>(produced);
                if (!write(out.data(), produced))
                    return TGzipResult::WriteFailed;
            }
            if (progress)
                progress(in.Consumed());
            if (cancel && *cancel)
                return TGzipResult::Cancelled;
            if (r == Z_STREAM_END)
                break;
            if (r != Z_OK && r != Z_BUF_ERROR)
                return TGzipResult::BadData;
        }
        std::uint8_t trailer[8];
        for (auto& t : trailer) {
            const int c = in.Byte();
            if (c < 0)
                return TGzipResult::BadData;
            t = static_cast<std::uint8_t>(c);
        }
        const std::uint32_t storedCrc = trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) | (static_cast<std::uint32_t>(trailer[3]) << 24);
        const std::uint32_t storedSize = trailer[4] | (trailer[5] << 8) | (trailer[6] << 16) | (static_cast<std::uint32_t>(trailer[7]) << 24);
        if (storedCrc != crc || storedSize != size)
            return TGzipResult::BadCheck;
    }
}

std::string GzipEntryName(const TGzipHeader& h, const std::string& archivePath)
{
    const std::string archiveName = ExtractFileName(archivePath);
    const std::string archiveExt = ExtractFileExt(archiveName);
    // gzip stores the name's bytes as the system gave them: UTF-8 here.
    std::string name = h.HasName && !h.Name.empty() ? ValidUtf8(h.Name) : archiveName;
    const bool fromArchive = !(h.HasName && !h.Name.empty());
    const std::string ext = ExtractFileExt(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    if (SameText(ext, ".tgz"))
        return stem + ".tar";
    if (SameText(ext, ".tar") && !fromArchive)
        return name;
    if (fromArchive || (!ext.empty() && SameText(ext, archiveExt)))
        return stem.empty() ? name : stem;
    return name;
}
