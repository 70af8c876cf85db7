// The shell commands' questions, reports, progress window and properties box.
#include "shlfileop.h"
#include "shlapps.h"
#include "shlui_p.h"

#include "rtl/sysutils.h"
#include "vcl/forms.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMimeDatabase>
#include <QProgressDialog>

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>

namespace shellui {

int Ask(const std::string& text, const std::string& caption, UINT flags)
{
    if (!Application)
        return (flags & 0xF) == MB_OK ? IDOK : IDCANCEL;
    return Application->MessageBox(text, caption, flags);
}

void Error(const std::string& text, const std::string& caption) { Ask(text, caption, MB_OK | MB_ICONERROR); }

namespace {

std::string Quoted(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return "\"" + (slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1)) + "\"";
}

std::string Grouped(std::uint64_t n)
{
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string SizeText(std::uint64_t bytes)
{
    static const char* units[] = {"KB", "MB", "GB", "TB"};
    std::string text = Grouped(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 1024)
        return text;
    double v = static_cast<double>(bytes) / 1024;
    int u = 0;
    while (v >= 1024 && u < 3) {
        v /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", v, units[u]);
    return std::string(buf) + " (" + text + ")";
}

std::string TimeText(const struct timespec& t)
{
    const TDateTime d = UnixToLocalDateTime(t.tv_sec);
    return DateToStr(d) + " " + TimeToStr(d);
}

std::string Permissions(mode_t mode)
{
    std::string s = "---------";
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400 >> i))
            s[static_cast<size_t>(i)] = letters[i];
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    return s + " (" + octal + ")";
}

std::string OwnerText(uid_t uid, gid_t gid)
{
    const passwd* pw = ::getpwuid(uid);
    const group* gr = ::getgrgid(gid);
    return (pw ? std::string(pw->pw_name) : std::to_string(uid)) + ", group "
        + (gr ? std::string(gr->gr_name) : std::to_string(gid));
}

struct Tally {
    std::uint64_t bytes = 0, files = 0, folders = 0;
    bool partial = false;
};

void Count(const std::string& folder, Tally& t, const QElapsedTimer& clock);

// Adds one item to the tally: a folder as one folder and its contents, any
// other item as one file (the size of a regular one).
void Add(const std::string& path, const struct stat& st, Tally& t, const QElapsedTimer& clock)
{
    if (S_ISDIR(st.st_mode)) {
        ++t.folders;
        Count(path, t, clock);
    } else {
        ++t.files;
        t.bytes += S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
}

// Counts a folder's contents without following links; a very large tree is
// cut off after a few seconds and shown as "at least".
void Count(const std::string& folder, Tally& t, const QElapsedTimer& clock)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        if (clock.elapsed() > 3000) {
            t.partial = true;
            break;
        }
        const std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0)
            Add(path, st, t, clock);
    }
    ::closedir(dir);
}

std::string TypeText(const std::string& path, const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return "Symbolic link";
    if (S_ISDIR(st.st_mode))
        return "File Folder";
    if (!S_ISREG(st.st_mode))
        return S_ISFIFO(st.st_mode) ? "FIFO" : S_ISSOCK(st.st_mode) ? "Socket" : "Device";
    const std::string type = ShellMimeTypeOf(path);
    const QString comment = QMimeDatabase().mimeTypeForName(QString::fromStdString(type)).comment();
    return (comment.isEmpty() ? type : comment.toStdString()) + " (" + type + ")";
}

} // namespace

std::string PropertiesText(const std::vector<std::string>& paths)
{
    QElapsedTimer clock;
    clock.start();
    if (paths.size() != 1) {
        Tally t;
        for (const std::string& p : paths) {
            struct stat st;
            if (::lstat(p.c_str(), &st) == 0)
                Add(p, st, t, clock);
        }
        const std::string folder = paths.empty() ? std::string() : paths.front().substr(0, paths.front().find_last_of('/'));
        return Grouped(paths.size()) + " items\nFolder: " + (folder.empty() ? "/" : folder) + "\nSize: "
            + (t.partial ? "at least " : "") + SizeText(t.bytes) + "\nContains: " + Grouped(t.files) + " files, "
            + Grouped(t.folders) + " folders";
    }
    const std::string& path = paths.front();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return Quoted(path) + ": " + SysErrorMessage(Win32ErrorFromErrno(errno)) + ".";
    const size_t slash = path.find_last_of('/');
    std::string text = "Name: " + path.substr(slash == std::string::npos ? 0 : slash + 1);
    text += "\nType: " + TypeText(path, st);
    text += "\nFolder: " + (slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : path.substr(0, slash));
    if (S_ISLNK(st.st_mode)) {
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        target.resize(n > 0 ? static_cast<size_t>(n) : 0);
        struct stat tst;
        text += "\nLink target: " + target + (::stat(path.c_str(), &tst) != 0 ? " (missing)" : "");
    }
    if (S_ISDIR(st.st_mode)) {
        Tally t;
        Count(path, t, clock);
        text += "\nSize: " + std::string(t.partial ? "at least " : "") + SizeText(t.bytes);
        text += "\nContains: " + Grouped(t.files) + " files, " + Grouped(t.folders) + " folders";
    } else {
        text += "\nSize: " + SizeText(static_cast<std::uint64_t>(st.st_size));
    }
    text += "\nModified: " + TimeText(st.st_mtim);
    text += "\nAccessed: " + TimeText(st.st_atim);
    text += "\nChanged: " + TimeText(st.st_ctim);
    text += "\nPermissions: " + Permissions(st.st_mode);
    text += "\nOwner: " + OwnerText(st.st_uid, st.st_gid);
    return text;
}

void ShowProperties(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    const std::string caption = (paths.size() == 1 ? Quoted(paths.front()) : Grouped(paths.size()) + " items")
        + " Properties";
    Ask(PropertiesText(paths), caption, MB_OK | MB_ICONINFORMATION);
}

} // namespace shellui

namespace {

// The questions through the prompt service; a window with a Cancel button
// shows the progress of an operation that runs longer than a second.
class PromptFileOpUI final : public IShellFileOpUI {
public:
    explicit PromptFileOpUI(FILEOP_FLAGS flags) : m_flags(flags) { m_clock.start(); }

    Conflict AskConflict(const std::string& source, const std::string& target, bool more, bool& forAll) override
    {
        if (m_flags & FOF_NOCONFIRMATION) {
            forAll = true;
            return Conflict::Replace;
        }
        const int answer = shellui::Ask("\"" + target + "\" already exists.\n\nReplace it with \"" + source + "\"?",
            "Confirm File Replace", MB_YESNOCANCEL | MB_ICONQUESTION);
        const Conflict c = answer == IDYES ? Conflict::Replace : answer == IDNO ? Conflict::Skip : Conflict::Cancel;
        if (c != Conflict::Cancel && more)
            forAll = shellui::Ask(std::string("Do the same for the other items that already exist?"),
                "Confirm File Replace", MB_YESNO | MB_ICONQUESTION) == IDYES;
        return c;
    }
    bool ConfirmDelete(const std::vector<std::string>& items) override
    {
        if (m_flags & FOF_NOCONFIRMATION)
            return true;
        const bool one = items.size() == 1;
        const std::string what = one ? "\"" + items.front() + "\"" : "these " + std::to_string(items.size()) + " items";
        return shellui::Ask("Are you sure you want to delete " + what + " for good?\n\n"
                                + (one ? "It cannot be restored." : "They cannot be restored."),
                   "Confirm File Delete", MB_YESNO | MB_ICONWARNING) == IDYES;
    }
    bool ConfirmDeleteWithoutTrash(const std::string& item, const std::string& reason) override
    {
        return shellui::Ask("\"" + item + "\" cannot be moved to the trash: " + reason
                                + ".\n\nDelete it for good instead?",
                   "Confirm File Delete", MB_YESNO | MB_ICONWARNING) == IDYES;
    }
    void ReportProblems(const std::vector<std::string>& problems) override
    {
        if (m_flags & FOF_NOERRORUI)
            return;
        std::string text;
        const size_t shown = std::min<size_t>(problems.size(), 12);
        for (size_t i = 0; i < shown; ++i)
            text += problems[i] + "\n";
        if (problems.size() > shown)
            text += "... and " + std::to_string(problems.size() - shown) + " more.\n";
        shellui::Error(text, "Vistrel");
    }
    bool WantsProgress() const override { return !(m_flags & FOF_SILENT) && qobject_cast<QApplication*>(QCoreApplication::instance()); }
    bool Progress(const std::string& current, std::uint64_t done, std::uint64_t total) override
    {
        if (!WantsProgress())
            return true;
        if (!m_dialog && m_clock.elapsed() > 1000) {
            m_dialog = std::make_unique<QProgressDialog>("", "Cancel", 0, 1000);
            m_dialog->setWindowTitle("Vistrel");
            m_dialog->setWindowModality(Qt::ApplicationModal);
            m_dialog->setMinimumDuration(0);
            m_dialog->setAutoClose(false);
            m_dialog->setAutoReset(false);
        }
        if (!m_dialog)
            return true;
        if (m_dialog->wasCanceled())
            return false;
        // The window follows a few times a second: each update runs the
        // event loop, which between thousands of small files costs more
        // than the files.
        if (m_shown.isValid() && m_shown.elapsed() < 50)
            return true;
        m_shown.start();
        m_dialog->setLabelText(QString::fromStdString(current));
        m_dialog->setValue(total ? static_cast<int>(done * 1000 / std::max<std::uint64_t>(total, 1)) : 0);
        QCoreApplication::processEvents();
        return !m_dialog->wasCanceled();
    }

private:
    FILEOP_FLAGS m_flags;
    QElapsedTimer m_clock;
    QElapsedTimer m_shown;  // since the window was last brought up to date
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace

std::unique_ptr<IShellFileOpUI> ShellPromptFileOpUI(FILEOP_FLAGS flags) { return std::make_unique<PromptFileOpUI>(flags); }
