#include "zadunace.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int E_ACELIBRARY = 25103;
constexpr int E_PASSWORDFAILED = 26522;
constexpr int E_CLOSEERR = 25138;
// What is missing, in this system's terms: there is no ACE 2 decoder for
// Linux (Debian's unace reads ACE 1 only).
constexpr const char* kNoAceLibrary = "none is available on this system";
constexpr int kOk = ACE_CALLBACK_RETURN_OK, kNo = ACE_CALLBACK_RETURN_NO, kCancel = ACE_CALLBACK_RETURN_CANCEL;

// Header layout of an ACE archive, as the scan reads it:
//   main header  CRC16(2) HEAD_SIZE(2) type(1) flags(2) "**ACE**"(7) ...
//                31 bytes read; the first file header follows at 4 + HEAD_SIZE
//   file header  CRC16(2) HEAD_SIZE(2) type(1)=1 flags(2) PSIZE(4) SIZE(4)
//                FTIME(4) ATTR(4) CRC32(4) TECH(4) PARM(2) FNAME_SIZE(2) name
//                the data (PSIZE bytes) follow at 4 + HEAD_SIZE
constexpr int kMainRead = 31;
constexpr int kFileRead = 35;
constexpr int kFlagContinuedFromPrevious = 0x1000;

std::function<std::unique_ptr<TAceLibrary>()>& Factory()
{
    static std::function<std::unique_ptr<TAceLibrary>()> factory;
    return factory;
}

bool ReadAt(TStream32& s, std::int64_t pos, void* buf, std::int32_t n)
{
    return s.Seek(pos, soBeginning) == pos && s.Read(buf, n) == n;
}

std::string WithoutTail(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

void SetAceLibraryFactory(std::function<std::unique_ptr<TAceLibrary>()> factory) { Factory() = std::move(factory); }

TUnACE::~TUnACE() = default;

bool TUnACE::SupportsType(TArcType type) const { return type == atAce || type == atAceExe; }

std::string TUnACE::MaskList() const
{
    if (FileSpec.Count() == 0)
        return "*";
    std::string list;
    for (const std::string& m : FileSpec)
        list += m + '\r';
    return list;
}

// ---- the scan -------------------------------------------------------------------------------

bool TUnACE::GetArchiveTotals(const std::string& archiveName)
{
    TFileStream32 f(archiveName, fmOpenRead | fmShareDenyWrite);
    if (!f.Valid()) {
        RaiseErrorStr(archiveName, "", VolumeName, E_OPENERR);
        return false;
    }
    m_entries = 0;
    TotalPackedSize = 0;
    TotalUnpackedSize = 0;
    try {
        const std::int64_t size = f.Size();
        // Only the archive itself may sit behind a stub; its volumes start at 0.
        const std::int64_t start = SameText(archiveName, ArchiveFile()) ? std::max<std::int64_t>(ArchiveStartOffset, 0) : 0;
        std::uint8_t m[kMainRead];
        if (!ReadAt(f, start, m, kMainRead) || std::memcmp(m + 7, "**ACE**", 7) != 0)
            return false;
        std::int64_t pos = start + 4 + LoadLe16(m + 2);
        std::vector<std::string> folders;
        while (pos + kFileRead <= size) {
            std::uint8_t b[kFileRead];
            if (!ReadAt(f, pos, b, kFileRead) || b[4] != 1)
                break;
            const WORD headSize = LoadLe16(b + 2);
            const WORD flags = LoadLe16(b + 5);
            const std::int64_t packed = LoadLe32(b + 7);
            const std::int64_t unpacked = LoadLe32(b + 11);
            const auto date = static_cast<std::int32_t>(LoadLe32(b + 15));
            const std::uint32_t attributes = LoadLe32(b + 19);
            const WORD nameLength = LoadLe16(b + 33);
            // The name lies within its header.
            if (kFileRead + nameLength > 4 + headSize)
                return false;
            std::string raw(nameLength, '\0');
            if (nameLength && !ReadAt(f, pos + kFileRead, raw.data(), nameLength))
                return false;
            const std::string name = DOSToUnixFilename(_OemToCharFilter(raw, TranslateOemChar));
            if (attributes & 0x10) {
                if (WriteToFile() && CreateStoredDirs)
                    folders.push_back(WithoutTail(name));
            } else {
                // A folder a file lands in comes into being with the file.
                folders.erase(std::remove(folders.begin(), folders.end(), ExtractFileDir(name)), folders.end());
                if (!(flags & kFlagContinuedFromPrevious) && CheckWildCard2(this, name, FileSpec, RecurseDirs, &ExcludeSpec)) {
                    TotalPackedSize += packed;
                    TotalUnpackedSize += unpacked;
                    RemainingUnpackedSize = TotalUnpackedSize;
                    ++m_entries;
                    if (static_cast<std::uint32_t>(date) > static_cast<std::uint32_t>(MaxFileDate))
                        MaxFileDate = date;
                }
            }
            pos += 4 + headSize + packed;
        }
        // The folders no file fills, where the run's own rules put them.
        if (UseStoredDirs && !ExtractDir.empty())
            for (const std::string& folder : folders) {
                const std::string relative = SafeRelativeName(folder);
                if (!relative.empty())
                    CreateDirEx(IncludeTrailingPathDelimiter(ExtractDir) + relative);
            }
        return true;
    } catch (...) {
        return false;
    }
}

// ---- the library's callbacks -------------------------------------------------------------

TAceCallbacks TUnACE::Callbacks()
{
    TAceCallbacks c;
    c.Info = [this](int code) { return GetCancel() ? kCancel : AnswerInfo(code); };
    c.Error = [](int) { return kCancel; };
    c.Request = [this](int code, TAceRequest& r) { return GetCancel() ? kCancel : AnswerRequest(code, r); };
    c.State = [this](int code, TAceFileState& s) { return GetCancel() ? kCancel : AnswerState(code, s); };
    return c;
}

int TUnACE::AnswerInfo(int code)
{
    switch (code) {
    case ACE_CALLBACK_INFO_FILELISTCREATE:
    case ACE_CALLBACK_INFO_FILELISTCREATEEND: m_processedEntries = 0; return kOk;
    case ACE_CALLBACK_INFO_FILELISTADD: ++m_processedEntries; return kOk;
    default: return kNo;
    }
}

int TUnACE::AnswerRequest(int code, TAceRequest& request)
{
    switch (code) {
    case ACE_CALLBACK_REQUEST_CHANGEVOLUME: {
        if (!OnNextVolume) {
            RaiseErrorStr(ArchiveFile(), "OnNextVolume", VolumeName, E_REQUIREDEVENT);
            return kCancel;
        }
        // Volume 1 is the first after the archive: arc.c00, arc.c01 ...
        std::string name = GetNextVolumeName(VolumeName, request.VolumeNumber - 1);
        if (!GetNextVolume(name, request.VolumeNumber))
            return kCancel;
        request.ArchiveName = name;
        VolumeNumber = request.VolumeNumber;
        if (!FileExists(name))
            return kNo;
        return GetArchiveTotals(name) ? kOk : kCancel;
    }
    case ACE_CALLBACK_REQUEST_OVERWRITE:
        if (OverwriteMode == omSkip)
            return kNo;
        SetFileAttributesA(request.FileName, FILE_ATTRIBUTE_NORMAL);
        return kOk;
    case ACE_CALLBACK_REQUEST_PASSWORD: return AnswerPassword(request);
    default: return kCancel;
    }
}

int TUnACE::AnswerPassword(TAceRequest& request)
{
    if (!OnGetPassword) {
        RaiseErrorStr(request.FileName, "OnGetPassword", VolumeName, E_REQUIREDEVENT);
        return kCancel;
    }
    try {
        for (int attempt = 1; attempt <= PasswordAttempts; ++attempt) {
            TSeedKeyRecord header{}, data{};
            bool again = true;
            OnGetPassword(this, request.FileName, Password, header, data, again);
            if (!Password.empty()) {
                request.Password = Password;
                return kOk;
            }
            if (attempt == PasswordAttempts)
                RaiseErrorStr(request.FileName, "", VolumeName, E_PASSWORDFAILED);
            if (!again || GetCancel()) {
                RaiseErrorStr(request.FileName, "", VolumeName, E_INVALIDPASSWORD);
                return kCancel;
            }
        }
        return kCancel;
    } catch (...) {
        request.Password.clear();
        return kNo;
    }
}

int TUnACE::AnswerState(int code, TAceFileState& state)
{
    switch (code) {
    case ACE_CALLBACK_STATE_STARTFILE: return StartFile(state);
    case ACE_CALLBACK_STATE_PROGRESS: Progress(state); return kOk;
    case ACE_CALLBACK_STATE_ENDFILE: EndFile(state); return kOk;
    default: return kOk;
    }
}

int TUnACE::StartFile(TAceFileState& state)
{
    RestoreKeptFile();
    if (m_entry.Out)
        Close_OutFile(m_entry.Out);
    m_entry = TEntry{};
    m_entry.Size = state.Size;
    m_entry.DosDateTime = state.DosDateTime;
    StoredName = DOSToUnixFilename(state.StoredName);
    const bool isDir = state.Attributes & 0x10;
    const bool selected = CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec);
    if (state.Operation == TAceOperation::List) {
        if (selected && !isDir) {
            TotalPackedSize += state.PackedSize;
            TotalUnpackedSize += state.Size;
            ++m_entries;
            if (static_cast<std::uint32_t>(state.DosDateTime) > static_cast<std::uint32_t>(MaxFileDate))
                MaxFileDate = state.DosDateTime;
        }
        return kOk;
    }
    if (isDir)
        return kOk;  // the library makes the folder; there is nothing to report
    InflateRec = TInflateRec{};
    InflateRec.UnpackedSize = state.Size;
    InflateRec.PackedSize = state.PackedSize;
    InflateRec.ProgressTotal = TotalUnpackedSize;
    EntryDosDate = state.DosDateTime;
    FileDate = ConvertDate(state.DosDateTime);
    if (!selected)
        return kNo;
    SetFilename(StoredName);
    if (FilenameRefused) {
        AdjustProgress(InflateRec);
        return kNo;
    }
    if (state.Operation == TAceOperation::Test) {
        if (!doOnBegin(false)) {
            AdjustProgress(InflateRec);
            return kNo;
        }
        if (!Open_OutFile(m_entry.Out, Filename, StoredName)) {
            FailEntry(InflateRec);
            doOnEnd(32, Crc32Val);
            return kNo;
        }
        Crc32Val = 0xFFFFFFFFu;
        BeginEntryOutput(state.Size);
        m_entry.Selected = true;
        return kOk;
    }
    // The library writes where it says, unless it takes the component's path.
    if (state.TargetName.empty())
        state.TargetName = Filename;
    m_entry.LibraryTarget = state.TargetName;
    const std::string root = IncludeTrailingPathDelimiter(WithoutTail(ExtractDir));
    if (m_entry.LibraryTarget.compare(0, root.size(), root) != 0 ||
        SafeRelativeName(m_entry.LibraryTarget.substr(root.size())) != m_entry.LibraryTarget.substr(root.size())) {
        // Nothing is written outside the target folder, whoever names the path.
        RaiseErrorStr(m_entry.LibraryTarget, "", VolumeName, E_INVALIDFILENAME);
        AdjustProgress(InflateRec);
        return kNo;
    }
    m_entry.FolderExisted = DirectoryExists(ExtractFileDir(m_entry.LibraryTarget));
    if (!doOnBegin(false)) {
        AdjustProgress(InflateRec);
        return kNo;
    }
    m_entry.Moved = Filename != m_entry.LibraryTarget;
    if (m_entry.Moved && (FileExists(m_entry.LibraryTarget) || DirectoryExists(m_entry.LibraryTarget))) {
        // What stands at the library's path is not this entry's to replace
        // (the entry was named elsewhere, often because of it): it steps
        // aside while the library writes, and comes back afterwards.
        const std::string folder = ExtractFilePath(m_entry.LibraryTarget);
        for (int n = 0; n < 1000 && m_entry.KeptFile.empty(); ++n) {
            const std::string aside = folder + ".kept-" + std::to_string(n) + "-" + ExtractFileName(m_entry.LibraryTarget);
            if (!FileExists(aside) && !DirectoryExists(aside) && MoveFileA(m_entry.LibraryTarget, aside))
                m_entry.KeptFile = aside;
        }
        if (m_entry.KeptFile.empty()) {
            RaiseErrorStr(m_entry.LibraryTarget, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
            doOnEnd(32, Crc32Val);
            return kNo;
        }
    }
    Crc32Val = 0xFFFFFFFFu;
    m_entry.Selected = true;
    return kOk;
}

void TUnACE::Progress(const TAceFileState& state)
{
    if (!m_entry.Selected)
        return;
    if (state.Operation == TAceOperation::Test && state.Data && state.DataSize > 0)
        ExtractWriteProc(m_entry.Out, const_cast<void*>(state.Data), false, 32, state.DataSize, dtData);
    const std::int64_t step = std::max<std::int64_t>(state.ProcessedBytes, 0);
    m_entry.Processed += step;
    RemainingUnpackedSize -= std::min(step, RemainingUnpackedSize);
    doBranchProgress(std::min(m_entry.Processed, m_entry.Size), m_entry.Size, TotalUnpackedSize);
    ProcessMessages();
}

void TUnACE::EndFile(const TAceFileState& state)
{
    if (!m_entry.Selected)
        return;
    m_entry.Selected = false;
    if (state.Operation == TAceOperation::Test) {
        const bool whole = state.CrcOk && EntrySizeAgrees(true) && !EntryWriteFailed;
        if (m_entry.Out && !Close_OutFile(m_entry.Out))
            RaiseErrorStr(Filename, "", VolumeName, E_CLOSEERR);
        m_entry.Out = nullptr;
        BeginEntryOutput(-1);
        doOnEnd_Local(whole, 128);
        return;
    }
    bool pass = state.CrcOk;
    if (m_entry.Moved) {
        pass = pass && MoveTarget();
        if (!pass)
            DeleteFileA(m_entry.LibraryTarget);
        RestoreKeptFile();
        if (!m_entry.FolderExisted)
            RemoveCreatedFolders(ExtractFileDir(m_entry.LibraryTarget));
    }
    // A file whose data failed is not left behind.
    if (!pass)
        DeleteFileA(Filename);
    doOnEnd_Local(pass, state.Attributes);
}

bool TUnACE::MoveTarget()
{
    const std::string& from = m_entry.LibraryTarget;
    CreateDirEx(ExtractFileDir(Filename));
    if (ReplaceFileA(from, Filename))
        return true;
    // Another file system: a copy beside the target takes its place once complete.
    const std::string partial = ExtractFilePath(Filename) + ".moving-" + ExtractFileName(Filename);
    bool copied = false;
    {
        TFileStream32 in(from, fmOpenRead | fmShareDenyWrite);
        TFileStream32 out(partial, fmCreate);
        if (in.Valid() && out.Valid()) {
            const std::int64_t size = in.Size();
            copied = out.CopyFrom(&in, 0) == size && out.Size() == size;
        }
    }
    if (copied && ReplaceFileA(partial, Filename)) {
        DeleteFileA(from);
        return true;
    }
    DeleteFileA(partial);
    RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
    return false;
}

void TUnACE::RestoreKeptFile()
{
    if (m_entry.KeptFile.empty())
        return;
    if (!FileExists(m_entry.LibraryTarget) && !DirectoryExists(m_entry.LibraryTarget))
        MoveFileA(m_entry.KeptFile, m_entry.LibraryTarget);
    m_entry.KeptFile.clear();
}

void TUnACE::RemoveCreatedFolders(const std::string& folder)
{
    const std::string root = WithoutTail(ExtractDir);
    std::string at = WithoutTail(folder);
    // Innermost first, up to the target folder, while each is empty.
    while (at.size() > root.size() && at.compare(0, root.size(), root) == 0 && at[root.size()] == '/') {
        if (!RemoveDirectoryA(at))
            break;
        at = ExtractFileDir(at);
    }
}

void TUnACE::doOnEnd_Local(bool crcPass, std::uint32_t attributes)
{
    if (WriteToFile() && crcPass) {
        // The library's file takes the entry's date and, with RestoreFileAttr,
        // its attributes (128, normal, leaves them).
        TStream32* file = new TFileStream32(Filename, fmOpenReadWrite);
        if (static_cast<TFileStream32*>(file)->Valid())
            CloseAndSetDate(file, Filename, m_entry.DosDateTime, attributes == 128 ? 0x20 : static_cast<std::int32_t>(attributes));
        else
            delete file;
    }
    if (!crcPass)
        FailEntry(InflateRec);
    ForceCrcFail = !crcPass;
    doOnEnd(32, Crc32Val);
}

// ---- the run ------------------------------------------------------------------------------------

void TUnACE::_Extract(TStream32*&, TStream32*)
{
    VolumeName = ArchiveFile();
    m_entry = TEntry{};
    m_processedEntries = 0;
    ProgressByFile = 0;
    ProgressByArchive = 0;
    std::unique_ptr<TAceLibrary> library = Factory() ? Factory()() : nullptr;
    if (!library) {
        RaiseErrorStr(ArchiveFile(), kNoAceLibrary, VolumeName, E_ACELIBRARY);
        return;
    }
    // Whatever ends the run, a file kept aside comes back and an entry's
    // output is closed.
    struct Cleanup {
        TUnACE& c;
        ~Cleanup()
        {
            c.RestoreKeptFile();
            if (c.m_entry.Out)
                c.Close_OutFile(c.m_entry.Out);
            c.m_entry.Out = nullptr;
        }
    } cleanup{*this};
    TAceInit init;
    init.TempDir = GetTempPathStr();
    init.Callbacks = Callbacks();
    if (library->Init(init) != 0 || !GetArchiveTotals(VolumeName)) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_ACELIBRARY);
        return;
    }
    TAceOptions options;
    options.Masks = MaskList();
    options.Password = Password;
    if (WriteToFile()) {
        options.Destination = ExtractDir;
        options.DropPaths = !UseStoredDirs;
        library->Extract(VolumeName, options);
    } else {
        library->Test(VolumeName, options);
    }
}
