// The OLE container over LibreOffice's converter: the object of a document
// is a picture of its first page, made in a separate process and kept in
// the program's cache.
#include "ole/compoundfile.h"
#include "ole/officeconv_p.h"
#include "ole/olectrls.h"

#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "win/shellexec.h"

#include <QPainter>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// What the container shows: the object's picture on white, the progress
// text while the picture is being made, or nothing.
class TOleObjectView : public QWidget {
public:
    void ShowPicture(QImage picture)
    {
        m_picture = std::move(picture);
        m_text.clear();
        update();
    }
    void ShowText(const QString& text)
    {
        m_picture = QImage();
        m_text = text;
        update();
    }
    void Clear() { ShowText(QString()); }
    QSize ContentSize() const
    {
        if (!m_picture.isNull())
            return m_picture.size();
        if (m_text.isEmpty())
            return QSize(0, 0);
        const QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(m_text) + 2 * kMargin, metrics.height() + 2 * kMargin);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!m_picture.isNull())
            painter.drawImage(0, 0, m_picture);
        else if (!m_text.isEmpty()) {
            painter.setPen(Qt::black);
            painter.drawText(rect().adjusted(kMargin, kMargin, -kMargin, -kMargin), Qt::AlignLeft | Qt::AlignTop, m_text);
        }
    }

private:
    static constexpr int kMargin = 8;
    QImage m_picture;
    QString m_text;
};

namespace {

// Reads a document's bytes where it lies; the file is opened once for the
// look at its first bytes and streams.
class TFileReader {
public:
    explicit TFileReader(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~TFileReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;
    bool Opened() const { return m_fd >= 0; }
    std::size_t ReadAt(std::uint64_t pos, void* buffer, std::size_t n) const
    {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd, static_cast<char*>(buffer) + done, n - done, static_cast<off_t>(pos + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int m_fd;
};


}  // namespace

TOleContainer::TOleContainer(TComponent* owner) : TWinControl(owner), m_view(new TOleObjectView())
{
    SetWidget(m_view);
    SetBounds(0, 0, 0, 0);
    m_limit = new TTimer(this);
    m_limit->SetEnabled(false);
    m_limit->SetInterval(kConversionTimeLimitMs);
    m_limit->OnTimer = [this](TObject*) { ConversionTimedOut(); };
}

TOleContainer::~TOleContainer()
{
    m_limit->SetEnabled(false);
    m_conversion.reset();
}

bool TOleContainer::Converting() const { return m_conversion != nullptr; }

bool TOleContainer::ConvertingFile(const std::string& fileName) const
{
    if (!m_conversion || !m_key || m_key->path != fileName)
        return false;
    DWORD error = 0;
    const auto now = KeyOfDocument(fileName, &error);
    return now && *now == *m_key;
}

std::int64_t TOleContainer::ConverterProcessId() const { return m_conversion ? m_conversion->ProcessId() : 0; }

void TOleContainer::DestroyObject()
{
    m_limit->SetEnabled(false);
    m_conversion.reset();
    m_key.reset();
    m_source.clear();
    m_shown = false;
    m_view->Clear();
    SizeToObject();
}

void TOleContainer::CreateObjectFromFile(const std::string& fileName, bool iconic)
{
    DestroyObject();
    if (iconic)
        throw EOleSysError("Objects shown as an icon are not supported.", E_NOTIMPL);
    DWORD error = 0;
    const auto key = KeyOfDocument(fileName, &error);
    if (!key)
        throw EOleSysError("The document cannot be read: " + SysErrorMessage(error) + ".",
                           error == ERROR_FILE_NOT_FOUND ? STG_E_FILENOTFOUND : HRESULT_FROM_WIN32(error));

    // A document seen before, as it is now, shows at once: its picture or
    // the failure that would come again.
    if (const auto known = OfficeCache::Find(*key)) {
        if (known->picture.isNull())
            throw EOleSysError(known->reason, known->code);
        m_source = fileName;
        m_shown = true;
        m_view->ShowPicture(known->picture);
        SizeToObject();
        return;
    }

    // Damage and passwords show in the document's own first bytes and
    // streams, faster and clearer than what the converter would say.
    TFileReader reader(fileName);
    if (!reader.Opened())
        throw EOleSysError("The document cannot be read: " + SysErrorMessage(Win32ErrorFromErrno(errno)) + ".",
                           STG_E_ACCESSDENIED);
    const TOfficeFileKind kind = ClassifyOfficeFile(
        [&reader](std::uint64_t pos, void* buffer, std::size_t n) { return reader.ReadAt(pos, buffer, n); },
        static_cast<std::uint64_t>(key->size));
    if (kind == TOfficeFileKind::PasswordLocked)
        throw EOleSysError(kLockedDocumentReason, STG_E_ACCESSDENIED);
    if (kind == TOfficeFileKind::Damaged)
        throw EOleSysError(kDamagedDocumentReason, STG_E_DOCFILECORRUPT);

    const std::string program = OfficeConverterProgram();
    if (program.empty())
        throw EOleSysError(kNoConverterReason, REGDB_E_CLASSNOTREG);

    m_source = fileName;
    m_key = std::make_unique<TOfficeDocumentKey>(*key);
    m_view->ShowText("Converting...");
    SizeToObject();
    m_limit->SetEnabled(true);
    m_conversion = std::make_unique<TOfficeConversion>(
        program, *key, [this](TOfficeOutcome outcome) { ConversionEnded(std::move(outcome)); });
}

void TOleContainer::ConversionEnded(TOfficeOutcome outcome)
{
    m_limit->SetEnabled(false);
    m_conversion.reset();
    if (m_key)
        OfficeCache::Store(*m_key, outcome);
    if (outcome.picture.isNull()) {
        Fail(EOleSysError(outcome.reason, outcome.code));
        return;
    }
    m_shown = true;
    m_view->ShowPicture(std::move(outcome.picture));
    SizeToObject();
}

void TOleContainer::SizeToObject()
{
    const QSize size = m_view->ContentSize();
    SetBounds(Left(), Top(), size.width(), size.height());
    // A scroll box (the container's usual parent) scrolls over what its
    // children cover: it lays them out again to learn the new size.
    if (Parent())
        Parent()->AlignControls();
}

void TOleContainer::ConversionTimedOut()
{
    if (!m_conversion)
        return;
    Fail(EOleSysError("Its conversion took longer than " + std::to_string(kConversionTimeLimitMs / 1000) +
                          " seconds and was stopped.",
                      RPC_E_TIMEOUT));
}

void TOleContainer::Fail(const EOleSysError& error)
{
    DestroyObject();
    if (OnObjectError)
        OnObjectError(this, error);
}

void TOleContainer::DoVerb(int)
{
    if (!m_shown)
        throw EOleSysError("There is no object to open.", E_FAIL);
    SetLastError(ERROR_SUCCESS);
    if (!ShellOpen(m_source)) {
        const DWORD error = GetLastError();
        throw EOleSysError("No application of the desktop opens " + m_source, error ? HRESULT_FROM_WIN32(error) : E_FAIL);
    }
}

void TOleContainer::DblClick()
{
    TWinControl::DblClick();
    if (m_shown)
        RunEventHandler([this] { DoVerb(0); });
}
