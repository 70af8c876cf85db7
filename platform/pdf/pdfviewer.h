// The PDF viewer control of the preview pane: pages laid out one below the
// other, rendered antialiased as they come into view and kept in a cache;
// zoom, fit, rotation, find, text selection with copy permission, printing
// through the print dialog of the prompt service.
#pragma once

#include "vcl/controls.h"

#include <memory>
#include <string>

class TPdfViewerOcx : public TWinControl {
public:
    // Results of Open: 0 or more is success, every failure is negative.
    static constexpr int kOpened = 0;
    // The file cannot be opened or read (missing, not permitted, no regular file).
    static constexpr int kCannotRead = -1;
    // The document is locked: it needs a password, or the one given is wrong.
    static constexpr int kLocked = -2;
    // The file is no PDF document, or is damaged beyond reading, or has no page.
    static constexpr int kDamaged = -3;

    explicit TPdfViewerOcx(TComponent* owner);
    ~TPdfViewerOcx() override;

    // Opens a document (closing the one shown first, whatever the outcome),
    // with the owner and user passwords, and shows its first page at 100 %
    // without rotation.
    int Open(const std::string& fileName, const std::string& ownerPassword, const std::string& userPassword);

    void GotoFirst();
    void GotoPrev();
    void GotoNext();
    void GotoLast();
    // Goes to a page counted from 1, clamped to the document's pages.
    void Goto(int page);

    void ZoomIn();
    void ZoomOut();
    void FitActualSize();
    void FitWidth();
    // The whole page in the window: width and height both fit.
    void FitWindow();

    // Finds the next place of a text (case ignored) from the place found
    // last, or from the current page; goes there and marks it. Wraps round
    // at the end. False when the document does not hold the text.
    bool Find(const std::string& text);
    void ClearResult();

    // The rotation Refresh applies, in degrees clockwise: 0, 90, 180 or -90.
    void SetRotate(int angle);
    // Lays the pages out again and repaints them (after SetRotate).
    void Refresh();

    void SelectAll();
    void ClearSelect();
    // Non-zero when the document allows copying its text.
    int CanCopy() const;
    // The file of the document shown and the password that opened it ("" for
    // none, or without a document).
    std::string FileName() const;
    std::string Password() const;
    // The selected text, pages separated by line ends.
    std::u16string GetSelectedText() const;

    // Asks for a printer (or a file to print into) and prints the pages chosen.
    void PrintSetup();

    // Counted from 1; 0 without a document.
    int CurrentPageNo() const;
    int PageCount() const;
    // 1 is 100 %: a point of the page is 96/72 pixels.
    double Scale() const;
    // 0: a drag moves the pages; 1: a drag selects text.
    int WorkMode() const;
    void SetWorkMode(int mode);

    // The current page changed: by scrolling (wheel, keys, scroll bar, a
    // drag), a Find that moved to another page, a Goto, or a new document.
    TNotifyEvent OnPageChange;

    struct View;

private:
    View* m_view;
};
