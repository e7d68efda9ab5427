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

inline std::uint32_t recordChecksum(const void* dataA, std::size_t sizeA, std::uint32_t hA = 0) {
  const unsigned char* pL = static_cast<const unsigned char*>(dataA);
  for (std::size_t i = 0; i < sizeA; ++i) hA = hA * 13u + pL[i];
  return hA;
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
