#pragma once

#include <quarlen/QuarlenExport.h>

namespace qridy {

// The mapped score of one algorithm's block within a template result, and whether it came from
// a gallery-normalised stage. A plain value; zero and false after construction.
class QUARLEN_EXPORT ResultTemplateBlock {
 public:
  void setScore(float scoreA, bool normalizedA) {
    scoreM = scoreA;
    normalizedM = normalizedA;
  }
  float getScore() const { return scoreM; }
  bool isNormalaizedScore() const { return normalizedM; }

 private:
  float scoreM = 0.0f;
  bool normalizedM = false;
};

}  // namespace qridy
