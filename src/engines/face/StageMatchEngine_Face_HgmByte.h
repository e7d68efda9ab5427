#pragma once

#include <cstddef>

#include "engines/SectionWeighting.h"
#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "hgmByte": templates of signed bytes, features quantised with the face library's byte scale s
// (kxegm::ByteMinimalGraph::scale()).
//
// Score (calculateSim over the probe buffer, as far as the gallery reaches):
//   without node weights: 0.5 * (Σ p g) / s^2 + 0.5;
//   with node weights, per section s of blocks of L bytes with node weights w_b:
//     A = Σ_b w_b Σ p g, B = Σ_b w_b (Σ p + Σ g),
//     T_s = (A / s^2 + L NW[s] - B / s) / NW[s] / sectionBlocksSquaredL2norms[s] *
//     sectionWeights[s],
//   score = 0.5 * Σ_s T_s / W + 0.5 (the weighted dot product of p/s - 1 and g/s - 1).
//
// Process-wide settings, read once at the first construction: the section weighting under
// "hgmByte_", "hgmByte_useProMatNorm", "hgmByte_proMatNormStdDev", "hgmByte_proMatNormMu" (read,
// not used by the byte score) and the scale s.
class StageMatchEngine_Face_HgmByte : public StageMatchEngine_Face_Vector {
 public:
  struct Settings {
    engines::SectionWeighting weighting;
    bool useProMatNorm = false;
    float proMatNormStdDev = 0.0f;
    float proMatNormMu = 0.0f;
    float scale = 1.0f;
  };

  StageMatchEngine_Face_HgmByte();
  explicit StageMatchEngine_Face_HgmByte(const Settings& settingsA);

  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  // Throws "Template smaller than the configured feature sections : <bytes>" (function
  // "qridy::StageMatchEngine_Face_HgmByte::calculateSim") when the sections do not fit.
  float calculateSim(const unsigned char* probeA, const unsigned char* galleryA,
                     std::size_t bytesA) const;

  static const Settings& processSettings();
  const Settings& settings() const { return settingsM; }

 private:
  Settings settingsM;
};

}  // namespace qridy
