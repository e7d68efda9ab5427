#include "multipass/FingerprintGallerySupport.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include <qrlcore/IniFile.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/MinutiaeTemplate.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>

namespace qrbase {
namespace {

// The finger library itself: trims l2f templates with one MvxFinger made on first use from an
// empty setting. Its l2f and l2m templates carry their own minutia count, so their length varies;
// a stage gives each the room of the longest: the configured trimming count of the gallery's l2f
// templates ("L2fMaxMinutiaCountForGallery" of section "TEMPLATE_MATCHING_MULTIPASS", when above
// 0), else the format's maximum.
class FingerLibraryGallerySupport : public FingerprintGallerySupport {
 public:
  unsigned int galleryTemplateSize(qridy::Algorithm algorithmA) const override {
    unsigned int minutiaeL = qrfpt::kMaxMinutiae;
    if (algorithmA == qridy::AlgL2f) {
      const int trimL = kxutl::QuarlenInformation::getIntFromConfigFile(
          "TEMPLATE_MATCHING_MULTIPASS", "L2fMaxMinutiaCountForGallery", -1);
      if (trimL > 0)
        minutiaeL = std::min<unsigned int>(minutiaeL, static_cast<unsigned int>(trimL));
    }
    return static_cast<unsigned int>(qrfpt::kHeaderBytes + qrfpt::kMinutiaBytes * minutiaeL);
  }

  void trimL2fTemplates(qridy::IdRecordImp& recordA, int maxMinutiaeA) override {
    qrfpt::MvxFinger* engineL = engine();
    const unsigned int countL = maxMinutiaeA < 0 ? 0u : static_cast<unsigned int>(maxMinutiaeA);
    qridy::IdRecordImp* trimmedL =
        qridy::IdRecordFingerDecorator::trimL2FTemplates(&recordA, engineL, 0, countL);
    // The record itself comes back when it holds no l2f block: nothing to replace.
    if (trimmedL == nullptr || trimmedL == &recordA) return;
    const std::unique_ptr<qridy::IdRecordImp> ownedL(trimmedL);
    recordA = *ownedL;
  }

 private:
  qrfpt::MvxFinger* engine() {
    std::call_once(onceM, [this] {
      const kxutl::IniFile emptyL;
      engineM = std::make_unique<qrfpt::MvxFinger>(emptyL);
    });
    return engineM.get();
  }

  std::once_flag onceM;
  std::unique_ptr<qrfpt::MvxFinger> engineM;
};

FingerprintGallerySupport* supportS = nullptr;

}  // namespace

FingerprintGallerySupport* fingerprintGallerySupport() {
  if (supportS != nullptr) return supportS;
  static FingerLibraryGallerySupport libraryS;
  return &libraryS;
}

void setFingerprintGallerySupport(FingerprintGallerySupport* supportA) {
  supportS = supportA;
}

}  // namespace qrbase
