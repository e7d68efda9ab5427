#include "engines/finger/StageMatchEngine_FP_L2V.h"

#include <algorithm>

#include <qrlcore/Exception.h>

namespace qridy {

float StageMatchEngine_FP_L2V::matchGallery(const unsigned char* galleryDataA,
                                            unsigned int gallerySizeA) {
  const int commonL = engines::commonUnits(engines::maskAt(probeDataM, probeDataSizeM, 0),
                                           engines::maskAt(galleryDataA, gallerySizeA, 0), 0x003F);
  if (commonL == 0) return kNoCommonFinger;
  const std::uint32_t blocksL =
      std::min(engines::sectionBlocks(gallerySizeA, 16, gallerySizeA),
               engines::sectionBlocks(probeDataSizeM, 16, probeDataSizeM));
  const std::int32_t dotL = kernelsM.get().byteDot(probeDataM + 16, galleryDataA + 16, blocksL);
  return static_cast<float>(dotL / commonL) * 0.0625f;
}

float StageMatchEngine_FP_L2V::verify(const unsigned char*, unsigned int, const unsigned char*) {
  KXXCP_THROW("qridy::StageMatchEngine_FP_L2V::verify", "L1V currently not implemented");
}

}  // namespace qridy
