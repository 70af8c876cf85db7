// Archives in several files: how the next volume of a set is named, how
// the application is asked for it (OnNextVolume), and how a ZIP spanned
// over removable disks asks for and recognises each disk (TDiskSpannObj
// with OnGetZipLastDisk, OnGetZipFirstDisk and OnGetZipNextDisk). The
// naming and asking members themselves belong to TZipCommon (zadbase.h);
// they live in zadvolume.cpp.
//
// Volume names never leave the archive's folder: a name derived from the
// archive's own keeps its folder, and a name read from an archive header
// keeps only its file-name part, placed in the archive's folder. Only the
// user, through OnNextVolume, may name a file elsewhere.
//
// TZipSetReader is the input of a split or spanned ZIP's extraction: one
// part open at a time, read as one stream from the part an entry starts on.
#pragma once

#include "archive/zadbase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where a text-encoded volume set carries its number.
enum TNextVolumeName { nvChangeFilename, nvChangeExt };

// The name of volume number (0 to 999) of a text-encoded set after name:
// nvChangeExt puts the digits at the end of the extension (name.uue, 5:
// name.uu5; 12: name.u12); nvChangeFilename puts them at the end of the
// name before the extension, over its last characters (nam5.uue) or, with
// longNames, after the name's first 8 - digits characters (name5.uue). The
// folder is never touched. Empty when there is no such name (a number out
// of range, nvChangeFilename without an extension).
std::string GetNextVolName(const std::string& name, int number, TNextVolumeName mode, bool longNames);

// A volume name taken from an archive header, made safe: only its file-name
// part (after the last '/', '\' or ':'), in the folder of archiveFile.
// Empty when no file name is left ("", ".", "..").
std::string HeaderVolumeName(const std::string& archiveFile, const std::string& headerName);

// The disks of a ZIP spanned over removable media. Every disk carries the
// same file name (the component's ArchiveFile); a disk is recognised by its
// volume label "PKBACK# 00N" and by the record found where the extractor
// expects one.
class TDiskSpannObj {
public:
    // Binds the spanned-disk object to the component whose events it fires
    // and whose run a refusal cancels. DiskNumber starts at 0: the last
    // disk is wanted first.
    void Init(TZipCommon* owner);
    // Asks for the disk DiskNumber stands for (0 the last disk, 1 the
    // first, then the next ones) until the disk in the drive passes the
    // check with offset, then opens ArchiveFile into stream (the old
    // stream is freed first, so the medium can be changed). A refusal
    // cancels the run and answers false.
    bool GetDisk(TStream32*& stream, std::int64_t offset);
    // The disk in the drive is the one wanted: its label names DiskNumber
    // (when it carries a number) and, when the file reaches that far, the 4
    // bytes at offset are a ZIP record's signature.
    bool CheckDisk(std::int64_t offset);

    TZipCommon* Owner = nullptr;
    WORD DiskNumber = 0;
    // Asked by the disk manager while the drive holds no disk; unassigned,
    // an empty drive fails the check (and the disk events ask again).
    TOnDiskError OnNoDisk;

private:
    // Fires the event for disk `which` (0 last, 1 first, else next); false,
    // with the run cancelled, when the user cancels or the event is not
    // assigned (25270).
    bool Ask(int which, bool& cancel);
};

// The input of a split or spanned ZIP set's extraction. Positions count
// from the start of the part selected last (SelectDisk) through the parts
// that follow it. A read that reaches the end of a part while the span the
// extractor set (FollowUntil) goes on asks for the next part and goes on at
// its start; nothing is asked for beyond the span. Seeks stay within the
// part open.
class TZipSetReader : public TStream32 {
public:
    // Opens part `disk` into part (freeing what is there); offset is what
    // the disk check expects: the header wanted, or the bytes of an entry
    // still to come. False when the part cannot be had.
    using TOpenPart = std::function<bool(int disk, std::int64_t offset, TStream32*& part)>;

    // part: the part open now (disk `disk`), owned or not.
    TZipSetReader(TStream32* part, bool owned, int disk, TOpenPart open);
    ~TZipSetReader() override;

    // Makes disk the base of the positions, asking for it when another
    // part is open. False when it cannot be had.
    bool SelectDisk(int disk, std::int64_t offset);
    void FollowUntil(std::int64_t end) { m_spanEnd = end; }
    int Disk() const { return m_disk; }
    // Whether a part the span needed could not be had since the last
    // SelectDisk.
    bool PartMissing() const { return m_partMissing; }
    // The size of each part opened so far (-1: not known yet).
    std::int64_t PartSize(int disk) const;
    void SetPartSize(int disk, std::int64_t size);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    // The end of the part open, or of the span when that goes further.
    std::int64_t Size() override;

private:
    bool Open(int disk, std::int64_t offset);
    void Adopt(TStream32* part, bool owned);

    TStream32* m_part = nullptr;
    bool m_owned = false;
    std::unique_ptr<TStream32> m_buffered;
    int m_disk = 0;
    TOpenPart m_open;
    std::int64_t m_base = 0;  // the position where the open part starts
    std::int64_t m_partSize = 0;
    std::int64_t m_spanEnd = 0;
    bool m_partMissing = false;
    std::vector<std::int64_t> m_sizes;
};
