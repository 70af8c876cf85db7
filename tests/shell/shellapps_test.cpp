// The applications for a type from a test tree of XDG folders (desktop files,
// mimeapps.list defaults and added and removed associations, a
// mimeinfo.cache), the Exec expansion, starting an application whose Exec
// is a script that records its arguments, the file clipboard formats, and
// the context menu of file-system items: its entries per item kind, verbs
// and help texts, "open" that never runs a program, copy, cut and paste.
#include "shell_env.h"

#include "shell/shlapps.h"
#include "shell/shlclip.h"

#include "test_support/scripted_prompts.h"

#include "vcl/forms.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits (a few seconds at most) for a file a started program writes.
bool WaitFor(const std::string& path)
{
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        m_old = old ? old : "";
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had;
};

// HOME and the XDG folders of a test, with applications whose Exec is a
// script that writes each argument on a line of "<script>.out".
class Apps : public ::testing::Test {
protected:
    Apps()
        : dataDirs("XDG_DATA_DIRS", env.dir.Path("sys") + ":" + env.dir.Path("share")), configDirs("XDG_CONFIG_DIRS", env.dir.Path("etcxdg")),
          desktop("XDG_CURRENT_DESKTOP", "Test")
    {
        EnsureShellApplication();
        recorder = env.dir.Path("bin/record");
        env.dir.Write("bin/record", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$0.out\"; done\n: > \"$0.done\"\n");
        ::chmod(recorder.c_str(), 0755);
        const std::string user = ".local/share/applications/";
        Desktop("home/" + user + "recorder.desktop", "Recorder", "\"" + recorder + "\" %F", "text/plain;");
        Desktop("home/" + user + "editor.desktop", "Editor", "\"" + recorder + "\" --edit %f", "");
        Desktop("sys/applications/viewer.desktop", "Viewer", "\"" + recorder + "\" --view %f", "text/plain;image/png;");
        Desktop("sys/applications/uncached.desktop", "Uncached", "true %f", "text/plain;");
        Desktop("sys/applications/files.desktop", "Files", "\"" + recorder + "\" --folder %U", "inode/directory;");
        env.dir.Write("sys/applications/gone.desktop",
            "[Desktop Entry]\nType=Application\nName=Gone\nExec=true\nHidden=true\nMimeType=text/plain;\n");
        env.dir.Write("sys/applications/mimeinfo.cache",
            "[MIME Cache]\ntext/plain=viewer.desktop;gone.desktop;\nimage/png=viewer.desktop;\n"
            "inode/directory=files.desktop;\n");
        env.dir.Write("home/.config/mimeapps.list",
            "[Default Applications]\ntext/plain=missing.desktop;viewer.desktop;\n"
            "[Added Associations]\ntext/plain=editor.desktop;\n"
            "[Removed Associations]\nimage/png=viewer.desktop;\n");
        env.dir.Write("etcxdg/test-mimeapps.list", "[Removed Associations]\ntext/plain=recorder.desktop;\n");
    }

    void Desktop(const std::string& relative, const std::string& name, const std::string& exec, const std::string& types)
    {
        env.dir.Write(relative, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec
                + "\nIcon=icon-" + name + "\nMimeType=" + types + "\n[Desktop Action New]\nExec=wrong\n");
    }

    std::vector<std::string> RecordedLines()
    {
        if (!WaitFor(recorder + ".done"))
            return {};
        std::vector<std::string> out;
        std::istringstream in(Read(recorder + ".out"));
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        fs::remove(recorder + ".out");
        fs::remove(recorder + ".done");
        return out;
    }

    static std::vector<std::string> Ids(const std::vector<ShellApp>& apps)
    {
        std::vector<std::string> out;
        for (const ShellApp& a : apps)
            out.push_back(a.id);
        return out;
    }

    ShellEnv env;
    ScopedEnv dataDirs, configDirs, desktop;
    std::string recorder;
};

TEST_F(Apps, DefaultsAddedRemovedAndCachedAssociationsInOrder)
{
    // The default that is installed comes first; the added association next;
    // the user's recorder is removed by the desktop's list; the cache of the
    // system folder lists viewer only (and gone is hidden).
    EXPECT_EQ(Ids(ShellAppsForType("text/plain")), (std::vector<std::string> {"viewer.desktop", "editor.desktop"}));
    // A type derived from text/plain has the same applications.
    EXPECT_EQ(Ids(ShellAppsForType("text/x-csrc")), (std::vector<std::string> {"viewer.desktop", "editor.desktop"}));
    EXPECT_TRUE(ShellAppsForType("image/png").empty()) << "a removed association is gone";
    ShellApp app;
    ASSERT_TRUE(ShellDefaultAppForType("text/plain", app));
    EXPECT_EQ(app.name, "Viewer");
    EXPECT_EQ(app.exec, "\"" + recorder + "\" --view %f") << "the main group's Exec, not an action's";
    EXPECT_FALSE(ShellDefaultAppForType("application/x-nothing-here", app));
}

TEST_F(Apps, ExecLinesExpandByTheDesktopEntryRules)
{
    struct Row {
        const char* exec;
        std::vector<std::string> files;
        std::vector<std::vector<std::string>> lines;
    };
    const std::vector<Row> rows = {
        {"prog %f", {"/a b", "/c"}, {{"prog", "/a b"}, {"prog", "/c"}}},
        {"prog %F", {"/a b", "/c"}, {{"prog", "/a b", "/c"}}},
        {"prog %u", {"/a b%"}, {{"prog", "file:///a%20b%25"}}},
        {"prog %U", {"/x", "/y"}, {{"prog", "file:///x", "file:///y"}}},
        {"prog %i %c %k", {}, {{"prog", "--icon", "ico", "Name", "/apps/p.desktop"}}},
        {"\"/opt/my prog/run\" \"a \\\"q\\\" \\$b\" 100%%", {}, {{"/opt/my prog/run", "a \"q\" $b", "100%"}}},
        {"prog", {"/f"}, {{"prog", "/f"}}},
        {"prog --file=%f %d %m", {"/f"}, {{"prog", "--file=/f"}}},
        {"prog %f", {}, {{"prog"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exec);
        ShellApp app;
        app.exec = row.exec;
        app.name = "Name";
        app.icon = "ico";
        app.path = "/apps/p.desktop";
        std::string error;
        EXPECT_EQ(ShellExpandExec(app, row.files, error), row.lines);
        EXPECT_TRUE(error.empty());
    }
    ShellApp broken;
    broken.exec = "prog \"unclosed";
    std::string error;
    EXPECT_TRUE(ShellExpandExec(broken, {"/f"}, error).empty());
    EXPECT_FALSE(error.empty());
}

TEST_F(Apps, AnApplicationStartsDetachedWithEveryByteOfItsArguments)
{
    // Blanks, quotes and a byte that is not UTF-8 reach the program as they are.
    const std::vector<std::string> files = {env.Home() + "/with blank.txt", env.Home() + "/\"quoted\" 'name'",
        env.Home() + "/caf\xE9.txt"};
    for (const std::string& f : files)
        std::ofstream(f) << "x";
    ShellApp app;
    ASSERT_TRUE(ShellFindApp("recorder.desktop", app));
    std::string error;
    ASSERT_TRUE(ShellLaunchApp(app, files, error)) << error;
    EXPECT_EQ(RecordedLines(), files);

    app.exec = "/no/such/program %f";
    EXPECT_FALSE(ShellLaunchApp(app, files, error));
    EXPECT_NE(error.find("cannot find"), std::string::npos) << error;
}

IContextMenu* MenuOf(const std::vector<std::string>& paths)
{
    IShellFolder* folder = nullptr;
    LPITEMIDLIST parent = ParsePath(paths.front().substr(0, paths.front().find_last_of('/')));
    EXPECT_TRUE(SUCCEEDED(ShellGetFolderFromIdList(parent, folder)));
    ShellMemFree(parent);
    std::vector<LPITEMIDLIST> items;
    for (const std::string& p : paths) {
        LPITEMIDLIST item = nullptr;
        const std::u16string wide = ShellUtf8ToWide(p.substr(p.find_last_of('/') + 1));
        EXPECT_TRUE(SUCCEEDED(folder->ParseDisplayName(0, nullptr, wide.c_str(), nullptr, &item, nullptr)));
        items.push_back(item);
    }
    void* object = nullptr;
    std::vector<LPCITEMIDLIST> lists(items.begin(), items.end());
    const HRESULT hr = folder->GetUIObjectOf(0, static_cast<UINT>(lists.size()), lists.data(), IID_IContextMenu,
        nullptr, &object);
    for (LPITEMIDLIST i : items)
        ShellMemFree(i);
    folder->Release();
    return SUCCEEDED(hr) ? static_cast<IContextMenu*>(object) : nullptr;
}

// Runs a command of the menu by its verb, or by its offset given as
// MAKEINTRESOURCEA, as the controls do.
HRESULT Invoke(IContextMenu* cm, const char* verb)
{
    CMINVOKECOMMANDINFO info {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    return cm->InvokeCommand(&info);
}

// The menu as "verb@offset" lines, "-" for separators, submenus indented.
std::vector<std::string> Entries(IContextMenu* cm, UINT flags)
{
    HMENU menu = CreatePopupMenu();
    EXPECT_TRUE(SUCCEEDED(cm->QueryContextMenu(menu, 0, 1000, 0x7FFF, flags)));
    std::vector<std::string> out;
    std::function<void(HMENU, const std::string&)> walk = [&](HMENU m, const std::string& indent) {
        for (int i = 0; i < GetMenuItemCount(m); ++i) {
            const UINT state = GetMenuState(m, static_cast<UINT>(i), MF_BYPOSITION);
            if (state & MF_SEPARATOR) {
                out.push_back(indent + "-");
            } else if (HMENU sub = GetSubMenu(m, i)) {
                // A submenu that is one greyed item is the Send To placeholder.
                if (GetMenuItemCount(sub) == 1 && (GetMenuState(sub, 0, MF_BYPOSITION) & MF_GRAYED)) {
                    out.push_back(indent + "send to>");
                    continue;
                }
                out.push_back(indent + ">");
                walk(sub, indent + "  ");
            } else {
                const UINT id = GetMenuItemID(m, i);
                char verb[MAX_PATH] = {};
                EXPECT_EQ(cm->GetCommandString(id - 1000, GCS_VERBA, nullptr, verb, MAX_PATH), S_OK);
                out.push_back(indent + verb + "@" + std::to_string(id - 1000));
            }
        }
    };
    walk(menu, "");
    DestroyMenu(menu);
    return out;
}

TEST_F(Apps, MenuEntriesAndOffsetsPerKindOfItem)
{
    env.dir.Write("home/w/a.txt", "a");
    env.dir.Write("home/w/f/x", "x");
    QGuiApplication::clipboard()->clear();
    struct Row {
        std::string path;
        UINT flags;
        bool clipboardHasFiles;
        std::vector<std::string> entries;
    };
    const std::vector<Row> rows = {
        {env.Home() + "/w/a.txt", CMF_EXPLORE | CMF_CANRENAME, false,
            {"open@0", ">", "  openwith:viewer.desktop@32", "  openwith:editor.desktop@33", "-", "send to>", "-", "cut@24", "copy@25",
                "-", "delete@17", "rename@18", "-", "properties@19"}},
        {env.Home() + "/w/a.txt", CMF_EXPLORE, false,
            {"open@0", ">", "  openwith:viewer.desktop@32", "  openwith:editor.desktop@33", "-", "send to>", "-", "cut@24", "copy@25",
                "-", "delete@17", "-", "properties@19"}},
        {env.Home() + "/w/f", CMF_EXPLORE | CMF_CANRENAME, true,
            {"open@0", ">", "  openwith:files.desktop@32", "-", "send to>", "-", "cut@24", "copy@25", "paste@26", "-", "delete@17",
                "rename@18", "-", "properties@19"}},
        {env.Home() + "/w/f", CMF_EXPLORE, false,
            {"open@0", ">", "  openwith:files.desktop@32", "-", "send to>", "-", "cut@24", "copy@25", "-", "delete@17", "-",
                "properties@19"}},
        {env.Home() + "/w/a.txt", CMF_DEFAULTONLY, false, {"open@0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path + " " + std::to_string(row.flags));
        if (row.clipboardHasFiles)
            ShellSetClipboardFiles({env.Home() + "/w/a.txt"}, ShellClipOp::Copy);
        else
            QGuiApplication::clipboard()->clear();
        IContextMenu* cm = MenuOf({row.path});
        ASSERT_NE(cm, nullptr);
        EXPECT_EQ(Entries(cm, row.flags), row.entries);
        char help[MAX_PATH] = {};
        EXPECT_EQ(cm->GetCommandString(24, GCS_HELPTEXTA, nullptr, help, MAX_PATH), S_OK);
        EXPECT_FALSE(std::string(help).empty());
        EXPECT_EQ(cm->GetCommandString(5, GCS_VERBA, nullptr, help, MAX_PATH), E_INVALIDARG);
        cm->Release();
    }
    // The home folder can be opened and copied, not moved, deleted or renamed.
    LPITEMIDLIST home = ParsePath(env.Home());
    void* object = nullptr;
    ASSERT_EQ(ShellGetUIObjectOfIdList(home, IID_IContextMenu, &object), S_OK);
    ShellMemFree(home);
    auto* cm = static_cast<IContextMenu*>(object);
    const std::vector<std::string> entries = Entries(cm, CMF_EXPLORE | CMF_CANRENAME);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "delete@17"), 0);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "rename@18"), 0);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "copy@25"), 1);
    cm->Release();
}

TEST_F(Apps, OpenStartsTheDefaultApplicationAndNeverRunsAProgram)
{
    ScopedScriptedPrompts scripted(*Application);
    env.dir.Write("home/w/notes.txt", "n");
    env.dir.Write("home/w/run-me.sh", "#!/bin/sh\n: > \"$0.ran\"\n");
    ::chmod((env.Home() + "/w/run-me.sh").c_str(), 0755);
    env.dir.Write("home/w/prog", std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x3E\0", 20) + std::string(100, '\0'));
    ::chmod((env.Home() + "/w/prog").c_str(), 0755);

    IContextMenu* cm = MenuOf({env.Home() + "/w/notes.txt"});
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(Invoke(cm, "open"), S_OK);
    EXPECT_EQ(RecordedLines(), (std::vector<std::string> {"--view", env.Home() + "/w/notes.txt"}));
    cm->Release();

    // A shell script opens as text in the text application; it never runs.
    cm = MenuOf({env.Home() + "/w/run-me.sh"});
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(Invoke(cm, "open"), S_OK);
    EXPECT_EQ(RecordedLines(), (std::vector<std::string> {"--view", env.Home() + "/w/run-me.sh"}));
    EXPECT_FALSE(fs::exists(env.Home() + "/w/run-me.sh.ran"));
    cm->Release();

    // A binary program is refused with a message.
    cm = MenuOf({env.Home() + "/w/prog"});
    ASSERT_NE(cm, nullptr);
    EXPECT_TRUE(FAILED(Invoke(cm, "open")));
    ASSERT_EQ(scripted.prompts->asked.size(), 1u);
    EXPECT_NE(scripted.prompts->asked[0].text.find("is a program"), std::string::npos);
    cm->Release();

    // Rename is edited in place by the controls; invoked directly it fails.
    cm = MenuOf({env.Home() + "/w/notes.txt"});
    EXPECT_TRUE(FAILED(Invoke(cm, MAKEINTRESOURCEA(18))));
    EXPECT_EQ(Invoke(cm, "no-such-verb"), E_INVALIDARG);
    cm->Release();
}

TEST_F(Apps, OpenWithStartsTheChosenApplicationForEveryItem)
{
    env.dir.Write("home/w/a.txt", "a");
    env.dir.Write("home/w/b.txt", "b");
    IContextMenu* cm = MenuOf({env.Home() + "/w/a.txt", env.Home() + "/w/b.txt"});
    ASSERT_NE(cm, nullptr);
    // Offsets 32 and on are the applications for both items, default first.
    EXPECT_EQ(Invoke(cm, MAKEINTRESOURCEA(33)), S_OK);
    // The editor's Exec has %f: one start per file; both write to the record.
    std::vector<std::string> lines;
    for (int i = 0; i < 500 && lines.size() < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines.clear();
        std::istringstream in(Read(recorder + ".out"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string> {"--edit", "--edit", env.Home() + "/w/a.txt", env.Home() + "/w/b.txt"}));
    cm->Release();

    // A selection of several types offers only the applications of all of them.
    env.dir.Write("home/w/f/x", "x");
    const std::string a = env.Home() + "/w/a.txt", b = env.Home() + "/w/b.txt", f = env.Home() + "/w/f";
    const struct {
        std::vector<std::string> items;
        std::vector<std::string> openWith;
    } rows[] = {
        {{a, b, a}, {"  openwith:viewer.desktop@32", "  openwith:editor.desktop@33"}},
        {{a, f, b}, {}},
        {{f, f}, {"  openwith:files.desktop@32"}},
    };
    for (const auto& row : rows) {
        cm = MenuOf(row.items);
        ASSERT_NE(cm, nullptr);
        std::vector<std::string> openWith;
        for (const std::string& e : Entries(cm, CMF_EXPLORE))
            if (e.rfind("  openwith:", 0) == 0)
                openWith.push_back(e);
        EXPECT_EQ(openWith, row.openWith) << row.items.size() << " items";
        cm->Release();
    }
}

TEST_F(Apps, ClipboardFormatsOfOtherFileManagers)
{
    const std::vector<std::string> files = {"/tmp/a b.txt", "/tmp/caf\xE9"};
    std::unique_ptr<QMimeData> ours(ShellFilesMimeData(files, ShellClipOp::Cut));
    EXPECT_EQ(ours->data("x-special/gnome-copied-files").toStdString(), "cut\nfile:///tmp/a%20b.txt\nfile:///tmp/caf%E9");
    EXPECT_EQ(ours->data("application/x-kde-cutselection").toStdString(), "1");
    EXPECT_EQ(ours->data("text/uri-list").toStdString(), "file:///tmp/a%20b.txt\r\nfile:///tmp/caf%E9\r\n");

    struct Row {
        const char* name;
        std::function<void(QMimeData&)> fill;
        bool found;
        ShellClipOp op;
        std::vector<std::string> paths;
    };
    const std::vector<Row> rows = {
        {"GNOME copy", [](QMimeData& d) { d.setData("x-special/gnome-copied-files", "copy\nfile:///x/y%20z\n"); },
            true, ShellClipOp::Copy, {"/x/y z"}},
        {"KDE cut", [](QMimeData& d) {
             d.setData("text/uri-list", "file:///x/one\r\nfile://localhost/x/two\r\n");
             d.setData("application/x-kde-cutselection", "1");
         }, true, ShellClipOp::Cut, {"/x/one", "/x/two"}},
        {"newer GNOME text", [](QMimeData& d) { d.setText("x-special/nautilus-clipboard\ncut\nfile:///x/t\n"); },
            true, ShellClipOp::Cut, {"/x/t"}},
        {"escaped bytes that are no UTF-8, stray percent signs", [](QMimeData& d) {
             d.setData("x-special/gnome-copied-files", "copy\nfile:///x/caf%E9%zz%2");
         }, true, ShellClipOp::Copy, {"/x/caf\xE9%zz%2"}},
        {"an escaped zero byte", [](QMimeData& d) { d.setData("x-special/gnome-copied-files", "copy\nfile:///x/a%00b"); },
            false, ShellClipOp::Copy, {}},
        {"another host", [](QMimeData& d) { d.setData("text/uri-list", "file://far/x\r\n"); }, false,
            ShellClipOp::Copy, {}},
        {"a web address", [](QMimeData& d) { d.setData("text/uri-list", "https://example.org/\r\n"); }, false,
            ShellClipOp::Copy, {}},
        {"plain text", [](QMimeData& d) { d.setText("/x/y"); }, false, ShellClipOp::Copy, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QMimeData data;
        row.fill(data);
        std::vector<std::string> paths;
        ShellClipOp op;
        EXPECT_EQ(ShellFilesFromMimeData(&data, paths, op), row.found);
        EXPECT_EQ(paths, row.paths);
        if (row.found) {
            EXPECT_EQ(op, row.op);
        }
    }
}

TEST_F(Apps, CutAndPasteMovesAndEmptiesTheClipboard)
{
    ScopedScriptedPrompts scripted(*Application);
    env.dir.Write("home/from/a.txt", "a");
    env.dir.Write("home/to/keep", "k");
    // Another file manager cut the file.
    auto* data = new QMimeData;
    data->setData("x-special/gnome-copied-files", QByteArray::fromStdString("cut\n" + ShellFileUrl(env.Home() + "/from/a.txt")));
    QGuiApplication::clipboard()->setMimeData(data);
    IContextMenu* cm = MenuOf({env.Home() + "/to"});
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(Invoke(cm, "paste"), S_OK);
    EXPECT_EQ(Read(env.Home() + "/to/a.txt"), "a");
    EXPECT_FALSE(fs::exists(env.Home() + "/from/a.txt"));
    EXPECT_FALSE(ShellClipboardHasFiles());
    cm->Release();

    // Copy puts the files on the clipboard for the others.
    cm = MenuOf({env.Home() + "/to/a.txt"});
    EXPECT_EQ(Invoke(cm, "copy"), S_OK);
    std::vector<std::string> paths;
    ShellClipOp op;
    ASSERT_TRUE(ShellGetClipboardFiles(paths, op));
    EXPECT_EQ(op, ShellClipOp::Copy);
    EXPECT_EQ(paths, std::vector<std::string> {env.Home() + "/to/a.txt"});
    cm->Release();
    EXPECT_TRUE(scripted.prompts->asked.empty());
}

TEST_F(Apps, PropertiesNameTheFacts)
{
    ScopedScriptedPrompts scripted(*Application);
    env.dir.Write("home/w/a.txt", "12345");
    env.dir.Write("home/w/f/one", "1");
    env.dir.Write("home/w/f/sub/two", "22");
    fs::create_symlink("a.txt", env.Home() + "/w/link");
    for (const auto& [path, expected] : std::vector<std::pair<std::string, std::vector<std::string>>> {
             {env.Home() + "/w/a.txt", {"Name: a.txt", "text/plain", "Folder: " + env.Home() + "/w", "5 bytes",
                                           "Modified: ", "Permissions: rw", "Owner: "}},
             {env.Home() + "/w/f", {"Name: f", "File Folder", "Contains: 2 files, 1 folders", "3 bytes"}},
             {env.Home() + "/w/link", {"Symbolic link", "Link target: a.txt"}},
         }) {
        IContextMenu* cm = MenuOf({path});
        ASSERT_NE(cm, nullptr);
        EXPECT_EQ(Invoke(cm, "properties"), S_OK);
        cm->Release();
        ASSERT_FALSE(scripted.prompts->asked.empty());
        const std::string text = scripted.prompts->asked.back().text;
        for (const std::string& e : expected)
            EXPECT_NE(text.find(e), std::string::npos) << e << " in\n" << text;
    }
}

} // namespace
