// Bookmarks, the byte-pattern search and the replacing of a byte range.
#include "hexedit/zuradhex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Lower case of a Windows-1252 byte (the control's ANSI code page).
std::uint8_t AnsiLowerByte(std::uint8_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<std::uint8_t>(c + 0x20);
    switch (c) {
    case 0x8A:  // S caron
    case 0x8C:  // OE
    case 0x8E:  // Z caron
        return static_cast<std::uint8_t>(c + 0x10);
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
    }
}

void CheckBookmarkIndex(int index)
{
    if (index < 0 || index > 9)
        throw EZURadUvudod(zaz_text::kInvalidBookmarkIndex);
}

}  // namespace

// ====================================================================== bookmarks

TZAZBookmark TCustomZURadUvudod::GetBookmark(int index) const
{
    CheckBookmarkIndex(index);
    return m_bookmarks[static_cast<size_t>(index)];
}

void TCustomZURadUvudod::SetBookmark(int index, const TZAZBookmark& bookmark)
{
    SetBookmarkVals(index, bookmark.mPosition, bookmark.mInCharField);
}

void TCustomZURadUvudod::SetBookmarkVals(int index, std::int32_t position, bool inCharField)
{
    CheckBookmarkIndex(index);
    TZAZBookmark& b = m_bookmarks[static_cast<size_t>(index)];
    if (b.mPosition == position && b.mInCharField == inCharField) {
        b.mPosition = -1;
    } else {
        b.mPosition = position;
        b.mInCharField = inCharField;
    }
    Invalidate();
    BookmarkChanged();
}

bool TCustomZURadUvudod::GotoBookmark(std::int32_t index)
{
    if (index < 0 || index > 9)
        return false;
    const TZAZBookmark b = m_bookmarks[static_cast<size_t>(index)];
    if (b.mPosition < 0)
        return false;
    ResetSelection(true);
    const std::int32_t size = GetDataSize();
    if (b.mPosition >= size && !(GetInsertMode() && b.mPosition == size)) {
        SetBookmarkVals(static_cast<int>(index), -1, false);
        return false;
    }
    MoveCaretTo(b.mPosition, b.mInCharField);
    return true;
}

void TCustomZURadUvudod::AdjustBookmarks(std::int32_t from, std::int32_t delta)
{
    if (from < 0)
        return;
    const std::int64_t size = GetDataSize();
    bool touched = false;
    for (TZAZBookmark& b : m_bookmarks) {
        if (b.mPosition < from)
            continue;
        const std::int64_t moved = static_cast<std::int64_t>(b.mPosition) + delta;
        b.mPosition = moved > size || moved < 0 ? -1 : static_cast<std::int32_t>(moved);
        touched = true;
    }
    if (touched)
        BookmarkChanged();
}

std::vector<TZAZTakenBookmark> TCustomZURadUvudod::MoveBookmarksForEdit(std::int32_t pos, std::int32_t oldCount,
                                                                       std::int32_t newCount,
                                                                       const std::vector<TZAZTakenBookmark>& restore)
{
    // The edit keeps the first min(old, new) bytes at pos in place, then
    // inserts or removes the difference: bookmarks behind the replaced
    // bytes shift, those in a removed part go to its start.
    const std::int64_t sizeAfter = static_cast<std::int64_t>(GetDataSize()) + newCount - oldCount;
    const std::int64_t removedEnd = static_cast<std::int64_t>(pos) + oldCount;
    const std::int64_t keptEnd = static_cast<std::int64_t>(pos) + newCount;
    std::vector<TZAZTakenBookmark> taken;
    bool touched = false;
    for (int i = 0; i < 10; ++i) {
        TZAZBookmark& b = m_bookmarks[static_cast<size_t>(i)];
        if (b.mPosition < 0)
            continue;
        // A bookmark an earlier edit took in, untouched since: back home.
        const auto back = std::find_if(restore.begin(), restore.end(), [&](const TZAZTakenBookmark& t) {
            return t.Index == i && t.MovedTo == b.mPosition;
        });
        std::int64_t moved = b.mPosition;
        if (back != restore.end()) {
            moved = back->Original;
        } else if (b.mPosition >= removedEnd) {
            moved = b.mPosition + static_cast<std::int64_t>(newCount) - oldCount;
            if (moved > sizeAfter)
                moved = -1;
        } else if (b.mPosition >= keptEnd && b.mPosition >= pos) {
            moved = keptEnd;
            taken.push_back({i, b.mPosition, static_cast<std::int32_t>(keptEnd)});
        }
        if (moved != b.mPosition) {
            b.mPosition = static_cast<std::int32_t>(moved);
            touched = true;
        }
    }
    if (touched) {
        Invalidate();
        BookmarkChanged();
    }
    return taken;
}

void TCustomZURadUvudod::ClearBookmarks()
{
    bool any = false;
    for (TZAZBookmark& b : m_bookmarks) {
        any |= b.mPosition != -1;
        b = TZAZBookmark{};
    }
    if (any) {
        Invalidate();
        BookmarkChanged();
    }
}

void TCustomZURadUvudod::BookmarkChanged()
{
    if (OnBookmarkChanged)
        OnBookmarkChanged(this);
}

// ====================================================================== find

void TCustomZURadUvudod::BuildFindTables()
{
    for (int i = 0; i < 256; ++i) {
        std::uint8_t b = static_cast<std::uint8_t>(i);
        m_identityTable[static_cast<size_t>(i)] = b;
        if (m_translation != tkAsIs)
            TranslateBufferToAnsi(m_translation, &b, &b, 1);
        b = AnsiLowerByte(b);
        if (m_translation != tkAsIs)
            TranslateBufferFromAnsi(m_translation, &b, &b, 1);
        m_foldingTable[static_cast<size_t>(i)] = b;
    }
    m_findTablesBuilt = true;
}

std::string TCustomZURadUvudod::PrepareFindReplaceData(std::string text, bool ignoreCase, bool convertText)
{
    if (ignoreCase)
        for (char& c : text)
            c = static_cast<char>(AnsiLowerByte(static_cast<std::uint8_t>(c)));
    if (convertText && m_translation != tkAsIs)
        TranslateBufferFromAnsi(m_translation, text.data(), text.data(), static_cast<std::int32_t>(text.size()));
    std::string result = text;
    if (convertText && m_layout.Unicode) {
        result.clear();
        for (char c : text) {
            char16_t w = AnsiCharToUnicode(static_cast<std::uint8_t>(c));
            if (m_unicodeBigEndian)
                SwapWideChar(w);
            result.push_back(static_cast<char>(w & 0xFF));
            result.push_back(static_cast<char>(w >> 8));
        }
    }
    BuildFindTables();
    return result;
}

std::int32_t TCustomZURadUvudod::Find(const void* pattern, std::int32_t patLength, std::int32_t searchFrom,
                                     std::int32_t searchUntil, bool ignoreCase)
{
    if (OnFind) {
        std::int32_t found = -1;
        OnFind(this, static_cast<const std::uint8_t*>(pattern), patLength, searchFrom, searchUntil, ignoreCase, 0,
               found);
        return found;
    }
    return FindCore(static_cast<const std::uint8_t*>(pattern), patLength, searchFrom, searchUntil, ignoreCase, -1);
}

std::int32_t TCustomZURadUvudod::FindWithWildcard(const void* pattern, std::int32_t patLength,
                                                 std::int32_t searchFrom, std::int32_t searchUntil, bool ignoreCase,
                                                 char wildcard)
{
    if (OnWildcardFind) {
        std::int32_t found = -1;
        OnWildcardFind(this, static_cast<const std::uint8_t*>(pattern), patLength, searchFrom, searchUntil, ignoreCase,
                       wildcard, found);
        return found;
    }
    return FindCore(static_cast<const std::uint8_t*>(pattern), patLength, searchFrom, searchUntil, ignoreCase,
                    static_cast<std::uint8_t>(wildcard));
}

std::int32_t TCustomZURadUvudod::FindCore(const std::uint8_t* pattern, std::int32_t patLength,
                                         std::int32_t searchFrom, std::int32_t searchUntil, bool ignoreCase,
                                         int wildcard)
{
    const std::int64_t size = GetDataSize();
    const std::int64_t until = searchUntil >= size ? size - 1 : searchUntil;
    // A search from before the data starts at its first byte.
    const std::int64_t from = std::max<std::int64_t>(searchFrom, 0);
    if (patLength < 1 || !pattern || from + patLength > until + 1)
        return -1;
    if (!m_findTablesBuilt)
        BuildFindTables();
    const TZAZFindTable& table = ignoreCase ? m_foldingTable : m_identityTable;
    const std::uint8_t* data = m_data.Memory();
    const std::int64_t lastStart = until - patLength + 1;

    // The leftmost match is found by looking for one pattern byte (the
    // first that is not the wildcard) with memchr, for each data byte value
    // that compares equal to it, and then comparing the whole pattern.
    std::int32_t anchor = 0;
    while (anchor < patLength && wildcard >= 0 && pattern[anchor] == wildcard)
        ++anchor;
    if (anchor == patLength)
        return static_cast<std::int32_t>(from);
    std::vector<std::uint8_t> values;
    for (int v = 0; v < 256; ++v)
        if (table[static_cast<size_t>(v)] == pattern[anchor])
            values.push_back(static_cast<std::uint8_t>(v));
    if (values.empty())
        return -1;
    auto matchesAt = [&](std::int64_t start) {
        for (std::int32_t i = 0; i < patLength; ++i) {
            const std::uint8_t p = pattern[i];
            if ((wildcard < 0 || p != wildcard) && table[data[start + i]] != p)
                return false;
        }
        return true;
    };

    // Progress goes out about 500 times over the whole data, as the scan
    // passes each step of DataSize / 500 bytes.
    const bool report = m_findProgress && OnProgress;
    const std::int64_t step = report ? std::max<std::int64_t>(1, size / 500) : lastStart - from + 1;
    WaitCursor();
    struct Restore {
        TCustomZURadUvudod* self;
        ~Restore() { self->OldCursor(); }
    } restoreCursor{this};
    const bool fewValues = values.size() <= 4;
    for (std::int64_t blockStart = from; blockStart <= lastStart;) {
        const std::int64_t blockEnd = std::min(lastStart + 1, (blockStart / step + 1) * step);
        // Anchor positions blockStart + anchor .. blockEnd + anchor - 1.
        const std::uint8_t* lo = data + blockStart + anchor;
        const std::uint8_t* hi = data + blockEnd + anchor;
        if (fewValues) {
            std::vector<const std::uint8_t*> next(values.size());
            for (size_t k = 0; k < values.size(); ++k) {
                const void* hit = std::memchr(lo, values[k], static_cast<size_t>(hi - lo));
                next[k] = hit ? static_cast<const std::uint8_t*>(hit) : hi;
            }
            for (;;) {
                const auto first = std::min_element(next.begin(), next.end());
                if (*first >= hi)
                    break;
                const std::uint8_t* at = *first;
                if (matchesAt(at - data - anchor))
                    return static_cast<std::int32_t>(at - data - anchor);
                for (size_t k = 0; k < values.size(); ++k)
                    if (next[k] == at) {
                        const void* hit = std::memchr(at + 1, values[k], static_cast<size_t>(hi - at - 1));
                        next[k] = hit ? static_cast<const std::uint8_t*>(hit) : hi;
                    }
            }
        } else {
            for (const std::uint8_t* at = lo; at < hi; ++at)
                if (table[*at] == pattern[anchor] && matchesAt(at - data - anchor))
                    return static_cast<std::int32_t>(at - data - anchor);
        }
        blockStart = blockEnd;
        if (report) {
            bool cancel = false;
            const double exact = static_cast<double>(blockEnd) / static_cast<double>(size) * 100.0;
            OnProgress(this, pkFind, m_fileName, static_cast<std::uint8_t>(std::nearbyint(std::min(exact, 100.0))),
                       cancel);
            // Cancelling ends the search as if nothing was found.
            if (cancel)
                return -1;
        }
    }
    return -1;
}

// ====================================================================== replace

std::int32_t TCustomZURadUvudod::Replace(const void* buffer, std::int32_t position, std::int32_t oldCount,
                                        std::int32_t newCount, const std::string& desc, bool moveCursor)
{
    const std::int32_t size = GetDataSize();
    if (position < 0 || position > size || oldCount < 0 || newCount < 0 || (newCount > 0 && !buffer))
        throw EZURadUvudod(zaz_text::kOutOfBounds);
    const bool field = GetInCharField();
    if (oldCount > size - position) {
        if (newCount == oldCount)
            newCount = size - position;
        oldCount = size - position;
    }
    if (IsFileSizeFixed())
        oldCount = newCount = std::min(oldCount, newCount);
    CreateUndo(ufKindReplace, position, newCount, oldCount, desc);
    // Copied: the buffer may lie in the data that the edit moves.
    const std::vector<std::uint8_t> source(static_cast<const std::uint8_t*>(buffer),
                                           static_cast<const std::uint8_t*>(buffer) + (buffer ? newCount : 0));
    if (!moveCursor)
        m_undo->AddSelection(position, oldCount);
    if (oldCount == newCount) {
        WriteBuffer(source.data(), position, newCount);
    } else {
        if (oldCount > 0)
            InternalDelete(position, position + oldCount, Col(), Row());
        if (newCount > 0)
            InternalInsertBuffer(source.data(), newCount, position);
    }
    CutMarks(position);
    if (moveCursor)
        MoveCaretTo(std::min(position, LastCaretPos()), field);
    Invalidate();
    Changed();
    return newCount;
}
