#include "zadrecords.h"

#include "archive/zadgbls.h"
#include "archive/zadheaders.h"
#include "archive/zadvirov.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

// ---- ARC and PAK ------------------------------------------------------------------------

TArcHeader TArcHeader::Parse(const std::uint8_t* p, int n)
{
    std::uint8_t b[kSize] = {};
    std::memcpy(b, p, static_cast<size_t>(std::clamp(n, 0, kSize)));
    TArcHeader h;
    h.Signature = b[0];
    h.Method = b[1];
    const auto* name = reinterpret_cast<const char*>(b + 2);
    const void* zero = std::memchr(name, 0, 13);
    if (zero)
        h.Name.assign(name, static_cast<const char*>(zero));
    h.PackedSize = LoadLe32(b + 15);
    h.DateTime = LoadLe32(b + 19);
    h.Crc = LoadLe16(b + 23);
    h.UnpackedSize = h.Method == 1 ? h.PackedSize : LoadLe32(b + 25);
    return h;
}

bool ArcWalkGoesOn(const TArcHeader& h, bool pak)
{
    if (h.Signature != 0x1A || h.Method == 0)
        return false;
    return pak || h.Method != 31;
}

// ---- RAR ----------------------------------------------------------------------------------

namespace {

constexpr std::uint8_t kRarMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

bool ReadAt(TStream32& s, std::int64_t pos, void* buf, std::int32_t n) { return TVirOV::ReadAt(s, pos, buf, n); }


bool ReadZeroText(TStream32& s, std::int64_t pos, std::int64_t fileSize, int maxLen, std::string& text, bool* cut = nullptr)
{
    if (cut)
        *cut = fileSize - pos < maxLen + 1;
    const std::int64_t room = std::min<std::int64_t>(maxLen + 1, fileSize - pos);
    if (room <= 0)
        return false;
    std::string buf(static_cast<size_t>(room), '\0');
    if (!ReadAt(s, pos, buf.data(), static_cast<std::int32_t>(room)))
        return false;
    const size_t zero = buf.find('\0');
    if (zero == std::string::npos)
        return false;
    text = buf.substr(0, zero);
    return true;
}
}  // namespace

std::uint32_t TRarFileHeader::WindowsAttributes() const
{
    if (HostOS == 3)
        return (Attributes & 0x4000) ? 0x10 : 0x20;
    return Attributes;
}

TEntryStamp TRarFileHeader::Stamp() const
{
    TEntryStamp s;
    if (HostOS == 3 && (Attributes & 0170000) == 0100000)
        s.Mode = static_cast<std::int32_t>(Attributes & 0777);
    return s;
}

bool TRarFileHeader::IsDirectory() const { return (Flags & 0xE0) == 0xE0 || (WindowsAttributes() & 0x10); }

bool IsRar5(TStream32& stream, std::int64_t start)
{
    std::uint8_t b[8];
    return ReadAt(stream, start, b, sizeof b) && std::memcmp(b, "Rar!\x1A\x07\x01\x00", 8) == 0;
}

std::int64_t RarFirstBlock(TStream32& stream, std::int64_t start)
{
    std::uint8_t b[7 + 13];
    if (!ReadAt(stream, start, b, sizeof b) || std::memcmp(b, kRarMarker, 7) != 0 || b[7 + 2] != 0x73)
        return -1;
    const std::uint16_t mainSize = LoadLe16(b + 7 + 5);
    if (mainSize < 7)
        return -1;
    return start + 7 + mainSize;
}

TRarBlock ReadRarBlock(TStream32& stream, std::int64_t pos, std::int64_t size, TRarFileHeader& h, std::int64_t& next)
{
    h = TRarFileHeader{};
    std::uint8_t b[TRarFileHeader::kFixedSize + 8] = {};
    if (pos < 0 || size - pos < TRarFileHeader::kBlockSize || !ReadAt(stream, pos, b, TRarFileHeader::kBlockSize))
        return TRarBlock::End;
    h.HeadCrc = LoadLe16(b);
    h.Type = b[2];
    h.Flags = LoadLe16(b + 3);
    h.HeadSize = LoadLe16(b + 5);
    if (h.HeadSize < TRarFileHeader::kBlockSize)
        return TRarBlock::End;
    if (h.Type == 0x75) {
        next = pos + h.HeadSize;
        return TRarBlock::Skip;
    }
    if (!(h.Flags & 0x8000))
        return TRarBlock::End;
    if (h.HeadSize < 11)
        return TRarBlock::Bad;
    if (size - pos < h.HeadSize)
        return TRarBlock::Cut;
    const int fixed = std::min<int>(h.HeadSize, TRarFileHeader::kFixedSize + 8);
    if (!ReadAt(stream, pos, b, fixed))
        return TRarBlock::Cut;
    std::uint64_t packed = LoadLe32(b + 7);
    const bool isFile = h.Type == 0x74 && !(h.Flags & 0x4000);
    const bool wide = isFile && (h.Flags & 0x100);
    if (wide) {
        if (h.HeadSize < TRarFileHeader::kFixedSize + 8)
            return TRarBlock::Bad;
        packed |= static_cast<std::uint64_t>(LoadLe32(b + 32)) << 32;
    }
    // Positions only move forward and never past the archive.
    if (packed > static_cast<std::uint64_t>(size - pos - h.HeadSize) && !(isFile && (h.Flags & 0x02)))
        return TRarBlock::Cut;
    next = pos + h.HeadSize + static_cast<std::int64_t>(std::min<std::uint64_t>(packed, static_cast<std::uint64_t>(size - pos - h.HeadSize)));
    if (!isFile)
        return TRarBlock::Skip;
    if (h.HeadSize < TRarFileHeader::kFixedSize)
        return TRarBlock::Bad;
    h.PackedSize = packed;
    h.UnpackedSize = LoadLe32(b + 11) | (wide ? static_cast<std::uint64_t>(LoadLe32(b + 36)) << 32 : 0);
    h.HostOS = b[15];
    h.FileCrc = LoadLe32(b + 16);
    h.DosDateTime = LoadLe32(b + 20);
    h.UnpackVersion = b[24];
    h.Method = b[25];
    h.NameSize = LoadLe16(b + 26);
    h.Attributes = LoadLe32(b + 28);
    const int nameAt = TRarFileHeader::kFixedSize + (wide ? 8 : 0);
    if (h.NameSize == 0 || nameAt + h.NameSize > h.HeadSize)
        return TRarBlock::Bad;
    h.RawName.assign(h.NameSize, '\0');
    if (!ReadAt(stream, pos + nameAt, h.RawName.data(), h.NameSize))
        return TRarBlock::Bad;
    return TRarBlock::File;
}

std::string RarEntryName(const TZipCommon& c, const TRarFileHeader& h)
{
    if (h.IsUnicode())
        return ArchiveNameToUtf8(c.DecodeRarFileName(h.RawName, h.NameSize), ncUtf8, false);
    // Without the Unicode form, RAR on Unix (3) and BeOS (5) stores the
    // system's UTF-8, on DOS, OS/2 and Windows code page 437.
    std::string raw = h.RawName.substr(0, h.RawName.find('\0'));
    return ArchiveNameToUtf8(raw, h.HostOS == 3 || h.HostOS == 5 ? ncUtf8 : ncOem, c.TranslateOemChar);
}

// ---- the lister's steps -------------------------------------------------------------------

// Counts and reports the current entry when the masks select it; a folder
// is shown only with ShowEmptyDirs and never counted.
void ReportEntry(TVirOV& v, std::int64_t offset, bool isDir, std::int64_t unpacked, std::int64_t packed)
{
    if (v.OnReadFile)
        v.OnReadFile(&v, v.Filename);
    if (!CheckWildCard1(&v, v.Filename, v.FileSpec, &v.ExcludeSpec))
        return;
    if (isDir) {
        if (!v.ShowEmptyDirs)
            return;
    } else {
        ++v.FileCount;
        v.IncTotals(unpacked, packed);
    }
    v.PackedSize = packed;
    v.UnpackedSize = unpacked;
    v.Ratio = static_cast<BYTE>(CalcRatio(packed, unpacked));
    v.doRead(offset);
}

void ClearEntry(TVirOV& v)
{
    v.VersionMadeBy = v.VersionNeeded = 0;
    v.Crc = 0;
    v.Encrypted = false;
    v.InternalAttr = 0;
    v.ExternalAttr = 0x20;
    v.MethodDetail = 0;
    v.HostOS = osMsdos;
}

bool ReadCabinetSetInfo(TStream32& s, std::int64_t start, std::int64_t fileSize, TCabinetSetInfo& info)
{
    // CFHEADER: "MSCF", reserved (4), cbCabinet (4), reserved (4),
    // coffFiles (4) at 16, reserved (4), minor (1) at 24, major (1),
    // cFolders (2) at 26, cFiles (2) at 28, flags (2) at 30, setID (2) at
    // 32, iCabinet (2) at 34; then with flag 4 the reserve sizes, with flag
    // 1 the previous cabinet's and disk's names, with flag 2 the next's.
    info = TCabinetSetInfo{};
    std::uint8_t h[36];
    if (!ReadAt(s, start, h, sizeof h) || std::memcmp(h, "MSCF", 4) != 0)
        return false;
    info.Flags = LoadLe16(h + 30);
    info.Files = LoadLe16(h + 28);
    info.Minor = h[24];
    info.Major = h[25];
    info.SetId = LoadLe16(h + 32);
    info.Index = LoadLe16(h + 34);
    info.FirstFile = LoadLe32(h + 16);
    std::int64_t pos = start + 36;
    if (info.Flags & 0x04) {
        std::uint8_t r[4];
        if (!ReadAt(s, pos, r, 4))
            return false;
        pos += 4 + LoadLe16(r);
    }
    if (info.Flags & 0x01) {
        if (!ReadZeroText(s, pos, fileSize, 255, info.PrevCabinet))
            return false;
        pos += info.PrevCabinet.size() + 1;
        if (!ReadZeroText(s, pos, fileSize, 255, info.PrevDisk))
            return false;
        pos += info.PrevDisk.size() + 1;
    }
    if (info.Flags & 0x02) {
        if (!ReadZeroText(s, pos, fileSize, 255, info.NextCabinet) ||
            !ReadZeroText(s, pos + info.NextCabinet.size() + 1, fileSize, 255, info.NextDisk))
            return false;
        pos += info.NextCabinet.size() + 1 + info.NextDisk.size() + 1;
    }
    std::uint8_t folder[8];
    if (LoadLe16(h + 26) > 0 && ReadAt(s, pos, folder, 8))
        info.FirstMethod = LoadLe16(folder + 6);
    return true;
}

namespace {

// A zero-terminated text of at most maxLen bytes at pos, within the file;
// false when it has no end there (cut: the file ended first).

// ---- ARC and PAK

struct ArcWalk {
    std::string dirPrefix;
} g_arc;

void ArcSetup(TVirOV& v, TStream32&)
{
    g_arc = ArcWalk{};
    v.HeaderBlockSize = TArcHeader::kSize;
}

void ArcStep(TVirOV& v, TStream32&)
{
    const bool pak = v.ArcType == atPak || v.ArcType == atPakExe;
    const std::int64_t pos = v.ArchiveStartOffset;
    const TArcHeader h = TArcHeader::Parse(v.HeaderBlock.data(), TArcHeader::kSize);
    if (!ArcWalkGoesOn(h, pak)) {
        v.NextHeaderOffset = v.EndOffset;
        return;
    }
    ClearEntry(v);
    const bool isDir = !pak && h.IsDirectory();
    std::int64_t packed = h.PackedSize;
    std::int64_t unpacked = h.UnpackedSize;
    std::string name = _OemToCharFilter(h.Name, v.TranslateOemChar);
    if (isDir) {
        g_arc.dirPrefix += name + "/";
        v.Filename = g_arc.dirPrefix;
        packed = unpacked = 0;
    } else {
        v.Filename = g_arc.dirPrefix + name;
    }
    v.NextHeaderOffset = pos + h.HeaderSize() + packed;
    v.FileDate = v.ConvertDate(h.DosDateTime());
    v.Crc = h.Crc;
    v.MethodDetail = h.Method;
    v.CompressMethod = h.Method;
    v.CompressMethodStr = v.GetCompressMethodStr(h.Method, 0);
    v.ExternalAttr = v.InternalAttr = isDir ? 0x10 : 0x20;
    ReportEntry(v, pos, isDir || (pak && h.Method == 30), unpacked, packed);
}

// The walk stops where fewer bytes than a header remain: the end mark
// (1A 00) or nothing. A header begun there and cut off is reported, never
// taken for the end.
void ArcTail(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.NextHeaderOffset;
    if (pos < 0 || pos >= v.ArchiveSize || pos == v.EndOffset)
        return;
    std::uint8_t b[TArcHeader::kSize] = {};
    const auto avail = static_cast<std::int32_t>(std::min<std::int64_t>(v.ArchiveSize - pos, TArcHeader::kSize));
    if (!ReadAt(s, pos, b, avail))
        return;
    const TArcHeader h = TArcHeader::Parse(b, avail);
    const bool pak = v.ArcType == atPak || v.ArcType == atPakExe;
    if (avail < 2 || !ArcWalkGoesOn(h, pak))
        return;
    if (avail < h.HeaderSize()) {
        v.FailWalk(E_BADHEADR, {}, "the header at " + std::to_string(pos) + " is cut off");
        return;
    }
}

// ---- cabinets

struct CabWalk {
    int filesLeft = 0;
    WORD flags = 0;
    WORD method = 0;
    BYTE minor = 0, major = 0;
    std::string nextCabinet, nextDisk;
    bool continued = false;  // the walk came from the previous cabinet
} g_cab;

// Reads the cabinet header at start into g_cab; the first file entry's
// position, or -1 when there is no cabinet there.
std::int64_t ReadCabinetHeader(TStream32& s, std::int64_t start, std::int64_t fileSize)
{
    TCabinetSetInfo info;
    if (!ReadCabinetSetInfo(s, start, fileSize, info))
        return -1;
    CabWalk c;
    c.flags = info.Flags;
    c.filesLeft = info.Files;
    c.minor = info.Minor;
    c.major = info.Major;
    c.nextCabinet = info.NextCabinet;
    c.nextDisk = info.NextDisk;
    c.method = info.FirstMethod;
    g_cab = c;
    return start + info.FirstFile;
}

void CabSetup(TVirOV& v, TStream32& s)
{
    g_cab = CabWalk{};
    const std::int64_t first = ReadCabinetHeader(s, v.ArchiveStartOffset, v.ArchiveSize);
    if (first < 0) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    v.ArchiveStartOffset = first;
    v.HeaderBlockSize = 16;
}

// Moves the walk to the next cabinet of a set, when the header names one.
void CabNextCabinet(TVirOV& v)
{
    if (!(g_cab.flags & 0x02) || g_cab.nextCabinet.empty()) {
        v.NextHeaderOffset = v.EndOffset;
        return;
    }
    // Only the file-name part of the stored name is used, in the set's folder.
    std::string name = HeaderVolumeName(v.VolumeName, g_cab.nextCabinet);
    if (name.empty() || SameText(name, v.VolumeName) ||
        !v.GetNextVolume(name, v.VolumeNumberRef ? *v.VolumeNumberRef + 1 : 1, true)) {
        v.NextHeaderOffset = v.EndOffset;
        if (!name.empty() && !SameText(name, v.VolumeName))
            v.SetCancel(true);
        return;
    }
    const std::string disk = g_cab.nextDisk;
    if (!v.SwitchVolume(name))
        return;
    const std::int64_t first = ReadCabinetHeader(*v.VolumeStream, 0, v.ArchiveSize);
    if (first < 0) {
        v.FailWalk(E_BADHEADR, name);
        return;
    }
    v.NextHeaderOffset = first;
    g_cab.continued = true;
}

void CabStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    if (g_cab.filesLeft <= 0) {
        CabNextCabinet(v);
        return;
    }
    --g_cab.filesLeft;
    const std::uint8_t* e = v.HeaderBlock.data();
    std::string raw;
    bool cut = false;
    if (!ReadZeroText(s, pos + 16, v.ArchiveSize, 255, raw, &cut)) {
        v.FailWalk(cut ? E_READERR : E_BADHEADR);
        return;
    }
    v.NextHeaderOffset = pos + 16 + raw.size() + 1;
    // A file that runs on from the previous cabinet was listed there.
    const WORD folder = LoadLe16(e + 8);
    if (g_cab.continued && (folder == 0xFFFD || folder == 0xFFFF)) {
        if (g_cab.filesLeft == 0 && !v.GetCancel())
            CabNextCabinet(v);
        return;
    }
    ClearEntry(v);
    const WORD attr = LoadLe16(e + 14);
    // Attribute 0x80 marks a UTF-8 name.
    v.Filename = (attr & 0x80) ? DOSToUnixFilename(raw) : _OemToCharFilter(raw, v.TranslateOemChar);
    const std::int64_t size = LoadLe32(e);
    v.FileDate = v.ConvertDate(static_cast<std::int32_t>((static_cast<std::uint32_t>(LoadLe16(e + 10)) << 16) | LoadLe16(e + 12)));
    v.VersionMadeBy = g_cab.minor;
    v.VersionNeeded = g_cab.major;
    v.CompressMethod = g_cab.method;
    v.CompressMethodStr = v.GetCompressMethodStr(g_cab.method, 0);
    v.ExternalAttr = v.InternalAttr = attr;
    ReportEntry(v, pos, attr & 0x10, size, size);
    v.Ratio = 0;
    if (g_cab.filesLeft == 0 && !v.GetCancel())
        CabNextCabinet(v);
}

// ---- RAR

struct RarWalk {
    std::int64_t packedTotal = 0;
    int volumes = 0;
} g_rar;

void RarSetup(TVirOV& v, TStream32& s)
{
    g_rar = RarWalk{};
    const std::int64_t first = RarFirstBlock(s, v.ArchiveStartOffset);
    if (first < 0 && IsRar5(s, v.ArchiveStartOffset)) {
        v.FailWalk(E_UNSUPPORTEDVERSION, {}, kRar5Remark);
        return;
    }
    if (first < 0) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    v.ArchiveStartOffset = first;
    v.HeaderBlockSize = TRarFileHeader::kBlockSize;
}

// Opens the volume after the current one; false when there is none.
bool RarNextVolume(TVirOV& v)
{
    std::string name = v.GetNextVolumeName(v.VolumeName, g_rar.volumes);
    // Asked for by its place in the set, as the other formats' volumes are.
    if (!v.GetNextVolume(name, RarVolumeOrdinal(v.ArchiveFile()) + g_rar.volumes + 1)) {
        v.SetCancel(true);
        return false;
    }
    ++g_rar.volumes;
    if (!v.SwitchVolume(name))
        return false;
    const std::int64_t first = RarFirstBlock(*v.VolumeStream, 0);
    if (first < 0) {
        v.FailWalk(E_READERR, name);
        return false;
    }
    v.NextHeaderOffset = first;
    return true;
}

void RarStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    TRarFileHeader h;
    std::int64_t next = v.EndOffset;
    switch (ReadRarBlock(s, pos, v.ArchiveSize, h, next)) {
    case TRarBlock::End: v.NextHeaderOffset = v.EndOffset; return;
    case TRarBlock::Bad: v.FailWalk(E_BADHEADR); return;
    case TRarBlock::Cut: v.FailWalk(E_READERR); return;
    case TRarBlock::Skip: v.NextHeaderOffset = next; return;
    case TRarBlock::File: break;
    }
    v.NextHeaderOffset = next;
    ClearEntry(v);
    v.Filename = RarEntryName(v, h);
    const bool isDir = h.IsDirectory();
    if (isDir && (v.Filename.empty() || v.Filename.back() != '/'))
        v.Filename += '/';
    g_rar.packedTotal = h.ContinuedFromPrevious() ? g_rar.packedTotal + static_cast<std::int64_t>(h.PackedSize)
                                                  : static_cast<std::int64_t>(h.PackedSize);
    if (h.ContinuedInNext() && !isDir) {
        if (RarNextVolume(v))
            return;  // reported with its last part
        if (v.WalkFailed() || v.FileCount == 0)
            return;
    }
    v.FileDate = v.ConvertDate(static_cast<std::int32_t>(h.DosDateTime));
    v.VersionMadeBy = h.UnpackVersion;
    v.Crc = h.FileCrc;
    v.Encrypted = h.IsEncrypted();
    v.HostOS = h.HostOS;
    v.ExternalAttr = static_cast<std::int32_t>(h.WindowsAttributes());
    v.InternalAttr = static_cast<WORD>(v.ExternalAttr);
    v.CompressMethod = h.Method;
    v.CompressMethodStr = v.GetCompressMethodStr(h.Method, 0);
    const std::int64_t unpacked = static_cast<std::int64_t>(std::min<std::uint64_t>(h.UnpackedSize, INT64_MAX));
    ReportEntry(v, pos, isDir, unpacked, h.ContinuedInNext() ? 0 : g_rar.packedTotal);
}

// ---- ACE

struct AceWalk {
    WORD madeBy = 0;
    std::int64_t packedTotal = 0;
    int volumes = 0;
} g_ace;

// Reads the main header at start; where the first file header lies, or -1.
std::int64_t AceMainHeader(TStream32& s, std::int64_t start)
{
    std::uint8_t m[31];
    if (!ReadAt(s, start, m, sizeof m) || std::memcmp(m + 7, "**ACE**", 7) != 0)
        return -1;
    g_ace.madeBy = m[15];
    return start + 4 + LoadLe16(m + 2);
}

void AceSetup(TVirOV& v, TStream32& s)
{
    g_ace = AceWalk{};
    const std::int64_t first = AceMainHeader(s, v.ArchiveStartOffset);
    if (first < 0) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    v.ArchiveStartOffset = first;
    v.HeaderBlockSize = 35;
}

void AceStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    const std::uint8_t* b = v.HeaderBlock.data();
    const WORD headSize = LoadLe16(b + 2);
    if (b[4] != 1) {
        v.NextHeaderOffset = v.EndOffset;
        return;
    }
    const WORD flags = LoadLe16(b + 5);
    const std::int64_t packed = LoadLe32(b + 7);
    const std::int64_t unpacked = LoadLe32(b + 11);
    const WORD nameLen = LoadLe16(b + 33);
    // The name lies within the header.
    if (35 + nameLen > 4 + headSize) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    std::string raw(nameLen, '\0');
    if (!ReadAt(s, pos + 35, raw.data(), nameLen)) {
        v.FailWalk(E_READERR);
        return;
    }
    v.NextHeaderOffset = pos + 4 + headSize + packed;
    ClearEntry(v);
    v.Filename = _OemToCharFilter(raw, v.TranslateOemChar);
    g_ace.packedTotal = (flags & 0x1000) ? g_ace.packedTotal + packed : packed;
    v.FileDate = v.ConvertDate(static_cast<std::int32_t>(LoadLe32(b + 15)));
    v.VersionMadeBy = v.VersionNeeded = g_ace.madeBy;
    v.Crc = LoadLe32(b + 23);
    v.Encrypted = flags & 0x4000;
    v.ExternalAttr = static_cast<std::int32_t>(LoadLe32(b + 19));
    v.InternalAttr = static_cast<WORD>(v.ExternalAttr);
    v.CompressMethod = b[28];
    v.CompressMethodStr = v.GetCompressMethodStr(b[28], 0);
    const bool isDir = v.ExternalAttr & 0x10;
    if (!(flags & 0x1000) || isDir)
        ReportEntry(v, pos, isDir, unpacked, g_ace.packedTotal);
    if ((flags & 0x2000) && !v.GetCancel()) {
        std::string name = v.GetNextVolumeName(v.VolumeName, g_ace.volumes);
        if (!v.GetNextVolume(name, g_ace.volumes + 1)) {
            v.SetCancel(true);
            return;
        }
        ++g_ace.volumes;
        if (!v.SwitchVolume(name))
            return;
        const std::int64_t first = AceMainHeader(*v.VolumeStream, 0);
        if (first < 0)
            v.FailWalk(E_BADHEADR, name);
        else
            v.NextHeaderOffset = first;
    }
}

// ---- HA

void HaSetup(TVirOV& v, TStream32&)
{
    v.ArchiveStartOffset = 3;
    v.HeaderBlockSize = 18;
}

void HaStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    const std::uint8_t* b = v.HeaderBlock.data();
    std::string path, name;
    if (!ReadZeroText(s, pos + 18, v.ArchiveSize, 255, path) ||
        !ReadZeroText(s, pos + 18 + path.size() + 1, v.ArchiveSize, 255, name)) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    const std::int64_t afterName = pos + 18 + path.size() + 1 + name.size() + 1;
    std::uint8_t mdiLength = 0;
    if (!ReadAt(s, afterName, &mdiLength, 1)) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    const std::int64_t packed = LoadLe32(b + 2);
    const std::int64_t unpacked = LoadLe32(b + 6);
    // The next entry starts behind the machine information and the data;
    // its block one byte before it.
    v.NextHeaderOffset = afterName + 1 + mdiLength + packed - 1;
    ClearEntry(v);
    v.SetFilename(name);
    v.FileDate = Now();
    v.VersionMadeBy = v.VersionNeeded = b[1] >> 4;
    v.CompressMethod = b[1] & 0x0F;
    v.CompressMethodStr = v.GetCompressMethodStr(v.CompressMethod, 0);
    v.Crc = LoadLe32(b + 10);
    ReportEntry(v, pos, false, unpacked, packed);
}

// ---- MsGZ

void MsGzSetup(TVirOV& v, TStream32& s)
{
    std::uint8_t m[54];
    if (!ReadAt(s, v.ArchiveStartOffset, m, sizeof m))
        return;
    std::int64_t pos = LoadLe32(m + 41);
    while (pos > 0 && pos < v.ArchiveSize) {
        std::uint8_t head[6];
        if (!ReadAt(s, pos, head, 1))
            return;
        if (head[0] == 0) {
            v.ArchiveStartOffset = pos + 1;
            v.HeaderBlockSize = 29;
            return;
        }
        const WORD length = ReadAt(s, pos, head, 6) ? LoadLe16(head + 4) : 0;
        if (length == 0)
            return;  // a block that does not move on ends the walk
        pos += length;
    }
}

void MsGzStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    const std::uint8_t* b = v.HeaderBlock.data();
    const std::uint32_t entryLength = LoadLe32(b + 22);
    std::string name(b[28], '\0');
    if (entryLength == 0 || !ReadAt(s, pos + 29, name.data(), b[28])) {
        v.NextHeaderOffset = v.EndOffset;
        return;
    }
    v.NextHeaderOffset = pos + entryLength;
    ClearEntry(v);
    v.Filename = name;
    const std::uint32_t dt = LoadLe32(b + 14);
    v.FileDate = v.ConvertDate(static_cast<std::int32_t>((dt >> 16) | (dt << 16)));
    v.CompressMethodStr.clear();
    v.CompressMethod = 0;
    v.ExternalAttr = static_cast<std::int32_t>(LoadLe32(b + 18));
    v.InternalAttr = static_cast<WORD>(v.ExternalAttr);
    ReportEntry(v, LoadLe32(b + 10), false, LoadLe32(b + 2), LoadLe32(b + 6));
}

}  // namespace

void RegisterRecordListFormats()
{
    TVirOV::RegisterListFormat({atArc, atArcExe, atPak, atPakExe}, TListFormat{ArcSetup, ArcStep, ArcTail});
    TVirOV::RegisterListFormat({atCab, atCabExe}, TListFormat{CabSetup, CabStep, nullptr});
    TVirOV::RegisterListFormat({atRar, atRarExe}, TListFormat{RarSetup, RarStep, nullptr});
    TVirOV::RegisterListFormat({atAce, atAceExe}, TListFormat{AceSetup, AceStep, nullptr});
    TVirOV::RegisterListFormat({atHA}, TListFormat{HaSetup, HaStep, nullptr});
    TVirOV::RegisterListFormat({atMsGZ}, TListFormat{MsGzSetup, MsGzStep, nullptr});
}

namespace {

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

int RarVolumeOrdinal(const std::string& path)
{
    std::string name = ExtractFileName(path);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return 1;
    const std::string ext = name.substr(dot + 1);
    if (ext == "rar") {
        const size_t part = name.rfind(".part", dot);
        const std::string digits = part == std::string::npos ? std::string() : name.substr(part + 5, dot - part - 5);
        return AllDigits(digits) && digits.size() <= 4 ? std::max(std::stoi(digits), 1) : 1;
    }
    if (ext.size() == 3 && ext[0] >= 'r' && ext[0] <= 'z' && AllDigits(ext.substr(1)))
        return (ext[0] - 'r') * 100 + std::stoi(ext.substr(1)) + 2;
    return 1;
}
