// The prompt service of a real session: Qt's message, input, file, folder,
// font and print dialogs, each run as a modal loop of the class library, so the
// program's end closes it and the window behind it gets its input back.
#include "forms.h"
#include "modal.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QFont>
#include <QFontMetrics>
#include <QBoxLayout>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>
#include <QWindow>

namespace {

// Runs a dialog modally; Rejected at once when the program is ending.
int RunDialog(QDialog& dialog)
{
    if (ProgramEnding())
        return QDialog::Rejected;
    ModalScope scope([&dialog] { dialog.reject(); });
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.createWinId();
    if (QWidget* owner = scope.Owner(); owner && owner->windowHandle())
        dialog.windowHandle()->setTransientParent(owner->windowHandle());
    // Without a window manager a new window does not become active by itself.
    QTimer::singleShot(0, &dialog, [&dialog] { ModalScope::Activate(&dialog); });
    return dialog.exec();
}

QString QtFilter(const std::string& filter)
{
    // "Text (*.txt)|*.txt|All|*.*" -> "Text (*.txt) (*.txt);;All (*.*)"
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts[i + 1];
        masks.replace(';', ' ');
        out << parts[i] + " (" + masks + ")";
    }
    return out.join(";;");
}

QMessageBox::Icon IconOf(UINT flags)
{
    switch (flags & 0xF0) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(UINT flags)
{
    switch (flags & 0xF) {
    case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
    case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_RETRYCANCEL: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

// Message and input boxes are dialogs of a fixed size: a title bar with a
// close box, no minimise or maximise, and wide enough for the whole title.
void MakeFixedDialog(QDialog& dialog, const QString& title)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // Room for the title (window managers draw it bold at about the
    // program's size) and, beside it, the window menu and the close box.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const int titleWidth = metrics.horizontalAdvance(title) + 6 * metrics.height();
    // The boxes size themselves from their layouts, whatever their minimum.
    auto* spacer = new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addItem(spacer, grid->rowCount(), 0, 1, grid->columnCount());
    else if (auto* box = qobject_cast<QBoxLayout*>(dialog.layout()))
        box->addItem(spacer);
    else
        delete spacer;
    // The boxes take their size as they show (FixedMessageBox, FixedInputDialog).
}

// A message box lays itself out as it shows, and then lets its width be
// dragged: it keeps the size it took.
class FixedMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* e) override
    {
        QMessageBox::showEvent(e);
        setFixedSize(size());
    }
};

// An input box sets its layout's size rule as it shows; it then keeps the
// size it took, whatever is typed.
class FixedInputDialog : public QInputDialog {
protected:
    void showEvent(QShowEvent* e) override
    {
        QInputDialog::showEvent(e);
        if (layout())
            layout()->setSizeConstraint(QLayout::SetFixedSize);
        setFixedSize(size());
    }
};

class QtPromptService : public TPromptService {
public:
    int MessageBox(const std::string& text, const std::string& caption, UINT flags) override
    {
        FixedMessageBox box(IconOf(flags), QString::fromStdString(caption), QString::fromStdString(text), ButtonsOf(flags));
        MakeFixedDialog(box, box.windowTitle());
        RunDialog(box);
        switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Retry: return IDRETRY;
        default: return IDCANCEL;
        }
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        return AskText(caption, prompt, value, QLineEdit::Normal);
    }
    bool PasswordQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        return AskText(caption, prompt, value, QLineEdit::Password);
    }
    bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory) override
    {
        QFileDialog dlg(nullptr, QString::fromStdString(caption),
            QString::fromStdString(directory.empty() ? root : directory));
        dlg.setFileMode(QFileDialog::Directory);
        dlg.setOption(QFileDialog::ShowDirsOnly);
        if (RunDialog(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return false;
        directory = dlg.selectedFiles().first().toStdString();
        return true;
    }
    bool OpenFiles(const TFileDialogRequest& r, std::vector<std::string>& files) override
    {
        QFileDialog dlg(nullptr, QString::fromStdString(r.Title), QString::fromStdString(r.InitialDir),
            QtFilter(r.Filter));
        dlg.setFileMode(r.MultiSelect ? QFileDialog::ExistingFiles
                : r.MustExist         ? QFileDialog::ExistingFile
                                      : QFileDialog::AnyFile);
        if (!r.FileName.empty())
            dlg.selectFile(QString::fromStdString(r.FileName));
        if (RunDialog(dlg) != QDialog::Accepted)
            return false;
        files.clear();
        for (const QString& f : dlg.selectedFiles())
            files.push_back(f.toStdString());
        return !files.empty();
    }
    bool SaveFile(const TFileDialogRequest& r, std::string& file, int& filterIndex) override
    {
        QFileDialog dlg(nullptr, QString::fromStdString(r.Title), QString::fromStdString(r.InitialDir),
            QtFilter(r.Filter));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(QString::fromStdString(r.DefaultExt));
        const QStringList filters = dlg.nameFilters();
        if (r.FilterIndex >= 1 && r.FilterIndex <= filters.size())
            dlg.selectNameFilter(filters[r.FilterIndex - 1]);
        if (!r.FileName.empty())
            dlg.selectFile(QString::fromStdString(r.FileName));
        if (RunDialog(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return false;
        file = dlg.selectedFiles().first().toStdString();
        filterIndex = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
        return true;
    }
    bool ChooseFont(TFont& font) override
    {
        QFontDialog dlg(font.ToQFont());
        if (RunDialog(dlg) != QDialog::Accepted)
            return false;
        font.FromQFont(dlg.selectedFont());
        return true;
    }
    bool PrintSetup(const TPrintRequest& r, TPrintChoice& choice) override
    {
        QPrinter printer;
        printer.setDocName(QString::fromStdString(r.Title));
        printer.setFromTo(r.MinPage, r.MaxPage);
        QPrintDialog dlg(&printer);
        dlg.setMinMax(r.MinPage, r.MaxPage);
        if (RunDialog(dlg) != QDialog::Accepted)
            return false;
        choice.PrinterName = printer.printerName().toStdString();
        choice.OutputFile = printer.outputFileName().toStdString();
        choice.FromPage = printer.fromPage();
        choice.ToPage = printer.toPage();
        choice.Copies = printer.copyCount();
        return true;
    }

private:
    static bool AskText(const std::string& caption, const std::string& prompt, std::string& value, QLineEdit::EchoMode echo)
    {
        FixedInputDialog dlg;
        dlg.setInputMode(QInputDialog::TextInput);
        dlg.setWindowTitle(QString::fromStdString(caption));
        dlg.setLabelText(QString::fromStdString(prompt));
        dlg.setTextEchoMode(echo);
        dlg.setTextValue(QString::fromStdString(value));
        MakeFixedDialog(dlg, dlg.windowTitle());
        if (RunDialog(dlg) != QDialog::Accepted)
            return false;
        value = dlg.textValue().toStdString();
        return true;
    }
};

}  // namespace

std::unique_ptr<TPromptService> CreateQtPromptService() { return std::make_unique<QtPromptService>(); }
