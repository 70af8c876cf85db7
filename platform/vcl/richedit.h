// The rich edit: a text control that shows and edits formatted text and
// reads and writes it as RTF (rtf.h).
#pragma once

#include "memo.h"
#include "rtf.h"

#include <string>

class TRichEdit : public TCustomMemo {
public:
    explicit TRichEdit(TComponent* owner);

    // The contents as a document of formatted paragraphs, and back.
    TRtfDocument Document() const;
    void SetDocument(const TRtfDocument& document);
    // Reads an RTF file (a file that is no RTF shows as plain text). Raises
    // EFOpenError when the file cannot be read; the view is unchanged then.
    void LoadFromFile(const std::string& fileName);
    // Whether the last file loaded had parts the view does not hold
    // (pictures, objects, fields, ...) or was no RTF, so that saving the
    // view would not give that file back.
    bool LoadedLossy() const { return m_loadedLossy; }
    // Writes the contents as RTF, whole or not at all; raises EFCreateError.
    void SaveToFile(const std::string& fileName) const;

private:
    bool m_loadedLossy = false;
};
