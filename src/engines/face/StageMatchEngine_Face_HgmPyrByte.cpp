#include "engines/face/StageMatchEngine_Face_HgmPyrByte.h"

namespace qridy {

float StageMatchEngine_Face_HgmPyrByte::matchGallery(const unsigned char* galleryDataA,
                                                     unsigned int gallerySizeA) {
  return 0.5f * static_cast<float>(probeByteDot(galleryDataA, gallerySizeA)) / 1651524.0f + 0.5f;
}

}  // namespace qridy
