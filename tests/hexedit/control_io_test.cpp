// Loading and saving through the control: progress, cancel, the read-only
// probe, errors and the state each leaves behind.
#include "hex_fixture.h"
#include "test_support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace {

struct ProgressLog {
    std::vector<int> percents;
    std::vector<std::string> names;
    int cancelAt = -1;  // the call (from 0) that sets Cancel
    void Attach(TCustomZURadUvudod& hex)
    {
        hex.OnProgress = [this](TObject*, TZAZProgressKind, const std::string& name, std::uint8_t percent,
                                bool& cancel) {
            if (static_cast<int>(percents.size()) == cancelAt)
                cancel = true;
            percents.push_back(percent);
            names.push_back(name);
        };
    }
};

TEST_F(HexEditorTest, LoadReportsProgressPerWholePercentAndTheLastChunk)
{
    struct Case {
        size_t size;
        std::vector<int> percents;
        std::int32_t rowCount;
    };
    const Case cases[] = {
        {0, {}, 3},
        {1, {100}, 3},
        {61440, {100}, 3842},
        {61441, {0, 100}, 3843},
        {122881, {0, 50, 100}, 7683},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string content = Pattern(c.size);
        dir.Write("f.bin", content);
        ProgressLog log;
        log.Attach(*hex);
        hex->LoadFromFile(dir.Path("f.bin"));
        EXPECT_EQ(log.percents, c.percents) << c.size;
        for (const auto& n : log.names)
            EXPECT_EQ(n, dir.Path("f.bin"));
        EXPECT_EQ(Data(), content) << c.size;
        EXPECT_EQ(hex->RowCount(), c.rowCount);
        EXPECT_TRUE(hex->HasFile());
        EXPECT_FALSE(hex->ReadOnlyFile());
        EXPECT_FALSE(hex->GetModified());
        EXPECT_EQ(hex->FileName(), dir.Path("f.bin"));
        EXPECT_EQ(hex->Col(), 2);
        EXPECT_EQ(hex->Row(), 2);
    }
}

TEST_F(HexEditorTest, LargeFilesReadOnSeveralThreadsKeepContentAndProgress)
{
    TempDir dir;
    const std::string content = Pattern((std::size_t(20) << 20) + 12345);
    dir.Write("large.bin", content);
    ProgressLog log;
    log.Attach(*hex);
    hex->LoadFromFile(dir.Path("large.bin"));
    EXPECT_TRUE(Data() == content);
    // Every whole percent once, in order; the last chunk is announced as 100
    // again after a rounded 100 for the one before it.
    std::vector<int> expected(101);
    for (int i = 0; i <= 100; ++i)
        expected[static_cast<size_t>(i)] = i;
    expected.push_back(100);
    EXPECT_EQ(log.percents, expected);

    log.percents.clear();
    log.cancelAt = 50;
    EXPECT_THROW(hex->LoadFromFile(dir.Path("large.bin")), EZURadUvudod);
    EXPECT_EQ(log.percents.back(), 50);
    EXPECT_EQ(hex->GetDataSize(), 0);
    EXPECT_FALSE(hex->HasFile());
}

TEST_F(HexEditorTest, CancelledLoadLeavesNoDataAndNoFile)
{
    TempDir dir;
    dir.Write("first.bin", "abc");
    hex->LoadFromFile(dir.Path("first.bin"));
    dir.Write("big.bin", Pattern(122881));
    for (int cancelAt : {0, 1, 2}) {
        ProgressLog log;
        log.cancelAt = cancelAt;
        log.Attach(*hex);
        try {
            hex->LoadFromFile(dir.Path("big.bin"));
            FAIL();
        } catch (const EZURadUvudod& e) {
            EXPECT_EQ(e.Message(), "Operation Cancelled");
        }
        EXPECT_EQ(static_cast<int>(log.percents.size()), cancelAt + 1);
        EXPECT_EQ(hex->GetDataSize(), 0);
        EXPECT_EQ(hex->RowCount(), 3);
        EXPECT_FALSE(hex->HasFile());
        EXPECT_EQ(hex->FileName(), dir.Path("first.bin"));  // the name of the last good load
    }
}

TEST_F(HexEditorTest, MissingFileFailsWithTheOpenErrorAndChangesNothingElse)
{
    TempDir dir;
    dir.Write("a.bin", "xyz");
    hex->LoadFromFile(dir.Path("a.bin"));
    const std::string missing = dir.Path("missing.bin");
    try {
        hex->LoadFromFile(missing);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open " + missing + ".\r\n(The system cannot find the file specified.)");
    }
    EXPECT_EQ(Data(), "xyz");
    EXPECT_TRUE(hex->HasFile());
    EXPECT_EQ(hex->FileName(), dir.Path("a.bin"));
    EXPECT_TRUE(hex->ReadOnlyFile());
    EXPECT_THROW(hex->LoadFromFile(dir.Root()), EFOpenError);  // a folder is no file
}

TEST_F(HexEditorTest, FileSharedForReadingLoadsReadOnlyAndRefusesToBeOverwritten)
{
    TempDir dir;
    dir.Write("shared.bin", "12345");
    const std::string name = dir.Path("shared.bin");
    {
        // Another program holds the file open and lets others only read it.
        TFileStream other(name, fmOpenRead | fmShareDenyWrite);
        hex->LoadFromFile(name);
        EXPECT_TRUE(hex->ReadOnlyFile());
        EXPECT_EQ(Data(), "12345");
    }
    try {
        hex->SaveToFile(name, true);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot save readonly file " + name + ".");
    }
    // The same file spelled another way is still the same file.
    std::filesystem::create_directory(dir.Path("sub"));
    EXPECT_THROW(hex->SaveToFile(dir.Root() + "./sub/../shared.bin", true), EFOpenError);
    std::filesystem::create_symlink(name, dir.Path("link.bin"));
    EXPECT_THROW(hex->SaveToFile(dir.Path("link.bin"), true), EFOpenError);
    EXPECT_EQ(dir.Read("shared.bin"), "12345");

    // "Save As" under another name works and makes that file current and writable.
    hex->SaveToFile(dir.Path("copy.bin"), true);
    EXPECT_EQ(dir.Read("copy.bin"), "12345");
    EXPECT_FALSE(hex->ReadOnlyFile());
    EXPECT_EQ(hex->FileName(), dir.Path("copy.bin"));
}

TEST_F(HexEditorTest, SaveWithoutMakeCurrentOnlySetsHasFile)
{
    TempDir dir;
    hex->CreateEmptyFile("");
    EXPECT_EQ(hex->FileName(), "Untitled");
    EXPECT_FALSE(hex->HasFile());
    EXPECT_TRUE(hex->ReadOnlyFile());
    hex->SetDataSize(4);
    hex->SetChanged(1, true);
    EXPECT_TRUE(hex->GetModified() || !FileExists("Untitled"));
    hex->SaveToFile(dir.Path("out.bin"), false);
    EXPECT_EQ(dir.Read("out.bin"), std::string(4, '\0'));
    EXPECT_TRUE(hex->HasFile());
    EXPECT_EQ(hex->FileName(), "Untitled");
    EXPECT_TRUE(hex->HasChanged(1));
    hex->SaveToFile(dir.Path("out2.bin"), true);
    EXPECT_FALSE(hex->HasChanged(1));
    EXPECT_FALSE(hex->GetModified());
    EXPECT_EQ(hex->FileName(), dir.Path("out2.bin"));
}

TEST_F(HexEditorTest, CancelledSaveLeavesTheTargetAsItWas)
{
    TempDir dir;
    dir.Write("target.bin", "old contents");
    LoadBytes(Pattern(200000));
    ProgressLog log;
    log.cancelAt = 1;
    log.Attach(*hex);
    EXPECT_THROW(hex->SaveToFile(dir.Path("target.bin"), true), EZURadUvudod);
    EXPECT_EQ(dir.Read("target.bin"), "old contents");
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Root()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
    EXPECT_EQ(log.percents, (std::vector<int>{0, 31}));
    // A complete save replaces it and keeps its permission bits.
    ::chmod(dir.Path("target.bin").c_str(), 0640);
    log.cancelAt = -1;
    hex->SaveToFile(dir.Path("target.bin"), true);
    EXPECT_EQ(dir.Read("target.bin"), Pattern(200000));
    struct stat st {};
    ::stat(dir.Path("target.bin").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(HexEditorTest, SaveIntoMissingFolderFailsWithCreateError)
{
    TempDir dir;
    LoadBytes("abc");
    EXPECT_THROW(hex->SaveToFile(dir.Path("no/such/dir/x.bin"), true), EFCreateError);
    EXPECT_FALSE(hex->HasFile());
}

// A stream that claims more bytes than a position can address.
class HugeStream : public TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override
    {
        pos = origin == soEnd ? (std::int64_t(1) << 31) + offset : origin == soCurrent ? pos + offset : offset;
        return pos;
    }
    std::int64_t pos = 0;
};

TEST_F(HexEditorTest, FilesBeyondTheLimitAreRefusedBeforeAllocating)
{
    HugeStream huge;
    try {
        hex->LoadFromStream(huge);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "File too large (2147483648 bytes): the hex editor holds at most 2147483647 bytes");
    }
    EXPECT_EQ(hex->GetDataSize(), 0);
    // A real (sparse) file of 2 GB or 6 GB is refused the same way through
    // LoadFromFile, before anything changes: the file shown stays.
    TempDir dir;
    dir.Write("shown.bin", "shown");
    for (std::int64_t size : {std::int64_t(1) << 31, std::int64_t(6) << 30}) {
        SCOPED_TRACE(size);
        {
            TFileStream f(dir.Path("sparse.bin"), fmCreate);
            f.SetSize(size);
        }
        hex->LoadFromFile(dir.Path("shown.bin"));
        EXPECT_THROW(hex->LoadFromFile(dir.Path("sparse.bin")), EZURadUvudod);
        EXPECT_TRUE(hex->HasFile());
        EXPECT_EQ(hex->FileName(), dir.Path("shown.bin"));
        EXPECT_EQ(Data(), "shown");
    }
}

TEST_F(HexEditorTest, SaveRangeAndStreams)
{
    LoadBytes("0123456789");
    TMemoryStream out;
    hex->SaveRangeToStream(out, 2, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.Memory()), 3), "234");
    EXPECT_THROW(hex->SaveRangeToStream(out, 8, 5), EReadError);
    EXPECT_THROW(hex->SaveRangeToStream(out, -1, 2), EZURadUvudod);
    EXPECT_THROW(hex->SaveRangeToStream(out, 2, -2), EZURadUvudod);
}

TEST_F(HexEditorTest, RawAccessAndBufferFromFileBounds)
{
    LoadBytes("ABCDEFGH");
    std::int32_t count = 10;
    auto block = hex->BufferFromFile(7, count);
    ASSERT_TRUE(block);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(block[0], 'H');
    for (std::int32_t bad : {-1, 8, 100}) {
        count = 1;
        try {
            hex->BufferFromFile(bad, count);
            ADD_FAILURE() << bad;
        } catch (const EZURadUvudod& e) {
            EXPECT_EQ(e.Message(), "Invalid buffer from file argument");
        }
    }
    count = -3;
    EXPECT_THROW(hex->BufferFromFile(0, count), EZURadUvudod);
    char buf[4];
    EXPECT_THROW(hex->ReadBuffer(buf, 6, 4), EZURadUvudod);
    EXPECT_THROW(hex->WriteBuffer(buf, -1, 2), EZURadUvudod);
    EXPECT_THROW(hex->MoveFileMem(0, 6, 4), EZURadUvudod);
    hex->WriteBuffer("xy", 6, 2);
    hex->MoveFileMem(6, 0, 2);
    EXPECT_EQ(Data(), "xyCDEFxy");
}

TEST_F(HexEditorTest, SetDataSizeRules)
{
    LoadBytes("ABCDEFGH");
    hex->SetSelStart(7);
    hex->SetDataSize(4);
    EXPECT_EQ(Data(), "ABCD");
    EXPECT_EQ(hex->GetCursorPos(), 3);  // the caret follows the end
    EXPECT_TRUE(hex->GetModified());
    hex->SetDataSize(6);
    EXPECT_EQ(Data(), std::string("ABCD\0\0", 6));
    EXPECT_THROW(hex->SetDataSize(-1), EZURadUvudod);
    hex->SetFixedFileSize(true);
    try {
        hex->SetDataSize(5);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "Cannot change fixed filesize");
    }
    hex->SetDataSize(0);  // allowed on a fixed size
    EXPECT_EQ(hex->GetDataSize(), 0);
    hex->SetDataSize(3);  // and so is growing an empty one
    EXPECT_EQ(hex->GetDataSize(), 3);
}

TEST_F(HexEditorTest, ModifiedIsFalseForAnEmptyUntitledBuffer)
{
    hex->CreateEmptyFile("Untitled");
    hex->SetDataSize(2);
    hex->SetDataSize(0);
    EXPECT_FALSE(hex->GetModified());
    hex->SetDataSize(2);
    EXPECT_TRUE(hex->GetModified());
}

TEST(HexTempName, NamesAFreshFileInTheTemporaryFolder)
{
    TempDir dir;
    ::setenv("TMPDIR", dir.Root().c_str(), 1);
    const std::string a = GetTempName();
    ::unsetenv("TMPDIR");
    EXPECT_EQ(ExtractFilePath(a), dir.Root());
    EXPECT_EQ(ExtractFileExt(a), ".ZAZT");
    EXPECT_EQ(ExtractFileName(a).size(), 13u);
    EXPECT_FALSE(FileExists(a));
}

}  // namespace
