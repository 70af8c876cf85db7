// Files changed or held between opening and reading, through the file
// reader's hook (TFileReader::SetReadHook), for the life of a test.
#pragma once

#include "rtl/filereader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

// Holds every read of one file past its first piece (offset 0) until
// Release: the reader thread waits in the hook, as it would on a slow disk.
class HeldReader {
public:
    explicit HeldReader(const std::string& path)
    {
        TFileReader::SetReadHook([this, path](const TFileReader& r, std::int64_t offset) {
            if (r.FileName() != path || offset == 0)
                return;
            std::unique_lock<std::mutex> lock(m_lock);
            m_held = true;
            m_wake.wait(lock, [this] { return m_released; });
        });
    }
    ~HeldReader()
    {
        Release();
        TFileReader::SetReadHook(nullptr);
    }
    HeldReader(const HeldReader&) = delete;
    HeldReader& operator=(const HeldReader&) = delete;

    void Release()
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_released = true;
        }
        m_wake.notify_all();
    }
    // A reader waits in the hook now.
    bool Held()
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        return m_held && !m_released;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_held = false;
    bool m_released = false;
};

// Cuts one file to newSize just before a piece past `after` is read from it,
// once, as another program truncating it would.
class CutShortOnRead {
public:
    CutShortOnRead(const std::string& path, std::int64_t after, std::uintmax_t newSize)
    {
        TFileReader::SetReadHook([this, path, after, newSize](const TFileReader& r, std::int64_t offset) {
            if (r.FileName() != path || offset <= after || m_cut)
                return;
            m_cut = true;
            std::filesystem::resize_file(path, newSize);
        });
    }
    ~CutShortOnRead() { TFileReader::SetReadHook(nullptr); }
    CutShortOnRead(const CutShortOnRead&) = delete;
    CutShortOnRead& operator=(const CutShortOnRead&) = delete;
    bool Cut() const { return m_cut; }

private:
    // Written on the reader's thread, read after it finished.
    std::atomic<bool> m_cut {false};
};
