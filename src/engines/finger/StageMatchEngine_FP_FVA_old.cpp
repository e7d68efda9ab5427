#include "engines/finger/StageMatchEngine_FP_FVA_old.h"

#include <algorithm>

namespace qridy {

float StageMatchEngine_FP_FVA_old::matchGallery(const unsigned char* galleryDataA,
                                                unsigned int gallerySizeA) {
  const kernels::KernelSet& kL = kernelsM.get();
  // Both sides are read in whole blocks that both hold.
  auto blocks = [&](std::uint32_t offsetA, std::uint64_t lengthA) {
    return std::min(engines::sectionBlocks(gallerySizeA, offsetA, lengthA),
                    engines::sectionBlocks(probeDataSizeM, offsetA, lengthA));
  };
  float s1L = 0.0f;
  const int c1L = engines::commonUnits(engines::maskAt(probeDataM, probeDataSizeM, 0),
                                       engines::maskAt(galleryDataA, gallerySizeA, 0), 0x03FF);
  if (c1L != 0) {
    const std::uint32_t offsetL = settingsM.l1vOffset;
    const std::int32_t qL = kL.nibbleDot(probeDataM + offsetL, galleryDataA + offsetL,
                                         blocks(offsetL, settingsM.l1vLength())) /
                            c1L;
    s1L = qL >= 0 ? static_cast<float>(qL) * 0.0625f : 0.0f;
  }
  float s2L = 0.0f;
  const std::uint32_t maskOffsetL = settingsM.l2vMaskOffset;
  const int c2L =
      engines::commonUnits(engines::maskAt(probeDataM, probeDataSizeM, maskOffsetL),
                           engines::maskAt(galleryDataA, gallerySizeA, maskOffsetL), 0x03FF);
  if (c2L != 0) {
    const std::uint32_t offsetL = settingsM.l2vOffset();
    const std::int32_t dL =
        kL.nibbleDot(probeDataM + offsetL, galleryDataA + offsetL, blocks(offsetL, gallerySizeA));
    s2L = static_cast<float>(dL) / static_cast<float>(c2L) * 0.0625f;
  }
  return settingsM.w2 * s2L + settingsM.w1 * s1L;
}

}  // namespace qridy
