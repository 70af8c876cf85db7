// What the tests of the players, the playlists and the web and PDF viewers
// share: their fixtures (made by scripts/make-media-fixtures.sh) and the
// texts of the message boxes shown.
#pragma once

#include "test_support/scripted_prompts.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string PlayerFixturePath(const std::string& name)
{
    return std::string(VISTREL_TEST_DATA) + "/fixtures/players/" + name;
}

inline std::string PlayerFixtureBytes(const std::string& name)
{
    std::ifstream in(PlayerFixturePath(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> MessageTexts(const ScriptedPrompts& prompts)
{
    std::vector<std::string> out;
    for (const auto& a : prompts.asked)
        if (a.kind == "message")
            out.push_back(a.text);
    return out;
}
