#include "programfiles.h"

namespace {
std::string& OverrideDir()
{
    static std::string dir;
    return dir;
}
}

std::string ProgramDir()
{
    if (!OverrideDir().empty())
        return OverrideDir();
    return ExeDir();
}

void SetProgramDir(const std::string& dir)
{
    OverrideDir() = dir.empty() ? dir : IncludeTrailingPathDelimiter(dir);
}

std::string ProgramFile(const std::string& relative) { return ProgramDir() + relative; }

void LoadListOrEmpty(TStringList& list, const std::string& fileName)
{
    list.Clear();
    try {
        list.LoadFromFile(fileName);
    } catch (const EFOpenError&) {
        list.Clear();
    }
}
