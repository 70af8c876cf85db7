#include "shellexec.h"

#include "wintypes.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool ShellOpen(const std::string& target)
{
    const char* argv[] = {"xdg-open", target.c_str(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ);
    if (rc != 0) {
        SetLastError(Win32ErrorFromErrno(rc));
        return false;
    }
    // xdg-open hands the target over and exits; reap it so no zombie is left.
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
