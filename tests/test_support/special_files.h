// Files that are no regular files, for tests of the code that opens files to
// read them: a named pipe, a listening socket, and a guard that ends a wait
// on a pipe, so that code which blocks in open() fails its test instead of
// hanging the suite.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

// Makes a named pipe at path.
inline void MakeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << std::strerror(errno); }

// A Unix-domain socket bound at path while the object lives.
class BoundSocket {
public:
    explicit BoundSocket(const std::string& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_LT(path.size(), sizeof address.sun_path) << "socket path too long: " << path;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        ::listen(m_fd, 1);
    }
    ~BoundSocket() { ::close(m_fd); }
    BoundSocket(const BoundSocket&) = delete;
    BoundSocket& operator=(const BoundSocket&) = delete;

private:
    int m_fd;
};

// Watches a named pipe while the code under test runs: when it has not
// finished after `patience`, the guard opens the pipe for writing and closes
// it again, which ends a reader's wait in open() (and its read, with end of
// file), and notes that it had to. A test asserts !Rescued().
class PipeWaitGuard {
public:
    explicit PipeWaitGuard(std::string fifo, std::chrono::milliseconds patience = std::chrono::milliseconds(3000))
        : m_fifo(std::move(fifo)), m_thread([this, patience] { Watch(patience); })
    {
    }
    ~PipeWaitGuard() { Finish(); }
    PipeWaitGuard(const PipeWaitGuard&) = delete;
    PipeWaitGuard& operator=(const PipeWaitGuard&) = delete;

    // The code under test returned: stops watching.
    void Finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Rescued() const { return m_rescued; }

private:
    void Watch(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, patience, [this] { return m_done; }))
            return;
        // A writer's open succeeds only while a reader has the pipe open (or
        // waits in open for a writer): that reader is the code under test.
        while (!m_done) {
            const int fd = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_rescued = true;
                ::close(fd);
            }
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; });
        }
    }

    std::string m_fifo;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::atomic<bool> m_rescued {false};
    std::thread m_thread;
};
