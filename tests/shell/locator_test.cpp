// The folder locator: its change rules, assignment and the "Pidl" property.
#include "shell_env.h"

#include "shell/ptshlocator.h"

#include "rtl/streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class LocatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(env.Home() + "/a/b/c");
        threeLevels.p = ParsePath(env.Home() + "/a/b");  // home, a, b
        other.p = ParsePath(env.Home() + "/a/b/c");
        locator.OnChange = [this](TObject* sender) {
            EXPECT_EQ(sender, &locator);
            ++changes;
        };
    }
    std::string Written(const TPTShellLocator& l)
    {
        TMemoryStream s;
        l.WriteData(s);
        return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
    }
    ShellEnv env;
    Pidl threeLevels, other;
    TPTShellLocator locator;
    int changes = 0;
};

TEST_F(LocatorTest, FreshLocatorIsTheDesktop)
{
    EXPECT_EQ(locator.GetIdList(), nullptr);
    EXPECT_EQ(locator.GetCSIDL(), csidlNone);
    EXPECT_FALSE(locator.HasData());
}

TEST_F(LocatorTest, ChangeRules)
{
    Pidl empty(RawList({}));
    struct Step {
        const char* what;
        std::function<void()> run;
        int changesAfter;
    };
    const Step steps[] = {
        {"empty list on a fresh locator", [&] { locator.SetIdList(empty); }, 0},
        {"nil on a fresh locator", [&] { locator.SetIdList(nullptr); }, 0},
        {"a folder", [&] { locator.SetIdList(threeLevels); }, 1},
        {"the same folder again", [&] { locator.SetIdList(threeLevels); }, 1},
        {"another folder", [&] { locator.SetIdList(other); }, 2},
        {"Computer by id", [&] { locator.SetCSIDL(csidlDrives); }, 3},
        {"Computer by id again", [&] { locator.SetCSIDL(csidlDrives); }, 3},
        {"a list after an id", [&] { locator.SetIdList(nullptr); }, 4},
        {"an unparsable path selects the desktop", [&] { locator.SetPathName(env.Home() + "/nope"); }, 4},
        {"a parsable path", [&] { locator.SetPathName(env.Home() + "/a/b"); }, 5},
        {"clear", [&] { locator.Clear(); }, 6},
    };
    for (const auto& s : steps) {
        s.run();
        EXPECT_EQ(changes, s.changesAfter) << s.what;
    }
    EXPECT_EQ(locator.GetIdList(), nullptr);
}

TEST_F(LocatorTest, AssignCopiesAndReportsOnlyRealChanges)
{
    TPTShellLocator personal, drives;
    personal.SetCSIDL(csidlPersonal);
    locator.SetCSIDL(csidlDrives);
    changes = 0;
    locator.Assign(&personal);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(locator.GetCSIDL(), csidlPersonal);
    locator.Assign(&personal);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(locator.GetPathName(), env.Home());

    TPTShellLocator byList;
    byList.SetIdList(threeLevels);
    locator.Assign(&byList);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(CompareAbsIdLists(locator.GetIdList(), threeLevels), 0);
    EXPECT_NE(locator.GetIdList(), byList.GetIdList());  // a copy
    locator.Assign(nullptr);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(locator.GetIdList(), nullptr);
    locator.Assign(nullptr);
    EXPECT_EQ(changes, 3);
    TObject unrelated;
    EXPECT_THROW(locator.Assign(&unrelated), EConvertError);
}

TEST_F(LocatorTest, UnlocatableSpecialFolderIsNeverTheDesktop)
{
    locator.SetCSIDL(csidlPrinters);
    LPCITEMIDLIST list = reinterpret_cast<LPCITEMIDLIST>(1);
    EXPECT_TRUE(FAILED(locator.LocateIdList(list)));
    EXPECT_EQ(list, nullptr);
    EXPECT_THROW(locator.GetIdList(), EOleSysError);
    EXPECT_EQ(locator.GetPathName(), "");
    locator.SetCSIDL(csidlPersonal);
    EXPECT_EQ(ShellGetPathFromIdList(locator.GetIdList()), env.Home());
}

TEST_F(LocatorTest, PidlPropertyRoundTrip)
{
    locator.SetIdList(threeLevels);
    const std::string bytes = Written(locator);
    ASSERT_EQ(bytes.size(), 1 + 4 + IdListLen(threeLevels));
    EXPECT_EQ(bytes[0], 0);
    TPTShellLocator back;
    TMemoryStream in;
    in.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    in.SetPosition(0);
    back.ReadData(in);
    EXPECT_EQ(back.Which(), usePidl);
    EXPECT_EQ(CompareAbsIdLists(back.GetIdList(), threeLevels), 0);

    struct Case {
        std::string bytes;
        TPTShellLocator_Which which;
        TCSIDL csidl;
    };
    changes = 0;
    const Case cases[] = {
        {std::string("\x00\x00\x00\x00\x00", 5), useCSIDL, csidlDesktop},
        {std::string("\x09\x05", 2), useCSIDL, csidlPersonal},
        {std::string("\x01\x24", 2), useCSIDL, csidlWindows},
    };
    for (const auto& c : cases) {
        TPTShellLocator l;
        TMemoryStream s;
        s.WriteBuffer(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size()));
        s.SetPosition(0);
        l.OnChange = [this](TObject*) { ++changes; };
        l.ReadData(s);
        EXPECT_EQ(l.Which(), c.which);
        EXPECT_EQ(l.GetCSIDL(), c.csidl);
        EXPECT_EQ(changes, 0);  // reading never reports a change
    }
    TPTShellLocator windows;
    windows.SetCSIDL(csidlWindows);
    EXPECT_EQ(Written(windows), std::string("\x01\x24", 2));
    TPTShellLocator desktopById;
    desktopById.SetCSIDL(csidlDesktop);
    EXPECT_EQ(Written(desktopById), std::string("\x01\x00", 2));
}

TEST_F(LocatorTest, PidlPropertyRefusesDamagedData)
{
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    const std::string z(1, '\0');
    struct Case {
        const char* fault;
        std::string bytes;
    };
    const Case cases[] = {
        {"special folder id above 50", std::string("\x01\x33", 2)},
        {"id byte missing", std::string("\x01", 1)},
        {"length missing", z + std::string("\x05\x00", 2)},
        {"length past the data", z + le32(100) + std::string("\x04\x00xx\x00\x00", 6)},
        {"length of one byte", z + le32(1) + std::string("\x00", 1)},
        {"item runs past the list", z + le32(6) + std::string("\x09\x00xx\x00\x00", 6)},
        {"item size of one", z + le32(5) + std::string("\x01\x00x\x00\x00", 5)},
        {"no terminator", z + le32(4) + std::string("\x04\x00xx", 4)},
        {"bytes after the terminator", z + le32(8) + std::string("\x04\x00xx\x00\x00yy", 8)},
        {"huge length", z + le32(0xFFFFFFFFu)},
    };
    for (const auto& c : cases) {
        locator.SetIdList(threeLevels);
        const std::string before = Written(locator);
        TMemoryStream s;
        s.WriteBuffer(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size()));
        s.SetPosition(0);
        EXPECT_THROW(locator.ReadData(s), EReadError) << c.fault;
        EXPECT_EQ(Written(locator), before) << c.fault;
    }
}

} // namespace

namespace {

// Mutated copies of a real "Pidl" property: each is refused cleanly or, when
// it still has the right shape, used by the namespace without harm (the
// sanitizers watch the reads). A failing input is written out for replay.
TEST_F(LocatorTest, MutatedPidlPropertiesNeverCrash)
{
    locator.SetIdList(threeLevels);
    const std::string original = Written(locator);
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    // Left behind only when a round crashes: the input that did it.
    const std::string replay = (std::filesystem::temp_directory_path() / "vistrel-pidl-mutation.bin").string();
    for (int round = 0; round < 400; ++round) {
        std::string bytes = original;
        const int edits = 1 + static_cast<int>(next() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % bytes.size();
            switch (next() % 3) {
            case 0:
                bytes[at] = static_cast<char>(next());
                break;
            case 1:
                bytes.erase(at, 1 + next() % 3);
                break;
            default:
                bytes.insert(at, 1, static_cast<char>(next()));
                break;
            }
            if (bytes.empty())
                bytes.assign(1, '\0');
        }
        std::ofstream(replay, std::ios::binary | std::ios::trunc) << bytes;
        TPTShellLocator l;
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        s.SetPosition(0);
        try {
            l.ReadData(s);
        } catch (const EReadError&) {
            continue;
        }
        LPCITEMIDLIST list = nullptr;
        if (FAILED(l.LocateIdList(list)))
            continue;
        ShellGetPathFromIdList(list);
        ShellGetFriendlyNameFromIdList(nullptr, list, ptfnNormal);
        CompareAbsIdLists(list, threeLevels);
        ShellGetIconIndex(list, SHGFI_SMALLICON);
        IShellFolder* folder = nullptr;
        if (SUCCEEDED(ShellGetFolderFromIdList(list, folder)) && folder)
            folder->Release();
    }
    std::filesystem::remove(replay);
}

} // namespace
