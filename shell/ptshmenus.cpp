#include "shell/ptshmenus.h"

#include "shell/ptshconsts.h"

#include "kernel/kernel.h"
#include "rtl/clock.h"
#include "vcl/forms.h"

#include <algorithm>
#include <cctype>
#include <chrono>
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

void HandleMenuInitPopup(TMessage& message, IContextMenu* contextMenu)
{
    if (!contextMenu)
        return;
    try {
        void* object = nullptr;
        if (SUCCEEDED(contextMenu->QueryInterface(IID_IContextMenu2, &object)) && object) {
            auto* menu2 = static_cast<IContextMenu2*>(object);
            menu2->HandleMenuMsg(message.Msg, message.WParam, message.LParam);
            menu2->Release();
        }
    } catch (...) {
        // A menu message never lets an exception out of the menu's loop.
    }
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
    TControl* top = control;
    while (top->Parent())
        top = top->Parent();
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
