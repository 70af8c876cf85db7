// A prompt service for the benchmarks that drive a tool window: every
// message box is answered with OK and counted, every dialog cancelled.
#pragma once

#include "vcl/forms.h"

#include <string>
#include <vector>

namespace bench {

class CountingPrompts : public TPromptService {
public:
    int MessageBox(const std::string& text, const std::string&, UINT) override
    {
        last = text;
        ++messages;
        return IDOK;
    }
    bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
    bool SelectDirectory(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFiles(const TFileDialogRequest&, std::vector<std::string>&) override { return false; }
    bool SaveFile(const TFileDialogRequest&, std::string&, int&) override { return false; }
    bool ChooseFont(TFont&) override { return false; }

    std::string last;
    int messages = 0;
};

// Installs counting prompts on the application and answers them.
inline CountingPrompts& InstallCountingPrompts()
{
    auto owned = std::make_unique<CountingPrompts>();
    CountingPrompts& prompts = *owned;
    Application->SetPrompts(std::move(owned));
    return prompts;
}

} // namespace bench
