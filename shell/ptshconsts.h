// The library's user-visible texts. Every text passes through PTLoadStr
// before use, so an application can translate them in one place.
#pragma once

#include <string>

extern const char* const SColumnName;
extern const char* const SColumnSize;
extern const char* const SColumnType;
extern const char* const SColumnModified;
extern const char* const SFilesizeKB;
extern const char* const SSystemFolder;
extern const char* const SNewFolder;
extern const char* const SUnableToCreateFolder;
extern const char* const SShKey_SelectAll;
extern const char* const SShKey_Delete;
extern const char* const SShKey_Copy;
extern const char* const SShKey_Cut;
extern const char* const SShKey_Paste;
extern const char* const SShKey_Refresh;
extern const char* const SShKey_Edit;

// The text hook: answers the text unchanged.
std::string PTLoadStr(const std::string& text);
