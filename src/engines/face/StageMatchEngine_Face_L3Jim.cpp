#include "engines/face/StageMatchEngine_Face_L3Jim.h"

namespace qridy {

float StageMatchEngine_Face_L3Jim::matchGallery(const unsigned char* galleryDataA,
                                                unsigned int gallerySizeA) {
  return 0.5f * static_cast<float>(probeByteDot(galleryDataA, gallerySizeA)) / 1971055.875f + 0.5f;
}

}  // namespace qridy
