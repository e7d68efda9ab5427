#pragma once

#include <cstddef>
#include <vector>

#include <qrlface/FaceExport.h>

namespace kxegm {

// Cohort normalisation of the LFA scores of one probe against a gallery: every score is set
// against the distribution of the probe's scores, so that scores of probes of different quality
// become comparable.
//
//   location/spread of the cohort, by measure type:
//     0  mean and standard deviation;
//     3  median and 1.4826 x the median absolute deviation (robust for low-resolution faces);
//     9  mean and standard deviation of the central 80 % (the lowest and highest 10 % trimmed);
//   the cohort starts as every finite score; each of the `iterations` rounds estimates the
//   location mu and the spread sigma and then drops from the cohort the scores above
//   mu + 3 sigma (the probe's likely mates, which are not part of the impostor distribution);
//   a score s becomes factorA * (s - mu) / sigma + factorB with the last round's estimate.
//
// Fewer than two cohort scores, or a spread of 0, give mu = 0 and sigma = 1. Non-finite scores
// stay as they are and take no part in the estimate. Arithmetic is in double in a fixed order
// (no contraction), so the result does not depend on the processor.
class QRLFACE_EXPORT LfaScoreNormalizer {
 public:
  // Throws kxxcp::Exception "Unknown LFA measure type <m>" for a type other than 0, 3 and 9.
  LfaScoreNormalizer(int measureTypeA, float factorA, float factorB, unsigned int iterationsA);

  // Normalises scoresA in place.
  void normalize(std::vector<float>& scoresA) const;
  // The location and spread the last normalize estimated.
  double location() const { return locationM; }
  double spread() const { return spreadM; }

 private:
  void estimate(std::vector<double>& cohortA, double& locationA, double& spreadA) const;

  int measureTypeM;
  double factorAM;
  double factorBM;
  unsigned int iterationsM;
  mutable double locationM = 0.0;
  mutable double spreadM = 1.0;
};

}  // namespace kxegm
