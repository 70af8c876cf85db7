// Shell items in drag and drop: the exact blocks of the data object, its
// answers and the drop source's rules, the effects dragged items allow (and
// a damaged item block counting as absent), and the folder drop target over
// the file-operation engine: effects by keys and file system, the
// right-button menu, moves onto the items' own folder, links and another
// program's list of URLs.
#include "shell_env.h"

#include "ole/ole_p.h"
#include "shell/shldragdrop.h"

#include "test_support/scripted_prompts.h"

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <deque>
#include <functional>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::vector<BYTE> BytesOf(HGLOBAL block)
{
    const auto* p = static_cast<const BYTE*>(GlobalLock(block));
    std::vector<BYTE> bytes(p, p + GlobalSize(block));
    GlobalUnlock(block);
    return bytes;
}

std::vector<BYTE> DataBytes(IDataObject* data, CLIPFORMAT format)
{
    FORMATETC request{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (data->GetData(&request, &medium) != S_OK)
        return {};
    std::vector<BYTE> bytes = BytesOf(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return bytes;
}

std::uint32_t Dword(const std::vector<BYTE>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The data object of items given by full path, all in one folder.
TComPtr<IDataObject> DataOfPaths(const std::string& folder, const std::vector<std::string>& paths)
{
    Pidl parent(ParsePath(folder));
    std::deque<Pidl> absolute;
    std::vector<LPCITEMIDLIST> items;
    for (const std::string& p : paths) {
        absolute.emplace_back(ParsePath(p));
        const BYTE* b = reinterpret_cast<const BYTE*>(absolute.back().p);
        // The last item of the absolute list is the relative one.
        std::size_t at = 0, last = 0;
        while (ItemIdSize(b + at)) {
            last = at;
            at += ItemIdSize(b + at);
        }
        items.push_back(reinterpret_cast<LPCITEMIDLIST>(b + last));
    }
    return TComPtr<IDataObject>(new TShellDataObject(parent, items, paths));
}

TComPtr<IDropTarget> FolderTarget(const std::string& folder)
{
    Pidl absolute(ParsePath(folder));
    TComPtr<IDropTarget> target;
    EXPECT_EQ(ShellGetUIObjectOfIdList(absolute, IID_IDropTarget, reinterpret_cast<void**>(target.Out())), S_OK);
    return target;
}

// Enter, over and drop as the drag loop does; the effect the drop performed.
DWORD DropOn(IDropTarget* target, IDataObject* data, DWORD keys, DWORD offered, DWORD* entered = nullptr)
{
    DWORD e = offered;
    EXPECT_EQ(target->DragEnter(data, keys, POINTL{10, 10}, &e), S_OK);
    if (entered)
        *entered = e;
    e = offered;
    target->DragOver(keys, POINTL{10, 10}, &e);
    e = offered;
    EXPECT_EQ(target->Drop(data, keys, POINTL{10, 10}, &e), S_OK);
    return e;
}

constexpr DWORD kAll = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;

class ShellDrag : public ::testing::Test {
protected:
    void SetUp() override { EnsureShellApplication(); }
    ShellEnv env;
};

} // namespace

TEST_F(ShellDrag, HDropOfAnEightCharacterPathIsSizedFromTheName)
{
    HGLOBAL block = nullptr;
    ASSERT_EQ(BuildHDropGlobal({"/tmp/a.b"}, &block), S_OK);
    const std::vector<BYTE> bytes = BytesOf(block);
    GlobalFree(block);
    ASSERT_EQ(bytes.size(), 20u + 8 + 1 + 1);
    EXPECT_EQ(Dword(bytes, 0), 20u);
    for (std::size_t at = 4; at < 20; ++at)
        EXPECT_EQ(bytes[at], 0) << at;
    EXPECT_EQ(std::string(bytes.begin() + 20, bytes.begin() + 28), "/tmp/a.b");
    EXPECT_EQ(bytes[28], 0);
    EXPECT_EQ(bytes[29], 0);
}

TEST_F(ShellDrag, LongPathsTravelWholeAsHDropAndUriList)
{
    const std::string dir = env.Home() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
    fs::create_directories(dir);
    std::string path = dir + "/" + std::string(600 - dir.size() - 1, 'f');
    ASSERT_EQ(path.size(), 600u);
    std::ofstream(path) << "x";
    std::ofstream(dir + "/short") << "y";
    TComPtr<IDataObject> data = DataOfPaths(dir, {path, dir + "/short"});
    const std::vector<BYTE> bytes = DataBytes(data.Get(), CF_HDROP);
    const std::vector<std::string> names = NamesOfDropFiles(bytes.data(), bytes.size());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], path);
    EXPECT_EQ(names[1], dir + "/short");
    EXPECT_EQ(bytes.size(), 20u + 601 + dir.size() + 7 + 1);
    // Another program reads it as a list of file URLs.
    TDataObjectMime mime(data.Get());
    const QList<QUrl> urls = mime.urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls[0].toLocalFile().toStdString(), path);
}

// The file list another program reads, byte for byte: every byte but the
// unreserved ones and "/" escaped, names of any bytes, one line each.
TEST_F(ShellDrag, TheUriListIsWrittenStraightFromTheFileList)
{
    std::string accents, escaped;
    for (int i = 0; i < 3000; ++i) {
        accents += "\xC3\xA9";
        escaped += "%C3%A9";
    }
    const struct {
        std::string path;
        std::string line;
    } cases[] = {
        {"/tmp/a.b", "file:///tmp/a.b"},
        {"/tmp/A-Z_0~9", "file:///tmp/A-Z_0~9"},
        {"/tmp/a b%#?&+", "file:///tmp/a%20b%25%23%3F%26%2B"},
        {"/tmp/\xC3\xA9t\xC3\xA9", "file:///tmp/%C3%A9t%C3%A9"},
        {"/tmp/bad\xFF\x01", "file:///tmp/bad%FF%01"},
        // Three times as long as a URL: more than the list's first room.
        {"/tmp/" + accents, "file:///tmp/" + escaped},
        {"/tmp/z", "file:///tmp/z"},
    };
    std::vector<LPCITEMIDLIST> items;
    std::vector<std::string> paths;
    std::string expected;
    static const BYTE item[] = {4, 0, 0x56, 0, 0, 0};
    for (const auto& c : cases) {
        items.push_back(reinterpret_cast<LPCITEMIDLIST>(item));
        paths.push_back(c.path);
        expected += c.line + "\r\n";
    }
    TComPtr<IDataObject> data(new TShellDataObject(nullptr, items, paths));
    TDataObjectMime mime(data.Get());
    EXPECT_EQ(mime.data("text/uri-list").toStdString(), expected);
}

// Names added one by one grow the block as needed; the block handed out is
// exactly the header, the names and the final zero byte.
TEST_F(ShellDrag, AFileListBuiltNameByNameIsSizedToItsNames)
{
    TDropNames names;
    std::vector<std::string> expected;
    std::size_t bytes = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "name " + std::string(static_cast<std::size_t>(i % 70), 'x') + std::to_string(i);
        names.Add("/folder/", name);
        expected.push_back("/folder/" + name);
        bytes += expected.back().size() + 1;
    }
    EXPECT_EQ(names.Count(), 1000u);
    HGLOBAL block = names.TakeBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(names.TakeBlock(), nullptr) << "the block is handed out once";
    const std::vector<BYTE> b = BytesOf(block);
    GlobalFree(block);
    EXPECT_EQ(b.size(), 20 + bytes + 1);
    EXPECT_EQ(NamesOfDropFiles(b.data(), b.size()), expected);
}

// A reader is handed the object's own block, kept alive by the medium: it
// stays readable after the object's last other reference has gone.
TEST_F(ShellDrag, TheFileListOutlivesTheObjectUntilTheMediumIsReleased)
{
    static const BYTE item[] = {4, 0, 0x56, 0, 0, 0};
    STGMEDIUM medium{};
    {
        TComPtr<IDataObject> data(new TShellDataObject(nullptr, {reinterpret_cast<LPCITEMIDLIST>(item)}, {"/tmp/x"}));
        FORMATETC request{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        ASSERT_EQ(data->GetData(&request, &medium), S_OK);
        EXPECT_NE(medium.pUnkForRelease, nullptr);
    }
    const std::vector<BYTE> bytes = BytesOf(medium.hGlobal);
    EXPECT_EQ(NamesOfDropFiles(bytes.data(), bytes.size()), std::vector<std::string>({"/tmp/x"}));
    ReleaseStgMedium(&medium);
}

TEST_F(ShellDrag, IdListArrayOfTwoDesktopItems)
{
    // Computer and the home folder lie on the desktop itself: their absolute
    // lists have one item each.
    Pidl one, two(ParsePath(env.Home()));
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &one), S_OK);
    ASSERT_EQ(ItemIdSize(reinterpret_cast<const BYTE*>(one.p) + ItemIdSize(one.p)), 0);
    ASSERT_EQ(ItemIdSize(reinterpret_cast<const BYTE*>(two.p) + ItemIdSize(two.p)), 0);
    HGLOBAL block = nullptr;
    ASSERT_EQ(BuildIdListArrayGlobal(nullptr, {one.p, two.p}, &block), S_OK);
    const std::vector<BYTE> b = BytesOf(block);
    GlobalFree(block);
    const std::size_t size1 = ItemIdSize(one.p), size2 = ItemIdSize(two.p);
    EXPECT_EQ(b.size(), 4u * 2 + 8 + 2 + size1 + 2 + size2 + 2);
    EXPECT_EQ(Dword(b, 0), 2u);
    EXPECT_EQ(Dword(b, 4), 16u);
    EXPECT_EQ(Dword(b, 8), 18u);
    EXPECT_EQ(Dword(b, 12), 18u + size1 + 2);
    EXPECT_EQ(b[16], 0);
    EXPECT_EQ(b[17], 0);
    EXPECT_EQ(std::memcmp(b.data() + 18, one.p, size1 + 2), 0);
    EXPECT_EQ(std::memcmp(b.data() + Dword(b, 12), two.p, size2 + 2), 0);

    ShellIdListArray read;
    ASSERT_TRUE(ReadIdListArray(b.data(), b.size(), read));
    EXPECT_EQ(ItemIdSize(read.parent), 0);
    ASSERT_EQ(read.items.size(), 2u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(read.items[1]), b.data() + Dword(b, 12));
}

// Lists added one at a time, the block growing from no room at all and
// the header made for more items than came, give the block of all the
// lists at once; more items than announced give none.
TEST_F(ShellDrag, AnIdListArrayBuiltListByListIsTheWholeBlock)
{
    Pidl parent(ParsePath(env.Home()));
    std::deque<Pidl> relative;
    std::vector<LPCITEMIDLIST> items;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "file " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 50), 'x');
        env.dir.Write("home/" + name, "");
        Pidl absolute(ParsePath(env.Home() + "/" + name));
        TPTIdListArray levels(absolute.p);
        relative.emplace_back(CopyIdList(nullptr, levels.GetItem(levels.GetCount() - 1)));
        items.push_back(relative.back().p);
    }
    HGLOBAL whole = nullptr;
    ASSERT_EQ(BuildIdListArrayGlobal(parent.p, items, &whole), S_OK);
    const std::vector<BYTE> expected = BytesOf(whole);
    GlobalFree(whole);
    for (const std::size_t room : {items.size(), items.size() + 1, 2 * items.size()}) {
        TIdListArrayBuilder builder(parent.p, room, 0);
        for (LPCITEMIDLIST item : items)
            builder.Add(item);
        EXPECT_EQ(builder.Count(), items.size());
        HGLOBAL block = builder.TakeBlock();
        ASSERT_NE(block, nullptr) << room;
        EXPECT_EQ(BytesOf(block), expected) << room;
        for (std::size_t k = 0; k < items.size(); k += 37)
            EXPECT_EQ(std::memcmp(TIdListArrayBuilder::ListOf(block, k + 1), items[k], ItemIdSize(items[k]) + 2), 0);
        GlobalFree(block);
    }
    TIdListArrayBuilder tooMany(parent.p, items.size() - 1, 0);
    for (LPCITEMIDLIST item : items)
        tooMany.Add(item);
    EXPECT_EQ(tooMany.TakeBlock(), nullptr);
}

// A data object offering only the bytes it is given as "Shell IDList Array".
class RawIdListObject : public TDataObjectBase {
public:
    explicit RawIdListObject(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
    HRESULT QueryGetData(const FORMATETC* f) override
    {
        return f && f->cfFormat == ShellIdListFormat() ? S_OK : DV_E_FORMATETC;
    }
    HRESULT GetData(const FORMATETC* f, STGMEDIUM* m) override
    {
        const HRESULT hr = StartGetData(f, m);
        if (hr != S_OK)
            return hr;
        m->tymed = TYMED_HGLOBAL;
        m->hGlobal = BlockOfBytes(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size());
        return S_OK;
    }

protected:
    IEnumFORMATETC* NewFormatEnumerator() override { return new TEnumFormatEtc({ContentFormat(ShellIdListFormat())}); }

private:
    std::vector<BYTE> m_bytes;
};

TEST_F(ShellDrag, AGarbledIdListArrayCountsAsAbsent)
{
    // Computer alone allows only a link: a sound block of it answers 4.
    Pidl computer;
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer), S_OK);
    HGLOBAL block = nullptr;
    ASSERT_EQ(BuildIdListArrayGlobal(nullptr, {computer.p}, &block), S_OK);
    const std::vector<BYTE> sound = BytesOf(block);
    GlobalFree(block);
    TComPtr<IDataObject> good(new RawIdListObject(sound));
    EXPECT_EQ(GetDataObjectEffects(good.Get()), DROPEFFECT_LINK);

    struct Case {
        const char* what;
        std::function<void(std::vector<BYTE>&)> damage;
    };
    const Case cases[] = {
        {"count past the block", [](std::vector<BYTE>& b) { b[0] = 0xFF, b[1] = 0xFF, b[2] = 0xFF, b[3] = 0x7F; }},
        {"offset past the block", [](std::vector<BYTE>& b) { b[8] = 0xF0, b[9] = 0xFF; }},
        {"offset into the header", [](std::vector<BYTE>& b) { b[8] = 4; }},
        {"list without terminator", [](std::vector<BYTE>& b) { b.resize(b.size() - 2); }},
        {"item size past the end", [](std::vector<BYTE>& b) { b[14] = 0xFF, b[15] = 0x7F; }},
        {"shorter than a header", [](std::vector<BYTE>& b) { b.resize(6); }},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> bytes = sound;
        c.damage(bytes);
        ShellIdListArray read;
        EXPECT_FALSE(ReadIdListArray(bytes.data(), bytes.size(), read)) << c.what;
        TComPtr<IDataObject> bad(new RawIdListObject(bytes));
        EXPECT_EQ(GetDataObjectEffects(bad.Get()), kAll) << c.what;
    }
    EXPECT_EQ(GetDataObjectEffects(nullptr), kAll);
}

TEST_F(ShellDrag, EffectsOfMixedItemsAreWhatEveryItemAllows)
{
    // Computer can only be linked to, the home folder not moved, a file
    // anything.
    Pidl computer, home(ParsePath(env.Home()));
    ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer), S_OK);
    struct Case {
        std::vector<LPCITEMIDLIST> items;
        DWORD effects;
    };
    const Case cases[] = {
        {{home.p}, DROPEFFECT_COPY | DROPEFFECT_LINK},
        {{computer.p}, DROPEFFECT_LINK},
        {{home.p, computer.p}, DROPEFFECT_LINK},
    };
    for (const Case& c : cases) {
        TComPtr<IDataObject> data(new TShellDataObject(nullptr, c.items, std::vector<std::string>(c.items.size())));
        EXPECT_EQ(GetDataObjectEffects(data.Get()), c.effects) << c.items.size();
        // Virtual items have no paths: no CF_HDROP.
        FORMATETC hdrop = ContentFormat(CF_HDROP);
        EXPECT_EQ(data->QueryGetData(&hdrop), DV_E_FORMATETC);
    }
    std::ofstream(env.Home() + "/file") << "1";
    EXPECT_EQ(GetDataObjectEffects(DataOfPaths(env.Home(), {env.Home() + "/file"}).Get()), kAll);
}

TEST_F(ShellDrag, DataObjectAnswersAndFormats)
{
    std::ofstream(env.Home() + "/f") << "1";
    TComPtr<IDataObject> data = DataOfPaths(env.Home(), {env.Home() + "/f"});
    struct Case {
        CLIPFORMAT format;
        DWORD aspect;
        DWORD tymed;
        HRESULT answer;
    };
    const Case cases[] = {
        {CF_HDROP, DVASPECT_CONTENT, TYMED_HGLOBAL, S_OK},
        {ShellIdListFormat(), DVASPECT_CONTENT, TYMED_HGLOBAL | TYMED_ISTREAM, S_OK},
        {CF_HDROP, DVASPECT_CONTENT, TYMED_ISTREAM, DV_E_TYMED},
        {CF_TEXT, DVASPECT_CONTENT, TYMED_HGLOBAL, DV_E_FORMATETC},
        {CF_HDROP, DVASPECT_ICON, TYMED_HGLOBAL, DV_E_FORMATETC},
    };
    for (const Case& c : cases) {
        FORMATETC f{c.format, nullptr, c.aspect, 5, c.tymed};
        EXPECT_EQ(data->QueryGetData(&f), c.answer) << c.format << " " << c.aspect << " " << c.tymed;
        STGMEDIUM m{};
        EXPECT_EQ(data->GetData(&f, &m), c.answer);
        ReleaseStgMedium(&m);
    }
    // Two formats in order; the enumerator steps, skips and clones.
    TComPtr<IEnumFORMATETC> formats;
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, formats.Out()), S_OK);
    FORMATETC got[3];
    ULONG fetched = 0;
    EXPECT_EQ(formats->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0].cfFormat, ShellIdListFormat());
    EXPECT_EQ(got[1].cfFormat, CF_HDROP);
    formats->Reset();
    EXPECT_EQ(formats->Skip(1), S_OK);
    TComPtr<IEnumFORMATETC> clone;
    ASSERT_EQ(formats->Clone(clone.Out()), S_OK);
    EXPECT_EQ(formats->Skip(2), S_FALSE);
    TComPtr<IEnumFORMATETC> none;
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, none.Out()), E_NOTIMPL);
    EXPECT_FALSE(none);
    FORMATETC f = ContentFormat(CF_HDROP);
    STGMEDIUM m{};
    EXPECT_EQ(data->GetDataHere(&f, &m), DV_E_FORMATETC);
    EXPECT_EQ(data->DAdvise(&f, 0, nullptr, nullptr), OLE_E_ADVISENOTSUPPORTED);
    // An object of no items offers nothing.
    TComPtr<IDataObject> empty(new TShellDataObject(nullptr, {}, {}));
    EXPECT_EQ(empty->QueryGetData(&f), DV_E_FORMATETC);
}

TEST_F(ShellDrag, DropSourceRules)
{
    struct Case {
        int button;
        BOOL escape;
        DWORD keys;
        HRESULT answer;
    };
    const Case cases[] = {
        {0, FALSE, MK_LBUTTON, S_OK},
        {0, FALSE, 0, DRAGDROP_S_DROP},
        {0, FALSE, MK_LBUTTON | MK_CONTROL, S_OK},
        {0, TRUE, MK_LBUTTON, DRAGDROP_S_CANCEL},
        {0, FALSE, MK_LBUTTON | MK_RBUTTON, DRAGDROP_S_CANCEL},
        {1, FALSE, MK_RBUTTON, S_OK},
        {1, FALSE, MK_SHIFT, DRAGDROP_S_DROP},
        {1, FALSE, MK_RBUTTON | MK_MBUTTON, DRAGDROP_S_CANCEL},
        {2, FALSE, MK_MBUTTON, S_OK},
        {2, FALSE, MK_LBUTTON, DRAGDROP_S_CANCEL},
    };
    for (const Case& c : cases) {
        TComPtr<IDropSource> source(new TShellDropSource(c.button));
        EXPECT_EQ(source->QueryContinueDrag(c.escape, c.keys), c.answer) << c.button << " " << c.keys;
        EXPECT_EQ(source->GiveFeedback(DROPEFFECT_COPY), DRAGDROP_S_USEDEFAULTCURSORS);
    }
}

TEST_F(ShellDrag, FolderDropMovesCopiesAndLinksByKeys)
{
    const std::string from = env.Home() + "/from", to = env.Home() + "/to";
    fs::create_directories(from);
    fs::create_directories(to);
    TComPtr<IDropTarget> target = FolderTarget(to);
    ASSERT_TRUE(target);
    struct Case {
        const char* name;
        DWORD keys;
        DWORD effect;
    };
    const Case cases[] = {
        {"plain", MK_LBUTTON, DROPEFFECT_MOVE},  // one file system: a move
        {"ctrl", MK_LBUTTON | MK_CONTROL, DROPEFFECT_COPY},
        {"shift", MK_LBUTTON | MK_SHIFT, DROPEFFECT_MOVE},
        {"ctrlshift", MK_LBUTTON | MK_CONTROL | MK_SHIFT, DROPEFFECT_LINK},
        {"alt", MK_LBUTTON | MK_ALT, DROPEFFECT_LINK},
    };
    for (const Case& c : cases) {
        const std::string source = from + "/" + c.name;
        std::ofstream(source) << c.name;
        TComPtr<IDataObject> data = DataOfPaths(from, {source});
        DWORD entered = 0;
        EXPECT_EQ(DropOn(target.Get(), data.Get(), c.keys, kAll, &entered), c.effect) << c.name;
        EXPECT_EQ(entered, c.effect) << c.name;
        const std::string placed = to + "/" + c.name;
        EXPECT_TRUE(fs::exists(placed)) << c.name;
        EXPECT_EQ(fs::exists(source), c.effect != DROPEFFECT_MOVE) << c.name;
        EXPECT_EQ(fs::is_symlink(placed), c.effect == DROPEFFECT_LINK) << c.name;
    }
    // A key asking for an effect the source does not allow drops nothing.
    std::ofstream(from + "/kept") << "k";
    TComPtr<IDataObject> data = DataOfPaths(from, {from + "/kept"});
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON | MK_SHIFT, DROPEFFECT_COPY), DROPEFFECT_NONE);
    // Without keys, the first allowed effect stands in for a refused move.
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON, DROPEFFECT_COPY | DROPEFFECT_LINK), DROPEFFECT_COPY);
    EXPECT_TRUE(fs::exists(from + "/kept"));
    EXPECT_TRUE(fs::exists(to + "/kept"));
}

TEST_F(ShellDrag, FolderDropAcrossFileSystemsCopies)
{
    // /dev/shm is a file system of its own (tmpfs) on any Linux.
    struct stat home, shm;
    if (::stat(env.Home().c_str(), &home) != 0 || ::stat("/dev/shm", &shm) != 0 || home.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system";
    TempDir other("/dev/shm");
    const std::string source = other.Path("across.txt");
    std::ofstream(source) << "across";
    TComPtr<IDataObject> data = DataOfPaths(fs::path(source).parent_path().string(), {source});
    TComPtr<IDropTarget> target = FolderTarget(env.Home());
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON, kAll), DROPEFFECT_COPY);
    EXPECT_TRUE(fs::exists(source));
    EXPECT_TRUE(fs::exists(env.Home() + "/across.txt"));
}

TEST_F(ShellDrag, MovingOntoTheOwnFolderDoesNothing)
{
    const std::string dir = env.Home() + "/own";
    fs::create_directories(dir + "/sub");
    std::ofstream(dir + "/a") << "a";
    TComPtr<IDropTarget> target = FolderTarget(dir);
    TComPtr<IDataObject> data = DataOfPaths(dir, {dir + "/a"});
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON, kAll), DROPEFFECT_NONE);
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON | MK_SHIFT, kAll), DROPEFFECT_NONE);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    // Nor does a folder go into itself.
    TComPtr<IDropTarget> sub = FolderTarget(dir + "/sub");
    TComPtr<IDataObject> parent = DataOfPaths(env.Home(), {dir});
    EXPECT_EQ(DropOn(sub.Get(), parent.Get(), MK_LBUTTON | MK_CONTROL, kAll), DROPEFFECT_NONE);
    EXPECT_FALSE(fs::exists(dir + "/sub/own"));
}

namespace {
// Answers the next popup menu from inside its loop: records its entries and
// picks the one with the caption (empty: Escape).
void AnswerNextMenu(std::string caption, std::vector<std::string>* seen)
{
    QTimer::singleShot(0, [caption, seen] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            ADD_FAILURE() << "no menu is open";
            return;
        }
        QAction* pick = nullptr;
        for (QAction* a : menu->actions()) {
            const std::string text = a->isSeparator() ? "-" : a->text().remove('&').toStdString();
            seen->push_back(text);
            if (text == caption)
                pick = a;
        }
        if (!pick) {
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        menu->setActiveAction(pick);
        QTest::keyClick(menu, Qt::Key_Return);
    });
}
} // namespace

TEST_F(ShellDrag, RightButtonDropAsksAndOffersOnlyAllowedEffects)
{
    const std::string from = env.Home() + "/from", to = env.Home() + "/to";
    fs::create_directories(from);
    fs::create_directories(to);
    std::ofstream(from + "/r") << "r";
    TComPtr<IDropTarget> target = FolderTarget(to);
    TComPtr<IDataObject> data = DataOfPaths(from, {from + "/r"});

    std::vector<std::string> seen;
    AnswerNextMenu("Copy Here", &seen);
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_RBUTTON, kAll), DROPEFFECT_COPY);
    EXPECT_EQ(seen, (std::vector<std::string>{"Copy Here", "Move Here", "Create Link Here", "-", "Cancel"}));
    EXPECT_TRUE(fs::exists(to + "/r"));
    EXPECT_TRUE(fs::exists(from + "/r"));

    seen.clear();
    AnswerNextMenu("Cancel", &seen);
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_RBUTTON, DROPEFFECT_COPY | DROPEFFECT_MOVE), DROPEFFECT_NONE);
    EXPECT_EQ(seen, (std::vector<std::string>{"Copy Here", "Move Here", "-", "Cancel"}));
    EXPECT_TRUE(fs::exists(from + "/r"));

    // On the items' own folder the menu has no move.
    seen.clear();
    TComPtr<IDropTarget> own = FolderTarget(from);
    AnswerNextMenu("", &seen);
    EXPECT_EQ(DropOn(own.Get(), data.Get(), MK_RBUTTON, kAll), DROPEFFECT_NONE);
    EXPECT_EQ(seen, (std::vector<std::string>{"Copy Here", "Create Link Here", "-", "Cancel"}));
}

TEST_F(ShellDrag, AnotherProgramsUriListDropsLocalFilesOnly)
{
    const std::string to = env.Home() + "/to";
    fs::create_directories(to);
    std::ofstream(env.dir.Path("foreign.txt")) << "f";
    TComPtr<IDropTarget> target = FolderTarget(to);

    QMimeData remote;
    remote.setData("text/uri-list", "https://example.org/x.txt\r\n");
    TComPtr<IDataObject> refused = DataObjectOfMime(&remote);
    DWORD entered = kAll;
    EXPECT_EQ(target->DragEnter(refused.Get(), MK_LBUTTON, POINTL{0, 0}, &entered), S_OK);
    EXPECT_EQ(entered, DROPEFFECT_NONE);
    target->DragLeave();

    QMimeData local;
    local.setData("text/uri-list", QUrl::fromLocalFile(QString::fromStdString(env.dir.Path("foreign.txt"))).toEncoded() + "\r\n");
    TComPtr<IDataObject> data = DataObjectOfMime(&local);
    EXPECT_EQ(DropOn(target.Get(), data.Get(), MK_LBUTTON | MK_CONTROL, kAll), DROPEFFECT_COPY);
    EXPECT_TRUE(fs::exists(to + "/foreign.txt"));
}

// A data object of another program that throws from GetData.
class ThrowingObject : public TDataObjectBase {
public:
    HRESULT QueryGetData(const FORMATETC*) override { return S_OK; }
    HRESULT GetData(const FORMATETC*, STGMEDIUM*) override { throw std::runtime_error("the source broke"); }

protected:
    IEnumFORMATETC* NewFormatEnumerator() override { return new TEnumFormatEtc({ContentFormat(CF_HDROP)}); }
};

TEST_F(ShellDrag, AFailingDropAnswersEFailAndShowsTheErrorOnce)
{
    ScopedScriptedPrompts scripted(*Application);
    TComPtr<IDropTarget> target = FolderTarget(env.Home());
    TComPtr<IDataObject> data(new ThrowingObject());
    DWORD e = kAll;
    EXPECT_EQ(target->DragEnter(data.Get(), MK_LBUTTON, POINTL{0, 0}, &e), E_FAIL);
    EXPECT_EQ(e, DROPEFFECT_NONE);
    e = kAll;
    EXPECT_EQ(target->Drop(data.Get(), MK_LBUTTON, POINTL{0, 0}, &e), E_FAIL);
    EXPECT_EQ(e, DROPEFFECT_NONE);
    ASSERT_EQ(scripted.prompts->asked.size(), 1u);
    EXPECT_NE(scripted.prompts->asked[0].text.find("the source broke"), std::string::npos);
}
