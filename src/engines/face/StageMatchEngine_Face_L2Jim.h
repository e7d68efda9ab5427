#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "l2Jim": signed 4-bit values, four per little-endian 16-bit word
// (bits 15..12, 11..8, 7..4, 3..0). Score: 0.5 * (Σ p g) / 7930.78515625 + 0.5.
class StageMatchEngine_Face_L2Jim : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
