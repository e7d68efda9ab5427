#include "engines/iris/StageMatchEngine_Iris_Base.h"

#include <algorithm>

namespace qridy {

StageMatchEngine_Iris_Base::StageMatchEngine_Iris_Base(QrlIrisCountWordFn countA,
                                                       std::uint32_t maxHalfRangeA,
                                                       const char* setProbeFunctionA)
    : countM(countA), maxHalfRangeM(maxHalfRangeA), setProbeFunctionM(setProbeFunctionA) {}

StageMatchEngine_Iris_Base::~StageMatchEngine_Iris_Base() {
  engines::freeIrisProbe(handleM);
}

void StageMatchEngine_Iris_Base::setProbeForIdentification(const unsigned char* dataA,
                                                           unsigned int sizeA) {
  engines::freeIrisProbe(handleM);
  handleM = engines::loadIrisProbe(dataA, sizeA, setProbeFunctionM);
}

void StageMatchEngine_Iris_Base::releaseProbe() {
  engines::freeIrisProbe(handleM);
  StageMatchEngine_Base::releaseProbe();
}

void StageMatchEngine_Iris_Base::setParameter(std::int32_t keyA, std::uint32_t valueA) {
  StageMatchEngine_Base::setParameter(keyA, valueA);
  if (keyA == 4) searchModeM = valueA;
  if (keyA == 5) setHalfRange(valueA);
}

void StageMatchEngine_Iris_Base::setHalfRange(std::uint32_t valueA) {
  halfRangeM = std::min(valueA, maxHalfRangeM);
}

}  // namespace qridy
