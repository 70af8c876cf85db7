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

// Number of whole pairs of lines; a trailing unpaired line is ignored.
inline int PairCount(const TStringList& list) { return list.Count() / 2; }
