// The context menu of file-system items:
//
//   Open                  "open" (the default item)
//   Open With  >          one entry per installed application for the type
//   ---
//   Send To    >          one greyed placeholder, which the controls replace
//                         with the entries of the Send To folder as it opens
//   ---
//   Cut                   "cut"     (items that can move)
//   Copy                  "copy"
//   Paste                 "paste"   (one folder, while the clipboard holds files)
//   ---
//   Delete                "delete"  (Shift held: for good, after asking)
//   Rename                "rename"  (one item, with CMF_CANRENAME; the controls
//                                    edit the name in place, so invoking it fails)
//   ---
//   Properties            "properties"
//
// There is no IContextMenu2: the controls handle the menu messages
// themselves. No other submenu is ever a single greyed item, the shape by
// which the controls know the Send To placeholder.
#include "shlmenu_p.h"

#include "shlapps.h"
#include "shlclip.h"
#include "shlfileop.h"
#include "shlui_p.h"

#include <QGuiApplication>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace shellmenu {

namespace {

struct Command {
    UINT offset;
    const char* verb;
    const char* caption;
    const char* help;
};

constexpr Command kCommands[] = {
    {kOpen, "open", "&Open", "Opens the selected items with their applications."},
    {kCut, "cut", "Cu&t", "Removes the selected items and puts them on the clipboard."},
    {kCopy, "copy", "&Copy", "Copies the selected items to the clipboard."},
    {kPaste, "paste", "&Paste", "Inserts the items on the clipboard into the selected folder."},
    {kDelete, "delete", "&Delete", "Moves the selected items to the trash (with Shift: deletes them for good)."},
    {kRename, "rename", "Rena&me", "Renames the selected item."},
    {kProperties, "properties", "P&roperties", "Shows the properties of the selected items."},
};

const Command* CommandAt(UINT offset)
{
    for (const Command& c : kCommands)
        if (c.offset == offset)
            return &c;
    return nullptr;
}

std::string EscapeAmpersands(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '&')
            out += '&';
    }
    return out;
}

bool ShiftHeld(const CMINVOKECOMMANDINFO* info)
{
    if (info->fMask & CMIC_MASK_SHIFT_DOWN)
        return true;
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance())
        && (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
}

class ItemMenu final : public TComObject<IContextMenu> {
public:
    explicit ItemMenu(std::vector<Item> items) : m_items(std::move(items)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IContextMenu}); }

    HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) override
    {
        if (!IsMenu(menu))
            return E_INVALIDARG;
        UINT at = indexMenu;
        UINT highest = 0;
        bool any = false;
        auto add = [&](HMENU into, UINT position, UINT offset, const std::string& caption) {
            if (idCmdFirst + offset > idCmdLast)
                return false;
            if (!InsertMenuA(into, position, MF_BYPOSITION | MF_STRING, idCmdFirst + offset, caption.c_str()))
                return false;
            highest = std::max(highest, offset);
            any = true;
            return true;
        };
        auto separator = [&] {
            if (any && InsertMenuA(menu, at, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr))
                ++at;
        };
        const bool defaultOnly = flags & CMF_DEFAULTONLY;
        if (add(menu, at, kOpen, CommandAt(kOpen)->caption)) {
            SetMenuDefaultItem(menu, at, TRUE);
            ++at;
        }
        if (defaultOnly)
            return MAKE_HRESULT_SUCCESS(static_cast<int>(highest + 1));
        const std::vector<ShellApp>& apps = Apps();
        if (!apps.empty()) {
            HMENU sub = CreatePopupMenu();
            for (size_t i = 0; i < apps.size() && i < kOpenWithCount; ++i)
                add(sub, static_cast<UINT>(-1), kOpenWithFirst + static_cast<UINT>(i), EscapeAmpersands(apps[i].name));
            if (GetMenuItemCount(sub) > 0 && InsertMenuA(menu, at, MF_BYPOSITION | MF_POPUP,
                                                  reinterpret_cast<UINT_PTR>(sub), "Open &With"))
                ++at;
            else
                DestroyMenu(sub);
        }
        separator();
        if (idCmdFirst + kSendToPlaceholder <= idCmdLast) {
            HMENU sendTo = CreatePopupMenu();
            AppendMenuA(sendTo, MF_STRING | MF_GRAYED, idCmdFirst + kSendToPlaceholder, "(empty)");
            if (InsertMenuA(menu, at, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sendTo), "Se&nd To")) {
                ++at;
                highest = std::max(highest, kSendToPlaceholder);
                separator();
            } else {
                DestroyMenu(sendTo);
            }
        }
        if (All(SFGAO_CANMOVE) && add(menu, at, kCut, CommandAt(kCut)->caption))
            ++at;
        if (All(SFGAO_CANCOPY) && add(menu, at, kCopy, CommandAt(kCopy)->caption))
            ++at;
        if (m_items.size() == 1 && (m_items[0].attributes & SFGAO_FOLDER) && ShellClipboardHasFiles()
            && add(menu, at, kPaste, CommandAt(kPaste)->caption))
            ++at;
        separator();
        if (All(SFGAO_CANDELETE) && add(menu, at, kDelete, CommandAt(kDelete)->caption))
            ++at;
        if ((flags & CMF_CANRENAME) && m_items.size() == 1 && All(SFGAO_CANRENAME)
            && add(menu, at, kRename, CommandAt(kRename)->caption))
            ++at;
        separator();
        if (add(menu, at, kProperties, CommandAt(kProperties)->caption))
            ++at;
        return MAKE_HRESULT_SUCCESS(static_cast<int>(highest + 1));
    }

    HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT*, char* name, UINT cchMax) override
    {
        const UINT offset = static_cast<UINT>(idCmd);
        std::string verb, help;
        if (const Command* c = CommandAt(offset)) {
            verb = c->verb;
            help = c->help;
        } else if (offset >= kOpenWithFirst && offset - kOpenWithFirst < Apps().size()) {
            const ShellApp& app = Apps()[offset - kOpenWithFirst];
            verb = "openwith:" + app.id;
            help = "Opens the selected items with " + app.name + ".";
        } else {
            return E_INVALIDARG;
        }
        if (type == GCS_VALIDATEA)
            return S_OK;
        const std::string& text = type == GCS_VERBA ? verb : type == GCS_HELPTEXTA ? help : std::string();
        if (type != GCS_VERBA && type != GCS_HELPTEXTA)
            return E_INVALIDARG;
        if (!name || cchMax == 0)
            return E_POINTER;
        const size_t n = std::min<size_t>(text.size(), cchMax - 1);
        std::memcpy(name, text.data(), n);
        name[n] = 0;
        return S_OK;
    }

    HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) override
    {
        if (!info)
            return E_INVALIDARG;
        UINT offset;
        if (IS_INTRESOURCE(info->lpVerb)) {
            offset = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(info->lpVerb));
        } else if (!OffsetOfVerb(info->lpVerb, offset)) {
            return E_INVALIDARG;
        }
        const bool ui = !(info->fMask & CMIC_MASK_FLAG_NO_UI);
        std::string error;
        HRESULT hr = S_OK;
        switch (offset) {
        case kOpen:
            hr = Open(error);
            break;
        case kCut:
        case kCopy:
            if (!All(offset == kCut ? SFGAO_CANMOVE : SFGAO_CANCOPY))
                return E_INVALIDARG;
            return ShellSetClipboardFiles(Paths(), offset == kCut ? ShellClipOp::Cut : ShellClipOp::Copy)
                ? S_OK : E_FAIL;
        case kPaste:
            return Paste();
        case kDelete:
            return Delete(ShiftHeld(info));
        case kRename:
            // The name is edited where it is shown; there is nothing to run here.
            return E_NOTIMPL;
        case kProperties:
            shellui::ShowProperties(Paths());
            return S_OK;
        default:
            if (offset >= kOpenWithFirst && offset - kOpenWithFirst < Apps().size()) {
                if (!ShellLaunchApp(Apps()[offset - kOpenWithFirst], Paths(), error))
                    hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
                break;
            }
            return E_INVALIDARG;
        }
        if (FAILED(hr) && ui && !error.empty())
            shellui::Error(error, "Vistrel");
        return hr;
    }

private:
    bool All(ULONG attribute) const
    {
        return !m_items.empty()
            && std::all_of(m_items.begin(), m_items.end(), [&](const Item& i) { return (i.attributes & attribute) != 0; });
    }

    std::vector<std::string> Paths() const
    {
        std::vector<std::string> out;
        for (const Item& i : m_items)
            out.push_back(i.path);
        return out;
    }

    // Each item's type, found once per menu.
    const std::string& TypeOf(size_t i)
    {
        if (m_types.empty())
            for (const Item& item : m_items)
                m_types.push_back(ShellMimeTypeOf(item.path));
        return m_types[i];
    }

    // The applications of a type, asked once per menu: a selection of
    // thousands of files holds few types.
    const std::vector<ShellApp>& AppsOf(const std::string& type)
    {
        auto it = m_appsByType.find(type);
        if (it == m_appsByType.end())
            it = m_appsByType.emplace(type, ShellAppsForType(type)).first;
        return it->second;
    }

    // The applications that open every item, in the order of the first item's.
    const std::vector<ShellApp>& Apps()
    {
        if (m_appsKnown)
            return m_apps;
        m_appsKnown = true;
        std::vector<ShellApp> apps = AppsOf(TypeOf(0));
        std::set<std::string> seen {TypeOf(0)};
        for (size_t i = 1; i < m_items.size() && !apps.empty(); ++i) {
            if (!seen.insert(TypeOf(i)).second)
                continue;
            const std::vector<ShellApp>& these = AppsOf(TypeOf(i));
            apps.erase(std::remove_if(apps.begin(), apps.end(), [&](const ShellApp& a) {
                return std::none_of(these.begin(), these.end(), [&](const ShellApp& b) { return a.id == b.id; });
            }), apps.end());
        }
        m_apps = std::move(apps);
        return m_apps;
    }

    bool OffsetOfVerb(const char* verb, UINT& offset)
    {
        for (const Command& c : kCommands)
            if (!strcasecmp(verb, c.verb)) {
                offset = c.offset;
                return true;
            }
        const std::string text = verb;
        for (size_t i = 0; i < Apps().size(); ++i)
            if (text == "openwith:" + Apps()[i].id) {
                offset = kOpenWithFirst + static_cast<UINT>(i);
                return true;
            }
        return false;
    }

    // Each item with its type's default application; files of one
    // application go to it together. A program is never run: a text one
    // opens as text, another is refused. A type without an application
    // goes to xdg-open.
    HRESULT Open(std::string& error)
    {
        std::map<std::string, std::pair<ShellApp, std::vector<std::string>>> byApp;
        std::vector<std::string> toXdgOpen;
        for (size_t i = 0; i < m_items.size(); ++i) {
            const Item& item = m_items[i];
            std::string type = TypeOf(i);
            const bool program = ShellIsProgramType(type);
            if (program) {
                const auto types = ShellMimeTypeAndAncestors(type);
                if (std::find(types.begin(), types.end(), "text/plain") == types.end()) {
                    error = "\"" + item.path + "\" is a program. Vistrel does not run programs; "
                            "choose an application under Open With to open it.";
                    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
                }
                type = "text/plain";
            }
            if (const std::vector<ShellApp>& apps = AppsOf(type); !apps.empty()) {
                auto& entry = byApp[apps.front().id];
                entry.first = apps.front();
                entry.second.push_back(item.path);
            } else if (program) {
                error = "There is no application to open \"" + item.path + "\" as text.";
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            } else {
                toXdgOpen.push_back(item.path);
            }
        }
        for (const auto& [id, entry] : byApp)
            if (!ShellLaunchApp(entry.first, entry.second, error))
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        for (const std::string& path : toXdgOpen) {
            unsigned code = 0;
            if (!ShellSpawnDetached({"xdg-open", path}, "", code)) {
                error = "\"" + path + "\" cannot be opened: xdg-open cannot be started: " + SysErrorMessage(code) + ".";
                return HRESULT_FROM_WIN32(code);
            }
        }
        return S_OK;
    }

    HRESULT Paste()
    {
        if (m_items.size() != 1 || !(m_items[0].attributes & SFGAO_FOLDER))
            return E_INVALIDARG;
        std::vector<std::string> files;
        ShellClipOp op;
        if (!ShellGetClipboardFiles(files, op))
            return E_INVALIDARG;
        auto ui = ShellPromptFileOpUI(0);
        const ShellFileOpResult r = ShellFileOperation(op == ShellClipOp::Cut ? ShellFileOp::Move : ShellFileOp::Copy,
            files, m_items[0].path, *ui);
        if (op == ShellClipOp::Cut && !r.aborted)
            ShellClearClipboardAfterCut(files);
        return r.aborted ? HRESULT_FROM_WIN32(ERROR_CANCELLED) : r.error ? HRESULT_FROM_WIN32(r.error) : S_OK;
    }

    HRESULT Delete(bool forGood)
    {
        if (!All(SFGAO_CANDELETE))
            return E_INVALIDARG;
        auto ui = ShellPromptFileOpUI(0);
        const ShellFileOpResult r = ShellFileOperation(forGood ? ShellFileOp::Delete : ShellFileOp::Trash, Paths(), "", *ui);
        return r.aborted ? HRESULT_FROM_WIN32(ERROR_CANCELLED) : r.error ? HRESULT_FROM_WIN32(r.error) : S_OK;
    }

    std::vector<Item> m_items;
    std::vector<std::string> m_types;
    std::map<std::string, std::vector<ShellApp>> m_appsByType;
    bool m_appsKnown = false;
    std::vector<ShellApp> m_apps;
};

} // namespace

HRESULT CreateContextMenu(std::vector<Item> items, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (items.empty())
        return E_INVALIDARG;
    auto* menu = new ItemMenu(std::move(items));
    menu->AddRef();
    const HRESULT hr = menu->QueryInterface(riid, ppv);
    menu->Release();
    return hr;
}

} // namespace shellmenu
