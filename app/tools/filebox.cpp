#include "filebox.h"

#include "place.h"

namespace {
constexpr int kWidth = 480;
constexpr int kHeight = 150;
constexpr int kMargin = 12;
constexpr int kRowHeight = 48;
constexpr int kBrowseWidth = 40;
constexpr int kButtonWidth = 82;

TFileDialogRequest Request(const std::string& title, const std::string& defaultExt, const std::string& filter)
{
    TFileDialogRequest request;
    request.Title = title;
    request.DefaultExt = defaultExt;
    request.Filter = filter;
    return request;
}
} // namespace

void SetUpFileToolWindow(TForm* form, const std::string& name, const std::string& caption)
{
    form->SetName(name);
    form->SetCaption(caption);
    form->SetBorderStyle(TFormBorderStyle::bsDialog);
    form->Position = TPosition::poMainFormCenter;
    form->SetClientSize(kWidth, kHeight);
}

TFileBox PlaceFileBox(TForm* form, int row, const std::string& label, const std::string& editName,
    const std::string& buttonName)
{
    const int top = 10 + row * kRowHeight;
    const int width = kWidth - 2 * kMargin;
    Place<TLabel>(form, form, kMargin, top, width, 16, label);
    return {Place<TEdit>(form, form, kMargin, top + 18, width - kBrowseWidth - 6, 22, "", editName),
        Place<TButton>(form, form, kMargin + width - kBrowseWidth, top + 17, kBrowseWidth, 24, "...", buttonName)};
}

TToolButtons PlaceToolButtons(TForm* form, const std::string& action, const std::string& actionName,
    const std::string& closeName)
{
    const int top = kHeight - 36;
    const int right = kWidth - kMargin;
    TToolButtons buttons {
        Place<TButton>(form, form, right - 2 * kButtonWidth - 8, top, kButtonWidth, 26, action, actionName),
        Place<TButton>(form, form, right - kButtonWidth, top, kButtonWidth, 26, "Close", closeName)};
    // Escape closes the window, as the Close button does.
    buttons.Close->Cancel = true;
    return buttons;
}

TProgressBar* PlaceProgressBar(TForm* form, const std::string& name)
{
    const int right = kWidth - kMargin - 2 * kButtonWidth - 8 - kMargin;
    return Place<TProgressBar>(form, form, kMargin, kHeight - 32, right - kMargin, 18, "", name);
}

bool ChooseFileToOpen(const std::string& title, const std::string& defaultExt, const std::string& filter,
    std::string& file)
{
    TFileDialogRequest request = Request(title, defaultExt, filter);
    request.MustExist = true;
    std::vector<std::string> chosen;
    if (!Application->Prompts().OpenFiles(request, chosen) || chosen.empty())
        return false;
    file = chosen.front();
    return true;
}

bool ChooseFileToSave(const std::string& title, const std::string& defaultExt, const std::string& filter,
    std::string& file)
{
    TFileDialogRequest request = Request(title, defaultExt, filter);
    request.FileName = file;
    std::string chosen;
    int filterIndex = 1;
    if (!Application->Prompts().SaveFile(request, chosen, filterIndex))
        return false;
    if (ExtractFileExt(chosen).empty())
        chosen += "." + defaultExt;
    file = chosen;
    return true;
}
