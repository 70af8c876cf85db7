// Reading the reference pictures that netpbm and ImageMagick wrote for the
// fixtures (P4, P5 and P6 with maxval 255) as 0x00RRGGBB pixels.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

struct PnmPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // top row first
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

inline PnmPicture ReadPnmBytes(const std::string& bytes)
{
    PnmPicture p;
    std::size_t pos = 0;
    auto token = [&]() {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            else if (std::isspace(static_cast<unsigned char>(bytes[pos])))
                ++pos;
            else
                break;
        }
        std::string t;
        while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos])))
            t += bytes[pos++];
        return t;
    };
    const std::string magic = token();
    p.width = std::stoi(token());
    p.height = std::stoi(token());
    const int maxval = magic == "P4" ? 1 : std::stoi(token());
    ++pos;  // the one white space before the samples
    (void)maxval;
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
    const auto* d = reinterpret_cast<const std::uint8_t*>(bytes.data()) + pos;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            std::uint32_t c = 0;
            if (magic == "P6") {
                const std::uint8_t* s = d + (static_cast<std::size_t>(y) * p.width + x) * 3;
                c = (static_cast<std::uint32_t>(s[0]) << 16) | (s[1] << 8) | s[2];
            } else if (magic == "P5") {
                const std::uint8_t v = d[static_cast<std::size_t>(y) * p.width + x];
                c = (static_cast<std::uint32_t>(v) << 16) | (v << 8) | v;
            } else {
                const std::size_t stride = (static_cast<std::size_t>(p.width) + 7) / 8;
                const bool black = (d[y * stride + x / 8] >> (7 - x % 8)) & 1;
                c = black ? 0 : 0xFFFFFF;
            }
            p.pixels[static_cast<std::size_t>(y) * p.width + x] = c;
        }
    return p;
}

inline PnmPicture ReadPnmFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return ReadPnmBytes(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// The output of a command (a netpbm tool reading a file we wrote).
inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* f = popen(command.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        pclose(f);
    }
    return out;
}
