// gzip, compress and TAR archives through the lister and the extractors,
// against the peer tools (tar -tf / -xf, gzip -dc, uncompress -c). The
// fixtures and their hostile copies are made by
// scripts/make-gzip-tar-fixtures.sh.
#include "../archive/lister_support.h"
#include "archive/zadungzip.h"
#include "archive/zaduntar.h"
#include "archive/zadcrc.h"
#include "extract_support.h"
#include "kernel/mounts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

std::string Gz(const std::string& name) { return Fixture("gztar/" + name); }

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Output(const std::string& cmd)
{
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

template <typename X>
void AttachLog(X& x, ExtractLog& log, const std::string& archive, const std::string& dir)
{
    x.OnBegin = [&log](TObject*, const std::string& name, int, bool&) { log.begun.push_back(name); };
    x.OnEnd = [&log](TObject*, const std::string& name, bool pass) { log.ended.emplace_back(name, pass); };
    x.OnError = [&log](TObject*, const std::string& file, const std::string& ext, const std::string&, int code) {
        log.errors.emplace_back(code, file);
        log.extended.push_back(ext);
    };
    x.SetArchiveFile(archive);
    x.SetExtractDir(dir);
    x.FileSpec.Clear();
    x.FileSpec.Add("*.*");
}

template <typename X>
Outcome ExtractWith(const std::string& archive, bool storedDirs = true)
{
    TempDir out;
    X x;
    Outcome r;
    AttachLog(x, r.log, archive, out.Root());
    x.UseStoredDirs = storedDirs;
    r.count = x.Extract();
    r.files = TreeOf(out.Root());
    return r;
}

// The names tar lists for files and links (folders end in '/').
std::set<std::string> TarNames(const std::string& archive)
{
    std::set<std::string> names;
    std::string all = Output("tar -tf '" + archive + "'");
    size_t p = 0;
    while (p < all.size()) {
        const size_t e = all.find('\n', p);
        const std::string n = all.substr(p, e - p);
        if (!n.empty() && n.back() != '/')
            names.insert(n);
        p = e == std::string::npos ? all.size() : e + 1;
    }
    return names;
}

TEST(GzTar, TarFormatsListAndExtractAsTarDoes)
{
    for (const char* name : {"gnu.tar", "ustar.tar", "pax.tar", "bsd.tar"}) {
        SCOPED_TRACE(name);
        const std::string archive = Gz(name);
        const Listing l = ListFile(archive);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.type, atTar);
        std::set<std::string> listed;
        for (const auto& e : l.entries)
            listed.insert(e.name);
        EXPECT_EQ(listed, TarNames(archive));
        EXPECT_TRUE(l.errors.empty());

        const Outcome ours = ExtractWith<TUnTar>(archive);
        TempDir ref;
        ASSERT_EQ(std::system(("tar -xf '" + archive + "' -C '" + ref.Root() + "'").c_str()), 0);
        auto expected = TreeOf(ref.Root());
        // A link is written as a file holding its target's name.
        expected["tree/link"] = "dir/a.txt";
        EXPECT_EQ(ours.files, expected);
        EXPECT_EQ(ours.count, static_cast<int>(expected.size()));
        EXPECT_EQ(ours.log.Failed(), 0);
        EXPECT_TRUE(ours.log.errors.empty());
    }
}

TEST(GzTar, FoldersAreListedWithShowEmptyDirsAndCreatedWithCreateStoredDirs)
{
    const Listing l = ListFile(Gz("gnu.tar"), true);
    const auto dir = std::find_if(l.entries.begin(), l.entries.end(), [](const ListedEntry& e) { return e.name == "tree/empty/"; });
    ASSERT_NE(dir, l.entries.end());
    EXPECT_EQ(dir->externalAttr, 16);

    TempDir out;
    TUnTar t;
    ExtractLog log;
    AttachLog(t, log, Gz("gnu.tar"), out.Root());
    t.CreateStoredDirs = true;
    t.Extract();
    EXPECT_TRUE(std::filesystem::is_directory(out.Path("tree/empty")));
    // Folders have no OnBegin or OnEnd of their own.
    for (const auto& b : log.begun)
        EXPECT_NE(b.back(), '/');
}

TEST(GzTar, WithoutStoredDirsSameNamedFilesStayApart)
{
    // Only the last component is kept, so names collide: the overwrite rule
    // decides, and nothing is written outside the target.
    const Outcome o = ExtractWith<TUnTar>(Gz("gnu.tar"), false);
    EXPECT_EQ(o.files.count("a.txt"), 1u);
    EXPECT_EQ(o.files.count("words.txt"), 1u);
}

TEST(GzTar, GzipAndCompressExtractAsThePeersDecode)
{
    const struct {
        const char* archive;
        const char* entry;
        const char* peer;
    } cases[] = {
        {"plain.gz", "plain", "gzip -dc"},
        {"named.gz", "notes.txt", "gzip -dc"},
        {"joined.gz", "joined", "gzip -dc"},
        {"fields.gz", "fields.txt", "gzip -dc"},
        {"padded.gz", "padded", "gzip -dc"},
        {"tree.tgz", "tree.tar", "gzip -dc"},
        {"tree.tar.gz", "tree.tar", "gzip -dc"},
        {"tree.tar.Z", "tree.tar", "uncompress -c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        const std::string archive = Gz(c.archive);
        const Listing l = ListFile(archive);
        ASSERT_EQ(l.entries.size(), 1u);
        EXPECT_EQ(l.entries[0].name, c.entry);
        const Outcome o = ExtractWith<TUnGZip>(archive);
        EXPECT_EQ(o.count, 1);
        EXPECT_EQ(o.log.Failed(), 0);
        ASSERT_EQ(o.files.size(), 1u);
        EXPECT_EQ(o.files.begin()->first, c.entry);
        EXPECT_TRUE(o.files.begin()->second == Output(std::string(c.peer) + " < '" + archive + "' 2>/dev/null"));
    }
}

TEST(GzTar, NestedTarIsExtractedWhenTheEventSaysSo)
{
    TempDir out;
    TUnGZip g;
    ExtractLog log;
    AttachLog(g, log, Gz("tree.tgz"), out.Root());
    std::string asked;
    g.OnNestedTarFile = [&](TObject*, const std::string& f, bool& doUnTar) {
        asked = f;
        doUnTar = true;
    };
    EXPECT_EQ(g.Extract(), 6);
    EXPECT_EQ(asked, out.Path("tree.tar"));
    // The TAR's entries come out without their folders, whatever the outer
    // component's UseStoredDirs says.
    EXPECT_TRUE(g.UseStoredDirs);
    EXPECT_EQ(out.Read("a.txt"), "alpha\n");
    EXPECT_EQ(out.Read("words.txt").size(), 3000u);
    EXPECT_FALSE(out.Exists("tree"));
    EXPECT_TRUE(out.Exists("tree.tar"));
}

TEST(GzTar, NamesOnAFileSystemOfOneDotNamesKeepOneDot)
{
    // gzip stores the file's name; on a FAT file system without long names
    // the dots before the extension become '_', elsewhere the name stays.
    // The listed name, by which the entry is selected, is the stored one.
    TempDir src;
    src.Write("report.v2.final.txt", "quarterly\n");
    ASSERT_EQ(std::system(("gzip -k '" + src.Path("report.v2.final.txt") + "'").c_str()), 0);
    const std::string archive = src.Path("report.v2.final.txt.gz");
    const struct {
        const char* fileSystem;
        const char* written;
    } cases[] = {{nullptr, "report.v2.final.txt"}, {"ext4", "report.v2.final.txt"}, {"vfat", "report.v2.final.txt"},
                 {"msdos", "report_v2_final.txt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileSystem ? c.fileSystem : "the machine's own");
        TempDir out;
        if (c.fileSystem) {
            std::string root = out.Root();
            root.pop_back();
            out.Write("mountinfo", "40 1 8:9 / " + root + " rw - " + c.fileSystem + " /dev/sdy1 rw\n");
            SetMountInfoFileNameForTest(out.Path("mountinfo"));
        }
        TUnGZip g;
        ExtractLog log;
        AttachLog(g, log, archive, out.Root());
        g.FileSpec.Clear();
        g.FileSpec.Add("report.v2.final.txt");
        const int count = g.Extract();
        SetMountInfoFileNameForTest({});
        EXPECT_EQ(count, 1);
        EXPECT_EQ(out.Read(c.written), "quarterly\n");
        EXPECT_TRUE(log.errors.empty());
    }
}

TEST(GzTar, NestedTarWithoutTheEventIsTheTarFile)
{
    TempDir out;
    TUnGZip g;
    ExtractLog log;
    AttachLog(g, log, Gz("tree.tgz"), out.Root());
    EXPECT_EQ(g.Extract(), 1);
    EXPECT_EQ(TreeOf(out.Root()).size(), 1u);
    EXPECT_TRUE(out.Read("tree.tar") == Output("gzip -dc < '" + Gz("tree.tgz") + "'"));
    EXPECT_EQ(log.Failed(), 0);
    // The missing handler is noted, not counted as a failure.
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].first, E_REQUIREDEVENT);
    EXPECT_EQ(log.extended[0], "OnNestedTarFile");
}

TEST(GzTar, NestedTarOfATestRunGoesThroughTheTemporaryFolder)
{
    TempDir temp;
    const auto testRun = [&](TUnBase_OnFileExists onExists, ExtractLog& log) {
        TUnGZip g;
        AttachLog(g, log, Gz("tree.tgz"), temp.Root());
        g.SetTempDir(temp.Root());
        g.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        g.OnFileExists = std::move(onExists);
        return g.ExtractToVerify();
    };
    // The TAR's entries are tested from a temporary TAR file, which goes.
    ExtractLog log;
    EXPECT_EQ(testRun(nullptr, log), 6);
    EXPECT_EQ(log.Failed(), 0);
    EXPECT_TRUE(log.errors.empty());
    EXPECT_TRUE(TreeOf(temp.Root()).empty());

    // A file of that name in the temporary folder is not overwritten unasked.
    temp.Write("tree.tar", "mine");
    ExtractLog unasked;
    EXPECT_EQ(testRun(nullptr, unasked), 1);
    EXPECT_EQ(unasked.ErrorsWith(E_REQUIREDEVENT), 1);
    EXPECT_EQ(temp.Read("tree.tar"), "mine");

    // The handler may give another name; that file is used and removed.
    ExtractLog renamed;
    std::string asked;
    EXPECT_EQ(testRun(
                  [&](TObject*, const std::string& f, std::string& newName, TOverwriteMode&) {
                      asked = f;
                      newName = temp.Path("other.tar");
                  },
                  renamed),
              6);
    EXPECT_EQ(asked, temp.Path("tree.tar"));
    EXPECT_EQ(renamed.Failed(), 0);
    EXPECT_EQ(TreeOf(temp.Root()), (std::map<std::string, std::string>{{"tree.tar", "mine"}}));

    // Skipping leaves the file alone and tests the gzip entry only.
    ExtractLog skipped;
    EXPECT_EQ(testRun([](TObject*, const std::string&, std::string&, TOverwriteMode& m) { m = omSkip; }, skipped), 1);
    EXPECT_EQ(skipped.Failed(), 0);
    EXPECT_EQ(temp.Read("tree.tar"), "mine");
}

TEST(GzTar, HostileArchives)
{
    const struct {
        const char* archive;
        std::set<std::string> files;  // what is written, all inside the target
        int failed;                   // entries that end with CRC_PASS false
        std::vector<int> errors;
    } cases[] = {
        // A damaged earlier member fails the whole entry, and leaves nothing.
        {"damaged-first.gz", {}, 1, {}},
        // A stored name keeps its last component only.
        {"traversal.gz", {"evil.txt"}, 0, {}},
        // Sizes that are no number, negative or past the end end the walk.
        {"size-negative.tar", {"good.txt"}, 0, {E_BADHEADR}},
        {"size-huge.tar", {"good.txt"}, 0, {E_BADHEADR}},
        {"size-text.tar", {"good.txt"}, 0, {E_BADHEADR}},
        {"traversal.tar", {"good.txt"}, 2, {E_INVALIDFILENAME, E_INVALIDFILENAME}},
        // The link is a file holding its target; the file through it cannot
        // be written, and nothing reaches /tmp.
        {"link-then-file.tar", {"lnk", "good.txt"}, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        const std::string archive = Gz(c.archive);
        const bool gzip = std::string(c.archive).find(".gz") != std::string::npos;
        const Outcome o = gzip ? ExtractWith<TUnGZip>(archive) : ExtractWith<TUnTar>(archive);
        std::set<std::string> written;
        for (const auto& f : o.files)
            written.insert(f.first);
        EXPECT_EQ(written, c.files);
        EXPECT_EQ(o.log.Failed(), c.failed);
        std::vector<int> codes;
        for (const auto& e : o.log.errors)
            if (e.first != E_CRCERROR && e.first != E_OPENERR)
                codes.push_back(e.first);
        EXPECT_EQ(codes, c.errors);
    }
    EXPECT_FALSE(std::filesystem::exists("/tmp/evil.txt"));
    // The lister stops at the same header, after listing what came before it.
    const Listing l = ListFile(Gz("size-negative.tar"));
    EXPECT_FALSE(l.result);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name, "good.txt");
    EXPECT_EQ(l.errors, (std::vector<int>{E_BADHEADR}));
}

TEST(GzTar, TruncatedCopiesAreRefused)
{
    TempDir work;
    std::string tar = ReadAll(Gz("gnu.tar"));
    // Cut inside words.txt's data (3,000 bytes, behind its header).
    const size_t at = tar.find("tree/dir/sub/words.txt");
    ASSERT_NE(at, std::string::npos);
    work.Write("cut.tar", tar.substr(0, at + 512 + 1000));
    const Outcome t = ExtractWith<TUnTar>(work.Path("cut.tar"));
    EXPECT_EQ(t.files.count("tree/dir/sub/words.txt"), 0u);
    EXPECT_EQ(t.log.ErrorsWith(E_BADHEADR), 1);

    for (const char* name : {"joined.gz", "tree.tgz"}) {
        SCOPED_TRACE(name);
        const std::string gz = ReadAll(Gz(name));
        work.Write(std::string("cut-") + name, gz.substr(0, gz.size() - 12));
        const Outcome g = ExtractWith<TUnGZip>(work.Path(std::string("cut-") + name));
        EXPECT_TRUE(g.files.empty());
        EXPECT_EQ(g.log.Failed(), 1);
    }
}

TEST(GzTar, GzipListingCarriesTheTrailer)
{
    const Listing l = ListFile(Gz("named.gz"));
    ASSERT_EQ(l.entries.size(), 1u);
    const std::string data = Output("gzip -dc < '" + Gz("named.gz") + "'");
    EXPECT_EQ(l.entries[0].unpacked, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(l.entries[0].crc, ~Crc32_buf(data.data(), data.size(), 0xFFFFFFFFu));
    EXPECT_EQ(l.entries[0].method, "Deflate");
}

} // namespace
