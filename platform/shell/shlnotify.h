// Waitable handles: events, file-system change notifications over inotify,
// and the wait on several of them at once.
#pragma once

#include "win/wintypes.h"

#include <string>

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

constexpr DWORD FILE_NOTIFY_CHANGE_FILE_NAME = 0x001;
constexpr DWORD FILE_NOTIFY_CHANGE_DIR_NAME = 0x002;
constexpr DWORD FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x004;
constexpr DWORD FILE_NOTIFY_CHANGE_SIZE = 0x008;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_WRITE = 0x010;
constexpr DWORD FILE_NOTIFY_CHANGE_LAST_ACCESS = 0x020;
constexpr DWORD FILE_NOTIFY_CHANGE_CREATION = 0x040;
constexpr DWORD FILE_NOTIFY_CHANGE_SECURITY = 0x100;

// Events. Names and security attributes are not supported (pass null).
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits until one of the handles is signalled (waitAll must be FALSE) or the
// time-out passes. An auto-reset event is reset by the wait that returns it.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Closes an event or a change-notification handle. (The kernel's CloseHandle
// closes file handles; waitable handles live in their own table here.)
BOOL CloseWaitableHandle(HANDLE handle);

// A change-notification handle is signalled when a change that the filter
// names happens in the folder (and, with watchSubtree, in the folders below
// it that have been loaded: see ShellNoteFolderLoaded). It stays signalled
// until FindNextChangeNotification, which fails once the folder itself is
// gone (deleted, moved away or unmounted).
HANDLE FindFirstChangeNotificationA(const char* path, BOOL watchSubtree, DWORD notifyFilter);
BOOL FindNextChangeNotification(HANDLE handle);
BOOL FindCloseChangeNotification(HANDLE handle);

// inotify has no recursive watch. A subtree watch therefore covers its folder
// and every folder below it that the namespace has enumerated (loaded) in
// this process, including those loaded after the watch was made: the folders
// the user can see in the controls. Enumerating a folder calls this.
void ShellNoteFolderLoaded(const std::string& path);
// Number of open waitable handles (tests check that none is left open).
int ShellOpenWaitHandleCount();
// Number of folders one change-notification handle watches (tests).
int ShellChangeNotificationWatchCount(HANDLE handle);
