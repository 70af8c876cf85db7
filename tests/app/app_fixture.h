// A program folder of the test's own, the application object with scripted
// prompts, and a main window created on demand.
#pragma once

#include "app/archivepanel.h"
#include "app/mainform.h"
#include "app/optionsdialog.h"
#include "app/tools/folderlisteditor.h"
#include "app/tools/programfiles.h"
#include "rtl/clock.h"
#include "test_support/scripted_prompts.h"
#include "test_support/temp_dir.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QTableView>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>
#include <memory>

// Every text of the given columns of a list in report style fits its
// column as the list draws it (with a little room for the cell's margins).
inline void ExpectTextsFitColumns(TListView& view, const std::vector<int>& columns)
{
    auto* table = view.Widget()->findChild<QTableView*>();
    ASSERT_NE(table, nullptr);
    QAbstractItemModel* model = table->model();
    const QFontMetrics metrics(table->font());
    for (int c : columns)
        for (int r = 0; r < model->rowCount(); ++r) {
            const QString text = model->data(model->index(r, c)).toString();
            EXPECT_LE(metrics.horizontalAdvance(text) + 8, table->columnWidth(c))
                << "column " << c << ": " << text.toStdString();
        }
}

class AppTest : public ::testing::Test {
protected:
    AppTest()
    {
        if (!Application)
            new TApplication();
        Application->SetTitle("Vistrel");
        SetProgramDir(dir.Root());
        scripted = std::make_unique<ScopedScriptedPrompts>(*Application);
        prompts = scripted->prompts;
    }
    ~AppTest() override
    {
        delete form;
        delete Form3;
        delete frmAddFilter;
        delete Form6;
        scripted.reset();
        SetProgramDir("");
    }

    // Puts the program's timers on a clock that only the test moves, for the
    // life of the test (the main window's timers go before the clock does).
    ManualClock& UseManualClock()
    {
        manualClock = std::make_unique<ScopedManualClock>();
        return manualClock->clock;
    }

    // Writes the settings files a fresh program folder has.
    void WriteDefaults()
    {
        dir.Write("ini/config.ini", "[IniParas]\r\nIniDir=\r\nLayout=1\r\nViewMode=0\r\nFilter=0\r\nShowgrid=1\r\nSaverecent=1\r\n");
        dir.Write("ini/filefilter.txt", "*.*\r\nAll files\r\n*.txt\r\nText\r\n*.zip;*.jar\r\nArchives\r\n");
        dir.Write("ini/recent.txt", "");
        dir.Write("mlist/lindex.txt", "");
        dir.Write("ffolders/folders.txt", "");
    }

    // Creates the main window and runs its first showing.
    TForm1& ShowMainWindow()
    {
        form = new TForm1(nullptr);
        new TForm3(nullptr);
        new TfrmAddFilter(nullptr);
        new TForm6(nullptr);
        form->Show();
        QCoreApplication::processEvents();
        return *form;
    }

    // The name of the preview panel in front of the others ("PanelBlank",
    // "PanelRichedit", "PanelZip" ...): the one a person sees.
    std::string FrontPreviewPanel() const
    {
        std::vector<TWinControl*> panels {form->PanelBlank, form->PanelRichedit, form->PanelRtf, form->PanelHex,
            form->PanelPe, form->Panelbs, form->PanelPdf, form->PanelFlash, form->ScrollBoxReal, form->ScrollAvi,
            form->sbox, form->PanelImg};
        if (form->ArchivePanel)
            panels.push_back(form->ArchivePanel->PanelZip);
        const QObjectList& stack = form->pcontent->Widget()->children();
        std::string front;
        qsizetype frontAt = -1;
        for (TWinControl* p : panels) {
            const qsizetype at = stack.indexOf(p->Widget());
            if (at > frontAt) {
                frontAt = at;
                front = p->Name();
            }
        }
        return front;
    }

    // The preview area as a person sees it shows nothing: rendered, every
    // pixel inside its frame has one colour.
    bool PreviewAreaIsBlank() const
    {
        const QImage shot = form->pcontent->Widget()->grab().toImage();
        const int inset = 4;
        if (shot.width() <= 2 * inset || shot.height() <= 2 * inset)
            return false;
        const QRgb first = shot.pixel(inset, inset);
        for (int y = inset; y < shot.height() - inset; ++y)
            for (int x = inset; x < shot.width() - inset; ++x)
                if (shot.pixel(x, y) != first)
                    return false;
        return true;
    }

    std::vector<std::string> MenuCaptions(TMenuItem* menu) const
    {
        std::vector<std::string> out;
        for (int i = 0; i < menu->Count(); ++i)
            out.push_back(menu->Items(i)->Caption());
        return out;
    }

    std::unique_ptr<ScopedManualClock> manualClock;
    TempDir dir;
    std::unique_ptr<ScopedScriptedPrompts> scripted;
    ScriptedPrompts* prompts = nullptr;
    TForm1* form = nullptr;
};
