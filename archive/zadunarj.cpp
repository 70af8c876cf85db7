#include "zadunarj.h"

#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"

#include <algorithm>

namespace {

constexpr int E_UNKNOWNFILETYPE = 25327;
constexpr int E_VERSION = 25402;
constexpr int kMaxPasswordAttempts = 10;
constexpr int kMaxMinVersion = 3;
constexpr int kUnixSpecialFile = 6;
constexpr int kArjHostUnix = 2;
constexpr std::int32_t kStoreBlock = 32768;

// Methods 1 to 3 share one set of decoder parameters: 16 dictionary bits
// and a 5-bit position-table count.
constexpr TLzhParams kArjLzh{16, 5};

bool MethodSupported(const TArjHeader& h)
{
    // Method 4 came with archiver version 2; a version 1 header naming it
    // names something else.
    return h.Method <= 4 && !(h.Method == 4 && h.Version == 1);
}

}  // namespace

bool TUnARJ::SupportsType(TArcType type) const { return type == atArj || type == atArjExe; }

void TUnARJ::_Extract(TStream32*& inStream, TStream32* outStream)
{
    PasswordAttempts = std::min(PasswordAttempts, kMaxPasswordAttempts);
    m_continuedName.clear();
    m_continuedFile.clear();
    std::int64_t start = std::max<std::int64_t>(ArchiveStartOffset, 0);
    int volume = 1;
    try {
        for (;;) {
            m_entries.clear();
            TotalUnpackedSize = 0;
            bool continues = false;
            if (BuildHeadArray(inStream, start, continues) > 0)
                ProcessHeaders(inStream, outStream);
            if (!continues || GetCancel() || !NextVolume(inStream, volume))
                break;
            start = 0;
        }
    } catch (...) {
        // The counts and events carry the outcome.
    }
    // An entry whose next part never came is incomplete: its file goes.
    if (!m_continuedFile.empty()) {
        if (FileAccessMethod == faFile)
            DeleteFileA(m_continuedFile);
        if (FileCount > 0)
            --FileCount;
    }
    m_entries.clear();
}

bool TUnARJ::NextVolume(TStream32*& inStream, int& volume)
{
    // A stream the caller lent has no neighbours to open.
    if (!InputIsArchiveFile)
        return false;
    std::string name = GetNextVolumeName(VolumeName, volume);
    if (!GetNextVolume(name, volume + 1))
        return false;
    auto* f = new TFileStream32(name, fmOpenRead | fmShareDenyWrite);
    if (!f->Valid()) {
        delete f;
        RaiseErrorStr(StoredName, "", name, E_OPENERR);
        return false;
    }
    delete inStream;
    inStream = f;
    ArchiveSize = f->Size();
    VolumeName = name;
    ++volume;
    return true;
}

int TUnARJ::BuildHeadArray(TStream32* in, std::int64_t start, bool& lastContinues)
{
    Timer.Suspend();
    lastContinues = false;
    TArjHeader h;
    if (ReadArjHeader(*in, start, ArchiveSize, h) != TArjRead::Header) {
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_BADHEADR);
        Timer.Resume();
        return 0;
    }
    const bool mainDamaged = !h.IsMainHeader();
    if (mainDamaged)
        RaiseErrorStr(ArchiveFile(), kDamagedMainHeader, VolumeName, E_BADHEADR);
    // The main header names the volume; only its file-name part counts, so
    // that a name with folders cannot point the set elsewhere.
    const std::string mainName = ExtractFileName(h.EntryName(true));
    if (!mainDamaged && !mainName.empty() && mainName != "." && mainName != "..") {
        const std::string dir = ExtractFileDir(VolumeName);
        VolumeName = dir.empty() ? mainName : IncludeTrailingPathDelimiter(dir) + mainName;
    }
    // Without its main header the walk starts at the entry found.
    std::int64_t pos = mainDamaged ? start : h.DataOffset;
    TArjRead read = TArjRead::End;
    while (!GetCancel() && (read = ReadArjHeader(*in, pos, ArchiveSize, h)) == TArjRead::Header) {
        lastContinues = h.ContinuesInNext();
        const std::string name = h.EntryName(TranslateOemChar);
        if (CheckWildCard2(this, name, FileSpec, RecurseDirs, &ExcludeSpec)) {
            if (h.MinVersion > kMaxMinVersion) {
                // Unix special files (hard links, devices) have their own
                // file type and a later version than the reader knows.
                RaiseErrorStr(name,
                              h.HostOS == kArjHostUnix && h.FileType == kUnixSpecialFile
                                  ? "a special file of a Unix host (a hard link or a device), which is not extracted"
                                  : "",
                              VolumeName, E_VERSION);
            } else if (!MethodSupported(h)) {
                RaiseErrorStr(name, "", VolumeName, E_UNSUPPORTEDMETHOD);
            } else {
                TotalPackedSize += h.PackedSize;
                TotalUnpackedSize += h.UnpackedSize;
                if (static_cast<std::uint32_t>(h.DosDate()) > static_cast<std::uint32_t>(MaxFileDate))
                    MaxFileDate = h.DosDate();
                m_entries.push_back({h, name});
            }
        }
        pos = h.NextOffset();
    }
    // A damaged header ends the volume's walk; the entries before it extract.
    if (read == TArjRead::Bad || read == TArjRead::Cut)
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_BADHEADR);
    Timer.Resume();
    return static_cast<int>(m_entries.size());
}

void TUnARJ::ProcessHeaders(TStream32* in, TStream32* out)
{
    RemainingUnpackedSize = TotalUnpackedSize;
    for (const TEntry& e : m_entries) {
        if (GetCancel())
            break;
        const TArjHeader& h = e.Header;
        // A continued part belongs to the file this run wrote for the part
        // before it; without that file it is skipped.
        const bool append = h.ContinuedFromPrevious();
        if (append && (e.StoredName != m_continuedName || m_continuedFile.empty())) {
            m_continuedName.clear();
            m_continuedFile.clear();
            continue;
        }
        EntryDosDate = h.DosDate();
        FileDate = ConvertDate(EntryDosDate);
        StoredName = e.StoredName;
        SetFilename(StoredName);
        if (append)
            Filename = m_continuedFile;
        InflateRec = TInflateRec{};
        InflateRec.BitFlag = h.Flags;
        InflateRec.CompressMethod = h.Method;
        InflateRec.PackedSize = h.PackedSize;
        InflateRec.UnpackedSize = h.UnpackedSize;
        InflateRec.ProgressTotal = TotalUnpackedSize;
        const bool pass = OpenAndExtractFile(in, out, e, append);
        const bool keepsGoing = pass && h.ContinuesInNext() && !h.IsDirectory();
        m_continuedName = keepsGoing ? e.StoredName : std::string();
        m_continuedFile = keepsGoing ? Filename : std::string();
    }
}

bool TUnARJ::RequestArjPassword()
{
    Timer.Suspend();
    struct Resume {
        TZipTimer& t;
        ~Resume() { t.Resume(); }
    } resume{Timer};
    if (!Password.empty())
        return true;
    if (!OnGetPassword) {
        RaiseErrorStr(StoredName, "OnGetPassword", VolumeName, E_REQUIREDEVENT);
        return false;
    }
    TSeedKeyRecord headerKeys = DUMMY_KEYS;
    TSeedKeyRecord dataKeys = DUMMY_KEYS;
    bool tryAgain = true;
    OnGetPassword(this, Filename, Password, headerKeys, dataKeys, tryAgain);
    return tryAgain && !Password.empty();
}

bool TUnARJ::OpenAndExtractFile(TStream32* in, TStream32* out, const TEntry& e, bool append)
{
    const TArjHeader& h = e.Header;
    Encrypted = h.Garbled();
    if (FilenameRefused) {
        AdjustProgress(InflateRec);
        ForceCrcFail = true;
        return doOnEnd(32, h.Crc);
    }
    const bool special = h.IsDirectory() || h.IsVolumeLabel();
    if (append) {
        m_countedEntry = false;  // counted with its first part
    } else if (!doOnBegin(special)) {
        AdjustProgress(InflateRec);
        return false;
    }
    if (special) {
        if (h.IsDirectory())
            NoteFolderStamp(Filename, h.Stamp());
        if (h.IsDirectory() && CreateStoredDirs && FileAccessMethod == faFile)
            CreateDirEx(Filename);
        Crc32Val = 0;
        return doOnEnd(32, h.Crc);
    }
    if (h.FileType > 1) {
        RaiseErrorStr(StoredName, "", VolumeName, E_UNKNOWNFILETYPE);
        FailEntry(InflateRec);
        return doOnEnd(32, h.Crc);
    }
    const int attempts = h.Garbled() ? PasswordAttempts : 1;
    bool pass = false;
    bool tried = false;
    m_openFailed = false;
    for (int i = 0; i < attempts && !GetCancel(); ++i) {
        if (h.Garbled()) {
            if (PasswordFailed)
                break;
            if (i > 0)
                Password.clear();
            if (!RequestArjPassword()) {
                PasswordFailed = true;
                break;
            }
        }
        tried = true;
        pass = ExtractOnce(in, out, e, append);
        if (pass || !h.Garbled() || m_openFailed || EntryWriteFailed || DiskFull)
            break;
    }
    if (h.Garbled() && tried && !pass)
        PasswordFailed = true;  // no later entry of this run asks again
    // A garbled entry says why it failed: a password that gives a wrong CRC
    // is wrong (the extended message is the password, as elsewhere); one
    // that was never given leaves the entry protected.
    if (h.Garbled() && !pass && !m_openFailed && !EntryWriteFailed && !DiskFull && !GetCancel())
        RaiseErrorStr(StoredName, tried ? Password : std::string(), VolumeName, tried ? E_INVALIDPASSWORD : E_PASSWORDPROTECTED);
    if (!pass) {
        // The entry is not there: it is not counted, and a file that held
        // its earlier parts is incomplete.
        FailEntry(InflateRec);
        if (append) {
            // Counted with its first part, which is now useless too.
            if (FileCount > 0)
                --FileCount;
            if (tried && FileAccessMethod == faFile)
                DeleteFileA(Filename);
        }
    }
    return doOnEnd(32, h.Crc);
}

bool TUnARJ::ExtractOnce(TStream32* in, TStream32* out, const TEntry& e, bool append)
{
    const TArjHeader& h = e.Header;
    if (in->Seek(h.DataOffset, soBeginning) != h.DataOffset)
        return false;
    TStream32* outStream = out;
    const bool toFile = FileAccessMethod == faFile;
    if (append && toFile)
        FileAccessMethod = faAppend;
    const bool opened = Open_OutFile(outStream, Filename, StoredName);
    if (toFile)
        FileAccessMethod = faFile;
    if (!opened) {
        RaiseErrorStr(StoredName, "", VolumeName, E_OPENERR);
        m_openFailed = true;
        return false;
    }
    Crc32Val = CRC_MASK;
    BeginEntryOutput(h.UnpackedSize);
    bool pass = false;
    try {
        const TLzhResult r = Decode(in, outStream, h);
        // A garbled entry read with a wrong password gives nonsense; its
        // CRC says so without a message of its own for every attempt.
        if (r == TLzhResult::BadData && !h.Garbled())
            RaiseErrorStr(StoredName, "", VolumeName, E_BADBLOCK);
        bool sizesAgree = false;
        if (r == TLzhResult::Ok)
            sizesAgree = EntrySizeAgrees(false);
        else if (r == TLzhResult::Truncated && !h.Garbled())
            EntrySizeAgrees(true);
        pass = r == TLzhResult::Ok && sizesAgree && !EntryWriteFailed && !DiskFull && !GetCancel() &&
               (Crc32Val ^ CRC_MASK) == h.Crc;
    } catch (...) {
        pass = false;
    }
    if (pass)
        CloseAndSetDate(outStream, Filename, h.DosDate(), 0x20, h.Stamp());
    EndEntryOutput(outStream, out, !pass);
    return pass;
}

TLzhResult TUnARJ::Decode(TStream32* in, TStream32*& outStream, const TArjHeader& h)
{
    std::int64_t left = h.PackedSize;
    // The garbled key: each password character plus the modifier.
    const std::string key = h.Garbled() ? CPassword(false, Password, static_cast<BYTE>(h.Modifier)) : std::string();
    size_t keyAt = 0;
    const TLzhSource source = [&](std::uint8_t* buf, std::int32_t count) -> std::int32_t {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count, left));
        if (want <= 0)
            return 0;
        const std::int32_t got = std::max(ReadProc(in, nullptr, buf, false, 0, want, dtData), 0);
        left -= got;
        for (std::int32_t i = 0; i < got && !key.empty(); ++i) {
            buf[i] ^= static_cast<std::uint8_t>(key[keyAt]);
            keyAt = keyAt + 1 == key.size() ? 0 : keyAt + 1;
        }
        return got;
    };
    const std::int64_t total = h.UnpackedSize;
    const TLzhSink sink = [&](const std::uint8_t* buf, std::int32_t count) {
        ExtractWriteProc(outStream, const_cast<std::uint8_t*>(buf), false, 32, count, dtData);
        RemainingUnpackedSize -= std::min<std::int64_t>(count, RemainingUnpackedSize);
        doBranchProgress(std::min(EntryWritten, total), total, TotalUnpackedSize);
        ProcessMessages();
        return !EntryWriteFailed && !GetCancel();
    };
    switch (h.Method) {
    case 0: {
        std::vector<std::uint8_t> buf(kStoreBlock);
        std::int64_t produced = 0;
        while (produced < total) {
            const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(kStoreBlock, total - produced));
            const std::int32_t got = source(buf.data(), want);
            if (got <= 0)
                return TLzhResult::Truncated;
            produced += got;
            if (!sink(buf.data(), got))
                return TLzhResult::Stopped;
        }
        return TLzhResult::Ok;
    }
    case 4: return m_lzh.DecodeFast(total, source, sink);
    default: return m_lzh.Decode(kArjLzh, total, source, sink);
    }
}
