// File operations of the shell's file commands: copy and move that never
// replace a file, and a file's size and time. Failures
// set GetLastError through the one errno mapping.
#pragma once

#include "win/wintypes.h"

#include <cstdint>
#include <ctime>
#include <string>

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
