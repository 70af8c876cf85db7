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

bool HoldsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

std::string OnOneLine(const std::string& text)
{
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

void SaveListFile(const TStringList& list, const std::string& fileName)
{
    TStringList lines;
    for (int i = 0; i < list.Count(); ++i)
        lines.Add(OnOneLine(list[i]));
    lines.SaveToFile(fileName);
}
