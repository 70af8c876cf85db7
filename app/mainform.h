// The main window: folder tree, the three file lists, the preview area,
// menus, tool bar and status bar.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"
#include "vcl/stdctrls.h"

#include "tools/mainwindow.h"

#include "shell/ptshcontrols.h"

#include "vcl/memo.h"
#include "vcl/richedit.h"
#include "vcl/textview.h"

#include <cstdint>
#include <memory>
#include <string>

class TZURadUvudodEx;
class TImage;
class TScrollBox;
class TArchivePanel;
class TCppWebBrowser;
class TPdfViewerOcx;
class TShockwaveFlash;
class TRealAudio;
class TMediaPlayer;
class TOleContainer;

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
    TMenuItem *Tools1, *Searchfiles1, *Copysearchedfilestonewfolder1, *Asciitable1, *ExtracttextfromPDF1,
        *FileNamemanager1, *ConvertWAVtoMP31, *SaveafileasHEXmode1;
    TMenuItem *Folders1, *Addcurrentfoldertofolderlist1, *EditFolderList1;
    TMenuItem *Help1, *Userguide1, *OnlineHelp1, *Gotothehomepage1, *Emailtome1, *About1;
    TPopupMenu *PopupLayout, *PopupViewType, *PopupPlaylist;
    TMenuItem* menuL[6];
    TMenuItem* menuPP[4];

    TToolBar* ToolBar1;
    TComboBox* filter;
    TToolButton *layout, *up, *searchfiles, *bviewtype, *bnext, *bprev, *bnormal, *bascii, *bhex, *playlist, *stop;
    TStatusBar* StatusBar1;
    TPanel *PanelContent, *PanelLeft, *PanelRight, *PanelRightTop, *pcontent, *PanelBlank;
    TSplitter *Splitter1, *Splitter2, *Splitter3;
    TPTShellTree* tree = nullptr;
    TPageControl* PageControl1;
    TTabSheet *TabSheet1, *TabSheet2, *TabSheet3;
    TToolBar *tbdiskfiles, *ToolBar4, *tbselectedfiles;
    TPTShellList* list = nullptr;
    TListView *slist, *selectedlist;
    TTimer* Timer1;

    // Buttons of the file-list tabs.
    TToolButton *ToolButton44, *ToolButton7, *ToolButton28, *ToolButton29, *ToolButton33, *ToolButton24;
    TToolButton *ToolButton40, *ToolButton27, *ToolButton25, *ToolButton26;
    TToolButton *ToolButton42, *ToolButton8, *ToolButton9, *ToolButton10, *ToolButton31;

    // The text, rich-text, hex and executable-header panels.
    TPanel *PanelRichedit, *PanelRtf, *PanelHex, *PanelPe;
    TToolBar *tbrichedit, *tbrtf, *tbhex, *tbpe;
    TMemo* richedit;
    // The text view of files of kLargeTextBytes and more, read in the
    // background and shown as far as read; it takes richedit's place.
    TTextFileView* textview;
    TRichEdit* RichEditRtf;
    TZURadUvudodEx* hexedit;
    TMemo* RichEditPe;
    TToolButton* utf8;
    TPopupMenu *PopupMenuRichedit, *PopupMenuRtf, *PopupMenuHex;
    TMenuItem *Save1, *SaveAS1, *Font2, *Wrap2, *Find2, *FindAgain2, *SelectAll3;
    TMenuItem *Save3, *SaveAs3, *SelectAll4, *Wrap3;
    TMenuItem *Save4, *SaveAs4, *SaveHex4;
    // The shared save dialog: each command sets what it needs, the rest
    // keeps the previous command's values.
    TFileDialogRequest sd;
    // The find dialog's text.
    std::string FindText;

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

    // The image pane (imagepane.cpp).
    TPanel* PanelImg;
    TToolBar* tbimg;
    TScrollBox* sboximg;
    TImage* img;
    TPopupMenu* PopupMenuImg;
    TMenuItem *ActualSize1, *AutoBestfit1, *SetWallPaper1, *Centered1, *Tiled1, *Streched1, *SaveasaJPEG1,
        *SaveasaBMP1;
    TToolButton *leftrightmirror, *updownmirror, *rotateleft, *rorate, *zoomin, *zoomout, *ToolButton39,
        *ToolButton35, *ToolButton36;
    TEdit* EditPage;
    // Kind of the image shown: 1 GIF, 2 JPEG, 3 BMP, 4 PNG through the
    // stand-alone loader, 5 ICO, 6 WMF/EMF, 8 TIFF with pages, 9 any other
    // format of the image classes.
    int ImageKind = 0;
    // The class library's pixel-format code of the shown bitmap (BMP and
    // JPEG loads).
    std::uint8_t PixelFormatCode = 0;
    int ImageWidth = 0;
    int ImageHeight = 0;
    float ZoomFactor = 1.0f;
    int TiffPage = 0;
    int TiffPageCount = 0;
    int DragStartX = 0;
    int DragStartY = 0;

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
    // Preview dispatch.
    void OpenFilePath(const std::string& path);
    bool SelectDiskListRow(const std::string& path);
    void listSelectItem(TObject* sender, TListItem* item, bool selected);
    void slistSelectItem(TObject* sender, TListItem* item, bool selected);
    void selectedlistSelectItem(TObject* sender, TListItem* item, bool selected);
    void SetViewMode(int mode);
    void bnormalClick(TObject* sender);
    void basciiClick(TObject* sender);
    void bhexClick(TObject* sender);
    void ViewCurrentFile();
    void ViewByExtension();
    void ViewUnknownFile();
    // The preview shows nothing (the blank panel in front) and the status
    // bar says why.
    void ShowNoPreview(const std::string& message);
    // Clears the preview when the current file was deleted or moved away.
    void ForgetVanishedCurrentFile();

    // Viewers.
    void ViewText();
    // The text view's reading ended, or the file changed under it.
    void textviewStateChange(TObject* sender);
    // Empties the large text view, so that the memory of a large file goes
    // when another file is shown.
    void ReleaseLargeText();
    void ViewAscii();
    void ViewRtf();
    void ViewHex();
    // A modified hex buffer is saved or dropped, as the user answers
    // "Save changes to ...?", before anything replaces it; false when the
    // user cancelled or the save failed (the error is shown): the edits and
    // their file stay.
    bool ConfirmHexChanges();
    // After the question was cancelled or the save failed: the edited file
    // is the current file again, shown in hex mode and chosen in the list.
    void KeepHexEdits();
    void ViewPeInfo();
    void ViewHtml();
    void ViewOleDocument();
    // A conversion of the OLE container that failed after it started.
    void OleObjectError(const EOleSysError& error);
    // Ends a conversion of a document other than the one about to be viewed.
    void EndOtherOleConversion();
    void LoadImage(int imageKind, int page, int formatId);
    void ZoomImage(int direction);
    void FindZoomIndex(int direction, float factor);
    void RotateImage(int direction);
    void RotateImageFast(int format, int direction);
    void TransformImageByPixels(int operation);
    void rotateleftClick(TObject* sender);
    void rorateClick(TObject* sender);
    void Rotate1Click(TObject* sender);
    void updownmirrorClick(TObject* sender);
    void leftrightmirrorClick(TObject* sender);
    void zoominClick(TObject* sender);
    void zoomoutClick(TObject* sender);
    void AutoBestfit1Click(TObject* sender);
    void ActualSize1Click(TObject* sender);
    void ToolButton35Click(TObject* sender);
    void ToolButton36Click(TObject* sender);
    void ToolButton39Click(TObject* sender);
    void imgMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
    void imgMouseMove(TObject* sender, TShiftState shift, int x, int y);
    void SaveasaJPEG1Click(TObject* sender);
    void SaveasaBMP1Click(TObject* sender);
    void Centered1Click(TObject* sender);
    void Tiled1Click(TObject* sender);
    void Streched1Click(TObject* sender);
    void ViewPdf();
    void ViewFlash();
    void PlayMedia(const std::string& extension);
    void ViewRealAudio();
    void ViewArchive();
    // The archive panel, made by the first archive shown.
    TArchivePanel* ArchivePanel = nullptr;

    // The web-page, PDF, Flash, RealAudio, media and OLE panels and the
    // players (playerpanels.cpp, players.cpp, pdfpanel.cpp).
    TPanel *Panelbs, *PanelPdf, *PanelPdf2, *PanelFlash, *Panel1;
    TScrollBox *ScrollBoxReal, *ScrollAvi, *sbox;
    TCppWebBrowser* bs;
    TPdfViewerOcx* pv;
    TToolBar* tbpdf;
    TEdit* Edit2;
    TStatusBar* sbpdf;
    TPopupMenu* PopupMenuPdf;
    TToolButton *ToolButton14, *ToolButton15, *ToolButton3, *ToolButton11, *ToolButton12, *ToolButton13,
        *ToolButton16, *ToolButton17, *ToolButton19, *ToolButton23, *ToolButton46, *ToolButton18, *ToolButton20;
    TMenuItem *Rotate2, *Rotate901, *Rotate1801, *Norotate1, *SelectAll2, *Copy2, *Clearselect1,
        *Clearfindresult1, *Print1, *ExtracttextfromPDF2;
    // Made by the first Flash file shown; on Linux making it fails.
    TShockwaveFlash* flash = nullptr;
    TRealAudio* real;
    TMediaPlayer* mp;
    TOleContainer* ole;
    void CreatePlayerPanels();
    void stopClick(TObject* sender);
    void Stopplay1Click(TObject* sender);
    void ShowPdfStatus();
    void ToolButton14Click(TObject* sender);
    void ToolButton15Click(TObject* sender);
    void ToolButton3Click(TObject* sender);
    void ToolButton11Click(TObject* sender);
    void ToolButton12Click(TObject* sender);
    void ToolButton13Click(TObject* sender);
    void ToolButton16Click(TObject* sender);
    void ToolButton17Click(TObject* sender);
    void ToolButton19Click(TObject* sender);
    void ToolButton23Click(TObject* sender);
    void ToolButton46Click(TObject* sender);
    void ToolButton18Click(TObject* sender);
    void ToolButton20Click(TObject* sender);
    void Rotate2Click(TObject* sender);
    void Rotate901Click(TObject* sender);
    void Rotate1801Click(TObject* sender);
    void Norotate1Click(TObject* sender);
    void SelectAll2Click(TObject* sender);
    void Copy2Click(TObject* sender);
    void Clearselect1Click(TObject* sender);
    void Clearfindresult1Click(TObject* sender);
    void Print1Click(TObject* sender);
    // The PDF text window, for a document that may be copied.
    void ExtracttextfromPDF2Click(TObject* sender);
    void ExtracttextfromPDF1Click(TObject* sender);
    // Playlists (playlists.cpp).
    void PlaylistMenuClick(TObject* sender);
    void PlayListEntry(const std::string& path);
    void Timer1Timer(TObject* sender);

    // Text panel.
    void richeditSelectionChange(TObject* sender);
    void utf8Click(TObject* sender);
    void Save1Click(TObject* sender);
    void SaveAS1Click(TObject* sender);
    void Font2Click(TObject* sender);
    void Wrap2Click(TObject* sender);
    void Find2Click(TObject* sender);
    void FindAgain2Click(TObject* sender);
    void FindDialog1Find(TObject* sender);
    void SelectAll3Click(TObject* sender);
    // Rich-text panel.
    void Save3Click(TObject* sender);
    void SaveAs3Click(TObject* sender);
    void SelectAll4Click(TObject* sender);
    void Wrap3Click(TObject* sender);
    // Hex panel.
    void Save4Click(TObject* sender);
    void SaveAs4Click(TObject* sender);
    void SaveafileasHEXmode1Click(TObject* sender);
    // Header report.
    void ToolButton59Click(TObject* sender);
    void ToolButton58Click(TObject* sender);

    // Commands of the main window.
    void bnextClick(TObject* sender);
    void bprevClick(TObject* sender);
    void upClick(TObject* sender);
    void treeChange(TObject* sender);
    void treeClick(TObject* sender);
    void ToolButton7Click(TObject* sender);
    void ToolButton28Click(TObject* sender);
    void ToolButton29Click(TObject* sender);
    void ToolButton33Click(TObject* sender);
    void ToolButton24Click(TObject* sender);
    void FolderListMenuClick(TObject* sender);
    void Addcurrentfoldertofolderlist1Click(TObject* sender);
    void Asciitable1Click(TObject* sender);
    // The file search window (shown, not modal) and the renamer (modal).
    void Searchfiles1Click(TObject* sender);
    void searchfilesClick(TObject* sender);
    void FileNamemanager1Click(TObject* sender);
    void ConvertWAVtoMP31Click(TObject* sender);
    void Userguide1Click(TObject* sender);
    // The shell's "open" on a file or link; a failure is said in the status bar.
    void OpenWithShell(const std::string& target);
    // The same on one of the program's own files, which is said to be missing
    // when it is.
    void OpenProgramFile(const std::string& relative);

    // The path of the "Disk Files" list's selected file, "" when none; and
    // the folder selected in the tree.
    std::string DiskListSelectedPath() const;
    std::string TreeSelectedPath() const;

    void BuildPlaylistMenus() override;
    void BuildFolderListMenu() override;
    TListView& FoundFilesList() override;
    void BeginFoundFilesSearch() override;
    void EndFoundFilesSearch() override;
    std::string CurrentFileName() const override { return CurrentFile; }
    std::string CurrentFolderName() const override { return TreeSelectedPath(); }

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
    void CreateViewerPanels();
    void CreateImagePanel();
    // Lays the image control out at the current zoom factor, centred, with
    // the hand cursor when it overflows the pane.
    void LayoutZoomedImage();
    // Panel 4: the picture's width and height as it stands (after any turn).
    void ShowImageSize();
    void CreateFileListButtons();
    void CreateToolsAndHelpMenus();
    void FileListSelectItem(TListView* view, bool selected);
    void StepFile(int direction);
    // Runs the shared save dialog; true with the chosen path when confirmed.
    bool ExecuteSaveDialog(std::string& chosen);
    // Whether the file the text (or rich-text) view was loaded from may be
    // replaced by the view's contents; asks when the view is not the file
    // exactly as it is on disk, and refuses (saying refusal) when a refusal
    // is given.
    bool MayReplaceWithView(const std::string& target, const std::string& viewFile, bool viewExact,
        const std::string& loss, const char* refusal);
    // Whether Save may write a view over the current file: the view must hold
    // that file, and a view that is not its exact bytes asks first or refuses.
    bool MaySaveView(const std::string& viewFile, bool viewExact, const std::string& viewName, const char* loss,
        const char* refusal);
    // Asks for the target of a view's "Save as", with the same checks when the
    // target is the current file.
    bool ChooseSaveAsTarget(const std::string& viewFile, bool viewExact, const std::string& viewName,
        const char* loss, const char* refusal, std::string& chosen);
    // Why the text view may not be written over its file, nullptr when it may.
    const char* TextViewRefusal() const;
    // What every save and copy command sets: title, filter, filter index 1 and
    // the current file's folder.
    void PrepareSaveDialog(const std::string& title, const std::string& filter);
    std::string TextViewContents() const;
    // Shows one of the two text views in the text panel.
    void ShowLargeTextView(bool large);
    // The large text view holds the whole file, so that it may be saved;
    // otherwise says why not and answers false.
    bool LargeTextComplete(const char* caption);
    // Views a file of kLargeTextBytes or more in the large text view.
    void ViewLargeText();
    TListView* CreateFileListView(TTabSheet* sheet);
    void FirstShowSteps();
    void RebuildPlaylistMenu(TMenuItem* root, const TStringList& index);
    // The stop button and the Music menu's "Stop play".
    void SetStopControls(bool enabled);

    TStringList m_filterList;
    bool m_filterListCreated = false;
    int m_listStyle = 0;
    int m_layoutIndex = 0;
    std::string m_fileFilter;

    // What the text view holds: the file it was loaded from, whether the
    // view shows that file's bytes exactly, and its line break.
    std::string m_textFile;
    bool m_textExact = false;
    // Some bytes of the file are shown as stand-in characters.
    bool m_textStandIns = false;
    std::string m_textLineBreak = "\r\n";
    bool m_textFinalBreak = true;
    // The text is in the large text view.
    bool m_textLarge = false;
    // What the rich-text view holds, and whether saving would drop parts of
    // the file (pictures, objects, fields) or turn plain text into RTF.
    std::string m_rtfFile;
    bool m_rtfExact = false;
};

extern TForm1* Form1;

// The file named on a command line: every double quote removed, then the
// text after the executable's name and one separating character.
std::string FileFromCommandLine(const std::string& rawCommandLine, const std::string& exeName);
