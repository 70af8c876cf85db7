// Layout, offsets, translation, caret and selection of the control.
#include "hex_fixture.h"

namespace {

TEST_F(HexEditorTest, ConstructionDefaults)
{
    auto fresh = std::make_unique<TCustomZURadUvudod>(nullptr);
    EXPECT_EQ(fresh->FileName(), "---");
    EXPECT_TRUE(fresh->ReadOnlyFile());
    EXPECT_FALSE(fresh->HasFile());
    EXPECT_EQ(fresh->BytesPerRow(), 16);
    EXPECT_EQ(fresh->BytesPerColumn(), 2);
    EXPECT_EQ(fresh->OffsetFormat(), "-!10:0x|");
    EXPECT_EQ(fresh->GetPropColCount(), 51);
    EXPECT_EQ(fresh->GetPropRowCount(), 3);
    EXPECT_EQ(fresh->FixedCols(), 2);
    EXPECT_EQ(fresh->FixedRows(), 2);
    EXPECT_EQ(fresh->RowHeights(0), 0);
    EXPECT_EQ(fresh->RowHeights(1), 0);
    EXPECT_EQ(fresh->Font().Name(), "Courier New");
    fresh->Loaded();
    EXPECT_EQ(fresh->FileName(), "Untitled");
}

TEST_F(HexEditorTest, MetricsFollowTheFontAndTheLayout)
{
    LoadBytes(Pattern(1000));
    const int cw = hex->CharWidth();
    ASSERT_GT(cw, 0);
    // Largest row offset 992 = 0x3E0: "0x3E0" plus one character, plus 21 px.
    EXPECT_EQ(hex->ColWidths(0), 6 * cw + 21);
    EXPECT_EQ(hex->ColWidths(1), 6);
    EXPECT_EQ(hex->ColWidths(2), cw);
    EXPECT_EQ(hex->ColWidths(5), 2 * cw);  // end of a 2-byte group
    EXPECT_EQ(hex->ColWidths(33), 2 * cw);
    EXPECT_EQ(hex->ColWidths(34), cw);
    EXPECT_EQ(hex->ColWidths(35), cw + 1);
    EXPECT_EQ(hex->ColWidths(50), 2 * cw + 1);
    EXPECT_EQ(hex->RowCount(), 63 + 2);
    hex->SetGutterWidth(70);
    EXPECT_EQ(hex->ColWidths(0), 70);
    hex->SetShowRuler(true);
    EXPECT_EQ(hex->RowHeights(0), hex->RowHeight() + 3);
}

TEST_F(HexEditorTest, LayoutSetterErrorsChangeNothing)
{
    LoadBytes(Pattern(33));
    struct Bad {
        std::function<void()> set;
        const char* message;
    };
    const Bad bad[] = {
        {[&] { hex->SetBytesPerRow(0); }, "Invalid bytes per line argument"},
        {[&] { hex->SetBytesPerRow(257); }, "Invalid bytes per line argument"},
        {[&] { hex->SetBytesPerColumn(0); }, "Invalid bytes per column argument"},
        {[&] { hex->SetBytesPerUnit(3); }, "Invalid bytes per unit value 3, allowed: 1,2,4,8"},
        {[&] { hex->SetRulerBytesPerUnit(3); }, "Invalid ruler bytes per unit value 3, allowed: -1,1,2,4,8"},
        {[&] { hex->SetUnicodeChars(true); }, "Cannot use unicode mode with odd-sized files"},
    };
    for (const auto& b : bad) {
        try {
            b.set();
            ADD_FAILURE() << b.message;
        } catch (const EZURadUvudod& e) {
            EXPECT_EQ(e.Message(), b.message);
        }
        EXPECT_EQ(hex->BytesPerRow(), 16);
        EXPECT_EQ(hex->ColCount(), 51);
    }
    hex->SetRulerNumberBase(1);
    EXPECT_EQ(hex->RulerNumberBase(), 16);
    hex->SetRulerNumberBase(17);
    EXPECT_EQ(hex->RulerNumberBase(), 16);
}

TEST_F(HexEditorTest, UnicodeModeColumnsAndRules)
{
    LoadBytes(Pattern(32));
    hex->SetTranslation(tkBCD);
    hex->SetUnicodeChars(true);
    EXPECT_EQ(hex->ColCount(), 43);
    EXPECT_EQ(hex->BytesPerUnit(), 2);
    EXPECT_EQ(hex->Translation(), tkAsIs);
    EXPECT_EQ(hex->CharRulerText().size(), 8u);
    EXPECT_THROW(hex->SetBytesPerRow(15), EZURadUvudod);
    try {
        hex->SetBytesPerUnit(4);
        FAIL();
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "BytesPerUnit must be set to 2 in unicode mode");
    }
    hex->SetUnicodeChars(false);
    EXPECT_EQ(hex->ColCount(), 51);
    EXPECT_EQ(hex->BytesPerUnit(), 1);
}

TEST_F(HexEditorTest, UnicodeModeKeepsTheCaretOnItsByte)
{
    // Turning characters two bytes wide changes what a character column
    // means: the caret keeps its byte and field (the end slot included),
    // and typing there goes on.
    struct Case {
        const char* what;
        bool insert;
        std::int32_t pos;
        bool inChar;
        std::int32_t expected;
    } cases[] = {
        {"the end slot in the character field", true, 36, true, 36},
        {"the end slot in the hex field", true, 36, false, 36},
        {"a byte in the character field", false, 20, true, 20},
        {"an odd byte goes to its character's first byte", false, 21, true, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoadBytes(Pattern(36));
        hex->SetInsertMode(c.insert);
        const TGridCoord cell = hex->GetCursorAtPos(c.pos, c.inChar);
        hex->MoveColRow(cell.X, cell.Y, true, true);
        hex->SetUnicodeChars(true);
        EXPECT_EQ(hex->GetPositionAtCursor(hex->Col(), hex->Row()), c.expected);
        EXPECT_EQ(hex->GetIsCharFieldCol(hex->Col()), c.inChar);
        EXPECT_LT(hex->Col(), hex->ColCount());
        if (c.insert) {
            Type(c.inChar ? "A" : "4");
            EXPECT_EQ(hex->GetDataSize(), 38);
        }
        hex->SetUnicodeChars(false);
        EXPECT_EQ(hex->GetIsCharFieldCol(hex->Col()), c.inChar);
        hex->SetInsertMode(false);
    }
}

TEST_F(HexEditorTest, BytesPerRowKeepsTheCaretByteNibbleAndSelection)
{
    LoadBytes(Pattern(100));
    hex->MoveColRow(2 * 5 + 3, 3, true, true);  // low nibble of byte 21
    hex->NewSelection(20, 30);
    hex->SetBytesPerRow(8);
    EXPECT_EQ(hex->GetCursorPos(), 21);
    EXPECT_EQ(hex->Col(), 2 * 5 + 3);  // byte 21 is the 6th of row 4 now
    EXPECT_EQ(hex->Row(), 4);
    EXPECT_EQ(hex->SelFirst(), 20);
    EXPECT_EQ(hex->SelLast(), 30);
    EXPECT_EQ(hex->RowCount(), 13 + 2);
}

TEST_F(HexEditorTest, RowCountsWithInsertMode)
{
    LoadBytes(Pattern(32));
    EXPECT_EQ(hex->RowCount(), 4);
    hex->SetInsertMode(true);
    EXPECT_EQ(hex->RowCount(), 5);
    // The caret on the end slot, then insert mode off: back to byte 31.
    hex->MoveColRow(2, 4, true, true);
    EXPECT_EQ(hex->GetPositionAtCursor(hex->Col(), hex->Row()), 32);
    hex->SetInsertMode(false);
    EXPECT_EQ(hex->RowCount(), 4);
    EXPECT_EQ(hex->GetCursorPos(), 31);
    LoadBytes(Pattern(33));
    hex->SetInsertMode(true);
    EXPECT_EQ(hex->RowCount(), 5);
}

TEST_F(HexEditorTest, CellPositionMapping)
{
    LoadBytes(Pattern(64));
    EXPECT_EQ(hex->GetPosAtCursor(2, 2), 0);
    EXPECT_EQ(hex->GetPosAtCursor(3, 2), 0);
    EXPECT_EQ(hex->GetCursorAtPos(17, false), GridCoord(4, 3));
    EXPECT_EQ(hex->GetCursorAtPos(17, true), GridCoord(36, 3));
    EXPECT_EQ(hex->GetPosAtCursor(36, 3), 17);
    EXPECT_EQ(hex->GetOtherFieldCol(36), 4);
    EXPECT_EQ(hex->DisplayStart(), 0);
    EXPECT_EQ(hex->DropPosition(), -1);
    std::int32_t a = 5, b = 2;
    hex->SetBytesPerUnit(4);
    hex->CheckSelectUnit(a, b);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 0);
}

TEST_F(HexEditorTest, OffsetTextsThroughTheControl)
{
    LoadBytes(Pattern(1000));
    EXPECT_EQ(hex->GetOffsetString(16), "0x010");
    hex->SetOffsetFormat("8!10:|");
    EXPECT_EQ(hex->GetOffsetString(4096), "00001000");
    EXPECT_THROW(hex->SetOffsetFormat("-!11:|"), EZURadUvudod);
    EXPECT_EQ(hex->OffsetFormat(), "8!10:|");
    hex->SetHexLowerCase(true);
    EXPECT_EQ(hex->GetOffsetString(0xABC), "00000abc");
    hex->OnGetOffsetText = [](TObject*, std::int64_t n, std::string& text) { text = "#" + std::to_string(n); };
    hex->UpdateGetOffsetText();
    EXPECT_EQ(hex->GetOffsetString(32), "#32");
    EXPECT_EQ(hex->ColWidths(0), 5 * hex->CharWidth() + 21);  // "#992" and one more
    hex->SetOffsetFormat("");
    EXPECT_EQ(hex->GetAnyOffsetString(4096), "1000");
}

TEST_F(HexEditorTest, TranslationOfShownAndTypedCharacters)
{
    EXPECT_EQ(hex->TranslateToAnsiChar(0x0A), '.');
    EXPECT_EQ(hex->TranslateToAnsiChar('A'), 'A');
    hex->SetMaskChar(0);
    EXPECT_EQ(hex->TranslateToAnsiChar(0x0A), 0x0A);
    hex->SetMaskChar('.');
    hex->SetTranslation(tkASCII);
    EXPECT_EQ(hex->TranslateToAnsiChar(0x80), '.');
    EXPECT_EQ(hex->TranslateFromAnsiChar(0xE9), 0);
    hex->SetTranslation(tkDos8);
    EXPECT_EQ(hex->TranslateFromAnsiChar(0xE9), 0x82);
    EXPECT_EQ(hex->TranslateToAnsiChar(0x82), 0xE9);
    EXPECT_EQ(hex->TranslateFromAnsiChar(0x09), 0);
    hex->SetTranslation(tkBCD);
    EXPECT_EQ(hex->TranslateToAnsiChar(0xC1), 'A');
    EXPECT_EQ(hex->TranslateFromAnsiChar('A'), 0xC1);
}

TEST_F(HexEditorTest, SelectionRules)
{
    LoadBytes(Pattern(40));
    hex->SetSelection(100, -7, 100);
    EXPECT_EQ(hex->SelAnchor(), 39);
    EXPECT_EQ(hex->SelFirst(), -1);
    EXPECT_EQ(hex->SelLast(), 39);
    hex->ResetSelection(false);
    EXPECT_EQ(hex->GetSelCount(), 0);
    EXPECT_EQ(hex->GetSelStart(), hex->GetCursorPos());

    hex->NewSelection(10, 5);
    EXPECT_EQ(hex->GetSelCount(), 6);
    EXPECT_EQ(hex->GetSelStart(), 10);
    EXPECT_EQ(hex->GetSelEnd(), 5);
    EXPECT_TRUE(hex->IsSelected(5));
    EXPECT_FALSE(hex->IsSelected(11));

    hex->SetSelStart(3);
    EXPECT_EQ(hex->GetSelCount(), 0);
    EXPECT_EQ(hex->GetCursorPos(), 3);
    hex->SetSelEnd(8);
    EXPECT_EQ(hex->GetSelStart(), 3);
    EXPECT_EQ(hex->GetSelEnd(), 8);
    hex->SetSelEnd(-1);
    EXPECT_EQ(hex->GetSelCount(), 0);
    EXPECT_EQ(hex->GetCursorPos(), 3);
    EXPECT_THROW(hex->SetSelStart(40), EZURadUvudod);
    EXPECT_THROW(hex->SetSelStart(-1), EZURadUvudod);
    EXPECT_THROW(hex->SetSelEnd(-2), EZURadUvudod);

    hex->SetBytesPerUnit(4);
    hex->NewSelection(5, 9);
    EXPECT_EQ(hex->SelFirst(), 4);
    EXPECT_EQ(hex->SelLast(), 11);
    hex->SelectAll();
    EXPECT_EQ(hex->SelFirst(), 0);
    EXPECT_EQ(hex->SelLast(), 39);
    EXPECT_EQ(hex->GetCursorPos(), 39);
}

TEST_F(HexEditorTest, EmptyDataAllowsOnlyPositionZero)
{
    hex->CreateEmptyFile("x");
    EXPECT_EQ(hex->GetCursorPos(), 0);
    EXPECT_FALSE(hex->GetInCharField());
    hex->SelectAll();
    EXPECT_EQ(hex->GetSelCount(), 0);
    hex->MoveColRow(5, 2, true, true);
    EXPECT_EQ(hex->Col(), 2);
    hex->MoveColRow(35, 2, true, true);
    EXPECT_EQ(hex->Col(), 35);
    hex->SetSelection(0, 0, 0);
    EXPECT_EQ(hex->SelAnchor(), -1);
}

TEST_F(HexEditorTest, CaretMovesOnlyToValidCells)
{
    LoadBytes(Pattern(20));
    hex->MoveColRow(34, 2, true, true);  // the separator column
    EXPECT_NE(hex->Col(), 34);
    hex->MoveColRow(20, 3, true, true);  // byte 25: past the end
    EXPECT_EQ(hex->GetCursorPos(), 19);
    hex->SetInsertMode(true);
    hex->MoveColRow(11, 3, true, true);  // byte 20's low nibble: not an end slot
    EXPECT_EQ(hex->GetPositionAtCursor(hex->Col(), hex->Row()), 20);
    EXPECT_EQ(hex->Col(), 10);
    hex->SetInCharField(true);
    EXPECT_TRUE(hex->GetInCharField());
}

TEST_F(HexEditorTest, SeparatorClickedWithTheLeftButtonGoesToTheLastDigit)
{
    LoadBytes(Pattern(64));
    SetKeyStateOverride([](int vk) -> short { return vk == VK_LBUTTON ? static_cast<short>(0x8000) : 0; });
    hex->MoveColRow(34, 3, true, true);
    EXPECT_EQ(hex->Col(), 33);
    EXPECT_EQ(hex->Row(), 3);
}

TEST_F(HexEditorTest, ColourAndKeyHelpers)
{
    EXPECT_EQ(InvertColor(clWhite), clBlack);
    EXPECT_EQ(InvertColor(RGB(1, 2, 3)), RGB(254, 253, 252));
    EXPECT_EQ(FadeToGray(clWhite), clWhite);
    EXPECT_EQ(InvertColor(clWindow), static_cast<TColor>(InvertRGB(ColorToRGB(clWindow))));
    SetKeyStateOverride([](int vk) -> short { return vk == VK_SHIFT ? static_cast<short>(0x8001) : 1; });
    EXPECT_TRUE(IsKeyDown(VK_SHIFT));
    EXPECT_FALSE(IsKeyDown(VK_CONTROL));  // toggled, not held
}

TEST_F(HexEditorTest, SelectingFollowsTheCaretInWholeUnits)
{
    LoadBytes(Pattern(64));
    hex->SetBytesPerUnit(4);
    SetKeyStateOverride([](int vk) -> short { return vk == VK_SHIFT ? static_cast<short>(0x8000) : 0; });
    hex->MoveColRow(2 + 2 * 5, 2, true, true);  // byte 5
    hex->SetSelecting(true);
    hex->MoveColRow(2 + 2 * 6, 2, true, true);  // byte 6
    EXPECT_EQ(hex->SelFirst(), 4);
    EXPECT_EQ(hex->SelLast(), 7);
    hex->MoveColRow(2 + 2 * 9, 2, true, true);
    EXPECT_EQ(hex->SelFirst(), 4);
    EXPECT_EQ(hex->SelLast(), 11);

    // In insert mode the unit the caret stands before is not selected.
    hex->ResetSelection(true);
    hex->SetInsertMode(true);
    hex->MoveColRow(2 + 2 * 4, 2, true, true);  // byte 4
    hex->SetSelecting(true);
    hex->MoveColRow(2 + 2 * 8, 2, true, true);  // byte 8
    EXPECT_EQ(hex->SelFirst(), 4);
    EXPECT_EQ(hex->SelLast(), 7);
}

TEST_F(HexEditorTest, SelectionChangesOfOneTurnAreReportedOnce)
{
    LoadBytes(Pattern(64));
    Pump();
    int calls = 0;
    hex->OnSelectionChanged = [&](TObject*) { ++calls; };
    for (int i = 0; i < 10; ++i)
        hex->NewSelection(i, i + 3);
    hex->SetSelStart(5);
    EXPECT_EQ(calls, 0);
    Pump();
    EXPECT_EQ(calls, 1);
    Pump();
    EXPECT_EQ(calls, 1);
    hex->SelectAll();
    Pump();
    EXPECT_EQ(calls, 2);
    // A handler that raises still resets the count.
    hex->OnSelectionChanged = [&](TObject*) {
        ++calls;
        throw EZURadUvudod("boom");
    };
    hex->SelectionChanged();
    try {
        Pump();
    } catch (...) {
    }
    hex->OnSelectionChanged = [&](TObject*) { ++calls; };
    hex->SelectionChanged();
    Pump();
    EXPECT_EQ(calls, 4);
    // A change of the editing mode is heard the same way.
    hex->SetInsertMode(true);
    Pump();
    EXPECT_EQ(calls, 5);
    hex->SetInsertMode(true);
    Pump();
    EXPECT_EQ(calls, 5);
}

TEST_F(HexEditorTest, NavigationStaysCheapAtTheEndOfALargeBuffer)
{
    hex->SetDataSize(64 * 1024 * 1024);
    hex->SetSelStart(hex->GetDataSize() - 1);
    EXPECT_EQ(hex->GetCursorPos(), 64 * 1024 * 1024 - 1);
    EXPECT_GT(hex->TopRow(), 4000000);
    EXPECT_EQ(hex->DisplayEnd(), 64 * 1024 * 1024 - 1);
    bool inChar = true;
    EXPECT_EQ(hex->GetTopLeftPosition(inChar) % 16, 0);
}

TEST_F(HexEditorTest, SyncViewCopiesCaretAndSelection)
{
    LoadBytes(Pattern(200));
    TCustomZURadUvudod other(nullptr);
    other.SetBounds(0, 0, 900, 400);
    TMemoryStream s;
    s.WriteBuffer(Data().data(), 200);
    other.LoadFromStream(s);
    hex->SetSelStart(50);
    hex->NewSelection(40, 60);
    other.SyncView(*hex, 0);
    EXPECT_EQ(other.Col(), hex->Col());
    EXPECT_EQ(other.Row(), hex->Row());
    EXPECT_EQ(other.SelFirst(), 40);
    EXPECT_EQ(other.SelLast(), 60);
    other.SyncView(*hex, 10);
    EXPECT_EQ(other.GetCursorPos(), 60);
    EXPECT_EQ(other.SelFirst(), 50);
    EXPECT_EQ(other.SelLast(), 70);
}

}  // namespace
