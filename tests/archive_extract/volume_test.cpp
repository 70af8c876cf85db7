// Volumes: the naming rules of RAR, ARJ, ZIP and text sets; asking for a
// volume (GetNextVolume) and its limits; the check that tells one disk of
// a spanned set from another; and whole sets: the split set of
// scripts/make-zip-legacy-fixtures.sh extracted as 7z extracts it, listed
// from its .zip part, spanned over "disks" (folders behind a drive that
// the test's disk answers label PKBACK# 00N), refused, cancelled and lying
// about its sizes.
#include "../archive/zip_writer.h"
#include "archive/zadvirov.h"
#include "archive/zadvolume.h"
#include "extract_support.h"

#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Errors = std::vector<std::pair<int, std::string>>;

const std::vector<std::string> kSplitParts = {"split.z01", "split.z02", "split.z03", "split.zip"};

// The split set copied into a folder of its own.
void CopySplitSet(const TempDir& dir)
{
    for (const std::string& p : kSplitParts)
        std::filesystem::copy_file(Fixture(p), dir.Path(p));
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The split set in a folder of its own, with an extractor set to extract
// all of it into another.
struct SplitRun {
    TempDir set, out;
    TUnZip z;
    ExtractLog log;
    SplitRun()
    {
        CopySplitSet(set);
        Attach(z, log);
        Prepare(z, set.Path("split.zip"), out.Root());
    }
    std::map<std::string, std::string> Files() const { return TreeOf(out.Root()); }
};

// What 7z extracts from the split set.
std::map<std::string, std::string> SevenZipOfSplitSet()
{
    TempDir ref;
    EXPECT_TRUE(Reference7z(Fixture("split.zip"), ref.Root()));
    return TreeOf(ref.Root());
}

// Patches the stored sizes of a central entry of the .zip part.
void PatchCentralSizes(const std::string& path, const std::string& name, std::uint32_t size)
{
    std::string bytes = Slurp(path);
    const size_t at = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(at, std::string::npos);
    const size_t named = bytes.find(name, at);
    ASSERT_NE(named, std::string::npos);
    for (size_t field : {named - 46 + 20, named - 46 + 24})
        zipwriter::Put32(bytes, field, size);
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(Volumes, NumberedSetNames)
{
    TZipCommon c;
    c.ArcType = atRar;
    const struct {
        const char* name;
        int number;
        const char* next;
    } rar[] = {
        {"arc.part1.rar", 0, "arc.part2.rar"},     {"arc.part001.rar", 9, "arc.part011.rar"},
        {"arc.part09.rar", 8, "arc.part10.rar"},   {"arc.part9.rar", 8, "arc.part10.rar"},
        {"arc.part0009.rar", 8, "arc.part0010.rar"}, {"/data/x.PART1.rar", 0, "/data/x.PART2.rar"},
        {"", 0, ""},                               {"arc.part1.rar", -1, ""},
    };
    for (const auto& r : rar)
        EXPECT_EQ(c.GetNextVolumeName(r.name, r.number), r.next) << r.name << " " << r.number;
    // arc.rar: the letter steps every hundred volumes.
    c.VolumeLetter = 'q';
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.rar", 0), "/d/arc.r00");
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.rar", 1), "/d/arc.r01");
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.rar", 99), "/d/arc.r99");
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.rar", 100), "/d/arc.s00");

    c.ArcType = atArj;
    c.VolumeLetter = 'a';
    EXPECT_EQ(c.GetNextVolumeName("arc.arj", 1), "arc.a01");
    EXPECT_EQ(c.GetNextVolumeName("arc.arj", 10), "arc.a10");
    EXPECT_EQ(c.GetNextVolumeName("arc.arj", 100), "arc.100");

    // A split ZIP: .z01, .z02, then the .zip itself as the last part.
    int number = 0;
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.zip", number, 3, true), "/d/arc.z01");
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.zip", number, 3, true), "/d/arc.z02");
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.zip", number, 3, true), "/d/arc.zip");
    EXPECT_EQ(number, 3);
    number = 99;
    EXPECT_EQ(c.GetNextVolumeName("/d/arc.zip", number, 200, true), "/d/arc.z100");
}

TEST(Volumes, TextSetNamesStayInTheirFolder)
{
    const struct {
        const char* name;
        int number;
        TNextVolumeName mode;
        bool longNames;
        const char* next;
    } cases[] = {
        {"name.uue", 5, nvChangeExt, false, "name.uu5"},
        {"name.uue", 12, nvChangeExt, false, "name.u12"},
        {"name.uue", 123, nvChangeExt, false, "name.123"},
        {"name", 5, nvChangeExt, false, "name5"},
        {"name.uue", 5, nvChangeFilename, false, "nam5.uue"},
        {"name.uue", 12, nvChangeFilename, false, "na12.uue"},
        {"name.uue", 5, nvChangeFilename, true, "name5.uue"},
        // Long names shorten the file name only, never the folder.
        {"/home/u/verylongname.uue", 12, nvChangeFilename, true, "/home/u/verylo12.uue"},
        {"/a.b/name", 5, nvChangeFilename, false, ""},
        {"name.uue", 1000, nvChangeExt, false, ""},
        {"name.uue", -1, nvChangeFilename, false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetNextVolName(c.name, c.number, c.mode, c.longNames), c.next) << c.name << " " << c.number;

    // Names read from archive headers keep only their file-name part.
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", "../x.z01"), "/arcs/x.z01");
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", "..\\..\\x.z01"), "/arcs/x.z01");
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", "C:x.z01"), "/arcs/x.z01");
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", "/etc/passwd"), "/arcs/passwd");
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", ".."), "");
    EXPECT_EQ(HeaderVolumeName("/arcs/set.zip", "dir/"), "");
}

TEST(Volumes, AskingForAVolume)
{
    TempDir dir;
    dir.Write("set.r00", "r00");
    dir.Write("set.r01", "r01");
    dir.Write("set.rar", "rar");
    TZipCommon c;
    c.SetArchiveFile(dir.Path("set.rar"));
    std::vector<std::pair<int, std::string>> errors;
    c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string& vol, int code) {
        errors.emplace_back(code, vol);
    };
    std::vector<std::string> asked;
    std::string answer;
    bool cancel = false;
    c.OnNextVolume = [&](TObject*, std::string& name, int, bool, bool& cancelOut) {
        asked.push_back(name);
        if (!answer.empty())
            name = answer;
        cancelOut = cancel;
    };
    int counter = 0;
    c.VolumeNumberRef = &counter;
    c.EndOffset = 1234;

    // 999 is asked for; 1000 is refused without asking.
    std::string name = dir.Path("set.r00");
    EXPECT_TRUE(c.GetNextVolume(name, 999));
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(counter, 1);
    EXPECT_FALSE(c.GetNextVolume(name, 1000));
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(errors.back().first, 25251);
    EXPECT_EQ(c.NextHeaderOffset, 1234);
    // An empty name.
    name.clear();
    EXPECT_FALSE(c.GetNextVolume(name, 1));
    EXPECT_EQ(errors.back().first, 25245);
    // A handler that names a missing file is asked again, until it names one that is there.
    asked.clear();
    name = dir.Path("set.r05");
    answer = dir.Path("missing.r05");
    c.OnNextVolume = [&, first = true](TObject*, std::string& n, int, bool exists, bool&) mutable {
        asked.push_back(n);
        EXPECT_FALSE(exists);
        n = first ? dir.Path("missing.r05") : dir.Path("set.r01");
        first = false;
    };
    EXPECT_TRUE(c.GetNextVolume(name, 5));
    EXPECT_EQ(asked, (std::vector<std::string>{dir.Path("set.r05"), dir.Path("missing.r05")}));
    EXPECT_EQ(name, dir.Path("set.r01"));
    // A name from an archive header stays in the archive's folder.
    asked.clear();
    c.OnNextVolume = [&](TObject*, std::string& n, int, bool, bool&) { asked.push_back(n); };
    name = "../../set.r00";
    EXPECT_TRUE(c.GetNextVolume(name, 2, true));
    EXPECT_EQ(asked, (std::vector<std::string>{dir.Path("set.r00")}));
    // Cancel cancels the component.
    c.OnNextVolume = [&](TObject*, std::string&, int, bool, bool& cancelOut) { cancelOut = true; };
    name = dir.Path("set.r00");
    EXPECT_FALSE(c.GetNextVolume(name, 3));
    EXPECT_TRUE(c.Cancel());
    EXPECT_EQ(errors.back().first, 25443);
    c.SetCancel(false);
    // Without a handler: a volume that is there is taken, a missing one
    // answers false, so every volume walk stops there.
    c.OnNextVolume = nullptr;
    name = dir.Path("set.r01");
    EXPECT_TRUE(c.GetNextVolume(name, 4));
    name = dir.Path("set.r09");
    c.NextHeaderOffset = 0;
    EXPECT_FALSE(c.GetNextVolume(name, 5));
    EXPECT_EQ(errors.back(), (std::pair<int, std::string>{25270, dir.Path("set.r09")}));
    EXPECT_EQ(c.NextHeaderOffset, 1234);
}

TEST(Volumes, TheListerWalksToTheNextVolume)
{
    TempDir dir;
    dir.Write("set.arj", "first");
    dir.Write("set.a01", "second volume");
    TZipCommon c;
    c.ArcType = atArj;
    c.VolumeLetter = 'a';
    int counter = 1;
    c.VolumeNumberRef = &counter;
    TStream32* stream = nullptr;
    std::string name = dir.Path("set.arj");
    EXPECT_FALSE(c.doGetNextVolume(stream, name));  // only with a handler
    c.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
    EXPECT_TRUE(c.doGetNextVolume(stream, name));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(name, dir.Path("set.a01"));
    EXPECT_EQ(c.ArchiveSize, 13);
    EXPECT_EQ(counter, 2);
    delete stream;
}

TEST(Volumes, TheDiskCheck)
{
    // A disk holds arc.zip with a local header at 100; the drive's label
    // is the test's to say.
    TempDir dir;
    std::string bytes(200, 'x');
    zipwriter::Put32(bytes, 100, 0x04034B50);
    dir.Write("arc.zip", bytes);
    TUnZip z;
    z.SetArchiveFile(dir.Path("arc.zip"));
    std::string label;
    z.DiskManager.VolumeQueryOverride = [&](const std::string&, std::string& l, std::uint32_t&) {
        l = label;
        return true;
    };
    z.DiskSpann.Init(&z);
    const struct {
        TArcType type;
        const char* label;
        WORD disk;
        std::int64_t offset;
        bool passes;
    } cases[] = {
        {atZipDS, "PKBACK# 003", 3, 100, true},
        // A record at the offset on a disk labelled for another number is
        // not the disk wanted.
        {atZipDS, "PKBACK# 003", 2, 100, false},
        {atZipDS, "PKBACK# 003", 3, 101, false},
        // Beyond the file's end only the label can tell.
        {atZipDS, "PKBACK# 003", 3, 5000, true},
        {atZipDS, "PKBACK# 003", 4, 5000, false},
        {atZipDS, "BACKUP", 3, 100, true},
        {atZipDS, "BACKUP", 3, 5000, false},
        {atZipMV, "", 2, 5000, true},
        {atZipMV, "", 2, 99, false},
    };
    for (const auto& c : cases) {
        z.ArcType = c.type;
        label = c.label;
        z.DiskSpann.DiskNumber = c.disk;
        EXPECT_EQ(z.DiskSpann.CheckDisk(c.offset), c.passes) << c.label << " disk " << c.disk << " at " << c.offset;
    }
}

TEST(SplitZip, ExtractsLikeSevenZipAskingForEachPart)
{
    SplitRun r;
    EXPECT_EQ(r.z.ArcType, atZipMV);
    std::vector<std::pair<std::string, int>> asked;
    r.z.OnNextVolume = [&](TObject*, std::string& name, int id, bool exists, bool&) {
        EXPECT_TRUE(exists);
        asked.emplace_back(ExtractFileName(name), id);
    };
    EXPECT_EQ(r.z.Extract(), 4);
    EXPECT_TRUE(r.log.errors.empty()) << r.log.errors.front().first << " " << r.log.errors.front().second;
    EXPECT_EQ(r.log.Failed(), 0);
    // noise.bin starts on the first part and goes on over the second into
    // the third; more.bin goes on into the .zip part.
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, int>>{{"split.z01", 1}, {"split.z02", 2}, {"split.z03", 3}, {"split.zip", 4}}));
    EXPECT_TRUE(r.Files() == SevenZipOfSplitSet());
}

TEST(SplitZip, RefusedOrMissingPartsEndTheRunAndLeaveNothingPartial)
{
    {
        // Without OnNextVolume no part is opened: reported, nothing written.
        SplitRun r;
        EXPECT_EQ(r.z.Extract(), 0);
        EXPECT_EQ(r.log.errors.front().first, 25270);
        EXPECT_EQ(r.log.extended.front(), "OnNextVolume");
        EXPECT_TRUE(r.Files().empty());
    }
    {
        // Cancelled when noise.bin goes on into the second part: the entry
        // ends with CRC_PASS false, its partial file is removed and the run
        // ends there.
        SplitRun r;
        r.z.OnNextVolume = [](TObject*, std::string& name, int, bool, bool& cancel) {
            cancel = ExtractFileName(name) == "split.z02";
        };
        EXPECT_EQ(r.z.Extract(), 0);
        ASSERT_EQ(r.log.ended.size(), 1u);
        EXPECT_FALSE(r.log.ended[0].second);
        EXPECT_EQ(r.log.ErrorsWith(25443), 1);
        EXPECT_TRUE(r.Files().empty());
    }
    {
        // A part that is elsewhere is where the user's handler says it is.
        SplitRun r;
        TempDir elsewhere;
        std::filesystem::rename(r.set.Path("split.z02"), elsewhere.Path("moved.z02"));
        r.z.OnNextVolume = [&](TObject*, std::string& name, int, bool exists, bool&) {
            if (!exists)
                name = elsewhere.Path("moved.z02");
        };
        EXPECT_EQ(r.z.Extract(), 4);
        EXPECT_TRUE(r.Files() == SevenZipOfSplitSet());
    }
}

TEST(SplitZip, TheDriveIsExaminedBeforeAnyPartIsRead)
{
    for (const bool readable : {false, true}) {
        SplitRun r;
        r.z.DiskManager.VolumeQueryOverride = [readable](const std::string&, std::string& label, std::uint32_t&) {
            label = "SETDISK";
            return readable;
        };
        int asked = 0;
        r.z.OnNextVolume = [&](TObject*, std::string&, int, bool, bool&) { ++asked; };
        if (readable) {
            EXPECT_EQ(r.z.Extract(), 4);
            EXPECT_EQ(r.z.DiskManager.VolumeLabel, "SETDISK");
            continue;
        }
        // A drive that cannot be read is said to be so and nothing is asked
        // for or written.
        EXPECT_EQ(r.z.Extract(), 0);
        EXPECT_EQ(r.log.ErrorsWith(25170), 1);
        EXPECT_EQ(asked, 0);
        EXPECT_TRUE(r.Files().empty());
    }
}

TEST(SplitZip, DeclaredSizesHoldAcrossParts)
{
    // noise.bin claims 220,000 bytes: its data would run over the headers
    // on the third part. Then 10 MB: past the end of the whole set. Either
    // fails alone; the other entries extract.
    for (const std::uint32_t claim : {220000u, 10000000u}) {
        SCOPED_TRACE(claim);
        SplitRun r;
        PatchCentralSizes(r.set.Path("split.zip"), "noise.bin", claim);
        r.z.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
        EXPECT_EQ(r.z.Extract(), 3);
        ASSERT_EQ(r.log.errors.size(), 1u);
        EXPECT_EQ(r.log.errors[0].first, claim == 220000u ? 25252 : 25193);
        EXPECT_EQ(r.log.extended[0], claim == 220000u ? "overlaps docs/" : "declares 10000000 packed bytes, the set holds 228233 after its header");
        auto expected = SevenZipOfSplitSet();
        expected.erase("noise.bin");
        EXPECT_TRUE(r.Files() == expected);
    }
}

TEST(SplitZip, TheZipPartListsTheWholeSet)
{
    TVirOV v;
    v.FileSpec.Add("*.*");
    std::map<std::string, std::string> parts;
    v.OnRead = [&](TObject*, std::int64_t, int) { parts[v.Filename] = ExtractFileName(v.VolumeName); };
    v.SetArchiveFile(Fixture("split.zip"));
    EXPECT_EQ(v.ArcType, atZipMV);
    ASSERT_TRUE(v.Activate());
    EXPECT_EQ(parts, (std::map<std::string, std::string>{{"noise.bin", "split.z01"},
                                                          {"docs/more.bin", "split.z03"},
                                                          {"docs/lines.txt", "split.zip"},
                                                          {"small.txt", "split.zip"}}));
}

namespace {

// A drive that holds one of several disks: <root>/drive is a link to the
// folder of the disk inserted, and the drive answers the disk's label.
struct SpannedDrive {
    TempDir root;
    int inserted = 0;
    std::vector<std::string> asked;

    explicit SpannedDrive(int first)
    {
        for (size_t i = 0; i < kSplitParts.size(); ++i) {
            const std::string folder = "disk" + std::to_string(i + 1);
            std::filesystem::create_directories(root.Path(folder));
            std::filesystem::copy_file(Fixture(kSplitParts[i]), root.Path(folder + "/arc.zip"));
        }
        Insert(first);
    }
    void Insert(int disk)
    {
        std::filesystem::remove(root.Path("drive"));
        std::filesystem::create_directory_symlink(root.Path("disk" + std::to_string(disk)), root.Path("drive"));
        inserted = disk;
    }
    std::string Label() const { return Format("PKBACK# %.3d", inserted); }
    std::string Archive() const { return root.Path("drive/arc.zip"); }

    void Attach(TZipCommon& z, int last)
    {
        z.DriveQuery = [this](const std::string&, TzadDriveType& type, std::string& label) {
            type = dtRemovable;
            label = Label();
            return true;
        };
        z.DiskManager.VolumeQueryOverride = [this](const std::string&, std::string& label, std::uint32_t&) {
            label = Label();
            return true;
        };
        z.OnGetZipLastDisk = [this, last](TObject*, bool& cancel) {
            asked.push_back("last");
            Insert(last);
            cancel = false;
        };
        z.OnGetZipFirstDisk = [this](TObject*, bool& cancel) {
            asked.push_back("first");
            Insert(1);
            cancel = false;
        };
        z.OnGetZipNextDisk = [this](TObject*, const std::string& number, bool& cancel) {
            asked.push_back(number);
            Insert(std::stoi(number));
            cancel = false;
        };
    }
};

}  // namespace

TEST(SpannedZip, AsksForTheLastDiskThenTheFirstThenTheNext)
{
    SpannedDrive drive(1);
    TempDir out;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    drive.Attach(z, 4);
    Prepare(z, drive.Archive(), out.Root());
    EXPECT_EQ(z.ArcType, atZipDS);
    EXPECT_EQ(z.Extract(), 4);
    for (size_t i = 0; i < log.errors.size(); ++i)
        ADD_FAILURE() << log.errors[i].first << " " << log.errors[i].second << " " << log.extended[i];
    EXPECT_EQ(drive.asked, (std::vector<std::string>{"last", "first", "2", "3", "4"}));
    EXPECT_TRUE(TreeOf(out.Root()) == SevenZipOfSplitSet());

    // The lister reads the directory from the last disk, asking for it.
    SpannedDrive again(1);
    TVirOV v;
    again.Attach(v, 4);
    v.FileSpec.Add("*.*");
    std::map<std::string, std::string> volumes;
    v.OnRead = [&](TObject*, std::int64_t, int) { volumes[v.Filename] = v.VolumeName; };
    v.SetArchiveFile(again.Archive());
    ASSERT_TRUE(v.Activate());
    EXPECT_EQ(again.asked, (std::vector<std::string>{"last"}));
    EXPECT_EQ(volumes, (std::map<std::string, std::string>{{"noise.bin", "PKBACK# 001"},
                                                            {"docs/more.bin", "PKBACK# 003"},
                                                            {"docs/lines.txt", "PKBACK# 004"},
                                                            {"small.txt", "PKBACK# 004"}}));
}

TEST(SpannedZip, ARefusedDiskEndsTheRun)
{
    SpannedDrive drive(4);
    TempDir out;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    drive.Attach(z, 4);
    z.OnGetZipNextDisk = [&](TObject*, const std::string& number, bool& cancel) {
        drive.asked.push_back(number);
        cancel = true;
    };
    Prepare(z, drive.Archive(), out.Root());
    EXPECT_EQ(z.Extract(), 0);
    EXPECT_EQ(drive.asked, (std::vector<std::string>{"first", "2"}));
    ASSERT_EQ(log.ended.size(), 1u);
    EXPECT_FALSE(log.ended[0].second);
    EXPECT_EQ(log.ErrorsWith(25443), 1);
    EXPECT_TRUE(TreeOf(out.Root()).empty());
}
