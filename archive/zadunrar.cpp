#include "zadunrar.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"
#include "rar/unrar.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int E_NOTHINGTODO = 25268;
// A solid archive's later files continue the compressed stream of those
// before them; the library here does not decode such streams.
constexpr const char* kSolidRemark = "solid data, which the RAR library here does not decode";

int Callback(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2)
{
    auto* x = reinterpret_cast<TUnRar*>(userData);
    switch (msg) {
    case UCM_CHANGEVOLUME: return x->OnVolumeChange(reinterpret_cast<char*>(p1), static_cast<int>(p2));
    case UCM_PROCESSDATA: return x->OnData(reinterpret_cast<const std::uint8_t*>(p1), static_cast<std::int64_t>(p2));
    default: return -1;  // no password is ever given: the library cannot decrypt
    }
}

struct Closer {
    HANDLE h;
    ~Closer()
    {
        if (h)
            RARCloseArchive(h);
    }
};

}  // namespace

bool TUnRar::SupportsType(TArcType type) const { return type == atRar || type == atRarExe; }

int TUnRar::OutProcessFileError(int code)
{
    static const struct {
        int code;
        int id;
    } kMap[] = {{ERAR_END_ARCHIVE, 25172}, {ERAR_NO_MEMORY, 25253},      {ERAR_BAD_DATA, 25116}, {ERAR_BAD_ARCHIVE, 25244},
                {ERAR_UNKNOWN_FORMAT, 25244}, {ERAR_EOPEN, 25235},     {ERAR_ECREATE, 25136},  {ERAR_EWRITE, 25136},
                {ERAR_ECLOSE, 25138},       {ERAR_EREAD, 25236},       {ERAR_UNKNOWN, 25135},  {ERAR_MISSING_PASSWORD, 26517}};
    for (const auto& m : kMap)
        if (m.code == code)
            return m.id;
    return 0;
}

void TUnRar::_Extract(TStream32*&, TStream32*)
{
    try {
        ExtractFile(VolumeName);
    } catch (...) {
    }
    m_items.clear();
}

bool TUnRar::GetTotalSize(const std::string& volume, bool countSelection)
{
    m_items.clear();
    TFileStream32 file(volume, fmOpenRead | fmShareDenyWrite);
    if (!file.Valid()) {
        RaiseErrorStr(volume, "", VolumeName, E_OPENERR);
        return false;
    }
    TBufferedReadStream32 s(&file, 65536);
    const std::int64_t size = s.Size();
    const std::int64_t start = SameText(volume, ArchiveFile()) ? std::max<std::int64_t>(ArchiveStartOffset, 0) : 0;
    std::int64_t pos = RarFirstBlock(s, start);
    if (pos < 0) {
        if (IsRar5(s, start))
            RaiseErrorStr(volume, kRar5Remark, VolumeName, E_UNSUPPORTEDVERSION);
        else
            RaiseErrorStr(volume, "", VolumeName, E_BADHEADR);
        return false;
    }
    std::uint8_t mainFlags[2];
    m_solid = s.Seek(start + 7 + 3, soBeginning) == start + 7 + 3 && s.Read(mainFlags, 2) == 2 && (mainFlags[0] & 0x08);
    while (!GetCancel()) {
        TRarFileHeader h;
        std::int64_t next = -1;
        const TRarBlock kind = ReadRarBlock(s, pos, size, h, next);
        if (kind == TRarBlock::End)
            break;
        if (kind == TRarBlock::Bad || kind == TRarBlock::Cut) {
            RaiseErrorStr(volume, "", VolumeName, kind == TRarBlock::Cut ? E_READERR : E_BADHEADR);
            break;
        }
        if (next <= pos)
            break;
        pos = next;
        if (kind != TRarBlock::File)
            continue;
        TItem item{h, RarEntryName(*this, h)};
        if (countSelection && !h.IsDirectory() && !h.ContinuedFromPrevious() &&
            CheckWildCard2(this, item.Name, FileSpec, RecurseDirs, &ExcludeSpec)) {
            TotalUnpackedSize += static_cast<std::int64_t>(std::min<std::uint64_t>(h.UnpackedSize, INT64_MAX / 4));
            TotalPackedSize += static_cast<std::int64_t>(std::min<std::uint64_t>(h.PackedSize, INT64_MAX / 4));
            if (h.DosDateTime > static_cast<std::uint32_t>(MaxFileDate))
                MaxFileDate = static_cast<std::int32_t>(h.DosDateTime);
        }
        m_items.push_back(std::move(item));
    }
    return true;
}

void TUnRar::ExtractFile(const std::string& arcName)
{
    RemainingUnpackedSize = 0;
    FileCount = 0;
    TotalPackedSize = TotalUnpackedSize = 0;
    m_volumeOrdinal = RarVolumeOrdinal(arcName);
    if (!GetTotalSize(arcName, true))
        return;
    if (TotalUnpackedSize <= 0 && TotalPackedSize <= 0 &&
        std::none_of(m_items.begin(), m_items.end(), [this](const TItem& i) {
            return CheckWildCard2(this, i.Name, FileSpec, RecurseDirs, &ExcludeSpec);
        })) {
        RaiseErrorStr(arcName, "", "0", E_NOTHINGTODO);
        return;
    }
    RemainingUnpackedSize = TotalUnpackedSize;
    RAROpenArchiveDataEx open;
    open.ArcName = arcName.c_str();
    open.OpenMode = RAR_OM_EXTRACT;
    Closer archive{RAROpenArchiveEx(&open)};
    if (!archive.h) {
        RaiseErrorStr(arcName, "", "0", OutProcessFileError(static_cast<int>(open.OpenResult)));
        return;
    }
    RARSetCallback(archive.h, Callback, reinterpret_cast<LPARAM>(this));
    m_entryIndex = 0;
    RARHeaderDataEx header;
    int r = RARReadHeaderEx(archive.h, &header);
    bool goOn = true;
    while (r == ERAR_SUCCESS && m_entryIndex < m_items.size() && !GetCancel()) {
        goOn = ProcessEntry(archive.h);
        ++m_entryIndex;
        if (!goOn)
            break;
        r = RARReadHeaderEx(archive.h, &header);
    }
    // Where the library stopped before the walk's end, every selected entry
    // it did not reach is reported by name: none is lost in silence.
    if (GetCancel() || (goOn && r == ERAR_END_ARCHIVE))
        return;
    for (; m_entryIndex < m_items.size(); ++m_entryIndex) {
        const TItem& item = m_items[m_entryIndex];
        if (item.Header.IsDirectory() || item.Header.ContinuedFromPrevious() ||
            !CheckWildCard2(this, item.Name, FileSpec, RecurseDirs, &ExcludeSpec))
            continue;
        if (m_solid && (item.Header.Flags & 0x10))
            RaiseErrorStr(item.Name, kSolidRemark, "0", E_UNSUPPORTEDMETHOD);
        else
            RaiseErrorStr(item.Name, "the RAR library stopped before it", "0", r == ERAR_SUCCESS ? E_BADBLOCK : OutProcessFileError(r));
    }
}

bool TUnRar::ProcessEntry(void* handle)
{
    // A copy: a volume change during the entry replaces the list.
    const TItem item = m_items[m_entryIndex];
    const TRarFileHeader& h = item.Header;
    StoredName = item.Name;
    m_expectedCrc = h.FileCrc;
    m_entrySize = static_cast<std::int64_t>(std::min<std::uint64_t>(h.UnpackedSize, INT64_MAX / 4));
    m_entryBytes = 0;
    m_operation = 0;
    if (h.IsDirectory()) {
        if (CreateStoredDirs && WriteToFile() && CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec)) {
            SetFilename(StoredName);
            if (!FilenameRefused && !Filename.empty())
                CreateDirEx(Filename);
        }
        return RARProcessFile(handle, RAR_SKIP, nullptr, nullptr) == ERAR_SUCCESS;
    }
    if (!CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec))
        return RARProcessFile(handle, RAR_SKIP, nullptr, nullptr) == ERAR_SUCCESS;

    InflateRec = TInflateRec{};
    InflateRec.UnpackedSize = m_entrySize;
    InflateRec.PackedSize = static_cast<std::int64_t>(std::min<std::uint64_t>(h.PackedSize, INT64_MAX / 4));
    InflateRec.ProgressTotal = TotalUnpackedSize;
    EntryDosDate = static_cast<std::int32_t>(h.DosDateTime);
    FileDate = ConvertDate(EntryDosDate);
    Crc32Val = 0xFFFFFFFFu;
    SetFilename(StoredName);
    if (FilenameRefused) {
        // Reported there; the entry is passed over, nothing is written.
        AdjustProgress(InflateRec);
        return RARProcessFile(handle, RAR_SKIP, nullptr, nullptr) == ERAR_SUCCESS;
    }
    if (!doOnBegin(false)) {
        AdjustProgress(InflateRec);
        return RARProcessFile(handle, RAR_SKIP, nullptr, nullptr) == ERAR_SUCCESS;
    }
    if (h.IsEncrypted()) {
        // The library does not decrypt: the entry fails alone, nothing is asked.
        RaiseErrorStr(StoredName, "the RAR library here cannot decrypt it", "0", E_PASSWORDPROTECTED);
        FailEntry(InflateRec);
        doOnEnd(32, ~Crc32Val);
        return RARProcessFile(handle, RAR_SKIP, nullptr, nullptr) == ERAR_SUCCESS;
    }
    int result = ERAR_SUCCESS;
    bool good = false;
    if (WriteToFile()) {
        m_operation = 2;
        CreateDirEx(ExtractFileDir(Filename));
        // An existing file is replaced only by a complete, tested entry.
        const bool replacing = FileExists(Filename);
        const std::string target = replacing ? GetTempFileNameA(ExtractFilePath(Filename), ".vistrel-rar") : Filename;
        if (target.empty()) {
            result = ERAR_ECREATE;
        } else {
            result = RARProcessFile(handle, RAR_EXTRACT, nullptr, target.c_str());
            good = LocalOnEnd(result == ERAR_SUCCESS);
            if (good && replacing) {
                const DWORD oldAttr = GetFileAttributesA(Filename);
                good = ReplaceFileA(target, Filename);
                if (good && oldAttr != INVALID_FILE_ATTRIBUTES && (oldAttr & FILE_ATTRIBUTE_READONLY))
                    SetFileAttributesA(Filename, oldAttr);
            }
            if (!good)
                DeleteFileA(target);
        }
        if (good) {
            TStream32* dated = new TFileStream32(Filename, fmOpenReadWrite | fmShareDenyWrite);
            CloseAndSetDate(dated, Filename, EntryDosDate, static_cast<std::int32_t>(h.WindowsAttributes()), h.Stamp());
            delete dated;
        }
    } else {
        m_operation = 1;
        m_out = nullptr;
        if (Open_OutFile(m_out, Filename, StoredName)) {
            BeginEntryOutput(m_entrySize);
            result = RARProcessFile(handle, RAR_TEST, nullptr, nullptr);
            good = LocalOnEnd(result == ERAR_SUCCESS) && EntrySizeAgrees(true) && !EntryWriteFailed;
            BeginEntryOutput(-1);
            CloseAndSetDate(m_out, Filename, EntryDosDate, 0x20);
        } else {
            result = RARProcessFile(handle, RAR_SKIP, nullptr, nullptr);
        }
    }
    m_operation = 0;
    if (result != ERAR_SUCCESS && m_solid && (h.Flags & 0x10))
        RaiseErrorStr(StoredName, kSolidRemark, "0", E_UNSUPPORTEDMETHOD);
    else if (result != ERAR_SUCCESS)
        RaiseErrorStr(StoredName, "", "0", OutProcessFileError(result));
    if (!good)
        FailEntry(InflateRec);
    doOnEnd(32, good ? Crc32Val : ~Crc32Val);
    // An encrypted entry fails alone; a data or library error ends the run.
    return result == ERAR_SUCCESS || result == ERAR_UNKNOWN_FORMAT || result == ERAR_ECREATE;
}

bool TUnRar::LocalOnEnd(bool good)
{
    const bool crcHolds = Crc32Val == m_expectedCrc || (Crc32Val ^ CRC_MASK) == m_expectedCrc;
    return good && crcHolds && m_entryBytes == m_entrySize && !GetCancel();
}

int TUnRar::OnVolumeChange(char* name, int mode)
{
    if (mode == RAR_VOL_NOTIFY)
        return 0;
    std::string next = name;
    // Asked for by its place in the set, as the other formats' volumes are.
    if (!GetNextVolume(next, m_volumeOrdinal + 1)) {
        ProgressProc(100, 100);
        return -1;
    }
    std::snprintf(name, kRarNameBufferSize, "%s", next.c_str());
    VolumeName = next;
    ++m_volumeOrdinal;
    // The list of the new volume; its first item is the rest of the entry
    // being read, whose last part holds the whole file's CRC.
    const std::int64_t total = TotalUnpackedSize;
    const std::int64_t packed = TotalPackedSize;
    if (!GetTotalSize(next, false))
        return -1;
    TotalUnpackedSize = total;
    TotalPackedSize = packed;
    m_entryIndex = 0;
    if (!m_items.empty() && m_items.front().Header.ContinuedFromPrevious())
        m_expectedCrc = m_items.front().Header.FileCrc;
    return 0;
}

int TUnRar::OnData(const std::uint8_t* data, std::int64_t count)
{
    if (GetCancel())
        return -1;
    if (m_operation == 0 || count <= 0)
        return 0;
    m_entryBytes += count;
    if (m_entryBytes > m_entrySize)
        return -1;  // more than the header declares
    if (m_operation == 2)
        UpdateCrcBuffer(32, data, static_cast<std::int32_t>(count));
    else
        ExtractWriteProc(m_out, const_cast<std::uint8_t*>(data), false, 32, static_cast<std::int32_t>(count), dtData);
    RemainingUnpackedSize -= std::min<std::int64_t>(count, RemainingUnpackedSize);
    doBranchProgress(m_entryBytes, m_entrySize, TotalUnpackedSize);
    ProcessMessages();
    return GetCancel() ? -1 : 0;
}
