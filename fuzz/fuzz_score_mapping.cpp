// Hostile score-mapping files: every input is either refused with a code or gives a curve
// whose answers are finite or refused; any crash, hang or sanitizer report is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include <qrlcore/Exception.h>

#include "scoring/ScoreCurveLibrary.h"

namespace {

void checkMapping(const qrscore::ScoreNormalizer& handleA) {
  const float probesL[] = {-1e7f, -3.5f, -0.9f, 0.0f, 0.25f, 1.0f, 17.0f, 1e7f, 3e38f};
  for (float p : probesL) {
    float outL = 0.0f;
    const int codeL = qrscore::normalizeScore(&handleA, p, &outL);
    if (codeL == qrscore::ScoreCurveOk && (!std::isfinite(outL) || outL < 0.0f)) std::abort();
    if (codeL != qrscore::ScoreCurveOk && codeL != qrscore::ScoreCurveInvalidValue) std::abort();
    if (p < 0.0f) continue;
    const int inverseCodeL = qrscore::denormalizeScore(&handleA, p, &outL);
    if (inverseCodeL == qrscore::ScoreCurveOk && !std::isfinite(outL)) std::abort();
    if (inverseCodeL == qrscore::ScoreCurveOk && handleA.hasFloor() &&
        outL < static_cast<float>(handleA.floorValue())) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dataA, std::size_t sizeA) {
  const std::string textL(reinterpret_cast<const char*>(dataA), sizeA);
  try {
    qrscore::ScoreNormalizer handleL(qrscore::ScoreNormalizer::KindSpline, true);
    std::istringstream inL(textL);
    const int codeL = handleL.readSpline(inL);
    if (codeL == qrscore::ScoreCurveOk) {
      checkMapping(handleL);
    } else if (codeL != qrscore::ScoreCurveCannotRead) {
      std::abort();
    }
    // The line form of the same bytes.
    qrscore::CurveMCSpline splineL;
    std::istringstream linesL(textL);
    if (splineL.read(linesL, false)) {
      for (double x : {-1e6, 0.0, 0.5, 1e6}) (void)splineL.value(x);
    }
  } catch (const kxxcp::Exception&) {
  }
  return 0;
}
