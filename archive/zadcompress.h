// The base of compressor components: a run creates an archive or brings an
// existing one up to date from files on disk (add, refresh, move, delete),
// copying unchanged entries from the old archive into a temporary new one
// that replaces the old archive only when it is complete.
//
// No compressor is part of the library: a concrete one supplies its header
// buffer (GetHeadSize, GetHeadPtr, FillHeaderData), reads the old archive's
// entries into the list (ArcToList, GetHeaderInfo, GetTotalRecordSize) and
// writes the closing structures (doCleanUp). The base writes each new entry
// as its header buffer, the stored name, the WinZip AES extra field of an
// AES entry, then the data: deflated or stored, encrypted with Password
// when EncryptionMethod asks for it (traditional cipher: its 12-byte header
// first; AES: salt and verifier first, the authentication code last).
//
// Around the entries the base copies a self-extractor's executable stub,
// copies kept entries of a split ZIP set from the part each starts on
// (asking for the parts through OnNextVolume) into the one new archive, and
// with cmTarGzip compresses the finished TAR into "<name>.tar.gz".
//
// A failed, raising or cancelled run leaves the old archive and every
// source file as they were; a move erases a source only after the new
// archive has taken the old one's place, and only files written into it.
#pragma once

#include "archive/zadbase.h"
#include "archive/zadfilescan.h"
#include "archive/zadzlib.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TSwitch { swAdd, swRefresh, swMove, swDelete, swRead };
enum TCompressMethod {
    cmStore,
    cmDeflate,
    cmFuse,
    cmFrozen5,
    cmFrozen6,
    cmMsZip,
    cmLzx,
    cmQuantum,
    cmUUEncode,
    cmXXEncode,
    cmBase64,
    cmTarred,
    cmTarGzip
};
using TCompressMethodState = unsigned;  // bit (1 << TCompressMethod)
constexpr TCompressMethodState MethodBit(TCompressMethod m) { return 1u << static_cast<unsigned>(m); }

// What a run does with an entry.
enum TEntryAction : BYTE { eaAdd = 0, eaKeep = 1, eaDrop = 2, eaRename = 3 };

struct TCompressFileInfo {
    std::uint32_t Value32 = 0;
    BYTE Action = eaAdd;
    // Where the entry's record starts in its archive: for an entry of the
    // old archive the real position in the file (a self-extractor's stored
    // offsets plus SfxAdjust), counted from the start of its part Disk in
    // a multi-volume set.
    std::int64_t HeaderPos = 0;
    WORD Disk = 0;
    WORD RecordSize = 0;
    BYTE HeaderEncrypted = 0;
    BYTE EncryptMethod = 0;  // 0 none, 1 to 3 WinZip AES strengths, 4 traditional cipher
    std::vector<std::uint8_t> Extra;
    // Decoded from the raw header (GetHeaderInfo) or taken from the disk
    // file: what tells an unchanged entry.
    std::int64_t Size = 0;
    std::int32_t Date = 0;  // DOS date and time
    std::int32_t Attributes = 0;
};

// The entries of a run: each with its record, its name (the full path of a
// file to add; the stored name of an entry of the old archive), the length
// of the name's root part that is not stored, and a copy of its raw header.
class TCompressHeaderObj {
public:
    void Init() { CLEAR_LIST(); }
    // False when memory runs out.
    bool AddItem(const TCompressFileInfo& info, const std::string& name, std::int32_t rootLength,
                 const void* rawHeader, std::size_t headerSize);
    TCompressFileInfo& FileLocationData(int index) { return m_items.at(static_cast<std::size_t>(index)).info; }
    const std::string& Name(int index) const { return m_items.at(static_cast<std::size_t>(index)).name; }
    void SetName(int index, std::string name, std::int32_t rootLength);
    std::int32_t RootLength(int index) const { return m_items.at(static_cast<std::size_t>(index)).rootLength; }
    // The name as stored (without the root part).
    std::string StoredName(int index) const { return Name(index).substr(static_cast<std::size_t>(RootLength(index))); }
    std::vector<std::uint8_t>& RawHeader(int index) { return m_items.at(static_cast<std::size_t>(index)).raw; }
    int Count() const { return static_cast<int>(m_items.size()); }
    // The entry whose stored name equals name, -1 when none.
    int IndexOf(const std::string& storedName) const;
    void CLEAR_LIST() { m_items.clear(); }
    void DONE()
    {
        m_items.clear();
        m_items.shrink_to_fit();
    }

private:
    struct Item {
        TCompressFileInfo info;
        std::string name;
        std::int32_t rootLength = 0;
        std::vector<std::uint8_t> raw;
    };
    std::vector<Item> m_items;
};

using TOnReplaceFile = std::function<void(TObject* sender, const std::string& name, bool& replace,
                                          std::int64_t oldSize, std::int64_t newSize, std::int32_t oldDate,
                                          std::int32_t newDate, std::int32_t oldAttr, std::int32_t newAttr)>;
using TOnDuplicateName = std::function<void(TObject* sender, const std::string& name, std::string& newName)>;
using TOnRenameFile = std::function<void(TObject* sender, const std::string& name, std::string& newName)>;
using TOnNonWriteableArchive = std::function<void(TObject* sender, const std::string& name, bool& writeable)>;
using TOnDropEntry = std::function<void(TObject* sender, const std::string& name, int droppedNow, int droppedBefore)>;

class TCustomCClass : public TZipCommon {
public:
    explicit TCustomCClass(TComponent* owner = nullptr);
    ~TCustomCClass() override;

    // ---- the run ------------------------------------------------------------------------------
    // Returns the number of entries processed; 0 on failure or cancel.
    virtual int Compress();

    // ---- what a concrete compressor provides --------------------------------------------------
    virtual void _Compress(TCompressHeaderObj& list);
    virtual void DecypherHeader(const std::string&) {}
    virtual void doPCopy(TStream32*, TStream32*, int, TCompressHeaderObj&) {}
    virtual void RefreshHeader(int, std::int32_t, TCompressHeaderObj&) {}
    virtual void InitializeHeader(TCompressFileInfo&) {}
    virtual void PackFile(TStream32* newArchive, int index, bool& ok, TCompressHeaderObj& list);
    virtual void FillHeaderData(std::int64_t, std::int64_t) {}
    virtual void SetHeaderInfo(const std::vector<std::uint8_t>&, TCompressFileInfo&) {}
    virtual void WriteZeroByteZipHeader(TStream32*) {}
    virtual bool AddFileProc(TStream32* newArchive, int index, TCompressHeaderObj& list);
    virtual void doOnEnd() {}
    virtual bool GetFirst(std::string& name, TStream32* stream, TCompressHeaderObj& list);
    virtual std::int32_t GetHeadSize();
    virtual std::int32_t GetLocalHeaderSize() { return 0; }
    virtual bool getNext(std::string& name, TStream32* stream);
    virtual std::uint8_t* GetHeadPtr();
    virtual std::int32_t Write64BitFieldHdr(TStream32*, TCompressFileInfo&, int) { return 0; }
    virtual void ArcToList(TStream32*, TCompressHeaderObj&) {}
    // Entry comments belong to a concrete format: the base reports 25244.
    virtual void CommentObjDone(bool flag);
    virtual bool CommentsChanged() { return false; }
    virtual void GetFileComment(int, std::string&) {}
    virtual void SetFileComment(int index, const std::string& comment, int length);
    virtual int CommentObjInit();
    virtual bool doFinish(TCompressHeaderObj&) { return true; }
    virtual bool doCleanUp(TStream32*, TCompressHeaderObj&) { return true; }
    virtual void GetHeaderInfo(const std::vector<std::uint8_t>&, TCompressFileInfo&) {}
    // The size of a kept entry's whole record; the old archive stands at
    // the record's start (and must be left there).
    virtual std::int64_t GetTotalRecordSize(TStream32*, TStream32*, const std::vector<std::uint8_t>&) { return 0; }
    virtual bool ReadHeader(TStream32*, std::string&, int) { return false; }

    // ---- settings -----------------------------------------------------------------------------
    std::string GetArchiveFile() const override { return m_archive; }
    void SetArchiveFile(const std::string& name) override;
    void SetFilename(const std::string& name) override;
    std::string FormatFileName(const std::string& name, const std::string& rootDir) const;
    void SetRootDir(const std::string& value);
    const std::string& RootDir() const { return m_rootDir; }
    void SetDefaultExt(const std::string& value);
    const std::string& DefaultExt() const { return m_defaultExt; }
    // False (nothing changed) for a method the class does not offer.
    bool SetCompressMethod(TCompressMethod method);
    TCompressMethod CompressMethodSetting() const { return m_compressMethod; }
    void SetStoreFilesOfType(const TStringList& list) { StoreFilesOfType.Assign(list); }
    // The longest common folder of the FileSpec entries.
    std::string GetDefaultDir() const;
    // The ZIP general-purpose bits of DeflateType.
    WORD SetDeflateBitFlag(WORD flags) const;
    // Whether the archive may be written (asks OnNonWriteableArchive).
    bool HandleNonWriteableFile(const std::string& name);

    TSwitch Switch = swAdd;
    TDeflateType DeflateType = dtDeflateN;
    bool StoreEmptyDirs = false;
    bool MoveOnlyArchived = false;
    TStringList StoreFilesOfType;
    std::string DefaultDir;

    TNotifyEvent OnDeactivate;
    TOnReplaceFile OnReplaceFile;
    TOnDuplicateName OnDuplicateName;
    TOnRenameFile OnRenameFile;
    TOnNonWriteableArchive OnNonWriteableArchive;
    TOnDropEntry OnDropEntry;
    std::function<void(TObject*, const std::string&, std::int64_t, std::int64_t)> OnScanFile;
    std::function<void(TObject*, const std::string&)> OnRecurseDir;

    // ---- the run's state, for concrete compressors ---------------------------------------------
    bool NewArchive() const { return m_isNew; }
    int AddedCount() const { return m_added; }
    int DroppedCount() const { return m_dropped; }

protected:
    bool SetDefaultValues();
    int doCompress();
    void doFileScan(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list);
    bool DoUpdateFilesList(const std::string& dir, const TScanFindData& fd, TCompressHeaderObj& list);
    // The step DoUpdateFilesList takes for a file after its folder and
    // extension tests, for a concrete compressor's own search.
    bool SearchRecProc(const std::string& dir, const TScanFindData& fd, TCompressHeaderObj& list);
    void FileInArchive(const std::string& fullName, const TScanFindData& fd, TCompressHeaderObj& list);
    void AddEntry(const std::string& fullName, const TScanFindData& fd, TCompressHeaderObj& list, int index = -1);
    void ExecuteCompression(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list);
    void doRenameFile(std::string& name, int index, TCompressHeaderObj& list);
    // Copies the source from its position, coding each block with the
    // entry's cipher (encryption as TCompressFileInfo::EncryptMethod);
    // Crc32Val gets the CRC of what was read. False when cancelled.
    bool StoreStream(TStream32* source, TStream32* dest, BYTE encryption = 0);
    // Deflates the whole source to dest's end, coding the output blocks;
    // Crc32Val gets the source's CRC. False when cancelled.
    bool DeflateStream(TStream32* source, TStream32* dest, BYTE encryption);
    // Entries whose name ends in '/' are folders.
    static bool IsFolderName(const std::string& name) { return !name.empty() && name.back() == '/'; }
    void ReadFileInfo();
    void TempFileMoveFile(TObject* sender, const std::string& toFileName, const std::string& fromFileName,
                          bool sameDrive) override;
    void Report(int code, const std::string& extended = {});

    TCompressMethodState AllowedMethods = MethodBit(cmStore) | MethodBit(cmDeflate);
    std::int32_t m_headSize = 0;
    // What FillHeaderData needs to know of the entry being written: whether
    // its data was stored (not deflated) and its encryption (the values of
    // TCompressFileInfo::EncryptMethod). An AES entry's header names method
    // 99 and an extra-field area of AesExtraSize bytes (plus the 64-bit
    // field's); its CRC is 0, as AE-2 has it. Every encrypted entry sets
    // flag bit 0.
    bool EntryStored = false;
    BYTE EntryEncryption = 0;

public:
    static constexpr int AesExtraSize = 11;

protected:

private:
    bool NeedsWork(TCompressHeaderObj& list) const;
    void MarkDeletions(TCompressHeaderObj& list);
    // zadcompresscopy.cpp: what the run copies or converts.
    void CopyStub(TStream32* oldArchive, TStream32* newArchive, TCompressHeaderObj& list);
    void CopyRecord(TStream32* oldArchive, TStream32* newArchive, int index, TCompressHeaderObj& list);
    bool MultiVolumeSource() const;
    std::string TarGzipName() const;
    void doTarGzip(TStream32* tar, TStream32* gz);
    void AppendLhaEnd(TStream32* newArchive);

    std::string m_archive;
    std::string m_rootDir;
    std::string m_defaultExt = ".zip";
    TCompressMethod m_compressMethod = cmDeflate;
    std::string m_baseDir;
    bool m_tarGzip = false;  // the archive is a TAR compressed to ".gz" at the end
    bool m_isNew = true;
    bool m_replaced = false;
    int m_added = 0;
    int m_dropped = 0;
    std::vector<std::string> m_erase;
};

// Publishes nothing more here: the properties TCustomCClass holds are public.
class TCompBase : public TCustomCClass {
public:
    using TCustomCClass::TCustomCClass;
};
