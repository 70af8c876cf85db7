// The ACE extractor: without a library it reports 25103 once and writes
// nothing. With a stand-in library that behaves as one (it writes each
// file to its own target path in pieces, reporting progress, and asks
// before it replaces a file), the component's scan of the archive, its
// answers to the library's requests, where files end up, the folders and
// files around them, their dates, and a test run's verification.
#include "support.h"

#include "archive/zadunace.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// An ACE archive of headers (the stand-in library never reads the data).
struct AceHeader {
    std::string name;
    std::uint32_t packed, unpacked;
    std::uint32_t attributes = 0x20;
    std::uint32_t dos = 0x5865528F;  // 2024-03-05 10:20:30
};

std::string Le(std::uint64_t v, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

std::string AceArchive(const std::vector<AceHeader>& entries)
{
    std::string body = Le(0, 1) + Le(0, 2) + "**ACE**" + "\x14\x14\x02" + std::string(1, '\0') + Le(0x5865528F, 4) +
                       std::string(18, '\0');
    std::string out = Le(0, 2) + Le(body.size(), 2) + body;
    for (const AceHeader& e : entries) {
        std::string h = Le(1, 1) + Le(0, 2) + Le(e.packed, 4) + Le(e.unpacked, 4) + Le(e.dos, 4) + Le(e.attributes, 4) +
                        Le(0, 4) + Le(0, 1) + Le(2, 1) + Le(0, 2) + Le(0, 2) + Le(e.name.size(), 2) + e.name + Le(0, 2);
        out += Le(0, 2) + Le(h.size(), 2) + h + std::string(e.packed, 'p');
    }
    return out;
}

struct LibEntry {
    std::string stored;  // '\' between folders
    std::string data;
    std::uint32_t attributes = 0x20;
    bool crcOk = true;
};

// What the stand-in saw and answered; it outlives the library, which the
// extractor frees at the end of its run.
struct AceScript {
    std::vector<LibEntry> entries;
    TAceInit init;
    TAceOptions options;
    std::string archive;
    std::vector<int> startAnswers;
    std::vector<std::string> overwriteAsked;
};

class StandInAce : public TAceLibrary {
public:
    explicit StandInAce(AceScript& s) : s(s) {}
    int Init(const TAceInit& init) override
    {
        s.init = init;
        return 0;
    }
    int Test(const std::string& archive, const TAceOptions& o) override { return Run(archive, o, TAceOperation::Test); }
    int Extract(const std::string& archive, const TAceOptions& o) override { return Run(archive, o, TAceOperation::Extract); }

private:
    int Run(const std::string& archive, const TAceOptions& o, TAceOperation op)
    {
        s.archive = archive;
        s.options = o;
        TAceCallbacks& cb = s.init.Callbacks;
        cb.Info(ACE_CALLBACK_INFO_FILELISTCREATE);
        for (const LibEntry& e : s.entries) {
            std::string path = e.stored;
            std::replace(path.begin(), path.end(), '\\', '/');
            if (o.DropPaths)
                path = std::filesystem::path(path).filename().string();
            TAceFileState st;
            st.Operation = op;
            st.StoredName = e.stored;
            st.TargetName = op == TAceOperation::Extract ? IncludeTrailingPathDelimiter(o.Destination) + path : "";
            st.Size = static_cast<std::int64_t>(e.data.size());
            st.PackedSize = st.Size;
            st.DosDateTime = 0x5865528F;
            st.Attributes = e.attributes;
            // The library writes where it said, whatever the answer did to the record.
            const std::string target = st.TargetName;
            const int answer = cb.State(ACE_CALLBACK_STATE_STARTFILE, st);
            s.startAnswers.push_back(answer);
            if (answer != 0)
                continue;
            if (e.attributes & 0x10) {
                if (op == TAceOperation::Extract)
                    std::filesystem::create_directories(target);
                continue;
            }
            std::unique_ptr<std::ofstream> out;
            if (op == TAceOperation::Extract) {
                if (std::filesystem::exists(target)) {
                    s.overwriteAsked.push_back(target);
                    TAceRequest r;
                    r.FileName = target;
                    if (cb.Request(ACE_CALLBACK_REQUEST_OVERWRITE, r) != 0)
                        continue;
                }
                std::filesystem::create_directories(std::filesystem::path(target).parent_path());
                out = std::make_unique<std::ofstream>(target, std::ios::binary | std::ios::trunc);
            }
            for (size_t at = 0; at < e.data.size(); at += 7) {
                const std::string piece = e.data.substr(at, 7);
                if (out)
                    *out << piece;
                st.ProcessedBytes = static_cast<std::int64_t>(piece.size());
                st.Data = piece.data();
                st.DataSize = static_cast<std::int32_t>(piece.size());
                cb.State(ACE_CALLBACK_STATE_PROGRESS, st);
            }
            out.reset();
            st.CrcOk = e.crcOk;
            cb.State(ACE_CALLBACK_STATE_ENDFILE, st);
            cb.Info(ACE_CALLBACK_INFO_FILELISTADD);
        }
        cb.Info(ACE_CALLBACK_INFO_FILELISTCREATEEND);
        return 0;
    }
    AceScript& s;
};

struct AceRun {
    TempDir dir;
    AceScript script;
    TUnACE x;
    ExtractRun r;
    std::vector<std::pair<int, std::string>> said;  // code, extended message
    std::vector<int> progress;                        // per-file percentages
    explicit AceRun(const std::vector<AceHeader>& headers)
    {
        std::filesystem::create_directories(dir.Path("out"));
        std::ofstream(dir.Path("arc.ace"), std::ios::binary) << AceArchive(headers);
        SetAceLibraryFactory([this] { return std::make_unique<StandInAce>(script); });
        Watch(x, r);
        x.OnError = [this](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
            r.errors.emplace_back(code, file);
            said.emplace_back(code, ext);
        };
        x.OnProgress = [this](TObject*, BYTE byFile, BYTE) { progress.push_back(byFile); };
        x.SetArchiveFile(dir.Path("arc.ace"));
        x.SetExtractDir(dir.Path("out"));
        x.FileSpec.Add("*.*");
    }
    ~AceRun() { SetAceLibraryFactory(nullptr); }
    int Extract()
    {
        r.count = x.Extract();
        r.files = TreeOf(dir.Path("out"));
        return r.count;
    }
    std::string Out(const std::string& name) { return dir.Path("out/" + name); }
};

time_t MTime(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

TEST(AceExtract, WithoutTheLibrary)
{
    SetAceLibraryFactory(nullptr);
    TempDir out;
    const ExtractRun r = ExtractInto<TUnACE>(Fixture("list/files.ace"), out.Root());
    EXPECT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.Errors(25103), 1);
    EXPECT_TRUE(r.files.empty());
}

TEST(AceExtract, TheScanGivesTotalsAndMakesTheFoldersNoFileFills)
{
    AceRun a({{"readme.txt", 5, 100}, {"dir", 0, 0, 0x10}, {"dir\\data.bin", 3, 9}, {"empty", 0, 0, 0x10},
              {"other\\deep", 0, 0, 0x10}, {"skip.doc", 4, 40, 0x20, 0x5965528F}});
    a.x.FileSpec.Clear();
    a.x.FileSpec.Add("*.txt");
    a.x.FileSpec.Add("*.bin");
    a.x.CreateStoredDirs = true;
    a.Extract();
    EXPECT_EQ(a.x.ArchiveEntries(), 2);
    EXPECT_EQ(a.x.TotalUnpackedSize, 109);
    EXPECT_EQ(a.x.TotalPackedSize, 8);
    EXPECT_EQ(a.x.MaxFileDate, 0x5865528F);  // the unselected file's later date does not count
    EXPECT_TRUE(std::filesystem::is_directory(a.Out("empty")));
    EXPECT_TRUE(std::filesystem::is_directory(a.Out("other/deep")));
    EXPECT_FALSE(std::filesystem::exists(a.Out("dir")));
    // What the library was given.
    EXPECT_EQ(a.script.options.Masks, "*.txt\r*.bin\r");
    EXPECT_EQ(a.script.options.Destination, a.x.ExtractDir);
    EXPECT_FALSE(a.script.options.DropPaths);
    EXPECT_EQ(a.script.init.TestLimit, 0x1FFFFu);
    EXPECT_EQ(a.script.init.FileBufferSize, 0x2FFFFu);
    EXPECT_EQ(a.script.init.CommentBufferSize, 8191u);
    EXPECT_FALSE(a.script.init.TempDir.empty());
    EXPECT_EQ(a.script.archive, a.dir.Path("arc.ace"));

    // Without CreateStoredDirs no folder is made; a scan that cannot read
    // the archive is said and nothing is asked of the library.
    AceRun b({{"empty", 0, 0, 0x10}});
    b.Extract();
    EXPECT_FALSE(std::filesystem::exists(b.Out("empty")));
    AceRun c({});
    std::ofstream(c.dir.Path("arc.ace"), std::ios::binary) << "not an archive at all, no marker here";
    c.Extract();
    EXPECT_EQ(c.said, (std::vector<std::pair<int, std::string>>{{25103, ""}}));
    EXPECT_TRUE(c.script.archive.empty());
}

TEST(AceExtract, FilesGoWhereTheComponentNamesThem)
{
    AceRun a({{"readme.txt", 5, 24}, {"dir\\data.bin", 3, 9}, {"..\\evil.txt", 1, 5}});
    a.script.entries = {{"readme.txt", "the readme, in 4 pieces"}, {"dir\\data.bin", "data bytes"}, {"..\\evil.txt", "evil"}};
    a.x.OnRenameFile = [&](TObject*, const std::string& name, std::string& newName) {
        if (name.find("readme") != std::string::npos)
            newName = a.Out("moved/readme-new.txt");
        if (name.find("data.bin") != std::string::npos)
            newName = a.Out("data2.bin");
    };
    EXPECT_EQ(a.Extract(), 2);
    // Each moved from the library's path; the folder made only for the
    // library's path is gone again; the name outside the target is refused.
    EXPECT_EQ(a.r.files, (std::map<std::string, std::string>{{"data2.bin", "data bytes"},
                                                             {"moved/readme-new.txt", "the readme, in 4 pieces"}}));
    EXPECT_FALSE(std::filesystem::exists(a.Out("dir")));
    EXPECT_EQ(a.r.Errors(E_INVALIDFILENAME), 1);
    EXPECT_EQ(a.script.startAnswers, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(a.r.ended, (std::vector<std::pair<std::string, bool>>{{a.Out("moved/readme-new.txt"), true},
                                                                    {a.Out("data2.bin"), true}}));
    // The entry's date, and progress up to the whole of each file.
    EXPECT_EQ(MTime(a.Out("data2.bin")), MTime(a.Out("moved/readme-new.txt")));
    EXPECT_LT(MTime(a.Out("data2.bin")), 1735689600);  // before 2025: the entry's, not today's
    ASSERT_FALSE(a.progress.empty());
    EXPECT_EQ(a.progress.back(), 100);
    EXPECT_GT(std::count(a.progress.begin(), a.progress.end(), 100), 1);
    EXPECT_LT(a.progress.front(), 100);
}

TEST(AceExtract, AFileStandingAtTheLibrarysPathIsKept)
{
    // The user names the new file otherwise because one is there: the
    // library still writes to the stored path, and the user's file survives.
    AceRun a({{"readme.txt", 5, 10}});
    a.script.entries = {{"readme.txt", "from arc\n"}};
    std::ofstream(a.Out("readme.txt")) << "mine\n";
    a.x.ConfirmOverwrites = true;
    a.x.OnFileExists = [&](TObject*, const std::string&, std::string& newName, TOverwriteMode& mode) {
        newName = a.Out("readme(2).txt");
        mode = omOverwrite;
    };
    EXPECT_EQ(a.Extract(), 1);
    EXPECT_EQ(a.r.files, (std::map<std::string, std::string>{{"readme(2).txt", "from arc\n"}, {"readme.txt", "mine\n"}}));
    EXPECT_TRUE(a.script.overwriteAsked.empty());
}

TEST(AceExtract, AFailedCrcLeavesNoFile)
{
    for (const bool moved : {false, true}) {
        AceRun a({{"bad.bin", 3, 6}, {"good.bin", 3, 4}});
        a.script.entries = {{"bad.bin", "broken", 0x20, false}, {"good.bin", "good"}};
        if (moved)
            a.x.OnRenameFile = [&](TObject*, const std::string& name, std::string& newName) { newName = name + ".x"; };
        EXPECT_EQ(a.Extract(), 1) << moved;
        EXPECT_EQ(a.r.files.size(), 1u) << moved;
        EXPECT_EQ(a.r.files.begin()->second, "good") << moved;
        ASSERT_EQ(a.r.ended.size(), 2u);
        EXPECT_FALSE(a.r.ended[0].second);
        EXPECT_TRUE(a.r.ended[1].second);
    }
}

TEST(AceExtract, ATestRunVerifiesTheDataThatGoesBy)
{
    AceRun a({{"a.txt", 3, 11}, {"b.txt", 3, 5}});
    a.script.entries = {{"a.txt", "hello world"}, {"b.txt", "bytes", 0x20, false}};
    a.r.count = a.x.ExtractToVerify();
    EXPECT_EQ(a.r.count, 1);
    EXPECT_EQ(a.r.ended, (std::vector<std::pair<std::string, bool>>{{"a.txt", true}, {"b.txt", false}}));
    EXPECT_TRUE(TreeOf(a.dir.Path("out")).empty());
}

TEST(AceExtract, AnswersToTheLibrarysRequests)
{
    AceRun a({{"x.txt", 1, 1}});
    a.script.entries = {};
    a.Extract();
    TAceCallbacks& cb = a.script.init.Callbacks;
    auto password = [&](int attempts, std::function<void(std::string&, bool&)> handler, std::string& given, int& asked) {
        a.x.PasswordAttempts = attempts;
        a.x.Password.clear();
        asked = 0;
        a.x.OnGetPassword = handler ? TOnGetPassword([&asked, handler](TObject*, const std::string&, std::string& p,
                                                                       TSeedKeyRecord&, TSeedKeyRecord&, bool& again) {
            ++asked;
            handler(p, again);
        })
                                    : TOnGetPassword();
        a.said.clear();
        TAceRequest r;
        r.FileName = "x.txt";
        const int answer = cb.Request(ACE_CALLBACK_REQUEST_PASSWORD, r);
        given = r.Password;
        return answer;
    };
    const struct {
        int attempts;
        std::function<void(std::string&, bool&)> handler;
        int answer, asked;
        std::string given;
        std::vector<std::pair<int, std::string>> said;
    } cases[] = {
        {3, nullptr, 2, 0, "", {{25270, "OnGetPassword"}}},
        {3, [](std::string& p, bool&) { p = "pw"; }, 0, 1, "pw", {}},
        {3, [](std::string&, bool& again) { again = false; }, 2, 1, "", {{26517, ""}}},
        {3, [](std::string&, bool&) {}, 2, 3, "", {{26522, ""}}},
        {3, [](std::string&, bool&) { throw std::runtime_error("handler"); }, 1, 1, "", {}},
    };
    for (const auto& c : cases) {
        std::string given;
        int asked = 0;
        EXPECT_EQ(password(c.attempts, c.handler, given, asked), c.answer) << c.asked;
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(given, c.given);
        EXPECT_EQ(a.said, c.said) << c.asked;
    }

    // Overwriting by the mode; a file's read-only bit does not stand in the way.
    std::ofstream(a.Out("ro.txt")) << "x";
    std::filesystem::permissions(a.Out("ro.txt"), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    TAceRequest over;
    over.FileName = a.Out("ro.txt");
    a.x.OverwriteMode = omSkip;
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_OVERWRITE, over), 1);
    a.x.OverwriteMode = omOverwrite;
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_OVERWRITE, over), 0);
    EXPECT_NE(std::filesystem::status(a.Out("ro.txt")).permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none);

    // Information and errors.
    const std::pair<int, int> info[] = {{281, 0}, {282, 0}, {320, 0}, {300, 1}};
    for (auto [code, answer] : info)
        EXPECT_EQ(cb.Info(code), answer) << code;
    EXPECT_EQ(cb.Error(0), 2);

    // The next volume: asked for by its name in the set, scanned when there.
    std::ofstream(a.dir.Path("arc.C00"), std::ios::binary) << AceArchive({{"y.bin", 2, 77}});
    TAceRequest vol;
    vol.VolumeNumber = 1;
    a.x.OnNextVolume = nullptr;
    a.said.clear();
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_CHANGEVOLUME, vol), 2);
    EXPECT_EQ(a.said, (std::vector<std::pair<int, std::string>>{{25270, "OnNextVolume"}}));
    std::vector<std::pair<std::string, int>> asked;
    a.x.OnNextVolume = [&](TObject*, std::string& name, int id, bool, bool& cancel) {
        asked.emplace_back(ExtractFileName(name), id);
        cancel = !std::filesystem::exists(name);
    };
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_CHANGEVOLUME, vol), 0);
    EXPECT_EQ(vol.ArchiveName, a.dir.Path("arc.C00"));
    EXPECT_EQ(a.x.VolumeNumber, 1);
    EXPECT_EQ(a.x.TotalUnpackedSize, 77);
    vol.VolumeNumber = 2;
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_CHANGEVOLUME, vol), 2);
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, int>>{{"arc.C00", 1}, {"arc.C01", 2}}));

    // A refused volume cancelled the run: every callback now says so.
    EXPECT_TRUE(a.x.GetCancel());
    TAceFileState st;
    EXPECT_EQ(cb.Info(281), 2);
    EXPECT_EQ(cb.Request(ACE_CALLBACK_REQUEST_OVERWRITE, over), 2);
    EXPECT_EQ(cb.State(ACE_CALLBACK_STATE_STARTFILE, st), 2);
}

}  // namespace
