#include "archive/zadcompress.h"

#include "archive/zadcrc.h"
#include "archive/zaddeflate.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadvolume.h"
#include "archive/zadaes.h"
#include "kernel/kernel.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <new>

namespace {

// The extensions of packed formats: deflating them again gains nothing.
const char* const kStoredExtensions[] = {".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",  ".JAR",
                                         ".LHA", ".LZH", ".MIM", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR", ".TGZ",
                                         ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO", ".ZAD"};

bool StartsWithNoCase(const std::string& s, const std::string& prefix)
{
    return !prefix.empty() && s.size() >= prefix.size() && AnsiLowerCase(s.substr(0, prefix.size())) == AnsiLowerCase(prefix);
}

// The temporary archive of a run: it replaces the old archive when freed,
// unless the run did not commit it.
class TNewArchive {
public:
    TNewArchive(TZipCommon* owner, const std::string& archive, TCompressionMethod method)
    {
        if (method == cmTempMem) {
            auto* mem = new TTempMemStream(owner, archive, fmCreate);
            m_mode = &mem->Mode;
            m_stream.reset(mem);
        } else {
            auto* file = new TTempFileStream(owner, archive, owner->ReadTempDir(), fmCreate);
            file->DeleteOptions = doFinal;
            m_mode = &file->Mode;
            m_stream.reset(file);
        }
        m_stream->CancelRef = owner->CancelRef;
    }
    ~TNewArchive()
    {
        if (!m_commit)
            *m_mode = 0;  // freed without taking the old archive's place
    }
    TNewArchive(const TNewArchive&) = delete;
    TNewArchive& operator=(const TNewArchive&) = delete;
    TStream32* Stream() const { return m_stream.get(); }
    bool Valid() const
    {
        auto* file = dynamic_cast<TTempFileStream*>(m_stream.get());
        return !file || file->Valid();
    }
    // Puts the new archive in place now.
    void Commit()
    {
        m_commit = true;
        m_stream.reset();
    }

private:
    std::unique_ptr<TStream32> m_stream;
    unsigned* m_mode = nullptr;
    bool m_commit = false;
};

}  // namespace

// ====================================================================== the entry list

bool TCompressHeaderObj::AddItem(const TCompressFileInfo& info, const std::string& name, std::int32_t rootLength,
                                 const void* rawHeader, std::size_t headerSize)
{
    try {
        Item item;
        item.info = info;
        item.name = name;
        item.rootLength = std::clamp<std::int32_t>(rootLength, 0, static_cast<std::int32_t>(name.size()));
        if (rawHeader && headerSize > 0) {
            const auto* p = static_cast<const std::uint8_t*>(rawHeader);
            item.raw.assign(p, p + headerSize);
        }
        m_items.push_back(std::move(item));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TCompressHeaderObj::SetName(int index, std::string name, std::int32_t rootLength)
{
    Item& item = m_items.at(static_cast<std::size_t>(index));
    item.name = std::move(name);
    item.rootLength = std::clamp<std::int32_t>(rootLength, 0, static_cast<std::int32_t>(item.name.size()));
}

int TCompressHeaderObj::IndexOf(const std::string& storedName) const
{
    for (int i = 0; i < Count(); ++i)
        if (StoredName(i) == storedName)
            return i;
    return -1;
}

// ====================================================================== settings

TCustomCClass::TCustomCClass(TComponent* owner) : TZipCommon(owner), m_rootDir(GetCurrentDirectoryA())
{
    for (const char* ext : kStoredExtensions)
        StoreFilesOfType.Add(ext);
}

TCustomCClass::~TCustomCClass() = default;

void TCustomCClass::SetArchiveFile(const std::string& name)
{
    std::string file = DOSToUnixFilename(name);
    m_tarGzip = m_compressMethod == cmTarGzip && AnsiLowerCase(ExtractFileExt(file)) == ".gz";
    if (m_tarGzip) {
        // The TAR is named without ".gz" and compressed at the end; it is
        // built in a temporary file, and whatever file has the TAR's name
        // now is left alone.
        file.resize(file.size() - 3);
        ArcType = atTarGZip;
    } else if (ArcType == atTarGZip) {
        ArcType = atNA;
    }
    if (!file.empty() && ExtractFileExt(file).empty())
        file += m_defaultExt;
    m_archive = file;
    m_isNew = m_tarGzip || file.empty() || !FileExists(file);
    if (!m_isNew)
        TZipCommon::SetArchiveFile(file);  // detects the type as every component does
    ArchiveStartOffset = -1;
    *CancelRef = false;
}

void TCustomCClass::SetDefaultExt(const std::string& value)
{
    std::string ext = AnsiLowerCase(value);
    if (!ext.empty() && ext[0] != '.')
        ext = "." + ext;
    m_defaultExt = ext.substr(0, 4);
}

void TCustomCClass::SetRootDir(const std::string& value)
{
    m_rootDir = value.empty() ? GetCurrentDirectoryA() : _AppendDirTail(value);
}

bool TCustomCClass::SetCompressMethod(TCompressMethod method)
{
    if (!(AllowedMethods & MethodBit(method)))
        return false;
    m_compressMethod = method;
    return true;
}

WORD TCustomCClass::SetDeflateBitFlag(WORD flags) const
{
    static constexpr WORD kBits[] = {6, 4, 0, 2};  // super fast, fast, normal, maximum
    return static_cast<WORD>((flags & ~6) | kBits[DeflateType]);
}

void TCustomCClass::SetFilename(const std::string& name) { Filename = FormatFileName(name, m_rootDir); }

std::string TCustomCClass::GetDefaultDir() const
{
    std::string common;
    bool first = true;
    for (const std::string& line : FileSpec) {
        const std::string folder = ExtractFilePath(line);
        if (first) {
            common = folder;
            first = false;
            continue;
        }
        std::size_t n = 0;
        while (n < common.size() && n < folder.size() && common[n] == folder[n])
            ++n;
        common = common.substr(0, n);
        common = common.substr(0, common.find_last_of('/') == std::string::npos ? 0 : common.find_last_of('/') + 1);
    }
    return common;
}

std::string TCustomCClass::FormatFileName(const std::string& name, const std::string& rootDir) const
{
    switch (StoredDirNames) {
    case sdNone: return ExtractFileName(name);
    case sdAbsolute:
    case sdAbsoluteNoDrv: return name;  // paths here have no drive part
    case sdAbsoluteNoRoot: return !name.empty() && name[0] == '/' ? name.substr(1) : name;
    case sdRelative: return StartsWithNoCase(name, rootDir) ? name.substr(rootDir.size()) : name;
    case sdRelativeStoreStart: {
        // From the last folder of the root on.
        const std::string root = RemoveDirTail(rootDir);
        const std::size_t slash = root.find_last_of('/');
        const std::string parent = slash == std::string::npos ? std::string() : root.substr(0, slash + 1);
        return StartsWithNoCase(name, parent) ? name.substr(parent.size()) : name;
    }
    case sdExplorer_Auto:
    case sdExplorer_UserDefineDefaultDir: {
        const std::string base = _AppendDirTail(DefaultDir);
        if (StartsWithNoCase(name, base))
            return name.substr(base.size());
        return StartsWithNoCase(name, m_baseDir) ? name.substr(m_baseDir.size()) : ExtractFileName(name);
    }
    }
    return name;
}

bool TCustomCClass::HandleNonWriteableFile(const std::string& name)
{
    if (Cancel() || OverwriteMode != omOverwrite)
        return false;
    const DWORD attr = GetFileAttributesA(name);
    if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_READONLY))
        return true;
    if (!OnNonWriteableArchive) {
        Report(E_REQUIREDEVENT, "OnNonWriteableArchive");
        return false;
    }
    bool writeable = false;
    OnNonWriteableArchive(this, name, writeable);
    if (writeable)
        SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    return writeable;
}

void TCustomCClass::Report(int code, const std::string& extended)
{
    RaiseErrorStr(m_archive, extended, VolumeName, code);
}

// ====================================================================== the base's defaults

std::int32_t TCustomCClass::GetHeadSize()
{
    // A compressor that writes entries must give its header size.
    Report(E_UNSUPPORTEDTYPE, "GetHeadSize");
    return 0;
}

void TCustomCClass::CommentObjDone(bool) { Report(E_UNSUPPORTEDTYPE); }

void TCustomCClass::SetFileComment(int, const std::string&, int) { Report(E_UNSUPPORTEDTYPE); }

int TCustomCClass::CommentObjInit()
{
    Report(E_UNSUPPORTEDTYPE);
    return 0;
}

std::uint8_t* TCustomCClass::GetHeadPtr()
{
    Report(E_UNSUPPORTEDTYPE, "GetHeadPtr");
    return nullptr;
}

bool TCustomCClass::GetFirst(std::string& name, TStream32* stream, TCompressHeaderObj&)
{
    stream->SetPosition(std::max<std::int64_t>(ArchiveStartOffset, 0));
    return ReadHeader(stream, name, 0);
}

bool TCustomCClass::getNext(std::string& name, TStream32* stream) { return ReadHeader(stream, name, 0); }

// ====================================================================== a run

int TCustomCClass::Compress()
{
    if ((StoredDirNames == sdExplorer_Auto || StoredDirNames == sdExplorer_UserDefineDefaultDir) && FileSpec.Count() > 0)
        m_baseDir = ExtractFilePath(RemoveDirTail(ExtractFilePath(FileSpec[0])));
    FileAccessMethod = faFile;
    if (!SetDefaultValues())
        return 0;
    return doCompress();
}

bool TCustomCClass::SetDefaultValues()
{
    FileCount = 0;
    m_added = m_dropped = 0;
    TotalUnpackedSize = RemainingUnpackedSize = 0;
    ProgressByFile = ProgressByArchive = 0;
    *CancelRef = false;
    m_replaced = false;
    m_erase.clear();
    VolumeName = m_archive;
    m_isNew = m_tarGzip || m_archive.empty() || !FileExists(m_archive);
    // A drive that holds no disk ends the run before anything is read.
    auto report = [this](const std::string& f, const std::string& m, const std::string& v, int code) {
        RaiseErrorStr(f, m, v, code);
    };
    if (!m_archive.empty() && !DiskManager.GetDriveInfo(m_archive, nullptr, report, nullptr, nullptr, true))
        return false;
    // The AES key derivation takes at most 128 bytes of password; a longer
    // one would leave the entries coded with no key at all.
    if (Switch != swRead && !Password.empty() && EncryptionMethod >= emAES2_128 && EncryptionMethod <= emAES2_256 &&
        Password.size() > static_cast<std::size_t>(MAX_PWD_LENGTH)) {
        Report(26517, "the password is longer than 128 bytes");
        return false;
    }
    m_headSize = Switch == swRead ? 0 : GetHeadSize();
    if (FileSpec.Count() > 0) {
        if (Switch == swDelete)
            DefaultDir.clear();
        else if (StoredDirNames == sdExplorer_Auto)
            DefaultDir = GetDefaultDir();
        else if (StoredDirNames == sdExplorer_UserDefineDefaultDir && DefaultDir.empty()) {
            Report(25271, "DefaultDir");
            return false;
        }
    }
    return true;
}

int TCustomCClass::doCompress()
{
    const std::string folder = ExtractFilePath(m_archive);
    if (!folder.empty() && !DirectoryExists(folder)) {
        Report(25158, folder);
        return 0;
    }
    if (m_archive.empty() || Cancel())
        return 0;
    TCompressHeaderObj list;
    try {
        _Compress(list);
    } catch (...) {
        // The temporary archive went with the unwinding; the old one stays.
        FileCount = 0;
        return 0;
    }
    if (m_replaced && Switch == swMove && !Cancel()) {
        for (const std::string& name : m_erase) {
            if (Cancel())
                break;
            if (MoveOnlyArchived && list.IndexOf(FormatFileName(name, m_rootDir)) < 0)
                continue;
            _EraseFile(name, DeleteOptions);
        }
    }
    return Cancel() ? 0 : FileCount;
}

void TCustomCClass::TempFileMoveFile(TObject* sender, const std::string& toFileName, const std::string& fromFileName,
                                     bool sameDrive)
{
    TZipCommon::TempFileMoveFile(sender, toFileName, fromFileName, sameDrive);
    m_replaced = true;  // only once the move went through
}

void TCustomCClass::ReadFileInfo()
{
    if (!OnRead) {
        Report(E_REQUIREDEVENT, "OnRead");
        return;
    }
    TFileStream32 archive(m_archive, fmOpenRead | fmShareDenyWrite);
    if (!archive.Valid()) {
        Report(E_OPENERR);
        return;
    }
    TCompressHeaderObj none;
    std::string name;
    for (bool ok = GetFirst(name, &archive, none); ok && !Cancel(); ok = getNext(name, &archive)) {
        const std::int64_t pos = archive.Position();
        DecypherHeader(name);
        ++FileCount;
        OnRead(this, pos, FileCount);
    }
}

void TCustomCClass::_Compress(TCompressHeaderObj& list)
{
    if (Switch == swRead) {
        if (!m_isNew)
            ReadFileInfo();
        return;
    }
    if (m_isNew && (Switch == swRefresh || Switch == swDelete)) {
        Report(26859);
        return;
    }
    if (!m_isNew && !HandleNonWriteableFile(m_archive))
        return;
    if (OnActivate)
        OnActivate(this);
    TNewArchive created(this, m_archive, CompressionMethod);
    if (!created.Valid()) {
        Report(E_OPENERR, ReadTempDir());
        return;
    }
    TStream32* newArchive = created.Stream();
    std::unique_ptr<TFileStream32> old;
    std::unique_ptr<TZipSetReader> parts;
    TStream32* oldArchive = nullptr;
    if (!m_isNew) {
        old = std::make_unique<TFileStream32>(m_archive, fmOpenRead | fmShareDenyWrite);
        if (!old->Valid()) {
            Report(E_OPENERR);
            return;
        }
        // The file may have changed since ArchiveFile was set, and the run
        // needs where its headers start (a stub's length) again.
        ArcType = GetArcType(old.get());
        ArchiveSize = old->Size();
        oldArchive = old.get();
        if (MultiVolumeSource()) {
            // Read from the last part on; the others are asked for as
            // entries need them.
            const int total = End.ThisDisk + 1;
            parts = std::make_unique<TZipSetReader>(old.get(), false, End.ThisDisk,
                                                    [this, total](int disk, std::int64_t, TStream32*& part) {
                                                        delete part;
                                                        part = nullptr;
                                                        TTempFileStream* next = nullptr;
                                                        int number = disk;
                                                        const bool ok = OpenNextZipVolume(next, number, total);
                                                        part = next;
                                                        return ok;
                                                    });
            oldArchive = parts.get();
        }
        if (Switch == swDelete)
            ExcludeSpec.Clear();
        oldArchive->SetPosition(std::max<std::int64_t>(ArchiveStartOffset, 0));
        ArcToList(oldArchive, list);
        CopyStub(old.get(), newArchive, list);
    }
    if (list.Count() == 0)
        ArchiveSize = 0;
    doFileScan(oldArchive, newArchive, list);
    if (Cancel() || (m_added == 0 && m_dropped == 0))
        return;  // nothing changed: the old archive stays
    if (Switch == swDelete && m_dropped == list.Count())
        WriteZeroByteZipHeader(newArchive);
    parts.reset();
    old.reset();
    if (!doCleanUp(newArchive, list) || Cancel())
        return;
    if (m_tarGzip) {
        // The TAR goes straight into "<name>.tar.gz"; a file named like
        // the TAR itself is never touched.
        const std::string target = TarGzipName();
        TNewArchive gz(this, target, CompressionMethod);
        if (!gz.Valid()) {
            Report(E_OPENERR, ReadTempDir());
            return;
        }
        doTarGzip(newArchive, gz.Stream());
        if (Cancel())
            return;
        gz.Commit();
        if (m_replaced)
            m_archive = target;
    } else {
        created.Commit();
    }
    if (!m_replaced) {
        FileCount = 0;  // the new archive never took the old one's place
        return;
    }
    doFinish(list);
    if (OnDeactivate)
        OnDeactivate(this);
}

bool TCustomCClass::NeedsWork(TCompressHeaderObj& list) const
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.FileLocationData(i).Action != eaKeep)
            return true;
    return false;
}

void TCustomCClass::MarkDeletions(TCompressHeaderObj& list)
{
    for (int i = 0; i < list.Count(); ++i) {
        const std::string stored = list.StoredName(i);
        for (const std::string& line : FileSpec) {
            const std::string mask = ExtractFilePath(line).empty() ? line : FormatFileName(line, m_rootDir);
            const std::string target = ExtractFilePath(line).empty() ? ExtractFileName(stored) : stored;
            if (MatchesMask(target, mask)) {
                list.FileLocationData(i).Action = eaDrop;
                break;
            }
        }
    }
}

void TCustomCClass::doFileScan(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list)
{
    if (Switch != swDelete) {
        TzadFileScan scan;
        scan.SetFileSpec(FileSpec);
        scan.Attributes = StoreEmptyDirs ? (Attributes | AttrBit(fsDirectory)) : Attributes;
        scan.AttributesEx = AttributesEx;
        scan.ScanOptions = soScanDir;
        scan.RecurseDirs = RecurseDirs;
        scan.IncludeHiddenDirs = IncludeHiddenDirs;
        scan.SetRootDir(m_rootDir);
        scan.OnRootDirChange = [this](TObject*, const std::string& dir) { m_rootDir = dir; };
        scan.OnScanFile = OnScanFile;
        scan.OnRecurseDir = OnRecurseDir;
        scan.FileHandler = [&](TObject*, const std::string& dir, const TScanFindData& fd, TCompressHeaderObj*) {
            if (Cancel())
                scan.Stop();
            return !Cancel() && DoUpdateFilesList(dir, fd, list);
        };
        scan.Scan();
        TotalUnpackedSize = RemainingUnpackedSize = scan.FilesSize();
    } else {
        MarkDeletions(list);
    }
    const bool work = NeedsWork(list);
    if (Cancel() || !work) {
        if (!Cancel())
            Report(25268);
        return;
    }
    ExecuteCompression(oldArchive, newArchive, list);
}

bool TCustomCClass::DoUpdateFilesList(const std::string& dir, const TScanFindData& fd, TCompressHeaderObj& list)
{
    if (fd.Attributes & kAttrDirectory) {
        if (!StoreEmptyDirs || !isDirEmpty(dir))
            return false;
        FileInArchive(dir, fd, list);
        return true;
    }
    const std::string ext = AnsiLowerCase(ExtractFileExt(fd.Name));
    if (!ext.empty() && std::find(ExcludeExts.begin(), ExcludeExts.end(), ext) != ExcludeExts.end()) {
        if (OnExcludeFile)
            OnExcludeFile(this, SlashSep(dir, fd.Name));
        return false;
    }
    return SearchRecProc(dir, fd, list);
}

bool TCustomCClass::SearchRecProc(const std::string& dir, const TScanFindData& fd, TCompressHeaderObj& list)
{
    const std::string full = SlashSep(dir, fd.Name);
    SetFilename(full);
    if (FileInExcludeList(dir, fd.Name, "", "", fd.Attributes))
        return false;
    FileInArchive(full, fd, list);
    return true;
}

void TCustomCClass::AddEntry(const std::string& fullName, const TScanFindData& fd, TCompressHeaderObj& list, int index)
{
    if (m_headSize == 0)
        return;
    TCompressFileInfo info;
    info.Action = eaAdd;
    info.Size = fd.Size;
    info.Date = UnixTimeToLocalDosDateTime(fd.LastWrite);
    info.Attributes = fd.Attributes;
    if (!Password.empty() && EncryptionMethod >= emAES2_128 && EncryptionMethod <= emZIP_v2)
        info.EncryptMethod = static_cast<BYTE>(EncryptionMethod);
    info.HeaderEncrypted = EncryptHeaders ? 1 : 0;
    InitializeHeader(info);
    const std::string stored = FormatFileName(fullName, m_rootDir);
    const auto rootLength = static_cast<std::int32_t>(fullName.size() - stored.size());
    if (index >= 0) {
        list.FileLocationData(index) = info;
        list.SetName(index, fullName, rootLength);
        return;
    }
    if (!list.AddItem(info, fullName, rootLength, GetHeadPtr(), static_cast<std::size_t>(m_headSize)))
        throw EOutOfMemory("Out of memory");
}

void TCustomCClass::FileInArchive(const std::string& fullName, const TScanFindData& fd, TCompressHeaderObj& list)
{
    const std::int32_t date = UnixTimeToLocalDosDateTime(fd.LastWrite);
    if (static_cast<std::uint32_t>(date) > static_cast<std::uint32_t>(MaxFileDate))
        MaxFileDate = date;
    const std::string stored = FormatFileName(fullName, m_rootDir);
    const int index = m_isNew ? -1 : list.IndexOf(stored);
    if (index < 0) {
        if (Switch != swRefresh)
            AddEntry(fullName, fd, list);
        return;
    }
    TCompressFileInfo& info = list.FileLocationData(index);
    if (info.Action == eaAdd)
        return;
    GetHeaderInfo(list.RawHeader(index), info);
    const bool unchanged = info.Size == fd.Size && info.Date == date && info.Attributes == fd.Attributes && info.Size >= 0;
    if (Switch == swRefresh) {
        if (unchanged)
            info.Action = eaKeep;
        else if (static_cast<std::uint32_t>(date) > static_cast<std::uint32_t>(info.Date))
            AddEntry(fullName, fd, list, index);
        return;
    }
    bool replace = false;
    if (!unchanged) {
        if (!OnReplaceFile)
            Report(E_REQUIREDEVENT, "OnReplaceFile");
        else
            OnReplaceFile(this, stored, replace, info.Size, fd.Size, info.Date, date, info.Attributes, fd.Attributes);
        if (replace) {
            info.Action = eaDrop;
            AddEntry(fullName, fd, list);
            return;
        }
    }
    std::string newName;
    if (OnDuplicateName) {
        do {
            newName.clear();
            OnDuplicateName(this, stored, newName);
        } while (!newName.empty() && list.IndexOf(newName) >= 0);
    }
    if (!newName.empty()) {
        list.FileLocationData(index).Action = eaRename;
        list.SetName(index, newName, 0);
        AddEntry(fullName, fd, list);
    } else {
        list.FileLocationData(index).Action = eaKeep;
    }
}

void TCustomCClass::ExecuteCompression(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list)
{
    if (OnElapsedTime)
        Timer.Start();
    for (int i = 0; i < list.Count() && !Cancel(); ++i) {
        FileCount = i + 1;
        TCompressFileInfo& info = list.FileLocationData(i);
        if (info.Action != eaAdd)
            GetHeaderInfo(list.RawHeader(i), info);
        switch (info.Action) {
        case eaKeep:
        case eaRename:
            if (oldArchive)
                CopyRecord(oldArchive, newArchive, i, list);
            break;
        case eaDrop:
            ++m_dropped;
            if (OnDropEntry)
                OnDropEntry(this, list.StoredName(i), m_dropped, 0);
            break;
        case eaAdd: {
            if (IsFolderName(list.Name(i)) && !StoreEmptyDirs) {
                info.Action = eaDrop;
                break;
            }
            const std::int64_t before = newArchive->Size();
            bool ok = false;
            PackFile(newArchive, i, ok, list);
            if (ok) {
                ++m_added;
                if (Switch == swMove && !IsFolderName(list.Name(i)))
                    m_erase.push_back(list.Name(i));
            } else if (Cancel()) {
                --FileCount;
                for (int k = i + 1; k < list.Count(); ++k)
                    list.FileLocationData(k).Action = eaDrop;
                newArchive->SetSize(before);
            }
            if (!ok)
                list.FileLocationData(i).Action = eaDrop;
            break;
        }
        default: break;
        }
    }
    AppendLhaEnd(newArchive);
    if (OnElapsedTime) {
        Timer.Stop();
        OnElapsedTime(this, Timer.ElapsedTime);
    }
}

void TCustomCClass::doRenameFile(std::string& name, int index, TCompressHeaderObj& list)
{
    if (!OnRenameFile)
        return;
    const std::string folder = ExtractFilePath(name);
    std::string candidate = name;
    for (;;) {
        std::string answer;
        OnRenameFile(this, candidate, answer);
        if (answer.empty() || folder + answer == name)
            return;
        candidate = folder + answer;
        if (list.IndexOf(FormatFileName(candidate, m_rootDir)) < 0)
            break;
    }
    list.FileLocationData(index).Action = eaRename;
    name = candidate;
}

void TCustomCClass::PackFile(TStream32* newArchive, int index, bool& ok, TCompressHeaderObj& list)
{
    ok = false;
    const std::string name = list.Name(index);
    if (CompressionMethod == cmTempFile && (name == m_archive || (m_tarGzip && name == TarGzipName())))
        return;  // the archive never packs itself
    Filename = name;
    bool extract = true;
    if (OnBegin)
        OnBegin(this, Filename, list.Count(), extract);
    SetFilename(name);
    if (!extract)
        return;
    if (list.FileLocationData(index).Action != eaRename) {
        std::string renamed = name;
        doRenameFile(renamed, index, list);
        if (renamed != name)
            SetFilename(renamed);  // stored under the new name, read from the old
    }
    list.FileLocationData(index).HeaderPos = newArchive->Size();
    struct End {
        TCustomCClass& c;
        ~End() { c.doOnEnd(); }
    } end{*this};
    ok = AddFileProc(newArchive, index, list);
}
