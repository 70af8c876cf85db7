// The panels of the preview area that outside components fill: the web
// browser, the PDF viewer with its tool bar, menu and status bar, the Flash
// panel, the RealAudio control, the video window of the media player and
// the OLE container.
#include "mainform.h"

#include "panelparts.h"

#include "media/mplayer.h"
#include "ole/olectrls.h"
#include "pdf/pdfviewer.h"
#include "web/webbrowser.h"

namespace {

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
    TToolButton* b = PanelButton(form, bar, caption, hint, std::move(onClick), style);
    b->SetName(name);
    return b;
}

} // namespace

void TForm1::CreatePlayerPanels()
{
    Panelbs = PreviewPanel(this, pcontent, "Panelbs");
    bs = new TCppWebBrowser(this);
    bs->SetName("bs");
    bs->SetAlign(alClient);
    bs->SetParent(Panelbs);

    PanelPdf = PreviewPanel(this, pcontent, "PanelPdf");
    PopupMenuPdf = new TPopupMenu(this);
    PopupMenuPdf->SetName("PopupMenuPdf");
    Rotate2 = PopupItem(this, PopupMenuPdf, "Rotate 90", [this](TObject* s) { Rotate2Click(s); });
    Rotate901 = PopupItem(this, PopupMenuPdf, "Rotate -90", [this](TObject* s) { Rotate901Click(s); });
    Rotate1801 = PopupItem(this, PopupMenuPdf, "Rotate 180", [this](TObject* s) { Rotate1801Click(s); });
    Norotate1 = PopupItem(this, PopupMenuPdf, "No rotate", [this](TObject* s) { Norotate1Click(s); });
    PopupItem(this, PopupMenuPdf, "-", {});
    SelectAll2 = PopupItem(this, PopupMenuPdf, "Select All Text", [this](TObject* s) { SelectAll2Click(s); });
    Copy2 = PopupItem(this, PopupMenuPdf, "Copy", [this](TObject* s) { Copy2Click(s); });
    Clearselect1 = PopupItem(this, PopupMenuPdf, "Clear select", [this](TObject* s) { Clearselect1Click(s); });
    Clearfindresult1 = PopupItem(this, PopupMenuPdf, "Clear found result",
        [this](TObject* s) { Clearfindresult1Click(s); });
    PopupItem(this, PopupMenuPdf, "-", {});
    Print1 = PopupItem(this, PopupMenuPdf, "Print ...", [this](TObject* s) { Print1Click(s); });
    ExtracttextfromPDF2 = PopupItem(this, PopupMenuPdf, "Extract text from Pdf file...",
        [this](TObject* s) { ExtracttextfromPDF2Click(s); });

    tbpdf = PanelToolBar(this, PanelPdf, "tbpdf");
    TToolButton* misc = PdfButton(this, tbpdf, "ToolButton1", "Misc", "misc", {}, TToolButtonStyle::tbsDropDown);
    misc->DropdownMenu = PopupMenuPdf;
    misc->OnClick = [this, misc](TObject*) { PopupBelow(PopupMenuPdf, misc); };
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
    PanelPdf2 = PreviewPanel(this, PanelPdf, "PanelPdf2");
    pv = new TPdfViewerOcx(this);
    pv->SetName("pv");
    pv->SetAlign(alClient);
    pv->SetParent(PanelPdf2);
    pv->PopupMenu = PopupMenuPdf;
    // The page counter and the page box follow the page shown, however it
    // came into view.
    pv->OnPageChange = [this](TObject*) { ShowPdfStatus(); };
    // Ctrl+C copies the selection as the menu's "Copy" does.
    pv->OnKeyDown = [this](TObject* sender, WORD& key, TShiftState shift) {
        if (key == 'C' && (shift & ssCtrl) && !(shift & (ssAlt | ssShift))) {
            key = 0;
            Copy2Click(sender);
        }
    };

    PanelFlash = PreviewPanel(this, pcontent, "PanelFlash");

    ScrollBoxReal = FillingScrollBox(this, pcontent, "ScrollBoxReal", clBtnFace);
    real = new TRealAudio(this);
    real->SetName("real");
    real->SetAlign(alClient);
    real->SetParent(ScrollBoxReal);
    real->Hide();

    ScrollAvi = FillingScrollBox(this, pcontent, "ScrollAvi", clBlack);
    Panel1 = PreviewPanel(this, ScrollAvi, "Panel1", clBlack);
    mp = new TMediaPlayer(this);
    mp->SetName("mp");

    sbox = FillingScrollBox(this, pcontent, "sbox", clWhite);
    ole = new TOleContainer(this);
    ole->SetName("ole");
    ole->SetHint("DoubleClick to view  the  whole  document.");
    ole->SetParent(sbox);
    ole->OnObjectError = [this](TObject*, const EOleSysError& error) { OleObjectError(error); };
}
