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
// Rotation cell in bits 26..31, translation cells in 13 bits each: real templates stay far
// inside 2^13 cells; hostile coordinates alias, which only costs them a score.
std::uint32_t cellKey(int rotationCellA, float dxA, float dyA) {
  return (static_cast<std::uint32_t>(rotationCellA) << 26) |
         ((translationCell(dxA) & 0x1FFFu) << 13) | (translationCell(dyA) & 0x1FFFu);
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

  // The pairs whose directions allow a rotation in range.
  candidatesM.clear();
  const std::size_t mL = galleryM.size();
  for (std::size_t i = 0; i < probeM.size(); ++i) {
    auto addRun = [&](std::size_t fromA, std::size_t toA) {
      for (std::size_t j = fromA; j < toA; ++j) {
        candidatesM.push_back({static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(j)});
      }
    };
    if (fullTurnL || 2 * halfWidthL + 1 >= kAngleUnits) {
      addRun(0, mL);
      continue;
    }
    const int lowL = (probeM[i].angle + centreL - halfWidthL) & (kAngleUnits - 1);
    const int highL = (probeM[i].angle + centreL + halfWidthL + 1) & (kAngleUnits - 1);
    const std::size_t fromL = angleStartM[lowL], toL = angleStartM[highL];
    if (lowL < highL) {
      addRun(fromL, toL);
    } else {  // the range wraps through direction 0
      addRun(fromL, mL);
      addRun(0, toL);
    }
  }
  if (candidatesM.empty()) return resultL;

  // Open-addressed vote table for up to two votes per pair, at most half full; cleared by
  // stamping.
  std::size_t capacityL = 64;
  while (capacityL < 4 * candidatesM.size()) capacityL *= 2;
  if (cellsM.size() < capacityL) cellsM.assign(capacityL, Cell{});
  capacityL = cellsM.size();
  if (++stampM == 0) {
    for (Cell& c : cellsM) c.stamp = 0;
    stampM = 1;
  }
  touchedM.clear();
  const std::size_t nL = probeM.size();
  // A minutia's direction is only good to a few units, and at the rim of a finger a few units
  // move a minutia by more than a cell: every pair therefore votes for the two rotation cells
  // whose central rotations enclose its direction difference, each with the translation of
  // that central rotation.
  auto vote = [&](auto displacementCheckA) {
    for (const Candidate& c : candidatesM) {
      const Point& p = probeM[c.probe];
      const Point& g = galleryM[c.gallery];
      const int lowL = ((g.angle - p.angle) & (kAngleUnits - 1)) / kRotationCell;
      for (int b = lowL; b <= lowL + 1; ++b) {
        const int cellL = b & (kBins - 1);
        if (!fullTurnL &&
            std::abs(wrapAngle(cellL * kRotationCell - centreL)) > halfWidthL + kRotationCell) {
          continue;
        }
        const float* rotatedL = rotatedM.data() + 2 * (cellL * nL + c.probe);
        const float dxL = g.x - rotatedL[0];
        const float dyL = g.y - rotatedL[1];
        if (!displacementCheckA(dxL, dyL)) continue;
        const std::uint32_t keyL = cellKey(cellL, dxL, dyL);
        std::size_t slotL = ((keyL * 0x9E3779B1u) >> 12) & (capacityL - 1);
        while (cellsM[slotL].stamp == stampM && cellsM[slotL].key != keyL) {
          slotL = (slotL + 1) & (capacityL - 1);
        }
        Cell& cellRefL = cellsM[slotL];
        if (cellRefL.stamp != stampM) {
          cellRefL = Cell{keyL, stampM, 0, 0.0f, 0.0f};
          touchedM.push_back(static_cast<std::uint32_t>(slotL));
        }
        cellRefL.sumX += dxL;
        cellRefL.sumY += dyL;
        ++cellRefL.count;
      }
    }
  };
  if (settingsA.maxDisplacement > 0) {
    vote([&](float dxA, float dyA) {
      const float mxL = dxA - centreXM, myL = dyA - centreYM;
      return mxL * mxL + myL * myL <= limit2L;
    });
  } else {
    vote([](float, float) { return true; });
  }
  if (touchedM.empty()) return resultL;

  // The fullest cells are candidates; the one whose motion pairs most minutiae loosely wins.
  std::uint32_t topL[kCandidates];
  int topCountL = 0;
  for (std::uint32_t slotL : touchedM) {
    int posL = topCountL < kCandidates ? topCountL++ : kCandidates;
    if (posL == kCandidates) {
      if (cellsM[slotL].count <= cellsM[topL[kCandidates - 1]].count) continue;
      posL = kCandidates - 1;
    }
    while (posL > 0 && cellsM[topL[posL - 1]].count < cellsM[slotL].count) {
      topL[posL] = topL[posL - 1];
      --posL;
    }
    topL[posL] = slotL;
  }
  const auto& cosL = tables().cosL;
  const auto& sinL = tables().sinL;
  Motion bestMotionL{};
  int bestLooseL = -1;
  for (int c = 0; c < topCountL; ++c) {
    const Cell& cellL = cellsM[topL[c]];
    const float votesL = static_cast<float>(cellL.count);
    Motion motionL;
    motionL.rotation = (static_cast<int>(cellL.key >> 26) * kRotationCell) & (kAngleUnits - 1);
    motionL.cosR = cosL[motionL.rotation];
    motionL.sinR = sinL[motionL.rotation];
    motionL.dx = cellL.sumX / votesL;
    motionL.dy = cellL.sumY / votesL;
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
