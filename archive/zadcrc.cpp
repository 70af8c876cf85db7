#include "zadcrc.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrc32()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<std::uint16_t, 256> MakeCrc16()
{
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
        t[i] = static_cast<std::uint16_t>(c);
    }
    return t;
}

constexpr auto kCrc32 = MakeCrc32();
constexpr auto kCrc16 = MakeCrc16();

}  // namespace

const std::uint32_t* const Crc32Table = kCrc32.data();
const std::uint16_t* const Crc16Table = kCrc16.data();
std::uint32_t Crc32Val = 0xFFFFFFFFu;
std::uint16_t Crc16Val = 0;

std::uint32_t Crc32_buf(const void* buf, std::size_t count, std::uint32_t crc)
{
    const auto* p = static_cast<const std::uint8_t*>(buf);
    for (std::size_t i = 0; i < count; ++i)
        crc = kCrc32[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::uint16_t Crc16_buf(const void* buf, std::size_t count, std::uint16_t crc)
{
    const auto* p = static_cast<const std::uint8_t*>(buf);
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>(kCrc16[(crc ^ p[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}
