// Little-endian fields of the picture files the graphic classes read.
#pragma once

#include <cstdint>

inline std::uint32_t GraphicGet16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t GraphicGet32(const std::uint8_t* p) { return GraphicGet16(p) | (GraphicGet16(p + 2) << 16); }
