#include "multipass/FingerprintGallerySupport.h"

#include <memory>
#include <mutex>

#include <qrlcore/IniFile.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>

namespace qrbase {
namespace {

// The finger library itself: trims l2f templates with one MvxFinger made on first use from an
// empty setting. Its l2f and l2m templates carry their own minutia count and so have no fixed
// gallery size: their stages take the slot size from the first template.
class FingerLibraryGallerySupport : public FingerprintGallerySupport {
 public:
  unsigned int galleryTemplateSize(qridy::Algorithm) const override { return 0; }

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
