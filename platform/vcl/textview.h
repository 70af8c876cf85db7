// The plain text view of a file of any size: a TTextDocument shown a screen
// at a time.
//
// The view shows what the document's reader has handed over while the rest
// is read, so the first screen of a large file shows at once and the window
// answers throughout. Only the rows on screen are laid out; the vertical
// scroll bar goes by bytes, and a line longer than kRowBytes is shown in
// rows of that many bytes, so that neither a file of millions of lines nor
// one line of gigabytes costs more than a screen's worth of layout. The
// text can be edited once it is held whole (the document's Complete state).
//
// Positions are byte offsets into the document's UTF-8 text; the caret and
// the selection's ends always lie on character boundaries.
#pragma once

#include "controls.h"
#include "textdoc.h"

#include <cstdint>
#include <functional>
#include <string>

class TTextFileView : public TWinControl {
public:
    // Bytes of one line shown in a row at most.
    static constexpr std::int64_t kRowBytes = 4096;
    // A selection larger than this is not copied to the clipboard: the
    // clipboard holds it as UTF-16, several times its size, in this program
    // and in every program that reads it.
    static constexpr std::int64_t kMaxClipboardBytes = std::int64_t(64) << 20;

    explicit TTextFileView(TComponent* owner);
    ~TTextFileView() override;

    // Starts showing a file (TTextDocument::Load); false with the last error
    // set when it cannot be opened, the view then empty.
    bool LoadFromFile(const std::string& fileName, bool detectUtf16);
    void SetText(const std::string& text);
    void Clear();
    const TTextDocument& Document() const;
    // Waits until the document's reader has finished (tests, benchmarks).
    void WaitLoaded();

    bool Modified() const;
    void SetModified(bool modified);
    // Whether typing changes the text: never while the file is being read,
    // read from the disk or read only in part.
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    bool WordWrap() const;
    void SetWordWrap(bool wrap);

    std::int64_t SelStart() const;
    std::int64_t SelLength() const;
    // Puts the caret at pos (moved to a character boundary) with nothing selected.
    void SetSelStart(std::int64_t pos);
    // Selects length bytes from the selection's start.
    void SetSelLength(std::int64_t length);
    // The selected text as shown.
    std::string SelText() const;
    void SelectAll();
    // The caret's line and its column in characters, both from 0.
    std::int64_t CaretLine() const;
    std::int64_t CaretColumn() const;
    void ScrollCaret();
    // The start of the first row shown.
    std::int64_t TopPosition() const;

    // False, with OnNotice told why, when the selection is too large.
    bool CutToClipboard();
    bool CopyToClipboard();
    void PasteFromClipboard();
    void Undo();
    bool CanUndo() const;
    // Replaces the selection with text, as typing it does.
    void InsertText(const std::string& text);

    // The first exact match at or after start; -1 when there is none.
    std::int64_t FindText(const std::string& text, std::int64_t start) const;
    // The whole text as shown (stand-in characters for bytes that are none).
    std::string Text() const;
    // Writes the text to a file whole or not at all (TAtomicFileWriter):
    // its bytes, or with asShown the text as shown. Raises EFCreateError.
    void SaveToFile(const std::string& fileName, bool asShown) const;

    TNotifyEvent OnChange;
    TNotifyEvent OnSelectionChange;
    // The document's state changed (its reading ended), or a part of the
    // file read again to be shown could not be read.
    TNotifyEvent OnStateChange;
    // Something the user should be told (a selection too large to copy).
    std::function<void(const std::string&)> OnNotice;

protected:
    void FontChanged() override;

private:
    class Area;
    friend class Area;
    Area* m_area;
};
