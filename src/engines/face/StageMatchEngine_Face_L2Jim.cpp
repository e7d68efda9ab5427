#include "engines/face/StageMatchEngine_Face_L2Jim.h"

namespace qridy {

float StageMatchEngine_Face_L2Jim::matchGallery(const unsigned char* galleryDataA,
                                                unsigned int gallerySizeA) {
  return 0.5f * static_cast<float>(probeNibbleDot(galleryDataA, gallerySizeA)) / 7930.78515625f +
         0.5f;
}

}  // namespace qridy
