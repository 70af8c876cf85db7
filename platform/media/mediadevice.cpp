#include "mediadevice.h"

#include "win/fileops.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

#include <unistd.h>

#include <algorithm>

namespace {

TMediaDeviceFactory& Factory()
{
    static TMediaDeviceFactory factory;
    return factory;
}

std::function<bool()>& AudioProbe()
{
    static std::function<bool()> probe;
    return probe;
}

const char* const kNoAudioDevice = "There is no audio device to play the sound on.";

// Qt Multimedia over GStreamer. The file reaches the player through a
// descriptor of ours (names that are not UTF-8 open too); GStreamer finds
// the format from the bytes.
class QtMediaDevice final : public TMediaDevice {
public:
    QtMediaDevice()
    {
        // Qt 6.4 fails every file that has sound when no audio output is
        // attached, also on a machine without a sound card.
        m_player.setAudioOutput(&m_audio);
        QObject::connect(&m_player, &QMediaPlayer::mediaStatusChanged, [this](QMediaPlayer::MediaStatus s) {
            switch (s) {
            case QMediaPlayer::LoadedMedia:
                if (m_state != TMediaLoadState::Loading)
                    break;
                // A sound without pictures and nothing to hear it on is
                // refused, not played to nowhere behind an empty pane.
                if (m_player.hasAudio() && !m_player.hasVideo() && !AudioOutputAvailable()) {
                    m_error = kNoAudioDevice;
                    m_state = TMediaLoadState::Refused;
                    break;
                }
                m_state = TMediaLoadState::Loaded;
                break;
            case QMediaPlayer::EndOfMedia:
                m_ended = true;
                m_playing = false;
                break;
            case QMediaPlayer::InvalidMedia:
                Fail(m_player.errorString());
                break;
            default: break;
            }
        });
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred,
            [this](QMediaPlayer::Error, const QString& text) { Fail(text); });
    }

    ~QtMediaDevice() override
    {
        m_player.stop();
        m_player.setSourceDevice(nullptr);
    }

    void Load(const std::string& fileName) override
    {
        Unload();
        m_state = TMediaLoadState::Loading;
        // A FIFO or device is refused without waiting on it.
        const int fd = OpenRegularFile(fileName);
        if (fd < 0) {
            m_state = TMediaLoadState::Refused;
            m_error = SysErrorMessage(GetLastError()) + ".";
            return;
        }
        m_file = std::make_unique<QFile>();
        if (!m_file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            m_file.reset();
            m_state = TMediaLoadState::Refused;
            m_error = "The file cannot be read.";
            return;
        }
        // The address only names the source for Qt's messages; the bytes
        // come from the device.
        m_player.setSourceDevice(m_file.get(), QUrl(QStringLiteral("file:///media")));
    }

    void Unload() override
    {
        m_player.stop();
        m_player.setSourceDevice(nullptr);
        m_file.reset();
        m_state = TMediaLoadState::Empty;
        m_error.clear();
        m_playing = false;
        m_ended = false;
        m_failed = false;
    }

    TMediaLoadState State() const override { return m_state; }
    std::string ErrorText() const override { return m_error; }

    void Play() override
    {
        if (m_state != TMediaLoadState::Loaded || m_failed)
            return;
        m_ended = false;
        m_playing = true;
        m_player.play();
    }

    void Stop() override
    {
        m_playing = false;
        m_player.pause();
    }

    bool Playing() const override { return m_playing; }
    bool Failed() const override { return m_failed; }

    std::int64_t PositionMs() const override
    {
        // Qt stops a few milliseconds short of the length; an MPEG stream
        // counts from its first time stamp and may run past it.
        if (m_ended)
            return LengthMs();
        return std::clamp<std::int64_t>(m_player.position(), 0, LengthMs());
    }

    std::int64_t LengthMs() const override { return std::max<std::int64_t>(m_player.duration(), 0); }
    bool HasVideo() const override { return m_player.hasVideo(); }
    void SetVideoSink(QVideoSink* sink) override { m_player.setVideoSink(sink); }

private:
    void Fail(const QString& text)
    {
        m_error = text.toStdString();
        if (m_state == TMediaLoadState::Loading) {
            m_state = TMediaLoadState::Refused;
            return;
        }
        if (m_state == TMediaLoadState::Loaded) {
            m_failed = true;
            m_playing = false;
        }
    }

    QMediaPlayer m_player;
    QAudioOutput m_audio;
    std::unique_ptr<QFile> m_file;
    TMediaLoadState m_state = TMediaLoadState::Empty;
    std::string m_error;
    bool m_playing = false;
    bool m_ended = false;
    bool m_failed = false;
};

} // namespace

bool AudioOutputAvailable()
{
    if (AudioProbe())
        return AudioProbe()();
    return !QMediaDevices::audioOutputs().isEmpty();
}

void SetAudioOutputProbe(std::function<bool()> probe) { AudioProbe() = std::move(probe); }

std::unique_ptr<TMediaDevice> CreateMediaDevice()
{
    if (Factory())
        return Factory()();
    return std::make_unique<QtMediaDevice>();
}

void SetMediaDeviceFactory(TMediaDeviceFactory factory) { Factory() = std::move(factory); }
