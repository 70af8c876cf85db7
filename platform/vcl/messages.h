// Window messages and window handles. A window handle names a receiver on
// the user-interface thread; PostMessage may be called from any thread and is
// delivered by the Qt event loop to the receiver's window procedure.
#pragma once

#include "win/wintypes.h"

#include <functional>

using HWND = std::uintptr_t;

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_USER = 0x0400;

// Registers a receiver and returns its handle (never 0).
HWND AllocateHWnd(TWndMethod method);
// Unregisters the receiver; messages still queued for it are dropped.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// Queues the message for the receiver; false (error 1400, invalid window
// handle) when the handle names no receiver. Safe from any thread.
BOOL PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the receiver's window procedure at once. User-interface thread only.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
