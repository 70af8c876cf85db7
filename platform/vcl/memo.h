// Multi-line text controls: the plain text view (TMemo, over a plain text
// edit that handles files of megabytes) and, in richedit.h, the rich edit.
// Both share TCustomMemo: text, lines, selection in character positions
// (a line break counts as one character), clipboard, undo, word wrap, the
// modified flag and case-sensitive search.
#pragma once

#include "controls.h"

#include <memory>
#include <string>

class QTextDocument;
class QTextEdit;
class QPlainTextEdit;

class TCustomMemo : public TWinControl {
public:
    ~TCustomMemo() override;

    // The text with '\n' between lines.
    std::string Text() const;
    void SetText(const std::string& text);
    void Clear();
    // The lines, one per paragraph.
    TStringList Lines() const;
    int LineCount() const;

    bool Modified() const;
    void SetModified(bool modified);
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    bool WordWrap() const;
    void SetWordWrap(bool wrap);

    int SelStart() const;
    int SelLength() const;
    // Puts the caret at pos (clamped to the text) with nothing selected.
    void SetSelStart(int pos);
    // Selects length characters from the selection start.
    void SetSelLength(int length);
    std::string SelText() const;
    void SelectAll();
    // The line that holds character position pos, and the position of the
    // first character of a line (as EM_LINEFROMCHAR and EM_LINEINDEX).
    int LineFromChar(int pos) const;
    int LineIndex(int line) const;
    // Scrolls the caret into view.
    void ScrollCaret();

    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();
    void Undo();
    bool CanUndo() const;

    // Position of the first exact (case-sensitive) match of text at or after
    // start; -1 when there is none.
    int FindText(const std::string& text, int start) const;

    TNotifyEvent OnChange;
    TNotifyEvent OnSelectionChange;

    // The operations of the Qt edit widget behind the control.
    struct Ops;

protected:
    explicit TCustomMemo(TComponent* owner);
    // Takes a rich text widget as the control's edit.
    void SetRichEdit(QTextEdit* edit);
    // Takes a plain text widget as the control's edit.
    void SetPlainEdit(QPlainTextEdit* edit);
    QTextDocument* TextDocument() const;
    void FontChanged() override;

private:
    void SetEdit(std::unique_ptr<Ops> ops);
    std::unique_ptr<Ops> m_ops;
};

// The plain text view.
class TMemo : public TCustomMemo {
public:
    explicit TMemo(TComponent* owner);
};
