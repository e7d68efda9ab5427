#include "support/ByteHelpers.h"

#include <cstdio>

namespace testsupport {

std::string hex(const std::string& bytesA) {
  std::string outL;
  char bufL[4];
  for (std::size_t i = 0; i < bytesA.size(); ++i) {
    std::snprintf(bufL, sizeof bufL, "%02X", static_cast<unsigned char>(bytesA[i]));
    if (i != 0) outL += ' ';
    outL += bufL;
  }
  return outL;
}

void patchLe32(std::string& bytesA, std::size_t atA, std::uint32_t vA) {
  for (int i = 0; i < 4; ++i) bytesA[atA + i] = static_cast<char>(vA >> (8 * i));
}

void patchLe16(std::string& bytesA, std::size_t atA, std::uint16_t vA) {
  bytesA[atA] = static_cast<char>(vA);
  bytesA[atA + 1] = static_cast<char>(vA >> 8);
}

}  // namespace testsupport
