#pragma once

#include <cstdint>

#include "engines/iris/StageMatchEngine_Iris_Base.h"

namespace qridy {

// "mvxIris2PiSdk": iris codes in the matcher form of the iris library, of which this engine
// reads words 0..23 (192 gallery bytes). The probe is loaded into the library's first rotation
// table; the search runs over rows 10 - k .. 10 + k (k = 3 unless parameter 5 sets it, at most
// 10) with early rejections after words 0, 1, 3, 7 and 11, and scores each surviving row by its
// Hamming distance h = D / T over words 0..23, pulled towards 0.5 when fewer than 450 bits were
// compared: w = clamp((450 - T) * 2 / 450, 0, 1), h = (0.5 - sqrt(T / 450) (0.5 - h)) w + (1 - w)
// h. Score: 1 - the smallest h (0.0 when no row survives, or for gallery data shorter than the
// 192 bytes the search reads). Counts go through library call 21.
class StageMatchEngine_Iris_Daugman : public StageMatchEngine_Iris_Base {
 public:
  static constexpr unsigned int kGalleryBytes = 192;

  // Load failures name "qridy::StageMatchEngine_Iris_Daugman::setProbeForIdentification";
  // parameter 5 sets k = min(value, 10).
  StageMatchEngine_Iris_Daugman();
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  // The distance of one row with T compared bits and raw distance hA, after the normalisation.
  static float normalisedDistance(std::uint64_t totalA, float hA);
};

}  // namespace qridy
