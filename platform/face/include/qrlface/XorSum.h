#pragma once

#include <cstdint>

#include <qrlface/FaceExport.h>

namespace kxegm {

// Number of differing bits of two bit strings over 16 * blocksA bytes (both read with unaligned
// 8-byte loads, so neither needs alignment). scratchA is 16 bytes of caller-provided workspace;
// on return it holds the differing-bit counts of the low and of the high 8 bytes of all blocks
// (two little-endian 64-bit values), which the total is the sum of.
QRLFACE_EXPORT std::uint32_t xorSum64(const unsigned char* aA, const unsigned char* bA,
                                      std::uint32_t blocksA, unsigned char* scratchA);

}  // namespace kxegm
