#include "hexedit/zazundo.h"

#include "hexedit/zuradhex.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "undo records are written in the host's byte order");

namespace {

// Offsets of the record head.
constexpr std::int32_t kOffFlags = 4, kOffCurPos = 8, kOffPos = 12, kOffCount = 16, kOffReplCount = 20,
                       kOffTranslation = 24, kOffBytesPerUnit = 25, kOffData = 29;
// Head and trailing size: a record is this plus its data, description and selection.
constexpr std::int32_t kFixedPart = 33;
constexpr std::int32_t kSelectionPart = 12;
// A record holds at least one data byte.
constexpr std::int32_t kMinRecord = kFixedPart + 1;

std::int32_t Get32(const std::uint8_t* p)
{
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Put32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, 4); }

bool Has(TZAZUndoFlags flags, TZAZUndoFlag f) { return (flags & UndoFlagBit(f)) != 0; }

TZAZUndoRec ReadHead(const std::uint8_t* p)
{
    TZAZUndoRec rec;
    rec.DataSize = Get32(p);
    rec.Flags = static_cast<TZAZUndoFlags>(Get32(p + kOffFlags));
    rec.CurPos = Get32(p + kOffCurPos);
    rec.Pos = Get32(p + kOffPos);
    rec.Count = Get32(p + kOffCount);
    rec.ReplaceCount = Get32(p + kOffReplCount);
    rec.CurTranslation = p[kOffTranslation];
    rec.CurBPU = Get32(p + kOffBytesPerUnit);
    rec.Buffer = p[kOffData];
    return rec;
}

const std::string& DefaultDescription(TZAZUndoFlag kind)
{
    static const std::string none;
    return kind <= ufKindAllData ? ZAZUndoDesc[kind] : none;
}

// The text a combined record keeps in its data: a length byte, then up to
// 255 characters.
std::string CombinedText(const std::uint8_t* record, std::int32_t size)
{
    const std::int32_t room = size - kFixedPart - 1;
    const std::int32_t len = std::min<std::int32_t>(record[kOffData], std::max(0, room));
    return std::string(reinterpret_cast<const char*>(record + kOffData + 1), static_cast<size_t>(len));
}

}  // namespace

// ====================================================================== storage

TZAZUndoStorage::TZAZUndoStorage(TCustomZURadUvudod& editor) : m_editor(editor) { Reset(true); }

TZAZUndoStorage::~TZAZUndoStorage() { Reset(true); }

void TZAZUndoStorage::SetSize(std::int64_t newSize)
{
    TMemoryStream::SetSize(newSize);
    if (newSize < kUndoHeadSize) {
        m_count = 0;
        m_taken.clear();
    }
}

std::int32_t TZAZUndoStorage::BeginUpdate()
{
    if (m_updateCount == 0) {
        m_suspendedWrite = false;
        m_suspendedSnapshot = false;
    }
    return ++m_updateCount;
}

std::int32_t TZAZUndoStorage::EndUpdate()
{
    if (m_updateCount > 0)
        --m_updateCount;
    return m_updateCount;
}

bool TZAZUndoStorage::CanUndo() { return m_count > 0 && m_updateCount < 1 && Size() > 0; }

void TZAZUndoStorage::SetCount(std::int32_t value)
{
    if (value <= 0) {
        Reset(false);
        return;
    }
    m_count = value;
    while (static_cast<std::int32_t>(m_taken.size()) < value)
        m_taken.emplace_front();
    while (static_cast<std::int32_t>(m_taken.size()) > value)
        m_taken.pop_front();
}

void TZAZUndoStorage::Reset(bool clearRedo)
{
    SetSize(0);
    m_count = 0;
    m_updateCount = 0;
    m_description.clear();
    m_taken.clear();
    m_suspendedWrite = false;
    m_suspendedSnapshot = false;
    if (clearRedo)
        ResetRedo();
}

void TZAZUndoStorage::ClearHistory()
{
    SetSize(0);
    m_count = 0;
    m_description.clear();
    m_taken.clear();
    m_suspendedWrite = false;
    m_suspendedSnapshot = false;
    ResetRedo();
}

void TZAZUndoStorage::ResetRedo()
{
    m_redo.reset();
    std::vector<std::uint8_t>().swap(m_lastUndo);
    m_lastUndoTaken.clear();
    m_lastUndoDescription.clear();
}

TZAZUndoFlag TZAZUndoStorage::GetUndoKind(TZAZUndoFlags flags)
{
    for (int k = ufKindBytesChanged; k <= ufKindAllData; ++k)
        if (flags & (TZAZUndoFlags(1) << k))
            return static_cast<TZAZUndoFlag>(k);
    return ufFlagByte1Changed;
}

std::int32_t TZAZUndoStorage::TrailingSize()
{
    const std::int64_t size = Size();
    if (size < 4)
        return -1;
    const std::int32_t s = Get32(Memory() + size - 4);
    if (s < kMinRecord || s > size || Get32(Memory() + size - s) != s)
        return -1;
    return s;
}

bool TZAZUndoStorage::Scan(std::vector<RecordInfo>& records)
{
    records.clear();
    const std::int64_t size = Size();
    const std::uint8_t* mem = Memory();
    for (std::int64_t off = 0; off < size;) {
        if (size - off < kMinRecord)
            return false;
        const std::int32_t s = Get32(mem + off);
        if (s < kMinRecord || s > size - off || Get32(mem + off + s - 4) != s)
            return false;
        const TZAZUndoFlags flags = static_cast<TZAZUndoFlags>(Get32(mem + off + kOffFlags));
        records.push_back({off, s, GetUndoKind(flags), Get32(mem + off + kOffCount)});
        off += s;
    }
    return static_cast<std::int32_t>(records.size()) == m_count;
}

void TZAZUndoStorage::Trim(std::int32_t keepSteps)
{
    const std::int32_t maxUndo = m_editor.m_maxUndo;
    if (maxUndo <= 0 || m_count <= 0 || Size() <= maxUndo)
        return;
    std::vector<RecordInfo> records;
    if (!Scan(records)) {
        // Records that do not chain up cannot be undone: drop them all.
        SetSize(0);
        m_count = 0;
        m_taken.clear();
        return;
    }
    // A combined record undoes the steps before it, which may be combined
    // records themselves: a step is a record with everything it covers.
    const std::int32_t n = static_cast<std::int32_t>(records.size());
    std::vector<std::int32_t> stepStart(static_cast<size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t j = i;
        if (records[static_cast<size_t>(i)].Kind == ufKindCombined) {
            j = i - 1;
            for (std::int32_t k = 0; k < records[static_cast<size_t>(i)].Count && j >= 0; ++k)
                j = stepStart[static_cast<size_t>(j)] - 1;
            ++j;
        }
        stepStart[static_cast<size_t>(i)] = j;
    }
    // The records that begin each step, newest step first.
    std::vector<std::int32_t> steps;
    for (std::int32_t i = n - 1; i >= 0; i = stepStart[static_cast<size_t>(i)] - 1)
        steps.push_back(stepStart[static_cast<size_t>(i)]);
    const std::int64_t size = Size();
    std::int64_t dropBytes = 0;
    std::int32_t dropRecords = 0;
    std::int32_t left = static_cast<std::int32_t>(steps.size());
    while (size - dropBytes > maxUndo && left > keepSteps) {
        // The oldest step left ends where the next one begins.
        dropRecords = left >= 2 ? steps[static_cast<size_t>(left - 2)] : n;
        dropBytes = dropRecords < n ? records[static_cast<size_t>(dropRecords)].Offset : size;
        --left;
    }
    if (dropRecords == 0)
        return;
    std::memmove(Memory(), Memory() + dropBytes, static_cast<size_t>(size - dropBytes));
    m_count -= dropRecords;
    m_taken.erase(m_taken.begin(), m_taken.begin() + dropRecords);
    SetSize(size - dropBytes);
}

std::int64_t TZAZUndoStorage::RecordSize(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count,
                                         std::int32_t replCount, const std::string& description) const
{
    (void)pos;
    std::int64_t n = 1;
    switch (kind) {
    case ufKindBytesChanged:
    case ufKindByteRemoved:
    case ufKindConvert: n = count; break;
    case ufKindReplace: n = replCount; break;
    case ufKindCombined:
        n = 1 + std::min<std::int64_t>(255, (description.empty() ? DefaultDescription(kind) : description).size());
        break;
    case ufKindAllData: n = m_editor.GetDataSize(); break;
    default: break;
    }
    std::int64_t total = kFixedPart + std::max<std::int64_t>(n, 1);
    if (!description.empty())
        total += static_cast<std::int64_t>(description.size()) + 4;
    if (m_editor.m_selAnchor != -1)
        total += kSelectionPart;
    return total;
}

void TZAZUndoStorage::CreateUndo(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                                 const std::string& description)
{
    if (m_updateCount >= 1 || kind > ufKindAllData)
        return;
    ResetRedo();
    m_description = description.empty() ? DefaultDescription(kind) : description;
    // A combined record must find the steps it covers still there.
    Trim(kind == ufKindCombined ? std::max(count, 1) : 1);

    TCustomZURadUvudod& e = m_editor;
    const std::int64_t total = RecordSize(kind, pos, count, replCount, description);
    const bool hasSelection = e.m_selAnchor != -1;
    const std::int64_t start = Size();
    SetSize(start + total);
    std::uint8_t* r = Memory() + start;
    std::memset(r, 0, static_cast<size_t>(total));

    TZAZUndoFlags flags = UndoFlagBit(kind) | e.CurrentStateFlags();
    if (!description.empty())
        flags |= UndoFlagBit(ufFlagHasDescription);
    Put32(r + kOffCurPos, kind == ufKindSelection ? pos : e.RawCaretPos());
    Put32(r + kOffPos, pos);
    Put32(r + kOffCount, kind == ufKindAllData ? e.GetDataSize() : count);
    Put32(r + kOffReplCount, replCount);
    r[kOffTranslation] = static_cast<std::uint8_t>(e.m_translation);
    Put32(r + kOffBytesPerUnit, e.m_bytesPerUnit);

    const std::uint8_t* data = e.m_data.Memory();
    std::uint8_t* out = r + kOffData;
    std::vector<TZAZTakenBookmark> taken;
    switch (kind) {
    case ufKindBytesChanged:
        std::memcpy(out, data + pos, static_cast<size_t>(count));
        if (e.HasChanged(pos))
            flags |= UndoFlagBit(ufFlagByte1Changed);
        if (count == 2 && e.HasChanged(pos + 1))
            flags |= UndoFlagBit(ufFlagByte2Changed);
        break;
    case ufKindByteRemoved:
        std::memcpy(out, data + pos, static_cast<size_t>(count));
        taken = e.MoveBookmarksForEdit(pos, count, 0);
        break;
    case ufKindInsertBuffer: e.MoveBookmarksForEdit(pos, 0, count); break;
    case ufKindReplace:
        std::memcpy(out, data + pos, static_cast<size_t>(replCount));
        taken = e.MoveBookmarksForEdit(pos, replCount, count);
        break;
    case ufKindNibbleInsert:
    case ufKindNibbleDelete:
        out[0] = data[pos];
        if (e.HasChanged(pos))
            flags |= UndoFlagBit(ufFlagByte1Changed);
        break;
    case ufKindConvert: std::memcpy(out, data + pos, static_cast<size_t>(count)); break;
    case ufKindCombined: {
        const std::string text = (description.empty() ? DefaultDescription(kind) : description).substr(0, 255);
        out[0] = static_cast<std::uint8_t>(text.size());
        std::memcpy(out + 1, text.data(), text.size());
        if (e.HasChanged(pos))
            flags |= UndoFlagBit(ufFlagByte1Changed);
        break;
    }
    case ufKindAllData: std::memcpy(out, data, static_cast<size_t>(e.GetDataSize())); break;
    default: break;
    }
    Put32(r + kOffFlags, static_cast<std::int32_t>(flags));

    // The parts behind the data, from the end: trailing size, selection,
    // description length, description.
    std::int64_t off = total - 4;
    if (hasSelection) {
        off -= kSelectionPart;
        Put32(r + off, e.m_selStart);
        Put32(r + off + 4, e.m_selEnd);
        Put32(r + off + 8, e.m_selAnchor);
    }
    if (!description.empty()) {
        const std::int32_t len = static_cast<std::int32_t>(description.size());
        off -= 4;
        Put32(r + off, len);
        off -= len;
        std::memcpy(r + off, description.data(), description.size());
    }
    Put32(r, static_cast<std::int32_t>(total));
    Put32(r + total - 4, static_cast<std::int32_t>(total));
    ++m_count;
    m_taken.push_back(std::move(taken));
    if (kind == ufKindSelection)
        AddSelection(pos, count);
}

void TZAZUndoStorage::AddSelection(std::int32_t start, std::int32_t count)
{
    if (!CanUndo())
        return;
    std::int32_t s = TrailingSize();
    if (s < 0)
        return;
    std::int64_t size = Size();
    TZAZUndoFlags flags = static_cast<TZAZUndoFlags>(Get32(Memory() + size - s + kOffFlags));
    if (!Has(flags, ufFlagHasSelection)) {
        SetSize(size + kSelectionPart);
        size += kSelectionPart;
        s += kSelectionPart;
        flags |= UndoFlagBit(ufFlagHasSelection);
        Put32(Memory() + size - s + kOffFlags, static_cast<std::int32_t>(flags));
        Put32(Memory() + size - s, s);
        Put32(Memory() + size - 4, s);
    }
    std::uint8_t* r = Memory() + size - s;
    Put32(r + kOffCurPos, start);
    std::uint8_t* sel = Memory() + size - 4 - kSelectionPart;
    Put32(sel, start);
    Put32(sel + 4, start + count - 1);
    Put32(sel + 8, start);
}

std::string TZAZUndoStorage::DescriptionOf(const std::uint8_t* record, std::int32_t size) const
{
    const TZAZUndoFlags flags = static_cast<TZAZUndoFlags>(Get32(record + kOffFlags));
    if (!Has(flags, ufFlagHasDescription))
        return {};
    const std::int32_t lenAt = size - 8 - (Has(flags, ufFlagHasSelection) ? kSelectionPart : 0);
    if (lenAt < kOffData + 1)
        return {};
    const std::int32_t len = Get32(record + lenAt);
    if (len < 0 || lenAt - len < kOffData + 1)
        return {};
    return std::string(reinterpret_cast<const char*>(record + lenAt - len), static_cast<size_t>(len));
}

TZAZUndoFlag TZAZUndoStorage::ReadUndoRecord(TZAZUndoRec& rec, std::string& description)
{
    description.clear();
    const std::int32_t s = TrailingSize();
    if (s < 0)
        return ufFlagByte1Changed;
    const std::uint8_t* record = Memory() + Size() - s;
    rec = ReadHead(record);
    description = DescriptionOf(record, s);
    Seek(Size() - s + kUndoHeadSize, soBeginning);
    return GetUndoKind(rec.Flags);
}

TZAZUndoFlag TZAZUndoStorage::GetLastUndoKind()
{
    const std::int32_t s = TrailingSize();
    if (s < 0)
        return ufFlagByte1Changed;
    return GetUndoKind(static_cast<TZAZUndoFlags>(Get32(Memory() + Size() - s + kOffFlags)));
}

void TZAZUndoStorage::DropLastRecord()
{
    const std::int32_t s = TrailingSize();
    if (s < 0) {
        ClearHistory();
        return;
    }
    SetSize(Size() - s);
    if (m_count > 0)
        --m_count;
    if (!m_taken.empty())
        m_taken.pop_back();
    // The description is that of the new newest record.
    m_description.clear();
    const std::int32_t t = TrailingSize();
    if (t >= 0) {
        const std::uint8_t* record = Memory() + Size() - t;
        const TZAZUndoFlag kind = GetUndoKind(static_cast<TZAZUndoFlags>(Get32(record + kOffFlags)));
        m_description = kind == ufKindCombined ? CombinedText(record, t) : DescriptionOf(record, t);
        if (m_description.empty())
            m_description = DefaultDescription(kind);
    }
}

void TZAZUndoStorage::RemoveLastUndo()
{
    const std::int32_t s = Size() < kUndoHeadSize ? -1 : TrailingSize();
    if (s < 0) {
        Reset(false);
        return;
    }
    m_lastUndo.assign(Memory() + Size() - s, Memory() + Size());
    m_lastUndoTaken = m_taken.empty() ? std::vector<TZAZTakenBookmark>{} : m_taken.back();
    m_lastUndoDescription = m_description;
    DropLastRecord();
}

void TZAZUndoStorage::CreateRedo(const TZAZUndoRec& rec)
{
    ResetRedo();
    const TZAZUndoFlag kind = GetUndoKind(rec.Flags);
    if (kind == ufKindCombined || kind > ufKindAllData)
        return;
    TCustomZURadUvudod& e = m_editor;
    const std::int64_t size = e.GetDataSize();
    const std::uint8_t* data = e.m_data.Memory();
    auto block = std::make_unique<RedoBlock>();
    TZAZUndoRec& head = block->Head;
    head.Pos = rec.Pos;
    head.Count = rec.Count;
    head.ReplaceCount = rec.ReplaceCount;
    TZAZUndoFlags flags = UndoFlagBit(kind) | (e.CurrentStateFlags() & ~UndoFlagBit(ufFlagHasSelection));
    // What the step wrote, as the data hold it now; cut to the data so that
    // a damaged record can never read past them.
    auto take = [&](std::int64_t from, std::int64_t count) {
        from = std::clamp<std::int64_t>(from, 0, size);
        count = std::clamp<std::int64_t>(count, 0, size - from);
        block->Data.assign(data + from, data + from + count);
    };
    switch (kind) {
    case ufKindBytesChanged:
        take(rec.Pos, rec.Count);
        if (e.HasChanged(rec.Pos))
            flags |= UndoFlagBit(ufFlagByte1Changed);
        if (rec.Count == 2 && e.HasChanged(rec.Pos + 1))
            flags |= UndoFlagBit(ufFlagByte2Changed);
        break;
    case ufKindInsertBuffer:
    case ufKindReplace:
    case ufKindConvert: take(rec.Pos, rec.Count); break;
    case ufKindAppendBuffer: take(rec.Pos, size - rec.Pos); break;
    case ufKindNibbleInsert:
    case ufKindNibbleDelete:
    case ufKindAllData:
        take(0, size);
        head.Count = static_cast<std::int32_t>(size);
        break;
    default: break;
    }
    head.Flags = flags;
    head.CurPos = e.RawCaretPos();
    head.CurTranslation = static_cast<std::uint8_t>(e.m_translation);
    head.CurBPU = e.m_bytesPerUnit;
    head.DataSize = static_cast<std::int32_t>(kUndoHeadSize - 1 + block->Data.size());
    for (int i = 0; i < 10; ++i) {
        block->BookmarkPos[static_cast<size_t>(i)] = e.m_bookmarks[static_cast<size_t>(i)].mPosition;
        block->BookmarkInChar[static_cast<size_t>(i)] = e.m_bookmarks[static_cast<size_t>(i)].mInCharField;
    }
    block->SelStart = e.m_selStart;
    block->SelEnd = e.m_selEnd;
    block->SelAnchor = e.m_selAnchor;
    m_redo = std::move(block);
}

bool TZAZUndoStorage::Undo()
{
    if (!CanUndo()) {
        Reset(false);
        return false;
    }
    if (Size() < kUndoHeadSize) {
        Reset(true);
        return false;
    }
    TZAZUndoRec rec;
    std::string description;
    const TZAZUndoFlag kind = ReadUndoRecord(rec, description);
    if (kind > ufKindAllData) {
        Reset(true);
        return false;
    }
    if (kind == ufKindCombined) {
        RemoveLastUndo();
        for (std::int32_t i = 0; i < rec.Count && CanUndo(); ++i)
            Undo();
        ResetRedo();
        return true;
    }
    CreateRedo(rec);
    // The record leaves the history before anything is applied, so that a
    // failure half-way can never have it applied twice.
    RemoveLastUndo();
    ApplyUndo(kind, rec, m_lastUndo.data(), static_cast<std::int32_t>(m_lastUndo.size()), m_lastUndoTaken);
    return true;
}

void TZAZUndoStorage::ApplyUndo(TZAZUndoFlag kind, const TZAZUndoRec& rec, const std::uint8_t* record,
                                std::int32_t size, const std::vector<TZAZTakenBookmark>& taken)
{
    TCustomZURadUvudod& e = m_editor;
    const std::uint8_t* data = record + kOffData;
    const std::int32_t p = rec.Pos, c = rec.Count, r = rec.ReplaceCount;
    TCustomZURadUvudod::TZAZEditorState state;
    state.Flags = rec.Flags;
    state.CaretPos = rec.CurPos;
    state.Translation = rec.CurTranslation;
    state.BytesPerUnit = rec.CurBPU;
    state.HasSelection = Has(rec.Flags, ufFlagHasSelection);
    if (state.HasSelection) {
        const std::uint8_t* sel = record + size - 4 - kSelectionPart;
        state.SelStart = Get32(sel);
        state.SelEnd = Get32(sel + 4);
        state.SelAnchor = Get32(sel + 8);
    }
    const bool mark1 = Has(rec.Flags, ufFlagByte1Changed);
    const std::int32_t dataSize = e.GetDataSize();
    switch (kind) {
    case ufKindBytesChanged:
        e.WriteBuffer(data, p, c);
        e.SetChanged(p, mark1);
        if (c == 2)
            e.SetChanged(p + 1, Has(rec.Flags, ufFlagByte2Changed));
        break;
    case ufKindByteRemoved:
        e.MoveBookmarksForEdit(p, 0, c, taken);
        e.InternalInsertBuffer(data, c, p);
        e.CutMarks(p);
        break;
    case ufKindInsertBuffer:
        e.MoveBookmarksForEdit(p, c, 0);
        e.InternalDelete(p, p + c, -1, 0);
        e.CutMarks(p);
        break;
    case ufKindReplace:
        e.MoveBookmarksForEdit(p, c, r, taken);
        e.InternalDelete(p, p + c, -1, 0);
        e.InternalInsertBuffer(data, r, p);
        e.CutMarks(p);
        break;
    case ufKindAppendBuffer:
        e.InternalDelete(p, dataSize, -1, 0);
        e.CutMarks(p);
        break;
    case ufKindNibbleInsert:
    case ufKindNibbleDelete:
        // Taking out (or putting back) the low nibble of the byte shifts the
        // rest back; the byte itself comes from the record.
        if (kind == ufKindNibbleInsert)
            e.InternalDeleteNibble(p, false);
        else
            e.InternalInsertNibble(p, false);
        e.SetDataAt(p, data[0]);
        e.CutMarks(p);
        e.SetChanged(p, mark1);
        e.InternalDelete(e.GetDataSize() - 1, e.GetDataSize(), -1, 0);
        break;
    case ufKindConvert:
        e.WriteBuffer(data, p, c);
        e.CutMarks(p);
        break;
    case ufKindAllData: e.ReplaceAllData(data, c); break;
    default: break;
    }
    e.RestoreEditorState(state, true);
}

bool TZAZUndoStorage::Redo()
{
    if (!m_redo)
        return false;
    ApplyRedo();
    ResetRedo();
    m_editor.Changed();
    return true;
}

void TZAZUndoStorage::ApplyRedo()
{
    TCustomZURadUvudod& e = m_editor;
    // Taken out first: the editor's handlers run below.
    const std::unique_ptr<RedoBlock> block = std::move(m_redo);
    const TZAZUndoRec& head = block->Head;
    const TZAZUndoFlag kind = GetUndoKind(head.Flags);
    const std::uint8_t* data = block->Data.data();
    const std::int32_t n = static_cast<std::int32_t>(block->Data.size());
    const std::int32_t p = head.Pos, c = head.Count, r = head.ReplaceCount;
    switch (kind) {
    case ufKindBytesChanged:
    case ufKindConvert: e.WriteBuffer(data, p, n); break;
    case ufKindByteRemoved: e.InternalDelete(p, p + c, -1, 0); break;
    case ufKindInsertBuffer: e.InternalInsertBuffer(data, n, p); break;
    case ufKindReplace:
        e.InternalDelete(p, p + r, -1, 0);
        e.InternalInsertBuffer(data, n, p);
        break;
    case ufKindAppendBuffer: e.InternalAppendBuffer(data, n); break;
    case ufKindNibbleInsert:
    case ufKindNibbleDelete:
    case ufKindAllData: e.ReplaceAllData(data, n); break;
    default: break;
    }
    for (int i = 0; i < 10; ++i) {
        e.m_bookmarks[static_cast<size_t>(i)].mPosition = block->BookmarkPos[static_cast<size_t>(i)];
        e.m_bookmarks[static_cast<size_t>(i)].mInCharField = block->BookmarkInChar[static_cast<size_t>(i)];
    }
    TCustomZURadUvudod::TZAZEditorState state;
    state.Flags = head.Flags;
    state.CaretPos = head.CurPos;
    state.Translation = head.CurTranslation;
    state.BytesPerUnit = head.CurBPU;
    state.HasSelection = true;
    state.SelStart = block->SelStart;
    state.SelEnd = block->SelEnd;
    state.SelAnchor = block->SelAnchor;
    e.RestoreEditorState(state, false);
    e.SetInCharField(Has(head.Flags, ufFlagInCharField));
    e.SetChanged(p, Has(head.Flags, ufFlagByte1Changed));
    if (kind == ufKindBytesChanged && c == 2)
        e.SetChanged(p + 1, Has(head.Flags, ufFlagByte2Changed));
    // The undone step can be undone again.
    if (!m_lastUndo.empty()) {
        const std::int64_t at = Size();
        SetSize(at + static_cast<std::int64_t>(m_lastUndo.size()));
        std::memcpy(Memory() + at, m_lastUndo.data(), m_lastUndo.size());
        ++m_count;
        m_taken.push_back(m_lastUndoTaken);
        std::vector<std::uint8_t>().swap(m_lastUndo);
    }
    m_description = m_lastUndoDescription;
    e.Invalidate();
    e.BookmarkChanged();
}

// ====================================================================== the control's side

bool TCustomZURadUvudod::CanCreateUndo(TZAZUndoFlag kind, std::int32_t count, std::int32_t replCount)
{
    bool ok = GetDataSize() > 0 || kind == ufKindInsertBuffer || kind == ufKindAppendBuffer || kind == ufKindAllData;
    if (ok && IsFileSizeFixed()) {
        switch (kind) {
        case ufKindByteRemoved:
        case ufKindInsertBuffer:
        case ufKindAppendBuffer:
        case ufKindNibbleInsert:
        case ufKindNibbleDelete: ok = false; break;
        case ufKindReplace: ok = count == replCount; break;
        default: break;
        }
    }
    if (!ok && kind == ufKindCombined && count <= m_undo->Count())
        ok = true;
    return ok;
}

bool TCustomZURadUvudod::UndoRangeFits(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count,
                                       std::int32_t replCount, const std::string& desc) const
{
    const std::int64_t size = GetDataSize(), p = pos, c = count, r = replCount;
    auto inData = [size](std::int64_t from, std::int64_t n) { return from >= 0 && n >= 0 && from + n <= size; };
    bool ok = true;
    switch (kind) {
    case ufKindBytesChanged:
    case ufKindByteRemoved:
    case ufKindConvert: ok = inData(p, c); break;
    case ufKindInsertBuffer: ok = p >= 0 && p <= size && c >= 0 && size + c <= INT32_MAX; break;
    case ufKindReplace: ok = inData(p, r) && c >= 0 && size - r + c <= INT32_MAX; break;
    case ufKindAppendBuffer: ok = p == size && c >= 0 && size + c <= INT32_MAX; break;
    case ufKindNibbleInsert: ok = p >= 0 && p < size && size < INT32_MAX; break;
    case ufKindNibbleDelete: ok = p >= 0 && p < size; break;
    default: break;
    }
    if (ok && m_undo->UpdateCount() == 0)
        ok = m_undo->RecordSize(kind, pos, count, replCount, desc) <= INT32_MAX;
    return ok;
}

void TCustomZURadUvudod::CreateUndo(TZAZUndoFlag kind, std::int32_t pos, std::int32_t count, std::int32_t replCount,
                                    const std::string& desc)
{
    if (kind > ufKindAllData || !CanCreateUndo(kind, count, replCount) ||
        !UndoRangeFits(kind, pos, count, replCount, desc))
        throw EZURadUvudod(zaz_text::kCannotUpdateUndo);
    if (m_undo->UpdateCount() > 0) {
        // Not recorded: the redo step and, unless a snapshot covers the
        // suspension, the older records no longer fit the data.
        if (kind != ufKindSelection && kind != ufKindCombined && kind != ufKindAllData) {
            m_undo->ResetRedo();
            m_undo->NoteSuspendedWrite();
        }
    } else {
        m_undo->CreateUndo(kind, pos, count, replCount, desc);
    }
    m_modified = true;
}

void TCustomZURadUvudod::AddSelectionUndo(std::int32_t start, std::int32_t count)
{
    CreateUndo(ufKindSelection, start, count, 0);
}

void TCustomZURadUvudod::CombineUndo(std::int32_t count, const std::string& desc)
{
    CreateUndo(ufKindCombined, std::clamp(RawCaretPos(), 0, std::max(0, GetDataSize() - 1)), count, 0, desc);
}

void TCustomZURadUvudod::ResetUndo() { m_undo->Reset(true); }

bool TCustomZURadUvudod::GetCanUndo() const { return m_undo->CanUndo(); }

bool TCustomZURadUvudod::GetCanRedo() const { return m_undo->CanRedo(); }

std::string TCustomZURadUvudod::GetUndoDescription() const
{
    if (m_undo->CanUndo() && !IsDestroying())
        return m_undo->Description();
    return zaz_text::kNoUndo;
}

std::int32_t TCustomZURadUvudod::UndoBeginUpdate(const std::string&) { return m_undo->BeginUpdate(); }

std::int32_t TCustomZURadUvudod::UndoEndUpdate()
{
    const bool suspended = m_undo->UpdateCount() > 0;
    const std::int32_t left = m_undo->EndUpdate();
    if (suspended && left == 0 && m_undo->SuspendedWrite() && !m_undo->SuspendedSnapshot())
        m_undo->ClearHistory();
    return left;
}

bool TCustomZURadUvudod::Undo() { return m_undo->Undo(); }

bool TCustomZURadUvudod::Redo() { return m_undo->Redo(); }

TZAZUndoFlags TCustomZURadUvudod::CurrentStateFlags() const
{
    TZAZUndoFlags flags = 0;
    if (m_modified)
        flags |= UndoFlagBit(ufFlagModified);
    if (GetIsCharFieldCol(Col()))
        flags |= UndoFlagBit(ufFlagInCharField);
    else if (Col() != GetCursorAtPos(RawCaretPos(), false).X)
        flags |= UndoFlagBit(ufFlag2ndByteCol);
    if (m_insertMode)
        flags |= UndoFlagBit(ufFlagInsertMode);
    if (m_layout.Unicode)
        flags |= UndoFlagBit(ufFlagIsUnicode);
    if (m_unicodeBigEndian)
        flags |= UndoFlagBit(ufFlagIsUnicodeBigEndian);
    if (m_selAnchor != -1)
        flags |= UndoFlagBit(ufFlagHasSelection);
    return flags;
}

void TCustomZURadUvudod::RestoreEditorState(const TZAZEditorState& state, bool notify)
{
    const auto has = [&state](TZAZUndoFlag f) { return (state.Flags & UndoFlagBit(f)) != 0; };
    m_selecting = false;
    SetInsertMode(has(ufFlagInsertMode));
    // The display settings in an order that cannot fail; one that no longer
    // fits the data (unicode mode on odd-sized data) is left as it is.
    const bool unicode = has(ufFlagIsUnicode);
    if (!unicode)
        SetUnicodeChars(false);
    else if (!m_layout.Unicode && m_layout.BytesPerRow % 2 == 0 && m_layout.BytesPerColumn % 2 == 0 &&
             GetDataSize() % 2 == 0)
        SetUnicodeChars(true);
    if (!m_layout.Unicode && state.Translation <= tkCustom)
        SetTranslation(static_cast<TZAZTranslationKind>(state.Translation));
    SetUnicodeBigEndian(has(ufFlagIsUnicodeBigEndian));
    const std::int32_t bpu = state.BytesPerUnit;
    if ((bpu == 1 || bpu == 2 || bpu == 4 || bpu == 8) && (!m_layout.Unicode || bpu == 2))
        SetBytesPerUnit(bpu);

    const bool inChar = has(ufFlagInCharField);
    const std::int32_t pos = std::clamp(state.CaretPos, 0, LastCaretPos());
    TGridCoord cell = GetCursorAtPos(pos, inChar);
    if (!inChar && pos < GetDataSize() && has(ufFlag2ndByteCol))
        ++cell.X;
    if (cell.X < ColCount() && cell.Y < RowCount())
        MoveColRow(cell.X, cell.Y, true, true);
    m_modified = has(ufFlagModified);
    if (state.HasSelection)
        SetSelection(state.SelAnchor, state.SelStart, state.SelEnd);
    else
        SetSelection(-1, -1, -1);
    m_extendOrigin = -1;
    Invalidate();
    if (notify)
        Changed();
}
