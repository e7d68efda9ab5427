#include "engines/face/StageMatchEngine_Face_HgmPyrFloat.h"

#include <algorithm>

namespace qridy {

float StageMatchEngine_Face_HgmPyrFloat::matchGallery(const unsigned char* galleryDataA,
                                                      unsigned int gallerySizeA) {
  const std::size_t countL = std::min(gallerySizeA, probeDataSizeM) / 4;
  return kernelsM->floatDot(reinterpret_cast<const float*>(probeDataM),
                            reinterpret_cast<const float*>(galleryDataA), countL) +
         1.0f;
}

}  // namespace qridy
