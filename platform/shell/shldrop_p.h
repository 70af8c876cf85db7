// The drop targets of a file-system folder and of a desktop file (private to
// the platform's shell): GetUIObjectOf hands them out for IID_IDropTarget.
#pragma once

#include "shlobj.h"

#include <string>

namespace shelldrop {

// Command identifiers of the menu a right-button drop shows.
constexpr UINT kCopyHere = 1;
constexpr UINT kMoveHere = 2;
constexpr UINT kLinkHere = 3;
constexpr UINT kCancel = 4;

// The owner window owns the menu of a right-button drop.
HRESULT CreateFolderDropTarget(HWND owner, const std::string& folder, REFIID riid, void** ppv);
// The drop target of a desktop file: a link to a folder gives that folder's,
// an application one that starts it with the dropped files. A link to
// anything else, or a missing folder, has none.
HRESULT CreateDesktopEntryDropTarget(HWND owner, const std::string& path, REFIID riid, void** ppv);

} // namespace shelldrop
