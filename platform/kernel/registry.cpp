#include "kernel/registry.h"

#include "rtl/classes.h"
#include "rtl/sysutils.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <cctype>
#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string XdgFolder(const char* variable, const char* fallback)
{
    if (const char* x = std::getenv(variable); x && *x == '/')
        return x;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/" + fallback;
}

const char* RootName(HKEY root)
{
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    }
    return nullptr;
}

// The store's text: a "[section]" line per key, then "name=value" lines.
// Backslash, line feed, carriage return, '=' and '[' at the start of a name
// are written as escapes, so any value reads back as it was written.
using Store = std::map<std::string, std::map<std::string, std::string>>;

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '=': out += "\\e"; break;
        case '[': out += "\\b"; break;
        case ']': out += "\\c"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'e': out += '='; break;
        case 'b': out += '['; break;
        case 'c': out += ']'; break;
        default: out += s[i];
        }
    }
    return out;
}

// A missing or unreadable store reads as empty; lines it cannot place are
// dropped.
Store ReadStore()
{
    Store store;
    std::string text;
    try {
        text = ReadWholeFile(RegistryStorePath());
    } catch (const Exception&) {
        return store;
    }
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = Unescape(line.substr(1, line.size() - 2));
            store[section];
            continue;
        }
        const std::size_t eq = line.find('=');
        if (section.empty() || eq == std::string::npos)
            continue;
        store[section][Unescape(line.substr(0, eq))] = Unescape(line.substr(eq + 1));
    }
    return store;
}

void WriteStore(const Store& store)
{
    std::string text;
    for (const auto& [section, values] : store) {
        text += "[" + Escape(section) + "]\n";
        for (const auto& [name, value] : values)
            text += Escape(name) + "=" + Escape(value) + "\n";
    }
    const std::string path = RegistryStorePath();
    ForceDirectories(path.substr(0, path.find_last_of('/')));
    WriteFileAtomically(path, text);
}

std::string NormaliseKey(const std::string& key)
{
    std::size_t a = 0, b = key.size();
    while (a < b && key[a] == '\\')
        ++a;
    while (b > a && key[b - 1] == '\\')
        --b;
    return key.substr(a, b - a);
}

// Runs a program found on PATH with its arguments, without a shell; true
// when it ran and exited with 0 within the time allowed.
bool RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    // gsettings answers at once; one that hangs (a settings service that
    // does not respond) is given up after ten seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A file URI for a path: bytes other than unreserved ones and '/' are
// percent-escaped.
std::string FileUri(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~')
            uri += static_cast<char>(c);
        else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

}  // namespace

std::string RegistryStorePath() { return XdgFolder("XDG_CONFIG_HOME", ".config") + "/vistrel/registry"; }

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

std::string TRegistry::Section(const std::string& key) const
{
    const char* root = RootName(RootKey);
    return root ? std::string(root) + "\\" + NormaliseKey(key) : std::string();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate)
{
    const std::string section = Section(key);
    if (section.empty())
        return false;
    Store store = ReadStore();
    if (!store.count(section)) {
        if (!canCreate)
            return false;
        store[section];
        try {
            WriteStore(store);
        } catch (const Exception&) {
            return false;
        }
    }
    m_current = section;
    return true;
}

void TRegistry::CloseKey() { m_current.clear(); }

bool TRegistry::KeyExists(const std::string& key)
{
    const std::string section = Section(key);
    return !section.empty() && ReadStore().count(section) != 0;
}

bool TRegistry::ValueExists(const std::string& name)
{
    if (m_current.empty())
        return false;
    const Store store = ReadStore();
    auto it = store.find(m_current);
    return it != store.end() && it->second.count(name) != 0;
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    if (m_current.empty())
        throw ERegistryException("Failed to set data for '" + name + "'");
    Store store = ReadStore();
    store[m_current][name] = value;
    try {
        WriteStore(store);
    } catch (const Exception&) {
        throw ERegistryException("Failed to set data for '" + name + "'");
    }
}

std::string TRegistry::ReadString(const std::string& name)
{
    if (m_current.empty())
        return {};
    const Store store = ReadStore();
    auto it = store.find(m_current);
    if (it == store.end())
        return {};
    auto v = it->second.find(name);
    return v == it->second.end() ? std::string() : v->second;
}

UINT GetWindowsDirectoryA(char* buffer, UINT size)
{
    const std::string folder = XdgFolder("XDG_DATA_HOME", ".local/share") + "/vistrel";
    if (!ForceDirectories(folder))
        return 0;
    if (!buffer || folder.size() + 1 > size)
        return static_cast<UINT>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

BOOL SystemParametersInfoA(UINT action, UINT, void* value, UINT)
{
    if (action != SPI_SETDESKWALLPAPER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TRegistry reg;
    if (!reg.OpenKey("Control Panel\\Desktop", false) && !value)
        return FALSE;
    const std::string picture = value ? static_cast<const char*>(value) : reg.ReadString("WallPaper");
    const bool tiled = reg.ReadString("TileWallPaper") == "1";
    const std::string style = reg.ReadString("WallPaperStyle");
    const char* options = tiled ? "wallpaper" : style == "2" ? "stretched" : "centered";
    if (picture.empty())
        return FALSE;
    const std::string uri = FileUri(picture);
    const char* schema = "org.gnome.desktop.background";
    for (const std::vector<std::string>& args : {
             std::vector<std::string> {"gsettings", "set", schema, "picture-options", options},
             std::vector<std::string> {"gsettings", "set", schema, "picture-uri", uri},
             std::vector<std::string> {"gsettings", "set", schema, "picture-uri-dark", uri},
         })
        if (!RunProgram(args))
            return FALSE;
    return TRUE;
}
