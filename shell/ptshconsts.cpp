#include "shell/ptshconsts.h"

const char* const SColumnName = "Name";
const char* const SColumnSize = "Size";
const char* const SColumnType = "Type";
const char* const SColumnModified = "Modified";
const char* const SFilesizeKB = "%sKB";
const char* const SSystemFolder = "System Folder";
const char* const SNewFolder = "New Folder";
const char* const SUnableToCreateFolder = "Unable to create the folder '%2'\n\n%1";
const char* const SShKey_SelectAll = "Ctrl+A";
const char* const SShKey_Delete = "Del";
const char* const SShKey_Copy = "Ctrl+C";
const char* const SShKey_Cut = "Ctrl+X";
const char* const SShKey_Paste = "Ctrl+V";
const char* const SShKey_Refresh = "F5";
const char* const SShKey_Edit = "F2";

std::string PTLoadStr(const std::string& text) { return text; }
