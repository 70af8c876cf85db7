#include "shell/ptshmenus.h"

#include "shell/ptshconsts.h"

#include "kernel/kernel.h"
#include "rtl/clock.h"
#include "rtl/unicode.h"
#include "vcl/graphics.h"
#include "vcl/comctrls.h"
#include "vcl/forms.h"

#include <algorithm>
#include <cctype>
#include <strings.h>
#include <chrono>
#include <memory>
#include <thread>

// ---- context menus ----

HRESULT ShellCreateContextMenu(HWND owner, IShellFolder* folder, UINT count, LPCITEMIDLIST* items, UINT firstId,
    UINT flags, HMENU& menu, IContextMenu*& contextMenu)
{
    menu = nullptr;
    contextMenu = nullptr;
    if (!folder)
        return E_INVALIDARG;
    void* object = nullptr;
    HRESULT hr = folder->GetUIObjectOf(owner, count, items, IID_IContextMenu, nullptr, &object);
    if (FAILED(hr))
        return hr;
    contextMenu = static_cast<IContextMenu*>(object);
    menu = CreatePopupMenu();
    if (!menu)
        return S_OK;
    try {
        hr = contextMenu->QueryContextMenu(menu, 0, firstId, PTSH_LAST_COMMAND, flags);
        OleCheck(hr);
    } catch (...) {
        contextMenu->Release();
        contextMenu = nullptr;
        DestroyMenu(menu);
        menu = nullptr;
        throw;
    }
    return hr;
}

HRESULT InvokeContextMenuCommand(HWND owner, IContextMenu* contextMenu, UINT offset)
{
    if (!contextMenu)
        return E_INVALIDARG;
    CMINVOKECOMMANDINFO info {};
    info.cbSize = 36;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return contextMenu->InvokeCommand(&info);
}

namespace {

int FindVerbIn(IContextMenu* contextMenu, HMENU menu, const std::string& verb)
{
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (HMENU sub = GetSubMenu(menu, i)) {
            if (const int found = FindVerbIn(contextMenu, sub, verb); found >= 0)
                return found;
            continue;
        }
        const UINT id = GetMenuItemID(menu, i);
        if (id == static_cast<UINT>(-1) || id < PTSH_FIRST_COMMAND)
            continue;
        char name[MAX_PATH] = {};
        if (FAILED(contextMenu->GetCommandString(id - PTSH_FIRST_COMMAND, GCS_VERBA, nullptr, name, MAX_PATH)))
            continue;
        if (SameText(name, verb))
            return static_cast<int>(id - PTSH_FIRST_COMMAND);
    }
    return -1;
}

} // namespace

int FindContextMenuVerb(IContextMenu* contextMenu, const std::string& verb)
{
    if (!contextMenu)
        return -1;
    HMENU menu = CreatePopupMenu();
    struct Destroy {
        HMENU m;
        ~Destroy() { DestroyMenu(m); }
    } destroy {menu};
    OleCheck(contextMenu->QueryContextMenu(menu, 0, PTSH_FIRST_COMMAND, PTSH_LAST_COMMAND, CMF_EXPLORE));
    return FindVerbIn(contextMenu, menu, verb);
}

HRESULT InvokeContextMenuVerb(HWND owner, IContextMenu* contextMenu, const std::string& verb)
{
    const int offset = FindContextMenuVerb(contextMenu, verb);
    if (offset < 0)
        return E_INVALIDARG;
    return InvokeContextMenuCommand(owner, contextMenu, static_cast<UINT>(offset));
}

HRESULT InvokeContextMenuVerb(HWND owner, IContextMenu* contextMenu, UINT offset)
{
    return InvokeContextMenuCommand(owner, contextMenu, offset);
}

namespace {

std::unique_ptr<std::vector<TPTSendToEntry>> g_sendTo;

// The menu's shell extension when it handles menu messages itself; null
// when the library handles them.
TComPtr<IContextMenu2> MenuHandler(IContextMenu* contextMenu)
{
    void* object = nullptr;
    if (!contextMenu || FAILED(contextMenu->QueryInterface(IID_IContextMenu2, &object)) || !object)
        return {};
    return TComPtr<IContextMenu2>::Adopt(static_cast<IContextMenu2*>(object));
}

// The Send To entry an owner-drawn item stands for; null for other items.
const TPTSendToEntry* SendToEntryOf(ULONG_PTR itemData)
{
    if (!g_sendTo || itemData >= PTSH_FIRST_COMMAND || itemData >= g_sendTo->size())
        return nullptr;
    return &(*g_sendTo)[itemData];
}

// An entry's caption: its file name without the extension.
std::string CaptionOf(const TPTSendToEntry& entry)
{
    const size_t dot = entry.Name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? entry.Name : entry.Name.substr(0, dot);
}

// The first character of a text, ASCII letters in upper case, as UTF-8.
std::string FirstCharUpper(const std::string& text)
{
    if (text.empty())
        return {};
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::string first = text.substr(0, length);
    if (length == 1)
        first[0] = static_cast<char>(std::toupper(lead));
    return first;
}

void FillSendToMenu(HMENU menu)
{
    if (!g_sendTo)
        g_sendTo = std::make_unique<std::vector<TPTSendToEntry>>();
    g_sendTo->clear();
    DeleteMenu(menu, 0, MF_BYPOSITION);
    CollectSendToFiles(ShellGetSpecialFolderPath(0, csidlSendTo), {"*"});
    for (size_t i = 0; i < g_sendTo->size(); ++i)
        AppendMenuA(menu, MF_OWNERDRAW, i + 1, reinterpret_cast<const char*>(static_cast<ULONG_PTR>(i)));
    // An empty folder keeps a placeholder, so the menu does not shrink to
    // nothing and the next opening looks again.
    if (g_sendTo->empty())
        AppendMenuA(menu, MF_STRING | MF_GRAYED, 0, "(empty)");
}

// Whether the menu is a filled Send To submenu: one owner-drawn item per
// entry, in order. Letters typed in other menus are none of its business.
bool IsSendToMenu(HMENU menu)
{
    if (!g_sendTo || g_sendTo->empty() || GetMenuItemCount(menu) != static_cast<int>(g_sendTo->size()))
        return false;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        if (GetMenuItemID(menu, i) != static_cast<UINT>(i + 1)
            || !(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_OWNERDRAW))
            return false;
    return true;
}

} // namespace

const std::vector<TPTSendToEntry>* PTSendToList() { return g_sendTo.get(); }

void CollectSendToFiles(const std::string& folder, const std::vector<std::string>& masks)
{
    if (!g_sendTo)
        g_sendTo = std::make_unique<std::vector<TPTSendToEntry>>();
    const std::string base = EnsureTrailingCharDB(folder, '/');
    for (const std::string& mask : masks) {
        WIN32_FIND_DATAA found {};
        HANDLE find = FindFirstFileA(base + mask, &found);
        if (find == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN))
                continue;
            const std::string name = found.cFileName;
            auto at = std::lower_bound(g_sendTo->begin(), g_sendTo->end(), name,
                [](const TPTSendToEntry& e, const std::string& n) { return strcasecmp(e.Name.c_str(), n.c_str()) < 0; });
            if (at != g_sendTo->end() && SameText(at->Name, name))
                continue;  // a sorted list ignores duplicates
            int icon = -1;
            LPITEMIDLIST list = nullptr;
            if (SUCCEEDED(ShellGetIdListFromPath(base + name, list)) && list) {
                icon = ShellGetIconIndex(list, SHGFI_SMALLICON);
                ShellMemFree(list);
            }
            g_sendTo->insert(at, TPTSendToEntry {name, icon});
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
}

namespace {

// A menu message goes to the item menu's own handler when it has one, and
// otherwise to ours. No exception leaves the menu's loop.
template <class OwnHandling>
void RouteMenuMessage(TMessage& message, IContextMenu* contextMenu, OwnHandling own)
{
    if (!contextMenu)
        return;
    try {
        if (TComPtr<IContextMenu2> handler = MenuHandler(contextMenu)) {
            handler->HandleMenuMsg(message.Msg, message.WParam, message.LParam);
            return;
        }
        own();
    } catch (...) {
    }
}

}  // namespace

void HandleMenuInitPopup(TMessage& message, IContextMenu* contextMenu)
{
    RouteMenuMessage(message, contextMenu, [&] {
        auto* menu = reinterpret_cast<HMENU>(message.WParam);
        if (GetMenuItemCount(menu) == 1 && (GetMenuState(menu, 0, MF_BYPOSITION) & MF_GRAYED))
            FillSendToMenu(menu);
    });
}

void HandleMenuDrawItem(TMessage& message, IContextMenu* contextMenu, HIMAGELIST smallImages)
{
    RouteMenuMessage(message, contextMenu, [&] {
        const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(message.LParam);
        if (!dis || dis->CtlType != ODT_MENU || !dis->hDC)
            return;
        const TPTSendToEntry* entry = SendToEntryOf(dis->itemData);
        if (!entry)
            return;
        TCanvas canvas;
        canvas.SetPainter(dis->hDC->Painter);
        struct Unbind {
            TCanvas& c;
            ~Unbind() { c.SetPainter(nullptr); }
        } unbind {canvas};
        GetMenuFont(canvas.Font());
        const bool selected = static_cast<int>(dis->itemID) >= 0 && (dis->itemState & ODS_SELECTED);
        canvas.Brush().SetColor(selected ? clHighlight : clMenu);
        canvas.Font().SetColor(selected ? clHighlightText : clMenuText);
        if (static_cast<int>(dis->itemID) < 0) {
            canvas.FillRect(dis->rcItem);
        } else {
            canvas.TextRect(dis->rcItem, dis->rcItem.Left + 32, dis->rcItem.Top + 2, CaptionOf(*entry));
            if (entry->IconIndex >= 0)
                ImageList_Draw(smallImages, entry->IconIndex, canvas, dis->rcItem.Left + 8, dis->rcItem.Top + 2,
                    ILD_NORMAL);
        }
        message.Result = TRUE;
    });
}

void HandleMenuMeasureItem(TMessage& message, IContextMenu* contextMenu)
{
    RouteMenuMessage(message, contextMenu, [&] {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(message.LParam);
        if (!mis || mis->CtlType != ODT_MENU)
            return;
        const TPTSendToEntry* entry = SendToEntryOf(mis->itemData);
        if (!entry)
            return;
        TCanvas measure;
        GetMenuFont(measure.Font());
        mis->itemWidth = static_cast<UINT>(measure.TextWidth(CaptionOf(*entry)) + 32);
        mis->itemHeight = static_cast<UINT>(GetMenuLineHeight() + 2);
        message.Result = TRUE;
    });
}

void HandleMenuChar(TMessage& message, IContextMenu* contextMenu)
{
    RouteMenuMessage(message, contextMenu, [&] {
        auto* menu = reinterpret_cast<HMENU>(message.LParam);
        if (HIWORD(message.WParam) != MF_POPUP || !IsSendToMenu(menu))
            return;
        std::string typedText;
        AppendUtf8(typedText, static_cast<char32_t>(LOWORD(message.WParam)));
        const std::string typed = FirstCharUpper(typedText);
        size_t highlighted = 0;
        for (int i = 0; i < GetMenuItemCount(menu); ++i)
            if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MFS_HILITE) {
                highlighted = static_cast<size_t>(i);
                break;
            }
        const std::vector<TPTSendToEntry>& entries = *g_sendTo;
        const size_t n = entries.size();
        // Case-insensitive both when searching and when counting, so that
        // two entries starting with "a" and "A" count as two.
        auto starts = [&](size_t i) { return FirstCharUpper(CaptionOf(entries[i])) == typed; };
        size_t found = n;
        for (size_t k = 1; k <= n && found == n; ++k)
            if (const size_t i = (highlighted + k) % n; starts(i))
                found = i;
        if (found == n) {
            message.Result = static_cast<LRESULT>(MAKELPARAM(0, MNC_CLOSE));
            return;
        }
        const auto count = std::count_if(entries.begin(), entries.end(),
            [&](const TPTSendToEntry& e) { return FirstCharUpper(CaptionOf(e)) == typed; });
        message.Result = static_cast<LRESULT>(MAKELPARAM(static_cast<UINT>(found), count > 1 ? MNC_SELECT : MNC_EXECUTE));
    });
}

void SendToTarget(const std::string& name, IDataObject* data)
{
    const std::string folder = ShellGetSpecialFolderPath(0, csidlSendTo);
    if (folder.empty())
        RaiseShellError(ERROR_PATH_NOT_FOUND);
    LPITEMIDLIST list = nullptr;
    OleCheck(ShellGetIdListFromPath(EnsureTrailingCharDB(folder, '/') + name, list));
    void* object = nullptr;
    const HRESULT hr = ShellGetUIObjectOfIdList(list, IID_IDropTarget, &object);
    ShellMemFree(list);
    OleCheck(hr);
    TComPtr<IDropTarget> target = TComPtr<IDropTarget>::Adopt(static_cast<IDropTarget*>(object));
    DWORD effect = DROPEFFECT_COPY;
    const POINTL origin {0, 0};
    target->DragEnter(data, MK_LBUTTON, origin, &effect);
    target->DragOver(MK_LBUTTON, origin, &effect);
    TScreenCursorGuard hourGlass;
    target->Drop(data, MK_LBUTTON, origin, &effect);
}

void HandleMenuSelect(TMessage& message, IContextMenu* contextMenu, TObject* control, const TPTShPopupHintEvent& hint)
{
    if (!contextMenu || !hint)
        return;
    const UINT id = LOWORD(message.WParam);
    const UINT flags = HIWORD(message.WParam);
    std::string text;
    if (id >= PTSH_FIRST_COMMAND && !(flags & (MF_POPUP | MF_SYSMENU))) {
        char help[MAX_PATH] = {};
        if (SUCCEEDED(contextMenu->GetCommandString(id - PTSH_FIRST_COMMAND, GCS_HELPTEXTA, nullptr, help, MAX_PATH)))
            text = help;
    }
    hint(control, text);
}

// ---- new folder ----

namespace {

// Tries one series of names; true when a folder was made. An error other
// than an existing name is shown and ends the series.
bool TrySeries(const std::string& folder, const std::function<std::string(int)>& nameOf, std::string& name)
{
    for (int n = 1; n <= PTSH_MAX_FOLDER_ATTEMPTS; ++n) {
        const std::string candidate = nameOf(n);
        if (CreateDirectoryA(folder + candidate)) {
            name = candidate;
            return true;
        }
        const DWORD err = GetLastError();
        if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)
            continue;
        Application->MessageBox(FormatStrPos(PTLoadStr(SUnableToCreateFolder), {SysErrorMessage(err), candidate}, 1),
            Application->Title(), MB_OK | MB_ICONWARNING);
        return false;
    }
    return false;
}

} // namespace

bool PTShCreateNewFolder(const std::string& folder, std::string& name)
{
    const std::string path = EnsureTrailingCharDB(folder.empty() ? GetCurrentDirectoryA() : folder, '/');
    const std::string first = PTLoadStr(SNewFolder);
    if (TrySeries(path, [&](int n) { return n == 1 ? first : first + " (" + std::to_string(n) + ")"; }, name))
        return true;
    if (TrySeries(path, [](int n) { return n == 1 ? std::string("fldr") : "fldr" + std::to_string(n); }, name))
        return true;
    Application->MessageBox(FormatStrPos(PTLoadStr(SUnableToCreateFolder), {SysErrorMessage(ERROR_ALREADY_EXISTS), first}, 1),
        Application->Title(), MB_OK | MB_ICONWARNING);
    return false;
}

void BusySleep(unsigned milliseconds)
{
    TScreenCursorGuard hourGlass;
    Clock& clock = CurrentClock();
    if (clock.IsManual()) {
        static_cast<ManualClock&>(clock).Advance(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- keys ----

namespace {

constexpr WORD kShift = 0x2000, kCtrl = 0x4000, kAlt = 0x8000;

std::string KeyName(unsigned key)
{
    struct Named {
        unsigned key;
        const char* name;
    };
    static constexpr Named names[] = {{8, "BkSp"}, {9, "Tab"}, {13, "Enter"}, {27, "Esc"}, {32, "Space"},
        {33, "PgUp"}, {34, "PgDn"}, {35, "End"}, {36, "Home"}, {37, "Left"}, {38, "Up"}, {39, "Right"},
        {40, "Down"}, {45, "Ins"}, {46, "Del"}};
    for (const Named& n : names)
        if (n.key == key)
            return n.name;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return std::string(1, static_cast<char>(key));
    if (key >= 96 && key <= 105)
        return std::string(1, static_cast<char>('0' + key - 96));
    if (key >= 112 && key <= 135)
        return "F" + std::to_string(key - 111);
    return {};
}

} // namespace

bool ConsumeKeyPrefix(std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size() || !SameText(text.substr(0, prefix.size()), prefix))
        return false;
    text.erase(0, prefix.size());
    return true;
}

std::string KeyCodeToText(WORD code)
{
    std::string text;
    if (code & kShift)
        text += "Shift+";
    if (code & kCtrl)
        text += "Ctrl+";
    if (code & kAlt)
        text += "Alt+";
    const std::string name = KeyName(code & 0xFF);
    return text + (name.empty() ? "#" + std::to_string(code) : name);
}

WORD TextToKeyCode(const std::string& textIn)
{
    std::string text = textIn;
    WORD modifiers = 0;
    for (;;) {
        if (ConsumeKeyPrefix(text, "Shift+"))
            modifiers |= kShift;
        else if (ConsumeKeyPrefix(text, "^") || ConsumeKeyPrefix(text, "Ctrl+"))
            modifiers |= kCtrl;
        else if (ConsumeKeyPrefix(text, "Alt+"))
            modifiers |= kAlt;
        else
            break;
    }
    if (text.empty())
        return 0;
    for (unsigned code = 8; code <= 597; ++code)
        if (SameText(text, KeyCodeToText(static_cast<WORD>(code & 0xFF))))
            return static_cast<WORD>((code & 0xFF) | modifiers);
    return 0;
}

WORD ShortCutOf(WORD key, TShiftState shift)
{
    WORD code = key & 0xFF;
    if (shift & ssShift)
        code |= kShift;
    if (shift & ssCtrl)
        code |= kCtrl;
    if (shift & ssAlt)
        code |= kAlt;
    return code;
}

namespace {

TPTShellControlDefKeyRec g_defaultKeys[ptdkCount] = {
    {SShKey_SelectAll, 0}, {SShKey_Delete, 0}, {SShKey_Copy, 0}, {SShKey_Cut, 0},
    {SShKey_Paste, 0}, {SShKey_Refresh, 0}, {SShKey_Edit, 0},
};
bool g_defaultKeysReady = false;

} // namespace

void InitDefaultKeyTable()
{
    if (g_defaultKeysReady)
        return;
    for (TPTShellControlDefKeyRec& rec : g_defaultKeys)
        rec.ShortCut = TextToKeyCode(PTLoadStr(rec.Text));
    g_defaultKeysReady = true;
}

const TPTShellControlDefKeyRec* PTShellDefaultKeys()
{
    InitDefaultKeyTable();
    return g_defaultKeys;
}

// ---- helpers ----

void RaiseShellError(DWORD code) { throw Exception(SysErrorMessage(code)); }

HWND GetTopFormHandle(TControl* control)
{
    if (!control)
        return 0;
    // A tab page belongs to its page control, which holds it without being
    // its parent control: the walk goes on there.
    auto up = [](TControl* c) -> TControl* {
        if (c->Parent())
            return c->Parent();
        auto* page = dynamic_cast<TTabSheet*>(c);
        return page ? page->PageControl() : nullptr;
    };
    TControl* top = control;
    while (TControl* next = up(top))
        top = next;
    auto* form = dynamic_cast<TForm*>(top);
    return form ? form->Handle() : 0;
}

void PTRunCommand(const std::function<void()>& command)
{
    try {
        command();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        if (Application)
            Application->ShowException(e);
    }
}

std::string PTTrimBlanks(const std::string& text)
{
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_last_not_of(' ') - start + 1);
}
