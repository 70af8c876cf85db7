// The compound-file reader and the check that tells the OLE container which
// documents are damaged or locked by a password, on documents LibreOffice
// wrote (scripts/make-office-fixtures.sh) and on copies damaged here.
#include "ole/compoundfile.h"

#include "fuzz/office_file_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string OfficeFixture(const std::string& name)
{
    return Slurp(std::string(VISTREL_TEST_DATA) + "/fixtures/office/" + name);
}

TCompoundFile::TReadAt ReaderOf(const std::string& bytes)
{
    return [&bytes](std::uint64_t pos, void* buffer, std::size_t n) -> std::size_t {
        if (pos >= bytes.size())
            return 0;
        const std::size_t take = std::min<std::uint64_t>(n, bytes.size() - pos);
        std::memcpy(buffer, bytes.data() + pos, take);
        return take;
    };
}

TOfficeFileKind Classify(const std::string& bytes) { return ClassifyOfficeFile(ReaderOf(bytes), bytes.size()); }

std::uint32_t U32At(const std::string& b, std::size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

void PutU32(std::string& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

const char* Name(TOfficeFileKind k)
{
    switch (k) {
    case TOfficeFileKind::Convertible: return "convertible";
    case TOfficeFileKind::PasswordLocked: return "locked";
    case TOfficeFileKind::Damaged: return "damaged";
    }
    return "?";
}

}  // namespace

TEST(OfficeFileCheck, TellsDocumentsLockedByAPasswordFromPlainOnes)
{
    const std::pair<const char*, TOfficeFileKind> rows[] = {
        {"letter.doc", TOfficeFileKind::Convertible},
        {"sheet.xls", TOfficeFileKind::Convertible},
        {"slides.ppt", TOfficeFileKind::Convertible},
        {"locked.doc", TOfficeFileKind::PasswordLocked},
        {"locked.xls", TOfficeFileKind::PasswordLocked},
        {"locked.ppt", TOfficeFileKind::PasswordLocked},
    };
    for (const auto& [fixture, kind] : rows)
        EXPECT_STREQ(Name(Classify(OfficeFixture(fixture))), Name(kind)) << fixture;
}

TEST(OfficeFileCheck, RefusesDamageAndBytesOfNoDocumentButTakesTextAndOtherFormats)
{
    const std::string letter = OfficeFixture("letter.doc");
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>(i * 7);
    std::string signatureOnly = letter.substr(0, 8) + std::string(4088, '\0');
    const std::pair<std::string, TOfficeFileKind> rows[] = {
        {"", TOfficeFileKind::Damaged},
        {letter.substr(0, 3000), TOfficeFileKind::Damaged},
        {letter.substr(0, 512), TOfficeFileKind::Damaged},
        {signatureOnly, TOfficeFileKind::Damaged},
        {binary, TOfficeFileKind::Damaged},
        {"{\\rtf1\\ansi Rich text saved under a .doc name.}", TOfficeFileKind::Convertible},
        {"Plain words\r\nof a letter\r\n\f", TOfficeFileKind::Convertible},
        {"<html><body><p>A web page saved as a document</p></body></html>", TOfficeFileKind::Convertible},
        {std::string("PK\x03\x04\x14\x00\x00\x00", 8) + std::string(64, '\0'), TOfficeFileKind::Convertible},
    };
    for (const auto& [bytes, kind] : rows)
        EXPECT_STREQ(Name(Classify(bytes)), Name(kind)) << bytes.substr(0, 24);
}

TEST(CompoundFile, ListsTheRootAndReadsStreamsFromSectorsAndTheMiniStream)
{
    const std::string letter = OfficeFixture("letter.doc");
    const auto file = TCompoundFile::Open(ReaderOf(letter), letter.size());
    ASSERT_TRUE(file);
    for (const char* name : {"WordDocument", "1Table", "\x01" "CompObj"})
        EXPECT_TRUE(file->HasRootEntry(name)) << name;
    // The word-processor stream (in whole sectors) starts with its identifier.
    EXPECT_EQ(file->ReadRootStream("WordDocument", 2), std::string("\xEC\xA5"));
    // The small CompObj stream lives in the mini stream: a version word,
    // the byte-order mark FFFE, then the format version.
    EXPECT_EQ(file->ReadRootStream("\x01" "CompObj", 4), std::string("\x01\x00\xFE\xFF", 4));
    EXPECT_FALSE(file->ReadRootStream("NoSuchStream", 4));
}

TEST(CompoundFile, AChainThatLoopsIsDamageNotAHang)
{
    // The directory's first sector made its own successor in the
    // allocation table: the directory never ends.
    std::string letter = OfficeFixture("letter.doc");
    const std::uint32_t directory = U32At(letter, 0x30);
    const std::uint32_t fatSector = U32At(letter, 0x4C);
    PutU32(letter, (fatSector + 1) * 512 + directory * 4, directory);
    EXPECT_FALSE(TCompoundFile::Open(ReaderOf(letter), letter.size()));
    EXPECT_STREQ(Name(Classify(letter)), Name(TOfficeFileKind::Damaged));
}

TEST(CompoundFile, TheFuzzCorpusAndMutatedDocumentsNeverCrashTheReader)
{
    EXPECT_GT(ReplayFuzzCorpus("office_file", [](const std::string& input) {
        OfficeFileFuzzOne(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    }), 0);
    unsigned seed = 1;
    for (const char* fixture : {"letter.doc", "locked.doc", "locked.xls"}) {
        SCOPED_TRACE(fixture);
        const std::string bytes = OfficeFixture(fixture);
        RunMutatedInputs("office-file-mutant", bytes, 4096, 4, 100, seed++, [](const std::string& input) {
            OfficeFileFuzzOne(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        });
    }
}
