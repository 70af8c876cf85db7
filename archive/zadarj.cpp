#include "zadarj.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadheaders.h"
#include "archive/zadrecords.h"
#include "archive/zadvirov.h"

#include <cstring>

namespace {

// Offsets in the basic header.
constexpr int ARJ_first_hdr_size = 0;
constexpr int ARJ_arj_nbr = 1;
constexpr int ARJ_arj_x_nbr = 2;
constexpr int ARJ_host_os = 3;
constexpr int ARJ_arj_flags = 4;
constexpr int ARJ_method = 5;
constexpr int ARJ_file_type = 6;
constexpr int ARJ_password_modifier = 7;
constexpr int ARJ_time_stamp = 8;
constexpr int ARJ_compsize = 12;
constexpr int ARJ_origsize = 16;
constexpr int ARJ_file_crc = 20;
constexpr int ARJ_file_mode = 26;
constexpr std::uint16_t kHeaderId = 0xEA60;
constexpr std::uint8_t kHostUnix = 2;

// A zero-terminated text from p up to end; false without its zero.
bool TakeText(const std::uint8_t*& p, const std::uint8_t* end, std::string& text)
{
    const void* zero = std::memchr(p, 0, static_cast<size_t>(end - p));
    if (!zero)
        return false;
    text.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(static_cast<const std::uint8_t*>(zero) - p));
    p = static_cast<const std::uint8_t*>(zero) + 1;
    return true;
}

}  // namespace

TArjRead ReadArjHeader(TStream32& s, std::int64_t pos, std::int64_t fileSize, TArjHeader& h)
{
    h = TArjHeader{};
    h.Offset = pos;
    if (pos >= fileSize)
        return TArjRead::End;
    std::uint8_t frame[4];
    if (!TVirOV::ReadAt(s, pos, frame, 4))
        return TArjRead::Cut;
    if (LoadLe16(frame) != kHeaderId)
        return TArjRead::Bad;
    h.BasicSize = LoadLe16(frame + 2);
    if (h.BasicSize == 0)
        return TArjRead::End;
    if (h.BasicSize > TArjHeader::kMaxBasicSize || h.BasicSize < TArjHeader::kMinFirstSize)
        return TArjRead::Bad;
    std::uint8_t b[TArjHeader::kMaxBasicSize + 4];
    if (!TVirOV::ReadAt(s, pos + 4, b, h.BasicSize + 4))
        return TArjRead::Cut;
    if ((Crc32_buf(b, h.BasicSize, CRC_MASK) ^ CRC_MASK) != LoadLe32(b + h.BasicSize))
        return TArjRead::Bad;
    h.FirstSize = b[ARJ_first_hdr_size];
    if (h.FirstSize < TArjHeader::kMinFirstSize || h.FirstSize >= h.BasicSize)
        return TArjRead::Bad;
    h.Version = b[ARJ_arj_nbr];
    h.MinVersion = b[ARJ_arj_x_nbr];
    h.HostOS = b[ARJ_host_os];
    h.Flags = b[ARJ_arj_flags];
    h.Method = b[ARJ_method];
    h.FileType = b[ARJ_file_type];
    h.Modifier = b[ARJ_password_modifier];
    h.TimeStamp = LoadLe32(b + ARJ_time_stamp);
    h.PackedSize = LoadLe32(b + ARJ_compsize);
    h.UnpackedSize = LoadLe32(b + ARJ_origsize);
    h.Crc = LoadLe32(b + ARJ_file_crc);
    h.AccessMode = LoadLe16(b + ARJ_file_mode);
    // The name and the comment stand inside the basic header, nowhere else.
    const std::uint8_t* p = b + h.FirstSize;
    const std::uint8_t* end = b + h.BasicSize;
    if (!TakeText(p, end, h.Name))
        return TArjRead::Bad;
    if (!TakeText(p, end, h.Comment))
        h.Comment.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
    // Extended headers are stepped over by their sizes; positions only grow.
    std::int64_t at = pos + 4 + h.BasicSize + 4;
    for (;;) {
        std::uint8_t size[2];
        if (!TVirOV::ReadAt(s, at, size, 2))
            return TArjRead::Cut;
        at += 2;
        const std::uint16_t n = LoadLe16(size);
        if (n == 0)
            break;
        at += n + 4;
        if (at > fileSize)
            return TArjRead::Cut;
    }
    h.DataOffset = at;
    return TArjRead::Header;
}

std::int32_t TArjHeader::DosDate() const
{
    if (HostOS == kHostUnix)
        return DateTimeToDosDateTime(UnixTimeToDateTime(UnixTime(TimeStamp)));
    return static_cast<std::int32_t>(TimeStamp);
}

TEntryStamp TArjHeader::Stamp() const
{
    TEntryStamp s;
    if (HostOS != kHostUnix)
        return s;
    s.Time = UnixTime(TimeStamp);
    if (FileType == 0 || FileType == 1 || FileType == 3)  // files and folders
        s.Mode = AccessMode & 0777;
    return s;
}

std::string TArjHeader::EntryName(bool translate) const
{
    return ArchiveNameToUtf8(Name, HostOS == kHostUnix ? ncUtf8 : ncOem, translate);
}

std::int32_t TArjHeader::WindowsAttributes() const
{
    if (HostOS != kHostUnix)
        return AccessMode;
    constexpr std::uint16_t kUnixDirectory = 0040000;
    constexpr std::uint16_t kUnixOwnerWrite = 0200;
    std::int32_t attr = (AccessMode & 0170000) == kUnixDirectory ? 0x10 : 0x20;
    if (!(AccessMode & kUnixOwnerWrite))
        attr |= 0x01;
    return attr;
}

// ---- the lister's steps

namespace {

struct ArjWalk {
    bool multiVolume = false;
    int volume = 1;  // of the set, the first being 1
    // A split entry being joined: the totals of its parts so far and where
    // its first header stands.
    bool joining = false;
    std::int64_t packedTotal = 0;
    std::int64_t unpackedTotal = 0;
    std::int64_t firstOffset = 0;
} g_arj;

void ArjSetup(TVirOV& v, TStream32& s)
{
    g_arj = ArjWalk{};
    TArjHeader main;
    if (ReadArjHeader(s, v.ArchiveStartOffset, v.ArchiveSize, main) != TArjRead::Header) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    if (!main.IsMainHeader()) {
        // The first header found is an entry's: the main header before it is
        // damaged (detection went on to the next header id). The entry is
        // listed, the damage said.
        v.RaiseErrorStr(v.ArchiveFile(), kDamagedMainHeader, "0", E_BADHEADR);
        v.HeaderBlockSize = 4;
        return;
    }
    g_arj.multiVolume = main.ContinuesInNext();
    v.ArchiveStartOffset = main.DataOffset;
    v.HeaderBlockSize = 4;
}

// Moves the walk to the next volume, behind its main header; false when
// there is none (the walk has ended).
bool ArjNextVolume(TVirOV& v)
{
    std::string name = v.GetNextVolumeName(v.VolumeName, g_arj.volume);
    if (!v.GetNextVolume(name, g_arj.volume + 1)) {
        v.SetCancel(true);
        return false;
    }
    ++g_arj.volume;
    if (!v.SwitchVolume(name))
        return false;
    TArjHeader main;
    if (ReadArjHeader(*v.VolumeStream, 0, v.ArchiveSize, main) != TArjRead::Header) {
        v.FailWalk(E_BADHEADR, name);
        return false;
    }
    g_arj.multiVolume = main.ContinuesInNext();
    v.NextHeaderOffset = main.DataOffset;
    return true;
}

void ArjStep(TVirOV& v, TStream32& s)
{
    const std::int64_t pos = v.ArchiveStartOffset;
    TArjHeader h;
    switch (ReadArjHeader(s, pos, v.ArchiveSize, h)) {
    case TArjRead::End: v.NextHeaderOffset = v.EndOffset; return;
    case TArjRead::Bad: v.FailWalk(E_BADHEADR); return;
    case TArjRead::Cut: v.FailWalk(E_READERR); return;
    case TArjRead::Header: break;
    }
    // The data of a part that continues may be cut with its volume.
    if (h.NextOffset() > v.ArchiveSize) {
        v.FailWalk(E_READERR);
        return;
    }
    v.NextHeaderOffset = h.NextOffset();
    if (h.ContinuedFromPrevious() && !g_arj.joining) {
        // The tail of an entry that began in an earlier volume.
        return;
    }
    if (!g_arj.joining) {
        g_arj.packedTotal = g_arj.unpackedTotal = 0;
        g_arj.firstOffset = pos;
    }
    g_arj.packedTotal += h.PackedSize;
    g_arj.unpackedTotal += h.UnpackedSize;
    if (h.ContinuesInNext() && !h.IsDirectory()) {
        g_arj.joining = true;
        if (ArjNextVolume(v))
            return;  // reported with its last part
        g_arj.joining = false;
        if (v.WalkFailed() || v.GetCancel())
            return;
    }
    g_arj.joining = false;
    ClearEntry(v);
    v.Filename = h.EntryName(v.TranslateOemChar);
    if (h.IsDirectory() && (v.Filename.empty() || v.Filename.back() != '/'))
        v.Filename += '/';
    v.FileDate = h.HostOS == kHostUnix ? UnixTimeToDateTime(UnixTime(h.TimeStamp)) : v.ConvertDate(h.DosDate());
    v.VersionMadeBy = h.Version;
    v.VersionNeeded = h.MinVersion;
    v.Crc = h.Crc;
    v.Encrypted = h.Garbled();
    v.ExternalAttr = h.WindowsAttributes();
    v.InternalAttr = static_cast<WORD>(v.ExternalAttr);
    v.MethodDetail = h.FileType;
    v.CompressMethod = h.Method;
    v.CompressMethodStr = v.GetCompressMethodStr(h.Method, h.FileType);
    ReportEntry(v, g_arj.firstOffset, h.IsDirectory() || h.IsVolumeLabel(), g_arj.unpackedTotal, g_arj.packedTotal);
}

}  // namespace

void RegisterArjListFormat() { TVirOV::RegisterListFormat({atArj, atArjExe}, TListFormat{ArjSetup, ArjStep, nullptr}); }
