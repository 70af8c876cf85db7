#include "archive/zadunbase.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"
#include "rtl/streams.h"
#include "rtl/sysutils.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kBlock = 32768;
constexpr int E_NOMEMSTREAM = 25255;
constexpr int E_NOFILESTREAM = 25258;
constexpr int E_CLOSEERR = 25138;

bool IsZipType(TArcType t)
{
    return t == atJar || t == atJarExe || t == atZip || t == atZipExe || t == atZipDS || t == atZipMV;
}

bool IsAes(TEncryptionMethod m) { return m == emAES2_128 || m == emAES2_192 || m == emAES2_256; }

}  // namespace

// ---- TDecompMemoryStream --------------------------------------------------------------------

bool TDecompMemoryStream::AddItem(const TStreamHeader& header)
{
    m_items.push_back(header);
    if (m_items.back().FileName.size() > 255)
        m_items.back().FileName.resize(255);
    return true;
}

const TStreamHeader* TDecompMemoryStream::At(int index) const
{
    return index >= 0 && index < Count() ? &m_items[static_cast<size_t>(index)] : nullptr;
}

std::int32_t TDecompMemoryStream::GetFileDate(int index) const
{
    const TStreamHeader* h = At(index);
    const std::int32_t d = h ? h->FileDate : 0;
    return d <= kFallbackDosDate ? kFallbackDosDate : d;
}
std::int64_t TDecompMemoryStream::GetFileSize(int index) const { return At(index) ? At(index)->FileSize : 0; }
std::int64_t TDecompMemoryStream::GetFileOffset(int index) const { return At(index) ? At(index)->FileOffset : 0; }
std::string TDecompMemoryStream::GetFileName(int index) const { return At(index) ? At(index)->FileName : std::string(); }

void TDecompMemoryStream::ClearMemory()
{
    ClearList();
    Clear();
}


// ---- TUnBaseHeaderObj -------------------------------------------------------------------------

bool TUnBaseHeaderObj::AddItem(const TUnBaseFileInfo& info, const void* header, WORD headerLength)
{
    try {
        m_info.push_back(info);
        if (header && headerLength != 0) {
            const auto* p = static_cast<const std::uint8_t*>(header);
            m_headers.emplace_back(p, p + headerLength);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

TUnBaseFileInfo* TUnBaseHeaderObj::FileLocationData(int index)
{
    return index >= 0 && index < Count() ? &m_info[static_cast<size_t>(index)] : nullptr;
}

const std::vector<std::uint8_t>* TUnBaseHeaderObj::HeaderData(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < m_headers.size() ? &m_headers[static_cast<size_t>(index)] : nullptr;
}

void TUnBaseHeaderObj::CLEAR_LIST()
{
    m_info.clear();
    m_headers.clear();
}

// ---- safe names ---------------------------------------------------------------------------------

std::string SafeRelativeName(const std::string& storedName)
{
    std::string s = storedName;
    std::replace(s.begin(), s.end(), '\\', '/');
    if (s.empty() || s[0] == '/')
        return {};
    if (s.size() >= 2 && s[1] == ':' && std::isalpha(static_cast<unsigned char>(s[0]))) {
        if (s.size() >= 3 && s[2] == '/')
            return {};  // a drive-rooted name
        s.erase(0, 2);
    }
    std::string out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find('/', start);
        if (end == std::string::npos)
            end = s.size();
        const std::string part = s.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

// ---- TCustomDClass ------------------------------------------------------------------------------

TCustomDClass::TCustomDClass(TComponent* owner) : TZipCommon(owner)
{
    CreateStoredDirs = false;
    AsciiTranslation = false;
    DateAttribute = daFileDate;
    RecurseDirs = true;
    RestoreFileAttr = true;
    InflateProcRec.ReadProc = ReadBlockProc;
    InflateProcRec.WriteProc = WriteBlockProc;
    InflateProcRec.ProgressProc = ProgressCallback;
    InflateProcRec.ProgressLeft = &RemainingUnpackedSize;
    InflateProcRec.CancelFlag = CancelRef;
}

TCustomDClass::~TCustomDClass() = default;

bool TCustomDClass::SupportsType(TArcType) const { return false; }

void TCustomDClass::_Extract(TStream32*&, TStream32*) {}

bool TCustomDClass::VerifyPassword(std::uint8_t*) { return false; }

void TCustomDClass::Reset()
{
    *CancelRef = false;
    FileCount = 0;
    Encrypted = false;
    NextHeaderOffset = 0;
    MaxFileDate = 0;
    TotalPackedSize = 0;
    TotalUnpackedSize = 0;
    if (VolumeNumberRef)
        *VolumeNumberRef = -1;
    PasswordFailed = false;
    ProgressByArchive = 0;
    RemainingUnpackedSize = 0;
    OwnFileInfo = TUnBaseFileInfo{};
    CurrentFileInfo = &OwnFileInfo;
    if (CpuType == cpt80486)
        CpuType = cptAuto;
    VolumeName = ArchiveFile();
    DiskFull = false;
    EntryWriteFailed = false;
    FilenameRefused = false;
    BeginEntryOutput(-1);
    InflateProcRec.CancelFlag = CancelRef;
}

bool TCustomDClass::InitializeArcFile(TStream32*& inStream)
{
    inStream = nullptr;
    if (ArchiveFile().empty()) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_FILENOTFOUND);
        return false;
    }
    // A split or spanned set is read from the drive that holds it: one that
    // cannot be examined (no disk, an unreadable volume) ends the run before
    // any part is asked for. Such sets are only read, so a write-protected
    // disk is no obstacle.
    if (ArcType == atZipDS || ArcType == atZipMV) {
        auto report = [this](const std::string& fileName, const std::string& msgEx, const std::string& volumeID, int code) {
            RaiseErrorStr(fileName, msgEx, volumeID, code);
        };
        if (!DiskManager.GetDriveInfo(ArchiveFile(), nullptr, report, nullptr, nullptr, true))
            return false;
    }
    auto* f = new TFileStream32(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
    if (!f->Valid()) {
        delete f;
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_OPENERR);
        return false;
    }
    ArchiveSize = f->Size();
    inStream = f;
    return true;
}

void TCustomDClass::DestroyArcFile(TStream32*& inStream)
{
    delete inStream;
    inStream = nullptr;
}

int TCustomDClass::UnBase_Execute(TStream32*& inStream, TStream32* outStream)
{
    const std::string remembered = m_archiveFile;
    try {
        Reset();
        if (OnActivate)
            OnActivate(this);
        if (OnElapsedTime)
            Timer.Start();
        Filename.clear();
        EndOffset = ArchiveSize;
        if (ArcType != atGZip && ArcType != atMsGZ)
            AsciiTranslation = false;
        m_folderStamps.clear();
        if (IsArcValid(ArcType) && SupportsType(ArcType))
            _Extract(inStream, outStream);
        else
            ReportUnsupportedType(VolumeName);
    } catch (...) {
        // Nothing leaves an entry point; the count so far stands.
    }
    try {
        ApplyFolderStamps();
    } catch (...) {
    }
    try {
        if (OnElapsedTime) {
            Timer.Stop();
            OnElapsedTime(this, Timer.ElapsedTime);
        }
        if (OnDeactivate)
            OnDeactivate(this);
    } catch (...) {
    }
    m_archiveFile = remembered;
    return FileCount;
}

void TCustomDClass::NoteFolderStamp(const std::string& folder, const TEntryStamp& stamp)
{
    if (FileAccessMethod != faFile || folder.empty() || DirectoryExists(folder))
        return;
    const bool dated = DateAttribute == daFileDate && stamp.Time.Known;
    const bool moded = RestoreFileAttr && stamp.Mode >= 0;
    if (dated || moded)
        m_folderStamps.emplace_back(ExcludeTrailingPathDelimiter(folder), stamp);
}

void TCustomDClass::ApplyFolderStamps()
{
    // The deepest first: dating a folder's subfolder touches no time of its own.
    std::stable_sort(m_folderStamps.begin(), m_folderStamps.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [folder, stamp] : m_folderStamps) {
        if (!DirectoryExists(folder))
            continue;
        FILETIME ft{};
        const bool dated = DateAttribute == daFileDate && stamp.Time.Known;
        if (dated) {
            ft = FileTimeFromUnix(stamp.Time.Seconds);
            std::uint64_t v = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
            v += static_cast<std::uint64_t>(std::clamp(stamp.Time.Nanoseconds, 0, 999'999'999) / 100);
            ft.dwLowDateTime = static_cast<DWORD>(v);
            ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
        }
        SetFolderStamp(folder, dated ? &ft : nullptr, RestoreFileAttr ? stamp.Mode : -1);
    }
    m_folderStamps.clear();
}

int TCustomDClass::RunWith(TFileAccessMethod method)
{
    FileAccessMethod = method;
    TStream32* in = nullptr;
    if (!InitializeArcFile(in))
        return 0;
    InputIsArchiveFile = true;
    UnBase_Execute(in, nullptr);
    InputIsArchiveFile = false;
    DestroyArcFile(in);
    return FileCount;
}

int TCustomDClass::Extract() { return RunWith(faFile); }

int TCustomDClass::ExtractToFileStream(const std::string& fileName, TStream32* stream)
{
    if (!stream) {
        RaiseErrorStr(fileName, "", VolumeName, E_NOFILESTREAM);
        return 0;
    }
    TStringList saved;
    saved.Assign(FileSpec);
    FileSpec.Clear();
    FileSpec.Add(fileName);
    OutUserStream = stream;
    int n = 0;
    try {
        n = RunWith(faUserStream);
    } catch (...) {
    }
    FileSpec.Assign(saved);
    OutUserStream = nullptr;
    return n;
}

int TCustomDClass::ExtractToPointer(const std::string& fileName, void* buffer, std::int64_t room)
{
    if (!buffer) {
        RaiseErrorStr(fileName, "", VolumeName, E_NOFILESTREAM);
        return 0;
    }
    TStringList saved;
    saved.Assign(FileSpec);
    FileSpec.Clear();
    FileSpec.Add(fileName);
    OutPointer = static_cast<std::uint8_t*>(buffer);
    OutPointerEnd = OutPointer + std::max<std::int64_t>(room, 0);
    int n = 0;
    try {
        n = RunWith(faPointer);
    } catch (...) {
    }
    FileSpec.Assign(saved);
    OutPointer = OutPointerEnd = nullptr;
    return n;
}

int TCustomDClass::ExtractToMemoryStream(TDecompMemoryStream* stream)
{
    if (!stream) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_NOMEMSTREAM);
        return 0;
    }
    OutMemoryStream = stream;
    const int n = RunWith(faMemoryStream);
    OutMemoryStream = nullptr;
    return n;
}

int TCustomDClass::ExtractToVerify() { return RunWith(faVerify); }
int TCustomDClass::ExtractToNul() { return RunWith(faNul); }
int TCustomDClass::ExtractToSearch() { return RunWith(faSearch); }

int TCustomDClass::RunOnStream(TStream32*& inStream, TFileAccessMethod method)
{
    if (!inStream)
        return 0;
    // Nothing leaves an entry point: a detection that fails on damaged
    // bytes is an archive that does not open.
    try {
        ArcType = GetArcType(inStream);
        ArchiveSize = inStream->Size();
    } catch (...) {
        ArcType = atNA;
    }
    FileAccessMethod = method;
    return UnBase_Execute(inStream, nullptr);
}

int TCustomDClass::ExtractStreamToDisk(TStream32*& inStream) { return RunOnStream(inStream, faFile); }

int TCustomDClass::ExtractStreamToMemory(TStream32*& inStream)
{
    if (!OutMemoryStream) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_NOMEMSTREAM);
        return 0;
    }
    return RunOnStream(inStream, faMemoryStream);
}

// ---- one entry ------------------------------------------------------------------------------

bool TCustomDClass::doOnBegin(bool isDirectory)
{
    m_countedEntry = false;
    if (isDirectory)
        return true;
    Timer.Suspend();
    struct Resume {
        TZipTimer& t;
        ~Resume() { t.Resume(); }
    } resume{Timer};
    bool extract = true;
    if (OnBegin) {
        if (FileAccessMethod == faFile) {
            if (OnRenameFile) {
                std::string newName = Filename;
                OnRenameFile(this, Filename, newName);
                if (!newName.empty()) {
                    CreateDirEx(ExtractFileDir(newName));
                    Filename = newName;
                }
            }
            OnBegin(this, Filename, FileCount + 1, extract);
        } else {
            OnBegin(this, StoredName, FileCount + 1, extract);
        }
    }
    if (GetCancel() || !extract)
        return false;
    if (FileAccessMethod != faFile) {
        ++FileCount;
        m_countedEntry = true;
        return true;
    }
    if (Filename.empty())
        return false;
    if (!ConfirmOverwrites) {
        // Skipping concerns files that are there; a new file is always written.
        if (OverwriteMode == omSkip && (FileExists(Filename) || DirectoryExists(Filename)))
            return false;
        ++FileCount;
        m_countedEntry = true;
        return true;
    }
    OverwriteMode = omOverwrite;
    if (FileExists(Filename) || DirectoryExists(Filename)) {
        const DWORD firstAttr = GetFileAttributesA(Filename);
        if (!OnFileExists) {
            RaiseErrorStr(Filename, "OnFileExists", VolumeName, E_REQUIREDEVENT);
            OverwriteMode = omSkip;
        } else {
            do {
                std::string newName;
                OnFileExists(this, Filename, newName, OverwriteMode);
                if (GetCancel())
                    return false;  // a cancelled question never overwrites
                if (newName.empty())
                    newName = Filename;
                CreateDirEx(ExtractFileDir(newName));
                if (OverwriteMode == omOverwrite) {
                    if (SameText(newName, Filename))
                        break;
                    Filename = newName;
                }
            } while (!GetCancel() && OverwriteMode != omSkip && (FileExists(Filename) || DirectoryExists(Filename)));
        }
        if (!GetCancel() && OverwriteMode == omOverwrite && firstAttr != INVALID_FILE_ATTRIBUTES &&
            (firstAttr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))) {
            if (firstAttr & (FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY)) {
                RaiseErrorStr(Filename, "", VolumeName, E_WRITE);
                return false;
            }
            SetFileAttributesA(Filename, FILE_ATTRIBUTE_NORMAL);
        }
    }
    if (!GetCancel() && OverwriteMode == omOverwrite && !Filename.empty()) {
        // A folder of that name cannot be replaced by a file.
        if (DirectoryExists(Filename)) {
            RaiseErrorStr(Filename, "", VolumeName, E_WRITE);
            return false;
        }
        ++FileCount;
        m_countedEntry = true;
        return true;
    }
    return false;
}

bool TCustomDClass::Open_OutFile(TStream32*& outStream, const std::string& fileName, const std::string& storedName)
{
    EntryWriteFailed = false;
    if (Encrypted && (EntryPasswordFailed))
        return true;
    if (fileName.empty())
        return false;
    switch (FileAccessMethod) {
    case faFile:
    case faAppend: {
        CreateDirEx(ExtractFileDir(fileName));
        auto* f = FileAccessMethod == faFile ? new TFileStream32(fileName, fmCreate)
                                             : new TFileStream32(fileName, fmOpenReadWrite | fmShareDenyWrite);
        if (!f->Valid()) {
            delete f;
            outStream = nullptr;
            return false;
        }
        if (FileAccessMethod == faAppend)
            f->Seek(std::int64_t{0}, soEnd);
        outStream = f;
        return true;
    }
    case faMemoryStream:
        if (!OutMemoryStream)
            return false;
        OutMemoryStream->AddItem(TStreamHeader{EntryDosDate, InflateRec.UnpackedSize, OutMemoryStream->Position(),
                                               storedName.substr(0, 255)});
        return true;
    case faUserStream: return OutUserStream != nullptr;
    default: return true;
    }
}

bool TCustomDClass::Close_OutFile(TStream32*& stream)
{
    switch (FileAccessMethod) {
    case faFile:
    case faAppend:
        try {
            delete stream;
            stream = nullptr;
            return true;
        } catch (...) {
            stream = nullptr;
            return false;
        }
    case faMemoryStream:
    case faUserStream:
    case faPointer: return true;
    default: return false;
    }
}

void TCustomDClass::DiscardOutput(TStream32*& outStream, const std::string& fileName)
{
    if (FileAccessMethod != faFile) {
        return;
    }
    delete outStream;
    outStream = nullptr;
    if (!fileName.empty())
        DeleteFileA(fileName);
}

void TCustomDClass::EndEntryOutput(TStream32*& outStream, TStream32* out, bool discard)
{
    if (FileAccessMethod == faFile && outStream && outStream != out) {
        if (discard)
            DiscardOutput(outStream, Filename);
        delete outStream;
        outStream = nullptr;
    }
    BeginEntryOutput(-1);
}

void TCustomDClass::CloseAndSetDate(TStream32*& stream, const std::string& fileName, std::int32_t dosDateTime,
                                    std::int32_t attr, const TEntryStamp& stamp)
{
    if (FileAccessMethod != faFile && FileAccessMethod != faAppend) {
        Filename = StoredName;
        return;
    }
    if (auto* h = dynamic_cast<THandleStream32*>(stream); h && h->Valid()) {
        FILETIME ft;
        if (DateAttribute == daFileDate && stamp.Time.Known) {
            ft = FileTimeFromUnix(stamp.Time.Seconds);
            std::uint64_t v = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
            v += static_cast<std::uint64_t>(std::clamp(stamp.Time.Nanoseconds, 0, 999'999'999) / 100);
            ft.dwLowDateTime = static_cast<DWORD>(v);
            ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
        } else {
            ft = FileTimeFromUnix(DosDateToUnix(zadConvertDate(GetDateTime(dosDateTime))));
        }
        SetFileTime(h->Handle(), nullptr, nullptr, &ft);
        if (RestoreFileAttr && stamp.Mode >= 0)
            SetFilePermissionBits(h->Handle(), static_cast<DWORD>(stamp.Mode));
    }
    if (!Close_OutFile(stream))
        RaiseErrorStr(fileName, "", VolumeName, E_CLOSEERR);
    if (RestoreFileAttr && attr != 0x20 && (attr & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(fileName, static_cast<DWORD>(attr));
}

bool TCustomDClass::doOnEnd(BYTE crcWidth, std::uint32_t storedCrc)
{
    bool pass = false;
    if (!GetCancel() && !ForceCrcFail) {
        const std::uint32_t r = crcWidth == 16 ? Crc16Val : Crc32Val;
        pass = r == storedCrc || (r ^ CRC_MASK) == storedCrc;
    }
    const std::string n = FileAccessMethod == faFile ? Filename : StoredName;
    if (OnEnd) {
        Timer.Suspend();
        try {
            OnEnd(this, n.empty() ? StoredName : n, pass);
        } catch (...) {
            Timer.Resume();
            throw;
        }
        Timer.Resume();
    } else if (!pass && OnError) {
        RaiseErrorStr(n, "", VolumeName, E_CRCERROR);
    }
    ForceCrcFail = false;
    return pass;
}

void TCustomDClass::AdjustProgress(const TInflateRec& rec)
{
    RemainingUnpackedSize -= std::min(rec.UnpackedSize, RemainingUnpackedSize);
    doBranchProgress(rec.UnpackedSize, rec.UnpackedSize, TotalUnpackedSize);
}

void TCustomDClass::FailEntry(const TInflateRec& rec)
{
    if (m_countedEntry && FileCount > 0)
        --FileCount;
    m_countedEntry = false;
    AdjustProgress(rec);
    ForceCrcFail = true;
}

// ---- declared sizes -------------------------------------------------------------------------

void TCustomDClass::BeginEntryOutput(std::int64_t declared)
{
    EntryLimit = declared;
    EntryWritten = 0;
    EntryTooLong = false;
}

bool TCustomDClass::EntrySizeAgrees(bool dataEnded)
{
    std::string what;
    if (EntryTooLong)
        what = "declares " + std::to_string(EntryLimit) + " bytes, its data gives more";
    else if (dataEnded && EntryLimit >= 0 && EntryWritten < EntryLimit && !GetCancel())
        what = "declares " + std::to_string(EntryLimit) + " bytes, its data ends after " + std::to_string(EntryWritten);
    if (what.empty())
        return true;
    RaiseErrorStr(FileAccessMethod == faFile ? Filename : StoredName, what, VolumeName, E_SIZEDIFFERENT);
    return false;
}

bool TCustomDClass::RoomForEntry(std::int64_t declared)
{
    if (FileAccessMethod != faMemoryStream || !OutMemoryStream)
        return true;
    // The stream holds at most 2 GB; beyond what memory can give, Linux
    // would grant the space and kill the program on first touch.
    const std::int64_t avail = AvailableMemory();
    if (declared <= INT32_MAX - OutMemoryStream->Size() && (avail < 0 || declared <= avail))
        return true;
    RaiseErrorStr(StoredName, "declares " + std::to_string(declared) + " bytes", VolumeName, E_MEMSTREAMFULL);
    return false;
}

// ---- passwords --------------------------------------------------------------------------------

bool TCustomDClass::TryPassword(TStream32* inStream, std::uint8_t* work)
{
    if (IsAes(EncryptionMethod)) {
        if (!AES)
            return false;
        BYTE headerLength = 0;
        const bool ok = AES->zadDecryptInit(Password, AesHeader.Strength, headerLength);
        if (!ok && AES->PasswordTooLong())
            RaiseErrorStr(Filename, "Password longer than 128 bytes", VolumeName, E_INVALIDPASSWORD);
        return ok;
    }
    (void)inStream;
    return VerifyPassword(work);
}

bool TCustomDClass::RequestPassword(TStream32* inStream, bool ask)
{
    Timer.Suspend();
    struct Resume {
        TZipTimer& t;
        ~Resume() { t.Resume(); }
    } resume{Timer};
    if (EncryptionMethod != emZIP_v2 && !IsAes(EncryptionMethod))
        return false;
    std::uint8_t work[25] = {};
    if (EncryptionMethod == emZIP_v2) {
        // The 12-byte encryption header, kept in bytes 12..23 so that every
        // candidate decrypts the same bytes.
        if (ReadBlockProc(inStream, nullptr, work + 12, false, 0, 12, dtHeader) != 12)
            return false;
    }
    if (TryPassword(inStream, work))
        return true;
    for (int i = 0; i < Passwords.Count(); ++i) {
        Password = Passwords[i];
        if (TryPassword(inStream, work))
            return true;
    }
    if (!ask)
        return false;
    if (!OnGetPassword) {
        RaiseErrorStr(Filename, "OnGetPassword", VolumeName, E_REQUIREDEVENT);
        return false;
    }
    bool tryAgain = true;
    for (int attempt = 0; attempt < PasswordAttempts && !GetCancel(); ++attempt) {
        OnGetPassword(this, Filename, Password, StartingHeadKeys, StartingDataKeys, tryAgain);
        if (!tryAgain) {
            RaiseErrorStr(Filename, LoadResString(E_USERCANCELED), VolumeName, E_INVALIDPASSWORD);
            return false;
        }
        if (EncryptionMethod == emZIP_v2)
            Crc32Val = CRC_MASK;
        if (TryPassword(inStream, work)) {
            Passwords.Insert(0, Password);
            return true;
        }
        RaiseErrorStr(Filename, Password, VolumeName, E_INVALIDPASSWORD);
        Password.clear();
    }
    return false;
}

// ---- the data path --------------------------------------------------------------------------

void TCustomDClass::UpdateCrcBuffer(BYTE crcWidth, const void* buf, std::int32_t count)
{
    if (count <= 0)
        return;
    if (crcWidth == 32) {
        // zlib's crc32 inverts before and after; the register here is kept raw.
        Crc32Val = ~static_cast<std::uint32_t>(
            crc32(static_cast<uLong>(~Crc32Val), static_cast<const Bytef*>(buf), static_cast<uInt>(count)));
    } else if (crcWidth == 16) {
        Crc16Val = Crc16_buf(buf, static_cast<std::size_t>(count), Crc16Val);
    }
}

void TCustomDClass::UpdateEncryptBuffer(bool isEncrypted, void* buf, std::int32_t count)
{
    if (!isEncrypted || count <= 0)
        return;
    if (ArcType == atBh || ArcType == atBhExe) {
        zadDecodeBuf(false, buf, static_cast<std::size_t>(count));
    } else if (IsZipType(ArcType)) {
        // The entry's method decides (not the order of its extra fields).
        if (IsAes(EncryptionMethod))
            zadDecryptBuf(buf, count);
        else if (EncryptionMethod == emZIP_v2)
            zadDecodeBuf(false, buf, static_cast<std::size_t>(count));
    }
}

std::int32_t TCustomDClass::ReadProc(TStream32* inStream, TStream32*, void* buf, bool isEncrypted, BYTE crcWidth,
                                     std::int32_t count, TDataType)
{
    if (count <= 0 || !inStream)
        return 0;
    std::int32_t n = 0;
    try {
        n = inStream->Read(buf, count);
    } catch (const EReadError&) {
        n = 0;
    }
    if (n <= 0)
        return 0;
    UpdateEncryptBuffer(isEncrypted, buf, n);
    UpdateCrcBuffer(crcWidth, buf, n);
    return n;
}

std::int32_t TCustomDClass::ExtractWriteProc(TStream32*& outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                             std::int32_t count, TDataType writeType)
{
    if (isEncrypted && writeType == dtData && IsZipType(ArcType)) {
        if (IsAes(EncryptionMethod))
            zadDecryptBuf(buf, count);
        else if (EncryptionMethod == emZIP_v2)
            zadDecodeBuf(false, buf, static_cast<std::size_t>(count));
    }
    return WriteData(outStream, buf, crcWidth, count, writeType);
}

std::int32_t TCustomDClass::WriteData(TStream32*& outStream, const void* buf, BYTE crcWidth, std::int32_t count,
                                      TDataType writeType)
{
    if (count <= 0)
        return 0;
    // Once an entry's output failed, the rest of it is dropped: the failure
    // is counted and reported once.
    if (EntryWriteFailed)
        return 0;
    // Never more than the entry declares: what fits is written, and the
    // entry then fails (EntrySizeAgrees reports it).
    bool tooLong = false;
    if (writeType == dtData && EntryLimit >= 0 && count > EntryLimit - EntryWritten) {
        count = static_cast<std::int32_t>(std::max<std::int64_t>(EntryLimit - EntryWritten, 0));
        tooLong = true;
    }
    if (tooLong && count == 0) {
        EntryTooLong = EntryWriteFailed = true;
        return 0;
    }
    auto put = [&](const void* p, std::int32_t n) -> std::int32_t {
        switch (FileAccessMethod) {
        case faFile:
        case faAppend: return outStream ? outStream->Write(p, n) : 0;
        case faMemoryStream: return OutMemoryStream ? OutMemoryStream->Write(p, n) : 0;
        case faUserStream: return OutUserStream ? OutUserStream->Write(p, n) : 0;
        case faPointer: {
            const std::int64_t room = OutPointer && OutPointerEnd ? OutPointerEnd - OutPointer : 0;
            const auto k = static_cast<std::int32_t>(std::min<std::int64_t>(room, n));
            if (k > 0) {
                std::memcpy(OutPointer, p, static_cast<size_t>(k));
                OutPointer += k;
            }
            return k;
        }
        case faVerify:
        case faNul:
        // A search run decodes to find, not to keep: the bytes go nowhere.
        case faSearch: return n;
        default: return 0;
        }
    };
    SetLastError(0);
    std::int32_t written = 0;
    if (AsciiTranslation) {
        const auto* b = static_cast<const std::uint8_t*>(buf);
        std::int32_t from = 0;
        bool complete = true;
        for (std::int32_t i = 0; i < count && complete; ++i) {
            if (b[i] == '\n' && (i == 0 || b[i - 1] != '\r')) {
                if (i > from)
                    complete = put(b + from, i - from) == i - from;
                if (complete)
                    complete = put("\r\n", 2) == 2;
                from = i + 1;
            }
        }
        if (complete && from < count)
            complete = put(b + from, count - from) == count - from;
        written = complete ? count : 0;
    } else {
        written = put(buf, count);
    }
    if (written < count) {
        EntryWriteFailed = true;
        if (GetLastError() == ERROR_DISK_FULL) {
            DiskFull = true;
            if (m_countedEntry && FileCount > 0)
                --FileCount;
            m_countedEntry = false;
            RaiseError(ArchiveFile(), Filename, "0", E_DISKFULL);
            return written;
        }
        if (m_countedEntry && FileCount > 0)
            --FileCount;
        m_countedEntry = false;
        RaiseErrorStr(Filename, "", ArchiveFile(), E_WRITE);
        return written;
    }
    if (writeType == dtData) {
        UpdateCrcBuffer(crcWidth, buf, count);
        EntryWritten += written;
    }
    if (tooLong)
        EntryTooLong = EntryWriteFailed = true;
    return written;
}

std::int64_t TCustomDClass::Unstore(TStream32* inStream, TStream32*& outStream, BYTE crcWidth, const TInflateRec& rec)
{
    std::int64_t remaining = rec.UnpackedSize;
    const bool readEncrypted = (ArcType == atArj || ArcType == atArjExe) && (rec.BitFlag & 1);
    const bool writeEncrypted = (ArcType == atBh || ArcType == atBhExe || IsZipType(ArcType)) && (rec.BitFlag & 1);
    std::vector<std::uint8_t> buf(static_cast<size_t>(std::clamp<std::int64_t>(remaining, 1, kBlock)));
    while (remaining > 0) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, kBlock));
        const std::int32_t got = ReadBlockProc(inStream, nullptr, buf.data(), readEncrypted, 0, want, dtData);
        if (got <= 0)
            break;
        remaining -= got;
        RemainingUnpackedSize -= std::clamp<std::int64_t>(got, 0, std::max<std::int64_t>(RemainingUnpackedSize, 0));
        WriteBlockProc(outStream, buf.data(), writeEncrypted, crcWidth, got, dtData);
        if (EntryWriteFailed)
            break;
        doBranchProgress(rec.UnpackedSize - remaining, rec.UnpackedSize, TotalUnpackedSize);
        ProcessMessages();
        if (GetCancel())
            break;
    }
    return remaining;
}

// ---- output paths ----------------------------------------------------------------------------

void TCustomDClass::SetFilename(const std::string& name)
{
    FilenameRefused = false;
    if (name.empty()) {
        Filename.clear();
        return;
    }
    if (ExtractDir.empty()) {
        const std::string arcDir = ExtractFilePath(ArchiveFile());
        SetExtractDir(arcDir.empty() ? _GetCurrentDir() : arcDir);
    }
    const std::string dir = _AppendDirTail(ExtractDir);
    std::string rel;
    if (UseStoredDirs) {
        rel = SafeRelativeName(name);
        // "./", the first entry of "tar cf x.tar .", is the target folder itself.
        if (rel.empty() && name[0] != '/' && name[0] != '\\' &&
            name.find_first_not_of("./\\") == std::string::npos && name.find("..") == std::string::npos) {
            Filename = ExcludeTrailingPathDelimiter(dir);
            return;
        }
    } else {
        std::string base = name;
        const size_t p = base.find_last_of("/\\:");
        if (p != std::string::npos)
            base = base.substr(p + 1);
        if (base.empty() || base == ".") {
            // A folder entry without its stored folders is the target folder itself.
            Filename = ExcludeTrailingPathDelimiter(dir);
            return;
        }
        if (base != "..")
            rel = base;
    }
    // No component below the target folder may be a link already on disk:
    // writing through it would land outside the folder.
    bool viaLink = false;
    if (!rel.empty()) {
        std::string path = dir;
        size_t start = 0;
        while (start < rel.size()) {
            size_t end = rel.find('/', start);
            if (end == std::string::npos)
                end = rel.size();
            path += rel.substr(start, end - start);
            if (IsSymbolicLink(path)) {
                viaLink = true;
                break;
            }
            path += '/';
            start = end + 1;
        }
    }
    if (rel.empty() || viaLink) {
        Filename.clear();
        FilenameRefused = true;
        RaiseErrorStr(name, "", VolumeName, E_INVALIDFILENAME);
        return;
    }
    Filename = dir + rel;
}
