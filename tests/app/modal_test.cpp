// Every modal window of the program, opened through its menu item or button
// on a shown main window and closed each way a user closes it (its buttons,
// Escape, Return, the close box) or the program does (a result set in code,
// the end of the program). After each the main window must take keys again:
// Down moves the file list's selection.
#include "app_fixture.h"

#include "app/about.h"
#include "app/archivepanel.h"
#include "app/extractdialogs.h"
#include "app/tools/playlistmanager.h"
#include "app/tools/wav2mp3.h"
#include "test_support/modal_driver.h"

#include "vcl/forms.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

namespace {

std::string ZipFixture(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/../archive_extract/fixtures/" + name;
}

// The TForm shown by a modal window, found among the components of its owner.
template <typename T> T* FormOf(TComponent* owner, QWidget* window)
{
    for (int i = 0; i < owner->ComponentCount(); ++i)
        if (auto* f = dynamic_cast<T*>(owner->Component(i)); f && f->Widget() == window)
            return f;
    return nullptr;
}

QPushButton* ButtonCaptioned(QWidget* window, const QString& caption)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == caption && b->isVisible())
            return b;
    ADD_FAILURE() << "no button " << caption.toStdString();
    return nullptr;
}

void Click(QWidget* window, const QString& caption)
{
    if (QPushButton* b = ButtonCaptioned(window, caption))
        ClickWidget(b);
}

class ModalDialogTest : public AppTest {
protected:
    ~ModalDialogTest() override { ExpectNoPendingModalSteps(); }
    // Shows an archive in the preview, as choosing it in the list does.
    TArchivePanel& ShowArchive(const std::string& name)
    {
        form->CurrentFile = ZipFixture(name);
        form->ViewArchive();
        return *form->ArchivePanel;
    }
    // A main window showing a folder of five files, the first one selected
    // with the mouse, so the file list has the keyboard.
    TForm1& ShowWithFiles()
    {
        WriteDefaults();
        for (const char* name : {"a.xyz", "b.xyz", "c.xyz", "d.xyz", "e.xyz"})
            dir.Write(std::string("files/") + name, "x");
        dir.Write("ini/config.ini", "[IniParas]\r\nIniDir=" + dir.Path("files") +
            "/\r\nLayout=1\r\nViewMode=0\r\nFilter=0\r\nShowgrid=1\r\nSaverecent=1\r\n");
        TForm1& f = ShowMainWindow();
        f.Widget()->activateWindow();
        EXPECT_GE(f.list->Items().Count(), 5);
        ClickRow(f.list->ActiveView(), 0);
        return f;
    }
    int Selected() const { return form->list->Selected() ? form->list->Selected()->Index() : -1; }
    // The main window is the active one again and its file list takes the
    // mouse and keys.
    void ExpectInputBack()
    {
        EXPECT_TRUE(HasInput(form->Widget())) << "a modal window is left or the main window is not active";
        // Archives take the focus when they are shown (extraction shows its
        // target folder, opening an archive its folder): walk the five files.
        form->SelectStartFolder(dir.Path("files"));
        ClickRow(form->list->ActiveView(), 1);
        EXPECT_EQ(Selected(), 1) << "the click did not reach the file list";
        PressKey(form->Widget(), Qt::Key_Down);
        EXPECT_EQ(Selected(), 2) << "the key did not reach the file list";
        PressKey(form->Widget(), Qt::Key_Up);
        EXPECT_EQ(Selected(), 1);
    }
};

struct Way {
    const char* name;
    std::function<void(QWidget* window)> close;
};

}  // namespace

TEST_F(ModalDialogTest, AboutBoxClosesEveryWay)
{
    TForm1& f = ShowWithFiles();
    const Way ways[] = {
        {"OK", [](QWidget* w) { Click(w, "OK"); }},
        {"Return", [](QWidget* w) { PressKey(w, Qt::Key_Return); }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
        {"result in code", [&f](QWidget* w) { FormOf<TfrmAbout>(&f, w)->SetModalResult(mrOk); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bool seen = false;
        WhenModal([&](QWidget* w) {
            ASSERT_NE(FormOf<TfrmAbout>(&f, w), nullptr);
            seen = true;
            way.close(w);
        });
        f.About1->Action()->trigger();
        EXPECT_TRUE(seen);
        ExpectInputBack();
    }
}

TEST_F(ModalDialogTest, ConverterWindowsCloseWithEscapeAndTheirCloseButton)
{
    TForm1& f = ShowWithFiles();
    const Way ways[] = {
        {"Close", [](QWidget* w) { Click(w, "Close"); }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        bool seen = false;
        WhenModal([&](QWidget* w) {
            ASSERT_NE(FormOf<TFormWav2Mp3>(&f, w), nullptr);
            seen = true;
            way.close(w);
        });
        f.ConvertWAVtoMP31Click(nullptr);
        EXPECT_TRUE(seen);
        ExpectInputBack();
    }
}

TEST_F(ModalDialogTest, OptionsDialogClosesEveryWayAndReturnSavesAll)
{
    TForm1& f = ShowWithFiles();
    const Way ways[] = {
        {"Close", [](QWidget* w) { Click(w, "Close"); }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
        {"result in code", [](QWidget*) { Form3->SetModalResult(mrOk); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        WhenModal([&](QWidget* w) {
            ASSERT_EQ(w, Form3->Widget());
            way.close(w);
        });
        f.config2->Action()->trigger();
        ExpectInputBack();
    }

    // Return presses "Save all", which writes the files and keeps the dialog open.
    dir.Write("ini/filefilter.txt", "*.*\r\nAll\r\n");
    WhenModal([&](QWidget* w) {
        Form3->showgrid_checkbox->SetChecked(false);
        Form3->showgrid_checkbox->SetFocus();
        PressKey(w, Qt::Key_Return);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(dir.Read("ini/config.ini").find("Showgrid=0") != std::string::npos, true);
        PressKey(w, Qt::Key_Escape);
    });
    f.config2->Action()->trigger();
    ExpectInputBack();
}

TEST_F(ModalDialogTest, FilterDialogClosesEveryWayAndGivesTheOptionsDialogBack)
{
    TForm1& f = ShowWithFiles();
    const Way ways[] = {
        {"OK", [](QWidget* w) { Click(w, "OK"); }},
        {"Cancel", [](QWidget* w) { Click(w, "Cancel"); }},
        // Typed into the description, Return presses the default button OK.
        {"Return", [](QWidget* w) {
             frmAddFilter->Edit1->SetFocus();
             QTest::keyClicks(frmAddFilter->Edit1->Widget(), "Images");
             PressKey(w, Qt::Key_Return);
         }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
    };
    int rowsAdded = 0;
    WhenModal([&](QWidget* options) {
        Form3->PageControl1->SetActivePage(Form3->TabFilter);
        const int rows = Form3->ListView1->Items().Count();
        for (const Way& way : ways) {
            SCOPED_TRACE(way.name);
            WhenModal([&](QWidget* w) {
                ASSERT_EQ(w, frmAddFilter->Widget());
                way.close(w);
            }, options);
            ClickWidget(Form3->Button4->Widget());
            EXPECT_FALSE(frmAddFilter->Widget()->isVisible());
            EXPECT_TRUE(HasInput(options)) << "the options dialog is not back in front";
        }
        rowsAdded = Form3->ListView1->Items().Count() - rows;
        PressKey(options, Qt::Key_Escape);
    });
    f.config2->Action()->trigger();
    EXPECT_EQ(rowsAdded, 2) << "OK and Return add a row, the others do not";
    ExpectInputBack();
}

TEST_F(ModalDialogTest, ListEditorsCloseWithTheirButtonsEscapeAndTheCloseBox)
{
    TForm1& f = ShowWithFiles();
    const Way ways[] = {
        {"Close", [](QWidget* w) { Click(w, "Close"); }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        WhenModal([&](QWidget* w) {
            EXPECT_NE(FormOf<TForm4>(&f, w), nullptr);
            way.close(w);
        });
        f.ModifyPlayList1->Action()->trigger();
        ExpectInputBack();

        // The folder-list editor, and its add dialog inside it.
        WhenModal([&](QWidget* editor) {
            EXPECT_NE(FormOf<TForm5>(&f, editor), nullptr);
            WhenModal([&](QWidget* add) {
                EXPECT_EQ(add, Form6->Widget());
                way.close(add);
            }, editor);
            Click(editor, "Add");
            EXPECT_TRUE(HasInput(editor));
            way.close(editor);
        });
        f.EditFolderList1->Action()->trigger();
        ExpectInputBack();
    }
}

TEST_F(ModalDialogTest, ExtractDialogClosesEveryWay)
{
    ShowWithFiles();
    TArchivePanel& p = ShowArchive("deflated.zip");
    const Way ways[] = {
        {"Cancel", [](QWidget* w) { Click(w, "Cancel"); }},
        {"Escape", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }},
        {"close box", [](QWidget* w) { PressCloseBox(w); }},
        {"result in code", [&p](QWidget*) { p.frmExtract->SetModalResult(mrCancel); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        WhenModal([&](QWidget* w) {
            ASSERT_EQ(w, p.frmExtract->Widget());
            // The target folder's edit has the keys, its text selected so that
            // typing replaces it; Escape goes from it to Cancel.
            EXPECT_EQ(QApplication::focusWidget(), p.frmExtract->Edit1->Widget());
            EXPECT_EQ(static_cast<QLineEdit*>(p.frmExtract->Edit1->Widget())->selectedText().toStdString(),
                p.frmExtract->Edit1->Text());
            EXPECT_FALSE(p.frmExtract->Edit1->Text().empty());
            way.close(w);
        });
        ClickWidget(p.bextract->Widget());
        ExpectInputBack();
        // The click in the file list showed another file: back to the archive.
        ShowArchive("deflated.zip");
    }
    EXPECT_EQ(p.ActiveExtractor, nullptr) << "nothing was extracted";
}

TEST_F(ModalDialogTest, OverwriteDialogAnswersAndClosesEveryWay)
{
    ShowWithFiles();
    TempDir target;
    struct Case {
        const char* name;
        std::function<void(QWidget*)> answer;
        bool replaced;
        bool restExtracted;  // false: the answer stopped the extraction
    };
    const Case cases[] = {
        {"Yes", [](QWidget* w) { Click(w, "&Yes"); }, true, true},
        {"Return (Yes is the default)", [](QWidget* w) { PressKey(w, Qt::Key_Return); }, true, true},
        {"No", [](QWidget* w) { Click(w, "&No"); }, false, true},
        {"close box (cancels the extraction)", [](QWidget* w) { PressCloseBox(w); }, false, false},
        {"Escape (as the close box)", [](QWidget* w) { PressKey(w, Qt::Key_Escape); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TArchivePanel& p = ShowArchive("stored.zip");
        std::vector<std::string> names;
        for (int i = 0; i < p.ListView1->Items().Count(); ++i)
            names.push_back(p.ListView1->Items()[i]->Caption());
        ASSERT_FALSE(names.empty());
        target.Write(names[0], "old");
        int asked = 0;
        WhenModal([&](QWidget* extract) {
            p.frmExtract->Edit1->SetText(target.Root());
            p.frmExtract->CheckBox1->SetChecked(false);  // every entry straight into the target
            // Every existing file asks; the first answer is the one under test,
            // "Don't ask again" keeps it for the rest.
            WhenModal([&](QWidget* w) {
                ASSERT_EQ(w, p.frmOverwrite->Widget());
                ++asked;
                p.frmOverwrite->CheckBox1->SetChecked(true);
                c.answer(w);
            }, extract);
            PressKey(extract, Qt::Key_Return);
        });
        prompts->asked.clear();
        ClickWidget(p.bextract->Widget());
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(target.Read(names[0]) != "old", c.replaced);
        int files = 0;
        for (const auto& e : std::filesystem::directory_iterator(target.Root()))
            files += e.is_regular_file() ? 1 : 0;
        EXPECT_EQ(files > 1, c.restExtracted) << files << " files in the target";
        ExpectInputBack();
        std::filesystem::remove_all(target.Root());
        std::filesystem::create_directories(target.Root());
    }
}

TEST_F(ModalDialogTest, RealQuestionsOfTheProgramGiveTheInputBack)
{
    TForm1& f = ShowWithFiles();
    std::unique_ptr<TPromptService> scriptedService = Application->SetPrompts(CreateQtPromptService());

    // The description box of "Add current folder to folderlist", cancelled.
    WhenModal([](QWidget* w) {
        EXPECT_NE(w->findChild<QLineEdit*>(), nullptr);
        PressKey(w, Qt::Key_Escape);
    });
    f.Addcurrentfoldertofolderlist1->Action()->trigger();
    ExpectInputBack();

    // The password box of an encrypted archive hides what is typed.
    TArchivePanel& p = ShowArchive("aes128.zip");
    TempDir target;
    bool hidden = false;
    WhenModal([&](QWidget* extract) {
        p.frmExtract->Edit1->SetText(target.Root());
        WhenModal([&](QWidget* w) {
            QLineEdit* line = w->findChild<QLineEdit*>();
            ASSERT_NE(line, nullptr);
            EXPECT_EQ(w->windowTitle(), "Encrypted file...");
            hidden = line->echoMode() == QLineEdit::Password;
            QTest::keyClicks(line, "Secret1");
            PressKey(w, Qt::Key_Return);
        }, extract);
        PressKey(extract, Qt::Key_Return);
    });
    ClickWidget(p.bextract->Widget());
    EXPECT_TRUE(hidden) << "the password is shown as it is typed";
    EXPECT_EQ(target.Read("docs/notes.txt").size(), 300u);
    ExpectInputBack();

    // "...not found." from inside the extract dialog, then Escape.
    ShowArchive("aes128.zip");
    WhenModal([&](QWidget* extract) {
        p.frmExtract->Edit1->SetText(target.Path("missing"));
        WhenModal([&](QWidget* box) {
            ASSERT_NE(qobject_cast<QMessageBox*>(box), nullptr);
            PressKey(box, Qt::Key_Return);
            Later([&, extract] {
                EXPECT_TRUE(HasInput(extract)) << "the extract dialog is not back in front";
                PressKey(extract, Qt::Key_Escape);
            });
        }, extract);
        PressKey(extract, Qt::Key_Return);
    });
    ClickWidget(p.bextract->Widget());
    ExpectInputBack();
    Application->SetPrompts(std::move(scriptedService));
}

TEST_F(ModalDialogTest, ThePasswordQuestionIsAskedAsASecret)
{
    ShowWithFiles();
    TArchivePanel& p = ShowArchive("aes128.zip");
    TempDir target;
    p.RunModal = [&](TForm* dialog) {
        p.frmExtract->Edit1->SetText(target.Root());
        p.frmExtract->BitBtn1Click(nullptr);
        return dialog->ModalResult();
    };
    prompts->PushCancel();
    p.bextractClick(nullptr);
    ASSERT_FALSE(prompts->asked.empty());
    const auto& a = prompts->asked.front();
    EXPECT_EQ(a.kind, "input");
    EXPECT_EQ(a.caption, "Encrypted file...");
    EXPECT_EQ(a.text, "Enter password");
    EXPECT_TRUE(a.password);
}

namespace {

// Opens the Extract dialog in the running program and sends the process the
// session manager's SIGTERM from inside the dialog's loop; exits 0 when the
// program ends by itself within two seconds, with the recent list saved and
// no modal window left.
[[noreturn]] void EndWithTheExtractDialogOpen(TForm1& f, const std::string& recentFile)
{
    Application->SetMainForm(&f);
    TArchivePanel& p = *f.ArchivePanel;
    auto sent = std::make_shared<std::chrono::steady_clock::time_point>();
    WhenModal([&p, sent](QWidget* w) {
        if (w != p.frmExtract->Widget())
            std::_Exit(3);
        *sent = std::chrono::steady_clock::now();
        std::raise(SIGTERM);
    });
    QTimer::singleShot(0, [&p] { ClickWidget(p.bextract->Widget()); });
    // A program that does not end is stopped here.
    QTimer::singleShot(10000, [] { std::_Exit(4); });
    Application->Run();
    const auto took = std::chrono::steady_clock::now() - *sent;
    if (took > std::chrono::seconds(2))
        std::_Exit(5);
    if (QApplication::activeModalWidget() || p.frmExtract->Widget()->isVisible())
        std::_Exit(6);
    std::ifstream in(recentFile);
    std::string first;
    std::getline(in, first);
    if (first.rfind(ZipFixture("deflated.zip"), 0) != 0)
        std::_Exit(7);
    std::_Exit(0);
}

}  // namespace

TEST_F(ModalDialogTest, TerminationSignalEndsTheProgramWithTheExtractDialogOpen)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TForm1& f = ShowWithFiles();
            f.OpenFilePath(ZipFixture("deflated.zip"));
            EndWithTheExtractDialogOpen(f, dir.Path("ini/recent.txt"));
        },
        ::testing::ExitedWithCode(0), "");
}
