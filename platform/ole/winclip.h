// The window system's clipboard as programs of the class library use it:
// open it, empty it to own it, set handles of formats, close it; or open
// it and read a format's handle. It is bridged to Qt's clipboard: what is
// set goes onto QClipboard when the clipboard is closed (global memory
// blocks as the MIME type of their format, a CF_BITMAP as a picture), and
// what another program put there is read in any format that the OLE layer
// renders, a picture also as CF_BITMAP.
#pragma once

#include "gdi/wingdi.h"
#include "win/globalmem.h"
#include "win/wintypes.h"

// FALSE (ERROR_ACCESS_DENIED) while the clipboard is open already, or
// without a window system.
BOOL OpenClipboard(HANDLE owner);
// Publishes what was set since the clipboard was emptied; frees the
// handles read from another program's data.
BOOL CloseClipboard();
// Takes the clipboard over, freeing the handles set before.
BOOL EmptyClipboard();
// The clipboard owns the handle from now on (CF_BITMAP and CF_PALETTE a
// GDI object, other formats a global memory block). Null when the
// clipboard is not open by us after EmptyClipboard.
HANDLE SetClipboardData(UINT format, HANDLE data);
// The clipboard's handle of the format, valid until it is closed; null
// when the clipboard is not open or lacks the format.
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);
