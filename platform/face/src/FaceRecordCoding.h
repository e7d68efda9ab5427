#pragma once

// Little-endian coding for the face library's stream formats (graphs, quality results). Values
// are encoded byte by byte; the get functions change their output only on success.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

namespace kxegm {
namespace coding {

inline void putU8(std::ostream& osA, std::uint8_t vA) {
  osA.put(static_cast<char>(vA));
}
inline void putU16(std::ostream& osA, std::uint16_t vA) {
  const char bL[2] = {static_cast<char>(vA), static_cast<char>(vA >> 8)};
  osA.write(bL, 2);
}
inline void putU32(std::ostream& osA, std::uint32_t vA) {
  char bL[4];
  for (int i = 0; i < 4; ++i) bL[i] = static_cast<char>(vA >> (8 * i));
  osA.write(bL, 4);
}
inline void putF32(std::ostream& osA, float vA) {
  std::uint32_t bitsL;
  std::memcpy(&bitsL, &vA, 4);
  putU32(osA, bitsL);
}

inline std::uint32_t decodeU32(const unsigned char* pA) {
  return std::uint32_t{pA[0]} | (std::uint32_t{pA[1]} << 8) | (std::uint32_t{pA[2]} << 16) |
         (std::uint32_t{pA[3]} << 24);
}
inline float decodeF32(const unsigned char* pA) {
  const std::uint32_t bitsL = decodeU32(pA);
  float vL;
  std::memcpy(&vL, &bitsL, 4);
  return vL;
}

inline bool getRaw(std::istream& isA, unsigned char* dstA, std::size_t nA) {
  isA.read(reinterpret_cast<char*>(dstA), static_cast<std::streamsize>(nA));
  return static_cast<std::size_t>(isA.gcount()) == nA;
}
inline bool getU8(std::istream& isA, std::uint8_t& vA) {
  return getRaw(isA, &vA, 1);
}
inline bool getU16(std::istream& isA, std::uint16_t& vA) {
  unsigned char bL[2];
  if (!getRaw(isA, bL, 2)) return false;
  vA = static_cast<std::uint16_t>(bL[0] | (bL[1] << 8));
  return true;
}
inline bool getU32(std::istream& isA, std::uint32_t& vA) {
  unsigned char bL[4];
  if (!getRaw(isA, bL, 4)) return false;
  vA = decodeU32(bL);
  return true;
}
inline bool getF32(std::istream& isA, float& vA) {
  unsigned char bL[4];
  if (!getRaw(isA, bL, 4)) return false;
  vA = decodeF32(bL);
  return true;
}

// Reads countA records of recordSizeA bytes, growing the buffer only as the stream delivers
// them: a hostile count ends in a short read, not in a large allocation.
inline bool getRecords(std::istream& isA, std::uint32_t countA, std::size_t recordSizeA,
                       std::vector<unsigned char>& outA) {
  constexpr std::uint64_t kChunk = 1u << 16;
  std::uint64_t leftL = std::uint64_t{countA} * recordSizeA;
  outA.clear();
  while (leftL > 0) {
    const std::size_t wantL = static_cast<std::size_t>(std::min(leftL, kChunk));
    const std::size_t oldL = outA.size();
    outA.resize(oldL + wantL);
    if (!getRaw(isA, outA.data() + oldL, wantL)) return false;
    leftL -= wantL;
  }
  return true;
}

}  // namespace coding
}  // namespace kxegm
