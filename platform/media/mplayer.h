// The media players of the main window: the MCI media player (audio, and
// video in a display window) and the RealAudio control. Both play through
// the media device (mediadevice.h) and load a file the way MCI does: Open
// and DoPlay wait, pumping messages, until the file is loaded or refused,
// and raise when it is refused.
#pragma once

#include "vcl/controls.h"

#include <cstdint>
#include <memory>
#include <string>

class TMediaDevice;
class VideoSurface;
class QLabel;
class QTimer;
class QVBoxLayout;
class QSpacerItem;

VISTREL_DECLARE_EXCEPTION(EMCIDeviceError, Exception)

// The longest a file may take to load before it counts as refused.
constexpr int kMediaLoadTimeoutMs = 10000;

enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

class TMediaPlayer : public TComponent {
public:
    explicit TMediaPlayer(TComponent* owner);
    ~TMediaPlayer() override;

    std::string FileName;

    // The window a video plays in; nullptr for none.
    TWinControl* Display() const { return m_display; }
    void SetDisplay(TWinControl* display);

    // Opens FileName, closing the file open before. Raises EMCIDeviceError
    // when the file cannot be played.
    void Open();
    void Close();
    // Raise EMCIDeviceError when no file is open.
    void Play();
    void Stop();

    // mpNotReady without a file or after a failure while playing;
    // mpPlaying while it plays; mpStopped otherwise.
    TMPModes Mode() const;
    // In milliseconds; 0 without a file. Once the end is reached the
    // position is the length.
    std::int64_t Position() const;
    std::int64_t Length() const;

private:
    TMediaDevice& Device();
    void ShowVideo();

    std::unique_ptr<TMediaDevice> m_device;
    bool m_open = false;
    TComponentLink<TWinControl> m_display{this};
    VideoSurface* m_surface = nullptr;
};

// The RealAudio control: the name of the file playing and where it is, and
// the picture when the file has one.
class TRealAudio : public TWinControl {
public:
    explicit TRealAudio(TComponent* owner);
    ~TRealAudio() override;

    const std::string& Source() const { return m_source; }
    void SetSource(const std::string& source);
    // Loads Source and plays it; raises EMCIDeviceError when it cannot be
    // played (a .ram metafile names streams on the network: refused).
    void DoPlay();
    void DoStop();
    bool Playing() const;

private:
    void UpdateStatus();

    std::string m_source;
    std::unique_ptr<TMediaDevice> m_device;
    VideoSurface* m_surface = nullptr;
    QVBoxLayout* m_layout;
    QSpacerItem* m_spacer;
    QLabel* m_title;
    QLabel* m_status;
    QTimer* m_ticker;
};

// Loads a file into a device, pumping messages until it is loaded or
// refused or kMediaLoadTimeoutMs have passed; raises EMCIDeviceError unless
// it loaded. User input waits until the file is loaded; timers run.
void LoadMediaFile(TMediaDevice& device, const std::string& fileName);
// Whether a file is loading: a timer that fires meanwhile leaves the players
// alone.
bool MediaFileLoading();
