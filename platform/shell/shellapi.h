// File information of the shell (icons of the system image list, type names,
// display names) answered from the MIME database and the icon theme.
#pragma once

#include "shlobj.h"

#include <string>

#include "kernel/kernel.h"

constexpr UINT SHGFI_LARGEICON = 0x0;
constexpr UINT SHGFI_SMALLICON = 0x1;
constexpr UINT SHGFI_OPENICON = 0x2;
constexpr UINT SHGFI_PIDL = 0x8;
constexpr UINT SHGFI_USEFILEATTRIBUTES = 0x10;
constexpr UINT SHGFI_ICON = 0x100;
constexpr UINT SHGFI_DISPLAYNAME = 0x200;
constexpr UINT SHGFI_TYPENAME = 0x400;
constexpr UINT SHGFI_ATTRIBUTES = 0x800;
constexpr UINT SHGFI_SYSICONINDEX = 0x4000;

struct SHFILEINFOA {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    char szDisplayName[MAX_PATH];
    char szTypeName[80];
};

// pszPath is a path, or an absolute item identifier list with SHGFI_PIDL.
// With SHGFI_SYSICONINDEX the result is the handle of the system image list
// of the asked size (small with SHGFI_SMALLICON), otherwise non-zero on
// success; 0 on failure. SHGFI_ICON (an icon handle) is not offered: a
// request that names it fails.
DWORD_PTR SHGetFileInfoA(const char* pszPath, DWORD dwFileAttributes, SHFILEINFOA* psfi, UINT cbFileInfo, UINT uFlags);

// The system image lists: one shared index space, a small (16 pixels) and a
// large (32 pixels) list. An index stands for an icon of the theme; index 0 is
// the generic file.
HIMAGELIST ShellSystemImageList(bool small);
int ImageList_GetImageCount(HIMAGELIST list);
BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy);
// The theme icon name behind an index of a system image list; "" for an index out of range.
std::string ShellImageListIconName(HIMAGELIST list, int index);

// Drawing an image of a list on a canvas that paints: ILD_SELECTED blends
// it half with the highlight colour; INDEXTOOVERLAYMASK(n) adds overlay n
// (1 a shared folder's hand, 2 a link's arrow) at its lower left. The
// theme's icons carry their own transparency, so no background colour is
// needed. FALSE for a canvas without a painter or an index out of range.
constexpr UINT ILD_NORMAL = 0x0000;
constexpr UINT ILD_SELECTED = 0x0004;
constexpr UINT ILD_OVERLAYMASK = 0x0F00;
constexpr UINT INDEXTOOVERLAYMASK(UINT overlay) { return overlay << 8; }
class TCanvas;
BOOL ImageList_Draw(HIMAGELIST list, int index, TCanvas& canvas, int x, int y, UINT style);
