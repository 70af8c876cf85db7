// The device beneath the media players: loads one file, plays and stops it,
// and reports where it is. The program's device is Qt Multimedia; tests put
// a scripted device in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QVideoSink;

enum class TMediaLoadState { Empty, Loading, Loaded, Refused };

class TMediaDevice {
public:
    virtual ~TMediaDevice() = default;
    // Starts loading a file (whatever was loaded goes); State tells when it
    // is loaded or refused. Loading may finish only while messages are pumped.
    virtual void Load(const std::string& fileName) = 0;
    // Lets go of the file.
    virtual void Unload() = 0;
    virtual TMediaLoadState State() const = 0;
    // Why the file was refused, or why it failed while playing.
    virtual std::string ErrorText() const = 0;
    virtual void Play() = 0;
    // Stops where it is.
    virtual void Stop() = 0;
    // Between Play and the end, a Stop or a failure.
    virtual bool Playing() const = 0;
    // The media failed while it played (a decoding error, the file gone).
    virtual bool Failed() const = 0;
    // Milliseconds from the start, within 0..LengthMs; once the end is
    // reached, the length.
    virtual std::int64_t PositionMs() const = 0;
    virtual std::int64_t LengthMs() const = 0;
    virtual bool HasVideo() const = 0;
    // Where the frames of a video go; nullptr for nowhere.
    virtual void SetVideoSink(QVideoSink* sink) = 0;
};

using TMediaDeviceFactory = std::function<std::unique_ptr<TMediaDevice>()>;

// Whether the machine has a device that plays sound (a sound card, or a
// sound server with an output). A file that is sound alone is refused
// without one, as MCI refuses it without a wave device: it would play to
// nowhere. Tests may answer in the machine's place; nullptr lets the machine
// answer again.
bool AudioOutputAvailable();
void SetAudioOutputProbe(std::function<bool()> probe);

// A new device of the kind in force: Qt Multimedia, or what a test set.
std::unique_ptr<TMediaDevice> CreateMediaDevice();
// Puts a factory in place of Qt Multimedia (nullptr restores it). Players
// made afterwards get their devices from it.
void SetMediaDeviceFactory(TMediaDeviceFactory factory);
