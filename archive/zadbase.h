// The two classes every archive component descends from. TRegisterVirOV
// holds the archive's name, its detected type and the records detection
// found; TZipCommon adds the options, the events, the fields of the entry
// being processed, the job totals, the cancel flag, progress and an
// elapsed-time clock, and the library's error convention: a failure is a
// message id reported through OnError and, with RaiseError, then raised as
// E_RAISE. While the component is cancelled the id reported is 25443 "User
// canceled" and nothing is raised.
//
// The extraction framework and the extractors build on TZipCommon: the
// bound procedures (ReadBlockProc, WriteBlockProc), the virtual slots and the
// totals below are what they use.
#pragma once

#include "archive/zadconsts.h"
#include "archive/zadcrypt.h"
#include "archive/zadfileio.h"
#include "archive/zadheaders.h"
#include "archive/zadstreams.h"
#include "rtl/classes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The library's exception: its message is the text of a message id.
class E_RAISE : public Exception {
public:
    using Exception::Exception;
};

class TZipCommon;

using TOnError = std::function<void(TObject* sender, const std::string& fileName, const std::string& extendedMsg,
                                    const std::string& volumeID, int eCode)>;
using TOnProgress = std::function<void(TObject* sender, BYTE byFile, BYTE byArchive)>;
using TOnElapsedTime = std::function<void(TObject* sender, float elapsedTime)>;
using TProgress = std::function<void(BYTE byFile, BYTE byArchive)>;
using TOnExcludeFile = std::function<void(TObject* sender, const std::string& name)>;
using TOnCorruptZipHeader = std::function<void(TObject* sender, THeaderTypeState headFlag, bool& cancel)>;
using TOnRead = std::function<void(TObject* sender, std::int64_t offset, int filenum)>;
using TOnReadFile = std::function<void(TObject* sender, const std::string& fileName)>;
using TOnTotals = std::function<void(TObject* sender, std::int64_t unpackSize, std::int64_t packSize, BYTE ratio, int numFiles)>;
using TOnBegin = std::function<void(TObject* sender, const std::string& fileName, int count, bool& extract)>;
using TOnEnd = std::function<void(TObject* sender, const std::string& fileName, bool crcPass)>;
using TOnRenameFile = std::function<void(TObject* sender, const std::string& fileName, std::string& newFileName)>;
using TOnGetPassword = std::function<void(TObject* sender, const std::string& fileName, std::string& password,
                                          TSeedKeyRecord& headerKeys, TSeedKeyRecord& dataKeys, bool& tryAgain)>;
using TOnNextVolume = std::function<void(TObject* sender, std::string& volumeName, int volumeID, bool fExists, bool& cancel)>;
using TOnGetZipDisk = std::function<void(TObject* sender, bool& cancel)>;
using TOnGetZipNextDisk = std::function<void(TObject* sender, const std::string& volumeName, bool& cancel)>;
using TUnBase_OnFileExists = std::function<void(TObject* sender, const std::string& fileName, std::string& newFileName,
                                                TOverwriteMode& overwriteMode)>;

// The read and write procedures every decoder moves its data through
// (the extraction data path binds the real ones).
using TReadBlock = std::function<std::int32_t(TStream32* inStream, TStream32* outStream, void* buf, bool isEncrypted,
                                              BYTE crcWidth, std::int32_t count, TDataType readType)>;
using TWriteBlock = std::function<std::int32_t(TStream32*& outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                               std::int32_t count, TDataType writeType)>;

// Elapsed time in seconds from the tick count; time spent in the user's
// handlers is cut out with Suspend/Resume.
class TZipTimer {
public:
    void Start();
    void Stop();
    void Suspend();
    void Resume();
    DWORD StartTick = 0;
    DWORD StopTick = 0;
    DWORD SuspendTick = 0;
    float ElapsedTime = 0;
};

class TRegisterVirOV : public TComponent {
public:
    explicit TRegisterVirOV(TComponent* owner = nullptr);

    // ---- name and type detection --------------------------------------------------
    virtual std::string GetArchiveFile() const { return m_archiveFile; }
    virtual void SetArchiveFile(const std::string& name);
    std::string ArchiveFile() const { return GetArchiveFile(); }
    virtual void SetArcType(TArcType value);
    TArcType ArcType = atNA;
    TArcType GetArcType(TStream32* stream);
    bool OpenArchive(HANDLE& handle, const std::string& name);
    TArcType IsSFXZipped(TStream32* stream);
    std::int64_t GetCentralDirOffset(TStream32* stream);
    std::int64_t GetLocalDirOffset(TStream32* stream, bool& encrypted);
    std::int32_t doByteSearch(TStream32* stream, TArcType& type, std::int64_t start);
    void InitializeVolumeSet();
    TArcType GetZipSetType();
    TArcType IsEncodedTextFile(TStream32* stream);
    TArcType IsTarArchive(TStream32* stream);

    std::int64_t ArchiveSize = 0;
    std::int64_t ArchiveStartOffset = -1;
    THeaderTypeState HeadFlag;
    std::int32_t SfxAdjust = 0;
    // Where the central directory found by detection starts (-1: none) and
    // ends (its start plus its size).
    std::int64_t CentralDirStart = -1;
    std::int64_t CentralDirEnd = 0;
    // What the end record declares: the directory's offset and its number of
    // entries (-1 when the record has no count).
    std::int64_t DeclaredCentralDirOffset = 0;
    std::int64_t DeclaredEntries = -1;
    // The end record's claims that the central directory does not bear out,
    // in words, once the walk has counted entriesFound headers; empty when
    // they agree.
    std::string DirectoryRemark(std::int64_t entriesFound) const;
    // For the last part of a split or spanned set whose central directory
    // starts on an earlier part (which the library does not read), that in
    // words; empty otherwise.
    std::string SetDirectoryRemark() const;
    std::int32_t ArchiveDate = kFallbackDosDate;
    TLocal Local;
    TCentral Central;
    TEnd End;
    TVirOV_End64 End64;
    TWZip_END64 WZipEnd64;
    TWZipLocator WZipLocator;
    TCentral64Hdr Central64Hdr;
    TAesHeader AesHeader;
    std::vector<std::uint8_t> StrongEncryptionHeader;
    // Present in the components that create it (the lister does).
    TMainCommentStream* ArchiveComment = nullptr;
    char VolumeLetter = 0;
    int VolumeNumber = 0;
    int* VolumeNumberRef;
    bool EncryptHeaders = false;
    bool GetEncryptHeaders() const { return EncryptHeaders; }

    // How detection learns whether the archive's drive is removable and its
    // label; a test may replace the system's answer.
    std::function<bool(const std::string& path, TzadDriveType& type, std::string& label)> DriveQuery;

    // ---- ZIP structures -------------------------------------------------------------
    virtual void WEI(TStream32* stream);
    bool PasswordIdBlockEnabled = false;

    // ---- errors, size of the comment buffer ---------------------------------------------
    virtual void RaiseErrorStr(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID, int eCode);
    TOnError OnError;
    int ZipCmntBufSize = 32000;
    void SetZipCmntBufSize(int value);

    // ---- type sets ------------------------------------------------------------------------
    static bool IsArcValid(TArcType t);
    static bool IsZipped(TArcType t);
    static bool IsCommentEditable(TArcType t);
    static bool IsArcCompressable(TArcType t);
    static bool IsArcDecompressable(TArcType t);
    static bool IsArcVerifyable(TArcType t);
    static bool IsArcSearchable(TArcType t);
    virtual bool IsArcSplitable(TArcType t);

protected:
    bool QueryDrive(TzadDriveType& type, std::string& label);
    std::string m_archiveFile;
};

bool isPasswordSupported(TArcType t);
bool isAesSupported(TArcType t);
bool isSeedKeysSupported(TArcType t);

class TZipCommon : public TRegisterVirOV {
public:
    explicit TZipCommon(TComponent* owner = nullptr);
    ~TZipCommon() override;

    // ---- errors ---------------------------------------------------------------------------
    void RaiseErrorStr(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID, int eCode) override;
    // Reports and raises E_RAISE with the message's text, unless the
    // component is (or becomes, in the handler) cancelled.
    void RaiseError(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID, int eCode);
    void doWriteError();
    // Reports 25244 "Invalid or unsupported archive type for this
    // operation" for ArchiveFile, naming the detected type when there is one.
    void ReportUnsupportedType(const std::string& volumeID);

    // ---- searching raw archive bytes (zadsearchengine.cpp) ---------------------------------
    // The offset of the first occurrence of searchString (OEM, any case) in
    // fileName, or in ArchiveFile when fileName is empty; -1 when none.
    std::int64_t SearchFile(const std::string& fileName, const std::string& searchString);
    // Whether every line of strings (at most 20, OEM, any case) occurs in
    // fileName; false without lines.
    bool SearchFileEx(const std::string& fileName, const TStringList& strings);

    // ---- cancel ---------------------------------------------------------------------------
    virtual bool GetCancel() const { return *CancelRef; }
    virtual void SetCancel(bool value);
    bool Cancel() const { return GetCancel(); }
    bool CancelFlag = false;
    bool* CancelRef;

    // ---- progress and time --------------------------------------------------------------
    void ProgressProc(BYTE byFile, BYTE byArchive);
    void doBranchProgress(std::int64_t fileDone, std::int64_t fileTotal, std::int64_t jobTotal);
    void GlobalProgress(TObject* sender);
    TProgress ProgressCallback;
    BYTE ProgressByFile = 0;
    BYTE ProgressByArchive = 0;
    TZipTimer Timer;

    // ---- bound procedures and slots -------------------------------------------------------
    virtual std::int32_t ReadProc(TStream32* inStream, TStream32* outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                  std::int32_t count, TDataType readType);
    virtual std::int32_t ExtractWriteProc(TStream32*& outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                          std::int32_t count, TDataType writeType);
    virtual std::int32_t CompressWriteProc(TStream32*& outStream, void* buf, bool isEncrypted, BYTE crcWidth,
                                           std::int32_t count, TDataType writeType);
    // Reads a name of len bytes at the stream's position into dest, at most
    // 255 of them (the longest name a header field can give); answers how
    // many bytes came.
    std::int32_t ReadFilename(TStream32* stream, std::string& dest, int len);
    TReadBlock ReadBlockProc;
    TWriteBlock WriteBlockProc;
    TWriteBlock CompressWriteBlockProc;
    virtual TDateTime ConvertDate(std::int32_t dosDateTime);
    std::int32_t GetDateTime(std::int32_t dosDateTime);
    std::int32_t MaxFileDate = kFallbackDosDate;
    virtual TCustomSizeType GetCustomSizeType() { return stBytes; }
    virtual void SetCustomSizeType(TCustomSizeType) {}
    virtual TPartType GetPartType() { return ptNoSplit; }
    virtual void SetPartType(TPartType) {}
    virtual std::int64_t GetPartSize() { return 65536; }
    virtual void SetPartSize(std::int64_t) {}
    virtual TStringList* GetVolumeSizeNames() { return nullptr; }
    virtual void SetVolumeSizeNames(TStringList*) {}
    virtual std::string GetVolumeSizeInBytesStr() { return {}; }
    virtual void SetEncryptionMethod(TEncryptionMethod value) { EncryptionMethod = value; }
    virtual void SetExcludeExts(const TStringList& list);
    virtual void SetFilename(const std::string& name) { Filename = name; }

    // ---- temporary-file callbacks -------------------------------------------------------
    // Puts the finished temporary file in place of toFileName. The old file is
    // replaced only once the new one is complete; a failed or cancelled move
    // leaves it as it was.
    virtual void TempFileMoveFile(TObject* sender, const std::string& toFileName, const std::string& fromFileName, bool sameDrive);
    virtual void TempFileMoveBegin(TObject* sender, const std::string& archive, const std::string& tempFileName, bool& cancel);
    virtual void TempFileMoveEnd(TObject* sender);
    virtual void TempFileProgress(TObject* sender);
    TNotifyEvent OnTmpFileProgress;
    TTempFileMoveBegin OnTmpFileMoveBegin;
    TNotifyEvent OnTmpFileMoveEnd;

    // ---- ZIP extra fields ------------------------------------------------------------------
    // Reads the extra-field area of length bytes at the stream's position for
    // the local (htLocal) or central (htCentral) header held in Local or
    // Central: fills hdr, widens that header's 0xFFFFFFFF fields and keeps
    // the AES and strong-encryption fields in the component. False when the
    // stream ends before the area does.
    bool ReadExtraFieldHeader(TStream32* stream, WORD length, TCentral64Hdr& hdr, THeaderType kind);

    // ---- conversions of the current entry -------------------------------------------------
    std::string WinAttrToString(int attr, char filler) const;
    std::string UnixAttrToStr(int mode, char filler) const;
    std::string FileAttrToString(int attr, char filler) const;
    int GetEncryptionMethod() const;
    std::string GetCompressMethodStr(WORD method, WORD flag) const;
    std::string _GetFileType(const std::string& fileName) const;
    std::string DecodeRarFileName(const std::string& fileName, WORD nameSize) const;
    int IsArchiveExt(const std::string& ext) const;
    std::string ArcTypeName() const { return ArcTypeNameOf(ArcType); }
    bool FileInExcludeList(const std::string& path, const std::string& fileName, const std::string&, const std::string&, int attr);
    // Host system of the current entry (ACE and RAR headers fill it).
    int HostOS = osMsdos;
    // LHA method letter, ARC method byte, ARJ file type and similar format
    // details that method names depend on (their record code fills them).
    int MethodDetail = 0;
    WORD GZipMagic = 0;

    // ---- settings -------------------------------------------------------------------------
    bool WriteToFile() const { return FileAccessMethod == faFile; }
    void SetExtractDir(const std::string& dir);
    void SetFileSpec(const TStringList& list) { FileSpec.Assign(list); }
    void SetExcludeSpec(const TStringList& list) { ExcludeSpec.Assign(list); }
    void SetPasswords(const TStringList& list) { Passwords.Assign(list); }
    void SetAttribute(TzadFileAttribute attr, bool value);
    void SetAttributeEx(TzadFileAttribute attr, bool value);
    std::string ReadTempDir();
    void SetTempDir(const std::string& value);
    std::int8_t maxbits() const { return GetZipCompatible() ? -15 : 15; }

    TStringList FileSpec;
    TStringList ExcludeSpec;
    TStringList Passwords;
    TStringList ExcludeExts;
    TDiskManager DiskManager;
    bool TranslateOemChar = true;
    bool RecurseDirs = true;
    std::string Password;
    int PasswordAttempts = 3;
    std::string ExtractDir;
    bool ConfirmOverwrites = false;
    TOverwriteMode OverwriteMode = omOverwrite;
    TDateAttribute DateAttribute = daFileDate;
    bool UseStoredDirs = true;
    bool AsciiTranslation = false;
    std::string TempDir;
    TzadFileAttributes Attributes = AttrBit(fsZeroAttr) | AttrBit(fsReadOnly) | AttrBit(fsArchive) |
                                    AttrBit(fsCompressed) | AttrBit(fsEncrypted);
    TzadFileAttributes AttributesEx = 0;
    TDeleteOptions DeleteOptions = doAllowUndo;
    TStoredDirNames StoredDirNames = sdRelative;
    TCompressionMethod CompressionMethod = cmTempFile;
    bool IncludeHiddenDirs = false;
    TFileAccessMethod FileAccessMethod = faFile;
    TEncryptionMethod EncryptionMethod = emNone;

    // ---- current entry ---------------------------------------------------------------------
    std::string Filename;
    std::int64_t PackedSize = 0;
    std::int64_t UnpackedSize = 0;
    BYTE Ratio = 0;
    TDateTime FileDate = kFallbackDate;
    std::int32_t ExternalAttr = 0;
    WORD InternalAttr = 0;
    std::uint32_t Crc = 0;
    bool Encrypted = false;
    const char* FileComment = "";
    WORD CompressMethod = 0;
    std::string CompressMethodStr;
    WORD VersionMadeBy = 0;
    WORD VersionNeeded = 0;
    std::string VolumeName;
    int FileCount = 0;
    WORD EntryFlags = 0;  // the entry's general-purpose flags (ZIP)

    // ---- job totals --------------------------------------------------------------------------
    std::int64_t TotalPackedSize = 0;
    std::int64_t TotalUnpackedSize = 0;
    std::int64_t RemainingUnpackedSize = 0;
    BYTE TotalRatio = 0;

    // ---- events ------------------------------------------------------------------------------
    TOnElapsedTime OnElapsedTime;
    TOnProgress OnProgress;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TOnBegin OnBegin;
    TOnEnd OnEnd;
    TOnRenameFile OnRenameFile;
    TOnGetPassword OnGetPassword;
    TOnNextVolume OnNextVolume;
    TOnExcludeFile OnExcludeFile;
    TOnCorruptZipHeader OnCorruptZipHeader;
    TOnGetZipDisk OnGetZipFirstDisk;
    TOnGetZipNextDisk OnGetZipNextDisk;
    TOnGetZipDisk OnGetZipLastDisk;
    TOnRead OnRead;

    // ---- volumes (archive/zadvolume.cpp) -------------------------------------------------
    // The name of volume `number` (from 0) of an ARJ, RAR, ACE or other
    // numbered set, after name: RAR steps arc.part1.rar to arc.part2.rar at
    // the width of its digits, or arc.rar to arc.r00 ... arc.r99, arc.s00;
    // the others use VolumeLetter (arc.a01 ... arc.a99, arc.100). Empty for
    // an empty name or a negative number.
    virtual std::string GetNextVolumeName(const std::string& name, int number);
    // The part after part `number` (stepped here) of a split ZIP of `total`
    // parts: name with the extension .z01, .z02 ... (.z100 on), and, with
    // lastIsName, name itself for the last part.
    std::string GetNextVolumeName(const std::string& name, int& number, int total, bool lastIsName);
    // Asks for volume volumeID (at most 999) named name: OnNextVolume is
    // asked, and asked again while the name it leaves does not exist; a
    // cancel there cancels the run. Without the handler a missing volume
    // is reported (25270) and answers false. A name read from an archive
    // header (nameFromHeader) keeps only its file-name part, in the
    // archive's folder. True steps the volume counter; false ends a header
    // walk (NextHeaderOffset := EndOffset).
    bool GetNextVolume(std::string& name, int volumeID, bool nameFromHeader = false);
    // The next volume of the lister's walk: names it from name and the
    // volume counter, asks for it and opens it into stream.
    bool doGetNextVolume(TStream32*& stream, std::string& name);
    // Switches a split ZIP's extraction to the part after part `number`
    // (0-based disk `number` + 1 of `total`): OnNextVolume is asked until
    // it names an existing file or cancels; the new part is opened into
    // stream (the old one is freed). A refusal or a missing handler cancels
    // the run and answers false.
    bool GetNextZipVolume(TStream32*& stream, int number, int total);
    // The compression side's switch to the part after part `number` (stepped
    // here) of a split ZIP of `total` parts, read through a temporary-file
    // stream of this component: OnNextVolume is asked with number + 1 until
    // it names an existing file or cancels. ArchiveSize is the new part's
    // size (0 until one opens) and the volume counter is `number`. A
    // refusal, or no handler, cancels the run and answers false.
    virtual bool OpenNextZipVolume(TTempFileStream*& stream, int& number, int total);
    // Where a header walk goes next and the offset that ends it.
    std::int64_t NextHeaderOffset = 0;
    std::int64_t EndOffset = 0;

private:
    static bool s_keysSeeded;
};

// Every byte of password shifted down (decode) or up by shift, modulo 256:
// ARJ garbles its data with the password plus the entry's modifier.
std::string CPassword(bool decode, const std::string& password, BYTE shift);

// The extractors' selection of an entry (masks with folder rules).
bool CheckWildCard2(TZipCommon* sender, const std::string& name, TStringList& fileSpec, bool recurseDirs, TStringList* excludeSpec);
// The lister's selection during a local-header scan (no folder rules).
bool CheckWildCard1(TZipCommon* sender, const std::string& name, const TStringList& fileSpec, const TStringList* excludeSpec);
