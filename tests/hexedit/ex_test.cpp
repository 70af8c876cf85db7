// The extended control: saving with a backup, its Ctrl shortcuts, the paint
// lock, range undo and the undo dump.
#include "hex_fixture.h"
#include "test_support/temp_dir.h"
#include "test_support/unprivileged.h"
#include "vcl/menus.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <filesystem>
#include <functional>

#include <sys/stat.h>

namespace {

class HexSaveTest : public HexExTest {
protected:
    void Open(const std::string& content)
    {
        dir.Write("data.bin", content);
        hex->LoadFromFile(dir.Path("data.bin"));
    }
    void Change(std::int32_t pos, std::uint8_t value) { hex->IntChangeByte(hex->GetDataAt(pos), value, pos, 0, 0); }
    TempDir dir;
};

TEST_F(HexSaveTest, SaveKeepsTheOldContentAsABackup)
{
    try {
        hex->Save();
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "No Filename specified");
    }
    Open("first");
    // Not modified: saved without a backup.
    hex->Save();
    EXPECT_FALSE(dir.Exists("data.bin.bak"));
    Change(0, 'F');
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin"), "First");
    EXPECT_EQ(dir.Read("data.bin.bak"), "first");
    EXPECT_FALSE(hex->GetModified());
    EXPECT_FALSE(hex->GetCanUndo());
    // A second save keeps only the newest backup.
    Change(1, 'I');
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin"), "FIrst");
    EXPECT_EQ(dir.Read("data.bin.bak"), "First");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"data.bin", "data.bin.bak"}));
    // Saving under another name makes no backup of either file.
    Change(2, 'R');
    hex->SaveToFile(dir.Path("other.bin"), false);
    EXPECT_EQ(dir.Read("other.bin"), "FIRst");
    EXPECT_FALSE(dir.Exists("other.bin.bak"));
    EXPECT_EQ(dir.Read("data.bin.bak"), "First");
}

TEST_F(HexSaveTest, ACancelledSaveLeavesTheFileAndTheOldBackup)
{
    const std::string content = Pattern(200000);
    Open(content);
    dir.Write("data.bin.bak", "old backup");
    Change(5, 0xEE);
    int calls = 0;
    hex->OnProgress = [&](TObject*, TZAZProgressKind kind, const std::string&, std::uint8_t, bool& cancel) {
        if (kind == pkSave && ++calls == 2)
            cancel = true;
    };
    EXPECT_THROW(hex->Save(), EZURadUvudod);
    EXPECT_EQ(dir.Read("data.bin"), content);
    EXPECT_EQ(dir.Read("data.bin.bak"), "old backup");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"data.bin", "data.bin.bak"}));
    EXPECT_TRUE(hex->GetModified());
    hex->OnProgress = nullptr;
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin.bak"), content);
}

TEST_F(HexSaveTest, ABackupThatCannotBeReplacedStopsTheSave)
{
    Open("abc");
    std::filesystem::create_directory(dir.Path("data.bin.bak"));
    dir.Write("data.bin.bak/keep", "x");
    Change(0, 'X');
    try {
        hex->Save();
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message().rfind("Cannot delete previous backup " + dir.Path("data.bin.bak") + ". (", 0), 0u)
            << e.Message();
    }
    EXPECT_EQ(dir.Read("data.bin"), "abc");
    EXPECT_EQ(dir.Read("data.bin.bak/keep"), "x");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"data.bin", "data.bin.bak"}));
    EXPECT_TRUE(hex->GetModified());
}

TEST_F(HexSaveTest, BackupExtensions)
{
    Open("abc");
    EXPECT_THROW(hex->SetBackupExtension("/x"), EZURadUvudod);
    EXPECT_THROW(hex->SetBackupExtension(std::string("a\0b", 3)), EZURadUvudod);
    EXPECT_EQ(hex->BackupExtension(), ".bak");
    // No extension: no backup (the backup would be the file itself).
    hex->SetBackupExtension("");
    Change(0, 'X');
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin"), "Xbc");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"data.bin"});
    hex->SetBackupExtension("~");
    Change(1, 'Y');
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin~"), "Xbc");
    hex->SetCreateBackup(false);
    Change(2, 'Z');
    hex->Save();
    EXPECT_EQ(dir.Read("data.bin~"), "Xbc");
    EXPECT_EQ(dir.Read("data.bin"), "XYZ");
}

// Saving as an ordinary user (a child process as "nobody" when the test
// runs as root) keeps every file what it was: a file the user may not write
// is refused whole, the names and owner of the file saved stay, and the
// backup still holds the content before the save.
class HexIdentityTest : public HexSaveTest {
protected:
    void SetUp() override
    {
        HexSaveTest::SetUp();
        ::chmod(dir.Root().c_str(), 0777);
        std::filesystem::create_directory(dir.Path("closed"));
    }
    void TearDown() override
    {
        ::chmod(dir.Path("closed").c_str(), 0755);
        HexSaveTest::TearDown();
    }
    // A file of the ordinary user, or of root when other is true.
    std::string File(const std::string& relative, const std::string& content, mode_t mode, bool other = false)
    {
        dir.Write(relative, content);
        const std::string path = dir.Path(relative);
        if (::geteuid() == 0 && !other) {
            EXPECT_EQ(::chown(path.c_str(), UnprivilegedUid(), UnprivilegedGid()), 0);
        }
        ::chmod(path.c_str(), mode);
        return path;
    }
    struct stat Stat(const std::string& relative)
    {
        struct stat st {};
        EXPECT_EQ(::stat(dir.Path(relative).c_str(), &st), 0) << relative;
        return st;
    }
    // Runs work on the control as the ordinary user: empty, or its error.
    std::string AsUser(const std::function<void()>& work)
    {
        return RunUnprivileged([&]() -> std::string {
            try {
                work();
                return {};
            } catch (const std::exception& e) {
                return e.what();
            }
        });
    }
};

TEST_F(HexIdentityTest, SaveAsOntoAWriteProtectedFileIsRefusedWhole)
{
    File("ro.bin", "protected", 0444);
    const struct stat before = Stat("ro.bin");
    LoadBytes("new bytes");
    const std::string error = AsUser([&] { hex->SaveToFile(dir.Path("ro.bin"), true); });
    EXPECT_EQ(error.rfind("Cannot create file \"" + dir.Path("ro.bin") + "\". Access is denied", 0), 0u) << error;
    EXPECT_EQ(dir.Read("ro.bin"), "protected");
    const struct stat after = Stat("ro.bin");
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"closed", "ro.bin"}));
}

TEST_F(HexIdentityTest, SavingKeepsLinksOwnerAndModeAndTheBackup)
{
    struct Row {
        const char* file;
        mode_t mode;
        bool other;           // owned by root, writable by all
        const char* link;     // a second name, or none
    };
    for (const Row& row : {Row{"linked.bin", 0640, false, "second.bin"}, Row{"theirs.bin", 0666, true, nullptr},
                           Row{"closed/in.bin", 0600, false, nullptr}}) {
        SCOPED_TRACE(row.file);
        const std::string path = File(row.file, "0123456789", row.mode, row.other);
        if (row.link)
            std::filesystem::create_hard_link(path, dir.Path(row.link));
        hex->LoadFromFile(path);
        Change(0, 'X');
        const struct stat before = Stat(row.file);
        const bool closed = std::string(row.file).rfind("closed/", 0) == 0;
        if (closed) {
            ::chmod(dir.Path("closed").c_str(), 0555);
            hex->SetCreateBackup(false);  // the folder takes no backup
        }
        EXPECT_EQ(AsUser([&] { hex->Save(); }), "");
        ::chmod(dir.Path("closed").c_str(), 0755);
        hex->SetCreateBackup(true);
        EXPECT_EQ(dir.Read(row.file), "X123456789");
        if (row.link) {
            EXPECT_EQ(dir.Read(row.link), "X123456789");
        }
        const struct stat after = Stat(row.file);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (!closed) {
            EXPECT_EQ(dir.Read(std::string(row.file) + ".bak"), "0123456789");
            // A copy for a backup reads no wider than the file.
            EXPECT_EQ(Stat(std::string(row.file) + ".bak").st_mode & 0077, row.mode & 0077);
        }
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"closed", "linked.bin", "linked.bin.bak", "second.bin",
                                                     "theirs.bin", "theirs.bin.bak"}));
    EXPECT_EQ(std::filesystem::directory_iterator(dir.Path("closed"))->path().filename(), "in.bin");
}

TEST_F(HexIdentityTest, ABackupTheFolderCannotTakeStopsTheSave)
{
    const std::string path = File("closed/in.bin", "0123456789", 0644);
    hex->LoadFromFile(path);
    Change(0, 'X');
    ::chmod(dir.Path("closed").c_str(), 0555);
    const std::string error = AsUser([&] { hex->Save(); });
    ::chmod(dir.Path("closed").c_str(), 0755);
    EXPECT_EQ(error.rfind("Cannot create backup " + path + ".bak. (Access is denied)", 0), 0u) << error;
    EXPECT_EQ(dir.Read("closed/in.bin"), "0123456789");
    EXPECT_TRUE(hex->GetModified());
}

TEST_F(HexExTest, CtrlShortcuts)
{
    LoadBytes(Pattern(50));
    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(hex->SelFirst(), 0);
    EXPECT_EQ(hex->SelLast(), 49);
    hex->SetSelStart(4);
    const std::uint8_t old = hex->GetDataAt(4);
    Type(old >> 4 == 1 ? "2" : "1");
    const std::uint8_t typed = hex->GetDataAt(4);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);  // not a shortcut
    EXPECT_EQ(hex->GetDataAt(4), typed);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(hex->GetDataAt(4), old);
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->GetDataAt(4), typed);
    EXPECT_TRUE(hex->GetCanUndo());
}

TEST_F(HexExTest, PaintLock)
{
    LoadBytes(Pattern(50));
    TBitmap image;
    hex->PaintTo(image);  // a fresh image is white; the gutter is not
    const TColor gutter = image.Canvas().Pixel(3, 5);
    ASSERT_NE(gutter, clWhite);
    EXPECT_EQ(hex->BeginUpdate(), 1);
    EXPECT_EQ(hex->BeginUpdate(), 2);
    hex->PaintTo(image);
    EXPECT_EQ(image.Canvas().Pixel(3, 5), clWhite);
    EXPECT_EQ(hex->EndUpdate(), 1);
    EXPECT_EQ(hex->EndUpdate(), 0);
    EXPECT_EQ(hex->EndUpdate(), 0);  // unbalanced: stays at 0
    hex->PaintTo(image);
    EXPECT_EQ(image.Canvas().Pixel(3, 5), gutter);
}

TEST_F(HexExTest, RangeUndoAndTheDump)
{
    TempDir dir;
    LoadBytes("0123456789");
    hex->CreateRangeUndo(2, 3, "Mine");
    EXPECT_FALSE(hex->GetModified());  // recording alone does not modify
    EXPECT_EQ(hex->GetUndoDescription(), "Mine");
    hex->WriteBuffer("abc", 2, 3);  // a host's raw write
    EXPECT_TRUE(hex->GetModified());
    hex->Undo();
    EXPECT_EQ(Data(), "0123456789");

    hex->CreateRangeUndo(0, 0, "");  // a snapshot of all data
    EXPECT_EQ(hex->GetUndoDescription(), "All data saved");
    ASSERT_TRUE(hex->DumpUndoStorage(dir.Path("undo.bin")));
    TZAZUndoStorage& s = hex->UndoStorage();
    EXPECT_EQ(dir.Read("undo.bin"), std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size())));
    EXPECT_EQ(s.Size(), 33 + 10);
    EXPECT_FALSE(hex->DumpUndoStorage(dir.Path("no/such/folder/undo.bin")));
}

TEST_F(HexExTest, TheOffsetMenuServesTheGutterAndTheRuler)
{
    LoadBytes(Pattern(100));
    hex->SetShowRuler(true);
    TPopupMenu normal(nullptr), offsets(nullptr);
    int normalShown = 0, offsetsShown = 0;
    normal.OnPopup = [&](TObject*) { ++normalShown; };
    offsets.OnPopup = [&](TObject*) { ++offsetsShown; };
    hex->PopupMenu = &normal;
    hex->SetOffsetPopupMenu(&offsets);
    auto rightClick = [&](QPoint p) {
        QContextMenuEvent e(QContextMenuEvent::Mouse, p, W()->mapToGlobal(p));
        QCoreApplication::sendEvent(W(), &e);
    };
    rightClick(CellCentre(0, 3));   // the gutter
    rightClick(CellCentre(10, 0));  // the ruler
    rightClick(ByteCentre(20));     // the data
    EXPECT_EQ(offsetsShown, 2);
    EXPECT_EQ(normalShown, 1);
    EXPECT_EQ(offsets.PopupComponent.Get(), hex.get());
    offsets.Menu()->hide();
    normal.Menu()->hide();
    // The control's context event comes first and may keep both menus away.
    hex->OnContextPopup = [](TObject*, TPoint, bool& handled) { handled = true; };
    rightClick(CellCentre(0, 3));
    rightClick(ByteCentre(20));
    EXPECT_EQ(offsetsShown + normalShown, 3);
    hex->OnContextPopup = nullptr;
    // A menu that does not pop up by itself leaves the gutter to the other.
    offsets.AutoPopup = false;
    rightClick(CellCentre(0, 3));
    EXPECT_EQ(offsetsShown, 2);
    EXPECT_EQ(normalShown, 2);
    normal.Menu()->hide();
    hex->SetOffsetPopupMenu(nullptr);
    hex->PopupMenu = nullptr;
}

TEST_F(HexExTest, AFreedOffsetMenuIsForgotten)
{
    LoadBytes(Pattern(100));
    auto* offsets = new TPopupMenu(nullptr);
    hex->SetOffsetPopupMenu(offsets);
    delete offsets;
    EXPECT_EQ(hex->OffsetPopupMenu(), nullptr);
    TPopupMenu normal(nullptr);
    int normalShown = 0;
    normal.OnPopup = [&](TObject*) { ++normalShown; };
    hex->PopupMenu = &normal;
    // On the gutter: the control's own menu, and no freed one touched.
    QContextMenuEvent e(QContextMenuEvent::Mouse, CellCentre(0, 3), W()->mapToGlobal(CellCentre(0, 3)));
    QCoreApplication::sendEvent(W(), &e);
    EXPECT_EQ(normalShown, 1);
    normal.Menu()->hide();
    hex->PopupMenu = nullptr;
}

}  // namespace
