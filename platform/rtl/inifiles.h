// An ini file: sections of key=value lines, read whole and written whole.
// The file is read once, at the first question; every write goes to disk at
// once. Writing keeps every section and key it does not change, and creates
// the file when it does not exist.
#pragma once

#include "classes.h"

#include <memory>
#include <string>

class TIniFile : public TObject {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return m_fileName; }
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    // A missing key or a value that is not a whole integer gives def.
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    bool SectionExists(const std::string& section) const;

private:
    // Line index of the key's line in the section, or -1; sectionEnd is where
    // a new key of that section goes (-1 when the section is missing).
    int FindKey(const TStringList& lines, const std::string& section, const std::string& key, int& sectionEnd) const;
    // The file's lines, read at the first use.
    TStringList& Lines() const;

    std::string m_fileName;
    mutable std::unique_ptr<TStringList> m_lines;
};
