// Forms, the application object and the screen. Every question the program
// asks the user (message boxes, input boxes, file, folder and font dialogs)
// goes through the application's prompt service, which tests replace with a
// scripted one that also records what was asked.
#pragma once

#include "controls.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMainMenu;
class QWidget;
class QEventLoop;

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
    mrAll = 8, mrNoToAll = 9, mrYesToAll = 10 };

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TPosition { poDesigned, poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    QWidget* ClientWidget() const override;

    TFormBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TFormBorderStyle style);
    TPosition Position = TPosition::poDesigned;
    TWindowState WindowState() const { return m_windowState; }
    void SetWindowState(TWindowState state);
    TFormStyle FormStyle() const { return m_formStyle; }
    void SetFormStyle(TFormStyle style);
    void SetClientSize(int width, int height);
    void SetBounds(int left, int top, int width, int height) override;

    TMainMenu* Menu() const { return m_menu; }
    void SetMenu(TMainMenu* menu);

    // The control of the form that has the focus within it, also while the
    // form is not the active window (the one that gets it back then); null
    // when none has.
    TWinControl* ActiveControl() const;
    // The form is the program's active window.
    bool Active() const;

    void Show();
    void Hide();
    // A modal form closes with the result Cancel; any other form asks
    // OnCloseQuery and OnClose first.
    void Close();
    // Shows the form modally and returns its modal result. The form closes
    // when a result is set (a button's ModalResult, SetModalResult, Close,
    // the window's close box) and OnCloseQuery and OnClose agree, when it is
    // hidden, or when the program ends; the windows behind it get their
    // input back in every case, also when an exception passes.
    int ShowModal();
    bool Modal() const { return m_modalLevel > 0; }
    int ModalResult() const { return m_modalResult; }
    void SetModalResult(int result);
    void Release();
    // Return and Escape that no control of the form took: Return clicks the
    // focused button, else the Default one; Escape clicks the Cancel button.
    // True when a button was clicked.
    bool DialogKey(WORD key, TShiftState shift);

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnActivate;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;
    TNotifyEvent OnDestroy;

    bool HandleEvent(QEvent* event) override;

protected:
    // Runs OnCreate; called once the form's components exist.
    void DoCreate();
    virtual void DoShow();
    void CaptionChanged() override;

private:
    void PlaceOnScreen();
    void ApplyWindowFlags();
    // Asks OnCloseQuery and OnClose whether the modal form may close with
    // the result set; a refusal clears the result.
    bool CloseModal();

    QWidget* m_client;
    TComponentLink<TMainMenu> m_menu{this};
    TFormBorderStyle m_borderStyle = TFormBorderStyle::bsSizeable;
    TWindowState m_windowState = TWindowState::wsNormal;
    TFormStyle m_formStyle = TFormStyle::fsNormal;
    int m_modalResult = mrNone;
    int m_modalLevel = 0;
    QEventLoop* m_modalLoop = nullptr;
    bool m_shownOnce = false;
};

// The form a control lies on (the control itself when it is a form); null
// when no form holds it.
TForm* GetParentForm(const TControl* control);

// Message box flags and results.
constexpr UINT MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5,
               MB_ICONERROR = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30, MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7;

struct TFileDialogRequest {
    std::string Title;
    std::string Filter;      // "Text files (*.txt)|*.txt|All (*.*)|*.*"
    int FilterIndex = 1;
    std::string InitialDir;
    std::string FileName;
    std::string DefaultExt;
    bool MultiSelect = false;
    bool MustExist = false;
};

// What a print dialog is shown with, and what the user chose in it.
struct TPrintRequest {
    std::string Title; // the document's name
    int MinPage = 1;
    int MaxPage = 1;
};
struct TPrintChoice {
    std::string PrinterName; // the printer, when no output file is chosen
    std::string OutputFile;  // a PDF file to print into instead
    int FromPage = 0;        // 0: from the first page
    int ToPage = 0;          // 0: to the last page
    int Copies = 1;
};

// Answers every question the program asks the user.
class TPromptService {
public:
    virtual ~TPromptService() = default;
    virtual int MessageBox(const std::string& text, const std::string& caption, UINT flags) = 0;
    // Edits value; false when cancelled (value unchanged then).
    virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
    // The same for a secret: what is typed is not shown. A service that shows
    // nothing on screen may answer it as an ordinary input box.
    virtual bool PasswordQuery(const std::string& caption, const std::string& prompt, std::string& value)
    {
        return InputQuery(caption, prompt, value);
    }
    virtual bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory) = 0;
    virtual bool OpenFiles(const TFileDialogRequest& request, std::vector<std::string>& files) = 0;
    virtual bool SaveFile(const TFileDialogRequest& request, std::string& file, int& filterIndex) = 0;
    virtual bool ChooseFont(TFont& font) = 0;
    // The print dialog; false when cancelled. A service without one (no
    // printing on this machine) answers false.
    virtual bool PrintSetup(const TPrintRequest&, TPrintChoice&) { return false; }
};

// The prompt service of a real session: Qt's dialogs.
std::unique_ptr<TPromptService> CreateQtPromptService();

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    void Initialize();
    const std::string& Title() const { return m_title; }
    void SetTitle(const std::string& title);
    std::string ExeName() const;

    // Creates a form owned by the application; the first becomes the main form.
    template <typename T> void CreateForm(T*& reference)
    {
        reference = new T(this);
        if (!m_mainForm)
            m_mainForm = reference;
    }
    TForm* MainForm() const { return m_mainForm; }
    void SetMainForm(TForm* form) { m_mainForm = form; }

    // Shows the main form and runs the message loop until it closes. A
    // termination signal (SIGTERM, SIGINT) closes the main form as the user would.
    void Run();
    void ProcessMessages();
    // Waits until a message comes (a worker's Synchronize wakes it too) and
    // handles the messages there are then.
    void HandleMessage();
    // Ends the message loop and every modal form or dialog that is open; a
    // modal form or question asked afterwards answers Cancel at once.
    void Terminate();
    bool Terminated() const { return m_terminated; }
    void HandleException(const std::exception& e);
    void ShowException(const std::exception& e);
    int MessageBox(const std::string& text, const std::string& caption, UINT flags);

    TPromptService& Prompts() { return *m_prompts; }
    // Replaces the prompt service (tests); returns the previous one.
    std::unique_ptr<TPromptService> SetPrompts(std::unique_ptr<TPromptService> prompts);

    TNotifyEvent OnIdle;

private:
    std::string m_title;
    TComponentLink<TForm> m_mainForm{this};
    bool m_terminated = false;
    QEventLoop* m_loop = nullptr;
    std::unique_ptr<TPromptService> m_prompts;
};

extern TApplication* Application;

class TScreen {
public:
    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor cursor);
    int Width() const;
    int Height() const;

private:
    TCursor m_cursor = TCursor::crDefault;
    bool m_overridden = false;
};

extern TScreen* Screen;

// Shows the hourglass for the life of the guard and then puts back the
// cursor it replaced, also when the work in between raises.
class TScreenCursorGuard {
public:
    explicit TScreenCursorGuard(TCursor cursor = TCursor::crHourGlass)
        : m_saved(Screen ? Screen->Cursor() : TCursor::crDefault)
    {
        if (Screen)
            Screen->SetCursor(cursor);
    }
    ~TScreenCursorGuard()
    {
        if (Screen)
            Screen->SetCursor(m_saved);
    }
    TScreenCursorGuard(const TScreenCursorGuard&) = delete;
    TScreenCursorGuard& operator=(const TScreenCursorGuard&) = delete;

private:
    TCursor m_saved;
};

// The class library's dialog helpers, all through the prompt service.
void ShowMessage(const std::string& text);
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);
// The answer, or the default when cancelled.
std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& def);
bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory);

// Runs an event handler as the class library's message loop does: an
// exception that escapes it is shown by the application object. The
// controls call their click and change handlers through it, so an exception
// never unwinds through the toolkit's code, which is built without them.
void RunEventHandler(const std::function<void()>& handler);

// Ensures a Qt application object exists (tests and the program's entry).
void EnsureQtApplication(int* argc = nullptr, char** argv = nullptr);
