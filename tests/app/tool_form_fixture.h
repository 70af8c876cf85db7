// What the tests of the tool windows that turn one file into another share:
// the window shown with scripted prompts, in a temporary folder, with a
// stand-in main window whose current file the test sets.
#pragma once

#include "test_support/current_file_host.h"
#include "test_support/modal_driver.h"
#include "test_support/scripted_prompts.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>

template <typename Form> class ToolFormTest : public ::testing::Test {
protected:
    ToolFormTest()
    {
        if (!Application)
            new TApplication();
        scripted = std::make_unique<ScopedScriptedPrompts>(*Application);
        prompts = scripted->prompts;
        form = std::make_unique<Form>(nullptr);
        form->Show();
    }
    // Fills the input and output boxes and clicks the action button, as a
    // user does.
    void Run(TButton* action, const std::string& input, const std::string& output)
    {
        form->Edit1->SetText(input);
        form->Edit2->SetText(output);
        ClickWidget(action->Widget());
    }
    // The texts of the messages shown, each with the caption given.
    std::vector<std::string> Messages(const std::string& caption) const
    {
        std::vector<std::string> out;
        for (const auto& a : prompts->asked) {
            EXPECT_EQ(a.caption, caption);
            out.push_back(a.text);
        }
        return out;
    }
    // Shows the window anew with the main window's current file, and
    // expects the boxes it proposes.
    void ExpectProposal(const std::string& current, const std::string& input, const std::string& output)
    {
        SCOPED_TRACE(current);
        form->Hide();
        form->Edit1->SetText("stale");
        host.current = current;
        form->Show();
        EXPECT_EQ(form->Edit1->Text(), input);
        EXPECT_EQ(form->Edit2->Text(), output);
    }

    TempDir dir;
    CurrentFileHost host;
    std::unique_ptr<ScopedScriptedPrompts> scripted;
    ScriptedPrompts* prompts = nullptr;
    std::unique_ptr<Form> form;
};
