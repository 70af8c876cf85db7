#include "zadlzhrecords.h"

#include "archive/zadgbls.h"
#include "archive/zadheaders.h"
#include "archive/zadrecords.h"
#include "archive/zadvirov.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool ReadAt(TStream32& s, std::int64_t pos, void* buf, std::int32_t n) { return TVirOV::ReadAt(s, pos, buf, n); }

// The text up to its first zero byte.
std::string UpToZero(const std::string& s) { return s.substr(0, s.find('\0')); }

}  // namespace

// ---- BH -------------------------------------------------------------------------------------

std::int64_t TBhHeader::DataSize() const
{
    if (!Encrypted())
        return PackedSize;
    return PackedSize >= kCipherHeader ? PackedSize - kCipherHeader : 0;
}

TLzhRead ReadBhHeader(TStream32& s, std::int64_t pos, std::int64_t fileSize, TBhHeader& h)
{
    h = TBhHeader{};
    // A position past the end: the data before it was cut off.
    if (pos < 0 || pos > fileSize)
        return TLzhRead::Bad;
    std::uint8_t b[TBhHeader::kSize] = {};
    if (fileSize - pos < TBhHeader::kSize) {
        // Fewer bytes than a header: the end, unless a header begins there
        // (its signature, or as much of it as there is), which is cut off.
        const auto avail = static_cast<std::int32_t>(std::min<std::int64_t>(fileSize - pos, 4));
        if (avail == 0 || !ReadAt(s, pos, b, avail))
            return TLzhRead::End;
        const std::uint8_t signature[4] = {0x42, 0x48, 0x05, 0x07};  // kSignature, little-endian
        return std::memcmp(b, signature, static_cast<size_t>(avail)) == 0 ? TLzhRead::Bad : TLzhRead::End;
    }
    if (!ReadAt(s, pos, b, TBhHeader::kSize))
        return TLzhRead::End;
    h.HeaderSize = LoadLe16(b + 4);
    if (LoadLe32(b) != TBhHeader::kSignature || h.HeaderSize == 0)
        return TLzhRead::End;
    h.VersionMadeBy = b[7];
    h.VersionNeeded = b[8];
    h.Flags = b[9];
    h.Method = b[10];
    h.DosDateTime = LoadLe32(b + 11);
    h.PackedSize = LoadLe32(b + 15);
    h.UnpackedSize = LoadLe32(b + 19);
    h.Crc = LoadLe32(b + 23);
    h.Attributes = LoadLe32(b + 27);
    h.NameLength = LoadLe16(b + 33);
    h.ExtraLength = LoadLe16(b + 35);
    const std::int64_t nameAt = pos + TBhHeader::kSize;
    if (h.NameUsable()) {
        h.RawName.assign(h.NameLength, '\0');
        if (!ReadAt(s, nameAt, h.RawName.data(), h.NameLength))
            return TLzhRead::Bad;
    }
    h.DataOffset = nameAt + h.NameLength + h.ExtraLength;
    h.NextOffset = h.DataOffset + h.PackedSize;
    if (h.DataOffset > fileSize)
        return TLzhRead::Bad;
    return TLzhRead::Entry;
}

// ---- LHA and LZH ----------------------------------------------------------------------------

bool TLhaHeader::MethodKnown() const
{
    if (MethodId[0] != '-' || MethodId[4] != '-')
        return false;
    const char c = MethodChar();
    return c == '0' || c == '1' || (c >= '4' && c <= '7') || c == 'd';
}

std::string TLhaHeader::StoredName() const
{
    // Level-0 names carry their folders themselves, with either separator.
    std::string name = RawName;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string folder = DecodeDir(RawFolder);
    if (folder.empty())
        return name;
    if (name.empty())
        return folder;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

namespace {

TNameCoding LhaCoding(char osId)
{
    if (osId == 'U')
        return ncUtf8;
    if (osId == 'M' || osId == '2' || osId == 'w' || osId == 'W')
        return ncOem;
    return ncUnknown;
}

}  // namespace

std::string TLhaHeader::EntryName(bool translate) const
{
    std::string name = StoredName();
    if (IsLink())
        name.erase(name.find('|'));
    return ArchiveNameToUtf8(name, LhaCoding(OsId), translate);
}

std::string TLhaHeader::LinkTarget(bool translate) const
{
    if (!IsLink())
        return {};
    const std::string target = RawName.substr(RawName.find('|') + 1);
    // The target is text, never a path of this archive: no separator is turned.
    return LhaCoding(OsId) == ncOem ? _OemToCharFilter(target, translate) : ValidUtf8(target);
}

std::int32_t TLhaHeader::DosDateTime() const
{
    if (Level == 2 || HasUnixTime)
        return DateTimeToDosDateTime(UnixTimeToDateTime(::UnixTime(Level == 2 ? Time : UnixTime)));
    return static_cast<std::int32_t>(Time);
}

TEntryStamp TLhaHeader::Stamp() const
{
    TEntryStamp s;
    if (HasUnixTime)
        s.Time = ::UnixTime(UnixTime);
    else if (Level == 2)
        s.Time = ::UnixTime(Time);
    // The bits of a regular file or a folder only: links are written as
    // files of text.
    if (UnixMode >= 0 && ((UnixMode & 0170000) == 0100000 || (UnixMode & 0170000) == 0040000))
        s.Mode = UnixMode & 0777;
    return s;
}

namespace {

// One extended header's type and data (its size field excluded).
void TakeExtended(TLhaHeader& h, const std::uint8_t* p, std::size_t n)
{
    if (n == 0)
        return;
    const std::string data(reinterpret_cast<const char*>(p + 1), n - 1);
    if (p[0] == 1)
        h.RawName = UpToZero(data);
    else if (p[0] == 2)
        h.RawFolder = UpToZero(data);
    else if (p[0] == 0x50 && data.size() >= 2)
        h.UnixMode = LoadLe16(p + 1);
    else if (p[0] == 0x54 && data.size() >= 4) {
        h.UnixTime = LoadLe32(p + 1);
        h.HasUnixTime = true;
    }
}

// Level 0 and 1: a base header of up to 257 bytes; level 1 then has its
// extended headers in front of the data, counted in the packed size.
TLzhRead ReadLhaLevel01(TStream32& s, std::int64_t pos, std::int64_t fileSize, const std::uint8_t* first, TLhaHeader& h)
{
    const int total = first[0] + 2;
    const int nameLength = first[21];
    const int fixedAfterName = h.Level == 0 ? 2 : 5;  // CRC; level 1 adds the system id and the next size
    if (TLhaHeader::kBaseSize + nameLength + fixedAfterName > total || fileSize - pos < total)
        return TLzhRead::Bad;
    std::vector<std::uint8_t> b(static_cast<size_t>(total));
    if (!ReadAt(s, pos, b.data(), total))
        return TLzhRead::Bad;
    h.RawName.assign(reinterpret_cast<const char*>(&b[22]), static_cast<size_t>(nameLength));
    h.Crc = LoadLe16(&b[22 + nameLength]);
    std::int64_t at = pos + total;
    std::int64_t dataLeft = h.PackedSize;
    if (h.Level == 1) {
        h.OsId = static_cast<char>(b[24 + nameLength]);
        std::uint16_t next = LoadLe16(&b[total - 2]);
        std::vector<std::uint8_t> ext;
        while (next != 0) {
            if (next < 3 || next > dataLeft || fileSize - at < next)
                return TLzhRead::Bad;
            ext.resize(next);
            if (!ReadAt(s, at, ext.data(), next))
                return TLzhRead::Bad;
            TakeExtended(h, ext.data(), next - 2u);
            at += next;
            dataLeft -= next;
            next = LoadLe16(&ext[next - 2u]);
        }
    }
    h.DataOffset = at;
    h.PackedSize = static_cast<std::uint32_t>(dataLeft);
    h.NextOffset = at + dataLeft;
    return TLzhRead::Entry;
}

// Level 2: the whole header, extended headers included, is counted by its
// 16-bit size.
TLzhRead ReadLhaLevel2(TStream32& s, std::int64_t pos, std::int64_t fileSize, const std::uint8_t* first, TLhaHeader& h)
{
    constexpr int kFixed = 26;
    const int total = LoadLe16(first);
    if (total < kFixed || fileSize - pos < total)
        return TLzhRead::Bad;
    std::vector<std::uint8_t> b(static_cast<size_t>(total));
    if (!ReadAt(s, pos, b.data(), total))
        return TLzhRead::Bad;
    h.Crc = LoadLe16(&b[21]);
    h.OsId = static_cast<char>(b[23]);
    int at = kFixed;
    int next = LoadLe16(&b[24]);
    while (next != 0) {
        if (next < 3 || next > total - at)
            return TLzhRead::Bad;
        TakeExtended(h, &b[static_cast<size_t>(at)], static_cast<size_t>(next - 2));
        const int size = next;
        next = LoadLe16(&b[static_cast<size_t>(at + size - 2)]);
        at += size;
    }
    h.DataOffset = pos + total;
    h.NextOffset = h.DataOffset + h.PackedSize;
    return TLzhRead::Entry;
}

}  // namespace

TLzhRead ReadLhaHeader(TStream32& s, std::int64_t pos, std::int64_t fileSize, TLhaHeader& h)
{
    h = TLhaHeader{};
    std::uint8_t b[TLhaHeader::kBaseSize] = {};
    const std::int64_t left = fileSize - pos;
    // A position past the end: the data before it was cut off.
    if (pos < 0 || left < 0)
        return TLzhRead::Bad;
    if (left == 0 || !ReadAt(s, pos, b, 1) || b[0] == 0)
        return TLzhRead::End;
    if (left < TLhaHeader::kBaseSize || !ReadAt(s, pos, b, TLhaHeader::kBaseSize))
        return TLzhRead::Bad;
    h.Level = b[20];
    if (h.Level > 2)
        return TLzhRead::End;
    std::memcpy(h.MethodId, b + 2, 5);
    h.PackedSize = LoadLe32(b + 7);
    h.UnpackedSize = LoadLe32(b + 11);
    h.Time = LoadLe32(b + 15);
    h.Attribute = b[19];
    return h.Level == 2 ? ReadLhaLevel2(s, pos, fileSize, b, h) : ReadLhaLevel01(s, pos, fileSize, b, h);
}

// ---- ZOO ------------------------------------------------------------------------------------

std::string TZooEntry::StoredName() const
{
    const std::string name = LongName.empty() ? ShortName : LongName;
    if (Folder.empty())
        return name;
    return Folder.back() == '/' ? Folder + name : Folder + "/" + name;
}

std::int64_t ReadZooArchiveHeader(TStream32& s, std::int64_t fileSize)
{
    std::uint8_t b[34];
    if (fileSize < static_cast<std::int64_t>(sizeof b) || !ReadAt(s, 0, b, sizeof b))
        return -1;
    const std::uint32_t first = LoadLe32(b + 24);
    if (first + LoadLe32(b + 28) != 0 || first == 0 || first >= fileSize)
        return -1;
    return first;
}

TLzhRead ReadZooEntry(TStream32& s, std::int64_t pos, std::int64_t fileSize, TZooEntry& e)
{
    e = TZooEntry{};
    e.Offset = pos;
    // Every entry has 51 fixed bytes; type 2 adds the variable part's size,
    // the time zone and the entry's CRC (56 bytes), and only an entry whose
    // variable part is not empty goes on with the name and folder lengths
    // (58). zoo 2.10 ends its chain with an entry of 56 bytes at the end of
    // the file.
    constexpr int kType1Size = 51, kType2Size = 56;
    std::uint8_t b[TZooEntry::kSize] = {};
    const auto avail = static_cast<std::int32_t>(std::clamp<std::int64_t>(fileSize - pos, 0, TZooEntry::kSize));
    if (pos < 0 || avail < kType1Size || !ReadAt(s, pos, b, avail))
        return TLzhRead::Bad;
    if (LoadLe32(b) != TZooEntry::kTag || (b[4] == 2 && avail < kType2Size))
        return TLzhRead::Bad;
    e.Type = b[4];
    e.Method = b[5];
    e.NextOffset = static_cast<std::int32_t>(LoadLe32(b + 6));
    e.DataOffset = static_cast<std::int32_t>(LoadLe32(b + 10));
    e.Date = LoadLe16(b + 14);
    e.Time = LoadLe16(b + 16);
    e.Crc = LoadLe16(b + 18);
    e.UnpackedSize = LoadLe32(b + 20);
    e.PackedSize = LoadLe32(b + 24);
    e.MajorVersion = b[28];
    e.MinorVersion = b[29];
    e.Deleted = b[30] & 1;
    e.CommentOffset = static_cast<std::int32_t>(LoadLe32(b + 32));
    e.CommentLength = LoadLe16(b + 36);
    e.ShortName = UpToZero(std::string(reinterpret_cast<const char*>(b + 38), 13));
    // Type-2 entries carry a variable part: the lengths of the long name
    // and the folder, then both texts.
    const int variable = e.Type == 2 ? LoadLe16(b + 51) : 0;
    if (variable >= 2 && avail < TZooEntry::kSize)
        return TLzhRead::Bad;
    const int nameLength = variable >= 2 ? b[56] : 0;
    const int folderLength = variable >= 2 ? b[57] : 0;
    if (variable >= 2 && nameLength + folderLength > 0) {
        if (nameLength + folderLength + 2 > variable)
            return TLzhRead::Bad;
        std::string texts(static_cast<size_t>(nameLength + folderLength), '\0');
        if (!ReadAt(s, pos + TZooEntry::kSize, texts.data(), static_cast<std::int32_t>(texts.size())))
            return TLzhRead::Bad;
        e.LongName = UpToZero(texts.substr(0, static_cast<size_t>(nameLength)));
        e.Folder = UpToZero(texts.substr(static_cast<size_t>(nameLength)));
    }
    return TLzhRead::Entry;
}

TLzhRead TZooWalk::Next(TZooEntry& e)
{
    for (;;) {
        if (m_next <= 0)
            return TLzhRead::End;
        if (m_next <= m_last || m_next >= m_size)
            return TLzhRead::Bad;
        m_last = m_next;
        const TLzhRead r = ReadZooEntry(m_s, m_next, m_size, e);
        if (r != TLzhRead::Entry)
            return r;
        if (e.NextOffset == 0)
            return TLzhRead::End;
        m_next = e.NextOffset;
        if (!e.Deleted)
            return TLzhRead::Entry;
    }
}

// ---- the lister's steps -------------------------------------------------------------------

namespace {

void ReportLzhEntry(TVirOV& v, std::int64_t offset, const std::string& name, bool isDir, std::int64_t unpacked,
                    std::int64_t packed, int method, WORD flag)
{
    v.Filename = name;
    v.MethodDetail = method;
    v.CompressMethod = static_cast<WORD>(method);
    v.CompressMethodStr = v.GetCompressMethodStr(static_cast<WORD>(method), flag);
    ReportEntry(v, offset, isDir, unpacked, packed);
}

void EndOrFail(TVirOV& v, TLzhRead r)
{
    if (r == TLzhRead::Bad)
        v.FailWalk(E_BADHEADR);
    else
        v.NextHeaderOffset = v.EndOffset;
}

// ---- BH

void BhSetup(TVirOV& v, TStream32&) { v.HeaderBlockSize = TBhHeader::kSize; }

void BhStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    TBhHeader h;
    const TLzhRead r = ReadBhHeader(s, pos, v.ArchiveSize, h);
    if (r != TLzhRead::Entry)
        return EndOrFail(v, r);
    v.NextHeaderOffset = h.NextOffset;
    if (!h.NameUsable())
        return;
    ClearEntry(v);
    v.FileDate = v.ConvertDate(static_cast<std::int32_t>(h.DosDateTime));
    v.VersionMadeBy = h.VersionMadeBy;
    v.VersionNeeded = h.VersionNeeded;
    v.Encrypted = h.Encrypted();
    v.Crc = h.Crc;
    v.InternalAttr = h.Attributes & 0xFFFF;
    v.ExternalAttr = static_cast<std::int32_t>(h.Attributes);
    ReportLzhEntry(v, pos, _OemToCharFilter(h.RawName, v.TranslateOemChar), h.IsDirectory(), h.UnpackedSize, h.DataSize(), h.Method, h.Flags);
}

// ---- LHA and LZH

void LhaSetup(TVirOV& v, TStream32&) { v.HeaderBlockSize = TLhaHeader::kBaseSize; }

void LhaStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    TLhaHeader h;
    const TLzhRead r = ReadLhaHeader(s, pos, v.ArchiveSize, h);
    if (r != TLzhRead::Entry)
        return EndOrFail(v, r);
    v.NextHeaderOffset = h.NextOffset;
    ClearEntry(v);
    const TEntryStamp stamp = h.Stamp();
    v.FileDate = stamp.Time.Known ? UnixTimeToDateTime(stamp.Time) : v.ConvertDate(h.DosDateTime());
    v.Crc = h.Crc;
    v.InternalAttr = 32;
    v.ExternalAttr = h.Attribute;
    // A link lists as the file of text it is written as.
    if (h.IsLink()) {
        const auto size = static_cast<std::int64_t>(h.LinkTarget(v.TranslateOemChar).size());
        ReportLzhEntry(v, pos, h.EntryName(v.TranslateOemChar), false, size, size, '0', 0);
        return;
    }
    ReportLzhEntry(v, pos, h.EntryName(v.TranslateOemChar), h.IsDirectory(), h.UnpackedSize, h.PackedSize,
                   static_cast<unsigned char>(h.MethodChar()), 0);
}

// ---- ZOO

struct ZooList {
    std::int64_t last = -1;
} g_zoo;

void ZooSetup(TVirOV& v, TStream32& s)
{
    g_zoo = ZooList{};
    const std::int64_t first = ReadZooArchiveHeader(s, v.ArchiveSize);
    if (first < 0) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    v.ArchiveStartOffset = first;
    v.HeaderBlockSize = TZooEntry::kSize;
}

void ZooStep(TVirOV& v, TStream32& s)
{
    // One entry per step: the walk's own rules (forward links, deleted
    // entries, the closing entry) through a walk started at this entry.
    TZooWalk walk(s, v.ArchiveSize, v.ArchiveStartOffset);
    TZooEntry e;
    const TLzhRead r = walk.Next(e);
    if (r != TLzhRead::Entry)
        return EndOrFail(v, r);
    v.NextHeaderOffset = e.NextOffset;
    ClearEntry(v);
    if (e.CommentLength > 0 && e.CommentOffset > 0 && v.CommentBuffer.size() > e.CommentLength &&
        ReadAt(s, e.CommentOffset, v.CommentBuffer.data(), e.CommentLength)) {
        v.CommentBuffer[e.CommentLength] = '\0';
        v.FileComment = v.CommentBuffer.data();
    } else if (!v.CommentBuffer.empty()) {
        v.CommentBuffer[0] = '\0';
    }
    v.FileDate = v.ConvertDate(e.DosDateTime());
    v.VersionMadeBy = e.MajorVersion;
    v.VersionNeeded = e.MinorVersion;
    v.Crc = e.Crc;
    ReportLzhEntry(v, e.Offset, _OemToCharFilter(e.StoredName(), v.TranslateOemChar), false, e.UnpackedSize, e.PackedSize, e.Method, 0);
}

// The walk stops short of the last HeaderBlockSize bytes of the file; a
// header that starts there (too short to be whole), or a position past the
// end, is read by the step itself, so that a cut archive is reported rather
// than ending quietly.
template <void (*Step)(TVirOV&, TStream32&)>
void ReadTail(TVirOV& v, TStream32& s)
{
    if (v.NextHeaderOffset < 0 || v.NextHeaderOffset == v.EndOffset)
        return;
    v.ArchiveStartOffset = v.NextHeaderOffset;
    Step(v, s);
}

}  // namespace

void RegisterLzhListFormats()
{
    TVirOV::RegisterListFormat({atBh, atBhExe}, TListFormat{BhSetup, BhStep, ReadTail<BhStep>});
    TVirOV::RegisterListFormat({atLha, atLhaExe, atLzh, atLzhExe}, TListFormat{LhaSetup, LhaStep, ReadTail<LhaStep>});
    TVirOV::RegisterListFormat({atZoo}, TListFormat{ZooSetup, ZooStep, ReadTail<ZooStep>});
}
