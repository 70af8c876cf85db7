// The runtime's directory search: FindFirst, FindNext and FindClose over
// opendir and fstatat, and the file-name masks they match.
//
// A search walks one folder in the order the file system gives its entries.
// It tells each entry's kind from the directory entry itself (readdir's
// d_type), so a walk that only looks at names and kinds costs no stat call
// per entry; an entry's size and time are read on first use, with one
// fstatat on the folder that the search holds open.
#pragma once

#include "sysutils.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

// Attributes of a search entry. On Linux an entry is a folder (faDirectory),
// a dot-name (faHidden), a pipe, socket or device (faSysFile: neither a
// regular file nor a folder), or a symbolic link (faSymLink, with the kind
// of what it leads to). Permissions are no attribute of an entry here:
// faReadOnly, faVolumeID and faArchive are never reported.
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faSymLink = 0x40;
constexpr int faAnyFile = 0x3F;

struct TFindState;

// One entry of a search, and the search itself while it is open. Moving it
// moves the search; destroying it closes the search as FindClose does.
class TSearchRec {
public:
    TSearchRec();
    ~TSearchRec();
    TSearchRec(TSearchRec&&) noexcept;
    TSearchRec& operator=(TSearchRec&&) noexcept;
    TSearchRec(const TSearchRec&) = delete;
    TSearchRec& operator=(const TSearchRec&) = delete;

    std::string Name;
    int Attr = 0;

    // The entry's size in bytes (0 for a folder) and its modification time,
    // of the file a link leads to (of the link itself when it leads
    // nowhere). Read on first use; 0 and the zero time when the entry
    // vanished meanwhile.
    std::int64_t Size() const;
    std::time_t Time() const;
    // Time() as a local date-time value.
    TDateTime TimeStamp() const;
    // Whether the owner may not write the entry (its mode lacks the owner's
    // write bit), read with Size and Time.
    bool ReadOnly() const;

private:
    friend int FindFirst(const std::string&, int, TSearchRec&);
    friend int FindNext(TSearchRec&);
    friend void FindClose(TSearchRec&);
    void ReadStatus() const;

    std::unique_ptr<TFindState> m_find;
    mutable bool m_statusRead = false;
    mutable std::int64_t m_size = 0;
    mutable std::time_t m_time = 0;
    mutable bool m_readOnly = false;
};

// Starts a search for the entries of the folder of path that match its last
// part, a mask ("dir/*.*"; see MatchesFileMask). Entries that are hidden,
// system files or folders come only when attr names that attribute
// (faAnyFile names them all); "." and ".." are folders like any other.
// Answers 0 with the first entry in f, or the Windows error code: 2 when
// nothing matches, 3 for a folder that does not exist, 5 when it may not be
// read. Every search that answered 0 is closed with FindClose (or by f's end).
int FindFirst(const std::string& path, int attr, TSearchRec& f);
// The next entry: 0, or 18 (no more files) at the end.
int FindNext(TSearchRec& f);
void FindClose(TSearchRec& f);

// The attributes FindFirst gives the entry at path (without following a
// final link for the link bit); -1 when there is none.
int FileGetAttr(const std::string& path);

// Whether a name matches a file-name mask as the system's directory search
// matches it: '*' any run of characters, '?' one character, letters without
// regard to ASCII case; "*" and "*.*" match every name, also one without a
// dot.
bool MatchesFileMask(std::string_view name, std::string_view mask);
