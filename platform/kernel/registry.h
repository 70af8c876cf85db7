// The registry: the few values the system reads and writes, kept in a
// key/value store of our own ($XDG_CONFIG_HOME/vistrel/registry), read on
// open and written whole (a temporary file renamed over it) on every write.
// The desktop wallpaper setting that reads them, and the Windows folder.
#pragma once

#include "win/wintypes.h"

#include "rtl/sysutils.h"

#include <cstdint>
#include <map>
#include <string>

VISTREL_DECLARE_EXCEPTION(ERegistryException, Exception)

using HKEY = std::uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// The file the store lives in.
std::string RegistryStorePath();

class TRegistry {
public:
    TRegistry();
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey = HKEY_CURRENT_USER;
    // Opens the key (backslashes between its parts; a leading or trailing
    // one is ignored); a missing key is created when canCreate is true, and
    // otherwise the answer is false.
    bool OpenKey(const std::string& key, bool canCreate);
    void CloseKey();
    bool KeyExists(const std::string& key);
    bool ValueExists(const std::string& name);
    // Raises ERegistryException "Failed to set data for '<name>'" when no
    // key is open or the store cannot be written (the store stays as it was).
    void WriteString(const std::string& name, const std::string& value);
    // "" for a value that does not exist.
    std::string ReadString(const std::string& name);

private:
    std::string Section(const std::string& key) const;
    std::string m_current;  // the open key's section, "" when none
};

// The program's per-user data folder ($XDG_DATA_HOME/vistrel/, created on
// demand) in place of the Windows folder, with no trailing '/'. The whole
// path is copied when it fits in size bytes with its terminator; the answer
// is its length, or the size needed (terminator included) when it does not
// fit, or 0 when the folder cannot be made.
UINT GetWindowsDirectoryA(char* buffer, UINT size);

constexpr UINT SPI_SETDESKWALLPAPER = 0x0014;
constexpr UINT SPIF_UPDATEINIFILE = 0x01;
constexpr UINT SPIF_SENDCHANGE = 0x02;

// SPI_SETDESKWALLPAPER: with a null path, the picture, tiling and style
// stored under HKEY_CURRENT_USER "Control Panel\Desktop" (WallPaper,
// TileWallPaper, WallPaperStyle) become the desktop background through
// gsettings (org.gnome.desktop.background picture-uri, picture-uri-dark
// and picture-options: centered, stretched, or wallpaper for tiled). FALSE
// when gsettings is missing, its schema is not installed, or a command
// fails; every other action answers FALSE with ERROR_INVALID_PARAMETER.
BOOL SystemParametersInfoA(UINT action, UINT param, void* value, UINT winIni);
