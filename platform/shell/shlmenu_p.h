// The context menu of file-system items (private to the platform's shell):
// GetUIObjectOf hands it out for IID_IContextMenu.
#pragma once

#include "shlobj.h"

#include <string>
#include <vector>

namespace shellmenu {

struct Item {
    std::string path;   // the full path
    ULONG attributes;   // SFGAO_ bits: capabilities, folder, file system
};

// Command offsets: fixed, whatever the menu holds.
constexpr UINT kOpen = 0;
constexpr UINT kDelete = 17;
constexpr UINT kRename = 18;
constexpr UINT kProperties = 19;
constexpr UINT kCut = 24;
constexpr UINT kCopy = 25;
constexpr UINT kPaste = 26;
constexpr UINT kSendToPlaceholder = 30;  // the greyed item of the Send To submenu
constexpr UINT kOpenWithFirst = 32;  // one per application, in the submenu
constexpr UINT kOpenWithCount = 256;

HRESULT CreateContextMenu(std::vector<Item> items, REFIID riid, void** ppv);

} // namespace shellmenu
