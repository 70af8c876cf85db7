// The ACE extractor: without a library it reports 25103 once and writes
// nothing; with a scripted library, its answers to the library's requests
// and where it has entries written.
#include "support.h"

#include "archive/zadunace.h"

#include <gtest/gtest.h>

namespace {

// What the scripted library saw; it outlives the library, which the
// extractor frees at the end of its run.
struct AceScript {
    std::vector<std::string> entries;
    std::string masks;
    TAceCallbacks callbacks;
    std::vector<int> answers;
};

// Plays an archive of the script's entries through the callbacks, writing
// each entry's name as its content where the component says.
class ScriptedAce : public TAceLibrary {
public:
    explicit ScriptedAce(AceScript& s) : entries(s.entries), masks(s.masks), callbacks(s.callbacks), answers(s.answers) {}
    std::vector<std::string>& entries;
    std::string& masks;
    TAceCallbacks& callbacks;
    std::vector<int>& answers;
    int Init(const TAceCallbacks& c) override
    {
        callbacks = c;
        return 0;
    }
    int Test(const std::string&, const std::string& m, const std::string&) override
    {
        masks = m;
        return 0;
    }
    int Extract(const std::string&, const std::string& m, const std::string&, const std::string&, bool) override
    {
        masks = m;
        for (const std::string& e : entries) {
            std::string target;
            const int a = callbacks.State(1040, e, target, true);
            answers.push_back(a);
            if (a != 0)
                continue;
            std::ofstream(target, std::ios::binary) << e;
            callbacks.State(1041, e, target, true);
        }
        return 0;
    }
};

TEST(AceExtract, WithoutTheLibrary)
{
    SetAceLibraryFactory(nullptr);
    TempDir out;
    const ExtractRun r = ExtractInto<TUnACE>(Fixture("list/files.ace"), out.Root());
    EXPECT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.Errors(25103), 1);
    EXPECT_TRUE(r.files.empty());
}

TEST(AceExtract, AScriptedLibrary)
{
    AceScript script;
    script.entries = {"readme.txt", "..\\evil.txt", "dir\\data.bin"};
    AceScript* lib = &script;
    SetAceLibraryFactory([&script] { return std::make_unique<ScriptedAce>(script); });
    TempDir out;
    TUnACE x;
    x.OnRenameFile = [](TObject*, const std::string& name, std::string& newName) {
        if (name.find("readme") != std::string::npos)
            newName = name + ".renamed";
    };
    const ExtractRun r = ExtractInto<TUnACE>(Fixture("list/files.ace"), out.Root(), {"*.txt", "*.bin"}, &x);
    EXPECT_EQ(lib->masks, "*.txt\r*.bin\r");
    // The renamed entry is written to its new name, the one outside the
    // target is refused.
    EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"dir/data.bin", "dir\\data.bin"},
                                                           {"readme.txt.renamed", "readme.txt"}}));
    EXPECT_EQ(r.Errors(E_INVALIDFILENAME), 1);
    EXPECT_EQ(r.count, 2);

    // Requests: overwrite by the mode, a password only through the event.
    std::string text = "x.txt";
    x.OverwriteMode = omSkip;
    EXPECT_EQ(lib->callbacks.Request(832, text), 1);
    x.OverwriteMode = omOverwrite;
    EXPECT_EQ(lib->callbacks.Request(832, text), 0);
    EXPECT_EQ(lib->callbacks.Request(835, text), 2);
    x.OnGetPassword = [](TObject*, const std::string&, std::string& p, TSeedKeyRecord&, TSeedKeyRecord&, bool&) { p = "pw"; };
    EXPECT_EQ(lib->callbacks.Request(835, text), 0);
    EXPECT_EQ(text, "pw");
    EXPECT_EQ(lib->callbacks.Error(), 2);
    SetAceLibraryFactory(nullptr);
}

}  // namespace
