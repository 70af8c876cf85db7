// What the shell tree and list share for their commands: building a shell
// context menu for items of a folder and invoking its commands by offset or
// by verb, the menu messages of a shown menu, a new folder with a unique
// name, the default keys and the conversion between shortcut codes and
// their texts, and small helpers. Everything runs on the user-interface
// thread.
#pragma once

#include "shell/ptshutils.h"

#include "ole/ole2.h"
#include "vcl/controls.h"
#include "vcl/winmenus.h"

#include <functional>
#include <string>
#include <vector>

// Command identifiers of a control's shell menu: the shell's commands from
// 1000 on; offset 18 is the shell's rename command, which the controls turn
// into editing the name in place. Identifiers below 1000 are the Send To
// entries of the menu.
constexpr UINT PTSH_FIRST_COMMAND = 1000;
constexpr UINT PTSH_LAST_COMMAND = 0x7FFF;
constexpr UINT PTSH_RENAME_OFFSET = 18;

// Message 1126: edit the name of the folder just created (the list).
constexpr UINT AM_DEFERREDEDIT = WM_USER + 102;

using TPTShPopupHintEvent = std::function<void(TObject* sender, const std::string& hint)>;

// ---- context menus ----

// Asks the folder for the items' context menu and fills a new popup menu
// with it (commands from firstId to 0x7FFF). Both outs are nil first; the
// folder's GetUIObjectOf failure is returned as it is; a failing fill raises
// EOleSysError after releasing the menu object and destroying the menu.
HRESULT ShellCreateContextMenu(HWND owner, IShellFolder* folder, UINT count, LPCITEMIDLIST* items, UINT firstId,
    UINT flags, HMENU& menu, IContextMenu*& contextMenu);
HRESULT InvokeContextMenuCommand(HWND owner, IContextMenu* contextMenu, UINT offset);
// The offset of the first command whose verb is the text (without regard to
// case); -1 when the menu has no such command.
int FindContextMenuVerb(IContextMenu* contextMenu, const std::string& verb);
// Invokes the command with the verb. A verb the menu lacks runs nothing and
// answers E_INVALIDARG (the menu does not offer it, for instance "paste"
// with nothing to paste).
HRESULT InvokeContextMenuVerb(HWND owner, IContextMenu* contextMenu, const std::string& verb);
HRESULT InvokeContextMenuVerb(HWND owner, IContextMenu* contextMenu, UINT offset);

// Menu messages while a control's shell menu is shown (context menu nil
// while none is). WM_INITMENUPOPUP goes to a menu that handles messages
// (IContextMenu2); WM_MENUSELECT gives the hint callback the shell's help
// text of the command under the pointer, or an empty one.
// Without IContextMenu2 the library fills, measures, draws and selects the
// Send To entries itself: an opening submenu that is one greyed item is the
// Send To placeholder, replaced by one owner-drawn item per entry (command
// position + 1, item data the position). The handlers never let an
// exception out.
void HandleMenuInitPopup(TMessage& message, IContextMenu* contextMenu);
void HandleMenuDrawItem(TMessage& message, IContextMenu* contextMenu, HIMAGELIST smallImages);
void HandleMenuMeasureItem(TMessage& message, IContextMenu* contextMenu);
// A letter no item's mnemonic takes: the next Send To entry after the
// highlighted one that starts with it (without regard to case) is run when
// it is the only one, selected when more entries start with it; none closes
// the menu.
void HandleMenuChar(TMessage& message, IContextMenu* contextMenu);
void HandleMenuSelect(TMessage& message, IContextMenu* contextMenu, TObject* control, const TPTShPopupHintEvent& hint);

// ---- Send To ----

struct TPTSendToEntry {
    std::string Name;  // the file's name in the Send To folder
    int IconIndex;     // in the small system image list; -1 when unknown
};
// The Send To entries shared by every control, sorted by name without regard
// to case; null until a Send To submenu first opened. The list is filled
// anew each time one opens, so an entry added or removed meanwhile shows.
const std::vector<TPTSendToEntry>* PTSendToList();
// Adds every file of the folder matching each mask that is neither a folder
// nor hidden, with its small icon; a name listed already is not added twice.
void CollectSendToFiles(const std::string& folder, const std::vector<std::string>& masks);
// Drops the items on the Send To entry, as a copy with the left button: a
// link to a folder copies them there, an application is started with them.
// Raises when the entry cannot be found or takes no drops; the drop itself
// reports its own failures.
void SendToTarget(const std::string& name, IDataObject* data);

// ---- new folder ----

// Creates "New Folder", "New Folder (2)" ... or, when those fail, "fldr",
// "fldr2" ... in the folder (the current folder when empty); true with the
// new folder's name. Each failure but an existing name is shown to the user.
bool PTShCreateNewFolder(const std::string& folder, std::string& name);
// Waits under the hourglass on the program's clock (a test's clock moves on
// by the time instead).
void BusySleep(unsigned milliseconds);

// ---- keys ----

struct TPTShellControlDefKeyRec {
    const char* Text;
    WORD ShortCut;
};
enum TPTShellDefKey { ptdkSelectAll, ptdkDelete, ptdkCopy, ptdkCut, ptdkPaste, ptdkRefresh, ptdkEdit, ptdkCount };
// The default key table, its codes computed from the texts once.
const TPTShellControlDefKeyRec* PTShellDefaultKeys();
void InitDefaultKeyTable();

bool ConsumeKeyPrefix(std::string& text, const std::string& prefix);
std::string KeyCodeToText(WORD code);
WORD TextToKeyCode(const std::string& text);
// The shortcut code of a key and its shift state.
WORD ShortCutOf(WORD key, TShiftState shift);

// ---- helpers ----

[[noreturn]] void RaiseShellError(DWORD code);
// The window of the control's outermost parent when that is a form.
HWND GetTopFormHandle(TControl* control);
// Runs a user's command: an error it raises is shown by the application
// object (a silent abort is not), never let out into the event loop.
void PTRunCommand(const std::function<void()>& command);
// The text without its leading and trailing blanks (a name typed in an edit).
std::string PTTrimBlanks(const std::string& text);
