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

// pax extended header records: "<length> <key>=<value>\n", the length
// counting the whole record.
void ApplyPax(const std::string& data, std::string& path, std::string& linkPath, std::int64_t& size, bool& hasSize)
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
        if (key == "path")
            path = value;
        else if (key == "linkpath")
            linkPath = value;
        else if (key == "size") {
            std::int64_t v = 0;
            bool ok = !value.empty();
            for (char c : value) {
                if (c < '0' || c > '9' || v > (INT64_MAX - 9) / 10) {
                    ok = false;
                    break;
                }
                v = v * 10 + (c - '0');
            }
            if (ok) {
                size = v;
                hasSize = true;
            }
        }
    }
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

bool TarNumber(const std::uint8_t* field, int length, std::int64_t& value)
{
    value = 0;
    if (field[0] & 0x80) {
        // Base-256: big-endian two's complement with the top bit as flag;
        // a negative number (0xFF first) is no size.
        if (field[0] == 0xFF)
            return false;
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

bool TTarEntry::Listed() const
{
    return Type == 0 || Type == '0' || Type == '7' || IsLink() || IsDir();
}

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

TTarReader::TStep TTarReader::Next(TTarEntry& e)
{
    std::string longName, longLink, paxPath, paxLink;
    std::int64_t paxSize = 0;
    bool hasPaxSize = false;
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
        if (hasPaxSize && type != 'x' && type != 'g')
            size = paxSize;
        const std::int64_t dataAt = m_pos + kTarBlock;
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
            ApplyPax(data, paxPath, paxLink, paxSize, hasPaxSize);
            continue;
        case 'g':
        case 'V':
            continue;
        default: break;
        }
        e = TTarEntry{};
        std::string name = FieldText(h + kName, kNameLen);
        if (std::memcmp(h + kMagic, "ustar", 5) == 0) {
            const std::string prefix = FieldText(h + kPrefix, kPrefixLen);
            if (!prefix.empty())
                name = prefix + "/" + name;
        }
        if (!longName.empty())
            name = longName;
        if (!paxPath.empty())
            name = paxPath;
        // Names are the writing system's bytes, UTF-8 on the systems that
        // write TAR today (and in pax records by definition).
        e.Name = ValidUtf8(WithoutTrailingSlashes(name));
        e.LinkName = ValidUtf8(!paxLink.empty() ? paxLink : !longLink.empty() ? longLink : FieldText(h + kLinkName, kLinkNameLen));
        e.Type = type;
        // A directory named only by its trailing slash (old archives).
        if (type == 0 && !name.empty() && name.back() == '/')
            e.Type = '5';
        e.Size = size;
        std::int64_t mtime = 0;
        e.MTime = TarNumber(h + kMTime, kMTimeLen, mtime) ? mtime : 0;
        e.CheckSum = CalcCheckSum(h);
        e.HeaderOffset = here;
        e.DataOffset = dataAt;
        return TStep::Entry;
    }
}
