#include <qrlfinger/L2FMatcher.h>

#include <algorithm>

namespace L2F_7 {

CL2FMatcher::CL2FMatcher() = default;

void CL2FMatcher::SetDefaultRotationTolerance(std::uint8_t degreesA) {
  toleranceM = degreesA == 0 ? 40 : degreesA;
}

void CL2FMatcher::SetAngleOffsetConfidenceThreshold(std::uint8_t thresholdA) {
  confidenceM = thresholdA == 0 ? 50 : thresholdA;
}

int CL2FMatcher::MatchTemplates(const std::uint8_t* probeA, std::size_t probeSizeA,
                                const std::uint8_t* galleryA, std::size_t gallerySizeA,
                                int flavourA, float* scoreA, std::int16_t angleEstimationA,
                                std::int16_t maxScoreA, const void* regionOfInterestA,
                                void* matcherDataA) {
  if (probeA == nullptr || galleryA == nullptr || scoreA == nullptr ||
      regionOfInterestA != nullptr || matcherDataA != nullptr) {
    return L2FNullArgument;
  }
  // A search hands the same probe with every gallery template: it is prepared once.
  const std::size_t probeBytesL = qrfpt::templateBytes(probeA, probeSizeA);
  const bool sameProbeL = probeBytesL != 0 && probeBytesL == lastProbeM.size() &&
                          std::equal(lastProbeM.begin(), lastProbeM.end(), probeA);
  if (!sameProbeL) {
    lastProbeM.clear();
    if (probeM.decode(probeA, probeSizeA, qrfpt::kKindL2F) != qrfpt::FingerOk) return L2FBadProbe;
    matcherM.setProbe(probeM);
    lastProbeM.assign(probeA, probeA + probeBytesL);
  }
  if (galleryM.decode(galleryA, gallerySizeA, qrfpt::kKindL2F) != qrfpt::FingerOk) {
    return L2FBadGallery;
  }
  qrfpt::MatchSettings settingsL;
  settingsL.rotationToleranceDegrees = (flavourA & 4) != 0 ? 360 : toleranceM;
  settingsL.useAngleEstimation = angleEstimationA == -1;
  settingsL.confidenceThreshold = confidenceM;
  const float rawL = 1000.0f * matcherM.match(galleryM, settingsL).similarity();
  *scoreA = std::min(rawL, static_cast<float>(std::max<std::int16_t>(maxScoreA, 0)));
  return L2FOk;
}

}  // namespace L2F_7
