// The archive panel under test: the main window showing an archive, the
// extract dialog answered by a script into a temporary target folder, and
// the texts of the panel's rows.
#pragma once

#include "app_fixture.h"

#include "app/archivepanel.h"
#include "app/extractdialogs.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

class ArchivePanelTest : public AppTest {
protected:
    TArchivePanel& Show(const std::string& archive)
    {
        WriteDefaults();
        ShowMainWindow();
        form->CurrentFile = archive;
        form->ViewArchive();
        return *form->ArchivePanel;
    }
    // The extract dialog, when it comes, extracts into the target folder:
    // `which` 0 the selected rows, 1 all of them.
    void Script(TArchivePanel& p, int which = 1)
    {
        p.RunModal = [this, &p, which](TForm* dialog) {
            if (dialog != p.frmExtract)
                return static_cast<int>(mrCancel);
            p.frmExtract->Edit1->SetText(target.Root());
            p.frmExtract->RadioGroup1->SetItemIndex(which);
            p.frmExtract->BitBtn1Click(nullptr);
            return p.frmExtract->ModalResult();
        };
    }
    // Between the cases of a table: an empty target and no main window.
    void NextCase()
    {
        std::filesystem::remove_all(target.Root());
        std::filesystem::create_directories(target.Root());
        delete form;
        form = nullptr;
    }
    // The texts of a row: caption and sub-items.
    std::vector<std::string> Row(TArchivePanel& p, int i)
    {
        std::vector<std::string> out {p.ListView1->Items()[i]->Caption()};
        const TStringList& sub = p.ListView1->Items()[i]->SubItems();
        for (int j = 0; j < sub.Count(); ++j)
            out.push_back(sub[j]);
        return out;
    }
    bool RowHas(TArchivePanel& p, int i, const std::string& text)
    {
        const auto r = Row(p, i);
        return std::find(r.begin(), r.end(), text) != r.end();
    }
    TempDir target;
};
