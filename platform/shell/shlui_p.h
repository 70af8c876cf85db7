// What the shell's commands show the user, through the application's prompt
// service (private to the platform's shell).
#pragma once

#include "vcl/messages.h"

#include <string>
#include <vector>

namespace shellui {

// A message box through the prompt service; without an application object
// every question answers as cancelled (IDCANCEL) and a plain box as read.
int Ask(const std::string& text, const std::string& caption, UINT flags);
void Error(const std::string& text, const std::string& caption);

// The facts of the items that the properties box shows.
std::string PropertiesText(const std::vector<std::string>& paths);
void ShowProperties(const std::vector<std::string>& paths);

} // namespace shellui
