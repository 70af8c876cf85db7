// A private home for a test: HOME and the XDG folders point into a temporary
// folder, so the namespace's home, desktop and special folders are the test's.
#pragma once

#include "test_support/temp_dir.h"

#include "shell/ptshutils.h"

#include "vcl/forms.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

// The Qt application and the class library's application object, whose
// prompt service the shell's questions go through; made once, kept.
inline void EnsureShellApplication()
{
    EnsureQtApplication();
    if (!Application)
        new TApplication();
}

class ShellEnv {
public:
    ShellEnv()
    {
        Save("HOME");
        Save("XDG_CONFIG_HOME");
        Save("XDG_DATA_HOME");
        Save("XDG_DATA_DIRS");
        Save("XDG_CONFIG_DIRS");
        Save("XDG_CURRENT_DESKTOP");
        // The system's folders hold applications and associations of their
        // own: the test's data folder has only the MIME database.
        std::filesystem::create_directories(dir.Path("share"));
        const char* dataDirs = std::getenv("XDG_DATA_DIRS");
        std::string dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
        for (size_t start = 0; start <= dirs.size();) {
            const size_t end = dirs.find(':', start);
            const std::string d = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!d.empty() && std::filesystem::exists(d + "/mime/mime.cache")) {
                std::filesystem::create_directory_symlink(d + "/mime", dir.Path("share/mime"));
                break;
            }
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        ::setenv("XDG_DATA_DIRS", dir.Path("share").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", dir.Path("xdg").c_str(), 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");
        ::setenv("HOME", Home().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (Home() + "/.config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (Home() + "/.local/share").c_str(), 1);
        dir.Write("home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desk top\"\nXDG_PICTURES_DIR=\"$HOME/Pics\"\n");
        std::filesystem::create_directories(Home() + "/Desk top");
    }
    ~ShellEnv()
    {
        for (const auto& [name, value] : m_saved)
            if (value.second)
                ::setenv(name.c_str(), value.first.c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }
    std::string Home() const { return dir.Path("home"); }
    TempDir dir;

private:
    void Save(const char* name)
    {
        const char* v = std::getenv(name);
        m_saved.push_back({name, {v ? v : "", v != nullptr}});
    }
    std::vector<std::pair<std::string, std::pair<std::string, bool>>> m_saved;
};

// An owned item identifier list.
struct Pidl {
    LPITEMIDLIST p = nullptr;
    Pidl() = default;
    explicit Pidl(LPITEMIDLIST list) : p(list) {}
    ~Pidl() { ShellMemFree(p); }
    Pidl(const Pidl&) = delete;
    Pidl& operator=(const Pidl&) = delete;
    LPITEMIDLIST* operator&() { return &p; }
    operator LPITEMIDLIST() const { return p; }
};

inline LPITEMIDLIST ParsePath(const std::string& path)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(ShellGetIdListFromPath(path, list)))
        return nullptr;
    return list;
}

// Builds a list from raw items: each string is one item's payload.
inline LPITEMIDLIST RawList(const std::vector<std::string>& payloads)
{
    size_t total = 2;
    for (const auto& p : payloads)
        total += p.size() + 2;
    auto* out = static_cast<BYTE*>(ShellMemAlloc(total));
    size_t at = 0;
    for (const auto& p : payloads) {
        const size_t cb = p.size() + 2;
        out[at] = static_cast<BYTE>(cb);
        out[at + 1] = static_cast<BYTE>(cb >> 8);
        std::memcpy(out + at + 2, p.data(), p.size());
        at += cb;
    }
    out[at] = out[at + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(out);
}
