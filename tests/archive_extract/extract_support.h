// Runs the ZIP extractor over a fixture and records what its events saw;
// extracts the same archive with 7z as the reference.
#pragma once

#include "archive/zadunzip.h"
#include "test_support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

inline std::string Fixture(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

struct ExtractLog {
    std::vector<std::string> begun;
    std::vector<std::pair<std::string, bool>> ended;
    std::vector<std::pair<int, std::string>> errors;
    std::vector<std::string> extended;  // each error's extended message
    int count = -1;
    int ErrorsWith(int code) const
    {
        int n = 0;
        for (const auto& e : errors)
            n += e.first == code;
        return n;
    }
    int Failed() const
    {
        int n = 0;
        for (const auto& e : ended)
            n += !e.second;
        return n;
    }
};

inline void Attach(TUnZip& z, ExtractLog& log)
{
    z.OnBegin = [&log](TObject*, const std::string& name, int, bool&) { log.begun.push_back(name); };
    z.OnEnd = [&log](TObject*, const std::string& name, bool pass) { log.ended.emplace_back(name, pass); };
    z.OnError = [&log](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        log.errors.emplace_back(code, file);
        log.extended.push_back(ext);
    };
}

inline void Prepare(TUnZip& z, const std::string& archive, const std::string& dir)
{
    z.SetArchiveFile(archive);
    z.SetExtractDir(dir);
    z.FileSpec.Clear();
    z.FileSpec.Add("*.*");
}

// Every regular file below root, by relative path, with its bytes.
inline std::map<std::string, std::string> TreeOf(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[std::filesystem::relative(e.path(), root).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// 7z's extraction of the archive into dir (the reference).
inline bool Reference7z(const std::string& archive, const std::string& dir, const std::string& password = {})
{
    const std::string cmd = "7z x -y -bd -o'" + dir + "' " + (password.empty() ? std::string() : "-p'" + password + "'") +
                            " '" + archive + "' > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// What extracting an archive's bytes left: the events, the count and the
// files written.
struct Outcome {
    ExtractLog log;
    int count = 0;
    std::map<std::string, std::string> files;
};

// Extracts the archive's bytes into a fresh folder; error names are given
// relative to that folder.
inline Outcome ExtractBytes(const std::string& bytes, const std::string& name = "hostile.zip")
{
    TempDir work, out;
    work.Write(name, bytes);
    TUnZip z;
    Outcome r;
    Attach(z, r.log);
    Prepare(z, work.Path(name), out.Root());
    r.count = z.Extract();
    r.files = TreeOf(out.Root());
    for (auto& e : r.log.errors)
        if (e.second.rfind(out.Root(), 0) == 0)
            e.second.erase(0, out.Root().size());
    return r;
}
