// Keys, typing, the mouse and the wheel, through the control's widget.
#include "hex_fixture.h"

#include "rtl/clock.h"

#include <QKeyEvent>

namespace {

// A typed character that no key of a US layout makes (no key code, only text).
void TypeCharacter(QWidget* w, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
}

TEST(GridKeys, DigitKeysAndTypedCharactersAsWindowsReportsThem)
{
    // Qt names the shifted symbol; Windows names the key.
    TGridKey k = TranslateGridKey(Qt::Key_NumberSign, Qt::ControlModifier | Qt::ShiftModifier, 0);
    EXPECT_EQ(k.Key, '3');
    EXPECT_EQ(k.Shift, ssCtrl | ssShift);
    EXPECT_EQ(TranslateGridKey(Qt::Key_ParenRight, Qt::ShiftModifier, 0).Key, '0');
    EXPECT_EQ(TranslateGridKey(Qt::Key_Exclam, Qt::ShiftModifier, 0).Key, '1');
    // With an X11 key code the layout does not matter (Shift+3 is "section" on a German one).
    EXPECT_EQ(TranslateGridKey(Qt::Key_section, Qt::ShiftModifier | Qt::ControlModifier, 12).Key, '3');
    EXPECT_EQ(TranslateGridKey(Qt::Key_Ampersand, Qt::NoModifier, 10).Key, '1');
    // An unshifted "#" key is not a digit.
    EXPECT_EQ(TranslateGridKey(Qt::Key_NumberSign, Qt::NoModifier, 0).Key, 0);
    // Pressing a modifier key counts it as held.
    EXPECT_EQ(TranslateGridKey(Qt::Key_Shift, Qt::NoModifier, 0).Shift, ssShift);
    EXPECT_EQ(TranslateGridKey(Qt::Key_Control, Qt::NoModifier, 0).Shift, ssCtrl);

    std::uint8_t b = 0;
    EXPECT_TRUE(CharToCp1252(U'A', b));
    EXPECT_EQ(b, 'A');
    EXPECT_TRUE(CharToCp1252(U'\u20AC', b));  // euro sign
    EXPECT_EQ(b, 0x80);
    EXPECT_TRUE(CharToCp1252(U'\u00E9', b));
    EXPECT_EQ(b, 0xE9);
    EXPECT_FALSE(CharToCp1252(U'\u0416', b));  // Cyrillic Zhe
    EXPECT_FALSE(CharToCp1252(U'\u0081', b));  // a byte the page leaves undefined
}

TEST_F(HexEditorTest, TypingByModeFieldUnitSwapAndUnicode)
{
    struct Case {
        const char* what;
        std::string data;
        bool insert, inChar;
        std::int32_t unit;
        bool swap, unicode, bigEndian;
        std::int32_t caret;  // -1: the end slot
        bool lowColumn;
        std::int32_t selFrom, selTo;
        const char* keys;
        std::string expected;
        std::int32_t caretAfter;  // -2: not checked
        bool lowAfter;
    };
    const Case cases[] = {
        {"overwrite, high nibble", Bytes({0x3C, 0}), false, false, 1, false, false, false, 0, false, -1, -1, "f",
         Bytes({0xFC, 0}), 0, true},
        {"overwrite, both nibbles", Bytes({0x3C, 0}), false, false, 1, false, false, false, 0, false, -1, -1, "f0",
         Bytes({0xF0, 0}), 1, false},
        {"insert a byte", Bytes({0, 1, 2, 3, 4, 5, 6}), true, false, 1, false, false, false, 5, false, -1, -1, "a",
         Bytes({0, 1, 2, 3, 4, 0xA0, 5, 6}), 5, true},
        {"insert a byte, second digit in place", Bytes({0, 1, 2, 3, 4, 5, 6}), true, false, 1, false, false, false, 5,
         false, -1, -1, "ab", Bytes({0, 1, 2, 3, 4, 0xAB, 5, 6}), 6, false},
        {"insert a unit of 2", Bytes({0, 1, 2, 3}), true, false, 2, false, false, false, 2, false, -1, -1, "7",
         Bytes({0, 1, 0x70, 0, 2, 3}), 2, true},
        {"insert at the end slot, character field", "ab", true, true, 1, false, false, false, -1, false, -1, -1, "c",
         "abc", 3, false},
        {"overwrite, character field", "xyz", false, true, 1, false, false, false, 1, false, -1, -1, "QR", "xQR", 2,
         false},
        {"swapped nibbles: the first column is the low nibble", Bytes({0x3C, 0x55}), false, false, 1, true, false,
         false, 0, false, -1, -1, "1", Bytes({0x31, 0x55}), 0, true},
        {"swapped nibbles, both", Bytes({0x3C, 0x55}), false, false, 1, true, false, false, 0, false, -1, -1, "12",
         Bytes({0x21, 0x55}), 1, false},
        {"unicode, little-endian", Bytes({0, 0, 0, 0}), false, true, 2, false, true, false, 0, false, -1, -1, "A",
         Bytes({'A', 0, 0, 0}), 2, false},
        {"unicode, big-endian", Bytes({0, 0, 0, 0}), false, true, 2, false, true, true, 0, false, -1, -1, "A",
         Bytes({0, 'A', 0, 0}), 2, false},
        {"insert over a selection", Bytes({0x11, 0x22, 0x33}), true, false, 1, false, false, false, 0, false, 0, 1,
         "7", Bytes({0x70, 0x33}), -2, false},
        // The digit goes into the nibble shown first.
        {"insert over a selection, swapped", Bytes({0x11, 0x22, 0x33}), true, false, 1, true, false, false, 0, false,
         0, 1, "7", Bytes({0x07, 0x33}), -2, false},
        {"insert over a selection, character field", "abcd", true, true, 1, false, false, false, 1, false, 1, 2, "Z",
         "aZd", -2, false},
        {"control characters are ignored", "ab", false, true, 1, false, false, false, 0, false, -1, -1, "\x1b\r", "ab",
         0, false},
    };
    for (const Case& c : cases) {
        LoadBytes(c.data);
        hex->SetSwapNibbles(c.swap);
        hex->SetUnicodeBigEndian(c.bigEndian);
        hex->SetUnicodeChars(c.unicode);
        hex->SetBytesPerUnit(c.unit);
        hex->SetInsertMode(c.insert);
        const std::int32_t caret = c.caret < 0 ? hex->GetDataSize() : c.caret;
        const TGridCoord cell = hex->GetCursorAtPos(caret, c.inChar);
        hex->MoveColRow(cell.X + (c.lowColumn ? 1 : 0), cell.Y, true, true);
        if (c.selFrom >= 0)
            hex->NewSelection(c.selFrom, c.selTo);
        Type(c.keys);
        EXPECT_EQ(Data(), c.expected) << c.what;
        if (c.caretAfter != -2) {
            const TGridCoord after = hex->GetCursorAtPos(c.caretAfter, c.inChar);
            EXPECT_EQ(hex->Col(), after.X + (c.lowAfter ? 1 : 0)) << c.what;
            EXPECT_EQ(hex->Row(), after.Y) << c.what;
        }
        hex->SetInsertMode(false);
        hex->SetUnicodeChars(false);
        hex->SetBytesPerUnit(1);
        hex->SetSwapNibbles(false);
    }
}

TEST_F(HexEditorTest, KeysThatCannotBeTypedReportThemselves)
{
    int invalid = 0;
    hex->OnInvalidKey = [&](TObject*) { ++invalid; };
    LoadBytes("abc");
    Type("g");  // not a hex digit
    EXPECT_EQ(invalid, 1);
    hex->SetInCharField(true);
    TypeCharacter(W(), QString::fromUtf8("\u0416"));  // no Windows-1252 byte
    EXPECT_EQ(invalid, 2);
    hex->SetTranslation(tkASCII);
    TypeCharacter(W(), QString::fromUtf8("\u00E9"));  // no 7-bit ASCII character
    EXPECT_EQ(invalid, 3);
    EXPECT_EQ(Data(), "abc");
    // A read-only view ignores every key silently.
    hex->SetTranslation(tkAsIs);
    hex->SetReadOnlyView(true);
    Type("xyz");
    TypeCharacter(W(), QString::fromUtf8("\u0416"));
    EXPECT_EQ(invalid, 3);
    EXPECT_EQ(Data(), "abc");
    // OnKeyPress may change the key.
    hex->SetReadOnlyView(false);
    hex->OnKeyPress = [](TObject*, char& key) { key = 'Q'; };
    Type("x");
    EXPECT_EQ(Data(), "Qbc");
}

TEST_F(HexEditorTest, NavigationKeys)
{
    LoadBytes(Pattern(100));
    auto at = [&](std::int32_t pos, bool low = false) {
        const TGridCoord c = hex->GetCursorAtPos(pos, hex->GetIsCharFieldCol(hex->Col()));
        return hex->Col() == c.X + (low ? 1 : 0) && hex->Row() == c.Y;
    };
    Key(Qt::Key_Left);  // at 0: nothing
    EXPECT_TRUE(at(0));
    Key(Qt::Key_Right);
    EXPECT_TRUE(at(0, true));
    Key(Qt::Key_Right);
    EXPECT_TRUE(at(1));
    Key(Qt::Key_Left);
    EXPECT_TRUE(at(0, true));
    Key(Qt::Key_End);  // low nibble of the row's last byte
    EXPECT_TRUE(at(15, true));
    Key(Qt::Key_Home);
    EXPECT_TRUE(at(0));
    Key(Qt::Key_Down);
    EXPECT_TRUE(at(16));
    Key(Qt::Key_Up);
    Key(Qt::Key_Up);  // the top row stays
    EXPECT_TRUE(at(0));
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(at(99));
    Key(Qt::Key_Right);
    Key(Qt::Key_Right);  // the low nibble of the last byte is the end in overwrite mode
    EXPECT_TRUE(at(99, true));
    Key(Qt::Key_Insert);
    EXPECT_TRUE(hex->GetInsertMode());
    Key(Qt::Key_Right);  // the end slot
    EXPECT_TRUE(at(100));
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_TRUE(at(0));
    Key(Qt::Key_Tab);  // to the character field
    EXPECT_TRUE(hex->GetIsCharFieldCol(hex->Col()));
    EXPECT_TRUE(at(0));
    Key(Qt::Key_T, Qt::ControlModifier);  // and back
    EXPECT_FALSE(hex->GetIsCharFieldCol(hex->Col()));
    Key(Qt::Key_Insert);
    EXPECT_FALSE(hex->GetInsertMode());
    Key(Qt::Key_PageDown);
    EXPECT_GT(hex->Row(), 2);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(hex->Row(), 2);
}

TEST_F(HexEditorTest, ShiftKeysSelectWholeUnits)
{
    LoadBytes(Pattern(20));
    hex->SetBytesPerUnit(2);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(hex->GetCursorPos(), 2);
    EXPECT_EQ(hex->SelFirst(), 0);
    EXPECT_EQ(hex->SelLast(), 3);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(hex->GetCursorPos(), 4);
    EXPECT_EQ(hex->SelLast(), 5);
    Key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(hex->SelLast(), 3);
    // A plain key drops the selection in overwrite mode.
    Key(Qt::Key_Right);
    EXPECT_EQ(hex->GetSelCount(), 0);
    // In insert mode the unit the caret stands before is not selected.
    hex->SetInsertMode(true);
    hex->SetSelStart(4);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(hex->SelFirst(), 4);
    EXPECT_EQ(hex->SelLast(), 7);
}

TEST_F(HexEditorTest, DeleteAndBackspaceKeys)
{
    LoadBytes(Bytes({0, 1, 2, 3, 4, 5, 6, 7}));
    hex->SetSelStart(2);
    Key(Qt::Key_Delete);  // overwrite mode without Ctrl: nothing
    EXPECT_EQ(hex->GetDataSize(), 8);
    Key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Data(), Bytes({0, 1, 3, 4, 5, 6, 7}));
    Key(Qt::Key_Backspace);  // overwrite mode: a step left
    EXPECT_EQ(hex->GetDataSize(), 7);
    EXPECT_EQ(hex->GetCursorPos(), 1);
    hex->SetInsertMode(true);
    hex->SetSelStart(3);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Data(), Bytes({0, 1, 4, 5, 6, 7}));
    EXPECT_EQ(hex->GetCursorPos(), 2);
    hex->NewSelection(3, 4);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Data(), Bytes({0, 1, 4, 7}));
    hex->SetReadOnlyView(true);  // no insert mode, no deleting
    hex->SetSelStart(0);
    Key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(hex->GetDataSize(), 4);
}

TEST_F(HexEditorTest, BookmarkKeys)
{
    int changes = 0;
    hex->OnBookmarkChanged = [&](TObject*) { ++changes; };
    LoadBytes(Pattern(100));
    hex->SetSelStart(40);
    // Ctrl+Shift+3 as Qt reports it on a US layout: "#".
    QTest::keyClick(W(), '#', Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->GetBookmark(3).mPosition, 40);
    EXPECT_FALSE(hex->GetBookmark(3).mInCharField);
    EXPECT_EQ(hex->GetDataAt(40), static_cast<std::uint8_t>(Pattern(100)[40]));  // nothing typed
    hex->SetSelStart(7);
    QTest::keyClick(W(), Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(hex->GetCursorPos(), 40);
    // The same place again clears it; the other field moves it there.
    QTest::keyClick(W(), '#', Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->GetBookmark(3).mPosition, -1);
    QTest::keyClick(W(), '#', Qt::ControlModifier | Qt::ShiftModifier);
    hex->SetInCharField(true);
    QTest::keyClick(W(), '#', Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->GetBookmark(3).mPosition, 40);
    EXPECT_TRUE(hex->GetBookmark(3).mInCharField);
    EXPECT_EQ(changes, 4);
}

// ---------------------------------------------------------------------------- mouse

TEST_F(HexExTest, DraggingSelectsAndAClickOnTheSelectionPlacesTheCaret)
{
    LoadBytes(Pattern(200));
    Press(ByteCentre(2));
    MoveHeld(ByteCentre(10));
    MoveHeld(ByteCentre(20));
    Release(ByteCentre(20));
    EXPECT_EQ(hex->SelFirst(), 2);
    EXPECT_EQ(hex->SelLast(), 20);
    EXPECT_EQ(hex->GetCursorPos(), 20);
    // A press on the selection and a release at the same point: the caret
    // goes there and the selection is gone.
    Press(ByteCentre(5));
    EXPECT_EQ(hex->GetSelCount(), 19);
    Release(ByteCentre(5));
    EXPECT_EQ(hex->GetSelCount(), 0);
    EXPECT_EQ(hex->GetCursorPos(), 5);
    // A press on the selection followed by a drag keeps it.
    hex->NewSelection(30, 40);
    Press(ByteCentre(35));
    MoveHeld(ByteCentre(50));
    Release(ByteCentre(50));
    EXPECT_EQ(hex->SelFirst(), 30);
    EXPECT_EQ(hex->SelLast(), 40);
    // A drag backwards from the character field.
    Press(ByteCentre(70, true));
    MoveHeld(ByteCentre(60, true));
    Release(ByteCentre(60, true));
    EXPECT_EQ(hex->SelFirst(), 60);
    EXPECT_EQ(hex->SelLast(), 70);
    EXPECT_TRUE(hex->GetInCharField());
}

TEST_F(HexExTest, APressTakesTheFocusAsItsFormAllows)
{
    // No form holds the control: a press on the gutter (where the grid's
    // own press handling is skipped) still focuses it, though it cannot take
    // the focus as a shown control would.
    struct Pressable : TZURadUvudodEx {
        using TZURadUvudodEx::TZURadUvudodEx;
        using TZURadUvudodEx::MouseDown;
    };
    Pressable alone(nullptr);
    alone.SetBounds(0, 0, 900, 400);
    alone.Loaded();
    TMemoryStream bytes;
    bytes.WriteBuffer(Pattern(200).data(), 200);
    alone.LoadFromStream(bytes);
    ASSERT_FALSE(alone.CanFocus());
    for (TGridCoord cell : {TGridCoord{0, 4}, TGridCoord{1, 2}}) {
        alone.Widget()->clearFocus();
        ASSERT_NE(alone.Widget()->focusWidget(), alone.Widget());
        const TRect r = alone.CellRect(cell.X, cell.Y);
        alone.MouseDown(mbLeft, 0, (r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2);
        EXPECT_EQ(alone.Widget()->focusWidget(), alone.Widget());
    }
    LoadBytes(Pattern(200));

    // On a form: a press in a window that is not the active one makes it
    // active, with the control focused.
    TForm form(nullptr), other(nullptr);
    form.SetBounds(0, 0, 900, 400);
    other.SetBounds(100, 100, 200, 100);
    hex->SetParent(&form);
    hex->SetAlign(alClient);
    form.Show();
    other.Show();
    other.FocusWindow();
    Pump();
    hex->SetFocus();  // the form's focus, while another window is active
    if (!other.Active())
        GTEST_SKIP() << "this display does not activate windows";
    EXPECT_EQ(form.ActiveControl(), hex.get());
    EXPECT_FALSE(form.Active());
    Press(ByteCentre(30));
    Release(ByteCentre(30));
    Pump();
    EXPECT_TRUE(form.Active());
    EXPECT_EQ(form.ActiveControl(), hex.get());
    hex->SetParent(nullptr);
}

TEST_F(HexExTest, ADoubleClickSelectsTheByte)
{
    int doubleClicks = 0;
    hex->OnDblClick = [&](TObject*) { ++doubleClicks; };
    LoadBytes(Pattern(100));
    DoubleClick(ByteCentre(33));
    EXPECT_EQ(hex->SelFirst(), 33);
    EXPECT_EQ(hex->SelLast(), 33);
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_FALSE(hex->PressOnSelection());
    // In the gutter there is no byte to select.
    hex->ResetSelection(true);
    DoubleClick(CellCentre(0, 3));
    EXPECT_EQ(hex->GetSelCount(), 0);
}

TEST_F(HexExTest, InInsertModeAClickBehindARowReachesTheNextRowsStart)
{
    LoadBytes(Pattern(100));
    const TRect last = hex->CellRect(2 * 16 + 1, 2);  // the low nibble of byte 15 and the gap after it
    const QPoint behind(last.Left + hex->CharWidth() + 2, (last.Top + last.Bottom) / 2);
    Press(behind);
    Release(behind);
    EXPECT_EQ(hex->GetCursorPos(), 15);  // overwrite mode: byte 15's low nibble
    hex->SetInsertMode(true);
    Press(behind);
    Release(behind);
    EXPECT_EQ(hex->Col(), 2);
    EXPECT_EQ(hex->Row(), 3);
    EXPECT_EQ(hex->GetCursorPos(), 16);
    // The same behind the character field.
    const TRect lastChar = hex->CellRect(hex->ColCount() - 1, 3);
    const QPoint behindChars(lastChar.Left + hex->CharWidth() + 2, (lastChar.Top + lastChar.Bottom) / 2);
    Press(behindChars);
    Release(behindChars);
    EXPECT_EQ(hex->Col(), 2 * 16 + 3);
    EXPECT_EQ(hex->Row(), 4);
}

TEST_F(HexExTest, TheAutoScrollTimerFollowsAPointerPastTheLastRow)
{
    ScopedManualClock clock;
    LoadBytes(Pattern(4000));
    // Ten rows and half of an eleventh.
    hex->SetHeight(10 * hex->RowHeight() + hex->RowHeight() / 2);
    ASSERT_EQ(hex->TopRow(), 2);
    Press(ByteCentre(1));
    const int visible = hex->VisibleRowCount();
    // Over the row partly shown at the bottom.
    const QPoint bottom(ByteCentre(1).x(), hex->ClientHeight() - 2);
    MoveHeld(bottom);
    const std::int32_t rowThere = hex->Row();
    clock.clock.Advance(60 * 5);
    EXPECT_EQ(hex->Row(), rowThere + 5);
    EXPECT_GT(hex->TopRow(), 2);
    EXPECT_EQ(hex->SelFirst(), 1);
    EXPECT_EQ(hex->SelLast(), hex->GetCursorPos());
    Release(bottom);
    const std::int32_t rowAfter = hex->Row();
    clock.clock.Advance(60 * 5);  // released: the timer is gone
    EXPECT_EQ(hex->Row(), rowAfter);
    EXPECT_GE(visible, 5);
}

TEST_F(HexExTest, TheWheelScrollsPagesAndZoomsWithCtrl)
{
    LoadBytes(Pattern(4000));
    const int visible = hex->VisibleRowCount();
    Wheel(-1);
    EXPECT_EQ(hex->TopRow(), 2 + visible - 1);
    EXPECT_EQ(hex->GetCursorPos(), 0);  // the caret stays
    Wheel(1);
    EXPECT_EQ(hex->TopRow(), 2);

    Wheel(-1, Qt::ControlModifier);
    EXPECT_EQ(hex->BytesPerRow(), 15);
    Wheel(2, Qt::ControlModifier);
    EXPECT_EQ(hex->BytesPerRow(), 17);
    const int size = hex->Font().Size();
    Wheel(1, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->Font().Size(), size + 1);
    Wheel(-1, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->Font().Size(), size);
    // At the limits the wheel moves the current row instead.
    hex->SetBytesPerRow(1);
    const std::int32_t row = hex->Row();
    Wheel(-1, Qt::ControlModifier);
    EXPECT_EQ(hex->BytesPerRow(), 1);
    EXPECT_EQ(hex->Row(), row + 1);
    hex->Font().SetSize(2);
    Wheel(-1, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(hex->Font().Size(), 2);
    EXPECT_EQ(hex->Row(), row + 2);
    // In unicode mode a row keeps whole characters.
    hex->Font().SetSize(10);
    hex->SetBytesPerRow(16);
    hex->SetUnicodeChars(true);
    Wheel(-1, Qt::ControlModifier);
    EXPECT_EQ(hex->BytesPerRow(), 14);
    hex->SetZoomOnWheel(false);
    Wheel(-1, Qt::ControlModifier);
    EXPECT_EQ(hex->BytesPerRow(), 14);
}

TEST_F(HexEditorTest, TheDragCellMarksTheDropPosition)
{
    LoadBytes(Pattern(100));
    hex->SetBytesPerUnit(4);
    EXPECT_EQ(hex->DropPosition(), -1);
    QPoint p = ByteCentre(22);
    EXPECT_EQ(hex->ShowDragCell(p.x(), p.y()), 20);  // the start of its unit
    EXPECT_EQ(hex->DropPosition(), 20);
    // Over the selection the drop goes before it.
    hex->NewSelection(40, 47);
    p = ByteCentre(45);
    EXPECT_EQ(hex->ShowDragCell(p.x(), p.y()), 40);
    // Behind the data: the end.
    p = CellCentre(10, 8);
    EXPECT_EQ(hex->ShowDragCell(p.x(), p.y()), 100);
    hex->HideDragCell();
    EXPECT_EQ(hex->DropPosition(), -1);
}

TEST_F(HexEditorTest, AShortFileDoesNotScrollOnTheWheel)
{
    LoadBytes(Pattern(30));
    Wheel(-1);
    EXPECT_EQ(hex->TopRow(), 2);
}

}  // namespace
