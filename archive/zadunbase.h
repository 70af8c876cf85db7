// The extraction framework every extractor builds on: the entry points and
// the run driver, the per-entry protocol with its events (OnBegin,
// OnRenameFile, OnFileExists, OnEnd, OnGetPassword), the overwrite and date
// options, the output targets, the password loop, the CRC test, the read and
// write procedures with their decryption and CRC hooks, the copy of stored
// entries, and the composition of output paths.
//
// An extractor supplies only its format's walk (_Extract) and calls, per
// entry: doOnBegin -> Open_OutFile -> its decoder -> CloseAndSetDate ->
// doOnEnd.
//
// Output paths are composed in one place, SetFilename, which keeps every
// output inside the target folder: names with ".." components, absolute
// names, names that would pass through a symbolic link already on disk and
// names that are empty after cleaning are refused (OnError 25245, the entry
// is skipped and the rest of the archive goes on).
#pragma once

#include "archive/zadaes.h"
#include "archive/zadbase.h"
#include "archive/zadinflate.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum TCpuType { cptAuto, cpt80286, cpt80386, cpt80486 };

// One entry of a memory-stream target.
struct TStreamHeader {
    std::int32_t FileDate = 0;
    std::int64_t FileSize = 0;
    std::int64_t FileOffset = 0;
    std::string FileName;  // at most 255 characters
};

class TDecompMemoryStream : public TMemoryStream32 {
public:
    bool AddItem(const TStreamHeader& header);
    // A stored date not above 1980-01-01 00:01:00 reads as that date.
    std::int32_t GetFileDate(int index) const;
    std::int64_t GetFileSize(int index) const;
    std::int64_t GetFileOffset(int index) const;
    std::string GetFileName(int index) const;
    int Count() const { return static_cast<int>(m_items.size()); }
    void ClearList() { m_items.clear(); }
    void ClearMemory();

private:
    const TStreamHeader* At(int index) const;
    std::vector<TStreamHeader> m_items;
};

// One entry selected for a run.
struct TUnBaseFileInfo {
    std::int32_t ExternalAttr = 0;
    WORD DiskNumber = 0;
    std::int64_t HeaderOffset = 0;
};

// The entries selected for a run, with an optional copy of each raw header.
class TUnBaseHeaderObj {
public:
    void Init() { CLEAR_LIST(); }
    bool AddItem(const TUnBaseFileInfo& info, const void* header, WORD headerLength);
    TUnBaseFileInfo* FileLocationData(int index);
    const std::vector<std::uint8_t>* HeaderData(int index) const;
    void CLEAR_LIST();
    void DONE() { CLEAR_LIST(); }
    int Count() const { return static_cast<int>(m_info.size()); }

private:
    std::vector<TUnBaseFileInfo> m_info;
    std::vector<std::vector<std::uint8_t>> m_headers;
};

class TCustomDClass : public TZipCommon {
public:
    explicit TCustomDClass(TComponent* owner = nullptr);
    ~TCustomDClass() override;

    // ---- entry points (each returns the number of entries extracted) ---------------------
    int Extract();
    int ExtractToFileStream(const std::string& fileName, TStream32* stream);
    // Copies the matching entries to buffer, never more than room bytes in
    // all: an entry that does not fit is reported and fails its CRC test.
    int ExtractToPointer(const std::string& fileName, void* buffer, std::int64_t room);
    int ExtractToMemoryStream(TDecompMemoryStream* stream);
    int ExtractToVerify();
    int ExtractToNul();
    // Decodes the matching entries and discards the bytes (a search run).
    int ExtractToSearch();
    int ExtractStreamToDisk(TStream32*& inStream);
    // The same from an open stream into OutMemoryStream (nothing on disk).
    int ExtractStreamToMemory(TStream32*& inStream);

    // ---- options ------------------------------------------------------------------------------
    TCpuType CpuType = cptAuto;
    TUnBase_OnFileExists OnFileExists;
    bool CreateStoredDirs = false;
    bool RestoreFileAttr = true;

    // ---- the protocol the extractors follow -------------------------------------------------
    // Whether this extractor reads archives of the type. A run on a file
    // that is no archive, or on a type the extractor does not read, reports
    // 25244 "Invalid or unsupported archive type for this operation" and
    // extracts nothing.
    virtual bool SupportsType(TArcType type) const;
    virtual void _Extract(TStream32*& inStream, TStream32* outStream);
    virtual bool doOnEnd(BYTE crcWidth, std::uint32_t storedCrc);
    virtual bool VerifyPassword(std::uint8_t* header);

    bool InitializeArcFile(TStream32*& inStream);
    void DestroyArcFile(TStream32*& inStream);
    int UnBase_Execute(TStream32*& inStream, TStream32* outStream);
    void Reset();
    bool doOnBegin(bool isDirectory);
    bool Open_OutFile(TStream32*& outStream, const std::string& fileName, const std::string& storedName);
    bool Close_OutFile(TStream32*& stream);
    // Dates the output, by DateAttribute: the file date is the stamp's exact
    // time when it has one, else the DOS date-time; then, with
    // RestoreFileAttr, the stamp's permission bits and the read-only bit.
    void CloseAndSetDate(TStream32*& stream, const std::string& fileName, std::int32_t dosDateTime, std::int32_t attr,
                         const TEntryStamp& stamp = {});
    // Tries Password, then Passwords, then (when ask) OnGetPassword. True
    // when a password was verified.
    bool RequestPassword(TStream32* inStream, bool ask = true);
    void AdjustProgress(const TInflateRec& rec);
    // Gives up an entry that doOnBegin accepted: it is no longer counted,
    // its progress is accounted and its CRC test fails.
    void FailEntry(const TInflateRec& rec);

    // ---- declared sizes ---------------------------------------------------------------------
    // An entry's sizes are claims of its header. The data path never writes
    // more of an entry than it declares (BeginEntryOutput sets the limit;
    // -1: none), and after decoding EntrySizeAgrees reports 25193 "File size
    // different" when the data gave more, or ended (dataEnded) before giving
    // all it declares.
    void BeginEntryOutput(std::int64_t declared);
    bool EntrySizeAgrees(bool dataEnded);
    std::int64_t EntryLimit = -1;
    std::int64_t EntryWritten = 0;
    bool EntryTooLong = false;
    // For the memory-stream target: false, with 25254 reported, when an
    // entry of the declared size would pass what memory can hold (the rule
    // of the hex editor's loading), checked before anything is allocated.
    bool RoomForEntry(std::int64_t declared);
    std::int64_t Unstore(TStream32* inStream, TStream32*& outStream, BYTE crcWidth, const TInflateRec& rec);

    // ---- the data path ----------------------------------------------------------------------
    std::int32_t ReadProc(TStream32* inStream, TStream32* outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                          std::int32_t count, TDataType readType) override;
    std::int32_t ExtractWriteProc(TStream32*& outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                  std::int32_t count, TDataType writeType) override;
    std::int32_t WriteData(TStream32*& outStream, const void* buf, BYTE crcWidth, std::int32_t count, TDataType writeType);
    void UpdateCrcBuffer(BYTE crcWidth, const void* buf, std::int32_t count);
    void UpdateEncryptBuffer(bool isEncrypted, void* buf, std::int32_t count);

    // ---- output paths -----------------------------------------------------------------------
    // Composes Filename below ExtractDir from a stored name ('\' or '/'
    // separators). A refused name empties Filename, sets FilenameRefused and
    // reports 25245 "Invalid file name".
    void SetFilename(const std::string& name) override;
    bool FilenameRefused = false;
    // Whether the run's input is the archive file the run opened itself
    // (Extract and the other file entry points), rather than a stream the
    // caller lent: only then may an extractor close it and open the other
    // parts of a set in its place.
    bool InputIsArchiveFile = false;

    // ---- run state ---------------------------------------------------------------------------
    std::string StoredName;
    bool PasswordFailed = false;
    std::unique_ptr<TUnBaseHeaderObj> HeaderList;
    TUnBaseFileInfo OwnFileInfo;
    TUnBaseFileInfo* CurrentFileInfo = &OwnFileInfo;
    TStream32* OutUserStream = nullptr;
    TDecompMemoryStream* OutMemoryStream = nullptr;
    std::uint8_t* OutPointer = nullptr;
    std::uint8_t* OutPointerEnd = nullptr;
    TInflateRec InflateRec;
    TInflateProc InflateProcRec;
    // The current entry's DOS date-time (the memory-stream target records it).
    std::int32_t EntryDosDate = 0;
    // The AES object of the entry being extracted (ZIP).
    std::unique_ptr<TzadAES> AES;
    // Set when the current entry's output is unusable (short write, disk
    // full, room exhausted): the entry fails and its output file is removed.
    bool EntryWriteFailed = false;
    bool DiskFull = false;
    // Whether the current entry's password was refused for this entry only.
    bool EntryPasswordFailed = false;
    // Makes the next doOnEnd fail the entry whatever the CRC (a refused name,
    // a failed authentication, an unusable output).
    bool ForceCrcFail = false;

protected:
    // Removes an output file that did not become complete.
    void DiscardOutput(TStream32*& outStream, const std::string& fileName);
    // Ends an entry's output: a file the entry opened itself (never the
    // caller's stream, out) is removed when discard is set and closed
    // otherwise; the entry's size limit is lifted.
    void EndEntryOutput(TStream32*& outStream, TStream32* out, bool discard);
    int RunWith(TFileAccessMethod method);
    int RunOnStream(TStream32*& inStream, TFileAccessMethod method);
    virtual bool TryPassword(TStream32* inStream, std::uint8_t* work);
    // A folder entry's stored time and mode, given to the folder when the
    // run ends (its files are in it by then, and a folder without write
    // permission still takes them); only a folder that did not exist when
    // its entry came, so that no folder of the user's changes. Call before
    // the folder is made.
    void NoteFolderStamp(const std::string& folder, const TEntryStamp& stamp);
    bool m_countedEntry = false;

private:
    void ApplyFolderStamps();
    std::vector<std::pair<std::string, TEntryStamp>> m_folderStamps;
};

class TUnBase : public TCustomDClass {
public:
    using TCustomDClass::TCustomDClass;
};

// A stored name made safe to join below a folder: '\' turned into '/',
// "." and empty components dropped, a leading drive letter with a colon
// removed. Empty when the name must be refused (a ".." component, an
// absolute name, a drive-rooted name, or nothing left).
std::string SafeRelativeName(const std::string& storedName);
