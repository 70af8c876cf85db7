#include "shlclip.h"

#include "shlapps.h"

#include "rtl/sysutils.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

constexpr const char* kGnome = "x-special/gnome-copied-files";
constexpr const char* kKdeCut = "application/x-kde-cutselection";
constexpr const char* kUriList = "text/uri-list";
constexpr const char* kNautilusText = "x-special/nautilus-clipboard";

std::vector<std::string> Lines(const QByteArray& bytes)
{
    std::vector<std::string> out;
    for (const QByteArray& line : bytes.split('\n')) {
        std::string s = line.toStdString();
        while (!s.empty() && (s.back() == '\r' || s.back() == '\0'))
            s.pop_back();
        if (!s.empty())
            out.push_back(s);
    }
    return out;
}

// The files of URL lines (comments and other schemes left out).
std::vector<std::string> PathsOf(const std::vector<std::string>& lines, size_t from)
{
    std::vector<std::string> out;
    for (size_t i = from; i < lines.size(); ++i) {
        std::string path;
        if (lines[i][0] != '#' && ShellPathFromFileUrl(lines[i], path))
            out.push_back(path);
    }
    return out;
}

QClipboard* Clipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

} // namespace

bool ShellPathFromFileUrl(const std::string& url, std::string& path)
{
    if (url.compare(0, 7, "file://") != 0)
        return false;
    std::string rest = url.substr(7);
    // "file://localhost/x" and "file:///x" name local files; another host does not.
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return false;
    const std::string host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost")
        return false;
    rest = rest.substr(slash);
    path.clear();
    // Escapes give their bytes as they are (a name need not be UTF-8); a
    // '%' without two hex digits stays itself.
    for (size_t i = 0; i < rest.size(); ++i) {
        const int high = rest[i] == '%' && i + 2 < rest.size() ? HexDigitValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? HexDigitValue(rest[i + 2]) : -1;
        if (low >= 0) {
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return !path.empty() && path.find('\0') == std::string::npos;
}

QMimeData* ShellFilesMimeData(const std::vector<std::string>& paths, ShellClipOp op)
{
    QByteArray uris, gnome(op == ShellClipOp::Cut ? "cut" : "copy"), text;
    for (const std::string& p : paths) {
        const std::string url = ShellFileUrl(p);
        uris += QByteArray::fromStdString(url) + "\r\n";
        gnome += "\n" + QByteArray::fromStdString(url);
        text += (text.isEmpty() ? "" : "\n") + QByteArray::fromStdString(p);
    }
    auto* data = new QMimeData;
    data->setData(kUriList, uris);
    data->setData(kGnome, gnome);
    data->setData(kKdeCut, op == ShellClipOp::Cut ? "1" : "0");
    data->setData("text/plain;charset=utf-8", text);
    data->setData("text/plain", text);
    return data;
}

bool ShellFilesFromMimeData(const QMimeData* data, std::vector<std::string>& paths, ShellClipOp& op)
{
    paths.clear();
    op = ShellClipOp::Copy;
    if (!data)
        return false;
    if (data->hasFormat(kGnome)) {
        const std::vector<std::string> lines = Lines(data->data(kGnome));
        if (!lines.empty() && (lines[0] == "cut" || lines[0] == "copy")) {
            op = lines[0] == "cut" ? ShellClipOp::Cut : ShellClipOp::Copy;
            paths = PathsOf(lines, 1);
            if (!paths.empty())
                return true;
        }
    }
    if (data->hasFormat(kUriList)) {
        paths = PathsOf(Lines(data->data(kUriList)), 0);
        if (!paths.empty()) {
            op = data->data(kKdeCut).startsWith('1') ? ShellClipOp::Cut : ShellClipOp::Copy;
            return true;
        }
    }
    if (data->hasText()) {
        const std::vector<std::string> lines = Lines(data->text().toUtf8());
        if (lines.size() >= 2 && lines[0] == kNautilusText && (lines[1] == "cut" || lines[1] == "copy")) {
            op = lines[1] == "cut" ? ShellClipOp::Cut : ShellClipOp::Copy;
            paths = PathsOf(lines, 2);
            return !paths.empty();
        }
    }
    return false;
}

bool ShellSetClipboardFiles(const std::vector<std::string>& paths, ShellClipOp op)
{
    QClipboard* clipboard = Clipboard();
    if (!clipboard || paths.empty())
        return false;
    clipboard->setMimeData(ShellFilesMimeData(paths, op));
    return true;
}

bool ShellGetClipboardFiles(std::vector<std::string>& paths, ShellClipOp& op)
{
    QClipboard* clipboard = Clipboard();
    return clipboard && ShellFilesFromMimeData(clipboard->mimeData(), paths, op);
}

bool ShellClipboardHasFiles()
{
    std::vector<std::string> paths;
    ShellClipOp op;
    return ShellGetClipboardFiles(paths, op);
}

void ShellClearClipboardAfterCut(const std::vector<std::string>& paths)
{
    std::vector<std::string> now;
    ShellClipOp op;
    if (ShellGetClipboardFiles(now, op) && op == ShellClipOp::Cut && now == paths)
        Clipboard()->clear();
}
