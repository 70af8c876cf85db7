// Starts the real program offscreen, waits for its main window and closes it
// the way a session manager does (SIGTERM).
#include "test_support/special_files.h"
#include "test_support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Starts the program offscreen with the trace of its windows on; answers its
// process and the read end of its standard output.
pid_t StartProgram(const char* argument, int& output)
{
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("VISTREL_TRACE_WINDOWS", "1", 1);
        ::execl(VISTREL_EXE, VISTREL_EXE, argument, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    output = out[0];
    return pid;
}

} // namespace

TEST(Program, StartsShowsItsMainWindowAndClosesCleanly)
{
    int output = -1;
    const pid_t pid = StartProgram(nullptr, output);
    ASSERT_GE(pid, 0);
    FILE* in = ::fdopen(output, "r");
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

// Started with a named pipe, the program shows its window (the pipe refused
// as a file it cannot open) and still ends on SIGTERM. It used to wait in
// open() for a writer before its window came, and no signal ended it.
TEST(Program, StartedWithANamedPipeShowsItsWindowAndCloses)
{
    TempDir dir;
    MakeFifo(dir.Path("pipe"));
    int output = -1;
    const pid_t pid = StartProgram(dir.Path("pipe").c_str(), output);
    ASSERT_GE(pid, 0);
    pollfd ready {output, POLLIN, 0};
    const bool answered = ::poll(&ready, 1, 30000) == 1;
    if (!answered) {
        // Still waiting on the pipe: a writer's open ends the wait, then the
        // program is stopped for good.
        ::close(::open(dir.Path("pipe").c_str(), O_WRONLY | O_NONBLOCK));
        ::kill(pid, SIGKILL);
    }
    FILE* in = ::fdopen(output, "r");
    char line[512] = {};
    const bool shown = answered && std::fgets(line, sizeof line, in) != nullptr;
    EXPECT_TRUE(shown) << "no main window: the program waited on the pipe";
    if (shown) {
        EXPECT_EQ(std::string(line), "main window shown: Vistrel 1.0 - " + dir.Path("pipe") + "\n");
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::fclose(in);
    ASSERT_TRUE(WIFEXITED(status)) << "the program did not end by itself";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The Tools and Help menus open these files beside the program.
TEST(Program, ShipsTheAsciiTableAndTheHelpPage)
{
    const std::string dir = std::string(VISTREL_EXE).substr(0, std::string(VISTREL_EXE).rfind('/') + 1);
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string table = read(dir + "ini/ascii.txt");
    // Every code from 0 to 127, each on a line of its own or in a column.
    for (int code = 0; code < 128; ++code) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02X ", code);
        EXPECT_NE(table.find(hex), std::string::npos) << code;
    }
    const std::string help = read(dir + "help/help.htm");
    EXPECT_NE(help.find("<title>Vistrel Help</title>"), std::string::npos);
    EXPECT_NE(help.find("</html>"), std::string::npos);
}
