#include "archive/zadshell.h"

#include "rtl/sysutils.h"
#include "shell/shellapi.h"
#include "shell/shlfileop.h"
#include "vcl/customlistview.h"

namespace {

// The name part of an entry name; a trailing '/' marks a folder.
int IconIndexOfName(const std::string& fileName, UINT flags)
{
    const bool folder = !fileName.empty() && fileName.back() == '/';
    const std::string name = ExtractFileName(folder ? fileName.substr(0, fileName.size() - 1) : fileName);
    SHFILEINFOA info{};
    const DWORD attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (!SHGetFileInfoA(name.c_str(), attributes, &info, sizeof info, flags | SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES))
        return 0;
    return info.iIcon;
}

}  // namespace

int zadClosedImageIndex(const std::string& fileName) { return IconIndexOfName(fileName, SHGFI_SMALLICON); }

int zadOpenImageIndex(const std::string& fileName)
{
    return IconIndexOfName(fileName, SHGFI_SMALLICON | SHGFI_OPENICON);
}

int zadSystemImageIndex(const std::string& fileName)
{
    // The name alone, as a file, whatever it ends in.
    std::string name = fileName;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return IconIndexOfName(ExtractFileName(name), 0);
}

int GetImageIndex(const std::string& fileName) { return zadSystemImageIndex(fileName); }

void _InitializeImageList(TComponent*, TCustomListView* listView)
{
    if (!listView)
        return;
    listView->LargeImages = ShellSystemImageList(false);
    listView->SmallImages = ShellSystemImageList(true);
    listView->Invalidate();
}

void _DestroyImageList(TCustomListView* listView)
{
    if (!listView)
        return;
    listView->LargeImages = nullptr;
    listView->SmallImages = nullptr;
    listView->Invalidate();
}

int _ShFileOperation(SHFILEOPSTRUCTA& op) { return SHFileOperationA(&op); }
