#include "engines/face/StageMatchEngine_Face_HgmPyr.h"

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/FaceHGM.h>

#include "engines/EngineSupport.h"

namespace qridy {

const StageMatchEngine_Face_HgmPyr::Settings& StageMatchEngine_Face_HgmPyr::processSettings() {
  // The first construction reads the configuration; later changes of it have no effect.
  static const Settings settingsS = [] {
    using kxutl::QuarlenInformation;
    Settings sL;
    sL.useLda =
        QuarlenInformation::getBoolFromConfigFile(engines::kMatchingSection, "hgmPyr_useLDA");
    sL.dataType = QuarlenInformation::getStdStringFromConfigFile(engines::kMatchingSection,
                                                                 "hgmPyr_dataType");
    return sL;
  }();
  return settingsS;
}

StageMatchEngine_Face_HgmPyr::StageMatchEngine_Face_HgmPyr() : settingsM(processSettings()) {}

StageMatchEngine_Face_HgmPyr::~StageMatchEngine_Face_HgmPyr() = default;

void StageMatchEngine_Face_HgmPyr::init(Algorithm algorithmA) {
  StageMatchEngine_Base::init(algorithmA);
  // The matcher's data folder below the configuration directory (this system builds for
  // POSIX paths).
  faceHgmM = std::make_unique<kxegm::FaceHGM>(
      kxutl::QuarlenInformation::quarlenConfigDir() + "/Face/HGMPyr/", "none", "", "",
      settingsM.useLda, settingsM.dataType);
}

void StageMatchEngine_Face_HgmPyr::setProbeForIdentification(const unsigned char* dataA,
                                                             unsigned int sizeA) {
  probeTemplateM.reset();
  if (!faceHgmM) init(algorithmM);
  probeTemplateM = std::make_unique<kxegm::FaceHGMTemplate>(dataA, sizeA, *faceHgmM);
}

float StageMatchEngine_Face_HgmPyr::matchGallery(const unsigned char* galleryDataA,
                                                 unsigned int gallerySizeA) {
  if (!probeTemplateM) return 0.0f;
  std::unique_ptr<kxegm::FaceHGMTemplate> galleryL;
  try {
    galleryL = std::make_unique<kxegm::FaceHGMTemplate>(galleryDataA, gallerySizeA, *faceHgmM);
  } catch (const kxxcp::Exception&) {
    return 0.0f;
  }
  return faceHgmM->match(*galleryL, *probeTemplateM);
}

}  // namespace qridy
