#pragma once

// Vector helpers shared by the face library's matchers.

#include <cmath>
#include <cstddef>

namespace kxegm {
namespace featuremath {

// Scales v to unit length, after removing its mean when centreA is set; a zero or non-finite
// vector becomes all zeros (and so scores 0 against anything).
inline void normalise(float* vA, std::size_t nA, bool centreA) {
  if (centreA && nA > 0) {
    double meanL = 0.0;
    for (std::size_t i = 0; i < nA; ++i) meanL += vA[i];
    meanL /= static_cast<double>(nA);
    for (std::size_t i = 0; i < nA; ++i) vA[i] = static_cast<float>(vA[i] - meanL);
  }
  double normL = 0.0;
  for (std::size_t i = 0; i < nA; ++i) normL += static_cast<double>(vA[i]) * vA[i];
  if (!(normL > 0.0) || !std::isfinite(normL)) {
    for (std::size_t i = 0; i < nA; ++i) vA[i] = 0.0f;
    return;
  }
  const double invL = 1.0 / std::sqrt(normL);
  for (std::size_t i = 0; i < nA; ++i) vA[i] = static_cast<float>(vA[i] * invL);
}

inline double dot(const float* aA, const float* bA, std::size_t nA) {
  double sumL = 0.0;
  for (std::size_t i = 0; i < nA; ++i) sumL += static_cast<double>(aA[i]) * bA[i];
  return sumL;
}

}  // namespace featuremath
}  // namespace kxegm
