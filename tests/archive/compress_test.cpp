// The compressor base class through a small ZIP compressor written here:
// add, refresh, move, delete and read runs, duplicate names, a non-writeable
// archive, cancelling, an exception mid-run. Every archive written passes
// `unzip -t`; after a failed run the old archive and the sources are
// byte-for-byte as they were.
#include "archive/zadcompress.h"
#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadgbls.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

void Put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}
std::uint32_t Get16(const std::uint8_t* p) { return p[0] | p[1] << 8; }
std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }

// A minimal ZIP compressor on the base class: local headers from the base's
// header buffer, the central directory and the ending record at clean-up.
// The old archive's entries come from its central directory.
class TTestZip : public TCompBase {
public:
    TTestZip()
    {
        AllowedMethods |= MethodBit(cmTarGzip);
        DeleteOptions = doFinal;
    }

    std::int32_t GetHeadSize() override { return 30; }
    std::uint8_t* GetHeadPtr() override { return m_local; }

    bool AddFileProc(TStream32* newArchive, int index, TCompressHeaderObj& list) override
    {
        m_entryDate = list.FileLocationData(index).Date;
        return TCustomCClass::AddFileProc(newArchive, index, list);
    }

    void FillHeaderData(std::int64_t packed, std::int64_t unpacked) override
    {
        if (!FailOn.empty() && Filename.find(FailOn) != std::string::npos)
            throw EWriteError("disk trouble");
        const bool aes = EntryEncryption >= 1 && EntryEncryption <= 3;
        const WORD method = aes ? 99 : EntryStored ? 0 : 8;
        const WORD flags = static_cast<WORD>((EntryStored ? 0 : SetDeflateBitFlag(0)) | (EntryEncryption ? 1 : 0));
        Put32(m_local, 0x04034b50);
        Put16(m_local + 4, aes ? 51 : 20);
        Put16(m_local + 6, flags);
        Put16(m_local + 8, method);
        Put32(m_local + 10, static_cast<std::uint32_t>(m_entryDate));  // time at 10, date at 12
        Put32(m_local + 14, Crc32Val);
        Put32(m_local + 18, static_cast<std::uint32_t>(packed));
        Put32(m_local + 22, static_cast<std::uint32_t>(unpacked));
        Put16(m_local + 26, static_cast<std::uint32_t>(Utf8ToOem(Filename).size()));
        Put16(m_local + 28, aes ? AesExtraSize : 0);
    }

    // The central headers become the raw headers of the list. Positions are
    // real ones: a self-extractor's stored offsets leave out its stub. The
    // old archive may be a split set, read from its last part.
    void ArcToList(TStream32* old, TCompressHeaderObj& list) override
    {
        const std::int64_t size = old->Size();
        std::vector<std::uint8_t> end(22);
        old->SetPosition(size - 22);
        old->ReadBuffer(end.data(), 22);
        ASSERT_EQ(Get32(end.data()), 0x06054b50u);
        ASSERT_EQ(Get16(end.data() + 4), Get16(end.data() + 6)) << "directory on the last part";
        std::int64_t pos = Get32(end.data() + 16) + SfxAdjust;
        for (std::uint32_t i = 0; i < Get16(end.data() + 10); ++i) {
            std::vector<std::uint8_t> central(46);
            old->SetPosition(pos);
            old->ReadBuffer(central.data(), 46);
            std::string name(Get16(central.data() + 28), '\0');
            old->ReadBuffer(name.data(), static_cast<std::int64_t>(name.size()));
            TCompressFileInfo info;
            info.Action = eaKeep;
            info.HeaderPos = Get32(central.data() + 42) + SfxAdjust;
            info.Disk = static_cast<WORD>(Get16(central.data() + 34));
            list.AddItem(info, name, 0, central.data(), central.size());
            pos += 46 + static_cast<std::int64_t>(name.size()) + Get16(central.data() + 30) + Get16(central.data() + 32);
        }
    }

    void GetHeaderInfo(const std::vector<std::uint8_t>& raw, TCompressFileInfo& info) override
    {
        if (raw.size() != 46)
            return;
        info.Size = Get32(raw.data() + 24);
        info.Date = static_cast<std::int32_t>(Get16(raw.data() + 14) << 16 | Get16(raw.data() + 12));
        info.Attributes = static_cast<std::int32_t>(Get32(raw.data() + 38));
    }

    // The old archive stands at the record.
    std::int64_t GetTotalRecordSize(TStream32* old, TStream32*, const std::vector<std::uint8_t>& raw) override
    {
        std::uint8_t local[30];
        old->ReadBuffer(local, 30);
        old->Seek(-30, soCurrent);
        return 30 + Get16(local + 26) + Get16(local + 28) + static_cast<std::int64_t>(Get32(raw.data() + 20));
    }

    // A kept entry under a new name: its header with the new name, then
    // its extra field and data unchanged.
    void doPCopy(TStream32* old, TStream32* out, int index, TCompressHeaderObj& list) override
    {
        std::uint8_t local[30];
        old->ReadBuffer(local, 30);
        old->Seek(Get16(local + 26), soCurrent);
        const std::string name = list.StoredName(index);
        Put16(local + 26, static_cast<std::uint32_t>(name.size()));
        out->WriteBuffer(local, 30);
        out->WriteBuffer(name.data(), static_cast<std::int64_t>(name.size()));
        out->CopyFrom(old, Get16(local + 28) + static_cast<std::int64_t>(Get32(local + 18)));
    }

    bool doCleanUp(TStream32* out, TCompressHeaderObj& list) override
    {
        const std::int64_t cdStart = out->Size();
        std::vector<std::uint8_t> cd;
        int count = 0;
        for (int i = 0; i < list.Count(); ++i) {
            const TCompressFileInfo& info = list.FileLocationData(i);
            if (info.Action == eaDrop)
                continue;
            std::uint8_t local[30];
            out->SetPosition(info.HeaderPos);
            out->ReadBuffer(local, 30);
            std::string nameAndExtra(Get16(local + 26) + Get16(local + 28), '\0');
            out->ReadBuffer(nameAndExtra.data(), static_cast<std::int64_t>(nameAndExtra.size()));
            std::uint8_t c[46] = {};
            Put32(c, 0x02014b50);
            Put16(c + 4, 20);
            std::memcpy(c + 6, local + 4, 26);  // version needed .. extra length
            Put32(c + 38, static_cast<std::uint32_t>(info.Attributes));
            Put32(c + 42, static_cast<std::uint32_t>(info.HeaderPos));
            cd.insert(cd.end(), c, c + 46);
            cd.insert(cd.end(), nameAndExtra.begin(), nameAndExtra.end());
            ++count;
        }
        std::uint8_t e[22] = {};
        Put32(e, 0x06054b50);
        Put16(e + 8, count);
        Put16(e + 10, count);
        Put32(e + 12, static_cast<std::uint32_t>(cd.size()));
        Put32(e + 16, static_cast<std::uint32_t>(cdStart));
        cd.insert(cd.end(), e, e + 22);
        out->Seek(0, soEnd);
        out->WriteBuffer(cd.data(), static_cast<std::int64_t>(cd.size()));
        return true;
    }

    bool ReadHeader(TStream32* stream, std::string& name, int) override
    {
        std::uint8_t local[30];
        if (stream->Read(local, 30) != 30 || Get32(local) != 0x04034b50)
            return false;
        name.assign(Get16(local + 26), '\0');
        stream->ReadBuffer(name.data(), static_cast<std::int64_t>(name.size()));
        stream->Seek(Get16(local + 28) + static_cast<std::int64_t>(Get32(local + 18)), soCurrent);
        return true;
    }

    std::string FailOn;

private:
    std::uint8_t m_local[30] = {};
    std::int32_t m_entryDate = 0;
};

std::string Shell(const std::string& command)
{
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int rc = ::pclose(p);
    return rc == 0 ? out : "FAILED(" + std::to_string(rc) + "): " + out;
}

std::map<std::string, std::string> Snapshot(const std::string& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            files[e.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    return files;
}

class Compressor : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 rng(4);
        std::string text, noise(10000, '\0');
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i % 97) + " of the text\n";
        for (char& c : noise)
            c = static_cast<char>(rng());
        dir.Write("src/a.txt", text);
        dir.Write("src/b.bin", noise);
        dir.Write("src/small.txt", "tiny");
        dir.Write("src/packed.zip", text.substr(0, 3000));
        dir.Write("src/sub/d.txt", text.substr(0, 5000));
        archive = dir.Path("out/test.zip");
        fs::create_directories(dir.Path("out"));
    }

    void Prepare(TTestZip& z, TSwitch sw, const std::string& spec = "*.*")
    {
        z.SetArchiveFile(archive);
        z.Switch = sw;
        z.SetRootDir(dir.Path("src/"));
        z.FileSpec.Clear();
        z.FileSpec.Add(dir.Path("src/") + spec);
        z.OnError = [this](TObject*, const std::string&, const std::string& extended, const std::string&, int code) {
            errors.emplace_back(code, extended);
        };
    }

    int Errors(int code) const
    {
        return static_cast<int>(std::count_if(errors.begin(), errors.end(), [&](const auto& e) { return e.first == code; }));
    }

    // The entry names in name order.
    std::string Listing()
    {
        std::istringstream in(Shell("unzip -Z1 " + archive));
        std::vector<std::string> names;
        for (std::string line; std::getline(in, line);)
            names.push_back(line);
        std::sort(names.begin(), names.end());
        std::string out;
        for (const auto& n : names)
            out += n + "\n";
        return out;
    }
    std::string Entry(const std::string& name) { return Shell("unzip -p " + archive + " " + name); }
    void ExpectValid() { EXPECT_EQ(Shell("unzip -tq " + archive).rfind("No errors", 0), 0u) << Shell("unzip -t " + archive); }

    int AddAll()
    {
        TTestZip z;
        Prepare(z, swAdd);
        return z.Compress();
    }

    TempDir dir;
    std::string archive;
    std::vector<std::pair<int, std::string>> errors;
};

}  // namespace

TEST_F(Compressor, AddWritesStoredAndDeflatedEntries)
{
    EXPECT_EQ(AddAll(), 5);
    ExpectValid();
    EXPECT_EQ(Listing(), "a.txt\nb.bin\npacked.zip\nsmall.txt\nsub/d.txt\n");
    EXPECT_EQ(Entry("a.txt"), dir.Read("src/a.txt"));
    EXPECT_EQ(Entry("sub/d.txt"), dir.Read("src/sub/d.txt"));
    const std::string verbose = Shell("unzip -v " + archive);
    // Text deflates; a packed format's extension and a tiny file are stored.
    for (const auto& [name, method] : {std::pair{"a.txt", "Defl:N"}, {"packed.zip", "Stored"}, {"small.txt", "Stored"}}) {
        const std::size_t line = verbose.find(name);
        ASSERT_NE(line, std::string::npos);
        EXPECT_NE(verbose.rfind(method, line), std::string::npos) << name;
        EXPECT_GT(verbose.rfind(method, line), verbose.rfind('\n', line)) << name;
    }
    // A second run finds nothing to do and leaves the archive alone.
    const auto before = dir.Read("out/test.zip");
    EXPECT_EQ(AddAll(), 0);
    EXPECT_EQ(Errors(25268), 1);
    EXPECT_EQ(dir.Read("out/test.zip"), before);
}

TEST_F(Compressor, RefreshReplacesNewerFilesOnly)
{
    // Dates whose time of day encodes above the date (afternoon) once made
    // the comparison depend on the clock: the entries carry them here.
    const std::time_t stored = 1'700'000'000 + 15 * 3600;  // 2023-11-15 13:13:20 UTC
    utimbuf at{stored, stored};
    for (const char* name : {"src/a.txt", "src/small.txt", "src/b.bin", "src/sub/d.txt", "src/packed.zip"})
        ::utime(dir.Path(name).c_str(), &at);
    ASSERT_EQ(AddAll(), 5);
    const std::string oldSmall = dir.Read("src/small.txt");
    dir.Write("src/a.txt", "changed text");
    dir.Write("src/small.txt", "older");
    utimbuf later{stored + 3600, stored + 3600}, earlier{stored - 3600, stored - 3600};
    ::utime(dir.Path("src/a.txt").c_str(), &later);
    ::utime(dir.Path("src/small.txt").c_str(), &earlier);
    dir.Write("src/new.txt", "not in the archive");
    TTestZip z;
    Prepare(z, swRefresh);
    EXPECT_GT(z.Compress(), 0);
    ExpectValid();
    EXPECT_EQ(Entry("a.txt"), "changed text");
    EXPECT_EQ(Entry("small.txt"), oldSmall);
    EXPECT_EQ(Listing().find("new.txt"), std::string::npos);
    EXPECT_EQ(Entry("sub/d.txt"), dir.Read("src/sub/d.txt"));
}

TEST_F(Compressor, ChangedFileIsReplacedOrKeptUnderANewName)
{
    ASSERT_EQ(AddAll(), 5);
    const std::string oldText = dir.Read("src/a.txt");
    dir.Write("src/a.txt", "second version");
    {
        // Replace refused, the duplicate-name event renames the old entry.
        TTestZip z;
        Prepare(z, swAdd, "a.txt");
        int asked = 0;
        z.OnReplaceFile = [&](TObject*, const std::string& name, bool& replace, std::int64_t oldSize,
                              std::int64_t newSize, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
            ++asked;
            EXPECT_EQ(name, "a.txt");
            EXPECT_EQ(oldSize, static_cast<std::int64_t>(oldText.size()));
            EXPECT_EQ(newSize, 14);
            replace = false;
        };
        z.OnDuplicateName = [](TObject*, const std::string&, std::string& newName) { newName = "a-old.txt"; };
        EXPECT_GT(z.Compress(), 0);
        EXPECT_EQ(asked, 1);
    }
    ExpectValid();
    EXPECT_EQ(Entry("a.txt"), "second version");
    EXPECT_EQ(Entry("a-old.txt"), oldText);
    EXPECT_EQ(Entry("b.bin"), dir.Read("src/b.bin"));

    // The same size as the second version: only its date tells it changed.
    dir.Write("src/a.txt", "third version!");
    utimbuf later{std::time(nullptr) + 60, std::time(nullptr) + 60};
    ::utime(dir.Path("src/a.txt").c_str(), &later);
    {
        TTestZip z;
        Prepare(z, swAdd, "a.txt");
        z.OnReplaceFile = [](TObject*, const std::string&, bool& replace, std::int64_t, std::int64_t, std::int32_t,
                             std::int32_t, std::int32_t, std::int32_t) { replace = true; };
        EXPECT_GT(z.Compress(), 0);
    }
    ExpectValid();
    EXPECT_EQ(Entry("a.txt"), "third version!");
    EXPECT_EQ(Listing(), "a-old.txt\na.txt\nb.bin\npacked.zip\nsmall.txt\nsub/d.txt\n");

    // Without the replace event a changed file is reported and the old
    // entry stays.
    dir.Write("src/a.txt", "fourth");
    TTestZip z;
    Prepare(z, swAdd, "a.txt");
    z.Compress();
    EXPECT_EQ(Errors(25270), 1);
    EXPECT_EQ(Entry("a.txt"), "third version!");
}

TEST_F(Compressor, MoveErasesOnlyWhatWasWrittenAfterTheArchiveIsInPlace)
{
    TTestZip z;
    Prepare(z, swMove, "*.txt");
    z.RecurseDirs = false;
    EXPECT_EQ(z.Compress(), 2);
    ExpectValid();
    EXPECT_EQ(Listing(), "a.txt\nsmall.txt\n");
    EXPECT_FALSE(fs::exists(dir.Path("src/a.txt")));
    EXPECT_FALSE(fs::exists(dir.Path("src/small.txt")));
    EXPECT_TRUE(fs::exists(dir.Path("src/b.bin")));
    EXPECT_TRUE(fs::exists(dir.Path("src/sub/d.txt")));
}

TEST_F(Compressor, DeleteDropsMatchingEntries)
{
    ASSERT_EQ(AddAll(), 5);
    std::vector<std::string> dropped;
    {
        TTestZip z;
        Prepare(z, swDelete, "*.bin");
        z.OnDropEntry = [&](TObject*, const std::string& name, int, int) { dropped.push_back(name); };
        EXPECT_GT(z.Compress(), 0);
    }
    EXPECT_EQ(dropped, std::vector<std::string>{"b.bin"});
    ExpectValid();
    EXPECT_EQ(Listing(), "a.txt\npacked.zip\nsmall.txt\nsub/d.txt\n");
    EXPECT_TRUE(fs::exists(dir.Path("src/b.bin")));  // deleting touches the archive only

    // Deleting every entry leaves an empty archive; a new archive has
    // nothing to delete from.
    TTestZip all;
    Prepare(all, swDelete, "*");
    all.Compress();
    EXPECT_EQ(dir.Read("out/test.zip").size(), 22u);
    TTestZip none;
    Prepare(none, swDelete);
    none.SetArchiveFile(dir.Path("out/missing.zip"));
    EXPECT_EQ(none.Compress(), 0);
    EXPECT_EQ(Errors(26859), 1);
}

TEST_F(Compressor, NonWriteableArchive)
{
    ASSERT_EQ(AddAll(), 5);
    ::chmod(archive.c_str(), 0444);
    dir.Write("src/e.txt", "new file");
    const auto before = Snapshot(dir.Root());
    {
        TTestZip z;
        Prepare(z, swAdd);
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_EQ(Errors(25270), 1);
        EXPECT_EQ(errors.back().second, "OnNonWriteableArchive");
    }
    {
        TTestZip z;
        Prepare(z, swAdd);
        z.OnNonWriteableArchive = [](TObject*, const std::string&, bool& writeable) { writeable = false; };
        EXPECT_EQ(z.Compress(), 0);
    }
    EXPECT_EQ(Snapshot(dir.Root()), before);
    TTestZip z;
    Prepare(z, swAdd);
    z.OnNonWriteableArchive = [](TObject*, const std::string&, bool& writeable) { writeable = true; };
    EXPECT_GT(z.Compress(), 0);
    ExpectValid();
    EXPECT_EQ(Entry("e.txt"), "new file");
}

TEST_F(Compressor, FailedOrCancelledRunsLeaveEverythingAsItWas)
{
    ASSERT_EQ(AddAll(), 5);
    dir.Write("src/boom.txt", "this one fails");
    dir.Write("src/c.txt", "another");
    const auto before = Snapshot(dir.Root());
    {
        // An exception mid-run, in a move: no source is erased.
        TTestZip z;
        Prepare(z, swMove);
        z.FailOn = "boom";
        EXPECT_EQ(z.Compress(), 0);
    }
    EXPECT_EQ(Snapshot(dir.Root()), before);
    {
        // Cancelled from the begin event of the second new file.
        TTestZip z;
        Prepare(z, swMove);
        int begun = 0;
        z.OnBegin = [&](TObject*, const std::string&, int, bool&) {
            if (++begun == 2)
                *z.CancelRef = true;
        };
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_EQ(begun, 2);
    }
    EXPECT_EQ(Snapshot(dir.Root()), before);
    {
        // Cancelled as a large file's deflating starts: the stream copy
        // sees the cancel byte and the entry is cut off again.
        dir.Write("src/large.txt", std::string(3 << 20, 'x'));
        const auto withLarge = Snapshot(dir.Root());
        TTestZip z;
        Prepare(z, swMove, "large.txt");
        z.OnBegin = [&](TObject*, const std::string&, int, bool&) { *z.CancelRef = true; };
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_EQ(Snapshot(dir.Root()), withLarge);
    }
    {
        // The finished archive is refused its place: the run fails and no
        // source is erased.
        const auto now = Snapshot(dir.Root());
        TTestZip z;
        Prepare(z, swMove);
        bool asked = false;
        z.OnTmpFileMoveBegin = [&](TObject*, const std::string&, const std::string&, bool& cancel) {
            asked = true;
            cancel = true;
        };
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_TRUE(asked);
        EXPECT_EQ(Snapshot(dir.Root()), now);
    }
    ExpectValid();
}

TEST_F(Compressor, ArchiveNameRulesAndReading)
{
    TTestZip z;
    dir.Write("out/data.tar", "an unrelated file");
    ASSERT_TRUE(z.SetCompressMethod(cmTarGzip));
    z.SetArchiveFile(dir.Path("out/data.tar.GZ"));
    // The name loses ".gz" for the TAR step; the file of that name stays.
    EXPECT_EQ(z.ArchiveFile(), dir.Path("out/data.tar"));
    EXPECT_EQ(z.ArcType, atTarGZip);
    EXPECT_EQ(dir.Read("out/data.tar"), "an unrelated file");

    ASSERT_TRUE(z.SetCompressMethod(cmDeflate));
    EXPECT_FALSE(z.SetCompressMethod(cmLzx));
    EXPECT_EQ(z.CompressMethodSetting(), cmDeflate);
    z.SetArchiveFile(dir.Path("out/noext"));
    EXPECT_EQ(z.ArchiveFile(), dir.Path("out/noext.zip"));
    z.SetDefaultExt("LZH5");
    EXPECT_EQ(z.DefaultExt(), ".lzh");

    const WORD bits[] = {6, 4, 0, 2};
    for (TDeflateType t : {dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX}) {
        z.DeflateType = t;
        EXPECT_EQ(z.SetDeflateBitFlag(0x0801), 0x0801 | bits[t]);
    }

    ASSERT_EQ(AddAll(), 5);
    TTestZip reader;
    Prepare(reader, swRead);
    std::vector<std::int64_t> offsets;
    reader.OnRead = [&](TObject*, std::int64_t offset, int) { offsets.push_back(offset); };
    reader.Compress();
    EXPECT_EQ(offsets.size(), 5u);

    TTestZip missingFolder;
    Prepare(missingFolder, swAdd);
    missingFolder.SetArchiveFile(dir.Path("nowhere/x.zip"));
    EXPECT_EQ(missingFolder.Compress(), 0);
    EXPECT_EQ(Errors(25158), 1);
}

TEST_F(Compressor, StoredNamesFollowTheirSetting)
{
    TTestZip z;
    z.SetRootDir("/home/user/docs/");
    const struct {
        TStoredDirNames mode;
        const char* stored;
    } cases[] = {{sdNone, "b.txt"},
                 {sdAbsolute, "/home/user/docs/a/b.txt"},
                 {sdAbsoluteNoRoot, "home/user/docs/a/b.txt"},
                 {sdRelative, "a/b.txt"},
                 {sdRelativeStoreStart, "docs/a/b.txt"}};
    for (const auto& c : cases) {
        z.StoredDirNames = c.mode;
        EXPECT_EQ(z.FormatFileName("/home/user/docs/a/b.txt", z.RootDir()), c.stored) << c.mode;
    }
    z.StoredDirNames = sdExplorer_UserDefineDefaultDir;
    z.SetArchiveFile(archive);
    z.FileSpec.Add(dir.Path("src/*.*"));
    std::vector<int> codes;
    z.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) { codes.push_back(code); };
    EXPECT_EQ(z.Compress(), 0);
    EXPECT_EQ(codes, std::vector<int>{25271});
}

TEST_F(Compressor, EncryptedEntriesOpenWithThePasswordOnly)
{
    dir.Write("src/empty.txt", "");
    dir.Write("src/short.txt", std::string(200, 'a'));  // small, deflated in memory
    const struct {
        TEncryptionMethod method;
        const char* name;
    } cases[] = {{emZIP_v2, "traditional"}, {emAES2_128, "AES-128"}, {emAES2_192, "AES-192"}, {emAES2_256, "AES-256"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(archive);
        TTestZip z;
        Prepare(z, swAdd);
        z.Password = "secret pw";
        z.EncryptionMethod = c.method;
        ASSERT_EQ(z.Compress(), 7);
        // Every kind of entry: deflated text, stored by extension, small
        // files deflated and stored, a large incompressible one, an empty one.
        EXPECT_NE(Shell("7z t -p'secret pw' " + archive).find("Everything is Ok"), std::string::npos)
            << Shell("7z t -p'secret pw' " + archive);
        EXPECT_EQ(Shell("7z t -pwrong " + archive).rfind("FAILED", 0), 0u);
        for (const char* name : {"a.txt", "b.bin", "small.txt", "short.txt", "packed.zip", "sub/d.txt", "empty.txt"})
            EXPECT_EQ(Shell("7z x -so -p'secret pw' " + archive + " " + name), dir.Read(std::string("src/") + name)) << name;
        if (c.method == emZIP_v2) {
            EXPECT_EQ(Shell("unzip -tq -P 'secret pw' " + archive).rfind("No errors", 0), 0u)
                << Shell("unzip -t -P 'secret pw' " + archive);
            EXPECT_EQ(Shell("unzip -tq -P wrong " + archive).rfind("FAILED", 0), 0u);
        }
        const std::string technical = Shell("7z l -slt " + archive);
        EXPECT_NE(technical.find(c.method == emZIP_v2 ? "ZipCrypto" : "AES-"), std::string::npos);
        // An empty file has nothing to hide: it is the one entry without
        // (zipinfo writes the text/binary letter in capitals for an
        // encrypted entry).
        std::istringstream info(Shell("unzip -Z " + archive));
        int coded = 0;
        for (std::string line; std::getline(info, line);) {
            if (line.rfind("-rw", 0) != 0)
                continue;
            std::istringstream fields(line);
            std::string mode, version, system, size, flags;
            fields >> mode >> version >> system >> size >> flags;
            const bool isEmpty = line.find("empty.txt") != std::string::npos;
            EXPECT_EQ(flags[0], isEmpty ? 'b' : 'B') << line;
            coded += flags[0] == 'B';
        }
        EXPECT_EQ(coded, 6);
    }
}

TEST_F(Compressor, TwoAesArchivesOfOnePasswordHaveTheirOwnSalts)
{
    // One file, one password, two archives: the salts differ (so do the
    // keys), and each archive opens with the password.
    std::vector<std::string> salts;
    for (const char* name : {"one.zip", "two.zip"}) {
        archive = dir.Path(std::string("out/") + name);
        TTestZip z;
        Prepare(z, swAdd, "small.txt");
        z.Password = "secret pw";
        z.EncryptionMethod = emAES2_256;
        ASSERT_EQ(z.Compress(), 1);
        const std::string bytes = dir.Read(std::string("out/") + name);
        ASSERT_GT(bytes.size(), 30u);
        const auto u16 = [&](size_t at) { return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8; };
        const size_t data = 30 + u16(26) + u16(28);
        ASSERT_GT(bytes.size(), data + 16);
        salts.push_back(bytes.substr(data, 16));  // AES-256: a 16-byte salt
        if (Shell("command -v 7z").rfind("FAILED", 0) != 0) {
            EXPECT_NE(Shell("7z t -p'secret pw' " + archive).find("Everything is Ok"), std::string::npos);
        }
    }
    EXPECT_NE(salts[0], salts[1]);
}

TEST_F(Compressor, AnAesPasswordTooLongForTheKeyIsRefused)
{
    TTestZip z;
    Prepare(z, swAdd);
    z.Password = std::string(129, 'p');
    z.EncryptionMethod = emAES2_256;
    EXPECT_EQ(z.Compress(), 0);
    EXPECT_EQ(Errors(26517), 1);
    EXPECT_FALSE(fs::exists(archive));
}

TEST_F(Compressor, CompressWriteProcCodesZipDataOnly)
{
    const std::string plain = "some entry data";
    std::string expected = plain;
    seed_keys("pw");
    zadEncodeBuf(false, expected.data(), expected.size());
    const struct {
        TArcType type;
        TDataType kind;
        bool encrypt;
        bool coded;
    } cases[] = {{atZip, dtData, true, true},     {atBhExe, dtData, true, true}, {atZip, dtHeader, true, false},
                 {atZip, dtData, false, false},  {atTar, dtData, true, false}};
    for (const auto& c : cases) {
        TTestZip z;
        z.ArcType = c.type;
        TMemoryStream32 out;
        TStream32* to = &out;
        std::string buf = plain;
        seed_keys("pw");
        EXPECT_EQ(z.CompressWriteProc(to, buf.data(), c.encrypt, 32, static_cast<std::int32_t>(buf.size()), c.kind), 15);
        EXPECT_EQ(std::string(static_cast<const char*>(out.Memory()), 15), c.coded ? expected : plain) << c.type;
    }
}

namespace {

// A self-extractor's stub: an executable header and code the detection
// does not know, so the ZIP behind it is found from its end.
std::string Stub()
{
    std::string stub(1000, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    for (std::size_t i = 64; i < stub.size(); ++i)
        stub[i] = static_cast<char>(i * 7);
    return stub;
}

}  // namespace

TEST_F(Compressor, SelfExtractorKeepsItsStub)
{
    ASSERT_EQ(AddAll(), 5);
    // As a stub is put in front of an archive: the stored offsets leave it out.
    const std::string sfx = dir.Path("out/setup.exe");
    dir.Write("out/setup.exe", Stub() + dir.Read("out/test.zip"));
    archive = sfx;
    dir.Write("src/new.txt", "added to the self-extractor");
    {
        TTestZip z;
        Prepare(z, swAdd, "new.txt");
        EXPECT_EQ(z.ArcType, atZipExe);
        EXPECT_EQ(z.Compress(), 6);
    }
    EXPECT_EQ(dir.Read("out/setup.exe").substr(0, 1000), Stub());
    ExpectValid();
    EXPECT_EQ(Entry("new.txt"), "added to the self-extractor");
    EXPECT_EQ(Entry("b.bin"), dir.Read("src/b.bin"));
    // A second run reads the offsets the first one wrote (they count the stub).
    {
        TTestZip z;
        Prepare(z, swDelete, "a.txt");
        EXPECT_GT(z.Compress(), 0);
    }
    EXPECT_EQ(dir.Read("out/setup.exe").substr(0, 1000), Stub());
    ExpectValid();
    EXPECT_EQ(Listing(), "b.bin\nnew.txt\npacked.zip\nsmall.txt\nsub/d.txt\n");
    EXPECT_EQ(Entry("sub/d.txt"), dir.Read("src/sub/d.txt"));
}

TEST_F(Compressor, SplitSourceIsCopiedPartByPart)
{
    // Incompressible data in 64 KB parts: entries run over part seams.
    std::mt19937 rng(9);
    std::string big(150000, '\0');
    for (char& c : big)
        c = static_cast<char>(rng());
    dir.Write("set/big.bin", big);
    dir.Write("set/a.txt", dir.Read("src/a.txt"));
    dir.Write("set/b.bin", dir.Read("src/b.bin"));
    ASSERT_EQ(Shell("cd " + dir.Path("set") + " && zip -q -s 64k " + dir.Path("out/split.zip") + " big.bin a.txt b.bin"), "");
    ASSERT_TRUE(fs::exists(dir.Path("out/split.z02")));
    archive = dir.Path("out/split.zip");
    dir.Write("src/new.txt", "one more");
    const auto before = Snapshot(dir.Root());

    // A part refused: the run ends and nothing changes.
    {
        TTestZip z;
        Prepare(z, swAdd, "new.txt");
        ASSERT_EQ(z.ArcType, atZipMV);
        z.OnNextVolume = [](TObject*, std::string&, int, bool, bool& cancel) { cancel = true; };
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_EQ(Snapshot(dir.Root()), before);
    }
    // Without the part event nothing can be copied either.
    {
        TTestZip z;
        Prepare(z, swAdd, "new.txt");
        EXPECT_EQ(z.Compress(), 0);
        EXPECT_EQ(Errors(25270), 1);
        EXPECT_EQ(Snapshot(dir.Root()), before);
    }
    // Each part is asked for with its number after the one before it; the
    // archive's size is no part's while the part is being asked for.
    std::map<std::string, int> asked;
    {
        TTestZip z;
        Prepare(z, swAdd, "new.txt");
        z.OnNextVolume = [&](TObject*, std::string& name, int id, bool exists, bool& cancel) {
            asked[ExtractFileName(name)] = id;
            EXPECT_EQ(z.ArchiveSize, 0);
            cancel = !exists;
        };
        EXPECT_EQ(z.Compress(), 4);
    }
    EXPECT_EQ(asked, (std::map<std::string, int>{{"split.z01", 2}, {"split.z02", 3}, {"split.zip", 4}}));
    // One archive now, whole in itself.
    ExpectValid();
    EXPECT_EQ(Entry("big.bin"), big);
    EXPECT_EQ(Entry("a.txt"), dir.Read("src/a.txt"));
    EXPECT_EQ(Entry("b.bin"), dir.Read("src/b.bin"));
    EXPECT_EQ(Entry("new.txt"), "one more");
}

namespace {

// A TAR writer on the base class: a ustar header per file, the data padded
// to 512 bytes, two empty blocks at the end.
class TTestTar : public TCompBase {
public:
    TTestTar() { AllowedMethods |= MethodBit(cmTarGzip); }
    std::int32_t GetHeadSize() override { return 512; }
    std::uint8_t* GetHeadPtr() override { return m_header; }

    bool AddFileProc(TStream32* out, int index, TCompressHeaderObj& list) override
    {
        if (Cancel())
            return false;
        const std::string data = [&] {
            std::ifstream in(list.Name(index), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }();
        std::memset(m_header, 0, 512);
        std::snprintf(reinterpret_cast<char*>(m_header), 100, "%s", Filename.c_str());
        std::snprintf(reinterpret_cast<char*>(m_header) + 100, 8, "%07o", 0644);
        std::snprintf(reinterpret_cast<char*>(m_header) + 108, 8, "%07o", 0);
        std::snprintf(reinterpret_cast<char*>(m_header) + 116, 8, "%07o", 0);
        std::snprintf(reinterpret_cast<char*>(m_header) + 124, 12, "%011o", static_cast<unsigned>(data.size()));
        std::snprintf(reinterpret_cast<char*>(m_header) + 136, 12, "%011o", 0u);
        m_header[156] = '0';
        std::memcpy(m_header + 257, "ustar\00000", 8);
        std::memset(m_header + 148, ' ', 8);
        unsigned sum = 0;
        for (std::uint8_t b : m_header)
            sum += b;
        std::snprintf(reinterpret_cast<char*>(m_header) + 148, 8, "%06o", sum);
        out->Seek(0, soEnd);
        out->WriteBuffer(m_header, 512);
        out->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
        const std::string pad((512 - data.size() % 512) % 512, '\0');
        out->WriteBuffer(pad.data(), static_cast<std::int64_t>(pad.size()));
        return true;
    }

    bool doCleanUp(TStream32* out, TCompressHeaderObj&) override
    {
        const std::string end(1024, '\0');
        out->Seek(0, soEnd);
        out->WriteBuffer(end.data(), 1024);
        return true;
    }

private:
    std::uint8_t m_header[512] = {};
};

}  // namespace

TEST_F(Compressor, TarThenGzip)
{
    // A file that has the TAR's name is someone else's.
    dir.Write("out/data.tar", "an unrelated file");
    const std::string gz = dir.Path("out/data.tar.gz");
    for (const auto& [type, where] : {std::pair{dtDeflateN, cmTempFile}, {dtDeflateS, cmTempMem}}) {
        SCOPED_TRACE(type);
        TTestTar t;
        ASSERT_TRUE(t.SetCompressMethod(cmTarGzip));
        t.DeflateType = type;
        t.CompressionMethod = where;
        t.SetArchiveFile(gz);
        t.SetRootDir(dir.Path("src/"));
        t.FileSpec.Add(dir.Path("src/*.*"));
        EXPECT_EQ(t.Compress(), 5);
        EXPECT_EQ(t.ArchiveFile(), gz);
        EXPECT_EQ(Shell("gzip -t " + gz), "");
        std::istringstream in(Shell("tar -tzf " + gz));
        std::vector<std::string> names;
        for (std::string line; std::getline(in, line);)
            names.push_back(line);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.bin", "packed.zip", "small.txt", "sub/d.txt"}));
        EXPECT_EQ(Shell("tar -xzOf " + gz + " sub/d.txt"), dir.Read("src/sub/d.txt"));
        // The member carries the TAR's name.
        EXPECT_EQ(dir.Read("out/data.tar.gz").substr(3, 1), "\x08");
        EXPECT_EQ(dir.Read("out/data.tar.gz").substr(10, 9), std::string("data.tar", 9));
        EXPECT_EQ(dir.Read("out/data.tar"), "an unrelated file");
    }
    // A cancelled run leaves the last archive and the TAR's namesake.
    const auto before = Snapshot(dir.Root());
    TTestTar t;
    ASSERT_TRUE(t.SetCompressMethod(cmTarGzip));
    t.SetArchiveFile(gz);
    t.SetRootDir(dir.Path("src/"));
    t.FileSpec.Add(dir.Path("src/*.*"));
    int begun = 0;
    t.OnBegin = [&](TObject*, const std::string&, int, bool&) {
        if (++begun == 3)
            *t.CancelRef = true;
    };
    EXPECT_EQ(t.Compress(), 0);
    EXPECT_EQ(Snapshot(dir.Root()), before);
}

TEST_F(Compressor, LhaArchivesEndTheirHeaderChain)
{
    // The byte 0 that ends an LHA header chain follows the last entry; the
    // closing structures come after it.
    TTestZip z;
    Prepare(z, swAdd, "small.txt");
    z.ArcType = atLzh;
    ASSERT_EQ(z.Compress(), 1);
    const std::string bytes = dir.Read("out/test.zip");
    const std::size_t cd = Get32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + bytes.size() - 6);
    ASSERT_EQ(cd, 30 + 9 + 4 + 1u);
    EXPECT_EQ(bytes[cd - 1], '\0');
}

TEST_F(Compressor, TheBaseLeavesTheFormatToAConcreteCompressor)
{
    std::vector<int> codes;
    TCompBase base;
    base.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) { codes.push_back(code); };
    EXPECT_EQ(base.GetHeadSize(), 0);
    EXPECT_EQ(base.GetHeadPtr(), nullptr);
    EXPECT_EQ(base.CommentObjInit(), 0);
    base.SetFileComment(0, "note", 4);
    base.CommentObjDone(true);
    EXPECT_FALSE(base.CommentsChanged());
    EXPECT_EQ(codes, std::vector<int>(5, 25244));
    // Without a header the base adds nothing and writes no archive.
    base.SetArchiveFile(archive);
    base.SetRootDir(dir.Path("src/"));
    base.FileSpec.Add(dir.Path("src/*.*"));
    EXPECT_EQ(base.Compress(), 0);
    EXPECT_FALSE(fs::exists(archive));

    // The elapsed time of a run that writes is reported once.
    TTestZip z;
    Prepare(z, swAdd);
    int timed = 0;
    z.OnElapsedTime = [&](TObject*, float seconds) {
        ++timed;
        EXPECT_GE(seconds, 0.0f);
    };
    EXPECT_EQ(z.Compress(), 5);
    EXPECT_EQ(timed, 1);
}
