// The registry store, the Windows folder and the wallpaper setting without
// a settings tool.
#include "test_support/temp_dir.h"

#include "kernel/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Points the XDG folders (and PATH, when given) at a test folder for the
// life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const TempDir& dir, const char* path = nullptr)
    {
        Set("XDG_CONFIG_HOME", dir.Path("config"));
        Set("XDG_DATA_HOME", dir.Path("data"));
        if (path)
            Set("PATH", path);
    }
    ~ScopedEnvironment()
    {
        for (auto& [name, value] : m_saved)
            if (value.first)
                ::setenv(name.c_str(), value.second.c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }

private:
    void Set(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, std::make_pair(old != nullptr, old ? std::string(old) : std::string()));
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> m_saved;
};

} // namespace

TEST(Registry, KeepsValuesWholeAcrossObjectsAndKeys)
{
    TempDir dir;
    ScopedEnvironment env(dir);
    {
        TRegistry reg;
        EXPECT_FALSE(reg.OpenKey("Control Panel\\Desktop", false));
        EXPECT_THROW(reg.WriteString("WallPaper", "x"), ERegistryException);
        ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop\\", true));
        reg.WriteString("WallPaper", "/a path/with = and [brackets]\\ and\nline");
        reg.WriteString("=odd name", "");
    }
    TRegistry again;
    EXPECT_TRUE(again.KeyExists("\\Control Panel\\Desktop"));
    ASSERT_TRUE(again.OpenKey("Control Panel\\Desktop", false));
    EXPECT_EQ(again.ReadString("WallPaper"), "/a path/with = and [brackets]\\ and\nline");
    EXPECT_TRUE(again.ValueExists("=odd name"));
    EXPECT_FALSE(again.ValueExists("TileWallPaper"));
    EXPECT_EQ(again.ReadString("TileWallPaper"), "");
    // Another root is another key.
    again.RootKey = HKEY_LOCAL_MACHINE;
    EXPECT_FALSE(again.KeyExists("Control Panel\\Desktop"));
    // The store is one file in the configuration folder.
    EXPECT_TRUE(dir.Exists("config/vistrel/registry"));
}

TEST(Registry, AGarbledStoreReadsAsEmpty)
{
    TempDir dir;
    ScopedEnvironment env(dir);
    dir.Write("config/vistrel/registry", std::string("\0\xFF garbage\n=x\n[unclosed\n", 24));
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("Control Panel\\Desktop", false));
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", true));
    reg.WriteString("WallPaper", "w");
    EXPECT_EQ(reg.ReadString("WallPaper"), "w");
}

TEST(Registry, TheWindowsFolderIsTheDataFolderWhateverItsLength)
{
    TempDir dir;
    ScopedEnvironment env(dir);
    const std::string expected = dir.Path("data") + "/vistrel";
    char small[4];
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), expected.size() + 1);
    std::string buffer(expected.size() + 1, 'x');
    EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size())), expected.size());
    EXPECT_EQ(std::string(buffer.c_str()), expected);
    EXPECT_TRUE(dir.Exists("data/vistrel"));
}

TEST(Registry, TheWallpaperSettingFailsWithoutASettingsTool)
{
    TempDir dir;
    ScopedEnvironment env(dir, dir.Path("empty-bin").c_str());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", true));
    reg.WriteString("WallPaper", "/x.bmp");
    EXPECT_FALSE(SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, nullptr, SPIF_SENDCHANGE));
    EXPECT_FALSE(SystemParametersInfoA(0x1234, 0, nullptr, 0));
}
