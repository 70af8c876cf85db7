// The extended hex editor control that the main window holds: saving over
// the current file with a backup copy, Ctrl shortcuts, zooming with the
// wheel, a paint lock, grouped undo steps, a popup menu of its own for the
// offset gutter and the ruler, printing, and its bookmarks and public
// properties as text.
#pragma once

#include "hexedit/zazolepaste.h"
#include "hexedit/zazprint.h"
#include "hexedit/zuradhex.h"

#include "ole/ole2.h"

#include <memory>
#include <string>

class TPopupMenu;
class TMetafile;
class TZAZDataObject;
class TZAZDropTarget;

// May veto a property of the public property table in the text exchange.
using TZAZQueryPublicPropertyEvent =
    std::function<void(TObject* sender, const std::string& propertyName, bool& isPublic)>;

class TZURadUvudodEx : public TCustomZURadUvudod {
public:
    explicit TZURadUvudodEx(TComponent* owner);
    // Withdraws its data from the clipboard (unless FlushClipboardAtShutDown)
    // and ends the drop registration; nothing of it raises.
    ~TZURadUvudodEx() override;

    // Saves the data over the current file; "No Filename specified" when no
    // file was loaded or saved yet.
    void Save();

    // Keep the file as it was on disk under its name plus BackupExtension
    // when a modified buffer is saved over it. An empty extension keeps no
    // backup; "/" and NUL are refused.
    bool CreateBackup() const { return m_createBackup; }
    void SetCreateBackup(bool value) { m_createBackup = value; }
    const std::string& BackupExtension() const { return m_backupExtension; }
    void SetBackupExtension(const std::string& value);
    // Ctrl + wheel changes BytesPerRow, Ctrl + Shift + wheel the font size.
    bool ZoomOnWheel() const { return m_zoomOnWheel; }
    void SetZoomOnWheel(bool value) { m_zoomOnWheel = value; }
    // The menu for right clicks on the offset gutter and the ruler; the
    // control hears of the menu's going and forgets it then.
    TPopupMenu* OffsetPopupMenu() const { return m_offsetPopupMenu; }
    void SetOffsetPopupMenu(TPopupMenu* menu);

    // Paint lock (nested); the control repaints whole when it ends.
    std::int32_t BeginUpdate();
    std::int32_t EndUpdate();
    void Paint() override;

    // One undo step for a range (its bytes as they are now), or a snapshot of
    // all data when count < 1; Modified stays as it was.
    void CreateRangeUndo(std::int32_t start, std::int32_t count, const std::string& description);
    // A description (once one was given, every later group) opens a grouped
    // step: a snapshot record that undoes the whole group at once.
    std::int32_t UndoBeginUpdate(const std::string& description) override;
    std::int32_t UndoEndUpdate() override;
    void WriteBuffer(const void* buffer, std::int32_t index, std::int32_t count) override;
    // The raw undo stream to a file; false when it cannot be written.
    bool DumpUndoStorage(const std::string& fileName);

    // ---- clipboard, foreign data, drag and drop (zuradclip.cpp, zuraddrag.cpp)
    bool OleDragDrop() const { return m_oleDragDrop; }
    void SetOleDragDrop(bool value);
    // Text on the clipboard is hexadecimal digits instead of the bytes.
    bool ClipboardAsHexText() const { return m_clipboardAsHexText; }
    void SetClipboardAsHexText(bool value) { m_clipboardAsHexText = value; }
    // On destruction the data stay on the clipboard instead of going.
    bool FlushClipboardAtShutDown() const { return m_flushClipboardAtShutDown; }
    void SetFlushClipboardAtShutDown(bool value) { m_flushClipboardAtShutDown = value; }
    // Paste and drop accept other formats than the own one and files.
    bool SupportsOtherClipFormats() const { return m_supportsOtherClipFormats; }
    void SetSupportsOtherClipFormats(bool value) { m_supportsOtherClipFormats = value; }

    bool CanCopy() const;
    bool CanCut() const;
    // Remembers the format a paste would take.
    bool CanPaste();
    bool CBCopy();
    bool CBCut();
    bool CBPaste();
    bool OwnsClipBoard() const;
    void ReleaseClipboard(bool flush);

    // The formats taken, in order of preference.
    TClipFormats GetMyOLEFormats() const;
    bool OLEHasSupportedFormat(IDataObject* data, const TClipFormats& formats, std::int32_t high,
                               CLIPFORMAT& chosen) const;
    HRESULT SupportsOLEData(IDataObject* data, DWORD keyState, TPoint point, DWORD& effect,
                            TZAZOLEOperation operation);
    HRESULT ModifyOLEDropEffect(DWORD keyState, TPoint point, DWORD& effect);
    // Takes the data and puts it in: S_OK or E_FAIL; an unreadable file or
    // a refused edit raises after the medium is released.
    HRESULT InsertOLEData(IDataObject* data, DWORD keyState, TPoint point, DWORD& effect,
                          TZAZOLEOperation operation);
    void PasteData(const void* buffer, std::int32_t count, const std::string& description);
    CLIPFORMAT LastPasteFormat(TZAZOLEOperation operation) const { return m_lastPasteFormat[operation]; }
    bool Dragging() const { return m_dragging; }

    // ---- printing (zuradprint.cpp)
    TZAZPrintOptions& PrintOptions() { return m_printOptions; }
    void SetPrintOptions(const TZAZPrintOptions& value) { m_printOptions.Assign(value); }
    TFont& PrintFont() { return m_printFont; }
    // Copies the font and prints with it from then on.
    void SetPrintFont(const TFont& value);
    bool UseEditorFontForPrinting() const { return m_useEditorFontForPrinting; }
    void SetUseEditorFontForPrinting(bool value) { m_useEditorFontForPrinting = value; }
    // Renders a page (from 1) into the rectangle; page 0 only counts. The
    // result is the page count. "Invalid Page Index" for a page outside
    // 0 to the page count, "Printing Failed" when not one line fits.
    std::int32_t PrintToCanvas(TCanvas& canvas, std::int32_t page, const TRect& rect);
    // The page recorded at the printer's resolution.
    std::unique_ptr<TMetafile> PrintPreview(std::int32_t page);
    // Draws the page on the printer's current page; the caller runs the job.
    void Print(std::int32_t page);
    std::int32_t PrintNumPages();
    // The margins in the printer's pixels.
    TRect PrinterMarginRect() const;

    // ---- bookmarks and properties as text (zuradtext.cpp)
    std::string GetBookmarksAsString() const;
    // Replaces all ten bookmarks; a malformed text sets none of its records,
    // leaves the bookmarks cleared and raises "Invalid Bookmark Format".
    void SetBookMarksAsString(const std::string& text);
    // Lines of name, "=" and value of the public properties.
    virtual std::string GetPropertiesAsString();
    virtual void SetPropertiesAsString(const std::string& text);
    virtual bool IsPropPublic(const std::string& name);
    TZAZQueryPublicPropertyEvent OnQueryPublicProperty;
    void BookmarkChanged() override;

protected:
    void KeyDown(WORD& key, TShiftState shift) override;
    bool DoMouseWheelDown(TShiftState shift, TPoint mousePos) override;
    bool DoMouseWheelUp(TShiftState shift, TPoint mousePos) override;
    void DblClick() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void CreateWnd() override;
    void ContextPopup(TPoint pos, bool& handled) override;
    void CommitSavedFile(TFileSave& save, bool overwritesCurrent) override;

private:
    // Ctrl (+ Shift) + wheel; false when at a limit (the wheel scrolls then).
    bool Zoom(TShiftState shift, bool up);

    bool m_createBackup = true;
    std::string m_backupExtension = ".bak";
    bool m_zoomOnWheel = true;
    TComponentLink<TPopupMenu> m_offsetPopupMenu{this};
    std::int32_t m_updateCount = 0;
    bool m_doubleClickSelected = false;
    bool m_groupedUndo = false;

    // Clipboard and drag and drop.
    TZAZDataObject* NewDataObject();
    // The bytes of a fetched medium, and where they go.
    void TakeDroppedFiles(IDataObject* data, DWORD effect, TZAZByteString& bytes, HRESULT& result);
    void TakeMedium(IDataObject* data, CLIPFORMAT format, TZAZOLEOperation operation, bool hexText,
                    TZAZByteString& bytes, STGMEDIUM& medium, HRESULT& result);
    HRESULT PlaceDrop(TZAZByteString& bytes, std::int32_t count, DWORD& effect);
    void RunDrag();
    bool m_oleDragDrop = false;
    bool m_clipboardAsHexText = false;
    bool m_flushClipboardAtShutDown = false;
    bool m_supportsOtherClipFormats = true;
    TZAZDataObject* m_clipObject = nullptr;
    CLIPFORMAT m_lastPasteFormat[2] = {0, 0};
    TZAZDropTarget* m_dropTarget = nullptr;
    bool m_dragArmed = false;
    bool m_dragging = false;
    TPoint m_dragStart{0, 0};
    bool m_droppedInside = false;
    // The steps a move inside has made: 1 the deletion, 2 the insertion too.
    int m_moveSteps = 0;

    // Printing and the text exchange.
    TFont CopyOfFont();
    TZAZPrintOptions m_printOptions;
    TFont m_printFont = CopyOfFont();
    bool m_useEditorFontForPrinting = true;
    std::int32_t m_pageCount = 0;
    bool m_settingBookmarks = false;
};
