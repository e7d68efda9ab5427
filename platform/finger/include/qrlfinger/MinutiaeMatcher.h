#pragma once

// The minutiae matcher behind every comparison of the finger library and the L2F matcher.
//
// 1. Voting. Every probe minutia p and gallery minutia g whose directions differ by an angle
//    d inside the searched rotation range vote for the rigid motions that carry p onto g: for
//    the two rotation cells (kRotationCell angle units wide) whose central rotations r enclose
//    d, rotation r about the probe's centre followed by the translation g - R(r) p, counted in
//    cells of kTranslationCell pixels. The pairs are found once per comparison (those of a
//    probe minutia are one or two runs of the gallery sorted by direction) and bucketed by
//    d / kRotationCell; the votes are then counted one rotation cell at a time in a small grid
//    of translation cells that stays in the first-level cache, with integer translations in
//    sixteenths of a pixel.
// 2. Alignment. The motion of the fullest cell (the first to reach a count wins a tie; the
//    translation is the mean of the cell's votes) pairs minutiae greedily with loose
//    tolerances, and so does that of the runner-up unless the vote is clear: the runner-up has
//    at most half the winner's votes, or lies next to it (one motion whose votes fell into
//    neighbouring cells). The better of them is refined by a least-squares rigid fit over its
//    pairs.
// 3. Pairing. Under the refined motion each probe minutia (best quality first) takes the nearest
//    unpaired gallery minutia within kPairDistance pixels and kPairAngle angle units (ties go to
//    the gallery minutia first in direction order).
// The similarity of k paired minutiae out of n probe and m gallery minutiae is k^2 / (n m):
// it grows with k and punishes minutiae that find no partner on either side.
//
// The rotation range is centred on 0, or, with angle estimation and both orientation
// confidences at least the confidence threshold, on the difference of the templates' finger
// orientations; its half-width is the rotation tolerance (a full turn when it is 180 degrees or
// more). A displacement limit, when set, refuses motions that move the probe's centre further.
// Templates with more than 4095 minutiae pair none.
//
// A matcher holds one prepared probe (its minutiae turned by a rotation cell's rotation the
// first time a comparison searches that cell) and scratch space (the gallery sorted by
// direction, the bucketed pairs, the vote grid): not thread-safe; no allocation per comparison
// once its scratch has grown to the templates' sizes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <qrlfinger/FingerExport.h>
#include <qrlfinger/MinutiaeTemplate.h>

namespace qrfpt {

struct MatchSettings {
  int rotationToleranceDegrees = 40;  // half-width of the searched rotations; >= 180: all
  bool useAngleEstimation = false;
  int confidenceThreshold = 50;  // orientation confidence both templates need for the estimate
  int maxDisplacement = 0;       // pixels; 0: unlimited
  bool pairRunnerUp = false;     // pair the runner-up cell even when the vote is clear (slower)
};

struct QRLFINGER_EXPORT MatchResult {
  int paired = 0;
  int probeCount = 0;
  int galleryCount = 0;
  int rotation = 0;  // angle units of the motion found
  float dx = 0.0f, dy = 0.0f;
  // k^2 / (n m), 0 when either side has no minutiae.
  float similarity() const;
};

class QRLFINGER_EXPORT MinutiaeMatcher {
 public:
  static constexpr int kRotationCell = 4;      // angle units
  static constexpr int kCandidates = 2;        // fullest cells kept: winner and runner-up
  static constexpr int kTranslationCell = 16;  // pixels
  static constexpr int kLooseDistance = 24;    // pixels
  static constexpr int kLooseAngle = 24;       // angle units
  static constexpr int kPairDistance = 14;     // pixels
  static constexpr int kPairAngle = 16;        // angle units

  MinutiaeMatcher();

  void setProbe(const FingerprintTemplate& probeA);
  bool hasProbe() const { return hasProbeM; }
  MatchResult match(const FingerprintTemplate& galleryA, const MatchSettings& settingsA);

 private:
  struct Point {
    float x, y;
    int angle;
    int quality;
  };
  struct Motion {
    int rotation;  // angle units
    float cosR, sinR, dx, dy;
  };
  void prepareGallery(const FingerprintTemplate& galleryA);
  // The probe turned by the central rotation of rotation cell binA, in sixteenths of a pixel
  // (n x, then n y); computed on first use after setProbe.
  const std::int32_t* rotatedProbe(int binA);
  // Calls visitA(from, to) for the one or two runs of gallery positions (sorted by direction)
  // whose directions lie in lowA .. lowA + countA - 1, modulo the full turn.
  template <class Visit>
  void forDirections(int lowA, int countA, Visit&& visitA) const;
  int pair(const Motion& motionA, int distanceA, int angleA,
           std::vector<std::pair<int, int>>* pairsA);
  Motion fit(const std::vector<std::pair<int, int>>& pairsA, const Motion& startA) const;

  static constexpr int kBins = kAngleUnits / kRotationCell;
  static constexpr int kMaxVoteGrid = 160;        // translation cells a side
  static constexpr std::size_t kMaxIndex = 4095;  // minutiae a side (n m votes fit the count)

  bool hasProbeM = false;
  std::int8_t probeOrientationM = 0;
  std::uint8_t probeConfidenceM = 0;
  float centreXM = 0.0f, centreYM = 0.0f;
  float probeRadiusM = 0.0f;            // the largest distance of a probe minutia from the centre
  std::vector<Point> probeM;            // centred, best quality first
  std::vector<float> probeXM, probeYM;  // the same coordinates, one array each
  // Per rotation cell: the probe minutiae turned, all x, then all y.
  std::vector<std::int32_t> rotatedM;
  std::array<bool, kBins> rotatedReadyM{};
  // Scratch. The gallery sorted by direction, with the first position of each direction.
  std::vector<float> galleryXM, galleryYM;
  std::vector<std::int32_t> galleryFixedM;  // x, y in sixteenths of a pixel
  std::vector<std::uint8_t> galleryAngleM;
  std::array<std::uint16_t, kAngleUnits + 1> angleStartM{};
  float galleryMinXM = 0.0f, galleryMinYM = 0.0f, galleryMaxXM = 0.0f, galleryMaxYM = 0.0f;
  // The pairs in the searched rotations (probe index | gallery index << 16) ordered by their
  // direction difference in steps of kRotationCell (bucketStartM: the first pair of each).
  std::vector<std::uint32_t> candidatesM, bucketedM;
  std::vector<std::uint8_t> bucketOfM;
  std::array<std::uint32_t, kBins + 1> bucketStartM{};
  // Votes per translation cell: the count in the low kCountBits bits, the stamp of the rotation
  // cell counted above them; the stamp of the last rotation cell counted, and how much of the
  // grid has been used since it was last cleared.
  static constexpr int kCountBits = 24;
  static constexpr std::uint32_t kCountMask = (1u << kCountBits) - 1;
  std::vector<std::uint32_t> votesM;
  std::uint32_t stampM = 0;
  std::size_t votesUsedM = 0;
  std::vector<std::uint8_t> usedM;
  std::vector<std::pair<int, int>> pairsM, candidatePairsM;
};

// Angle table: cos and sin of k angle units.
QRLFINGER_EXPORT const std::array<float, kAngleUnits>& cosTable();
QRLFINGER_EXPORT const std::array<float, kAngleUnits>& sinTable();

}  // namespace qrfpt
