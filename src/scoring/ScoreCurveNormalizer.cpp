// The mapping handle of the score-curve library.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "scoring/ScoreCurveLibrary.h"

namespace qrscore {

ScoreNormalizer::ScoreNormalizer(Kind kindA, bool clampAtZeroA)
    : kindM(kindA), clampAtZeroM(clampAtZeroA) {
  switch (kindA) {
    case KindSpline:
      forwardM = std::make_unique<CurveMCSpline>();
      inverseM = std::make_unique<CurveMCSpline>();
      break;
    case KindLogErfc:
      forwardM = std::make_unique<CurveLogErfc>();
      break;
    default:
      kindM = KindIdentity;
      forwardM = std::make_unique<CurveIdentity>();
      break;
  }
}

int ScoreNormalizer::readSpline(std::istream& inA) {
  if (kindM != KindSpline) return ScoreCurveCannotRead;
  auto forwardL = std::make_unique<CurveMCSpline>();
  if (!forwardL->read(inA, true)) return ScoreCurveCannotRead;

  // The inverse swaps the roles of x and y at every knot with a slope; knots of slope 0 (the
  // flat start of a curve) have no inverse and are left out. A flat start is remembered as a
  // floor instead: no mapped score inverts to a raw score below the end of the flat part.
  const auto& knotsL = forwardL->knots();
  std::vector<CurveMCSpline::Knot> inverseKnotsL;
  for (const auto& k : knotsL) {
    const double slopeL = 1.0 / k.d;
    if (k.d != 0.0 && std::isfinite(slopeL)) inverseKnotsL.push_back({k.y, k.x, slopeL});
  }
  bool floorL = false;
  double floorValueL = 0.0;
  if (!knotsL.empty() && knotsL.front().d == 0.0) {
    floorL = true;
    for (const auto& k : knotsL) {
      if (k.y == knotsL.front().y) floorValueL = k.x;
    }
  }
  // The inverse only serves denormalize and never makes a mapping unreadable: it is taken as it
  // stands, ascending in y or not. A curve without any slope has an empty inverse (which
  // answers 0, so denormalize answers the floor).
  auto inverseL = std::make_unique<CurveMCSpline>();
  inverseL->setKnotsAsGiven(std::move(inverseKnotsL));

  forwardM = std::move(forwardL);
  inverseM = std::move(inverseL);
  floorM = floorL;
  floorValueM = floorValueL;
  return ScoreCurveOk;
}

double ScoreNormalizer::normalize(double scoreA) const {
  double v = forwardM->value(scoreA) * scaleM;
  if (clampAtZeroM && v < 0.0) v = 0.0;
  return v;
}

double ScoreNormalizer::denormalize(double scoreA) const {
  double u = scoreA / scaleM;
  if (clampAtZeroM && u < 0.0) u = 0.0;
  double x = u;
  if (kindM == KindSpline) {
    x = inverseM->value(u);
  } else if (kindM == KindLogErfc) {
    throw std::logic_error("a log-erfc mapping has no inverse");
  }
  if (floorM) x = std::max(floorValueM, x);
  return x;
}

void ScoreNormalizer::setScale(float scaleA) {
  scaleM = (scaleA < 0.5f || scaleA > 1.5f) ? 1.0f : scaleA;
}

}  // namespace qrscore
