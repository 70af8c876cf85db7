// What a run takes over from the old archive or converts at its end: a
// self-extractor's executable stub, the records of kept entries (from the
// part each starts on when the old archive is a split ZIP set), the end
// mark of an LHA header chain, and the gzip step of a TAR.
#include "archive/zadcompress.h"

#include "archive/zaddeflate.h"
#include "archive/zadgbls.h"
#include "archive/zadvolume.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <ctime>

namespace {

// A kept record is copied in blocks of this size, so that a read coming
// short at the end of a part goes on in the next one.
constexpr std::int64_t kCopyBlock = 32768;

// gzip carries raw deflate data with a 32 KB window.
constexpr std::int8_t kGzipWindowBits = -15;

bool InTypes(TArcType t, std::initializer_list<TArcType> set) { return std::find(set.begin(), set.end(), t) != set.end(); }

void PutLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool TCustomCClass::MultiVolumeSource() const { return ArcType == atZipMV && End.ThisDisk > 0; }

void TCustomCClass::CopyStub(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list)
{
    std::int64_t stub = 0;
    if (ArcType == atZipExe || ArcType == atJarExe) {
        // The stub ends where the first entry's record begins, or at the
        // central directory when there is no entry.
        stub = std::max<std::int64_t>(ArchiveStartOffset, 0);
        for (int i = 0; i < list.Count(); ++i)
            if (list.FileLocationData(i).HeaderPos >= 0)
                stub = std::min(stub, list.FileLocationData(i).HeaderPos);
    } else if (InTypes(ArcType, {atAceExe, atArcExe, atArjExe, atBhExe, atCabExe, atLhaExe, atLzhExe, atPakExe, atRarExe})) {
        stub = ArchiveStartOffset;
    }
    if (stub <= 0)
        return;
    oldArchive->SetPosition(0);
    newArchive->Seek(0, soEnd);
    if (newArchive->CopyFrom(oldArchive, stub) != stub)
        throw EReadError(SReadError);
}

void TCustomCClass::CopyRecord(TStream32* oldArchive, TStream32* newArchive, int index, TCompressHeaderObj& list)
{
    TCompressFileInfo& info = list.FileLocationData(index);
    auto* parts = dynamic_cast<TZipSetReader*>(oldArchive);
    if (parts && !parts->SelectDisk(info.Disk, info.HeaderPos)) {
        *CancelRef = true;  // the part was refused: the run ends, nothing changes
        return;
    }
    oldArchive->SetPosition(info.HeaderPos);
    const std::int64_t size = GetTotalRecordSize(oldArchive, newArchive, list.RawHeader(index));
    // A kept entry whose record has no size cannot be copied; leaving it out
    // would break the new archive, so the run fails and the old one stays.
    if (size <= 0 && info.Action == eaKeep)
        throw EReadError(SReadError);
    if (parts)
        parts->FollowUntil(info.HeaderPos + std::max<std::int64_t>(size, 0));
    oldArchive->SetPosition(info.HeaderPos);
    const std::int64_t at = newArchive->Size();
    newArchive->Seek(0, soEnd);
    if (info.Action == eaRename) {
        doPCopy(oldArchive, newArchive, index, list);
    } else {
        std::vector<std::uint8_t> block(static_cast<std::size_t>(kCopyBlock));
        std::int64_t left = size;
        while (left > 0 && !Cancel()) {
            const std::int64_t n = oldArchive->Read(block.data(), std::min(left, kCopyBlock));
            if (n <= 0)
                break;
            newArchive->WriteBuffer(block.data(), n);
            left -= n;
        }
        if (left > 0 && !Cancel()) {
            if (!parts || !parts->PartMissing())
                throw EReadError(SReadError);
            *CancelRef = true;
        }
    }
    info.HeaderPos = at;
}

void TCustomCClass::AppendLhaEnd(TStream32* newArchive)
{
    if (!InTypes(ArcType, {atLha, atLhaExe, atLzh, atLzhExe}))
        return;
    // A size byte of 0 ends the chain of LHA headers. A run that failed
    // never gets here; its archive is discarded.
    const std::uint8_t end = 0;
    newArchive->Seek(0, soEnd);
    newArchive->WriteBuffer(&end, 1);
}

std::string TCustomCClass::TarGzipName() const
{
    return AnsiLowerCase(ExtractFileExt(m_archive)) == ".gz" ? m_archive : m_archive + ".gz";
}

void TCustomCClass::doTarGzip(TStream32* tar, TStream32* gz)
{
    // The gzip member: header with the TAR's name, raw deflate, the CRC-32
    // and the size modulo 2^32.
    const std::string name = Utf8ToOem(ExtractFileName(m_archive));
    std::uint8_t header[10] = {0x1F, 0x8B, 8, 0x08 /* name follows */, 0, 0, 0, 0, 0, 3 /* Unix */};
    PutLe32(header + 4, static_cast<std::uint32_t>(std::time(nullptr)));
    header[8] = DeflateType == dtDeflateX ? 2 : DeflateType == dtDeflateS || DeflateType == dtDeflateF ? 4 : 0;
    gz->WriteBuffer(header, sizeof header);
    gz->WriteBuffer(name.c_str(), static_cast<std::int64_t>(name.size()) + 1);
    tar->SetPosition(0);
    zad_stream_plus plus;
    plus.CancelRef = CancelRef;
    std::uint32_t crc = 0;
    if (!zadCompressStreamProc(tar, gz, plus, crc, DeflateType, nullptr, kGzipWindowBits))
        return;
    std::uint8_t trailer[8];
    PutLe32(trailer, crc);
    PutLe32(trailer + 4, static_cast<std::uint32_t>(tar->Size()));
    gz->Seek(0, soEnd);
    gz->WriteBuffer(trailer, sizeof trailer);
}
