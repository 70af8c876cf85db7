// The hex editor control: a grid whose cells are single hexadecimal digits
// and single characters of one file held whole in memory.
#pragma once

#include "hexedit/zazconv.h"
#include "hexedit/zazerrors.h"
#include "hexedit/zazlayout.h"
#include "hexedit/zazoffset.h"
#include "hexedit/zazstream.h"
#include "hexedit/zazundo.h"

#include "vcl/graphics.h"
#include "vcl/grids.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TCustomZURadUvudod;
class TFileSave;

enum TZAZProgressKind { pkLoad, pkSave, pkFind };
using TZAZProgressEvent = std::function<void(TObject* sender, TZAZProgressKind kind, const std::string& name,
                                             std::uint8_t percent, bool& cancel)>;
using TZAZGetOffsetTextEvent = std::function<void(TObject* sender, std::int64_t number, std::string& offsetText)>;
using TZAZDrawCellEvent = std::function<void(TObject* sender, TCanvas& canvas, std::int32_t col, std::int32_t row,
                                             std::u16string& text, TRect rect, bool& defaultDraw)>;

enum TZAZCaretKind { ckFull, ckLeft, ckBottom, ckAuto };

using TZAZCharSet = std::bitset<256>;

// Private messages: place the caret after a resize, and report the
// selection changes of one message-loop turn at once.
constexpr UINT CM_INTUPDATECARET = 0xB100;
constexpr UINT CM_SELECTIONCHANGED = 0xB101;

// The 13 colours of the control. Each setter repaints the parent control.
class TZAZColors : public TObject {
public:
    explicit TZAZColors(TCustomZURadUvudod* parent) : m_parent(parent) {}

    void Assign(const TObject& source);
    void SetParent(TCustomZURadUvudod* parent) { m_parent = parent; }

#define ZAZ_COLOR_PROPERTY(Name, Default)         \
public:                                           \
    TColor Name() const { return m_##Name; }      \
    void Set##Name(TColor value)                  \
    {                                             \
        if (value == m_##Name)                    \
            return;                               \
        m_##Name = value;                         \
        Changed(#Name);                           \
    }                                             \
                                                  \
private:                                          \
    TColor m_##Name = Default;

    ZAZ_COLOR_PROPERTY(Background, clWindow)
    ZAZ_COLOR_PROPERTY(ChangedBackground, RGB(255, 255, 168))
    ZAZ_COLOR_PROPERTY(ChangedText, RGB(128, 0, 0))
    ZAZ_COLOR_PROPERTY(CursorFrame, RGB(0, 0, 128))
    ZAZ_COLOR_PROPERTY(NonFocusCursorFrame, RGB(0, 255, 255))
    ZAZ_COLOR_PROPERTY(Offset, RGB(0, 0, 0))
    ZAZ_COLOR_PROPERTY(OddColumn, RGB(0, 0, 255))
    ZAZ_COLOR_PROPERTY(EvenColumn, RGB(0, 0, 128))
    ZAZ_COLOR_PROPERTY(CurrentOffsetBackground, clBtnShadow)
    ZAZ_COLOR_PROPERTY(OffsetBackGround, clBtnFace)
    ZAZ_COLOR_PROPERTY(CurrentOffset, clBtnHighlight)
    ZAZ_COLOR_PROPERTY(Grid, clBtnFace)
    ZAZ_COLOR_PROPERTY(ActiveFieldBackground, clWindow)
#undef ZAZ_COLOR_PROPERTY

private:
    void Changed(const char* name);
    TCustomZURadUvudod* m_parent;
};

struct TZAZBookmark {
    std::int32_t mPosition = -1;
    bool mInCharField = false;
    bool operator==(const TZAZBookmark&) const = default;
};
using TZAZBookmarks = std::array<TZAZBookmark, 10>;

// A search that replaces the control's own: it stores the first match, or
// -1, in foundPos.
using TZAZFindEvent = std::function<void(TObject* sender, const std::uint8_t* pattern, std::int32_t patLength,
                                         std::int32_t searchFrom, std::int32_t searchUntil, bool ignoreCase,
                                         char wildcard, std::int32_t& foundPos)>;
// Maps a data byte to the byte it is compared as.
using TZAZFindTable = std::array<std::uint8_t, 256>;

class TCustomZURadUvudod : public TCustomGrid {
public:
    explicit TCustomZURadUvudod(TComponent* owner);
    ~TCustomZURadUvudod() override;

    // ---- raw data access (no bounds check, no undo, no change marks)
    std::int32_t GetDataSize() const;
    std::uint8_t* GetFastPointer() { return m_data.Memory(); }
    std::uint8_t GetDataAt(std::int32_t index) const { return m_data.Memory()[index]; }
    void SetDataAt(std::int32_t index, std::uint8_t value) { m_data.Memory()[index] = value; }
    std::uint8_t GetMemory(std::int32_t index) const { return GetDataAt(index); }
    void SetMemory(std::int32_t index, std::uint8_t value) { SetDataAt(index, value); }
    void ReadBuffer(void* buffer, std::int32_t index, std::int32_t count);
    virtual void WriteBuffer(const void* buffer, std::int32_t index, std::int32_t count);
    void MoveFileMem(std::int32_t fromPos, std::int32_t toPos, std::int32_t count);
    // A copy of the bytes from pos on (count cut at the end); the caller owns it.
    std::unique_ptr<std::uint8_t[]> BufferFromFile(std::int32_t pos, std::int32_t& count);
    TZAZMemoryStream& DataStream() { return m_data; }

    // ---- files and streams
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TStream& stream);
    void SaveToFile(const std::string& fileName, bool makeCurrent);
    void SaveToStream(TStream& stream);
    void SaveRangeToStream(TStream& stream, std::int32_t start, std::int32_t count);
    void CreateEmptyFile(const std::string& name);
    void SetDataSize(std::int32_t newSize);
    void Stream2Stream(TStream& source, TStream& dest, TZAZProgressKind kind, std::int32_t count = -1);
    virtual void PrepareOverwriteDiskFile();
    void FreeStorage(bool undo);
    void WaitCursor();
    void OldCursor();

    const std::string& FileName() const { return m_fileName; }
    bool HasFile() const { return m_hasFile; }
    bool ReadOnlyFile() const { return m_readOnlyFile; }
    void SetReadOnlyFile(bool value)
    {
        if (value)
            m_readOnlyFile = true;
    }
    bool GetModified() const;
    void SetModified(bool value);
    TZAZProgressEvent OnProgress;
    TNotifyEvent OnChange;

    // ---- change marks
    bool HasChanged(std::int32_t pos) const;
    void SetChanged(std::int32_t pos, bool value);
    TZAZChangeMarks& ChangeMarks() { return m_changes; }

    // ---- translation
    TZAZTranslationKind Translation() const { return m_translation; }
    void SetTranslation(TZAZTranslationKind kind);
    std::uint8_t TranslateFromAnsiChar(std::uint8_t c) const;
    std::uint8_t TranslateToAnsiChar(std::uint8_t b) const;
    char MaskChar() const { return m_maskChar; }
    void SetMaskChar(char c);
    const TZAZCharSet& MaskedChars() const { return m_maskedChars; }
    void SetMaskedChars(const TZAZCharSet& chars);

    // ---- layout
    std::int32_t BytesPerRow() const { return m_layout.BytesPerRow; }
    void SetBytesPerRow(std::int32_t value);
    std::int32_t BytesPerColumn() const { return m_layout.BytesPerColumn; }
    void SetBytesPerColumn(std::int32_t value);
    std::int32_t BytesPerUnit() const { return m_bytesPerUnit; }
    void SetBytesPerUnit(std::int32_t value);
    std::int32_t RulerBytesPerUnit() const { return m_rulerBytesPerUnit; }
    void SetRulerBytesPerUnit(std::int32_t value);
    std::int32_t BytesPerBlock() const { return m_layout.BytesPerBlock; }
    void SetBytesPerBlock(std::int32_t value);
    bool SeparateBlocksInCharField() const { return m_layout.SeparateBlocksInCharField; }
    void SetSeparateBlocksInCharField(bool value);
    bool ShowRuler() const { return m_showRuler; }
    void SetShowRuler(bool value);
    std::int32_t RulerNumberBase() const { return m_rulerNumberBase; }
    void SetRulerNumberBase(std::int32_t value);
    std::int32_t GutterWidth() const { return m_gutterWidth; }
    void SetGutterWidth(std::int32_t value);
    bool UnicodeChars() const { return m_layout.Unicode; }
    void SetUnicodeChars(bool value);
    bool UnicodeBigEndian() const { return m_unicodeBigEndian; }
    void SetUnicodeBigEndian(bool value);
    std::string Version() const;

    std::int32_t CharWidth() const { return m_charWidth; }
    std::int32_t RowHeight() const { return DefaultRowHeight(); }
    std::int32_t GetPropColCount() const { return ColCount(); }
    std::int32_t GetPropRowCount() const { return RowCount(); }
    const std::string& HexRulerText() const { return m_hexRuler; }
    const std::string& CharRulerText() const { return m_charRuler; }

    void CalcSizes();
    void AdjustMetrics();
    std::int32_t CalcColCount() const { return m_layout.ColCount(); }
    void SetOffsetDisplayWidth();
    void DoSetCellWidth(std::int32_t index, std::int32_t width) { SetColWidths(index, width); }
    void CreateCaretGlyph();
    void CheckSetCaret();

    std::int32_t GetPosAtCursor(std::int32_t col, std::int32_t row);
    std::int32_t GetPositionAtCursor(std::int32_t col, std::int32_t row) const;
    TGridCoord GetCursorAtPos(std::int32_t pos, bool inCharField) const;
    std::int32_t GetRow(std::int32_t pos) const { return m_layout.RowOf(pos); }
    std::int32_t GetOtherFieldCol(std::int32_t col);
    std::int32_t GetOtherFieldColCheck(std::int32_t col) const { return m_layout.OtherFieldCol(col); }
    bool GetIsCharFieldCol(std::int32_t col) const { return m_layout.IsCharFieldCol(col); }
    std::int32_t GetLastCharCol() const { return ColCount() - 1; }
    void CheckUnit(std::int32_t& pos) const;
    void CheckSelectUnit(std::int32_t& start, std::int32_t& end) const;
    std::int32_t DisplayStart() const;
    std::int32_t DisplayEnd() const;
    std::int32_t DropPosition() const;

    // ---- offsets
    const std::string& OffsetFormat() const { return m_offsetFormat.Format; }
    void SetOffsetFormat(const std::string& text);
    virtual std::string GetOffsetString(std::uint32_t position);
    virtual std::string GetAnyOffsetString(std::uint32_t position);
    void UpdateGetOffsetText();
    TZAZGetOffsetTextEvent OnGetOffsetText;
    bool HexLowerCase() const { return m_hexLowerCase; }
    void SetHexLowerCase(bool value);
    // True while OnGetOffsetText is asked for the gutter width.
    bool IsMaxOffset() const { return m_isMaxOffset; }

    // ---- painting
    TZAZColors& Colors() { return *m_colors; }
    void SetColors(const TZAZColors& colors) { m_colors->Assign(colors); }
    bool FocusFrame() const { return m_focusFrame; }
    void SetFocusFrame(bool v) { SetRepaintFlag(m_focusFrame, v); }
    bool DrawGridLines() const { return m_drawGridLines; }
    void SetDrawGridLines(bool v) { SetRepaintFlag(m_drawGridLines, v); }
    bool DrawGutter3D() const { return m_drawGutter3D; }
    void SetDrawGutter3D(bool v) { SetRepaintFlag(m_drawGutter3D, v); }
    bool SwapNibbles() const { return m_swapNibbles; }
    void SetSwapNibbles(bool v) { SetRepaintFlag(m_swapNibbles, v); }
    TZAZCaretKind CaretKind() const { return m_caretKind; }
    void SetCaretKind(TZAZCaretKind kind);
    TZAZDrawCellEvent OnDrawCell;
    // The byte being painted (-1 for ruler, gutter and corner cells) and
    // whether it is painted as selected.
    std::int32_t PaintPosition() const { return m_paintPosition; }
    bool PaintSelected() const { return m_paintSelected; }
    // Requires 200 x 10 pixels; nullptr restores the built-in icons.
    void SetBookmarkBitmap(const TBitmap* bitmap);
    TBitmap& BookmarkBitmap() { return *m_bookmarkBitmap; }
    bool HasCustomBookmarkBitmap() const { return m_customBookmarkBitmap; }

    // ---- caret, selection, navigation
    bool IsSelected(std::int32_t pos) const
    {
        return m_selAnchor != -1 && m_selStart <= pos && pos <= m_selEnd;
    }
    void NewSelection(std::int32_t a, std::int32_t b);
    void Select(std::int32_t fromCol, std::int32_t fromRow, std::int32_t toCol, std::int32_t toRow);
    void ResetSelection(bool redraw);
    void SetSelection(std::int32_t anchor, std::int32_t start, std::int32_t end);
    void RedrawPos(std::int32_t from, std::int32_t to);
    void InternalGetCurSel(std::int32_t& start, std::int32_t& stop, std::int32_t& col, std::int32_t& row);
    // The same range without cutting the change marks.
    void CurSelRange(std::int32_t& start, std::int32_t& stop, std::int32_t& col, std::int32_t& row) const;
    std::int32_t GetSelStart() const;
    void SetSelStart(std::int32_t pos);
    std::int32_t GetSelEnd() const;
    void SetSelEnd(std::int32_t pos);
    std::int32_t GetSelCount() const { return m_selAnchor == -1 ? 0 : m_selEnd - m_selStart + 1; }
    std::int32_t SelAnchor() const { return m_selAnchor; }
    std::int32_t SelFirst() const { return m_selStart; }
    std::int32_t SelLast() const { return m_selEnd; }
    void SelectAll();
    std::int32_t GetCursorPos() const;
    void TruncMaxPosition(std::int32_t& pos) const;
    bool GetInCharField() const;
    void SetInCharField(bool value);
    std::int32_t GetTopLeftPosition(bool& inCharField) const;
    void SetTopLeftPosition(std::int32_t pos, bool inCharField);
    bool GetInsertMode() const { return m_insertMode && IsInsertModePossible(); }
    void SetInsertMode(bool value);
    bool IsInsertModePossible() const { return !IsFileSizeFixed() && m_allowInsertMode && !m_readOnlyView; }
    bool IsFileSizeFixed() const { return m_noSizeChange && !m_sizeChangeOverride; }
    bool AllowInsertMode() const { return m_allowInsertMode; }
    void SetAllowInsertMode(bool value);
    bool NoSizeChange() const { return m_noSizeChange; }
    void SetFixedFileSize(bool value);
    bool ReadOnlyView() const { return m_readOnlyView; }
    void SetReadOnlyView(bool value);
    bool HideSelection() const { return m_hideSelection; }
    void SetHideSelection(bool value);
    bool GraySelectionIfNotFocused() const { return m_graySelection; }
    void SetGraySelectionIfNotFocused(bool value);
    bool ShowPositionIfNotFocused() const { return m_showPositionIfNotFocused; }
    void SetShowPositionIfNotFocused(bool value);
    bool WantTabs() const { return m_wantTabs; }
    void SetWantTabs(bool value) { m_wantTabs = value; }
    // The dialog code a dialog would ask for: arrows, all keys, characters,
    // and tabs when WantTabs.
    std::uint32_t DialogCode() const { return 0x85u | (m_wantTabs ? 2u : 0u); }
    bool Selecting() const { return m_selecting; }
    void SetSelecting(bool value) { m_selecting = value; }
    void IntSetCaretPos(int x, int y, std::int32_t col);
    virtual void SelectionChanged();
    void SyncView(TCustomZURadUvudod& source, std::int32_t offset);
    // The class library's test, and false while the parent form is
    // disabled or hidden.
    bool CanFocus() const;
    TNotifyEvent OnSelectionChanged;
    TNotifyEvent OnTopLeftChanged;
    // Fires OnChange, then the selection-changed notification.
    virtual void Changed();

    void WndProc(TMessage& message) override;
    void Paint() override;
    // Completes the control after its properties were set, as loading it
    // from a form description does: an empty buffer named "Untitled".
    void Loaded();

    // ---- editing (zuradedit.cpp). Every public operation records one undo
    // step first ("Cannot update undo storage" refuses it before anything
    // changes) and ends with Changed; Internal... operations record nothing.
    void IntChangeByte(std::uint8_t oldByte, std::uint8_t newByte, std::int32_t pos, std::int32_t col,
                       std::int32_t row, const std::string& desc = {});
    void IntChangeWideChar(char16_t oldChar, char16_t newChar, std::int32_t pos, std::int32_t col, std::int32_t row,
                           const std::string& desc = {});
    void InternalAppendBuffer(const void* buffer, std::int32_t size);
    void InternalInsertBuffer(const void* buffer, std::int32_t size, std::int32_t pos);
    // Removes [from, to); col -1 leaves the caret where it is when it still
    // stands on the data.
    void InternalDelete(std::int32_t from, std::int32_t to, std::int32_t col, std::int32_t row);
    void InsertBuffer(const void* buffer, std::int32_t size, std::int32_t pos, const std::string& desc,
                      bool moveCursor);
    void AppendBuffer(const void* buffer, std::int32_t size, const std::string& desc, bool moveCursor);
    void ReplaceSelection(const void* buffer, std::int32_t size, const std::string& desc, bool moveCursor);
    void DeleteSelection(const std::string& desc = {});
    void InternalErase(bool backwards, const std::string& desc = {});
    // The data as a string of nibbles, high nibble first: a zero nibble goes
    // in before (or the nibble is taken out at) the high or low nibble of
    // byte pos. Inserting grows the data by one byte; deleting keeps the size
    // and ends it with a zero nibble.
    // A temporary file (named from GetTempName, returned in fileName) that
    // holds the data from startPos to the end shifted right by one nibble
    // (a zero nibble first, the last byte's low nibble dropped), rewound; none
    // when startPos is at or past the end. The caller frees the stream and
    // deletes the file. "Cannot create file" when it cannot be made; nothing
    // is left behind then.
    std::unique_ptr<TFileStream> CreateShift4BitStream(std::int32_t startPos, std::string& fileName);
    bool InternalInsertNibble(std::int32_t pos, bool highNibble);
    bool InternalDeleteNibble(std::int32_t pos, bool highNibble);
    bool InsertNibble(std::int32_t pos, bool highNibble, const std::string& desc = {});
    bool DeleteNibble(std::int32_t pos, bool highNibble, const std::string& desc = {});
    void InternalConvertRange(std::int32_t from, std::int32_t to, TZAZTranslationKind transFrom,
                              TZAZTranslationKind transTo);
    void ConvertRange(std::int32_t from, std::int32_t to, TZAZTranslationKind transFrom, TZAZTranslationKind transTo,
                      const std::string& desc = {});
    // Origin 0 from the start, 1 from the caret, 2 from the last byte; the
    // result is the caret's new position, -1 for empty data.
    std::int32_t Seek(std::int32_t offset, std::int32_t origin);
    void SeekToEOF();
    std::int32_t GetCurrentValue() const;
    std::string GetAsText() const;
    void SetAsText(const std::string& text);
    std::string GetAsHex();
    void SetAsHex(const std::string& text);
    std::string GetSelectionAsText() const;
    void SetSelectionAsText(const std::string& text);
    std::string GetSelectionAsHex();
    void SetSelectionAsHex(const std::string& text);

    // ---- undo and redo (zuradundo.cpp, history in zazundo.cpp)
    void CreateUndo(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                    const std::string& desc = {});
    virtual bool CanCreateUndo(TZAZUndoFlag kind, std::int32_t count, std::int32_t replCount);
    void AddSelectionUndo(std::int32_t start, std::int32_t count);
    // One step that undoes the count newest steps at once.
    void CombineUndo(std::int32_t count, const std::string& desc = {});
    void ResetUndo();
    bool GetCanUndo() const;
    bool GetCanRedo() const;
    std::string GetUndoDescription() const;
    // Suspends recording (nested); the extended control opens a grouped
    // step with a description.
    virtual std::int32_t UndoBeginUpdate(const std::string& description);
    virtual std::int32_t UndoEndUpdate();
    bool Undo();
    bool Redo();
    std::int32_t MaxUndo() const { return m_maxUndo; }
    void SetMaxUndo(std::int32_t value) { m_maxUndo = value; }
    TZAZUndoStorage& UndoStorage() { return *m_undo; }

    // ---- bookmarks, find and replace (zuradfind.cpp)
    TZAZBookmark GetBookmark(int index) const;
    void SetBookmark(int index, const TZAZBookmark& bookmark);
    // Sets the bookmark, or clears it when it stands exactly there already.
    void SetBookmarkVals(int index, std::int32_t position, bool inCharField);
    bool GotoBookmark(std::int32_t index);
    void AdjustBookmarks(std::int32_t from, std::int32_t delta);
    virtual void BookmarkChanged();
    const TZAZBookmarks& Bookmarks() const { return m_bookmarks; }
    // Unsets all ten (a new file or buffer starts without bookmarks).
    void ClearBookmarks();
    // The search pattern for a text (bytes of the control's ANSI code page),
    // and the identity and case-folding tables the searches use.
    std::string PrepareFindReplaceData(std::string text, bool ignoreCase, bool convertText);
    std::int32_t Find(const void* pattern, std::int32_t patLength, std::int32_t searchFrom, std::int32_t searchUntil,
                      bool ignoreCase);
    std::int32_t FindWithWildcard(const void* pattern, std::int32_t patLength, std::int32_t searchFrom,
                                  std::int32_t searchUntil, bool ignoreCase, char wildcard);
    std::int32_t Replace(const void* buffer, std::int32_t position, std::int32_t oldCount, std::int32_t newCount,
                         const std::string& desc, bool moveCursor);
    bool FindProgress() const { return m_findProgress; }
    void SetFindProgress(bool value) { m_findProgress = value; }
    TNotifyEvent OnBookmarkChanged;
    TZAZFindEvent OnFind;
    TZAZFindEvent OnWildcardFind;

    // ---- keyboard and mouse (zuradinput.cpp)
    void WrongKey();
    TNotifyEvent OnInvalidKey;
    // The cell under a client point; in insert mode a point behind the end
    // of a row counts as the first column of the next row (x, y move there).
    TGridCoord CheckMouseCoord(int& x, int& y);
    bool GetMouseOverSelection();
    bool CursorOverSelection(int x, int y);
    bool MouseOverFixed(int x, int y) const;
    // Marks the drop cell under a point while data is dragged over the
    // control, scrolling by one row or column at the edges; the result is
    // the drop position.
    std::int32_t ShowDragCell(int x, int y);
    void HideDragCell();
    bool PressOnSelection() const { return m_pressOnSelection; }

protected:
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyPress(char& key) override;
    void InvalidCharacter() override;
    std::uint32_t GetDialogCode() const override { return DialogCode(); }
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void SelectTimer() override;
    // Ends a drag selection (the grid's and the control's own).
    void CancelMode() override;
    bool DoMouseWheelDown(TShiftState shift, TPoint mousePos) override;
    bool DoMouseWheelUp(TShiftState shift, TPoint mousePos) override;
    // Puts the saved data in place once they are complete beside the
    // target; the extended control keeps the previous file as a backup on
    // the way.
    virtual void CommitSavedFile(TFileSave& save, bool overwritesCurrent);
    // Moves the caret to a byte in one field (the end slot in insert mode).
    void MoveCaretTo(std::int32_t pos, bool inCharField);
    bool m_pressOnSelection = false;
    // The Modified flag itself (GetModified also looks at the file).
    bool ModifiedFlag() const { return m_modified; }
    void SetModifiedFlag(bool value) { m_modified = value; }
    bool SelectCell(std::int32_t col, std::int32_t row) override;
    bool CheckSelectCell(std::int32_t col, std::int32_t row);
    void TopLeftChanged() override;
    void FocusChanged(bool focused) override;
    void Scrolled(bool vertical) override;
    void Resize() override;
    void FontChanged() override;
    void CreateWnd() override;
    void SetRepaintFlag(bool& flag, bool value);

    std::int32_t m_sizeChangeOverride = 0;
    bool m_showDragCell = false;
    TGridCoord m_dragCell{-1, -1};

private:
    friend class TZAZColors;
    void SetRulerString();
    void PlaceCaretOnCell(std::int32_t col, std::int32_t row);
    void BuildBookmarkImages();
    void DrawCellText(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& cell, std::u16string text,
                      TColor fill, TColor textColor, TColor textBack);
    void PaintRulerCell(TCanvas& canvas, std::int32_t col, const TRect& rect);
    void PaintGutterCell(TCanvas& canvas, std::int32_t row, const TRect& rect);
    void PaintDataCell(TCanvas& canvas, std::int32_t col, std::int32_t row, const TRect& rect);
    void FocusRect(TCanvas& canvas, const TRect& r);
    bool HasFocus() const;
    void ColorsChanged(const char* name);

    TZAZMemoryStream m_data;
    TZAZChangeMarks m_changes;
    std::string m_fileName = "---";
    bool m_hasFile = false;
    bool m_readOnlyFile = true;
    bool m_modified = false;
    std::string m_progressFileName;
    std::vector<TCursor> m_cursorStack;

    TZAZTranslationKind m_translation = tkAsIs;
    char m_maskChar = '.';
    TZAZCharSet m_maskedChars;

    TZAZLayout m_layout;
    std::int32_t m_bytesPerUnit = 1;
    std::int32_t m_rulerBytesPerUnit = -1;
    bool m_showRuler = false;
    std::int32_t m_rulerNumberBase = 16;
    std::int32_t m_gutterWidth = -1;
    bool m_unicodeBigEndian = false;
    std::int32_t m_charWidth = 8;
    std::int32_t m_offsetLength = 1;
    std::string m_hexRuler;
    std::string m_charRuler;

    TZAZOffsetFormat m_offsetFormat;
    bool m_hexLowerCase = false;
    const char* m_digits = "0123456789ABCDEF";
    bool m_inOffsetEvent = false;
    bool m_offsetEventUsed = false;
    bool m_isMaxOffset = false;

    std::unique_ptr<TZAZColors> m_colors;
    bool m_focusFrame = true;
    bool m_drawGridLines = false;
    bool m_drawGutter3D = true;
    bool m_swapNibbles = false;
    TZAZCaretKind m_caretKind = ckAuto;
    std::int32_t m_paintPosition = -1;
    bool m_paintSelected = false;
    std::unique_ptr<TBitmap> m_bookmarkBitmap;
    std::unique_ptr<TBitmap> m_caretBitmap;
    bool m_customBookmarkBitmap = false;
    TZAZBookmarks m_bookmarks{};

    std::int32_t m_selAnchor = -1;
    std::int32_t m_selStart = -1;
    std::int32_t m_selEnd = -1;
    std::int32_t m_extendOrigin = -1;
    bool m_selecting = false;
    bool m_inCharField = false;
    bool m_lastCaretField = true;
    bool m_selectCellGuard = true;
    std::int32_t m_selChangeCount = 0;
    bool m_insertMode = false;
    bool m_readOnlyView = false;
    bool m_allowInsertMode = true;
    bool m_noSizeChange = false;
    bool m_wantTabs = true;
    bool m_hideSelection = false;
    bool m_graySelection = false;
    bool m_showPositionIfNotFocused = false;
    bool m_constructed = false;

    // Undo history and the edits behind it.
    friend class TZAZUndoStorage;
    std::unique_ptr<TZAZUndoStorage> m_undo;
    std::int32_t m_maxUndo = 1048576;
    // The caret position as its cell says, the end slot included.
    std::int32_t RawCaretPos() const { return GetPositionAtCursor(Col(), Row()); }
    // The last valid position of the caret's field: the end slot in insert
    // mode, else the last byte.
    std::int32_t LastCaretPos() const;
    // Cuts the change marks at pos when they reach it.
    void CutMarks(std::int32_t pos) { m_changes.Cut(std::max<std::int32_t>(0, pos)); }
    // True when an edit of that kind fits the data (and, while recording,
    // its record fits the history).
    bool UndoRangeFits(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                       const std::string& desc) const;
    // Moves the bookmarks for an edit that puts newCount bytes in place of
    // oldCount bytes at pos; those in a removed part go to its start and are
    // returned.
    // Bookmarks listed in restore that still stand where an earlier edit
    // moved them go back to where they were instead.
    std::vector<TZAZTakenBookmark> MoveBookmarksForEdit(std::int32_t pos, std::int32_t oldCount,
                                                        std::int32_t newCount,
                                                        const std::vector<TZAZTakenBookmark>& restore = {});
    // The editor's state after an undo or redo: caret, mode, display.
    struct TZAZEditorState {
        TZAZUndoFlags Flags = 0;
        std::int32_t CaretPos = 0;
        std::uint8_t Translation = 0;
        std::int32_t BytesPerUnit = 1;
        bool HasSelection = false;
        std::int32_t SelStart = -1, SelEnd = -1, SelAnchor = -1;
    };
    // notify: repaint and Changed at the end (undo); redo notifies itself.
    void RestoreEditorState(const TZAZEditorState& state, bool notify);
    // InsertNibble and DeleteNibble on the data (a nibble step recorded first).
    bool NibbleEdit(TZAZUndoFlag kind, std::int32_t pos, bool highNibble, const std::string& desc);
    // Replaces all data without recording (an all-data undo or redo step).
    void ReplaceAllData(const void* data, std::int32_t size);
    TZAZUndoFlags CurrentStateFlags() const;

    // Find tables and progress.
    TZAZFindTable m_identityTable{};
    TZAZFindTable m_foldingTable{};
    bool m_findProgress = false;
    bool m_findTablesBuilt = false;
    void BuildFindTables();
    std::int32_t FindCore(const std::uint8_t* pattern, std::int32_t patLength, std::int32_t searchFrom,
                          std::int32_t searchUntil, bool ignoreCase, int wildcard);

    // Input state.
    TPoint m_pressPoint{0, 0};
    void StepLeft(bool selecting);
    void StepRight(bool selecting);
    void TypeChar(std::uint8_t key);
    void TypeHexDigit(char key);
};

// Grey of the same brightness, and the colour with all 24 RGB bits inverted
// (system colours resolved first).
TColor FadeToGray(TColor color);
TColor InvertColor(TColor color);
// The key or mouse button is held down.
bool IsKeyDown(int virtualKey);

// A name in the temporary folder that no file has yet: the folder, the
// tick count as 8 upper-case hex digits and ".ZAZT".
std::string GetTempName();
