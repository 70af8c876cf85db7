// The main window: folder tree, the three file lists, the preview area,
// menus, tool bar and status bar.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"
#include "vcl/stdctrls.h"

#include "tools/mainwindow.h"

#include <cstdint>
#include <memory>
#include <string>

class TForm1 : public TForm, public TMainWindowServices {
public:
    explicit TForm1(TComponent* owner);
    ~TForm1() override;

    // Form components.
    TMainMenu* MainMenu1;
    TMenuItem *File1, *Normal1, *Ascii1, *Hex1, *Previousfile1, *Nextfile1, *Exit1;
    TMenuItem *View1, *viewSB, *menuVV1, *menuVV2, *menuVV3, *menuVV4, *ShowFileListsGrids1;
    TMenuItem* menuV[6];
    TMenuItem *Config1, *config2;
    TMenuItem *Music1, *ModifyPlayList1, *PlayAPlaylist1, *Stopplay1;
    TMenuItem* Tools1;
    TMenuItem *Folders1, *Addcurrentfoldertofolderlist1, *EditFolderList1;
    TMenuItem *Help1, *About1;
    TPopupMenu *PopupLayout, *PopupViewType, *PopupPlaylist;
    TMenuItem* menuL[6];
    TMenuItem* menuPP[4];

    TToolBar* ToolBar1;
    TComboBox* filter;
    TToolButton *layout, *up, *searchfiles, *bviewtype, *bnext, *bprev, *bnormal, *bascii, *bhex, *playlist, *stop;
    TStatusBar* StatusBar1;
    TPanel *PanelContent, *PanelLeft, *PanelRight, *PanelRightTop, *pcontent, *PanelBlank;
    TSplitter *Splitter1, *Splitter2, *Splitter3;
    TTreeView* tree;
    TPageControl* PageControl1;
    TTabSheet *TabSheet1, *TabSheet2, *TabSheet3;
    TToolBar *tbdiskfiles, *ToolBar4, *tbselectedfiles;
    TListView *list, *slist, *selectedlist;
    TTimer* Timer1;

    // Window state.
    std::string CurrentFile;
    std::string BaseCaption;
    std::uint8_t ViewMode = 0;
    bool SaveRecent = false;
    bool ShowGrid = false;
    std::unique_ptr<TStringList> RecentFiles;
    bool SearchSwitchedTab = false;
    int PlayingKind = 0;
    std::unique_ptr<TStringList> PlaylistFiles;
    int PlaylistIndex = 0;
    bool PlaylistSkip = false;
    int ZoomIndex = -1;

    // Lifecycle.
    void FormCreate(TObject* sender);
    void FormShow(TObject* sender);
    void FormClose(TObject* sender, TCloseAction& action);

    void SetListStyle(int style);
    void SetLayout(int layoutIndex);
    void SetStatusPanel(int index, const std::string& text);
    void ShowStatusMessage(const std::string& text);
    void ShowFileInfo(const std::string& path);

    void AddRecentFile(const std::string& path);
    void BuildHistoryMenu();
    void LoadRecentList();
    void SaveRecentList();
    void HistoryFileClick(TObject* sender);
    // Opens a file: preview hand-over point for the command line and history.
    void OpenFilePath(const std::string& path);

    void BuildPlaylistMenus() override;
    void BuildFolderListMenu() override;

    void About1Click(TObject* sender);
    void config2Click(TObject* sender);
    void ModifyPlayList1Click(TObject* sender);
    void EditFolderList1Click(TObject* sender);
    void viewSBClick(TObject* sender);
    void ShowFileListsGrids1Click(TObject* sender);
    void filterChange(TObject* sender);
    // Selects filter box item i and applies its mask to the file list.
    void SelectFilter(int index);

    // The command line's file, when one was given (first showing, step 12).
    std::string CommandLineFile;
    bool HasCommandLineFile = false;

    // The splash window that the first showing closes.
    TForm* Splash = nullptr;

    const TStringList& FilterList() const { return m_filterList; }
    int ListStyle() const { return m_listStyle; }
    int LayoutIndex() const { return m_layoutIndex; }
    // The mask the file list filters by.
    const std::string& FileFilterMask() const { return m_fileFilter; }

    // The folder tree and file list of the "Disk Files" tab.
    void CreateShellTree();
    void CreateShellList();
    void SelectStartFolder(const std::string& folder);
    void ApplyFileFilter(const std::string& mask);
    int FileListCount() const;

private:
    void CreateComponents();
    void CreateMenus();
    void CreateToolBar();
    void CreateFileLists();
    TListView* CreateFileListView(TTabSheet* sheet);
    void FirstShowSteps();
    void RebuildPlaylistMenu(TMenuItem* root, const TStringList& index);

    TStringList m_filterList;
    bool m_filterListCreated = false;
    int m_listStyle = 0;
    int m_layoutIndex = 0;
    std::string m_fileFilter;
};

extern TForm1* Form1;

// The file named on a command line: every double quote removed, then the
// text after the executable's name and one separating character.
std::string FileFromCommandLine(const std::string& rawCommandLine, const std::string& exeName);
