#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/IrisMatcherLibrary.h"

namespace qridy {

// "mvxIris2PiSdk": iris codes in the matcher form of the iris library, of which this engine
// reads words 0..23 (192 gallery bytes). The probe is loaded into the library's first rotation
// table; the search runs over rows 10 - k .. 10 + k (k = 3 unless parameter 5 sets it, at most
// 10) with early rejections after words 0, 1, 3, 7 and 11, and scores each surviving row by its
// Hamming distance h = D / T over words 0..23, pulled towards 0.5 when fewer than 450 bits were
// compared: w = clamp((450 - T) * 2 / 450, 0, 1), h = (0.5 - sqrt(T / 450) (0.5 - h)) w + (1 - w)
// h. Score: 1 - the smallest h (0.0 when no row survives). Counts go through library call 21.
class StageMatchEngine_Iris_Daugman : public StageMatchEngine_Base {
 public:
  StageMatchEngine_Iris_Daugman();
  ~StageMatchEngine_Iris_Daugman() override;

  // Throws "IrisMatchEngine::identifyStart failed to load probe..." (function
  // "qridy::StageMatchEngine_Iris_Daugman::setProbeForIdentification").
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  void releaseProbe() override;
  // Key 4: the search mode (stored); key 5: k = min(value, 10).
  void setParameter(std::int32_t keyA, std::uint32_t valueA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  std::uint32_t searchMode() const { return searchModeM; }
  std::uint32_t rotationHalfRange() const { return halfRangeM; }

  // The distance of one row with T compared bits and raw distance hA, after the normalisation.
  static float normalisedDistance(std::uint64_t totalA, float hA);

 private:
  QrlIrisProbeHandle* handleM = nullptr;
  std::uint32_t searchModeM = 8;
  std::uint32_t halfRangeM = 3;
  QrlIrisCountWordFn countM;
};

}  // namespace qridy
