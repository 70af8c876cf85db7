#include "pdfviewer.h"

#include "vcl/forms.h"

#include "rtl/sysutils.h"
#include "win/fileops.h"

#include <poppler-qt6.h>

#include <QAbstractScrollArea>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <list>
#include <vector>

namespace {

constexpr double kZoomSteps[] = {0.1, 0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0};
// Around the pages and between them, in pixels.
constexpr int kMargin = 8;
// At 100 % a point (1/72 inch) takes 96/72 pixels, as on a 96 dpi screen.
constexpr double kPixelsPerPoint = 96.0 / 72.0;
// A page above this many pixels (a poster at 400 %, a hostile page size) is
// rendered piece by piece as it shows, never whole.
constexpr qint64 kMaxWholePagePixels = 24LL * 1024 * 1024;
// Rendered pages kept for repainting and scrolling back.
constexpr qint64 kCacheBytes = 192LL * 1024 * 1024;
// Printing renders at the printer's resolution up to this.
constexpr int kMaxPrintDpi = 300;
constexpr int kScrollStep = 40;

Poppler::Page::Rotation RotationOf(int degrees)
{
    switch (degrees) {
    case 90: return Poppler::Page::Rotate90;
    case 180: return Poppler::Page::Rotate180;
    case 270: return Poppler::Page::Rotate270;
    default: return Poppler::Page::Rotate0;
    }
}

QString Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

struct TPdfViewerOcx::View : QAbstractScrollArea {
    View()
    {
        viewport()->setAutoFillBackground(false);
        viewport()->setCursor(Qt::OpenHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        connect(verticalScrollBar(), &QScrollBar::valueChanged, [this](int) {
            if (!programmaticScroll)
                CurrentFromScroll();
        });
    }

    // Every change of the current page goes through here, so the owner
    // hears of each one.
    void SetCurrent(int page)
    {
        if (page == current)
            return;
        current = page;
        if (pageChanged)
            pageChanged();
    }

    // ---- document ---------------------------------------------------------------------

    void Close()
    {
        doc.reset();
        device.reset();
        name.clear();
        password.clear();
        pageSizes.clear();
        tops.clear();
        cache.clear();
        cacheBytes = 0;
        SetCurrent(0);
        selectAll = false;
        selPage = -1;
        resultPage = -1;
        Layout();
        viewport()->update();
    }

    int Open(const std::string& fileName, const std::string& owner, const std::string& user)
    {
        Close();
        scale = 1.0;
        rotation = pendingRotation = 0;
        // Our own descriptor: names that are not UTF-8 open too, and a FIFO
        // or device is refused without waiting on it.
        const int fd = OpenRegularFile(fileName);
        if (fd < 0)
            return kCannotRead;
        auto file = std::make_unique<QFile>();
        if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return kCannotRead;
        }
        std::unique_ptr<Poppler::Document> loaded = Poppler::Document::load(file.get(),
            QByteArray(owner.data(), static_cast<qsizetype>(owner.size())),
            QByteArray(user.data(), static_cast<qsizetype>(user.size())));
        if (!loaded)
            return kDamaged;
        if (loaded->isLocked())
            return kLocked;
        const int count = loaded->numPages();
        if (count <= 0)
            return kDamaged;
        loaded->setRenderHint(Poppler::Document::Antialiasing, true);
        loaded->setRenderHint(Poppler::Document::TextAntialiasing, true);
        std::vector<QSizeF> sizes;
        sizes.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            const std::unique_ptr<Poppler::Page> page = loaded->page(i);
            QSizeF s = page ? page->pageSizeF() : QSizeF();
            // A page without a usable size takes the letter size, so that it
            // still has a place in the layout.
            if (!(s.width() >= 1 && s.height() >= 1 && s.width() < 1e6 && s.height() < 1e6))
                s = QSizeF(612, 792);
            sizes.push_back(s);
        }
        device = std::move(file);
        doc = std::move(loaded);
        pageSizes = std::move(sizes);
        name = fileName;
        password = user;
        Layout();
        ScrollToPage(0, 0);
        viewport()->update();
        return kOpened;
    }

    int PageCount() const { return static_cast<int>(pageSizes.size()); }

    // ---- layout -----------------------------------------------------------------------

    double PixelsPerPoint() const { return scale * kPixelsPerPoint; }
    bool Sideways() const { return rotation == 90 || rotation == 270; }

    QSize PagePixels(int i) const
    {
        const QSizeF pts = pageSizes[static_cast<size_t>(i)];
        const int w = std::max(1, static_cast<int>(std::lround(pts.width() * PixelsPerPoint())));
        const int h = std::max(1, static_cast<int>(std::lround(pts.height() * PixelsPerPoint())));
        return Sideways() ? QSize(h, w) : QSize(w, h);
    }

    int DocumentWidth() const { return std::max(viewport()->width(), widest + 2 * kMargin); }

    // The page's place in the document, scrolling not applied.
    QRect PageRect(int i) const
    {
        const QSize s = PagePixels(i);
        const int x = std::max(kMargin, (DocumentWidth() - s.width()) / 2);
        return QRect(QPoint(x, tops[static_cast<size_t>(i)]), s);
    }

    QRect PageOnScreen(int i) const
    {
        return PageRect(i).translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    }

    void Layout()
    {
        tops.assign(pageSizes.size(), 0);
        int y = kMargin;
        widest = 0;
        for (int i = 0; i < PageCount(); ++i) {
            const QSize s = PagePixels(i);
            tops[static_cast<size_t>(i)] = y;
            y += s.height() + kMargin;
            widest = std::max(widest, s.width());
        }
        height = y;
        programmaticScroll = true;
        verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
        verticalScrollBar()->setSingleStep(kScrollStep);
        horizontalScrollBar()->setRange(0, std::max(0, DocumentWidth() - viewport()->width()));
        horizontalScrollBar()->setPageStep(viewport()->width());
        horizontalScrollBar()->setSingleStep(kScrollStep);
        programmaticScroll = false;
    }

    // Shows page i with the given share of its height above the window's top.
    void ScrollToPage(int i, double share)
    {
        if (PageCount() == 0)
            return;
        SetCurrent(std::clamp(i, 0, PageCount() - 1));
        const QRect r = PageRect(current);
        programmaticScroll = true;
        verticalScrollBar()->setValue(r.top() - kMargin + static_cast<int>(share * r.height()));
        programmaticScroll = false;
        viewport()->update();
    }

    // The current page follows the user's scrolling: the page at the top of
    // the window.
    void CurrentFromScroll()
    {
        const int y = verticalScrollBar()->value() + kMargin;
        const auto it = std::upper_bound(tops.begin(), tops.end(), y);
        int page = std::max(0, static_cast<int>(it - tops.begin()) - 1);
        // A page that only starts in the window counts once nothing else shows.
        if (page + 1 < PageCount() && PageRect(page).bottom() < verticalScrollBar()->value())
            ++page;
        SetCurrent(page);
    }

    // A new scale, keeping the part of the current page at the window's top.
    void SetScale(double newScale)
    {
        if (PageCount() == 0)
            return;
        const QRect before = PageRect(current);
        const double share = before.height() > 0
            ? std::clamp((verticalScrollBar()->value() + kMargin - before.top()) / double(before.height()), 0.0, 1.0)
            : 0.0;
        scale = std::clamp(newScale, kZoomSteps[0], kZoomSteps[std::size(kZoomSteps) - 1]);
        DropCache();
        Layout();
        ScrollToPage(current, share);
    }

    // ---- rendering --------------------------------------------------------------------

    void DropCache()
    {
        cache.clear();
        cacheBytes = 0;
    }

    bool RendersWhole(int i) const
    {
        const QSize s = PagePixels(i);
        return static_cast<qint64>(s.width()) * s.height() <= kMaxWholePagePixels;
    }

    const QImage& CachedPage(int i)
    {
        for (auto it = cache.begin(); it != cache.end(); ++it) {
            if (it->first == i) {
                cache.splice(cache.begin(), cache, it);
                return cache.front().second;
            }
        }
        QImage image;
        if (const std::unique_ptr<Poppler::Page> page = doc->page(i)) {
            const double dpi = 72.0 * PixelsPerPoint();
            image = page->renderToImage(dpi, dpi, -1, -1, -1, -1, RotationOf(rotation));
        }
        cacheBytes += image.sizeInBytes();
        cache.emplace_front(i, std::move(image));
        while (cacheBytes > kCacheBytes && cache.size() > 1) {
            cacheBytes -= cache.back().second.sizeInBytes();
            cache.pop_back();
        }
        return cache.front().second;
    }

    // Maps page points (unrotated, top-left origin) to window pixels.
    QTransform PageTransform(int i) const
    {
        const QRect r = PageOnScreen(i);
        const QSizeF pts = pageSizes[static_cast<size_t>(i)];
        const double k = PixelsPerPoint();
        QTransform t;
        t.translate(r.x(), r.y());
        switch (rotation) {
        case 90: t.translate(pts.height() * k, 0); t.rotate(90); break;
        case 180: t.translate(pts.width() * k, pts.height() * k); t.rotate(180); break;
        case 270: t.translate(0, pts.width() * k); t.rotate(270); break;
        default: break;
        }
        t.scale(k, k);
        return t;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(viewport());
        p.fillRect(viewport()->rect(), QColor(0x80, 0x80, 0x80));
        if (!doc)
            return;
        const int top = verticalScrollBar()->value();
        const int bottom = top + viewport()->height();
        auto first = std::upper_bound(tops.begin(), tops.end(), top);
        int i = std::max(0, static_cast<int>(first - tops.begin()) - 1);
        for (; i < PageCount() && tops[static_cast<size_t>(i)] < bottom; ++i) {
            const QRect r = PageOnScreen(i);
            if (r.bottom() < 0)
                continue;
            p.fillRect(r.translated(2, 2), QColor(0x40, 0x40, 0x40));
            p.fillRect(r, Qt::white);
            if (RendersWhole(i)) {
                p.drawImage(r.topLeft(), CachedPage(i));
            } else if (const std::unique_ptr<Poppler::Page> page = doc->page(i)) {
                const QRect part = r.intersected(viewport()->rect());
                const double dpi = 72.0 * PixelsPerPoint();
                p.drawImage(part.topLeft(), page->renderToImage(dpi, dpi, part.x() - r.x(), part.y() - r.y(),
                                                part.width(), part.height(), RotationOf(rotation)));
            }
            PaintMarks(p, i, r);
        }
    }

    void PaintMarks(QPainter& p, int i, const QRect& onScreen)
    {
        const QColor selection(0x33, 0x66, 0xCC, 0x50);
        if (selectAll)
            p.fillRect(onScreen, selection);
        else if (selPage == i)
            p.fillRect(PageTransform(i).mapRect(selRect), selection);
        if (resultPage == i)
            p.fillRect(PageTransform(i).mapRect(resultRect), QColor(0xFF, 0x99, 0x00, 0x70));
    }

    // ---- input ------------------------------------------------------------------------

    int PageAt(const QPoint& pos) const
    {
        for (int i = 0; i < PageCount(); ++i)
            if (PageOnScreen(i).contains(pos))
                return i;
        return -1;
    }

    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton || !doc)
            return;
        dragStart = e->position().toPoint();
        dragScroll = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
        dragging = true;
        if (workMode == 1) {
            selectAll = false;
            selPage = PageAt(dragStart);
            selRect = QRectF();
            viewport()->update();
        } else {
            viewport()->setCursor(Qt::ClosedHandCursor);
        }
    }

    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (!dragging)
            return;
        const QPoint pos = e->position().toPoint();
        if (workMode == 1) {
            if (selPage < 0)
                return;
            const QTransform back = PageTransform(selPage).inverted();
            selRect = QRectF(back.map(QPointF(dragStart)), back.map(QPointF(pos))).normalized()
                          .intersected(QRectF(QPointF(0, 0), pageSizes[static_cast<size_t>(selPage)]));
            viewport()->update();
        } else {
            horizontalScrollBar()->setValue(dragScroll.x() - (pos.x() - dragStart.x()));
            verticalScrollBar()->setValue(dragScroll.y() - (pos.y() - dragStart.y()));
        }
    }

    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton)
            return;
        mouseMoveEvent(e);
        dragging = false;
        if (workMode == 0)
            viewport()->setCursor(Qt::OpenHandCursor);
    }

    void keyPressEvent(QKeyEvent* e) override
    {
        QScrollBar* v = verticalScrollBar();
        switch (e->key()) {
        case Qt::Key_PageDown: v->setValue(v->value() + viewport()->height() - kScrollStep); break;
        case Qt::Key_PageUp: v->setValue(v->value() - viewport()->height() + kScrollStep); break;
        case Qt::Key_Down: v->setValue(v->value() + kScrollStep); break;
        case Qt::Key_Up: v->setValue(v->value() - kScrollStep); break;
        case Qt::Key_Home: ScrollToPage(0, 0); break;
        case Qt::Key_End: ScrollToPage(PageCount() - 1, 0); break;
        default: QAbstractScrollArea::keyPressEvent(e); return;
        }
    }

    void resizeEvent(QResizeEvent* e) override
    {
        QAbstractScrollArea::resizeEvent(e);
        const int keep = current;
        const QRect r = PageCount() ? PageRect(keep) : QRect();
        const double share = r.height() > 0
            ? std::clamp((verticalScrollBar()->value() + kMargin - r.top()) / double(r.height()), 0.0, 1.0)
            : 0.0;
        Layout();
        if (PageCount())
            ScrollToPage(keep, share);
    }

    // ---- find, selection, print ----------------------------------------------------------

    bool Find(const QString& text)
    {
        if (!doc || text.isEmpty())
            return false;
        const int n = PageCount();
        const int start = resultPage >= 0 ? resultPage : current;
        // The start page twice: after the place found last, and at the end
        // of the round from its top.
        for (int k = 0; k <= n; ++k) {
            const int i = (start + k) % n;
            const std::unique_ptr<Poppler::Page> page = doc->page(i);
            if (!page)
                continue;
            const QList<QRectF> places = page->search(text, Poppler::Page::IgnoreCase);
            const int from = k == 0 && resultPage == i ? resultIndex + 1 : 0;
            if (from >= places.size())
                continue;
            resultPage = i;
            resultIndex = from;
            resultRect = places[from];
            ShowResult();
            return true;
        }
        return false;
    }

    // Brings the place found into the window, a third of the way in along
    // each direction where it is not in the window already.
    void ShowResult()
    {
        SetCurrent(resultPage);
        QScrollBar* v = verticalScrollBar();
        QScrollBar* h = horizontalScrollBar();
        const QRect place = PageTransform(resultPage).mapRect(resultRect).toAlignedRect().translated(h->value(), v->value());
        const int width = viewport()->width();
        const int height = viewport()->height();
        programmaticScroll = true;
        if (place.top() < v->value() || place.bottom() > v->value() + height)
            v->setValue(place.top() - height / 3);
        if (place.left() < h->value() || place.right() > h->value() + width)
            h->setValue(place.left() - width / 3);
        programmaticScroll = false;
        viewport()->update();
    }

    QString SelectedText() const
    {
        if (!doc)
            return {};
        if (selectAll) {
            QString all;
            for (int i = 0; i < PageCount(); ++i) {
                if (const std::unique_ptr<Poppler::Page> page = doc->page(i)) {
                    if (i)
                        all += '\n';
                    all += page->text(QRectF());
                }
            }
            return all;
        }
        if (selPage < 0 || selRect.isEmpty())
            return {};
        const std::unique_ptr<Poppler::Page> page = doc->page(selPage);
        return page ? page->text(selRect) : QString();
    }

    void Print()
    {
        if (!doc)
            return;
        if (!doc->okToPrint()) {
            Application->MessageBox("This document can not be printed.", Application->Title(), MB_OK);
            return;
        }
        TPrintRequest request {ExtractFileName(name), 1, PageCount()};
        TPrintChoice choice;
        if (!Application->Prompts().PrintSetup(request, choice))
            return;
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(Utf8(request.Title));
        if (!choice.OutputFile.empty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(Utf8(choice.OutputFile));
        } else {
            printer.setPrinterName(Utf8(choice.PrinterName));
        }
        printer.setCopyCount(std::max(1, choice.Copies));
        const int from = std::clamp(choice.FromPage > 0 ? choice.FromPage : 1, 1, PageCount());
        const int to = std::clamp(choice.ToPage > 0 ? choice.ToPage : PageCount(), from, PageCount());
        QPainter painter;
        if (!painter.begin(&printer)) {
            Application->MessageBox("The printer cannot be used.", Application->Title(), MB_OK | MB_ICONERROR);
            return;
        }
        const double dpi = std::min(printer.resolution(), kMaxPrintDpi);
        for (int i = from; i <= to; ++i) {
            if (i > from)
                printer.newPage();
            const std::unique_ptr<Poppler::Page> page = doc->page(i - 1);
            if (!page)
                continue;
            const QImage image = page->renderToImage(dpi, dpi, -1, -1, -1, -1, RotationOf(rotation));
            const QRect area = painter.viewport();
            QSize fit = image.size().scaled(area.size(), Qt::KeepAspectRatio);
            painter.drawImage(QRect(area.topLeft(), fit), image);
        }
        painter.end();
    }

    std::unique_ptr<QFile> device;
    std::unique_ptr<Poppler::Document> doc;
    std::string name;
    std::string password;
    std::vector<QSizeF> pageSizes; // in points, unrotated
    std::vector<int> tops;
    int widest = 0;
    int height = 0;
    int current = 0;
    std::function<void()> pageChanged;
    double scale = 1.0;
    int rotation = 0;
    int pendingRotation = 0;
    int workMode = 0;
    bool programmaticScroll = false;

    std::list<std::pair<int, QImage>> cache; // most recently used first
    qint64 cacheBytes = 0;

    bool dragging = false;
    QPoint dragStart;
    QPoint dragScroll;
    bool selectAll = false;
    int selPage = -1;
    QRectF selRect; // in page points
    int resultPage = -1;
    int resultIndex = -1;
    QRectF resultRect; // in page points
};

TPdfViewerOcx::TPdfViewerOcx(TComponent* owner) : TWinControl(owner), m_view(new View())
{
    SetWidget(m_view);
    m_view->pageChanged = [this] {
        if (OnPageChange)
            OnPageChange(this);
    };
}

TPdfViewerOcx::~TPdfViewerOcx() = default;

int TPdfViewerOcx::Open(const std::string& fileName, const std::string& ownerPassword, const std::string& userPassword)
{
    return m_view->Open(fileName, ownerPassword, userPassword);
}

void TPdfViewerOcx::GotoFirst() { Goto(1); }
void TPdfViewerOcx::GotoPrev() { Goto(CurrentPageNo() - 1); }
void TPdfViewerOcx::GotoNext() { Goto(CurrentPageNo() + 1); }
void TPdfViewerOcx::GotoLast() { Goto(PageCount()); }

void TPdfViewerOcx::Goto(int page)
{
    if (m_view->PageCount() == 0)
        return;
    m_view->ScrollToPage(std::clamp(page, 1, m_view->PageCount()) - 1, 0);
}

void TPdfViewerOcx::ZoomIn()
{
    for (double step : kZoomSteps)
        if (step > m_view->scale + 1e-9) {
            m_view->SetScale(step);
            return;
        }
}

void TPdfViewerOcx::ZoomOut()
{
    for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
        if (*it < m_view->scale - 1e-9) {
            m_view->SetScale(*it);
            return;
        }
}

void TPdfViewerOcx::FitActualSize() { m_view->SetScale(1.0); }

void TPdfViewerOcx::FitWidth()
{
    if (m_view->PageCount() == 0)
        return;
    const QSize at100 = m_view->PagePixels(m_view->current) / m_view->scale;
    const int room = m_view->viewport()->width() - 2 * kMargin;
    m_view->SetScale(room / double(std::max(1, at100.width())));
}

void TPdfViewerOcx::FitWindow()
{
    if (m_view->PageCount() == 0)
        return;
    const QSize at100 = m_view->PagePixels(m_view->current) / m_view->scale;
    const double byWidth = (m_view->viewport()->width() - 2 * kMargin) / double(std::max(1, at100.width()));
    const double byHeight = (m_view->viewport()->height() - 2 * kMargin) / double(std::max(1, at100.height()));
    m_view->SetScale(std::min(byWidth, byHeight));
}

bool TPdfViewerOcx::Find(const std::string& text) { return m_view->Find(QString::fromStdString(text)); }

void TPdfViewerOcx::ClearResult()
{
    m_view->resultPage = -1;
    m_view->resultIndex = -1;
    m_view->viewport()->update();
}

void TPdfViewerOcx::SetRotate(int angle)
{
    const int normal = ((angle % 360) + 360) % 360;
    if (normal % 90 == 0)
        m_view->pendingRotation = normal;
}

void TPdfViewerOcx::Refresh()
{
    if (m_view->rotation != m_view->pendingRotation) {
        m_view->rotation = m_view->pendingRotation;
        m_view->DropCache();
        m_view->Layout();
        m_view->ScrollToPage(m_view->current, 0);
    }
    m_view->viewport()->update();
}

void TPdfViewerOcx::SelectAll()
{
    if (m_view->PageCount() == 0)
        return;
    m_view->selectAll = true;
    m_view->selPage = -1;
    m_view->viewport()->update();
}

void TPdfViewerOcx::ClearSelect()
{
    m_view->selectAll = false;
    m_view->selPage = -1;
    m_view->viewport()->update();
}

int TPdfViewerOcx::CanCopy() const { return m_view->doc && m_view->doc->okToCopy() ? 1 : 0; }

std::string TPdfViewerOcx::FileName() const { return m_view->doc ? m_view->name : std::string(); }

std::string TPdfViewerOcx::Password() const { return m_view->doc ? m_view->password : std::string(); }

std::u16string TPdfViewerOcx::GetSelectedText() const
{
    const QString text = m_view->SelectedText();
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

void TPdfViewerOcx::PrintSetup() { m_view->Print(); }

int TPdfViewerOcx::CurrentPageNo() const { return m_view->PageCount() ? m_view->current + 1 : 0; }

int TPdfViewerOcx::PageCount() const { return m_view->PageCount(); }

double TPdfViewerOcx::Scale() const { return m_view->scale; }

int TPdfViewerOcx::WorkMode() const { return m_view->workMode; }

void TPdfViewerOcx::SetWorkMode(int mode)
{
    m_view->workMode = mode == 1 ? 1 : 0;
    m_view->viewport()->setCursor(m_view->workMode == 1 ? Qt::IBeamCursor : Qt::OpenHandCursor);
}
