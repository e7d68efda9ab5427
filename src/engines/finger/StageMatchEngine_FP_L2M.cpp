#include "engines/finger/StageMatchEngine_FP_L2M.h"

#include <sstream>

#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

StageMatchEngine_FP_L2M::StageMatchEngine_FP_L2M() {
  engines::readFingerMatchParameters(parametersM);
}

void StageMatchEngine_FP_L2M::setProbeForIdentification(const unsigned char* dataA,
                                                        unsigned int sizeA) {
  matchCountM = 0;
  StageMatchEngine_Base::setProbeForIdentification(dataA, sizeA);
}

std::string StageMatchEngine_FP_L2M::templateInfoText(const unsigned char* dataA,
                                                      unsigned int sizeA, bool isProbeA) {
  float qualityL = 0.0f;
  std::uint16_t countL = 0;
  unsigned int typeL = 12345678;
  qrfpt::MvxFinger::getQualityFromL2MTemplate(dataA, sizeA, qualityL, countL, typeL);
  std::ostringstream textL;
  engines::appendFact(textL, isProbeA ? "probeQuality" : "galleryQuality", qualityL);
  engines::appendFact(textL, isProbeA ? "probeMinutiaCount" : "galleryMinutiaCount", countL);
  engines::appendFact(textL, isProbeA ? "probeImpressionType" : "galleryImpressionType",
                      Types::fingerImpressionType2Text(static_cast<FingerImpressionType>(typeL)));
  return textL.str();
}

float StageMatchEngine_FP_L2M::matchGallery(const unsigned char* galleryDataA,
                                            unsigned int gallerySizeA) {
  if (matchCountM == 0) {
    engines::applyFingerMatchParameters(fingerM, parametersM);
    bestScoreM = -1.0f;
    fingerM.identifyStart(probeDataM, probeDataSizeM);
  }
  ++matchCountM;
  return fingerM.identifyNext(galleryDataA, gallerySizeA);
}

float StageMatchEngine_FP_L2M::verify(const unsigned char* probeDataA, unsigned int probeSizeA,
                                      const unsigned char* galleryDataA) {
  // A whole template announces its length in its header.
  const std::size_t galleryBytesL = qrfpt::templateBytes(
      galleryDataA, qrfpt::kHeaderBytes + qrfpt::kMinutiaBytes * qrfpt::kMaxMinutiae);
  return fingerM.verify(probeDataA, probeSizeA, galleryDataA, galleryBytesL);
}

}  // namespace qridy
