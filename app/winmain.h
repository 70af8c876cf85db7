// The program's entry routine.
#pragma once

#include <string>
#include <vector>

// The command line as the system would have it: the executable's name, then
// the arguments, each one holding a blank in double quotes.
std::string RawCommandLine(const std::string& exeBaseName, const std::vector<std::string>& args);

// The path the command line names, made full against the working folder the
// program was started in; "" when it names none.
std::string CommandLinePath(const std::string& exeBaseName, const std::vector<std::string>& args);

int VistrelMain(int argc, char** argv);
