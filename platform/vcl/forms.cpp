#include "forms.h"

#include "menus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <QResizeEvent>

TApplication* Application = nullptr;
static TScreen g_screen;
TScreen* Screen = &g_screen;

void EnsureQtApplication(int* argc, char** argv)
{
    if (QCoreApplication::instance())
        return;
    static int fakeArgc = 1;
    static char name[] = "vistrel";
    static char* fakeArgv[] = {name, nullptr};
    if (!argc) {
        argc = &fakeArgc;
        argv = fakeArgv;
    }
    new QApplication(*argc, argv);
}

namespace {

// The form's top-level widget: the menu bar above the client area. The
// geometry is kept by hand so it holds while the form is hidden too.
class FormWidget : public QWidget {
public:
    FormWidget() { client = new QWidget(this); }
    void SetMenuBar(QMenuBar* bar)
    {
        menuBar = bar;
        if (bar) {
            bar->setParent(this);
            bar->show();
        }
        Arrange();
    }
    void resizeEvent(QResizeEvent*) override
    {
        Arrange();
        if (form)
            form->AlignControls();
    }
    void Arrange()
    {
        const int menuHeight = menuBar ? menuBar->sizeHint().height() : 0;
        if (menuBar)
            menuBar->setGeometry(0, 0, width(), menuHeight);
        client->setGeometry(0, menuHeight, width(), std::max(0, height() - menuHeight));
    }
    QWidget* client;
    QMenuBar* menuBar = nullptr;
    TForm* form = nullptr;
};

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

class QtPromptService : public TPromptService {
public:
    int MessageBox(const std::string& text, const std::string& caption, UINT flags) override
    {
        QMessageBox box;
        box.setText(QString::fromStdString(text));
        box.setWindowTitle(QString::fromStdString(caption));
        const UINT icon = flags & 0xF0;
        box.setIcon(icon == MB_ICONERROR ? QMessageBox::Critical
                : icon == MB_ICONQUESTION ? QMessageBox::Question
                : icon == MB_ICONWARNING  ? QMessageBox::Warning
                : icon == MB_ICONINFORMATION ? QMessageBox::Information
                                             : QMessageBox::NoIcon);
        switch (flags & 0xF) {
        case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case MB_YESNOCANCEL: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
        case MB_RETRYCANCEL: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
        }
        switch (box.exec()) {
        case QMessageBox::Ok: return IDOK;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Retry: return IDRETRY;
        default: return IDCANCEL;
        }
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        bool ok = false;
        const QString text = QInputDialog::getText(nullptr, QString::fromStdString(caption),
            QString::fromStdString(prompt), QLineEdit::Normal, QString::fromStdString(value), &ok);
        if (ok)
            value = text.toStdString();
        return ok;
    }
    bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory) override
    {
        const QString dir = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(caption),
            QString::fromStdString(directory.empty() ? root : directory));
        if (dir.isEmpty())
            return false;
        directory = dir.toStdString();
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
        if (dlg.exec() != QDialog::Accepted)
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
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return false;
        file = dlg.selectedFiles().first().toStdString();
        filterIndex = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
        return true;
    }
    bool ChooseFont(TFont& font) override
    {
        bool ok = false;
        const QFont f = QFontDialog::getFont(&ok, font.ToQFont());
        if (ok)
            font.FromQFont(f);
        return ok;
    }
};

}

std::unique_ptr<TPromptService> CreateQtPromptService() { return std::make_unique<QtPromptService>(); }

TForm::TForm(TComponent* owner) : TWinControl(owner)
{
    EnsureQtApplication();
    auto* w = new FormWidget();
    w->form = this;
    m_client = w->client;
    SetWidget(w);
    SetVisible(false);
    w->hide();
    SetBounds(0, 0, 640, 480);
}

TForm::~TForm()
{
    if (OnDestroy)
        OnDestroy(this);
    DestroyComponents();
}

QWidget* TForm::ClientWidget() const { return m_client; }

void TForm::SetMenu(TMainMenu* menu)
{
    auto* w = static_cast<FormWidget*>(Widget());
    if (m_menu && m_menu->MenuBar())
        m_menu->MenuBar()->setParent(nullptr);
    m_menu = menu;
    w->SetMenuBar(menu ? menu->MenuBar() : nullptr);
}

void TForm::SetBorderStyle(TFormBorderStyle style)
{
    m_borderStyle = style;
    ApplyWindowFlags();
}

void TForm::SetFormStyle(TFormStyle style)
{
    m_formStyle = style;
    ApplyWindowFlags();
}

void TForm::ApplyWindowFlags()
{
    Qt::WindowFlags f = Qt::Window;
    switch (m_borderStyle) {
    case TFormBorderStyle::bsNone: f |= Qt::FramelessWindowHint; break;
    case TFormBorderStyle::bsDialog: f = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint; break;
    case TFormBorderStyle::bsToolWindow:
    case TFormBorderStyle::bsSizeToolWin: f = Qt::Tool; break;
    default: break;
    }
    if (m_formStyle == TFormStyle::fsStayOnTop)
        f |= Qt::WindowStaysOnTopHint;
    const bool visible = Widget()->isVisible();
    Widget()->setWindowFlags(f);
    if (visible)
        Widget()->show();
}

void TForm::SetWindowState(TWindowState state)
{
    m_windowState = state;
    if (!Widget()->isVisible())
        return;
    if (state == TWindowState::wsMaximized)
        Widget()->showMaximized();
    else if (state == TWindowState::wsMinimized)
        Widget()->showMinimized();
    else
        Widget()->showNormal();
}

void TForm::SetClientSize(int width, int height)
{
    const int menuHeight = m_menu ? m_menu->MenuBar()->sizeHint().height() : 0;
    SetBounds(Left(), Top(), width, height + menuHeight);
}

void TForm::SetBounds(int left, int top, int width, int height)
{
    Widget()->setGeometry(left, top, std::max(0, width), std::max(0, height));
    static_cast<FormWidget*>(Widget())->Arrange();
    AlignControls();
}

void TForm::CaptionChanged() { Widget()->setWindowTitle(QString::fromStdString(Caption())); }

void TForm::PlaceOnScreen()
{
    QWidget* w = Widget();
    QRect area;
    if (Position == TPosition::poScreenCenter || Position == TPosition::poDesktopCenter) {
        if (QScreen* s = QGuiApplication::primaryScreen())
            area = s->availableGeometry();
    } else if ((Position == TPosition::poMainFormCenter || Position == TPosition::poOwnerFormCenter) && Application
        && Application->MainForm() && Application->MainForm() != this) {
        area = Application->MainForm()->Widget()->frameGeometry();
    }
    if (area.isValid())
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
}

void TForm::Show()
{
    if (!m_shownOnce)
        PlaceOnScreen();
    m_shownOnce = true;
    TControl::SetVisible(true);
    if (m_windowState == TWindowState::wsMaximized) {
        // Without a window manager nothing maximises the window: it takes the
        // screen's free area itself.
        if (QScreen* screen = QGuiApplication::primaryScreen())
            Widget()->setGeometry(screen->availableGeometry());
        Widget()->showMaximized();
    }
    else
        Widget()->show();
    Widget()->raise();
}

void TForm::Hide()
{
    TControl::SetVisible(false);
    if (m_modalLoop)
        m_modalLoop->quit();
}

void TForm::DoCreate()
{
    if (OnCreate)
        OnCreate(this);
}

void TForm::DoShow()
{
    if (OnShow)
        OnShow(this);
}

void TForm::Close()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    TCloseAction action = Application && Application->MainForm() == this ? caFree : caHide;
    if (m_modalLevel > 0)
        action = caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return;
    if (m_modalLevel > 0) {
        SetModalResult(m_modalResult == mrNone ? mrCancel : m_modalResult);
        return;
    }
    Hide();
    if (Application && Application->MainForm() == this)
        Application->Terminate();
}

void TForm::SetModalResult(int result)
{
    m_modalResult = result;
    if (result != mrNone && m_modalLoop)
        m_modalLoop->quit();
}

int TForm::ShowModal()
{
    m_modalResult = mrNone;
    ++m_modalLevel;
    Widget()->setWindowModality(Qt::ApplicationModal);
    Show();
    // A nested loop keeps the program responsive while the form waits for
    // its modal result; closing, hiding or a result ends it.
    QPointer<QWidget> guard(Widget());
    QEventLoop loop;
    m_modalLoop = &loop;
    if (m_modalResult == mrNone && Widget()->isVisible())
        loop.exec();
    m_modalLoop = nullptr;
    --m_modalLevel;
    if (guard) {
        Widget()->setWindowModality(Qt::NonModal);
        Hide();
    }
    if (m_modalResult == mrNone)
        m_modalResult = mrCancel;
    return m_modalResult;
}

void TForm::Release() { Widget()->hide(); }

bool TForm::HandleEvent(QEvent* e)
{
    if (e->type() == QEvent::Show && !e->spontaneous()) {
        DoShow();
        return false;
    }
    if (e->type() == QEvent::Close) {
        // The window manager's close button goes through the form's own rules.
        e->ignore();
        Close();
        return true;
    }
    return TWinControl::HandleEvent(e);
}

TApplication::TApplication() : TComponent(nullptr), m_prompts(CreateQtPromptService())
{
    EnsureQtApplication();
    Application = this;
}

TApplication::~TApplication()
{
    if (Application == this)
        Application = nullptr;
}

void TApplication::Initialize() { EnsureQtApplication(); }

void TApplication::SetTitle(const std::string& title)
{
    m_title = title;
    QCoreApplication::setApplicationName(QString::fromStdString(title));
}

std::string TApplication::ExeName() const { return ::ExeName(); }

namespace {
std::atomic<bool> g_terminationRequested {false};

void OnTerminationSignal(int) { g_terminationRequested = true; }
}

void TApplication::Run()
{
    if (!m_mainForm)
        return;
    std::signal(SIGTERM, OnTerminationSignal);
    std::signal(SIGINT, OnTerminationSignal);
    m_mainForm->Show();
    QEventLoop loop;
    m_loop = &loop;
    // Signals only set a flag; the loop looks at it a few times a second.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [this] {
        if (g_terminationRequested.exchange(false) && m_mainForm)
            m_mainForm->Close();
        if (OnIdle)
            OnIdle(this);
    });
    watch.start(200);
    if (!m_terminated)
        loop.exec();
    m_loop = nullptr;
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::Terminate()
{
    m_terminated = true;
    if (m_loop)
        m_loop->quit();
}

void TApplication::ShowException(const std::exception& e)
{
    std::string text = e.what();
    if (!text.empty() && text.back() != '.')
        text += '.';
    MessageBox(text, m_title, MB_OK | MB_ICONERROR);
}

void TApplication::HandleException(const std::exception& e) { ShowException(e); }

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags)
{
    return m_prompts->MessageBox(text, caption, flags);
}

std::unique_ptr<TPromptService> TApplication::SetPrompts(std::unique_ptr<TPromptService> prompts)
{
    std::swap(prompts, m_prompts);
    return prompts;
}

void TScreen::SetCursor(TCursor cursor)
{
    if (cursor == m_cursor)
        return;
    m_cursor = cursor;
    if (m_overridden) {
        QApplication::restoreOverrideCursor();
        m_overridden = false;
    }
    if (cursor != TCursor::crDefault && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setOverrideCursor(cursor == TCursor::crHourGlass ? Qt::WaitCursor : Qt::ArrowCursor);
        m_overridden = true;
    }
}

int TScreen::Width() const
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().width() : 0;
}

int TScreen::Height() const
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().height() : 0;
}

void ShowMessage(const std::string& text)
{
    Application->MessageBox(text, Application->Title(), MB_OK);
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value)
{
    return Application->Prompts().InputQuery(caption, prompt, value);
}

std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& def)
{
    std::string value = def;
    if (!InputQuery(caption, prompt, value))
        return def;
    return value;
}

bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory)
{
    return Application->Prompts().SelectDirectory(caption, root, directory);
}
