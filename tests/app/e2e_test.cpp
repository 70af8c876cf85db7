// Starts the real program offscreen, waits for its main window and closes it
// the way a session manager does (SIGTERM).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TEST(Program, StartsShowsItsMainWindowAndClosesCleanly)
{
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("VISTREL_TRACE_WINDOWS", "1", 1);
        ::execl(VISTREL_EXE, VISTREL_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* in = ::fdopen(out[0], "r");
    char line[512] = {};
    const bool shown = std::fgets(line, sizeof line, in) != nullptr;
    ASSERT_TRUE(shown) << "the program ended before showing its window";
    EXPECT_EQ(std::string(line).rfind("main window shown: Vistrel", 0), 0u) << line;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::fclose(in);
    ASSERT_TRUE(WIFEXITED(status)) << "the program did not end by itself";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
