// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TempDir {
public:
    // In the system's temporary folder, or in the given one.
    explicit TempDir(const std::string& base = "")
    {
        const std::filesystem::path in = base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
        std::string pattern = (in / "vistrel-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_root = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(m_root, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_root, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with its trailing '/'.
    std::string Root() const { return m_root.string() + "/"; }
    std::string Path(const std::string& relative) const { return (m_root / relative).string(); }

    void Write(const std::string& relative, const std::string& data) const
    {
        const auto p = m_root / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << data;
    }
    std::string Read(const std::string& relative) const
    {
        std::ifstream in(m_root / relative, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(m_root / relative); }
    // The names in the folder itself, sorted: a file left behind shows.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_root))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path m_root;
};
