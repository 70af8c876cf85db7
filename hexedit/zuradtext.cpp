// The extended hex editor's bookmarks and public properties as text, for a
// host that keeps a view's state in a settings file.
//
// Bookmarks: a checksum and then one record per set bookmark, all upper-case
// hexadecimal digits:
//
//   checksum   8 digits: the sum of the character codes of all records
//   record     20 digits each:
//     +0   2   bookmark number, 0 to 9
//     +2  16   byte position, 0 to 7FFFFFFF
//     +18  2   00 hexadecimal field, anything else character field
//
// Properties: lines of name, "=" and value (CR LF after each) for the names
// of the public property table that the host did not veto.
#include "hexedit/zazprops.h"
#include "hexedit/zuradhexex.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

namespace {

constexpr size_t kChecksumDigits = 8;
constexpr size_t kRecordDigits = 20;

// The properties the text exchange accepts, compared without regard to case.
constexpr const char* kPublicProperties[] = {
    "ShowRuler", "DrawGutter3D", "CreateBackup", "BackupExtension", "OleDragDrop", "ClipboardAsHexText",
    "FlushClipboardAtShutDown", "SupportsOtherClipFormats", "UseEditorFontForPrinting", "ZoomOnWheel", "BytesPerRow",
    "BytesPerColumn", "Translation", "OffsetFormat", "CaretKind", "FocusFrame", "SwapNibbles", "MaskChar",
    "NoSizeChange", "AllowInsertMode", "DrawGridLines", "ReadOnlyView", "HideSelection", "GraySelectionIfNotFocused",
    "GutterWidth", "MaxUndo", "InsertMode", "HexLowerCase", "Colors.Background", "Colors.ChangedBackground",
    "Colors.ChangedText", "Colors.CursorFrame", "Colors.NonFocusCursorFrame", "Colors.Offset", "Colors.OddColumn",
    "Colors.EvenColumn", "Colors.CurrentOffsetBackground", "Colors.OffsetBackGround", "Colors.CurrentOffset",
    "Colors.ActiveFieldBackground", "Colors.Grid", "PrintFont.Charset", "PrintFont.Color", "PrintFont.Name",
    "PrintFont.Size", "PrintFont.Style", "PrintOptions.MarginLeft", "PrintOptions.MarginTop",
    "PrintOptions.MarginRight", "PrintOptions.MarginBottom", "PrintOptions.PageHeader", "PrintOptions.PageFooter",
    "PrintOptions.Flags", "Font.Charset", "Font.Color", "Font.Name", "Font.Size", "Font.Style", "BytesPerUnit",
    "RulerBytesPerUnit", "ShowPositionIfNotFocused", "UnicodeChars", "UnicodeBigEndian", "BytesPerBlock",
    "SeparateBlocksInCharField", "FindProgress", "RulerNumberBase",
};

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The value of hexadecimal digits that were checked already.
std::uint64_t HexValue(std::string_view digits)
{
    std::uint64_t value = 0;
    for (char c : digits)
        value = value * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    return value;
}

struct BookmarkRecord {
    int Index;
    std::int32_t Position;
    bool InCharField;
};

// Reads the whole text or nothing: a text that fails any check gives no
// records at all.
std::vector<BookmarkRecord> ParseBookmarks(const std::string& text)
{
    const auto bad = [] { return EZURadUvudod(zaz_text::kInvalidBookmarkFormat); };
    if (text.size() < kChecksumDigits || (text.size() - kChecksumDigits) % kRecordDigits != 0)
        throw bad();
    if (!std::all_of(text.begin(), text.end(), IsHexDigit))
        throw bad();
    std::uint32_t sum = 0;
    for (size_t i = kChecksumDigits; i < text.size(); ++i)
        sum += static_cast<unsigned char>(text[i]);
    if (HexValue(std::string_view(text).substr(0, kChecksumDigits)) != sum)
        throw bad();
    std::vector<BookmarkRecord> records;
    for (size_t at = kChecksumDigits; at < text.size(); at += kRecordDigits) {
        const std::string_view record = std::string_view(text).substr(at, kRecordDigits);
        const std::uint64_t index = HexValue(record.substr(0, 2));
        const std::uint64_t position = HexValue(record.substr(2, 16));
        if (index > 9 || position > static_cast<std::uint64_t>(INT32_MAX))
            throw bad();
        records.push_back({static_cast<int>(index), static_cast<std::int32_t>(position), HexValue(record.substr(18)) != 0});
    }
    return records;
}

}  // namespace

// ====================================================================== bookmarks

void TZURadUvudodEx::BookmarkChanged()
{
    if (!m_settingBookmarks)
        TCustomZURadUvudod::BookmarkChanged();
}

std::string TZURadUvudodEx::GetBookmarksAsString() const
{
    std::string records;
    for (int i = 0; i < 10; ++i) {
        const TZAZBookmark& b = Bookmarks()[static_cast<size_t>(i)];
        if (b.mPosition == -1)
            continue;
        records += IntToRadixLen(static_cast<std::uint32_t>(i), 16, 2);
        records += IntToRadixLen64(static_cast<std::uint64_t>(static_cast<std::int64_t>(b.mPosition)), 16, 16);
        records += b.mInCharField ? "01" : "00";
    }
    if (records.empty())
        return {};
    std::uint32_t sum = 0;
    for (char c : records)
        sum += static_cast<unsigned char>(c);
    return IntToRadixLen(sum, 16, 8) + records;
}

void TZURadUvudodEx::SetBookMarksAsString(const std::string& text)
{
    BeginUpdate();
    m_settingBookmarks = true;
    try {
        const bool field = GetInCharField();
        for (int i = 0; i < 10; ++i)
            SetBookmarkVals(i, -1, field);
        const std::vector<BookmarkRecord> records = text.empty() ? std::vector<BookmarkRecord>{} : ParseBookmarks(text);
        for (const BookmarkRecord& r : records) {
            const TZAZBookmark& now = Bookmarks()[static_cast<size_t>(r.Index)];
            // SetBookmarkVals clears a bookmark that stands there already.
            if (now.mPosition != r.Position || now.mInCharField != r.InCharField)
                SetBookmarkVals(r.Index, r.Position, r.InCharField);
        }
    } catch (...) {
        EndUpdate();
        m_settingBookmarks = false;
        BookmarkChanged();
        throw;
    }
    EndUpdate();
    m_settingBookmarks = false;
    BookmarkChanged();
}

// ====================================================================== properties

bool TZURadUvudodEx::IsPropPublic(const std::string& name)
{
    const bool listed = std::any_of(std::begin(kPublicProperties), std::end(kPublicProperties),
                                    [&](const char* p) { return SameText(p, name); });
    if (!listed)
        return false;
    bool isPublic = true;
    if (OnQueryPublicProperty)
        OnQueryPublicProperty(this, name, isPublic);
    return isPublic;
}

std::string TZURadUvudodEx::GetPropertiesAsString()
{
    std::string text;
    const auto walk = [&](auto& self, TObject& instance, const TZAZPropertyTable& table,
                          const std::string& prefix) -> void {
        ForEachProperty(table, [&](const TZAZProperty& row) {
            const std::string name = prefix + row.Name;
            if (row.Kind == TZAZPropKind::Object) {
                if (TObject* object = row.GetObject(instance))
                    self(self, *object, *row.ObjectTable, name + ".");
            } else if (IsPropPublic(name)) {
                text += name + "=" + PropertyValueText(row, instance) + "\r\n";
            }
        });
    };
    walk(walk, *this, ZAZExPropertyTable(), {});
    return text;
}

void TZURadUvudodEx::SetPropertiesAsString(const std::string& text)
{
    BeginUpdate();
    try {
        TStringList lines;
        lines.SetText(text);
        const auto nameOf = [](const std::string& line) {
            const size_t eq = line.find('=');
            return eq == std::string::npos ? std::string() : line.substr(0, eq);
        };
        // The value of a name is that of its first line, as a string list's
        // Values gives it; found once, so a long text costs its length.
        std::map<std::string, std::string> firstValues;
        for (const std::string& line : lines)
            if (const std::string name = nameOf(line); !name.empty())
                firstValues.try_emplace(LowerCase(name), line.substr(name.size() + 1));
        for (const std::string& line : lines) {
            const std::string name = nameOf(line);
            if (name.empty() || !IsPropPublic(name))
                continue;
            // Walk the dotted name through the objects it names.
            TObject* instance = this;
            const TZAZPropertyTable* table = &ZAZExPropertyTable();
            size_t from = 0;
            for (size_t dot = name.find('.'); instance && dot != std::string::npos; dot = name.find('.', from)) {
                const TZAZProperty* row = FindProperty(*table, name.substr(from, dot - from));
                instance = row && row->Kind == TZAZPropKind::Object ? row->GetObject(*instance) : nullptr;
                table = row ? row->ObjectTable : nullptr;
                from = dot + 1;
            }
            // A public name this control does not have is passed over.
            const TZAZProperty* row = instance ? FindProperty(*table, name.substr(from)) : nullptr;
            if (row && row->Kind != TZAZPropKind::Object)
                SetPropertyValueText(*row, *instance, firstValues.at(LowerCase(name)));
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}
