#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "hgmPyrByte": signed bytes.
// Score: 0.5 * (Σ p g) / 1651524.0 + 0.5.
class StageMatchEngine_Face_HgmPyrByte : public StageMatchEngine_Face_Vector {
 public:
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
