#pragma once

// Byte-level helpers for reader tests: hex dumps for golden sequences and small edits of
// serialised records.

#include <cstdint>
#include <string>

namespace testsupport {

// "4D 44 01 00" style dump of a byte string.
std::string hex(const std::string& bytesA);

// Overwrites four bytes at offset atA with vA, little-endian.
void patchLe32(std::string& bytesA, std::size_t atA, std::uint32_t vA);
void patchLe16(std::string& bytesA, std::size_t atA, std::uint16_t vA);

}  // namespace testsupport
