// The few services the archive library needs from the application without
// depending on a GUI: the application sets these function pointers once at
// start-up. Unset hooks do nothing (the message pump), give the default
// answer (the questions) or report that no answer is known (the type name).
#pragma once

#include <string>

// Lets the application process its pending window messages
// (Application->ProcessMessages); called between stream blocks and once per
// listed entry so that handlers may set the cancel flag.
using TProcessMessagesHook = void (*)();
extern TProcessMessagesHook ProcessMessagesHook;
inline void ProcessMessages()
{
    if (ProcessMessagesHook)
        ProcessMessagesHook();
}

// Asks a yes/no question (a confirmation box); unset means "No".
using TConfirmHook = bool (*)(const std::string& caption, const std::string& text);
extern TConfirmHook ConfirmHook;

// Asks to retry after a drive error (Retry/Cancel box); unset means "Cancel".
using TRetryHook = bool (*)(const std::string& caption, const std::string& text);
extern TRetryHook RetryHook;

// The shell's type name for a file name's extension ("" when unknown).
using TFileTypeNameHook = std::string (*)(const std::string& fileName);
extern TFileTypeNameHook FileTypeNameHook;
