// A prompt service for tests: answers come from a queue the test fills, and
// every question is recorded. A question with no queued answer fails the test
// and answers as if the user had cancelled.
#pragma once

#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

class ScriptedPrompts : public TPromptService {
public:
    struct Asked {
        std::string kind;     // "message", "input", "folder", "open", "save", "font", "print"
        std::string caption;
        std::string text;     // message text, input prompt or dialog title
        std::string proposed; // input box default, folder or file proposed
        UINT flags = 0;
        bool password = false; // an input box that hides what is typed
        std::string folder = {}; // the folder a file dialog opens in
    };
    struct Answer {
        bool ok = true;
        std::string value;              // input text, folder or file
        std::vector<std::string> files; // open dialog
        int button = IDOK;              // message box result
    };

    void Push(Answer a) { answers.push_back(std::move(a)); }
    void PushButton(int button) { Push(Answer {true, "", {}, button}); }
    void PushText(std::string value) { Push(Answer {true, std::move(value), {}, IDOK}); }
    void PushCancel() { Push(Answer {false, "", {}, IDCANCEL}); }
    void PushFiles(std::vector<std::string> files) { Push(Answer {true, "", std::move(files), IDOK}); }
    void PushPrint(TPrintChoice choice)
    {
        printChoices.push_back(std::move(choice));
        Push(Answer {true, "", {}, IDOK});
    }

    int MessageBox(const std::string& text, const std::string& caption, UINT flags) override
    {
        asked.push_back({"message", caption, text, "", flags});
        // Plain information boxes need no scripted answer.
        if ((flags & 0xF) == MB_OK && answers.empty())
            return IDOK;
        return Next().button;
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        asked.push_back({"input", caption, prompt, value, 0});
        const Answer a = Next();
        if (a.ok)
            value = a.value;
        return a.ok;
    }
    bool PasswordQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        asked.push_back({"input", caption, prompt, value, 0, true});
        const Answer a = Next();
        if (a.ok)
            value = a.value;
        return a.ok;
    }
    bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory) override
    {
        asked.push_back({"folder", caption, root, directory, 0});
        const Answer a = Next();
        if (a.ok)
            directory = a.value;
        return a.ok;
    }
    bool OpenFiles(const TFileDialogRequest& r, std::vector<std::string>& files) override
    {
        asked.push_back({"open", r.Title, r.Filter, r.FileName, 0, false, r.InitialDir});
        const Answer a = Next();
        if (a.ok)
            files = a.files;
        return a.ok;
    }
    bool SaveFile(const TFileDialogRequest& r, std::string& file, int& filterIndex) override
    {
        asked.push_back({"save", r.Title, r.Filter, r.FileName, 0, false, r.InitialDir});
        const Answer a = Next();
        if (a.ok) {
            file = a.value;
            filterIndex = r.FilterIndex;
        }
        return a.ok;
    }
    bool ChooseFont(TFont&) override
    {
        asked.push_back({"font", "", "", "", 0});
        return Next().ok;
    }
    bool PrintSetup(const TPrintRequest& r, TPrintChoice& choice) override
    {
        asked.push_back({"print", "", r.Title, std::to_string(r.MinPage) + "-" + std::to_string(r.MaxPage), 0});
        const Answer a = Next();
        if (a.ok && !printChoices.empty()) {
            choice = printChoices.front();
            printChoices.pop_front();
        }
        return a.ok;
    }

    std::deque<Answer> answers;
    std::deque<TPrintChoice> printChoices; // the choices of the print dialogs answered with PushPrint
    std::vector<Asked> asked;

private:
    Answer Next()
    {
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << (asked.empty() ? "" : asked.back().kind + " " + asked.back().text);
            return Answer {false, "", {}, IDCANCEL};
        }
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

// Installs scripted prompts on the application for the life of a test.
class ScopedScriptedPrompts {
public:
    explicit ScopedScriptedPrompts(TApplication& app) : m_app(app)
    {
        auto p = std::make_unique<ScriptedPrompts>();
        prompts = p.get();
        m_previous = app.SetPrompts(std::move(p));
    }
    ~ScopedScriptedPrompts() { m_app.SetPrompts(std::move(m_previous)); }
    ScriptedPrompts* prompts;

private:
    TApplication& m_app;
    std::unique_ptr<TPromptService> m_previous;
};
