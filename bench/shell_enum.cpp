// Enumerating a folder of 100,000 files with their attributes, sizes and
// modification dates through IShellFolder, against `ls -l` on the same
// folder, in alternating pairs.
//
// Prints both times, then "ratio <shell / ls -l> goal <= 2" as the last line.
#include "bench_support.h"

#include "shell/ptshutils.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kFiles = 100000;

std::string MakeFolder(const std::string& dir)
{
    const std::string folder = dir + "/shell_enum";
    const std::string marker = folder + "/.complete";
    if (std::filesystem::exists(marker))
        return folder;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    char name[64];
    for (int i = 0; i < kFiles; ++i) {
        std::snprintf(name, sizeof name, "/file%06d.%s", i, i % 3 == 0 ? "txt" : (i % 3 == 1 ? "png" : "dat"));
        std::ofstream(folder + name) << std::string(static_cast<size_t>(i % 4096), 'x');
    }
    std::ofstream(marker) << "ok";
    return folder;
}


// One pass as the file list makes it: every item with its attributes, its
// size text and its modification date text.
size_t EnumerateOnce(IShellFolder* desktop, LPCITEMIDLIST folderList)
{
    IShellFolder* folder = nullptr;
    if (FAILED(desktop->BindToObject(folderList, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder))))
        return 0;
    IShellFolder2* details = nullptr;
    folder->QueryInterface(IID_IShellFolder2, reinterpret_cast<void**>(&details));
    IEnumIDList* e = nullptr;
    size_t count = 0, textBytes = 0;
    if (SUCCEEDED(folder->EnumObjects(0, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &e))) {
        LPITEMIDLIST items[64];
        ULONG fetched = 0;
        for (;;) {
            const HRESULT hr = e->Next(64, items, &fetched);
            for (ULONG k = 0; k < fetched; ++k) {
                LPCITEMIDLIST one = items[k];
                ULONG attrs = 0x704F0037;
                folder->GetAttributesOf(1, &one, &attrs);
                for (UINT column : {1u, 3u}) {
                    SHELLDETAILS sd;
                    if (SUCCEEDED(details->GetDetailsOf(one, column, &sd))) {
                        textBytes += StrretToString(one, sd.str).size();
                        StrretFree(sd.str);
                    }
                }
                ShellMemFree(items[k]);
                ++count;
            }
            if (hr != S_OK)
                break;
        }
        e->Release();
    }
    benchmark::DoNotOptimize(textBytes);
    details->Release();
    folder->Release();
    return count;
}

} // namespace

int main()
{
    const std::string folder = MakeFolder(bench::DataDir());

    IShellFolder* desktop = nullptr;
    SHGetDesktopFolder(&desktop);
    LPITEMIDLIST folderList = nullptr;
    if (FAILED(ShellGetIdListFromPath(folder, folderList))) {
        std::fprintf(stderr, "cannot parse %s\n", folder.c_str());
        return 1;
    }
    size_t count = 0;
    const bench::PairTimes t = bench::Alternate(bench::Timed([&] { count = EnumerateOnce(desktop, folderList); }),
        bench::Command("LC_ALL=C ls -l '" + folder + "' > /dev/null"));
    ShellMemFree(folderList);
    desktop->Release();

    std::printf("%zu items, each with attributes, size and date\n", count);
    bench::PrintPair("IShellFolder enumeration", "ls -l", t);
    bench::PrintRatioLine(t.ratio, 2);
    return 0;
}
