#pragma once

// Galleries of synthetic finger templates: their l2f and l2m templates differ in length, so the
// tests give those stages one fixed slot (room for kFingerSlotMinutiae minutiae) while the object
// lives. Trimming stays with the finger library.

#include <qrlfinger/MinutiaeTemplate.h>

#include "multipass/FingerprintGallerySupport.h"

namespace quarlen_test {

class ScopedFingerSlots : public qrbase::FingerprintGallerySupport {
 public:
  static constexpr unsigned int kFingerSlotMinutiae = 160;

  ScopedFingerSlots() : libraryM(qrbase::fingerprintGallerySupport()) {
    qrbase::setFingerprintGallerySupport(this);
  }
  ~ScopedFingerSlots() override { qrbase::setFingerprintGallerySupport(nullptr); }
  ScopedFingerSlots(const ScopedFingerSlots&) = delete;
  ScopedFingerSlots& operator=(const ScopedFingerSlots&) = delete;

  unsigned int galleryTemplateSize(qridy::Algorithm) const override {
    return static_cast<unsigned int>(qrfpt::kHeaderBytes +
                                     qrfpt::kMinutiaBytes * kFingerSlotMinutiae);
  }
  void trimL2fTemplates(qridy::IdRecordImp& recordA, int maxMinutiaeA) override {
    libraryM->trimL2fTemplates(recordA, maxMinutiaeA);
  }

 private:
  qrbase::FingerprintGallerySupport* libraryM;
};

}  // namespace quarlen_test
