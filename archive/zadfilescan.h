// Wildcard masks and the folder scan that tests names against them.
//
// Wildcard masks: '*' matches any run of characters (also none), '?' exactly
// one; ASCII letters compare without regard to case, every other byte
// exactly; a mask that ends in '.' also matches names without an extension.
#pragma once

#include "archive/zadconsts.h"
#include "archive/zadfilelist.h"
#include "rtl/classes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TMaskStates { msLiteral, msAny, msSet, msMBCSLiteral };

class TInternalMask {
public:
    explicit TInternalMask(const std::string& mask);
    bool matches(const std::string& name) const;

    struct Item {
        bool SkipTo = false;
        TMaskStates State = msLiteral;
        char Literal = 0;
    };
    const std::vector<Item>& Items() const { return m_items; }
    bool EndsWithDot() const { return m_endsWithDot; }

private:
    std::vector<Item> m_items;
    bool m_endsWithDot = false;
};

bool MatchesMask(const std::string& name, const std::string& mask);

// ---- the folder scan

enum TfsScanOptions { soScanDir, soScanDrvs };

// The Windows attribute bits an entry shows here: 0x01 read-only (the
// owner's write bit is clear), 0x02 hidden (a dot-name), 0x04 system (a
// pipe, socket or device), 0x10 folder, 0x80 none of these.
constexpr std::int32_t kAttrReadOnly = 0x01, kAttrHidden = 0x02, kAttrSysFile = 0x04, kAttrDirectory = 0x10,
                       kAttrArchive = 0x20, kAttrNormal = 0x80, kAttrCompressed = 0x800,
                       kAttrNotContentIndexed = 0x2000, kAttrEncrypted = 0x4000;

// What the scan tells a file handler of one entry.
struct TScanFindData {
    std::string Name;
    std::int32_t Attributes = 0;
    std::int64_t Size = 0;
    std::int64_t LastWrite = 0;  // Unix seconds
};

using TMaskCollection = std::vector<TInternalMask>;

// Attribute set to Windows attribute bits.
std::int32_t AttributesToInt(TzadFileAttributes attributes);
// Whether an entry's bits meet a set: the admission rule of the scan
// (0x2000 admits in any case when notIndexedAdmits).
bool AttributesMeet(std::int32_t bits, TzadFileAttributes set, bool notIndexedAdmits);
// The masks of a comma-separated file mask, each trimmed; empty masks are
// left out.
TMaskCollection MasksOfFileMask(const std::string& fileMask);
// The masks of a file mask as texts (what MasksOfFileMask compiles).
std::vector<std::string> SplitFileMask(const std::string& fileMask);

class TCompressHeaderObj;

// Walks a folder tree (or every drive) and hands each file that passes the
// attribute and mask tests to the file handler, counting them and adding up
// their sizes. The default handler collects them in FilesList. Links to
// folders are never entered (a link to a parent would make the walk
// endless) nor reported; links to files count as the files they lead to.
class TzadFileScan : public TComponent {
public:
    explicit TzadFileScan(TComponent* owner = nullptr);
    ~TzadFileScan() override;

    virtual void Scan();
    virtual void Stop();
    virtual void DoScanMaskCollection(const std::string& dir, std::int32_t attr, const TMaskCollection& masks);
    virtual bool DoUpdateFilesList(TObject* sender, const std::string& dir, const TScanFindData& findData,
                                   TCompressHeaderObj* headerObj);
    void ScanDir(const std::string& dir, std::int32_t attr, const TMaskCollection& masks);
    void ScanDrvs(std::int32_t attr, const TMaskCollection& masks);

    const std::string& RootDir() const { return m_rootDir; }
    void SetRootDir(const std::string& value);
    const std::string& FileMask() const { return m_fileMask; }
    void SetFileMask(const std::string& value);
    TStringList& FileSpec() { return m_fileSpec; }
    void SetFileSpec(const TStringList& value);
    void SetAttribute(TzadFileAttribute attr, bool value);
    void SetAttributeEx(TzadFileAttribute attr, bool value);
    TzadSortOptions GetSorted() const { return m_files.SortOptions(); }
    void SetSorted(TzadSortOptions value);
    // "ADHRS" for the bits 0x20, 0x10, 0x02, 0x01, 0x04, '-' where clear.
    static std::string GetFileAttrStr(std::int32_t attr);

    TzadFileAttributes Attributes = AttrBit(fsZeroAttr) | AttrBit(fsReadOnly) | AttrBit(fsArchive) |
                                    AttrBit(fsCompressed) | AttrBit(fsEncrypted);
    TzadFileAttributes AttributesEx = 0;
    bool IncludeHiddenDirs = false;
    bool UpdateList = true;
    TfsScanOptions ScanOptions = soScanDir;
    bool RecurseDirs = true;

    std::function<void(TObject*, const std::string&, std::int64_t, std::int64_t)> OnScanFile;
    std::function<void(TObject*, std::int64_t, std::int64_t)> OnFinished;
    std::function<void(TObject*, const std::string&)> OnRootDirChange;
    std::function<void(TObject*, const std::string&)> OnRecurseDir;

    std::int32_t FilesCount() const { return m_filesCount; }
    std::int64_t FilesSize() const { return m_filesSize; }
    TFilesList& FilesList() { return m_files; }

    // Plain members a compressor points at its own.
    std::function<void(const std::string&, std::int32_t, const TMaskCollection&)> Dispatcher;
    std::function<bool(TObject*, const std::string&, const TScanFindData&, TCompressHeaderObj*)> FileHandler;
    TCompressHeaderObj* HeaderObj = nullptr;
    BYTE OwnStop = 0;
    BYTE* StopRef = &OwnStop;

private:
    void ScanFileSpecGroups();
    void TestEntry(const std::string& folder, const TScanFindData& fd, bool recursing, const TMaskCollection& masks);
    bool Stopped() const { return StopRef && *StopRef != 0; }

    std::string m_rootDir;
    std::string m_fileMask = "*";
    TStringList m_fileSpec;
    TFilesList m_files;
    std::int32_t m_filesCount = 0;
    std::int64_t m_filesSize = 0;
    // During a scan of the drives: whether a folder belongs to the drive
    // being walked (its own file system, no other mount point).
    std::function<bool(const std::string&)> m_onDrive;
};
