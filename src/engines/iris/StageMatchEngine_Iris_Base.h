#pragma once

#include <cstdint>

#include <quarlen/StageMatchEngine_Base.h>

#include "engines/iris/IrisMatcherLibrary.h"

namespace qridy {

// The middle layer of the iris engines: the probe lives in the iris-code matcher library (a
// handle to its rotation tables, loaded by setProbeForIdentification and freed by releaseProbe
// or destruction; no base probe buffer), the search mode (parameter 4, stored only) and the
// rotation half-range k (parameter 5, capped per engine).
class StageMatchEngine_Iris_Base : public StageMatchEngine_Base {
 public:
  ~StageMatchEngine_Iris_Base() override;

  // Loads the probe into the library. Throws "IrisMatchEngine::identifyStart failed to load
  // probe..." from the engine's setProbeForIdentification; no handle is kept then.
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  void releaseProbe() override;
  void setParameter(std::int32_t keyA, std::uint32_t valueA) override;
  // The search drops most rotations of an impostor on the first 16 gallery bytes: one line.
  unsigned int galleryBytesRead(unsigned int gallerySizeA) const override {
    return gallerySizeA < 64 ? gallerySizeA : 64;
  }

  std::uint32_t searchMode() const { return searchModeM; }
  std::uint32_t rotationHalfRange() const { return halfRangeM; }

 protected:
  // countA: the library count call the engine uses; maxHalfRangeA: the cap of k;
  // setProbeFunctionA: the function name of the load failure.
  StageMatchEngine_Iris_Base(QrlIrisCountWordFn countA, std::uint32_t maxHalfRangeA,
                             const char* setProbeFunctionA);

  virtual void setHalfRange(std::uint32_t valueA);

  // Adds the counts of gallery words firstA..lastA against the same words of a table row.
  void countWords(const unsigned char* galleryA, const std::uint64_t* rowA, int firstA, int lastA,
                  std::uint64_t& totalA, std::uint64_t& diffA) const {
    for (int j = firstA; j <= lastA; ++j) countM(galleryA + 8 * j, rowA + j, &totalA, &diffA);
  }

  QrlIrisProbeHandle* handleM = nullptr;
  std::uint32_t searchModeM = 8;
  std::uint32_t halfRangeM = 3;

 private:
  QrlIrisCountWordFn countM;
  std::uint32_t maxHalfRangeM;
  const char* setProbeFunctionM;
};

}  // namespace qridy
