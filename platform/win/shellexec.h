// Opening a file or link with the desktop's handler, as the shell's "open"
// verb does.
#pragma once

#include <string>

// Starts the desktop's handler for the target (xdg-open) without waiting for
// it; false when no handler could be started.
bool ShellOpen(const std::string& target);
