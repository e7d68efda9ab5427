#pragma once

// Helpers shared by the match engines.

#include <algorithm>
#include <cstdint>

#include <qrlcore/Exception.h>
#include <quarlen/TemplateBlock_Common.h>

namespace qridy {
namespace engines {

// The configuration section the engines read their settings from.
constexpr const char* kMatchingSection = "TEMPLATE_MATCHING_MULTIPASS";

// Whole 16-byte blocks present in both the gallery data (gallerySizeA bytes) and the probe
// buffer (probeBufferA bytes, a multiple of 16): the kernels never read past either.
inline std::uint32_t commonBlocks(std::uint32_t gallerySizeA, std::uint32_t probeBufferA) {
  return std::min(gallerySizeA, probeBufferA) / 16;
}

// Bytes of gallery data readable in whole blocks: its size rounded up to 16 (stage slots and the
// gallery copy of verify are padded to that), but no more than the probe buffer.
inline std::uint32_t paddedCommonBytes(std::uint32_t gallerySizeA, std::uint32_t probeBufferA) {
  const std::uint64_t paddedL = (std::uint64_t{gallerySizeA} + 15) & ~std::uint64_t{15};
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(paddedL, probeBufferA));
}

// The check of the engines backed by a face library: sizeA becomes 0, and a block that is not a
// TemplateBlock_Common fails with "Bad dynamic cast could not extract template data".
inline void requireCommonBlock(const TemplateBlockImp* blockA, unsigned int& sizeA,
                               const char* functionA) {
  sizeA = 0;
  if (dynamic_cast<const TemplateBlock_Common*>(blockA) == nullptr) {
    KXXCP_THROW(functionA, "Bad dynamic cast could not extract template data");
  }
}

}  // namespace engines
}  // namespace qridy
