#pragma once

#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "l1Jim": signed 4-bit values as for "l2Jim". The probe is stored expanded into 16-bit values
// (four times its padded size), so that each gallery comparison unpacks only the gallery.
// Score: 0.5 * (Σ p g) / 7930.78515625 + 0.5, the same value as "l2Jim" gives.
class StageMatchEngine_Face_L1Jim : public StageMatchEngine_Face_Vector {
 public:
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
};

}  // namespace qridy
