// The class library's grid base: a custom control that shows a table of
// cells, scrolls by whole rows and columns with its own scroll bars, and
// keeps a current cell that moves only when the SelectCell hook allows it.
// Fixed columns stay at the left and fixed rows at the top. Row heights are
// the default height except for the rows given their own height, so a grid
// with a hundred million rows costs no more memory than one with ten.
#pragma once

#include "controls.h"
#include "extctrls.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class QScrollBar;

// Dialog codes (WM_GETDLGCODE answers).
constexpr std::uint32_t DLGC_WANTARROWS = 0x01, DLGC_WANTTAB = 0x02, DLGC_WANTALLKEYS = 0x04, DLGC_WANTCHARS = 0x80;

struct TGridCoord {
    std::int32_t X = 0;  // column
    std::int32_t Y = 0;  // row
    bool operator==(const TGridCoord&) const = default;
};
inline TGridCoord GridCoord(std::int32_t col, std::int32_t row) { return {col, row}; }

enum TGridOption {
    goFixedVertLine = 1 << 0,
    goFixedHorzLine = 1 << 1,
    goVertLine = 1 << 2,
    goHorzLine = 1 << 3,
    goRangeSelect = 1 << 4,
    goDrawFocusSelected = 1 << 5,
    goRowSizing = 1 << 6,
    goColSizing = 1 << 7,
    goRowMoving = 1 << 8,
    goColMoving = 1 << 9,
    goEditing = 1 << 10,
    goTabs = 1 << 11,
    goRowSelect = 1 << 12,
    goAlwaysShowEditor = 1 << 13,
    goThumbTracking = 1 << 14,
};
using TGridOptions = unsigned;

enum class TBorderStyle { bsNone, bsSingle };

using TSelectCellEvent = std::function<void(TObject* sender, std::int32_t col, std::int32_t row, bool& canSelect)>;

class TCustomGrid : public TCustomControl {
public:
    explicit TCustomGrid(TComponent* owner);
    ~TCustomGrid() override;

    std::int32_t ColCount() const { return m_colCount; }
    void SetColCount(std::int32_t count);
    std::int32_t RowCount() const { return m_rowCount; }
    void SetRowCount(std::int32_t count);
    std::int32_t FixedCols() const { return m_fixedCols; }
    void SetFixedCols(std::int32_t count);
    std::int32_t FixedRows() const { return m_fixedRows; }
    void SetFixedRows(std::int32_t count);

    std::int32_t DefaultColWidth() const { return m_defaultColWidth; }
    void SetDefaultColWidth(std::int32_t width);
    std::int32_t DefaultRowHeight() const { return m_defaultRowHeight; }
    void SetDefaultRowHeight(std::int32_t height);
    std::int32_t ColWidths(std::int32_t col) const;
    void SetColWidths(std::int32_t col, std::int32_t width);
    std::int32_t RowHeights(std::int32_t row) const;
    void SetRowHeights(std::int32_t row, std::int32_t height);

    // The current cell.
    std::int32_t Col() const { return m_col; }
    void SetCol(std::int32_t col) { MoveColRow(col, m_row, true, true); }
    std::int32_t Row() const { return m_row; }
    void SetRow(std::int32_t row) { MoveColRow(m_col, row, true, true); }

    // The first scrollable column and row on screen.
    std::int32_t LeftCol() const { return m_leftCol; }
    void SetLeftCol(std::int32_t col);
    std::int32_t TopRow() const { return m_topRow; }
    void SetTopRow(std::int32_t row);
    // Whole scrollable rows and columns that fit in the client area.
    std::int32_t VisibleRowCount() const;
    std::int32_t VisibleColCount() const;

    TGridOptions Options() const { return m_options; }
    void SetOptions(TGridOptions options);
    bool DefaultDrawing = true;
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle style);
    bool Ctl3D = true;
    bool DoubleBuffered = true;
    bool ParentColor = true;

    // The rectangle of a cell in client coordinates; empty when the cell is
    // not on screen.
    TRect CellRect(std::int32_t col, std::int32_t row) const;
    // The cell under a client point; (-1, -1) outside every cell.
    TGridCoord MouseCoord(int x, int y) const;
    // Moves the current cell after asking SelectCell; with show the cell is
    // scrolled into view.
    void MoveColRow(std::int32_t col, std::int32_t row, bool moveAnchor, bool show);

    // The size of the cell area (the control less its scroll bars).
    int ClientWidth() const;
    int ClientHeight() const;

    void InvalidateCell(std::int32_t col, std::int32_t row);
    void InvalidateRow(std::int32_t row);
    void InvalidateCol(std::int32_t col);
    void InvalidateGrid() { Invalidate(); }
    void InvalidateRect(const TRect& r);

    TSelectCellEvent OnSelectCell;

    // Visible range of the last paint, as the painting code walks it.
    struct TGridDrawInfo {
        std::int32_t FirstCol = 0, LastCol = -1, FirstRow = 0, LastRow = -1;
        int GridWidth = 0, GridHeight = 0;  // extent of the cells drawn
    };
    TGridDrawInfo CalcDrawInfo() const;

    bool HandleEvent(QEvent* event) override;

    // The pointer in client coordinates as the latest mouse event saw it
    // (the mouse is captured while a button is held, so this follows a drag
    // outside the control).
    TPoint MousePos() const { return m_mousePos; }
    // A press in a scrollable cell started a drag selection that has not
    // been released yet.
    bool GridSelecting() const { return m_gridState == GridState::Selecting; }

    // The dialog codes a dialog would ask for (DLGC_...): the grid wants the
    // arrow keys; DLGC_WANTTAB keeps Tab from moving the focus away.
    virtual std::uint32_t GetDialogCode() const { return DLGC_WANTARROWS; }

protected:
    // The grid's own mouse handling: a press focuses the control, moves the
    // current cell and starts a drag selection with its auto-scroll timer;
    // moves follow the pointer; the release ends it.
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    // Ends a drag selection where it stands.
    void CancelMode() override;
    // The auto-scroll timer of a drag selection (every 60 ms on the program
    // clock): a pointer over the fixed cells or past the last visible cell
    // moves the current cell one step that way, scrolling it into view.
    virtual void SelectTimer();
    // One notch of the wheel; the base moves the current row by one.
    virtual bool DoMouseWheelDown(TShiftState shift, TPoint mousePos);
    virtual bool DoMouseWheelUp(TShiftState shift, TPoint mousePos);
    // A typed character that Windows-1252 cannot hold.
    virtual void InvalidCharacter() {}
    // May the current cell move there? The base asks OnSelectCell.
    virtual bool SelectCell(std::int32_t col, std::int32_t row);
    virtual void TopLeftChanged() {}
    virtual void ColWidthsChanged() {}
    virtual void RowHeightsChanged() {}
    // Called after the focus arrived or left (the caret's owner reacts here).
    virtual void FocusChanged(bool /*focused*/) {}
    // Called once, when the control is first shown (its window exists).
    virtual void CreateWnd() {}
    // Scroll bar activity, after the grid itself scrolled.
    virtual void Scrolled(bool /*vertical*/) {}
    // Draws one cell; the base fills it with the control's colour.
    virtual void DrawCell(std::int32_t col, std::int32_t row, const TRect& rect);
    void Paint() override;
    void Resize() override;

private:
    void UpdateScrollBars();
    void ClampTopLeft();
    void ScrollIntoView(std::int32_t col, std::int32_t row);
    void OnScrollBar(bool vertical, int value);
    std::int32_t MaxTopRow() const;
    std::int32_t MaxLeftCol() const;

    std::int32_t m_colCount = 5;
    std::int32_t m_rowCount = 5;
    std::int32_t m_fixedCols = 1;
    std::int32_t m_fixedRows = 1;
    std::int32_t m_defaultColWidth = 64;
    std::int32_t m_defaultRowHeight = 24;
    std::vector<std::int32_t> m_colWidths;         // one per column
    std::map<std::int32_t, std::int32_t> m_rowHeights;  // rows with their own height
    std::int32_t m_col = 1;
    std::int32_t m_row = 1;
    std::int32_t m_leftCol = 1;
    std::int32_t m_topRow = 1;
    TGridOptions m_options = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
    TBorderStyle m_borderStyle = TBorderStyle::bsSingle;
    QScrollBar* m_vscroll = nullptr;
    QScrollBar* m_hscroll = nullptr;
    bool m_updatingScrollBars = false;
    bool m_windowCreated = false;

    enum class GridState { Normal, Selecting };
    bool HandleKeyPress(QEvent* event);
    void StopSelectTimer();
    GridState m_gridState = GridState::Normal;
    std::unique_ptr<TTimer> m_selectTimer;
    TPoint m_mousePos{0, 0};
    int m_mouseButtons = 0;    // the Qt buttons held at the latest mouse event
    int m_mouseModifiers = 0;  // and the modifiers
    int m_wheelRemainder = 0;
};


// The virtual key of a key press and its modifiers, as a Windows keyboard
// reports them: digit keys give the digit also with Shift held (Qt names the
// shifted symbol, "#" for Shift+3 on a US layout), and pressing a modifier
// key counts that modifier as held.
struct TGridKey {
    WORD Key = 0;
    TShiftState Shift = 0;
};
TGridKey TranslateGridKey(int qtKey, int qtModifiers, std::uint32_t nativeScanCode);
// The Windows-1252 byte of a typed character; false when the page has none.
bool CharToCp1252(char32_t ch, std::uint8_t& byte);

// The state of a key or mouse button (VK_LBUTTON and the VK_ codes): the
// high bit set while it is held down. Like Windows, the answer is the state
// as of the input event being handled (grids note it for their events),
// else the state now. Tests may replace the answer.
constexpr WORD VK_LBUTTON = 0x01, VK_RBUTTON = 0x02;
short GetKeyState(int virtualKey);
void SetKeyStateOverride(std::function<short(int)> answer);
