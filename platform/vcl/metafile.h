// The class library's metafile graphic and metafile canvas. A metafile
// either holds a Windows or enhanced metafile read from a file, played by
// the GDI layer's metafile player, or a recording of canvas calls over
// QPicture that plays back at any size on any canvas (a printer's page
// among them). A page recorded at a printer's resolution costs what its
// drawing calls cost, never a page-sized bitmap.
#pragma once

#include "graphics.h"

#include <cstdint>
#include <memory>

class QPicture;
class QPainter;
struct GdiEnhMetaFile;

// The resolution the class library measures fonts for: a canvas referenced
// to the screen gives a font of n points n * 96 / 72 pixels.
constexpr int kScreenPixelsPerInch = 96;

class TMetafile : public TGraphic {
public:
    TMetafile();
    ~TMetafile() override;

    // The frame in pixels: a loaded metafile's frame at 96 dots per inch,
    // a recording's in its own units (pixels of its reference device).
    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // Nothing loaded or recorded.
    bool Empty() const override;
    // Bytes the metafile holds.
    std::int64_t Size() const;
    // Whether a loaded metafile was an enhanced one.
    bool Enhanced() const { return m_enhanced; }

    // Plays the metafile with its frame stretched over the rectangle: into
    // the canvas's device context where it has one, else on its painter.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    void StretchDraw(TCanvas& canvas, const TRect& rect) const;

    // Reads an enhanced metafile or a placeable Windows metafile; anything
    // else raises EInvalidGraphic and leaves the metafile as it was.
    void LoadFromStream(TStream& stream) override;
    // Writes the file a loaded metafile was read from.
    void SaveToStream(TStream& stream) override;

    QPicture& Picture() { return *m_picture; }

private:
    friend class TMetafileCanvas;
    void Clear();
    std::unique_ptr<QPicture> m_picture;
    GdiEnhMetaFile* m_handle = nullptr;  // a loaded metafile
    std::string m_file;
    bool m_enhanced = false;
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
