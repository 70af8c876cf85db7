#include "archive/zadunzip.h"

#include "archive/zadcrc.h"
#include "archive/zadexplode.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadreduce.h"
#include "archive/zadshrink.h"
#include "archive/zadzlib.h"
#include "rtl/sysutils.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

constexpr int E_INCONSISTENTLOCAL = 25249;
constexpr std::int32_t kLocalSearch = 32768;
constexpr int kBlock = 32768;

bool ReadAt(TStream32* s, std::int64_t pos, void* buf, std::int32_t n)
{
    if (n == 0)
        return true;
    if (pos < 0 || s->Seek(pos, soBeginning) != pos)
        return false;
    return s->Read(buf, n) == n;
}

bool IsAesMethod(TEncryptionMethod m) { return m == emAES2_128 || m == emAES2_192 || m == emAES2_256; }

// Stored, shrunk, reduced (1 to 4), imploded, deflated and Deflate64.
bool IsDecodedMethod(std::uint32_t m) { return m <= 6 || m == 8 || m == 9; }

// The bytes of packed data in front of which an encrypted entry keeps its
// encryption header (and, for AES, behind which its authentication code).
std::int64_t EncryptionOverhead(const TZipEntry& e)
{
    if (!(e.Flags & 1))
        return 0;
    if (IsAesMethod(e.Encryption))
        return SALT_LENGTH(e.Aes.Strength) + PWD_VER_LENGTH + MAC_LENGTH(0);
    return e.Encryption == emZIP_v2 ? 12 : 0;
}

}  // namespace

// A local header as the extractor reads it.
struct TUnZip::TLocalInfo {
    TLocal header;
    std::string rawName;  // as stored
    std::vector<std::uint8_t> extra;
    std::int64_t dataOffset = 0;
};

// What every entry of a run decodes with: kept from the first entry to the
// last, so that no entry allocates its buffers again.
struct TUnZip::TRunBuffers {
    explicit TRunBuffers(std::int8_t windowBits) : inflater(nullptr, emNone, windowBits), output(kBlock) {}
    TDecompressStream inflater;
    std::vector<std::uint8_t> output;
    TInflateBuffers deflate64;
    TExplodeBuffers explode;
    TShrinkBuffers shrink;
    TReduceBuffers reduce;
    // The current entry's data ran into an error of its own (not its end).
    bool invalidData = false;
};

TUnZip::TUnZip(TComponent* owner) : TUnBase(owner) {}
TUnZip::~TUnZip() = default;

TUnJar::TUnJar(TComponent* owner) : TUnZip(owner) {}

bool TUnZip::SupportsType(TArcType type) const
{
    return type == atZip || type == atZipExe || type == atJar || type == atJarExe || type == atZipMV || type == atZipDS;
}

bool TUnZip::IsDirectoryEntry(const TZipEntry& e) const
{
    return (e.ExternalAttr & 0x10) || (!e.Name.empty() && e.Name.back() == '/');
}

bool TUnJar::IsDirectoryEntry(const TZipEntry& e) const { return !e.Name.empty() && e.Name.back() == '/'; }

TEncryptionMethod TUnZip::GetEncryptionMethod(WORD flags, const TAesHeader& aes, bool strong)
{
    if (!(flags & 1))
        return emNone;
    if (strong || (flags & 0x40))
        return emUnsupported;
    if (aes.Id == EXTRA_AES) {
        if (aes.VendorId != 0x4541 || aes.Strength < 1 || aes.Strength > 3)  // "AE"
            return emUnsupported;
        return static_cast<TEncryptionMethod>(aes.Strength);
    }
    return emZIP_v2;
}

bool TUnZip::VerifyPassword(std::uint8_t* header)
{
    if (!m_current)
        return false;
    return decrypt_pw(header, m_current->Flags, m_current->Crc, static_cast<std::int32_t>(m_current->DosDateTime), Password);
}

void TUnZip::_Extract(TStream32*& inStream, TStream32* outStream)
{
    if (!inStream)
        return;
    try {
        std::unique_ptr<TBufferedReadStream32> buffered;
        // The run's buffers go before the stream they read from.
        struct RunScope {
            TUnZip& z;
            ~RunScope()
            {
                z.m_run.reset();
                z.AES.reset();
                z.m_set.reset();
            }
        } scope{*this};
        // A spanned set is read from its last disk on; a split set found
        // by its local headers alone is read as the one part it is (its end
        // record is not there to say how many follow).
        TStream32* in = nullptr;
        if (ArcType == atZipDS || (ArcType == atZipMV && HeadFlag != THeaderTypeState{htLocal})) {
            if (!OpenSet(inStream))
                return;
            in = m_set.get();
        } else {
            buffered = std::make_unique<TBufferedReadStream32>(inStream);
            in = buffered.get();
        }
        m_run = std::make_unique<TRunBuffers>(maxbits());
        AES = std::make_unique<TzadAES>(in, nullptr);
        HeaderList = std::make_unique<TUnBaseHeaderObj>();
        m_entries.clear();
        if (HeadFlag == THeaderTypeState{htLocal}) {
            if (RecoveryBuildHeadArray(in) > 0)
                RecoveryProcessHeaders(in, outStream);
        } else if (BuildHeadArray(in) > 0) {
            ProcessHeaders(in, outStream);
        }
    } catch (...) {
        // The count so far stands.
    }
    m_current = nullptr;
    if (HeaderList)
        HeaderList->DONE();
    HeaderList.reset();
    m_entries.clear();
    m_records.clear();
}

bool TUnZip::OpenSet(TStream32*& inStream)
{
    // A run on a file it opened hands that file to the reader, which frees
    // it when it opens another part; a lent stream stays its owner's.
    const bool owned = InputIsArchiveFile;
    TStream32* part = inStream;
    if (owned)
        inStream = nullptr;
    if (ArcType == atZipDS) {
        DiskSpann.Init(this);
        if (owned && !DiskSpann.GetDisk(part, 0))
            return false;
    }
    m_lastDisk = End.ThisDisk;
    m_set = std::make_unique<TZipSetReader>(part, owned, m_lastDisk,
                                            [this](int disk, std::int64_t offset, TStream32*& p) { return OpenPart(disk, offset, p); });
    const std::string remark = SetDirectoryRemark();
    if (!remark.empty() || !HeadFlag.Has(htCentral)) {
        RaiseErrorStr(ArchiveFile(), remark, VolumeName, E_BADHEADR);
        return false;
    }
    if (ArcType == atZipMV) {
        // The parts under their own names: their sizes let declared sizes be
        // checked before anything is asked for.
        for (int d = 0; d < m_lastDisk; ++d) {
            int number = d;
            const std::string name = GetNextVolumeName(ArchiveFile(), number, m_lastDisk + 1, true);
            TFileStream32 f(name, fmOpenRead | fmShareDenyNone);
            if (f.Valid())
                m_set->SetPartSize(d, f.Size());
        }
    }
    VolumeNumber = m_lastDisk + 1;
    return true;
}

bool TUnZip::OpenPart(int disk, std::int64_t offset, TStream32*& part)
{
    if (!InputIsArchiveFile)
        return false;  // a lent stream is the only part there is
    if (disk > m_lastDisk) {
        RaiseErrorStr(Filename, "its data runs past the last part of the set", VolumeName, E_SIZEDIFFERENT);
        return false;
    }
    if (ArcType == atZipDS) {
        DiskSpann.DiskNumber = static_cast<WORD>(disk + 1);
        return DiskSpann.GetDisk(part, offset);
    }
    return GetNextZipVolume(part, disk, m_lastDisk + 1);
}

std::int64_t TUnZip::SetPosition(int disk, std::int64_t offset) const
{
    std::int64_t at = 0;
    for (int d = 0; d < disk; ++d) {
        const std::int64_t size = m_set->PartSize(d);
        if (size < 0)
            return -1;
        at += size;
    }
    return SaturatedAdd(at, offset);
}

bool TUnZip::SetRangeHolds(const TZipEntry& e)
{
    const std::int64_t start = SetPosition(e.DiskNumber, e.DataOffset);
    if (start < 0)
        return true;  // the parts before it are not known yet: reading keeps to its size
    const std::int64_t end = SaturatedAdd(start, e.PackedSize);
    const std::int64_t setEnd = SetPosition(m_lastDisk, m_set->PartSize(m_lastDisk));
    if (setEnd >= 0 && end > setEnd) {
        RaiseErrorStr(Filename,
                      "declares " + std::to_string(e.PackedSize) + " packed bytes, the set holds " +
                          std::to_string(setEnd - start) + " after its header",
                      VolumeName, E_SIZEDIFFERENT);
        return false;
    }
    const auto next = std::upper_bound(m_records.begin(), m_records.end(), std::make_pair(e.DiskNumber, e.HeaderOffset),
                                       [](const std::pair<int, std::int64_t>& k, const TRecordAt& r) {
                                           return k < std::make_pair(r.disk, r.offset);
                                       });
    if (next != m_records.end()) {
        const std::int64_t nextAt = SetPosition(next->disk, next->offset);
        if (nextAt >= 0 && end > nextAt) {
            RaiseErrorStr(Filename, "overlaps " + next->name, VolumeName, E_OVERLAP);
            return false;
        }
    }
    return true;
}

bool TUnZip::ReadLocal(TStream32* in, std::int64_t offset, TLocalInfo& local)
{
    std::uint8_t lh[TLocal::kSize];
    if (offset < 0 || offset > in->Size() - TLocal::kSize || !ReadAt(in, offset, lh, TLocal::kSize))
        return false;
    bool coded = false;
    if (VerSig(LoadLe32(lh), htLocal, coded) != htLocal)
        return false;
    if (coded)
        DecodeHeader(lh, htLocal);
    local.header = TLocal::Parse(lh);
    local.rawName.assign(local.header.NameLength, '\0');
    local.extra.assign(local.header.ExtraLength, 0);
    if (!ReadAt(in, offset + TLocal::kSize, local.rawName.data(), local.header.NameLength) ||
        !ReadAt(in, offset + TLocal::kSize + local.header.NameLength, local.extra.data(), local.header.ExtraLength))
        return false;
    if (coded)
        DecodeFilename(local.rawName.data(), local.rawName.size());
    local.dataOffset = offset + TLocal::kSize + local.header.NameLength + local.header.ExtraLength;
    return true;
}

// Data prepended to an archive whose offsets were not adjusted moves every
// local header by the same distance: the first entry's header is searched
// within 32 KB after where it should be, and a header found there counts
// only when it names the entry (a bad offset alone is no displacement).
bool TUnZip::FindDisplacedLocal(TStream32* in, TZipEntry& e, std::int64_t& displacement)
{
    if (e.HeaderOffset < 0 || e.HeaderOffset >= ArchiveSize)
        return false;
    const std::int64_t from = e.HeaderOffset + 1;
    const auto avail = static_cast<std::int32_t>(std::clamp<std::int64_t>(ArchiveSize - from, 0, kLocalSearch));
    std::vector<std::uint8_t> block(static_cast<size_t>(avail));
    if (avail < 4 || !ReadAt(in, from, block.data(), avail))
        return false;
    for (std::int32_t k = 0; k + 4 <= avail; ++k) {
        bool coded = false;
        if (block[static_cast<size_t>(k)] != 0x50 || VerSig(LoadLe32(&block[static_cast<size_t>(k)]), htLocal, coded) != htLocal)
            continue;
        TLocalInfo local;
        if (ReadLocal(in, from + k, local) && local.rawName == e.RawName) {
            displacement = k + 1;
            e.HeaderOffset += displacement;
            return true;
        }
    }
    return false;
}

int TUnZip::BuildHeadArray(TStream32* in)
{
    Timer.Suspend();
    struct Resume {
        TZipTimer& t;
        ~Resume() { t.Resume(); }
    } resume{Timer};
    std::int64_t pos = ArchiveStartOffset;
    std::int64_t displacement = 0;
    std::uint8_t hdr[TCentral::kSize];
    std::int64_t index = 0;
    bool directoryEnded = false;
    while (!GetCancel()) {
        bool coded = false;
        if (pos < 0 || pos > ArchiveSize - 4 || !ReadAt(in, pos, hdr, 4))
            break;
        if (VerSig(LoadLe32(hdr), htCentral, coded) != htCentral) {
            directoryEnded = true;
            break;
        }
        if (pos > ArchiveSize - TCentral::kSize || !ReadAt(in, pos, hdr, TCentral::kSize))
            break;
        if (coded)
            DecodeHeader(hdr, htCentral);
        const TCentral c = TCentral::Parse(hdr);
        std::string raw(c.NameLength, '\0');
        std::vector<std::uint8_t> extra(c.ExtraLength);
        if (!ReadAt(in, pos + TCentral::kSize, raw.data(), c.NameLength) ||
            !ReadAt(in, pos + TCentral::kSize + c.NameLength, extra.data(), c.ExtraLength))
            break;
        if (coded)
            DecodeFilename(raw.data(), raw.size());
        TZipEntry e;
        e.RawName = raw;
        e.Name = ZipEntryName(raw, c.Flags, ZipHostCoding(c.VersionMadeBy), TranslateOemChar, extra.data(), extra.size());
        StoredName = e.Name;
        if (CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec)) {
            TCentral64Hdr h64;
            std::uint32_t p32 = c.PackedSize, u32 = c.UnpackedSize, o32 = c.RelativeOffset;
            ParseExtraField(extra.data(), extra.size(), htCentral, {&p32, &u32, &o32}, h64, e.Aes, StrongEncryptionHeader);
            e.Strong = !StrongEncryptionHeader.empty();
            e.Flags = c.Flags;
            e.Method = c.Method;
            e.DosDateTime = c.DosDateTime;
            e.Crc = c.Crc;
            e.PackedSize = WideValue(p32, h64.HighPacked);
            e.UnpackedSize = WideValue(u32, h64.HighUnpacked);
            e.ExternalAttr = static_cast<std::int32_t>(c.ExternalAttr);
            e.Stamp.Time = ZipExtraModTime(extra.data(), extra.size());
            e.Stamp.Mode = ZipUnixMode(c.VersionMadeBy, c.ExternalAttr);
            e.Encryption = GetEncryptionMethod(c.Flags, e.Aes, e.Strong);
            e.HeaderOffset = SaturatedAdd(WideValue(o32, h64.HighOffset), SfxAdjust + displacement);
            e.CentralHeader.assign(hdr, hdr + TCentral::kSize);
            e.DiskNumber = c.DiskNumberStart;
            // The local header must be where the central header says; for the
            // first entry, data prepended without adjusting the offsets is
            // absorbed by a search. A missing header fails its entry alone.
            // The headers of a set lie on other parts: they are read when
            // their entry is extracted, and no part is past the last.
            TLocalInfo local;
            bool found = false;
            if (m_set) {
                found = static_cast<int>(e.DiskNumber) <= m_lastDisk;
            } else {
                found = ReadLocal(in, e.HeaderOffset, local);
                if (!found && index == 0 && FindDisplacedLocal(in, e, displacement))
                    found = ReadLocal(in, e.HeaderOffset, local);
                e.DataOffset = local.dataOffset;
            }
            if (!found)
                RaiseErrorStr(StoredName, "", VolumeName, E_BADLOCALOFFSET);
            else
                m_entries.push_back(std::move(e));
        }
        ++index;
        pos += TCentral::kSize + c.NameLength + c.ExtraLength + c.CommentLength;
    }
    // The end record's claims, once the whole directory has been read.
    if (directoryEnded && !GetCancel()) {
        const std::string remark = DirectoryRemark(index);
        if (!remark.empty())
            RaiseErrorStr(ArchiveFile(), remark, VolumeName, E_BADHEADR);
    }
    CommitEntries();
    return HeaderList->Count();
}

int TUnZip::RecoveryBuildHeadArray(TStream32* in)
{
    Timer.Suspend();
    struct Resume {
        TZipTimer& t;
        ~Resume() { t.Resume(); }
    } resume{Timer};
    if (OnCorruptZipHeader) {
        bool cancel = true;
        OnCorruptZipHeader(this, HeadFlag, cancel);
        if (cancel)
            return 0;
    }
    std::int64_t pos = std::max<std::int64_t>(ArchiveStartOffset, 0);
    std::uint8_t sig[4];
    if (ReadAt(in, pos, sig, 4) && LoadLe32(sig) == DATA_DESCRIPTOR_SIGNATURE)
        pos += 4;
    TLocalInfo local;
    while (!GetCancel() && ReadLocal(in, pos, local)) {
        const TLocal& l = local.header;
        const std::vector<std::uint8_t>& extra = local.extra;
        TZipEntry e;
        e.RawName = local.rawName;
        e.Name = ZipEntryName(local.rawName, l.Flags, ncUnknown, TranslateOemChar, extra.data(), extra.size());
        TCentral64Hdr h64;
        std::uint32_t p32 = l.PackedSize, u32 = l.UnpackedSize;
        ParseExtraField(extra.data(), extra.size(), htLocal, {&p32, &u32, nullptr}, h64, e.Aes, StrongEncryptionHeader);
        e.Strong = !StrongEncryptionHeader.empty();
        e.Flags = l.Flags;
        e.Method = l.Method;
        e.DosDateTime = l.DosDateTime;
        e.Crc = l.Crc;
        e.PackedSize = WideValue(p32, h64.HighPacked);
        e.UnpackedSize = WideValue(u32, h64.HighUnpacked);
        e.HeaderOffset = pos;
        e.DataOffset = local.dataOffset;
        e.Stamp.Time = ZipExtraModTime(extra.data(), extra.size());
        e.DiskNumber = 1;
        e.Encryption = GetEncryptionMethod(l.Flags, e.Aes, e.Strong);
        StoredName = e.Name;
        std::int64_t next = e.DataEnd();
        if (e.PackedSize <= 0 && (l.Flags & 0x08)) {
            // Sizes and CRC follow the data (written to a pipe): the walk
            // steps to the descriptor, as the lister does, and goes on after
            // it; without one it ends at this entry's data.
            std::uint32_t crc = 0, p32 = 0, u32 = 0;
            const std::int64_t desc = FindDataDescriptor(*in, e.DataOffset, ArchiveSize, crc, p32, u32);
            if (desc < 0) {
                if (!e.Name.empty() && CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec))
                    m_entries.push_back(std::move(e));
                break;
            }
            e.Crc = crc;
            e.PackedSize = p32;
            e.UnpackedSize = u32;
            next = desc + 16;
        }
        if (!e.Name.empty() && CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec))
            m_entries.push_back(std::move(e));
        pos = next;
    }
    CommitEntries();
    return HeaderList->Count();
}

void TUnZip::RefuseOverlaps()
{
    const size_t n = m_entries.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    // A record's place: its part (in a set) and its offset there.
    auto where = [this](size_t i) {
        return std::make_pair(m_set ? static_cast<int>(m_entries[i].DiskNumber) : 0, m_entries[i].HeaderOffset);
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return where(a) < where(b); });
    std::vector<std::string> refusedFor(n);  // what each refused entry overlaps
    // Entries on one record: the first in the directory keeps it.
    for (size_t k = 1, keeper = order[0]; k < n; ++k) {
        if (where(order[k]) == where(keeper))
            refusedFor[order[k]] = m_entries[keeper].Name;
        else
            keeper = order[k];
    }
    // Data that covers the next entry's header, or runs into the central
    // directory. Data claimed past the end of the archive covers nothing:
    // the entry fails on its sizes instead.
    std::vector<size_t> kept;
    for (size_t i : order)
        if (refusedFor[i].empty())
            kept.push_back(i);
    // In a set the data's end is known only once its local header is read
    // (SetRangeHolds): here the records are noted in the order of the set.
    m_records.clear();
    if (m_set) {
        for (size_t i : kept)
            m_records.push_back({static_cast<int>(m_entries[i].DiskNumber), m_entries[i].HeaderOffset, m_entries[i].Name});
        m_records.push_back({m_lastDisk, std::max<std::int64_t>(CentralDirStart, 0), "the central directory"});
        kept.clear();
    }
    for (size_t k = 0; k < kept.size(); ++k) {
        const TZipEntry& x = m_entries[kept[k]];
        const std::int64_t end = x.DataEnd();
        if (end > ArchiveSize)
            continue;
        if (k + 1 < kept.size() && m_entries[kept[k + 1]].HeaderOffset < end)
            refusedFor[kept[k]] = m_entries[kept[k + 1]].Name;
        else if (CentralDirStart >= 0 && x.HeaderOffset < CentralDirStart && end > CentralDirStart)
            refusedFor[kept[k]] = "the central directory";
    }
    std::vector<TZipEntry> honest;
    honest.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (refusedFor[i].empty()) {
            honest.push_back(std::move(m_entries[i]));
            continue;
        }
        RaiseErrorStr(m_entries[i].Name, "overlaps " + refusedFor[i], VolumeName, E_OVERLAP);
    }
    m_entries = std::move(honest);
}

void TUnZip::CommitEntries()
{
    if (!m_entries.empty())
        RefuseOverlaps();
    for (const TZipEntry& e : m_entries) {
        TUnBaseFileInfo info;
        info.DiskNumber = e.DiskNumber;
        info.HeaderOffset = e.HeaderOffset;
        info.ExternalAttr = e.ExternalAttr;
        HeaderList->AddItem(info, e.CentralHeader.empty() ? nullptr : e.CentralHeader.data(),
                            static_cast<WORD>(e.CentralHeader.size()));
        if (e.DosDateTime > static_cast<std::uint32_t>(MaxFileDate))
            MaxFileDate = static_cast<std::int32_t>(e.DosDateTime);
        TotalPackedSize = SaturatedAdd(TotalPackedSize, e.PackedSize);
        TotalUnpackedSize = SaturatedAdd(TotalUnpackedSize, e.UnpackedSize);
    }
}

void TUnZip::ProcessHeaders(TStream32* in, TStream32* out)
{
    RemainingUnpackedSize = TotalUnpackedSize;
    InflateRec.ProgressTotal = TotalUnpackedSize;
    for (int i = 0; i < static_cast<int>(m_entries.size()); ++i) {
        if (GetCancel() || DiskFull)
            break;
        const TZipEntry& e = m_entries[static_cast<size_t>(i)];
        m_current = &e;
        CurrentFileInfo = HeaderList->FileLocationData(i);
        SetEncryptionMethod(e.Encryption);
        AesHeader = e.Aes;
        InflateRec.BitFlag = e.Flags;
        InflateRec.CompressMethod = e.Method;
        InflateRec.PackedSize = e.PackedSize;
        InflateRec.UnpackedSize = e.UnpackedSize;
        EntryDosDate = static_cast<std::int32_t>(e.DosDateTime);
        StoredName = e.Name;
        TLocalInfo local;
        bool located = false;
        if (m_set) {
            // The entry's part, its local header (which may go on into the
            // next part), then its data as far as it declares.
            if (!m_set->SelectDisk(e.DiskNumber, e.HeaderOffset))
                break;
            m_set->FollowUntil(SaturatedAdd(e.HeaderOffset, TLocal::kSize + 2 * 0xFFFF));
            located = ReadLocal(in, e.HeaderOffset, local);
            if (m_set->PartMissing())
                break;
            if (located)
                m_set->FollowUntil(SaturatedAdd(local.dataOffset, e.PackedSize));
            m_entries[static_cast<size_t>(i)].DataOffset = local.dataOffset;
        } else {
            located = ReadLocal(in, e.HeaderOffset, local);
        }
        if (!located || in->Seek(local.dataOffset, soBeginning) != local.dataOffset) {
            RaiseErrorStr(StoredName, "", VolumeName, E_BADLOCALOFFSET);
            AdjustProgress(InflateRec);
            continue;
        }
        // The entry is written under its central name; a local header that
        // names something else is reported, not obeyed.
        if (local.rawName != e.RawName)
            RaiseErrorStr(StoredName, ZipEntryName(local.rawName, local.header.Flags, ncUnknown, TranslateOemChar,
                                                   local.extra.data(), local.extra.size()),
                          VolumeName, E_INCONSISTENTLOCAL);
        if (FileAccessMethod == faFile)
            SetFilename(StoredName);
        else
            Filename = StoredName;
        OpenAndExtractFile(in, out, i, e.ExternalAttr);
    }
    m_current = nullptr;
}

void TUnZip::RecoveryProcessHeaders(TStream32* in, TStream32* out) { ProcessHeaders(in, out); }

bool TUnZip::DeclaredSizesHold(const TZipEntry& e, std::uint32_t method)
{
    if (m_set && !SetRangeHolds(e))
        return false;
    std::string what;
    const std::int64_t data = e.PackedSize - EncryptionOverhead(e);
    if (!m_set && e.DataEnd() > ArchiveSize)
        what = "declares " + std::to_string(e.PackedSize) + " packed bytes, the archive holds " +
               std::to_string(std::max<std::int64_t>(ArchiveSize - e.DataOffset, 0)) + " after its header";
    else if (data < 0)
        what = "declares " + std::to_string(e.PackedSize) + " packed bytes, fewer than its encryption header";
    else if (method == 0 && data != e.UnpackedSize)
        what = "stored, declares " + std::to_string(data) + " packed and " + std::to_string(e.UnpackedSize) +
               " unpacked bytes";
    if (!what.empty()) {
        RaiseErrorStr(Filename, what, VolumeName, E_SIZEDIFFERENT);
        return false;
    }
    return RoomForEntry(e.UnpackedSize);
}

bool TUnZip::OpenAndExtractFile(TStream32* in, TStream32* out, int index, std::int32_t attr)
{
    const TZipEntry& e = m_entries[static_cast<size_t>(index)];
    const bool isDir = IsDirectoryEntry(e);
    TStream32* outStream = out;
    if (FilenameRefused) {
        // Refused by SetFilename (reported there): nothing is written.
        AdjustProgress(InflateRec);
        ForceCrcFail = true;
        return doOnEnd(32, e.Crc);
    }
    if (!doOnBegin(isDir)) {
        AdjustProgress(InflateRec);
        return false;
    }
    try {
        EntryPasswordFailed = false;
        Encrypted = !isDir && (e.Flags & 1);
        if (Encrypted) {
            if (EncryptionMethod == emUnsupported) {
                EntryPasswordFailed = true;
                PasswordFailed = true;
            } else {
                if (EncryptionMethod == emNone)
                    SetEncryptionMethod(emZIP_v2);
                // After a refused password the user is not asked again, but
                // passwords already known are still tried.
                if (!RequestPassword(in, !PasswordFailed)) {
                    EntryPasswordFailed = true;
                    PasswordFailed = true;
                }
            }
        }
        const std::uint32_t method = (e.Method == 99 && e.Aes.Id == EXTRA_AES) ? e.Aes.Method : e.Method;
        if (isDir) {
            NoteFolderStamp(Filename, e.Stamp);
            if (FileAccessMethod == faFile && CreateStoredDirs && !CreateDirEx(Filename))
                ForceCrcFail = true;
            Crc32Val = e.Crc;
        } else if (!IsDecodedMethod(method)) {
            // Nothing is created for a method the library does not decode.
            RaiseErrorStr(Filename, "", VolumeName, E_UNSUPPORTEDMETHOD);
            FailEntry(InflateRec);
        } else if (Encrypted && EntryPasswordFailed) {
            FailEntry(InflateRec);
            Filename = StoredName;
        } else if (!DeclaredSizesHold(e, method)) {
            // Nothing is created for sizes the archive cannot bear out.
            FailEntry(InflateRec);
        } else if (!Open_OutFile(outStream, Filename, StoredName)) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        } else {
            BeginEntryOutput(e.UnpackedSize);
            ExtractFile(InflateRec, outStream, in);
            // Data a decoder found invalid gave a partial file: it fails like
            // a short one and leaves nothing.
            bool good = EntrySizeAgrees(!m_run->invalidData) && !m_run->invalidData && !EntryWriteFailed && !DiskFull;
            // A continuation refused or missing leaves the entry incomplete.
            if (m_set && m_set->PartMissing())
                good = false;
            if (Encrypted && IsAesMethod(EncryptionMethod)) {
                // The authentication code replaces the CRC for AE-2; AE-1
                // entries carry a real CRC as well, and both are checked.
                const bool macOk = AES && AES->zadDecryptEnd();
                const bool crcOk = e.Aes.VendorVersion != 1 || (Crc32Val ^ CRC_MASK) == e.Crc;
                if (!macOk || !crcOk)
                    good = false;
                Crc32Val = e.Crc;
            } else {
                Crc32Val ^= CRC_MASK;
            }
            if (!good) {
                FailEntry(InflateRec);
                DiscardOutput(outStream, Filename);
            } else {
                CloseAndSetDate(outStream, Filename, static_cast<std::int32_t>(e.DosDateTime), attr, e.Stamp);
            }
        }
    } catch (...) {
        ForceCrcFail = true;
        EndEntryOutput(outStream, out, true);
    }
    EndEntryOutput(outStream, out, false);
    return doOnEnd(32, e.Crc);
}

bool TUnZip::ExtractFile(const TInflateRec& recIn, TStream32*& outStream, TStream32* in)
{
    TInflateRec rec = recIn;
    Crc32Val = CRC_MASK;
    m_run->invalidData = false;
    if (m_current)
        rec.PackedSize -= EncryptionOverhead(*m_current);
    InflateRec = rec;
    const std::int64_t dataAt = in->Position();
    std::uint32_t method = rec.CompressMethod;
    if (method == 99 && AesHeader.Id == EXTRA_AES)
        method = AesHeader.Method;
    bool finished = true;
    try {
        switch (method) {
        case 0: finished = Unstore(in, outStream, 32, rec) == 0; break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6: finished = ExtractLegacy(method, in, outStream); break;
        case 8: finished = ExtractInflate32(in, outStream, maxbits()); break;
        case 9: finished = ExtractInflate64(in, outStream, maxbits()); break;
        default:
            RaiseErrorStr(Filename, "", VolumeName, E_UNSUPPORTEDMETHOD);
            AdjustProgress(rec);
            ForceCrcFail = true;
            break;
        }
    } catch (const E_RAISE&) {
        // Reported through OnError already (a full disk, for example); the
        // entry ends here.
        EntryWriteFailed = true;
    }
    // What follows the packed data (an authentication code) is read from
    // its own position, however much of the data the decoder took.
    in->Seek(dataAt + rec.PackedSize, soBeginning);
    return finished;
}

// Shrunk (1), reduced (2 to 5) and imploded (6) entries, through the
// library's own decoders and the run's buffers. A decoder that finds the
// data invalid ends the entry; the shrink and reduce decoders name what
// was wrong.
bool TUnZip::ExtractLegacy(std::uint32_t method, TStream32* in, TStream32*& out)
{
    InflateProcRec.CancelFlag = CancelRef;
    int fault = 0;
    TInflateResult r = TInflateResult::InvalidData;
    if (method == 1)
        r = Unshrink(in, out, InflateRec, InflateProcRec, m_run->shrink, fault);
    else if (method <= 5)
        r = Unreduce(in, out, InflateRec, InflateProcRec, static_cast<int>(method) - 1, m_run->reduce, fault);
    else
        r = Explode(in, out, InflateRec, InflateProcRec, m_run->explode);
    m_run->invalidData = r == TInflateResult::InvalidData;
    if (fault != 0)
        RaiseErrorStr(Filename, "", VolumeName, fault);
    return r == TInflateResult::Ok;
}

bool TUnZip::ExtractInflate32(TStream32* in, TStream32*& out, std::int8_t maxBits)
{
    is64Bit = false;
    return ExtractInflate(in, out, maxBits);
}

bool TUnZip::ExtractInflate64(TStream32* in, TStream32*& out, std::int8_t maxBits)
{
    is64Bit = true;
    return ExtractInflate(in, out, maxBits);
}

// Decodes until the deflate data ends: the data path stops an entry that
// gives more than it declares, and the caller compares what it gave.
bool TUnZip::ExtractInflate(TStream32* in, TStream32*& out, std::int8_t)
{
    const std::int64_t dataAt = in->Position();
    if (is64Bit) {
        InflateProcRec.CancelFlag = CancelRef;
        const TInflateResult r = InflateEx(this, in, out, InflateRec, InflateProcRec, &m_run->deflate64);
        m_run->invalidData = r == TInflateResult::InvalidData;
        in->Seek(dataAt + InflateRec.PackedSize, soBeginning);
        return r == TInflateResult::Ok;
    }
    bool ok = true;
    TDecompressStream& ds = m_run->inflater;
    ds.Restart(in, Encrypted ? EncryptionMethod : emNone, InflateRec.PackedSize);
    ds.CancelRef = CancelRef;
    std::uint8_t* buf = m_run->output.data();
    std::int64_t produced = 0;
    while (!GetCancel()) {
        ProcessMessages();
        const std::uint64_t before = ds.TotalOut();
        const std::int32_t n = ds.Read(buf, kZadTransferSize, kBlock);
        const auto got = static_cast<std::int32_t>(ds.TotalOut() - before);
        if (got > 0) {
            WriteBlockProc(out, buf, false, 32, got, dtData);
            if (EntryWriteFailed)
                break;
            produced += got;
            RemainingUnpackedSize -= std::min<std::int64_t>(got, RemainingUnpackedSize);
        }
        doBranchProgress(produced, InflateRec.UnpackedSize, TotalUnpackedSize);
        if (n < 0) {
            // Z_BUF_ERROR: the packed bytes ran out before the deflate data ended.
            m_run->invalidData = n != Z_BUF_ERROR;
            ok = false;
            break;
        }
        if (ds.StreamEnd() || got == 0)
            break;
    }
    if (RemainingUnpackedSize > 0)
        RemainingUnpackedSize -= std::clamp<std::int64_t>(InflateRec.UnpackedSize - produced, 0, RemainingUnpackedSize);
    // The bytes after the packed data (an authentication code, the next
    // header) are read from their own position.
    ds.Restart(nullptr, emNone, -1);
    in->Seek(dataAt + InflateRec.PackedSize, soBeginning);
    return ok;
}
