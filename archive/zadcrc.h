// The two checksums of the archive formats: the reflected CRC-32 of ZIP and
// gzip (polynomial 0xEDB88320) and CRC-16/ARC (polynomial 0xA001), with the
// library-wide running values that the data path updates.
#pragma once

#include <cstddef>
#include <cstdint>

extern const std::uint32_t* const Crc32Table;  // 256 entries
extern const std::uint16_t* const Crc16Table;  // 256 entries

// Running values; one archive operation runs at a time in the process.
extern std::uint32_t Crc32Val;
extern std::uint16_t Crc16Val;

// Adds count bytes to a running CRC (no pre- or post-inversion: a CRC-32
// starts at CRC_MASK and the caller inverts the final value).
std::uint32_t Crc32_buf(const void* buf, std::size_t count, std::uint32_t crc);
std::uint16_t Crc16_buf(const void* buf, std::size_t count, std::uint16_t crc);
