#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "l3Jim": signed bytes.
// Score: 0.5 * (Σ p g) / 1971055.875 + 0.5.
class StageMatchEngine_Face_L3Jim : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
