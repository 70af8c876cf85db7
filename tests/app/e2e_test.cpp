// Starts the real program offscreen, waits for its main window and closes it
// the way a session manager does (SIGTERM).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
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
