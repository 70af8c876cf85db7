// Notifications of the common controls as the tree and list views send them
// to their own window procedure: the header of every notification, custom
// draw with its stages and answers, owner-drawn header items, and text
// drawing with the system's format flags.
#pragma once

#include "controls.h"
#include "graphics.h"
#include "messages.h"

#include <cstdint>
#include <string>

class QPainter;

using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using COLORREF = DWORD;

// Messages the controls send to themselves (the class library's reflected
// notifications) and the owner-draw message.
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_NOTIFY = CN_BASE + WM_NOTIFY;

struct NMHDR {
    HWND hwndFrom = 0;
    UINT_PTR idFrom = 0;
    int code = 0;
};

// A click notification with the pointer's position in client coordinates.
struct NMMOUSE_PT {
    NMHDR hdr;
    TPoint pt;
};

// Notification codes.
constexpr int NM_CLICK = -2;
constexpr int NM_DBLCLK = -3;
constexpr int NM_RCLICK = -5;
constexpr int NM_CUSTOMDRAW = -12;
constexpr int LVN_BEGINDRAG = -109;
constexpr int LVN_BEGINRDRAG = -111;
constexpr int TVN_BEGINDRAG = -407;
constexpr int TVN_BEGINRDRAG = -408;

// What the control is about to draw with: the painter of the paint under
// way, the selected font and the text colours. A handler that changes them
// (through the custom-draw answers) changes what the control draws.
struct TDrawContext {
    QPainter* Painter = nullptr;
    TFont Font;
    COLORREF TextColor = 0;
    COLORREF BkColor = 0xFFFFFF;
};
using HDC_CD = TDrawContext*;
inline COLORREF GetTextColor(HDC_CD dc) { return dc ? dc->TextColor : 0; }
inline COLORREF GetBkColor(HDC_CD dc) { return dc ? dc->BkColor : 0; }

// Draw stages.
constexpr DWORD CDDS_PREPAINT = 0x00000001;
constexpr DWORD CDDS_POSTPAINT = 0x00000002;
constexpr DWORD CDDS_PREERASE = 0x00000003;
constexpr DWORD CDDS_POSTERASE = 0x00000004;
constexpr DWORD CDDS_ITEM = 0x00010000;
constexpr DWORD CDDS_ITEMPREPAINT = CDDS_ITEM | CDDS_PREPAINT;
constexpr DWORD CDDS_ITEMPOSTPAINT = CDDS_ITEM | CDDS_POSTPAINT;
constexpr DWORD CDDS_ITEMPREERASE = CDDS_ITEM | CDDS_PREERASE;
constexpr DWORD CDDS_ITEMPOSTERASE = CDDS_ITEM | CDDS_POSTERASE;
constexpr DWORD CDDS_SUBITEM = 0x00020000;

// Answers.
constexpr LRESULT CDRF_DODEFAULT = 0x00;
constexpr LRESULT CDRF_NEWFONT = 0x02;
constexpr LRESULT CDRF_SKIPDEFAULT = 0x04;
constexpr LRESULT CDRF_NOTIFYPOSTPAINT = 0x10;
constexpr LRESULT CDRF_NOTIFYITEMDRAW = 0x20;
constexpr LRESULT CDRF_NOTIFYSUBITEMDRAW = 0x20;
constexpr LRESULT CDRF_NOTIFYPOSTERASE = 0x40;

// Item states.
constexpr UINT CDIS_SELECTED = 0x0001;
constexpr UINT CDIS_FOCUS = 0x0010;

struct NMCUSTOMDRAW {
    NMHDR hdr;
    DWORD dwDrawStage = 0;
    HDC_CD hdc = nullptr;
    TRect rc;
    ULONG_PTR dwItemSpec = 0;  // list: the row; tree: the node
    UINT uItemState = 0;
    LPARAM lItemlParam = 0;
};

struct NMLVCUSTOMDRAW {
    NMCUSTOMDRAW nmcd;
    COLORREF clrText = 0;
    COLORREF clrTextBk = 0;
    int iSubItem = 0;
};

struct NMTVCUSTOMDRAW {
    NMCUSTOMDRAW nmcd;
    COLORREF clrText = 0;
    COLORREF clrTextBk = 0;
    int iLevel = 0;
};

// Sends the pre-paint notification that starts a paint of a list or tree
// control (NMLVCUSTOMDRAW or NMTVCUSTOMDRAW) and answers the control's reply.
template <class NMCustomDraw> LRESULT SendPrePaint(TControl& control)
{
    TDrawContext dc;
    dc.Font.Assign(control.Font());
    dc.TextColor = ColorToRGB(clWindowText);
    dc.BkColor = ColorToRGB(clWindow);
    NMCustomDraw nm;
    nm.nmcd.hdr.hwndFrom = control.Handle();
    nm.nmcd.hdr.code = NM_CUSTOMDRAW;
    nm.nmcd.dwDrawStage = CDDS_PREPAINT;
    nm.nmcd.hdc = &dc;
    nm.nmcd.rc = control.ClientRect();
    nm.clrText = dc.TextColor;
    nm.clrTextBk = dc.BkColor;
    return control.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
}

// Header item formats.
constexpr int HDF_LEFT = 0x0000;
constexpr int HDF_RIGHT = 0x0001;
constexpr int HDF_CENTER = 0x0002;
constexpr int HDF_JUSTIFYMASK = 0x0003;
constexpr int HDF_SORTDOWN = 0x0200;
constexpr int HDF_SORTUP = 0x0400;
constexpr int HDF_STRING = 0x4000;
constexpr int HDF_OWNERDRAW = 0x8000;

// Owner drawing: the kind of control, what to draw, and the item's state
// (the class library's TOwnerDrawState).
constexpr UINT ODT_MENU = 1;
constexpr UINT ODT_COMBOBOX = 3;
constexpr UINT ODT_HEADER = 100;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_GRAYED = 0x0002;
constexpr UINT ODS_FOCUS = 0x0010;
constexpr UINT ODS_COMBOBOXEDIT = 0x1000;
struct DRAWITEMSTRUCT {
    UINT CtlType = 0;
    UINT CtlID = 0;
    UINT itemID = 0;
    UINT itemAction = 0;
    UINT itemState = 0;
    HWND hwndItem = 0;
    HDC_CD hDC = nullptr;
    TRect rcItem;
    ULONG_PTR itemData = 0;
};

// Text drawing flags.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_END_ELLIPSIS = 0x8000;

// Draws one line of text in the rectangle with the canvas's font and font
// colour, cut with an ellipsis when asked; with DT_CALCRECT only measures and
// sets the rectangle's right and bottom to the text's extent. Returns the height.
int DrawText(TCanvas& canvas, const std::string& text, TRect& rect, UINT format);
