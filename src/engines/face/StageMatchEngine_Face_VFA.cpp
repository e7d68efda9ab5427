#include "engines/face/StageMatchEngine_Face_VFA.h"

namespace qridy {

float StageMatchEngine_Face_VFA::matchGallery(const unsigned char* galleryDataA,
                                              unsigned int gallerySizeA) {
  const std::int32_t dotL = probeByteDot(galleryDataA, gallerySizeA);
  return dotL < 0 ? 0.0f : static_cast<float>(dotL) / kDivisor;
}

}  // namespace qridy
