// Copying a tree of 10,000 files (1 GB, mixed sizes) as a person does it in
// the program: "copy" on the folder's shell menu, then "paste" on the menu of
// another folder of the same disk, against `cp -r` into an empty folder, in
// alternating pairs. Each side starts with its own empty destination and no
// writes of the other side pending, made outside the timed part.
//
// Prints both times, then "ratio <paste / cp -r> goal <= 1.3" as the last line.
#include "bench_support.h"

#include "shell/ptshutils.h"

#include "vcl/forms.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;
constexpr std::uint64_t kTotal = 1ull << 30;

// 10,000 files in 100 folders of two levels: most of them small (1 to 64 KB),
// one in a hundred large, together 1 GB; text-like and random bytes.
std::string MakeTree(const std::string& dir)
{
    const std::string root = dir + "/shell_copy_source";
    const std::string marker = dir + "/shell_copy_source.complete";
    if (fs::exists(marker))
        return root;
    fs::remove_all(root);
    std::mt19937_64 rng(7);
    std::vector<std::uint64_t> sizes(kFiles);
    std::uint64_t small = 0;
    for (int i = 0; i < kFiles; ++i)
        if (i % 100 != 0)
            small += sizes[static_cast<size_t>(i)] = 1024 + rng() % (63 * 1024);
    const std::uint64_t large = (kTotal - small) / (kFiles / 100);
    for (int i = 0; i < kFiles; i += 100)
        sizes[static_cast<size_t>(i)] = large;
    std::string block(8u << 20, '\0');
    for (size_t k = 0; k < block.size(); k += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&block[k], &v, 8);
    }
    for (int i = 0; i < kFiles; ++i) {
        const std::string folder = root + "/d" + std::to_string(i % 10) + "/e" + std::to_string((i / 10) % 10);
        fs::create_directories(folder);
        std::ofstream out(folder + "/file" + std::to_string(i) + (i % 2 ? ".txt" : ".bin"), std::ios::binary);
        std::uint64_t left = sizes[static_cast<size_t>(i)];
        size_t at = static_cast<size_t>(i) * 4096 % (block.size() - 4096);
        while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<std::uint64_t>(left, block.size() - at));
            out.write(block.data() + at, static_cast<std::streamsize>(n));
            left -= n;
            at = 0;
        }
    }
    std::ofstream(marker) << "ok";
    return root;
}

// An empty destination, and the disk done with the writes of the run
// before: a gigabyte the other side left to the kernel would otherwise be
// written back while this side runs, and counted against it.
std::string FreshFolder(const std::string& path)
{
    fs::remove_all(path);
    fs::create_directories(path);
    ::sync();
    return path;
}

IContextMenu* MenuOf(const std::string& path)
{
    LPITEMIDLIST list = nullptr;
    if (FAILED(ShellGetIdListFromPath(path, list)))
        return nullptr;
    void* object = nullptr;
    const HRESULT hr = ShellGetUIObjectOfIdList(list, IID_IContextMenu, &object);
    ShellMemFree(list);
    return SUCCEEDED(hr) ? static_cast<IContextMenu*>(object) : nullptr;
}

bool Invoke(const std::string& path, const char* verb)
{
    IContextMenu* menu = MenuOf(path);
    if (!menu)
        return false;
    CMINVOKECOMMANDINFO info {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    const HRESULT hr = menu->InvokeCommand(&info);
    menu->Release();
    return SUCCEEDED(hr);
}

std::uint64_t TreeBytes(const std::string& root)
{
    std::uint64_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            n += e.file_size();
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    const std::string dir = bench::DataDir();
    const std::string source = MakeTree(dir);
    const std::string oursTo = dir + "/shell_copy_ours";
    const std::string cpTo = dir + "/shell_copy_cp";

    bool ok = true;
    const bench::Side ours = [&] {
        FreshFolder(oursTo);
        return bench::TimeCall([&] { ok = Invoke(source, "copy") && Invoke(oursTo, "paste") && ok; });
    };
    const bench::Side cp = [&] {
        FreshFolder(cpTo);
        return bench::TimeCommand("cp -r '" + source + "' '" + cpTo + "/'");
    };
    const bench::PairTimes t = bench::Alternate(ours, cp);
    const std::uint64_t copied = TreeBytes(oursTo + "/shell_copy_source");
    std::printf("copied %llu of %llu bytes%s\n", static_cast<unsigned long long>(copied),
        static_cast<unsigned long long>(TreeBytes(source)), ok ? "" : " (a paste failed)");
    fs::remove_all(oursTo);
    fs::remove_all(cpTo);
    bench::PrintPair("copy and paste of 10,000 files (1 GB)", "cp -r", t);
    bench::PrintRatioLine(t.ratio, 1.3);
    return 0;
}
