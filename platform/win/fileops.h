// File operations: the one way the program opens a file to read its
// contents, copy and move that never replace a file, and a file's size and
// time. Failures set GetLastError through the one errno mapping.
#pragma once

#include "win/wintypes.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// Opens a file for reading only when it is a regular file, and never waits
// doing so. Every viewer, export and copy opens its source here: a named
// pipe would block the open until a writer comes (the user-interface thread
// with it), and a device such as /dev/zero never ends. A path that already
// names no regular file is not opened at all (opening a device can act on
// it); one swapped for a pipe meanwhile is opened without blocking
// (O_NONBLOCK), looked at with fstat and closed again. Answers a descriptor
// in ordinary blocking mode, or -1 with the last error set: the open's own
// error, ERROR_ACCESS_DENIED for a folder, ERROR_OPEN_FAILED for a pipe,
// socket or device.
int OpenRegularFile(const std::string& fileName);
// OpenRegularFile as a C stream for reading ("rb"); null with the last
// error set when the file is refused or cannot be opened.
std::FILE* OpenRegularFileStream(const std::string& fileName);

// Copies a file as CopyFile with fail-if-exists does: an existing target is
// never replaced (error 80), a failed copy leaves no target behind, and the
// copy keeps the source's modification time.
bool CopyFileNoReplace(const std::string& from, const std::string& to);
// Moves a file without replacing an existing target (error 80); across file
// systems it copies, then removes the source once the copy is complete.
bool MoveFileNoReplace(const std::string& from, const std::string& to);
// Size and modification time of an existing file (not following a final
// symbolic link is not wanted here: links are followed). False when absent.
bool FileSizeAndTime(const std::string& fileName, std::int64_t& size, std::time_t& modified);
// True when both names lead to one existing file (the same device and inode,
// links followed): a second name, a link or another spelling of a path.
// A tool that writes one file from another refuses such a pair.
bool IsSameFile(const std::string& a, const std::string& b);
