// The namespace over a temporary folder tree, and the item data over a fake
// folder for the failure paths.
#include "shell_env.h"

#include "shell/ptshlocator.h"
#include "shell/ptshutils.h"
#include "shell/shlshares.h"
#include "shell/shlversion.h"

#include "rtl/clock.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

struct Listed {
    std::string name;
    ULONG attrs;
};

// Enumerates a folder by path and answers names with their attributes.
std::map<std::string, ULONG> Enumerate(const std::string& path, DWORD flags, HRESULT* enumResult = nullptr)
{
    std::map<std::string, ULONG> out;
    Pidl list(ParsePath(path));
    IShellFolder* folder = nullptr;
    if (FAILED(ShellGetFolderFromIdList(list, folder)))
        return out;
    IEnumIDList* e = nullptr;
    const HRESULT hr = folder->EnumObjects(0, flags, &e);
    if (enumResult)
        *enumResult = hr;
    if (SUCCEEDED(hr)) {
        LPITEMIDLIST item = nullptr;
        ULONG fetched = 0;
        while (e->Next(1, &item, &fetched) == S_OK) {
            ULONG attrs = 0xFFFFFFFFu & ~SFGAO_VALIDATE;
            LPCITEMIDLIST one = item;
            EXPECT_EQ(folder->GetAttributesOf(1, &one, &attrs), S_OK);
            out[ShellGetFriendlyNameFromIdList(folder, item, ptfnInFolder)] = attrs;
            ShellMemFree(item);
        }
        e->Release();
    }
    folder->Release();
    return out;
}

class NamespaceTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = env.Home() + "/tree";
        env.dir.Write("home/tree/file.txt", "hello");
        env.dir.Write("home/tree/.hidden", "h");
        env.dir.Write("home/tree/sub/inner.bin", std::string(1025, 'x'));
        fs::create_directories(root + "/.hiddendir");
        fs::create_symlink(root + "/sub", root + "/linkdir");
        fs::create_symlink(root + "/file.txt", root + "/linkfile");
        fs::create_symlink(root + "/missing", root + "/broken");
    }
    ShellEnv env;
    std::string root;
};

TEST_F(NamespaceTree, EnumeratesWithHiddenItemsAndLinks)
{
    const auto visible = Enumerate(root, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    const std::set<std::string> names = [&] {
        std::set<std::string> s;
        for (const auto& [n, a] : visible)
            s.insert(n);
        return s;
    }();
    EXPECT_EQ(names, (std::set<std::string>{"file.txt", "sub", "linkdir", "linkfile", "broken"}));

    const auto all = Enumerate(root, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
    ASSERT_TRUE(all.count(".hidden") && all.count(".hiddendir"));
    EXPECT_TRUE(all.at(".hidden") & SFGAO_HIDDEN);
    EXPECT_TRUE(all.at(".hiddendir") & SFGAO_FOLDER);
    EXPECT_FALSE(all.at("file.txt") & SFGAO_HIDDEN);

    // Folders are folders whether real or reached through a link.
    EXPECT_TRUE(all.at("sub") & SFGAO_FOLDER);
    EXPECT_FALSE(all.at("sub") & SFGAO_LINK);
    EXPECT_TRUE(all.at("linkdir") & SFGAO_FOLDER);
    EXPECT_TRUE(all.at("linkdir") & SFGAO_LINK);
    EXPECT_TRUE(all.at("linkfile") & SFGAO_LINK);
    EXPECT_TRUE(all.at("linkfile") & SFGAO_STREAM);
    EXPECT_FALSE(all.at("linkfile") & SFGAO_FOLDER);
    EXPECT_TRUE(all.at("file.txt") & SFGAO_FILESYSTEM);
    EXPECT_FALSE(all.at("sub") & SFGAO_HASSUBFOLDER);  // sub holds only a file
    EXPECT_TRUE(Enumerate(env.Home(), SHCONTF_FOLDERS).at("tree") & SFGAO_HASSUBFOLDER);

    const auto folders = Enumerate(root, SHCONTF_FOLDERS);
    EXPECT_EQ(folders.size(), 2u);  // sub and linkdir
    const auto files = Enumerate(root, SHCONTF_NONFOLDERS);
    EXPECT_EQ(files.size(), 3u);
}

// A folder's items come in the order of their names (as a list shows them),
// whatever order the directory keeps them in, folders and files alike.
TEST_F(NamespaceTree, AFolderEnumeratesInTheOrderOfItsNames)
{
    const std::vector<std::string> names {".a", "a", "B2", "b9", "b10", "c", "file 2", "file 10", "Z"};
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        if (*it == "c" || *it == "b9")
            fs::create_directories(root + "/order/" + *it);
        else
            env.dir.Write("home/tree/order/" + *it, "");
    Pidl list(ParsePath(root + "/order"));
    IShellFolder* folder = nullptr;
    ASSERT_EQ(ShellGetFolderFromIdList(list, folder), S_OK);
    struct Case {
        DWORD flags;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, names},
        {SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, {"a", "B2", "b9", "b10", "c", "file 2", "file 10", "Z"}},
        {SHCONTF_FOLDERS, {"b9", "c"}},
    };
    for (const Case& c : cases) {
        IEnumIDList* e = nullptr;
        ASSERT_EQ(folder->EnumObjects(0, c.flags, &e), S_OK);
        std::vector<std::string> seen;
        LPITEMIDLIST item = nullptr;
        while (e->Next(1, &item, nullptr) == S_OK) {
            seen.push_back(ShellGetFriendlyNameFromIdList(folder, item, ptfnInFolder));
            ShellMemFree(item);
        }
        // Again after a reset.
        e->Reset();
        ASSERT_EQ(e->Next(1, &item, nullptr), S_OK);
        EXPECT_EQ(ShellGetFriendlyNameFromIdList(folder, item, ptfnInFolder), c.names.front());
        ShellMemFree(item);
        e->Release();
        EXPECT_EQ(seen, c.names) << c.flags;
    }
    folder->Release();
}

// A folder is shared when a Samba share (a section of smb.conf or a user's
// share) or an NFS export names it; printers and the global section do not
// share folders, and a share file that changes is read again.
TEST_F(NamespaceTree, SharedFoldersAreTheFoldersTheShareFilesName)
{
    ScopedManualClock clock;
    for (const char* folder : {"with space", "exported", "printed", "global", "commented"})
        fs::create_directories(root + "/" + folder);
    env.dir.Write("smb.conf", "[global]\n   path = " + root + "/global\n"
        "[docs]\n   comment = Docs\n   path = " + root + "/sub/\n"
        "[print]\n   path = " + root + "/printed\n   printable = yes\n"
        ";[old]\n;   path = " + root + "/commented\n");
    env.dir.Write("usershares/pub", "#VERSION 2\npath=" + root + "/linkdir\ncomment=\nusershare_acl=S-1-1-0:R\n");
    env.dir.Write("exports", "# exports\n\"" + root + "/with space\" *(ro)\n" + root + "/exported\thost(rw)\n"
        + root + "/file.txt *(ro)\n");
    ShellSetShareSourcesForTest(env.dir.Path("smb.conf"), env.dir.Path("usershares"), env.dir.Path("exports"));
    struct Case {
        const char* name;
        bool shared;
    };
    const Case cases[] = {{"sub", true}, {"linkdir", true}, {"with space", true}, {"exported", true},
        {"printed", false}, {"global", false}, {"commented", false}, {"file.txt", false}, {".hiddendir", false}};
    auto all = Enumerate(root, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
    for (const Case& c : cases) {
        ASSERT_TRUE(all.count(c.name)) << c.name;
        EXPECT_EQ((all.at(c.name) & SFGAO_SHARE) != 0, c.shared) << c.name;
    }
    fs::remove(env.dir.Path("exports"));
    clock.clock.Advance(1000);
    all = Enumerate(root, SHCONTF_FOLDERS);
    EXPECT_FALSE(all.at("exported") & SFGAO_SHARE) << "an export taken back";
    EXPECT_TRUE(all.at("sub") & SFGAO_SHARE);
    ShellSetShareSourcesForTest("", "", "");
}

TEST_F(NamespaceTree, UnreadableFolderFailsToEnumerate)
{
    fs::create_directories(root + "/locked/x");
    ::chmod((root + "/locked").c_str(), 0);
    auto check = [&] {
        HRESULT hr = S_OK;
        Enumerate(root + "/locked", SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &hr);
        return hr;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(check(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    } else {
        // Root reads everything: look from an unprivileged child process.
        ::chmod(env.dir.Path("").c_str(), 0755);
        ::chmod(env.Home().c_str(), 0755);
        ::chmod(root.c_str(), 0755);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            HRESULT hr = S_OK;
            IShellFolder* desktop = nullptr;
            SHGetDesktopFolder(&desktop);
            LPITEMIDLIST list = nullptr;
            IShellFolder* folder = nullptr;
            if (FAILED(ShellGetIdListFromPath(root + "/locked", list)) || FAILED(ShellGetFolderFromIdList(list, folder)))
                ::_exit(4);
            IEnumIDList* e = nullptr;
            hr = folder->EnumObjects(0, SHCONTF_FOLDERS, &e);
            ::_exit(hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) ? 0 : 1);
        }
        int status = -1;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ::chmod((root + "/locked").c_str(), 0755);
}

TEST_F(NamespaceTree, CompareIDsPutsFoldersFirstAndNumbersInOrder)
{
    for (const char* name : {"b10.txt", "b9.txt", "B2.txt", "a.txt", "zdir", "Adir"})
        if (std::string(name).find('.') == std::string::npos)
            fs::create_directories(root + "/order/" + name);
        else
            env.dir.Write(std::string("home/tree/order/") + name, "");
    Pidl list(ParsePath(root + "/order"));
    IShellFolder* folder = nullptr;
    ASSERT_EQ(ShellGetFolderFromIdList(list, folder), S_OK);
    TPTPidlList sorted;
    sorted.Malloc = ShellIMalloc();
    sorted.ShellFolder = folder;
    sorted.SetSorted(true);
    IEnumIDList* e = nullptr;
    ASSERT_EQ(folder->EnumObjects(0, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &e), S_OK);
    LPITEMIDLIST item = nullptr;
    while (e->Next(1, &item, nullptr) == S_OK)
        sorted.Add(item);
    e->Release();
    std::vector<std::string> names;
    for (int i = 0; i < sorted.GetCount(); ++i)
        names.push_back(ShellGetFriendlyNameFromIdList(folder, sorted.GetPIDL(i), ptfnInFolder));
    EXPECT_EQ(names, (std::vector<std::string>{"Adir", "zdir", "a.txt", "B2.txt", "b9.txt", "b10.txt"}));
    sorted.Clear();
    folder->Release();
}

// Ordering many lists in one go gives the order their pairwise CompareIDs
// gives, for every column and both directions, in a file-system folder and
// in the desktop, and for lists of more than one level.
TEST_F(NamespaceTree, SortingInOneGoAgreesWithComparingPairs)
{
    int n = 0;
    for (const char* name : {"b10.txt", "b9.txt", "B2.txt", "a.txt", "a.TXT", "notes", "x 007.md", "x 7.md", "x 07.md",
             "img.png", "z.tar.gz", ".dot"}) {
        env.dir.Write(std::string("home/tree/order/") + name, std::string(static_cast<size_t>(n * 37 % 5000), 'x'));
        const std::string path = root + "/order/" + name;
        const auto when = fs::file_time_type::clock::now() - std::chrono::hours(n * 7 % 11);
        fs::last_write_time(path, when);
        ++n;
    }
    for (const char* dir : {"zdir", "Adir", "sub2"})
        fs::create_directories(root + "/order/" + std::string(dir));
    fs::create_symlink(root + "/order/zdir", root + "/order/link to zdir");
    for (const char* name : {"b.txt", "A.txt", "10.txt", "9.txt"})
        env.dir.Write(std::string("home/Desk top/") + name, name);
    struct Folder {
        std::string path;
        DWORD flags;
    };
    const Folder folders[] = {{root + "/order", SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN},
        {"", SHCONTF_FOLDERS | SHCONTF_NONFOLDERS}};
    for (const Folder& f : folders) {
        SCOPED_TRACE(f.path.empty() ? "desktop" : f.path);
        IShellFolder* folder = nullptr;
        if (f.path.empty()) {
            ASSERT_EQ(SHGetDesktopFolder(&folder), S_OK);
        } else {
            Pidl list(ParsePath(f.path));
            ASSERT_EQ(ShellGetFolderFromIdList(list, folder), S_OK);
        }
        std::vector<LPITEMIDLIST> owned;
        IEnumIDList* e = nullptr;
        ASSERT_EQ(folder->EnumObjects(0, f.flags, &e), S_OK);
        LPITEMIDLIST item = nullptr;
        while (e->Next(1, &item, nullptr) == S_OK)
            owned.push_back(item);
        e->Release();
        // A two-level list too: a folder below "sub2", relative to the folder.
        if (!f.path.empty()) {
            fs::create_directories(root + "/order/sub2/inner");
            Pidl deep(ParsePath(root + "/order/sub2/inner"));
            TPTIdListArray levels(deep);
            const int count = levels.GetCount();
            LPITEMIDLIST sub2 = CopyIdList(nullptr, levels.GetItem(count - 2));
            owned.push_back(ConcatIdLists(nullptr, sub2, levels.GetItem(count - 1)));
            ShellMemFree(sub2);
        }
        std::vector<LPCITEMIDLIST> lists(owned.begin(), owned.end());
        ASSERT_GT(lists.size(), 3u);
        for (int column = 0; column < 4; ++column)
            for (const bool descending : {false, true}) {
                std::vector<std::size_t> pairwise(lists.size());
                for (std::size_t k = 0; k < pairwise.size(); ++k)
                    pairwise[k] = k;
                std::stable_sort(pairwise.begin(), pairwise.end(), [&](std::size_t x, std::size_t y) {
                    const HRESULT hr = folder->CompareIDs(column, lists[x], lists[y]);
                    const int c = FAILED(hr) ? 0 : HRESULT_CODE_SHORT(hr);
                    return descending ? c > 0 : c < 0;
                });
                EXPECT_EQ(ShellSortIdLists(folder, column, descending, lists), pairwise)
                    << "column " << column << (descending ? " descending" : "");
            }
        for (LPITEMIDLIST p : owned)
            ShellMemFree(p);
        folder->Release();
    }
}

TEST_F(NamespaceTree, NamesKeepEveryByteAndAnyLength)
{
    // Not valid UTF-8, and a path far longer than 260 bytes.
    const std::string odd = "caf\xe9 \xff\xfe.bin";
    env.dir.Write("home/tree/" + odd, "x");
    std::string deep = root;
    for (int i = 0; i < 6; ++i)
        deep += "/" + std::string(60, static_cast<char>('a' + i));
    fs::create_directories(deep);
    env.dir.Write(deep.substr(env.dir.Path("").size()) + "/" + odd, "y");

    for (const std::string& path : {root + "/" + odd, deep + "/" + odd}) {
        Pidl list(ParsePath(path));
        ASSERT_NE(list.p, nullptr) << path.size();
        EXPECT_EQ(ShellGetPathFromIdList(list), path);
        const std::string parsing = ShellGetFriendlyNameFromIdList(nullptr, list, ptfnForParsing);
        EXPECT_EQ(parsing, path);
        Pidl again(ParsePath(parsing));
        EXPECT_EQ(CompareAbsIdLists(list, again), 0);
        EXPECT_EQ(ShellGetFriendlyNameForLastIdListElement(list), odd);
    }
    EXPECT_GT(deep.size(), 300u);
    const auto listed = Enumerate(root, SHCONTF_NONFOLDERS);
    EXPECT_TRUE(listed.count(odd));
}

TEST_F(NamespaceTree, SizeAndDateTexts)
{
    // TZ is UTC in the test run.
    const std::string file = root + "/sub/inner.bin";
    struct timespec times[2] = {{0, UTIME_OMIT}, {1578020645, 0}};  // 2020-01-03 03:04:05 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/sub").c_str(), times, 0), 0);
    const TDateTime when = EncodeDate(2020, 1, 3) + EncodeTime(3, 4, 5, 0);
    const std::string expectedDate = DateToStr(when) + " " + TimeToStr(when);

    std::string size, modified, type;
    Pidl list(ParsePath(file));
    GetItemSizeAndDate(list, size, modified);
    EXPECT_EQ(size, "2KB");
    EXPECT_EQ(modified, expectedDate);

    Pidl folder(ParsePath(root + "/sub"));
    GetItemSizeAndDate(folder, size, modified);
    EXPECT_EQ(size, "");  // a folder shows no size
    EXPECT_EQ(modified, expectedDate);

    Pidl computer;
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer), S_OK);
    GetItemSizeAndDate(computer, size, modified);
    EXPECT_EQ(size + modified, "");
    GetItemTypeName(computer, SFGAO_FOLDER, type);
    EXPECT_EQ(type, "System Folder");

    Pidl gone(ParsePath(root + "/file.txt"));
    fs::remove(root + "/file.txt");
    GetItemSizeAndDate(gone, size, modified);
    EXPECT_EQ(size + modified, "");
}

// A dangling link and a link loop are items like the others: their full
// paths parse from the Desktop, SHGetFileInfoA answers for them by path, and
// the list shows the link's own date.
TEST_F(NamespaceTree, DanglingLinksAndLinkLoopsAreItems)
{
    fs::create_symlink("loop", root + "/loop");
    for (const char* name : {"broken", "loop"}) {
        const std::string path = root + "/" + name;
        Pidl list(ParsePath(path));
        ASSERT_NE(list.p, nullptr) << name;
        EXPECT_EQ(ShellGetPathFromIdList(list), path);
        SHFILEINFOA info {};
        ASSERT_NE(SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_TYPENAME | SHGFI_SYSICONINDEX), 0u)
            << name;
        EXPECT_STREQ(info.szTypeName, "File") << name;
        ASSERT_NE(SHGetFileInfoA(reinterpret_cast<const char*>(list.p), 0, &info, sizeof info,
                      SHGFI_PIDL | SHGFI_ATTRIBUTES),
            0u)
            << name;
        EXPECT_TRUE(info.dwAttributes & SFGAO_LINK) << name;
        EXPECT_FALSE(info.dwAttributes & SFGAO_FOLDER) << name;
        std::string size, modified;
        GetItemSizeAndDate(list, size, modified);
        EXPECT_FALSE(modified.empty()) << name;
    }
    // A link to a folder is a folder by path as well.
    SHFILEINFOA info {};
    ASSERT_NE(SHGetFileInfoA((root + "/linkdir").c_str(), 0, &info, sizeof info, SHGFI_TYPENAME), 0u);
    EXPECT_STREQ(info.szTypeName, "File Folder");
    EXPECT_EQ(SHGetFileInfoA((root + "/missing").c_str(), 0, &info, sizeof info, SHGFI_TYPENAME), 0u);
}

TEST(FileSize, KilobytesRoundedUp)
{
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0KB"}, {1, "1KB"}, {1024, "1KB"}, {1025, "2KB"}, {1048576, "1,024KB"}, {5000000000ull, "4,882,813KB"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatFileSizeKB(bytes), text) << bytes;
}

TEST(FileInfo, TypeNamesAndIcons)
{
    struct Case {
        const char* name;
        DWORD attributes;
        const char* type;  // nullptr: any known type name
    };
    const Case cases[] = {
        {"notes.zzqq", FILE_ATTRIBUTE_NORMAL, "ZZQQ File"},
        {"noextension", FILE_ATTRIBUTE_NORMAL, "File"},
        {"folder", FILE_ATTRIBUTE_DIRECTORY, "File Folder"},
        // Bytes of an extension that are no UTF-8 show as U+FFFD.
        {"bytes.z\xFFq\xC3", FILE_ATTRIBUTE_NORMAL, "Z\xEF\xBF\xBDQ\xEF\xBF\xBD File"},
        {"picture.png", FILE_ATTRIBUTE_NORMAL, nullptr},
    };
    for (const auto& c : cases) {
        SHFILEINFOA info;
        const DWORD_PTR list = SHGetFileInfoA(c.name, c.attributes, &info, sizeof info,
                                              SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
        ASSERT_NE(list, 0u);
        EXPECT_EQ(reinterpret_cast<HIMAGELIST>(list), ShellGetSystemImageList(ptsizSmall));
        if (c.type)
            EXPECT_STREQ(info.szTypeName, c.type) << c.name;
        else
            EXPECT_TRUE(std::strlen(info.szTypeName) > 0 && std::string(info.szTypeName) != "PNG File");
        EXPECT_FALSE(ShellImageListIconName(reinterpret_cast<HIMAGELIST>(list), info.iIcon).empty());
    }
    EXPECT_EQ(ShellGetIconIndexFromExt("a.png", SHGFI_SMALLICON), ShellGetIconIndexFromExt("b.png", 0));
    EXPECT_NE(ShellGetIconIndexFromExt("a.png", 0), ShellGetIconIndexFromExt("a.txt", 0));
    int cx = 0, cy = 0;
    EXPECT_TRUE(ImageList_GetIconSize(ShellGetSystemImageList(ptsizLarge), &cx, &cy));
    EXPECT_EQ(cx, 32);
    // An icon handle is not something this platform makes.
    SHFILEINFOA info;
    EXPECT_EQ(SHGetFileInfoA("a.txt", 0, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_ICON), 0u);
}

TEST(Desktop, HoldsComputerHomeAndDesktopItems)
{
    ShellEnv env;
    env.dir.Write("home/Desk top/note.txt", "n");
    IShellFolder* desktop = nullptr;
    ASSERT_EQ(ShellGetDesktopFolder(desktop), S_OK);
    IEnumIDList* e = nullptr;
    ASSERT_EQ(desktop->EnumObjects(0, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &e), S_OK);
    std::vector<std::string> names, paths;
    TPTPidlList sorted;
    sorted.Malloc = ShellIMalloc();
    sorted.ShellFolder = desktop;
    sorted.SetSorted(true);
    LPITEMIDLIST item = nullptr;
    while (e->Next(1, &item, nullptr) == S_OK)
        sorted.Add(item);
    e->Release();
    for (int i = 0; i < sorted.GetCount(); ++i) {
        names.push_back(ShellGetFriendlyNameFromIdList(desktop, sorted.GetPIDL(i), ptfnNormal));
        paths.push_back(ShellGetPathFromIdList(sorted.GetPIDL(i)));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Computer", "Home", "note.txt"}));
    EXPECT_EQ(paths, (std::vector<std::string>{"", env.Home(), env.Home() + "/Desk top/note.txt"}));
    sorted.Clear();

    // The root file system is one of Computer's drives, named and typed.
    Pidl computer;
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer), S_OK);
    EXPECT_EQ(ShellGetFriendlyNameFromIdList(nullptr, computer, ptfnNormal), "Computer");
    IShellFolder* drives = nullptr;
    ASSERT_EQ(ShellGetFolderFromIdList(computer, drives), S_OK);
    ASSERT_EQ(drives->EnumObjects(0, SHCONTF_FOLDERS, &e), S_OK);
    bool sawRoot = false;
    while (e->Next(1, &item, nullptr) == S_OK) {
        sawRoot |= ShellGetFriendlyNameFromIdList(drives, item, ptfnForParsing) == "/";
        ULONG attrs = SFGAO_FOLDER | SFGAO_FILESYSTEM;
        LPCITEMIDLIST one = item;
        EXPECT_EQ(drives->GetAttributesOf(1, &one, &attrs), S_OK);
        EXPECT_EQ(attrs, SFGAO_FOLDER | SFGAO_FILESYSTEM);
        ShellMemFree(item);
    }
    e->Release();
    drives->Release();
    desktop->Release();
    EXPECT_TRUE(sawRoot);
}

// ---- a fake folder for the failure paths ----

class FakeFolder final : public IShellFolder {
public:
    HRESULT attributesResult = S_OK;
    ULONG attributes = 0;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IShellFolder) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR, ULONG*, LPITEMIDLIST*, ULONG*) override { return E_NOTIMPL; }
    HRESULT EnumObjects(HWND, DWORD, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT BindToObject(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_FAIL; }
    HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) override { return E_FAIL; }
    HRESULT CreateViewObject(HWND, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetAttributesOf(UINT, LPCITEMIDLIST*, ULONG* rgf) override
    {
        // A failing folder that leaves the asked mask as it was, as shells do.
        if (SUCCEEDED(attributesResult))
            *rgf &= attributes;
        return attributesResult;
    }
    HRESULT GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetDisplayNameOf(LPCITEMIDLIST, DWORD, STRRET*) override { return E_FAIL; }
    HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, DWORD, LPITEMIDLIST*) override { return E_NOTIMPL; }
};

class FakeListOwner final : public IPTShellListOwner {
public:
    explicit FakeListOwner(IShellFolder* f) : folder(f) {}
    IShellFolder* GetListFolder() override { return folder; }
    LPCITEMIDLIST GetListFolderIdList() override { return nullptr; }
    bool GetFilesCanBeFolders() override { return filesCanBeFolders; }
    IShellDetails* GetCurrentFolderIShellDetails() override { return nullptr; }
    IShellFolder* folder;
    bool filesCanBeFolders = false;
};

TEST(ItemData, FailedAttributeQueryIsAPlainItem)
{
    FakeFolder folder;
    folder.attributesResult = E_FAIL;
    FakeListOwner owner(&folder);
    TPTShListData data(&owner);
    data.SetData(RawList({"item"}));
    EXPECT_EQ(data.GetAttributes(), 0u);
    EXPECT_FALSE(data.IsFolder());
    EXPECT_FALSE(data.GetEditable());
    EXPECT_FALSE(data.IsFileSystem());
    EXPECT_FALSE(data.IsValid());
    EXPECT_EQ(data.GetDisplayName(), "");  // both name requests fail
    EXPECT_EQ(data.GetColText(0), "");
    EXPECT_EQ(data.GetColText(4), "");

    // The same through a tree node whose parent folder fails.
    TPTShTreeData parent(nullptr);
    Pidl one(RawList({"p"}));
    parent.SetData(nullptr, one);
    folder.AddRef();
    parent.SetThisIShf(&folder);
    TPTShTreeData node(nullptr);
    node.SetData(&parent, one);
    EXPECT_EQ(node.GetAttributes(), 0u);
    EXPECT_FALSE(node.GetEditable());
    EXPECT_EQ(node.GetThisIShf(), nullptr);  // binding fails
    parent.SetThisIShf(nullptr);
}

TEST(ItemData, IsFolderRules)
{
    struct Case {
        ULONG attributes;
        std::uint32_t shellHigh;
        bool filesCanBeFolders;
        bool expected;
    };
    const Case cases[] = {
        {0, 0x00060000, true, false},                                   // no folder attribute
        {SFGAO_FOLDER, 0x00060000, false, true},                        // a real folder
        {SFGAO_FOLDER | SFGAO_STREAM, 0x00060000, false, false},        // an archive on shell 6 opens as a file
        {SFGAO_FOLDER | SFGAO_STREAM, 0x00060000, true, true},          // unless files may be folders
        {SFGAO_FOLDER | SFGAO_STREAM, 0x00050000, false, true},         // older shells: a folder
    };
    for (const auto& c : cases) {
        ShellSetModuleFileVersionForTest("shell32.dll", std::uint64_t{c.shellHigh} << 32);
        PTReadVersions();
        FakeFolder folder;
        folder.attributes = c.attributes;
        FakeListOwner owner(&folder);
        owner.filesCanBeFolders = c.filesCanBeFolders;
        TPTShListData data(&owner);
        data.SetData(RawList({"archive.zip"}));
        EXPECT_EQ(data.IsFolder(), c.expected) << std::hex << c.attributes << " " << c.shellHigh;
    }
    ShellResetVersionsForTest();
    PTReadVersions();
}

TEST(ItemData, ListDataOverRealFolder)
{
    ShellEnv env;
    env.dir.Write("home/a.txt", std::string(1, 'z'));
    Pidl homeList(ParsePath(env.Home()));
    IShellFolder* folder = nullptr;
    ASSERT_EQ(ShellGetFolderFromIdList(homeList, folder), S_OK);
    struct Owner final : IPTShellListOwner {
        IShellFolder* f;
        LPCITEMIDLIST l;
        IShellFolder* GetListFolder() override { return f; }
        LPCITEMIDLIST GetListFolderIdList() override { return l; }
        bool GetFilesCanBeFolders() override { return false; }
        IShellDetails* GetCurrentFolderIShellDetails() override { return nullptr; }
    } owner;
    owner.f = folder;
    owner.l = homeList;
    Pidl rel;
    const std::u16string name = u"a.txt";
    ASSERT_EQ(folder->ParseDisplayName(0, nullptr, name.c_str(), nullptr, &rel, nullptr), S_OK);
    TPTShListData data(&owner);
    data.SetData(CopyIdList(nullptr, rel));
    EXPECT_EQ(data.GetPathName(), env.Home() + "/a.txt");
    EXPECT_EQ(data.GetFilename(), "a.txt");
    EXPECT_EQ(data.GetDisplayName(), "a.txt");
    EXPECT_TRUE(data.IsFileSystem());
    EXPECT_FALSE(data.IsFolder());
    EXPECT_TRUE(data.GetEditable());
    EXPECT_TRUE(data.IsValid());
    EXPECT_EQ(data.GetColText(1), "1KB");
    EXPECT_FALSE(data.GetColText(2).empty());
    EXPECT_FALSE(data.IsLnkShortcut());

    // The folder's own details give the same columns through the adapter.
    IShellDetails* details = GetFolderShellDetails(folder);
    ASSERT_NE(details, nullptr);
    SHELLDETAILS sd;
    ASSERT_EQ(details->GetDetailsOf(nullptr, 1, &sd), S_OK);
    EXPECT_EQ(StrretToString(nullptr, sd.str), "Size");
    StrretFree(sd.str);
    ASSERT_EQ(details->GetDetailsOf(rel, 1, &sd), S_OK);
    EXPECT_EQ(StrretToString(rel, sd.str), "1KB");
    StrretFree(sd.str);
    EXPECT_EQ(details->GetDetailsOf(rel, 4, &sd), E_INVALIDARG);  // the column list ends
    details->Release();

    fs::remove(env.Home() + "/a.txt");
    EXPECT_FALSE(data.IsValid());
    folder->Release();
}

} // namespace
