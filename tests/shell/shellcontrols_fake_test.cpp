// The shell tree and list over a namespace of the test's own, put in place
// of the desktop: its folders can fail to enumerate, break off part-way or
// refuse one item's attributes, which a real file system seldom does on cue.
#include "shell_env.h"

#include "shell/ptshcontrols.h"

#include "rtl/clock.h"
#include "vcl/forms.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>

namespace {

struct FakeNode {
    std::string name;
    bool folder = true;
    bool hidden = false;
    bool attributesFail = false;
    bool enumFails = false;   // EnumObjects itself fails
    bool enumBreaks = false;  // Next fails after the first item
    std::vector<std::unique_ptr<FakeNode>> kids;

    FakeNode* Add(const std::string& n, bool isFolder = true)
    {
        kids.push_back(std::make_unique<FakeNode>());
        kids.back()->name = n;
        kids.back()->folder = isFolder;
        return kids.back().get();
    }
    FakeNode* Find(const std::string& n)
    {
        for (auto& k : kids)
            if (k->name == n)
                return k.get();
        return nullptr;
    }
    void Remove(const std::string& n)
    {
        kids.erase(std::remove_if(kids.begin(), kids.end(), [&](const auto& k) { return k->name == n; }), kids.end());
    }
};

std::vector<std::string> Levels(LPCITEMIDLIST list)
{
    std::vector<std::string> out;
    const auto* p = reinterpret_cast<const BYTE*>(list);
    while (p && ItemIdSize(p)) {
        const USHORT cb = ItemIdSize(p);
        out.emplace_back(reinterpret_cast<const char*>(p + 2), cb - 2);
        p += cb;
    }
    return out;
}

class FakeEnum final : public IEnumIDList {
public:
    FakeEnum(std::vector<std::string> names, bool breaks) : m_names(std::move(names)), m_breaks(breaks) {}
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_ref; }
    ULONG Release() override
    {
        const ULONG n = --m_ref;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT Next(ULONG, LPITEMIDLIST* out, ULONG* fetched) override
    {
        if (m_breaks && m_at == 1)
            return static_cast<HRESULT>(0x8000FFFF);
        if (m_at >= m_names.size())
            return S_FALSE;
        *out = RawList({m_names[m_at++]});
        if (fetched)
            *fetched = 1;
        return S_OK;
    }
    HRESULT Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT Reset() override { return E_NOTIMPL; }
    HRESULT Clone(IEnumIDList**) override { return E_NOTIMPL; }

private:
    std::vector<std::string> m_names;
    bool m_breaks;
    size_t m_at = 0;
    std::atomic<ULONG> m_ref {1};
};

class FakeFolder final : public IShellFolder {
public:
    explicit FakeFolder(FakeNode* n) : node(n) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IShellFolder) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_ref; }
    ULONG Release() override
    {
        const ULONG n = --m_ref;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT ParseDisplayName(HWND, IBindCtx*, LPCWSTR, ULONG*, LPITEMIDLIST*, ULONG*) override { return E_FAIL; }
    HRESULT EnumObjects(HWND, DWORD flags, IEnumIDList** out) override
    {
        *out = nullptr;
        if (node->enumFails)
            return static_cast<HRESULT>(0x80070015);  // the device is not ready
        std::vector<std::string> names;
        for (auto& k : node->kids)
            if ((!k->hidden || (flags & SHCONTF_INCLUDEHIDDEN))
                && ((k->folder && (flags & SHCONTF_FOLDERS)) || (!k->folder && (flags & SHCONTF_NONFOLDERS))))
                names.push_back(k->name);
        *out = new FakeEnum(names, node->enumBreaks);
        return S_OK;
    }
    HRESULT BindToObject(LPCITEMIDLIST pidl, IBindCtx*, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        FakeNode* n = node;
        for (const std::string& level : Levels(pidl))
            if (!(n = n->Find(level)))
                return E_INVALIDARG;
        auto* f = new FakeFolder(n);
        *ppv = static_cast<IShellFolder*>(f);
        return S_OK;
    }
    HRESULT BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT CompareIDs(LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) override
    {
        const auto la = Levels(a), lb = Levels(b);
        const int c = la < lb ? -1 : la > lb ? 1 : 0;
        return MAKE_HRESULT_SUCCESS(c);
    }
    HRESULT CreateViewObject(HWND, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetAttributesOf(UINT, LPCITEMIDLIST* items, ULONG* rgf) override
    {
        const auto levels = Levels(items[0]);
        FakeNode* n = levels.size() == 1 ? node->Find(levels[0]) : nullptr;
        if (!n || n->attributesFail)
            return E_FAIL;
        ULONG a = SFGAO_FILESYSTEM;
        if (n->folder)
            a |= SFGAO_FOLDER;
        if (n->folder && (!n->kids.empty() || n->enumFails || n->enumBreaks))
            a |= SFGAO_HASSUBFOLDER;
        if (n->hidden)
            a |= SFGAO_HIDDEN;
        *rgf &= a;
        return S_OK;
    }
    HRESULT GetUIObjectOf(HWND, UINT, LPCITEMIDLIST*, REFIID, UINT*, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetDisplayNameOf(LPCITEMIDLIST pidl, DWORD, STRRET* name) override
    {
        const auto levels = Levels(pidl);
        name->uType = STRRET_WSTR;
        name->pOleStr = ShellAllocWide(levels.empty() ? "Fake Desktop" : levels.back());
        return S_OK;
    }
    HRESULT SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, DWORD, LPITEMIDLIST*) override { return E_NOTIMPL; }

    FakeNode* node;

private:
    std::atomic<ULONG> m_ref {1};
};

class FakeNamespace : public ::testing::Test {
protected:
    FakeNamespace()
    {
        EnsureQtApplication();
        root.name = "";
        FakeNode* a = root.Add("a");
        a->Add("a1");
        a->Add("a2")->Add("deep");
        FakeNode* hid = a->Add("zhidden");
        hid->hidden = true;
        a->Add("file.txt", false);
        root.Add("b")->enumFails = true;
        root.Add("c");
        desktop = new FakeFolder(&root);
        ShellSetDesktopFolderForTest(desktop);
        tree = std::make_unique<TPTShellTree>(nullptr);
        list = std::make_unique<TPTShellList>(nullptr);
        tree->SetOptions(ptstoAutoFill | ptstoVirtualFolders);
        list->SetOptions(ptsloAutoFill | ptsloHideFoldersWhenLinkedToTree | ptsloNonFilesystemAncestors);
        tree->SetShellList(list.get());
        tree->FillItems();
    }
    ~FakeNamespace() override
    {
        list.reset();
        tree.reset();
        QCoreApplication::processEvents();
        ShellSetDesktopFolderForTest(nullptr);
        desktop->Release();
    }
    TTreeNode* Child(TTreeNode* n, const std::string& text)
    {
        for (int i = 0; i < n->Count(); ++i)
            if (n->Item(i)->Text() == text)
                return n->Item(i);
        return nullptr;
    }
    std::vector<std::string> Texts(TTreeNode* n)
    {
        std::vector<std::string> out;
        for (int i = 0; i < n->Count(); ++i)
            out.push_back(n->Item(i)->Text());
        return out;
    }

    ScopedManualClock clock;
    FakeNode root;
    FakeFolder* desktop;
    std::unique_ptr<TPTShellTree> tree;
    std::unique_ptr<TPTShellList> list;
};

TEST_F(FakeNamespace, FillsTheRootAndExpandsOnDemand)
{
    TTreeNode* r = tree->GetFirstRootLevelShellNode();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Text(), "Fake Desktop");
    EXPECT_EQ(Texts(r), (std::vector<std::string> {"a", "b", "c"}));
    TTreeNode* a = Child(r, "a");
    EXPECT_TRUE(a->HasChildren());
    EXPECT_EQ(a->Count(), 0);
    EXPECT_FALSE(Child(r, "c")->HasChildren());
    tree->Expand(a);
    EXPECT_EQ(Texts(a), (std::vector<std::string> {"a1", "a2"}));  // no files, no hidden folders
    // A folder that cannot be enumerated shows nothing and keeps its button.
    TTreeNode* b = Child(r, "b");
    tree->Expand(b);
    EXPECT_EQ(b->Count(), 0);
    EXPECT_TRUE(b->HasChildren());
}

TEST_F(FakeNamespace, OneUnreadableItemDoesNotEndTheFill)
{
    root.Find("a")->Find("a1")->attributesFail = true;
    TTreeNode* a = Child(tree->GetFirstRootLevelShellNode(), "a");
    tree->Expand(a);
    EXPECT_EQ(Texts(a), std::vector<std::string> {"a2"});
}

TEST_F(FakeNamespace, SelectionWalkAddsAHiddenFolder)
{
    Pidl target(RawList({"a", "zhidden"}));
    std::vector<std::string> changes;
    tree->OnChange = [&](TObject*, TTreeNode* n) { changes.push_back(n ? n->Text() : ""); };
    tree->DoSetSelectedIdList(target);
    ASSERT_NE(tree->Selected(), nullptr);
    EXPECT_EQ(tree->Selected()->Text(), "zhidden");
    EXPECT_EQ(changes, std::vector<std::string> {"zhidden"});
    // The list shows the selected folder at once.
    EXPECT_EQ(Levels(list->Folder().GetIdList()), (std::vector<std::string> {"a", "zhidden"}));
    // A level that exists nowhere stops the walk at the deepest folder found.
    Pidl missing(RawList({"c", "nothing"}));
    tree->DoSetSelectedIdList(missing);
    EXPECT_EQ(tree->Selected()->Text(), "c");
}

TEST_F(FakeNamespace, RefreshComparesAndSelectsTheParentOfAVanishedFolder)
{
    Pidl target(RawList({"a", "a2", "deep"}));
    tree->DoSetSelectedIdList(target);
    ASSERT_EQ(tree->Selected()->Text(), "deep");
    TTreeNode* a = Child(tree->GetFirstRootLevelShellNode(), "a");
    TTreeNode* a1 = Child(a, "a1");
    root.Find("a")->Remove("a2");
    root.Find("a")->Add("a0");
    tree->RefreshNodes();
    EXPECT_EQ(Texts(a), (std::vector<std::string> {"a0", "a1"}));
    EXPECT_EQ(Child(a, "a1"), a1) << "an unchanged node is kept, not rebuilt";
    EXPECT_EQ(tree->Selected(), a);
    EXPECT_EQ(Levels(list->Folder().GetIdList()), std::vector<std::string> {"a"});
}

TEST_F(FakeNamespace, AFailingEnumerationInARefreshKeepsTheNodes)
{
    TTreeNode* a = Child(tree->GetFirstRootLevelShellNode(), "a");
    tree->Expand(a);
    ASSERT_EQ(a->Count(), 2);
    root.Find("a")->enumBreaks = true;
    tree->RefreshNodes();
    EXPECT_EQ(Texts(a), (std::vector<std::string> {"a1", "a2"}));
    root.Find("a")->enumBreaks = false;
    root.Find("a")->enumFails = true;
    tree->RefreshNodes();
    EXPECT_EQ(Texts(a), (std::vector<std::string> {"a1", "a2"}));
}

TEST_F(FakeNamespace, ListRefreshKeepsItemsWhenTheEnumerationFails)
{
    list->SetOptions(list->Options() & ~ptsloHideFoldersWhenLinkedToTree);
    Pidl target(RawList({"a"}));
    tree->DoSetSelectedIdList(target);
    ASSERT_EQ(list->Items().Count(), 3);  // a1, a2, file.txt
    root.Find("a")->enumFails = true;
    list->RefreshItems();
    EXPECT_EQ(list->Items().Count(), 3);
    root.Find("a")->enumFails = false;
    root.Find("a")->enumBreaks = true;
    list->RefreshItems();
    EXPECT_EQ(list->Items().Count(), 3);
    root.Find("a")->enumBreaks = false;
    root.Find("a")->Remove("a1");
    root.Find("a")->Add("new.txt", false);
    list->RefreshItems();
    std::vector<std::string> names;
    for (int i = 0; i < list->Items().Count(); ++i)
        names.push_back(list->GetShListData(i)->GetDisplayName());
    EXPECT_EQ(names, (std::vector<std::string> {"a2", "file.txt", "new.txt"}));
}

} // namespace


namespace {

// A tree the user has opened and scrolled: a change in a watched folder
// must leave the rows where they are.
class OpenTree : public FakeNamespace {
protected:
    OpenTree()
    {
        FakeNode* a = root.Find("a");
        for (int i = 10; i < 50; ++i)
            a->Add("f" + std::to_string(i))->Add("inner")->Add("innermost");
        tree->SetBounds(0, 0, 220, 160);
        tree->Widget()->show();
        rootNode = tree->GetFirstRootLevelShellNode();
        aNode = Child(rootNode, "a");
        tree->Expand(aNode);
        for (const char* name : {"a2", "f12", "f30", "f44"})
            tree->Expand(Child(aNode, name));
        tree->Expand(Child(Child(aNode, "f30"), "inner"));
    }
    QTreeWidget* Widget() { return static_cast<QTreeWidget*>(tree->Widget()); }
    QScrollBar* VBar() { return Widget()->verticalScrollBar(); }
    // The node in the first row the user sees.
    TTreeNode* TopNode() { return tree->GetNodeAt(20, Widget()->viewport()->mapTo(Widget(), QPoint(0, 1)).y()); }
    std::vector<std::string> OpenNodes()
    {
        std::vector<std::string> out;
        std::function<void(TTreeNode*, const std::string&)> walk = [&](TTreeNode* n, const std::string& path) {
            if (tree->Expanded(n))
                out.push_back(path + n->Text());
            for (int i = 0; i < n->Count(); ++i)
                walk(n->Item(i), path + n->Text() + "/");
        };
        walk(rootNode, "");
        return out;
    }
    void ChangeNotified()
    {
        tree->Perform(AM_CHANGENOTIFY, 0, 0);
        clock.clock.Advance(2000);
    }
    TTreeNode* rootNode = nullptr;
    TTreeNode* aNode = nullptr;
};

TEST_F(OpenTree, ARefreshKeepsOpenFoldersSelectionAndTheRowsOnScreen)
{
    TTreeNode* f20 = Child(aNode, "f20");
    tree->SetSelected(f20);
    clock.clock.Advance(500);
    // The user scrolls away from the selection, down to f30.
    tree->MakeVisible(Child(aNode, "f30"));
    VBar()->setValue(VBar()->value() + 3);
    TTreeNode* top = TopNode();
    ASSERT_NE(top, nullptr);
    ASSERT_GT(VBar()->value(), 0);
    const std::vector<std::string> open = OpenNodes();
    ASSERT_EQ(open.size(), 7u);
    int changes = 0;
    tree->OnChange = [&](TObject*, TTreeNode*) { ++changes; };

    // New folders sort in above the rows on screen and among them; one
    // vanishes above them, one inside an open folder.
    FakeNode* a = root.Find("a");
    a->Add("a0");
    a->Add("f205");
    a->Remove("f15");
    a->Find("f44")->Add("another");
    a->Find("a2")->Add("deep2");
    ChangeNotified();

    EXPECT_EQ(Child(aNode, "a0") != nullptr, true) << "the refresh ran";
    EXPECT_EQ(Child(aNode, "f15"), nullptr);
    EXPECT_EQ(OpenNodes(), open) << "every open folder stays open";
    EXPECT_EQ(tree->Selected(), f20);
    EXPECT_EQ(TopNode(), top) << "the row at the top stays at the top";
    EXPECT_EQ(changes, 1) << "the reselection runs the change event once";

    // The folder at the top vanishes: the view stays near where it was.
    const int before = VBar()->value();
    a->Remove(top->Text());
    ChangeNotified();
    EXPECT_NEAR(VBar()->value(), before, 1);
    EXPECT_EQ(tree->Selected(), f20);
}

TEST_F(OpenTree, AnOpenFolderThatVanishesTakesOnlyItsOwnNodes)
{
    const std::vector<std::string> open = OpenNodes();
    root.Find("a")->Remove("f30");
    root.Find("a")->Add("f31");
    ChangeNotified();
    ASSERT_NE(Child(aNode, "f31"), nullptr);
    std::vector<std::string> expected;
    for (const std::string& path : open)
        if (path.find("/f30") == std::string::npos)
            expected.push_back(path);
    EXPECT_EQ(OpenNodes(), expected);
}

} // namespace
