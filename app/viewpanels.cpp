// The text, rich-text, hex and executable-header panels of the preview area,
// their tool bars and menus, and the save commands of the three editable ones.
#include "mainform.h"

#include "panelparts.h"
#include "pereport.h"
#include "preview.h"
#include "tools/commonfunc.h"

#include "hexedit/zuradhexex.h"

#include "rtl/sysutils.h"
#include "win/fileops.h"

#include <algorithm>

namespace {
const char* const kTextViewLoss =
    "The text view does not show this file exactly as it is: it was converted from another encoding, "
    "or it mixes kinds of line breaks.";
// Zero and other control bytes, and bytes that are no UTF-8, are shown as
// stand-in characters: written back, they would replace the bytes.
const char* const kTextStandInRefusal =
    "The text view shows some bytes of this file (zero or other control bytes, or bytes that are no text) "
    "as stand-in characters, so it was not saved over the file.";
const char* const kRtfViewLoss =
    "The rich-text view does not hold all of this file: pictures, objects, fields, headers or footers "
    "are not shown, or the file is no RTF.";
}

namespace {

constexpr TColor clSkyBlue = RGB(166, 202, 240);

// The hex view's editing mode as the status bar shows it.
std::string HexModeText(const TZURadUvudodEx& hex) { return hex.GetInsertMode() ? "Insert" : "Overwrite"; }

// The line break a text uses (the first one found; CR LF when it has none),
// and whether it ends with one.
void LineBreakOf(const std::string& text, std::string& lineBreak, bool& finalBreak)
{
    const size_t at = text.find_first_of("\r\n");
    if (at == std::string::npos)
        lineBreak = "\r\n";
    else if (text[at] == '\r')
        lineBreak = text.compare(at, 2, "\r\n") == 0 ? "\r\n" : "\r";
    else
        lineBreak = "\n";
    finalBreak = text.size() >= lineBreak.size() && text.compare(text.size() - lineBreak.size(), lineBreak.size(), lineBreak) == 0;
}

std::string JoinLines(const TStringList& lines, const std::string& lineBreak, bool finalBreak)
{
    std::string out;
    for (int i = 0; i < lines.Count(); ++i) {
        out += lines[i];
        if (i + 1 < lines.Count() || finalBreak)
            out += lineBreak;
    }
    return out;
}

constexpr size_t kLongestWrappedLine = 20000;

size_t LongestLine(const std::string& text)
{
    size_t longest = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    return longest;
}

// The length of UTF-8 text in the view's characters (UTF-16 units).
int Utf16Length(const std::string& text)
{
    int n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++n;
        if (c >= 0xF0)
            ++n;
    }
    return n;
}

// The lines of a text as the view splits them: at CR LF, CR or LF.
TStringList SplitLines(const std::string& text)
{
    TStringList lines;
    lines.SetText(text);
    return lines;
}

} // namespace

void TForm1::CreateViewerPanels()
{
    // Text panel.
    PanelRichedit = PreviewPanel(this, pcontent, "PanelRichedit");
    tbrichedit = PanelToolBar(this, PanelRichedit, "tbrichedit");
    PopupMenuRichedit = new TPopupMenu(this);
    PopupMenuRichedit->SetName("PopupMenuRichedit");
    Save1 = PopupItem(this, PopupMenuRichedit, "Save", [this](TObject* s) { Save1Click(s); });
    SaveAS1 = PopupItem(this, PopupMenuRichedit, "Save AS...", [this](TObject* s) { SaveAS1Click(s); });
    PopupItem(this, PopupMenuRichedit, "-");
    Font2 = PopupItem(this, PopupMenuRichedit, "Font...", [this](TObject* s) { Font2Click(s); });
    Wrap2 = PopupItem(this, PopupMenuRichedit, "Wrap", [this](TObject* s) { Wrap2Click(s); });
    Wrap2->SetChecked(true);
    PopupItem(this, PopupMenuRichedit, "-");
    Find2 = PopupItem(this, PopupMenuRichedit, "Find...", [this](TObject* s) { Find2Click(s); });
    FindAgain2 = PopupItem(this, PopupMenuRichedit, "Find Again", [this](TObject* s) { FindAgain2Click(s); });
    SelectAll3 = PopupItem(this, PopupMenuRichedit, "Select All", [this](TObject* s) { SelectAll3Click(s); });
    TToolButton* menuButton = PanelButton(this, tbrichedit, "Menu", "Menu", {});
    menuButton->OnClick = [this, menuButton](TObject*) { PopupBelow(PopupMenuRichedit, menuButton); };
    PanelButton(this, tbrichedit, "Cut", "Cut", [this](TObject*) {
        m_textLarge ? void(textview->CutToClipboard()) : richedit->CutToClipboard();
    });
    PanelButton(this, tbrichedit, "Copy", "Copy", [this](TObject*) {
        m_textLarge ? void(textview->CopyToClipboard()) : richedit->CopyToClipboard();
    });
    PanelButton(this, tbrichedit, "Paste", "Paste", [this](TObject*) {
        m_textLarge ? textview->PasteFromClipboard() : richedit->PasteFromClipboard();
    });
    PanelButton(this, tbrichedit, "Undo", "Undo", [this](TObject*) { m_textLarge ? textview->Undo() : richedit->Undo(); });
    utf8 = PanelButton(this, tbrichedit, "UTF-8", "Encode With UTF-8", [this](TObject* s) { utf8Click(s); },
        TToolButtonStyle::tbsCheck);
    utf8->SetName("utf8");
    richedit = new TMemo(this);
    richedit->SetName("richedit");
    richedit->Font().SetName("Courier New");
    richedit->Font().SetSize(10);
    richedit->Font().SetCharset(GB2312_CHARSET);
    richedit->SetWordWrap(true);
    richedit->SetColor(clWindow);
    richedit->SetAlign(alClient);
    richedit->SetParent(PanelRichedit);
    richedit->PopupMenu = PopupMenuRichedit;
    richedit->OnSelectionChange = [this](TObject* s) { richeditSelectionChange(s); };
    textview = new TTextFileView(this);
    textview->SetName("textview");
    textview->Font().Assign(richedit->Font());
    textview->SetWordWrap(true);
    textview->SetColor(clWindow);
    textview->SetAlign(alClient);
    textview->SetVisible(false);
    textview->SetParent(PanelRichedit);
    textview->PopupMenu = PopupMenuRichedit;
    textview->OnSelectionChange = [this](TObject* s) { richeditSelectionChange(s); };
    textview->OnStateChange = [this](TObject* s) { textviewStateChange(s); };
    textview->OnNotice = [this](const std::string& text) { ShowStatusMessage(text); };

    // Rich-text panel.
    PanelRtf = PreviewPanel(this, pcontent, "PanelRtf");
    tbrtf = PanelToolBar(this, PanelRtf, "tbrtf");
    PopupMenuRtf = new TPopupMenu(this);
    PopupMenuRtf->SetName("PopupMenuRtf");
    Save3 = PopupItem(this, PopupMenuRtf, "Save", [this](TObject* s) { Save3Click(s); });
    SaveAs3 = PopupItem(this, PopupMenuRtf, "Save As...", [this](TObject* s) { SaveAs3Click(s); });
    PopupItem(this, PopupMenuRtf, "-");
    SelectAll4 = PopupItem(this, PopupMenuRtf, "Select All", [this](TObject* s) { SelectAll4Click(s); });
    Wrap3 = PopupItem(this, PopupMenuRtf, "Wrap", [this](TObject* s) { Wrap3Click(s); });
    Wrap3->SetChecked(true);
    TToolButton* rtfMenu = PanelButton(this, tbrtf, "Menu", "Menu", {});
    rtfMenu->OnClick = [this, rtfMenu](TObject*) { PopupBelow(PopupMenuRtf, rtfMenu); };
    PanelButton(this, tbrtf, "Cut", "Cut", [this](TObject*) { RichEditRtf->CutToClipboard(); });
    PanelButton(this, tbrtf, "Copy", "Copy", [this](TObject*) { RichEditRtf->CopyToClipboard(); });
    PanelButton(this, tbrtf, "Paste", "Paste", [this](TObject*) { RichEditRtf->PasteFromClipboard(); });
    PanelButton(this, tbrtf, "Undo", "Undo", [this](TObject*) { RichEditRtf->Undo(); });
    RichEditRtf = new TRichEdit(this);
    RichEditRtf->SetName("RichEditRtf");
    RichEditRtf->SetWordWrap(true);
    RichEditRtf->SetColor(clWindow);
    RichEditRtf->SetAlign(alClient);
    RichEditRtf->SetParent(PanelRtf);
    RichEditRtf->PopupMenu = PopupMenuRtf;

    // Hex panel.
    PanelHex = PreviewPanel(this, pcontent, "PanelHex");
    tbhex = PanelToolBar(this, PanelHex, "tbhex");
    PopupMenuHex = new TPopupMenu(this);
    PopupMenuHex->SetName("PopupMenuHex");
    Save4 = PopupItem(this, PopupMenuHex, "Save", [this](TObject* s) { Save4Click(s); });
    SaveAs4 = PopupItem(this, PopupMenuHex, "Save As...", [this](TObject* s) { SaveAs4Click(s); });
    PopupItem(this, PopupMenuHex, "-");
    SaveHex4 = PopupItem(this, PopupMenuHex, "Save current file in HEX mode...",
        [this](TObject* s) { SaveafileasHEXmode1Click(s); });
    TToolButton* hexMenu = PanelButton(this, tbhex, "Menu", "Menu", {});
    hexMenu->OnClick = [this, hexMenu](TObject*) { PopupBelow(PopupMenuHex, hexMenu); };
    PanelButton(this, tbhex, "Cut", "Cut", [this](TObject*) { hexedit->CBCut(); });
    PanelButton(this, tbhex, "Copy", "Copy", [this](TObject*) { hexedit->CBCopy(); });
    PanelButton(this, tbhex, "Paste", "Paste", [this](TObject*) { hexedit->CBPaste(); });
    PanelButton(this, tbhex, "Undo", "Undo", [this](TObject*) { hexedit->Undo(); });
    PanelButton(this, tbhex, "Redo", "Redo", [this](TObject*) { hexedit->Redo(); });
    hexedit = new TZURadUvudodEx(this);
    hexedit->SetName("hexedit");
    hexedit->SetBytesPerRow(16);
    hexedit->SetBytesPerColumn(1);
    hexedit->SetBytesPerBlock(4);
    hexedit->SetSeparateBlocksInCharField(false);
    hexedit->SetTranslation(tkAsIs);
    hexedit->SetOffsetFormat("8!10:|");
    hexedit->SetGutterWidth(70);
    hexedit->SetDrawGutter3D(false);
    hexedit->SetShowRuler(true);
    hexedit->SetShowPositionIfNotFocused(true);
    hexedit->SetFocusFrame(true);
    hexedit->SetDrawGridLines(true);
    hexedit->SetUnicodeBigEndian(true);
    hexedit->SetClipboardAsHexText(true);
    hexedit->Font().SetName("Courier New");
    hexedit->Font().SetSize(10);
    TZAZColors& colors = hexedit->Colors();
    colors.SetBackground(clSkyBlue);
    colors.SetChangedBackground(static_cast<TColor>(11075583));
    colors.SetChangedText(clMaroon);
    colors.SetCursorFrame(clNavy);
    colors.SetOffset(clBlack);
    colors.SetOddColumn(clNavy);
    colors.SetEvenColumn(clNavy);
    colors.SetCurrentOffsetBackground(clBtnShadow);
    colors.SetOffsetBackGround(clBtnFace);
    colors.SetCurrentOffset(clBtnHighlight);
    colors.SetGrid(clBtnFace);
    colors.SetNonFocusCursorFrame(clAqua);
    colors.SetActiveFieldBackground(clSkyBlue);
    // Print settings; the window offers no print command. The print font is
    // set up in place, so the control keeps printing with its own font.
    TZAZPrintOptions& print = hexedit->PrintOptions();
    print.SetMarginLeft(20);
    print.SetMarginTop(15);
    print.SetMarginRight(25);
    print.SetMarginBottom(25);
    print.SetFlags(PrintFlag(pfSelectionBold) | PrintFlag(pfMonochrome));
    hexedit->PrintFont().SetName("Courier New");
    hexedit->PrintFont().SetSize(11);
    hexedit->SetAlign(alClient);
    hexedit->SetParent(PanelHex);
    hexedit->PopupMenu = PopupMenuHex;
    // Insert or overwrite shows in the status bar while the hex view is up.
    hexedit->OnSelectionChanged = [this](TObject*) {
        if (ViewMode == 2 && CurrentFile == hexedit->FileName())
            SetStatusPanel(3, HexModeText(*hexedit));
    };

    // Header report panel.
    PanelPe = PreviewPanel(this, pcontent, "PanelPe");
    tbpe = PanelToolBar(this, PanelPe, "tbpe");
    PanelButton(this, tbpe, "Copy", "Copy selected text", [this](TObject* s) { ToolButton59Click(s); });
    PanelButton(this, tbpe, "Save", "Save the info to a text file...", [this](TObject* s) { ToolButton58Click(s); });
    RichEditPe = new TMemo(this);
    RichEditPe->SetName("RichEditPe");
    RichEditPe->Font().SetName("Courier New");
    RichEditPe->Font().SetSize(10);
    RichEditPe->Font().SetCharset(GB2312_CHARSET);
    RichEditPe->SetReadOnly(true);
    RichEditPe->SetWordWrap(false);
    RichEditPe->SetColor(clWindow);
    RichEditPe->SetAlign(alClient);
    RichEditPe->SetParent(PanelPe);
}

// ---- text view ----------------------------------------------------------------------------

void TForm1::ShowLargeTextView(bool large)
{
    if (!large)
        textview->Clear();
    m_textLarge = large;
    richedit->SetVisible(!large);
    textview->SetVisible(large);
}

void TForm1::ReleaseLargeText()
{
    if (!m_textLarge)
        return;
    textview->Clear();
    m_textFile.clear();
}

void TForm1::ViewText()
{
    richedit->Clear();
    PanelRichedit->BringToFront();
    richedit->SetWordWrap(Wrap2->Checked());
    m_textFile.clear();
    m_textExact = false;
    m_textStandIns = false;
    if (FileSizeOf(CurrentFile) >= kLargeTextBytes) {
        ViewLargeText();
        return;
    }
    ShowLargeTextView(false);
    try {
        // With the UTF-8 switch down the file's lines are taken as UTF-8, the
        // program's own encoding, whatever the file starts with.
        const TTextFileContents read
            = utf8->Down() ? ReadUtf8TextFileContents(CurrentFile) : ReadTextFileContents(CurrentFile);
        if (!read.Opened)
            throw EFOpenError("Cannot open " + CurrentFile);
        const std::string& text = read.Text;
        bool exact = read.Exact;
        LineBreakOf(text, m_textLineBreak, m_textFinalBreak);
        // The view keeps lines, not line breaks: the text can be written back
        // unchanged only when one kind of break is used throughout.
        if (exact && JoinLines(SplitLines(text), m_textLineBreak, m_textFinalBreak) != text)
            exact = false;
        // Wrapping a line of hundreds of thousands of characters takes the
        // text layout minutes; such a file is shown unwrapped.
        if (LongestLine(text) > kLongestWrappedLine)
            richedit->SetWordWrap(false);
        richedit->SetText(text);
        m_textFile = CurrentFile;
        m_textExact = exact;
        m_textStandIns = read.StandIns;
        ShowFileInfo(CurrentFile);
    } catch (const std::exception&) {
        ShowStatusMessage(kFailedToOpenMessage);
        return;
    }
    richedit->SetModified(false);
}

void TForm1::ViewLargeText()
{
    ShowLargeTextView(true);
    textview->SetWordWrap(Wrap2->Checked());
    // With the UTF-8 switch down the file is taken as UTF-8 whatever it
    // starts with.
    if (!textview->LoadFromFile(CurrentFile, !utf8->Down())) {
        ShowStatusMessage(kFailedToOpenMessage);
        return;
    }
    m_textFile = CurrentFile;
    ShowFileInfo(CurrentFile);
    textviewStateChange(textview);
}

void TForm1::textviewStateChange(TObject*)
{
    if (!m_textLarge || m_textFile.empty())
        return;
    const TTextDocument& doc = textview->Document();
    m_textStandIns = doc.HasStandIns();
    m_textExact = doc.State() == TTextDocState::Complete && !doc.FromUtf16() && !doc.HasStandIns();
    // Told only while the file is the one shown.
    if (m_textFile != CurrentFile)
        return;
    switch (doc.State()) {
    case TTextDocState::Loading: SetStatusPanel(3, "Reading the file..."); break;
    case TTextDocState::Complete: SetStatusPanel(3, ""); break;
    case TTextDocState::OnDemand:
    case TTextDocState::Failed:
        SetStatusPanel(3, "");
        ShowStatusMessage(doc.Reason());
        break;
    case TTextDocState::Empty: break;
    }
    if (doc.ChangedOnDisk())
        ShowStatusMessage("The file changed on the disk while it was shown: parts of it could not be read again.");
}

bool TForm1::LargeTextComplete(const char* caption)
{
    const TTextDocument& doc = textview->Document();
    const char* why = nullptr;
    switch (doc.State()) {
    case TTextDocState::Loading: why = "The text view has not read the whole file yet, so it was not saved."; break;
    case TTextDocState::OnDemand:
        why = "The file is too large for the text view to hold, so it is shown read-only and was not saved.";
        break;
    case TTextDocState::Failed: why = "The text view holds only a part of the file, so it was not saved."; break;
    default: break;
    }
    if (!why)
        return true;
    Application->MessageBox(why, caption, MB_OK | MB_ICONWARNING);
    return false;
}

const char* TForm1::TextViewRefusal() const { return m_textStandIns ? kTextStandInRefusal : nullptr; }

std::string TForm1::TextViewContents() const
{
    return JoinLines(richedit->Lines(), m_textLineBreak, m_textFinalBreak);
}

void TForm1::richeditSelectionChange(TObject*)
{
    if (m_textLarge) {
        SetStatusPanel(4, "ROW:" + IntToStr(textview->CaretLine()));
        SetStatusPanel(5, "COL:" + IntToStr(textview->CaretColumn()));
        return;
    }
    const int start = richedit->SelStart();
    const int line = richedit->LineFromChar(start);
    const int column = start - richedit->LineIndex(line);
    SetStatusPanel(4, "ROW:" + IntToStr(line));
    SetStatusPanel(5, "COL:" + IntToStr(column));
}

void TForm1::utf8Click(TObject*)
{
    if (!CurrentFile.empty())
        ViewText();
}

bool TForm1::MayReplaceWithView(const std::string& target, const std::string& viewFile, bool viewExact,
    const std::string& loss, const char* refusal)
{
    if (target != viewFile || viewExact)
        return true;
    if (refusal) {
        Application->MessageBox(refusal, "Save", MB_OK | MB_ICONWARNING);
        return false;
    }
    return Application->MessageBox(loss + "\nSaving replaces the file on disk with what the view shows.\n\nSave anyway?",
               "Save", MB_YESNO | MB_ICONWARNING)
        == IDYES;
}

bool TForm1::MaySaveView(const std::string& viewFile, bool viewExact, const std::string& viewName, const char* loss,
    const char* refusal)
{
    // The view must hold the current file: after a failed load or a file
    // shown only by its size, it still holds another file's text.
    if (CurrentFile.empty() || viewFile != CurrentFile) {
        Application->MessageBox("The " + viewName + " does not show the current file, so it was not saved.", "Save",
            MB_OK | MB_ICONWARNING);
        return false;
    }
    return MayReplaceWithView(CurrentFile, viewFile, viewExact, loss, refusal);
}

bool TForm1::ChooseSaveAsTarget(const std::string& viewFile, bool viewExact, const std::string& viewName,
    const char* loss, const char* refusal, std::string& chosen)
{
    PrepareSaveDialog("Save as", "All(*.*)|*.*");
    sd.DefaultExt = "";
    sd.FileName = CurrentFile;
    if (!ExecuteSaveDialog(chosen))
        return false;
    if (chosen == CurrentFile && viewFile != CurrentFile) {
        Application->MessageBox("The " + viewName + " does not show the current file, so it was not saved over it.",
            "Save as", MB_OK | MB_ICONWARNING);
        return false;
    }
    return MayReplaceWithView(chosen, viewFile, viewExact, loss, refusal);
}

void TForm1::PrepareSaveDialog(const std::string& title, const std::string& filter)
{
    sd.Title = title;
    sd.Filter = filter;
    sd.FilterIndex = 1;
    sd.InitialDir = ExtractFilePath(CurrentFile);
}

void TForm1::Save1Click(TObject*)
{
    if (m_textLarge && m_textFile == CurrentFile && !LargeTextComplete("Save"))
        return;
    if (!MaySaveView(m_textFile, m_textExact, "text view", kTextViewLoss, TextViewRefusal()))
        return;
    if (m_textLarge) {
        textview->SaveToFile(CurrentFile, false);
        m_textExact = true;
        textview->SetModified(false);
        return;
    }
    WriteFileAtomically(CurrentFile, TextViewContents());
    m_textExact = true;
    richedit->SetModified(false);
}

bool TForm1::ExecuteSaveDialog(std::string& chosen)
{
    int filterIndex = sd.FilterIndex;
    std::string file = sd.FileName;
    if (!Application->Prompts().SaveFile(sd, file, filterIndex))
        return false;
    if (!sd.DefaultExt.empty() && ExtractFileExt(file).empty())
        file += "." + sd.DefaultExt;
    sd.FileName = file;
    sd.FilterIndex = filterIndex;
    chosen = file;
    return true;
}

void TForm1::SaveAS1Click(TObject*)
{
    // A text read in part is never saved; one read from the disk as it is
    // shown may go to another file.
    if (m_textLarge && textview->Document().State() != TTextDocState::OnDemand && !LargeTextComplete("Save as"))
        return;
    std::string chosen;
    if (!ChooseSaveAsTarget(m_textFile, m_textExact, "text view", kTextViewLoss, TextViewRefusal(), chosen))
        return;
    if (m_textLarge) {
        if (textview->Document().State() != TTextDocState::Complete && IsSameFile(chosen, m_textFile)) {
            LargeTextComplete("Save as");
            return;
        }
        textview->SaveToFile(chosen, true);
        CurrentFile = chosen;
        ViewText();
        return;
    }
    const std::string contents = TextViewContents();
    CurrentFile = chosen;
    WriteFileAtomically(chosen, contents);
    ViewText();
}

void TForm1::Font2Click(TObject*)
{
    TFont font;
    font.Assign(richedit->Font());
    if (Application->Prompts().ChooseFont(font)) {
        richedit->Font().Assign(font);
        textview->Font().Assign(font);
    }
}

void TForm1::Wrap2Click(TObject*)
{
    Wrap2->SetChecked(!Wrap2->Checked());
    richedit->SetWordWrap(Wrap2->Checked());
    textview->SetWordWrap(Wrap2->Checked());
}

void TForm1::Find2Click(TObject* sender)
{
    std::string text = FindText;
    if (!Application->Prompts().InputQuery("Find", "Find what:", text))
        return;
    FindText = text;
    FindDialog1Find(sender);
}

void TForm1::FindAgain2Click(TObject* sender)
{
    if (FindText.empty()) {
        Find2Click(sender);
        return;
    }
    FindDialog1Find(sender);
}

void TForm1::FindDialog1Find(TObject*)
{
    // The search starts behind the selection (or at the caret) and always
    // matches case exactly.
    if (m_textLarge) {
        const std::int64_t found = textview->FindText(FindText, textview->SelStart() + textview->SelLength());
        if (found < 0) {
            Application->MessageBox("No found!", "Find", MB_OK | MB_ICONINFORMATION);
            return;
        }
        if (textview->CanFocus())
            textview->SetFocus();
        textview->SetSelStart(found);
        textview->SetSelLength(static_cast<std::int64_t>(FindText.size()));
        textview->ScrollCaret();
        return;
    }
    const int start = richedit->SelStart() + richedit->SelLength();
    const int found = richedit->FindText(FindText, start);
    if (found < 0) {
        Application->MessageBox("No found!", "Find", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (richedit->CanFocus())
        richedit->SetFocus();
    richedit->SetSelStart(found);
    richedit->ScrollCaret();
    richedit->SetSelLength(Utf16Length(FindText));
}

void TForm1::SelectAll3Click(TObject*) { m_textLarge ? textview->SelectAll() : richedit->SelectAll(); }

// ---- rich-text view -------------------------------------------------------------------------

void TForm1::ViewRtf()
{
    PanelRtf->BringToFront();
    m_rtfFile.clear();
    RichEditRtf->LoadFromFile(CurrentFile);
    m_rtfFile = CurrentFile;
    m_rtfExact = !RichEditRtf->LoadedLossy();
    ShowFileInfo(CurrentFile);
    RichEditRtf->SetModified(false);
}

void TForm1::Save3Click(TObject*)
{
    if (!MaySaveView(m_rtfFile, m_rtfExact, "rich-text view", kRtfViewLoss, nullptr))
        return;
    RichEditRtf->SaveToFile(CurrentFile);
    m_rtfExact = true;
    RichEditRtf->SetModified(false);
}

void TForm1::SaveAs3Click(TObject*)
{
    std::string chosen;
    if (!ChooseSaveAsTarget(m_rtfFile, m_rtfExact, "rich-text view", kRtfViewLoss, nullptr, chosen))
        return;
    CurrentFile = chosen;
    RichEditRtf->SaveToFile(chosen);
    ViewRtf();
}

void TForm1::SelectAll4Click(TObject*) { RichEditRtf->SelectAll(); }

void TForm1::Wrap3Click(TObject*)
{
    Wrap3->SetChecked(!Wrap3->Checked());
    RichEditRtf->SetWordWrap(Wrap3->Checked());
}

// ---- hex view ----------------------------------------------------------------------------------

void TForm1::ViewHex()
{
    PanelHex->BringToFront();
    try {
        hexedit->LoadFromFile(CurrentFile);
    } catch (const EZURadUvudod& e) {
        // A file the editor cannot hold (over 2 GB) is refused before
        // anything is read: the status bar says so.
        ShowFileInfo(CurrentFile);
        ShowNoPreview(e.Message());
        return;
    } catch (const EOutOfMemory&) {
        // So is one larger than the memory the machine can still give.
        ShowFileInfo(CurrentFile);
        ShowNoPreview("This computer has too little free memory for the hex editor to hold this file ("
            + IntToStr(FileSizeOf(CurrentFile)) + " bytes).");
        return;
    }
    ShowFileInfo(CurrentFile);
    SetStatusPanel(3, HexModeText(*hexedit));
}

void TForm1::Save4Click(TObject*) { hexedit->Save(); }

bool TForm1::ConfirmHexChanges()
{
    if (!hexedit->GetModified())
        return true;
    // Cancel, Escape and the close box keep the edits, and the edited file
    // stays the one shown.
    const int answer = Application->MessageBox("Save changes to " + hexedit->FileName() + "?", Application->Title(),
        MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDNO) {
        hexedit->SetModified(false);
        return true;
    }
    if (answer == IDYES) {
        try {
            hexedit->Save();
            return true;
        } catch (const std::exception& e) {
            Application->ShowException(e);
        }
    }
    KeepHexEdits();
    return false;
}

void TForm1::KeepHexEdits()
{
    CurrentFile = hexedit->FileName();
    // Back in hex mode and on the file's row, where the list shows it; both
    // find the edited file already shown and leave it as it is.
    if (ViewMode != 2)
        SetViewMode(2);
    SelectDiskListRow(CurrentFile);
}

void TForm1::SaveAs4Click(TObject*)
{
    PrepareSaveDialog("Save as", "All(*.*)|*.*");
    sd.DefaultExt = "";
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    hexedit->SaveToFile(chosen, true);
    CurrentFile = chosen;
    ViewHex();
}

void TForm1::SaveafileasHEXmode1Click(TObject*)
{
    if (CurrentFile.empty()) {
        Application->MessageBox("No file is opened.", Application->Title(), MB_OK);
        return;
    }
    PrepareSaveDialog("Save as In hex mode", "All(*.txt)|*.txt");
    sd.DefaultExt = "txt";
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    SaveFileAsHexText(CurrentFile, chosen);
}

// ---- header report ---------------------------------------------------------------------------

void TForm1::ViewPeInfo()
{
    RichEditPe->Clear();
    PanelPe->BringToFront();
    TStringList report;
    GetPEFileInfo(CurrentFile, report);
    RichEditPe->SetText(JoinLines(report, "\n", false));
    ShowFileInfo(CurrentFile);
}

void TForm1::ToolButton59Click(TObject*) { RichEditPe->CopyToClipboard(); }

void TForm1::ToolButton58Click(TObject*)
{
    PrepareSaveDialog("Save as", "text file(*.txt)|*.txt");
    sd.FileName = CurrentFile + ".txt";
    std::string chosen;
    if (!ExecuteSaveDialog(chosen))
        return;
    RichEditPe->Lines().SaveToFile(chosen);
}
