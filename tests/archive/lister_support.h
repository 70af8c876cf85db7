// Lists an archive with TVirOV and records what OnRead and OnError saw.
#pragma once

#include "archive/zadvirov.h"
#include "rtl/sysutils.h"
#include "test_support/temp_dir.h"

#include <string>
#include <fstream>
#include <sstream>
#include <vector>

struct ListedEntry {
    std::string name;
    std::int64_t packed = 0;
    std::int64_t unpacked = 0;
    std::uint32_t crc = 0;
    bool encrypted = false;
    std::string method;
    std::int64_t offset = 0;
    int filenum = 0;
    std::string comment;
    TDateTime date = 0;
    int externalAttr = 0;
};

struct Listing {
    bool result = false;
    TArcType type = atNA;
    std::vector<ListedEntry> entries;
    std::vector<int> errors;
    std::vector<std::string> errorFiles;
    std::vector<std::string> errorTexts;  // the extended messages
    std::int64_t totalPacked = -1, totalUnpacked = -1;
    int totalFiles = -1;
    int totalRatio = -1;
};

inline void Attach(TVirOV& v, Listing& out)
{
    v.FileSpec.Clear();
    v.FileSpec.Add("*.*");
    v.OnRead = [&v, &out](TObject*, std::int64_t offset, int filenum) {
        ListedEntry e;
        e.name = v.Filename;
        e.packed = v.PackedSize;
        e.unpacked = v.UnpackedSize;
        e.crc = v.Crc;
        e.encrypted = v.Encrypted;
        e.method = v.CompressMethodStr;
        e.offset = offset;
        e.filenum = filenum;
        e.comment = v.FileComment;
        e.date = v.FileDate;
        e.externalAttr = v.ExternalAttr;
        out.entries.push_back(e);
    };
    v.OnError = [&out](TObject*, const std::string& f, const std::string& ext, const std::string&, int code) {
        out.errors.push_back(code);
        out.errorFiles.push_back(f);
        out.errorTexts.push_back(ext);
    };
    v.OnTotals = [&out](TObject*, std::int64_t unpacked, std::int64_t packed, BYTE ratio, int files) {
        out.totalRatio = ratio;
        out.totalUnpacked = unpacked;
        out.totalPacked = packed;
        out.totalFiles = files;
    };
}

inline Listing ListFile(const std::string& path, bool showDirs = false)
{
    TVirOV v;
    Listing out;
    Attach(v, out);
    v.ShowEmptyDirs = showDirs;
    v.SetArchiveFile(path);
    out.type = v.ArcType;
    out.result = v.Activate();
    return out;
}

// Lists bytes written to a file of the given name.
inline Listing ListBytes(const std::string& bytes, const std::string& name = "t.zip")
{
    TempDir dir;
    dir.Write(name, bytes);
    return ListFile(dir.Path(name));
}

// The names and the method texts of a listing's entries, in order.
inline std::vector<std::string> Names(const Listing& l)
{
    std::vector<std::string> n;
    for (const auto& e : l.entries)
        n.push_back(e.name);
    return n;
}

inline std::vector<std::string> Methods(const Listing& l)
{
    std::vector<std::string> m;
    for (const auto& e : l.entries)
        m.push_back(e.method);
    return m;
}

// An entry's date as "YYYY-MM-DD hh:mm:ss".
inline std::string Stamp(TDateTime d)
{
    int y, mo, da, h, mi, s, ms;
    DecodeDate(d, y, mo, da);
    DecodeTime(d, h, mi, s, ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", y, mo, da, h, mi, s);
}

inline std::string FixturePath(const std::string& name) { return std::string(VISTREL_TEST_DATA) + "/fixtures/" + name; }

inline std::string ReadFixture(const std::string& name)
{
    std::ifstream in(FixturePath(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
