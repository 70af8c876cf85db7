// The system's menu functions over Qt menus: pop-up menus built item by item
// (string, pop-up, greyed and separator items, a default item), read back by
// position or command, and shown with TrackPopupMenu. While a menu is shown
// its owner window receives WM_INITMENUPOPUP before each (sub)menu opens and
// WM_MENUSELECT as the pointer or the keyboard moves over the items, and a
// WM_MENUSELECT with the closing code when the menu goes away. Owner-drawn
// items (MF_OWNERDRAW) are measured and painted by the owner through
// WM_MEASUREITEM and WM_DRAWITEM (a canvas on the menu's painter), and a
// letter that no item's mnemonic matches is offered to the owner as
// WM_MENUCHAR, whose MNC_ answer the menu obeys.
#pragma once

#include "commctrl.h"
#include "graphics.h"
#include "messages.h"

#include <string>

class QMenu;

struct WinMenu;
using HMENU = WinMenu*;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_HILITE = 0x0080;
constexpr UINT MF_OWNERDRAW = 0x0100;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_DEFAULT = 0x1000;
constexpr UINT MF_SYSMENU = 0x2000;
constexpr UINT MF_MOUSESELECT = 0x8000;
constexpr UINT MFS_GRAYED = 0x0003;
constexpr UINT MFS_HILITE = MF_HILITE;
constexpr UINT MFS_DEFAULT = MF_DEFAULT;

constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

constexpr UINT GMDI_USEDISABLED = 0x0001;

constexpr UINT WM_MEASUREITEM = 0x002C;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_MENUCHAR = 0x0120;

// Owner drawing of menu items: the size the owner gives an item.
struct MEASUREITEMSTRUCT {
    UINT CtlType = 0;
    UINT CtlID = 0;
    UINT itemID = 0;
    UINT itemWidth = 0;
    UINT itemHeight = 0;
    ULONG_PTR itemData = 0;
};

// The answers to WM_MENUCHAR (high word; the low word is an item position).
constexpr UINT MNC_IGNORE = 0;
constexpr UINT MNC_CLOSE = 1;
constexpr UINT MNC_EXECUTE = 2;
constexpr UINT MNC_SELECT = 3;

constexpr WPARAM MAKEWPARAM(UINT low, UINT high) { return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16)); }
constexpr LPARAM MAKELPARAM(UINT low, UINT high) { return static_cast<LPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16)); }
constexpr UINT LOWORD(std::uintptr_t v) { return static_cast<UINT>(v & 0xFFFF); }
constexpr UINT HIWORD(std::uintptr_t v) { return static_cast<UINT>((v >> 16) & 0xFFFF); }

HMENU CreatePopupMenu();
// Destroys the menu and every submenu it holds; false for a handle that
// names no menu.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);

// With MF_POPUP the item argument is the submenu's handle (the menu then
// owns it), otherwise the command identifier. A position of (UINT)-1 appends.
// With MF_OWNERDRAW the text argument is the item's data, handed back in
// WM_MEASUREITEM and WM_DRAWITEM.
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR item, const char* text);
BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR item, const char* text);
// DeleteMenu destroys a submenu it removes; RemoveMenu hands it back to the caller.
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags);
BOOL RemoveMenu(HMENU menu, UINT item, UINT flags);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);

int GetMenuItemCount(HMENU menu);
// The command identifier at the position; (UINT)-1 for a submenu or no item.
UINT GetMenuItemID(HMENU menu, int position);
HMENU GetSubMenu(HMENU menu, int position);
// The item's MF_ flags (a submenu: its item count in the high byte with
// MF_POPUP), MF_HILITE while it is the shown menu's active item; (UINT)-1
// when there is no such item.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// Copies the item's text (at most size - 1 bytes) and answers its length.
int GetMenuStringA(HMENU menu, UINT item, char* text, int size, UINT flags);
BOOL SetMenuDefaultItem(HMENU menu, UINT item, UINT byPosition);
// The default item's identifier (or position), (UINT)-1 when there is none.
UINT GetMenuDefaultItem(HMENU menu, UINT byPosition, UINT flags);

// Shows the menu at the screen point and runs its loop. With TPM_RETURNCMD
// the answer is the chosen command (0 when the menu was cancelled);
// otherwise the choice is posted to the owner as WM_COMMAND and the answer
// is non-zero unless the menu could not be shown.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const void* rect);
// Closes the menu being tracked, as a cancel.
BOOL EndMenu();

// The font of the system's menus and the height of one menu line, for
// owners that measure and draw their own items.
void GetMenuFont(TFont& font);
int GetMenuLineHeight();

// The menu being tracked and the Qt menu that shows one of its (sub)menus,
// for code that drives a menu as the user would (tests); null when none.
HMENU TrackedMenu();
QMenu* MenuWidget(HMENU menu);
