#include "engines/face/StageMatchEngine_Face_STA.h"

#include <qrlcore/Exception.h>
#include <qrlface/STAEngine.h>

#include "engines/EngineSupport.h"

namespace qridy {

StageMatchEngine_Face_STA::StageMatchEngine_Face_STA()
    : staM(std::make_unique<kxegm::STAEngine>()) {}

StageMatchEngine_Face_STA::~StageMatchEngine_Face_STA() = default;

void StageMatchEngine_Face_STA::setProbeForIdentification(const unsigned char* dataA,
                                                          unsigned int sizeA) {
  probeTemplateM.reset();
  probeTemplateM.reset(staM->readProbeFromBlob(dataA, sizeA));
}

float StageMatchEngine_Face_STA::matchGallery(const unsigned char* galleryDataA,
                                              unsigned int gallerySizeA) {
  if (!probeTemplateM) return 0.0f;
  const std::unique_ptr<MX::STAGalleryTemplate> galleryL(
      staM->readGalleryFromBlob(galleryDataA, gallerySizeA));
  return staM->verify(*galleryL, *probeTemplateM);
}

const unsigned char* StageMatchEngine_Face_STA::extractRawData(const TemplateBlockImp* blockA,
                                                               unsigned int& sizeA,
                                                               bool probePartA) {
  engines::requireCommonBlock(blockA, sizeA, "qridy::StageMatchEngine_Face_STA::extractRawData");
  return StageMatchEngine_Base::extractRawData(blockA, sizeA, probePartA);
}

}  // namespace qridy
