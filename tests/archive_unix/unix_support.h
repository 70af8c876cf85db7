// Lists an archive with TVirOV and extracts it with the extractor of its
// type, recording names, events and what landed on disk.
#pragma once

#include "archive/zadunarc.h"
#include "archive/zadunarj.h"
#include "archive/zadunbh.h"
#include "archive/zaduncab.h"
#include "archive/zadungzip.h"
#include "archive/zadunlha.h"
#include "archive/zadunrar.h"
#include "archive/zaduntar.h"
#include "archive/zaduudecode.h"
#include "archive/zadunzip.h"
#include "archive/zadunzoo.h"
#include "archive/zadvirov.h"
#include "test_support/temp_dir.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

inline std::string UnixFixture(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

struct UnixListing {
    TArcType type = atNA;
    bool result = false;
    std::vector<std::string> names;
    std::vector<TDateTime> dates;
    std::vector<std::string> methods;
    std::vector<std::pair<int, std::string>> errors;  // code, extended message
};

inline UnixListing ListArchive(const std::string& path)
{
    TVirOV v;
    UnixListing out;
    v.FileSpec.Add("*.*");
    v.OnRead = [&](TObject*, std::int64_t, int) {
        out.names.push_back(v.Filename);
        out.dates.push_back(v.FileDate);
        out.methods.push_back(v.CompressMethodStr);
    };
    v.OnError = [&](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
        out.errors.emplace_back(code, ext);
    };
    v.SetArchiveFile(path);
    out.type = v.ArcType;
    out.result = v.Activate();
    return out;
}

inline std::unique_ptr<TCustomDClass> ExtractorFor(TArcType type)
{
    switch (type) {
    case atZip:
    case atZipExe: return std::make_unique<TUnZip>();
    case atArj:
    case atArjExe: return std::make_unique<TUnARJ>();
    case atTar: return std::make_unique<TUnTar>();
    case atGZip: return std::make_unique<TUnGZip>();
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe: return std::make_unique<TUnLha>();
    case atRar:
    case atRarExe: return std::make_unique<TUnRar>();
    case atArc:
    case atArcExe: return std::make_unique<TUnArc>();
    case atBh:
    case atBhExe: return std::make_unique<TUnBh>();
    case atZoo: return std::make_unique<TUnZoo>();
    case atCab: return std::make_unique<TUnCab>();
    case atUUE: return std::make_unique<TUUDecode>();
    default: return nullptr;
    }
}

struct UnixExtraction {
    int count = -1;
    std::vector<std::string> begun;
    std::vector<std::pair<std::string, bool>> ended;
    std::vector<std::pair<int, std::string>> errors;  // code, "file: extended message"
    std::map<std::string, std::string> files;          // relative path -> bytes (links: "-> target")
    int ErrorsWith(int code) const
    {
        int n = 0;
        for (const auto& e : errors)
            n += e.first == code;
        return n;
    }
};

// Every file below root by relative path: regular files with their bytes,
// symbolic links as "-> target".
inline std::map<std::string, std::string> FilesBelow(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        const std::string rel = std::filesystem::relative(e.path(), root).string();
        if (e.is_symlink()) {
            files[rel] = "-> " + std::filesystem::read_symlink(e.path()).string();
        } else if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            files[rel] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return files;
}

// Extracts the entries the masks select into dir (all for no masks).
inline UnixExtraction ExtractArchive(const std::string& path, const std::string& dir,
                                     const std::vector<std::string>& masks = {},
                                     const std::function<void(TCustomDClass&)>& setup = {})
{
    UnixExtraction out;
    TVirOV probe;
    probe.SetArchiveFile(path);
    std::unique_ptr<TCustomDClass> x = ExtractorFor(probe.ArcType);
    if (!x)
        return out;
    x->SetArchiveFile(path);
    x->SetExtractDir(dir);
    x->UseStoredDirs = true;
    x->CreateStoredDirs = true;
    x->FileSpec.Clear();
    if (masks.empty())
        x->FileSpec.Add("*.*");
    for (const auto& m : masks)
        x->FileSpec.Add(m);
    x->OnBegin = [&](TObject*, const std::string& name, int, bool&) { out.begun.push_back(name); };
    x->OnEnd = [&](TObject*, const std::string& name, bool pass) { out.ended.emplace_back(name, pass); };
    x->OnError = [&](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        out.errors.emplace_back(code, std::filesystem::path(file).filename().string() + ": " + ext);
    };
    if (setup)
        setup(*x);
    out.count = x->Extract();
    out.files = FilesBelow(dir);
    return out;
}

// The permission bits of a file.
inline int ModeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// A file's modification time: seconds since 1970 and nanoseconds.
inline std::pair<std::int64_t, long> MTimeOf(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {-1, -1};
    return {static_cast<std::int64_t>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
}
