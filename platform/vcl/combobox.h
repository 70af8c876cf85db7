// The class library's combo box over QComboBox: a drop-down list whose
// items carry objects and, in an owner-drawn style, are drawn by the
// control itself. It reports to its own window procedure as the system's
// combo box reports to its parent:
//   CN_COMMAND   the notification code in the high word of WParam:
//                CBN_DROPDOWN before the list opens, CBN_SELCHANGE when the
//                user chose another item, then CBN_SELENDOK (an item was
//                chosen in the list) or CBN_SELENDCANCEL (the list closed
//                otherwise), then CBN_CLOSEUP. The last two arrive from the
//                event loop once the list's own handling is over, so their
//                handlers may refill the items.
//   CN_DRAWITEM  each owner-drawn item, the face (ODS_COMBOBOXEDIT) too,
//                with a DRAWITEMSTRUCT whose hDC paints on the widget.
//   WM_DELETEITEM each item with an object that is removed, before it goes.
// CB_SETEXTENDEDUI 1 turns on the extended interface: the Down key opens
// the list and F4 does nothing.
#pragma once

#include "commctrl.h"
#include "controls.h"
#include "graphics.h"

#include <functional>
#include <string>

constexpr UINT WM_DELETEITEM = 0x002D;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr UINT CN_DRAWITEM = CN_BASE + WM_DRAWITEM;
constexpr UINT CB_SETEXTENDEDUI = 0x0155;
constexpr UINT CB_GETEXTENDEDUI = 0x0156;

constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_DROPDOWN = 7;
constexpr UINT CBN_CLOSEUP = 8;
constexpr UINT CBN_SELENDOK = 9;
constexpr UINT CBN_SELENDCANCEL = 10;

struct DELETEITEMSTRUCT {
    UINT CtlType = ODT_COMBOBOX;
    UINT CtlID = 0;
    UINT itemID = 0;
    HWND hwndItem = 0;
    ULONG_PTR itemData = 0;
};

enum class TComboBoxStyle { csDropDownList, csOwnerDrawFixed };

using TDrawItemEvent = std::function<void(TObject* control, int index, const TRect& rect, UINT state)>;

class TCustomComboBox : public TWinControl {
public:
    explicit TCustomComboBox(TComponent* owner);
    ~TCustomComboBox() override;

    TComboBoxStyle Style() const { return m_style; }
    void SetStyle(TComboBoxStyle style);
    bool OwnerDrawn() const { return m_style == TComboBoxStyle::csOwnerDrawFixed; }

    // The items: a text and an object (not owned) each.
    int ItemCount() const;
    std::string ItemText(int index) const;
    void* ItemObject(int index) const;
    // Appends an item; its index.
    int AddItem(const std::string& text, void* object = nullptr);
    // Removes one item (WM_DELETEITEM first when it has an object).
    void RemoveItem(int index);
    // Removes every item, first to last.
    void ClearItems();
    // Holds the drawing of the list while many items change.
    void BeginUpdate();
    void EndUpdate();

    int ItemIndex() const;
    // An index outside the items leaves none chosen; no notification.
    void SetItemIndex(int index);

    // The height of an item of an owner-drawn list; 0 is kept as it is
    // (rows of no height), a negative height is ignored.
    virtual int ItemHeight() const { return m_itemHeight; }
    void SetItemHeight(int height);
    int DropDownCount() const { return m_dropDownCount; }
    void SetDropDownCount(int count);
    bool DroppedDown() const;
    void SetDroppedDown(bool down);
    bool ExtendedUI() const { return m_extendedUI; }

    TCanvas& Canvas() { return m_canvas; }
    TDrawItemEvent OnDrawItem;
    TNotifyEvent OnChange;
    TNotifyEvent OnDropDown;

    void WndProc(TMessage& message) override;

protected:
    // Draws an item: OnDrawItem when set, else the text on the brush.
    virtual void DrawItem(int index, const TRect& rect, UINT state);
    // CBN_DROPDOWN: fires OnDropDown.
    virtual void DropDown();
    // CBN_SELCHANGE: fires OnChange.
    virtual void Change();
    // Owner-drawn items: the canvas bound to the paint, with the control's
    // font and brush (the highlight colours for a selected item); an index
    // below 0 only fills the rectangle.
    virtual void CNDrawItem(DRAWITEMSTRUCT& item);
    void KeyDown(WORD& key, TShiftState shift) override;

private:
    // The face's height for the item height.
    void FitHeight();
    void AnnounceDeletion(int index);
    TComboBoxStyle m_style = TComboBoxStyle::csDropDownList;
    int m_itemHeight = 16;
    int m_dropDownCount = 8;
    bool m_extendedUI = false;
    TCanvas m_canvas;
};
