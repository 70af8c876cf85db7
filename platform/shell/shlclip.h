// Files on the clipboard, in the formats other file managers use: a list of
// URLs (text/uri-list), GNOME's "x-special/gnome-copied-files" (the word
// "copy" or "cut", then one URL per line), KDE's
// "application/x-kde-cutselection" ("1" for a cut), and the paths as text.
// Reading also takes the text form newer GNOME file managers put there
// ("x-special/nautilus-clipboard", the word, then the URLs).
#pragma once

#include <string>
#include <vector>

class QMimeData;

enum class ShellClipOp { Copy, Cut };

// A new QMimeData holding the files in every format.
QMimeData* ShellFilesMimeData(const std::vector<std::string>& paths, ShellClipOp op);
// The local files a QMimeData holds (in any of the formats) and whether they
// were cut; false when it holds none.
bool ShellFilesFromMimeData(const QMimeData* data, std::vector<std::string>& paths, ShellClipOp& op);

bool ShellSetClipboardFiles(const std::vector<std::string>& paths, ShellClipOp op);
bool ShellGetClipboardFiles(std::vector<std::string>& paths, ShellClipOp& op);
bool ShellClipboardHasFiles();
// After a cut's files were pasted: the clipboard is emptied when it still
// holds them, so that a second paste does not try to move them again.
void ShellClearClipboardAfterCut(const std::vector<std::string>& paths);

// The local path a file URL names ("file:///a%20b" gives "/a b"); false for
// other URLs.
bool ShellPathFromFileUrl(const std::string& url, std::string& path);
