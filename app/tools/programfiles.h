// The program's own files live below the folder of its executable:
// ini/config.ini, ini/filefilter.txt, ini/recent.txt, mlist/..., ffolders/...
#pragma once

#include "rtl/classes.h"

#include <string>

// The program's folder with its trailing '/'.
std::string ProgramDir();
// Points the program at another folder (a test's fixture folder); "" restores
// the executable's folder.
void SetProgramDir(const std::string& dir);
// ProgramDir() + relative name.
std::string ProgramFile(const std::string& relative);

// Loads a settings list; a missing or unreadable file reads as an empty list
// so that one bad file cannot stop the program from starting.
void LoadListOrEmpty(TStringList& list, const std::string& fileName);

// The lists above hold one entry a line. A path with a line break in its
// name cannot be kept in them: it would read back as two bogus entries.
bool HoldsLineBreak(const std::string& text);
inline constexpr const char* kLineBreakInFolderName =
    "A folder whose name holds a line break cannot be kept in the folder list.";
inline constexpr const char* kLineBreakInFileName =
    "A file whose name holds a line break cannot be kept in a playlist; it was left out.";
// A description or name on one line: each line break becomes a blank.
std::string OnOneLine(const std::string& text);
// Writes a settings list, one entry a line. An entry that still holds a line
// break is written on one line (see OnOneLine), so the list never grows
// entries of its own.
void SaveListFile(const TStringList& list, const std::string& fileName);

// Number of whole pairs of lines; a trailing unpaired line is ignored.
inline int PairCount(const TStringList& list) { return list.Count() / 2; }
