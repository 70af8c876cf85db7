// Runs a peer tool through the shell and answers what it wrote on its
// standard output ("" when it could not be started).
#pragma once

#include <cstdio>
#include <string>

inline std::string RunCommand(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}
