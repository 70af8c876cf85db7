// A paint device that keeps what is drawn on it instead of pixels: every
// text run with its position, colour and font, every filled rectangle and
// every line, all in device coordinates. Tests bind a canvas to a painter on
// it (or play a metafile onto it) and then read what a page holds.
#pragma once

#include "vcl/graphics.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct RecordedText {
    QPointF At;        // the baseline's start
    std::string Text;  // UTF-8
    TColor Color;
    bool Bold;
    int PixelSize;
    std::string Family;
};

struct RecordedFill {
    QRectF Rect;
    TColor Color;
};

struct RecordedLine {
    QLineF Line;
    TColor Color;
};

class RecordingPaintEngine : public QPaintEngine {
public:
    RecordingPaintEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& state) override
    {
        const QPaintEngine::DirtyFlags dirty = state.state();
        if (dirty & DirtyPen)
            m_pen = state.pen();
        if (dirty & DirtyBrush)
            m_brush = state.brush();
        if (dirty & DirtyTransform)
            m_transform = state.transform();
    }

    void drawRects(const QRectF* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            AddFill(rects[i]);
    }
    void drawRects(const QRect* rects, int count) override
    {
        for (int i = 0; i < count; ++i)
            AddFill(QRectF(rects[i]));
    }
    void drawLines(const QLineF* lines, int count) override
    {
        for (int i = 0; i < count; ++i)
            Lines.push_back({m_transform.map(lines[i]), FromQColor(m_pen.color())});
    }
    void drawLines(const QLine* lines, int count) override
    {
        for (int i = 0; i < count; ++i)
            Lines.push_back({m_transform.map(QLineF(lines[i])), FromQColor(m_pen.color())});
    }
    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const QFont f = item.font();
        Texts.push_back({m_transform.map(p), item.text().toStdString(), FromQColor(m_pen.color()), f.bold(),
                         f.pixelSize(), f.family().toStdString()});
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    // A played-back picture fills its rectangles as paths: kept as fills of
    // their bounds.
    void drawPath(const QPainterPath& path) override { AddFill(path.boundingRect()); }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override
    {
        AddFill(QPolygonF(QList<QPointF>(points, points + count)).boundingRect());
    }

    std::vector<RecordedText> Texts;
    std::vector<RecordedFill> Fills;
    std::vector<RecordedLine> Lines;

private:
    void AddFill(const QRectF& r)
    {
        if (m_brush.style() == Qt::NoBrush)
            return;
        Fills.push_back({m_transform.mapRect(r), FromQColor(m_brush.color())});
    }
    QPen m_pen;
    QBrush m_brush;
    QTransform m_transform;
};

class CanvasRecorder : public QPaintDevice {
public:
    CanvasRecorder(int width, int height, int dpi = 96) : m_width(width), m_height(height), m_dpi(dpi) {}
    ~CanvasRecorder() override
    {
        canvas.SetPainter(nullptr);
        if (m_painter)
            m_painter->end();
    }

    QPaintEngine* paintEngine() const override { return &m_engine; }

    // A canvas drawing on the recorder (bound on first use).
    TCanvas& Canvas()
    {
        if (!m_painter) {
            m_painter = std::make_unique<QPainter>(this);
            canvas.SetPainter(m_painter.get());
        }
        return canvas;
    }

    const std::vector<RecordedText>& Texts() const { return m_engine.Texts; }
    const std::vector<RecordedFill>& Fills() const { return m_engine.Fills; }
    const std::vector<RecordedLine>& Lines() const { return m_engine.Lines; }

    // The text drawn along each baseline, top to bottom, the runs of one
    // baseline joined from left to right.
    std::vector<std::string> TextLines() const
    {
        std::map<int, std::vector<const RecordedText*>> rows;
        for (const RecordedText& t : m_engine.Texts)
            rows[qRound(t.At.y())].push_back(&t);
        std::vector<std::string> lines;
        for (auto& [y, runs] : rows) {
            std::stable_sort(runs.begin(), runs.end(),
                             [](const RecordedText* a, const RecordedText* b) { return a->At.x() < b->At.x(); });
            std::string line;
            for (const RecordedText* r : runs)
                line += r->Text;
            lines.push_back(line);
        }
        return lines;
    }

    // The colour of the last fill under a point, clNone when nothing was
    // filled there.
    TColor FillAt(QPointF p) const
    {
        for (auto it = m_engine.Fills.rbegin(); it != m_engine.Fills.rend(); ++it)
            if (it->Rect.contains(p))
                return it->Color;
        return clNone;
    }

    TCanvas canvas;

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return m_width;
        case PdmHeight: return m_height;
        case PdmWidthMM: return m_width * 254 / (10 * m_dpi);
        case PdmHeightMM: return m_height * 254 / (10 * m_dpi);
        case PdmNumColors: return 1 << 24;
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return m_dpi;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    int m_width, m_height, m_dpi;
    mutable RecordingPaintEngine m_engine;
    std::unique_ptr<QPainter> m_painter;
};
