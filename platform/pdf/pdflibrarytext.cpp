#include "pdflibrarytext.h"

#include "pdfviewer.h"
#include "win/fileops.h"

#include <poppler-qt6.h>

#include <QFile>

#include <unistd.h>

#include <memory>

int PdfLibraryText(const std::string& fileName, const std::string& password,
    const std::function<void(std::string_view)>& sink)
{
    // Our own descriptor, as the viewer opens documents: names that are not
    // UTF-8 open too, and a FIFO or device is refused.
    const int fd = OpenRegularFile(fileName);
    if (fd < 0)
        return TPdfViewerOcx::kCannotRead;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return TPdfViewerOcx::kCannotRead;
    }
    const QByteArray key(password.data(), static_cast<qsizetype>(password.size()));
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(&file, key, key);
    if (!document)
        return TPdfViewerOcx::kDamaged;
    if (document->isLocked())
        return TPdfViewerOcx::kLocked;
    for (int i = 0; i < document->numPages(); ++i) {
        const std::unique_ptr<Poppler::Page> page = document->page(i);
        if (!page)
            continue;
        QString text = page->text(QRectF(), Poppler::Page::PhysicalLayout);
        if (text.isEmpty())
            continue;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
        const QByteArray utf8 = text.toUtf8();
        sink(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    }
    return TPdfViewerOcx::kOpened;
}
