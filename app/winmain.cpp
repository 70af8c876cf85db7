#include "winmain.h"

#include "about.h"
#include "mainform.h"
#include "optionsdialog.h"
#include "tools/extractpdf.h"
#include "tools/folderlisteditor.h"
#include "tools/searchfiles.h"

#include <cstdio>
#include <cstdlib>

std::string RawCommandLine(const std::string& exeBaseName, const std::vector<std::string>& args)
{
    std::string line = exeBaseName;
    for (const std::string& a : args) {
        line += ' ';
        line += a.find(' ') != std::string::npos ? "\"" + a + "\"" : a;
    }
    return line;
}

std::string CommandLinePath(const std::string& exeBaseName, const std::vector<std::string>& args)
{
    // A relative name would mean another file once the list or the recent
    // files are read from another folder.
    return ExpandFileName(FileFromCommandLine(RawCommandLine(exeBaseName, args), exeBaseName));
}

int VistrelMain(int argc, char** argv)
{
    EnsureQtApplication(&argc, argv);
    TApplication app;
    try {
        auto* splash = new TfrmWelcome(&app);
        splash->Show();
        splash->Repaint();
        app.Initialize();
        app.SetTitle("Vistrel");
        app.CreateForm(Form1);
        app.CreateForm(frmSearchFiles);
        app.CreateForm(Form6);
        app.CreateForm(Form3);
        app.CreateForm(frmAddFilter);
        app.CreateForm(frmPDF);
        Form1->Splash = splash;
        if (argc > 1) {
            const std::string exeName = ExtractFileName(app.ExeName());
            std::vector<std::string> args(argv + 1, argv + argc);
            Form1->HasCommandLineFile = true;
            Form1->CommandLineFile = CommandLinePath(exeName, args);
        }
        // A trace of the windows shown, for scripts that drive the program.
        if (std::getenv("VISTREL_TRACE_WINDOWS")) {
            TNotifyEvent shown = Form1->OnShow;
            Form1->OnShow = [shown](TObject* s) {
                shown(s);
                std::printf("main window shown: %s\n", Form1->Caption().c_str());
                std::fflush(stdout);
            };
        }
        app.Run();
    } catch (const std::exception& e) {
        app.ShowException(e);
    } catch (...) {
        app.ShowException(Exception(""));
    }
    return 0;
}
