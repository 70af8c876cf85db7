// The options dialog "Vistrel Config" and its "Add new filter" dialog. They
// show and rewrite ini/config.ini and ini/filefilter.txt; the running main
// window is not changed, the next start uses what was saved.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

class TForm3 : public TForm {
public:
    explicit TForm3(TComponent* owner);
    ~TForm3() override;

    TPageControl* PageControl1;
    TTabSheet *TabGeneral, *TabView, *TabFilter;
    TComboBox* filter;
    TEdit* Edit1;
    TButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7;
    TCheckBox *saverecent_checkbox, *showgrid_checkbox;
    TRadioGroup *layout, *viewmode;
    TListView* ListView1;

    void FormShow(TObject* sender);
    void Button1Click(TObject* sender); // "..."
    void Button2Click(TObject* sender); // Save all
    void Button3Click(TObject* sender); // Close
    void Button4Click(TObject* sender); // Add
    void Button5Click(TObject* sender); // Delete
    void Button6Click(TObject* sender); // Up
    void Button7Click(TObject* sender); // Down
};

class TfrmAddFilter : public TForm {
public:
    explicit TfrmAddFilter(TComponent* owner);
    ~TfrmAddFilter() override;
    TEdit *Edit1, *Edit2;
    TButton *Button1, *Button2;
    void Button1Click(TObject* sender); // OK
    void Button2Click(TObject* sender); // Cancel
};

// The small picture of a window layout (1 to 6) beside its item on the
// "View" tab: tree, list and content placed as the item's caption names them.
enum class TLayoutPane { Tree, List, Content };
TColor LayoutPaneColor(TLayoutPane pane);
void DrawLayoutSketch(TCanvas& canvas, const TRect& bounds, int layout);

extern TForm3* Form3;
extern TfrmAddFilter* frmAddFilter;
