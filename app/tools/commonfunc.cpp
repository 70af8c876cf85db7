#include "commonfunc.h"

#include "kernel/kernel.h"
#include "win/fileops.h"
#include "shell/shellapi.h"
#include "vcl/forms.h"

#include "rtl/filesave.h"
#include "rtl/streams.h"
#include "rtl/sysutils.h"
#include "rtl/unicode.h"
#include "rtl/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>

// ---- text files ----------------------------------------------------------------

namespace {

// Control bytes a text view shows as they are: tab and the line breaks.
bool ShownAsIs(unsigned char c) { return c == '\t' || c == '\n' || c == '\r'; }

TTextFileContents ViewContents(std::string_view bytes, bool fromUtf16)
{
    TTextFileContents result;
    result.Opened = true;
    result.Text = TextForView(bytes, result.StandIns);
    result.Exact = !fromUtf16 && !result.StandIns;
    return result;
}

TTextFileContents ReadForView(const std::string& path, bool detectUtf16)
{
    std::string bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const std::exception&) {
        return {};
    }
    if (detectUtf16 && bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF
        && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        const std::string utf8 = Utf16LeBytesToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2,
            bytes.size() - 2);
        return ViewContents(utf8, true);
    }
    return ViewContents(bytes, false);
}

} // namespace

std::string TextForView(std::string_view bytes, bool& standIns)
{
    standIns = false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string out;
    out.reserve(n);
    size_t run = 0;  // start of the bytes not copied yet
    size_t i = 0;
    auto standIn = [&](char32_t character) {
        out.append(bytes.substr(run, i - run));
        AppendUtf8(out, character);
        standIns = true;
        ++i;
        run = i;
    };
    while (i < n) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            ++i;
        } else if (c < 0x20) {
            if (ShownAsIs(c))
                ++i;
            else
                standIn(0x2400 + c);  // the control picture of the byte
        } else if (c == 0x7F) {
            standIn(0x2421);
        } else if (const size_t len = Utf8SequenceAt(p, n, i)) {
            i += len;
        } else {
            standIn(0xFFFD);
        }
    }
    out.append(bytes.substr(run));
    return out;
}

TTextFileContents ReadTextFileContents(const std::string& path) { return ReadForView(path, true); }

TTextFileContents ReadUtf8TextFileContents(const std::string& path) { return ReadForView(path, false); }

std::string ReadTextFile(const std::string& path) { return ReadTextFileContents(path).Text; }

// ---- hex text ------------------------------------------------------------------

namespace {

struct HexPairs {
    std::array<char, 512> digits {};
    HexPairs()
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            digits[2 * b] = kHex[b >> 4];
            digits[2 * b + 1] = kHex[b & 15];
        }
    }
};

const HexPairs& HexTable()
{
    static const HexPairs table;
    return table;
}

// Characters of the hex text of size bytes.
constexpr size_t HexTextSize(size_t size) { return size / 16 * 50 + (size % 16 ? size % 16 * 3 + 2 : 0); }

// Puts the hex text of size bytes at out (HexTextSize(size) characters);
// answers the end.
char* PutHexText(char* out, const std::uint8_t* data, std::size_t size)
{
    const char* hex = HexTable().digits.data();
    const size_t fullLines = size / 16;
    const size_t rest = size % 16;
    char* o = out;
    const std::uint8_t* p = data;
    for (size_t line = 0; line < fullLines; ++line) {
        for (int k = 0; k < 16; ++k) {
            std::memcpy(o, hex + 2 * p[k], 2);
            o[2] = ' ';
            o += 3;
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        p += 16;
    }
    if (rest) {
        for (size_t k = 0; k < rest; ++k) {
            std::memcpy(o, hex + 2 * p[k], 2);
            o[2] = ' ';
            o += 3;
        }
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
    }
    return o;
}

// Source bytes the export converts at a time: whole lines, and few enough
// that the bytes and their text stay in the processor's cache between the
// read, the conversion and the write. Memory stays the same for any file.
constexpr size_t kHexPieceBytes = 64 * 1024;

} // namespace

void WriteHexTextFile(const std::string& source, const std::string& target)
{
    // Only a regular file is read (a pipe or a device is refused at once),
    // with EFOpenError for a missing or unreadable source; the target is not
    // touched then.
    TFileStream in(source, fmOpenRead | fmShareDenyNone);
    TAtomicFileWriter out(target);
    std::vector<std::uint8_t> bytes(kHexPieceBytes);
    std::string text(HexTextSize(kHexPieceBytes), '\0');
    // Every piece but the last is full, so lines never break at a piece's
    // end. A short read is not taken for the end of the file: only a read
    // that answers nothing is, and a failed read raises.
    size_t have = 0;
    for (bool end = false; !end;) {
        const std::int64_t n = FileRead(in.Handle(), bytes.data() + have, static_cast<std::int64_t>(bytes.size() - have));
        if (n < 0)
            throw EFOpenError("Cannot open file \"" + source + "\". " + SysErrorMessage(GetLastError()));
        end = n == 0;
        have += static_cast<size_t>(n);
        if (have == bytes.size() || (end && have > 0)) {
            const char* stop = PutHexText(text.data(), bytes.data(), have);
            out.Write(std::string_view(text.data(), static_cast<size_t>(stop - text.data())));
            have = 0;
        }
    }
    out.Commit();
}

void SaveFileAsHexText(const std::string& source, const std::string& target)
{
    // Streamed in pieces, so a file of any size takes the same memory; the
    // source is opened before the target is touched.
    try {
        TScreenCursorGuard hourGlass;
        WriteHexTextFile(source, target);
    } catch (const EFOpenError&) {
        ShowMessage("Failed to open this file!");
        return;
    }
    ShowMessage("Successful saved.");
}

// ---- list rows -----------------------------------------------------------------

void AddListRow(TListView& view, const std::vector<std::string>& strings)
{
    TListItem* item = view.Items().Add();
    if (strings.empty())
        return;
    item->SetCaption(strings[0]);
    TStringList& sub = item->SubItemsForUpdate();
    for (size_t i = 1; i < strings.size(); ++i)
        sub.Add(strings[i]);
}

void MoveListItem(TListView& view, int direction)
{
    view.SetFocus();
    TListItem* row = view.Selected();
    if (!row)
        return;
    const int index = row->Index();
    const int count = view.Items().Count();
    if ((direction == 0 && index <= 0) || (direction != 0 && index >= count - 1))
        return;
    TListItem* neighbour = view.Items()[direction == 0 ? index - 1 : index + 1];
    const std::string caption = row->Caption();
    row->SetCaption(neighbour->Caption());
    neighbour->SetCaption(caption);
    TStringList rowSub;
    rowSub.Assign(row->SubItems());
    row->SubItemsForUpdate().Assign(neighbour->SubItems());
    neighbour->SubItemsForUpdate().Assign(rowSub);
    neighbour->SetSelected(true);
    row->SetSelected(false);
}

void DeleteSelectedItems(TListView& view)
{
    TListItems& items = view.Items();
    items.BeginUpdate();
    int i = 0;
    while (i < items.Count()) {
        if (items[i]->Selected())
            items.Delete(i);
        else
            ++i;
    }
    items.EndUpdate();
}

// ---- file operations on rows ----------------------------------------------------------

namespace {

std::vector<TListItem*> SelectedRows(TListView& view)
{
    std::vector<TListItem*> rows;
    for (int i = 0; i < view.Items().Count(); ++i)
        if (view.Items()[i]->Selected())
            rows.push_back(view.Items()[i]);
    return rows;
}

// Removes the given rows (and only them).
void DeleteRows(TListView& view, const std::vector<TListItem*>& rows)
{
    TListItems& items = view.Items();
    items.BeginUpdate();
    for (TListItem* row : rows) {
        const int index = items.IndexOf(row);
        if (index >= 0)
            items.Delete(index);
    }
    items.EndUpdate();
}

} // namespace

bool ChooseFolder(const std::string& caption, std::string& folder)
{
    folder.clear();
    if (!SelectDirectory(caption, "", folder))
        return false;
    if (folder.empty() || folder.back() != PathDelim)
        folder += PathDelim;
    return true;
}

void MoveSelectedFiles(TListView& view)
{
    const std::vector<TListItem*> rows = SelectedRows(view);
    if (rows.empty()) {
        ShowMessage("you select 0 files to move.");
        return;
    }
    std::string folder;
    if (!ChooseFolder("Select a directory to move the files:", folder))
        return;
    std::vector<TListItem*> moved;
    for (TListItem* row : rows) {
        const std::string source = row->Caption();
        if (MoveFileNoReplace(source, folder + ExtractFileName(source)))
            moved.push_back(row);
        else
            ShowMessage("Failed to move the file:\n" + source);
    }
    // Rows of files that stayed where they were keep naming them correctly.
    DeleteRows(view, moved);
    ShowMessage(IntToStr(static_cast<long long>(moved.size())) + " files moved.");
}

void CopySelectedFiles(TListView& view)
{
    const std::vector<TListItem*> rows = SelectedRows(view);
    if (rows.empty()) {
        ShowMessage("you select 0 files to copy.");
        return;
    }
    std::string folder;
    if (!ChooseFolder("Select a directory to copy the files:", folder))
        return;
    int copied = 0;
    for (TListItem* row : rows) {
        const std::string source = row->Caption();
        if (CopyFileNoReplace(source, folder + ExtractFileName(source)))
            ++copied;
        else
            ShowMessage("Failed to copy the file:\n" + source);
    }
    ShowMessage(IntToStr(copied) + " files copied.");
}

void DeleteSelectedFiles(TListView& view)
{
    const std::vector<TListItem*> rows = SelectedRows(view);
    if (rows.empty()) {
        ShowMessage("you select 0 files to delete.");
        return;
    }
    const std::string question = rows.size() == 1
        ? "Move this file to the trash?\n" + rows.front()->Caption()
        : "Move these " + IntToStr(static_cast<long long>(rows.size())) + " files to the trash?";
    if (Application->MessageBox(question, "Delete files", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    std::vector<TListItem*> deleted;
    for (TListItem* row : rows) {
        const std::string path = row->Caption();
        if (!FileExists(path)) {
            ShowMessage("Failed to delete the file:\n" + path + "\n" + SysErrorMessage(ERROR_FILE_NOT_FOUND));
            continue;
        }
        if (MoveToTrash(path))
            deleted.push_back(row);
        else
            ShowMessage("Failed to delete the file:\n" + path + "\n" + SysErrorMessage(GetLastError()));
    }
    DeleteRows(view, deleted);
}

void AddFileToList(TListView& view, const std::string& path)
{
    for (int i = 0; i < view.Items().Count(); ++i)
        if (view.Items()[i]->Caption() == path)
            return;
    std::int64_t size = 0;
    TDateTime modified = 0;
    std::time_t stamp = 0;
    if (FileSizeAndTime(path, size, stamp))
        modified = UnixToLocalDateTime(stamp);
    AddFileRow(view, path, size, DateTimeToStr(modified));
}

void AddFileRow(TListView& view, const std::string& path, std::int64_t size, const std::string& timeText)
{
    SHFILEINFOA info {};
    std::string typeName;
    int icon = -1;
    if (SHGetFileInfoA(path.c_str(), 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_TYPENAME)) {
        typeName = info.szTypeName;
        icon = info.iIcon;
    }
    // One change of the view for the whole row, not one per field.
    TListItems& items = view.Items();
    items.BeginUpdate();
    TListItem* item = items.Add();
    item->SetCaption(path);
    item->SetImageIndex(icon);
    TStringList& sub = item->SubItemsForUpdate();
    sub.Add(IntToStr(size));
    sub.Add(typeName);
    sub.Add(timeText);
    items.EndUpdate();
}

// ---- images --------------------------------------------------------------------

void PanImage(int x, int y, int downX, int downY, TControl& image, TControl& box)
{
    if (x != downX && box.Width() < image.Width()) {
        const int left = std::max(std::min(image.Left() + x - downX, 0), box.Width() - image.Width());
        image.SetLeft(left);
    }
    if (y != downY && box.Height() < image.Height()) {
        const int top = std::max(std::min(image.Top() + y - downY, 0), box.Height() - image.Height());
        image.SetTop(top);
    }
}
