// The panels of the preview area that outside components fill: the web
// browser, the PDF viewer with its tool bar, menu and status bar, the Flash
// panel, the RealAudio control, the video window of the media player and
// the OLE container.
#include "mainform.h"

#include "media/mplayer.h"
#include "ole/olectrls.h"
#include "pdf/pdfviewer.h"
#include "web/webbrowser.h"

namespace {

TPanel* FillingPanel(TForm* form, TWinControl* parent, const std::string& name, TColor color = clBtnFace)
{
    auto* p = new TPanel(form);
    p->SetName(name);
    p->SetBevelOuter(TBevelCut::bvNone);
    p->SetAlign(alClient);
    // The panels lie on one another: each paints its whole area.
    p->SetColor(color);
    p->SetParent(parent);
    return p;
}

TScrollBox* FillingScrollBox(TForm* form, TWinControl* parent, const std::string& name, TColor color)
{
    auto* box = new TScrollBox(form);
    box->SetName(name);
    box->SetAlign(alClient);
    box->SetColor(color);
    box->SetParent(parent);
    return box;
}

TToolButton* PdfButton(TForm* form, TToolBar* bar, const std::string& name, const std::string& caption,
    const std::string& hint, TNotifyEvent onClick, TToolButtonStyle style = TToolButtonStyle::tbsButton)
{
    auto* b = new TToolButton(form);
    b->SetName(name);
    b->SetStyle(style);
    b->SetCaption(caption);
    b->SetHint(hint);
    b->OnClick = std::move(onClick);
    b->SetParent(bar);
    return b;
}

TMenuItem* PdfMenuItem(TForm* form, TPopupMenu* menu, const std::string& caption, TNotifyEvent onClick)
{
    TMenuItem* item = NewItem(form, caption, std::move(onClick));
    menu->Items()->Add(item);
    return item;
}

} // namespace

void TForm1::CreatePlayerPanels()
{
    Panelbs = FillingPanel(this, pcontent, "Panelbs");
    bs = new TCppWebBrowser(this);
    bs->SetName("bs");
    bs->SetAlign(alClient);
    bs->SetParent(Panelbs);

    PanelPdf = FillingPanel(this, pcontent, "PanelPdf");
    PopupMenuPdf = new TPopupMenu(this);
    PopupMenuPdf->SetName("PopupMenuPdf");
    Rotate2 = PdfMenuItem(this, PopupMenuPdf, "Rotate 90", [this](TObject* s) { Rotate2Click(s); });
    Rotate901 = PdfMenuItem(this, PopupMenuPdf, "Rotate -90", [this](TObject* s) { Rotate901Click(s); });
    Rotate1801 = PdfMenuItem(this, PopupMenuPdf, "Rotate 180", [this](TObject* s) { Rotate1801Click(s); });
    Norotate1 = PdfMenuItem(this, PopupMenuPdf, "No rotate", [this](TObject* s) { Norotate1Click(s); });
    PdfMenuItem(this, PopupMenuPdf, "-", {});
    SelectAll2 = PdfMenuItem(this, PopupMenuPdf, "Select All Text", [this](TObject* s) { SelectAll2Click(s); });
    Copy2 = PdfMenuItem(this, PopupMenuPdf, "Copy", [this](TObject* s) { Copy2Click(s); });
    Clearselect1 = PdfMenuItem(this, PopupMenuPdf, "Clear select", [this](TObject* s) { Clearselect1Click(s); });
    Clearfindresult1 = PdfMenuItem(this, PopupMenuPdf, "Clear found result",
        [this](TObject* s) { Clearfindresult1Click(s); });
    PdfMenuItem(this, PopupMenuPdf, "-", {});
    Print1 = PdfMenuItem(this, PopupMenuPdf, "Print ...", [this](TObject* s) { Print1Click(s); });
    // The PDF text window attaches here when it is built in.
    ExtracttextfromPDF2 = PdfMenuItem(this, PopupMenuPdf, "Extract text from Pdf file...", {});
    ExtracttextfromPDF2->SetEnabled(false);

    tbpdf = new TToolBar(this);
    tbpdf->SetName("tbpdf");
    tbpdf->SetParent(PanelPdf);
    TToolButton* misc = PdfButton(this, tbpdf, "ToolButton1", "Misc", "misc", {}, TToolButtonStyle::tbsDropDown);
    misc->DropdownMenu = PopupMenuPdf;
    misc->OnClick = [this, misc](TObject*) {
        const TPoint p = misc->ClientToScreen(Point(0, misc->Height()));
        PopupMenuPdf->Popup(p.X, p.Y);
    };
    ToolButton14 = PdfButton(this, tbpdf, "ToolButton14", "Zoom in", "zoom in", [this](TObject* s) { ToolButton14Click(s); });
    ToolButton15 = PdfButton(this, tbpdf, "ToolButton15", "Zoom out", "zoom out", [this](TObject* s) { ToolButton15Click(s); });
    ToolButton3 = PdfButton(this, tbpdf, "ToolButton3", "|<", "first page", [this](TObject* s) { ToolButton3Click(s); });
    ToolButton11 = PdfButton(this, tbpdf, "ToolButton11", "<", "previous page", [this](TObject* s) { ToolButton11Click(s); });
    ToolButton12 = PdfButton(this, tbpdf, "ToolButton12", ">", "next page", [this](TObject* s) { ToolButton12Click(s); });
    ToolButton13 = PdfButton(this, tbpdf, "ToolButton13", ">|", "last page", [this](TObject* s) { ToolButton13Click(s); });
    ToolButton16 = PdfButton(this, tbpdf, "ToolButton16", "Select", "select mode",
        [this](TObject* s) { ToolButton16Click(s); }, TToolButtonStyle::tbsCheck);
    ToolButton17 = PdfButton(this, tbpdf, "ToolButton17", "Drag", "drag mode",
        [this](TObject* s) { ToolButton17Click(s); }, TToolButtonStyle::tbsCheck);
    ToolButton16->Grouped = true;
    ToolButton17->Grouped = true;
    ToolButton17->SetDown(true);
    ToolButton19 = PdfButton(this, tbpdf, "ToolButton19", "100%", "Actual size", [this](TObject* s) { ToolButton19Click(s); });
    ToolButton23 = PdfButton(this, tbpdf, "ToolButton23", "Width", "Fit Width", [this](TObject* s) { ToolButton23Click(s); });
    ToolButton46 = PdfButton(this, tbpdf, "ToolButton46", "Height", "Fit Height", [this](TObject* s) { ToolButton46Click(s); });
    ToolButton18 = PdfButton(this, tbpdf, "ToolButton18", "Find", "Find text", [this](TObject* s) { ToolButton18Click(s); });
    ToolButton20 = PdfButton(this, tbpdf, "ToolButton20", "Goto ", "Goto ", [this](TObject* s) { ToolButton20Click(s); });
    Edit2 = new TEdit(this);
    Edit2->SetName("Edit2");
    Edit2->SetBounds(0, 0, 40, 22);
    Edit2->SetParent(tbpdf);

    sbpdf = new TStatusBar(this);
    sbpdf->SetName("sbpdf");
    sbpdf->SetParent(PanelPdf);
    sbpdf->SetPanelCount(2);
    sbpdf->SetPanelWidth(0, 100);
    sbpdf->SetPanelWidth(1, 50);
    PanelPdf2 = FillingPanel(this, PanelPdf, "PanelPdf2");
    pv = new TPdfViewerOcx(this);
    pv->SetName("pv");
    pv->SetAlign(alClient);
    pv->SetParent(PanelPdf2);
    pv->PopupMenu = PopupMenuPdf;

    PanelFlash = FillingPanel(this, pcontent, "PanelFlash");

    ScrollBoxReal = FillingScrollBox(this, pcontent, "ScrollBoxReal", clBtnFace);
    real = new TRealAudio(this);
    real->SetName("real");
    real->SetAlign(alClient);
    real->SetParent(ScrollBoxReal);
    real->Hide();

    ScrollAvi = FillingScrollBox(this, pcontent, "ScrollAvi", clBlack);
    Panel1 = FillingPanel(this, ScrollAvi, "Panel1", clBlack);
    mp = new TMediaPlayer(this);
    mp->SetName("mp");

    sbox = FillingScrollBox(this, pcontent, "sbox", clWhite);
    ole = new TOleContainer(this);
    ole->SetName("ole");
    ole->SetHint("DoubleClick to view  the  whole  document.");
    ole->SetParent(sbox);
}
