#include <qrlfinger/MinutiaeMatcher.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace qrfpt {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct AngleTables {
  std::array<float, kAngleUnits> cosL, sinL;
  AngleTables() {
    for (int k = 0; k < kAngleUnits; ++k) {
      cosL[k] = static_cast<float>(std::cos(2.0 * kPi * k / kAngleUnits));
      sinL[k] = static_cast<float>(std::sin(2.0 * kPi * k / kAngleUnits));
    }
  }
};
const AngleTables& tables() {
  static const AngleTables tablesS;
  return tablesS;
}

static_assert(kAngleUnits == 256, "angles wrap as bytes");

// The signed difference of two angles in units, in [-128, 127].
int wrapAngle(int aA) {
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(aA & 0xFF));
}

// Translations lie within +-2^17 pixels (coordinates are 16-bit); the offset makes them
// positive so that truncation is the floor.
std::uint32_t translationCell(float tA) {
  static_assert(MinutiaeMatcher::kTranslationCell == 16, "cells are 2^4 pixels");
  return static_cast<std::uint32_t>(tA + 262144.0f) >> 4;
}
}  // namespace

const std::array<float, kAngleUnits>& cosTable() {
  return tables().cosL;
}
const std::array<float, kAngleUnits>& sinTable() {
  return tables().sinL;
}

float MatchResult::similarity() const {
  if (probeCount == 0 || galleryCount == 0) return 0.0f;
  return static_cast<float>(paired) * static_cast<float>(paired) /
         (static_cast<float>(probeCount) * static_cast<float>(galleryCount));
}

MinutiaeMatcher::MinutiaeMatcher() {
  (void)tables();
}

void MinutiaeMatcher::setProbe(const FingerprintTemplate& probeA) {
  probeM.clear();
  probeA.centre(centreXM, centreYM);
  for (const Minutia& m : probeA.minutiae) {
    probeM.push_back({m.x - centreXM, m.y - centreYM, m.angle, m.quality});
  }
  // Best quality first, stable; an insertion sort, because std::stable_sort allocates.
  for (std::size_t i = 1; i < probeM.size(); ++i) {
    const Point keyL = probeM[i];
    std::size_t j = i;
    for (; j > 0 && probeM[j - 1].quality < keyL.quality; --j) probeM[j] = probeM[j - 1];
    probeM[j] = keyL;
  }
  // The probe turned by the central rotation of every rotation cell.
  const auto& cosL = tables().cosL;
  const auto& sinL = tables().sinL;
  rotatedM.resize(2 * kBins * probeM.size());
  for (int b = 0; b < kBins; ++b) {
    const int rL = b * kRotationCell;
    float* outL = rotatedM.data() + 2 * b * probeM.size();
    for (const Point& p : probeM) {
      *outL++ = cosL[rL] * p.x - sinL[rL] * p.y;
      *outL++ = sinL[rL] * p.x + cosL[rL] * p.y;
    }
  }
  probeRadiusM = 0.0f;
  for (const Point& p : probeM) probeRadiusM = std::max(probeRadiusM, std::hypot(p.x, p.y));
  probeOrientationM = probeA.orientation;
  probeConfidenceM = probeA.orientationConfidence;
  hasProbeM = true;
}

void MinutiaeMatcher::prepareGallery(const FingerprintTemplate& galleryA) {
  // Gallery minutiae sorted by direction (a counting sort), with the first position of each
  // direction: the pairs of a probe minutia are then one or two runs of the sorted list.
  const std::size_t mL = galleryA.minutiae.size();
  std::fill(angleStartM.begin(), angleStartM.end(), 0);
  for (const Minutia& m : galleryA.minutiae) ++angleStartM[m.angle + 1];
  for (int a = 0; a < kAngleUnits; ++a) angleStartM[a + 1] += angleStartM[a];
  galleryM.resize(mL);
  std::array<std::uint16_t, kAngleUnits> nextL;
  std::copy(angleStartM.begin(), angleStartM.end() - 1, nextL.begin());
  float minXL = 65535.0f, minYL = 65535.0f, maxXL = 0.0f, maxYL = 0.0f;
  for (const Minutia& m : galleryA.minutiae) {
    galleryM[nextL[m.angle]++] = {static_cast<float>(m.x), static_cast<float>(m.y), m.angle,
                                  m.quality};
    minXL = std::min(minXL, static_cast<float>(m.x));
    minYL = std::min(minYL, static_cast<float>(m.y));
    maxXL = std::max(maxXL, static_cast<float>(m.x));
    maxYL = std::max(maxYL, static_cast<float>(m.y));
  }
  // A grid of kGridCell-pixel cells over the gallery's bounding box (at most kMaxGrid cells a
  // side; outlying minutiae crowd the border cells) lets pairing look at neighbours only.
  gridX0M = minXL;
  gridY0M = minYL;
  galleryMaxXM = maxXL;
  galleryMaxYM = maxYL;
  gridWM = std::min(kMaxGrid, static_cast<int>((maxXL - minXL) / kGridCell) + 1);
  gridHM = std::min(kMaxGrid, static_cast<int>((maxYL - minYL) / kGridCell) + 1);
  gridStartM.assign(static_cast<std::size_t>(gridWM * gridHM + 1), 0);
  gridItemsM.resize(mL);
  for (const Point& g : galleryM) ++gridStartM[gridCell(g.x, g.y) + 1];
  for (std::size_t c = 1; c < gridStartM.size(); ++c) gridStartM[c] += gridStartM[c - 1];
  gridNextM.assign(gridStartM.begin(), gridStartM.end() - 1);
  for (std::size_t j = 0; j < mL; ++j) {
    gridItemsM[gridNextM[gridCell(galleryM[j].x, galleryM[j].y)]++] = static_cast<std::uint16_t>(j);
  }
}

MatchResult MinutiaeMatcher::match(const FingerprintTemplate& galleryA,
                                   const MatchSettings& settingsA) {
  MatchResult resultL;
  resultL.probeCount = static_cast<int>(probeM.size());
  resultL.galleryCount = static_cast<int>(galleryA.minutiae.size());
  if (probeM.empty() || galleryA.minutiae.empty()) return resultL;
  prepareGallery(galleryA);

  // The searched rotations: centre (on a cell centre) and half-width in angle units.
  int centreL = 0;
  if (settingsA.useAngleEstimation && probeConfidenceM >= settingsA.confidenceThreshold &&
      galleryA.orientationConfidence >= settingsA.confidenceThreshold) {
    const int estimateL = wrapAngle(galleryA.orientation - probeOrientationM);
    centreL = static_cast<int>(std::lround(estimateL / static_cast<double>(kRotationCell))) *
              kRotationCell;
  }
  const bool fullTurnL = settingsA.rotationToleranceDegrees >= 180;
  const int halfWidthL =
      fullTurnL ? kAngleUnits / 2
                : (std::max(settingsA.rotationToleranceDegrees, 0) * kAngleUnits + 180) / 360;
  const float limit2L =
      static_cast<float>(settingsA.maxDisplacement) * static_cast<float>(settingsA.maxDisplacement);

  // Whether a direction difference lies in the searched range.
  const bool everyPairL = fullTurnL || 2 * halfWidthL + 1 >= kAngleUnits;
  auto inRange = [&](int differenceA) {
    return everyPairL || std::abs(wrapAngle(differenceA - centreL)) <= halfWidthL;
  };

  // The translation cells the votes can reach: the gallery's bounding box widened by the
  // probe's radius, at most kMaxVoteGrid cells a side (hostile coordinates crowd the border).
  const float reachL = probeRadiusM + 1.0f;
  const std::uint32_t x0L = translationCell(gridX0M - reachL);
  const std::uint32_t y0L = translationCell(gridY0M - reachL);
  const int voteWL = std::min<int>(
      kMaxVoteGrid, static_cast<int>(translationCell(galleryMaxXM + reachL) - x0L) + 1);
  const int voteHL = std::min<int>(
      kMaxVoteGrid, static_cast<int>(translationCell(galleryMaxYM + reachL) - y0L) + 1);
  if (votesM.size() < static_cast<std::size_t>(kMaxVoteGrid * kMaxVoteGrid)) {
    votesM.assign(static_cast<std::size_t>(kMaxVoteGrid * kMaxVoteGrid), 0);
  }
  auto voteCell = [&](float dxA, float dyA) {
    const int cxL =
        std::min(voteWL - 1, static_cast<int>(translationCell(dxA)) - static_cast<int>(x0L));
    const int cyL =
        std::min(voteHL - 1, static_cast<int>(translationCell(dyA)) - static_cast<int>(y0L));
    return std::max(cyL, 0) * voteWL + std::max(cxL, 0);
  };

  // The pairs of rotation cell b: the two rotation cells whose central rotations enclose a
  // pair's direction difference both get its vote (a minutia's direction is only good to a few
  // units, and at the rim of a finger a few units move a minutia by more than a cell), so the
  // differences (b - 1) kRotationCell + t, 0 <= t < 2 kRotationCell, of those in range.
  const std::size_t nL = probeM.size();
  const std::size_t mL = galleryM.size();
  auto forPairsOfCell = [&](int cellA, auto&& visitA) {
    const int firstL = (cellA - 1) * kRotationCell;
    int tL = 0;
    while (tL < 2 * kRotationCell) {
      if (!inRange(firstL + tL)) {
        ++tL;
        continue;
      }
      int endL = tL + 1;
      while (endL < 2 * kRotationCell && inRange(firstL + endL)) ++endL;
      for (std::size_t i = 0; i < nL; ++i) {
        const int lowL = (probeM[i].angle + firstL + tL) & (kAngleUnits - 1);
        const int highL = (probeM[i].angle + firstL + endL) & (kAngleUnits - 1);
        const std::size_t fromL = angleStartM[lowL], toL = angleStartM[highL];
        if (lowL < highL) {
          for (std::size_t j = fromL; j < toL; ++j) visitA(i, j);
        } else {  // the run wraps through direction 0
          for (std::size_t j = fromL; j < mL; ++j) visitA(i, j);
          for (std::size_t j = 0; j < toL; ++j) visitA(i, j);
        }
      }
      tL = endL;
    }
  };

  // Votes of each rotation cell in turn, counted in a grid of translation cells; the fullest
  // kCandidates cells of all (the first to reach a count wins a tie) are kept.
  struct Top {
    int count = 0, cell = 0, index = 0;
  };
  Top topL[kCandidates];
  int topCountL = 0;
  auto countVote = [&](int cellA, int indexA) {
    const int countL = ++votesM[static_cast<std::size_t>(indexA)];
    if (countL == 1) touchedM.push_back(static_cast<std::uint32_t>(indexA));
    int posL = 0;
    while (posL < topCountL && !(topL[posL].cell == cellA && topL[posL].index == indexA)) ++posL;
    if (posL == topCountL) {
      if (topCountL < kCandidates) {
        ++topCountL;
      } else if (countL <= topL[kCandidates - 1].count) {
        return;
      } else {
        posL = kCandidates - 1;
      }
    }
    topL[posL] = Top{countL, cellA, indexA};
    for (; posL > 0 && topL[posL - 1].count < countL; --posL) std::swap(topL[posL], topL[posL - 1]);
  };
  const bool limitedL = settingsA.maxDisplacement > 0;
  auto displacementOk = [&](float dxA, float dyA) {
    if (!limitedL) return true;
    const float mxL = dxA - centreXM, myL = dyA - centreYM;
    return mxL * mxL + myL * myL <= limit2L;
  };
  for (int b = 0; b < kBins; ++b) {
    if (!fullTurnL &&
        std::abs(wrapAngle(b * kRotationCell - centreL)) > halfWidthL + kRotationCell) {
      continue;
    }
    const float* rotatedL = rotatedM.data() + 2 * static_cast<std::size_t>(b) * nL;
    touchedM.clear();
    forPairsOfCell(b, [&](std::size_t i, std::size_t j) {
      const float dxL = galleryM[j].x - rotatedL[2 * i];
      const float dyL = galleryM[j].y - rotatedL[2 * i + 1];
      if (displacementOk(dxL, dyL)) countVote(b, voteCell(dxL, dyL));
    });
    for (std::uint32_t indexL : touchedM) votesM[indexL] = 0;
  }
  if (topCountL == 0) return resultL;

  const auto& cosL = tables().cosL;
  const auto& sinL = tables().sinL;
  Motion bestMotionL{};
  int bestLooseL = -1;
  for (int c = 0; c < topCountL; ++c) {
    // The cell's motion: its rotation and the mean translation of its votes.
    const int cellL = topL[c].cell;
    const float* rotatedL = rotatedM.data() + 2 * static_cast<std::size_t>(cellL) * nL;
    float sumXL = 0.0f, sumYL = 0.0f;
    forPairsOfCell(cellL, [&](std::size_t i, std::size_t j) {
      const float dxL = galleryM[j].x - rotatedL[2 * i];
      const float dyL = galleryM[j].y - rotatedL[2 * i + 1];
      if (displacementOk(dxL, dyL) && voteCell(dxL, dyL) == topL[c].index) {
        sumXL += dxL;
        sumYL += dyL;
      }
    });
    const float votesL = static_cast<float>(topL[c].count);
    Motion motionL;
    motionL.rotation = (cellL * kRotationCell) & (kAngleUnits - 1);
    motionL.cosR = cosL[motionL.rotation];
    motionL.sinR = sinL[motionL.rotation];
    motionL.dx = sumXL / votesL;
    motionL.dy = sumYL / votesL;
    const int looseL = pair(motionL, kLooseDistance, kLooseAngle, &candidatePairsM);
    if (looseL > bestLooseL) {
      bestLooseL = looseL;
      bestMotionL = motionL;
      pairsM.swap(candidatePairsM);
    }
  }
  const Motion refinedL = fit(pairsM, bestMotionL);
  resultL.paired = pair(refinedL, kPairDistance, kPairAngle, nullptr);
  resultL.rotation = refinedL.rotation;
  // The motion of the probe's centre.
  resultL.dx = refinedL.dx - centreXM;
  resultL.dy = refinedL.dy - centreYM;
  return resultL;
}

int MinutiaeMatcher::pair(const Motion& motionA, int distanceA, int angleA,
                          std::vector<std::pair<int, int>>* pairsA) {
  usedM.assign(galleryM.size(), 0);
  if (pairsA != nullptr) pairsA->clear();
  const float reachL = static_cast<float>(distanceA);
  const float limitL = reachL * reachL;
  int pairedL = 0;
  for (std::size_t i = 0; i < probeM.size(); ++i) {
    const Point& p = probeM[i];
    const float xL = motionA.cosR * p.x - motionA.sinR * p.y + motionA.dx;
    const float yL = motionA.sinR * p.x + motionA.cosR * p.y + motionA.dy;
    const int angleL = p.angle + motionA.rotation;
    const int c0L = gridColumn(xL - reachL), c1L = gridColumn(xL + reachL);
    const int r0L = gridRow(yL - reachL), r1L = gridRow(yL + reachL);
    std::size_t bestL = galleryM.size();
    float bestDistanceL = limitL;
    for (int r = r0L; r <= r1L; ++r) {
      for (int c = c0L; c <= c1L; ++c) {
        const int cellL = r * gridWM + c;
        for (std::uint32_t k = gridStartM[cellL]; k < gridStartM[cellL + 1]; ++k) {
          const std::uint16_t j = gridItemsM[k];
          if (usedM[j]) continue;
          const float exL = galleryM[j].x - xL, eyL = galleryM[j].y - yL;
          const float d2L = exL * exL + eyL * eyL;
          if (d2L > bestDistanceL) continue;
          if (std::abs(wrapAngle(galleryM[j].angle - angleL)) > angleA) continue;
          // Ties go to the lower index, whatever the cell order.
          if (d2L == bestDistanceL && j > bestL) continue;
          bestDistanceL = d2L;
          bestL = j;
        }
      }
    }
    if (bestL == galleryM.size()) continue;
    usedM[bestL] = 1;
    ++pairedL;
    if (pairsA != nullptr) pairsA->emplace_back(static_cast<int>(i), static_cast<int>(bestL));
  }
  return pairedL;
}

MinutiaeMatcher::Motion MinutiaeMatcher::fit(const std::vector<std::pair<int, int>>& pairsA,
                                             const Motion& startA) const {
  const std::vector<Point>& galleryA = galleryM;
  if (pairsA.size() < 2) return startA;
  double pxL = 0, pyL = 0, gxL = 0, gyL = 0;
  for (const auto& pr : pairsA) {
    pxL += probeM[pr.first].x;
    pyL += probeM[pr.first].y;
    gxL += galleryA[pr.second].x;
    gyL += galleryA[pr.second].y;
  }
  const double nL = static_cast<double>(pairsA.size());
  pxL /= nL, pyL /= nL, gxL /= nL, gyL /= nL;
  double dotL = 0, crossL = 0;
  for (const auto& pr : pairsA) {
    const double axL = probeM[pr.first].x - pxL, ayL = probeM[pr.first].y - pyL;
    const double bxL = galleryA[pr.second].x - gxL, byL = galleryA[pr.second].y - gyL;
    dotL += axL * bxL + ayL * byL;
    crossL += axL * byL - ayL * bxL;
  }
  if (dotL == 0.0 && crossL == 0.0) return startA;
  const double thetaL = std::atan2(crossL, dotL);
  Motion motionL;
  motionL.cosR = static_cast<float>(std::cos(thetaL));
  motionL.sinR = static_cast<float>(std::sin(thetaL));
  motionL.rotation =
      static_cast<int>(std::lround(thetaL * kAngleUnits / (2.0 * kPi)) + kAngleUnits) % kAngleUnits;
  motionL.dx = static_cast<float>(gxL - (motionL.cosR * pxL - motionL.sinR * pyL));
  motionL.dy = static_cast<float>(gyL - (motionL.sinR * pxL + motionL.cosR * pyL));
  return motionL;
}

}  // namespace qrfpt
