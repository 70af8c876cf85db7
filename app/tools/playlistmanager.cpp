#include "playlistmanager.h"

#include "programfiles.h"
#include "mainwindow.h"
#include "place.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <vector>

namespace {
void RebuildPlaylistMenus()
{
    if (MainWindowServices)
        MainWindowServices->BuildPlaylistMenus();
}

void SaveList(const TStringList& list, const std::string& fileName)
{
    ForceDirectories(ExtractFilePath(fileName));
    SaveListFile(list, fileName);
}

// The local path of a "file://" address: the part after the host (none, or
// "localhost"), with its %XX escapes decoded. "" for a file on another host.
std::string FileUrlToPath(const std::string& url)
{
    std::string rest = url.substr(7);
    if (rest.rfind("localhost/", 0) == 0)
        rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/')
        return {};
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexDigitValue(rest[i + 1]) >= 0 && HexDigitValue(rest[i + 2]) >= 0) {
            path += static_cast<char>(HexDigitValue(rest[i + 1]) * 16 + HexDigitValue(rest[i + 2]));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

// The paths of an m3u playlist: every line that is neither empty nor a
// comment or tag ("#EXTM3U", "#EXTINF:..."), in order. A relative path
// stands for a file beside the playlist; a "file://" address for the local
// file it names.
std::vector<std::string> M3uPaths(const TStringList& m3u, const std::string& m3uFileName)
{
    const std::string folder = ExtractFilePath(m3uFileName);
    std::vector<std::string> paths;
    for (int i = 0; i < m3u.Count(); ++i) {
        std::string line = Trim(m3u[i]);
        // A byte-order mark before the first line belongs to no path.
        if (i == 0 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line = Trim(line.substr(3));
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("file://", 0) == 0)
            line = FileUrlToPath(line);
        else if (line[0] != '/' && line.find("://") == std::string::npos)
            line = folder + line;
        if (!line.empty())
            paths.push_back(line);
    }
    return paths;
}

// The number for a new playlist: one above the highest number in the index.
// Numbers only ever grow, so this is the last line's number plus one in an
// intact index, and it still works for an empty index or a damaged line.
int NextPlaylistNumber(const TStringList& index)
{
    int highest = 0;
    for (int i = 0; i < PairCount(index); ++i) {
        int n = 0;
        if (TryStrToInt(index[2 * i + 1], n))
            highest = std::max(highest, n);
    }
    return highest + 1;
}
}

TForm4::TForm4(TComponent* owner) : TForm(owner)
{
    SetCaption("Music List Manage");
    SetBorderStyle(TFormBorderStyle::bsToolWindow);
    Position = TPosition::poDesktopCenter;
    SetClientSize(520, 420);

    Place<TLabel>(this, this, 8, 6, 200, 16, "Available playlist");
    ListView1 = Place<TListView>(this, this, 8, 24, 370, 150, "", "ListView1");
    ListView1->AddColumn("Playlist", 340);
    ListView1->AddColumn("FileNumber", 0);
    ListView1->SetViewStyle(TViewStyle::vsReport);
    ListView1->OnSelectItem = [this](TObject* s, TListItem* i, bool sel) { ListView1SelectItem(s, i, sel); };

    Place<TLabel>(this, this, 8, 182, 200, 16, "Files in playlist ");
    ListView2 = Place<TListView>(this, this, 8, 200, 370, 210, "", "ListView2");
    ListView2->AddColumn("File", 600);
    ListView2->SetViewStyle(TViewStyle::vsReport);
    ListView2->SetMultiSelect(true);
    ListView2->OnSelectItem = [this](TObject* s, TListItem* i, bool sel) { ListView2SelectItem(s, i, sel); };

    Button1 = Place<TButton>(this, this, 390, 24, 122, 25, "Create New List", "Button1");
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Button2 = Place<TButton>(this, this, 390, 56, 122, 25, "Remove List", "Button2");
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
    Button2->SetEnabled(false);
    Button7 = Place<TButton>(this, this, 390, 88, 122, 25, "Modify List Name", "Button7");
    Button7->OnClick = [this](TObject* s) { Button7Click(s); };
    Button7->SetEnabled(false);
    addfile = Place<TButton>(this, this, 390, 200, 122, 25, "Add File to List", "addfile");
    addfile->OnClick = [this](TObject* s) { addfileClick(s); };
    removefile = Place<TButton>(this, this, 390, 232, 122, 25, "Remove File From List", "removefile");
    removefile->OnClick = [this](TObject* s) { removefileClick(s); };
    removefile->SetEnabled(false);
    import = Place<TButton>(this, this, 390, 264, 122, 25, "Import from *.m3u", "import");
    import->SetHint("Import files form winamp's playlist");
    import->OnClick = [this](TObject* s) { importClick(s); };
    Button6 = Place<TButton>(this, this, 390, 385, 122, 25, "Close", "Button6");
    Button6->OnClick = [this](TObject* s) { Button6Click(s); };
    // Escape closes the window, as its Close button does.
    Button6->Cancel = true;

    OnShow = [this](TObject* s) { FormShow(s); };
}

std::string TForm4::GetListFileName(int number) { return ProgramFile("mlist/m" + IntToStr(number) + ".txt"); }

void TForm4::LoadListIndex(TListView& view, const std::string& indexPath)
{
    TStringList index;
    LoadListOrEmpty(index, indexPath);
    view.Items().BeginUpdate();
    view.Items().Clear();
    for (int i = 0; i < PairCount(index); ++i) {
        TListItem* row = view.Items().Add();
        row->SetCaption(IntToStr(i + 1) + ":" + index[2 * i]);
        row->SubItemsForUpdate().Add(index[2 * i + 1]);
    }
    view.Items().EndUpdate();
}

void TForm4::LoadListFiles(TListView& view, const std::string& listPath)
{
    TStringList files;
    LoadListOrEmpty(files, listPath);
    view.Items().BeginUpdate();
    view.Items().Clear();
    for (const std::string& f : files)
        view.Items().Add()->SetCaption(f);
    view.Items().EndUpdate();
}

void TForm4::FormShow(TObject*)
{
    IndexFileName = ProgramFile("mlist/lindex.txt");
    LoadListIndex(*ListView1, IndexFileName);
    addfile->SetEnabled(false);
    import->SetEnabled(false);
}

void TForm4::ListView1SelectItem(TObject*, TListItem* item, bool selected)
{
    Button2->SetEnabled(selected);
    Button7->SetEnabled(selected);
    addfile->SetEnabled(true);
    import->SetEnabled(true);
    if (!selected || !item)
        return;
    const int number = StrToInt(item->SubItems().Count() > 0 ? item->SubItems()[0] : "");
    CurrentListFileName = GetListFileName(number);
    LoadListFiles(*ListView2, CurrentListFileName);
}

void TForm4::ListView2SelectItem(TObject*, TListItem*, bool)
{
    removefile->SetEnabled(ListView2->SelCount() > 0);
}

void TForm4::Button1Click(TObject*)
{
    std::string name = "New List";
    const bool ok = InputQuery("Create new list", "Please input a new playlist name:", name);
    if (ok && name.empty())
        return;
    if (ok) {
        TStringList index;
        LoadListOrEmpty(index, IndexFileName);
        // A dangling unpaired line would shift every later pair.
        if (index.Count() % 2 != 0)
            index.Delete(index.Count() - 1);
        const int number = NextPlaylistNumber(index);
        index.Add(OnOneLine(name));
        index.Add(IntToStr(number));
        SaveList(index, IndexFileName);
        SaveList(TStringList(), GetListFileName(number));
        LoadListIndex(*ListView1, IndexFileName);
    }
    RebuildPlaylistMenus();
}

void TForm4::Button2Click(TObject*)
{
    TListItem* row = ListView1->Selected();
    if (!row)
        return;
    const int p = row->Index();
    TStringList index;
    LoadListOrEmpty(index, IndexFileName);
    if (2 * p + 1 < index.Count()) {
        index.Delete(2 * p + 1);
        index.Delete(2 * p);
    }
    SaveList(index, IndexFileName);
    LoadListIndex(*ListView1, IndexFileName);
    if (!CurrentListFileName.empty())
        DeleteFile(CurrentListFileName);
    ListView2->Items().Clear();
    RebuildPlaylistMenus();
}

void TForm4::Button7Click(TObject*)
{
    TListItem* row = ListView1->Selected();
    if (!row)
        return;
    const int p = row->Index();
    std::string name = "New List Name";
    const bool ok = InputQuery("Modify list name", "Please input a new playlist name:", name);
    if (ok && name.empty())
        return;
    if (ok) {
        TStringList index;
        LoadListOrEmpty(index, IndexFileName);
        if (2 * p < index.Count()) {
            index.SetString(2 * p, OnOneLine(name));
            SaveList(index, IndexFileName);
        }
        LoadListIndex(*ListView1, IndexFileName);
    }
    RebuildPlaylistMenus();
}

void TForm4::addfileClick(TObject*)
{
    if (CurrentListFileName.empty())
        return;
    TFileDialogRequest request;
    request.Title = "Select Music files";
    request.Filter = "Music(*.mp3,*.wav,*.wma,*.midi)|*.mp3;*.wav;*.wma;*.midi";
    request.MultiSelect = true;
    request.MustExist = true;
    request.InitialDir = MainWindowCurrentFolder();
    std::vector<std::string> chosen;
    if (!Application->Prompts().OpenFiles(request, chosen))
        return;
    TStringList files;
    LoadListOrEmpty(files, CurrentListFileName);
    bool leftOut = false;
    for (const std::string& f : chosen) {
        if (HoldsLineBreak(f))
            leftOut = true;
        else
            files.Add(f);
    }
    SaveList(files, CurrentListFileName);
    LoadListFiles(*ListView2, CurrentListFileName);
    if (leftOut)
        ShowMessage(kLineBreakInFileName);
}

void TForm4::removefileClick(TObject*)
{
    if (CurrentListFileName.empty())
        return;
    TStringList kept;
    for (int i = 0; i < ListView2->Items().Count(); ++i)
        if (!ListView2->Items()[i]->Selected())
            kept.Add(ListView2->Items()[i]->Caption());
    SaveList(kept, CurrentListFileName);
    LoadListFiles(*ListView2, CurrentListFileName);
    removefile->SetEnabled(false);
}

void TForm4::importClick(TObject*)
{
    if (CurrentListFileName.empty())
        return;
    TFileDialogRequest request;
    request.Filter = "Winamp playlist(*.m3u)|*.m3u";
    request.InitialDir = MainWindowCurrentFolder();
    std::vector<std::string> chosen;
    if (!Application->Prompts().OpenFiles(request, chosen) || chosen.empty())
        return;
    TStringList files;
    LoadListOrEmpty(files, CurrentListFileName);
    TStringList m3u;
    m3u.LoadFromFile(chosen.front());
    for (const std::string& path : M3uPaths(m3u, chosen.front()))
        files.Add(path);
    SaveList(files, CurrentListFileName);
    LoadListFiles(*ListView2, CurrentListFileName);
}

void TForm4::Button6Click(TObject*)
{
    ListView1->Items().Clear();
    ListView2->Items().Clear();
    Close();
}
