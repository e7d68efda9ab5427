#pragma once

#include <cstdint>
#include <string>

#include <qrlcore/IniFile.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace qridy {

// "l2m": l2m templates scored by an identification run of the finger library's engine. The run
// starts lazily, at the first gallery comparison after a probe was set, with the match settings
// of parameters 0 (angle tolerance), 1 (displacement) and 3 (angle confidence threshold), read at
// construction from "defaultAngleTolerance", "fingerDisplaceMentSetting" and
// "angleConfidenceThreshold" of "TEMPLATE_MATCHING_MULTIPASS". Scores are the engine's
// similarities, 0 to 1. Template facts: quality, minutia count and impression type.
class StageMatchEngine_FP_L2M : public StageMatchEngine_Base {
 public:
  StageMatchEngine_FP_L2M();

  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  std::string templateInfoText(const unsigned char* dataA, unsigned int sizeA,
                               bool isProbeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;
  using StageMatchEngine_Base::verify;
  // The finger engine's own comparison of two whole templates (the gallery's length is taken
  // from its header).
  virtual float verify(const unsigned char* probeDataA, unsigned int probeSizeA,
                       const unsigned char* galleryDataA);

  // Gallery templates compared since the probe was set.
  std::uint32_t matchCount() const { return matchCountM; }
  const qrfpt::MvxFinger& finger() const { return fingerM; }

 private:
  kxutl::IniFile iniM;
  qrfpt::MvxFinger fingerM{iniM};
  std::uint32_t matchCountM = 0;
  float bestScoreM = -1.0f;
};

}  // namespace qridy
