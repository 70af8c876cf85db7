#include "archive/zadgztarlist.h"

#include "archive/zadgbls.h"
#include "archive/zadgzip.h"
#include "archive/zadtar.h"

#include <algorithm>

namespace {

TDateTime DateOfUnix(TVirOV& v, std::int64_t seconds)
{
    if (seconds <= 0)
        return v.ConvertDate(v.ArchiveDate);
    return UnixTimeToDateTime(UnixTime(seconds));
}

void ReportEntry(TVirOV& v, std::int64_t offset)
{
    v.Ratio = static_cast<BYTE>(CalcRatio(v.PackedSize, v.UnpackedSize));
    if (v.ListOperation == opFileOnly) {
        if (v.QueryList)
            v.QueryList->Add(v.Filename);
        return;
    }
    v.doRead(offset);
}

// The one entry of a compressed file. Its unpacked size is the trailer's
// (the size modulo 2^32 of the last member), never shown below the packed size.
void GzipStep(TVirOV& v, TStream32& stream)
{
    v.NextHeaderOffset = v.EndOffset;
    TGzipHeader h;
    if (!ReadGzipHeader(stream, 0, h))
        return;
    v.GZipMagic = h.Magic;
    v.Filename = GzipEntryName(h, v.ArchiveFile());
    if (v.OnReadFile)
        v.OnReadFile(&v, v.Filename);
    v.Crc = 0;
    v.Encrypted = false;
    v.PackedSize = v.UnpackedSize = std::max<std::int64_t>(v.ArchiveSize - (h.DataOffset + 3), 0);
    v.FileDate = DateOfUnix(v, h.IsGzip() ? h.MTime : 0);
    if (h.IsGzip()) {
        std::uint8_t t[8];
        if (v.ArchiveSize >= h.DataOffset + 8 && TVirOV::ReadAt(stream, v.ArchiveSize - 8, t, 8)) {
            v.Crc = t[0] | (t[1] << 8) | (t[2] << 16) | (static_cast<std::uint32_t>(t[3]) << 24);
            v.UnpackedSize = t[4] | (t[5] << 8) | (t[6] << 16) | (static_cast<std::int64_t>(t[7]) << 24);
        }
        v.Encrypted = (h.Flags & 0x20) != 0;
        v.PackedSize = std::max<std::int64_t>(v.ArchiveSize - h.DataOffset - 8, 0);
    }
    v.UnpackedSize = std::max(v.UnpackedSize, v.PackedSize);
    ++v.FileCount;
    v.ExternalAttr = v.InternalAttr = 0;
    v.VersionMadeBy = v.VersionNeeded = 0;
    v.CompressMethod = h.Method;
    v.CompressMethodStr = v.GetCompressMethodStr(h.Method, h.Flags);
    v.IncTotals(v.UnpackedSize, v.PackedSize);
    ReportEntry(v, v.ArchiveStartOffset);
}

// One TAR entry per step, with the long-name and pax records before it.
void TarStep(TVirOV& v, TStream32& stream)
{
    TTarReader reader(stream, v.ArchiveStartOffset);
    TTarEntry e;
    const TTarReader::TStep step = reader.Next(e);
    if (step == TTarReader::TStep::BadHeader) {
        v.FailWalk(E_BADHEADR);
        return;
    }
    if (step == TTarReader::TStep::End) {
        v.NextHeaderOffset = v.EndOffset;
        return;
    }
    v.NextHeaderOffset = reader.Position();
    if (e.Name.empty() || !e.Listed())
        return;
    v.Filename = e.Name;
    if (v.OnReadFile)
        v.OnReadFile(&v, v.Filename);
    if (!CheckWildCard2(&v, v.Filename, v.FileSpec, v.RecurseDirs, &v.ExcludeSpec))
        return;
    if (e.IsDir() && !v.ShowEmptyDirs)
        return;
    v.FileDate = e.HasMTime ? UnixTimeToDateTime(UnixTime(e.MTime, e.MTimeNs)) : kFallbackDate;
    v.PackedSize = e.IsDir() ? 0 : e.Size;
    v.UnpackedSize = e.IsDir() ? 0 : e.FileSize();
    v.Crc = e.CheckSum;
    v.Encrypted = false;
    v.ExternalAttr = v.InternalAttr = e.IsDir() ? 16 : 0;
    v.VersionMadeBy = v.VersionNeeded = 0;
    v.CompressMethod = 0;
    v.CompressMethodStr = e.IsDir() ? std::string("<Dir>") : v.GetCompressMethodStr(0, 0);
    ++v.FileCount;
    v.IncTotals(v.UnpackedSize, v.PackedSize);
    ReportEntry(v, e.HeaderOffset);
}

} // namespace

TListFormat GzipListFormat()
{
    // The block read first is the shortest header there is, compress's three
    // bytes; the step reads the rest itself.
    return {[](TVirOV& v, TStream32&) {
                v.HeaderBlockSize = 3;
                v.ArchiveStartOffset = 0;
            },
            GzipStep, nullptr};
}

TListFormat TarListFormat()
{
    return {[](TVirOV& v, TStream32&) {
                v.HeaderBlockSize = kTarBlock;
                v.ArchiveStartOffset = 0;
            },
            TarStep, nullptr};
}
