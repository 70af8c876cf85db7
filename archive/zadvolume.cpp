#include "archive/zadvolume.h"

#include "archive/zadgbls.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <cctype>

namespace {

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// A name split into its folder (with its '/'), its stem and its extension
// (from the file name's last '.', kept whole).
struct NameParts {
    std::string folder, stem, ext;
    explicit NameParts(const std::string& name) : folder(ExtractFilePath(name))
    {
        const std::string file = name.substr(folder.size());
        const size_t dot = file.rfind('.');
        stem = dot == std::string::npos ? file : file.substr(0, dot);
        ext = dot == std::string::npos ? std::string() : file.substr(dot);
    }
};

// The time spent in the user's handlers is not the operation's.
struct SuspendTimer {
    TZipTimer& t;
    explicit SuspendTimer(TZipTimer& timer) : t(timer) { t.Suspend(); }
    ~SuspendTimer() { t.Resume(); }
};

constexpr std::uint32_t kSpanSignature = 0x08074B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;

}  // namespace

// ---- names ------------------------------------------------------------------------------

std::string GetNextVolName(const std::string& name, int number, TNextVolumeName mode, bool longNames)
{
    if (name.empty() || number < 0 || number > 999)
        return {};
    const std::string digits = std::to_string(number);
    const size_t n = digits.size();
    const NameParts p(name);
    if (mode == nvChangeExt) {
        if (p.ext.empty())
            return p.folder + p.stem + digits;
        return p.folder + p.stem + p.ext.substr(0, 1 + 3 - n) + digits;
    }
    if (p.ext.empty())
        return {};
    if (longNames)
        return p.folder + p.stem.substr(0, 8 - n) + digits + p.ext;
    return p.folder + p.stem.substr(0, p.stem.size() > n ? p.stem.size() - n : 0) + digits + p.ext;
}

std::string HeaderVolumeName(const std::string& archiveFile, const std::string& headerName)
{
    const size_t cut = headerName.find_last_of("/\\:");
    const std::string file = cut == std::string::npos ? headerName : headerName.substr(cut + 1);
    if (file.empty() || file == "." || file == "..")
        return {};
    return ExtractFilePath(archiveFile) + file;
}

std::string TZipCommon::GetNextVolumeName(const std::string& name, int number)
{
    if (name.empty() || number < 0)
        return {};
    const NameParts p(name);
    if (ArcType == atRar || ArcType == atRarExe) {
        // arc.part1.rar, arc.part01.rar ...: the number after ".part" steps
        // at the width it is written in.
        const size_t dot = p.stem.rfind('.');
        if (dot != std::string::npos) {
            const std::string part = p.stem.substr(dot);
            const std::string written = part.size() > 5 ? part.substr(5) : std::string();
            if (AllDigits(written) && LowerCase(part.substr(0, 5)) == ".part") {
                std::string next = std::to_string(number + 2);
                if (next.size() < written.size())
                    next.insert(0, written.size() - next.size(), '0');
                return p.folder + p.stem.substr(0, dot) + part.substr(0, 5) + next + ".rar";
            }
        }
        number %= 100;
        if (number == 0)
            ++VolumeLetter;
    }
    std::string ext;
    if (number <= 9)
        ext = std::string(".") + VolumeLetter + "0" + std::to_string(number);
    else if (number <= 99)
        ext = std::string(".") + VolumeLetter + std::to_string(number);
    else
        ext = "." + std::to_string(number);
    return p.folder + p.stem + ext;
}

std::string TZipCommon::GetNextVolumeName(const std::string& name, int& number, int total, bool lastIsName)
{
    ++number;
    if (lastIsName && number >= total)
        return name;
    std::string digits = std::to_string(number);
    if (digits.size() < 2)
        digits.insert(0, 1, '0');
    return ChangeFileExt(name, ".z" + digits);
}

// ---- asking -------------------------------------------------------------------------------

bool TZipCommon::GetNextVolume(std::string& name, int volumeID, bool nameFromHeader)
{
    bool result = false;
    if (volumeID > 999) {
        RaiseErrorStr(ArchiveFile(), "", name, E_MAXVOLUMES);
    } else {
        if (nameFromHeader)
            name = HeaderVolumeName(ArchiveFile(), name);
        if (name.empty()) {
            RaiseErrorStr(ArchiveFile(), "", name, E_INVALIDFILENAME);
        } else {
            if (ExtractFilePath(name).empty())
                name = IncludeTrailingPathDelimiter(_GetCurrentDir()) + name;
            bool exists = FileExists(name);
            if (OnNextVolume) {
                SuspendTimer suspended(Timer);
                for (;;) {
                    bool cancel = false;
                    OnNextVolume(this, name, volumeID, exists, cancel);
                    if (cancel) {
                        SetCancel(true);
                        break;
                    }
                    exists = FileExists(name);
                    if (exists) {
                        result = true;
                        break;
                    }
                }
            } else if (exists) {
                result = true;
            } else {
                RaiseErrorStr(ArchiveFile(), "OnNextVolume", name, E_REQUIREDEVENT);
            }
        }
    }
    if (result && VolumeNumberRef)
        ++*VolumeNumberRef;
    if (!result)
        NextHeaderOffset = EndOffset;
    return result;
}

bool TZipCommon::doGetNextVolume(TStream32*& stream, std::string& name)
{
    if (!OnNextVolume || !VolumeNumberRef)
        return false;
    const int number = *VolumeNumberRef;
    name = GetNextVolumeName(name, number);
    if (!GetNextVolume(name, number))
        return false;
    delete stream;
    stream = nullptr;
    auto* f = new TFileStream32(name, fmOpenRead | fmShareDenyWrite);
    if (!f->Valid()) {
        // A volume that was there but does not open ends the walk.
        delete f;
        RaiseErrorStr(Filename, "", name, E_OPENERR);
        ArchiveSize = 0;
        NextHeaderOffset = EndOffset;
        return false;
    }
    ArchiveSize = f->Size();
    VolumeName = name;
    stream = f;
    return true;
}

bool TZipCommon::GetNextZipVolume(TStream32*& stream, int number, int total)
{
    VolumeName = GetNextVolumeName(ArchiveFile(), number, total, true);
    if (!OnNextVolume) {
        // Reported before the run is cancelled, which would report a cancel
        // in its place.
        RaiseErrorStr(Filename, "OnNextVolume", VolumeName, E_REQUIREDEVENT);
        *CancelRef = true;
        return false;
    }
    delete stream;
    stream = nullptr;
    bool cancel = false;
    bool found = false;
    {
        SuspendTimer suspended(Timer);
        do {
            cancel = false;
            OnNextVolume(this, VolumeName, number, FileExists(VolumeName), cancel);
            found = !cancel && FileExists(VolumeName);
        } while (!found && !cancel);
    }
    if (found) {
        auto* f = new TFileStream32(VolumeName, fmOpenRead | fmShareDenyWrite);
        if (f->Valid()) {
            VolumeNumber = number;
            stream = f;
            return true;
        }
        delete f;
    }
    if (cancel) {
        SetCancel(true);
    } else {
        RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
        *CancelRef = true;
    }
    return false;
}

bool TZipCommon::OpenNextZipVolume(TTempFileStream*& stream, int& number, int total)
{
    ArchiveSize = 0;
    VolumeName = GetNextVolumeName(ArchiveFile(), number, total, true);
    if (!OnNextVolume) {
        // Reported before the run is cancelled, which would report a cancel
        // in its place.
        RaiseErrorStr(Filename, "OnNextVolume", VolumeName, E_REQUIREDEVENT);
        SetCancel(true);
        return false;
    }
    delete stream;
    stream = nullptr;
    // A set written with local headers only has no .zip part of its own in
    // the numbering: it is passed over.
    if (HeadFlag == THeaderTypeState{htLocal} && SameText(VolumeName, ArchiveFile()))
        VolumeName = GetNextVolumeName(ArchiveFile(), number, total, true);
    bool cancel = false;
    bool found = false;
    {
        SuspendTimer suspended(Timer);
        do {
            cancel = false;
            OnNextVolume(this, VolumeName, number + 1, FileExists(VolumeName), cancel);
            found = !cancel && FileExists(VolumeName);
        } while (!found && !cancel);
    }
    if (found) {
        auto* f = new TTempFileStream(this, VolumeName, "", fmOpenRead | fmShareDenyWrite);
        if (f->Valid()) {
            ArchiveSize = f->Size();
            if (VolumeNumberRef)
                *VolumeNumberRef = number;
            VolumeNumber = number;
            stream = f;
            return true;
        }
        delete f;
    }
    if (cancel) {
        SetCancel(true);
    } else {
        RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
        *CancelRef = true;
    }
    return false;
}

// ---- spanned disks ----------------------------------------------------------------------

void TDiskSpannObj::Init(TZipCommon* owner)
{
    Owner = owner;
    DiskNumber = 0;
}

bool TDiskSpannObj::Ask(int which, bool& cancel)
{
    TZipCommon& o = *Owner;
    static const char* const kNames[] = {"OnGetZipLastDisk", "OnGetZipFirstDisk", "OnGetZipNextDisk"};
    const int kind = std::min(which, 2);
    const bool assigned = kind == 0 ? static_cast<bool>(o.OnGetZipLastDisk)
                                    : kind == 1 ? static_cast<bool>(o.OnGetZipFirstDisk) : static_cast<bool>(o.OnGetZipNextDisk);
    if (!assigned) {
        o.RaiseErrorStr(o.ArchiveFile(), kNames[kind], o.VolumeName, E_REQUIREDEVENT);
        *o.CancelRef = true;
        return false;
    }
    cancel = true;
    {
        SuspendTimer suspended(o.Timer);
        if (kind == 0)
            o.OnGetZipLastDisk(&o, cancel);
        else if (kind == 1)
            o.OnGetZipFirstDisk(&o, cancel);
        else
            o.OnGetZipNextDisk(&o, std::to_string(which), cancel);
    }
    if (cancel)
        o.SetCancel(true);
    return !cancel;
}

bool TDiskSpannObj::CheckDisk(std::int64_t offset)
{
    TZipCommon& o = *Owner;
    try {
        const std::string file = o.ArchiveFile();
        auto report = [&o](const std::string& f, const std::string& m, const std::string& v, int code) {
            o.RaiseErrorStr(f, m, v, code);
        };
        if (!o.DiskManager.GetDriveInfo(file, nullptr, report, nullptr, OnNoDisk, true))
            return false;
        TFileStream32 f(file, fmOpenRead | fmShareDenyWrite);
        if (!f.Valid()) {
            o.RaiseErrorStr(file, "", o.VolumeName, E_OPENERR);
            return false;
        }
        const bool spanned = o.ArcType == atZipDS;
        const WORD labelled = o.DiskManager.ZipDiskNumber;
        // A disk whose label names another number is another disk, even
        // when a record happens to stand at the offset.
        if (spanned && labelled != 0 && labelled != DiskNumber)
            return false;
        if (offset < 0 || offset > f.Size() - 30)
            return spanned ? labelled == DiskNumber : o.ArcType == atZipMV;
        std::uint8_t sig[4];
        if (f.Seek(offset, soBeginning) != offset || f.Read(sig, 4) != 4)
            return false;
        const std::uint32_t s = LoadLe32(sig);
        return s == kSpanSignature || s == kLocalSignature || s == kCentralSignature;
    } catch (...) {
        return false;
    }
}

bool TDiskSpannObj::GetDisk(TStream32*& stream, std::int64_t offset)
{
    TZipCommon& o = *Owner;
    delete stream;
    stream = nullptr;
    const std::string file = o.ArchiveFile();
    bool cancel = false;
    if (DiskNumber == 0) {
        // The last disk holds the central directory: detection must find
        // the end record on it.
        auto detect = [&] {
            o.ArcType = atNA;
            o.HeadFlag.Clear();
            o.SetArchiveFile(file);
        };
        detect();
        while (!o.HeadFlag.Has(htEnding)) {
            if (!Ask(0, cancel))
                return false;
            detect();
        }
        if (!TRegisterVirOV::IsArcValid(o.ArcType)) {
            o.RaiseErrorStr(file, "", o.VolumeName, E_UNSUPPORTEDTYPE);
            *o.CancelRef = true;
            return false;
        }
        DiskNumber = 1;
    } else if (DiskNumber == 1) {
        while (!CheckDisk(offset))
            if (!Ask(1, cancel))
                return false;
        DiskNumber = 2;
    } else {
        while (!CheckDisk(offset))
            if (!Ask(DiskNumber, cancel))
                return false;
        ++DiskNumber;
    }
    auto* f = new TFileStream32(file, fmOpenRead | fmShareDenyWrite);
    if (!f->Valid()) {
        delete f;
        o.RaiseErrorStr(file, "", o.VolumeName, E_OPENERR);
        *o.CancelRef = true;
        return false;
    }
    o.ArchiveSize = f->Size();
    stream = f;
    return true;
}

// ---- the set reader -----------------------------------------------------------------------

TZipSetReader::TZipSetReader(TStream32* part, bool owned, int disk, TOpenPart open) : m_disk(disk), m_open(std::move(open))
{
    Adopt(part, owned);
}

TZipSetReader::~TZipSetReader()
{
    m_buffered.reset();
    if (m_owned)
        delete m_part;
}

void TZipSetReader::Adopt(TStream32* part, bool owned)
{
    m_part = part;
    m_owned = owned;
    m_partSize = part ? part->Size() : 0;
    m_buffered = part ? std::make_unique<TBufferedReadStream32>(part) : nullptr;
    if (part)
        SetPartSize(m_disk, m_partSize);
}

std::int64_t TZipSetReader::PartSize(int disk) const
{
    return disk >= 0 && static_cast<size_t>(disk) < m_sizes.size() ? m_sizes[static_cast<size_t>(disk)] : -1;
}

void TZipSetReader::SetPartSize(int disk, std::int64_t size)
{
    if (disk < 0)
        return;
    if (m_sizes.size() <= static_cast<size_t>(disk))
        m_sizes.resize(static_cast<size_t>(disk) + 1, -1);
    m_sizes[static_cast<size_t>(disk)] = size;
}

bool TZipSetReader::Open(int disk, std::int64_t offset)
{
    m_buffered.reset();
    // A stream the reader was lent is never freed by it.
    TStream32* part = m_owned ? m_part : nullptr;
    m_part = nullptr;
    const bool ok = m_open && m_open(disk, offset, part);
    if (!ok) {
        delete part;
        m_disk = -1;
        Adopt(nullptr, true);
        return false;
    }
    m_disk = disk;
    Adopt(part, true);
    return part != nullptr;
}

bool TZipSetReader::SelectDisk(int disk, std::int64_t offset)
{
    m_partMissing = false;
    m_base = 0;
    m_spanEnd = 0;
    if ((disk != m_disk || !m_buffered) && !Open(disk, offset)) {
        m_partMissing = true;
        return false;
    }
    return m_buffered->Seek(0, soBeginning) == 0;
}

std::int64_t TZipSetReader::Read(void* buffer, std::int64_t count)
{
    auto* out = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count && m_buffered) {
        const std::int64_t n = m_buffered->Read(out + done, count - done);
        if (n > 0) {
            done += n;
            continue;
        }
        // The end of the part: the span goes on in the next one.
        const std::int64_t end = m_base + m_partSize;
        if (m_buffered->Position() < m_partSize || end >= m_spanEnd)
            break;
        if (!Open(m_disk + 1, m_spanEnd - end)) {
            m_partMissing = true;
            break;
        }
        m_base = end;
    }
    return done;
}

std::int64_t TZipSetReader::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (!m_buffered)
        return -1;
    std::int64_t p = offset;
    if (origin == soCurrent)
        p = m_base + m_buffered->Position() + offset;
    else if (origin == soEnd)
        p = Size() + offset;
    if (p < m_base || p > m_base + m_partSize)
        return -1;
    m_buffered->Seek(p - m_base, soBeginning);
    return p;
}

std::int64_t TZipSetReader::Size() { return std::max(m_base + m_partSize, m_spanEnd); }
