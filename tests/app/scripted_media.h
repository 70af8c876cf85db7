// A media device for tests, on the test clock: each file it knows has a
// length, and may be refused, carry video or fail part-way; position runs
// with CurrentClock() while it plays. It records every file it played.
#pragma once

#include "media/mediadevice.h"

#include "rtl/clock.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct ScriptedMedia {
    std::int64_t lengthMs = 500;
    bool refuse = false;
    bool video = false;
    std::int64_t failAtMs = -1; // fails while playing when it gets there
};

struct ScriptedMediaLibrary {
    std::map<std::string, ScriptedMedia> files; // by full path; unknown paths are refused
    std::vector<std::string> played;             // each Play, in order
    int stops = 0;
};

class ScriptedMediaDevice final : public TMediaDevice {
public:
    explicit ScriptedMediaDevice(ScriptedMediaLibrary& library) : m_library(library) {}

    void Load(const std::string& fileName) override
    {
        Unload();
        const auto it = m_library.files.find(fileName);
        if (it == m_library.files.end() || it->second.refuse) {
            m_state = TMediaLoadState::Refused;
            return;
        }
        m_media = it->second;
        m_file = fileName;
        m_state = TMediaLoadState::Loaded;
    }
    void Unload() override
    {
        m_state = TMediaLoadState::Empty;
        m_playing = false;
        m_position = 0;
    }
    TMediaLoadState State() const override { return m_state; }
    std::string ErrorText() const override
    {
        return m_state == TMediaLoadState::Refused ? "The stream holds no media the player knows" : "";
    }
    void Play() override
    {
        if (m_state != TMediaLoadState::Loaded)
            return;
        if (Elapsed() >= m_media.lengthMs)
            m_position = 0;
        m_start = CurrentClock().NowMs() - static_cast<std::uint64_t>(m_position);
        m_playing = true;
        m_library.played.push_back(m_file);
    }
    void Stop() override
    {
        m_position = Elapsed();
        m_playing = false;
        ++m_library.stops;
    }
    bool Playing() const override { return m_playing && !Failed() && Elapsed() < m_media.lengthMs; }
    bool Failed() const override { return m_media.failAtMs >= 0 && Elapsed() >= m_media.failAtMs; }
    std::int64_t PositionMs() const override { return Elapsed(); }
    std::int64_t LengthMs() const override { return m_state == TMediaLoadState::Loaded ? m_media.lengthMs : 0; }
    bool HasVideo() const override { return m_media.video; }
    void SetVideoSink(QVideoSink*) override {}

private:
    std::int64_t Elapsed() const
    {
        if (m_state != TMediaLoadState::Loaded)
            return 0;
        std::int64_t t = m_playing ? static_cast<std::int64_t>(CurrentClock().NowMs() - m_start) : m_position;
        if (m_media.failAtMs >= 0)
            t = std::min(t, m_media.failAtMs);
        return std::min(t, m_media.lengthMs);
    }

    ScriptedMediaLibrary& m_library;
    ScriptedMedia m_media;
    std::string m_file;
    TMediaLoadState m_state = TMediaLoadState::Empty;
    bool m_playing = false;
    std::uint64_t m_start = 0;
    std::int64_t m_position = 0;
};

// Makes every player created in its life play through the scripted device.
class ScopedScriptedMedia {
public:
    ScopedScriptedMedia()
    {
        SetMediaDeviceFactory([this] { return std::make_unique<ScriptedMediaDevice>(library); });
    }
    ~ScopedScriptedMedia() { SetMediaDeviceFactory(nullptr); }
    ScriptedMediaLibrary library;
};
