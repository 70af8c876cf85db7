// What the tests of the OLE container and of office documents in the main
// window share: the fixtures of scripts/make-office-fixtures.sh, a cache
// folder of the test program's own (one converter profile for all its
// tests), a stand-in for the converter and the desktop's "open", and waiting
// for a conversion.
#pragma once

#include "test_support/temp_dir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <sys/stat.h>

inline std::string OfficeFixturePath(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/../platform/fixtures/office/" + name;
}

// Sets an environment variable for a scope, putting the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        m_had = std::getenv(name) != nullptr;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name, m_old;
    bool m_had = false;
};

// The program's cache folder ($XDG_CACHE_HOME/vistrel) in a folder of the
// test program's own for all its tests, so the converter's profile is made
// once; each test starts with no pictures cached.
class OfficeCacheHome {
public:
    static OfficeCacheHome& Get()
    {
        static OfficeCacheHome* home = new OfficeCacheHome();
        return *home;
    }
    std::string Vistrel() const { return m_dir.Path("vistrel"); }
    void ForgetPictures() const
    {
        std::error_code ec;
        std::filesystem::remove_all(Vistrel() + "/office", ec);
    }
    // The work folders of conversions under way (none once each ended).
    int WorkFolders() const
    {
        int n = 0;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(Vistrel() + "/office-work", ec);
             !ec && it != std::filesystem::directory_iterator(); ++it)
            ++n;
        return n;
    }

private:
    OfficeCacheHome() : m_env("XDG_CACHE_HOME", m_dir.Root()) {}
    TempDir m_dir;
    ScopedEnv m_env;
};

inline std::string CurrentPath() { return std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"; }

// A converter in a folder of its own, to go first in PATH. What it does is
// read from $FAKE_OFFICE when it starts: "picture" copies $FAKE_OFFICE_PICTURE
// as the output, "refuse" says what the converter says of a document it
// cannot load, "exit3" ends with code 3 and no output, "hang" starts a
// helper and waits for it. It appends its process id and its helper's to
// $FAKE_OFFICE_LOG/pids, and writes its arguments, one a line, with the
// mode bits of the document it was given and its network namespace to
// $FAKE_OFFICE_LOG/args.
inline void WriteFakeConverter(const TempDir& dir, const std::string& folder)
{
    dir.Write(folder + "/soffice", R"(#!/bin/sh
log="$FAKE_OFFICE_LOG"
: > "$log/args"
for a in "$@"; do echo "$a" >> "$log/args"; done
out=""
while [ $# -gt 0 ]; do
  case "$1" in --outdir) out="$2"; shift ;; *) doc="$1" ;; esac
  shift
done
stat -c %a "$doc" >> "$log/args"
readlink /proc/self/ns/net >> "$log/args"
echo $$ >> "$log/pids"
case "$FAKE_OFFICE" in
  picture) cp "$FAKE_OFFICE_PICTURE" "$out/document.png" ;;
  refuse) echo "Error: source file could not be loaded" ;;
  exit3) exit 3 ;;
  hang) sleep 30 & echo $! >> "$log/pids"; wait ;;
esac
)");
    ::chmod(dir.Path(folder + "/soffice").c_str(), 0755);
}

// The desktop's "open" in a folder of its own: it writes what it was asked
// to open to $FAKE_OPEN_LOG.
inline void WriteFakeOpener(const TempDir& dir, const std::string& folder)
{
    dir.Write(folder + "/xdg-open", "#!/bin/sh\necho \"$1\" >> \"$FAKE_OPEN_LOG\"\n");
    ::chmod(dir.Path(folder + "/xdg-open").c_str(), 0755);
}

// Runs the event loop until done() or the time is up; false when it is up.
inline bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Whether a process runs (a zombie that only waits to be reaped does not).
inline bool ProcessRuns(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const std::size_t paren = line.rfind(')');
    return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z';
}

// Whether this system lets a user give a process a network of its own.
inline bool PrivateNetworkPossible() { return std::system("unshare -rn -- true >/dev/null 2>&1") == 0; }

// This process's network namespace, as /proc names it.
inline std::string OwnNetworkNamespace() { return std::filesystem::read_symlink("/proc/self/ns/net").string(); }
