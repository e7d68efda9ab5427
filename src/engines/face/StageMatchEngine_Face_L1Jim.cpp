#include "engines/face/StageMatchEngine_Face_L1Jim.h"

#include <algorithm>
#include <utility>

#include "common/AlignedBuffer.h"

namespace qridy {

void StageMatchEngine_Face_L1Jim::setProbeForIdentification(const unsigned char* dataA,
                                                            unsigned int sizeA) {
  // The padded copy first, then its expansion replaces it as the probe.
  StageMatchEngine_Base::setProbeForIdentification(dataA, sizeA);
  if (probeDataM == nullptr) return;
  AlignedBuffer expandedL =
      allocateOrThrow(std::uint64_t{4} * probeDataSizeM,
                      "qridy::StageMatchEngine_Face_L1Jim::setProbeForIdentification",
                      "Could not allocate aligned memory for probe ");
  kernelsM->nibbleExpand(probeDataM, probeDataSizeM / 16, expandedL.as<std::int16_t>());
  adoptProbe(std::move(expandedL));
}

float StageMatchEngine_Face_L1Jim::matchGallery(const unsigned char* galleryDataA,
                                                unsigned int gallerySizeA) {
  const std::uint32_t blocksL = std::min(gallerySizeA / 16, probeDataSizeM / 64);
  const std::int32_t dotL = kernelsM->expandedDot(reinterpret_cast<const std::int16_t*>(probeDataM),
                                                  galleryDataA, blocksL);
  return 0.5f * static_cast<float>(dotL) / 7930.78515625f + 0.5f;
}

}  // namespace qridy
