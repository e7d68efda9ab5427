#include <qrlfinger/MvxFinger.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include <qrlcore/IniFile.h>

namespace qrfpt {
namespace {

constexpr const char* kSection = "FingerMatching";

int iniInt(const kxutl::IniFile& iniA, const char* keyA, int defaultA) {
  std::int32_t valueL = defaultA;
  iniA.getZNint32(kSection, keyA, valueL);
  return valueL;
}

// Indices of the minutiae to keep, in the order they are to be stored.
std::vector<std::size_t> selectMinutiae(const FingerprintTemplate& tA, std::size_t maxCountA,
                                        unsigned int selectionA, bool keepOrderA) {
  std::vector<std::size_t> orderL(tA.minutiae.size());
  std::iota(orderL.begin(), orderL.end(), 0);
  if (selectionA >= 1) {
    float cxL = 0.0f, cyL = 0.0f;
    tA.centre(cxL, cyL);
    auto distance = [&](std::size_t iA) {
      const float dxL = tA.minutiae[iA].x - cxL, dyL = tA.minutiae[iA].y - cyL;
      return dxL * dxL + dyL * dyL;
    };
    std::stable_sort(orderL.begin(), orderL.end(), [&](std::size_t a, std::size_t b) {
      if (tA.minutiae[a].quality != tA.minutiae[b].quality) {
        return tA.minutiae[a].quality > tA.minutiae[b].quality;
      }
      return selectionA >= 2 && distance(a) < distance(b);
    });
  }
  if (orderL.size() > maxCountA) orderL.resize(maxCountA);
  if (keepOrderA) std::sort(orderL.begin(), orderL.end());
  return orderL;
}

int trimInto(const FingerprintTemplate& tA, std::uint8_t kindA, std::size_t maxCountA,
             unsigned int selectionA, bool keepOrderA, L2FTrimResult& resultA) {
  FingerprintTemplate outL = tA;
  outL.kind = kindA;
  outL.minutiae.clear();
  for (std::size_t i : selectMinutiae(tA, maxCountA, selectionA, keepOrderA)) {
    outL.minutiae.push_back(tA.minutiae[i]);
  }
  outL.quality = outL.meanQuality();
  return outL.encode(resultA.bytes());
}

}  // namespace

MvxFinger::MvxFinger(const kxutl::IniFile& iniA) {
  configuredM.rotationToleranceDegrees = iniInt(iniA, "angleTolerance", 40);
  configuredM.maxDisplacement = iniInt(iniA, "maxDisplacement", 0);
  configuredM.confidenceThreshold = iniInt(iniA, "angleConfidenceThreshold", 50);
  configuredM.useAngleEstimation = true;
  settingsM = configuredM;
}

MvxFinger::~MvxFinger() = default;

void MvxFinger::setMatchParameters(int angleToleranceA, int maxDisplacementA,
                                   int confidenceThresholdA) {
  settingsM = configuredM;
  if (angleToleranceA > 0) settingsM.rotationToleranceDegrees = angleToleranceA;
  if (maxDisplacementA > 0) settingsM.maxDisplacement = maxDisplacementA;
  if (confidenceThresholdA > 0) settingsM.confidenceThreshold = confidenceThresholdA;
}

int MvxFinger::identifyStart(const std::uint8_t* probeA, std::size_t sizeA) {
  runM = MinutiaeMatcher();
  const int statusL = scratchM.decode(probeA, sizeA);
  if (statusL != FingerOk) return statusL;
  runM.setProbe(scratchM);
  ++runsStartedM;
  return FingerOk;
}

float MvxFinger::identifyNext(const std::uint8_t* galleryA, std::size_t sizeA) {
  if (!runM.hasProbe()) return 0.0f;
  if (scratchM.decode(galleryA, sizeA) != FingerOk) return 0.0f;
  return runM.match(scratchM, settingsM).similarity();
}

float MvxFinger::verify(const std::uint8_t* probeA, std::size_t probeSizeA,
                        const std::uint8_t* galleryA, std::size_t gallerySizeA) {
  FingerprintTemplate probeL, galleryL;
  if (probeL.decode(probeA, probeSizeA) != FingerOk) return 0.0f;
  if (galleryL.decode(galleryA, gallerySizeA) != FingerOk) return 0.0f;
  MinutiaeMatcher matcherL;
  matcherL.setProbe(probeL);
  return matcherL.match(galleryL, settingsM).similarity();
}

int MvxFinger::getQualityFromL2MTemplate(const std::uint8_t* dataA, std::size_t sizeA,
                                         float& qualityA, std::uint16_t& countA,
                                         unsigned int& impressionTypeA) {
  FingerprintTemplate tL;
  const int statusL = tL.decode(dataA, sizeA, kKindL2M);
  if (statusL != FingerOk) return statusL;
  qualityA = static_cast<float>(tL.quality);
  countA = static_cast<std::uint16_t>(tL.minutiae.size());
  impressionTypeA = tL.impressionType;
  return FingerOk;
}

void MvxFinger::initL2f() {
  l2fM = true;
}

int MvxFinger::trimL2FTemplate(const std::uint8_t* dataA, std::size_t sizeA, L2FTrimResult& resultA,
                               unsigned short maxCountA, unsigned int selectionA, bool keepOrderA) {
  if (!l2fM) return FingerNotInitialised;
  FingerprintTemplate tL;
  const int statusL = tL.decode(dataA, sizeA, kKindL2F);
  if (statusL != FingerOk) return statusL;
  return trimInto(tL, kKindL2F, maxCountA, selectionA, keepOrderA, resultA);
}

int MvxFinger::deriveL2FFromL2M(const std::uint8_t* dataA, std::size_t sizeA,
                                L2FTrimResult& resultA, unsigned short maxCountA) {
  if (!l2fM) return FingerNotInitialised;
  FingerprintTemplate tL;
  const int statusL = tL.decode(dataA, sizeA, kKindL2M);
  if (statusL != FingerOk) return statusL;
  return trimInto(tL, kKindL2F, maxCountA, 2, false, resultA);
}

int MvxFinger::convertL2FTemplateToBE5(const std::uint8_t* dataA, std::size_t sizeA,
                                       FingerprintTemplate& templateA, bool isProbeA,
                                       int settingA) {
  const int statusL = templateA.decode(dataA, sizeA, kKindL2F);
  if (statusL != FingerOk) return statusL;
  templateA.isProbe = isProbeA;
  if (settingA < 1 || templateA.minutiae.empty()) return FingerOk;
  float cxL = 0.0f, cyL = 0.0f;
  templateA.centre(cxL, cyL);
  // Centred coordinates are stored around a fixed origin so they stay unsigned.
  constexpr float kOrigin = 32768.0f;
  const bool uprightL =
      settingA >= 2 && templateA.orientationConfidence >= settingsM.confidenceThreshold;
  const int turnL =
      uprightL ? (kAngleUnits - (templateA.orientation + kAngleUnits) % kAngleUnits) : 0;
  const float cL = cosTable()[turnL % kAngleUnits], sL = sinTable()[turnL % kAngleUnits];
  for (Minutia& m : templateA.minutiae) {
    const float xL = m.x - cxL, yL = m.y - cyL;
    m.x = static_cast<std::uint16_t>(std::lround(cL * xL - sL * yL + kOrigin));
    m.y = static_cast<std::uint16_t>(std::lround(sL * xL + cL * yL + kOrigin));
    m.angle = static_cast<std::uint8_t>((m.angle + turnL) % kAngleUnits);
  }
  if (uprightL) templateA.orientation = 0;
  return FingerOk;
}

FingerL2Fi::FingerL2Fi(const kxutl::IniFile& iniA) : MvxFinger(iniA) {}

int FingerL2Fi::identifyStart(const FingerprintTemplate& probeA) {
  runM = MinutiaeMatcher();
  runM.setProbe(probeA);
  ++runsStartedM;
  return FingerOk;
}

float FingerL2Fi::identifyNext(const FingerprintTemplate& galleryA) {
  if (!runM.hasProbe()) return 0.0f;
  return runM.match(galleryA, settingsM).similarity();
}

}  // namespace qrfpt
