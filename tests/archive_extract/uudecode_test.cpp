// Text archives through the lister and TUUDecode: uuencode, uuencode -m,
// uuenview -x, mpack and split sets (fixtures made and checked against
// uudecode, uudeview and munpack by scripts/make-gzip-tar-fixtures.sh;
// the decoded files are kept in fixtures/text/originals).
#include "../archive/lister_support.h"
#include "archive/zaduudecode.h"
#include "extract_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::string Tx(const std::string& name) { return Fixture("text/" + name); }

std::string Original(const std::string& name)
{
    std::ifstream in(Tx("originals/" + name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Decoded {
    ExtractLog log;
    int count = 0;
    std::map<std::string, std::string> files;
};

Decoded Decode(const std::string& archive, TOnNextVolume nextVolume = nullptr)
{
    TempDir out;
    TUUDecode u;
    Decoded d;
    u.OnBegin = [&d](TObject*, const std::string& name, int, bool&) { d.log.begun.push_back(name); };
    u.OnEnd = [&d](TObject*, const std::string& name, bool pass) { d.log.ended.emplace_back(name, pass); };
    u.OnError = [&d](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        d.log.errors.emplace_back(code, file);
        d.log.extended.push_back(ext);
    };
    u.OnNextVolume = std::move(nextVolume);
    u.SetArchiveFile(archive);
    u.SetExtractDir(out.Root());
    u.FileSpec.Clear();
    u.FileSpec.Add("*.*");
    d.count = u.Extract();
    d.files = TreeOf(out.Root());
    return d;
}

TEST(UUDecode, EncodingsDecodeToTheOriginals)
{
    const struct {
        const char* archive;
        std::map<std::string, std::string> files;
    } cases[] = {
        {"uu.uue", {{"data.bin", Original("data.bin")}}},
        // Shorter than one full line: the alphabet is told by the line itself.
        {"small.uue", {{"small.bin", Original("small.bin")}}},
        {"b64.uue", {{"words.txt", Original("words.txt")}}},
        {"xx.xxe", {{"data.bin", Original("data.bin")}}},
        {"upper.uue", {{"upper.bin", Original("upper.bin")}}},
        {"mime.txt", {{"data.bin", Original("data.bin")}, {"words.txt", Original("words.txt")}}},
        // A Base64 line that begins with "end" is data, not an end line.
        {"endline.txt", {{"endline.bin", Original("endline.bin")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        // The lister names the same first file.
        const Listing l = ListFile(Tx(c.archive));
        ASSERT_EQ(l.entries.size(), 1u);
        EXPECT_EQ(l.entries[0].name, c.files.begin()->first == "words.txt" && c.files.size() > 1 ? "data.bin"
                                                                                                   : c.files.begin()->first);
        const Decoded d = Decode(Tx(c.archive));
        EXPECT_EQ(d.count, static_cast<int>(c.files.size()));
        EXPECT_TRUE(d.files == c.files);
        EXPECT_EQ(d.log.Failed(), 0);
        EXPECT_TRUE(d.log.errors.empty());
    }
}

TEST(UUDecode, SplitSetContinuesInItsParts)
{
    // Without an OnNextVolume handler the parts are taken when they exist.
    const Decoded d = Decode(Tx("split.uue"));
    EXPECT_EQ(d.count, 1);
    EXPECT_TRUE(d.files == (std::map<std::string, std::string>{{"big.bin", Original("big.bin")}}));
    EXPECT_EQ(d.log.Failed(), 0);

    // A refused part ends the file unfinished: it fails and leaves nothing.
    std::vector<int> asked;
    const Decoded refused = Decode(Tx("split.uue"), [&](TObject*, std::string&, int id, bool, bool& cancel) {
        asked.push_back(id);
        cancel = id == 2;
    });
    EXPECT_EQ(asked, (std::vector<int>{1, 2}));
    EXPECT_TRUE(refused.files.empty());
    EXPECT_EQ(refused.log.Failed(), 1);
}

TEST(UUDecode, UnfinishedAndHostileFiles)
{
    // The data ends without its end line (and no next part exists).
    const Decoded cut = Decode(Tx("truncated.uue"));
    EXPECT_TRUE(cut.files.empty());
    EXPECT_EQ(cut.count, 0);
    EXPECT_EQ(cut.log.ended, (std::vector<std::pair<std::string, bool>>{{cut.log.begun.at(0), false}}));
    EXPECT_EQ(cut.log.ErrorsWith(25178), 1);

    const Decoded evil = Decode(Tx("traversal.uue"));
    EXPECT_TRUE(evil.files.empty());
    EXPECT_EQ(evil.log.ErrorsWith(E_INVALIDFILENAME), 1);
    EXPECT_EQ(evil.log.Failed(), 1);
}

TEST(UUDecode, ManyAttachmentsIntoAMemoryTarget)
{
    // Tens of thousands of MIME attachments decode one after the other.
    std::string text = "Content-Type: multipart/mixed; boundary=\"=-b\"\n\n";
    constexpr int kParts = 20000;
    for (int i = 0; i < kParts; ++i)
        text += "--=-b\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"f" +
                std::to_string(i) + ".txt\"\n\naGk=\n";
    text += "--=-b--\n";
    TempDir work;
    work.Write("many.txt", text);
    TUUDecode u;
    u.SetArchiveFile(work.Path("many.txt"));
    u.FileSpec.Add("*.*");
    TDecompMemoryStream memory;
    EXPECT_EQ(u.ExtractToMemoryStream(&memory), kParts);
    ASSERT_EQ(memory.Count(), kParts);
    EXPECT_EQ(memory.GetFileName(kParts - 1), "f" + std::to_string(kParts - 1) + ".txt");
    EXPECT_EQ(memory.Size(), 2 * kParts);
}

} // namespace
