#include "engines/finger/FingerEngineSupport.h"

#include <algorithm>

#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/MvxFinger.h>

#include "engines/EngineSupport.h"

namespace qridy {
namespace engines {

using QI = kxutl::QuarlenInformation;

FvaSettings::FvaSettings()
    : w1(std::clamp(QI::getFloatFromConfigFile(kMatchingSection, "l1vTol2vWeight"), 0.0f, 1.0f)),
      w2(1.0f - w1),
      l1vOffset(l1vFeatureOffset()),
      l2vMaskOffset(engines::l2vMaskOffset()),
      fingerWeights(10, 1.0f) {}

void readFingerMatchParameters(std::map<std::int32_t, std::uint32_t>& parametersA) {
  parametersA[0] = static_cast<std::uint32_t>(
      QI::getIntFromConfigFile(kMatchingSection, "defaultAngleTolerance"));
  parametersA[1] = static_cast<std::uint32_t>(
      QI::getIntFromConfigFile(kMatchingSection, "fingerDisplaceMentSetting"));
  parametersA[3] = static_cast<std::uint32_t>(
      QI::getIntFromConfigFile(kMatchingSection, "angleConfidenceThreshold"));
}

void applyFingerMatchParameters(qrfpt::MvxFinger& fingerA,
                                const std::map<std::int32_t, std::uint32_t>& parametersA) {
  auto valueOf = [&](std::int32_t keyA) {
    const auto itL = parametersA.find(keyA);
    return itL == parametersA.end() ? 0 : static_cast<int>(itL->second);
  };
  fingerA.setMatchParameters(valueOf(0), valueOf(1), valueOf(3));
}

}  // namespace engines
}  // namespace qridy
