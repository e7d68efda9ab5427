#pragma once

#include "engines/finger/StageMatchEngine_FP_L2F.h"

namespace qridy {

// "l2f360": "l2f" with the matcher's 360-degree flavour (parameter 2 = 6) and the curve of
// "L2F360_logFarScoreMappingFile". The mapped value m becomes (m - 2.92) * 0.4 above 3.0 and
// m / 100 otherwise.
class StageMatchEngine_FP_L2F360 : public StageMatchEngine_FP_L2F {
 public:
  StageMatchEngine_FP_L2F360();

 protected:
  float finalScore(float mappedA) const override;
  const char* mappingErrorText() const override { return "l2f360 score mapping error: "; }
};

}  // namespace qridy
