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
            Form1->CommandLineFile = FileFromCommandLine(RawCommandLine(exeName, args), exeName);
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
