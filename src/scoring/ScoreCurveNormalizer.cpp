// The mapping handle of the score-curve library.
#include <algorithm>
#include <stdexcept>

#include "scoring/ScoreCurveLibrary.h"

namespace qrscore {

ScoreNormalizer::ScoreNormalizer(Kind kindA, bool clampAtZeroA)
    : kindM(kindA), clampAtZeroM(clampAtZeroA) {
  switch (kindA) {
    case KindSpline:
      forwardM = std::make_unique<CurveMCSpline>();
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
    if (k.d != 0.0) inverseKnotsL.push_back({k.y, k.x, 1.0 / k.d});
  }
  bool floorL = false;
  double floorValueL = 0.0;
  if (knotsL.front().d == 0.0) {
    floorL = true;
    for (const auto& k : knotsL) {
      if (k.y == knotsL.front().y) floorValueL = k.x;
    }
  }
  // The inverse only serves denormalize; a well-formed forward curve is accepted whatever its
  // inverse looks like. A curve without any slope has an empty inverse (which answers 0, so
  // denormalize answers the floor). A curve whose knots with a slope are not strictly
  // ascending in y has no usable inverse: denormalize then fails (code 1) rather than answer
  // with a silently wrong value.
  std::unique_ptr<CurveMCSpline> inverseL = std::make_unique<CurveMCSpline>();
  if (!inverseKnotsL.empty() && !inverseL->setKnots(std::move(inverseKnotsL))) inverseL.reset();

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
  double x = 0.0;
  if (kindM == KindIdentity) {
    x = u;
  } else if (inverseM) {
    x = inverseM->value(u);
  } else {
    throw std::logic_error("curve has no usable inverse");
  }
  if (floorM) x = std::max(floorValueM, x);
  return x;
}

void ScoreNormalizer::setScale(float scaleA) {
  scaleM = (scaleA < 0.5f || scaleA > 1.5f) ? 1.0f : scaleA;
}

}  // namespace qrscore
