#include "archivepanel.h"

#include "extractdialogs.h"
#include "mainform.h"

#include "archive/zadhooks.h"
#include "archive/zadungzip.h"
#include "archive/zaduntar.h"
#include "archive/zadunarc.h"
#include "archive/zadunarj.h"
#include "archive/zadunbh.h"
#include "archive/zadunlha.h"
#include "archive/zadunzoo.h"
#include "archive/zaduncab.h"
#include "archive/zadunrar.h"
#include "archive/zadunzip.h"
#include "archive/zaduudecode.h"
#include "archive/zadgbls.h"
#include "archive/zadvirov.h"
#include "shell/shellapi.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

const char* const kCabSelectionWarning =
    "If extracting more than a single file... because of CABs continuous compressed stream method, it is much faster "
    "to decompress all files from the archive and then delete from disk those you do not wish to keep.  For more "
    "info on CAB files, see the documentation on TUnCAB.\nCancel operation?";

std::string Hex8(std::uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

// "mm/dd/yy hh:mm am", every field two digits (the date separator of the
// desktop is '/').
std::string FormatEntryDate(TDateTime d)
{
    int y, mo, day, h, mi, s, ms;
    DecodeDate(d, y, mo, day);
    DecodeTime(d, h, mi, s, ms);
    const char* half = h < 12 ? "am" : "pm";
    const int h12 = h % 12 == 0 ? 12 : h % 12;
    char b[40];
    std::snprintf(b, sizeof b, "%02d/%02d/%02d %02d:%02d %s", mo, day, y % 100, h12, mi, half);
    return b;
}

int Sign(long double v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Case-insensitive comparison of ASCII letters, as the class library's
// CompareText does.
int CompareText(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca - cb;
    }
    return static_cast<int>(a.size()) - static_cast<int>(b.size());
}

}  // namespace

TArchivePanel::TArchivePanel(TForm1* form, TWinControl* parent) : TComponent(form), m_form(form)
{
    SetName("ArchivePanel");
    PanelZip = new TPanel(form);
    PanelZip->SetName("PanelZip");
    PanelZip->SetBevelOuter(TBevelCut::bvNone);
    PanelZip->SetAlign(alClient);
    // Opaque, so that the panels stacked beneath never show through its tool bar.
    PanelZip->SetColor(clBtnFace);
    PanelZip->SetParent(parent);

    tbzip = new TToolBar(form);
    tbzip->SetName("tbzip");
    tbzip->SetParent(PanelZip);
    bextract = new TToolButton(form);
    bextract->SetName("bextract");
    bextract->SetCaption("Extract");
    bextract->SetHint("Extract...");
    bextract->OnClick = [this](TObject* s) { bextractClick(s); };
    bextract->SetParent(tbzip);

    Panel3 = new TPanel(form);
    Panel3->SetName("Panel3");
    Panel3->SetAlign(alTop);
    Panel3->SetHeight(24);
    Panel3->SetParent(PanelZip);
    Panel3->SetVisible(false);
    Panel3Label = new TLabel(form);
    Panel3Label->SetCaption("Extracting...");
    Panel3Label->SetBounds(6, 4, 90, 16);
    Panel3Label->SetParent(Panel3);
    ProgressBar2 = new TProgressBar(form);
    ProgressBar2->SetName("ProgressBar2");
    ProgressBar2->SetRange(0, 100);
    ProgressBar2->SetBounds(100, 4, 300, 16);
    ProgressBar2->SetParent(Panel3);

    popmenuZip = new TPopupMenu(form);
    popmenuZip->SetName("popmenuZip");
    popmenuZip->Items()->Add(NewItem(form, "Extract...", [this](TObject* s) { bextractClick(s); }));

    ListView1 = new TListView(form);
    ListView1->SetName("ListView1");
    ListView1->SetViewStyle(TViewStyle::vsReport);
    ListView1->SetRowSelect(true);
    ListView1->SetHideSelection(false);
    ListView1->SetMultiSelect(false);
    ListView1->PopupMenu = popmenuZip;
    ListView1->SetAlign(alClient);
    ListView1->SetParent(PanelZip);
    // The widths were made for a narrower font: each column holds at least
    // what it usually shows (sizes and offsets of a gigabyte, the date and
    // time of two-digit fields, the attributes of an entry made on Unix).
    const std::string date = FormatEntryDate(EncodeDate(2026, 12, 31) + EncodeTime(12, 59, 0, 0));
    const struct {
        const char* caption;
        int width;
        std::string usual;
        bool right;
    } columns[] = {{"Filename", 120, "", false}, {"File Type", 120, "", false}, {"Packed", 75, "1073741824", true},
        {"Unpacked", 75, "1073741824", true}, {"Ratio", 70, "100%", false}, {"Folder", 150, "", false},
        {"Date / Time", 100, date, false}, {"Attr", 60, "-rw-r--r-- (2175008768)", false},
        {"CRC", 90, "DDDDDDDD", false}, {"File Offset", 80, "1073741824", true}, {"Encrypted", 60, "Yes", false},
        {"File Comment", 120, "", false}, {"Method", 90, "Deflate64", false}};
    for (const auto& c : columns)
        ListView1->AddDesignedColumn(c.caption, c.width, c.usual, c.right);
    ListView1->OnColumnClick = [this](TObject* s, int c) { ListView1ColumnClick(s, c); };

    VirOV1 = new TVirOV(this);
    VirOV1->FileSpec.Add("*.*");
    VirOV1->RecurseDirs = true;
    VirOV1->SeedHeaderKeys.SetKeys(418207395u, 47120936u, 730154862u);
    VirOV1->OnRead = [this](TObject* s, std::int64_t o, int n) { VirOV1Read(s, o, n); };
    // A ZIP without its central directory is read from its local headers;
    // the library's reports end up, summed up, in the status bar.
    const auto walkDamaged = [this](TObject*, THeaderTypeState, bool& cancel) {
        m_report.corruptHeader = true;
        cancel = false;
    };
    const auto noteError = [this](TObject*, const std::string& f, const std::string& ext, const std::string&, int code) {
        NoteError(f, ext, code);
    };
    VirOV1->OnCorruptZipHeader = walkDamaged;
    VirOV1->OnError = noteError;

    UnZip1 = new TUnZip(this);
    UnJar1 = new TUnJar(this);
    UnGZip1 = new TUnGZip(this);
    // A .tgz extracts to its .tar: the user opens that to see its entries.
    UnGZip1->OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = false; };
    UnTar1 = new TUnTar(this);
    UUDecode1 = new TUUDecode(this);
    UUDecode1->Algorithm = uudecode;
    UnArc1 = new TUnArc(this);
    UnARJ1 = new TUnARJ(this);
    UnCab1 = new TUnCab(this);
    UnRar1 = new TUnRar(this);
    UnBh1 = new TUnBh(this);
    UnLha1 = new TUnLha(this);
    UnZoo1 = new TUnZoo(this);
    for (TCustomDClass* x : {static_cast<TCustomDClass*>(UnZip1), static_cast<TCustomDClass*>(UnJar1),
             static_cast<TCustomDClass*>(UnGZip1), static_cast<TCustomDClass*>(UnTar1),
             static_cast<TCustomDClass*>(UUDecode1), static_cast<TCustomDClass*>(UnArc1),
             static_cast<TCustomDClass*>(UnARJ1), static_cast<TCustomDClass*>(UnCab1),
             static_cast<TCustomDClass*>(UnRar1), static_cast<TCustomDClass*>(UnBh1),
             static_cast<TCustomDClass*>(UnLha1), static_cast<TCustomDClass*>(UnZoo1)}) {
        x->CpuType = cptAuto;
        x->OnBegin = [this](TObject* s, const std::string& f, int c, bool& e) { UnZIP1Begin(s, f, c, e); };
        x->OnEnd = [this](TObject* s, const std::string& f, bool p) { UnZIP1End(s, f, p); };
        x->OnFileExists = [this](TObject* s, const std::string& f, std::string& n, TOverwriteMode& m) {
            UnZIP1FileExists(s, f, n, m);
        };
        x->OnProgress = [this](TObject* s, BYTE f, BYTE a) { UnZIP1Progress(s, f, a); };
        x->OnError = noteError;
    }
    for (TCustomDClass* x : {static_cast<TCustomDClass*>(UnZip1), static_cast<TCustomDClass*>(UnJar1),
             static_cast<TCustomDClass*>(UnARJ1), static_cast<TCustomDClass*>(UnRar1),
             static_cast<TCustomDClass*>(UnBh1)}) {
        x->OnGetPassword = [this](TObject* s, const std::string& f, std::string& p, TSeedKeyRecord&, TSeedKeyRecord&,
                               bool& again) { UnZIP1GetPassword(s, f, p, again); };
    }
    for (TUnZip* z : {UnZip1, static_cast<TUnZip*>(UnJar1)}) {
        z->SeedHeaderKeys.SetKeys(418207395u, 47120936u, 730154862u);
        z->SeedDataKeys.SetKeys(0x12345678u, 0x23456789u, 0x34567890u);
        z->OnCorruptZipHeader = walkDamaged;
    }
    UnBh1->SeedDataKeys.SetKeys(0x12345678u, 0x23456789u, 0x34567890u);

    frmExtract = new TfrmExtract(form);
    frmExtract->SourceList = ListView1;
    frmOverwrite = new TfrmOverwrite(form);
    RunModal = [](TForm* f) { return f->ShowModal(); };

    InstallArchiveLibraryHooks();
}

void InstallArchiveLibraryHooks()
{
    // The library pumps the message queue between blocks, so the window
    // repaints and Cancel reaches it during an extraction.
    ProcessMessagesHook = [] {
        if (Application)
            Application->ProcessMessages();
    };
    ConfirmHook = [](const std::string& caption, const std::string& text) {
        return Application && Application->MessageBox(text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    RetryHook = [](const std::string& caption, const std::string& text) {
        return Application && Application->MessageBox(text, caption, MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
    };
    // Entry names need not exist on disk: the type comes from the name alone.
    FileTypeNameHook = [](const std::string& fileName) {
        SHFILEINFOA info {};
        if (!SHGetFileInfoA(fileName.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME))
            return std::string();
        return std::string(info.szTypeName);
    };
}

TArchivePanel::~TArchivePanel() = default;

const TArchivePanel::RowInfo* TArchivePanel::InfoOf(TListItem* item) const
{
    const auto i = reinterpret_cast<std::uintptr_t>(item->Data);
    return i >= 1 && i <= m_rows.size() ? &m_rows[i - 1] : nullptr;
}

void TArchivePanel::ListArchive(const std::string& path)
{
    if (m_busy)
        return;
    ListView1->Items().BeginUpdate();
    try {
        ListView1->Items().Clear();
        m_rows.clear();
        m_report = {};
        VirOV1->SetArchiveFile(path);
        VirOV1->Filename = path;
        VirOV1->Activate();
        if (VirOV1->ArcType == atUUE)
            DecodeUUArchive();
    } catch (...) {
    }
    m_statusText = DescribeListing(ListView1->Items().Count());
    ListView1->Items().EndUpdate();
    // The focus stays where the file was chosen, so Up and Down go on
    // walking through the files.
    bextract->SetEnabled(true);
}

void TArchivePanel::VirOV1Read(TObject*, std::int64_t offset, int)
{
    const std::string& name = VirOV1->Filename;
    const size_t p = name.find_last_of("/\\:");
    const std::string base = p == std::string::npos ? name : name.substr(p + 1);
    const std::string folder = p == std::string::npos ? std::string() : name.substr(0, p + 1);
    TListItem* row = ListView1->Items().Add();
    row->SetCaption(base);
    TStringList& s = row->SubItemsForUpdate();
    s.Add(VirOV1->_GetFileType(name));
    s.Add(IntToStr(VirOV1->PackedSize));
    s.Add(IntToStr(VirOV1->UnpackedSize));
    s.Add(IntToStr(VirOV1->Ratio) + "%");
    s.Add(folder);
    s.Add(FormatEntryDate(VirOV1->FileDate));
    s.Add(VirOV1->FileAttrToString(VirOV1->ExternalAttr, '_') + " (" + IntToStr(VirOV1->ExternalAttr) + ")");
    s.Add(Hex8(VirOV1->Crc));
    s.Add(IntToStr(offset));
    s.Add(VirOV1->Encrypted ? "Yes" : "No");
    s.Add(VirOV1->FileComment ? std::string(VirOV1->FileComment) : std::string());
    s.Add(VirOV1->CompressMethodStr);
    m_rows.push_back(RowInfo{offset, VirOV1->PackedSize, VirOV1->UnpackedSize, VirOV1->Ratio, VirOV1->FileDate});
    row->Data = reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_rows.size()));
}

void TArchivePanel::ListView1ColumnClick(TObject*, int column)
{
    if (column == SortColumn) {
        SortAscending = !SortAscending;
    } else {
        SortColumn = column;
        SortAscending = true;
    }
    ListView1->Items().CustomSort([this](TListItem* a, TListItem* b) { return ArchiveListCompare(a, b); });
}

int TArchivePanel::ArchiveListCompare(TListItem* a, TListItem* b) const
{
    auto text = [this](TListItem* i) -> std::string {
        if (SortColumn == 0)
            return i->Caption();
        const int k = SortColumn - 1;
        return k < i->SubItems().Count() ? i->SubItems()[k] : std::string();
    };
    int r = 0;
    const RowInfo* ia = InfoOf(a);
    const RowInfo* ib = InfoOf(b);
    switch (SortColumn) {
    case 2:
    case 3:
    case 4:
    case 6:
    case 9:
        // Numbers and dates compare as the values the row was made from,
        // whatever their size and whatever the locale's date format.
        if (ia && ib) {
            switch (SortColumn) {
            case 2: r = Sign(static_cast<long double>(ia->packed) - ib->packed); break;
            case 3: r = Sign(static_cast<long double>(ia->unpacked) - ib->unpacked); break;
            case 4: r = Sign(ia->ratio - ib->ratio); break;
            case 6: r = Sign(ia->date - ib->date); break;
            default: r = Sign(static_cast<long double>(ia->offset) - ib->offset); break;
            }
        }
        break;
    case 7: r = 0; break;  // attribute texts hold letters: every pair is equal
    default: r = CompareText(text(a), text(b)); break;
    }
    return SortAscending ? r : -r;
}

TCustomDClass* TArchivePanel::ExtractorFor(TArcType type)
{
    switch (type) {
    case atGZip: return UnGZip1;
    case atJar: return UnJar1;
    case atTar: return UnTar1;
    case atUUE: return UUDecode1;
    case atZip:
    case atZipExe: UnZip1->SetZipCmntBufSize(VirOV1->ZipCmntBufSize); return UnZip1;
    case atArc:
    case atArcExe: return UnArc1;
    case atArj:
    case atArjExe: return UnARJ1;
    case atCab: return UnCab1;
    case atRar:
    case atRarExe: return UnRar1;
    case atBh:
    case atBhExe: return UnBh1;
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe: return UnLha1;
    case atZoo: return UnZoo1;
    default: return nullptr;
    }
}

void TArchivePanel::DecodeUUArchive()
{
    const std::string entry = VirOV1->Filename;
    if (entry.empty() || VirOV1->IsArchiveExt(ExtractFileExt(entry)) == -1)
        return;
    if (Application->Prompts().MessageBox("Decode archive to a temp folder and open it?", Application->Title(),
            MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    Panel3->SetVisible(true);
    if (Screen)
        Screen->SetCursor(TCursor::crHourGlass);
    m_busy = true;
    try {
        UUDecode1->SetArchiveFile(VirOV1->ArchiveFile());
        UUDecode1->SetExtractDir(GetTempPathStr());
        UUDecode1->FileSpec.Clear();
        UUDecode1->FileSpec.Add("*.*");
        m_failed.clear();
        m_entryReason.clear();
        const int decoded = UUDecode1->Extract();
        ReportFailedEntries();
        if (decoded > 0 && FileExists(UUDecode1->Filename)) {
            // The decoded archive's rows go below the encoded entry's.
            VirOV1->SetArchiveFile(UUDecode1->Filename);
            VirOV1->Filename = UUDecode1->Filename;
            VirOV1->Activate();
        }
    } catch (...) {
    }
    m_busy = false;
    Panel3->SetVisible(false);
    if (Screen)
        Screen->SetCursor(TCursor::crDefault);
}

std::vector<std::string> TArchivePanel::SelectedMasks() const
{
    std::vector<std::string> masks;
    for (int i = 0; i < ListView1->Items().Count(); ++i) {
        TListItem* row = ListView1->Items()[i];
        if (!row->Selected())
            continue;
        const std::string folder = row->SubItems().Count() > 4 ? row->SubItems()[4] : std::string();
        // The folder text already ends with its separator.
        masks.push_back(folder + row->Caption());
    }
    return masks;
}

void TArchivePanel::bextractClick(TObject*)
{
    if (m_busy || VirOV1->ArchiveFile().empty())
        return;
    if (!ActiveExtractor)
        frmExtract->DirectoryListBox1->SetDirectory(ExtractFilePath(VirOV1->ArchiveFile()));
    frmExtract->RadioGroup1->SetItemIndex(ListView1->SelCount() == 0 ? 1 : 0);
    frmExtract->FormActivate(frmExtract);
    if (RunModal(frmExtract) != mrOk)
        return;
    const bool selected = frmExtract->RadioGroup1->ItemIndex() == 0;
    if (selected && ListView1->SelCount() == 0)
        return;
    TCustomDClass* x = ExtractorFor(VirOV1->ArcType);
    if (!x) {
        Application->Prompts().MessageBox("Extract not supported for this filetype", Application->Title(), MB_OK);
        return;
    }
    ActiveExtractor = x;
    x->SetArchiveFile(VirOV1->ArchiveFile());
    x->SetExtractDir(frmExtract->Edit1->Text());
    x->UseStoredDirs = frmExtract->CheckBox1->Checked();
    const int date = frmExtract->ComboBox1->ItemIndex();
    x->DateAttribute = date == 1 ? daSysDate : (date == 2 ? daMaxFileDate : daFileDate);
    x->ConfirmOverwrites = frmExtract->CheckBox2->Checked();
    if (!x->ConfirmOverwrites)
        x->OverwriteMode = omOverwrite;
    Panel3->SetVisible(true);
    if (Screen)
        Screen->SetCursor(TCursor::crHourGlass);
    m_failed.clear();
    m_entryReason.clear();
    m_report = {};
    int extracted = 0;
    m_busy = true;
    // A cabinet's files share one compressed stream: picking some of them
    // decodes the stream up to each anyway. Yes ends the command.
    const bool declined = selected && VirOV1->ArcType == atCab &&
                          Application->Prompts().MessageBox(kCabSelectionWarning, Application->Title(),
                                                            MB_YESNO | MB_ICONWARNING) == IDYES;
    try {
        x->FileSpec.Clear();
        if (selected) {
            for (const std::string& m : SelectedMasks())
                x->FileSpec.Add(m);
        } else {
            x->FileSpec.Assign(VirOV1->FileSpec);
        }
        if (!declined)
            extracted = x->Extract();
    } catch (...) {
    }
    ReportFailedEntries();
    m_statusText = DescribeExtraction(extracted);
    m_busy = false;
    Panel3->SetVisible(false);
    if (Screen)
        Screen->SetCursor(TCursor::crDefault);
    m_form->SelectStartFolder(frmExtract->Edit1->Text());
    m_form->SetStatusPanel(3, m_statusText);
}

void TArchivePanel::NoteError(const std::string& fileName, const std::string& extendedMsg, int code)
{
    m_entryReason = LoadResString(code);
    if (m_report.errors++ > 0)
        return;
    m_report.firstCode = code;
    m_report.firstFile = fileName;
    m_report.firstText = LoadResString(code);
    // The extended message of a password report is the password itself.
    if (!extendedMsg.empty() && code != 26517)
        m_report.firstText += ": " + extendedMsg;
}

std::string TArchivePanel::DescribeListing(int rows) const
{
    if (m_report.firstCode == E_UNSUPPORTEDTYPE)
        return m_report.firstText;
    if (m_report.errors == 0 && !m_report.corruptHeader)
        return {};
    const bool ofArchive = m_report.firstFile == VirOV1->ArchiveFile();
    const std::string why = m_report.corruptHeader ? std::string("its central directory is missing")
                            : ofArchive           ? m_report.firstText
                                                  : ExtractFileName(m_report.firstFile) + ": " + m_report.firstText;
    return "The archive is damaged (" + why + "); " + IntToStr(rows) + (rows == 1 ? " entry" : " entries") + " found";
}

std::string TArchivePanel::DescribeExtraction(int extracted) const
{
    if (m_report.errors == 0)
        return {};
    if (m_report.firstCode == E_UNSUPPORTEDTYPE)
        return m_report.firstText;
    std::string text = IntToStr(extracted) + (extracted == 1 ? " entry" : " entries") + " extracted; ";
    if (ActiveExtractor && m_report.firstFile != ActiveExtractor->ArchiveFile())
        text += ExtractFileName(m_report.firstFile) + ": ";
    text += m_report.firstText;
    if (m_report.errors > 1)
        text += "; " + IntToStr(m_report.errors - 1) + " more problem" + (m_report.errors > 2 ? "s" : "");
    return text;
}

void TArchivePanel::UnZIP1Begin(TObject*, const std::string&, int, bool&) {}

void TArchivePanel::UnZIP1End(TObject*, const std::string& fileName, bool crcPass)
{
    if (!crcPass) {
        // An entry the library fails without a word of its own (a password
        // known to be wrong is not asked for again) fails for the reason the
        // entry before it failed for.
        const std::string reason = !m_entryReason.empty() || m_failed.empty() ? m_entryReason : m_failed.back().reason;
        m_failed.push_back({fileName, reason});
    }
    m_entryReason.clear();
}

void TArchivePanel::ReportFailedEntries()
{
    // A wrong password or a cancel fails every later entry the same way:
    // the entries that failed for one reason are told in one message. An
    // entry that failed alone keeps the message of its own.
    constexpr size_t kNamesShown = 5;
    std::vector<std::vector<const FailedEntry*>> groups;
    for (const FailedEntry& e : m_failed) {
        auto same = std::find_if(groups.begin(), groups.end(),
            [&e](const std::vector<const FailedEntry*>& g) { return g.front()->reason == e.reason; });
        if (same == groups.end())
            groups.push_back({&e});
        else
            same->push_back(&e);
    }
    for (const auto& group : groups) {
        std::string names;
        for (size_t i = 0; i < group.size() && i < kNamesShown; ++i)
            names += (i ? "\n" : "") + group[i]->name;
        if (group.size() > kNamesShown)
            names += "\n... (" + IntToStr(static_cast<long long>(group.size())) + " files in all)";
        const std::string why = group.size() > 1 && !group.front()->reason.empty() ? group.front()->reason
                                                                                     : std::string("OnEnd Event...");
        Application->Prompts().MessageBox(names + "\nExtract failed\n\n" + why, Application->Title(), MB_OK);
    }
    m_failed.clear();
}

void TArchivePanel::UnZIP1FileExists(TObject* sender, const std::string& fileName, std::string&, TOverwriteMode& mode)
{
    frmOverwrite->Label1->SetCaption(fileName);
    frmOverwrite->FormActivate(frmOverwrite);
    const int r = RunModal(frmOverwrite);
    auto* x = dynamic_cast<TZipCommon*>(sender);
    if (r == mrYes)
        mode = omOverwrite;
    else if (r == mrNo)
        mode = omSkip;
    else if (x)
        x->SetCancel(true);
    if (x)
        x->ConfirmOverwrites = !frmOverwrite->CheckBox1->Checked();
}

void TArchivePanel::UnZIP1Progress(TObject*, BYTE, BYTE byArchive)
{
    ProgressBar2->SetPosition(byArchive);
    ProgressBar2->Repaint();
}

void TArchivePanel::UnZIP1GetPassword(TObject*, const std::string&, std::string& password, bool& tryAgain)
{
    if (!Application->Prompts().PasswordQuery("Encrypted file...", "Enter password", password))
        tryAgain = false;
}

// ---- the viewer ---------------------------------------------------------------------------

void TForm1::ViewArchive()
{
    if (!ArchivePanel)
        ArchivePanel = new TArchivePanel(this, pcontent);
    ArchivePanel->PanelZip->BringToFront();
    const bool listed = FileExists(CurrentFile);
    if (listed)
        ArchivePanel->ListArchive(CurrentFile);
    ShowFileInfo(CurrentFile);
    if (listed)
        SetStatusPanel(3, ArchivePanel->StatusText());
}
