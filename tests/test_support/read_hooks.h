// Files changed or held between opening and reading, through the file
// reader's hook (TFileReader::SetReadHook), for the life of a test.
#pragma once

#include "rtl/filereader.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

// Holds every read of one file past its first piece (offset 0) until
// Release: the reader thread waits in the hook, as it would on a slow disk.
class HeldReader {
public:
    explicit HeldReader(const std::string& path) : m_state(std::make_shared<State>())
    {
        // The hook owns the state with this object: a reader released at
        // the end of a test may still be waking in it after this is gone.
        TFileReader::SetReadHook([state = m_state, path](const TFileReader& r, std::int64_t offset) {
            if (r.FileName() != path || offset == 0)
                return;
            std::unique_lock<std::mutex> lock(state->lock);
            state->held = true;
            state->wake.wait(lock, [&] { return state->released; });
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
            const std::lock_guard<std::mutex> lock(m_state->lock);
            m_state->released = true;
        }
        m_state->wake.notify_all();
    }
    // A reader waits in the hook now.
    bool Held()
    {
        const std::lock_guard<std::mutex> lock(m_state->lock);
        return m_state->held && !m_state->released;
    }

private:
    struct State {
        std::mutex lock;
        std::condition_variable wake;
        bool held = false;
        bool released = false;
    };
    std::shared_ptr<State> m_state;
};

// Cuts one file to newSize just before a piece past `after` is read from it,
// once, as another program truncating it would.
class CutShortOnRead {
public:
    CutShortOnRead(const std::string& path, std::int64_t after, std::uintmax_t newSize)
        : m_cut(std::make_shared<std::atomic<bool>>(false))
    {
        TFileReader::SetReadHook([cut = m_cut, path, after, newSize](const TFileReader& r, std::int64_t offset) {
            if (r.FileName() != path || offset <= after || *cut)
                return;
            *cut = true;
            std::filesystem::resize_file(path, newSize);
        });
    }
    ~CutShortOnRead() { TFileReader::SetReadHook(nullptr); }
    CutShortOnRead(const CutShortOnRead&) = delete;
    CutShortOnRead& operator=(const CutShortOnRead&) = delete;
    bool Cut() const { return *m_cut; }

private:
    // Written on the reader's thread, read after it finished; shared with
    // the hook for the same reason as the held reader's state.
    std::shared_ptr<std::atomic<bool>> m_cut;
};
