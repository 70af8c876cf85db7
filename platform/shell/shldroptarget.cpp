// The drop target of a file-system folder. Dropped files arrive as CF_HDROP
// (our own drags, or another program's text/uri-list of local files) and go
// through the file-operation engine: moved within one file system, copied
// across; Ctrl copies, Shift moves, Ctrl+Shift or Alt links (a symbolic
// link); a right-button drop asks which. Moving items onto the folder that
// holds them does nothing, and no folder goes into itself.
//
// A desktop file (the entries of the Send To folder) takes drops too: a link
// to a folder as that folder does, an application by starting it with the
// dropped files.
#include "shldrop_p.h"

#include "ole/ole2.h"
#include "shlapps.h"
#include "shlfileop.h"
#include "shlui_p.h"
#include "vcl/winmenus.h"

#include "rtl/sysutils.h"

#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <vector>

namespace shelldrop {
namespace {

constexpr DWORD kAllEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;

std::string ParentOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The files a data object holds as CF_HDROP; none when it has no such block.
std::vector<std::string> DroppedFiles(IDataObject* data)
{
    std::vector<std::string> files;
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (!data || data->QueryGetData(&format) != S_OK || FAILED(data->GetData(&format, &medium)))
        return files;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        files = NamesOfDropFiles(static_cast<const std::uint8_t*>(GlobalLock(medium.hGlobal)),
                                 GlobalSize(medium.hGlobal));
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    for (std::string& f : files)
        f = Trimmed(f);
    return files;
}

// The effect the keys ask for; without keys a move within one file system
// and a copy across, as the system's file managers do.
struct KeyRule {
    DWORD keys;
    DWORD effect;
};
constexpr KeyRule kKeyRules[] = {
    {MK_CONTROL | MK_SHIFT, DROPEFFECT_LINK},
    {MK_ALT, DROPEFFECT_LINK},
    {MK_CONTROL, DROPEFFECT_COPY},
    {MK_SHIFT, DROPEFFECT_MOVE},
};

class FolderDropTarget final : public TComObject<IDropTarget> {
public:
    FolderDropTarget(HWND owner, std::string folder) : m_owner(owner), m_folder(Trimmed(std::move(folder))) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropTarget});
    }

    // While the pointer moves, a failure only refuses the drop.
    HRESULT DragEnter(IDataObject* data, DWORD keyState, POINTL, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        try {
            m_files = DroppedFiles(data);
            *effect = Choose(keyState, *effect);
            return S_OK;
        } catch (...) {
            m_files.clear();
            *effect = DROPEFFECT_NONE;
            return E_FAIL;
        }
    }

    HRESULT DragOver(DWORD keyState, POINTL, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        try {
            *effect = Choose(keyState, *effect);
            return S_OK;
        } catch (...) {
            *effect = DROPEFFECT_NONE;
            return E_FAIL;
        }
    }

    HRESULT DragLeave() override
    {
        m_files.clear();
        return S_OK;
    }

    // No exception leaves the drop: it is shown once and the drop fails.
    HRESULT Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        try {
            m_files = DroppedFiles(data);
            const DWORD allowed = Possible(*effect);
            DWORD chosen = Choose(keyState, *effect);
            if ((keyState & MK_RBUTTON) && allowed)
                chosen = AskEffect(allowed, chosen, point);
            *effect = Perform(chosen);
            m_files.clear();
            return S_OK;
        } catch (const std::exception& e) {
            shellui::Error(e.what(), "Drop");
        } catch (...) {
            shellui::Error("The items could not be dropped.", "Drop");
        }
        m_files.clear();
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }

private:
    bool InOwnFolder() const
    {
        for (const std::string& f : m_files)
            if (ParentOf(f) != m_folder)
                return false;
        return true;
    }

    // A folder never goes into itself or below itself.
    bool IntoItself() const
    {
        for (const std::string& f : m_files)
            if (m_folder == f || m_folder.compare(0, f.size() + 1, f + "/") == 0)
                return true;
        return false;
    }

    bool SameFileSystem() const
    {
        struct stat target, source;
        if (::stat(m_folder.c_str(), &target) != 0 || ::lstat(m_files.front().c_str(), &source) != 0)
            return false;
        return target.st_dev == source.st_dev;
    }

    // The effects this drop can have among those the source allows.
    DWORD Possible(DWORD offered) const
    {
        if (m_files.empty() || IntoItself())
            return DROPEFFECT_NONE;
        DWORD possible = offered & kAllEffects;
        if (InOwnFolder())
            possible &= ~DROPEFFECT_MOVE;
        return possible;
    }

    DWORD Choose(DWORD keyState, DWORD offered) const
    {
        const DWORD possible = Possible(offered);
        if (!possible)
            return DROPEFFECT_NONE;
        for (const KeyRule& rule : kKeyRules)
            if ((keyState & rule.keys) == rule.keys)
                return possible & rule.effect;
        // Moving onto its own folder does nothing, whatever else is allowed.
        if (InOwnFolder() && (offered & DROPEFFECT_MOVE))
            return DROPEFFECT_NONE;
        const DWORD preferred = SameFileSystem() ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
        if (possible & preferred)
            return preferred;
        for (const DWORD e : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK})
            if (possible & e)
                return e;
        return DROPEFFECT_NONE;
    }

    // The menu of a right-button drop: the allowed effects and Cancel.
    DWORD AskEffect(DWORD allowed, DWORD chosen, POINTL point) const
    {
        struct Entry {
            DWORD effect;
            UINT command;
            const char* text;
        };
        static constexpr Entry kEntries[] = {
            {DROPEFFECT_COPY, kCopyHere, "&Copy Here"},
            {DROPEFFECT_MOVE, kMoveHere, "&Move Here"},
            {DROPEFFECT_LINK, kLinkHere, "Create &Link Here"},
        };
        HMENU menu = CreatePopupMenu();
        for (const Entry& e : kEntries)
            if (allowed & e.effect) {
                AppendMenuA(menu, MF_STRING, e.command, e.text);
                if (e.effect == chosen)
                    SetMenuDefaultItem(menu, e.command, FALSE);
            }
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, kCancel, "Cancel");
        const UINT command = static_cast<UINT>(
            TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, m_owner, nullptr));
        DestroyMenu(menu);
        for (const Entry& e : kEntries)
            if (e.command == command)
                return e.effect;
        return DROPEFFECT_NONE;
    }

    DWORD Perform(DWORD effect) const
    {
        if (effect == DROPEFFECT_LINK)
            return Link() ? DROPEFFECT_LINK : DROPEFFECT_NONE;
        if (effect != DROPEFFECT_COPY && effect != DROPEFFECT_MOVE)
            return DROPEFFECT_NONE;
        auto ui = ShellPromptFileOpUI(0);
        const ShellFileOpResult r = ShellFileOperation(
            effect == DROPEFFECT_MOVE ? ShellFileOp::Move : ShellFileOp::Copy, m_files, m_folder, *ui);
        return r.aborted || r.error ? DROPEFFECT_NONE : effect;
    }

    // A symbolic link to each item; a name taken already gets "Link to "
    // before it, then a number.
    bool Link() const
    {
        std::vector<std::string> problems;
        for (const std::string& f : m_files) {
            const std::string name = NameOf(f);
            std::string target = m_folder + "/" + name;
            int err = ::symlink(f.c_str(), target.c_str()) == 0 ? 0 : errno;
            for (int n = 1; err == EEXIST && n < 100; ++n) {
                target = m_folder + "/Link to " + name + (n > 1 ? " (" + std::to_string(n) + ")" : "");
                err = ::symlink(f.c_str(), target.c_str()) == 0 ? 0 : errno;
            }
            if (err)
                problems.push_back("\"" + name + "\": " + SysErrorMessage(Win32ErrorFromErrno(err)) + ".");
        }
        if (!problems.empty()) {
            std::string text = "Links could not be made:";
            for (const std::string& p : problems)
                text += "\n" + p;
            shellui::Error(text, "Create Link");
        }
        return problems.empty();
    }

    HWND m_owner;
    std::string m_folder;
    std::vector<std::string> m_files;
};

// An application of a desktop file: the dropped files are copied to it, in
// the sense that it gets them; it is started with them on the drop.
class AppDropTarget final : public TComObject<IDropTarget> {
public:
    explicit AppDropTarget(ShellApp app) : m_app(std::move(app)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropTarget});
    }

    HRESULT DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        try {
            m_files = DroppedFiles(data);
        } catch (...) {
            m_files.clear();
        }
        *effect = Effect(*effect);
        return S_OK;
    }

    HRESULT DragOver(DWORD, POINTL, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        *effect = Effect(*effect);
        return S_OK;
    }

    HRESULT DragLeave() override
    {
        m_files.clear();
        return S_OK;
    }

    HRESULT Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override
    {
        if (!effect)
            return E_INVALIDARG;
        std::string error;
        try {
            m_files = DroppedFiles(data);
            if (Effect(*effect) == DROPEFFECT_NONE) {
                *effect = DROPEFFECT_NONE;
                return S_OK;
            }
            if (ShellLaunchApp(m_app, m_files, error)) {
                *effect = DROPEFFECT_COPY;
                m_files.clear();
                return S_OK;
            }
        } catch (const std::exception& e) {
            error = e.what();
        }
        shellui::Error(error.empty() ? "\"" + m_app.name + "\" could not be started." : error, "Send To");
        m_files.clear();
        *effect = DROPEFFECT_NONE;
        return E_FAIL;
    }

private:
    DWORD Effect(DWORD offered) const
    {
        return m_files.empty() || !(offered & DROPEFFECT_COPY) ? DROPEFFECT_NONE : DROPEFFECT_COPY;
    }

    ShellApp m_app;
    std::vector<std::string> m_files;
};

// The local path a link's URL names; "" for another kind of URL.
std::string LinkedPath(const std::string& url)
{
    if (!url.empty() && url.front() == '/')
        return url;
    const QUrl parsed(QString::fromStdString(url));
    return parsed.isLocalFile() ? parsed.toLocalFile().toStdString() : std::string();
}

} // namespace

HRESULT CreateDesktopEntryDropTarget(HWND owner, const std::string& path, REFIID riid, void** ppv)
{
    ShellDesktopEntry entry;
    if (!ShellReadDesktopEntry(path, entry))
        return E_NOINTERFACE;
    if (entry.kind == ShellDesktopEntry::Application) {
        TComPtr<IDropTarget> target(new AppDropTarget(std::move(entry.app)));
        return target->QueryInterface(riid, ppv);
    }
    const std::string folder = LinkedPath(entry.url);
    struct stat st;
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return CreateFolderDropTarget(owner, folder, riid, ppv);
}

HRESULT CreateFolderDropTarget(HWND owner, const std::string& folder, REFIID riid, void** ppv)
{
    TComPtr<IDropTarget> target(new FolderDropTarget(owner, folder));
    return target->QueryInterface(riid, ppv);
}

} // namespace shelldrop
