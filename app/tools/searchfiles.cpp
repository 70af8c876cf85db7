#include "searchfiles.h"

#include "commonfunc.h"
#include "mainwindow.h"
#include "place.h"

#include "rtl/bytesearch.h"
#include "rtl/clock.h"
#include "rtl/findfile.h"
#include "rtl/streams.h"
#include "shell/shellapi.h"
#include "win/fileops.h"
#include "vcl/customlistview.h"

#include <algorithm>

TfrmSearchFiles* frmSearchFiles = nullptr;
bool SearchStopped = true;

namespace {

// Content is read in blocks of this size; each block after the first
// starts keyword length - 1 bytes before the end of the one before, so a
// keyword that straddles two blocks is seen whole.
constexpr std::int64_t kBlockSize = 1 << 20;

// Folds ASCII letters only: folding the bytes of UTF-8 text one by one
// would turn parts of characters into other bytes.
std::string FoldAscii(std::string_view text)
{
    std::string out(text);
    FoldAsciiCase(out.data(), out.size());
    return out;
}

bool Occurs(std::string_view haystack, const std::string& keyword, bool caseSensitive)
{
    if (caseSensitive)
        return haystack.find(keyword) != std::string_view::npos;
    return FoldAscii(haystack).find(FoldAscii(keyword)) != std::string::npos;
}

// Whether the keywords of the search pass under its logic, each tested by
// the test given: AND stops at the first keyword missing, OR at the first
// found. Empty keyword slots take no part.
template <typename Test> bool KeywordsPass(const SearchInfo& info, Test test)
{
    const bool all = info.Logic == 0;
    for (const std::string& k : info.Keywords) {
        if (k.empty())
            continue;
        if (test(k) != all)
            return !all;
    }
    return all;
}

} // namespace

bool PassesTypeTest(const SearchInfo& info, std::string_view fileName)
{
    std::string ext = LowerCase(ExtractFileExt(std::string(fileName)));
    if (ext.size() > 1)
        ext.erase(0, 1);
    if (ext.empty())
        return false;
    return std::find(info.FileTypes.begin(), info.FileTypes.end(), ext) != info.FileTypes.end();
}

bool PassesNameTest(const SearchInfo& info, std::string_view fileName)
{
    return KeywordsPass(info, [&](const std::string& k) { return Occurs(fileName, k, info.CaseSensitive); });
}

TfrmSearchFiles::TfrmSearchFiles(TComponent* owner) : TForm(owner)
{
    frmSearchFiles = this;
    SetName("frmSearchFiles");
    SetCaption("Search Files");
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetFormStyle(TFormStyle::fsStayOnTop);
    Position = TPosition::poMainFormCenter;
    SetClientSize(560, 400);

    LabelPath = Place<TLabel>(this, this, 8, 12, 80, 16, "Search Path:");
    SearchPathEdit = Place<TEdit>(this, this, 90, 8, 420, 22, "", "SearchPathEdit");
    SearchPathEdit->SetText("/");
    Button3 = Place<TButton>(this, this, 516, 7, 36, 24, "...", "Button3");
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };
    cbSub = Place<TCheckBox>(this, this, 90, 36, 200, 20, "Include subdirectory", "cbSub");
    cbSub->SetChecked(true);

    for (int i = 0; i < 5; ++i) {
        const int top = 64 + 26 * i;
        Place<TLabel>(this, this, 8, top + 4, 110, 16, "Search Keyword " + IntToStr(i + 1));
        sk[static_cast<size_t>(i)] = Place<TEdit>(this, this, 120, top, 200, 22, "", "sk" + IntToStr(i + 1));
    }
    andor = Place<TRadioGroup>(this, this, 332, 60, 220, 70, "Logic relation among the keywords", "andor");
    andor->AddItem("AND");
    andor->AddItem("OR");
    andor->SetItemIndex(0);
    cbName = Place<TCheckBox>(this, this, 332, 136, 220, 20, "Find in File Name ", "cbName");
    cbName->SetChecked(true);
    cbBody = Place<TCheckBox>(this, this, 332, 158, 220, 20, "Find in file body", "cbBody");
    cbCaseSensitive = Place<TCheckBox>(this, this, 332, 180, 220, 20, "Case sensitive", "cbCaseSensitive");

    auto* types = Place<TLabel>(this, this, 8, 204, 544, 32,
        "You can give at most 5 file types (e.g. : txt htm)  If you do not give any file type ,search all .");
    types->SetWordWrap(true);
    for (int i = 0; i < 5; ++i)
        ft[static_cast<size_t>(i)] = Place<TEdit>(this, this, 8 + 62 * i, 240, 56, 22, "", "ft" + IntToStr(i + 1));

    Button1 = Place<TButton>(this, this, 380, 238, 80, 26, "Search", "Button1");
    Button1->SetDefault(true);
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Button4 = Place<TButton>(this, this, 468, 238, 80, 26, "Close", "Button4");
    Button4->OnClick = [this](TObject* s) { Button4Click(s); };
    // Escape closes the window, as its Close button does.
    Button4->Cancel = true;

    Label1 = Place<TLabel>(this, this, 8, 276, 544, 16, "", "Label1");
    Label1->SetShowAccelChar(false);
    Panel1 = Place<TPanel>(this, this, 8, 298, 544, 94, "", "Panel1");
    Panel1->SetBevelOuter(TBevelCut::bvLowered);
    Label3 = Place<TLabel>(this, Panel1, 4, 4, 536, 86, "", "Label3");
    Label3->SetShowAccelChar(false);

    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    DoCreate();
}

TfrmSearchFiles::~TfrmSearchFiles()
{
    SearchStopped = true;
    if (frmSearchFiles == this)
        frmSearchFiles = nullptr;
}

void TfrmSearchFiles::FormCreate(TObject*)
{
    SearchStopped = true;
    Label3->SetWidth(1024);
    Label1->SetCaption("");
    Label3->SetCaption("");
}

// Closing the window in any way stops a running search.
void TfrmSearchFiles::FormClose(TObject*, TCloseAction&) { SearchStopped = true; }

void TfrmSearchFiles::Button4Click(TObject*)
{
    SearchStopped = true;
    Close();
}

void TfrmSearchFiles::Button3Click(TObject*)
{
    std::string folder;
    if (!SelectDirectory("Select Path to search", "", folder))
        return;
    SearchPathEdit->SetText(IncludeTrailingPathDelimiter(folder));
}

SearchInfo TfrmSearchFiles::BuildSearchInfo() const
{
    SearchInfo info;
    info.FindInName = cbName->Checked();
    info.FindInBody = cbBody->Checked();
    info.CaseSensitive = cbCaseSensitive->Checked();
    info.Logic = andor->ItemIndex() == 1 ? 1 : 0;
    for (size_t i = 0; i < 5; ++i) {
        info.Keywords[i] = Trim(sk[i]->Text());
        info.FileTypes[i] = LowerCase(Trim(ft[i]->Text()));
        info.NoKeywords = info.NoKeywords && info.Keywords[i].empty();
        info.NoFileTypes = info.NoFileTypes && info.FileTypes[i].empty();
    }
    return info;
}

void TfrmSearchFiles::Button1Click(TObject*)
{
    // A click while a walk runs stops it. That holds also between "Stop" and
    // the walk's end at its next entry (the caption already reads "Search"
    // then): a second search started inside the first one's pump would free
    // the buffer and the lists the first one goes on to use.
    if (m_searching || Button1->Caption() == "Stop") {
        SearchStopped = true;
        Button1->SetCaption("Search");
        return;
    }
    if (!MainWindowServices)
        return;
    TListView& list = MainWindowServices->FoundFilesList();
    // The rows show the icons of the system image lists.
    if (auto* view = dynamic_cast<TCustomListView*>(&list)) {
        SHFILEINFOA info {};
        view->SmallImages = reinterpret_cast<void*>(
            SHGetFileInfoA("/", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
        view->LargeImages = reinterpret_cast<void*>(SHGetFileInfoA("/", 0, &info, sizeof info, SHGFI_SYSICONINDEX));
    }
    const SearchInfo info = BuildSearchInfo();
    if (!info.NoKeywords && !info.FindInName && !info.FindInBody) {
        ShowMessage("\"Find in file name\" and \"Find in file body\" must be at least one checked!");
        return;
    }
    // The root stands for the system's "C:\" and for an empty path.
    std::string path = SearchPathEdit->Text();
    if (path.empty() || path == "C:\\")
        path = "/";
    path = IncludeTrailingPathDelimiter(path);

    MainWindowServices->BeginFoundFilesSearch();
    list.Items().Clear();
    SearchStopped = false;
    m_searchBuffer.resize(static_cast<size_t>(kBlockSize));
    m_pseudo = std::make_unique<TPseudoFileSystemTest>();
    m_currentFile.Done = false;
    m_list = &list;
    m_rowsHeld = false;
    m_rows.Done = false;
    m_searching = true;
    Button1->SetCaption("Stop");
    Label1->SetCaption("Searching...");

    // Whatever ends the walk, the window and the main window return to
    // their idle state.
    struct Idle {
        TfrmSearchFiles* form;
        TListView& list;
        ~Idle()
        {
            form->Label1->SetCaption("Searching...End.");
            form->Label3->SetCaption("Total " + IntToStr(list.Items().Count()) + " files found.");
            std::vector<char>().swap(form->m_searchBuffer);
            form->m_pseudo.reset();
            form->ReleaseRows(true);
            form->m_list = nullptr;
            list.Repaint();
            if (MainWindowServices)
                MainWindowServices->EndFoundFilesSearch();
            SearchStopped = true;
            form->Button1->SetCaption("Search");
            form->m_searching = false;
        }
    } idle {this, list};
    if (!m_pseudo->Holds(path))
        SearchFolder(path, cbSub->Checked(), list, info);
}

void TfrmSearchFiles::Pump()
{
    if (!m_pumps.Due())
        return;
    ReleaseRows(false);
    if (Application)
        Application->ProcessMessages();
}

bool TfrmSearchFiles::PumpAndCheckStop()
{
    Pump();
    // Closing the main window ends the program: the walk stops first.
    if (Application && Application->Terminated())
        SearchStopped = true;
    return SearchStopped;
}

bool TfrmSearchFiles::TEvery::Due()
{
    const std::uint64_t now = CurrentClock().NowMs();
    if (Done && now - At < IntervalMs)
        return false;
    Done = true;
    At = now;
    return true;
}

// The walk sees thousands of files a second: drawing each name would cost
// more than looking at the file.
void TfrmSearchFiles::ShowCurrentFile(const std::string& path)
{
    if (m_currentFile.Due())
        Label3->SetCaption(path);
}

void TfrmSearchFiles::AddRow(const std::string& path, TListView& list, const TSearchRec& entry)
{
    if (!m_rowsHeld && !m_rows.Due()) {
        list.SetRedraw(false);
        m_rowsHeld = true;
    }
    AddFoundFile(path, list, entry.Size(), DateTimeToStr(entry.TimeStamp()));
}

void TfrmSearchFiles::ReleaseRows(bool now)
{
    if (m_rowsHeld && m_list && (now || m_rows.Due())) {
        m_list->SetRedraw(true);
        m_rowsHeld = false;
    }
}

void TfrmSearchFiles::SearchFolder(const std::string& path, bool includeSubfolders, TListView& list,
    const SearchInfo& info)
{
    TSearchRec sr;
    if (FindFirst(path + "*.*", faAnyFile, sr) != 0)
        return;
    do {
        if (PumpAndCheckStop())
            break;
        if (sr.Name == "." || sr.Name == "..")
            continue;
        if (sr.Attr & faDirectory) {
            // A link to a folder is not followed: every real folder is
            // walked once, from its own place, and link loops end. Nor does
            // the walk enter the kernel's pseudo file systems.
            const std::string folder = path + sr.Name + "/";
            if (includeSubfolders && !(sr.Attr & faSymLink) && !m_pseudo->Holds(folder))
                SearchFolder(folder, includeSubfolders, list, info);
            continue;
        }
        if (!info.NoFileTypes && !PassesTypeTest(info, sr.Name))
            continue;
        const std::string full = path + sr.Name;
        ShowCurrentFile(full);
        if (info.NoKeywords || PassesKeywordTests(info, full, sr.Name))
            AddRow(full, list, sr);
    } while (FindNext(sr) == 0);
    FindClose(sr);
}

bool TfrmSearchFiles::PassesKeywordTests(const SearchInfo& info, const std::string& path, const std::string& name)
{
    // The name first: a name that passes costs no reading of the file.
    if (info.FindInName && PassesNameTest(info, name))
        return true;
    if (!info.FindInBody)
        return false;
    try {
        return KeywordsPass(info, [&](const std::string& k) {
            return FileContains(path, k.c_str(), static_cast<int>(k.size()), info.CaseSensitive);
        });
    } catch (const std::exception&) {
        return false;
    }
}

bool TfrmSearchFiles::FileContains(const std::string& path, const char* keyword, int length, bool caseSensitive)
{
    if (length <= 0)
        return false;
    if (m_searchBuffer.size() < static_cast<size_t>(kBlockSize))
        m_searchBuffer.resize(static_cast<size_t>(kBlockSize));
    // Regular files only: a pipe would block the program and a device such
    // as /dev/zero never ends.
    const int handle = OpenRegularFile(path);
    if (handle < 0)
        return false;
    const std::string word = caseSensitive ? std::string(keyword, static_cast<size_t>(length))
                                           : FoldAscii(std::string_view(keyword, static_cast<size_t>(length)));
    char* block = m_searchBuffer.data();
    bool found = false;
    for (bool first = true;; first = false) {
        Pump();
        if (!first && FileSeek(handle, -(length - 1), soCurrent) < 0)
            break;
        const std::int64_t got = FileRead(handle, block, kBlockSize);
        if (got < length)
            break;
        if (!caseSensitive)
            FoldAsciiCase(block, static_cast<size_t>(got));
        // The keyword holds no zero byte, so no match can span one.
        if (FindBytes(std::string_view(block, static_cast<size_t>(got)), word) != std::string_view::npos) {
            found = true;
            break;
        }
        if (got < kBlockSize)
            break;
    }
    FileClose(handle);
    return found;
}

void TfrmSearchFiles::AddFoundFile(const std::string& path, TListView& list, std::int64_t size,
    const std::string& timeText)
{
    AddFileRow(list, path, size, timeText);
}
