// The executable-header report over images built by PEBuilder, over damaged
// copies of them and over files that are no executables at all.
#include "app/pereport.h"
#include "test_support/read_hooks.h"
#include "pe_builder.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

std::vector<std::string> Report(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    dir.Write(name, bytes);
    TStringList lines;
    GetPEFileInfo(dir.Path(name), lines);
    return lines.Items();
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

size_t CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

void Put32(std::string& f, size_t at, std::uint32_t v) { std::memcpy(&f[at], &v, 4); }
void Put16(std::string& f, size_t at, std::uint16_t v) { std::memcpy(&f[at], &v, 2); }

} // namespace

TEST(PEReport, Pe32ImageReportsEveryPartWithItsLabels)
{
    TempDir dir;
    const auto lines = Report(dir, "a.dll", PEBuilder::Build(false));
    const std::string rule(89, '-');
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], "PE FORMAT FILE INFOMATION OF " + dir.Path("a.dll"));
    EXPECT_EQ(lines[1], rule);
    EXPECT_EQ(lines[2], " ");
    EXPECT_EQ(lines[3], "FileHeaderInfo");
    for (const char* expected : {
             "Machine:             \t014C",
             "NumberOfSections:    \t0001",
             "TimeDateStamp:       \t12345678",
             "SizeOfOptionalHeader:\t00E0",
             "Characteristics:     \t2102",
             "OptionHeaderInfo",
             "AddressOfEntryPoint:\t00001010",
             "ImageBase:          \t10000000",
             "BaseOfData:         \t00002000",
             "Subsystem:          \t00000002",
             "CheckSum:           \t0000",
             "DllCharacteristics: \t0040",
             "Name    \tVAddress\tVSize   \tROffset \tRSize   \tFlags\t",
             ".rdata\t\t00001000\t00000200\t00000200\t00000200\t40000040\t",
             "RVA\t00001000\t00001080\t00000000\t00000000\t00000000\t00000000\t00000000\t00000000\t00000000\t00000000\t"
             "00000000\t00000000\t00000000\t00000000\t00000000\t00000000\t",
             "Base:                 \t00000001",
             "NumberOfFunctions:    \t00000003",
             "DllName:              \ttest.dll",
             "Ordinal \tRVA     \tFunctionName",
             "0001    \t00001010\tFuncA\t",
             "0003    \t00001020\t-\t",
             "DllName     \tFirstThunk\tTimeStamp\tForwardChin\tName    \tFirstThunk",
             "kernel32.dll\t000010C0\t00000000\t00000000\t00001120\t000010E0\t",
             "\tThunkRVA\tThunkValue\tHint\tFunctionName\t",
             "\t000010C0\t00001130\t0005\tExitProcess\t",
             "\t000010C4\t80000010\t-\tOrd:00000010\t",
         })
        EXPECT_TRUE(Has(lines, expected)) << expected;
    // The empty export slot still has its (empty) line, between its neighbours.
    const auto named = std::find(lines.begin(), lines.end(), "0001    \t00001010\tFuncA\t");
    ASSERT_NE(named, lines.end());
    EXPECT_EQ(*(named + 1), "");
    EXPECT_EQ(lines.back(), " ");
}

TEST(PEReport, Pe32PlusImageReadsItsOwnLayout)
{
    TempDir dir;
    const auto lines = Report(dir, "a64.dll", PEBuilder::Build(true));
    for (const char* expected : {
             "Machine:             \t8664",
             "ImageBase:          \t140000000",
             "BaseOfData:         \t-",
             "AddressOfEntryPoint:\t00001010",
             "0001    \t00001010\tFuncA\t",
             "\t000010C0\t00001130\t0005\tExitProcess\t",
             "\t000010C8\t8000000000000010\t-\tOrd:00000010\t",
         })
        EXPECT_TRUE(Has(lines, expected)) << expected;
}

TEST(PEReport, MissingPartsHaveTheirOwnLines)
{
    TempDir dir;
    std::string image = PEBuilder::Build(false);
    // No export and no import directory.
    Put32(image, 0x58 + 96, 0);
    Put32(image, 0x58 + 104, 0);
    const auto lines = Report(dir, "plain.exe", image);
    EXPECT_TRUE(Has(lines, "Can't get Export Directory!"));
    EXPECT_TRUE(Has(lines, "Can't get ImportDesc!"));
    EXPECT_FALSE(Has(lines, "Export Functions Table"));

    // A section name that fills all eight bytes shows all eight.
    std::string named = PEBuilder::Build(false);
    std::memcpy(&named[0x58 + 0xE0], "ABCDEFGH", 8);
    EXPECT_TRUE(Has(Report(dir, "named.exe", named), "ABCDEFGH\t\t00001000\t00000200\t00000200\t00000200\t40000040\t"));
}

TEST(PEReport, FilesThatAreNoImages)
{
    TempDir dir;
    TStringList lines;
    GetPEFileInfo(dir.Path("missing.exe"), lines);
    EXPECT_EQ(lines.Items(), std::vector<std::string> {"Failed to load file!"});
    EXPECT_EQ(Report(dir, "empty.exe", ""), std::vector<std::string> {"Failed to load file!"});
    EXPECT_EQ(Report(dir, "text.exe", "hello, world"), std::vector<std::string> {"The file is not a PE file!"});
    EXPECT_EQ(Report(dir, "mz.exe", "MZ"), std::vector<std::string> {"The file is not a PE file!"});
}

TEST(PEReport, DamagedImagesGiveACleanReport)
{
    TempDir dir;
    const std::string good = PEBuilder::Build(false);
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        const char* expectedLine;
    };
    const std::vector<Case> cases = {
        {"nt_offset_past_end", [](std::string& f) { Put32(f, 60, 0x7FFFFFF0); }, "The file is not a PE file!"},
        {"nt_offset_wraps", [](std::string& f) { Put32(f, 60, 0xFFFFFFFE); }, "The file is not a PE file!"},
        {"cut_in_file_header", [](std::string& f) { f.resize(0x50); }, "Unable to get FileHeaderInfo!"},
        {"cut_in_optional_header", [](std::string& f) { f.resize(0x80); }, "Unable to get OptionHeaderInfo!"},
        {"sections_past_end", [](std::string& f) { Put16(f, 0x46, 0xFFFF); },
            "(The section table runs past the end of the file.)"},
        {"cut_in_section_data", [](std::string& f) { f.resize(0x290); }, "(The import table runs past the end of the file.)"},
        {"functions_past_end", [](std::string& f) { Put32(f, 0x200 + 20, 0xFFFFFFFF); },
            "(The function table runs past the end of the file.)"},
        {"name_ordinals_huge", [](std::string& f) { Put32(f, 0x200 + 24, 0xFFFFFFFF); }, "0001    \t00001010\tFuncA\t"},
        {"dll_name_outside", [](std::string& f) { Put32(f, 0x200 + 0x80 + 12, 0x90000000); }, "\tThunkRVA\tThunkValue\tHint\tFunctionName\t"},
        {"thunk_name_outside", [](std::string& f) { Put32(f, 0x200 + 0xC0, 0x7000); },
            "\t000010C0\t00007000\t-\tMemAddr:00007000\t"},
        {"name_runs_to_end", [](std::string& f) { std::memset(&f[0x300], 'x', 0x100); }, "Export Dir Table"},
    };
    for (const Case& c : cases) {
        std::string image = good;
        c.damage(image);
        const auto lines = Report(dir, std::string(c.name) + ".exe", image);
        EXPECT_TRUE(Has(lines, c.expectedLine)) << c.name;
    }
}

// An executable that another program cuts short while the report reads it:
// the report keeps what it read and ends with a line that says why. The
// import table lies 128 KB into the file, past the first blocks the report
// reads; the file is cut to 4 KB just before the report reads there.
TEST(PEReport, AnImageCutShortWhileItIsReadEndsTheReportWithTheReason)
{
    TempDir dir;
    const std::uint32_t imports = 0x1000 + 0x20000;
    PEImageWriter w(false, 0x21000);
    w.Directory(1, imports, 0x28);
    w.Descriptor(imports, imports + 0x40, 0, imports + 0x60, imports + 0x40);
    w.U32(imports + 0x40, imports + 0x80);
    w.Text(imports + 0x60, "kernel32.dll");
    w.HintName(imports + 0x80, 5, "ExitProcess");
    const std::string path = dir.Path("cut.exe");
    dir.Write("cut.exe", w.Bytes());
    ASSERT_TRUE(Has(Report(dir, "whole.exe", w.Bytes()), "\t00021040\t00021080\t0005\tExitProcess\t"));

    TStringList lines;
    {
        const CutShortOnRead cut(path, 0xFFFF, 0x1000);
        GetPEFileInfo(path, lines);
        EXPECT_TRUE(cut.Cut());
    }
    const std::vector<std::string> report = lines.Items();
    EXPECT_TRUE(Has(report, "FileHeaderInfo"));
    EXPECT_TRUE(Has(report, "Section Table"));
    EXPECT_FALSE(Has(report, "kernel32.dll\t00021040\t00000000\t00000000\t00021060\t00021040\t"));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back().rfind("Failed to read the rest of the file: ", 0), 0u) << report.back();
    EXPECT_NE(report.back().find("changed while it was read"), std::string::npos) << report.back();
}

// Random byte changes of a good image must never make the report read
// outside the file; a failing input is left on disk for replay.
TEST(PEReport, MutatedImagesNeverCrash)
{
    TempDir dir;
    std::mt19937 rng(1234);
    for (bool plus : {false, true}) {
        const std::string good = PEBuilder::Build(plus);
        for (int round = 0; round < 300; ++round) {
            std::string image = good;
            const int changes = 1 + static_cast<int>(rng() % 8);
            for (int k = 0; k < changes; ++k)
                image[rng() % image.size()] = static_cast<char>(rng());
            if (rng() % 4 == 0)
                image.resize(rng() % image.size() + 1);
            dir.Write("mutated.exe", image);
            TStringList lines;
            GetPEFileInfo(dir.Path("mutated.exe"), lines);
            EXPECT_GT(lines.Count(), 0);
        }
    }
}

// Descriptor k names the one long thunk table from slot k on. Each slot is
// listed once; the later descriptors say that the rest of their table is
// listed above, instead of listing it again (300 x 600 lines before).
TEST(PEReport, OverlappingThunkTablesListEachSlotOnce)
{
    TempDir dir;
    const std::uint32_t descriptors = 300, thunks = 600;
    const auto lines = Report(dir, "overlap.dll", PECrafted::OverlappingThunkTables(descriptors, thunks));
    EXPECT_EQ(CountStartingWith(lines, "DllName     \t"), descriptors);
    EXPECT_EQ(Count(lines, "(The rest of this thunk table is listed above.)"), descriptors - 1);
    // The first table runs to the end of the section, with no zero slot.
    EXPECT_EQ(Count(lines, "(The thunk table runs past the end of the file.)"), 1u);
    const size_t thunkLines = static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
        [](const std::string& l) { return l.size() > 2 && l[0] == '\t' && l.find("\t0001\tFunc\t") != std::string::npos; }));
    EXPECT_EQ(thunkLines, thunks);
    EXPECT_LT(lines.size(), 3000u);
}

// The directory's size ends the walk: descriptors beyond it are not read,
// though no zero descriptor comes before them.
TEST(PEReport, DescriptorsStopAtTheEndOfTheImportDirectory)
{
    TempDir dir;
    struct Case {
        std::uint32_t sizeInDescriptors, present;
        size_t listed;
    };
    for (const Case& c : {Case {1, 3, 1}, Case {2, 3, 2}, Case {5, 3, 3}, Case {0, 3, 0}}) {
        const auto lines = Report(dir, "dir.dll", PECrafted::DescriptorsPastTheDirectory(c.sizeInDescriptors, c.present));
        EXPECT_EQ(CountStartingWith(lines, "b.dll\t"), c.listed) << c.sizeInDescriptors;
        // Descriptor 0's table: its one thunk names the hint/name entry.
        EXPECT_EQ(Count(lines, "\t00001068\t00001058\t0002\tCall\t"), c.listed > 0 ? 1u : 0u) << c.sizeInDescriptors;
    }
}

// Import by ordinal is bit 31 of a PE32 thunk (0x80010001 is ordinal 1);
// a forwarded export shows the address of its forwarder text like any
// other function; a forwarder chain of -1 prints as it is.
TEST(PEReport, OrdinalsAndForwarders)
{
    TempDir dir;
    const auto lines = Report(dir, "fwd.dll", PECrafted::OrdinalsAndForwarders());
    for (const char* expected : {
             "user32.dll\t00001140\t00000000\tFFFFFFFF\t00001180\t00001160\t",
             "\t00001140\t80010001\t-\tOrd:00000001\t",
             "\t00001144\t00001190\t0007\tMessageBoxA\t",
             "\t00001148\t8000FFFF\t-\tOrd:0000FFFF\t",
             "0001    \t00001040\tHeapAlloc\t",
             "DllName:              \tf.dll",
         })
        EXPECT_TRUE(Has(lines, expected)) << expected;
    EXPECT_EQ(CountStartingWith(lines, "\tThunkRVA"), 1u);
}

// A report that would grow past its cap ends with a line that says so, and
// holds no more than the cap.
TEST(PEReport, RunawayReportIsCut)
{
    TempDir dir;
    const auto lines = Report(dir, "long.dll", PECrafted::LongNames(2500));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "(The report was cut here: it runs past 100000 lines or 8 MB of text.)");
    size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 1;
    EXPECT_LE(bytes, (8u << 20) + 100);
    EXPECT_GT(CountStartingWith(lines, "\t0000"), 2000u);

    // An ordinary report is not cut.
    EXPECT_NE(Report(dir, "a.dll", PEBuilder::Build(false)).back().rfind("(The report was cut", 0), 0u);
}

// An address that two sections cover belongs to the first in table order.
TEST(PEReport, OverlappingSectionsAnswerInTableOrder)
{
    TempDir dir;
    std::string image = PEBuilder::Build(false);
    // A second section over the first one's export directory, its raw data
    // an empty stretch of the first one's.
    Put16(image, 0x46, 2);
    const size_t second = 0x58 + 0xE0 + 40;
    std::memcpy(&image[second], ".shadow", 7);
    Put32(image, second + 8, 0x80);
    Put32(image, second + 12, 0x1000);
    Put32(image, second + 16, 0x80);
    Put32(image, second + 20, 0x380);
    EXPECT_TRUE(Has(Report(dir, "first.dll", image), "DllName:              \ttest.dll"));

    // The same two headers swapped: now the shadow answers for 0x1000.
    std::string swapped = image;
    std::memcpy(&swapped[0x58 + 0xE0], &image[second], 40);
    std::memcpy(&swapped[second], &image[0x58 + 0xE0], 40);
    const auto lines = Report(dir, "swapped.dll", swapped);
    EXPECT_TRUE(Has(lines, "DllName:              \t"));
    EXPECT_FALSE(Has(lines, "0001    \t00001010\tFuncA\t"));
    // 0x1080 on lies only in .rdata: the import table is still found there.
    EXPECT_TRUE(Has(lines, "\t000010C0\t00001130\t0005\tExitProcess\t"));
}

// ---- fuzz corpus ---------------------------------------------------------------

namespace {

const std::string kPeCorpus = std::string(VISTREL_TEST_DATA) + "/../../fuzz/corpus/pe_report";

// The crafted files of the corpus and the builders that make them. With
// VISTREL_WRITE_PE_CORPUS set, the test writes them anew.
std::vector<std::pair<std::string, std::string>> CraftedCorpus()
{
    return {
        {"pe_overlapping_thunk_tables", PECrafted::OverlappingThunkTables(100, 518)},
        {"pe_descriptors_past_directory", PECrafted::DescriptorsPastTheDirectory(1, 3)},
        {"pe_ordinals_and_forwarders", PECrafted::OrdinalsAndForwarders()},
        {"pe_long_names", PECrafted::LongNames(2500)},
        {"pe32", PEBuilder::Build(false)},
        {"pe32plus", PEBuilder::Build(true)},
    };
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(PEReportFuzzCorpus, CraftedFilesAreTheBuildersOwn)
{
    const bool write = std::getenv("VISTREL_WRITE_PE_CORPUS") != nullptr;
    for (const auto& [name, bytes] : CraftedCorpus()) {
        if (write)
            std::ofstream(kPeCorpus + "/" + name, std::ios::binary) << bytes;
        EXPECT_EQ(ReadBytes(kPeCorpus + "/" + name), bytes) << name;
    }
}

TEST(PEReportFuzzCorpus, ReplaysWithoutFindings)
{
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kPeCorpus)) {
        const std::string bytes = ReadBytes(entry.path().string());
        SCOPED_TRACE(entry.path().string());
        TStringList lines;
        GetPEImageInfo(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), "corpus.exe", lines);
        EXPECT_GT(lines.Count(), 0);
        ++files;
    }
    EXPECT_GE(files, CraftedCorpus().size());
}
