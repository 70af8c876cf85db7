// Runs a piece of a test as an ordinary user. The file-permission cases of a
// test mean nothing to root, who may write every file: a test running as
// root (as CI does) runs them in a child process that has dropped to the
// user "nobody" (65534); one running as an ordinary user runs them as it is.
#pragma once

#include <functional>
#include <string>

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr uid_t kUnprivilegedId = 65534;

// The uid the work runs as.
inline uid_t UnprivilegedUid() { return ::geteuid() == 0 ? kUnprivilegedId : ::geteuid(); }
inline gid_t UnprivilegedGid() { return ::geteuid() == 0 ? kUnprivilegedId : ::getegid(); }

// Runs work as an ordinary user and answers what it answered (by
// convention empty for success, else what went wrong), or a description of
// how the child ended when it did not end normally.
inline std::string RunUnprivileged(const std::function<std::string()>& work)
{
    if (::geteuid() != 0)
        return work();
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string answer;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 || ::setuid(kUnprivilegedId) != 0)
            answer = "cannot drop privileges";
        else
            answer = work();
        ssize_t written = ::write(fds[1], answer.data(), answer.size());
        ::_exit(written == static_cast<ssize_t>(answer.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = -1;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child ended abnormally (" + std::to_string(status) + "): " + answer;
    return answer;
}
