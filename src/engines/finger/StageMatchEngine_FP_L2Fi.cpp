#include "engines/finger/StageMatchEngine_FP_L2Fi.h"

#include "engines/finger/FingerEngineSupport.h"

namespace qridy {

StageMatchEngine_FP_L2Fi::StageMatchEngine_FP_L2Fi() {
  engines::readFingerMatchParameters(parametersM);
  parametersM[2] = 2;
}

void StageMatchEngine_FP_L2Fi::setProbeForIdentification(const unsigned char* dataA,
                                                         unsigned int sizeA) {
  StageMatchEngine_Base::setProbeForIdentification(dataA, sizeA);
  fingerM.convertL2FTemplateToBE5(probeDataM, probeDataSizeM, probeM, !probeIsGalleryData(),
                                  static_cast<int>(parametersM[2]));
  engines::applyFingerMatchParameters(fingerM, parametersM);
  fingerM.identifyStart(probeM);
}

float StageMatchEngine_FP_L2Fi::matchGallery(const unsigned char* galleryDataA,
                                             unsigned int gallerySizeA) {
  fingerM.convertL2FTemplateToBE5(galleryDataA, gallerySizeA, galleryM, false,
                                  static_cast<int>(parametersM[2]));
  return fingerM.identifyNext(galleryM);
}

}  // namespace qridy
