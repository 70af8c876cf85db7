#include "mplayer.h"

#include "mediadevice.h"
#include "videosurface_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Set while a file loads: a timer that fires meanwhile must not start
// another load, on this device or another.
bool g_loading = false;

std::string TimeText(std::int64_t ms)
{
    const std::int64_t s = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return text;
}

} // namespace

bool MediaFileLoading() { return g_loading; }

void LoadMediaFile(TMediaDevice& device, const std::string& fileName)
{
    if (g_loading)
        throw EMCIDeviceError("The device is busy loading another file.");
    device.Load(fileName);
    if (device.State() == TMediaLoadState::Loading) {
        g_loading = true;
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer waited;
        waited.start();
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (device.State() != TMediaLoadState::Loading || waited.elapsed() >= kMediaLoadTimeoutMs)
                loop.quit();
        });
        poll.start(5);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        g_loading = false;
    }
    if (device.State() == TMediaLoadState::Loaded)
        return;
    // The reason is said as a sentence of its own; the caller names the file.
    std::string reason = device.State() == TMediaLoadState::Loading ? "The file took too long to load." : device.ErrorText();
    if (reason.empty())
        reason = "The file is no media the player can play.";
    else if (reason.back() != '.' && reason.back() != '!' && reason.back() != '?')
        reason += '.';
    device.Unload();
    throw EMCIDeviceError(reason);
}

// ---- the MCI media player -----------------------------------------------------------------

TMediaPlayer::TMediaPlayer(TComponent* owner) : TComponent(owner) {}

TMediaPlayer::~TMediaPlayer()
{
    m_device.reset();
    // The surface lies on the display window, which may be gone already.
    QPointer<QWidget> surface(m_surface);
    delete surface.data();
}

TMediaDevice& TMediaPlayer::Device()
{
    // The device is made on first use: a program that plays nothing never
    // starts the media framework.
    if (!m_device)
        m_device = CreateMediaDevice();
    return *m_device;
}

void TMediaPlayer::SetDisplay(TWinControl* display)
{
    m_display = display;
    ShowVideo();
}

void TMediaPlayer::ShowVideo()
{
    QPointer<QWidget> alive(m_surface);
    if (!alive)
        m_surface = nullptr;
    QWidget* window = m_display ? m_display->ClientWidget() : nullptr;
    if (!window) {
        if (m_surface)
            m_surface->hide();
        if (m_device)
            m_device->SetVideoSink(nullptr);
        return;
    }
    if (!m_surface)
        m_surface = new VideoSurface(window);
    else if (m_surface->parentWidget() != window)
        m_surface->setParent(window);
    m_surface->FillParent();
    m_surface->show();
    Device().SetVideoSink(m_surface->Sink());
}

void TMediaPlayer::Open()
{
    Close();
    if (m_surface)
        m_surface->Clear();
    LoadMediaFile(Device(), FileName);
    m_open = true;
}

void TMediaPlayer::Close()
{
    if (m_device)
        m_device->Unload();
    m_open = false;
}

void TMediaPlayer::Play()
{
    if (!m_open)
        throw EMCIDeviceError("No file is open on the media player.");
    ShowVideo();
    m_device->Play();
}

void TMediaPlayer::Stop()
{
    if (!m_open)
        throw EMCIDeviceError("No file is open on the media player.");
    m_device->Stop();
}

TMPModes TMediaPlayer::Mode() const
{
    if (!m_open || m_device->Failed())
        return mpNotReady;
    return m_device->Playing() ? mpPlaying : mpStopped;
}

std::int64_t TMediaPlayer::Position() const { return m_open ? m_device->PositionMs() : 0; }

std::int64_t TMediaPlayer::Length() const { return m_open ? m_device->LengthMs() : 0; }

// ---- the RealAudio control ------------------------------------------------------------------

TRealAudio::TRealAudio(TComponent* owner) : TWinControl(owner)
{
    auto* w = new QWidget();
    m_layout = new QVBoxLayout(w);
    m_title = new QLabel(w);
    m_status = new QLabel(w);
    m_layout->addWidget(m_title);
    m_layout->addWidget(m_status);
    // Below the texts the rest of the control, or nothing when a picture
    // shows above them.
    m_spacer = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    m_layout->addItem(m_spacer);
    m_ticker = new QTimer(w);
    m_ticker->setInterval(250);
    QObject::connect(m_ticker, &QTimer::timeout, [this] { UpdateStatus(); });
    SetWidget(w);
}

TRealAudio::~TRealAudio() { m_device.reset(); }

void TRealAudio::SetSource(const std::string& source)
{
    m_source = source;
    const size_t slash = source.rfind('/');
    m_title->setText(QString::fromStdString(slash == std::string::npos ? source : source.substr(slash + 1)));
}

void TRealAudio::DoPlay()
{
    if (!m_device)
        m_device = CreateMediaDevice();
    if (m_surface)
        m_surface->Clear();
    LoadMediaFile(*m_device, m_source);
    // The picture area is made when a file with pictures first plays: a
    // video sink starts the whole media framework.
    if (m_device->HasVideo() && !m_surface) {
        m_surface = new VideoSurface(Widget());
        m_layout->insertWidget(0, m_surface, 1);
    }
    if (m_surface) {
        m_device->SetVideoSink(m_device->HasVideo() ? m_surface->Sink() : nullptr);
        m_surface->setVisible(m_device->HasVideo());
        m_spacer->changeSize(0, 0, QSizePolicy::Minimum,
            m_device->HasVideo() ? QSizePolicy::Minimum : QSizePolicy::Expanding);
        m_layout->invalidate();
    }
    m_device->Play();
    m_ticker->start();
    UpdateStatus();
}

void TRealAudio::DoStop()
{
    if (m_device)
        m_device->Stop();
    m_ticker->stop();
    UpdateStatus();
}

bool TRealAudio::Playing() const { return m_device && m_device->Playing(); }

void TRealAudio::UpdateStatus()
{
    if (!m_device || m_device->State() != TMediaLoadState::Loaded) {
        m_status->clear();
        return;
    }
    const char* what = m_device->Failed() ? "Failed: " : m_device->Playing() ? "Playing " : "Stopped ";
    m_status->setText(QString::fromStdString(
        what + TimeText(m_device->PositionMs()) + " / " + TimeText(m_device->LengthMs())));
    if (!m_device->Playing())
        m_ticker->stop();
}
