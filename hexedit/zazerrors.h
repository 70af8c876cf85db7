// The hex editor's exception class and the texts of its string table.
#pragma once

#include "rtl/sysutils.h"

// Argument and state errors of the hex editor control.
VISTREL_DECLARE_EXCEPTION(EZURadUvudod, Exception)

namespace zaz_text {
inline constexpr const char* kUntitled = "Untitled";
inline constexpr const char* kOutOfBounds = "Data position/length out of data bounds";
inline constexpr const char* kCancelled = "Operation Cancelled";
inline constexpr const char* kCannotOpen = "Cannot open %s.\r\n(%s.)";
inline constexpr const char* kSaveReadOnly = "Cannot save readonly file %s.";
inline constexpr const char* kFixedSize = "Cannot change fixed filesize";
inline constexpr const char* kInvalidBufferArg = "Invalid buffer from file argument";
inline constexpr const char* kInvalidChar = "Invalid character %s, cannot convert using radix %xh";
inline constexpr const char* kInvalidRadixValue = "Invalid radix %d, allowed: 2..16";
inline constexpr const char* kIntOverflow = "Integer overflow";
inline constexpr const char* kDivByZero = "Division by zero";
inline constexpr const char* kInvalidBytesPerLine = "Invalid bytes per line argument";
inline constexpr const char* kInvalidBytesPerColumn = "Invalid bytes per column argument";
inline constexpr const char* kInvalidBytesPerUnit = "Invalid bytes per unit value %d, allowed: 1,2,4,8";
inline constexpr const char* kUnicodeUnit = "BytesPerUnit must be set to 2 in unicode mode";
inline constexpr const char* kInvalidRulerUnit = "Invalid ruler bytes per unit value %d, allowed: -1,1,2,4,8";
inline constexpr const char* kOddUnicode = "Cannot use unicode mode with odd-sized files";
inline constexpr const char* kMissingChar = "Missing char in offset format: %s";
inline constexpr const char* kInvalidRadix = "Invalid radix in offset format (%xh), allowed: 02h..10h";
inline constexpr const char* kInvalidWidth = "Invalid width in offset format (%xh), allowed: 00h..FFh";
inline constexpr const char* kInvalidSelStart = "Invalid selection start";
inline constexpr const char* kInvalidSelEnd = "Invalid selection end";
inline constexpr const char* kInvalidBookmarkBitmap = "Invalid bookmark bitmap (must be 10 x 200 px)";
inline constexpr const char* kCannotUpdateUndo = "Cannot update undo storage";
inline constexpr const char* kNoUndo = "No Undo";
inline constexpr const char* kUnicodeTranslation = "Translations cannot be used in unicode mode";
inline constexpr const char* kInvalidBookmarkIndex = "Invalid bookmark index";
inline constexpr const char* kNoFileName = "No Filename specified";
inline constexpr const char* kCannotDeleteBackup = "Cannot delete previous backup %s. (%s)";
inline constexpr const char* kCannotCreateBackup = "Cannot create backup %s. (%s)";
inline constexpr const char* kInvalidBackupExtension = "Invalid backup extension";
inline constexpr const char* kInvalidPageIndex = "Invalid Page Index";
inline constexpr const char* kPrintingFailed = "Printing Failed";
inline constexpr const char* kInvalidBookmarkFormat = "Invalid Bookmark Format";
inline constexpr const char* kFileTooLarge = "File too large (%lld bytes): the hex editor holds at most 2147483647 bytes";
}  // namespace zaz_text
