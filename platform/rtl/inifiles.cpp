#include "inifiles.h"

TIniFile::TIniFile(std::string fileName) : m_fileName(std::move(fileName)) {}

TStringList& TIniFile::Lines() const
{
    if (!m_lines) {
        m_lines = std::make_unique<TStringList>();
        if (FileExists(m_fileName)) {
            try {
                m_lines->LoadFromFile(m_fileName);
            } catch (const EFOpenError&) {
                // An unreadable settings file reads as empty: every value takes its default.
                m_lines->Clear();
            }
        }
    }
    return *m_lines;
}

namespace {
bool IsSectionLine(const std::string& line, std::string* name)
{
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    if (name)
        *name = Trim(std::string_view(t).substr(1, t.size() - 2));
    return true;
}
}

int TIniFile::FindKey(const TStringList& lines, const std::string& section, const std::string& key, int& sectionEnd) const
{
    sectionEnd = -1;
    bool inSection = false;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines[i];
        std::string name;
        if (IsSectionLine(line, &name)) {
            if (inSection)
                return -1;
            inSection = SameText(name, section);
            if (inSection)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (!Trim(line).empty())
            sectionEnd = i + 1;
        const size_t eq = line.find('=');
        if (eq != std::string::npos && SameText(Trim(std::string_view(line).substr(0, eq)), key))
            return i;
    }
    return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    const TStringList& lines = Lines();
    int sectionEnd;
    const int i = FindKey(lines, section, key, sectionEnd);
    if (i < 0)
        return def;
    const std::string& line = lines[i];
    return Trim(std::string_view(line).substr(line.find('=') + 1));
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    return StrToIntDef(ReadString(section, key, ""), def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    // The change reaches the cached lines only once it is on disk.
    TStringList lines;
    lines.Assign(Lines());
    int sectionEnd;
    const int i = FindKey(lines, section, key, sectionEnd);
    const std::string line = key + "=" + value;
    if (i >= 0) {
        lines.SetString(i, line);
    } else if (sectionEnd >= 0) {
        lines.Insert(sectionEnd, line);
    } else {
        lines.Add("[" + section + "]");
        lines.Add(line);
    }
    lines.SaveToFile(m_fileName);
    m_lines->Assign(lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, IntToStr(value));
}

bool TIniFile::SectionExists(const std::string& section) const
{
    const TStringList& lines = Lines();
    for (const std::string& line : lines) {
        std::string name;
        if (IsSectionLine(line, &name) && SameText(name, section))
            return true;
    }
    return false;
}
