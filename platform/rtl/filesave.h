// Saving a whole new content over a file so that the file stays the file it
// was: its other names (hard links), owner, group, mode and extended
// attributes, and the share rules of the program's other openers. Every
// writer of a whole file goes this way: the hex editor through TFileSave,
// the others through TAtomicFileWriter and WriteFileAtomically.
//
// The new content goes first to a temporary file beside the target, without
// a name until the commit (a hidden ".vistrel-..." name where the file
// system makes no unnamed files, removed on every failure), so that a
// cancelled or failed save, or a program killed meanwhile, changes nothing
// and leaves nothing behind, and the new bytes are complete on disk before
// the old ones go. Committing then either renames that file
// over the target, only where the rename changes nothing else (a new name,
// or a regular file with one link that the saver owns, whose group and mode
// the new file takes, without extended attributes or set-id bits), or
// copies the content into the existing file, which keeps its inode and all
// that hangs on it. A file the user may write in a folder that takes no new
// file is written in place.
#pragma once

#include "streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TFileSave {
public:
    // Checks the target before anything is written: an existing name must
    // be a regular file the user can open for writing with no other opener
    // (share rules), a new name must lie in a folder that takes the file.
    // Raises EFCreateError "Cannot create file "<name>". <reason>" otherwise,
    // having created nothing. A symbolic link is followed: its target is saved.
    explicit TFileSave(const std::string& fileName);
    // Removes the temporary file and releases the target; an uncommitted
    // save leaves the target as it was.
    ~TFileSave();
    TFileSave(const TFileSave&) = delete;
    TFileSave& operator=(const TFileSave&) = delete;

    // Where the new content is written before the commit: the temporary
    // file, or, where the folder takes no new file, a stream that only
    // counts the bytes.
    TStream& Stream();
    // The file name that is written (symbolic links resolved).
    const std::string& Target() const { return m_target; }
    bool TargetExists() const { return m_exists; }
    // True when the commit moves a new file to the target's name; false
    // when it writes into the existing file.
    bool ReplacesTarget() const { return m_rename; }

    // A new file (that must not exist) holding the target's present content
    // with its permission bits, read through the save's own hold on it;
    // false with the last error set, and nothing left behind, otherwise.
    bool CopyTargetTo(const std::string& dest) const;

    // Makes content the file's content; it must be the bytes written to
    // Stream. Space for a larger content is reserved before the first old
    // byte changes, so that a full disk leaves the file as it was. Raises
    // EFCreateError when the content cannot be put in place, or when a
    // write to Stream failed.
    void Commit(const void* content, std::int64_t size);
    // The same with the bytes written to Stream, taken from the temporary
    // file; where the folder takes no new file there is none, and the save
    // is refused.
    void Commit();

private:
    friend class TAtomicFileWriter;
    class Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_target;
    bool m_exists = false;
    bool m_rename = false;
};

// A whole file written in pieces, for output of any size, as TFileSave
// saves it. Every failure raises EFCreateError "Cannot create file
// "<name>". <reason>"; after one, the writer takes nothing more.
class TAtomicFileWriter : public TFileSave {
public:
    using TFileSave::TFileSave;
    void Write(std::string_view data);
};

// For tests: saves make their temporary files with a hidden name, as on a
// file system that makes no unnamed files (true), or without a name where
// they can (false, the default).
void SetNamedTemporaryFiles(bool named);

// A new file (that must not exist) holding a copy of source's content with
// its permission bits; false with the last error set when it cannot be made
// whole, and nothing is left behind then.
bool CopyToNewFile(const std::string& source, const std::string& dest);
// Creates a new file that must not exist yet, that only its owner may read
// and write (a temporary copy of a user's data); the handle of the class
// library's file functions, or -1 with the last error set.
int FileCreatePrivate(const std::string& fileName);
// Moves a file to a name, replacing a file of that name (not a folder), and
// changes nothing else; false with the last error set.
bool RenameReplacing(const std::string& source, const std::string& dest);
