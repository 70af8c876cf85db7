#include "textview.h"

#include "rtl/filesave.h"
#include "rtl/sysutils.h"
#include "rtl/unicode.h"

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <list>
#include <memory>

namespace {

constexpr int kMargin = 4;
// The distance of tab stops, as the plain text edit of small files has it.
constexpr qreal kTabStop = 80;
constexpr std::int64_t K = TTextFileView::kRowBytes;
constexpr std::size_t kCachedRows = 256;
// The vertical scroll bar's range stays below this; a larger text is
// counted in units of 2^shift bytes.
constexpr std::int64_t kMaxBarRange = std::int64_t(1) << 30;

bool IsWordByte(unsigned char c)
{
    return c >= 0x80 || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The text a view shows for bytes, in UTF-8.
std::string ShownText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    ForEachViewChar(bytes, [&](char32_t ch, std::size_t) { AppendUtf8(out, ch); });
    return out;
}

} // namespace

// ---- the widget

class TTextFileView::Area : public QAbstractScrollArea {
public:
    explicit Area(TTextFileView* owner);
    ~Area() override;

    TTextDocument doc;
    std::int64_t caret = 0;
    std::int64_t anchor = 0;
    bool wrap = true;
    bool readOnly = false;

    bool Load(const std::string& fileName, bool detectUtf16);
    void Reset();
    void TakeLoaded();
    void WaitLoaded();
    bool CanEdit() const { return doc.Editable() && !readOnly; }
    void SetSelection(std::int64_t newAnchor, std::int64_t newCaret, bool scroll = true);
    void Replace(std::int64_t from, std::int64_t to, std::string_view text, bool typing);
    void ScrollToCaret();
    void Relayout();
    std::int64_t Top() const { return m_top.row.rs; }
    bool Copy();
    void Paste();
    void UndoEdit();
    const std::string& LineBreak() const { return m_lineBreak; }

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    // A row: the start of the bytes it shows and the start of their line.
    struct Row {
        std::int64_t rs = 0;
        std::int64_t ls = 0;
        bool operator==(const Row& o) const { return rs == o.rs; }
    };
    // Where the view starts: a row and the first of its visual lines shown.
    struct Place {
        Row row;
        int sub = 0;
    };
    struct Layout {
        Row row;
        std::int64_t re = 0;   // the end of its bytes
        bool hasNext = false;  // a row follows
        Row next;
        std::vector<std::int32_t> byteAt;  // byte offset from rs of each UTF-16 unit, and of the end
        std::unique_ptr<QTextLayout> layout;
        qreal height = 0;
    };

    bool Before(const Place& a, const Place& b) const { return a.row.rs < b.row.rs || (a.row.rs == b.row.rs && a.sub < b.sub); }
    void Extent(const Row& r, std::int64_t& re, Row& next, bool& hasNext) const;
    bool PrevRow(const Row& r, Row& prev) const;
    Row RowOf(std::int64_t pos) const;
    std::int64_t RowStartAt(std::int64_t ls, std::int64_t j) const;
    Layout& LayoutOf(const Row& r);
    int IndexOf(const Layout& l, std::int64_t pos) const;
    bool ShowsCaret(const Layout& l, std::int64_t pos) const;
    void ForgetRowsFrom(std::int64_t pos);
    void ForgetAllRows();
    void ScrollLines(int n);
    void ClampTop();
    void UpdateLastTop();
    void UpdateBars();
    void OnBarAction(int action);
    void OnBarMoved(int value);
    int VisibleLines();
    std::int64_t HitTest(QPoint p);
    void MoveVertically(int lines, bool extend);
    void MoveTo(std::int64_t pos, bool extend, bool keepX = false);
    std::int64_t WordLeft(std::int64_t pos) const;
    std::int64_t WordRight(std::int64_t pos) const;
    void SelectWordAt(std::int64_t pos);
    void HomeEnd(bool end, bool extend);
    int ContentWidth() const { return std::max(1, viewport()->width() - 2 * kMargin); }
    void Changed();
    void SelectionChanged();
    void RestartBlink();
    void Grown(std::int64_t oldSize);
    void DetectLineBreak();

    TTextFileView* m_owner;
    Place m_top;
    Place m_lastTop;
    int m_shift = 0;
    bool m_settingBars = false;
    int m_desiredX = -1;
    bool m_selecting = false;
    bool m_caretOn = true;
    int m_wheelRest = 0;
    qreal m_widest = 0;
    std::list<Layout> m_rows;  // most recently used first
    QTimer m_blink;
    QTimer m_autoScroll;
    QPoint m_lastMouse;
    std::atomic<bool> m_posted {false};
    TTextDocState m_lastState = TTextDocState::Empty;
    bool m_toldChanged = false;
    std::string m_lineBreak = "\n";
    std::int64_t m_lastSelA = -1, m_lastSelB = -1;
};

TTextFileView::Area::Area(TTextFileView* owner) : m_owner(owner)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    QObject::connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { OnBarAction(a); });
    QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) { OnBarMoved(v); });
    QObject::connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int) { viewport()->update(); });
    m_blink.setInterval(std::max(100, QGuiApplication::styleHints()->cursorFlashTime() / 2));
    QObject::connect(&m_blink, &QTimer::timeout, this, [this] {
        m_caretOn = !m_caretOn;
        viewport()->update();
    });
    m_autoScroll.setInterval(50);
    QObject::connect(&m_autoScroll, &QTimer::timeout, this, [this] {
        const int h = viewport()->height();
        if (m_lastMouse.y() < 0)
            ScrollLines(-1);
        else if (m_lastMouse.y() >= h)
            ScrollLines(1);
        MoveTo(HitTest(m_lastMouse), true);
    });
}

TTextFileView::Area::~Area()
{
    // The reader stops before anything it might notify goes.
    doc.Clear();
}

void TTextFileView::Area::Reset()
{
    m_rows.clear();
    m_top = {};
    m_lastTop = {};
    caret = anchor = 0;
    m_desiredX = -1;
    m_widest = 0;
    m_toldChanged = false;
    DetectLineBreak();
    m_lastState = doc.State();
    horizontalScrollBar()->setValue(0);
    UpdateLastTop();
    UpdateBars();
    viewport()->update();
    SelectionChanged();
}

bool TTextFileView::Area::Load(const std::string& fileName, bool detectUtf16)
{
    const bool opened = doc.Load(fileName, detectUtf16, [this] {
        // Called on the reader's thread: one call waits in the queue at a time.
        if (!m_posted.exchange(true))
            QMetaObject::invokeMethod(this, [this] { TakeLoaded(); }, Qt::QueuedConnection);
    });
    Reset();
    return opened;
}

void TTextFileView::Area::TakeLoaded()
{
    m_posted = false;
    const std::int64_t oldSize = doc.Size();
    if (doc.TakeLoaded())
        Grown(oldSize);
}

void TTextFileView::Area::WaitLoaded()
{
    const std::int64_t oldSize = doc.Size();
    doc.WaitLoaded();
    Grown(oldSize);
}

void TTextFileView::Area::Grown(std::int64_t oldSize)
{
    // Rows that ended at the old end may go on now.
    ForgetRowsFrom(oldSize);
    UpdateLastTop();
    UpdateBars();
    viewport()->update();
    if (doc.State() != m_lastState) {
        m_lastState = doc.State();
        DetectLineBreak();
        if (m_owner->OnStateChange)
            m_owner->OnStateChange(m_owner);
    }
}

void TTextFileView::Area::DetectLineBreak()
{
    // Enter breaks a line as the text's first break does.
    m_lineBreak = "\n";
    const std::string head = doc.Bytes(0, std::min<std::int64_t>(doc.Size(), 1 << 20));
    const std::size_t at = head.find_first_of("\r\n");
    if (at != std::string::npos)
        m_lineBreak = head[at] == '\n' ? "\n" : head.compare(at, 2, "\r\n") == 0 ? "\r\n" : "\r";
}

// ---- rows

std::int64_t TTextFileView::Area::RowStartAt(std::int64_t ls, std::int64_t j) const
{
    return j == 0 ? ls : doc.CharStart(ls + j * K);
}

void TTextFileView::Area::Extent(const Row& r, std::int64_t& re, Row& next, bool& hasNext) const
{
    const std::int64_t size = doc.Size();
    const std::int64_t j = (r.rs - r.ls + 3) / K;
    const std::int64_t limit = r.ls + (j + 1) * K;
    const std::int64_t scanEnd = std::min(size, limit);
    const std::string bytes = doc.Bytes(r.rs, std::min(size, scanEnd + 1));
    // A break right at the row's nominal end ends the line there, so that a
    // line whose length is a multiple of kRowBytes has no empty row after it.
    const std::size_t n = static_cast<std::size_t>(scanEnd - r.rs);
    const std::size_t at = bytes.find_first_of("\r\n");
    if (at != std::string::npos && at <= n) {
        re = r.rs + static_cast<std::int64_t>(at);
        std::int64_t after = re + 1;
        if (bytes[at] == '\r') {
            if (at + 1 < bytes.size())
                after += bytes[at + 1] == '\n' ? 1 : 0;
            else if (after < size && doc.Bytes(after, after + 1) == "\n")
                ++after;
        }
        next = {after, after};
        hasNext = true;
        return;
    }
    if (limit < size) {
        re = doc.CharStart(limit);
        if (re > r.rs) {
            next = {re, r.ls};
            hasNext = true;
            return;
        }
    }
    re = scanEnd;
    hasNext = false;
}

bool TTextFileView::Area::PrevRow(const Row& r, Row& prev) const
{
    if (r.rs > r.ls) {
        const std::int64_t j = (r.rs - r.ls + 3) / K;
        prev = {RowStartAt(r.ls, std::max<std::int64_t>(j - 1, 0)), r.ls};
        return true;
    }
    if (r.rs <= 0)
        return false;
    const std::int64_t breakStart = doc.PrevChar(r.rs);
    const std::int64_t ls = doc.LineStart(doc.LineOf(breakStart));
    std::int64_t j = (breakStart - ls) / K;
    if (j > 0 && RowStartAt(ls, j) >= breakStart)
        --j;
    prev = {RowStartAt(ls, j), ls};
    return true;
}

TTextFileView::Area::Row TTextFileView::Area::RowOf(std::int64_t pos) const
{
    pos = std::clamp<std::int64_t>(pos, 0, doc.Size());
    const std::int64_t ls = doc.LineStart(doc.LineOf(pos));
    const std::int64_t j = (pos - ls) / K;
    const Row row {RowStartAt(ls, j), ls};
    std::int64_t re;
    Row next;
    bool hasNext;
    if (j > 0) {
        // Row j exists only when row j - 1 goes on in the same line: a line
        // that ends at a row boundary ends with that row.
        const Row before {RowStartAt(ls, j - 1), ls};
        Extent(before, re, next, hasNext);
        if (!(hasNext && next.ls == ls && next.rs == row.rs))
            return before;
    }
    // The next row's start may lie up to three bytes before its nominal
    // place, at or before pos.
    Extent(row, re, next, hasNext);
    if (hasNext && next.ls == ls && next.rs <= pos)
        return next;
    return row;
}

TTextFileView::Area::Layout& TTextFileView::Area::LayoutOf(const Row& r)
{
    for (auto it = m_rows.begin(); it != m_rows.end(); ++it) {
        if (it->row.rs == r.rs) {
            if (it != m_rows.begin())
                m_rows.splice(m_rows.begin(), m_rows, it);
            return m_rows.front();
        }
    }
    Layout l;
    l.row = r;
    Extent(r, l.re, l.next, l.hasNext);
    const std::string bytes = doc.Bytes(r.rs, l.re);
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    l.byteAt.reserve(bytes.size() + 1);
    std::int32_t offset = 0;
    ForEachViewChar(bytes, [&](char32_t ch, std::size_t len) {
        if (ch >= 0x10000) {
            text.append(QChar(QChar::highSurrogate(ch)));
            text.append(QChar(QChar::lowSurrogate(ch)));
            l.byteAt.push_back(offset);
            l.byteAt.push_back(offset);
        } else {
            text.append(QChar(static_cast<char16_t>(ch)));
            l.byteAt.push_back(offset);
        }
        offset += static_cast<std::int32_t>(len);
    });
    l.byteAt.push_back(offset);
    l.layout = std::make_unique<QTextLayout>(text, font());
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(kTabStop);
    l.layout->setTextOption(option);
    l.layout->setCacheEnabled(true);
    l.layout->beginLayout();
    qreal y = 0;
    for (;;) {
        QTextLine line = l.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(wrap ? ContentWidth() : 1e7);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    l.layout->endLayout();
    l.height = std::max<qreal>(y, QFontMetricsF(font()).lineSpacing());
    m_rows.push_front(std::move(l));
    if (m_rows.size() > kCachedRows)
        m_rows.pop_back();
    return m_rows.front();
}

int TTextFileView::Area::IndexOf(const Layout& l, std::int64_t pos) const
{
    const auto local = static_cast<std::int32_t>(std::clamp<std::int64_t>(pos - l.row.rs, 0, l.re - l.row.rs));
    const auto it = std::lower_bound(l.byteAt.begin(), l.byteAt.end(), local);
    return static_cast<int>(it - l.byteAt.begin());
}

bool TTextFileView::Area::ShowsCaret(const Layout& l, std::int64_t pos) const
{
    if (pos < l.row.rs || pos > l.re)
        return false;
    // At a row boundary inside a line the caret shows at the next row's start.
    return pos < l.re || !l.hasNext || l.next.ls != l.row.ls;
}

void TTextFileView::Area::ForgetRowsFrom(std::int64_t pos)
{
    m_rows.remove_if([pos](const Layout& l) { return l.re >= pos || !l.hasNext; });
}

void TTextFileView::Area::ForgetAllRows() { m_rows.clear(); }

void TTextFileView::Area::Relayout()
{
    ForgetAllRows();
    m_widest = 0;
    m_top.sub = 0;
    UpdateLastTop();
    ClampTop();
    UpdateBars();
    viewport()->update();
}

// ---- scrolling

int TTextFileView::Area::VisibleLines()
{
    const qreal line = QFontMetricsF(font()).lineSpacing();
    return std::max(1, static_cast<int>((viewport()->height() - kMargin) / std::max<qreal>(line, 1)));
}

void TTextFileView::Area::ScrollLines(int n)
{
    while (n > 0) {
        if (!Before(m_top, m_lastTop))
            break;
        Layout& l = LayoutOf(m_top.row);
        if (m_top.sub + 1 < l.layout->lineCount())
            ++m_top.sub;
        else if (l.hasNext)
            m_top = {l.next, 0};
        else
            break;
        --n;
    }
    while (n < 0) {
        if (m_top.sub > 0) {
            --m_top.sub;
        } else {
            Row prev;
            if (!PrevRow(m_top.row, prev))
                break;
            m_top = {prev, std::max(0, LayoutOf(prev).layout->lineCount() - 1)};
        }
        ++n;
    }
    ClampTop();
    UpdateBars();
    viewport()->update();
}

void TTextFileView::Area::ClampTop()
{
    if (Before(m_lastTop, m_top))
        m_top = m_lastTop;
}

void TTextFileView::Area::UpdateLastTop()
{
    // The place where the text's end shows at the bottom of the view.
    const qreal room = viewport()->height() - kMargin;
    Row r = RowOf(doc.Size());
    Layout* l = &LayoutOf(r);
    int sub = l->layout->lineCount() - 1;
    qreal used = sub >= 0 ? l->layout->lineAt(sub).height() : l->height;
    Place place {r, std::max(sub, 0)};
    for (;;) {
        qreal h;
        Place prev = place;
        if (prev.sub > 0) {
            --prev.sub;
            h = l->layout->lineAt(prev.sub).height();
        } else {
            Row p;
            if (!PrevRow(prev.row, p))
                break;
            l = &LayoutOf(p);
            prev = {p, std::max(0, l->layout->lineCount() - 1)};
            h = l->layout->lineCount() > 0 ? l->layout->lineAt(prev.sub).height() : l->height;
        }
        if (used + h > room)
            break;
        used += h;
        place = prev;
    }
    m_lastTop = place;
}

void TTextFileView::Area::UpdateBars()
{
    m_shift = 0;
    while ((doc.Size() >> m_shift) > kMaxBarRange)
        ++m_shift;
    m_settingBars = true;
    QScrollBar* bar = verticalScrollBar();
    const int max = static_cast<int>(m_lastTop.row.rs >> m_shift) + (m_lastTop.row.rs == 0 && m_lastTop.sub > 0 ? 1 : 0);
    bar->setRange(0, max);
    // A page is about the bytes a screen shows.
    bar->setPageStep(std::max(1, static_cast<int>(std::min<std::int64_t>(doc.Size(), 80 * VisibleLines()) >> m_shift)));
    bar->setValue(static_cast<int>(m_top.row.rs >> m_shift) + (m_top.row.rs == 0 && m_top.sub > 0 ? 1 : 0));
    m_settingBars = false;
}

void TTextFileView::Area::OnBarAction(int action)
{
    int lines = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: lines = 1; break;
    case QAbstractSlider::SliderSingleStepSub: lines = -1; break;
    case QAbstractSlider::SliderPageStepAdd: lines = VisibleLines() - 1; break;
    case QAbstractSlider::SliderPageStepSub: lines = -(VisibleLines() - 1); break;
    default: return;
    }
    ScrollLines(lines);
    verticalScrollBar()->setSliderPosition(verticalScrollBar()->value());
}

void TTextFileView::Area::OnBarMoved(int value)
{
    if (m_settingBars)
        return;
    const std::int64_t pos = static_cast<std::int64_t>(value) << m_shift;
    m_top = {RowOf(std::min(pos, doc.Size())), 0};
    ClampTop();
    viewport()->update();
}

void TTextFileView::Area::ScrollToCaret()
{
    const Row caretRow = RowOf(caret);
    Layout& cl = LayoutOf(caretRow);
    const int idx = IndexOf(cl, caret);
    const int caretLine = std::max(0, cl.layout->lineForTextPosition(idx).lineNumber());
    const Place target {caretRow, caretLine};
    if (Before(target, m_top)) {
        m_top = target;
    } else {
        // Visible when it lies within a screen below the top.
        Place p = m_top;
        qreal y = 0;
        const qreal room = viewport()->height() - kMargin;
        bool visible = false;
        for (int guard = 0; guard < 4 * VisibleLines() + 8; ++guard) {
            Layout& l = LayoutOf(p.row);
            const qreal h = l.layout->lineCount() > 0 ? l.layout->lineAt(p.sub).height() : l.height;
            if (y + h > room)
                break;
            if (p.row.rs == target.row.rs && p.sub == target.sub) {
                visible = true;
                break;
            }
            y += h;
            if (p.sub + 1 < l.layout->lineCount())
                ++p.sub;
            else if (l.hasNext)
                p = {l.next, 0};
            else
                break;
        }
        if (!visible) {
            m_top = target;
            ScrollLines(-(VisibleLines() - 1));
        }
    }
    ClampTop();
    // Sideways, without wrapping.
    if (!wrap && cl.layout->lineCount() > 0) {
        const qreal x = cl.layout->lineForTextPosition(idx).cursorToX(idx);
        QScrollBar* h = horizontalScrollBar();
        if (x < h->value())
            h->setValue(static_cast<int>(x));
        else if (x > h->value() + ContentWidth() - 2)
            h->setValue(static_cast<int>(x) - ContentWidth() + 2);
    }
    UpdateBars();
    viewport()->update();
}

// ---- painting

void TTextFileView::Area::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
    painter.setPen(pal.color(QPalette::Text));
    const std::int64_t selA = std::min(anchor, caret);
    const std::int64_t selB = std::max(anchor, caret);
    const int xOrigin = kMargin - (wrap ? 0 : horizontalScrollBar()->value());
    Place p = m_top;
    Layout* l = &LayoutOf(p.row);
    qreal y = kMargin - (l->layout->lineCount() > p.sub ? l->layout->lineAt(p.sub).y() : 0);
    qreal widest = 0;
    const bool drawCaret = hasFocus() && m_caretOn;
    for (;;) {
        widest = std::max(widest, l->layout->maximumWidth());
        QList<QTextLayout::FormatRange> selections;
        if (selA < selB && selA <= l->re && selB > l->row.rs) {
            QTextLayout::FormatRange range;
            range.start = IndexOf(*l, std::max(selA, l->row.rs));
            range.length = IndexOf(*l, std::min(selB, l->re)) - range.start;
            range.format.setBackground(pal.brush(QPalette::Highlight));
            range.format.setForeground(pal.brush(QPalette::HighlightedText));
            selections.append(range);
        }
        l->layout->draw(&painter, QPointF(xOrigin, y), selections);
        if (drawCaret && ShowsCaret(*l, caret))
            l->layout->drawCursor(&painter, QPointF(xOrigin, y), IndexOf(*l, caret), 1);
        y += l->height;
        if (y >= viewport()->height() || !l->hasNext)
            break;
        l = &LayoutOf(l->next);
    }
    if (!wrap && widest > m_widest) {
        m_widest = widest;
        horizontalScrollBar()->setRange(0, std::max(0, static_cast<int>(m_widest) - ContentWidth() + 2));
        horizontalScrollBar()->setPageStep(ContentWidth());
    }
    if (doc.ChangedOnDisk() && !m_toldChanged) {
        m_toldChanged = true;
        QTimer::singleShot(0, this, [this] {
            if (m_owner->OnStateChange)
                m_owner->OnStateChange(m_owner);
        });
    }
}

void TTextFileView::Area::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    if (wrap)
        ForgetAllRows();
    UpdateLastTop();
    ClampTop();
    UpdateBars();
    horizontalScrollBar()->setPageStep(ContentWidth());
}

void TTextFileView::Area::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        Relayout();
}

// ---- caret and selection

void TTextFileView::Area::SetSelection(std::int64_t newAnchor, std::int64_t newCaret, bool scroll)
{
    anchor = doc.CharStart(std::clamp<std::int64_t>(newAnchor, 0, doc.Size()));
    caret = doc.CharStart(std::clamp<std::int64_t>(newCaret, 0, doc.Size()));
    RestartBlink();
    if (scroll)
        ScrollToCaret();
    viewport()->update();
    SelectionChanged();
}

void TTextFileView::Area::SelectionChanged()
{
    if (caret == m_lastSelB && anchor == m_lastSelA)
        return;
    m_lastSelA = anchor;
    m_lastSelB = caret;
    if (m_owner->OnSelectionChange)
        m_owner->OnSelectionChange(m_owner);
}

void TTextFileView::Area::Changed()
{
    if (m_owner->OnChange)
        m_owner->OnChange(m_owner);
}

void TTextFileView::Area::RestartBlink()
{
    m_caretOn = true;
    if (hasFocus())
        m_blink.start();
}

void TTextFileView::Area::MoveTo(std::int64_t pos, bool extend, bool keepX)
{
    if (!keepX)
        m_desiredX = -1;
    SetSelection(extend ? anchor : pos, pos);
}

void TTextFileView::Area::MoveVertically(int lines, bool extend)
{
    Row r = RowOf(caret);
    Layout* l = &LayoutOf(r);
    int idx = IndexOf(*l, caret);
    int li = std::max(0, l->layout->lineForTextPosition(idx).lineNumber());
    if (m_desiredX < 0 && l->layout->lineCount() > 0)
        m_desiredX = static_cast<int>(l->layout->lineAt(li).cursorToX(idx));
    for (; lines > 0; --lines) {
        if (li + 1 < l->layout->lineCount()) {
            ++li;
        } else if (l->hasNext) {
            r = l->next;
            l = &LayoutOf(r);
            li = 0;
        } else {
            break;
        }
    }
    for (; lines < 0; ++lines) {
        if (li > 0) {
            --li;
        } else {
            Row prev;
            if (!PrevRow(r, prev))
                break;
            r = prev;
            l = &LayoutOf(r);
            li = std::max(0, l->layout->lineCount() - 1);
        }
    }
    std::int64_t pos = r.rs;
    if (l->layout->lineCount() > 0) {
        const QTextLine line = l->layout->lineAt(li);
        int target = line.xToCursor(m_desiredX);
        // The end of a wrapped line is the next line's start: stay on this one.
        if (li + 1 < l->layout->lineCount() && target >= line.textStart() + line.textLength())
            target = std::max(line.textStart(), line.textStart() + line.textLength() - 1);
        pos = r.rs + l->byteAt[static_cast<std::size_t>(std::clamp(target, 0, static_cast<int>(l->byteAt.size()) - 1))];
    }
    MoveTo(pos, extend, true);
}

void TTextFileView::Area::HomeEnd(bool end, bool extend)
{
    Layout& l = LayoutOf(RowOf(caret));
    const int idx = IndexOf(l, caret);
    int target = 0;
    if (l.layout->lineCount() > 0) {
        const QTextLine line = l.layout->lineForTextPosition(idx);
        target = end ? line.textStart() + line.textLength() : line.textStart();
        if (end && line.lineNumber() + 1 < l.layout->lineCount())
            target = std::max(line.textStart(), target - 1);
    }
    MoveTo(l.row.rs + l.byteAt[static_cast<std::size_t>(std::clamp(target, 0, static_cast<int>(l.byteAt.size()) - 1))],
        extend);
}

std::int64_t TTextFileView::Area::WordRight(std::int64_t pos) const
{
    const std::string s = doc.Bytes(pos, std::min(doc.Size(), pos + 4096));
    std::size_t i = 0;
    while (i < s.size() && IsWordByte(static_cast<unsigned char>(s[i])))
        ++i;
    while (i < s.size() && !IsWordByte(static_cast<unsigned char>(s[i])))
        ++i;
    return i == 0 ? doc.NextChar(pos) : doc.CharStart(pos + static_cast<std::int64_t>(i));
}

std::int64_t TTextFileView::Area::WordLeft(std::int64_t pos) const
{
    const std::int64_t from = std::max<std::int64_t>(0, pos - 4096);
    const std::string s = doc.Bytes(from, pos);
    std::size_t i = s.size();
    while (i > 0 && !IsWordByte(static_cast<unsigned char>(s[i - 1])))
        --i;
    while (i > 0 && IsWordByte(static_cast<unsigned char>(s[i - 1])))
        --i;
    return i == s.size() ? doc.PrevChar(pos) : doc.CharStart(from + static_cast<std::int64_t>(i));
}

void TTextFileView::Area::SelectWordAt(std::int64_t pos)
{
    const std::int64_t from = std::max<std::int64_t>(0, pos - 4096);
    const std::string s = doc.Bytes(from, std::min(doc.Size(), pos + 4096));
    std::size_t a = static_cast<std::size_t>(pos - from);
    std::size_t b = a;
    while (a > 0 && IsWordByte(static_cast<unsigned char>(s[a - 1])))
        --a;
    while (b < s.size() && IsWordByte(static_cast<unsigned char>(s[b])))
        ++b;
    if (a == b)
        b = static_cast<std::size_t>(doc.NextChar(pos) - from);
    SetSelection(doc.CharStart(from + static_cast<std::int64_t>(a)), doc.CharStart(from + static_cast<std::int64_t>(b)));
}

std::int64_t TTextFileView::Area::HitTest(QPoint point)
{
    const qreal x = point.x() - kMargin + (wrap ? 0 : horizontalScrollBar()->value());
    Place p = m_top;
    Layout* l = &LayoutOf(p.row);
    qreal y = kMargin - (l->layout->lineCount() > p.sub ? l->layout->lineAt(p.sub).y() : 0);
    if (point.y() < kMargin && l->layout->lineCount() > 0) {
        const QTextLine line = l->layout->lineAt(p.sub);
        return p.row.rs + l->byteAt[static_cast<std::size_t>(std::clamp(line.xToCursor(x), 0, static_cast<int>(l->byteAt.size()) - 1))];
    }
    for (;;) {
        for (int i = 0; i < l->layout->lineCount(); ++i) {
            const QTextLine line = l->layout->lineAt(i);
            if (point.y() < y + line.y() + line.height()) {
                int target = line.xToCursor(x);
                if (i + 1 < l->layout->lineCount() && target >= line.textStart() + line.textLength())
                    target = std::max(line.textStart(), target - 1);
                return l->row.rs + l->byteAt[static_cast<std::size_t>(std::clamp(target, 0, static_cast<int>(l->byteAt.size()) - 1))];
            }
        }
        y += l->height;
        if (!l->hasNext || y > viewport()->height() + 4 * l->height)
            return l->re;
        l = &LayoutOf(l->next);
    }
}

// ---- editing

void TTextFileView::Area::Replace(std::int64_t from, std::int64_t to, std::string_view text, bool typing)
{
    if (!CanEdit())
        return;
    const std::int64_t top = m_top.row.rs;
    doc.Replace(from, to, text, typing);
    const std::int64_t delta = static_cast<std::int64_t>(text.size()) - (to - from);
    ForgetAllRows();
    m_top = {RowOf(top > from ? std::max(from, top + delta) : top), 0};
    const std::int64_t pos = from + static_cast<std::int64_t>(text.size());
    UpdateLastTop();
    anchor = caret = pos;
    m_desiredX = -1;
    RestartBlink();
    ScrollToCaret();
    SelectionChanged();
    Changed();
}

void TTextFileView::Area::UndoEdit()
{
    if (!CanEdit())
        return;
    std::int64_t from = 0, to = 0;
    const std::int64_t top = m_top.row.rs;
    if (!doc.Undo(from, to))
        return;
    ForgetAllRows();
    m_top = {RowOf(std::min(top, doc.Size())), 0};
    UpdateLastTop();
    anchor = caret = to;
    ScrollToCaret();
    SelectionChanged();
    Changed();
}

bool TTextFileView::Area::Copy()
{
    const std::int64_t a = std::min(anchor, caret), b = std::max(anchor, caret);
    if (a == b)
        return true;
    if (b - a > kMaxClipboardBytes) {
        if (m_owner->OnNotice)
            m_owner->OnNotice("The selection is too large to copy: it holds more than 64 MB.");
        return false;
    }
    const std::string shown = ShownText(doc.Bytes(a, b));
    QGuiApplication::clipboard()->setText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
    return true;
}

void TTextFileView::Area::Paste()
{
    if (!CanEdit())
        return;
    const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
    if (text.isEmpty())
        return;
    Replace(std::min(anchor, caret), std::max(anchor, caret), std::string_view(text.constData(), static_cast<std::size_t>(text.size())), false);
}

// ---- input

bool TTextFileView::Area::event(QEvent* e)
{
    // Tab is typed into the text instead of moving the focus.
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) && !(k->modifiers() & Qt::ControlModifier)) {
            keyPressEvent(k);
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void TTextFileView::Area::keyPressEvent(QKeyEvent* e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const std::int64_t selA = std::min(anchor, caret), selB = std::max(anchor, caret);
    if (e->matches(QKeySequence::Copy)) {
        Copy();
    } else if (e->matches(QKeySequence::Cut)) {
        if (CanEdit() && Copy())
            Replace(selA, selB, {}, false);
    } else if (e->matches(QKeySequence::Paste)) {
        Paste();
    } else if (e->matches(QKeySequence::Undo)) {
        UndoEdit();
    } else if (e->matches(QKeySequence::SelectAll)) {
        SetSelection(0, doc.Size(), false);
    } else {
        switch (e->key()) {
        case Qt::Key_Left:
            if (!shift && selA != selB)
                MoveTo(selA, false);
            else
                MoveTo(ctrl ? WordLeft(caret) : doc.PrevChar(caret), shift);
            break;
        case Qt::Key_Right:
            if (!shift && selA != selB)
                MoveTo(selB, false);
            else
                MoveTo(ctrl ? WordRight(caret) : doc.NextChar(caret), shift);
            break;
        case Qt::Key_Up:
            if (ctrl)
                ScrollLines(-1);
            else
                MoveVertically(-1, shift);
            break;
        case Qt::Key_Down:
            if (ctrl)
                ScrollLines(1);
            else
                MoveVertically(1, shift);
            break;
        case Qt::Key_PageUp:
            ScrollLines(-(VisibleLines() - 1));
            MoveVertically(-(VisibleLines() - 1), shift);
            break;
        case Qt::Key_PageDown:
            ScrollLines(VisibleLines() - 1);
            MoveVertically(VisibleLines() - 1, shift);
            break;
        case Qt::Key_Home:
            if (ctrl)
                MoveTo(0, shift);
            else
                HomeEnd(false, shift);
            break;
        case Qt::Key_End:
            if (ctrl)
                MoveTo(doc.Size(), shift);
            else
                HomeEnd(true, shift);
            break;
        case Qt::Key_Backspace:
            if (selA != selB)
                Replace(selA, selB, {}, false);
            else if (caret > 0)
                Replace(doc.PrevChar(caret), caret, {}, false);
            break;
        case Qt::Key_Delete:
            if (shift && selA != selB) {
                if (CanEdit() && Copy())
                    Replace(selA, selB, {}, false);
            } else if (selA != selB) {
                Replace(selA, selB, {}, false);
            } else if (caret < doc.Size()) {
                Replace(caret, doc.NextChar(caret), {}, false);
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Replace(selA, selB, m_lineBreak, false);
            break;
        case Qt::Key_Tab:
            Replace(selA, selB, "\t", true);
            break;
        case Qt::Key_Insert:
            if (ctrl)
                Copy();
            else if (shift)
                Paste();
            break;
        default: {
            const QString text = e->text();
            const bool printable = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
                return c.isPrint() || c.isSurrogate();
            });
            // Ctrl with a letter is a command; AltGr comes as Ctrl and Alt.
            const bool command = (e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier);
            if (printable && !command) {
                const QByteArray utf8 = text.toUtf8();
                Replace(selA, selB, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), true);
            } else {
                e->ignore();
                return;
            }
        }
        }
    }
    e->accept();
}

void TTextFileView::Area::inputMethodEvent(QInputMethodEvent* e)
{
    const QByteArray utf8 = e->commitString().toUtf8();
    if (!utf8.isEmpty())
        Replace(std::min(anchor, caret), std::max(anchor, caret),
            std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), true);
    e->accept();
}

void TTextFileView::Area::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_lastMouse = e->position().toPoint();
    const std::int64_t pos = HitTest(m_lastMouse);
    MoveTo(pos, e->modifiers() & Qt::ShiftModifier);
    m_selecting = true;
}

void TTextFileView::Area::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_selecting || !(e->buttons() & Qt::LeftButton))
        return;
    m_lastMouse = e->position().toPoint();
    if (m_lastMouse.y() < 0 || m_lastMouse.y() >= viewport()->height()) {
        if (!m_autoScroll.isActive())
            m_autoScroll.start();
        return;
    }
    m_autoScroll.stop();
    SetSelection(anchor, HitTest(m_lastMouse));
}

void TTextFileView::Area::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        m_selecting = false;
        m_autoScroll.stop();
    }
}

void TTextFileView::Area::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        SelectWordAt(HitTest(e->position().toPoint()));
}

void TTextFileView::Area::wheelEvent(QWheelEvent* e)
{
    const QPoint delta = e->angleDelta();
    if (!wrap && (e->modifiers() & Qt::ShiftModifier || delta.x() != 0)) {
        const int d = delta.x() != 0 ? delta.x() : delta.y();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - d / 2);
        e->accept();
        return;
    }
    m_wheelRest += delta.y();
    const int notches = m_wheelRest / 120;
    m_wheelRest -= notches * 120;
    if (notches != 0)
        ScrollLines(-3 * notches);
    e->accept();
}

void TTextFileView::Area::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    RestartBlink();
    viewport()->update();
}

void TTextFileView::Area::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    m_blink.stop();
    m_selecting = false;
    m_autoScroll.stop();
    viewport()->update();
}

// ---- the control

TTextFileView::TTextFileView(TComponent* owner) : TWinControl(owner)
{
    m_area = new Area(this);
    SetWidget(m_area);
    m_area->setFont(Font().ToQFont());
}

TTextFileView::~TTextFileView() { m_area->doc.Clear(); }

bool TTextFileView::LoadFromFile(const std::string& fileName, bool detectUtf16)
{
    return m_area->Load(fileName, detectUtf16);
}

void TTextFileView::SetText(const std::string& text)
{
    m_area->doc.SetText(text);
    m_area->Reset();
}

void TTextFileView::Clear()
{
    m_area->doc.Clear();
    m_area->Reset();
}

const TTextDocument& TTextFileView::Document() const { return m_area->doc; }

void TTextFileView::WaitLoaded() { m_area->WaitLoaded(); }

bool TTextFileView::Modified() const { return m_area->doc.Modified(); }

void TTextFileView::SetModified(bool modified) { m_area->doc.SetModified(modified); }

bool TTextFileView::ReadOnly() const { return !m_area->CanEdit(); }

void TTextFileView::SetReadOnly(bool readOnly) { m_area->readOnly = readOnly; }

bool TTextFileView::WordWrap() const { return m_area->wrap; }

void TTextFileView::SetWordWrap(bool wrap)
{
    if (wrap == m_area->wrap)
        return;
    m_area->wrap = wrap;
    m_area->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    m_area->Relayout();
}

std::int64_t TTextFileView::SelStart() const { return std::min(m_area->anchor, m_area->caret); }

std::int64_t TTextFileView::SelLength() const { return std::abs(m_area->caret - m_area->anchor); }

void TTextFileView::SetSelStart(std::int64_t pos) { m_area->SetSelection(pos, pos); }

void TTextFileView::SetSelLength(std::int64_t length)
{
    const std::int64_t start = SelStart();
    m_area->SetSelection(start, start + length);
}

std::string TTextFileView::SelText() const
{
    return ShownText(m_area->doc.Bytes(SelStart(), SelStart() + SelLength()));
}

void TTextFileView::SelectAll() { m_area->SetSelection(0, m_area->doc.Size(), false); }

std::int64_t TTextFileView::CaretLine() const { return m_area->doc.LineOf(m_area->caret); }

std::int64_t TTextFileView::CaretColumn() const
{
    const TTextDocument& d = m_area->doc;
    return d.Chars(d.LineStart(d.LineOf(m_area->caret)), m_area->caret);
}

void TTextFileView::ScrollCaret() { m_area->ScrollToCaret(); }

std::int64_t TTextFileView::TopPosition() const { return m_area->Top(); }

bool TTextFileView::CutToClipboard()
{
    if (!m_area->CanEdit() || !m_area->Copy())
        return false;
    m_area->Replace(SelStart(), SelStart() + SelLength(), {}, false);
    return true;
}

bool TTextFileView::CopyToClipboard() { return m_area->Copy(); }

void TTextFileView::PasteFromClipboard() { m_area->Paste(); }

void TTextFileView::Undo() { m_area->UndoEdit(); }

bool TTextFileView::CanUndo() const { return m_area->CanEdit() && m_area->doc.CanUndo(); }

void TTextFileView::InsertText(const std::string& text)
{
    m_area->Replace(SelStart(), SelStart() + SelLength(), text, true);
}

std::int64_t TTextFileView::FindText(const std::string& text, std::int64_t start) const
{
    return m_area->doc.Find(text, start);
}

std::string TTextFileView::Text() const
{
    std::string out;
    m_area->doc.WriteTo([&](std::string_view piece) { out.append(piece); }, true);
    return out;
}

void TTextFileView::SaveToFile(const std::string& fileName, bool asShown) const
{
    TAtomicFileWriter out(fileName);
    m_area->doc.WriteTo([&](std::string_view piece) { out.Write(piece); }, asShown);
    out.Commit();
}

void TTextFileView::FontChanged()
{
    TWinControl::FontChanged();
    m_area->setFont(Font().ToQFont());
}
