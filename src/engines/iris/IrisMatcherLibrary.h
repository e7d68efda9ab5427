#pragma once

#include <qrliris/IrisCodeMatcher.h>

namespace qridy {
namespace engines {

// The iris-code matcher library's calls, imported by ordinal once per process.
struct IrisMatcherLibrary {
  QrlIrisLoadProbeFn loadProbe;      // 16
  QrlIrisFreeProbeFn freeProbe;      // 11
  QrlIrisCountWordFn countWord;      // 21
  QrlIrisCountWordFn countWord2010;  // 22
  QrlIrisScreenFn screenRotations;   // 23

  // Throws kxxcp::Exception "Iris-code matcher library lacks ordinal <n>." when one is missing.
  static const IrisMatcherLibrary& get();
};

// A probe loaded into the library: a new handle with both rotation tables. Throws
// kxxcp::Exception "IrisMatchEngine::identifyStart failed to load probe..." from functionA when
// the library refuses the probe (no handle is kept then).
QrlIrisProbeHandle* loadIrisProbe(const unsigned char* dataA, unsigned int sizeA,
                                  const char* functionA);
// Frees the tables and the handle, and nulls it; a null handle is accepted.
void freeIrisProbe(QrlIrisProbeHandle*& handleA);

// better(D, T, D*, T*): (D + 1) * T* < (D* + 1) * T, a lower Hamming distance with a +1 guard,
// so that any nonzero total beats an empty best (T* = 0).
inline bool betterCounts(std::uint64_t diffA, std::uint64_t totalA, std::uint64_t bestDiffA,
                         std::uint64_t bestTotalA) {
  return (diffA + 1) * bestTotalA < (bestDiffA + 1) * totalA;
}

}  // namespace engines
}  // namespace qridy
