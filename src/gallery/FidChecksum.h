#pragma once

// The checksums of the gallery (FID) files.
//
// Record checksum: h = h * 13 + byte over the record's data bytes, starting at 0, in unsigned
// 32-bit arithmetic ("abc" gives 17766).
//
// File checksum: the 16-bit ones'-complement sum (end-around carry) of the record checksums of
// all used records, each contributing its low and its high 16-bit half. Removing a record adds
// the complements of its halves. The arithmetic has two forms of zero, 0 and 0xFFFF, which
// compare equal.

#include <cstddef>
#include <cstdint>

namespace qridy {
namespace fid {

// The definition, byte by byte: every step waits for the one before.
inline std::uint32_t recordChecksumReference(const void* dataA, std::size_t sizeA,
                                             std::uint32_t hA = 0) {
  const unsigned char* pL = static_cast<const unsigned char*>(dataA);
  for (std::size_t i = 0; i < sizeA; ++i) hA = hA * 13u + pL[i];
  return hA;
}

// The same value computed in eight independent lanes, which the compiler can keep in one vector
// register. h over n bytes is the sum of byte i times 13^(n-1-i); lane j sums the bytes 8m + j
// of the 8-byte blocks with the factor 13^8 per block, and the lanes are then weighted by
// 13^(7-j). The bytes before the first full block are taken one by one first.
inline std::uint32_t recordChecksum(const void* dataA, std::size_t sizeA, std::uint32_t hA = 0) {
  const unsigned char* pL = static_cast<const unsigned char*>(dataA);
  const std::size_t headL = sizeA % 8;
  hA = recordChecksumReference(pL, headL, hA);
  pL += headL;
  const std::size_t blocksL = sizeA / 8;
  if (blocksL == 0) return hA;
  constexpr std::uint32_t k13p8 = 815730721u;  // 13^8
  std::uint32_t lanesL[8] = {};
  std::uint32_t scaleL = 1;  // 13^(8 * blocks), for the value before the blocks
  for (std::size_t b = 0; b < blocksL; ++b, pL += 8) {
    for (int j = 0; j < 8; ++j) lanesL[j] = lanesL[j] * k13p8 + pL[j];
    scaleL *= k13p8;
  }
  std::uint32_t sumL = 0;
  std::uint32_t weightL = 1;  // 13^(7-j), from j = 7 down
  for (int j = 7; j >= 0; --j) {
    sumL += lanesL[j] * weightL;
    weightL *= 13u;
  }
  return hA * scaleL + sumL;
}

inline std::uint16_t onesComplementAdd(std::uint16_t sumA, std::uint16_t valueA) {
  const std::uint32_t sL = static_cast<std::uint32_t>(sumA) + valueA;
  return static_cast<std::uint16_t>((sL & 0xFFFFu) + (sL >> 16));
}

inline std::uint16_t addRecordChecksum(std::uint16_t fileSumA, std::uint32_t recordA) {
  fileSumA = onesComplementAdd(fileSumA, static_cast<std::uint16_t>(recordA & 0xFFFFu));
  return onesComplementAdd(fileSumA, static_cast<std::uint16_t>(recordA >> 16));
}

inline std::uint16_t subtractRecordChecksum(std::uint16_t fileSumA, std::uint32_t recordA) {
  fileSumA = onesComplementAdd(fileSumA, static_cast<std::uint16_t>(~recordA & 0xFFFFu));
  return onesComplementAdd(fileSumA, static_cast<std::uint16_t>(~recordA >> 16));
}

// Folds one 16-bit file checksum into a sum of file checksums (multi-part and multi-file sums).
inline std::uint16_t addFileChecksum(std::uint16_t sumA, std::uint16_t fileSumA) {
  return onesComplementAdd(sumA, fileSumA);
}

inline bool fileChecksumsEqual(std::uint32_t aA, std::uint32_t bA) {
  const auto isZero = [](std::uint32_t vA) { return vA == 0 || vA == 0xFFFFu; };
  return aA == bA || (isZero(aA) && isZero(bA));
}

}  // namespace fid
}  // namespace qridy
