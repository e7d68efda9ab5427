#pragma once

#include <memory>

#include <quarlen/StageMatchEngine_Base.h>

namespace kxegm {
class STAEngine;
}
namespace MX {
class STAProbeTemplate;
}

namespace qridy {

// "sta": templates read and compared by the face library's STA engine. The probe is held as a
// parsed library template from setProbeForIdentification until the next probe or destruction
// (releaseProbe leaves it). Score: kxegm::STAEngine::verify(gallery, probe) in [0, 1]; 0.0
// without a probe.
class StageMatchEngine_Face_STA : public StageMatchEngine_Base {
 public:
  StageMatchEngine_Face_STA();
  ~StageMatchEngine_Face_STA() override;

  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  // The base behaviour, failing with "Bad dynamic cast could not extract template data"
  // (function "qridy::StageMatchEngine_Face_STA::extractRawData").
  const unsigned char* extractRawData(const TemplateBlockImp* blockA, unsigned int& sizeA,
                                      bool probePartA) override;

 private:
  std::unique_ptr<kxegm::STAEngine> staM;
  std::unique_ptr<MX::STAProbeTemplate> probeTemplateM;
};

}  // namespace qridy
