#include "engines/finger/StageMatchEngine_FP_FVA.h"

#include <algorithm>
#include <utility>

namespace qridy {

void StageMatchEngine_FP_FVA::setProbeForIdentification(const unsigned char* dataA,
                                                        unsigned int sizeA) {
  const std::uint32_t sizeL = dataA == nullptr ? 0 : sizeA;
  // The sections as far as the probe holds them.
  auto sectionBytes = [sizeL](std::uint32_t offsetA, std::uint64_t lengthA) -> std::uint32_t {
    if (offsetA >= sizeL) return 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(lengthA, sizeL - offsetA));
  };
  const std::uint32_t bytes1L = sectionBytes(settingsM.l1vOffset, settingsM.l1vLength());
  const std::uint32_t bytes2L = sectionBytes(settingsM.l2vOffset(), sizeL);
  // Both expansions are had before the previous probe is given up.
  auto expansion = [this](std::uint32_t bytesA) {
    return bytesA == 0
               ? AlignedBuffer()
               : allocateOrThrow(std::uint64_t{4} * bytesA,
                                 "qridy::StageMatchEngine_FP_FVA::setProbeForIdentification",
                                 "Could not allocate aligned memory for probe ");
  };
  AlignedBuffer expanded1L = expansion(bytes1L);
  AlignedBuffer expanded2L = expansion(bytes2L);
  probeMask1M = engines::maskAt(dataA, sizeL, 0);
  probeMask2M = engines::maskAt(dataA, sizeL, settingsM.l2vMaskOffset);
  // Whole packed blocks expand; a trailing partial block is never compared.
  if (bytes1L >= 16) {
    kernelsM.get().nibbleExpand(dataA + settingsM.l1vOffset, bytes1L / 16,
                                expanded1L.as<std::int16_t>());
  }
  if (bytes2L >= 16) {
    kernelsM.get().nibbleExpand(dataA + settingsM.l2vOffset(), bytes2L / 16,
                                expanded2L.as<std::int16_t>());
  }
  expanded1M = std::move(expanded1L);
  expanded2M = std::move(expanded2L);
  section1BytesM = bytes1L;
  section2BytesM = bytes2L;
}

void StageMatchEngine_FP_FVA::releaseProbe() {
  expanded1M.reset();
  expanded2M.reset();
  section1BytesM = section2BytesM = 0;
  probeMask1M = probeMask2M = 0;
  StageMatchEngine_Base::releaseProbe();
}

float StageMatchEngine_FP_FVA::matchGallery(const unsigned char* galleryDataA,
                                            unsigned int gallerySizeA) {
  const kernels::KernelSet& kL = kernelsM.get();
  float s1L = 0.0f;
  const int c1L =
      engines::commonUnits(probeMask1M, engines::maskAt(galleryDataA, gallerySizeA, 0), 0xFFFF);
  if (c1L != 0 && !expanded1M.empty()) {
    const std::uint32_t blocksL =
        engines::sectionBlocks(gallerySizeA, settingsM.l1vOffset, section1BytesM);
    const std::int32_t qL =
        kL.expandedDot(expanded1M.as<std::int16_t>(), galleryDataA + settingsM.l1vOffset, blocksL) /
        c1L;
    s1L = qL >= 0 ? static_cast<float>(qL) * 0.0625f : 0.0f;
  }
  float s2L = 0.0f;
  const int c2L = engines::commonUnits(
      probeMask2M, engines::maskAt(galleryDataA, gallerySizeA, settingsM.l2vMaskOffset), 0xFFFF);
  if (c2L != 0 && !expanded2M.empty()) {
    const std::uint32_t blocksL =
        engines::sectionBlocks(gallerySizeA, settingsM.l2vOffset(), section2BytesM);
    const std::int32_t dL = kL.expandedDot(expanded2M.as<std::int16_t>(),
                                           galleryDataA + settingsM.l2vOffset(), blocksL);
    s2L = static_cast<float>(dL) / static_cast<float>(c2L) * 0.0625f;
  }
  return settingsM.w2 * s2L + settingsM.w1 * s1L;
}

}  // namespace qridy
