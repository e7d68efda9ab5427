#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "hgmPyrFloat": 32-bit floats.
// Score: dot(probe, gallery) + 1.0 over the floats of the gallery data (its size in bytes / 4) that
// the probe also holds; fixed-order float kernel.
class StageMatchEngine_Face_HgmPyrFloat : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
