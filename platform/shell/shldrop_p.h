// The drop target of a file-system folder (private to the platform's
// shell): GetUIObjectOf hands it out for IID_IDropTarget.
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

} // namespace shelldrop
