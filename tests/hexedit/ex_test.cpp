// The extended control: saving with a backup, its Ctrl shortcuts, the paint
// lock, range undo and the undo dump.
#include "hex_fixture.h"
#include "test_support/temp_dir.h"
#include "vcl/menus.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <filesystem>

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
    offsets.Menu()->hide();
    normal.Menu()->hide();
    hex->SetOffsetPopupMenu(nullptr);
    hex->PopupMenu = nullptr;
}

}  // namespace
