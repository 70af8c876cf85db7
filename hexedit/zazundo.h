// The hex editor's undo history: one memory stream of self-describing
// records, appended before every edit and read back from the end, and one
// step of redo.
//
// Record layout (packed, little-endian), oldest record first in the stream:
//
//   +0   int32  record size (the whole record, trailing size included)
//   +4   uint32 flags: one kind (bits 0-10) and any of the flags (bits 11-20)
//   +8   int32  caret position when the record was made
//   +12  int32  position of the change
//   +16  int32  count (bytes the change writes; kind-specific)
//   +20  int32  replaced count
//   +24  uint8  translation in force
//   +25  int32  bytes per unit in force
//   +29  n      data, n >= 1 (one 0 byte when the kind saves nothing)
//        L      description characters        } only with ufFlagHasDescription
//        int32  description length L          }
//        3x int32 selection start, end, anchor  only with ufFlagHasSelection
//        int32  record size again
//
// So a record is 33 + n bytes, plus L + 4 with a description and 12 with a
// selection.
#pragma once

#include "hexedit/zazconv.h"
#include "rtl/streams.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class TCustomZURadUvudod;

enum TZAZUndoFlag : std::uint8_t {
    ufKindBytesChanged,
    ufKindByteRemoved,
    ufKindInsertBuffer,
    ufKindReplace,
    ufKindAppendBuffer,
    ufKindNibbleInsert,
    ufKindNibbleDelete,
    ufKindConvert,
    ufKindSelection,
    ufKindCombined,
    ufKindAllData,
    ufFlagByte1Changed,
    ufFlagByte2Changed,
    ufFlagModified,
    ufFlag2ndByteCol,
    ufFlagInCharField,
    ufFlagHasSelection,
    ufFlagInsertMode,
    ufFlagIsUnicode,
    ufFlagIsUnicodeBigEndian,
    ufFlagHasDescription,
};
// A set of TZAZUndoFlag: bit n for ordinal n.
using TZAZUndoFlags = std::uint32_t;
constexpr TZAZUndoFlags UndoFlagBit(TZAZUndoFlag f) { return TZAZUndoFlags(1) << f; }

// The fixed head of a record, offsets 0 to 29 (the first data byte included).
struct TZAZUndoRec {
    std::int32_t DataSize = 0;
    TZAZUndoFlags Flags = 0;
    std::int32_t CurPos = 0;
    std::int32_t Pos = 0;
    std::int32_t Count = 0;
    std::int32_t ReplaceCount = 0;
    std::uint8_t CurTranslation = 0;
    std::int32_t CurBPU = 1;
    std::uint8_t Buffer = 0;
};
constexpr std::int32_t kUndoHeadSize = 30;

// A bookmark that an edit's removed range took in, moved to the range's
// start: undoing the edit puts it back where it stood.
struct TZAZTakenBookmark {
    int Index = 0;
    std::int32_t Original = 0;
    std::int32_t MovedTo = 0;
};

class TZAZUndoStorage : public TMemoryStream {
public:
    explicit TZAZUndoStorage(TCustomZURadUvudod& editor);
    ~TZAZUndoStorage() override;

    // After setting the size, a stream too short for a record holds none.
    void SetSize(std::int64_t newSize) override;

    // Recording is suspended while the update count is above 0.
    std::int32_t BeginUpdate();
    std::int32_t EndUpdate();
    std::int32_t UpdateCount() const { return m_updateCount; }

    bool CanUndo();
    bool CanRedo() const { return m_redo != nullptr; }
    std::int32_t Count() const { return m_count; }
    void SetCount(std::int32_t value);
    const std::string& Description() const { return m_description; }

    // Appends one record for an edit about to happen (nothing while
    // suspended), first dropping the oldest steps beyond MaxUndo.
    void CreateUndo(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                    const std::string& description);
    // The bytes the record for such an edit takes (data, description,
    // selection and sizes).
    std::int64_t RecordSize(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                            const std::string& description) const;
    // Attaches the selection start .. start + count - 1 to the newest record.
    void AddSelection(std::int32_t start, std::int32_t count);

    TZAZUndoFlag ReadUndoRecord(TZAZUndoRec& rec, std::string& description);
    TZAZUndoFlag GetLastUndoKind();
    static TZAZUndoFlag GetUndoKind(TZAZUndoFlags flags);

    // Removes the newest record, keeping it for redo.
    void RemoveLastUndo();
    // Removes the newest record without keeping it (a snapshot that a group
    // turned out not to need).
    void DropLastRecord();

    bool Undo();
    bool Redo();
    void CreateRedo(const TZAZUndoRec& rec);
    void ResetRedo();

    // Empties the stream (size, records, update count, description); with
    // clearRedo also the redo step.
    void Reset(bool clearRedo);
    // Empties records and redo but leaves a suspension of recording in force:
    // what loading a new file into the editor does.
    void ClearHistory();

    // Bookkeeping of one suspension: did something change meanwhile, and
    // does the newest record hold a snapshot of the data taken before it.
    bool SuspendedWrite() const { return m_suspendedWrite; }
    void NoteSuspendedWrite() { m_suspendedWrite = true; }
    bool SuspendedSnapshot() const { return m_suspendedSnapshot; }
    void NoteSuspendedSnapshot() { m_suspendedSnapshot = true; }

private:
    struct RecordInfo {
        std::int64_t Offset;
        std::int32_t Size;
        TZAZUndoFlag Kind;
        std::int32_t Count;
    };
    // The redo step: what the undone edit wrote, and the editor's bookmarks
    // and selection after it.
    struct RedoBlock {
        TZAZUndoRec Head;
        std::vector<std::uint8_t> Data;
        std::array<std::int32_t, 10> BookmarkPos{};
        std::array<bool, 10> BookmarkInChar{};
        std::int32_t SelStart = -1, SelEnd = -1, SelAnchor = -1;
    };

    // Every record from the oldest; false when the sizes do not chain up.
    bool Scan(std::vector<RecordInfo>& records);
    // Drops the oldest steps while the stream exceeds MaxUndo, keeping the
    // newest keepSteps steps whole (a combined record with those it covers).
    void Trim(std::int32_t keepSteps);
    std::int32_t TrailingSize();
    std::string DescriptionOf(const std::uint8_t* record, std::int32_t size) const;
    void ApplyUndo(TZAZUndoFlag kind, const TZAZUndoRec& rec, const std::uint8_t* record, std::int32_t size,
                   const std::vector<TZAZTakenBookmark>& taken);
    void ApplyRedo();

    TCustomZURadUvudod& m_editor;
    std::int32_t m_count = 0;
    std::int32_t m_updateCount = 0;
    std::string m_description;
    std::unique_ptr<RedoBlock> m_redo;
    std::vector<std::uint8_t> m_lastUndo;
    std::vector<TZAZTakenBookmark> m_lastUndoTaken;
    std::string m_lastUndoDescription;
    // One entry per record, oldest first: the bookmarks its edit took in.
    std::deque<std::vector<TZAZTakenBookmark>> m_taken;
    bool m_suspendedWrite = false;
    bool m_suspendedSnapshot = false;
};
