// The class library's metafile and metafile canvas over QPicture: a
// recording of canvas calls that plays back at any size on any canvas (a
// printer's page among them). A page recorded at a printer's resolution
// costs what its drawing calls cost, never a page-sized bitmap.
#pragma once

#include "graphics.h"

#include <cstdint>
#include <memory>

class QPicture;
class QPainter;

// The resolution the class library measures fonts for: a canvas referenced
// to the screen gives a font of n points n * 96 / 72 pixels.
constexpr int kScreenPixelsPerInch = 96;

class TMetafile : public TObject {
public:
    TMetafile();
    ~TMetafile() override;
    TMetafile(const TMetafile&) = delete;
    TMetafile& operator=(const TMetafile&) = delete;

    // The frame in the recording's units (pixels of its reference device).
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetWidth(int width);
    void SetHeight(int height);
    // Nothing recorded yet.
    bool Empty() const;
    // Bytes the recording holds.
    std::int64_t Size() const;

    // Plays the recording with its frame stretched over the rectangle.
    void StretchDraw(TCanvas& canvas, const TRect& rect) const;

    QPicture& Picture() { return *m_picture; }

private:
    friend class TMetafileCanvas;
    std::unique_ptr<QPicture> m_picture;
    int m_width = 0;
    int m_height = 0;
    bool m_recording = false;
};

// A canvas whose calls go into a metafile, which starts empty. The
// recording is complete when the canvas is freed; until then the metafile
// cannot be played or recorded again.
class TMetafileCanvas : public TCanvas {
public:
    explicit TMetafileCanvas(TMetafile& metafile);
    ~TMetafileCanvas() override;
    TMetafileCanvas(const TMetafileCanvas&) = delete;
    TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

    // Anisotropic mapping (MM_ANISOTROPIC): logical coordinates of the
    // window extent map onto the viewport extent, both from the origin.
    void SetWindowExt(int width, int height);
    void SetViewportExt(int width, int height);

private:
    void ApplyMapping();
    TMetafile& m_metafile;
    std::unique_ptr<QPainter> m_recorder;
    int m_windowW, m_windowH, m_viewportW, m_viewportH;
};
