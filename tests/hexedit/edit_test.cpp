// Editing operations: single bytes and characters, ranges, erasing at the
// caret, nibble shifts, conversions and the data as text.
#include "hex_fixture.h"

#include <functional>

namespace {

void ExpectRefused(const std::function<void()>& edit)
{
    try {
        edit();
        ADD_FAILURE() << "the edit was not refused";
    } catch (const EZURadUvudod& e) {
        EXPECT_EQ(e.Message(), "Cannot update undo storage");
    }
}

TEST_F(HexEditorTest, NibbleShifts)
{
    struct Case {
        const char* what;
        std::string before;
        bool insert;
        std::int32_t pos;
        bool high;
        std::string after;
    };
    const Case cases[] = {
        {"insert before the first high nibble", Bytes({0x12, 0x34, 0x56}), true, 0, true, Bytes({0x01, 0x23, 0x45, 0x60})},
        {"insert before a low nibble", Bytes({0x12, 0x34, 0x56}), true, 1, false, Bytes({0x12, 0x30, 0x45, 0x60})},
        {"insert at the last byte", Bytes({0x12, 0xAB}), true, 1, true, Bytes({0x12, 0x0A, 0xB0})},
        {"delete the first high nibble", Bytes({0x12, 0x34, 0x56}), false, 0, true, Bytes({0x23, 0x45, 0x60})},
        {"delete a low nibble", Bytes({0x12, 0x34, 0x56}), false, 1, false, Bytes({0x12, 0x35, 0x60})},
        // The last byte's low nibble goes, its high nibble stays.
        {"delete the last low nibble", Bytes({0x12, 0xAB}), false, 1, false, Bytes({0x12, 0xA0})},
        {"delete the last high nibble", Bytes({0x12, 0xAB}), false, 1, true, Bytes({0x12, 0xB0})},
    };
    for (const Case& c : cases) {
        LoadBytes(c.before);
        const bool done = c.insert ? hex->InsertNibble(c.pos, c.high) : hex->DeleteNibble(c.pos, c.high);
        EXPECT_TRUE(done) << c.what;
        EXPECT_EQ(Data(), c.after) << c.what;
        ASSERT_TRUE(hex->Undo()) << c.what;
        EXPECT_EQ(Data(), c.before) << c.what << " (undone)";
        ASSERT_TRUE(hex->Redo()) << c.what;
        EXPECT_EQ(Data(), c.after) << c.what << " (redone)";
    }
    // Outside the data: nothing; on empty data an insertion adds a zero byte.
    LoadBytes(Bytes({1, 2}));
    EXPECT_FALSE(hex->InsertNibble(2, true));
    EXPECT_FALSE(hex->DeleteNibble(-1, true));
    EXPECT_EQ(Data(), Bytes({1, 2}));
    LoadBytes("");
    EXPECT_TRUE(hex->InsertNibble(0, true));
    EXPECT_EQ(Data(), Bytes({0}));
}

TEST_F(HexEditorTest, TheShiftedStreamHoldsTheDataOneNibbleLater)
{
    LoadBytes(Bytes({0x12, 0x34, 0x56}) + Pattern(1200));
    struct Case {
        std::int32_t start;
        std::string expected;  // the first three bytes
    } cases[] = {{0, Bytes({0x01, 0x23, 0x45})}, {1, Bytes({0x03, 0x45, 0x60 | (Pattern(1)[0] >> 4)})}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        std::string name;
        std::unique_ptr<TFileStream> stream = hex->CreateShift4BitStream(c.start, name);
        ASSERT_TRUE(stream);
        const std::int64_t n = hex->GetDataSize() - c.start;
        ASSERT_EQ(stream->Size(), n);
        EXPECT_EQ(stream->Position(), 0);
        std::string shifted(static_cast<size_t>(n), '\0');
        stream->ReadBuffer(shifted.data(), n);
        EXPECT_EQ(shifted.substr(0, 3), c.expected);
        // Every byte across the 512-byte blocks: the nibble before it, then
        // its own high nibble; the last low nibble is gone.
        const std::string data = Data().substr(static_cast<size_t>(c.start));
        for (size_t i = 1; i < data.size(); ++i)
            ASSERT_EQ(static_cast<std::uint8_t>(shifted[i]),
                      ((static_cast<std::uint8_t>(data[i - 1]) & 0x0F) << 4) | (static_cast<std::uint8_t>(data[i]) >> 4))
                << i;
        EXPECT_EQ(name.substr(name.size() - 5), ".ZAZT");
        EXPECT_TRUE(FileExists(name));
        stream.reset();
        DeleteFile(name);
    }
    std::string name;
    EXPECT_EQ(hex->CreateShift4BitStream(hex->GetDataSize(), name), nullptr);
    EXPECT_THROW(hex->CreateShift4BitStream(-1, name), EZURadUvudod);
}

TEST_F(HexEditorTest, ChangingBytesMarksThemOutsideInsertMode)
{
    LoadBytes(Pattern(40));
    hex->IntChangeByte(hex->GetDataAt(5), 0x99, 5, 0, 0);
    EXPECT_EQ(hex->GetDataAt(5), 0x99);
    EXPECT_TRUE(hex->HasChanged(5));
    EXPECT_FALSE(hex->HasChanged(4));
    EXPECT_TRUE(hex->GetModified());
    // The same value changes and records nothing.
    const std::int32_t records = hex->UndoStorage().Count();
    hex->IntChangeByte(0x99, 0x99, 5, 0, 0);
    EXPECT_EQ(hex->UndoStorage().Count(), records);

    hex->IntChangeWideChar(0x0000, 0x4142, 10, 0, 0);
    EXPECT_EQ(hex->GetDataAt(10), 0x42);
    EXPECT_EQ(hex->GetDataAt(11), 0x41);
    hex->IntChangeWideChar(0x4142, 0x4143, 10, 0, 0);  // only the low byte differs
    EXPECT_TRUE(hex->HasChanged(10));
    EXPECT_FALSE(hex->HasChanged(11));
}

TEST_F(HexEditorTest, InsertAppendAndReplaceSelectWhatTheyWrote)
{
    LoadBytes(Bytes({0, 1, 2, 3, 4, 5, 6, 7}));
    hex->IntChangeByte(7, 0x77, 7, 0, 0);
    ASSERT_TRUE(hex->HasChanged(7));
    const std::string abc = "abc";
    hex->InsertBuffer(abc.data(), 3, 2, {}, true);
    EXPECT_EQ(Data(), Bytes({0, 1, 'a', 'b', 'c', 2, 3, 4, 5, 6, 0x77}));
    EXPECT_EQ(hex->SelFirst(), 2);
    EXPECT_EQ(hex->SelLast(), 4);
    EXPECT_EQ(hex->GetCursorPos(), 4);  // the last inserted byte
    EXPECT_FALSE(hex->HasChanged(10));  // marks behind an insertion go

    hex->AppendBuffer(abc.data(), 0, {}, true);  // nothing to append: nothing recorded
    const std::int32_t records = hex->UndoStorage().Count();
    hex->AppendBuffer(abc.data(), 2, {}, true);
    EXPECT_EQ(Data().substr(11), "ab");
    EXPECT_EQ(hex->SelFirst(), 11);
    EXPECT_EQ(hex->SelLast(), 12);
    EXPECT_EQ(hex->GetCursorPos(), 11);
    EXPECT_EQ(hex->UndoStorage().Count(), records + 1);

    hex->NewSelection(0, 4);
    hex->ReplaceSelection("XY", 2, {}, true);
    EXPECT_EQ(Data(), std::string("XY") + Bytes({2, 3, 4, 5, 6, 0x77}) + "ab");
    EXPECT_EQ(hex->SelFirst(), 0);
    EXPECT_EQ(hex->SelLast(), 1);
}

TEST_F(HexEditorTest, ReplaceSelectionWithAFixedSizeKeepsTheSize)
{
    const std::string data = Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    LoadBytes(data);
    hex->SetFixedFileSize(true);
    hex->NewSelection(2, 6);
    hex->ReplaceSelection("AB", 2, {}, true);  // fewer bytes: only the first two selected change
    EXPECT_EQ(Data(), Bytes({0, 1, 'A', 'B', 4, 5, 6, 7, 8, 9}));
    hex->NewSelection(2, 6);
    hex->ReplaceSelection("abcdefgh", 8, {}, true);  // more bytes: only five are written
    EXPECT_EQ(Data(), Bytes({0, 1, 'a', 'b', 'c', 'd', 'e', 7, 8, 9}));
    EXPECT_EQ(hex->GetDataSize(), 10);
    // Growing or shrinking is refused before anything changes.
    ExpectRefused([&] { hex->InsertBuffer("z", 1, 0, {}, true); });
    hex->NewSelection(0, 0);
    ExpectRefused([&] { hex->DeleteSelection(); });
    EXPECT_EQ(Data(), Bytes({0, 1, 'a', 'b', 'c', 'd', 'e', 7, 8, 9}));
}

TEST_F(HexEditorTest, DeletingAtTheCaretAndTheSelection)
{
    struct Case {
        const char* what;
        std::int32_t size, unit;
        bool insertMode;
        std::int32_t caret;  // -1: the end slot
        bool backwards;
        std::string expected;  // bytes left, as indexes into 0 1 2 ...
    };
    const Case cases[] = {
        // A trailing part of a unit goes one byte at a time.
        {"backspace at the end slot, unit 2", 5, 2, true, -1, true, Bytes({0, 1, 2, 3})},
        {"backspace at a unit start, unit 2", 6, 2, true, 4, true, Bytes({0, 1, 4, 5})},
        {"backspace at 0", 4, 1, true, 0, true, Bytes({0, 1, 2, 3})},
        {"delete a unit", 8, 4, false, 4, false, Bytes({0, 1, 2, 3})},
        {"delete inside a unit takes the whole unit", 8, 4, false, 6, false, Bytes({0, 1, 2, 3})},
        {"delete a short last unit", 7, 4, false, 5, false, Bytes({0, 1, 2, 3})},
        {"delete one byte", 4, 1, false, 1, false, Bytes({0, 2, 3})},
    };
    for (const Case& c : cases) {
        std::string data;
        for (int i = 0; i < c.size; ++i)
            data.push_back(static_cast<char>(i));
        LoadBytes(data);
        hex->SetBytesPerUnit(c.unit);
        hex->SetInsertMode(c.insertMode);
        const TGridCoord cell = hex->GetCursorAtPos(c.caret < 0 ? c.size : c.caret, false);
        hex->MoveColRow(cell.X, cell.Y, true, true);
        hex->InternalErase(c.backwards);
        EXPECT_EQ(Data(), c.expected) << c.what;
        hex->SetInsertMode(false);
        hex->SetBytesPerUnit(1);
    }
    // Without a selection DeleteSelection takes the byte at the caret; on the
    // end slot of insert mode there is none, and it is refused.
    LoadBytes(Bytes({1, 2, 3}));
    hex->SetInsertMode(true);
    const TGridCoord end = hex->GetCursorAtPos(3, false);
    hex->MoveColRow(end.X, end.Y, true, true);
    ExpectRefused([&] { hex->DeleteSelection(); });
    EXPECT_EQ(Data(), Bytes({1, 2, 3}));
    hex->NewSelection(0, 1);
    hex->DeleteSelection();
    EXPECT_EQ(Data(), Bytes({3}));
}

TEST_F(HexEditorTest, ConvertingARangeBetweenTranslations)
{
    LoadBytes("ABCD");
    const std::int32_t records = hex->UndoStorage().Count();
    hex->ConvertRange(1, 2, tkAsIs, tkAsIs);  // equal kinds
    hex->ConvertRange(2, 1, tkAsIs, tkBCD);   // empty range
    hex->ConvertRange(1, 4, tkAsIs, tkBCD);   // past the end
    EXPECT_EQ(hex->UndoStorage().Count(), records);
    hex->ConvertRange(1, 2, tkAsIs, tkBCD);
    EXPECT_EQ(Data(), Bytes({'A', 0xC2, 0xC3, 'D'}));  // EBCDIC B and C
    hex->Undo();
    EXPECT_EQ(Data(), "ABCD");
}

TEST_F(HexEditorTest, TheDataAsText)
{
    LoadBytes("hello");
    EXPECT_EQ(hex->GetAsText(), "hello");
    EXPECT_EQ(hex->GetAsHex(), "68656C6C6F");
    // An empty text changes nothing.
    hex->SetAsText("");
    hex->SetAsHex("");
    hex->SetAsHex("zz");
    EXPECT_EQ(Data(), "hello");
    hex->SetAsHex("41 42");
    EXPECT_EQ(Data(), "AB");
    hex->SetTranslation(tkBCD);
    hex->SetAsText("A");
    EXPECT_EQ(Data(), Bytes({0xC1}));
    hex->SetTranslation(tkAsIs);
    LoadBytes("abcdef");
    hex->NewSelection(1, 3);
    EXPECT_EQ(hex->GetSelectionAsText(), "bcd");
    EXPECT_EQ(hex->GetSelectionAsHex(), "626364");
    hex->SetSelectionAsHex("3132");
    EXPECT_EQ(Data(), "a12ef");
    // Without a selection the text goes in at the caret.
    hex->SetSelStart(1);
    hex->SetSelectionAsText("Z");
    EXPECT_EQ(Data(), "aZ12ef");
    // Unicode mode cannot hold a translation.
    LoadBytes("abcd");
    hex->SetUnicodeChars(true);
    EXPECT_THROW(hex->SetTranslation(tkDos8), EZURadUvudod);
}

TEST_F(HexEditorTest, SeekingByOffset)
{
    LoadBytes(Pattern(100));
    EXPECT_EQ(hex->Seek(10, 0), 10);
    EXPECT_EQ(hex->Seek(5, 1), 15);
    EXPECT_EQ(hex->Seek(-3, 2), 96);
    EXPECT_EQ(hex->Seek(-500, 1), 0);
    EXPECT_EQ(hex->Seek(500, 0), 99);
    EXPECT_EQ(hex->GetCurrentValue(), static_cast<std::uint8_t>(Pattern(100)[99]));
    hex->SetInsertMode(true);
    hex->SeekToEOF();
    EXPECT_EQ(hex->GetPositionAtCursor(hex->Col(), hex->Row()), 100);
    EXPECT_EQ(hex->GetCurrentValue(), -1);
    LoadBytes("");
    EXPECT_EQ(hex->Seek(3, 0), -1);
}

TEST_F(HexEditorTest, EditsRefuseRangesOutsideTheData)
{
    LoadBytes(Bytes({1, 2, 3}));
    // A 16-bit character on the last byte of odd-sized data.
    ExpectRefused([&] { hex->IntChangeWideChar(3, 0x4141, 2, 0, 0); });
    // Sizes past 2,147,483,647 bytes.
    ExpectRefused([&] { hex->Replace("x", 0, 1, INT32_MAX, {}, true); });
    ExpectRefused([&] { hex->InsertBuffer("x", INT32_MAX - 1, 0, {}, true); });
    EXPECT_EQ(Data(), Bytes({1, 2, 3}));
    // On empty data only insertions, appends and snapshots are recorded.
    LoadBytes("");
    EXPECT_TRUE(hex->CanCreateUndo(ufKindInsertBuffer, 1, 0));
    EXPECT_TRUE(hex->CanCreateUndo(ufKindAppendBuffer, 1, 0));
    EXPECT_TRUE(hex->CanCreateUndo(ufKindAllData, 0, 0));
    EXPECT_FALSE(hex->CanCreateUndo(ufKindByteRemoved, 1, 0));
    EXPECT_FALSE(hex->CanCreateUndo(ufKindBytesChanged, 1, 0));
    ExpectRefused([&] { hex->DeleteSelection(); });
}

}  // namespace
