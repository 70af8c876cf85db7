#include "configfile.h"

#include "tools/programfiles.h"

#include "rtl/inifiles.h"

std::string ConfigFileName() { return ProgramFile("ini/config.ini"); }
std::string FilterFileName() { return ProgramFile("ini/filefilter.txt"); }

TConfig ReadConfig(const std::string& fileName)
{
    const TIniFile ini(fileName);
    TConfig c;
    c.IniDir = ini.ReadString(kConfigSection, "IniDir", "");
    c.Layout = ini.ReadInteger(kConfigSection, "Layout", 1);
    c.ViewMode = ini.ReadInteger(kConfigSection, "ViewMode", 0);
    c.Filter = ini.ReadInteger(kConfigSection, "Filter", 0);
    c.Showgrid = ini.ReadInteger(kConfigSection, "Showgrid", 1);
    c.Saverecent = ini.ReadInteger(kConfigSection, "Saverecent", 1);
    return c;
}
