#pragma once

#include <memory>
#include <string>

#include <quarlen/StageMatchEngine_Base.h>

namespace kxegm {
class FaceHGM;
class FaceHGMTemplate;
}  // namespace kxegm

namespace qridy {

// "hgmPyr": pyramid templates scored by the face library's matcher (kxegm::FaceHGM), created in
// init() from the configuration directory and the process-wide settings "hgmPyr_useLDA" (bool)
// and "hgmPyr_dataType" (text), read once at the first construction.
// The probe is held as a parsed library template from setProbeForIdentification until the next
// probe or destruction (releaseProbe leaves it). Score: FaceHGM::match(gallery, probe); 0.0 when
// no probe is set or the gallery bytes do not make a template.
class StageMatchEngine_Face_HgmPyr : public StageMatchEngine_Base {
 public:
  struct Settings {
    bool useLda = false;
    std::string dataType;
  };

  StageMatchEngine_Face_HgmPyr();
  ~StageMatchEngine_Face_HgmPyr() override;

  void init(Algorithm algorithmA) override;
  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  static const Settings& processSettings();
  bool hasProbeTemplate() const { return probeTemplateM != nullptr; }

 private:
  Settings settingsM;
  std::unique_ptr<kxegm::FaceHGM> faceHgmM;
  std::unique_ptr<kxegm::FaceHGMTemplate> probeTemplateM;
};

}  // namespace qridy
