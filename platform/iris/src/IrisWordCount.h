#pragma once

// The bit counts of one code word, shared by the count calls and the scalar screening paths.
// Always inlined, so that in functions compiled for POPCNT the builtin becomes the instruction,
// while the portable functions never contain it.

#include <cstdint>
#include <cstring>

#define QRLIRIS_INLINE __attribute__((always_inline)) inline

namespace kxegm {
namespace irisword {

QRLIRIS_INLINE std::uint64_t load64(const void* pA) {
  std::uint64_t vL;
  std::memcpy(&vL, pA, 8);
  return vL;
}

template <bool Hardware>
QRLIRIS_INLINE std::uint64_t popcount(std::uint64_t xA) {
  if constexpr (Hardware) {
    return static_cast<std::uint64_t>(__builtin_popcountll(xA));
  } else {
    xA = xA - ((xA >> 1) & 0x5555555555555555ull);
    xA = (xA & 0x3333333333333333ull) + ((xA >> 2) & 0x3333333333333333ull);
    xA = (xA + (xA >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (xA * 0x0101010101010101ull) >> 56;
  }
}

// Counts gallery word gA against probe code word pA and its mask word mA (mask in the low half):
// the usable bits are those set in both masks, the differing ones the usable bits whose code
// bits differ.
template <bool Hardware>
QRLIRIS_INLINE void countOne(std::uint64_t gA, std::uint64_t pA, std::uint64_t mA,
                             std::uint64_t& totalA, std::uint64_t& diffA) {
  const std::uint64_t usableL = (gA >> 32) & mA;
  totalA += popcount<Hardware>(usableL);
  diffA += popcount<Hardware>((gA ^ pA) & usableL);
}

}  // namespace irisword
}  // namespace kxegm
