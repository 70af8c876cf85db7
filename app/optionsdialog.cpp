#include "optionsdialog.h"

#include "configfile.h"
#include "tools/programfiles.h"
#include "tools/commonfunc.h"
#include "tools/place.h"

#include "rtl/inifiles.h"

#include <algorithm>
#include <iterator>
#include <vector>

TForm3* Form3 = nullptr;
TfrmAddFilter* frmAddFilter = nullptr;

namespace {

// Where each pane stands in a layout, in fractions of the picture.
struct PanePlace {
    TLayoutPane pane;
    double left, top, right, bottom;
};

const std::vector<PanePlace> kLayoutSketches[] = {
    // Left:Tree+List   Right:Content
    {{TLayoutPane::Tree, 0, 0, 0.4, 0.5}, {TLayoutPane::List, 0, 0.5, 0.4, 1}, {TLayoutPane::Content, 0.4, 0, 1, 1}},
    // Left:Tree   Right:List+Content
    {{TLayoutPane::Tree, 0, 0, 0.4, 1}, {TLayoutPane::List, 0.4, 0, 1, 0.45}, {TLayoutPane::Content, 0.4, 0.45, 1, 1}},
    // Left:List   Right:Content
    {{TLayoutPane::List, 0, 0, 0.4, 1}, {TLayoutPane::Content, 0.4, 0, 1, 1}},
    // Left:None   Right:List+Content
    {{TLayoutPane::List, 0, 0, 1, 0.45}, {TLayoutPane::Content, 0, 0.45, 1, 1}},
    // Only Content
    {{TLayoutPane::Content, 0, 0, 1, 1}},
    // Left:Tree Middle:List Right:Content
    {{TLayoutPane::Tree, 0, 0, 0.3, 1}, {TLayoutPane::List, 0.3, 0, 0.6, 1}, {TLayoutPane::Content, 0.6, 0, 1, 1}},
};

constexpr int kSketchWidth = 36, kSketchHeight = 24;

// A hint of what the pane holds, in its own frame: the tree's indented
// branches, the list's rows; the content pane stays plain.
void DrawPaneMarks(TCanvas& c, const TRect& r, TLayoutPane pane)
{
    c.Pen().SetColor(RGB(96, 96, 96));
    if (pane == TLayoutPane::Tree) {
        const int x = r.Left + 3;
        c.MoveTo(x, r.Top + 3);
        c.LineTo(x, r.Bottom - 3);
        for (int y = r.Top + 5; y < r.Bottom - 3; y += 4) {
            c.MoveTo(x, y);
            c.LineTo(std::min(x + 4, r.Right - 2), y);
        }
    } else if (pane == TLayoutPane::List) {
        for (int y = r.Top + 3; y < r.Bottom - 2; y += 3) {
            c.MoveTo(r.Left + 3, y);
            c.LineTo(r.Right - 3, y);
        }
    }
}

}  // namespace

TColor LayoutPaneColor(TLayoutPane pane)
{
    switch (pane) {
    case TLayoutPane::Tree: return RGB(200, 232, 200);
    case TLayoutPane::List: return RGB(204, 220, 248);
    default: return clWhite;
    }
}

void DrawLayoutSketch(TCanvas& c, const TRect& bounds, int layout)
{
    if (layout < 1 || layout > static_cast<int>(std::size(kLayoutSketches)))
        return;
    const double w = bounds.Width(), h = bounds.Height();
    for (const PanePlace& p : kLayoutSketches[layout - 1]) {
        // Neighbouring panes share their edge line, as split panels do.
        const TRect r = Rect(bounds.Left + static_cast<int>(p.left * (w - 1)), bounds.Top + static_cast<int>(p.top * (h - 1)),
            bounds.Left + static_cast<int>(p.right * (w - 1)) + 1, bounds.Top + static_cast<int>(p.bottom * (h - 1)) + 1);
        c.Brush().SetColor(LayoutPaneColor(p.pane));
        c.Pen().SetColor(RGB(64, 64, 64));
        c.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
        DrawPaneMarks(c, r, p.pane);
    }
}

TForm3::TForm3(TComponent* owner) : TForm(owner)
{
    Form3 = this;
    SetCaption("Vistrel Config");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    Position = TPosition::poDesktopCenter;
    SetClientSize(470, 340);

    PageControl1 = Place<TPageControl>(this, this, 8, 8, 454, 290, "", "PageControl1");
    TabGeneral = new TTabSheet(this);
    TabGeneral->SetCaption("General");
    TabGeneral->SetPageControl(PageControl1);
    TabView = new TTabSheet(this);
    TabView->SetCaption("View");
    TabView->SetPageControl(PageControl1);
    TabFilter = new TTabSheet(this);
    TabFilter->SetCaption("Filter");
    TabFilter->SetPageControl(PageControl1);

    auto* group = Place<TGroupBox>(this, TabGeneral, 8, 8, 380, 52, "Default Filter");
    filter = Place<TComboBox>(this, group, 10, 20, 360, 22, "", "filter");
    auto* pathGroup = Place<TGroupBox>(this, TabGeneral, 8, 68, 380, 52, "default path");
    Edit1 = Place<TEdit>(this, pathGroup, 10, 20, 320, 22, "", "Edit1");
    Button1 = Place<TButton>(this, pathGroup, 336, 19, 34, 24, "...", "Button1");
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    saverecent_checkbox = Place<TCheckBox>(this, TabGeneral, 12, 132, 200, 20, "Save History List", "saverecent_checkbox");
    showgrid_checkbox = Place<TCheckBox>(this, TabGeneral, 12, 156, 200, 20, "Show Grid", "showgrid_checkbox");

    layout = Place<TRadioGroup>(this, TabView, 8, 8, 300, 244, "", "layout");
    for (const char* c : {"Left:Tree+List   Right:Content", "Left:Tree   Right:List+Content",
             "Left:List   Right:Content", "Left:None   Right:List+Content", "Only Content",
             "Left:Tree Middle:List Right:Content"})
        layout->AddItem(c);
    for (int i = 0; i < layout->Count(); ++i) {
        TBitmap sketch(kSketchWidth, kSketchHeight);
        sketch.Canvas().Brush().SetColor(clBtnFace);
        sketch.Canvas().FillRect(Rect(0, 0, kSketchWidth, kSketchHeight));
        DrawLayoutSketch(sketch.Canvas(), Rect(0, 0, kSketchWidth, kSketchHeight), i + 1);
        layout->SetItemPicture(i, sketch);
    }
    viewmode = Place<TRadioGroup>(this, TabView, 316, 8, 122, 130, "View Mode", "viewmode");
    for (const char* c : {"Details", "List", "Large Icon", "Small Icon"})
        viewmode->AddItem(c);

    ListView1 = Place<TListView>(this, TabFilter, 8, 8, 300, 236, "", "ListView1");
    ListView1->AddColumn("Description", 110);
    ListView1->AddColumn("Filter", 220);
    ListView1->SetViewStyle(TViewStyle::vsReport);
    ListView1->SetGridLines(true);
    ListView1->SetRowSelect(true);
    ListView1->SetHideSelection(false);
    Button4 = Place<TButton>(this, TabFilter, 316, 8, 72, 25, "Add", "Button4");
    Button4->OnClick = [this](TObject* s) { Button4Click(s); };
    Button5 = Place<TButton>(this, TabFilter, 316, 40, 72, 25, "Delete", "Button5");
    Button5->OnClick = [this](TObject* s) { Button5Click(s); };
    Button6 = Place<TButton>(this, TabFilter, 316, 72, 72, 25, "Up", "Button6");
    Button6->OnClick = [this](TObject* s) { Button6Click(s); };
    Button7 = Place<TButton>(this, TabFilter, 316, 104, 72, 25, "Down", "Button7");
    Button7->OnClick = [this](TObject* s) { Button7Click(s); };

    Button2 = Place<TButton>(this, this, 300, 306, 78, 25, "Save all", "Button2");
    Button2->SetDefault(true);
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
    Button3 = Place<TButton>(this, this, 384, 306, 78, 25, "Close", "Button3");
    Button3->Cancel = true;
    Button3->OnClick = [this](TObject* s) { Button3Click(s); };

    OnShow = [this](TObject* s) {
        try {
            FormShow(s);
        } catch (const std::exception& e) {
            Application->ShowException(e);
        }
    };
}

TForm3::~TForm3()
{
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::FormShow(TObject*)
{
    const TConfig config = ReadConfig(ConfigFileName());
    Edit1->SetText(config.IniDir);
    saverecent_checkbox->SetChecked(config.Saverecent == 1);
    showgrid_checkbox->SetChecked(config.Showgrid == 1);
    viewmode->SetItemIndex(config.ViewMode);
    layout->SetItemIndex(config.Layout);

    filter->ClearItems();
    ListView1->Items().Clear();
    TStringList filters;
    LoadListOrEmpty(filters, FilterFileName());
    for (int i = 0; i < PairCount(filters); ++i) {
        const std::string& mask = filters[2 * i];
        const std::string& description = filters[2 * i + 1];
        filter->AddItem(description + "(" + mask + ")");
        AddListRow(*ListView1, {description, mask});
    }
    filter->SetItemIndex(config.Filter);
}

void TForm3::Button1Click(TObject*)
{
    std::string dir;
    if (SelectDirectory("Please select directory", "", dir))
        Edit1->SetText(IncludeTrailingPathDelimiter(dir));
}

void TForm3::Button2Click(TObject*)
{
    ForceDirectories(ExtractFilePath(ConfigFileName()));
    TIniFile ini(ConfigFileName());
    ini.WriteString(kConfigSection, "IniDir", Edit1->Text());
    ini.WriteInteger(kConfigSection, "Showgrid", showgrid_checkbox->Checked() ? 1 : 0);
    ini.WriteInteger(kConfigSection, "Saverecent", saverecent_checkbox->Checked() ? 1 : 0);
    ini.WriteInteger(kConfigSection, "ViewMode", viewmode->ItemIndex());
    ini.WriteInteger(kConfigSection, "Layout", layout->ItemIndex());
    // With no filter chosen the first one is stored: an index of -1 would
    // leave the next start without a filter.
    ini.WriteInteger(kConfigSection, "Filter", std::max(0, filter->ItemIndex()));

    TStringList lines;
    for (int i = 0; i < ListView1->Items().Count(); ++i) {
        const TListItem* row = ListView1->Items()[i];
        lines.Add(row->SubItems().Count() > 0 ? row->SubItems()[0] : "");
        lines.Add(row->Caption());
    }
    lines.SaveToFile(FilterFileName());
}

void TForm3::Button3Click(TObject*) { Close(); }

void TForm3::Button4Click(TObject*)
{
    if (frmAddFilter)
        frmAddFilter->ShowModal();
}

void TForm3::Button5Click(TObject*) { DeleteSelectedItems(*ListView1); }
void TForm3::Button6Click(TObject*) { MoveListItem(*ListView1, 0); }
void TForm3::Button7Click(TObject*) { MoveListItem(*ListView1, 1); }

TfrmAddFilter::TfrmAddFilter(TComponent* owner) : TForm(owner)
{
    frmAddFilter = this;
    SetCaption("Add new filter");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    Position = TPosition::poScreenCenter;
    SetClientSize(330, 110);
    Place<TLabel>(this, this, 8, 12, 90, 16, "Description   ");
    Edit1 = Place<TEdit>(this, this, 100, 8, 220, 22, "", "Edit1");
    Place<TLabel>(this, this, 8, 42, 90, 16, "Filter:   ");
    Edit2 = Place<TEdit>(this, this, 100, 38, 220, 22, "", "Edit2");
    Button1 = Place<TButton>(this, this, 160, 76, 76, 25, "OK", "Button1");
    Button1->SetDefault(true);
    Button1->OnClick = [this](TObject* s) { Button1Click(s); };
    Button2 = Place<TButton>(this, this, 244, 76, 76, 25, "Cancel", "Button2");
    Button2->Cancel = true;
    Button2->OnClick = [this](TObject* s) { Button2Click(s); };
}

TfrmAddFilter::~TfrmAddFilter()
{
    if (frmAddFilter == this)
        frmAddFilter = nullptr;
}

void TfrmAddFilter::Button1Click(TObject*)
{
    if (Form3)
        AddListRow(*Form3->ListView1, {Edit1->Text(), Edit2->Text()});
    Close();
}

void TfrmAddFilter::Button2Click(TObject*) { Close(); }
