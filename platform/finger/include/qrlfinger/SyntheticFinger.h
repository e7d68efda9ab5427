#pragma once

// Synthetic fingers for tests, benchmarks and demonstrations. Each finger (an id under a
// generator's seed) has a master set of minutiae: 38 to 62 minutiae at least 12 pixels apart
// inside an elliptic finger area of a 400 x 500 image, directed along a ridge flow that turns
// around a core. An impression copies the master set rotated about the image centre, shifted,
// cut off beyond a straight edge, with position and direction noise, with missing minutiae and
// with spurious ones of lower quality; minutiae that fall outside the image are lost. Fingers
// and impressions are reproducible from (seed, finger id, impression id).

#include <cstdint>
#include <vector>

#include <qrlfinger/FingerExport.h>
#include <qrlfinger/MinutiaeTemplate.h>

namespace qrfpt {

struct ImpressionSettings {
  double maxRotationDegrees = 20.0;  // rotation uniform in [-max, max]
  double maxShift = 30.0;            // pixels, each axis uniform in [-max, max]
  double cutFraction = 0.0;          // share of the master minutiae beyond the cut edge
  double missingFraction = 0.1;      // chance of each remaining minutia to be lost
  double spuriousFraction = 0.1;     // spurious minutiae per kept minutia
  double positionNoise = 2.0;        // pixels, standard deviation
  double angleNoise = 3.0;           // angle units, standard deviation
  std::uint8_t impressionType = 0;
  std::uint8_t kind = kKindL2F;
};

class QRLFINGER_EXPORT SyntheticFingerGenerator {
 public:
  static constexpr std::uint16_t kWidth = 400;
  static constexpr std::uint16_t kHeight = 500;

  explicit SyntheticFingerGenerator(std::uint64_t seedA) : seedM(seedA) {}

  FingerprintTemplate master(std::uint32_t fingerA) const;
  FingerprintTemplate impression(std::uint32_t fingerA, std::uint32_t impressionA,
                                 const ImpressionSettings& settingsA) const;
  // The impression in its stored form.
  std::vector<std::uint8_t> impressionBytes(std::uint32_t fingerA, std::uint32_t impressionA,
                                            const ImpressionSettings& settingsA) const;

 private:
  std::uint64_t seedM;
};

}  // namespace qrfpt
