#pragma once

#include <cstddef>

#include "engines/SectionWeighting.h"
#include "engines/face/StageMatchEngine_Face_Vector.h"

namespace qridy {

// "hgmFloat": templates of 32-bit floats, optionally behind a projection-matrix header.
//
// Header (when hgmFloat_useProMatNorm): float 0 = P, the number of projection matrices (at most
// 100); float 1 = the index of the matrix this template was made with; floats 2..P+1 one mean
// and floats P+2..2P+1 one second moment per matrix; the features follow at float 2P+2.
//
// Score (calculateSim over the probe buffer's floats, as far as the gallery reaches):
//   d = the dot product of the features, or with node weights Σ_s T_s / W with
//       T_s = (Σ_b w_b dot(block b)) / NW[s] / sectionBlocksSquaredL2norms[s] * sectionWeights[s];
//   score = 0.5 d + 0.5;
//   with the header: mean = 0.5 (gallery mean[i_probe] + probe mean[i_gallery]), second moment
//   likewise, score = (score - mean) / sqrt(second - mean^2) * proMatNormStdDev + proMatNormMu.
// Dot products use the fixed-order float kernel, so scores do not depend on the processor.
//
// The section weighting ("hgmFloat_useNodeWeights" and the lists of SectionWeighting) is read
// once per process, at the first construction; "hgmFloat_useProMatNorm",
// "hgmFloat_proMatNormStdDev" and "hgmFloat_proMatNormMu" at every construction.
class StageMatchEngine_Face_HgmFloat : public StageMatchEngine_Face_Vector {
 public:
  // Throws the weighting's error text when the node-weight lists are inconsistent.
  StageMatchEngine_Face_HgmFloat();
  // With the given weighting instead of the process-wide one.
  explicit StageMatchEngine_Face_HgmFloat(const engines::SectionWeighting& weightingA);

  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  // The score of countA probe floats against gallery floats. Throws kxxcp::Exception (function
  // "qridy::StageMatchEngine_Face_HgmFloat::calculateSim"):
  // "Unexpected number of projection matrices inconsistent probe != gallery : <Pp>/<Pg>",
  // "Number of projection matrices (>100) : <P>" (also for a negative P),
  // "Template too small for its projection matrix header : <P>",
  // "Projection matrix index out of range : <i>",
  // "Template smaller than the configured feature sections : <count>".
  float calculateSim(const float* probeA, const float* galleryA, std::size_t countA) const;

  // The current probe (a whitened float vector without header) against a gallery template:
  // 0.5 * dot + 0.5 over the gallery's features, without projection-matrix normalisation.
  float identifyFloatProbeWoPMN(const unsigned char* galleryDataA, unsigned int gallerySizeA) const;

  // The process-wide weighting (read on first use).
  static const engines::SectionWeighting& processWeighting();

  bool useProMatNorm() const { return useProMatNormM; }
  const engines::SectionWeighting& weighting() const { return weightingM; }

 private:
  engines::SectionWeighting weightingM;
  bool useProMatNormM = false;
  float proMatNormStdDevM = 0.0f;
  float proMatNormMuM = 0.0f;
};

}  // namespace qridy
