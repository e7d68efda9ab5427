#include "engines/finger/StageMatchEngine_FP_L1V.h"

#include <qrlcore/QuarlenInformation.h>

namespace qridy {

StageMatchEngine_FP_L1V::StageMatchEngine_FP_L1V()
    : classifyThresholdM(kxutl::QuarlenInformation::getFloatFromConfigFile(
          "TEMPLATE_MATCHING", "FingerL1bClassifyThreshold")),
      featureOffsetM(engines::l1vFeatureOffset()) {}

float StageMatchEngine_FP_L1V::matchGallery(const unsigned char* galleryDataA,
                                            unsigned int gallerySizeA) {
  const int commonL = engines::commonUnits(engines::maskAt(probeDataM, probeDataSizeM, 0),
                                           engines::maskAt(galleryDataA, gallerySizeA, 0), 0x00FF);
  if (commonL == 0) return 0.0f;
  const std::uint32_t blocksL =
      std::min(engines::sectionBlocks(gallerySizeA, featureOffsetM, gallerySizeA),
               engines::sectionBlocks(probeDataSizeM, featureOffsetM, probeDataSizeM));
  const std::int32_t dotL =
      kernelsM.get().byteDot(probeDataM + featureOffsetM, galleryDataA + featureOffsetM, blocksL);
  const std::int32_t quotientL = dotL / commonL;
  return quotientL < 0 ? 0.0f : static_cast<float>(quotientL) * 0.0625f;
}

}  // namespace qridy
