#include "engines/iris/StageMatchEngine_Iris_Daugman.h"

#include <algorithm>
#include <cmath>

#include <quarlen/CpuFeatures.h>

namespace qridy {

StageMatchEngine_Iris_Daugman::StageMatchEngine_Iris_Daugman()
    : StageMatchEngine_Iris_Base(
          engines::IrisMatcherLibrary::get().countWord, 10,
          "qridy::StageMatchEngine_Iris_Daugman::setProbeForIdentification") {
  // The processor test of the POPCNT engine is made here too; the library's count call works
  // either way, so the answer changes nothing.
  (void)CpuFeatures::hasPopcnt();
}

float StageMatchEngine_Iris_Daugman::normalisedDistance(std::uint64_t totalA, float hA) {
  if (totalA >= 450) return hA;
  const float tL = static_cast<float>(totalA);
  const float wL = std::clamp((450.0f - tL) * 2.0f / 450.0f, 0.0f, 1.0f);
  return (0.5f - std::sqrt(tL / 450.0f) * (0.5f - hA)) * wL + (1.0f - wL) * hA;
}

float StageMatchEngine_Iris_Daugman::matchGallery(const unsigned char* galleryDataA,
                                                  unsigned int gallerySizeA) {
  if (handleM == nullptr || gallerySizeA < kGalleryBytes) return 0.0f;
  const int firstL = kQrlIrisCenterRow - static_cast<int>(halfRangeM);
  const int lastL = kQrlIrisCenterRow + static_cast<int>(halfRangeM);
  float bestL = 1.0f;
  for (int r = firstL; r <= lastL; ++r) {
    const auto* rowL = reinterpret_cast<const std::uint64_t*>(handleM->rows + r * kQrlIrisRowBytes);
    std::uint64_t totalL = 0, diffL = 0;
    // Words [from, to] are counted, then the row must stay below num / den to go on.
    struct Step {
      int from, to;
      std::uint64_t num, den;
    };
    static constexpr Step kSteps[] = {
        {0, 0, 115, 256}, {1, 1, 115, 256}, {2, 3, 2, 5}, {4, 7, 2, 5}, {8, 11, 2, 5}};
    bool survivesL = true;
    for (const Step& s : kSteps) {
      countWords(galleryDataA, rowL, s.from, s.to, totalL, diffL);
      if (!(diffL * s.den < totalL * s.num)) {
        survivesL = false;
        break;
      }
    }
    if (!survivesL) continue;
    countWords(galleryDataA, rowL, 12, 23, totalL, diffL);
    const float hL = static_cast<float>(diffL) / static_cast<float>(totalL);
    bestL = std::min(bestL, normalisedDistance(totalL, hL));
  }
  return 1.0f - bestL;
}

}  // namespace qridy
