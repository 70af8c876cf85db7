// Runs an extractor of the ARC, cabinet or RAR family over a fixture and
// records what its events saw; extracts with the peer tools as reference.
// Fixture and TreeOf come from the ZIP extractor's support.
#pragma once

#include "../archive_extract/extract_support.h"
#include "archive/zadunbase.h"
#include "test_support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

struct ExtractRun {
    int count = 0;
    std::vector<std::string> begun;
    std::vector<std::pair<std::string, bool>> ended;
    std::vector<std::pair<int, std::string>> errors;
    std::vector<std::string> volumesAsked;
    std::vector<int> volumeIds;  // the number each was asked for by
    std::map<std::string, std::string> files;
    int Errors(int code) const
    {
        int n = 0;
        for (const auto& e : errors)
            n += e.first == code;
        return n;
    }
    int Passed() const
    {
        int n = 0;
        for (const auto& e : ended)
            n += e.second;
        return n;
    }
};

// The files of a tree as names with their sizes and a hash of their bytes,
// short enough to read in a failure.
inline std::map<std::string, std::string> Digest(const std::map<std::string, std::string>& files)
{
    std::map<std::string, std::string> out;
    for (const auto& [name, bytes] : files)
        out[name] = std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes));
    return out;
}

inline void Watch(TCustomDClass& x, ExtractRun& r)
{
    x.OnBegin = [&r](TObject*, const std::string& name, int, bool&) { r.begun.push_back(name); };
    x.OnEnd = [&r](TObject*, const std::string& name, bool pass) { r.ended.emplace_back(name, pass); };
    x.OnError = [&r](TObject*, const std::string& file, const std::string&, const std::string&, int code) {
        r.errors.emplace_back(code, file);
    };
    x.OnNextVolume = [&r](TObject*, std::string& name, int id, bool, bool& cancel) {
        r.volumesAsked.push_back(name);
        r.volumeIds.push_back(id);
        cancel = !std::filesystem::exists(name);
    };
}

// Extracts every entry of archive into dir with a fresh extractor.
template <class Extractor>
ExtractRun ExtractInto(const std::string& archive, const std::string& dir, const std::vector<std::string>& masks = {"*.*"},
                Extractor* reuse = nullptr)
{
    Extractor own;
    Extractor& x = reuse ? *reuse : own;
    ExtractRun r;
    Watch(x, r);
    x.SetArchiveFile(archive);
    x.SetExtractDir(dir);
    x.FileSpec.Clear();
    for (const auto& m : masks)
        x.FileSpec.Add(m);
    r.count = x.Extract();
    r.files = TreeOf(dir);
    return r;
}

// A peer's extraction of the archive into dir ("%a" the archive, "%d" the folder).
inline bool Peer(std::string command, const std::string& archive, const std::string& dir)
{
    for (auto [key, value] : {std::pair<std::string, std::string>{"%a", "'" + archive + "'"}, {"%d", "'" + dir + "'"}})
        command.replace(command.find(key), 2, value);
    return std::system((command + " < /dev/null > /dev/null 2>&1").c_str()) == 0;
}
