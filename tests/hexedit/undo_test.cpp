// The undo history: its exact record bytes, trimming to MaxUndo, redo,
// grouped and combined steps, and a random model of mixed edits undone and
// redone against snapshots of the editor.
#include "hex_fixture.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> Stream(TCustomZURadUvudod& hex)
{
    TZAZUndoStorage& s = hex.UndoStorage();
    return std::vector<std::uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void Put32(std::vector<std::uint8_t>& v, std::int32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(x) >> (8 * i)));
}

// A record as the layout says, built by hand.
std::vector<std::uint8_t> Record(std::uint32_t flags, std::int32_t caret, std::int32_t pos, std::int32_t count,
                                 std::int32_t repl, std::uint8_t translation, std::int32_t unit,
                                 const std::vector<std::uint8_t>& data, const std::string& desc)
{
    const std::int32_t size =
        static_cast<std::int32_t>(33 + data.size() + (desc.empty() ? 0 : desc.size() + 4));
    std::vector<std::uint8_t> r;
    Put32(r, size);
    Put32(r, static_cast<std::int32_t>(flags));
    Put32(r, caret);
    Put32(r, pos);
    Put32(r, count);
    Put32(r, repl);
    r.push_back(translation);
    Put32(r, unit);
    r.insert(r.end(), data.begin(), data.end());
    if (!desc.empty()) {
        r.insert(r.end(), desc.begin(), desc.end());
        Put32(r, static_cast<std::int32_t>(desc.size()));
    }
    Put32(r, size);
    return r;
}

TEST_F(HexEditorTest, RecordsHoldTheExactLayout)
{
    LoadBytes(Pattern(40));
    hex->SetSelStart(5);
    const std::uint8_t old5 = hex->GetDataAt(5), old6 = hex->GetDataAt(6);
    hex->IntChangeByte(old5, 0xEE, 5, 0, 0);
    auto expected = Record(UndoFlagBit(ufKindBytesChanged), 5, 5, 1, 0, tkAsIs, 1, {old5}, "");
    ASSERT_EQ(expected.size(), 34u);
    EXPECT_EQ(Stream(*hex), expected);

    // Modified now, on the low nibble of byte 6, with a description.
    const TGridCoord low6 = hex->GetCursorAtPos(6, false);
    hex->MoveColRow(low6.X + 1, low6.Y, true, true);
    hex->IntChangeByte(old6, 0xDD, 6, 0, 0, "Edit");
    const auto second = Record(UndoFlagBit(ufKindBytesChanged) | UndoFlagBit(ufFlagModified) |
                                   UndoFlagBit(ufFlag2ndByteCol) | UndoFlagBit(ufFlagHasDescription),
                               6, 6, 1, 0, tkAsIs, 1, {old6}, "Edit");
    ASSERT_EQ(second.size(), 42u);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Stream(*hex), expected);
    EXPECT_EQ(hex->GetUndoDescription(), "Edit");

    // A selection adds its 12 bytes before the trailing size.
    hex->NewSelection(10, 12);
    hex->DeleteSelection();
    const auto all = Stream(*hex);
    const std::int32_t size = static_cast<std::int32_t>(all.size() - expected.size());
    EXPECT_EQ(size, 33 + 3 + 12);
    std::int32_t sel[3];
    std::memcpy(sel, all.data() + all.size() - 16, 12);
    EXPECT_EQ(sel[0], 10);
    EXPECT_EQ(sel[1], 12);
    EXPECT_EQ(sel[2], 10);
}

TEST_F(HexEditorTest, MaxUndoDropsTheOldestRecordsBeforeAppending)
{
    LoadBytes(Pattern(40));
    hex->SetMaxUndo(100);
    for (int i = 0; i < 3; ++i)
        hex->IntChangeByte(hex->GetDataAt(i), 0xF0, i, 0, 0);
    EXPECT_EQ(hex->UndoStorage().Size(), 102);
    EXPECT_EQ(hex->UndoStorage().Count(), 3);
    hex->IntChangeByte(hex->GetDataAt(3), 0xF0, 3, 0, 0);
    EXPECT_EQ(hex->UndoStorage().Size(), 102);
    EXPECT_EQ(hex->UndoStorage().Count(), 3);
    // The three newest changes undo; the oldest stays.
    while (hex->GetCanUndo())
        hex->Undo();
    EXPECT_EQ(hex->GetDataAt(0), 0xF0);
    EXPECT_EQ(Data().substr(1, 3), Pattern(40).substr(1, 3));
}

TEST_F(HexEditorTest, AMoveLargerThanMaxUndoUndoesWhole)
{
    const std::string original = Pattern(600);
    LoadBytes(original);
    hex->SetMaxUndo(100);
    hex->IntChangeByte(hex->GetDataAt(599), 1, 599, 0, 0);  // an older step
    const std::string beforeMove = Data();
    // Move 200 bytes from 100 to the end: a removal, an insertion, one step.
    const std::string moved = Data().substr(100, 200);
    hex->NewSelection(100, 299);
    hex->DeleteSelection();
    hex->InsertBuffer(moved.data(), 200, hex->GetDataSize(), {}, true);
    hex->CombineUndo(2, "Data Moved");
    EXPECT_EQ(hex->GetUndoDescription(), "Data Moved");
    EXPECT_EQ(hex->GetDataSize(), 600);
    ASSERT_TRUE(hex->GetCanUndo());
    hex->Undo();
    EXPECT_EQ(Data(), beforeMove);
    EXPECT_FALSE(hex->GetCanRedo());  // a combined step leaves no redo

    // Later steps drop the move whole, never half of it.
    hex->NewSelection(100, 299);
    hex->DeleteSelection();
    hex->InsertBuffer(moved.data(), 200, hex->GetDataSize(), {}, true);
    hex->CombineUndo(2, "Data Moved");
    const std::string afterMove = Data();
    hex->IntChangeByte(hex->GetDataAt(0), 2, 0, 0, 0);
    hex->IntChangeByte(hex->GetDataAt(1), 3, 1, 0, 0);
    int undone = 0;
    while (hex->GetCanUndo()) {
        hex->Undo();
        ++undone;
    }
    // The two changes; the move went whole when the second one came.
    EXPECT_EQ(undone, 2);
    EXPECT_EQ(Data(), afterMove);
}

TEST_F(HexEditorTest, UndoAndRedoOfATypedByte)
{
    LoadBytes(Pattern(40));
    hex->SetSelStart(3);
    const std::uint8_t old = hex->GetDataAt(3);
    Type(old >> 4 == 0xA ? "b" : "a");
    const std::uint8_t typed = hex->GetDataAt(3);
    EXPECT_NE(typed, old);
    EXPECT_TRUE(hex->HasChanged(3));
    EXPECT_TRUE(hex->GetModified());
    EXPECT_EQ(hex->Col(), hex->GetCursorAtPos(3, false).X + 1);  // on the low nibble now
    EXPECT_EQ(hex->GetUndoDescription(), "Change Byte(s)");

    ASSERT_TRUE(hex->Undo());
    EXPECT_EQ(hex->GetDataAt(3), old);
    EXPECT_FALSE(hex->HasChanged(3));
    EXPECT_FALSE(hex->GetModified());
    EXPECT_EQ(hex->Col(), hex->GetCursorAtPos(3, false).X);  // back on the high nibble
    EXPECT_EQ(hex->GetUndoDescription(), "No Undo");
    EXPECT_TRUE(hex->GetCanRedo());

    ASSERT_TRUE(hex->Redo());
    EXPECT_EQ(hex->GetDataAt(3), typed);
    EXPECT_TRUE(hex->HasChanged(3));
    EXPECT_TRUE(hex->GetModified());
    EXPECT_TRUE(hex->GetCanUndo());
    EXPECT_FALSE(hex->GetCanRedo());

    // Undo, a new edit, and the redo is gone.
    hex->Undo();
    hex->IntChangeByte(hex->GetDataAt(9), 0x11, 9, 0, 0);
    EXPECT_FALSE(hex->GetCanRedo());
    EXPECT_FALSE(hex->Redo());
}

TEST_F(HexEditorTest, ACombinedStepUndoesAllItCovers)
{
    LoadBytes(Pattern(20));
    const std::string before = Data();
    hex->IntChangeByte(hex->GetDataAt(0), 0xA0, 0, 0, 0);
    hex->InsertBuffer("xy", 2, 5, {}, true);
    hex->NewSelection(10, 12);
    hex->DeleteSelection();
    hex->CombineUndo(3);
    EXPECT_EQ(hex->GetUndoDescription(), "Multiple Modification");
    hex->Undo();
    EXPECT_EQ(Data(), before);
    EXPECT_FALSE(hex->GetCanRedo());
    EXPECT_FALSE(hex->GetCanUndo());
}

TEST_F(HexEditorTest, UndoRestoresADisplayStateThatNoLongerFitsWithoutFailing)
{
    // A record made with a translation, undone while unicode mode is on: the
    // translation cannot come back before unicode mode is off.
    LoadBytes("abcd");
    hex->SetTranslation(tkDos8);
    hex->IntChangeByte('a', 'z', 0, 0, 0);
    hex->SetTranslation(tkAsIs);
    hex->SetUnicodeChars(true);
    EXPECT_NO_THROW(hex->Undo());
    EXPECT_EQ(Data(), "abcd");
    EXPECT_FALSE(hex->UnicodeChars());
    EXPECT_EQ(hex->Translation(), tkDos8);
    EXPECT_FALSE(hex->GetCanUndo());

    // A record made in unicode mode on odd-sized data (SetAsText left it so),
    // undone with unicode mode off: unicode mode cannot come back on, the
    // rest is restored and the record is not applied twice.
    LoadBytes("abcd");
    hex->SetTranslation(tkAsIs);
    hex->SetUnicodeChars(true);
    hex->SetAsText("xyz");
    ASSERT_EQ(Data(), "xyz");
    hex->IntChangeWideChar('x' | ('y' << 8), 'Q' | ('R' << 8), 0, 0, 0);
    ASSERT_EQ(Data(), "QRz");
    hex->SetUnicodeChars(false);
    EXPECT_NO_THROW(hex->Undo());
    EXPECT_EQ(Data(), "xyz");
    EXPECT_FALSE(hex->UnicodeChars());
    hex->Undo();
    EXPECT_EQ(Data(), "abcd");
    EXPECT_FALSE(hex->GetCanUndo());
}

TEST_F(HexEditorTest, UnrecordedChangesDropTheStaleHistory)
{
    LoadBytes(Pattern(20));
    hex->IntChangeByte(hex->GetDataAt(4), 0x44, 4, 0, 0);
    hex->IntChangeByte(hex->GetDataAt(5), 0x55, 5, 0, 0);
    hex->Undo();
    ASSERT_TRUE(hex->GetCanRedo());
    // Recording suspended without a snapshot: an insertion shifts the data
    // under the older record and the redo step.
    hex->UndoBeginUpdate("");
    hex->InsertBuffer("ab", 2, 0, {}, true);
    EXPECT_FALSE(hex->GetCanRedo());
    hex->UndoEndUpdate();
    EXPECT_FALSE(hex->GetCanUndo());
    EXPECT_EQ(hex->GetDataAt(6), 0x44);

    // A suspension that changed nothing keeps the history.
    hex->IntChangeByte(hex->GetDataAt(7), 0x77, 7, 0, 0);
    hex->UndoBeginUpdate("");
    hex->UndoEndUpdate();
    EXPECT_TRUE(hex->GetCanUndo());

    // Loading empties the history, also inside a suspension.
    hex->UndoBeginUpdate("");
    LoadBytes("new");
    hex->UndoEndUpdate();
    EXPECT_FALSE(hex->GetCanUndo());
    EXPECT_FALSE(hex->Undo());
    EXPECT_EQ(Data(), "new");
}

TEST_F(HexExTest, AGroupIsOneStep)
{
    LoadBytes(Pattern(30));
    const std::string before = Data();
    hex->IntChangeByte(hex->GetDataAt(0), 0xAA, 0, 0, 0);
    const std::string afterFirst = Data();
    const std::int32_t records = hex->UndoStorage().Count();
    hex->UndoBeginUpdate("Fill");
    hex->IntChangeByte(hex->GetDataAt(3), 0x33, 3, 0, 0);
    hex->InsertBuffer("zz", 2, 10, {}, true);
    hex->NewSelection(20, 21);
    hex->DeleteSelection();
    EXPECT_EQ(hex->UndoEndUpdate(), 0);
    EXPECT_EQ(hex->UndoStorage().Count(), records + 1);
    EXPECT_EQ(hex->GetUndoDescription(), "Fill");
    hex->Undo();
    EXPECT_EQ(Data(), afterFirst);
    hex->Redo();
    EXPECT_NE(Data(), afterFirst);
    hex->Undo();
    hex->Undo();
    EXPECT_EQ(Data(), before);

    // A group that writes nothing leaves the records as they were; from now
    // on every group makes a snapshot, with or without a description.
    hex->IntChangeByte(hex->GetDataAt(0), 0xAB, 0, 0, 0);
    const auto stream = Stream(*hex);
    hex->UndoBeginUpdate("");
    hex->UndoEndUpdate();
    EXPECT_EQ(Stream(*hex), stream);
    hex->UndoBeginUpdate("");
    hex->IntChangeByte(hex->GetDataAt(1), 0x01, 1, 0, 0);
    hex->IntChangeByte(hex->GetDataAt(2), 0x02, 2, 0, 0);
    hex->UndoEndUpdate();
    EXPECT_EQ(hex->GetUndoDescription(), "All data saved");
    hex->Undo();
    EXPECT_EQ(hex->GetDataAt(0), 0xAB);
    EXPECT_EQ(Data().substr(1), before.substr(1));
}

// ---------------------------------------------------------------------------- model

struct EditorState {
    std::string data;
    TZAZBookmarks bookmarks;
    std::int32_t anchor, start, end, col, row;
    bool modified;
    TZAZTranslationKind translation;
    bool operator==(const EditorState&) const = default;
};

std::ostream& operator<<(std::ostream& os, const EditorState& s)
{
    os << "size " << s.data.size() << " sel " << s.anchor << "/" << s.start << ".." << s.end << " caret " << s.col
       << "," << s.row << " modified " << s.modified << " translation " << s.translation << " bookmarks";
    for (const auto& b : s.bookmarks)
        os << " " << b.mPosition << (b.mInCharField ? "c" : "h");
    return os;
}

class UndoModel : public HexExTest {
protected:
    EditorState State()
    {
        return {Data(), hex->Bookmarks(), hex->SelAnchor(), hex->SelFirst(), hex->SelLast(), hex->Col(), hex->Row(),
                hex->GetModified(), hex->Translation()};
    }
    std::int32_t Pos(std::int32_t below) { return static_cast<std::int32_t>(rng() % static_cast<unsigned>(below)); }
    void PlaceCaret(std::int32_t pos, bool inChar, bool low = false)
    {
        const TGridCoord c = hex->GetCursorAtPos(pos, inChar);
        hex->MoveColRow(c.X + (low && !inChar ? 1 : 0), c.Y, true, true);
    }
    std::string RandomBytes(std::int32_t n)
    {
        std::string s;
        for (std::int32_t i = 0; i < n; ++i)
            s.push_back(static_cast<char>(rng()));
        return s;
    }

    // One edit that records exactly one step, after setting up the caret
    // and selection it needs; `before` takes the state that undoing the step
    // brings back. False when the data are too short (nothing happens then).
    bool Step(EditorState& before)
    {
        const std::int32_t size = hex->GetDataSize();
        if (size < 8)
            return false;
        switch (rng() % 10) {
        case 0: {  // typing over a nibble or a character
            hex->ResetSelection(true);
            const std::int32_t p = Pos(size);
            if (rng() % 2) {
                PlaceCaret(p, false);
                const int nibble = hex->GetDataAt(p) >> 4;
                before = State();
                Type(std::string(1, "0123456789abcdef"[(nibble + 1 + rng() % 15) % 16]));
            } else {
                PlaceCaret(p, true);
                char c = 'a';
                while (hex->TranslateFromAnsiChar(static_cast<std::uint8_t>(c)) == hex->GetDataAt(p) ||
                       hex->TranslateFromAnsiChar(static_cast<std::uint8_t>(c)) == 0)
                    ++c;
                before = State();
                Type(std::string(1, c));
            }
            return true;
        }
        case 1: {
            const std::string bytes = RandomBytes(1 + Pos(6));
            before = State();
            hex->InsertBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), Pos(size + 1), {}, rng() % 2);
            return true;
        }
        case 2: {
            const std::int32_t a = Pos(size), b = std::min(size - 1, a + Pos(5));
            hex->NewSelection(a, b);
            before = State();
            hex->DeleteSelection();
            return true;
        }
        case 3: {
            const std::int32_t p = Pos(size);
            const std::string bytes = RandomBytes(Pos(5));
            before = State();
            hex->Replace(bytes.data(), p, Pos(5), static_cast<std::int32_t>(bytes.size()), {}, true);
            return true;
        }
        case 4:
            before = State();
            return rng() % 2 ? hex->InsertNibble(Pos(size), rng() % 2) : hex->DeleteNibble(Pos(size), rng() % 2);
        case 5: {
            const std::int32_t a = Pos(size);
            before = State();
            hex->ConvertRange(a, std::min(size - 1, a + Pos(8)), tkAsIs, rng() % 2 ? tkBCD : tkMac);
            return true;
        }
        case 6: {  // a group of edits undone at once
            before = State();
            hex->UndoBeginUpdate("Group");
            hex->IntChangeByte(hex->GetDataAt(0), static_cast<std::uint8_t>(hex->GetDataAt(0) + 1), 0, 0, 0);
            hex->InsertBuffer("gg", 2, Pos(size), {}, true);
            hex->NewSelection(1, 2);
            hex->DeleteSelection();
            hex->UndoEndUpdate();
            return true;
        }
        case 7: {  // a move: removal and insertion, combined
            const std::int32_t a = Pos(size - 4);
            const std::string moved = Data().substr(static_cast<size_t>(a), 3);
            hex->NewSelection(a, a + 2);
            before = State();
            hex->DeleteSelection();
            hex->InsertBuffer(moved.data(), 3, Pos(hex->GetDataSize() + 1), {}, true);
            hex->CombineUndo(2, "Data Moved");
            return true;
        }
        case 8: {
            const std::int32_t p = Pos(size);
            before = State();
            hex->IntChangeByte(hex->GetDataAt(p), static_cast<std::uint8_t>(hex->GetDataAt(p) ^ 0x5A), p, 0, 0);
            return true;
        }
        default: {
            const std::string bytes = RandomBytes(1 + Pos(4));
            before = State();
            hex->AppendBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()), {}, rng() % 2);
            return true;
        }
        }
    }

    // Between steps: things that are not steps but that undo must restore
    // as they were when a step was recorded.
    void Wander()
    {
        const std::int32_t size = hex->GetDataSize();
        if (rng() % 3 == 0)
            hex->SetTranslation(static_cast<TZAZTranslationKind>(rng() % 6));
        if (rng() % 2)
            PlaceCaret(Pos(size), rng() % 2, rng() % 2);
        if (rng() % 3 == 0)
            hex->NewSelection(Pos(size), Pos(size));
        else if (rng() % 3 == 0)
            hex->ResetSelection(true);
    }

    void Run(std::int32_t maxUndo, unsigned seed)
    {
        rng.seed(seed);
        LoadBytes(Pattern(120));
        hex->SetMaxUndo(maxUndo);
        for (int i = 0; i < 10; ++i)
            if (rng() % 3)
                hex->SetBookmarkVals(i, Pos(120), rng() % 2);
        std::vector<EditorState> states;  // states[i]: before step i
        std::vector<bool> combined;
        for (int step = 0; step < 120; ++step) {
            Wander();
            EditorState before;
            if (!Step(before))
                continue;
            states.push_back(before);
            combined.push_back(hex->GetUndoDescription() == "Data Moved");
        }
        states.push_back(State());
        const std::int32_t n = static_cast<std::int32_t>(states.size()) - 1;
        std::int32_t undone = 0;
        for (std::int32_t i = n - 1; i >= 0 && hex->GetCanUndo(); --i, ++undone) {
            ASSERT_TRUE(hex->Undo());
            ASSERT_EQ(State(), states[static_cast<size_t>(i)]) << "undoing step " << i << " of " << n;
            if (combined[static_cast<size_t>(i)]) {
                EXPECT_FALSE(hex->GetCanRedo());
                continue;
            }
            ASSERT_TRUE(hex->Redo()) << "step " << i;
            ASSERT_EQ(State(), states[static_cast<size_t>(i + 1)]) << "redoing step " << i;
            ASSERT_TRUE(hex->Undo());
            ASSERT_EQ(State(), states[static_cast<size_t>(i)]) << "undoing step " << i << " again";
        }
        if (maxUndo <= 0)
            EXPECT_EQ(undone, n);
        else
            EXPECT_GE(undone, 1);
    }

    std::mt19937 rng;
};

TEST_F(UndoModel, MixedEditsUndoAndRedoWithoutLimit) { Run(0, 12345); }

TEST_F(UndoModel, MixedEditsUndoAndRedoWithATinyMaxUndo) { Run(300, 777); }

}  // namespace
