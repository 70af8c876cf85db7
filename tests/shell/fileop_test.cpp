// The file-operation engine in one table of cases over temporary folders:
// copy, move (also across file systems when the machine has a second one),
// conflicts and their answers, merges, a folder into itself, links, a FIFO,
// a cancel in the middle of a large file; then delete to the trash and for
// good, and SHFileOperationA with its questions through the prompt service.
#include "shell_env.h"

#include "shell/shlfileop.h"

#include "test_support/scripted_prompts.h"

#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace {

class TestUI : public IShellFileOpUI {
public:
    Conflict AskConflict(const std::string&, const std::string& target, bool more, bool& forAll) override
    {
        asked.push_back(target);
        moreSeen.push_back(more);
        forAll = answerForAll;
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected conflict: " << target;
            return Conflict::Cancel;
        }
        const Conflict c = answers.front();
        answers.pop_front();
        return c;
    }
    bool ConfirmDelete(const std::vector<std::string>& items) override
    {
        deleteQuestions.push_back(items.size());
        return confirm;
    }
    bool ConfirmDeleteWithoutTrash(const std::string&, const std::string&) override { return confirm; }
    void ReportProblems(const std::vector<std::string>& problems) override { reported = problems; }
    bool WantsProgress() const override { return true; }
    bool Progress(const std::string&, std::uint64_t, std::uint64_t) override
    {
        ++ticks;
        return cancelAtTick < 0 || ticks < cancelAtTick;
    }

    std::deque<Conflict> answers;
    bool answerForAll = false;
    bool confirm = true;
    int cancelAtTick = -1;
    int ticks = 0;
    std::vector<std::string> asked;
    std::vector<bool> moreSeen;
    std::vector<size_t> deleteQuestions;
    std::vector<std::string> reported;
};

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Names in a folder that the engine's temporary files would have.
int PartFiles(const std::string& folder)
{
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.path().filename().string().rfind(".vistrel-part-", 0) == 0)
            ++n;
    return n;
}

using Conflict = IShellFileOpUI::Conflict;

struct Case {
    const char* name;
    std::function<void(TempDir&)> setup;
    ShellFileOp op;
    std::vector<std::string> sources;  // relative to the temporary folder
    std::string destination;
    std::function<void(TestUI&)> answer;
    std::function<void(TempDir&, const ShellFileOpResult&, const TestUI&)> check;
};

TEST(FileOperations, TableOfCases)
{
    const std::vector<Case> cases = {
        {"copy a file keeps its bytes and time", [](TempDir& d) {
             d.Write("src/a.txt", "alpha");
             struct timespec t[2] = {{1000000, 0}, {1000000, 0}};
             ::utimensat(AT_FDCWD, d.Path("src/a.txt").c_str(), t, 0);
             fs::create_directories(d.Path("dst"));
         }, ShellFileOp::Copy, {"src/a.txt"}, "dst", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(Read(d.Path("dst/a.txt")), "alpha");
                EXPECT_EQ(Read(d.Path("src/a.txt")), "alpha");
                struct stat st;
                ASSERT_EQ(::stat(d.Path("dst/a.txt").c_str(), &st), 0);
                EXPECT_EQ(st.st_mtim.tv_sec, 1000000);
                EXPECT_EQ(r.created, std::vector<std::string> {d.Path("dst/a.txt")});
            }},
        {"copy a tree copies links as links", [](TempDir& d) {
             d.Write("src/t/one.txt", "1");
             d.Write("src/t/deep/two.txt", "22");
             fs::create_symlink("../outside.txt", d.Path("src/t/link"));
             fs::create_symlink("deep", d.Path("src/t/dirlink"));
             d.Write("src/outside.txt", "o");
             fs::create_directories(d.Path("dst"));
         }, ShellFileOp::Copy, {"src/t"}, "dst", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(Read(d.Path("dst/t/deep/two.txt")), "22");
                EXPECT_TRUE(fs::is_symlink(d.Path("dst/t/link")));
                EXPECT_EQ(fs::read_symlink(d.Path("dst/t/link")).string(), "../outside.txt");
                EXPECT_TRUE(fs::is_symlink(d.Path("dst/t/dirlink")));
                EXPECT_EQ(PartFiles(d.Path("dst")), 0);
            }},
        {"a copy into its own folder takes a new name", [](TempDir& d) { d.Write("src/a.txt", "a"); },
            ShellFileOp::Copy, {"src/a.txt", "src/a.txt"}, "src", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(Read(d.Path("src/a (copy).txt")), "a");
                EXPECT_EQ(Read(d.Path("src/a (copy 2).txt")), "a");
            }},
        {"a move into its own folder does nothing", [](TempDir& d) { d.Write("src/a.txt", "a"); },
            ShellFileOp::Move, {"src/a.txt"}, "src", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(Read(d.Path("src/a.txt")), "a");
                EXPECT_EQ(std::distance(fs::directory_iterator(d.Path("src")), fs::directory_iterator()), 1);
            }},
        {"move within a file system renames", [](TempDir& d) {
             d.Write("src/f/x.txt", "x");
             fs::create_directories(d.Path("dst"));
         }, ShellFileOp::Move, {"src/f"}, "dst", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_FALSE(Exists(d.Path("src/f")));
                EXPECT_EQ(Read(d.Path("dst/f/x.txt")), "x");
            }},
        {"a conflict answered Skip leaves the target", [](TempDir& d) {
             d.Write("src/a.txt", "new");
             d.Write("dst/a.txt", "old");
         }, ShellFileOp::Copy, {"src/a.txt"}, "dst", [](TestUI& ui) { ui.answers = {Conflict::Skip}; },
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(ui.asked.size(), 1u);
                EXPECT_EQ(Read(d.Path("dst/a.txt")), "old");
            }},
        {"Replace for all answers the next conflict too", [](TempDir& d) {
             d.Write("src/a.txt", "new a");
             d.Write("src/b.txt", "new b");
             d.Write("dst/a.txt", "old a");
             d.Write("dst/b.txt", "old b");
         }, ShellFileOp::Copy, {"src/a.txt", "src/b.txt"}, "dst",
            [](TestUI& ui) {
                ui.answers = {Conflict::Replace};
                ui.answerForAll = true;
            },
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(ui.asked.size(), 1u);
                EXPECT_EQ(ui.moreSeen, std::vector<bool> {true});
                EXPECT_EQ(Read(d.Path("dst/a.txt")), "new a");
                EXPECT_EQ(Read(d.Path("dst/b.txt")), "new b");
                EXPECT_EQ(PartFiles(d.Path("dst")), 0);
            }},
        {"Cancel stops before the other items", [](TempDir& d) {
             d.Write("src/a.txt", "new");
             d.Write("src/b.txt", "b");
             d.Write("dst/a.txt", "old");
         }, ShellFileOp::Move, {"src/a.txt", "src/b.txt"}, "dst", [](TestUI& ui) { ui.answers = {Conflict::Cancel}; },
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_TRUE(r.aborted);
                EXPECT_EQ(r.error, ERROR_CANCELLED);
                EXPECT_EQ(Read(d.Path("dst/a.txt")), "old");
                EXPECT_EQ(Read(d.Path("src/a.txt")), "new");
                EXPECT_FALSE(Exists(d.Path("dst/b.txt")));
            }},
        {"a folder meets a folder of its name: they merge", [](TempDir& d) {
             d.Write("src/f/new.txt", "n");
             d.Write("src/f/same.txt", "source");
             d.Write("dst/f/kept.txt", "k");
             d.Write("dst/f/same.txt", "target");
         }, ShellFileOp::Move, {"src/f"}, "dst", [](TestUI& ui) { ui.answers = {Conflict::Replace}; },
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_EQ(r.error, 0u);
                EXPECT_EQ(ui.asked, std::vector<std::string> {d.Path("dst/f/same.txt")});
                EXPECT_EQ(Read(d.Path("dst/f/new.txt")), "n");
                EXPECT_EQ(Read(d.Path("dst/f/kept.txt")), "k");
                EXPECT_EQ(Read(d.Path("dst/f/same.txt")), "source");
                EXPECT_FALSE(Exists(d.Path("src/f")));
            }},
        {"a folder never goes into itself", [](TempDir& d) { d.Write("src/f/sub/x", "x"); },
            ShellFileOp::Copy, {"src/f"}, "src/f/sub", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_NE(r.error, 0u);
                ASSERT_EQ(ui.reported.size(), 1u);
                EXPECT_NE(ui.reported[0].find("subfolders"), std::string::npos);
                EXPECT_FALSE(Exists(d.Path("src/f/sub/f")));
            }},
        {"a file never replaces a folder", [](TempDir& d) {
             d.Write("src/a", "file");
             fs::create_directories(d.Path("dst/a"));
         }, ShellFileOp::Copy, {"src/a"}, "dst", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_EQ(r.error, ERROR_ALREADY_EXISTS);
                EXPECT_EQ(ui.reported.size(), 1u);
                EXPECT_TRUE(fs::is_directory(d.Path("dst/a")));
            }},
        {"a FIFO is skipped and reported, never opened", [](TempDir& d) {
             d.Write("src/f/plain.txt", "p");
             ASSERT_EQ(::mkfifo(d.Path("src/f/pipe").c_str(), 0600), 0);
             fs::create_directories(d.Path("dst"));
         }, ShellFileOp::Copy, {"src/f"}, "dst", nullptr,
            [](TempDir& d, const ShellFileOpResult& r, const TestUI& ui) {
                EXPECT_EQ(r.error, ERROR_NOT_SUPPORTED);
                ASSERT_EQ(ui.reported.size(), 1u);
                EXPECT_NE(ui.reported[0].find("FIFO"), std::string::npos);
                EXPECT_EQ(Read(d.Path("dst/f/plain.txt")), "p");
                EXPECT_FALSE(Exists(d.Path("dst/f/pipe")));
            }},
        {"a cancel in the middle of a large file leaves no partial copy", [](TempDir& d) {
             d.Write("src/f/x", "x");
             std::ofstream(d.Path("src/big.bin"), std::ios::binary) << std::string(40u << 20, 'b');
             fs::create_directories(d.Path("dst"));
         }, ShellFileOp::Copy, {"src/f", "src/big.bin"}, "dst",
            // Tick 1 starts the folder, 2 its file, 3 the big file, 4 is after its first chunk.
            [](TestUI& ui) { ui.cancelAtTick = 4; },
            [](TempDir& d, const ShellFileOpResult& r, const TestUI&) {
                EXPECT_TRUE(r.aborted);
                EXPECT_FALSE(Exists(d.Path("dst/big.bin")));
                EXPECT_EQ(PartFiles(d.Path("dst")), 0);
                EXPECT_EQ(fs::file_size(d.Path("src/big.bin")), 40u << 20);
                EXPECT_EQ(Read(d.Path("dst/f/x")), "x") << "the items done before the cancel stay";
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.setup(dir);
        TestUI ui;
        if (c.answer)
            c.answer(ui);
        std::vector<std::string> sources;
        for (const std::string& s : c.sources)
            sources.push_back(dir.Path(s));
        const ShellFileOpResult r = ShellFileOperation(c.op, sources, dir.Path(c.destination), ui);
        c.check(dir, r, ui);
    }
}

// A second file system: /dev/shm is a tmpfs on most machines.
TEST(FileOperations, AMoveAcrossFileSystemsCopiesThenRemovesTheSource)
{
    TempDir dir;
    struct stat a, b;
    if (::stat("/dev/shm", &b) != 0 || ::access("/dev/shm", W_OK) != 0 || ::stat(dir.Root().c_str(), &a) != 0
        || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second writable file system";
    std::string other = "/dev/shm/vistrel-move-XXXXXX";
    ASSERT_NE(::mkdtemp(other.data()), nullptr);
    struct Clean {
        std::string p;
        ~Clean() { fs::remove_all(p); }
    } clean {other};
    fs::create_directories(other + "/f/deep");
    std::ofstream(other + "/f/deep/x.txt") << "cross";
    fs::create_symlink("deep/x.txt", other + "/f/link");
    fs::create_directories(dir.Path("dst"));
    TestUI ui;
    const ShellFileOpResult r = ShellFileOperation(ShellFileOp::Move, {other + "/f"}, dir.Path("dst"), ui);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(Read(dir.Path("dst/f/deep/x.txt")), "cross");
    EXPECT_TRUE(fs::is_symlink(dir.Path("dst/f/link")));
    EXPECT_FALSE(Exists(other + "/f"));
}

TEST(FileOperations, TrashTakesFilesAndLinksThemselves)
{
    ShellEnv env;
    env.dir.Write("home/w/a.txt", "a");
    env.dir.Write("home/w/target.txt", "t");
    fs::create_symlink("target.txt", env.Home() + "/w/link");
    TestUI ui;
    const ShellFileOpResult r = ShellFileOperation(ShellFileOp::Trash,
        {env.Home() + "/w/a.txt", env.Home() + "/w/link"}, "", ui);
    EXPECT_EQ(r.error, 0u);
    EXPECT_TRUE(ui.deleteQuestions.empty()) << "the trash needs no question";
    const std::string trash = env.Home() + "/.local/share/Trash/";
    EXPECT_EQ(Read(trash + "files/a.txt"), "a");
    EXPECT_NE(Read(trash + "info/a.txt.trashinfo").find("Path=" + env.Home() + "/w/a.txt"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(trash + "files/link"));
    EXPECT_EQ(Read(env.Home() + "/w/target.txt"), "t") << "the link's target stays";
    EXPECT_FALSE(Exists(env.Home() + "/w/link"));
}

TEST(FileOperations, DeleteForGoodAsksAndNeverFollowsLinks)
{
    TempDir dir;
    dir.Write("keep/precious.txt", "p");
    dir.Write("gone/f/x.txt", "x");
    fs::create_symlink(dir.Path("keep"), dir.Path("gone/f/to-keep"));
    TestUI ui;
    ui.confirm = false;
    ShellFileOpResult r = ShellFileOperation(ShellFileOp::Delete, {dir.Path("gone")}, "", ui);
    EXPECT_TRUE(r.aborted);
    EXPECT_TRUE(Exists(dir.Path("gone/f/x.txt")));
    ui.confirm = true;
    r = ShellFileOperation(ShellFileOp::Delete, {dir.Path("gone")}, "", ui);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(ui.deleteQuestions, (std::vector<size_t> {1, 1}));
    EXPECT_FALSE(Exists(dir.Path("gone")));
    EXPECT_EQ(Read(dir.Path("keep/precious.txt")), "p");
}

TEST(FileOperations, SHFileOperationAsksThroughThePromptService)
{
    EnsureShellApplication();
    ScopedScriptedPrompts scripted(*Application);
    TempDir dir;
    dir.Write("src/a.txt", "new");
    dir.Write("src/b.txt", "new b");
    dir.Write("dst/a.txt", "old");
    dir.Write("dst/b.txt", "old b");
    const std::string from = dir.Path("src/a.txt") + '\0' + dir.Path("src/b.txt") + '\0';
    const std::string to = dir.Path("dst");
    SHFILEOPSTRUCTA op {};
    op.wFunc = FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_SILENT;
    // Replace a.txt, and not the same for the rest; then skip b.txt.
    scripted.prompts->PushButton(IDYES);
    scripted.prompts->PushButton(IDNO);
    scripted.prompts->PushButton(IDNO);
    EXPECT_EQ(SHFileOperationA(&op), 0);
    EXPECT_FALSE(op.fAnyOperationsAborted);
    EXPECT_EQ(Read(dir.Path("dst/a.txt")), "new");
    EXPECT_EQ(Read(dir.Path("dst/b.txt")), "old b");
    ASSERT_EQ(scripted.prompts->asked.size(), 3u);
    EXPECT_EQ(scripted.prompts->asked[0].caption, "Confirm File Replace");
    EXPECT_NE(scripted.prompts->asked[0].text.find(dir.Path("dst/a.txt")), std::string::npos);

    // A permanent delete asks first; a No keeps everything.
    const std::string del = dir.Path("dst/a.txt") + '\0';
    SHFILEOPSTRUCTA d {};
    d.wFunc = FO_DELETE;
    d.pFrom = del.c_str();
    d.fFlags = FOF_SILENT;
    scripted.prompts->PushButton(IDNO);
    EXPECT_EQ(SHFileOperationA(&d), static_cast<int>(ERROR_CANCELLED));
    EXPECT_TRUE(d.fAnyOperationsAborted);
    EXPECT_TRUE(Exists(dir.Path("dst/a.txt")));
}

TEST(FileOperations, CopyNamesSkipNamesThatAreTaken)
{
    TempDir dir;
    dir.Write("f/.bashrc", "");
    dir.Write("f/x.tar.gz", "");
    dir.Write("f/x.tar (copy).gz", "");
    EXPECT_EQ(ShellCopyName(dir.Path("f"), ".bashrc", false), ".bashrc (copy)");
    EXPECT_EQ(ShellCopyName(dir.Path("f"), "x.tar.gz", false), "x.tar (copy 2).gz");
    EXPECT_EQ(ShellCopyName(dir.Path("f"), "folder.d", true), "folder.d (copy)");
}

} // namespace
