// The applications that open a type of file, as the freedesktop rules find
// them: the type of a file from the MIME database, the desktop entries of the
// XDG "applications" folders, the defaults and the added and removed
// associations of the mimeapps.list files, and each folder's mimeinfo.cache
// (or, without one, the MimeType= keys of its entries). An application is
// started from its Exec line, expanded by the Desktop Entry rules, as a
// program of its own (no shell, its own session), without waiting for it.
#pragma once

#include <string>
#include <vector>

struct ShellApp {
    std::string id;    // the desktop file ID ("org.gnome.gedit.desktop")
    std::string name;  // Name=
    std::string icon;  // Icon=
    std::string exec;  // Exec=, unescaped
    std::string path;  // the desktop file
    std::string workingDir;  // Path=
    bool terminal = false;
};

// One desktop file of a folder of launchers (Send To): a link with its URL,
// or an application to start with files.
struct ShellDesktopEntry {
    enum Kind { Link, Application } kind = Link;
    std::string url;   // a link's URL=
    std::string icon;  // Icon=
    ShellApp app;      // an application (id: the file's name)
};
// False for a file that is neither a link with a URL nor a usable application.
bool ShellReadDesktopEntry(const std::string& path, ShellDesktopEntry& entry);

// The MIME type of an existing file or folder ("inode/directory" for folders).
std::string ShellMimeTypeOf(const std::string& path);
// The type and every type it derives from, the type itself first.
std::vector<std::string> ShellMimeTypeAndAncestors(const std::string& mimeType);
// True for types whose files are programs (executables, libraries, desktop
// launchers, scripts): opening such a file never runs it.
bool ShellIsProgramType(const std::string& mimeType);

// The installed applications for a type, the default first; empty when none.
std::vector<ShellApp> ShellAppsForType(const std::string& mimeType);
// The default application for a type; false when the type has none.
bool ShellDefaultAppForType(const std::string& mimeType, ShellApp& app);
// The installed application with the desktop file ID; false when absent.
bool ShellFindApp(const std::string& desktopId, ShellApp& app);

// The command lines that start the application for the files, by the Exec
// field codes: %f and %u run one command per file, %F and %U one for all;
// %i, %c and %k name the icon, the name and the desktop file; an Exec line
// without a file code takes the files as %f does. Empty with an error text
// for an Exec line that cannot be parsed.
std::vector<std::vector<std::string>> ShellExpandExec(const ShellApp& app, const std::vector<std::string>& files,
    std::string& error);
// Starts the program detached (its own session, no shell), in the folder
// when one is given; false with the system error code when it cannot start.
bool ShellSpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, unsigned& error);
// Expands and starts every command line; false with a text naming the reason.
bool ShellLaunchApp(const ShellApp& app, const std::vector<std::string>& files, std::string& error);
// The file's URL (file://, bytes outside the unreserved set escaped).
std::string ShellFileUrl(const std::string& path);
