// Preview dispatch: the roads by which a path becomes the current file, the
// three preview modes, the extension table and the rule for unknown files.
#include "preview.h"

#include "mainform.h"

#include "hexedit/zuradhexex.h"

#include "rtl/sysutils.h"

namespace {

struct ExtensionRow {
    const char* Extension;
    TViewerKind Viewer;
    int ImageKind;
    int FormatId;
};

// In test order; the first row that holds the extension decides.
constexpr ExtensionRow kExtensionTable[] = {
    {".htm", TViewerKind::Html, 0, 0},
    {".html", TViewerKind::Html, 0, 0},
    {".shtm", TViewerKind::Html, 0, 0},
    {".mht", TViewerKind::Html, 0, 0},
    {".shtml", TViewerKind::Html, 0, 0},
    {".xls", TViewerKind::OleDocument, 0, 0},
    {".ppt", TViewerKind::OleDocument, 0, 0},
    {".pps", TViewerKind::OleDocument, 0, 0},
    {".doc", TViewerKind::OleDocument, 0, 0},
    {".dot", TViewerKind::OleDocument, 0, 0},
    {".gif", TViewerKind::Image, 1, 0},
    {".ico", TViewerKind::Image, 5, 0},
    {".wmf", TViewerKind::Image, 6, 0},
    {".emf", TViewerKind::Image, 6, 0},
    {".bmp", TViewerKind::Image, 3, 0},
    {".jpg", TViewerKind::Image, 2, 0},
    {".jpeg", TViewerKind::Image, 2, 0},
    {".tif", TViewerKind::Image, 8, 6},
    {".tiff", TViewerKind::Image, 8, 6},
    {".png", TViewerKind::Image, 9, 4},
    {".tga", TViewerKind::Image, 9, 7},
    {".pcx", TViewerKind::Image, 9, 8},
    {".wbmp", TViewerKind::Image, 9, 9},
    {".jp2", TViewerKind::Image, 9, 11},
    {".jpc", TViewerKind::Image, 9, 12},
    {".pgx", TViewerKind::Image, 9, 13},
    {".pnm", TViewerKind::Image, 9, 14},
    // The netpbm names of the PNM kinds and of PAM, which the PNM reader
    // takes alike.
    {".ppm", TViewerKind::Image, 9, 14},
    {".pgm", TViewerKind::Image, 9, 14},
    {".pbm", TViewerKind::Image, 9, 14},
    {".pam", TViewerKind::Image, 9, 14},
    {".ras", TViewerKind::Image, 9, 15},
    {".j2k", TViewerKind::Image, 9, 11},
    {".rtf", TViewerKind::Rtf, 0, 0},
    {".pdf", TViewerKind::Pdf, 0, 0},
    {".swf", TViewerKind::Flash, 0, 0},
    {".dat", TViewerKind::Media, 0, 0},
    {".mid", TViewerKind::Media, 0, 0},
    {".midi", TViewerKind::Media, 0, 0},
    {".mp3", TViewerKind::Media, 0, 0},
    {".wav", TViewerKind::Media, 0, 0},
    {".avi", TViewerKind::Media, 0, 0},
    {".wmv", TViewerKind::Media, 0, 0},
    {".asf", TViewerKind::Media, 0, 0},
    {".wma", TViewerKind::Media, 0, 0},
    {".mpeg", TViewerKind::Media, 0, 0},
    {".mpg", TViewerKind::Media, 0, 0},
    {".wm", TViewerKind::Media, 0, 0},
    {".rm", TViewerKind::RealAudio, 0, 0},
    {".ram", TViewerKind::RealAudio, 0, 0},
    {".ra", TViewerKind::RealAudio, 0, 0},
    {".exe", TViewerKind::PeInfo, 0, 0},
    {".dll", TViewerKind::PeInfo, 0, 0},
    {".ocx", TViewerKind::PeInfo, 0, 0},
    {".zip", TViewerKind::Archive, 0, 0},
    {".rar", TViewerKind::Archive, 0, 0},
    {".arc", TViewerKind::Archive, 0, 0},
    {".ace", TViewerKind::Archive, 0, 0},
    {".arj", TViewerKind::Archive, 0, 0},
    {".bh", TViewerKind::Archive, 0, 0},
    {".cab", TViewerKind::Archive, 0, 0},
    {".tgz", TViewerKind::Archive, 0, 0},
    {".gz", TViewerKind::Archive, 0, 0},
    {".z", TViewerKind::Archive, 0, 0},
    {".jar", TViewerKind::Archive, 0, 0},
    {".lzh", TViewerKind::Archive, 0, 0},
    {".lha", TViewerKind::Archive, 0, 0},
    {".sfx", TViewerKind::Archive, 0, 0},
    {".tar", TViewerKind::Archive, 0, 0},
    {".zoo", TViewerKind::Archive, 0, 0},
    // Text archives: their entries, and the offer to open an encoded archive.
    {".uue", TViewerKind::Archive, 0, 0},
    {".xxe", TViewerKind::Archive, 0, 0},
};

} // namespace

std::string PreviewExtension(const std::string& path)
{
    const size_t nameStart = path.find_last_of("/:");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart))
        return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

TPreviewTarget PreviewTargetOf(const std::string& path)
{
    TPreviewTarget target;
    target.Extension = PreviewExtension(path);
    for (const ExtensionRow& row : kExtensionTable) {
        if (target.Extension == row.Extension) {
            target.Viewer = row.Viewer;
            target.ImageKind = row.ImageKind;
            target.FormatId = row.FormatId;
            break;
        }
    }
    return target;
}

// ---- the roads to the current file -------------------------------------------------------

void TForm1::listSelectItem(TObject*, TListItem*, bool selected)
{
    if (!selected)
        return;
    const std::string path = DiskListSelectedPath();
    if (path.empty())
        return;
    CurrentFile = path;
    ViewCurrentFile();
}

void TForm1::FileListSelectItem(TListView* view, bool selected)
{
    if (!selected)
        return;
    // The first selected row in list order, which need not be the row the
    // event names.
    const TListItem* first = view->Selected();
    if (!first)
        return;
    CurrentFile = first->Caption();
    ViewCurrentFile();
}

void TForm1::slistSelectItem(TObject*, TListItem*, bool selected) { FileListSelectItem(slist, selected); }

void TForm1::selectedlistSelectItem(TObject*, TListItem*, bool selected) { FileListSelectItem(selectedlist, selected); }

bool TForm1::SelectDiskListRow(const std::string& path)
{
    const int count = list->Items().Count();
    for (int i = 0; i < count; ++i) {
        TPTShListData* data = list->GetShListData(i);
        if (data && data->GetPathName() == path) {
            TListItem* item = list->Items()[i];
            list->ClearSelection();
            list->SetItemFocused(item);
            item->SetSelected(true);
            return DiskListSelectedPath() == path;
        }
    }
    return false;
}

void TForm1::OpenFilePath(const std::string& path)
{
    // Every failure, the folder selection's too, is dropped here.
    try {
        // A folder opens in the tree and the list, with no file chosen.
        if (DirectoryExists(path)) {
            SelectStartFolder(ExcludeTrailingPathDelimiter(path));
            return;
        }
        SelectStartFolder(ExtractFilePath(path));
        // The file's row is selected when the folder lists it, so the list
        // shows what the preview shows and Next and Prev step on from it; the
        // selection previews the file as a click would.
        if (SelectDiskListRow(path))
            return;
        CurrentFile = path;
        ViewCurrentFile();
    } catch (const std::exception&) {
    }
}

// ---- preview modes ----------------------------------------------------------------------

void TForm1::SetViewMode(int mode)
{
    if (mode >= 0 && mode <= 2) {
        bnormal->SetDown(mode == 0);
        bascii->SetDown(mode == 1);
        bhex->SetDown(mode == 2);
        TMenuItem* items[3] = {Normal1, Ascii1, Hex1};
        items[mode]->SetChecked(true);
        ViewMode = static_cast<std::uint8_t>(mode);
    }
    if (!CurrentFile.empty())
        ViewCurrentFile();
}

void TForm1::bnormalClick(TObject*) { SetViewMode(0); }
void TForm1::basciiClick(TObject*) { SetViewMode(1); }
void TForm1::bhexClick(TObject*) { SetViewMode(2); }

// ---- the preview routine ------------------------------------------------------------------

void TForm1::ViewCurrentFile()
{
    if (CurrentFile.empty())
        return;
    // The hex view already shows this file with edits not yet saved.
    if (ViewMode == 2 && CurrentFile == hexedit->FileName() && hexedit->GetModified())
        return;
    if (!ConfirmHexChanges())
        return;
    // The caption names the file chosen, whether its view succeeds or not, so
    // caption, list selection and status bar never name different files.
    SetCaption(BaseCaption + " - " + CurrentFile);
    EndOtherOleConversion();
    ReleaseLargeText();
    // A file deleted or moved since it was chosen: said in the status bar,
    // nothing of an earlier file stays on screen, the recent list keeps it out.
    if (!FileExists(CurrentFile)) {
        ShowNoPreview(kFileGoneMessage + CurrentFile);
        return;
    }
    try {
        switch (ViewMode) {
        case 1: ViewAscii(); break;
        case 2: ViewHex(); break;
        default: ViewByExtension(); break;
        }
    } catch (...) {
        // A viewer that failed part-way may have brought its panel to the
        // front with an earlier file's content still in it: the preview shows
        // nothing, and the status bar says why.
        ShowNoPreview(kFailedToOpenMessage);
    }
    if (SaveRecent) {
        AddRecentFile(CurrentFile);
        BuildHistoryMenu();
    }
}

void TForm1::ViewByExtension()
{
    const TPreviewTarget target = PreviewTargetOf(CurrentFile);
    switch (target.Viewer) {
    case TViewerKind::Html: ViewHtml(); break;
    case TViewerKind::OleDocument: ViewOleDocument(); break;
    case TViewerKind::Image: LoadImage(target.ImageKind, 0, target.FormatId); break;
    case TViewerKind::Rtf: ViewRtf(); break;
    case TViewerKind::Pdf: ViewPdf(); break;
    case TViewerKind::Flash: ViewFlash(); break;
    case TViewerKind::Media: PlayMedia(target.Extension); break;
    case TViewerKind::RealAudio: ViewRealAudio(); break;
    case TViewerKind::PeInfo: ViewPeInfo(); break;
    case TViewerKind::Archive: ViewArchive(); break;
    case TViewerKind::Unknown: ViewUnknownFile(); break;
    }
}

void TForm1::ViewUnknownFile()
{
    const long long size = std::max<long long>(FileSizeOf(CurrentFile), 0);
    if (size >= kUnknownFileTextLimit) {
        ShowFileInfo(CurrentFile);
        ShowNoPreview("Unknown file type and file size is big! If you really want to view it, click 'A' or 'H' "
                      "button in toolbar.");
        return;
    }
    ViewText();
}

void TForm1::ViewAscii() { ViewText(); }

void TForm1::ShowNoPreview(const std::string& message)
{
    PanelBlank->BringToFront();
    ShowStatusMessage(message);
}

void TForm1::ForgetVanishedCurrentFile()
{
    if (!CurrentFile.empty() && !FileExists(CurrentFile))
        ShowNoPreview(kFileGoneMessage + CurrentFile);
}
