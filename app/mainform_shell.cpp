// The main window's folder tree and "Disk Files" list.
#include "mainform.h"

void TForm1::CreateShellTree()
{
    tree = new TTreeView(this);
    tree->SetName("tree");
    tree->SetBounds(0, 0, 225, 200);
    tree->SetAlign(alClient);
    tree->SetParent(PanelLeft);
}

void TForm1::CreateShellList()
{
    list = new TListView(this);
    list->SetName("list");
    list->AddColumn("Name", 200);
    list->AddColumn("Size", 80, true);
    list->AddColumn("Type", 120);
    list->AddColumn("Modified", 120);
    list->SetViewStyle(TViewStyle::vsReport);
    list->SetGridLines(true);
    list->SetAlign(alClient);
    list->SetParent(TabSheet1);
}

// The plain tree holds no folders to select yet.
void TForm1::SelectStartFolder(const std::string&) {}

void TForm1::ApplyFileFilter(const std::string&) {}

int TForm1::FileListCount() const { return list->Items().Count(); }
