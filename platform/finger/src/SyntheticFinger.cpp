#include <qrlfinger/SyntheticFinger.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace qrfpt {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::mt19937_64 rngFor(std::uint64_t seedA, std::uint64_t fingerA, std::uint64_t impressionA) {
  std::seed_seq seqL{static_cast<std::uint32_t>(seedA), static_cast<std::uint32_t>(seedA >> 32),
                     static_cast<std::uint32_t>(fingerA), static_cast<std::uint32_t>(impressionA),
                     0x5EEDu};
  return std::mt19937_64(seqL);
}

int toUnits(double radiansA) {
  const long unitsL = std::lround(radiansA * kAngleUnits / (2.0 * kPi));
  return static_cast<int>(((unitsL % kAngleUnits) + kAngleUnits) % kAngleUnits);
}

struct Placed {
  double x, y;
  int angle;
  std::uint8_t type, quality;
};

}  // namespace

FingerprintTemplate SyntheticFingerGenerator::master(std::uint32_t fingerA) const {
  std::mt19937_64 rngL = rngFor(seedM, fingerA, 0xFFFFFFFFu);
  std::uniform_real_distribution<double> unitL(0.0, 1.0);
  const double cxL = kWidth / 2.0, cyL = kHeight / 2.0 + 10.0;
  const double axL = 150.0, ayL = 210.0;
  const double coreXL = cxL + (unitL(rngL) - 0.5) * 80.0;
  const double coreYL = cyL + (unitL(rngL) - 0.5) * 120.0;
  const double tiltL = (unitL(rngL) - 0.5) * 0.6;
  const int countL = 38 + static_cast<int>(unitL(rngL) * 25.0);

  FingerprintTemplate tL;
  tL.kind = kKindL2M;
  tL.width = kWidth;
  tL.height = kHeight;
  tL.orientationConfidence = 90;
  std::vector<Placed> placedL;
  for (int attemptL = 0; attemptL < 4000 && static_cast<int>(placedL.size()) < countL; ++attemptL) {
    const double xL = cxL + (2.0 * unitL(rngL) - 1.0) * axL;
    const double yL = cyL + (2.0 * unitL(rngL) - 1.0) * ayL;
    const double exL = (xL - cxL) / axL, eyL = (yL - cyL) / ayL;
    if (exL * exL + eyL * eyL > 1.0) continue;
    const bool crowdedL = std::any_of(placedL.begin(), placedL.end(), [&](const Placed& p) {
      return (p.x - xL) * (p.x - xL) + (p.y - yL) * (p.y - yL) < 144.0;
    });
    if (crowdedL) continue;
    // Ridges circle the core; a minutia points along its ridge, one way or the other.
    const double flowL = 0.5 * std::atan2(yL - coreYL, xL - coreXL) + kPi / 2.0 + tiltL;
    const double directionL = flowL + (unitL(rngL) < 0.5 ? 0.0 : kPi) + (unitL(rngL) - 0.5) * 0.3;
    placedL.push_back(
        {xL, yL, toUnits(directionL),
         static_cast<std::uint8_t>(unitL(rngL) < 0.5 ? MinutiaEnding : MinutiaBifurcation),
         static_cast<std::uint8_t>(30 + unitL(rngL) * 33.99)});
  }
  for (const Placed& p : placedL) {
    tL.minutiae.push_back({static_cast<std::uint16_t>(std::lround(p.x)),
                           static_cast<std::uint16_t>(std::lround(p.y)),
                           static_cast<std::uint8_t>(p.angle), p.type, p.quality});
  }
  tL.quality = tL.meanQuality();
  return tL;
}

FingerprintTemplate SyntheticFingerGenerator::impression(
    std::uint32_t fingerA, std::uint32_t impressionA, const ImpressionSettings& settingsA) const {
  const FingerprintTemplate masterL = master(fingerA);
  std::mt19937_64 rngL = rngFor(seedM, fingerA, impressionA);
  std::uniform_real_distribution<double> unitL(0.0, 1.0);
  std::normal_distribution<double> gaussL(0.0, 1.0);
  const double rotationL = (2.0 * unitL(rngL) - 1.0) * settingsA.maxRotationDegrees * kPi / 180.0;
  const double shiftXL = (2.0 * unitL(rngL) - 1.0) * settingsA.maxShift;
  const double shiftYL = (2.0 * unitL(rngL) - 1.0) * settingsA.maxShift;
  const double cutAngleL = unitL(rngL) * 2.0 * kPi;
  const double cutDxL = std::cos(cutAngleL), cutDyL = std::sin(cutAngleL);

  // The cut edge: the line beyond which cutFraction of the master minutiae lie.
  std::vector<double> projectionsL;
  for (const Minutia& m : masterL.minutiae) projectionsL.push_back(m.x * cutDxL + m.y * cutDyL);
  std::sort(projectionsL.begin(), projectionsL.end());
  double edgeL = 1e9;
  const auto cutCountL =
      static_cast<std::size_t>(std::lround(settingsA.cutFraction * projectionsL.size()));
  if (cutCountL > 0 && cutCountL <= projectionsL.size()) {
    edgeL = projectionsL[projectionsL.size() - cutCountL];
  }
  auto keptByCut = [&](double xA, double yA) { return xA * cutDxL + yA * cutDyL < edgeL; };

  std::vector<Placed> placedL;
  for (const Minutia& m : masterL.minutiae) {
    if (!keptByCut(m.x, m.y)) continue;
    if (unitL(rngL) < settingsA.missingFraction) continue;
    placedL.push_back({m.x + gaussL(rngL) * settingsA.positionNoise,
                       m.y + gaussL(rngL) * settingsA.positionNoise,
                       static_cast<int>(std::lround(m.angle + gaussL(rngL) * settingsA.angleNoise)),
                       m.type, m.quality});
  }
  const auto spuriousL =
      static_cast<std::size_t>(std::lround(settingsA.spuriousFraction * placedL.size()));
  const double cxL = kWidth / 2.0, cyL = kHeight / 2.0 + 10.0;
  for (std::size_t added = 0, attempts = 0; added < spuriousL && attempts < 1000; ++attempts) {
    const double xL = cxL + (2.0 * unitL(rngL) - 1.0) * 150.0;
    const double yL = cyL + (2.0 * unitL(rngL) - 1.0) * 210.0;
    const double exL = (xL - cxL) / 150.0, eyL = (yL - cyL) / 210.0;
    if (exL * exL + eyL * eyL > 1.0 || !keptByCut(xL, yL)) continue;
    placedL.push_back({xL, yL, static_cast<int>(unitL(rngL) * kAngleUnits),
                       static_cast<std::uint8_t>(MinutiaEnding),
                       static_cast<std::uint8_t>(5 + unitL(rngL) * 35.99)});
    ++added;
  }
  // Spurious minutiae must not stand out by their place in the list.
  std::shuffle(placedL.begin(), placedL.end(), rngL);

  FingerprintTemplate tL;
  tL.kind = settingsA.kind;
  tL.width = kWidth;
  tL.height = kHeight;
  tL.impressionType = settingsA.impressionType;
  const int rotationUnitsL = toUnits(rotationL);
  tL.orientation =
      static_cast<std::int8_t>(rotationUnitsL >= 128 ? rotationUnitsL - 256 : rotationUnitsL);
  tL.orientationConfidence = static_cast<std::uint8_t>(60 + unitL(rngL) * 40.99);
  const double cL = std::cos(rotationL), sL = std::sin(rotationL);
  const double pivotXL = kWidth / 2.0, pivotYL = kHeight / 2.0;
  for (const Placed& p : placedL) {
    const double xL = cL * (p.x - pivotXL) - sL * (p.y - pivotYL) + pivotXL + shiftXL;
    const double yL = sL * (p.x - pivotXL) + cL * (p.y - pivotYL) + pivotYL + shiftYL;
    if (xL < 0.0 || yL < 0.0 || xL >= kWidth || yL >= kHeight) continue;
    tL.minutiae.push_back(
        {static_cast<std::uint16_t>(std::lround(xL)), static_cast<std::uint16_t>(std::lround(yL)),
         static_cast<std::uint8_t>(((p.angle + rotationUnitsL) % kAngleUnits + kAngleUnits) %
                                   kAngleUnits),
         p.type, p.quality});
    if (tL.minutiae.size() == kMaxMinutiae) break;
  }
  tL.quality = tL.meanQuality();
  return tL;
}

std::vector<std::uint8_t> SyntheticFingerGenerator::impressionBytes(
    std::uint32_t fingerA, std::uint32_t impressionA, const ImpressionSettings& settingsA) const {
  std::vector<std::uint8_t> bytesL;
  impression(fingerA, impressionA, settingsA).encode(bytesL);
  return bytesL;
}

}  // namespace qrfpt
