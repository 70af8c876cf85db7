// The archive lister: walks the headers of the archive named by ArchiveFile
// from ArchiveStartOffset and, for every entry the masks select, fills the
// current-entry fields and fires OnRead. Failures go to OnError; Activate
// never raises to its caller.
//
// Each format contributes a start step (which sets HeaderBlockSize) and a
// header step through RegisterListFormat; ZIP, JAR and the text encodings
// are built in.
#pragma once

#include "archive/zadbase.h"
#include "archive/zadvolume.h"

#include <functional>
#include <memory>
#include <vector>

class TVirOV;

struct TListFormat {
    // Prepares the walk (reads main headers, sets HeaderBlockSize and
    // ArchiveStartOffset); the stream is the open archive.
    std::function<void(TVirOV& lister, TStream32& stream)> Setup;
    // Processes the header read into HeaderBlock at ArchiveStartOffset and
    // sets NextHeaderOffset (EndOffset ends the walk).
    std::function<void(TVirOV& lister, TStream32& stream)> ProcRecord;
    // Runs after a walk that was neither cancelled nor failed; it may
    // declare the archive truncated (FailWalk).
    std::function<void(TVirOV& lister, TStream32& stream)> Finish;
};

class TVirOV : public TZipCommon {
public:
    explicit TVirOV(TComponent* owner = nullptr);
    ~TVirOV() override;

    static void RegisterListFormat(std::initializer_list<TArcType> types, TListFormat format);

    void SetFilename(const std::string& name) override;

    // Lists ArchiveFile. False when a failure ended the listing (reported
    // through OnError) or when the lister is already busy.
    bool Activate();
    // Lists an archive given as an open stream; its type is detected from it.
    bool Activate(TStream32* stream);

    void FilesInArchive(TStringList* list);
    bool GetFileInfo(const std::string& name);
    std::uint32_t GetFileCrc(const std::string& name);
    std::int64_t GetFilePackedSize(const std::string& name);
    std::int64_t GetFileUnpackedSize(const std::string& name);
    TDateTime GetFileDate(const std::string& name);
    void IncTotals(std::int64_t unpacked, std::int64_t packed);
    void DecTotals(std::int64_t unpacked, std::int64_t packed);

    bool Busy() const { return m_busy; }

    TSeedKeys SeedHeaderKeys{skHeaderKeys};
    // Asks for the last disk of a spanned set, which holds its directory.
    TDiskSpannObj DiskSpann;
    bool ShowEmptyDirs = false;
    TzadOperation ListOperation = opRead;
    TStringList* QueryList = nullptr;
    std::vector<std::uint8_t> HeaderBlock;
    std::int32_t HeaderBlockSize = 0;
    std::unique_ptr<TMainCommentStream> Comment;

    TNotifyEvent OnReadBegin;
    TNotifyEvent OnReadEnd;
    TOnReadFile OnReadFile;
    TOnTotals OnTotals;

    // ---- used by the format steps ---------------------------------------------------------
    // Reports the current entry (pumps messages, honours Cancel and the query mode).
    void doRead(std::int64_t offset);
    void doEvents(std::int64_t offset, int filenum);
    // Ends the walk as failed, reporting the id for the archive.
    void FailWalk(int eCode, const std::string& fileName = {}, const std::string& extended = {});
    bool WalkFailed() const { return m_walkFailed; }
    // The entry comment buffer (32,768 bytes while a walk runs).
    std::vector<char> CommentBuffer;
    // Reads exactly n bytes at pos; false when the file ends first.
    static bool ReadAt(TStream32& stream, std::int64_t pos, void* buf, std::int32_t n);
    // Moves the walk to another volume of a set: the walk reads from it
    // from then on (ArchiveSize, EndOffset and VolumeName follow it), and
    // the step that switched may set NextHeaderOffset anywhere in it. False
    // (after reporting 25235) when the volume does not open; the walk ends.
    bool SwitchVolume(const std::string& name);
    // The volume the walk reads after a switch (null before the first).
    std::unique_ptr<TStream32> VolumeStream;

private:
    bool Walk(TStream32& stream);
    void Setup(TStream32& stream);
    bool doQueryInfo(TzadOperation op, const std::string* name);
    bool m_busy = false;
    bool m_walkFailed = false;
    bool m_volumeSwitched = false;
    std::unique_ptr<TStream32> m_volumeFile;
    const TListFormat* m_format = nullptr;
};
