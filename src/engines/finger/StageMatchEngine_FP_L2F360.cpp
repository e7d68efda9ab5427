#include "engines/finger/StageMatchEngine_FP_L2F360.h"

namespace qridy {

StageMatchEngine_FP_L2F360::StageMatchEngine_FP_L2F360()
    : StageMatchEngine_FP_L2F("L2F360_logFarScoreMappingFile", 6) {}

float StageMatchEngine_FP_L2F360::finalScore(float mappedA) const {
  return mappedA > 3.0f ? (mappedA - 2.92f) * 0.4f : mappedA / 100.0f;
}

}  // namespace qridy
