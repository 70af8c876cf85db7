#include "archive/zadunzip.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadzlib.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int E_BADLOCALOFFSET = 25115;
constexpr int E_INCONSISTENTLOCAL = 25249;
constexpr int E_UNSUPPORTEDMETHOD = 25326;
constexpr int E_UNSUPPORTEDTYPE = 25244;
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

std::string NameOf(const std::string& raw, WORD flags, bool translate)
{
    std::string n = (flags & 0x0800) ? raw : _OemToCharFilter(raw, translate);
    std::replace(n.begin(), n.end(), '\\', '/');
    return n;
}

bool IsAesMethod(TEncryptionMethod m) { return m == emAES2_128 || m == emAES2_192 || m == emAES2_256; }

}  // namespace

void ReadZip64Sizes(const std::uint8_t* extra, std::size_t len, bool central, std::int64_t& unpacked,
                    std::int64_t& packed, std::int64_t& offset)
{
    TBoundedReader r(extra, len);
    while (r.Has(4)) {
        std::uint16_t id = 0, size = 0;
        r.U16(id);
        r.U16(size);
        if (!r.Has(size))
            return;
        if (id == EXTRA_ZIP64) {
            TBoundedReader f(r.Here(), size);
            std::uint64_t v = 0;
            if (unpacked == 0xFFFFFFFFll && f.U64(v))
                unpacked = static_cast<std::int64_t>(v & 0x7FFFFFFFFFFFFFFFull);
            if (packed == 0xFFFFFFFFll && f.U64(v))
                packed = static_cast<std::int64_t>(v & 0x7FFFFFFFFFFFFFFFull);
            if (central && offset == 0xFFFFFFFFll && f.U64(v))
                offset = static_cast<std::int64_t>(v & 0x7FFFFFFFFFFFFFFFull);
            return;
        }
        r.Skip(size);
    }
}

TUnZip::TUnZip(TComponent* owner) : TUnBase(owner) {}
TUnZip::~TUnZip() = default;

TUnJar::TUnJar(TComponent* owner) : TUnZip(owner) {}

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
    try {
        if (ArcType == atZipDS || ArcType == atZipMV) {
            RaiseErrorStr(ArchiveFile(), "", VolumeName, E_UNSUPPORTEDTYPE);
            return;
        }
        if (!inStream)
            return;
        TBufferedReadStream32 buffered(inStream);
        TStream32* in = &buffered;
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
    AES.reset();
    m_current = nullptr;
    if (HeaderList)
        HeaderList->DONE();
    HeaderList.reset();
    m_entries.clear();
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
    int index = 0;
    while (!GetCancel() && pos >= 0 && pos + TCentral::kSize <= ArchiveSize && ReadAt(in, pos, hdr, TCentral::kSize)) {
        bool coded = false;
        if (VerSig(LoadLe32(hdr), htCentral, coded) != htCentral)
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
        e.Name = NameOf(raw, c.Flags, TranslateOemChar);
        StoredName = e.Name;
        if (CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec)) {
            TCentral64Hdr h64;
            std::uint32_t p32 = c.PackedSize, u32 = c.UnpackedSize, o32 = c.RelativeOffset;
            ParseExtraField(extra.data(), extra.size(), htCentral, {&p32, &u32, &o32}, h64, e.Aes, StrongEncryptionHeader);
            e.Strong = !StrongEncryptionHeader.empty();
            std::int64_t unpacked = c.UnpackedSize, packed = c.PackedSize, offset = c.RelativeOffset;
            ReadZip64Sizes(extra.data(), extra.size(), true, unpacked, packed, offset);
            e.Flags = c.Flags;
            e.Method = c.Method;
            e.DosDateTime = c.DosDateTime;
            e.Crc = c.Crc;
            e.PackedSize = packed;
            e.UnpackedSize = unpacked;
            e.ExternalAttr = static_cast<std::int32_t>(c.ExternalAttr);
            e.Encryption = GetEncryptionMethod(c.Flags, e.Aes, e.Strong);
            e.HeaderOffset = offset + SfxAdjust + displacement;

            // The local header must be where the central header says; for the
            // first entry, data prepended without adjusting the offsets is
            // absorbed by a search.
            std::uint8_t lh[TLocal::kSize] = {};
            bool lc = false;
            bool found = ReadAt(in, e.HeaderOffset, lh, TLocal::kSize) && VerSig(LoadLe32(lh), htLocal, lc) == htLocal;
            if (!found && index == 0) {
                std::vector<std::uint8_t> block(kLocalSearch);
                const std::int64_t from = e.HeaderOffset + 1;
                const auto avail = static_cast<std::int32_t>(std::clamp<std::int64_t>(ArchiveSize - from, 0, kLocalSearch));
                if (avail >= 4 && ReadAt(in, from, block.data(), avail)) {
                    for (std::int32_t k = 0; k + 4 <= avail; ++k) {
                        bool c2 = false;
                        if (VerSig(LoadLe32(&block[static_cast<size_t>(k)]), htLocal, c2) == htLocal) {
                            displacement = k + 1;
                            e.HeaderOffset += displacement;
                            found = true;
                            break;
                        }
                    }
                }
            }
            if (!found) {
                RaiseErrorStr(StoredName, "", VolumeName, E_BADLOCALOFFSET);
            } else {
                TUnBaseFileInfo info;
                info.DiskNumber = c.DiskNumberStart;
                info.HeaderOffset = e.HeaderOffset;
                info.ExternalAttr = e.ExternalAttr;
                HeaderList->AddItem(info, hdr, TCentral::kSize);
                m_entries.push_back(e);
                if (static_cast<std::int32_t>(c.DosDateTime) > MaxFileDate)
                    MaxFileDate = static_cast<std::int32_t>(c.DosDateTime);
                TotalPackedSize += packed;
                TotalUnpackedSize += unpacked;
            }
        }
        ++index;
        pos += TCentral::kSize + c.NameLength + c.ExtraLength + c.CommentLength;
    }
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
    std::uint8_t lh[TLocal::kSize];
    if (ReadAt(in, pos, lh, 4) && LoadLe32(lh) == DATA_DESCRIPTOR_SIGNATURE)
        pos += 4;
    while (!GetCancel() && ReadAt(in, pos, lh, TLocal::kSize)) {
        bool coded = false;
        if (VerSig(LoadLe32(lh), htLocal, coded) != htLocal)
            break;
        if (coded)
            DecodeHeader(lh, htLocal);
        const TLocal l = TLocal::Parse(lh);
        std::string raw(l.NameLength, '\0');
        std::vector<std::uint8_t> extra(l.ExtraLength);
        if (!ReadAt(in, pos + TLocal::kSize, raw.data(), l.NameLength) ||
            !ReadAt(in, pos + TLocal::kSize + l.NameLength, extra.data(), l.ExtraLength))
            break;
        if (coded)
            DecodeFilename(raw.data(), raw.size());
        TZipEntry e;
        e.Name = NameOf(raw, l.Flags, TranslateOemChar);
        TCentral64Hdr h64;
        std::uint32_t p32 = l.PackedSize, u32 = l.UnpackedSize;
        ParseExtraField(extra.data(), extra.size(), htLocal, {&p32, &u32, nullptr}, h64, e.Aes, StrongEncryptionHeader);
        e.Strong = !StrongEncryptionHeader.empty();
        std::int64_t unpacked = l.UnpackedSize, packed = l.PackedSize, offset = 0;
        ReadZip64Sizes(extra.data(), extra.size(), false, unpacked, packed, offset);
        e.Flags = l.Flags;
        e.Method = l.Method;
        e.DosDateTime = l.DosDateTime;
        e.Crc = l.Crc;
        e.PackedSize = packed;
        e.UnpackedSize = unpacked;
        e.ExternalAttr = 0;
        e.HeaderOffset = pos;
        e.Encryption = GetEncryptionMethod(l.Flags, e.Aes, e.Strong);
        StoredName = e.Name;
        if (!e.Name.empty() && CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec)) {
            TUnBaseFileInfo info;
            info.DiskNumber = 1;
            info.HeaderOffset = pos;
            HeaderList->AddItem(info, nullptr, 0);
            m_entries.push_back(e);
            if (static_cast<std::int32_t>(l.DosDateTime) > MaxFileDate)
                MaxFileDate = static_cast<std::int32_t>(l.DosDateTime);
            TotalPackedSize += packed;
            TotalUnpackedSize += unpacked;
        }
        // A data-descriptor entry with no size ends the walk at its data.
        if (packed <= 0 && (l.Flags & 0x08))
            break;
        pos += TLocal::kSize + l.NameLength + l.ExtraLength + packed;
    }
    return HeaderList->Count();
}

bool TUnZip::ReadLocal(TStream32* in, const TZipEntry& e, std::int64_t& dataAt, std::string& localName)
{
    std::uint8_t lh[TLocal::kSize];
    if (!ReadAt(in, e.HeaderOffset, lh, TLocal::kSize))
        return false;
    bool coded = false;
    if (VerSig(LoadLe32(lh), htLocal, coded) != htLocal)
        return false;
    if (coded)
        DecodeHeader(lh, htLocal);
    const TLocal l = TLocal::Parse(lh);
    std::string raw(l.NameLength, '\0');
    if (!ReadAt(in, e.HeaderOffset + TLocal::kSize, raw.data(), l.NameLength))
        return false;
    if (coded)
        DecodeFilename(raw.data(), raw.size());
    localName = NameOf(raw, l.Flags, TranslateOemChar);
    dataAt = e.HeaderOffset + TLocal::kSize + l.NameLength + l.ExtraLength;
    return in->Seek(dataAt, soBeginning) == dataAt;
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
        AES = std::make_unique<TzadAES>(in, nullptr);
        SetEncryptionMethod(e.Encryption);
        AesHeader = e.Aes;
        InflateRec.BitFlag = e.Flags;
        InflateRec.CompressMethod = e.Method;
        InflateRec.PackedSize = e.PackedSize;
        InflateRec.UnpackedSize = e.UnpackedSize;
        EntryDosDate = static_cast<std::int32_t>(e.DosDateTime);
        StoredName = e.Name;
        std::int64_t dataAt = 0;
        std::string localName;
        if (!ReadLocal(in, e, dataAt, localName)) {
            RaiseErrorStr(StoredName, "", VolumeName, E_BADLOCALOFFSET);
            AdjustProgress(InflateRec);
            continue;
        }
        // The entry is written under its central name; a local header that
        // names something else is reported, not obeyed.
        if (localName != e.Name)
            RaiseErrorStr(StoredName, localName, VolumeName, E_INCONSISTENTLOCAL);
        if (FileAccessMethod == faFile)
            SetFilename(StoredName);
        else
            Filename = StoredName;
        OpenAndExtractFile(in, out, i, e.ExternalAttr);
        AES.reset();
    }
    m_current = nullptr;
}

void TUnZip::RecoveryProcessHeaders(TStream32* in, TStream32* out) { ProcessHeaders(in, out); }

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
            if (FileAccessMethod == faFile && CreateStoredDirs && !CreateDirEx(Filename))
                ForceCrcFail = true;
            Crc32Val = e.Crc;
        } else if (method != 0 && method != 8 && method != 9) {
            // Nothing is created for a method the library does not decode.
            RaiseErrorStr(Filename, "", VolumeName, E_UNSUPPORTEDMETHOD);
            AdjustProgress(InflateRec);
            if (m_countedEntry && FileCount > 0)
                --FileCount;
            ForceCrcFail = true;
        } else if (!Open_OutFile(outStream, Filename, StoredName)) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            AdjustProgress(InflateRec);
            if (m_countedEntry && FileCount > 0)
                --FileCount;
            ForceCrcFail = true;
        } else if (Encrypted && EntryPasswordFailed) {
            if (m_countedEntry && FileCount > 0)
                --FileCount;
            AdjustProgress(InflateRec);
            ForceCrcFail = true;
            Filename = StoredName;
        } else {
            ExtractFile(InflateRec, outStream, in);
            bool good = !EntryWriteFailed && !DiskFull;
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
                ForceCrcFail = true;
                if (m_countedEntry && FileCount > 0)
                    --FileCount;
                m_countedEntry = false;
                DiscardOutput(outStream, Filename);
            } else {
                CloseAndSetDate(outStream, Filename, static_cast<std::int32_t>(e.DosDateTime), attr);
            }
        }
    } catch (...) {
        ForceCrcFail = true;
        if (FileAccessMethod == faFile && outStream && outStream != out)
            DiscardOutput(outStream, Filename);
    }
    if (FileAccessMethod == faFile && outStream && outStream != out) {
        delete outStream;
    }
    return doOnEnd(32, e.Crc);
}

bool TUnZip::ExtractFile(const TInflateRec& recIn, TStream32*& outStream, TStream32* in)
{
    TInflateRec rec = recIn;
    Crc32Val = CRC_MASK;
    if (Encrypted && IsAesMethod(EncryptionMethod))
        rec.PackedSize -= SALT_LENGTH(AesHeader.Strength) + MAC_LENGTH(0) + PWD_VER_LENGTH;
    else if (Encrypted && EncryptionMethod == emZIP_v2)
        rec.PackedSize -= 12;
    if (rec.PackedSize < 0) {
        ForceCrcFail = true;
        return true;
    }
    InflateRec = rec;
    const std::int64_t dataAt = in->Position();
    std::uint32_t method = rec.CompressMethod;
    if (method == 99 && AesHeader.Id == EXTRA_AES)
        method = AesHeader.Method;
    try {
        switch (method) {
        case 0: {
            TInflateRec r = rec;
            // A stored entry is its packed bytes: never copy beyond them.
            r.UnpackedSize = std::min(rec.UnpackedSize, rec.PackedSize);
            Unstore(in, outStream, 32, r);
            break;
        }
        case 8: ExtractInflate32(in, outStream, maxbits()); break;
        case 9: ExtractInflate64(in, outStream, maxbits()); break;
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
    return true;
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

bool TUnZip::ExtractInflate(TStream32* in, TStream32*& out, std::int8_t maxBits)
{
    const std::int64_t dataAt = in->Position();
    if (is64Bit) {
        InflateProcRec.CancelFlag = CancelRef;
        const bool ok = Inflate(this, in, out, InflateRec, 32, InflateProcRec);
        in->Seek(dataAt + InflateRec.PackedSize, soBeginning);
        return ok;
    }
    bool ok = true;
    {
        TDecompressStream ds(in, EncryptionMethod == emNone || !Encrypted ? emNone : EncryptionMethod, maxBits);
        ds.CancelRef = CancelRef;
        ds.InputLimit = InflateRec.PackedSize;
        std::vector<std::uint8_t> buf(kBlock);
        std::int64_t outLeft = InflateRec.UnpackedSize;
        std::int64_t produced = 0;
        while (outLeft > 0 && !GetCancel()) {
            ProcessMessages();
            const auto inChunk = static_cast<std::int32_t>(std::min<std::int64_t>(InflateRec.PackedSize, kBlock));
            const auto outChunk = static_cast<std::int32_t>(std::min<std::int64_t>(outLeft, kBlock));
            const std::uint64_t before = ds.TotalOut();
            const std::int32_t n = ds.Read(buf.data(), std::max(inChunk, 1), outChunk);
            const auto got = static_cast<std::int32_t>(ds.TotalOut() - before);
            if (got > 0) {
                WriteBlockProc(out, buf.data(), false, 32, got, dtData);
                if (EntryWriteFailed)
                    break;
                outLeft -= got;
                produced += got;
                RemainingUnpackedSize -= got;
            }
            doBranchProgress(produced, InflateRec.UnpackedSize, TotalUnpackedSize);
            if (n < 0) {
                ok = false;
                break;
            }
            if (ds.StreamEnd() || got == 0)
                break;
        }
        if (outLeft > 0)
            RemainingUnpackedSize -= outLeft;
    }
    // The bytes after the packed data (an authentication code, the next
    // header) are read from their own position.
    in->Seek(dataAt + InflateRec.PackedSize, soBeginning);
    return ok;
}
