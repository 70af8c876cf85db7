#include "mainform.h"

#include "about.h"
#include "configfile.h"
#include "optionsdialog.h"
#include "tools/commonfunc.h"
#include "tools/programfiles.h"
#include "tools/folderlisteditor.h"
#include "tools/playlistmanager.h"

#include "vcl/customlistview.h"
#include "win/fileops.h"

#include "rtl/inifiles.h"

#include <algorithm>

TForm1* Form1 = nullptr;

namespace {
constexpr int kMaxRecentFiles = 6;
constexpr int kFixedFileMenuItems = 8;   // Normal, Ascii, Hex, -, Previous, Next, -, Exit
constexpr int kFixedFolderMenuItems = 3; // Add current folder, Edit FolderList, -

const char* const kLayoutCaptions[6] = {
    "Left:Tree+List   Right:Content",
    "Left:Tree   Right:List+Content",
    "Left:List   Right:Content",
    "Top:List   Down:Content",
    "Only Content",
    "Left:Tree Middle:List Right:Content",
};

TToolButton* AddToolButton(TForm* form, TToolBar* bar, const std::string& name, const std::string& caption,
    const std::string& hint, TToolButtonStyle style = TToolButtonStyle::tbsButton)
{
    auto* b = new TToolButton(form);
    b->SetName(name);
    b->SetStyle(style);
    b->SetCaption(caption);
    b->SetHint(hint);
    b->SetParent(bar);
    return b;
}

void AddSeparator(TForm* form, TToolBar* bar) { AddToolButton(form, bar, "", "", "", TToolButtonStyle::tbsSeparator); }

TMenuItem* AddItem(TForm* form, TMenuItem* parent, const std::string& caption, TNotifyEvent onClick = {},
    const std::string& shortCut = "")
{
    TMenuItem* item = NewItem(form, caption, std::move(onClick));
    if (!shortCut.empty())
        item->SetShortCut(ShortCut(shortCut));
    parent->Add(item);
    return item;
}

TMenuItem* AddRadio(TForm* form, TMenuItem* parent, const std::string& caption, int group, TNotifyEvent onClick)
{
    TMenuItem* item = AddItem(form, parent, caption, std::move(onClick));
    item->SetRadioItem(true);
    item->GroupIndex = group;
    return item;
}
}

std::string FileFromCommandLine(const std::string& rawCommandLine, const std::string& exeName)
{
    std::string line;
    for (char c : rawCommandLine)
        if (c != '"')
            line += c;
    const std::string name = LowerCase(exeName);
    const int length = static_cast<int>(line.size());
    const int p = Pos(name, LowerCase(line));
    const int nameLength = static_cast<int>(name.size());
    // Everything after the executable's name and one separating character.
    const int start = p + nameLength + 1; // counted from 1
    const int count = length - p - nameLength;
    if (count <= 0 || start - 1 >= length)
        return {};
    return line.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

TForm1::TForm1(TComponent* owner) : TForm(owner)
{
    SetName("Form1");
    Form1 = this;
    MainWindowServices = this;
    SetCaption("Vistrel 1.0");
    Font().SetName("Tahoma");
    Font().SetSize(8);
    SetBounds(0, 0, 1024, 720);
    SetWindowState(TWindowState::wsMaximized);
    CreateComponents();
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnShow = [this](TObject* s) { FormShow(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    BaseCaption.clear();
    CurrentFile.clear();
    DoCreate();
}

TForm1::~TForm1()
{
    // The list outlives this object's members while the form frees its
    // components.
    if (list)
        list->OnDeleteItem = nullptr;
    if (Form1 == this)
        Form1 = nullptr;
    if (MainWindowServices == this)
        MainWindowServices = nullptr;
}

void TForm1::CreateComponents()
{
    CreateMenus();
    CreateToolBar();

    StatusBar1 = new TStatusBar(this);
    StatusBar1->SetName("StatusBar1");
    StatusBar1->SetParent(this);
    StatusBar1->SetPanelCount(8);

    PanelContent = new TPanel(this);
    PanelContent->SetName("PanelContent");
    PanelContent->SetBevelOuter(TBevelCut::bvNone);
    PanelContent->SetAlign(alClient);
    PanelContent->SetParent(this);

    PanelLeft = new TPanel(this);
    PanelLeft->SetName("PanelLeft");
    PanelLeft->SetBevelOuter(TBevelCut::bvNone);
    PanelLeft->SetBounds(0, 0, 225, 400);
    PanelLeft->SetAlign(alLeft);
    PanelLeft->SetParent(PanelContent);

    CreateShellTree();

    Splitter2 = new TSplitter(this);
    Splitter2->SetName("Splitter2");
    Splitter2->SetBounds(0, 0, 225, 5);
    Splitter2->SetAlign(alTop);
    Splitter2->SetParent(PanelLeft);
    Splitter2->Hide();

    Splitter1 = new TSplitter(this);
    Splitter1->SetName("Splitter1");
    Splitter1->SetBounds(225, 0, 6, 400);
    Splitter1->SetAlign(alLeft);
    Splitter1->SetParent(PanelContent);

    PanelRight = new TPanel(this);
    PanelRight->SetName("PanelRight");
    PanelRight->SetBevelOuter(TBevelCut::bvNone);
    PanelRight->SetAlign(alClient);
    PanelRight->SetParent(PanelContent);

    PanelRightTop = new TPanel(this);
    PanelRightTop->SetName("PanelRightTop");
    PanelRightTop->SetBevelOuter(TBevelCut::bvNone);
    PanelRightTop->SetBounds(0, 0, 400, 200);
    PanelRightTop->SetAlign(alTop);
    PanelRightTop->SetParent(PanelRight);

    Splitter3 = new TSplitter(this);
    Splitter3->SetName("Splitter3");
    Splitter3->SetBounds(0, 201, 400, 5);
    Splitter3->SetAlign(alTop);
    Splitter3->SetParent(PanelRight);

    pcontent = new TPanel(this);
    pcontent->SetName("pcontent");
    pcontent->SetBorderStyleSingle(true);
    pcontent->Font().SetName("Courier New");
    pcontent->Font().SetSize(10);
    pcontent->SetAlign(alClient);
    pcontent->SetParent(PanelRight);

    PanelBlank = new TPanel(this);
    PanelBlank->SetName("PanelBlank");
    PanelBlank->SetBevelOuter(TBevelCut::bvNone);
    // Opaque: in front, it hides the viewer panels stacked beneath with the
    // last file they showed.
    PanelBlank->SetColor(clBtnFace);
    PanelBlank->SetAlign(alClient);
    PanelBlank->SetParent(pcontent);

    CreateViewerPanels();
    CreateImagePanel();
    CreatePlayerPanels();
    CreateFileLists();

    list->OnSelectItem = [this](TObject* s, TListItem* i, bool on) { listSelectItem(s, i, on); };
    // A refresh takes the item of a file deleted or moved by another program
    // out of the list; when that file is the one shown, its view goes too.
    list->OnDeleteItem = [this](TObject*, TListItem*, TPTShListData* data) {
        // A change of folder takes every item out while its files stay: the
        // file is looked at before any item's path is built.
        if (!CurrentFile.empty() && !FileExists(CurrentFile) && data->GetPathName() == CurrentFile)
            ForgetVanishedCurrentFile();
    };
    slist->OnSelectItem = [this](TObject* s, TListItem* i, bool on) { slistSelectItem(s, i, on); };
    selectedlist->OnSelectItem = [this](TObject* s, TListItem* i, bool on) { selectedlistSelectItem(s, i, on); };
    tree->OnChange = [this](TObject* s) { treeChange(s); };
    tree->OnClick = [this](TObject* s) { treeClick(s); };

    Timer1 = new TTimer(this);
    Timer1->SetName("Timer1");
    Timer1->SetEnabled(false);
    Timer1->SetInterval(1000);
    Timer1->OnTimer = [this](TObject* s) { Timer1Timer(s); };
}

void TForm1::CreateMenus()
{
    MainMenu1 = new TMainMenu(this);
    MainMenu1->SetName("MainMenu1");
    TMenuItem* root = MainMenu1->Items();

    File1 = AddItem(this, root, "&File");
    Normal1 = AddRadio(this, File1, "Normal", 1, [this](TObject*) { SetViewMode(0); });
    Normal1->SetShortCut(ShortCut("Ctrl+Alt+N"));
    Normal1->SetChecked(true);
    Ascii1 = AddRadio(this, File1, "Ascii", 1, [this](TObject*) { SetViewMode(1); });
    Ascii1->SetShortCut(ShortCut("Ctrl+Alt+A"));
    Hex1 = AddRadio(this, File1, "Hex", 1, [this](TObject*) { SetViewMode(2); });
    Hex1->SetShortCut(ShortCut("Ctrl+Alt+H"));
    AddItem(this, File1, "-");
    Previousfile1 = AddItem(this, File1, "&Previous file", [this](TObject* s) { bprevClick(s); }, "F11");
    Nextfile1 = AddItem(this, File1, "&Next file", [this](TObject* s) { bnextClick(s); }, "F12");
    AddItem(this, File1, "-");
    Exit1 = AddItem(this, File1, "E&xit", [this](TObject*) { Close(); }, "Ctrl+Alt+X");

    View1 = AddItem(this, root, "&View");
    viewSB = AddItem(this, View1, "StatusBar", [this](TObject* s) { viewSBClick(s); });
    viewSB->SetChecked(true);
    AddItem(this, View1, "-");
    const char* styles[4] = {"Details", "List", "Large Icon", "Small Icon"};
    TMenuItem** vv[4] = {&menuVV1, &menuVV2, &menuVV3, &menuVV4};
    for (int i = 0; i < 4; ++i)
        *vv[i] = AddRadio(this, View1, styles[i], 2, [this, i](TObject*) { SetListStyle(i + 1); });
    AddItem(this, View1, "-");
    for (int i = 0; i < 6; ++i) {
        // The View menu names layout 4 by what it shows beside the content.
        const std::string caption = i == 3 ? "Left:None   Right:List+Content" : kLayoutCaptions[i];
        menuV[i] = AddRadio(this, View1, caption, 3, [this, i](TObject*) { SetLayout(i + 1); });
    }
    AddItem(this, View1, "-");
    ShowFileListsGrids1 = AddItem(this, View1, "Show grid ", [this](TObject* s) { ShowFileListsGrids1Click(s); });

    Config1 = AddItem(this, root, "&Config");
    config2 = AddItem(this, Config1, "&Config...", [this](TObject* s) { config2Click(s); });

    Music1 = AddItem(this, root, "&Music");
    ModifyPlayList1 = AddItem(this, Music1, "Edit playlist", [this](TObject* s) { ModifyPlayList1Click(s); });
    AddItem(this, Music1, "-");
    PlayAPlaylist1 = AddItem(this, Music1, "Play a playlist");
    Stopplay1 = AddItem(this, Music1, "Stop play", [this](TObject* s) { Stopplay1Click(s); });
    Stopplay1->SetEnabled(false);

    Tools1 = AddItem(this, root, "&Tools");
    Searchfiles1 = AddItem(this, Tools1, "Search files in disk...", [this](TObject* s) { Searchfiles1Click(s); });
    Copysearchedfilestonewfolder1 = AddItem(this, Tools1, "Copy found files to new folder...",
        [this](TObject*) { CopySelectedFiles(*slist); });
    Copysearchedfilestonewfolder1->SetVisible(false);
    AddItem(this, Tools1, "-");
    Asciitable1 = AddItem(this, Tools1, "&ASCII Table...", [this](TObject* s) { Asciitable1Click(s); });
    AddItem(this, Tools1, "-")->SetVisible(false);
    ExtracttextfromPDF1 = AddItem(this, Tools1, "Extract Text from PDF...",
        [this](TObject* s) { ExtracttextfromPDF1Click(s); });
    ExtracttextfromPDF1->SetVisible(false);
    AddItem(this, Tools1, "-");
    FileNamemanager1 = AddItem(this, Tools1, "FileName Manager...", [this](TObject* s) { FileNamemanager1Click(s); });
    AddItem(this, Tools1, "-");
    ConvertWAVtoMP31 = AddItem(this, Tools1, "Convert WAV to MP3...", [this](TObject* s) { ConvertWAVtoMP31Click(s); });
    AddItem(this, Tools1, "-");
    SaveafileasHEXmode1 = AddItem(this, Tools1, "Save current file in HEX mode",
        [this](TObject* s) { SaveafileasHEXmode1Click(s); });

    Folders1 = AddItem(this, root, "F&olders");
    Addcurrentfoldertofolderlist1 = AddItem(this, Folders1, "Add current folder to folderlist",
        [this](TObject* s) { Addcurrentfoldertofolderlist1Click(s); });
    EditFolderList1 = AddItem(this, Folders1, "Edit FolderList", [this](TObject* s) { EditFolderList1Click(s); });
    AddItem(this, Folders1, "-");

    Help1 = AddItem(this, root, "&Help");
    Userguide1 = AddItem(this, Help1, "&Help", [this](TObject* s) { Userguide1Click(s); });
    AddItem(this, Help1, "-");
    OnlineHelp1 = AddItem(this, Help1, "&Online Help", [this](TObject*) { OpenWithShell(kOnlineHelp); });
    Gotothehomepage1 = AddItem(this, Help1, "Go to the Homepage", [this](TObject*) { OpenWithShell(kHomepage); });
    Emailtome1 = AddItem(this, Help1, std::string("Mail to:") + kSupportAddress,
        [this](TObject*) { OpenWithShell(std::string("mailto:") + kSupportAddress); });
    AddItem(this, Help1, "-");
    About1 = AddItem(this, Help1, "&About...", [this](TObject* s) { About1Click(s); });

    SetMenu(MainMenu1);

    PopupLayout = new TPopupMenu(this);
    PopupLayout->SetName("PopupLayout");
    for (int i = 0; i < 6; ++i)
        menuL[i] = AddRadio(this, PopupLayout->Items(), kLayoutCaptions[i], 1, [this, i](TObject*) { SetLayout(i + 1); });
    PopupViewType = new TPopupMenu(this);
    PopupViewType->SetName("PopupViewType");
    const char* pp[4] = {"report", "list", "icon", "smallicon"};
    for (int i = 0; i < 4; ++i)
        menuPP[i] = AddRadio(this, PopupViewType->Items(), pp[i], 1, [this, i](TObject*) { SetListStyle(i + 1); });
    PopupPlaylist = new TPopupMenu(this);
    PopupPlaylist->SetName("PopupPlaylist");
}

void TForm1::CreateToolBar()
{
    ToolBar1 = new TToolBar(this);
    ToolBar1->SetName("ToolBar1");
    ToolBar1->SetParent(this);

    filter = new TComboBox(this);
    filter->SetName("filter");
    filter->SetBounds(0, 0, 220, 22);
    filter->SetParent(ToolBar1);
    filter->OnChange = [this](TObject* s) { filterChange(s); };
    AddSeparator(this, ToolBar1);
    layout = AddToolButton(this, ToolBar1, "layout", "Layout", "Switch the window layout", TToolButtonStyle::tbsDropDown);
    layout->DropdownMenu = PopupLayout;
    layout->OnClick = [this](TObject*) { SetLayout(m_layoutIndex % 6 + 1); };
    up = AddToolButton(this, ToolBar1, "up", "Up", "To Up folder");
    up->OnClick = [this](TObject* s) { upClick(s); };
    searchfiles = AddToolButton(this, ToolBar1, "searchfiles", "Search", "Search files in disk");
    searchfiles->OnClick = [this](TObject* s) { searchfilesClick(s); };
    bviewtype = AddToolButton(this, ToolBar1, "bviewtype", "View", "Change FileListMode", TToolButtonStyle::tbsDropDown);
    bviewtype->DropdownMenu = PopupViewType;
    bviewtype->OnClick = [this](TObject*) { SetListStyle(m_listStyle % 4 + 1); };
    AddSeparator(this, ToolBar1);
    bnext = AddToolButton(this, ToolBar1, "bnext", "Next", "Show Next File");
    bprev = AddToolButton(this, ToolBar1, "bprev", "Prev", "Show Previous File");
    bnext->OnClick = [this](TObject* s) { bnextClick(s); };
    bprev->OnClick = [this](TObject* s) { bprevClick(s); };
    AddSeparator(this, ToolBar1);
    bnormal = AddToolButton(this, ToolBar1, "bnormal", "Normal", "Show file in normal mode", TToolButtonStyle::tbsCheck);
    bascii = AddToolButton(this, ToolBar1, "bascii", "A", "Show file in ASCII mode", TToolButtonStyle::tbsCheck);
    bhex = AddToolButton(this, ToolBar1, "bhex", "H", "Show file in Hex mode", TToolButtonStyle::tbsCheck);
    for (TToolButton* b : {bnormal, bascii, bhex})
        b->Grouped = true;
    bnormal->OnClick = [this](TObject* s) { bnormalClick(s); };
    bascii->OnClick = [this](TObject* s) { basciiClick(s); };
    bhex->OnClick = [this](TObject* s) { bhexClick(s); };
    bnormal->SetDown(true);
    AddSeparator(this, ToolBar1);
    playlist = AddToolButton(this, ToolBar1, "playlist", "Playlist", "Select a playlist to play", TToolButtonStyle::tbsDropDown);
    playlist->DropdownMenu = PopupPlaylist;
    stop = AddToolButton(this, ToolBar1, "stop", "Stop", "Stop play");
    stop->SetEnabled(false);
    stop->OnClick = [this](TObject* s) { stopClick(s); };
}

TListView* TForm1::CreateFileListView(TTabSheet* sheet)
{
    // A list that can show the icons of the system image lists (the search
    // attaches them to "Found Files").
    auto* view = new TCustomListView(this);
    // The widths were made for a narrower font: each column holds at least
    // what it usually shows (a gigabyte's bytes, a long type name, a date
    // and time of two-digit fields in the desktop's format).
    const TDateTime latest = EncodeDate(2026, 12, 31) + EncodeTime(23, 59, 59, 0);
    view->AddDesignedColumn("Name", 260);
    view->AddDesignedColumn("Size(Bytes)", 100, "1073741824", true);
    view->AddDesignedColumn("Type", 100, "plain text document");
    view->AddDesignedColumn("Modify Time", 100, DateTimeToStr(latest));
    view->SetViewStyle(TViewStyle::vsReport);
    view->SetMultiSelect(true);
    view->SetGridLines(true);
    view->SetAlign(alClient);
    view->SetParent(sheet);
    return view;
}

void TForm1::CreateFileLists()
{
    PageControl1 = new TPageControl(this);
    PageControl1->SetName("PageControl1");
    PageControl1->SetAlign(alClient);
    PageControl1->SetParent(PanelRightTop);

    // Each tab holds its tool bar above its list.
    auto addTab = [this](const char* name, const char* caption, TToolBar*& bar, const char* barName) {
        auto* sheet = new TTabSheet(this);
        sheet->SetName(name);
        sheet->SetCaption(caption);
        sheet->SetPageControl(PageControl1);
        bar = new TToolBar(this);
        bar->SetName(barName);
        bar->SetParent(sheet);
        return sheet;
    };
    TabSheet1 = addTab("TabSheet1", "Disk Files", tbdiskfiles, "tbdiskfiles");
    CreateShellList();
    TabSheet2 = addTab("TabSheet2", "Found Files", ToolBar4, "ToolBar4");
    slist = CreateFileListView(TabSheet2);
    slist->SetName("slist");
    TabSheet3 = addTab("TabSheet3", "Marked Files", tbselectedfiles, "tbselectedfiles");
    selectedlist = CreateFileListView(TabSheet3);
    selectedlist->SetName("selectedlist");

    PageControl1->SetActivePage(TabSheet1);
    CreateFileListButtons();
}

void TForm1::FormCreate(TObject*)
{
    SearchSwitchedTab = false;
    PlayingKind = 0;
    ZoomIndex = -1;
}

void TForm1::FormShow(TObject*)
{
    // Any exception ends the first showing at that step; the application
    // object shows its message.
    try {
        FirstShowSteps();
    } catch (const std::exception& e) {
        Application->ShowException(e);
    }
}

void TForm1::FirstShowSteps()
{
    const TConfig config = ReadConfig(ConfigFileName());
    SaveRecent = config.Saverecent == 1;
    ShowGrid = config.Showgrid == 1;
    BaseCaption = Caption();

    for (TListView* view : std::initializer_list<TListView*> {list, slist, selectedlist})
        view->SetGridLines(ShowGrid);
    ShowFileListsGrids1->SetChecked(ShowGrid);

    PanelBlank->BringToFront();
    if (SaveRecent)
        LoadRecentList();
    if (!config.IniDir.empty())
        SelectStartFolder(config.IniDir);

    ViewMode = 0;
    SetListStyle(config.ViewMode + 1);
    SetLayout(config.Layout + 1);

    m_filterList.Clear();
    LoadListOrEmpty(m_filterList, FilterFileName());
    m_filterListCreated = true;
    filter->ClearItems();
    for (int i = 0; i < PairCount(m_filterList); ++i)
        filter->AddItem(m_filterList[2 * i + 1] + "(" + m_filterList[2 * i] + ")");
    // A stored index past the list (or negative) would leave no filter at all:
    // it is clamped to the list instead.
    if (filter->Count() > 0)
        SelectFilter(std::clamp(config.Filter, 0, filter->Count() - 1));

    BuildPlaylistMenus();
    BuildFolderListMenu();

    if (HasCommandLineFile) {
        OpenFilePath(CommandLineFile);
        if (filter->Count() > 0)
            SelectFilter(0);
    }

    if (Splash) {
        Splash->Hide();
        delete Splash;
        Splash = nullptr;
    }
}

void TForm1::FormClose(TObject*, TCloseAction& action)
{
    if (!ConfirmHexChanges()) {
        action = caNone;
        return;
    }
    if (SaveRecent && RecentFiles) {
        try {
            SaveRecentList();
        } catch (const std::exception& e) {
            Application->ShowException(e);
        }
        RecentFiles.reset();
    }
    m_filterList.Clear();
    // The music stops with the window, and no playlist tick outlives the list.
    stopClick(this);
    PlaylistFiles.reset();
}

void TForm1::SetListStyle(int style)
{
    if (style == m_listStyle)
        return;
    m_listStyle = style;
    if (style < 1 || style > 4)
        return;
    static constexpr TViewStyle styles[4] = {TViewStyle::vsReport, TViewStyle::vsList, TViewStyle::vsIcon,
        TViewStyle::vsSmallIcon};
    for (TListView* view : std::initializer_list<TListView*> {list, slist, selectedlist})
        view->SetViewStyle(styles[style - 1]);
    menuPP[style - 1]->SetChecked(true);
    TMenuItem* vv[4] = {menuVV1, menuVV2, menuVV3, menuVV4};
    vv[style - 1]->SetChecked(true);
}

void TForm1::SetLayout(int n)
{
    if (n == m_layoutIndex)
        return;
    m_layoutIndex = n;
    if (n < 1 || n > 6)
        return;
    auto splitterAfter = [](TSplitter* s, TControl* c, TAlign align) {
        s->SetAlign(align);
        if (align == alLeft) {
            s->SetWidth(align == alLeft && s->Width() < 3 ? 5 : s->Width());
            s->SetLeft(c->Left() + c->Width() + 1);
        } else {
            s->SetHeight(s->Height() < 3 ? 5 : s->Height());
            s->SetTop(c->Top() + c->Height() + 1);
        }
        s->Show();
    };
    switch (n) {
    case 1:
        PanelLeft->Show();
        splitterAfter(Splitter1, PanelLeft, alLeft);
        PanelRightTop->SetParent(PanelLeft);
        PanelRightTop->SetAlign(alClient);
        PanelRightTop->Show();
        tree->SetAlign(alTop);
        tree->SetHeight(200);
        tree->Show();
        splitterAfter(Splitter2, tree, alTop);
        Splitter3->Hide();
        break;
    case 2:
        tree->SetAlign(alClient);
        tree->Show();
        PanelLeft->Show();
        Splitter2->Hide();
        splitterAfter(Splitter1, PanelLeft, alLeft);
        PanelRightTop->SetParent(PanelRight);
        PanelRightTop->SetAlign(alTop);
        PanelRightTop->SetHeight(200);
        PanelRightTop->Show();
        splitterAfter(Splitter3, PanelRightTop, alTop);
        break;
    case 3:
        PanelLeft->Show();
        splitterAfter(Splitter1, PanelLeft, alLeft);
        PanelRightTop->SetParent(PanelLeft);
        PanelRightTop->SetAlign(alClient);
        PanelRightTop->Show();
        tree->Hide();
        Splitter2->Hide();
        Splitter3->Hide();
        break;
    case 4:
        PanelLeft->Hide();
        Splitter1->Hide();
        PanelRightTop->SetParent(PanelRight);
        PanelRightTop->SetAlign(alTop);
        PanelRightTop->SetHeight(200);
        PanelRightTop->Show();
        splitterAfter(Splitter3, PanelRightTop, alTop);
        break;
    case 5:
        for (TControl* c : std::initializer_list<TControl*> {PanelLeft, PanelRightTop, Splitter3, Splitter1, Splitter2})
            c->Hide();
        break;
    case 6:
        PanelLeft->Show();
        splitterAfter(Splitter1, PanelLeft, alLeft);
        PanelRightTop->SetParent(PanelRight);
        PanelRightTop->SetAlign(alLeft);
        PanelRightTop->SetWidth(228);
        PanelRightTop->Show();
        tree->SetAlign(alClient);
        tree->Show();
        Splitter2->Hide();
        splitterAfter(Splitter3, PanelRightTop, alLeft);
        break;
    }
    menuL[n - 1]->SetChecked(true);
    menuV[n - 1]->SetChecked(true);
}

void TForm1::SetStatusPanel(int index, const std::string& text)
{
    StatusBar1->SetPanelText(index, text);
    TCanvas measure;
    measure.Font().Assign(Font());
    StatusBar1->SetPanelWidth(index, measure.TextWidth(text) + 20);
}

void TForm1::ShowStatusMessage(const std::string& text)
{
    SetStatusPanel(0, text);
    for (int i = 1; i <= 5; ++i)
        StatusBar1->SetPanelText(i, "");
}

void TForm1::ShowFileInfo(const std::string& path)
{
    SetStatusPanel(0, path);
    std::int64_t size = 0;
    TDateTime modified = 0;
    std::time_t stamp = 0;
    if (FileSizeAndTime(path, size, stamp))
        modified = UnixToLocalDateTime(stamp);
    SetStatusPanel(1, IntToStr(size) + "Bytes");
    SetStatusPanel(2, DateTimeToStr(modified));
    for (int i = 3; i <= 5; ++i)
        StatusBar1->SetPanelText(i, "");
    SetCaption(BaseCaption + " - " + path);
}

void TForm1::LoadRecentList()
{
    RecentFiles = std::make_unique<TStringList>();
    LoadListOrEmpty(*RecentFiles, ProgramFile("ini/recent.txt"));
    // The list holds at most six paths, however long the file is.
    while (RecentFiles->Count() > kMaxRecentFiles)
        RecentFiles->Delete(RecentFiles->Count() - 1);
    BuildHistoryMenu();
}

void TForm1::AddRecentFile(const std::string& path)
{
    // A name with a line break would come back as two entries of the file.
    if (!RecentFiles || HoldsLineBreak(path))
        return;
    const int existing = RecentFiles->IndexOf(path);
    if (existing >= 0)
        RecentFiles->Delete(existing);
    RecentFiles->Insert(0, path);
    if (RecentFiles->Count() > kMaxRecentFiles)
        RecentFiles->Delete(kMaxRecentFiles);
}

void TForm1::BuildHistoryMenu()
{
    while (File1->Count() > kFixedFileMenuItems)
        File1->Delete(7);
    if (!RecentFiles)
        return;
    for (int i = 0; i < RecentFiles->Count(); ++i) {
        TMenuItem* item = NewItem(this, "&" + IntToStr(i + 1) + ":" + (*RecentFiles)[i],
            [this](TObject* s) { HistoryFileClick(s); });
        File1->Insert(7 + i, item);
    }
    if (RecentFiles->Count() > 0)
        File1->Insert(7 + RecentFiles->Count(), NewItem(this, "-"));
}

void TForm1::SaveRecentList()
{
    if (RecentFiles)
        SaveListFile(*RecentFiles, ProgramFile("ini/recent.txt"));
}

void TForm1::HistoryFileClick(TObject* sender)
{
    const std::string caption = static_cast<TMenuItem*>(sender)->Caption();
    OpenFilePath(caption.size() > 3 ? caption.substr(3) : std::string());
    if (filter->Count() > 0)
        SelectFilter(0);
}

void TForm1::BuildFolderListMenu()
{
    TStringList folders;
    LoadListOrEmpty(folders, ProgramFile("ffolders/folders.txt"));
    while (Folders1->Count() > kFixedFolderMenuItems)
        Folders1->Delete(kFixedFolderMenuItems);
    for (int i = 0; i < PairCount(folders); ++i)
        Folders1->Insert(kFixedFolderMenuItems + i, NewItem(this, folders[2 * i] + "-" + folders[2 * i + 1],
            [this](TObject* s) { FolderListMenuClick(s); }));
}

void TForm1::About1Click(TObject*)
{
    auto* about = new TfrmAbout(this);
    about->ShowModal();
    delete about;
}

void TForm1::config2Click(TObject*)
{
    if (Form3)
        Form3->ShowModal();
}

void TForm1::ModifyPlayList1Click(TObject*)
{
    auto* manager = new TForm4(this);
    manager->ShowModal();
    delete manager;
}

void TForm1::EditFolderList1Click(TObject*)
{
    auto* editor = new TForm5(this);
    editor->ShowModal();
    delete editor;
}

void TForm1::viewSBClick(TObject*)
{
    viewSB->SetChecked(!viewSB->Checked());
    StatusBar1->SetVisible(viewSB->Checked());
}

void TForm1::ShowFileListsGrids1Click(TObject*)
{
    ShowFileListsGrids1->SetChecked(!ShowFileListsGrids1->Checked());
    for (TListView* view : std::initializer_list<TListView*> {list, slist, selectedlist})
        view->SetGridLines(!view->GridLines());
}

void TForm1::SelectFilter(int index)
{
    filter->SetItemIndex(index);
    filterChange(filter);
}

void TForm1::filterChange(TObject*)
{
    const int i = filter->ItemIndex();
    m_fileFilter = m_filterList[2 * i];
    ApplyFileFilter(m_fileFilter);
    SetStatusPanel(6, IntToStr(FileListCount()) + "Files");
}
