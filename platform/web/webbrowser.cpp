#include "webbrowser.h"

#include "charset.h"
#include "mhtreader.h"
#include "stylelinks.h"
#include "weburl.h"

#include "rtl/sysutils.h"
#include "win/fileops.h"
#include "win/wintypes.h"

#include <QTextBrowser>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::string ExtensionOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return LowerCase(path.substr(dot));
}

bool IsMhtName(const std::string& path)
{
    const std::string ext = ExtensionOf(path);
    return ext == ".mht" || ext == ".mhtml";
}

bool IsPageName(const std::string& path)
{
    const std::string ext = ExtensionOf(path);
    return ext == ".htm" || ext == ".html" || ext == ".shtm" || ext == ".shtml" || IsMhtName(path);
}

// Reads a regular file whole through a descriptor of our own, so that names
// that are not UTF-8 open as well. A FIFO or device is refused without
// waiting on it; so is a file above the limit.
bool ReadLocalFile(const std::string& path, long long limit, std::string& out, std::string& reason)
{
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        reason = SysErrorMessage(GetLastError()) + ".";
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        reason = SysErrorMessage(Win32ErrorFromErrno(errno)) + ".";
    else if (st.st_size > limit)
        reason = "The file is too large to show.";
    else {
        out.clear();
        out.reserve(static_cast<size_t>(st.st_size));
        char buffer[65536];
        ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                reason = SysErrorMessage(Win32ErrorFromErrno(errno)) + ".";
                ok = false;
                break;
            }
            if (n == 0)
                break;
            // A file that grows while it is read stops at the limit.
            if (out.size() + static_cast<size_t>(n) > static_cast<size_t>(limit)) {
                reason = "The file is too large to show.";
                ok = false;
                break;
            }
            out.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return ok;
}

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

// The Qt browser, answering every resource a page asks for from local files
// or the MHT archive, and nothing else.
struct TCppWebBrowser::Browser : QTextBrowser {
    explicit Browser(TCppWebBrowser* owner) : control(owner)
    {
        setOpenLinks(false);
        setOpenExternalLinks(false);
        // The face and size browsers show unstyled text in.
        QFont font("Times New Roman");
        font.setPointSize(12);
        document()->setDefaultFont(font);
        connect(this, &QTextBrowser::anchorClicked, [this](const QUrl& url) { FollowLink(url); });
    }

    QVariant loadResource(int type, const QUrl& name) override
    {
        const std::string reference = name.toString(QUrl::FullyEncoded).toStdString();
        std::string bytes;
        std::string charset;
        if (isMht) {
            const TMhtPart* part = archive.Find(reference, rootLocation);
            if (!part)
                return {};
            bytes = part->Body;
            charset = part->Charset;
        } else {
            const std::string file = LocalFileOfReference(folder, reference);
            std::string reason;
            if (file.empty() || !ReadLocalFile(file, kMaxWebResourceBytes, bytes, reason))
                return {};
        }
        if (type == QTextDocument::StyleSheetResource)
            return Utf8(CharsetToUtf8(bytes, charset.empty() ? "utf-8" : charset));
        if (type == QTextDocument::ImageResource)
            return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return {};
    }

    void ShowMessage(const std::string& title, const std::string& detail)
    {
        isMht = false;
        setHtml("<h3>" + Utf8(title).toHtmlEscaped() + "</h3><p>" + Utf8(detail).toHtmlEscaped() + "</p>");
    }

    void Load(const std::string& path)
    {
        location = path;
        folder = path.substr(0, path.rfind('/') + 1);
        isMht = false;
        archive = TMhtArchive();
        rootLocation.clear();
        clear();
        std::string bytes;
        std::string reason;
        if (!ReadLocalFile(path, kMaxWebPageBytes, bytes, reason)) {
            ShowMessage("The page cannot be shown.", path + ": " + reason);
            return;
        }
        if (!IsMhtName(path)) {
            setHtml(Utf8(TypeStyleSheetLinks(CharsetToUtf8(bytes, HtmlCharset(bytes)))));
            return;
        }
        std::string error;
        if (!archive.Read(bytes, &error)) {
            ShowMessage("The archive cannot be shown.", path + ": " + error);
            return;
        }
        isMht = true;
        const TMhtPart* root = archive.Root();
        rootLocation = root->Location;
        const bool html = root->ContentType == "text/html";
        const std::string charset = !root->Charset.empty() ? root->Charset
            : html                                          ? HtmlCharset(root->Body)
                                                            : std::string("utf-8");
        const std::string text = CharsetToUtf8(root->Body, charset);
        if (html)
            setHtml(Utf8(TypeStyleSheetLinks(text)));
        else
            setPlainText(Utf8(text));
    }

    void FollowLink(const QUrl& url)
    {
        if (url.isRelative() && url.path().isEmpty() && url.hasFragment()) {
            scrollToAnchor(url.fragment());
            return;
        }
        if (isMht)
            return;
        const std::string file = LocalFileOfReference(folder, url.toString(QUrl::FullyEncoded).toStdString());
        if (file.empty() || !IsPageName(file))
            return;
        control->Navigate("File://" + file);
        if (url.hasFragment())
            scrollToAnchor(url.fragment());
    }

    TCppWebBrowser* control;
    std::string location;
    std::string folder;
    bool isMht = false;
    TMhtArchive archive;
    std::string rootLocation;
};

TCppWebBrowser::TCppWebBrowser(TComponent* owner) : TWinControl(owner), m_browser(new Browser(this))
{
    SetWidget(m_browser);
    SetColor(clWindow);
}

TCppWebBrowser::~TCppWebBrowser() = default;

void TCppWebBrowser::Navigate(const std::string& url)
{
    constexpr size_t kPrefix = 7; // "File://"
    if (url.size() > kPrefix && LowerCase(url.substr(0, kPrefix)) == "file://") {
        m_browser->Load(url.substr(kPrefix));
        return;
    }
    m_browser->location.clear();
    m_browser->ShowMessage("This page is not shown offline.", url);
}

const std::string& TCppWebBrowser::LocationName() const { return m_browser->location; }

std::string TCppWebBrowser::PageText() const { return m_browser->toPlainText().toStdString(); }
