#include "shlshares.h"

#include "rtl/clock.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

namespace {

struct Sources {
    std::string smbConf = "/etc/samba/smb.conf";
    std::string usershareDir = "/var/lib/samba/usershares";
    std::string exports = "/etc/exports";
};

std::string Trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A path as the shares are compared: without trailing slashes.
std::string Normalised(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void AddPath(std::set<std::string>& paths, const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        paths.insert(Normalised(path));
}

// "key = value" of an ini-style line; false for any other line.
bool KeyValue(const std::string& line, std::string& key, std::string& value)
{
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Lower(Trimmed(std::string_view(line).substr(0, eq)));
    value = Trimmed(std::string_view(line).substr(eq + 1));
    return true;
}

// The shares of smb.conf: every section with a path, except the global one
// and printers.
void ReadSmbConf(const std::string& file, std::set<std::string>& paths)
{
    std::ifstream in(file);
    std::string line, section, path;
    bool printable = false;
    auto endSection = [&] {
        if (!section.empty() && section != "global" && section != "printers" && section != "print$" && !printable)
            AddPath(paths, path);
        path.clear();
        printable = false;
    };
    while (std::getline(in, line)) {
        const std::string t = Trimmed(line);
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        if (t[0] == '[') {
            endSection();
            section = Lower(Trimmed(std::string_view(t).substr(1, t.find(']') == std::string::npos ? std::string::npos
                                                                                                    : t.find(']') - 1)));
            continue;
        }
        std::string key, value;
        if (!KeyValue(t, key, value))
            continue;
        if (key == "path" || key == "directory")
            path = value;
        else if (key == "printable" || key == "print ok")
            printable = Lower(value) == "yes" || Lower(value) == "true" || value == "1";
    }
    endSection();
}

// The users' shares: one file per share with a "path=" line.
void ReadUsershares(const std::string& dir, std::set<std::string>& paths)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name);
        std::string line, key, value;
        while (std::getline(in, line))
            if (KeyValue(Trimmed(line), key, value) && key == "path")
                AddPath(paths, value);
    }
    ::closedir(d);
}

// The NFS exports: the first word of each line, quoted when it holds spaces.
void ReadExports(const std::string& file, std::set<std::string>& paths)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = Trimmed(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t[0] == '"') {
            const auto close = t.find('"', 1);
            if (close != std::string::npos)
                AddPath(paths, t.substr(1, close - 1));
            continue;
        }
        AddPath(paths, t.substr(0, t.find_first_of(" \t")));
    }
}

// What the sources looked like when they were read: their modification
// times (and the user-share folder's, which changes with its files).
std::vector<std::int64_t> Stamps(const Sources& s)
{
    std::vector<std::int64_t> stamps;
    for (const std::string* file : {&s.smbConf, &s.usershareDir, &s.exports}) {
        struct stat st;
        stamps.push_back(::stat(file->c_str(), &st) == 0
                ? static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec
                : -1);
    }
    return stamps;
}

struct ShareTable {
    std::mutex lock;
    Sources sources;
    std::set<std::string> paths;
    std::vector<std::int64_t> stamps;
    std::uint64_t checkedMs = 0;
    bool read = false;
};

ShareTable& Table()
{
    static ShareTable table;
    return table;
}

} // namespace

bool ShellIsSharedFolder(const std::string& path)
{
    ShareTable& t = Table();
    std::lock_guard guard(t.lock);
    const std::uint64_t now = CurrentClock().NowMs();
    if (!t.read || now - t.checkedMs >= 1000) {
        t.checkedMs = now;
        std::vector<std::int64_t> stamps = Stamps(t.sources);
        if (!t.read || stamps != t.stamps) {
            t.paths.clear();
            ReadSmbConf(t.sources.smbConf, t.paths);
            ReadUsershares(t.sources.usershareDir, t.paths);
            ReadExports(t.sources.exports, t.paths);
            t.stamps = std::move(stamps);
            t.read = true;
        }
    }
    return !t.paths.empty() && t.paths.count(Normalised(path)) > 0;
}

void ShellSetShareSourcesForTest(const std::string& smbConf, const std::string& usershareDir,
    const std::string& exports)
{
    ShareTable& t = Table();
    std::lock_guard guard(t.lock);
    const Sources system;
    t.sources.smbConf = smbConf.empty() ? system.smbConf : smbConf;
    t.sources.usershareDir = usershareDir.empty() ? system.usershareDir : usershareDir;
    t.sources.exports = exports.empty() ? system.exports : exports;
    t.read = false;
}
