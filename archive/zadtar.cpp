#include "archive/zadtar.h"

#include "archive/zadgbls.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kName = 0, kNameLen = 100;
constexpr int kSize = 124, kSizeLen = 12;
constexpr int kMTime = 136, kMTimeLen = 12;
constexpr int kChkSum = 148, kChkSumLen = 8;
constexpr int kTypeFlag = 156;
constexpr int kLinkName = 157, kLinkNameLen = 100;
constexpr int kMagic = 257;
constexpr int kPrefix = 345, kPrefixLen = 155;

// Long names and pax records are read whole; anything larger is no name.
constexpr std::int64_t kMaxRecordData = 1 << 20;
// A sparse map holds no more segments than this (16 MB of map).
constexpr size_t kMaxSegments = 1 << 20;
constexpr int kSparseMap = 386, kSparseExtended = 482, kRealSize = 483;
constexpr int kMode = 100, kModeLen = 8;

std::string FieldText(const std::uint8_t* field, int length)
{
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(field, 0, static_cast<size_t>(length)));
    return std::string(reinterpret_cast<const char*>(field), end ? static_cast<size_t>(end - field) : static_cast<size_t>(length));
}

std::string WithoutTrailingSlashes(std::string name)
{
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// A decimal number of pax text; false for anything else or past 2^63 - 1.
bool Decimal(const std::string& text, std::int64_t& value)
{
    value = 0;
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10)
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// A pax time: seconds since 1970 with an optional sign and fraction.
bool PaxTime(const std::string& text, std::int64_t& seconds, std::int32_t& nanoseconds)
{
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    const size_t dot = digits.find('.');
    std::int64_t whole = 0;
    if (!Decimal(digits.substr(0, dot), whole))
        return false;
    std::int32_t fraction = 0;
    if (dot != std::string::npos) {
        const std::string f = digits.substr(dot + 1);
        for (size_t i = 0; i < 9; ++i) {
            const char c = i < f.size() ? f[i] : '0';
            if (c < '0' || c > '9')
                return false;
            fraction = fraction * 10 + (c - '0');
        }
    }
    seconds = negative ? -whole : whole;
    nanoseconds = fraction;
    if (negative && fraction > 0) {
        --seconds;
        nanoseconds = 1'000'000'000 - fraction;
    }
    return true;
}

// What the pax records before an entry say of it.
struct TPax {
    std::string path, linkPath;
    std::int64_t size = 0;
    bool hasSize = false;
    bool hasMTime = false;
    std::int64_t mtime = 0;
    std::int32_t mtimeNs = 0;
    // GNU's sparse records.
    std::int64_t sparseMajor = -1, sparseMinor = -1;
    std::int64_t sparseSize = -1;
    std::string sparseName;
    std::vector<TTarSegment> map;
    std::int64_t pendingOffset = -1;
    bool mapBad = false;
    bool sparse = false;
};

// pax extended header records: "<length> <key>=<value>\n", the length
// counting the whole record.
void ApplyPax(const std::string& data, TPax& pax)
{
    size_t pos = 0;
    while (pos < data.size()) {
        size_t p = pos;
        std::int64_t len = 0;
        while (p < data.size() && data[p] >= '0' && data[p] <= '9' && len < kMaxRecordData)
            len = len * 10 + (data[p++] - '0');
        if (p >= data.size() || data[p] != ' ' || len <= static_cast<std::int64_t>(p - pos) ||
            static_cast<size_t>(len) > data.size() - pos)
            return;
        const std::string record = data.substr(p + 1, pos + static_cast<size_t>(len) - p - 1);
        pos += static_cast<size_t>(len);
        const size_t eq = record.find('=');
        if (eq == std::string::npos || record.empty() || record.back() != '\n')
            continue;
        const std::string key = record.substr(0, eq);
        const std::string value = record.substr(eq + 1, record.size() - eq - 2);
        std::int64_t v = 0;
        if (key == "path") {
            pax.path = value;
        } else if (key == "linkpath") {
            pax.linkPath = value;
        } else if (key == "size") {
            if (Decimal(value, v)) {
                pax.size = v;
                pax.hasSize = true;
            }
        } else if (key == "mtime") {
            pax.hasMTime = PaxTime(value, pax.mtime, pax.mtimeNs);
        } else if (key == "GNU.sparse.major") {
            pax.sparseMajor = Decimal(value, v) ? v : -1;
        } else if (key == "GNU.sparse.minor") {
            pax.sparseMinor = Decimal(value, v) ? v : -1;
        } else if (key == "GNU.sparse.name") {
            pax.sparseName = value;
        } else if (key == "GNU.sparse.size" || key == "GNU.sparse.realsize") {
            pax.sparseSize = Decimal(value, v) ? v : -1;
            pax.sparse = true;
        } else if (key == "GNU.sparse.offset") {
            pax.mapBad = pax.mapBad || pax.pendingOffset >= 0 || !Decimal(value, pax.pendingOffset);
        } else if (key == "GNU.sparse.numbytes") {
            if (pax.pendingOffset < 0 || !Decimal(value, v))
                pax.mapBad = true;
            else if (pax.map.size() < kMaxSegments)
                pax.map.push_back({pax.pendingOffset, v});
            else
                pax.mapBad = true;
            pax.pendingOffset = -1;
        } else if (key == "GNU.sparse.map") {
            std::vector<std::int64_t> numbers;
            size_t from = 0;
            while (from <= value.size() && numbers.size() < 2 * kMaxSegments) {
                const size_t comma = value.find(',', from);
                const std::string item = value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
                if (!Decimal(item, v)) {
                    pax.mapBad = true;
                    break;
                }
                numbers.push_back(v);
                if (comma == std::string::npos)
                    break;
                from = comma + 1;
            }
            if (numbers.size() % 2)
                pax.mapBad = true;
            for (size_t i = 0; i + 1 < numbers.size(); i += 2)
                pax.map.push_back({numbers[i], numbers[i + 1]});
        }
    }
}

// Whether a map fits its file and its data: segments in order, none past
// the real size, no more bytes than the entry stores.
bool MapHolds(const std::vector<TTarSegment>& map, std::int64_t realSize, std::int64_t stored)
{
    std::int64_t end = 0, total = 0;
    for (const TTarSegment& s : map) {
        if (s.Offset < end || s.Size < 0 || s.Offset > realSize || s.Size > realSize - s.Offset || s.Size > stored - total)
            return false;
        end = s.Offset + s.Size;
        total += s.Size;
    }
    return true;
}

} // namespace

std::uint32_t CalcCheckSum(const std::uint8_t* header)
{
    std::uint32_t sum = 0;
    for (int i = 0; i < kTarBlock; ++i)
        sum += (i >= kChkSum && i < kChkSum + kChkSumLen) ? 32u : header[i];
    return sum;
}

bool ValidateTarHeader(const std::uint8_t* header)
{
    std::int64_t stored = 0;
    return TarNumber(header + kChkSum, kChkSumLen, stored) && stored == CalcCheckSum(header);
}

bool TarNumber(const std::uint8_t* field, int length, std::int64_t& value, bool allowNegative)
{
    value = 0;
    if (field[0] & 0x80) {
        // Base-256: big-endian two's complement with the top bit as flag;
        // a negative number (0xFF first) is no size, only a time.
        if (field[0] == 0xFF) {
            if (!allowNegative)
                return false;
            std::int64_t v = -1;
            for (int i = 1; i < length; ++i) {
                if (v < (INT64_MIN >> 8))
                    return false;
                v = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << 8) | field[i];
            }
            value = v;
            return true;
        }
        std::uint64_t v = field[0] & 0x7F;
        for (int i = 1; i < length; ++i) {
            if (v > (static_cast<std::uint64_t>(INT64_MAX) >> 8))
                return false;
            v = (v << 8) | field[i];
        }
        value = static_cast<std::int64_t>(v);
        return true;
    }
    int i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    bool digits = false;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value > (INT64_MAX >> 3))
            return false;
        value = (value << 3) | (field[i] - '0');
        digits = true;
    }
    // The number ends at a blank or a zero byte; anything else is no number.
    for (; i < length; ++i)
        if (field[i] != ' ' && field[i] != 0)
            return false;
    return digits;
}

bool TTarEntry::Listed() const { return IsFile() || IsLink() || IsDir(); }

TTarReader::TTarReader(TStream32& stream, std::int64_t position)
    : m_stream(stream), m_size(stream.Size()), m_pos(position)
{
}

bool TTarReader::ReadData(std::int64_t offset, std::int64_t size, std::string& data)
{
    if (size > kMaxRecordData)
        return false;
    data.assign(static_cast<size_t>(size), '\0');
    return size == 0 || (m_stream.Seek(offset, soBeginning) == offset && m_stream.Read(data.data(), size) == size);
}

bool TTarReader::ReadGnuSparse(const std::uint8_t* header, std::int64_t& dataAt, TTarEntry& e)
{
    auto take = [&e](const std::uint8_t* pairs, int count) {
        for (int i = 0; i < count; ++i) {
            std::int64_t offset = 0, size = 0;
            const std::uint8_t* p = pairs + 24 * i;
            if (p[0] == 0)
                break;  // the map ends at an empty pair
            if (!TarNumber(p, 12, offset) || !TarNumber(p + 12, 12, size) || e.Segments.size() >= kMaxSegments) {
                e.SparseBad = true;
                break;
            }
            e.Segments.push_back({offset, size});
        }
    };
    take(header + kSparseMap, 4);
    if (!TarNumber(header + kRealSize, 12, e.RealSize))
        e.SparseBad = true;
    bool more = header[kSparseExtended] != 0;
    std::uint8_t block[kTarBlock];
    while (more) {
        if (dataAt > m_size - kTarBlock || m_stream.Seek(dataAt, soBeginning) != dataAt ||
            m_stream.Read(block, kTarBlock) != kTarBlock)
            return false;
        dataAt += kTarBlock;
        take(block, 21);
        more = block[504] != 0 && !e.SparseBad;
    }
    return true;
}

void TTarReader::ReadSparseMap(TTarEntry& e)
{
    // Decimal numbers, each ending in a newline: the count, then an offset
    // and a size per segment; the data begin at the next block boundary.
    std::string text;
    const std::int64_t room = std::min<std::int64_t>(e.Size, kMaxRecordData);
    if (!ReadData(e.DataOffset, room, text)) {
        e.SparseBad = true;
        return;
    }
    size_t at = 0;
    auto next = [&](std::int64_t& value) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string::npos || !Decimal(text.substr(at, nl - at), value))
            return false;
        at = nl + 1;
        return true;
    };
    std::int64_t count = 0;
    if (!next(count) || count < 0 || static_cast<std::uint64_t>(count) > kMaxSegments) {
        e.SparseBad = true;
        return;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        TTarSegment seg;
        if (!next(seg.Offset) || !next(seg.Size)) {
            e.SparseBad = true;
            return;
        }
        e.Segments.push_back(seg);
    }
    const std::int64_t mapBytes = (static_cast<std::int64_t>(at) + kTarBlock - 1) / kTarBlock * kTarBlock;
    e.SegmentsOffset = e.DataOffset + mapBytes;
    if (mapBytes > e.Size)
        e.SparseBad = true;
}

TTarReader::TStep TTarReader::Next(TTarEntry& e)
{
    std::string longName, longLink;
    TPax pax;
    std::uint8_t h[kTarBlock];
    for (;;) {
        if (m_pos < 0 || m_pos > m_size - kTarBlock)
            return TStep::End;
        if (m_stream.Seek(m_pos, soBeginning) != m_pos || m_stream.Read(h, kTarBlock) != kTarBlock)
            return TStep::End;
        // The end blocks (all zero), or whatever is no header, end the walk.
        if (!ValidateTarHeader(h))
            return TStep::End;
        std::int64_t size = 0;
        if (!TarNumber(h + kSize, kSizeLen, size))
            return TStep::BadHeader;
        const char type = static_cast<char>(h[kTypeFlag]);
        if (pax.hasSize && type != 'x' && type != 'g')
            size = pax.size;
        std::int64_t dataAt = m_pos + kTarBlock;
        TTarEntry sparse;
        if (type == 'S' && !ReadGnuSparse(h, dataAt, sparse))
            return TStep::BadHeader;
        // The data and its padding must lie within the file: a size that
        // would pass the end (or wrap round) ends the walk.
        if (size > m_size - dataAt)
            return TStep::BadHeader;
        const std::int64_t padded = size + ((kTarBlock - size % kTarBlock) % kTarBlock);
        const std::int64_t next = dataAt + std::min(padded, m_size - dataAt);
        const std::int64_t here = m_pos;
        m_pos = next;
        std::string data;
        switch (type) {
        case 'L':
        case 'K':
            if (!ReadData(dataAt, size, data))
                return TStep::BadHeader;
            (type == 'L' ? longName : longLink) = FieldText(reinterpret_cast<const std::uint8_t*>(data.data()),
                                                             static_cast<int>(data.size()));
            continue;
        case 'x':
            if (!ReadData(dataAt, size, data))
                return TStep::BadHeader;
            ApplyPax(data, pax);
            continue;
        case 'g':
        case 'V':
            continue;
        default: break;
        }
        e = std::move(sparse);
        std::string name = FieldText(h + kName, kNameLen);
        if (std::memcmp(h + kMagic, "ustar", 5) == 0) {
            const std::string prefix = FieldText(h + kPrefix, kPrefixLen);
            if (!prefix.empty())
                name = prefix + "/" + name;
        }
        if (!longName.empty())
            name = longName;
        if (!pax.path.empty())
            name = pax.path;
        if (!pax.sparseName.empty())
            name = pax.sparseName;
        // Names are the writing system's bytes, UTF-8 on the systems that
        // write TAR today (and in pax records by definition).
        e.Name = ValidUtf8(WithoutTrailingSlashes(name));
        e.LinkName = ValidUtf8(!pax.linkPath.empty() ? pax.linkPath : !longLink.empty() ? longLink : FieldText(h + kLinkName, kLinkNameLen));
        e.Type = type;
        // A directory named only by its trailing slash (old archives).
        if (type == 0 && !name.empty() && name.back() == '/')
            e.Type = '5';
        e.Size = size;
        std::int64_t mtime = 0;
        if (pax.hasMTime) {
            e.MTime = pax.mtime;
            e.MTimeNs = pax.mtimeNs;
            e.HasMTime = true;
        } else if (TarNumber(h + kMTime, kMTimeLen, mtime, true)) {
            e.MTime = mtime;
            e.HasMTime = true;
        }
        std::int64_t mode = 0;
        if (TarNumber(h + kMode, kModeLen, mode))
            e.Mode = static_cast<std::int32_t>(mode & 07777);
        e.CheckSum = CalcCheckSum(h);
        e.HeaderOffset = here;
        e.DataOffset = dataAt;
        e.SegmentsOffset = dataAt;
        if (type == 'S') {
            e.Sparse = true;
        } else if (pax.sparse || pax.sparseMajor >= 0 || !pax.map.empty()) {
            e.Sparse = true;
            e.RealSize = pax.sparseSize;
            e.SparseBad = pax.mapBad || pax.sparseSize < 0;
            if (pax.sparseMajor == 1 && pax.sparseMinor == 0)
                ReadSparseMap(e);
            else if (pax.sparseMajor > 1 || (pax.sparseMajor == 1 && pax.sparseMinor != 0))
                e.SparseBad = true;  // a map format that came after these
            else
                e.Segments = pax.map;
        }
        if (e.Sparse && !e.SparseBad)
            e.SparseBad = !MapHolds(e.Segments, e.RealSize, size - (e.SegmentsOffset - e.DataOffset));
        return TStep::Entry;
    }
}
