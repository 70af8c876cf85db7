// The settings of "ini/config.ini", section IniParas, with their defaults.
#pragma once

#include <string>

struct TConfig {
    std::string IniDir;   // folder selected at start, empty for none
    int Layout = 1;       // window layout minus 1
    int ViewMode = 0;     // file-list view style minus 1
    int Filter = 0;       // index of the default filter pair
    int Showgrid = 1;     // 1 shows grid lines
    int Saverecent = 1;   // 1 keeps the recent-file list
};

constexpr const char* kConfigSection = "IniParas";
std::string ConfigFileName();
std::string FilterFileName();
// Reads the file; a missing file, key or non-integer value gives the default.
TConfig ReadConfig(const std::string& fileName);
