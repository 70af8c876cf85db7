// SHGetFileInfoA and the system image lists over Qt's MIME database and the
// freedesktop icon theme.
#include "shellapi.h"
#include "shlapps.h"
#include "shellicons_qt.h"
#include "shlmime_p.h"
#include "shlmounts.h"
#include "shlpidl_p.h"

#include "rtl/sysutils.h"
#include "rtl/unicode.h"
#include "vcl/graphics.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMimeDatabase>
#include <QMimeType>
#include <QPainter>

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

using namespace shellns;

namespace {

struct ImageListHandle {
    int size;
};
ImageListHandle g_small{16};
ImageListHandle g_large{32};

struct IconIndex {
    std::mutex mutex;
    std::vector<std::string> names{"text-x-generic"};
    std::map<std::string, int> index{{"text-x-generic", 0}};
};

IconIndex& TheIcons()
{
    static IconIndex* icons = new IconIndex;
    return *icons;
}

int IconIndexOf(const std::string& name)
{
    auto& icons = TheIcons();
    std::lock_guard lock(icons.mutex);
    auto it = icons.index.find(name);
    if (it != icons.index.end())
        return it->second;
    const int i = static_cast<int>(icons.names.size());
    icons.names.push_back(name);
    icons.index.emplace(name, i);
    return i;
}

bool IsImageList(HIMAGELIST list) { return list == &g_small || list == &g_large; }

QMimeDatabase& Mime()
{
    static QMimeDatabase* db = new QMimeDatabase;
    return *db;
}

QMimeType MimeOfName(const std::string& name)
{
    return Mime().mimeTypeForFile(QFile::decodeName(QByteArray(name.data(), static_cast<int>(name.size()))),
                                  QMimeDatabase::MatchExtension);
}

std::string FileIconName(const std::string& name)
{
    const QMimeType type = MimeOfName(name);
    if (!type.isValid() || type.isDefault())
        return "text-x-generic";
    const QString icon = type.iconName();
    if (QIcon::hasThemeIcon(icon))
        return icon.toStdString();
    return type.genericIconName().toStdString();
}

void CopyText(char* target, size_t capacity, const std::string& text)
{
    // Cut at a character boundary so that the field stays valid UTF-8.
    size_t n = std::min(text.size(), capacity - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(target, text.data(), n);
    target[n] = 0;
}

struct Subject {
    bool folder = false;
    bool virtualItem = false;
    std::string name;      // file name for the MIME lookup
    std::string path;      // "" for virtual items
    std::string iconName;  // fixed icon of a special item, "" for files and folders
};

// A desktop file shows the theme icon it names, as file managers show
// launchers; "" for other files or an icon the theme lacks.
std::string DesktopFileIconName(const Subject& s)
{
    static constexpr char kSuffix[] = ".desktop";
    const size_t n = sizeof kSuffix - 1;
    if (s.path.empty() || s.name.size() <= n || s.name.compare(s.name.size() - n, n, kSuffix) != 0)
        return {};
    ShellDesktopEntry entry;
    if (!ShellReadDesktopEntry(s.path, entry) || entry.icon.empty() || entry.icon.front() == '/'
        || !QIcon::hasThemeIcon(QString::fromStdString(entry.icon)))
        return {};
    return entry.icon;
}

HRESULT AttributesOfList(LPCITEMIDLIST pidl, ULONG& attrs)
{
    IShellFolder* desktop = nullptr;
    HRESULT hr = SHGetDesktopFolder(&desktop);
    if (FAILED(hr))
        return hr;
    std::vector<Item> items;
    if (!DecodeList(pidl, items) || items.empty()) {
        desktop->Release();
        attrs = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR;
        return items.empty() ? S_OK : E_INVALIDARG;
    }
    // The last item, asked of its parent folder.
    const auto* bytes = reinterpret_cast<const BYTE*>(pidl);
    size_t parentSize = 0;
    for (size_t k = 0; k + 1 < items.size(); ++k)
        parentSize += ItemIdSize(bytes + parentSize);
    std::vector<BYTE> parent(bytes, bytes + parentSize);
    parent.push_back(0);
    parent.push_back(0);
    IShellFolder* folder = desktop;
    if (parentSize) {
        hr = desktop->BindToObject(reinterpret_cast<LPCITEMIDLIST>(parent.data()), nullptr, IID_IShellFolder,
                                   reinterpret_cast<void**>(&folder));
        desktop->Release();
        if (FAILED(hr))
            return hr;
    }
    LPCITEMIDLIST last = reinterpret_cast<LPCITEMIDLIST>(bytes + parentSize);
    hr = folder->GetAttributesOf(1, &last, &attrs);
    folder->Release();
    return hr;
}

} // namespace

namespace shellns {

std::string FileTypeName(const std::string& name, bool folder)
{
    if (folder)
        return "File Folder";
    const QMimeType type = MimeOfName(name);
    if (type.isValid() && !type.isDefault()) {
        const QString comment = type.comment();
        if (!comment.isEmpty())
            return comment.toStdString();
    }
    // A type nobody knows is named after its extension, as "TXT File"; bytes
    // that are no UTF-8 show as U+FFFD, as they do in names.
    const std::string ext = ExtractFileExt(name);
    if (ext.size() > 1)
        return Utf16ToUtf8(ShellUtf8ToWide(UpperCase(ext.substr(1)))) + " File";
    return "File";
}

} // namespace shellns

DWORD_PTR SHGetFileInfoA(const char* pszPath, DWORD dwFileAttributes, SHFILEINFOA* psfi, UINT cbFileInfo, UINT uFlags)
{
    if (!pszPath && !(uFlags & SHGFI_PIDL))
        return 0;
    if (uFlags & SHGFI_ICON)
        return 0;
    if (psfi && cbFileInfo < sizeof(SHFILEINFOA))
        return 0;
    Subject s;
    LPCITEMIDLIST pidl = nullptr;
    if (uFlags & SHGFI_PIDL) {
        pidl = reinterpret_cast<LPCITEMIDLIST>(pszPath);
        std::vector<Item> items;
        if (!DecodeList(pidl, items))
            return 0;
        if (items.empty()) {
            s.folder = true;
            s.iconName = "user-desktop";
            s.name = "Desktop";
            ShellPathFromIDList(pidl, s.path);
        } else {
            const Item& last = items.back();
            s.folder = last.flags & kFolder;
            ShellPathFromIDList(pidl, s.path);
            s.name = std::string(last.name);
            if (last.kind == kComputer) {
                s.virtualItem = true;
                s.iconName = "computer";
                s.name = "Computer";
            } else if (last.kind == kDrive) {
                static const char* driveIcons[] = {"drive-harddisk", "drive-harddisk", "drive-removable-media",
                                                   "drive-harddisk", "folder-remote", "drive-optical",
                                                   "drive-harddisk"};
                UINT type = DRIVE_FIXED;
                for (const auto& d : ShellCurrentDrives())
                    if (d.mountPoint == s.name)
                        type = d.type;
                s.iconName = driveIcons[type <= DRIVE_RAMDISK ? type : 0];
            } else if (last.kind == kRootItem && (last.flags & kHome)) {
                s.iconName = "user-home";
            }
            if (last.kind == kRootItem || last.kind == kFile) {
                const size_t slash = s.name.find_last_of('/');
                if (slash != std::string::npos)
                    s.name = s.name.substr(slash + 1);
            }
        }
    } else {
        s.path = pszPath;
        s.name = ExtractFileName(ExcludeTrailingPathDelimiter(s.path));
        if (s.name.empty())
            s.name = s.path;
        if (uFlags & SHGFI_USEFILEATTRIBUTES) {
            s.folder = dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        } else {
            // The item is the path itself: a dangling link or a link loop is
            // a file; a link to a folder is a folder.
            struct stat st;
            if (::lstat(s.path.c_str(), &st) != 0)
                return 0;
            struct stat target;
            s.folder = S_ISDIR(st.st_mode)
                || (S_ISLNK(st.st_mode) && ::stat(s.path.c_str(), &target) == 0 && S_ISDIR(target.st_mode));
        }
    }

    std::string icon = s.iconName;
    if (icon.empty() && !s.folder && !(uFlags & SHGFI_USEFILEATTRIBUTES))
        icon = DesktopFileIconName(s);
    if (icon.empty())
        icon = s.folder ? ((uFlags & SHGFI_OPENICON) ? "folder-open" : "folder") : FileIconName(s.name);
    if (psfi) {
        std::memset(psfi, 0, sizeof(SHFILEINFOA));
        if (uFlags & SHGFI_SYSICONINDEX)
            psfi->iIcon = IconIndexOf(icon);
        if (uFlags & SHGFI_TYPENAME)
            CopyText(psfi->szTypeName, sizeof psfi->szTypeName,
                     s.virtualItem ? std::string("System Folder") : FileTypeName(s.name, s.folder));
        if (uFlags & SHGFI_DISPLAYNAME) {
            std::string display = s.name;
            if (pidl) {
                IShellFolder* desktop = nullptr;
                if (SUCCEEDED(SHGetDesktopFolder(&desktop))) {
                    STRRET str;
                    if (SUCCEEDED(desktop->GetDisplayNameOf(pidl, SHGDN_NORMAL, &str))) {
                        if (str.uType == STRRET_WSTR) {
                            display = ShellWideToUtf8(str.pOleStr);
                            CoTaskMemFree(str.pOleStr);
                        } else if (str.uType == STRRET_CSTR) {
                            display = std::string(str.cStr, strnlen(str.cStr, sizeof str.cStr));
                        }
                    }
                    desktop->Release();
                }
            }
            CopyText(psfi->szDisplayName, sizeof psfi->szDisplayName, display);
        }
        if (uFlags & SHGFI_ATTRIBUTES) {
            ULONG attrs = 0xFFFFFFFFu & ~SFGAO_VALIDATE;
            if (pidl) {
                if (FAILED(AttributesOfList(pidl, attrs)))
                    return 0;
            } else {
                attrs = SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE |
                        (s.folder ? SFGAO_FOLDER | SFGAO_FILESYSANCESTOR : SFGAO_STREAM);
            }
            psfi->dwAttributes = attrs;
        }
    }
    if (uFlags & SHGFI_SYSICONINDEX) {
        if (!psfi)
            IconIndexOf(icon);
        return reinterpret_cast<DWORD_PTR>(ShellSystemImageList(uFlags & SHGFI_SMALLICON));
    }
    return 1;
}

HIMAGELIST ShellSystemImageList(bool small) { return small ? &g_small : &g_large; }

int ImageList_GetImageCount(HIMAGELIST list)
{
    if (!IsImageList(list))
        return 0;
    auto& icons = TheIcons();
    std::lock_guard lock(icons.mutex);
    return static_cast<int>(icons.names.size());
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy)
{
    if (!IsImageList(list) || !cx || !cy)
        return FALSE;
    *cx = *cy = static_cast<ImageListHandle*>(list)->size;
    return TRUE;
}

std::string ShellImageListIconName(HIMAGELIST list, int index)
{
    if (!IsImageList(list))
        return {};
    auto& icons = TheIcons();
    std::lock_guard lock(icons.mutex);
    if (index < 0 || index >= static_cast<int>(icons.names.size()))
        return {};
    return icons.names[static_cast<size_t>(index)];
}

namespace {
// Outside a desktop session Qt knows no icon theme but the bare "hicolor";
// the first full freedesktop theme installed on the machine is used then.
void EnsureIconTheme()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const QString current = QIcon::themeName();
        if (!current.isEmpty() && current != QLatin1String("hicolor"))
            return;
        const QString system = QStringLiteral("/usr/share/icons");
        for (const char* theme : {"Adwaita", "breeze", "gnome", "oxygen", "Tango"})
            if (QDir(system + QLatin1Char('/') + QLatin1String(theme)).exists()) {
                // The folder the theme was found in is searched too, whatever
                // the data folders of the environment say.
                QStringList paths = QIcon::themeSearchPaths();
                if (!paths.contains(system))
                    QIcon::setThemeSearchPaths(paths << system);
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
    });
}
}

QIcon ShellImageListIcon(HIMAGELIST list, int index)
{
    EnsureIconTheme();
    const std::string name = ShellImageListIconName(list, index);
    QIcon icon = QIcon::fromTheme(QString::fromStdString(name));
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    return icon;
}

namespace {
// The emblem of an overlay drawn over a picture, in its lower left quarter.
void PaintEmblem(QPixmap& picture, UINT overlay, int size)
{
    // The emblems of the overlays, as the theme names them.
    static const char* const kOverlays[] = {"emblem-shared", "emblem-symbolic-link"};
    if (overlay < 1 || overlay > std::size(kOverlays))
        return;
    const QIcon emblem = QIcon::fromTheme(QLatin1String(kOverlays[overlay - 1]));
    QPainter over(&picture);
    emblem.paint(&over, 0, size / 2, size / 2, size / 2);
}
} // namespace

QIcon ShellImageListIcon(HIMAGELIST list, int index, UINT overlay)
{
    if (overlay == 0)
        return ShellImageListIcon(list, index);
    // Made once per icon and overlay: views ask for it at every paint.
    static std::map<std::pair<std::string, UINT>, QIcon> made;
    static std::mutex lock;
    const std::string name = ShellImageListIconName(list, index);
    std::lock_guard guard(lock);
    auto it = made.find({name, overlay});
    if (it != made.end())
        return it->second;
    const QIcon plain = ShellImageListIcon(list, index);
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        QPixmap picture = plain.pixmap(size, size);
        PaintEmblem(picture, overlay, size);
        icon.addPixmap(picture);
    }
    return made.emplace(std::pair {name, overlay}, icon).first->second;
}

BOOL ImageList_Draw(HIMAGELIST list, int index, TCanvas& canvas, int x, int y, UINT style)
{
    QPainter* painter = canvas.Painter();
    int size = 0;
    if (!painter || !ImageList_GetIconSize(list, &size, &size) || ShellImageListIconName(list, index).empty())
        return FALSE;
    QPixmap picture = ShellImageListIcon(list, index).pixmap(size, size);
    PaintEmblem(picture, (style & ILD_OVERLAYMASK) >> 8, size);
    if (style & ILD_SELECTED) {
        QPainter blend(&picture);
        blend.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        blend.setOpacity(0.5);
        blend.fillRect(picture.rect(), ToQColor(clHighlight));
    }
    painter->drawPixmap(x, y, picture);
    return TRUE;
}
