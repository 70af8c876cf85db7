#include "zadvirov.h"

#include "archive/zadarj.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadgztarlist.h"
#include "archive/zadrecords.h"
#include "archive/zadlzhrecords.h"
#include "archive/zadtextmark.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

constexpr std::int32_t kCommentBufferSize = 32768;

std::map<TArcType, TListFormat>& Formats()
{
    static std::map<TArcType, TListFormat> formats;
    return formats;
}

bool IsEndOfDirectory(std::uint32_t sig)
{
    bool coded = false;
    return VerSig(sig, htEnding, coded) == htEnding || sig == ZIP64_END_SIGNATURE || sig == ZIP64_LOCATOR_SIGNATURE ||
           sig == 0x05054B50 /* digital signature */;
}

// ---- ZIP ------------------------------------------------------------------------------------

// State of the ZIP walk in progress (one listing runs at a time).
struct ZipWalk {
    int headersRead = 0;
    bool reachedDirectory = false;  // local walk: the central directory ended it
};
ZipWalk g_zip;

bool HasLocalHeaderAt(TStream32& stream, std::int64_t offset)
{
    std::uint8_t sig[4];
    bool coded = false;
    return TVirOV::ReadAt(stream, offset, sig, 4) && VerSig(LoadLe32(sig), htLocal, coded) == htLocal;
}

bool IsDirectoryEntry(const std::string& rawName, std::uint32_t externalAttr)
{
    return (externalAttr & 0x10) || (!rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\'));
}

void ZipSetup(TVirOV& v, TStream32& stream)
{
    g_zip = ZipWalk{};
    if (v.ArcType == atZipDS || v.ArcType == atZipMV) {
        const std::string remark = v.SetDirectoryRemark();
        if (!remark.empty()) {
            v.RaiseErrorStr(v.ArchiveFile(), remark, "0", E_BADHEADR);
            v.HeaderBlockSize = 0;
            return;
        }
    }
    if (v.ArcType != atZipDS && v.ArcType != atZipMV && (!v.HeadFlag.Has(htCentral) || !v.HeadFlag.Has(htEnding))) {
        if (v.OnCorruptZipHeader) {
            bool cancel = true;
            v.OnCorruptZipHeader(&v, v.HeadFlag, cancel);
            if (cancel) {
                v.HeaderBlockSize = 0;
                return;
            }
        } else {
            v.RaiseErrorStr(v.ArchiveFile(), "OnCorruptZipHeader", "0", E_REQUIREDEVENT);
        }
    }
    if (!v.HeadFlag.Has(htCentral)) {
        v.HeadFlag = {htLocal};
        std::uint8_t first[TLocal::kSize];
        if (!TVirOV::ReadAt(stream, v.ArchiveStartOffset, first, TLocal::kSize)) {
            v.HeaderBlockSize = 0;
            v.FailWalk(25236);
            return;
        }
        if (LoadLe32(first) == DATA_DESCRIPTOR_SIGNATURE)
            v.ArchiveStartOffset += 4;
        v.HeaderBlockSize = TLocal::kSize;
    } else {
        std::uint8_t first[TCentral::kSize];
        if (!TVirOV::ReadAt(stream, v.ArchiveStartOffset, first, TCentral::kSize)) {
            v.HeaderBlockSize = 0;
            v.FailWalk(25236);
            return;
        }
        v.HeaderBlockSize = TCentral::kSize;
    }
}

// Reads the name, extra field and comment of a header whose variable part
// starts at pos; false (after reporting) when the file ends first.
bool ReadVariable(TVirOV& v, TStream32& stream, std::int64_t pos, std::uint16_t nameLen, std::uint16_t extraLen,
                  std::string& name, std::vector<std::uint8_t>& extra)
{
    name.assign(nameLen, '\0');
    extra.assign(extraLen, 0);
    if (!TVirOV::ReadAt(stream, pos, name.data(), nameLen) ||
        !TVirOV::ReadAt(stream, pos + nameLen, extra.data(), extraLen)) {
        v.FailWalk(25236);
        return false;
    }
    return true;
}

void ZipCentralStep(TVirOV& v, TStream32& stream, int& headersRead)
{
    const std::int64_t headerPos = v.ArchiveStartOffset;
    bool coded = false;
    const std::uint32_t sig = LoadLe32(v.HeaderBlock.data());
    if (VerSig(sig, htCentral, coded) != htCentral) {
        v.NextHeaderOffset = v.EndOffset;
        if (headersRead == 0 || !IsEndOfDirectory(sig))
            v.FailWalk(E_BADHEADR);
        return;
    }
    ++headersRead;
    if (coded)
        DecodeHeader(v.HeaderBlock.data(), htCentral);
    TCentral h = TCentral::Parse(v.HeaderBlock.data());
    std::string rawName;
    std::vector<std::uint8_t> extra;
    const std::int64_t nameAt = headerPos + TCentral::kSize;
    if (!ReadVariable(v, stream, nameAt, h.NameLength, h.ExtraLength, rawName, extra))
        return;
    if (coded)
        DecodeFilename(rawName.data(), rawName.size());
    v.Central = h;
    const bool isDir = IsDirectoryEntry(rawName, h.ExternalAttr);
    v.Filename = ZipEntryName(rawName, h.Flags, ZipHostCoding(h.VersionMadeBy), v.TranslateOemChar, extra.data(), extra.size());
    ParseExtraField(extra.data(), extra.size(), htCentral, {&v.Central.PackedSize, &v.Central.UnpackedSize, &v.Central.RelativeOffset},
                    v.Central64Hdr, v.AesHeader, v.StrongEncryptionHeader);
    h = v.Central;
    if (v.OnReadFile)
        v.OnReadFile(&v, v.Filename);
    const std::int64_t offset = SaturatedAdd(WideValue(h.RelativeOffset, v.Central64Hdr.HighOffset), v.SfxAdjust);
    // The first local header did not verify: each entry's own header is
    // looked at, so that a bad entry is reported alone, wherever it stands.
    if (v.ArcType != atZipDS && v.ArcType != atZipMV && !v.HeadFlag.Has(htLocal) && !HasLocalHeaderAt(stream, offset))
        v.RaiseErrorStr(v.Filename, "", "0", E_BADHEADR);

    // The entry comment, whole up to the buffer's room; the walk always
    // steps over its full stored length.
    const std::int64_t commentAt = nameAt + h.NameLength + h.ExtraLength;
    v.CommentBuffer[0] = '\0';
    if (h.CommentLength > 0) {
        const std::int64_t avail = std::max<std::int64_t>(0, v.ArchiveSize - commentAt);
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>({h.CommentLength, avail, kCommentBufferSize - 1}));
        if (n > 0 && !TVirOV::ReadAt(stream, commentAt, v.CommentBuffer.data(), n)) {
            v.FailWalk(25236);
            return;
        }
        if (coded)
            DecodeComment(v.CommentBuffer.data(), static_cast<size_t>(n));
        v.CommentBuffer[static_cast<size_t>(std::max(n, 0))] = '\0';
    }
    v.NextHeaderOffset = commentAt + h.CommentLength;

    v.EntryFlags = h.Flags;
    const std::int64_t packed = WideValue(h.PackedSize, v.Central64Hdr.HighPacked);
    const std::int64_t unpacked = WideValue(h.UnpackedSize, v.Central64Hdr.HighUnpacked);
    if (!CheckWildCard2(&v, v.Filename, v.FileSpec, v.RecurseDirs, &v.ExcludeSpec))
        return;
    if (isDir) {
        if (!v.ShowEmptyDirs)
            return;
        ++v.FileCount;
    } else {
        ++v.FileCount;
        v.IncTotals(unpacked, packed);
    }
    const TUnixTime exact = ZipExtraModTime(extra.data(), extra.size());
    v.FileDate = exact.Known ? UnixTimeToDateTime(exact) : v.ConvertDate(static_cast<std::int32_t>(h.DosDateTime));
    v.VersionMadeBy = h.VersionMadeBy;
    v.VersionNeeded = h.VersionNeeded;
    v.Crc = h.Crc;
    v.Encrypted = h.Flags & 0x0001;
    v.PackedSize = packed;
    if (v.Encrypted && h.Method != 99 && h.PackedSize >= 12)
        v.PackedSize -= 12;
    v.UnpackedSize = unpacked;
    v.ExternalAttr = static_cast<std::int32_t>(h.ExternalAttr);
    v.InternalAttr = h.InternalAttr;
    v.CompressMethod = h.Method;
    v.CompressMethodStr = (isDir || (h.ExternalAttr & 0x08)) ? std::string() : v.GetCompressMethodStr(h.Method, h.Flags);
    v.Ratio = static_cast<BYTE>(CalcRatio(packed, unpacked));
    if (v.ArcType == atZipDS) {
        v.VolumeName = Format("PKBACK# %.3d", h.DiskNumberStart + 1);
    } else if (v.ArcType == atZipMV) {
        int part = h.DiskNumberStart;
        v.VolumeName = v.GetNextVolumeName(v.ArchiveFile(), part, v.End.ThisDisk + 1, true);
    }
    v.doRead(offset);
}

void ZipLocalStep(TVirOV& v, TStream32& stream, int& headersRead)
{
    const std::int64_t headerPos = v.ArchiveStartOffset;
    bool coded = false;
    const std::uint32_t sig = LoadLe32(v.HeaderBlock.data());
    if (VerSig(sig, htLocal, coded) != htLocal) {
        v.NextHeaderOffset = v.EndOffset;
        bool c2 = false;
        g_zip.reachedDirectory = VerSig(sig, htCentral, c2) == htCentral || IsEndOfDirectory(sig);
        if (headersRead == 0 || !g_zip.reachedDirectory)
            v.FailWalk(E_BADHEADR);
        return;
    }
    ++headersRead;
    if (coded)
        DecodeHeader(v.HeaderBlock.data(), htLocal);
    TLocal h = TLocal::Parse(v.HeaderBlock.data());
    std::string rawName;
    std::vector<std::uint8_t> extra;
    const std::int64_t nameAt = headerPos + TLocal::kSize;
    if (!ReadVariable(v, stream, nameAt, h.NameLength, h.ExtraLength, rawName, extra))
        return;
    if (coded)
        DecodeFilename(rawName.data(), rawName.size());
    v.Local = h;
    v.Filename = ZipEntryName(rawName, h.Flags, ncUnknown, v.TranslateOemChar, extra.data(), extra.size());
    ParseExtraField(extra.data(), extra.size(), htLocal, {&v.Local.PackedSize, &v.Local.UnpackedSize, nullptr},
                    v.Central64Hdr, v.AesHeader, v.StrongEncryptionHeader);
    h = v.Local;
    if (v.OnReadFile)
        v.OnReadFile(&v, v.Filename);
    const std::int64_t dataAt = nameAt + h.NameLength + h.ExtraLength;
    std::int64_t packed = WideValue(h.PackedSize, v.Central64Hdr.HighPacked);
    std::int64_t unpacked = WideValue(h.UnpackedSize, v.Central64Hdr.HighUnpacked);
    std::int64_t next = SaturatedAdd(dataAt, packed);
    if ((h.Flags & 0x0008) && packed == 0) {
        // Sizes follow the data (written to a pipe): step over the data to
        // its descriptor instead of ending the walk here.
        std::uint32_t crc = 0, p32 = 0, u32 = 0;
        const std::int64_t desc = FindDataDescriptor(stream, dataAt, v.ArchiveSize, crc, p32, u32);
        if (desc >= 0) {
            h.Crc = crc;
            h.PackedSize = p32;
            h.UnpackedSize = u32;
            packed = p32;
            unpacked = u32;
            next = desc + 16;
        }
    }
    v.NextHeaderOffset = next;
    v.CommentBuffer[0] = '\0';
    v.EntryFlags = h.Flags;
    if (!CheckWildCard1(&v, v.Filename, v.FileSpec, &v.ExcludeSpec))
        return;
    ++v.FileCount;
    v.IncTotals(unpacked, packed);
    const TUnixTime exact = ZipExtraModTime(extra.data(), extra.size());
    v.FileDate = exact.Known ? UnixTimeToDateTime(exact) : v.ConvertDate(static_cast<std::int32_t>(h.DosDateTime));
    v.VersionMadeBy = h.VersionNeeded;
    v.VersionNeeded = h.VersionNeeded;
    v.Crc = h.Crc;
    v.Encrypted = h.Flags & 0x0001;
    v.PackedSize = packed;
    if (v.Encrypted && h.Method != 99 && h.PackedSize >= 12)
        v.PackedSize = h.PackedSize - 12;
    v.UnpackedSize = unpacked;
    v.InternalAttr = 0;
    v.ExternalAttr = 0;
    v.CompressMethod = h.Method;
    v.CompressMethodStr = v.GetCompressMethodStr(h.Method, h.Flags);
    v.Ratio = static_cast<BYTE>(CalcRatio(packed, unpacked));
    v.doRead(headerPos);
}

// A walk that ran off the end of the file instead of reaching the end of
// the central directory (or, for a local walk, the directory itself) means
// the archive is truncated: what was listed stays listed, the result is false.
//
// A walk that went through the whole central directory compares it with
// what the end record declares, and reports a disagreement once.
void ZipFinish(TVirOV& v, TStream32&)
{
    if (v.HeaderBlockSize == 0 || g_zip.headersRead == 0)
        return;
    if (v.HeadFlag.Has(htCentral)) {
        if (v.NextHeaderOffset != v.EndOffset && v.NextHeaderOffset < v.CentralDirEnd) {
            v.FailWalk(25236);
            return;
        }
        if (v.ArcType != atZipDS && v.ArcType != atZipMV) {
            const std::string remark = v.DirectoryRemark(g_zip.headersRead);
            if (!remark.empty())
                v.RaiseErrorStr(v.ArchiveFile(), remark, "0", E_BADHEADR);
        }
    } else if (!g_zip.reachedDirectory) {
        v.FailWalk(25236);
    }
}

const TListFormat kZipFormat{
    ZipSetup,
    [](TVirOV& v, TStream32& s) {
        if (v.HeadFlag.Has(htCentral))
            ZipCentralStep(v, s, g_zip.headersRead);
        else
            ZipLocalStep(v, s, g_zip.headersRead);
    },
    ZipFinish};

// ---- uuencoded, xxencoded and Base64 text -------------------------------------------------

// Every encoded file of the text is an entry, found line by line through
// the whole text as the extractor finds them. Its packed size is its text
// up to the next file's marker line (the first one's from the file's start); its unpacked size is what its lines
// decode to, or, where they do not say, the text's size marked as such in
// the method column.
void TextSetup(TVirOV& v, TStream32& stream)
{
    v.HeaderBlockSize = 0;
    const std::vector<TTextEntry> entries = FindTextEntries(stream);
    if (entries.empty()) {
        // Detection saw a marker, but no line names an encoded file.
        v.FailWalk(25266);
        return;
    }
    for (size_t i = 0; i < entries.size() && !v.GetCancel(); ++i) {
        const TTextEntry& e = entries[i];
        v.Filename = e.marker.name;
        if (v.OnReadFile)
            v.OnReadFile(&v, v.Filename);
        if (v.ListOperation == opFileOnly) {
            if (v.QueryList)
                v.QueryList->Add(v.Filename);
            continue;
        }
        if (!v.OnRead)
            continue;
        // The texts of the files make up the whole file: the first one's
        // begins with the file, each other one at its marker line.
        const std::int64_t begin = i == 0 ? 0 : e.markerStart;
        const std::int64_t end = i + 1 < entries.size() ? entries[i + 1].markerStart : v.ArchiveSize;
        v.FileDate = v.ConvertDate(v.ArchiveDate);
        v.PackedSize = end - begin;
        v.UnpackedSize = e.decodedSize >= 0 ? e.decodedSize : v.PackedSize;
        v.FileCount = static_cast<int>(i + 1);
        v.IncTotals(v.UnpackedSize, v.PackedSize);
        v.Crc = 0;
        v.Encrypted = false;
        v.CompressMethod = 0;
        v.VersionMadeBy = v.VersionNeeded = 0;
        v.Ratio = 0;
        v.CompressMethodStr = e.decodedSize >= 0 ? std::string() : std::string("(encoded size)");
        v.InternalAttr = 32;
        v.ExternalAttr = 32;
        v.doEvents(e.markerStart, v.FileCount);
    }
}

const TListFormat kTextFormat{TextSetup, [](TVirOV& v, TStream32&) { v.NextHeaderOffset = v.EndOffset; }, nullptr};

struct BuiltInFormats {
    BuiltInFormats()
    {
        for (TArcType t : {atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV})
            Formats()[t] = kZipFormat;
        for (TArcType t : {atB64, atUUE})
            Formats()[t] = kTextFormat;
        for (TArcType t : {atGZip, atTarGZip})
            Formats()[t] = GzipListFormat();
        Formats()[atTar] = TarListFormat();
        RegisterRecordListFormats();
        RegisterArjListFormat();
        RegisterLzhListFormats();
    }
};
const BuiltInFormats g_builtIn;

}  // namespace

TVirOV::TVirOV(TComponent* owner) : TZipCommon(owner), Comment(std::make_unique<TMainCommentStream>())
{
    ArchiveComment = Comment.get();
    ZipCmntBufSize = 32000;
}

TVirOV::~TVirOV() { ArchiveComment = nullptr; }

void TVirOV::RegisterListFormat(std::initializer_list<TArcType> types, TListFormat format)
{
    for (TArcType t : types)
        Formats()[t] = format;
}

void TVirOV::SetFilename(const std::string& name) { Filename = TranslateOemChar ? OemToUtf8(name) : name; }

bool TVirOV::ReadAt(TStream32& stream, std::int64_t pos, void* buf, std::int32_t n)
{
    if (n == 0)
        return true;
    if (pos < 0 || n < 0 || stream.Seek(pos, soBeginning) != pos)
        return false;
    return stream.Read(buf, n) == n;
}

void TVirOV::FailWalk(int eCode, const std::string& fileName, const std::string& extended)
{
    m_walkFailed = true;
    NextHeaderOffset = EndOffset;
    RaiseErrorStr(fileName.empty() ? ArchiveFile() : fileName, extended, "0", eCode);
}

void TVirOV::Setup(TStream32& stream)
{
    FileCount = 0;
    Crc = 0;
    FileDate = kFallbackDate;
    PackedSize = UnpackedSize = 0;
    Ratio = 0;
    CompressMethodStr.clear();
    TotalPackedSize = TotalUnpackedSize = 0;
    ArchiveSize = EndOffset = stream.Size();
    HeaderBlockSize = 0;
    m_walkFailed = false;
    const auto it = Formats().find(ArcType);
    m_format = it == Formats().end() ? nullptr : &it->second;
    if (m_format && m_format->Setup)
        m_format->Setup(*this, stream);
}

bool TVirOV::SwitchVolume(const std::string& name)
{
    auto file = std::make_unique<TFileStream32>(name, fmOpenRead | fmShareDenyWrite);
    if (!file->Valid()) {
        FailWalk(E_OPENERR, name);
        return false;
    }
    VolumeStream.reset();
    m_volumeFile = std::move(file);
    VolumeStream = std::make_unique<TBufferedReadStream32>(m_volumeFile.get());
    ArchiveSize = EndOffset = VolumeStream->Size();
    VolumeName = name;
    m_volumeSwitched = true;
    return true;
}

bool TVirOV::Walk(TStream32& source)
{
    TBufferedReadStream32 first(&source);
    CommentBuffer.assign(kCommentBufferSize, '\0');
    FileComment = CommentBuffer.data();
    Setup(first);
    NextHeaderOffset = ArchiveStartOffset;
    while (!GetCancel() && !m_walkFailed && m_format && m_format->ProcRecord) {
        TStream32& stream = VolumeStream ? *VolumeStream : first;
        // Offsets come from the file: compared without adding to them.
        if (HeaderBlockSize <= 0 || NextHeaderOffset < 0 || NextHeaderOffset > ArchiveSize - HeaderBlockSize)
            break;
        ArchiveStartOffset = NextHeaderOffset;
        HeaderBlock.assign(static_cast<size_t>(HeaderBlockSize), 0);
        if (!ReadAt(stream, NextHeaderOffset, HeaderBlock.data(), HeaderBlockSize))
            break;
        NextHeaderOffset += HeaderBlockSize;
        const std::int64_t before = ArchiveStartOffset;
        m_volumeSwitched = false;
        m_format->ProcRecord(*this, stream);
        // A step that does not move forward would repeat itself for ever;
        // only a switch to another volume starts again from its beginning.
        if (!m_volumeSwitched && NextHeaderOffset <= before) {
            FailWalk(E_BADHEADR);
            break;
        }
    }
    if (!GetCancel() && !m_walkFailed && m_format && m_format->Finish)
        m_format->Finish(*this, VolumeStream ? *VolumeStream : first);
    VolumeStream.reset();
    m_volumeFile.reset();
    return !m_walkFailed;
}

bool TVirOV::Activate()
{
    if (m_busy)
        return false;
    m_busy = true;
    CancelFlag = false;
    *CancelRef = false;
    VolumeName = ArchiveFile();
    TProgress savedProgress = std::move(ProgressCallback);
    ProgressCallback = nullptr;
    bool result = true;
    bool started = false;
    try {
        if (ArchiveFile().empty() || !FileExists(ArchiveFile()))
            RaiseError(ArchiveFile(), "", "0", E_FILENOTFOUND);
        else if (!OnRead)
            RaiseError(ArchiveFile(), "OnRead", "0", E_REQUIREDEVENT);
        else if (!IsArcValid(ArcType) || !Formats().count(ArcType)) {
            // A type that no format step lists yet is said to be
            // unsupported; it is never shown as an empty archive.
            ReportUnsupportedType("0");
            result = false;
        } else {
            if (ArcType == atZip && ArchiveStartOffset == 0 && GetZipSetType() == atZipDS)
                ArcType = atZipDS;
            // A spanned set is listed from its last disk, which holds the
            // directory; when that disk is refused the walk is empty.
            bool lastDisk = true;
            if (ArcType == atZipDS) {
                TStream32* disk = nullptr;
                DiskSpann.Init(this);
                lastDisk = DiskSpann.GetDisk(disk, 0);
                delete disk;
            }
            TFileStream32 stream(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
            if (!lastDisk) {
                // Reported where the disk was refused.
            } else if (!stream.Valid()) {
                RaiseErrorStr(ArchiveFile(), "", "0", E_OPENERR);
            } else {
                if (OnActivate)
                    OnActivate(this);
                Timer.Start();
                started = true;
                result = Walk(stream);
                Timer.Stop();
                if (OnTotals) {
                    TotalRatio = static_cast<BYTE>(CalcRatio(TotalPackedSize, TotalUnpackedSize));
                    OnTotals(this, TotalUnpackedSize, TotalPackedSize, TotalRatio, FileCount);
                }
                if (OnDeactivate)
                    OnDeactivate(this);
                if (OnElapsedTime)
                    OnElapsedTime(this, Timer.ElapsedTime);
            }
        }
    } catch (...) {
        result = false;
        if (started)
            Timer.Stop();
    }
    // The clean-up runs whatever happened, so the next Activate works.
    CommentBuffer.assign(1, '\0');
    FileComment = CommentBuffer.data();
    ProgressCallback = std::move(savedProgress);
    m_busy = false;
    return result;
}

bool TVirOV::Activate(TStream32* stream)
{
    if (!stream)
        return false;
    bool result = true;
    TProgress savedProgress = std::move(ProgressCallback);
    ProgressCallback = nullptr;
    CancelFlag = false;
    *CancelRef = false;
    try {
        ExcludeSpec.Clear();
        ArcType = GetArcType(stream);
        if (!IsArcValid(ArcType) || !Formats().count(ArcType)) {
            ReportUnsupportedType("0");
            result = false;
        } else {
            Timer.Start();
            result = Walk(*stream);
        }
    } catch (...) {
        result = false;
    }
    Timer.Stop();
    try {
        if (OnTotals) {
            TotalRatio = static_cast<BYTE>(CalcRatio(TotalPackedSize, TotalUnpackedSize));
            OnTotals(this, TotalUnpackedSize, TotalPackedSize, TotalRatio, FileCount);
        }
        if (OnDeactivate)
            OnDeactivate(this);
        if (OnElapsedTime)
            OnElapsedTime(this, Timer.ElapsedTime);
    } catch (...) {
        result = false;
    }
    CommentBuffer.assign(1, '\0');
    FileComment = CommentBuffer.data();
    ProgressCallback = std::move(savedProgress);
    return result;
}

void TVirOV::doRead(std::int64_t offset)
{
    ProcessMessages();
    if (GetCancel())
        return;
    if (ListOperation == opFileOnly) {
        if (QueryList)
            QueryList->Add(Filename);
        return;
    }
    if (OnRead)
        doEvents(offset, FileCount);
}

void TVirOV::doEvents(std::int64_t offset, int filenum)
{
    if ((ExternalAttr & 0x10) && (Filename.empty() || Filename.back() != '/'))
        Filename += '/';
    if (OnReadBegin)
        OnReadBegin(this);
    if (OnRead)
        OnRead(this, offset, filenum);
    if (OnReadEnd)
        OnReadEnd(this);
}

bool TVirOV::doQueryInfo(TzadOperation op, const std::string* name)
{
    if (ArchiveFile().empty() || !IsArcValid(ArcType))
        return false;
    const std::int64_t savedStart = ArchiveStartOffset;
    auto onRead = OnRead;
    auto onTotals = OnTotals;
    auto onBegin = OnReadBegin;
    auto onEnd = OnReadEnd;
    auto onActivate = OnActivate;
    auto onDeactivate = OnDeactivate;
    TStringList savedSpec;
    savedSpec.Assign(FileSpec);
    OnRead = [](TObject*, std::int64_t, int) {};
    OnTotals = nullptr;
    OnReadBegin = OnReadEnd = OnActivate = OnDeactivate = nullptr;
    const TzadOperation savedOp = ListOperation;
    ListOperation = op;
    if (name) {
        FileSpec.Clear();
        FileSpec.Add(*name);
    }
    bool result = false;
    try {
        result = Activate();
    } catch (...) {
        result = false;
    }
    ListOperation = savedOp;
    FileSpec.Assign(savedSpec);
    ArchiveStartOffset = savedStart;
    OnRead = onRead;
    OnTotals = onTotals;
    OnReadBegin = onBegin;
    OnReadEnd = onEnd;
    OnActivate = onActivate;
    OnDeactivate = onDeactivate;
    return result;
}

void TVirOV::FilesInArchive(TStringList* list)
{
    if (!list)
        return;
    TStringList* saved = QueryList;
    QueryList = list;
    if (!doQueryInfo(opFileOnly, nullptr))
        list->Clear();
    QueryList = saved;
}

bool TVirOV::GetFileInfo(const std::string& name) { return doQueryInfo(opQueryFile, &name); }

std::uint32_t TVirOV::GetFileCrc(const std::string& name) { return GetFileInfo(name) ? Crc : 0xFFFFFFFFu; }
std::int64_t TVirOV::GetFilePackedSize(const std::string& name) { return GetFileInfo(name) ? PackedSize : -1; }
std::int64_t TVirOV::GetFileUnpackedSize(const std::string& name) { return GetFileInfo(name) ? UnpackedSize : -1; }
TDateTime TVirOV::GetFileDate(const std::string& name) { return GetFileInfo(name) ? FileDate : kFallbackDate; }

void TVirOV::IncTotals(std::int64_t unpacked, std::int64_t packed)
{
    // Declared sizes may be huge: the totals stop at the largest value.
    TotalUnpackedSize = SaturatedAdd(TotalUnpackedSize, unpacked);
    TotalPackedSize = SaturatedAdd(TotalPackedSize, packed);
}

void TVirOV::DecTotals(std::int64_t unpacked, std::int64_t packed)
{
    TotalUnpackedSize -= unpacked;
    TotalPackedSize -= packed;
}
