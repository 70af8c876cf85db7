// Routines shared by the main window and its dialogs: the text-file reader,
// the hex-text export, the rows of the list views and the file operations on
// the rows of the "Found Files" and "Marked Files" lists, and the panning of
// an image larger than its scroll box.
#pragma once

#include "vcl/comctrls.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---- text files ----------------------------------------------------------------

// What the text reader made of a file.
struct TTextFileContents {
    std::string Text;
    // The file could be opened and read.
    bool Opened = false;
    // Text holds the file's bytes exactly: no conversion from UTF-16, no
    // stand-in characters. Only then may the text be written back as the file.
    bool Exact = false;
    // Some bytes are shown as stand-in characters: writing the text back
    // would replace them.
    bool StandIns = false;
};

// The text a view shows for bytes taken as UTF-8, the whole of them: tab, CR
// and LF stand as they are; every other control byte (00 to 1F, 7F) becomes
// its control picture (U+2400 + byte, U+2421 for 7F) and every byte that is
// no part of well-formed UTF-8 becomes U+FFFD. Each replaced byte is one
// character of the view, so the line and column figures count it as the one
// byte it is. standIns tells whether any byte was replaced.
std::string TextForView(std::string_view bytes, bool& standIns);
// Reads a text file whole for the text view. A file that starts with FF FE
// is UTF-16LE: the rest is converted to UTF-8. The text is then shown as
// TextForView shows it. An unreadable file gives empty text.
TTextFileContents ReadTextFileContents(const std::string& path);
// The same with the file's bytes taken as UTF-8 whatever they start with
// (the text view's UTF-8 switch).
TTextFileContents ReadUtf8TextFileContents(const std::string& path);
// The text of ReadTextFileContents alone.
std::string ReadTextFile(const std::string& path);

// ---- hex text ------------------------------------------------------------------

// Writes the hex text of source to target, whole or not at all: 16 bytes a
// line, each byte two upper-case digits and a space, every line (a short
// last one too) ended by CR LF. The file is converted and written 64 KiB at
// a time, so any size takes the same memory. Raises EFOpenError when the
// source cannot be read (only a regular file is) and EFCreateError when the
// target cannot be written.
void WriteHexTextFile(const std::string& source, const std::string& target);
// The export command: WriteHexTextFile with the hourglass cursor and the
// messages "Failed to open this file!" and "Successful saved.". A target that
// cannot be written raises to the caller.
void SaveFileAsHexText(const std::string& source, const std::string& target);

// ---- list rows -----------------------------------------------------------------

// Appends a row: the first string is its caption, the others its sub-items.
void AddListRow(TListView& view, const std::vector<std::string>& strings);
// Moves the selected row one place up (direction 0) or down (1) by swapping
// its texts with the neighbour's; the selection follows the moved texts.
void MoveListItem(TListView& view, int direction);
// Removes the selected rows (the rows only; no file is touched).
void DeleteSelectedItems(TListView& view);

// Asks for a folder with the caption; true with the folder (ending in '/')
// when one was chosen.
bool ChooseFolder(const std::string& caption, std::string& folder);

// Rows of the file lists name a file by their caption (its full path). The
// operations below ask for a folder, report each failure by name and the
// number done at the end, and take away only the rows of files that really
// left their place.
void MoveSelectedFiles(TListView& view);
// Copies never replace a file that exists in the chosen folder.
void CopySelectedFiles(TListView& view);
// Asks first, then moves the files to the desktop's trash.
void DeleteSelectedFiles(TListView& view);
// Appends the row of a file: caption the path; the file's small icon in the
// system image list; sub-items the size in plain decimal, the shell's type
// name and the modification time text.
void AddFileRow(TListView& view, const std::string& path, std::int64_t size, const std::string& timeText);
// Adds a row for the file unless a row names it already: caption the path,
// then size, type name and modification time; size 0 and the zero time when
// the file does not exist.
void AddFileToList(TListView& view, const std::string& path);

// ---- images --------------------------------------------------------------------

// Drags an image larger than its scroll box: the image control moves by the
// mouse's offset from the down point, kept inside the box; a direction in
// which the image fits does not move.
void PanImage(int x, int y, int downX, int downY, TControl& image, TControl& box);
