#include "forms.h"
#include "gdi/mfplayer.h"
#include "rtl/threads.h"
#include "win/memadvise.h"

#include "menus.h"
#include "modal.h"
#include "stdctrls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

TApplication* Application = nullptr;
static TScreen g_screen;
TScreen* Screen = &g_screen;

void RunEventHandler(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        if (!Application)
            throw;
        Application->HandleException(e);
    } catch (...) {
        if (!Application)
            throw;
        Application->HandleException(Exception(""));
    }
}

void EnsureQtApplication(int* argc, char** argv)
{
    if (!QCoreApplication::instance()) {
        KeepFreedBlocksForReuse();
        static int fakeArgc = 1;
        static char name[] = "vistrel";
        static char* fakeArgv[] = {name, nullptr};
        if (!argc) {
            argc = &fakeArgc;
            argv = fakeArgv;
        }
        new QApplication(*argc, argv);
    }
    // Calls that worker threads queue for the user-interface thread wake
    // Qt's event loop, which runs them.
    TMainLoopHooks hooks;
    hooks.wake = [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    };
    static const std::thread::id loopThread = std::this_thread::get_id();
    hooks.isMainThread = [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            return app->thread() == QThread::currentThread();
        return std::this_thread::get_id() == loopThread;
    };
    SetMainLoopHooks(hooks);
    // Metafiles play onto DCs through the toolkit's painter.
    InstallMetafilePlayer();
}

namespace {

// The modal loops running, innermost last.
std::vector<ModalScope*> g_modalScopes;
// The window last made active by a modal loop: the activation arrives a
// moment later, and a modal window opened before it does (an overwrite
// question right after the extract dialog) belongs to that window.
QPointer<QWidget> g_lastActivated;

bool Usable(QWidget* w) { return w && w->isVisible(); }

}  // namespace

bool ProgramEnding() { return Application && Application->Terminated(); }

ModalScope::ModalScope(std::function<void()> close) : m_close(std::move(close))
{
    QWidget* previous = QApplication::activeWindow();
    if (!Usable(previous))
        previous = g_lastActivated;
    if (!Usable(previous) && Application && Application->MainForm())
        previous = Application->MainForm()->Widget();
    m_previous = Usable(previous) ? previous : nullptr;
    g_modalScopes.push_back(this);
}

ModalScope::~ModalScope()
{
    g_modalScopes.erase(std::find(g_modalScopes.begin(), g_modalScopes.end(), this));
    if (Usable(m_previous))
        Activate(m_previous);
}

void ModalScope::Activate(QWidget* window)
{
    g_lastActivated = window;
    window->activateWindow();
}

void ModalScope::CloseAll()
{
    // A close function only asks its loop to end; the loops return one by one
    // as the calls that opened them unwind.
    const std::vector<ModalScope*> open = g_modalScopes;
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (std::find(g_modalScopes.begin(), g_modalScopes.end(), *it) != g_modalScopes.end())
            (*it)->m_close();
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
    // Keys reach the form when no control took them: Return and Escape
    // then go to the form's buttons.
    void keyPressEvent(QKeyEvent* e) override
    {
        const WORD key = VirtualKeyFromQtKey(e->key());
        const TShiftState shift = ShiftStateFromQt(static_cast<int>(e->modifiers()), 0);
        if (!form || !key || !form->DialogKey(key, shift))
            e->ignore();
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

}  // namespace

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

namespace {

// The control among the children of parent (at any depth) whose widget is
// widget.
TWinControl* ControlOfWidget(const TWinControl* parent, const QWidget* widget)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        auto* child = dynamic_cast<TWinControl*>(parent->Controls(i));
        if (!child)
            continue;
        if (child->Widget() == widget)
            return child;
        if (TWinControl* found = ControlOfWidget(child, widget))
            return found;
    }
    return nullptr;
}

}  // namespace

TWinControl* TForm::ActiveControl() const
{
    const QWidget* focus = Widget() ? Widget()->focusWidget() : nullptr;
    // A control's widget may hold inner widgets that take the focus.
    for (; focus && focus != Widget(); focus = focus->parentWidget())
        if (TWinControl* control = ControlOfWidget(this, focus))
            return control;
    return nullptr;
}

bool TForm::Active() const { return Widget() && Widget()->isActiveWindow(); }

TForm* GetParentForm(const TControl* control)
{
    const TControl* top = control;
    while (top && top->Parent())
        top = top->Parent();
    return dynamic_cast<TForm*>(const_cast<TControl*>(top));
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
    if (m_modalLevel > 0) {
        // The modal loop asks OnCloseQuery and OnClose.
        SetModalResult(mrCancel);
        return;
    }
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    TCloseAction action = Application && Application->MainForm() == this ? caFree : caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return;
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

bool TForm::CloseModal()
{
    TCloseAction action = caNone;
    try {
        bool canClose = true;
        if (OnCloseQuery)
            OnCloseQuery(this, canClose);
        if (canClose) {
            action = caHide;
            if (OnClose)
                OnClose(this, action);
        }
    } catch (const std::exception& e) {
        action = caNone;
        if (Application)
            Application->HandleException(e);
    }
    if (action == caNone) {
        m_modalResult = mrNone;
        return false;
    }
    return true;
}

int TForm::ShowModal()
{
    m_modalResult = mrNone;
    if (ProgramEnding())
        return m_modalResult = mrCancel;
    ModalScope scope([this] { SetModalResult(mrCancel); });
    QPointer<QWidget> window(Widget());
    // Whatever ends the loop, an exception too, the form leaves as a modal
    // window: hidden while it is still modal, then made modeless. Qt lets go
    // of a modal window only when it hides as one; made modeless first, it
    // would block every other window for good.
    struct Leave {
        TForm* form;
        QPointer<QWidget>& window;
        ~Leave()
        {
            form->m_modalLoop = nullptr;
            --form->m_modalLevel;
            if (window) {
                form->TControl::SetVisible(false);
                window->hide();
                window->setWindowModality(Qt::NonModal);
            }
        }
    } leave {this, window};
    ++m_modalLevel;
    window->setWindowModality(Qt::ApplicationModal);
    window->createWinId();
    if (QWidget* owner = scope.Owner(); owner && owner->windowHandle())
        window->windowHandle()->setTransientParent(owner->windowHandle());
    Show();
    ModalScope::Activate(window);
    for (;;) {
        if (ProgramEnding()) {
            m_modalResult = mrCancel;
            break;
        }
        if (!window || !window->isVisible()) {
            if (m_modalResult == mrNone)
                m_modalResult = mrCancel;
            break;
        }
        if (m_modalResult != mrNone) {
            if (CloseModal())
                break;
            continue;
        }
        QEventLoop loop;
        m_modalLoop = &loop;
        loop.exec();
        m_modalLoop = nullptr;
    }
    return m_modalResult;
}

bool TForm::DialogKey(WORD key, TShiftState shift)
{
    if ((key != VK_RETURN && key != VK_ESCAPE) || (shift & (ssShift | ssAlt | ssCtrl)))
        return false;
    TButton* target = nullptr;
    if (key == VK_RETURN)
        target = TButton::FromWidget(QApplication::focusWidget());
    if (target && target->Widget()->window() != Widget())
        target = nullptr;
    // Only a button the user could reach counts: shown (on the page in
    // front) and enabled.
    if (!target)
        for (QWidget* w : Widget()->findChildren<QWidget*>()) {
            TButton* b = TButton::FromWidget(w);
            if (b && w->window() == Widget() && w->isVisible() && w->isEnabled()
                && (key == VK_RETURN ? b->Default() : b->Cancel)) {
                target = b;
                break;
            }
        }
    if (!target)
        return false;
    RunEventHandler([target] { target->Click(); });
    return true;
}

void TForm::Release() { Widget()->hide(); }

bool TForm::HandleEvent(QEvent* e)
{
    if (e->type() == QEvent::Show && !e->spontaneous()) {
        RunEventHandler([this] { DoShow(); });
        return false;
    }
    if (e->type() == QEvent::Close) {
        // The window manager's close button goes through the form's own rules.
        e->ignore();
        RunEventHandler([this] { Close(); });
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

void TApplication::HandleMessage()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TApplication::Terminate()
{
    m_terminated = true;
    if (m_loop)
        m_loop->quit();
    ModalScope::CloseAll();
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
