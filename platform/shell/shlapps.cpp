// Handlers of file types from the XDG folders, read by us:
//
//   $XDG_DATA_HOME/applications, $XDG_DATA_DIRS/*/applications
//       *.desktop (also in subfolders: "kde/a.desktop" has the ID "kde-a.desktop"),
//       mimeinfo.cache  [MIME Cache] type=a.desktop;b.desktop;
//   mimeapps.list ([Default Applications], [Added Associations],
//   [Removed Associations]) in $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS and the
//   applications folders, each also as "<desktop>-mimeapps.list" for the
//   desktops named in $XDG_CURRENT_DESKTOP, the more important first.
#include "shlapps.h"

#include "win/wintypes.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

extern char** environ;

namespace {

std::vector<std::string> SplitList(const std::string& text, char separator)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            out.push_back(std::move(part));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string HomeBelow(const char* relative)
{
    const std::string home = Env("HOME");
    return home.empty() ? std::string() : home + "/" + relative;
}

std::string ConfigHome()
{
    const std::string v = Env("XDG_CONFIG_HOME");
    return !v.empty() && v[0] == '/' ? v : HomeBelow(".config");
}

std::string DataHome()
{
    const std::string v = Env("XDG_DATA_HOME");
    return !v.empty() && v[0] == '/' ? v : HomeBelow(".local/share");
}

std::vector<std::string> DirsOf(const char* variable, const char* fallback)
{
    std::vector<std::string> out;
    for (const std::string& d : SplitList(Env(variable).empty() ? fallback : Env(variable), ':'))
        if (d[0] == '/')
            out.push_back(d);
    return out;
}

// The applications folders, the most important first.
std::vector<std::string> ApplicationDirs()
{
    std::vector<std::string> out;
    if (const std::string home = DataHome(); !home.empty())
        out.push_back(home + "/applications");
    for (const std::string& d : DirsOf("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        out.push_back(d + "/applications");
    return out;
}

// The mimeapps.list files, the most important first.
std::vector<std::string> MimeAppsLists()
{
    std::vector<std::string> desktops;
    for (std::string d : SplitList(Env("XDG_CURRENT_DESKTOP"), ':')) {
        std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        desktops.push_back(d);
    }
    std::vector<std::string> folders;
    if (const std::string c = ConfigHome(); !c.empty())
        folders.push_back(c);
    for (const std::string& d : DirsOf("XDG_CONFIG_DIRS", "/etc/xdg"))
        folders.push_back(d);
    for (const std::string& d : ApplicationDirs())
        folders.push_back(d);
    std::vector<std::string> out;
    for (const std::string& f : folders) {
        for (const std::string& d : desktops)
            out.push_back(f + "/" + d + "-mimeapps.list");
        out.push_back(f + "/mimeapps.list");
    }
    return out;
}

// A key file: group -> key -> raw value.
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;

KeyFile ReadKeyFile(const std::string& path, const std::set<std::string>& groups)
{
    KeyFile out;
    std::ifstream in(path);
    std::string line, group;
    bool wanted = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        if (line[start] == '[') {
            const size_t end = line.find(']', start);
            group = line.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
            wanted = groups.count(group) > 0;
            continue;
        }
        if (!wanted)
            continue;
        const size_t eq = line.find('=', start);
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(start, eq - start);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        std::string value = line.substr(eq + 1);
        const size_t v = value.find_first_not_of(" \t");
        value = v == std::string::npos ? std::string() : value.substr(v);
        auto& keys = out[group];
        keys.emplace(key, value);  // the first occurrence counts
    }
    return out;
}

// The escapes of a string value: \s \n \t \r \\.
std::string Unescape(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        switch (c) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool ProgramInPath(const std::string& program)
{
    if (program.empty())
        return false;
    if (program.find('/') != std::string::npos)
        return IsExecutableFile(program);
    for (const std::string& dir : SplitList(Env("PATH"), ':'))
        if (IsExecutableFile(dir + "/" + program))
            return true;
    return false;
}

struct Entry {
    ShellApp app;
    std::vector<std::string> mimeTypes;
};

// Reads a desktop entry; false for one that is no usable application
// (another type, hidden, or its TryExec program missing).
bool ReadEntry(const std::string& path, const std::string& id, Entry& entry)
{
    const KeyFile kf = ReadKeyFile(path, {"Desktop Entry"});
    const auto g = kf.find("Desktop Entry");
    if (g == kf.end())
        return false;
    auto get = [&](const char* key) {
        const auto it = g->second.find(key);
        return it == g->second.end() ? std::string() : it->second;
    };
    if (get("Type") != "Application" || get("Hidden") == "true")
        return false;
    const std::string tryExec = Unescape(get("TryExec"));
    if (!tryExec.empty() && !ProgramInPath(tryExec))
        return false;
    entry.app.id = id;
    entry.app.path = path;
    entry.app.name = Unescape(get("Name"));
    entry.app.icon = Unescape(get("Icon"));
    entry.app.exec = Unescape(get("Exec"));
    entry.app.workingDir = Unescape(get("Path"));
    entry.app.terminal = get("Terminal") == "true";
    entry.mimeTypes = SplitList(get("MimeType"), ';');
    if (entry.app.exec.empty())
        return false;
    if (entry.app.name.empty())
        entry.app.name = id.substr(0, id.size() - 8);
    return true;
}

// Every desktop file of one applications folder by ID.
void CollectDesktopFiles(const std::string& dir, const std::string& prefix, std::map<std::string, std::string>& out,
    int depth)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < 4)
                CollectDesktopFiles(path, prefix + name + "-", out, depth + 1);
        } else if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
            out.emplace(prefix + name, path);
        }
    }
    ::closedir(d);
}

// The installed applications and the type lists, read afresh for each
// question: a menu asks once, and the folders change while the program runs.
class Catalogue {
public:
    Catalogue()
    {
        for (const std::string& dir : ApplicationDirs()) {
            std::map<std::string, std::string> files;
            CollectDesktopFiles(dir, "", files, 0);
            Level level;
            for (const auto& [id, path] : files) {
                if (m_seen.count(id))
                    continue;  // a more important folder has this ID
                m_seen.insert(id);
                Entry entry;
                if (!ReadEntry(path, id, entry))
                    continue;
                level.ids.push_back(id);
                m_entries.emplace(id, std::move(entry));
            }
            // The folder's cache lists its types; without one the entries do.
            const KeyFile cache = ReadKeyFile(dir + "/mimeinfo.cache", {"MIME Cache"});
            if (const auto g = cache.find("MIME Cache"); g != cache.end()) {
                for (const auto& [type, ids] : g->second)
                    level.byType[type] = SplitList(ids, ';');
            } else {
                for (const std::string& id : level.ids)
                    for (const std::string& type : m_entries[id].mimeTypes)
                        level.byType[type].push_back(id);
            }
            m_levels.push_back(std::move(level));
        }
        for (const std::string& file : MimeAppsLists())
            m_lists.push_back(ReadKeyFile(file, {"Default Applications", "Added Associations", "Removed Associations"}));
    }

    bool Installed(const std::string& id) const { return m_entries.count(id) > 0; }
    const ShellApp& App(const std::string& id) const { return m_entries.at(id).app; }

    std::vector<std::string> Default(const std::string& type) const
    {
        std::vector<std::string> out;
        for (const KeyFile& list : m_lists)
            for (const std::string& id : Values(list, "Default Applications", type))
                out.push_back(id);
        return out;
    }

    // Added associations, then the applications that name the type, less
    // the associations removed by a file of the same or higher importance.
    std::vector<std::string> Associated(const std::string& type) const
    {
        std::vector<std::string> out;
        std::set<std::string> removed;
        auto add = [&](const std::string& id) {
            if (!removed.count(id) && Installed(id) && std::find(out.begin(), out.end(), id) == out.end())
                out.push_back(id);
        };
        for (const KeyFile& list : m_lists) {
            for (const std::string& id : Values(list, "Removed Associations", type))
                removed.insert(id);
            for (const std::string& id : Values(list, "Added Associations", type))
                add(id);
        }
        for (const Level& level : m_levels)
            if (const auto it = level.byType.find(type); it != level.byType.end())
                for (const std::string& id : it->second)
                    add(id);
        return out;
    }

private:
    struct Level {
        std::vector<std::string> ids;
        std::map<std::string, std::vector<std::string>> byType;
    };
    static std::vector<std::string> Values(const KeyFile& list, const char* group, const std::string& type)
    {
        const auto g = list.find(group);
        if (g == list.end())
            return {};
        const auto k = g->second.find(type);
        return k == g->second.end() ? std::vector<std::string>() : SplitList(k->second, ';');
    }

    std::set<std::string> m_seen;
    std::map<std::string, Entry> m_entries;
    std::vector<Level> m_levels;
    std::vector<KeyFile> m_lists;
};

QMimeDatabase& Mime()
{
    static QMimeDatabase* db = new QMimeDatabase;
    return *db;
}

const char kUnreserved[] = "-._~/";

bool IsUnreserved(unsigned char c) { return std::isalnum(c) || std::strchr(kUnreserved, c); }

// Splits an Exec line into arguments by the Desktop Entry quoting rules:
// blanks separate, a double-quoted argument keeps its blanks, and inside it
// a backslash escapes ", `, $ and \.
bool SplitExec(const std::string& exec, std::vector<std::string>& args)
{
    args.clear();
    size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t'))
            ++i;
        if (i == exec.size())
            break;
        std::string arg;
        bool quotedArg = false;
        while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') {
            if (exec[i] == '"') {
                quotedArg = true;
                ++i;
                bool closed = false;
                while (i < exec.size()) {
                    if (exec[i] == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) {
                        arg += exec[i + 1];
                        i += 2;
                    } else if (exec[i] == '"') {
                        ++i;
                        closed = true;
                        break;
                    } else {
                        arg += exec[i++];
                    }
                }
                if (!closed)
                    return false;
            } else {
                arg += exec[i++];
            }
        }
        if (!arg.empty() || quotedArg)
            args.push_back(arg);
    }
    return !args.empty();
}

enum class FileCode { None, OneFile, OneUrl, Files, Urls };

FileCode FindFileCode(const std::vector<std::string>& args)
{
    for (const std::string& a : args)
        for (size_t i = 0; i + 1 < a.size(); ++i) {
            if (a[i] != '%')
                continue;
            switch (a[i + 1]) {
            case 'f': return FileCode::OneFile;
            case 'u': return FileCode::OneUrl;
            case 'F': return FileCode::Files;
            case 'U': return FileCode::Urls;
            default: ++i;  // "%%" and the other codes are skipped whole
            }
        }
    return FileCode::None;
}

// One command line: the arguments with their codes expanded for the files given.
std::vector<std::string> ExpandArgs(const ShellApp& app, const std::vector<std::string>& args,
    const std::vector<std::string>& files)
{
    std::vector<std::string> out;
    for (const std::string& a : args) {
        if (a == "%F" || a == "%U") {
            for (const std::string& f : files)
                out.push_back(a == "%U" ? ShellFileUrl(f) : f);
            continue;
        }
        if (a == "%i") {
            if (!app.icon.empty()) {
                out.push_back("--icon");
                out.push_back(app.icon);
            }
            continue;
        }
        if ((a == "%f" || a == "%u") && files.empty())
            continue;
        // Deprecated codes standing alone are dropped with their argument.
        if (a.size() == 2 && a[0] == '%' && std::strchr("dDnNvm", a[1]))
            continue;
        std::string expanded;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] != '%' || i + 1 == a.size()) {
                expanded += a[i];
                continue;
            }
            const char code = a[++i];
            switch (code) {
            case '%': expanded += '%'; break;
            case 'f':
            case 'F': if (!files.empty()) expanded += files.front(); break;
            case 'u':
            case 'U': if (!files.empty()) expanded += ShellFileUrl(files.front()); break;
            case 'c': expanded += app.name; break;
            case 'k': expanded += app.path; break;
            case 'i': expanded += app.icon; break;
            default:
                // Deprecated codes (%d %D %n %N %v %m) and unknown ones are dropped.
                break;
            }
        }
        out.push_back(expanded);
    }
    return out;
}

} // namespace

bool ShellReadDesktopEntry(const std::string& path, ShellDesktopEntry& entry)
{
    const KeyFile kf = ReadKeyFile(path, {"Desktop Entry"});
    const auto g = kf.find("Desktop Entry");
    if (g == kf.end())
        return false;
    const auto type = g->second.find("Type");
    if (type != g->second.end() && type->second == "Link") {
        const auto url = g->second.find("URL");
        if (url == g->second.end() || url->second.empty())
            return false;
        entry.kind = ShellDesktopEntry::Link;
        entry.url = Unescape(url->second);
        const auto icon = g->second.find("Icon");
        entry.icon = icon == g->second.end() ? std::string() : Unescape(icon->second);
        return true;
    }
    Entry app;
    if (!ReadEntry(path, path.substr(path.find_last_of('/') + 1), app))
        return false;
    entry.kind = ShellDesktopEntry::Application;
    entry.icon = app.app.icon;
    entry.app = std::move(app.app);
    return true;
}

std::string ShellFileUrl(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path) {
        if (IsUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string ShellMimeTypeOf(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return "inode/directory";
    return Mime().mimeTypeForFile(QString::fromStdString(path)).name().toStdString();
}

std::vector<std::string> ShellMimeTypeAndAncestors(const std::string& mimeType)
{
    std::vector<std::string> out {mimeType};
    const QMimeType t = Mime().mimeTypeForName(QString::fromStdString(mimeType));
    if (t.isValid()) {
        if (t.name().toStdString() != mimeType)
            out.push_back(t.name().toStdString());  // an alias names its type
        for (const QString& a : t.allAncestors())
            out.push_back(a.toStdString());
    }
    return out;
}

bool ShellIsProgramType(const std::string& mimeType)
{
    static const char* const programs[] = {
        "application/x-executable", "application/x-pie-executable", "application/x-sharedlib",
        "application/x-ms-dos-executable", "application/x-msdownload", "application/x-msi",
        "application/x-ms-shortcut", "application/x-desktop", "application/x-shellscript",
        "application/vnd.appimage", "application/x-java-archive", "application/x-executable-script",
        "application/x-perl", "text/x-python", "text/x-python3", "application/x-ruby", "application/x-csh",
    };
    for (const std::string& t : ShellMimeTypeAndAncestors(mimeType))
        for (const char* p : programs)
            if (t == p)
                return true;
    return false;
}

std::vector<ShellApp> ShellAppsForType(const std::string& mimeType)
{
    const Catalogue catalogue;
    std::vector<std::string> ids;
    auto add = [&](const std::string& id) {
        if (catalogue.Installed(id) && std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    };
    const std::vector<std::string> types = ShellMimeTypeAndAncestors(mimeType);
    // The default of the most specific type that has one comes first.
    for (const std::string& t : types) {
        const std::vector<std::string> defaults = catalogue.Default(t);
        const auto it = std::find_if(defaults.begin(), defaults.end(), [&](const std::string& id) { return catalogue.Installed(id); });
        if (it != defaults.end()) {
            add(*it);
            break;
        }
    }
    for (const std::string& t : types)
        for (const std::string& id : catalogue.Associated(t))
            add(id);
    std::vector<ShellApp> out;
    for (const std::string& id : ids)
        out.push_back(catalogue.App(id));
    return out;
}

bool ShellDefaultAppForType(const std::string& mimeType, ShellApp& app)
{
    const std::vector<ShellApp> apps = ShellAppsForType(mimeType);
    if (apps.empty())
        return false;
    app = apps.front();
    return true;
}

bool ShellFindApp(const std::string& desktopId, ShellApp& app)
{
    const Catalogue catalogue;
    if (!catalogue.Installed(desktopId))
        return false;
    app = catalogue.App(desktopId);
    return true;
}

std::vector<std::vector<std::string>> ShellExpandExec(const ShellApp& app, const std::vector<std::string>& files,
    std::string& error)
{
    std::vector<std::string> args;
    if (!SplitExec(app.exec, args)) {
        error = "The command line of \"" + app.name + "\" cannot be read: " + app.exec;
        return {};
    }
    FileCode code = FindFileCode(args);
    if (code == FileCode::None && !files.empty()) {
        // As the desktops do: an Exec line without a file code takes one file.
        args.push_back("%f");
        code = FileCode::OneFile;
    }
    std::vector<std::vector<std::string>> out;
    if ((code == FileCode::OneFile || code == FileCode::OneUrl) && files.size() > 1) {
        for (const std::string& f : files)
            out.push_back(ExpandArgs(app, args, {f}));
    } else {
        out.push_back(ExpandArgs(app, args, files));
    }
    if (app.terminal)
        for (auto& line : out)
            line.insert(line.begin(), {"x-terminal-emulator", "-e"});
    return out;
}

bool ShellSpawnDetached(const std::vector<std::string>& argv, const std::string& workingDir, unsigned& error)
{
    error = 0;
    if (argv.empty()) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    std::vector<char*> raw;
    for (const std::string& a : argv)
        raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, raw[0], &actions, &attr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = Win32ErrorFromErrno(rc);
        return false;
    }
    // The program lives on its own; a thread collects its exit so that no
    // zombie is left while this program runs.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

bool ShellLaunchApp(const ShellApp& app, const std::vector<std::string>& files, std::string& error)
{
    const auto lines = ShellExpandExec(app, files, error);
    if (lines.empty())
        return false;
    for (const auto& line : lines) {
        unsigned code = 0;
        if (!ShellSpawnDetached(line, app.workingDir, code)) {
            error = "\"" + app.name + "\" cannot be started (" + line.front() + "): " + SysErrorMessage(code) + ".";
            return false;
        }
    }
    return true;
}
