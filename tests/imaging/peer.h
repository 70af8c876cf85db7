// The peer tools that read what our encoders write: each decodes a file to
// a netpbm picture, which the tests compare with the image that was saved.
#pragma once

#include "test_support/temp_dir.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace imgtest {

inline bool HaveTool(const std::string& tool)
{
    return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

// Writes the bytes to a file, runs `tool [options] file > picture` and reads
// the picture; false when the tool fails.
inline bool PeerDecode(const std::string& tool, const std::string& options, const std::vector<std::uint8_t>& file,
                       Picture& picture)
{
    TempDir dir;
    dir.Write("in", std::string(file.begin(), file.end()));
    const std::string command =
        tool + " " + options + " '" + dir.Path("in") + "' > '" + dir.Path("out.pnm") + "' 2> /dev/null";
    if (std::system(command.c_str()) != 0)
        return false;
    picture = ReadPnm(dir.Path("out.pnm"));
    return true;
}

}  // namespace imgtest
