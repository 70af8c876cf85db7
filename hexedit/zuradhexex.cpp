#include "hexedit/zuradhexex.h"

#include "rtl/clock.h"
#include "rtl/filesave.h"
#include "vcl/menus.h"

namespace {

// System error texts end without the period that the message adds.
std::string ErrorText(DWORD error)
{
    std::string text = SysErrorMessage(error);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// A new name beside the backup that holds the file as it is on disk now: a
// second link to it where the save moves a new file into the name (the old
// one then lives on under the backup name), else a copy, since the save
// writes into the file itself.
std::string HoldCurrentFile(const TFileSave& save, const std::string& backup)
{
    const std::string& file = save.Target();
    bool link = save.ReplacesTarget();
    std::uint32_t n = GetTickCount();
    for (int tries = 0; tries < 100; ++tries, ++n) {
        const std::string held = backup + Format(".~%08X.tmp", n);
        if (FileExists(held) || DirectoryExists(held))
            continue;
        if (link) {
            if (CreateHardLink(held, file))
                return held;
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            link = false;  // no links on this file system: a copy
        }
        if (save.CopyTargetTo(held))
            return held;
        if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    throw EZURadUvudod(Format(zaz_text::kCannotCreateBackup, backup.c_str(), ErrorText(GetLastError()).c_str()));
}

}  // namespace

// ====================================================================== saving

void TZURadUvudodEx::Save()
{
    if (!HasFile())
        throw EZURadUvudod(zaz_text::kNoFileName);
    SaveToFile(FileName(), true);
}

void TZURadUvudodEx::SetBackupExtension(const std::string& value)
{
    // The backup must lie beside the file and be a name the system can hold.
    if (value.find('/') != std::string::npos || value.find('\0') != std::string::npos)
        throw EZURadUvudod(zaz_text::kInvalidBackupExtension);
    m_backupExtension = value;
}

void TZURadUvudodEx::CommitSavedFile(TFileSave& save, bool overwritesCurrent)
{
    if (!overwritesCurrent || !m_createBackup || m_backupExtension.empty() || !GetModified() ||
        !save.TargetExists()) {
        TCustomZURadUvudod::CommitSavedFile(save, overwritesCurrent);
        return;
    }
    // The backup is made once the new data are complete beside the file, so
    // that a failed or cancelled save leaves the file and the old backup.
    const std::string& target = save.Target();
    const std::string backup = target + m_backupExtension;
    const bool hadBackup = FileExists(backup) || DirectoryExists(backup);
    auto backupError = [&](DWORD error) {
        return EZURadUvudod(Format(hadBackup ? zaz_text::kCannotDeleteBackup : zaz_text::kCannotCreateBackup,
                                   backup.c_str(), ErrorText(error).c_str()));
    };
    const std::string held = HoldCurrentFile(save, backup);
    if (save.ReplacesTarget()) {
        // The held name keeps the old file itself: the new one goes into
        // place, then the old one becomes the backup, or comes back under
        // its name when the backup cannot be replaced.
        try {
            TCustomZURadUvudod::CommitSavedFile(save, overwritesCurrent);
        } catch (...) {
            DeleteFile(held);
            throw;
        }
        if (!RenameReplacing(held, backup)) {
            const DWORD error = GetLastError();
            RenameReplacing(held, target);
            throw backupError(error);
        }
        return;
    }
    // The file is written in place: the held copy becomes the backup first,
    // and a failed write then leaves the file as it was beside a backup
    // equal to it.
    if (!RenameReplacing(held, backup)) {
        const DWORD error = GetLastError();
        DeleteFile(held);
        throw backupError(error);
    }
    TCustomZURadUvudod::CommitSavedFile(save, overwritesCurrent);
}

// ====================================================================== paint lock

std::int32_t TZURadUvudodEx::BeginUpdate() { return ++m_updateCount; }

std::int32_t TZURadUvudodEx::EndUpdate()
{
    if (--m_updateCount < 0)
        m_updateCount = 0;
    if (m_updateCount == 0)
        Invalidate();
    return m_updateCount;
}

void TZURadUvudodEx::Paint()
{
    if (m_updateCount <= 0)
        TCustomZURadUvudod::Paint();
}

// ====================================================================== grouped undo

void TZURadUvudodEx::CreateRangeUndo(std::int32_t start, std::int32_t count, const std::string& description)
{
    const bool modified = ModifiedFlag();
    try {
        if (count >= 1)
            CreateUndo(ufKindReplace, start, count, count, description);
        else
            CreateUndo(ufKindAllData, 0, 0, 0, description);
    } catch (...) {
        SetModifiedFlag(modified);
        throw;
    }
    SetModifiedFlag(modified);
}

std::int32_t TZURadUvudodEx::UndoBeginUpdate(const std::string& description)
{
    bool snapshot = false;
    if (UndoStorage().UpdateCount() == 0 && (!description.empty() || m_groupedUndo)) {
        m_groupedUndo = true;
        CreateRangeUndo(0, 0, description);
        snapshot = true;
    }
    const std::int32_t count = TCustomZURadUvudod::UndoBeginUpdate(description);
    if (snapshot)
        UndoStorage().NoteSuspendedSnapshot();
    return count;
}

std::int32_t TZURadUvudodEx::UndoEndUpdate()
{
    TZAZUndoStorage& storage = UndoStorage();
    const bool suspended = storage.UpdateCount() > 0;
    const bool wrote = storage.SuspendedWrite();
    const bool snapshot = storage.SuspendedSnapshot();
    const std::int32_t left = TCustomZURadUvudod::UndoEndUpdate();
    // A group that changed nothing needs no snapshot.
    if (suspended && left == 0 && m_groupedUndo && !wrote && snapshot)
        storage.DropLastRecord();
    return left;
}

void TZURadUvudodEx::WriteBuffer(const void* buffer, std::int32_t index, std::int32_t count)
{
    TCustomZURadUvudod::WriteBuffer(buffer, index, count);
    SetModifiedFlag(true);
    if (UndoStorage().UpdateCount() > 0)
        UndoStorage().NoteSuspendedWrite();
}

bool TZURadUvudodEx::DumpUndoStorage(const std::string& fileName)
{
    try {
        TZAZUndoStorage& storage = UndoStorage();
        TFileStream out(fileName, fmCreate);
        out.WriteBuffer(storage.Memory(), storage.Size());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ====================================================================== keys and mouse

void TZURadUvudodEx::KeyDown(WORD& key, TShiftState shift)
{
    TCustomZURadUvudod::KeyDown(key, shift);
    if (shift == ssCtrl) {
        if (key == 'A')
            SelectAll();
        else if (key == 'C' && CanCopy())
            CBCopy();
        else if (key == 'V' && CanPaste())
            CBPaste();
        else if (key == 'X' && CanCut())
            CBCut();
        else if (key == 'Z' && GetCanUndo())
            Undo();
    } else if (shift == (ssCtrl | ssShift) && key == 'Z' && GetCanRedo()) {
        Redo();
    }
}

bool TZURadUvudodEx::Zoom(TShiftState shift, bool up)
{
    if (!m_zoomOnWheel)
        return false;
    if (shift == ssCtrl) {
        // In unicode mode a row holds whole characters: two bytes a step.
        const std::int32_t step = UnicodeChars() ? 2 : 1;
        const std::int32_t next = BytesPerRow() + (up ? step : -step);
        if (next < 1 || next > 256)
            return false;
        SetBytesPerRow(next);
        Invalidate();
        return true;
    }
    if (shift == (ssCtrl | ssShift)) {
        const int size = Font().Size();
        if (!up && size < 3)
            return false;
        Font().SetSize(up ? size + 1 : size - 1);
        return true;
    }
    return false;
}

bool TZURadUvudodEx::DoMouseWheelDown(TShiftState shift, TPoint mousePos)
{
    return Zoom(shift, false) || TCustomZURadUvudod::DoMouseWheelDown(shift, mousePos);
}

bool TZURadUvudodEx::DoMouseWheelUp(TShiftState shift, TPoint mousePos)
{
    return Zoom(shift, true) || TCustomZURadUvudod::DoMouseWheelUp(shift, mousePos);
}

void TZURadUvudodEx::DblClick()
{
    const TPoint p = MousePos();
    int x = p.X, y = p.Y;
    const TGridCoord cell = CheckMouseCoord(x, y);
    if (cell.X >= 2 && cell.Y >= 2 && cell.X != 2 * BytesPerRow() + 2) {
        const std::int32_t pos = GetPosAtCursor(cell.X, cell.Y);
        if (pos >= 0 && pos < GetDataSize()) {
            NewSelection(pos, pos);
            // The coming release must keep this selection.
            m_doubleClickSelected = true;
            m_pressOnSelection = false;
        }
    }
    TCustomZURadUvudod::DblClick();
}

void TZURadUvudodEx::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (m_doubleClickSelected) {
        m_doubleClickSelected = false;
        m_pressOnSelection = false;
    }
    TCustomZURadUvudod::MouseUp(button, shift, x, y);
    if (m_dragging) {
        m_dragging = false;
        m_dragArmed = false;
    }
}

void TZURadUvudodEx::SetOffsetPopupMenu(TPopupMenu* menu) { m_offsetPopupMenu = menu; }

void TZURadUvudodEx::ContextPopup(TPoint pos, bool& handled)
{
    // The control's context event first; then the offset menu over the
    // gutter and the ruler; elsewhere the control's own popup menu.
    TCustomZURadUvudod::ContextPopup(pos, handled);
    if (handled || !m_offsetPopupMenu || !m_offsetPopupMenu->AutoPopup)
        return;
    const bool overOffsets =
        (pos.X >= 0 && pos.X < ColWidths(0) + ColWidths(1)) || (pos.Y >= 0 && pos.Y < RowHeights(0) + RowHeights(1));
    if (!overOffsets)
        return;
    handled = true;
    CancelMode();
    m_offsetPopupMenu->PopupComponent = this;
    const TPoint screen = ClientToScreen(pos);
    m_offsetPopupMenu->Popup(screen.X, screen.Y);
}
