// The cabinet interface's surroundings: the compression-type word, the
// stream file handler every cabinet extraction opens its files through,
// the exceptions of system and cabinet failures, and an error record the
// extraction cannot go on from, reported before it ends the run.
#include "support.h"

#include "archive/zadcabgbls.h"
#include "archive/zaduncab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

TEST(CabinetHelpers, TheCompressionTypeWord)
{
    const struct {
        int type, level, memory, word;
    } cases[] = {
        {0, 0, 0, 0x0000},
        {1, 0, 0, 0x0001},     // MSZIP
        {2, 7, 21, 0x1572},    // Quantum, level 7, 2 MB
        {3, 0, 15, 0x0F03},    // LZX with a 32 KB window
        {3, 0, 21, 0x1503},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TCOMPfromTypeLevelMemory(c.type, c.level, c.memory), c.word);
        EXPECT_EQ(CompressionTypeFromTCOMP(c.word), c.type);
        EXPECT_EQ(CompressionLevelFromTCOMP(c.word), c.level);
        EXPECT_EQ(CompressionMemoryFromTCOMP(c.word), c.memory);
        EXPECT_EQ(LZXCompressionWindowFromTCOMP(c.word), c.memory);
    }
    EXPECT_EQ(TCOMPfromLZXWindow(21), 0x1503);
    // Bits above the window field belong to no field.
    EXPECT_EQ(LZXCompressionWindowFromTCOMP(0xE000 | 0x1503), 21);
    EXPECT_EQ(CompressionTypeFromTCOMP(0xE000 | 0x1503), 3);
}

TEST(CabinetHelpers, TheStreamHandler)
{
    TempDir dir;
    const std::string file = dir.Path("data.bin");
    std::ofstream(file, std::ios::binary) << "0123456789";
    TStreamCabinetFileHandler h;
    int err = 99;

    // Reading: a handle is the stream's, reads and seeks say how they went.
    const std::intptr_t hf = h.Open(file, 0x8000, 0, err, 0);
    ASSERT_NE(hf, -1);
    EXPECT_EQ(err, 0);
    ASSERT_NE(h.FindStream(hf), nullptr);
    EXPECT_EQ(reinterpret_cast<std::intptr_t>(h.FindStream(hf)->Handle()), hf);
    char buf[16] = {};
    EXPECT_EQ(h.Read(hf, buf, 4, err), 4);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(std::string(buf, 4), "0123");
    const struct {
        std::int32_t distance;
        int type, at;
    } seeks[] = {{6, 0, 6}, {2, 1, 8}, {-3, 2, 7}, {0, 0, 0}};
    for (const auto& s : seeks) {
        EXPECT_EQ(h.Seek(hf, s.distance, s.type, err), s.at) << s.distance << "/" << s.type;
        EXPECT_EQ(err, 0);
    }
    EXPECT_EQ(h.Read(hf, buf, 16, err), 10);  // what there is
    // Writing to a file opened for reading goes nowhere.
    EXPECT_EQ(h.Write(hf, "x", 1, err), 0);
    EXPECT_NE(err, 0);
    EXPECT_EQ(h.Close(hf, err), 0);
    EXPECT_EQ(h.FindStream(hf), nullptr);

    // A handle it does not know.
    for (int op = 0; op < 3; ++op) {
        err = 0;
        const std::int32_t r = op == 0 ? h.Read(hf, buf, 1, err) : op == 1 ? h.Write(hf, "x", 1, err) : h.Seek(hf, 0, 0, err);
        EXPECT_EQ(r, 0);
        EXPECT_EQ(err, -1);
    }
    // A file that does not open.
    EXPECT_EQ(h.Open(dir.Path("missing.bin"), 0, 0, err, 0), -1);
    EXPECT_EQ(err, -1);

    // Creating and writing.
    const std::intptr_t out = h.Open(dir.Path("new.bin"), 0x100 | 0x2, 0, err, 0);
    ASSERT_NE(out, -1);
    EXPECT_EQ(h.Write(out, "abc", 3, err), 3);
    EXPECT_EQ(err, 0);
    h.Close(out, err);
    EXPECT_EQ(TreeOf(dir.Root()).at("new.bin"), "abc");

    // 0x400 keeps the file to this handle; otherwise others may share it.
    const std::intptr_t alone = h.Open(file, 0x400, 0, err, 0);
    ASSERT_NE(alone, -1);
    EXPECT_EQ(h.Open(file, 0, 0, err, 0), -1);
    h.Close(alone, err);
    const std::intptr_t shared = h.Open(file, 0, 0, err, 0);
    ASSERT_NE(shared, -1);
    const std::intptr_t again = h.Open(file, 0, 0, err, 0);
    EXPECT_NE(again, -1);
    EXPECT_EQ(h.OpenCount(), 2);
    h.Close(shared, err);
    h.Close(again, err);

    // Deleting.
    EXPECT_EQ(h.Delete(dir.Path("new.bin"), err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("new.bin")));
    h.Delete(dir.Path("new.bin"), err);
    EXPECT_EQ(err, 2);  // ERROR_FILE_NOT_FOUND

    void* block = StdFciAlloc(64);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 64);
    EXPECT_EQ(StdFciFree(block), 0);
}

TEST(CabinetHelpers, ExceptionsOfSystemAndCabinetFailures)
{
    EXPECT_TRUE(ApiCheck(true));
    SetLastError(5);
    try {
        ApiCheck(false);
        ADD_FAILURE() << "no exception";
    } catch (const EApiError& e) {
        EXPECT_EQ(e.ErrorCode, 5u);
        EXPECT_EQ(e.Message(), "Error 5: " + SysErrorMessage(5));
    }
    try {
        RaiseCabinetError(10, 3);
        ADD_FAILURE() << "no exception";
    } catch (const ECabinetError& e) {
        EXPECT_EQ(e.ErrorCode, 10);
        EXPECT_EQ(e.ErrorType, 3);
        EXPECT_EQ(e.Message(), "Cabinet error 10 (type 3)");
    }
}

TEST(CabinetHelpers, TheExtractorOpensItsFilesThroughTheHandler)
{
    // The stub case seeks every absolute position past the stub.
    for (const std::string fixture : {"cab/mszip.cab", "cab/stub.exe"}) {
        TempDir out;
        TUnCab x;
        int openWhileExtracting = 0;
        ExtractRun r;
        Watch(x, r);
        x.OnBegin = [&](TObject*, const std::string&, int, bool&) {
            openWhileExtracting = std::max(openWhileExtracting, CabinetFileHandler().OpenCount());
        };
        x.SetArchiveFile(Fixture(fixture));
        x.SetExtractDir(out.Root());
        x.FileSpec.Add("*.*");
        EXPECT_EQ(x.Extract(), 3) << fixture;
        EXPECT_GE(openWhileExtracting, 1) << fixture;
        EXPECT_EQ(CabinetFileHandler().OpenCount(), 0) << fixture;
        EXPECT_EQ(TreeOf(out.Root()).size(), 3u) << fixture;
    }
}

TEST(CabinetHelpers, AnErrorRecordThatEndsTheRunIsSaid)
{
    // The second cabinet of the set made to disagree with the first about
    // the folder that runs on into it (its compression type): the library
    // cannot join them and says so in its error record (10, wrong cabinet).
    TempDir set, out;
    std::filesystem::copy_file(Fixture("cab/set1.cab"), set.Path("set1.cab"));
    std::string second = TreeOf(ExtractFilePath(Fixture("cab/set2.cab"))).at("set2.cab");
    // 36 header bytes, "set1.cab\0DISK\0", then the first folder: its
    // compression type at byte 6.
    ASSERT_EQ(second.substr(36, 9), std::string("set1.cab\0", 9));
    second[36 + 14 + 6] = 1;
    std::ofstream(set.Path("set2.cab"), std::ios::binary) << second;

    TUnCab x;
    std::vector<std::pair<int, std::string>> said;
    x.OnError = [&](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
        said.emplace_back(code, ext);
    };
    x.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
    x.SetArchiveFile(set.Path("set1.cab"));
    x.SetExtractDir(out.Root());
    x.FileSpec.Add("*.*");
    EXPECT_EQ(x.Extract(), 0);
    // The file the library could not decode is said to be damaged; then the
    // record, once, and nothing after it.
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(), (std::pair<int, std::string>{25116, "Cabinet error 10 (type 0)"}));
    EXPECT_EQ(std::count(said.begin(), said.end(), said.back()), 1);
    EXPECT_TRUE(TreeOf(out.Root()).empty());
    EXPECT_EQ(CabinetFileHandler().OpenCount(), 0);
}

}  // namespace
