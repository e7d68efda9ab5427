#include <qrlfinger/MinutiaeMatcher.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>

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

// The nearest integer (halves to even) of a value within +-2^22, without a library call or a
// branch: adding 1.5 2^23 leaves no fraction bits in the float.
std::int32_t roundToInt(float vA) {
  constexpr float kMagic = 12582912.0f;
  return static_cast<std::int32_t>((vA + kMagic) - kMagic);
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
  probeA.centre(centreXM, centreYM);
  // Best quality first, stable (a counting sort over the 256 quality values).
  std::array<std::uint32_t, 257> startL{};
  for (const Minutia& m : probeA.minutiae) ++startL[255 - m.quality + 1];
  for (int q = 0; q < 256; ++q) startL[q + 1] += startL[q];
  probeM.resize(probeA.minutiae.size());
  for (const Minutia& m : probeA.minutiae) {
    probeM[startL[255 - m.quality]++] = {m.x - centreXM, m.y - centreYM, m.angle, m.quality};
  }
  // The turned copies are made when a comparison first asks for them.
  probeXM.resize(probeM.size());
  probeYM.resize(probeM.size());
  for (std::size_t i = 0; i < probeM.size(); ++i) {
    probeXM[i] = probeM[i].x;
    probeYM[i] = probeM[i].y;
  }
  if (rotatedM.size() < 2 * kBins * probeM.size()) rotatedM.resize(2 * kBins * probeM.size());
  rotatedReadyM.fill(false);
  float radius2L = 0.0f;
  for (const Point& p : probeM) radius2L = std::max(radius2L, p.x * p.x + p.y * p.y);
  probeRadiusM = std::sqrt(radius2L);
  probeOrientationM = probeA.orientation;
  probeConfidenceM = probeA.orientationConfidence;
  hasProbeM = true;
}

template <class Visit>
void MinutiaeMatcher::forDirections(int lowA, int countA, Visit&& visitA) const {
  const std::size_t mL = galleryAngleM.size();
  if (countA >= kAngleUnits) {
    visitA(std::size_t{0}, mL);
    return;
  }
  const int fromL = lowA & (kAngleUnits - 1);
  const int toL = (lowA + countA) & (kAngleUnits - 1);
  if (fromL < toL) {
    visitA(std::size_t{angleStartM[fromL]}, std::size_t{angleStartM[toL]});
  } else {  // through direction 0
    visitA(std::size_t{angleStartM[fromL]}, mL);
    visitA(std::size_t{0}, std::size_t{angleStartM[toL]});
  }
}

const std::int32_t* MinutiaeMatcher::rotatedProbe(int binA) {
  const std::size_t nL = probeM.size();
  std::int32_t* outL = rotatedM.data() + 2 * static_cast<std::size_t>(binA) * nL;
  if (rotatedReadyM[binA]) return outL;
  const int rL = binA * kRotationCell;
  const float cL = tables().cosL[rL], sL = tables().sinL[rL];
  const float* xL = probeXM.data();
  const float* yL = probeYM.data();
  std::int32_t* outXL = outL;
  std::int32_t* outYL = outL + nL;
  for (std::size_t i = 0; i < nL; ++i) {
    outXL[i] = roundToInt(16.0f * (cL * xL[i] - sL * yL[i]));
    outYL[i] = roundToInt(16.0f * (sL * xL[i] + cL * yL[i]));
  }
  rotatedReadyM[binA] = true;
  return outL;
}

void MinutiaeMatcher::prepareGallery(const FingerprintTemplate& galleryA) {
  // Gallery minutiae sorted by direction (a counting sort), with the first position of each
  // direction: the partners of a probe minutia within an angle tolerance, or all pairs within
  // the searched rotations, are then one or two runs of the sorted list.
  const std::size_t mL = galleryA.minutiae.size();
  std::fill(angleStartM.begin(), angleStartM.end(), 0);
  for (const Minutia& m : galleryA.minutiae) ++angleStartM[m.angle + 1];
  for (int a = 0; a < kAngleUnits; ++a) angleStartM[a + 1] += angleStartM[a];
  galleryXM.resize(mL);
  galleryYM.resize(mL);
  galleryFixedM.resize(2 * mL);
  galleryAngleM.resize(mL);
  std::array<std::uint16_t, kAngleUnits> nextL;
  std::copy(angleStartM.begin(), angleStartM.end() - 1, nextL.begin());
  int minXL = 65535, minYL = 65535, maxXL = 0, maxYL = 0;
  for (const Minutia& m : galleryA.minutiae) {
    const std::uint16_t jL = nextL[m.angle]++;
    galleryXM[jL] = m.x;
    galleryYM[jL] = m.y;
    galleryFixedM[2 * jL] = 16 * static_cast<std::int32_t>(m.x);
    galleryFixedM[2 * jL + 1] = 16 * static_cast<std::int32_t>(m.y);
    galleryAngleM[jL] = m.angle;
    minXL = std::min<int>(minXL, m.x);
    minYL = std::min<int>(minYL, m.y);
    maxXL = std::max<int>(maxXL, m.x);
    maxYL = std::max<int>(maxYL, m.y);
  }
  galleryMinXM = static_cast<float>(minXL);
  galleryMinYM = static_cast<float>(minYL);
  galleryMaxXM = static_cast<float>(maxXL);
  galleryMaxYM = static_cast<float>(maxYL);
}

MatchResult MinutiaeMatcher::match(const FingerprintTemplate& galleryA,
                                   const MatchSettings& settingsA) {
  MatchResult resultL;
  resultL.probeCount = static_cast<int>(probeM.size());
  resultL.galleryCount = static_cast<int>(galleryA.minutiae.size());
  if (probeM.empty() || galleryA.minutiae.empty()) return resultL;
  if (probeM.size() > kMaxIndex || galleryA.minutiae.size() > kMaxIndex) return resultL;
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
  const bool everyPairL = fullTurnL || 2 * halfWidthL + 1 >= kAngleUnits;

  // 1. The pairs whose direction difference d lies in the searched range, bucketed by
  //    d / kRotationCell (a counting sort; within a bucket in probe order). Entries are
  //    probe index | gallery index << 16.
  const std::size_t nL = probeM.size();
  const std::size_t mL = galleryAngleM.size();
  if (candidatesM.size() < nL * mL) {
    candidatesM.resize(nL * mL);
    bucketOfM.resize(nL * mL);
    bucketedM.resize(nL * mL);
  }
  std::uint32_t* candidatesL = candidatesM.data();
  std::uint8_t* bucketOfL = bucketOfM.data();
  const std::uint8_t* galleryAngleL = galleryAngleM.data();
  std::size_t pairCountL = 0;
  // Four interleaved histograms, so that runs of one bucket do not wait on each other.
  std::uint32_t histogramL[4][kBins] = {};
  for (std::size_t i = 0; i < nL; ++i) {
    const int aL = probeM[i].angle;
    auto takeRun = [&](std::size_t fromA, std::size_t toA) {
      for (std::size_t j = fromA; j < toA; ++j) {
        const int bucketL = ((galleryAngleL[j] - aL) & (kAngleUnits - 1)) / kRotationCell;
        candidatesL[pairCountL] = static_cast<std::uint32_t>(i | j << 16);
        bucketOfL[pairCountL] = static_cast<std::uint8_t>(bucketL);
        ++histogramL[pairCountL & 3][bucketL];
        ++pairCountL;
      }
    };
    // Gallery directions a + centre - halfWidth .. a + centre + halfWidth.
    forDirections(aL + centreL - halfWidthL, everyPairL ? kAngleUnits : 2 * halfWidthL + 1,
                  takeRun);
  }
  std::array<std::uint32_t, kBins + 1> nextL{};
  for (int q = 0; q < kBins; ++q) {
    nextL[q + 1] =
        nextL[q] + histogramL[0][q] + histogramL[1][q] + histogramL[2][q] + histogramL[3][q];
  }
  bucketStartM = nextL;
  std::uint32_t* bucketedL = bucketedM.data();
  for (std::size_t k = 0; k < pairCountL; ++k) bucketedL[nextL[bucketOfL[k]]++] = candidatesL[k];

  // 2. Voting. Rotation cell b (central rotation b kRotationCell) takes the votes of the pairs
  //    of buckets b - 1 and b: the two rotation cells whose central rotations enclose a pair's
  //    direction difference both get its vote (a minutia's direction is only good to a few
  //    units, and at the rim of a finger a few units move a minutia by more than a cell). A
  //    vote is the translation g - R(b) p, counted in a grid of kTranslationCell-pixel cells
  //    over the translations that can occur: the gallery's bounding box widened by the probe's
  //    radius, at most kMaxVoteGrid cells a side (hostile coordinates crowd the border).
  //    Translations are integers in sixteenths of a pixel.
  static_assert(kTranslationCell == 16, "a cell is 2^8 sixteenths of a pixel");
  const float reachL = probeRadiusM + 1.0f;
  const std::int32_t x0L = 16 * static_cast<std::int32_t>(std::floor(galleryMinXM - reachL));
  const std::int32_t y0L = 16 * static_cast<std::int32_t>(std::floor(galleryMinYM - reachL));
  const int voteWL = std::min<int>(
      kMaxVoteGrid, static_cast<int>((16.0f * (galleryMaxXM + reachL) - x0L) / 256.0f) + 1);
  const int voteHL = std::min<int>(
      kMaxVoteGrid, static_cast<int>((16.0f * (galleryMaxYM + reachL) - y0L) / 256.0f) + 1);
  // Rows of a power of two cells (at most 2^8); coordinates from the grid's corner.
  static_assert(kMaxVoteGrid <= 256, "a row fits 2^8 cells");
  int rowShiftL = 0;
  while ((1 << rowShiftL) < voteWL) ++rowShiftL;
  const std::uint32_t sliceL = static_cast<std::uint32_t>(voteHL) << rowShiftL;
  if (votesM.size() < sliceL) votesM.resize(static_cast<std::size_t>(kMaxVoteGrid) << 8);
  std::int32_t* galleryFixedL = galleryFixedM.data();
  for (std::size_t j = 0; j < mL; ++j) {
    galleryFixedL[2 * j] -= x0L;
    galleryFixedL[2 * j + 1] -= y0L;
  }
  // Unless the grid was cut to kMaxVoteGrid cells a side, every translation lies inside it.
  const bool cutL = voteWL == kMaxVoteGrid || voteHL == kMaxVoteGrid;
  auto voteCell = [rowShiftL, voteWL, voteHL](auto cutA, std::int32_t txA, std::int32_t tyA) {
    int cxL = txA >> 8, cyL = tyA >> 8;
    if (cutA) {
      cxL = std::min(voteWL - 1, std::max(0, cxL));
      cyL = std::min(voteHL - 1, std::max(0, cyL));
    }
    return static_cast<std::uint32_t>((cyL << rowShiftL) + cxL);
  };
  // A displacement limit refuses translations that move the probe's centre further.
  const bool limitedL = settingsA.maxDisplacement > 0;
  const float limit2L =
      static_cast<float>(settingsA.maxDisplacement) * static_cast<float>(settingsA.maxDisplacement);
  auto displacementOk = [&](std::int32_t txA, std::int32_t tyA) {
    const float mxL = static_cast<float>(txA + x0L) / 16.0f - centreXM;
    const float myL = static_cast<float>(tyA + y0L) / 16.0f - centreYM;
    return mxL * mxL + myL * myL <= limit2L;
  };
  // Calls visitA(tx, ty) for each vote in rotation cell binA: one or two runs of bucketedM.
  auto forVotersOfCell = [&](int binA, auto&& visitA) {
    const int previousL = (binA + kBins - 1) % kBins;
    const std::int32_t* rotatedL = rotatedProbe(binA);
    auto runL = [&](std::uint32_t fromA, std::uint32_t toA) {
      for (std::uint32_t k = fromA; k < toA; ++k) {
        const std::uint32_t i = bucketedL[k] & 0xFFFF, j = bucketedL[k] >> 16;
        const std::int32_t txL = galleryFixedL[2 * j] - rotatedL[i];
        const std::int32_t tyL = galleryFixedL[2 * j + 1] - rotatedL[nL + i];
        if (!limitedL || displacementOk(txL, tyL)) visitA(txL, tyL);
      }
    };
    if (previousL + 1 == binA) {
      runL(bucketStartM[previousL], bucketStartM[binA + 1]);
    } else {
      runL(bucketStartM[previousL], bucketStartM[previousL + 1]);
      runL(bucketStartM[binA], bucketStartM[binA + 1]);
    }
  };

  // The fullest kCandidates cells of all (the first to reach a count wins a tie). A grid entry
  // holds a count in its low kCountBits bits and, above them, the stamp of the rotation cell
  // the count belongs to: an entry with another stamp counts as 0, so the grid is cleared only
  // when the stamps wrap.
  struct Top {
    int count = 0, bin = -1;
    std::uint32_t cell = 0;
  };
  Top topL[kCandidates];
  std::uint32_t* votesL = votesM.data();
  votesUsedM = std::max(votesUsedM, static_cast<std::size_t>(sliceL));
  auto voteIn = [&](int binA, auto cutA) {
    if (++stampM == (1u << (32 - kCountBits))) {
      std::fill(votesM.begin(), votesM.begin() + static_cast<std::ptrdiff_t>(votesUsedM), 0u);
      votesUsedM = sliceL;
      stampM = 1;
    }
    const std::uint32_t stampL = stampM << kCountBits;
    int lastL = topL[kCandidates - 1].count;
    forVotersOfCell(binA, [&](std::int32_t txA, std::int32_t tyA) {
      const std::uint32_t cellL = voteCell(cutA, txA, tyA);
      const std::uint32_t entryL = votesL[cellL];
      // Masks rather than branches: whether a cell was voted for before is anybody's guess.
      const std::uint32_t sameL = static_cast<std::uint32_t>((entryL & ~kCountMask) == stampL);
      const std::uint32_t countL = (entryL & kCountMask & (0u - sameL)) + 1;
      votesL[cellL] = stampL | countL;
      // A kept cell had at least the last kept count before this vote.
      if (static_cast<int>(countL) <= lastL) return;
      int posL = 0;
      while (posL < kCandidates - 1 && !(topL[posL].bin == binA && topL[posL].cell == cellL)) {
        ++posL;
      }
      topL[posL] = Top{static_cast<int>(countL), binA, cellL};
      for (; posL > 0 && topL[posL - 1].count < topL[posL].count; --posL) {
        std::swap(topL[posL], topL[posL - 1]);
      }
      lastL = topL[kCandidates - 1].count;
    });
  };
  for (int b = 0; b < kBins; ++b) {
    const int previousL = (b + kBins - 1) % kBins;
    const std::uint32_t votersL = bucketStartM[b + 1] - bucketStartM[b] +
                                  bucketStartM[previousL + 1] - bucketStartM[previousL];
    // A cell cannot get more votes than its rotation cell has voters; a count no larger than
    // the last kept one would not be kept.
    if (static_cast<int>(votersL) <= topL[kCandidates - 1].count) continue;
    if (cutL) {
      voteIn(b, std::true_type());
    } else {
      voteIn(b, std::false_type());
    }
  }
  if (topL[0].count == 0) return resultL;

  // 3. Alignment.
  const auto& cosL = tables().cosL;
  const auto& sinL = tables().sinL;
  Motion bestMotionL{};
  int bestLooseL = -1;
  // A runner-up in the winner's neighbourhood (one motion whose votes fell into neighbouring
  // cells) or with at most half the winner's votes is not worth a pairing of its own.
  auto clearlyBeaten = [&](const Top& topA) {
    if (settingsA.pairRunnerUp) return false;
    if (2 * topA.count <= topL[0].count) return true;
    const int binsApartL = (topA.bin - topL[0].bin + kBins) % kBins;
    if (binsApartL > 1 && binsApartL < kBins - 1) return false;
    const int maskL = (1 << rowShiftL) - 1;
    return std::abs(static_cast<int>(topA.cell & maskL) - static_cast<int>(topL[0].cell & maskL)) <=
               1 &&
           std::abs(static_cast<int>(topA.cell >> rowShiftL) -
                    static_cast<int>(topL[0].cell >> rowShiftL)) <= 1;
  };
  for (const Top& top : topL) {
    if (top.count == 0 || (&top != &topL[0] && clearlyBeaten(top))) break;
    // The cell's motion: its rotation and the mean translation of its votes.
    std::int64_t sumXL = 0, sumYL = 0;
    int votedL = 0;
    forVotersOfCell(top.bin, [&](std::int32_t txA, std::int32_t tyA) {
      if (voteCell(std::true_type(), txA, tyA) == top.cell) {
        sumXL += txA;
        sumYL += tyA;
        ++votedL;
      }
    });
    const float countL = static_cast<float>(std::max(votedL, 1));
    Motion motionL;
    motionL.rotation = (top.bin * kRotationCell) & (kAngleUnits - 1);
    motionL.cosR = cosL[motionL.rotation];
    motionL.sinR = sinL[motionL.rotation];
    motionL.dx = (static_cast<float>(sumXL) / countL + static_cast<float>(x0L)) / 16.0f;
    motionL.dy = (static_cast<float>(sumYL) / countL + static_cast<float>(y0L)) / 16.0f;
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
  const std::size_t mL = galleryAngleM.size();
  usedM.assign(mL, 0);
  if (pairsA != nullptr) pairsA->clear();
  const float limitL = static_cast<float>(distanceA) * static_cast<float>(distanceA);
  int pairedL = 0;
  for (std::size_t i = 0; i < probeM.size(); ++i) {
    const Point& p = probeM[i];
    const float xL = motionA.cosR * p.x - motionA.sinR * p.y + motionA.dx;
    const float yL = motionA.sinR * p.x + motionA.cosR * p.y + motionA.dy;
    const int angleL = p.angle + motionA.rotation;
    // The partners within the angle tolerance: one or two runs of the gallery by direction.
    std::size_t bestL = mL;
    float bestDistanceL = limitL;
    auto searchRun = [&](std::size_t fromA, std::size_t toA) {
      for (std::size_t j = fromA; j < toA; ++j) {
        const float exL = galleryXM[j] - xL, eyL = galleryYM[j] - yL;
        const float d2L = exL * exL + eyL * eyL;
        if (d2L > bestDistanceL || usedM[j]) continue;
        // Ties go to the lower index, whatever the run order.
        if (d2L == bestDistanceL && j > bestL) continue;
        bestDistanceL = d2L;
        bestL = j;
      }
    };
    forDirections(angleL - angleA, 2 * angleA + 1, searchRun);
    if (bestL == mL) continue;
    usedM[bestL] = 1;
    ++pairedL;
    if (pairsA != nullptr) pairsA->emplace_back(static_cast<int>(i), static_cast<int>(bestL));
  }
  return pairedL;
}

MinutiaeMatcher::Motion MinutiaeMatcher::fit(const std::vector<std::pair<int, int>>& pairsA,
                                             const Motion& startA) const {
  if (pairsA.size() < 2) return startA;
  double pxL = 0, pyL = 0, gxL = 0, gyL = 0;
  for (const auto& pr : pairsA) {
    pxL += probeM[pr.first].x;
    pyL += probeM[pr.first].y;
    gxL += galleryXM[pr.second];
    gyL += galleryYM[pr.second];
  }
  const double nL = static_cast<double>(pairsA.size());
  pxL /= nL, pyL /= nL, gxL /= nL, gyL /= nL;
  double dotL = 0, crossL = 0;
  for (const auto& pr : pairsA) {
    const double axL = probeM[pr.first].x - pxL, ayL = probeM[pr.first].y - pyL;
    const double bxL = galleryXM[pr.second] - gxL, byL = galleryYM[pr.second] - gyL;
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
