// The folder scan and its file list over a real temporary tree: hidden
// files, dot-folders, links (one to a parent folder), a sparse 3 GB file.
#include "archive/zadfilescan.h"
#include "kernel/mounts.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t k3GB = 3LL * 1024 * 1024 * 1024;

class FileScanTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("a.txt", "aaaa");
        dir.Write("b.TXT", "bb");
        dir.Write("c.bmp", "ccccccc");
        dir.Write(".hidden.txt", "h");
        dir.Write(".dotdir/inside.txt", "never");
        dir.Write("sub/d.txt", "ddddd");
        dir.Write("sub/e.bmp", "e");
        dir.Write("ro.txt", "r");
        ::chmod(dir.Path("ro.txt").c_str(), 0444);
        fs::create_symlink("..", dir.Path("sub/loop"));
        fs::create_symlink("a.txt", dir.Path("link.txt"));
        fs::create_symlink("nowhere.txt", dir.Path("dangling.txt"));
        // Sparse: three gigabytes that take no disk.
        dir.Write("big.bin", "");
        fs::resize_file(dir.Path("big.bin"), k3GB);
        // Distinct modification times, oldest first in this order.
        const char* order[] = {"big.bin", "c.bmp", "a.txt", "sub/d.txt", "b.TXT", "ro.txt", "sub/e.bmp"};
        for (int i = 0; i < 7; ++i) {
            utimbuf t{};
            t.actime = t.modtime = 1600000000 + i * 86400;
            ::utime(dir.Path(order[i]).c_str(), &t);
        }
    }

    std::set<std::string> Names(TzadFileScan& scan)
    {
        std::set<std::string> names;
        for (int i = 0; i < scan.FilesList().Count(); ++i) {
            const TFileObject& f = scan.FilesList().Items(i);
            names.insert(f.Folder.substr(dir.Root().size()) + f.Name);
        }
        return names;
    }

    TempDir dir;
};

}  // namespace

TEST_F(FileScanTree, WalksTheTreeSkippingDotFoldersAndLinksToFolders)
{
    TzadFileScan scan;
    scan.SetRootDir(dir.Root());
    std::vector<std::string> entered;
    scan.OnRecurseDir = [&](TObject*, const std::string& d) { entered.push_back(d.substr(dir.Root().size())); };
    std::int64_t finishedSize = -1;
    scan.OnFinished = [&](TObject*, std::int64_t, std::int64_t size) { finishedSize = size; };
    scan.Scan();
    // Hidden files and the dangling link are left out, the link to a file
    // counts; folders are not admitted by the default attributes.
    EXPECT_EQ(Names(scan), (std::set<std::string>{"a.txt", "b.TXT", "c.bmp", "big.bin", "ro.txt", "link.txt",
                                                  "sub/d.txt", "sub/e.bmp"}));
    EXPECT_EQ(entered, (std::vector<std::string>{"", "sub/"}));
    EXPECT_EQ(scan.FilesCount(), 8);
    EXPECT_EQ(scan.FilesSize(), k3GB + 4 + 2 + 7 + 1 + 4 + 5 + 1);
    EXPECT_EQ(finishedSize, scan.FilesSize());

    // Hidden files join when admitted, folders come as entries with an
    // empty name; dot-folders still are not entered.
    scan.SetAttribute(fsHidden, true);
    scan.SetAttribute(fsDirectory, true);
    scan.SetFileMask("*.txt");
    scan.Scan();
    EXPECT_EQ(Names(scan), (std::set<std::string>{"a.txt", "b.TXT", ".hidden.txt", "ro.txt", "link.txt", "sub/",
                                                  "sub/d.txt"}));
    // Rejected attributes win over admitted ones.
    scan.SetAttributeEx(fsReadOnly, true);
    scan.Scan();
    EXPECT_EQ(Names(scan).count("ro.txt"), 0u);
}

TEST_F(FileScanTree, FileMaskOfSeveralMasks)
{
    TzadFileScan scan;
    scan.SetRootDir(dir.Root());
    scan.SetFileMask(" *.bmp , ,, big.*,");
    scan.UpdateList = false;  // counted without the handler
    scan.Scan();
    EXPECT_EQ(scan.FilesCount(), 3);
    EXPECT_EQ(scan.FilesList().Count(), 0);
    EXPECT_EQ(scan.FilesSize(), k3GB + 7 + 1);

    // A missing or empty folder scans nothing.
    scan.SetRootDir(dir.Path("missing"));
    scan.Scan();
    EXPECT_EQ(scan.FilesCount(), 0);
}

TEST(FileMask, SplitsTrimsAndIgnoresEmptyMasks)
{
    const struct {
        const char* mask;
        std::vector<std::string> masks;
    } cases[] = {
        {"*.txt, *.bmp", {"*.txt", "*.bmp"}},
        {"  a b  ", {"a b"}},
        {",,*.txt,", {"*.txt"}},
        {"*.txt,,", {"*.txt"}},
        {"", {}},
        {" , ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitFileMask(c.mask), c.masks) << c.mask;
}

TEST_F(FileScanTree, FileSpecGroupsLinesByFolder)
{
    TzadFileScan scan;
    TStringList spec;
    std::string upper = dir.Root();
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    spec.Add(dir.Root() + "*.txt");
    spec.Add(upper + "a.txt");  // absorbed by *.txt
    spec.Add("   ");
    spec.Add(dir.Root() + "*.*");  // wider than *.txt: replaces it
    spec.Add(dir.Path("sub/*.bmp"));
    scan.SetFileSpec(spec);
    EXPECT_EQ(scan.FileMask(), "");
    std::vector<std::string> roots;
    scan.OnRootDirChange = [&](TObject*, const std::string& d) { roots.push_back(d); };
    scan.Scan();
    EXPECT_EQ(roots, (std::vector<std::string>{dir.Root(), dir.Path("sub/")}));
    EXPECT_EQ(scan.FileSpec().Count(), 0);
    // The first group's mask is "*": every file of the tree once, and the
    // second group adds sub/e.bmp once more.
    EXPECT_EQ(scan.FilesCount(), 9);
}

TEST_F(FileScanTree, WithoutRecursionEachFileSpecLineIsSearchedAsItIs)
{
    TzadFileScan scan;
    scan.RecurseDirs = false;
    TStringList spec;
    spec.Add(dir.Root() + "*.txt");
    spec.Add(dir.Path("sub/*"));
    scan.SetFileSpec(spec);
    scan.Scan();
    EXPECT_EQ(Names(scan), (std::set<std::string>{"a.txt", "b.TXT", "ro.txt", "link.txt", "sub/d.txt", "sub/e.bmp"}));
}

TEST_F(FileScanTree, SortsByEveryOrderWithFullSizesAndTimes)
{
    TzadFileScan scan;
    scan.SetRootDir(dir.Root());
    scan.SetFileMask("*.txt,*.bmp,*.bin");
    scan.Scan();
    int finished = 0;
    scan.OnFinished = [&](TObject*, std::int64_t, std::int64_t) { ++finished; };
    auto order = [&] {
        std::vector<std::string> names;
        for (int i = 0; i < scan.FilesList().Count(); ++i)
            if (!scan.FilesList().Items(i).Name.empty())
                names.push_back(scan.FilesList().Items(i).Name);
        return names;
    };
    scan.SetSorted(soBySize);
    EXPECT_EQ(order().back(), "big.bin");  // 3 GB after the small files
    EXPECT_EQ(finished, 1);
    scan.SetSorted(soByTime);
    const auto byTime = order();
    EXPECT_EQ(byTime.front(), "big.bin");
    EXPECT_EQ(byTime.back(), "e.bmp");
    scan.SetSorted(soByName);
    EXPECT_EQ(order(), (std::vector<std::string>{"a.txt", "b.TXT", "big.bin", "c.bmp", "d.txt", "e.bmp", "link.txt",
                                                 "ro.txt"}));
    scan.SetSorted(soByType);
    const auto byType = order();
    EXPECT_EQ(byType.front(), "big.bin");
    EXPECT_TRUE(byType[1] == "c.bmp" || byType[1] == "e.bmp");
    scan.SetSorted(soByPath);
    EXPECT_EQ(scan.FilesList().Items(scan.FilesList().Count() - 1).Folder, dir.Path("sub/"));
    EXPECT_EQ(finished, 5);

    // A sorted list keeps its order as items are added: a new one goes
    // before those that compare equal.
    TFilesList list;
    list.SetSortOptions(soBySize);
    list.Add(std::make_unique<TFileObject>("x", "/", 5, 0, 0x80, 0));
    list.Add(std::make_unique<TFileObject>("huge", "/", static_cast<std::int32_t>(0xC0000000u), 0, 0x80, 0));
    list.Add(std::make_unique<TFileObject>("y", "/", 5, 0, 0x80, 0));
    list.Add(std::make_unique<TFileObject>("z", "/", 1, 0, 0x80, 0));
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        names.push_back(list.Items(i).Name);
    EXPECT_EQ(names, (std::vector<std::string>{"z", "y", "x", "huge"}));
    list.DeleteItem(7);
    list.DeleteItem(-1);
    list.DeleteItem(0);
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(FileScanTree, StopFromAHandlerEndsTheScan)
{
    TzadFileScan scan;
    scan.SetRootDir(dir.Root());
    scan.OnScanFile = [&](TObject*, const std::string&, std::int64_t, std::int64_t) { scan.Stop(); };
    bool finished = false;
    scan.OnFinished = [&](TObject*, std::int64_t, std::int64_t) { finished = true; };
    scan.Scan();
    EXPECT_EQ(scan.FilesCount(), 1);
    EXPECT_TRUE(finished);
}

TEST(FileScanAttributes, AdmissionRulesAndLetters)
{
    const TzadFileAttributes defaults = TzadFileScan().Attributes;
    const struct {
        std::int32_t bits;
        bool admitted;
    } cases[] = {{0x02, false}, {0x22, true}, {0x2002, true}, {0x80, true}, {0, true},
                 {0x01, true},  {0x04, false}, {0x10, false}, {0x4000, true}};
    for (const auto& c : cases)
        EXPECT_EQ(AttributesMeet(c.bits, defaults, true), c.admitted) << c.bits;
    EXPECT_FALSE(AttributesMeet(0x2000, 0, false));
    EXPECT_EQ(TzadFileScan::GetFileAttrStr(0x21), "A--R-");
    EXPECT_EQ(TzadFileScan::GetFileAttrStr(0x37), "ADHRS");
}

TEST(FileScanDrives, EachMountIsWalkedOnceAndPseudoFileSystemsNever)
{
    // A mount table of our own: a fixed drive, a drive mounted inside it, a
    // kernel pseudo file system inside it and a RAM drive beside them.
    TempDir dir;
    dir.Write("drive/top.txt", "t");
    dir.Write("drive/folder/deep.txt", "d");
    dir.Write("drive/inner/nested.txt", "n");
    dir.Write("drive/proc/status", "never");
    dir.Write("ram/scratch.txt", "r");
    const auto line = [&](int id, const char* mountPoint, const char* type, const char* source, const char* device) {
        return std::to_string(id) + " 1 " + device + " / " + dir.Path(mountPoint) + " rw - " + type + " " + source + " rw\n";
    };
    dir.Write("mountinfo", line(20, "drive", "ext4", "/dev/sdz1", "8:1") + line(21, "drive/inner", "ext4", "/dev/sdz2", "8:2") +
                               line(22, "drive/proc", "proc", "proc", "0:22") + line(23, "ram", "tmpfs", "tmpfs", "0:23"));
    SetMountInfoFileNameForTest(dir.Path("mountinfo"));
    TzadFileScan scan;
    scan.ScanOptions = soScanDrvs;
    std::multiset<std::string> seen;
    scan.OnScanFile = [&](TObject*, const std::string& name, std::int64_t, std::int64_t) { seen.insert(name); };
    scan.Scan();
    SetMountInfoFileNameForTest({});
    EXPECT_EQ(seen, (std::multiset<std::string>{"deep.txt", "nested.txt", "scratch.txt", "top.txt"}));
}
