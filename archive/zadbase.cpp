#include "zadbase.h"

#include "archive/zadfilescan.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"

#include <algorithm>
#include <vector>

TProcessMessagesHook ProcessMessagesHook = nullptr;
TConfirmHook ConfirmHook = nullptr;
TRetryHook RetryHook = nullptr;
TFileTypeNameHook FileTypeNameHook = nullptr;

bool TZipCommon::s_keysSeeded = false;

// ---- TZipTimer ------------------------------------------------------------------------

void TZipTimer::Start()
{
    ElapsedTime = 0;
    StartTick = GetTickCount();
}

void TZipTimer::Stop()
{
    if (static_cast<std::int32_t>(StartTick) > 0) {
        StopTick = GetTickCount();
        ElapsedTime = static_cast<float>(static_cast<std::int32_t>(StopTick - StartTick)) / 1000.0f;
        StartTick = 0;
    }
}

void TZipTimer::Suspend()
{
    if (static_cast<std::int32_t>(StartTick) > 0)
        SuspendTick = GetTickCount();
}

void TZipTimer::Resume()
{
    if (static_cast<std::int32_t>(StartTick) > 0 && static_cast<std::int32_t>(SuspendTick) > 0)
        StartTick = GetTickCount() + StartTick - SuspendTick;
}

// ---- TRegisterVirOV ---------------------------------------------------------------------

TRegisterVirOV::TRegisterVirOV(TComponent* owner) : TComponent(owner), VolumeNumberRef(&VolumeNumber) {}

void TRegisterVirOV::RaiseErrorStr(const std::string& fileName, const std::string& extendedMsg,
                                   const std::string& volumeID, int eCode)
{
    if (OnError)
        OnError(this, fileName, extendedMsg, volumeID, eCode);
}

void TRegisterVirOV::SetZipCmntBufSize(int value) { ZipCmntBufSize = std::clamp(value, 2000, 32767); }

void TRegisterVirOV::WEI(TStream32* stream)
{
    if (!PasswordIdBlockEnabled || !stream)
        return;
    std::uint8_t block[16];
    std::copy(std::begin(PasswordIdBlock), std::end(PasswordIdBlock), block);
    block[0] = 0x42;
    block[1] = 0x48;
    block[2] = 0x05;
    block[3] = 0x07;
    WorkingDataKeys = StartingDataKeys;
    zadEncodeBuf(false, block, sizeof block);
    stream->WriteBuffer(block, sizeof block);
}

namespace {

bool InSet(TArcType t, std::initializer_list<TArcType> set)
{
    return std::find(set.begin(), set.end(), t) != set.end();
}

const std::initializer_list<TArcType> kDecompressable = {
    atAce, atAceExe, atArc, atArcExe, atArj, atArjExe, atB64,    atBh,    atBhExe, atCab,   atCabExe, atGZip, atJar,
    atLha, atLhaExe, atLzh, atLzhExe, atRar, atRarExe, atTar,    atUUE,   atZip,   atZipExe, atZipDS, atZipMV, atZoo};

}  // namespace

bool TRegisterVirOV::IsArcValid(TArcType t) { return t >= atAce && t < atArcTypeCount; }
bool TRegisterVirOV::IsZipped(TArcType t) { return InSet(t, {atJar, atJarExe, atZip, atZipExe}); }
bool TRegisterVirOV::IsCommentEditable(TArcType t) { return t == atZip; }
bool TRegisterVirOV::IsArcCompressable(TArcType t)
{
    return InSet(t, {atBh, atCab, atGZip, atJar, atLha, atLzh, atTar, atZip, atZipMV});
}
bool TRegisterVirOV::IsArcDecompressable(TArcType t) { return InSet(t, kDecompressable); }
bool TRegisterVirOV::IsArcVerifyable(TArcType t)
{
    return (InSet(t, kDecompressable) && t != atCab && t != atCabExe) || t == atJarExe;
}
bool TRegisterVirOV::IsArcSearchable(TArcType t) { return InSet(t, kDecompressable) || t == atJarExe; }
bool TRegisterVirOV::IsArcSplitable(TArcType t) { return InSet(t, {atJar, atJarExe, atZip, atZipExe, atZipMV}); }
bool isPasswordSupported(TArcType t) { return InSet(t, {atBh, atJar, atZip, atZipMV}); }
bool isAesSupported(TArcType t) { return InSet(t, {atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV}); }
bool isSeedKeysSupported(TArcType t)
{
    return InSet(t, {atBh, atBhExe, atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV});
}

bool TRegisterVirOV::QueryDrive(TzadDriveType& type, std::string& label)
{
    const std::string path = m_archiveFile;
    if (DriveQuery)
        return DriveQuery(path, type, label);
    type = GetDriveType(path);
    if (type == dtNoDrive)
        return false;
    DWORD serial = 0, maxLen = 0, flags = 0;
    std::string fs;
    if (!GetVolumeInformationA(path, &label, &serial, &maxLen, &flags, &fs))
        return false;
    return true;
}

TArcType TRegisterVirOV::GetZipSetType()
{
    TzadDriveType type = dtUnknown;
    std::string label;
    if (!QueryDrive(type, label))
        return atNA;
    if (type == dtRemovable) {
        std::string first = label.substr(0, label.find(' '));
        if (UpperCase(first) == "PKBACK#")
            return atZipDS;
    }
    return atZipMV;
}

// ---- TZipCommon ---------------------------------------------------------------------------

TZipCommon::TZipCommon(TComponent* owner) : TRegisterVirOV(owner), CancelRef(&CancelFlag)
{
    if (!s_keysSeeded) {
        StartingHeadKeys = DEFAULT_HEAD_KEYS;
        StartingDataKeys = DEFAULT_DATA_KEYS;
        s_keysSeeded = true;
    }
    ReadBlockProc = [this](TStream32* in, TStream32* out, void* buf, bool enc, BYTE w, std::int32_t n, TDataType t) {
        return ReadProc(in, out, buf, enc, w, n, t);
    };
    WriteBlockProc = [this](TStream32*& out, void* buf, bool enc, BYTE w, std::int32_t n, TDataType t) {
        return ExtractWriteProc(out, buf, enc, w, n, t);
    };
    CompressWriteBlockProc = [this](TStream32*& out, void* buf, bool enc, BYTE w, std::int32_t n, TDataType t) {
        return CompressWriteProc(out, buf, enc, w, n, t);
    };
    ProgressCallback = [this](BYTE f, BYTE a) { ProgressProc(f, a); };
}

TZipCommon::~TZipCommon() = default;

void TZipCommon::RaiseErrorStr(const std::string& fileName, const std::string& extendedMsg,
                               const std::string& volumeID, int eCode)
{
    Timer.Suspend();
    if (GetCancel())
        eCode = E_USERCANCELED;
    try {
        TRegisterVirOV::RaiseErrorStr(fileName, extendedMsg, volumeID, eCode);
    } catch (...) {
        Timer.Resume();
        throw;
    }
    Timer.Resume();
}

void TZipCommon::RaiseError(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID,
                            int eCode)
{
    Timer.Suspend();
    try {
        if (GetCancel())
            eCode = E_USERCANCELED;
        if (OnError)
            OnError(this, fileName, extendedMsg, volumeID, eCode);
        if (!GetCancel())
            throw E_RAISE(LoadResString(eCode));
    } catch (...) {
        Timer.Resume();
        throw;
    }
    Timer.Resume();
}

void TZipCommon::doWriteError() { RaiseError(Filename, "", "0", E_WRITE); }

void TZipCommon::ReportUnsupportedType(const std::string& volumeID)
{
    RaiseErrorStr(ArchiveFile(), IsArcValid(ArcType) ? Trim(ArcTypeName()) : std::string(), volumeID, E_UNSUPPORTEDTYPE);
}

void TZipCommon::SetCancel(bool value)
{
    *CancelRef = value;
    if (value)
        RaiseErrorStr(Filename, "", VolumeName, E_USERCANCELED);
}

void TZipCommon::ProgressProc(BYTE byFile, BYTE byArchive)
{
    ProcessMessages();
    if (OnProgress)
        OnProgress(this, byFile, byArchive);
}

void TZipCommon::doBranchProgress(std::int64_t fileDone, std::int64_t fileTotal, std::int64_t jobTotal)
{
    try {
        ProgressByFile = CalcProgress64(fileDone, fileTotal);
        // Sizes are claims of the headers: what is left counts between none
        // and the whole job, so the difference never overflows.
        const std::int64_t left = std::clamp<std::int64_t>(RemainingUnpackedSize, 0, std::max<std::int64_t>(jobTotal, 0));
        ProgressByArchive = CalcProgress64(jobTotal - left, jobTotal);
        if (ProgressCallback)
            ProgressCallback(ProgressByFile, ProgressByArchive);
    } catch (...) {
        // A progress handler never ends the operation.
    }
}

void TZipCommon::GlobalProgress(TObject* sender)
{
    if (!OnProgress)
        return;
    auto* s = dynamic_cast<TStream32*>(sender);
    doBranchProgress(s ? s->Position() : 0, UnpackedSize, TotalUnpackedSize);
}

std::int32_t TZipCommon::ReadProc(TStream32* inStream, TStream32*, void* buf, bool, BYTE, std::int32_t count, TDataType)
{
    if (count == 0 || !inStream)
        return 0;
    const std::int32_t n = inStream->Read(buf, count);
    return n < 0 ? 0 : n;
}

std::int32_t TZipCommon::ReadFilename(TStream32* stream, std::string& dest, int len)
{
    dest.clear();
    const int want = std::clamp(len, 0, 255);
    if (!stream || want == 0)
        return 0;
    dest.resize(static_cast<size_t>(want));
    const std::int64_t got = std::max<std::int64_t>(stream->Read(dest.data(), want), 0);
    dest.resize(static_cast<size_t>(got));
    return static_cast<std::int32_t>(got);
}

std::string CPassword(bool decode, const std::string& password, BYTE shift)
{
    std::string result = password;
    for (char& c : result)
        c = static_cast<char>(static_cast<BYTE>(c) + (decode ? -shift : shift));
    return result;
}

std::int32_t TZipCommon::ExtractWriteProc(TStream32*& outStream, void* buf, bool, BYTE, std::int32_t count, TDataType)
{
    return outStream ? outStream->Write(buf, count) : 0;
}

std::int32_t TZipCommon::CompressWriteProc(TStream32*& outStream, void* buf, bool isEncrypted, BYTE, std::int32_t count,
                                           TDataType writeType)
{
    // The traditional cipher codes the data (never the headers) of the
    // formats that know it, in place, with the data keys as they stand.
    if (isEncrypted && writeType == dtData && count > 0 && isSeedKeysSupported(ArcType))
        zadEncodeBuf(false, buf, static_cast<std::size_t>(count));
    return outStream ? outStream->Write(buf, count) : 0;
}

TDateTime TZipCommon::ConvertDate(std::int32_t dosDateTime)
{
    // DOS dates run to 2107: the comparison is unsigned, so dates from 2044
    // on (top bit set) keep their year. Only values before the first day
    // of 1980 (no month) are no date; 1980-01-01 00:00:00 is one.
    constexpr std::uint32_t kFirstDosDay = 0x00210000;
    try {
        if (static_cast<std::uint32_t>(dosDateTime) < kFirstDosDay)
            dosDateTime = kFallbackDosDate;
        return zadConvertDate(dosDateTime);
    } catch (...) {
        return kFallbackDate;
    }
}

std::int32_t TZipCommon::GetDateTime(std::int32_t dosDateTime)
{
    switch (DateAttribute) {
    case daFileDate: return dosDateTime;
    case daSysDate: return DateTimeToDosDateTime(Now());
    case daMaxFileDate: return MaxFileDate;
    }
    return dosDateTime;
}

void TZipCommon::SetExcludeExts(const TStringList& list) { ExcludeExts.Assign(list); }

void TZipCommon::TempFileMoveBegin(TObject* sender, const std::string& archive, const std::string& tempFileName, bool& cancel)
{
    if (OnTmpFileMoveBegin)
        OnTmpFileMoveBegin(sender, archive, tempFileName, cancel);
}

void TZipCommon::TempFileMoveEnd(TObject* sender)
{
    if (OnTmpFileMoveEnd)
        OnTmpFileMoveEnd(sender);
}

void TZipCommon::TempFileProgress(TObject* sender)
{
    if (!OnTmpFileProgress)
        return;
    auto* s = dynamic_cast<TStream32*>(sender);
    doBranchProgress(s ? s->Position() : 0, UnpackedSize, TotalUnpackedSize);
}

void TZipCommon::TempFileMoveFile(TObject* sender, const std::string& toFileName, const std::string& fromFileName, bool sameDrive)
{
    auto* senderStream = dynamic_cast<TStream32*>(sender);
    if (sameDrive) {
        // One rename replaces the old file atomically, and only once the new
        // one is complete.
        if (!ReplaceFileA(fromFileName, toFileName))
            throw EFCreateError(LoadResString(E_OPENERR));
        return;
    }
    // Across file systems: copy into a new file beside the target first;
    // the target is replaced only when that copy is whole.
    TFileStream32 source(fromFileName, fmOpenRead | fmShareDenyWrite);
    if (!source.Valid())
        throw EFOpenError(LoadResString(E_OPENERR));
    const std::int64_t size = source.Size();
    UnpackedSize = TotalUnpackedSize = RemainingUnpackedSize = size;
    source.RemainingRef = &RemainingUnpackedSize;
    if (senderStream) {
        source.CancelRef = senderStream->CancelRef;
        source.ReadNotify = senderStream->ReadNotify;
    }
    const std::string dir = ExtractFilePath(toFileName).empty() ? std::string("./") : ExtractFilePath(toFileName);
    const std::string sibling = GetTempFileNameA(dir, ".zad");
    if (sibling.empty())
        throw EFCreateError(LoadResString(E_OPENERR));
    bool complete = false;
    DWORD error = ERROR_SUCCESS;
    try {
        TFileStream32 target(sibling, fmCreate);
        if (target.Valid()) {
            if (senderStream)
                target.CancelRef = senderStream->CancelRef;
            const std::int64_t copied = size > 0 ? target.CopyFrom(&source, size) : 0;
            complete = copied == size && !(target.CancelRef && *target.CancelRef);
        } else {
            error = GetLastError();
        }
    } catch (...) {
        error = GetLastError();
        DeleteFileA(sibling);
        SetLastError(error);
        throw;
    }
    if (complete && ReplaceFileA(sibling, toFileName))
        return;
    if (complete || error != ERROR_SUCCESS) {
        error = error != ERROR_SUCCESS ? error : GetLastError();
        DeleteFileA(sibling);
        SetLastError(error);
        throw EFCreateError(LoadResString(E_OPENERR));
    }
    DeleteFileA(sibling);  // cancelled: the old file stays as it was
}

bool TZipCommon::ReadExtraFieldHeader(TStream32* stream, WORD length, TCentral64Hdr& hdr, THeaderType kind)
{
    std::vector<std::uint8_t> area(length);
    const bool whole = length == 0 || stream->Read(area.data(), length) == length;
    if (!whole)
        area.clear();
    TExtraTarget target;
    if (kind == htCentral)
        target = {&Central.PackedSize, &Central.UnpackedSize, &Central.RelativeOffset};
    else
        target = {&Local.PackedSize, &Local.UnpackedSize, nullptr};
    ParseExtraField(area.data(), area.size(), kind, target, hdr, AesHeader, StrongEncryptionHeader);
    return whole;
}

std::string TZipCommon::WinAttrToString(int attr, char filler) const { return ::WinAttrToString(attr, filler); }
std::string TZipCommon::UnixAttrToStr(int mode, char filler) const { return ::UnixAttrToStr(mode, filler); }

std::string TZipCommon::FileAttrToString(int attr, char filler) const
{
    if (!IsArcValid(ArcType))
        return {};
    if ((ArcType == atAce || ArcType == atRar || ArcType == atRarExe) && HostOS == osUnix)
        return ::UnixAttrToStr(attr, filler);
    return ::WinAttrToString(attr, filler);
}

int TZipCommon::GetEncryptionMethod() const
{
    if (!Encrypted)
        return 0;
    if (Central64Hdr.Id == EXTRA_STRONG_ENCRYPTION || !StrongEncryptionHeader.empty())
        return 9;
    if (AesHeader.Id == EXTRA_AES) {
        if (AesHeader.Strength < 1 || AesHeader.Strength > 3)
            return 0;
        if (AesHeader.VendorVersion == 1)
            return 2 + AesHeader.Strength;
        if (AesHeader.VendorVersion == 2)
            return 5 + AesHeader.Strength;
        return 0;
    }
    return 2;
}

namespace {

// Method names per family of archive types: names[method - first].
struct MethodTable {
    std::initializer_list<TArcType> types;
    int first;
    std::initializer_list<const char*> names;
};

const MethodTable kMethodTables[] = {
    {{atAce, atAceExe}, 0, {"Fastest", "Fast", "Normal", "Good", "Best", "Lzw", "Unsupported"}},
    // arc itself lists methods 7 and 8 as crunched and 9 as squashed; it
    // knows no method 10 or 11.
    {{atArc, atArcExe}, 1, {"Stored", "Stored", "Packed", "Squeezed", "Crunched", "Crunched", "Crunched", "Crunched", "Squashed", "Pack12", "Stored"}},
    {{atArj, atArjExe}, 0, {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"}},
    {{atBh, atBhExe}, 0, {"Stored", "Fused1", "Deflate", "Fused3"}},
    {{atHA}, 0, {"Cpy", "Asc", "HSC"}},
    {{atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV}, 0, {"Stored", "Shrunk", "Reduce-1", "Reduce-2", "Reduce-3", "Reduce-4", "Imploded", "Tokened"}},
    {{atPak, atPakExe}, 2, {"Stored", "RLE", "Squeezed", "FixedLen", "FixedLen", "FixedLen", "Varible", "Varible", "Crushed", "Distill"}},
    {{atZoo}, 0, {"Stored", "Fastest", "Greatest"}},
};

const char* FromTable(TArcType t, int method)
{
    for (const MethodTable& m : kMethodTables) {
        if (std::find(m.types.begin(), m.types.end(), t) == m.types.end())
            continue;
        const int i = method - m.first;
        if (i >= 0 && i < static_cast<int>(m.names.size()))
            return m.names.begin()[i];
        return nullptr;
    }
    return nullptr;
}

}  // namespace

std::string TZipCommon::GetCompressMethodStr(WORD method, WORD flag) const
{
    static const std::string unsupported = "Unsupported";
    if (const char* name = FromTable(ArcType, method))
        return name;
    switch (ArcType) {
    case atArc:
    case atArcExe: return MethodDetail == 30 ? "<Dir>" : unsupported;
    case atArj:
    case atArjExe: return MethodDetail == 3 ? "<Dir>" : unsupported;
    case atBh:
    case atBhExe: return method == 8 ? GetDeflateMethodStr(flag) : unsupported;
    case atCab:
    case atCabExe: {
        const int m = method & 0x0F;
        static const char* names[4] = {"Stored", "MsZIP", "Quantum", "Lzx"};
        return m < 4 ? std::string(names[m]) : "Lzx" + std::to_string(m);
    }
    case atGZip:
        // compress: the method byte is its flags byte, the largest code
        // width in bits 0-4 (9 to 16), block mode in bit 7.
        if (GZipMagic == 0x9D1F && (method & 0x1F) >= 9 && (method & 0x1F) <= 16 && !(method & 0x60))
            return "LzwMAGIC";
        if (method == 0)
            return "Stored";
        if (method == 8)
            return "Deflate";
        if (method == 144)
            return "LzwMAGIC";
        if (GZipMagic == 0x1E1F)
            return "PackMAGIC";
        if (GZipMagic == 0xA01F)
            return "LzhMAGIC";
        return unsupported;
    case atHA: return method == 14 ? "<Dir>" : method == 15 ? "Special" : unsupported;
    case atJar:
    case atJarExe:
    case atZip:
    case atZipExe:
    case atZipDS:
    case atZipMV:
        if (method == 8)
            return GetDeflateMethodStr(flag);
        if (method == 9)
            return GetDeflateMethodStr64(flag);
        if (method == 10)
            return "DCL-implode";
        if (method == 99 && AesHeader.Id == EXTRA_AES && AesHeader.Method != 99)
            return GetCompressMethodStr(AesHeader.Method, flag);
        return (ExternalAttr & 0x10) ? "<Dir>" : unsupported;
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe:
        if (method == '0')
            return "Stored";
        if (method >= '1' && method <= '7')
            return "Frozen-" + std::string(1, static_cast<char>(method));
        return method == 'd' ? "<Dir>" : unsupported;
    case atRar:
    case atRarExe: {
        if (ExternalAttr & 0x10)
            return "<Dir>";
        static const char* names[6] = {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"};
        return method >= '0' && method <= '5' ? std::string(names[method - '0']) : unsupported;
    }
    case atTar:
        if (method == 0)
            return "Tarred";
        return ExtractFileName(Filename).empty() ? "<Dir>" : unsupported;
    default: return unsupported;
    }
}

std::string TZipCommon::_GetFileType(const std::string& fileName) const
{
    if (FileTypeNameHook) {
        const std::string t = FileTypeNameHook(fileName);
        if (!t.empty())
            return t;
    }
    const std::string ext = ExtractFileExt(fileName);
    if (ext.size() <= 1)
        return "File";
    return UpperCase(ext.substr(1)) + " File";
}

std::string TZipCommon::DecodeRarFileName(const std::string& fileName, WORD nameSize) const
{
    const std::string field = fileName.substr(0, std::min<size_t>(nameSize, fileName.size()));
    const size_t zero = field.find('\0');
    if (zero == std::string::npos)
        return field;
    const std::string ansi = field.substr(0, zero);
    const int encSize = static_cast<int>(field.size() - zero - 1);
    const int maxDec = std::min<int>(std::max<int>(nameSize - 1, 1), 511);
    std::vector<char16_t> wide(static_cast<size_t>(maxDec) + 1, 0);
    std::string padded = ansi;
    padded.resize(static_cast<size_t>(maxDec) + 1, '\0');
    DecodeRarFN(padded.c_str(), reinterpret_cast<const std::uint8_t*>(field.data() + zero + 1), encSize, wide.data(), maxDec);
    return Utf16ToUtf8(wide.data());
}

int TZipCommon::IsArchiveExt(const std::string& ext) const
{
    static const char* exts[26] = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",  ".JAR",
                                   ".LHA", ".LZH", ".MIM", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR", ".TGZ",
                                   ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO", ".ZAD"};
    for (int i = 0; i < 26; ++i)
        if (SameText(ext, exts[i]))
            return i;
    return -1;
}

bool TZipCommon::FileInExcludeList(const std::string& path, const std::string& fileName, const std::string&,
                                   const std::string&, int attr)
{
    const std::string lowerPath = LowerCase(path);
    for (const std::string& e : ExcludeSpec) {
        if (e.find('/') != std::string::npos) {
            std::string p = LowerCase(Trim(e.substr(0, e.find_last_of('/') + 1)));
            if (p.empty() || p[0] != '/')
                p = "/" + p;
            bool folder = false;
            if (lowerPath.size() >= p.size())
                folder = RecurseDirs ? lowerPath.find(p) != std::string::npos
                                     : lowerPath.compare(lowerPath.size() - p.size(), p.size(), p) == 0;
            if (folder && ((attr & 0x10) || MatchesMask(fileName, e.substr(e.find_last_of('/') + 1))))
                return true;
        } else if (MatchesMask(fileName, e)) {
            return true;
        }
    }
    return false;
}

void TZipCommon::SetExtractDir(const std::string& dir)
{
    ExtractDir = dir.empty() ? std::string() : _AppendDirTail(DOSToUnixFilename(dir));
}

void TZipCommon::SetAttribute(TzadFileAttribute attr, bool value)
{
    Attributes = value ? (Attributes | AttrBit(attr)) : (Attributes & ~AttrBit(attr));
}

void TZipCommon::SetAttributeEx(TzadFileAttribute attr, bool value)
{
    AttributesEx = value ? (AttributesEx | AttrBit(attr)) : (AttributesEx & ~AttrBit(attr));
}

std::string TZipCommon::ReadTempDir()
{
    if (TempDir.empty() || !_DirectoryExists(TempDir))
        TempDir = GetTempPathStr();
    return TempDir;
}

void TZipCommon::SetTempDir(const std::string& value)
{
    if (IsLoading()) {
        TempDir = value;
        return;
    }
    std::string v = value.empty() ? GetTempPathStr() : _AppendDirTail(value);
    if (!_DirectoryExists(v)) {
        const bool yes = ConfirmHook && ConfirmHook("", v + "\r\r" + LoadResString(E_CREATEDIRQUERY));
        if (yes)
            CreateDirEx(v);
        else
            v.clear();
    }
    if (v.empty() || !_DirectoryExists(v))
        v = GetTempPathStr();
    TempDir = v;
}

// ---- selection masks ------------------------------------------------------------------------

namespace {

// The folder part of a name: the text up to its last separator, without it
// unless it is the root's own '/'.
std::string FolderPart(const std::string& name)
{
    const size_t p = name.find_last_of("/\\:");
    if (p == std::string::npos)
        return {};
    if (p == 0 && (name[0] == '/' || name[0] == '\\'))
        return name.substr(0, 1);
    return name.substr(0, p);
}

std::string WithTail(const std::string& dir)
{
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\')
        return dir;
    return dir + "/";
}

bool MatchesAny(const std::string& name, const TStringList* list, std::string* which = nullptr)
{
    if (!list)
        return false;
    for (const std::string& m : *list)
        if (!m.empty() && MatchesMask(name, m)) {
            if (which)
                *which = m;
            return true;
        }
    return false;
}

}  // namespace

bool CheckWildCard2(TZipCommon* sender, const std::string& name, TStringList& fileSpec, bool recurseDirs, TStringList* excludeSpec)
{
    if (name.empty())
        return false;
    const std::string orig = name;
    const std::string nameDir = WithTail(FolderPart(name));
    std::string current = name;
    for (int i = 0; i < fileSpec.Count(); ++i) {
        std::string line = fileSpec[i];
        if (line.empty())
            continue;
        if (excludeSpec && excludeSpec->Count() > 0 && MatchesAny(current, excludeSpec)) {
            if (sender && sender->OnExcludeFile)
                sender->OnExcludeFile(sender, current);
            return false;
        }
        if (SameText(line, orig))
            return true;
        current = orig;
        const std::string specDir = WithTail(FolderPart(line));
        bool applies;
        if (!recurseDirs) {
            applies = SameText(nameDir, specDir);
        } else {
            applies = true;
            if (specDir.empty())
                current = ExtractFileName(DOSToUnixFilename(current));
        }
        if (!applies)
            continue;
        if (MatchesMask(current, line))
            return true;
        if (current.find('.') == std::string::npos)
            current += '.';
        if (line.find('.') == std::string::npos) {
            line += '.';
            fileSpec.SetString(i, line);
        }
        if (MatchesMask(current, line))
            return true;
    }
    return false;
}

bool CheckWildCard1(TZipCommon* sender, const std::string& name, const TStringList& fileSpec, const TStringList* excludeSpec)
{
    if (name.empty())
        return false;
    for (const std::string& line : fileSpec) {
        if (line.empty())
            continue;
        std::string tested = name;
        if (line.find('.') != std::string::npos && name.find('.') == std::string::npos)
            tested += '.';
        if (!MatchesMask(tested, line))
            continue;
        if (!excludeSpec || excludeSpec->Count() == 0)
            return true;
        if (MatchesAny(tested, excludeSpec)) {
            if (sender && sender->OnExcludeFile)
                sender->OnExcludeFile(sender, tested);
            return false;
        }
        return true;
    }
    return false;
}
