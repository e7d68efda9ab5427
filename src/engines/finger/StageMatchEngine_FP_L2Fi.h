#pragma once

#include <qrlcore/IniFile.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/StageMatchEngine_Base.h>

namespace qridy {

// "l2fi": l2f templates converted by the finger library (conversion setting: parameter 2 = 2)
// and scored by the FingerL2Fi engine's identification run, which starts when the probe is set.
// A probe that is gallery data (probeIsGalleryData) is converted as gallery data. Parameters 0,
// 1 and 3 as for "l2m". Scores are similarities, 0 to 1.
class StageMatchEngine_FP_L2Fi : public StageMatchEngine_Base {
 public:
  StageMatchEngine_FP_L2Fi();

  void setProbeForIdentification(const unsigned char* dataA, unsigned int sizeA) override;
  float matchGallery(const unsigned char* galleryDataA, unsigned int gallerySizeA) override;

  const qrfpt::FingerprintTemplate& convertedProbe() const { return probeM; }
  const qrfpt::FingerL2Fi& finger() const { return fingerM; }

 private:
  kxutl::IniFile iniM;
  qrfpt::FingerL2Fi fingerM{iniM};
  qrfpt::FingerprintTemplate probeM, galleryM;
};

}  // namespace qridy
