#include "engines/finger/StageMatchEngine_FP_L2F.h"

#include <fstream>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>

#include "engines/EngineSupport.h"
#include "engines/finger/FingerEngineSupport.h"

namespace qridy {
namespace {

using QI = kxutl::QuarlenInformation;

// The raw score's ceiling handed to the matcher with every comparison.
constexpr std::int16_t kMaxRawScore = 2550;

}  // namespace

StageMatchEngine_FP_L2F::StageMatchEngine_FP_L2F()
    : StageMatchEngine_FP_L2F("L2F_logFarScoreMappingFile", 2) {}

StageMatchEngine_FP_L2F::StageMatchEngine_FP_L2F(const char* mappingKeyA, std::uint32_t flavourA)
    : mappingKeyM(mappingKeyA), mapperM(nullptr, qrscore::destroyNormalizer) {
  parametersM[2] = flavourA;
  useAngleEstimationM =
      QI::getBoolFromConfigFile(engines::kMatchingSection, "l2fUseAngleEstimation", true);
  defaultAngleToleranceM = static_cast<std::uint8_t>(
      QI::getIntFromConfigFile(engines::kMatchingSection, "defaultAngleTolerance"));
  angleConfidenceThresholdM = static_cast<std::uint8_t>(
      QI::getIntFromConfigFile(engines::kMatchingSection, "angleConfidenceThreshold"));
  matcherM.SetDefaultRotationTolerance(defaultAngleToleranceM);
  matcherM.SetAngleOffsetConfidenceThreshold(angleConfidenceThresholdM);
  initScoreMapFile();
}

StageMatchEngine_FP_L2F::~StageMatchEngine_FP_L2F() = default;

void StageMatchEngine_FP_L2F::initScoreMapFile() {
  const std::string fileL = QI::getStdStringFromConfigFile(engines::kMatchingSection, mappingKeyM);
  std::ifstream inL(fileL, std::ios::binary);
  std::ostringstream textL;
  if (!inL.is_open() || !(textL << inL.rdbuf())) {
    KXXCP_THROW("qridy::StageMatchEngine_FP_L2F::initScoreMapFile",
                "Could not open logFar score mapping file: " << fileL);
  }
  qrscore::ScoreNormalizer* mapperL = nullptr;
  const int codeL = qrscore::createNormalizerFromText(&mapperL, textL.str().c_str());
  if (codeL != qrscore::ScoreCurveOk) {
    KXXCP_THROW(
        "qridy::StageMatchEngine_FP_L2F::initScoreMapFile",
        "Could not create logFar score mapper with: " << fileL << "( error : " << codeL << ")");
  }
  mapperM.reset(mapperL);
}

std::string StageMatchEngine_FP_L2F::templateInfoText(const unsigned char* dataA,
                                                      unsigned int sizeA, bool isProbeA) {
  if (dataA == nullptr || sizeA < 6) return std::string();
  std::ostringstream textL;
  engines::appendFact(textL, isProbeA ? "probeMinutiaCount" : "galleryMinutiaCount",
                      minutiaCount(dataA));
  engines::appendFact(textL, isProbeA ? "probeOrientation" : "galleryOrientation",
                      static_cast<int>(static_cast<std::int8_t>(dataA[5])));
  return textL.str();
}

std::uint16_t StageMatchEngine_FP_L2F::minutiaCount(const unsigned char* dataA) {
  return coding::decodeFixed16(dataA + 2);
}

float StageMatchEngine_FP_L2F::matchGallery(const unsigned char* galleryDataA,
                                            unsigned int gallerySizeA) {
  float scoreL = 0.0f;
  if (matcherM.MatchTemplates(probeDataM, probeDataSizeM, galleryDataA, gallerySizeA,
                              static_cast<int>(parametersM[2]), &scoreL,
                              static_cast<std::int16_t>(useAngleEstimationM ? -1 : 0), kMaxRawScore,
                              nullptr, nullptr) != 0) {
    return 0.0f;
  }
  // The mapping writes its result over its input; on an error the input stays.
  scoreL /= 100.0f;
  const int codeL = qrscore::normalizeScore(mapperM.get(), scoreL, &scoreL);
  if (codeL != qrscore::ScoreCurveOk) {
    kxntc::error << mappingErrorText() << codeL;
    kxntc::notify(kxntc::error);
  }
  return finalScore(scoreL);
}

}  // namespace qridy
