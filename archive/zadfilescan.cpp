#include "zadfilescan.h"

#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"
#include "kernel/mounts.h"
#include "rtl/findfile.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <array>

#include <tuple>
#include <utility>

namespace {
char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

TInternalMask::TInternalMask(const std::string& mask)
{
    bool skipTo = false;
    for (char c : mask) {
        if (c == '*') {
            skipTo = true;
        } else if (c == '?') {
            // A '?' right after a '*' adds nothing the '*' does not already match.
            if (!skipTo)
                m_items.push_back(Item{false, msAny, 0});
        } else {
            m_items.push_back(Item{skipTo, msLiteral, Up(c)});
            skipTo = false;
        }
    }
    m_items.push_back(Item{skipTo, msLiteral, 0});
    m_endsWithDot = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::matches(const std::string& name) const
{
    std::string text = name;
    if (m_endsWithDot && text.find('.') == std::string::npos)
        text += '.';
    // The name's end reads as the character 0, which only the terminating
    // item matches. A name holding a zero byte ends there.
    const size_t end = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
    auto at = [&](size_t p) { return p < end ? text[p] : '\0'; };

    // Pending restart points. With only '*' and '?' a failure never needs to
    // go back further than the most recent '*': whatever an earlier '*' could
    // absorb, the later one can absorb too. So a new restart point replaces
    // the older ones; the stack holds at most one entry whatever the mask's
    // length, and a match takes time proportional to name times mask.
    std::vector<std::pair<size_t, size_t>> stack;
    size_t pos = 0, item = 0;
    for (;;) {
        bool failed = false;
        for (; item < m_items.size(); ++item) {
            const Item& it = m_items[item];
            if (it.SkipTo) {
                while (at(pos) != '\0' && Up(at(pos)) != it.Literal)
                    ++pos;
                if (at(pos) != '\0') {
                    stack.clear();
                    stack.emplace_back(pos + 1, item);
                }
            }
            const char c = at(pos);
            const bool ok = it.State == msAny ? c != '\0' : Up(c) == it.Literal;
            if (!ok) {
                failed = true;
                break;
            }
            ++pos;
        }
        if (!failed)
            return true;
        if (stack.empty())
            return false;
        std::tie(pos, item) = stack.back();
        stack.pop_back();
    }
}

bool MatchesMask(const std::string& name, const std::string& mask) { return TInternalMask(mask).matches(name); }

// ====================================================================== the folder scan

namespace {

struct AttrRule {
    TzadFileAttribute attr;
    std::int32_t bits;
};
// Which bits each attribute of a set admits (fsZeroAttr and fsVolumeID are
// handled apart).
constexpr std::array<AttrRule, 7> kAttrRules{{{fsEncrypted, kAttrEncrypted},
                                              {fsArchive, kAttrArchive},
                                              {fsDirectory, kAttrDirectory},
                                              {fsReadOnly, kAttrReadOnly},
                                              {fsHidden, kAttrHidden},
                                              {fsSysFile, kAttrSysFile},
                                              {fsCompressed, kAttrCompressed}}};

bool Has(TzadFileAttributes set, TzadFileAttribute a) { return (set & AttrBit(a)) != 0; }

std::string Trimmed(const std::string& s)
{
    const std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string FolderPart(const std::string& line)
{
    const std::size_t slash = line.find_last_of('/');
    return slash == std::string::npos ? std::string() : line.substr(0, slash + 1);
}

std::string NamePart(const std::string& line)
{
    const std::size_t slash = line.find_last_of('/');
    return slash == std::string::npos ? line : line.substr(slash + 1);
}

// The entry a directory search found, in the scan's terms. False for what
// the scan never looks at: links to folders and links that lead nowhere.
bool FindDataOf(const std::string& folder, const TSearchRec& rec, TScanFindData& fd)
{
    if (rec.Attr & faSymLink) {
        if (rec.Attr & faDirectory)
            return false;
        if (GetFileAttributesA(folder + rec.Name) == INVALID_FILE_ATTRIBUTES)
            return false;  // leads nowhere
    }
    fd.Name = rec.Name;
    std::int32_t bits = 0;
    if (rec.Attr & faDirectory)
        bits |= kAttrDirectory;
    if (rec.Attr & faHidden)
        bits |= kAttrHidden;
    if (rec.Attr & faSysFile)
        bits |= kAttrSysFile;
    if (!(rec.Attr & faDirectory)) {
        if (rec.ReadOnly())
            bits |= kAttrReadOnly;
        fd.Size = rec.Size();
        fd.LastWrite = static_cast<std::int64_t>(rec.Time());
    } else {
        fd.Size = 0;
        fd.LastWrite = static_cast<std::int64_t>(rec.Time());
    }
    fd.Attributes = bits == 0 ? kAttrNormal : bits;
    return true;
}

bool Matches(const TMaskCollection& masks, const std::string& name)
{
    return std::any_of(masks.begin(), masks.end(), [&](const TInternalMask& m) { return m.matches(name); });
}

}  // namespace

std::int32_t AttributesToInt(TzadFileAttributes attributes)
{
    std::int32_t bits = Has(attributes, fsZeroAttr) ? kAttrNormal : 0;
    if (Has(attributes, fsVolumeID))
        bits |= 0x08;
    for (const AttrRule& r : kAttrRules)
        if (Has(attributes, r.attr))
            bits |= r.bits;
    return bits;
}

bool AttributesMeet(std::int32_t bits, TzadFileAttributes set, bool notIndexedAdmits)
{
    if (notIndexedAdmits && (bits & kAttrNotContentIndexed))
        return true;
    if (Has(set, fsZeroAttr) && (bits == 0 || bits == kAttrNormal))
        return true;
    return std::any_of(kAttrRules.begin(), kAttrRules.end(),
                       [&](const AttrRule& r) { return Has(set, r.attr) && (bits & r.bits); });
}

std::vector<std::string> SplitFileMask(const std::string& fileMask)
{
    std::vector<std::string> out;
    std::string current;
    auto finish = [&] {
        const std::string mask = Trimmed(current);
        // Two commas in a row or a leading comma give no mask at all.
        if (!mask.empty())
            out.push_back(mask);
        current.clear();
    };
    for (char c : fileMask) {
        if (c == ',')
            finish();
        else if (c != ' ' || !current.empty())
            current += c;
    }
    finish();
    return out;
}

TMaskCollection MasksOfFileMask(const std::string& fileMask)
{
    TMaskCollection masks;
    for (const std::string& m : SplitFileMask(fileMask))
        masks.emplace_back(m);
    return masks;
}

TzadFileScan::TzadFileScan(TComponent* owner) : TComponent(owner), m_rootDir(GetCurrentDirectoryA())
{
    Dispatcher = [this](const std::string& dir, std::int32_t attr, const TMaskCollection& masks) {
        DoScanMaskCollection(dir, attr, masks);
    };
    FileHandler = [this](TObject* sender, const std::string& dir, const TScanFindData& fd, TCompressHeaderObj* h) {
        return DoUpdateFilesList(sender, dir, fd, h);
    };
}

TzadFileScan::~TzadFileScan() { m_files.ClearList(); }

void TzadFileScan::SetRootDir(const std::string& value) { m_rootDir = value.empty() ? value : _AppendDirTail(value); }

void TzadFileScan::SetFileMask(const std::string& value)
{
    m_fileMask = value;
    m_fileSpec.Clear();
}

void TzadFileScan::SetFileSpec(const TStringList& value)
{
    m_fileSpec.Assign(value);
    m_fileMask.clear();
}

void TzadFileScan::SetAttribute(TzadFileAttribute attr, bool value)
{
    Attributes = value ? (Attributes | AttrBit(attr)) : (Attributes & ~AttrBit(attr));
}

void TzadFileScan::SetAttributeEx(TzadFileAttribute attr, bool value)
{
    AttributesEx = value ? (AttributesEx | AttrBit(attr)) : (AttributesEx & ~AttrBit(attr));
}

void TzadFileScan::SetSorted(TzadSortOptions value)
{
    m_files.SetSortOptions(value);
    if (OnFinished && m_files.Count() > 0)
        OnFinished(this, m_filesCount, m_filesSize);
}

std::string TzadFileScan::GetFileAttrStr(std::int32_t attr)
{
    static constexpr std::array<std::pair<std::int32_t, char>, 5> kLetters{
        {{kAttrArchive, 'A'}, {kAttrDirectory, 'D'}, {kAttrHidden, 'H'}, {kAttrReadOnly, 'R'}, {kAttrSysFile, 'S'}}};
    std::string s;
    for (const auto& [bit, letter] : kLetters)
        s += (attr & bit) ? letter : '-';
    return s;
}

void TzadFileScan::Stop()
{
    if (StopRef)
        *StopRef = 1;
}

void TzadFileScan::Scan()
{
    m_files.ClearList();
    m_filesCount = 0;
    m_filesSize = 0;
    if (StopRef)
        *StopRef = 0;
    struct Finish {
        TzadFileScan& s;
        ~Finish()
        {
            if (s.OnFinished)
                s.OnFinished(&s, s.m_filesCount, s.m_filesSize);
        }
    } finish{*this};

    const std::int32_t attr = AttributesToInt(Attributes);
    if (!RecurseDirs) {
        Dispatcher({}, attr, {});
    } else if (!m_fileMask.empty()) {
        if (m_rootDir.empty() || !_DirectoryExists(m_rootDir))
            return;
        Dispatcher(m_rootDir, attr, MasksOfFileMask(m_fileMask));
    } else {
        ScanFileSpecGroups();
    }
}

void TzadFileScan::ScanFileSpecGroups()
{
    std::vector<std::string> lines;
    for (const std::string& line : m_fileSpec)
        if (!Trimmed(line).empty())
            lines.push_back(line);
    auto sync = [&] {
        m_fileSpec.Clear();
        for (const std::string& l : lines)
            m_fileSpec.Add(l);
    };
    sync();
    while (!lines.empty() && !Stopped()) {
        std::string dir = FolderPart(lines[0]);
        if (dir.empty())
            dir = m_rootDir;
        if (dir.empty())
            dir = GetCurrentDirectoryA();
        std::vector<std::string> masks{NamePart(lines[0])};
        for (std::size_t i = 1; i < lines.size();) {
            if (AnsiLowerCase(FolderPart(lines[i])) != AnsiLowerCase(dir)) {
                ++i;
                continue;
            }
            const std::string name = NamePart(lines[i]);
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            if (std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MatchesMask(name, m); }))
                continue;  // already covered
            const auto narrower =
                std::find_if(masks.begin(), masks.end(), [&](const std::string& m) { return MatchesMask(m, name); });
            if (narrower != masks.end())
                *narrower = name;  // the wider mask wins
            else
                masks.push_back(name);
        }
        TMaskCollection collection;
        for (std::string m : masks) {
            if (m.empty() || m == "*.*")
                m = "*";
            collection.emplace_back(m);
        }
        m_rootDir = dir;
        if (OnRootDirChange)
            OnRootDirChange(this, dir);
        lines.erase(lines.begin());
        sync();
        Dispatcher(dir, AttributesToInt(Attributes), collection);
    }
}

void TzadFileScan::DoScanMaskCollection(const std::string& dir, std::int32_t attr, const TMaskCollection& masks)
{
    if (ScanOptions == soScanDrvs)
        ScanDrvs(attr, masks);
    else
        ScanDir(dir, attr, masks);
}

void TzadFileScan::TestEntry(const std::string& folder, const TScanFindData& fd, bool recursing,
                             const TMaskCollection& masks)
{
    if (!AttributesMeet(fd.Attributes, Attributes, true) || AttributesMeet(fd.Attributes, AttributesEx, false))
        return;
    const bool handler = UpdateList && FileHandler;
    if (fd.Attributes & kAttrDirectory) {
        if (handler)
            FileHandler(this, _AppendDirTail(SlashSep(folder, fd.Name)), fd, HeaderObj);
        return;
    }
    if (recursing && !Matches(masks, fd.Name))
        return;
    if (handler && !FileHandler(this, folder, fd, HeaderObj))
        return;
    ++m_filesCount;
    m_filesSize += fd.Size;
    if (handler && OnScanFile)
        OnScanFile(this, fd.Name, m_filesCount, m_filesSize);
}

void TzadFileScan::ScanDir(const std::string& dir, std::int32_t attr, const TMaskCollection& masks)
{
    (void)attr;
    TSearchRec rec;
    TScanFindData fd;
    if (!RecurseDirs) {
        for (const std::string& line : m_fileSpec) {
            const std::string folder = FolderPart(line);
            bool first = true;
            for (int r = FindFirst(line, faAnyFile, rec); r == 0 && !Stopped(); r = FindNext(rec)) {
                if (first && OnRootDirChange)
                    OnRootDirChange(this, folder);
                first = false;
                if ((rec.Attr & faDirectory) && !rec.Name.empty() && rec.Name[0] == '.')
                    continue;
                if (FindDataOf(folder, rec, fd))
                    TestEntry(folder, fd, false, masks);
            }
            FindClose(rec);
        }
        return;
    }
    if (OnRecurseDir)
        OnRecurseDir(this, dir);
    const std::string folder = _AppendDirTail(dir);
    for (int r = FindFirst(SlashSep(dir, "*"), faAnyFile, rec); r == 0 && !Stopped(); r = FindNext(rec)) {
        if ((rec.Attr & faDirectory) && !rec.Name.empty() && rec.Name[0] == '.')
            continue;
        if (FindDataOf(folder, rec, fd)) {
            const bool isDir = fd.Attributes & kAttrDirectory;
            const std::string sub = isDir ? _AppendDirTail(SlashSep(folder, fd.Name)) : std::string();
            // A scan of the drives keeps to each drive's own file system.
            if (isDir && m_onDrive && !m_onDrive(sub))
                continue;
            TestEntry(folder, fd, true, masks);
            if (isDir && (!(fd.Attributes & kAttrHidden) || IncludeHiddenDirs))
                ScanDir(sub, attr, masks);
        }
        ProcessMessages();
    }
}

void TzadFileScan::ScanDrvs(std::int32_t attr, const TMaskCollection& masks)
{
    // Each fixed, network, optical or RAM drive of the mount table is walked
    // on its own file system: a mount inside it is walked as itself (once),
    // and the kernel's pseudo file systems (/proc, /sys, /dev...) never.
    const std::vector<MountEntry> table = ReadMountTable();
    for (const MountEntry& m : table) {
        if (Stopped())
            break;
        if (IsKernelPseudoFileSystem(m.fsType))
            continue;
        const UINT type = GetDriveTypeA(m.mountPoint);
        if (type < DRIVE_FIXED || type > DRIVE_RAMDISK)
            continue;
        const TMountWalkBoundary boundary(m, table);
        m_onDrive = [&boundary](const std::string& folder) { return boundary.Holds(folder); };
        ScanDir(_AppendDirTail(m.mountPoint), attr, masks);
    }
    m_onDrive = nullptr;
}

bool TzadFileScan::DoUpdateFilesList(TObject*, const std::string& dir, const TScanFindData& fd, TCompressHeaderObj*)
{
    const std::int32_t date = UnixTimeToLocalDosDateTime(fd.LastWrite);
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(fd.Size));
    const auto high = static_cast<std::int32_t>(static_cast<std::uint64_t>(fd.Size) >> 32);
    if (fd.Attributes & kAttrDirectory)
        m_files.Add(std::make_unique<TFileObject>(std::string(), dir, low, high, fd.Attributes, date));
    else
        m_files.Add(std::make_unique<TFileObject>(fd.Name, _AppendDirTail(dir), low, high, fd.Attributes, date));
    return true;
}
