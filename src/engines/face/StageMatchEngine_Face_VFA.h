#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "vfa", "vfa2", "vfa3": signed bytes.
// Score: (Σ p g) / 258064.0, or exactly 0.0 when the dot product is negative.
class StageMatchEngine_Face_VFA : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  static constexpr float kDivisor = 258064.0f;
};

}  // namespace qridy
