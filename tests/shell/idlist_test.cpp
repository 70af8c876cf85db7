// Item identifier list operations, the two list containers and the text routines.
#include "shell_env.h"

#include "shell/ptshutils.h"
#include "shell/shlversion.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

namespace {

std::string Bytes(LPCITEMIDLIST list)
{
    return list ? std::string(reinterpret_cast<const char*>(list), IdListLen(list)) : std::string("<nil>");
}

TEST(IdList, LengthCopyAndConcat)
{
    Pidl three(RawList({"a", "bb", "ccc"}));
    EXPECT_EQ(IdListLen(nullptr), 0u);
    Pidl empty(RawList({}));
    EXPECT_EQ(IdListLen(empty), 2u);
    EXPECT_EQ(IdListLen(three), 3u + 4 + 5 + 2);

    Pidl copyOfNil(CopyIdList(nullptr, nullptr));
    ASSERT_NE(copyOfNil.p, nullptr);
    EXPECT_EQ(IdListLen(copyOfNil), 2u);
    Pidl copy(CopyIdList(ShellIMalloc(), three));
    EXPECT_EQ(Bytes(copy), Bytes(three));
    EXPECT_NE(copy.p, three.p);

    struct Case {
        std::vector<std::string> a, b, expected;
        bool aNil, bNil;
    };
    const Case cases[] = {
        {{"a"}, {"bb", "ccc"}, {"a", "bb", "ccc"}, false, false},
        {{}, {"x"}, {"x"}, true, false},
        {{"x"}, {}, {"x"}, false, true},
        {{}, {}, {}, false, false},
        {{}, {}, {}, true, true},
    };
    for (const auto& c : cases) {
        Pidl a(c.aNil ? nullptr : RawList(c.a)), b(c.bNil ? nullptr : RawList(c.b)), expected(RawList(c.expected));
        Pidl joined(ConcatIdLists(nullptr, a, b));
        EXPECT_EQ(Bytes(joined), Bytes(expected));
    }
}

TEST(IdList, CompareAbsIdListsNilAndEmptyCases)
{
    ShellEnv env;
    Pidl home(ParsePath(env.Home()));
    ASSERT_NE(home.p, nullptr);
    Pidl e1(RawList({})), e2(RawList({}));
    struct Case {
        LPCITEMIDLIST a, b;
        int expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0}, {e1, e2, 0},   {nullptr, e1, -1},  {e1, nullptr, -1},
        {e1, home, -1},        {home, e1, -1}, {home, nullptr, -1}, {home, home, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompareAbsIdLists(c.a, c.b), c.expected);

    // Items the desktop does not know cannot be compared.
    Pidl foreign(RawList({"zz"}));
    EXPECT_EQ(CompareAbsIdLists(foreign, home), INT_MAX);
}

TEST(IdList, SameFolderByDifferentRoutesComparesEqual)
{
    ShellEnv env;
    std::filesystem::create_directories(env.Home() + "/docs");
    Pidl viaHome(ParsePath(env.Home() + "/docs"));
    // The same folder through Computer and the drive that holds it.
    Pidl computer;
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer), S_OK);
    IShellFolder* desktop = nullptr;
    ASSERT_EQ(ShellGetDesktopFolder(desktop), S_OK);
    IShellFolder* computerFolder = nullptr;
    ASSERT_EQ(desktop->BindToObject(computer, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&computerFolder)), S_OK);
    IEnumIDList* drives = nullptr;
    ASSERT_EQ(computerFolder->EnumObjects(0, SHCONTF_FOLDERS, &drives), S_OK);
    // Walk down from the drive "/" by names.
    LPITEMIDLIST drive = nullptr;
    ULONG fetched = 0;
    Pidl rootDrive;
    while (drives->Next(1, &drive, &fetched) == S_OK) {
        Pidl abs(ConcatIdLists(nullptr, computer, drive));
        if (ShellGetPathFromIdList(abs) == "/")
            rootDrive.p = CopyIdList(nullptr, abs);
        ShellMemFree(drive);
    }
    drives->Release();
    computerFolder->Release();
    ASSERT_NE(rootDrive.p, nullptr);
    IShellFolder* rootFolder = nullptr;
    ASSERT_EQ(desktop->BindToObject(rootDrive, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&rootFolder)), S_OK);
    const std::string relative = (env.Home() + "/docs").substr(1);
    const std::u16string wide = ShellUtf8ToWide(relative);
    Pidl rel;
    ASSERT_EQ(rootFolder->ParseDisplayName(0, nullptr, wide.c_str(), nullptr, &rel, nullptr), S_OK);
    Pidl viaDrive(ConcatIdLists(nullptr, rootDrive, rel));
    rootFolder->Release();
    desktop->Release();

    EXPECT_NE(Bytes(viaHome), Bytes(viaDrive));
    EXPECT_EQ(CompareAbsIdLists(viaHome, viaDrive), 0);
    EXPECT_EQ(ShellGetPathFromIdList(viaDrive), env.Home() + "/docs");
}

TEST(IdList, ArrayOfLevels)
{
    Pidl three(RawList({"a", "bb", "ccc"}));
    Pidl empty(RawList({}));
    TPTIdListArray levels(three);
    EXPECT_EQ(levels.GetCount(), 3);
    struct UpCase {
        int n;
        std::vector<std::string> expected;
        bool nil;
    };
    const UpCase ups[] = {{0, {"a", "bb", "ccc"}, false}, {1, {"a", "bb"}, false}, {3, {}, false},
                          {4, {}, true},                  {-1, {}, true}};
    for (const auto& c : ups) {
        LPCITEMIDLIST got = levels.GoUp(c.n);
        if (c.nil) {
            EXPECT_EQ(got, nullptr) << c.n;
        } else {
            Pidl expected(RawList(c.expected));
            EXPECT_EQ(Bytes(got), Bytes(expected)) << c.n;
        }
    }
    struct ItemCase {
        int index;
        std::vector<std::string> expected;
        bool nil;
    };
    const ItemCase items[] = {{0, {"a"}, false}, {2, {"ccc"}, false}, {3, {}, true}, {-1, {}, true}};
    for (const auto& c : items) {
        LPCITEMIDLIST got = levels.GetItem(c.index);
        if (c.nil) {
            EXPECT_EQ(got, nullptr) << c.index;
        } else {
            Pidl expected(RawList(c.expected));
            EXPECT_EQ(Bytes(got), Bytes(expected)) << c.index;
        }
    }
    TPTIdListArray ofEmpty(empty);
    EXPECT_EQ(ofEmpty.GetCount(), 0);
    EXPECT_EQ(Bytes(ofEmpty.GetItem(0)), Bytes(empty));
    TPTIdListArray ofNil(nullptr);
    EXPECT_EQ(ofNil.GetCount(), 0);
    EXPECT_EQ(ofNil.GoUp(0), nullptr);
    EXPECT_EQ(ofNil.GetItem(0), nullptr);
}

TEST(IdList, PidlListDuplicates)
{
    struct Case {
        int duplicates;
        bool raises;
        int countAfter;
    };
    const Case cases[] = {{0, false, 3}, {1, false, 4}, {2, true, 3}};
    for (const auto& c : cases) {
        TPTPidlList list;
        list.Malloc = ShellIMalloc();  // the list frees its entries
        list.Duplicates = c.duplicates;
        list.SetSorted(true);
        int dummyB = 0, dummyNew = 0;
        list.Add(RawList({"c"}));
        list.AddObject(RawList({"b"}), &dummyB);
        list.Add(RawList({"a"}));
        ASSERT_EQ(list.GetCount(), 3);
        Pidl probe(RawList({"b"}));
        EXPECT_EQ(list.IndexOf(probe), 1);
        LPITEMIDLIST dup = RawList({"b"});
        if (c.raises) {
            try {
                list.AddObject(dup, &dummyNew);
                FAIL() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message(), "TPTPidlList: Duplicate PIDL");
            }
            ShellMemFree(dup);
        } else {
            const int at = list.AddObject(dup, &dummyNew);
            EXPECT_EQ(at, 1);
            if (c.duplicates == 0) {
                EXPECT_EQ(list.GetObject(at), &dummyB);  // the one already there
                ShellMemFree(dup);
            } else {
                EXPECT_EQ(list.GetObject(1), &dummyNew);  // the new entry lands before the equal one
                EXPECT_EQ(list.GetObject(2), &dummyB);
            }
        }
        EXPECT_EQ(list.GetCount(), c.countAfter) << c.duplicates;
    }
}

TEST(IdList, PidlListOrderAndSearch)
{
    TPTPidlList list;
    list.Malloc = ShellIMalloc();
    // Byte order, shorter first on equal prefixes.
    list.Add(RawList({"b"}));
    list.Add(RawList({"a", "x"}));
    list.Add(RawList({"a"}));
    Pidl probe(RawList({"a"}));
    int index = -1;
    EXPECT_TRUE(list.LinearSearch(probe, index));
    EXPECT_EQ(index, 2);
    list.SetSorted(true);
    EXPECT_EQ(Bytes(list.GetPIDL(0)), Bytes(probe));
    EXPECT_TRUE(list.BinarySearch(probe, index));
    EXPECT_EQ(index, 0);
    Pidl absent(RawList({"ab"}));
    EXPECT_FALSE(list.BinarySearch(absent, index));
    EXPECT_EQ(list.IndexOf(absent), -1);
    list.Delete(0);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_THROW(list.Delete(5), EListError);
}

TEST(IdList, FindCSIDLAndSpecialFolders)
{
    ShellEnv env;
    Pidl empty(RawList({}));
    EXPECT_EQ(ShellFindCSIDLFromIdList(empty), csidlDesktop);
    EXPECT_EQ(ShellFindCSIDLFromIdList(nullptr), csidlNone);
    Pidl home(ParsePath(env.Home()));
    EXPECT_EQ(ShellFindCSIDLFromIdList(home), csidlPersonal);
    std::filesystem::create_directories(env.Home() + "/plain");
    Pidl plain(ParsePath(env.Home() + "/plain"));
    EXPECT_EQ(ShellFindCSIDLFromIdList(plain), csidlNone);

    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlPersonal), env.Home());
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlDesktop), env.Home() + "/Desk top");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlDesktopDirectory), env.Home() + "/Desk top");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlMyPictures), "");  // named but missing
    std::filesystem::create_directories(env.Home() + "/Pics");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlMyPictures), env.Home() + "/Pics");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlAppData), env.Home() + "/.config");
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlSendTo), env.Home() + "/.local/share/vistrel/SendTo");
    EXPECT_TRUE(std::filesystem::is_directory(env.Home() + "/.local/share/vistrel/SendTo"));

    LPITEMIDLIST list = nullptr;
    EXPECT_TRUE(FAILED(ShellGetSpecialFolderIdList(0, csidlPrograms, list)));
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(ShellGetSpecialFolderPath(0, csidlFonts), "");
    EXPECT_THROW(ShellCSIDLEqualsIdList(home, csidlPrinters), EOleSysError);
    EXPECT_TRUE(ShellCSIDLEqualsIdList(home, csidlPersonal));
}

TEST(IdList, SplitIdList)
{
    ShellEnv env;
    Pidl home(ParsePath(env.Home()));
    IShellFolder* folder = nullptr;
    LPITEMIDLIST parent = nullptr, last = nullptr;
    ASSERT_EQ(ShellSplitIdList(home, folder, parent, last), S_OK);
    EXPECT_EQ(parent, nullptr);  // one level: its folder is the desktop
    EXPECT_EQ(Bytes(last), Bytes(home));
    folder->Release();
    ShellMemFree(last);

    // The desktop splits as its folder in the file system.
    Pidl empty(RawList({}));
    ASSERT_EQ(ShellSplitIdList(empty, folder, parent, last), S_OK);
    Pidl joined(ConcatIdLists(nullptr, parent, last));
    EXPECT_EQ(ShellGetPathFromIdList(joined), env.Home() + "/Desk top");
    EXPECT_EQ(ShellGetFriendlyNameFromIdList(folder, last, ptfnInFolder), "Desk top");
    folder->Release();
    ShellMemFree(parent);
    ShellMemFree(last);
}

TEST(Shortcuts, ShellLinkClassIsAbsent)
{
    TLinkData data;
    data.IdList = reinterpret_cast<LPITEMIDLIST>(&data);
    EXPECT_EQ(ResolveShortcut("/tmp/x.lnk", data, true), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(data.IdList, nullptr);
    EXPECT_EQ(CreateQuickShortcut("/tmp/x.lnk", "/bin/sh"), REGDB_E_CLASSNOTREG);
    CLSID clsid{};
    EXPECT_FALSE(PTClsidFromFileType(".txt", clsid));
}

TEST(Versions, PlatformFactsAndTheirTests)
{
    PTReadVersions();
    EXPECT_TRUE(IsWinNT());
    EXPECT_TRUE(IsWin2000());
    EXPECT_TRUE(HasWin95Shell());
    EXPECT_FALSE(IsWin95());
    EXPECT_EQ(VersionHigh(COMCTL32_VER), 0x00060000u);
    EXPECT_EQ(VersionHigh(SHELL32_VER), 0x00060000u);
    ShellPlatformVersion win95;
    win95.platformId = VER_PLATFORM_WIN32_WINDOWS;
    win95.majorVersion = 4;
    win95.buildNumber = 0x04001111;  // low half 0x1111 = 4369 > 1000
    ShellSetPlatformVersionForTest(win95);
    ShellSetModuleFileVersionForTest("comctl32.dll", 0);
    PTReadVersions();
    EXPECT_TRUE(IsWin95());
    EXPECT_TRUE(IsOSR2OrGreater());
    EXPECT_FALSE(IsWinNT());
    EXPECT_EQ(COMCTL32_VER, 0u);  // unreadable
    TPTModuleVersion v = 1;
    EXPECT_FALSE(GetModuleVersion("other.dll", v));
    ShellResetVersionsForTest();
    PTReadVersions();
}

TEST(Texts, FormatStrPos)
{
    EXPECT_EQ(FormatStrPos("Unable to create the folder '%2'\n\n%1", {"Access denied", "x"}, 1),
              "Unable to create the folder 'x'\n\nAccess denied");
    EXPECT_EQ(FormatStrPos("", {"a"}, 0), "");
    EXPECT_EQ(FormatStrPos("100%% %1", {"done"}, 0), "100% done");
    EXPECT_EQ(FormatStrPos("%3", {"a"}, 0), "");  // no such string: formatting fails
    std::vector<std::string> fifty(50, "s"), fiftyOne(51, "s");
    EXPECT_EQ(FormatStrPos("%50", fifty, 49), "s");
    try {
        FormatStrPos("%1", fiftyOne, 50);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "FormatStrPos: Too many substitution strings");
    }
}

TEST(Texts, CommandLineAndTrailingChars)
{
    TStringList list;
    ParametizeCmdLineDB("\"/opt/my app/run\"   -x    file.txt  ", list);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "/opt/my app/run");
    EXPECT_EQ(list[1], "-x");
    EXPECT_EQ(list[2], "file.txt");

    EXPECT_EQ(EnsureTrailingCharDB("", '/'), "");
    EXPECT_EQ(EnsureTrailingCharDB("/home", '/'), "/home/");
    EXPECT_EQ(EnsureTrailingCharDB("/home/", '/'), "/home/");
    EXPECT_EQ(TrimRightDB("abc \t\r\n"), "abc");
    std::string dest;
    int pos = 2;
    CopyCharDB(pos, "xyz", dest);
    EXPECT_EQ(dest, "y");
    EXPECT_EQ(pos, 3);
}

} // namespace
