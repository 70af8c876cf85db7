// A widget that shows the frames of a video: black, with the latest frame
// scaled to fit and centred. It follows the size of the widget it is put on.
#pragma once

#include <QImage>
#include <QWidget>

class QVideoSink;

class VideoSurface : public QWidget {
public:
    explicit VideoSurface(QWidget* parent);
    ~VideoSurface() override;
    QVideoSink* Sink() const { return m_sink; }
    // Forgets the frame shown (a new file is opened).
    void Clear();
    // Fills the widget it lies on, and keeps filling it when that resizes.
    void FillParent();

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVideoSink* m_sink;
    QImage m_frame;
};
