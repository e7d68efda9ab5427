#include <qrlface/XorSum.h>

#include <cstring>

namespace kxegm {

std::uint32_t xorSum64(const unsigned char* aA, const unsigned char* bA, std::uint32_t blocksA,
                       unsigned char* scratchA) {
  std::uint64_t countsL[2] = {0, 0};
  for (std::uint32_t i = 0; i < 2 * blocksA; ++i) {
    std::uint64_t aL, bL;
    std::memcpy(&aL, aA + 8 * i, 8);
    std::memcpy(&bL, bA + 8 * i, 8);
    countsL[i % 2] += static_cast<std::uint64_t>(__builtin_popcountll(aL ^ bL));
  }
  if (scratchA != nullptr) {
    for (int h = 0; h < 2; ++h) {
      for (int b = 0; b < 8; ++b)
        scratchA[8 * h + b] = static_cast<unsigned char>(countsL[h] >> (8 * b));
    }
  }
  return static_cast<std::uint32_t>(countsL[0] + countsL[1]);
}

}  // namespace kxegm
