#pragma once

// The minutiae matcher behind every comparison of the finger library and the L2F matcher.
//
// 1. Voting. Every probe minutia p and gallery minutia g whose directions differ by an angle
//    d inside the searched rotation range vote for the rigid motions that carry p onto g: for
//    the two rotation cells (kRotationCell angle units wide) whose central rotations r enclose
//    d, rotation r about the probe's centre followed by the translation g - R(r) p, counted in
//    cells of kTranslationCell pixels. The votes are counted one rotation cell at a time in a
//    small grid of translation cells (the pairs of a cell are runs of the gallery sorted by
//    direction), so that counting stays in the first-level cache.
// 2. Alignment. The motions of the kCandidates fullest cells (the first to reach a count wins
//    a tie; the translation is the mean of the cell's votes) pair minutiae greedily with loose
//    tolerances; the best of them is refined by a least-squares rigid fit over its pairs.
// 3. Pairing. Under the refined motion each probe minutia (best quality first) takes the nearest
//    unpaired gallery minutia within kPairDistance pixels and kPairAngle angle units.
// The similarity of k paired minutiae out of n probe and m gallery minutiae is k^2 / (n m):
// it grows with k and punishes minutiae that find no partner on either side.
//
// The rotation range is centred on 0, or, with angle estimation and both orientation
// confidences at least the confidence threshold, on the difference of the templates' finger
// orientations; its half-width is the rotation tolerance (a full turn when it is 180 degrees or
// more). A displacement limit, when set, refuses motions that move the probe's centre further.
//
// A matcher holds one prepared probe (with its minutiae turned by every cell's rotation) and
// scratch space (the gallery sorted by direction and bucketed in a grid, the vote grid): not
// thread-safe; no allocation per comparison once its scratch has grown to the templates' sizes.

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
  static constexpr int kCandidates = 2;        // fullest cells tried
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
  // (x, y per probe minutia); computed on first use after setProbe.
  const std::int32_t* rotatedProbe(int binA);
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
  float probeRadiusM = 0.0f;           // the largest distance of a probe minutia from the centre
  std::vector<Point> probeM;           // centred, best quality first
  std::vector<std::int32_t> rotatedM;  // per rotation cell: x, y of each probe minutia turned
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
