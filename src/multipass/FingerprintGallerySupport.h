#pragma once

// What the gallery needs from the finger engine library: the fixed gallery size of the l2f and
// l2m templates (the slot size of their stages) and the trimming of l2f templates to a number of
// minutiae before enrolment. By default the finger library (qrfpt::MvxFinger) trims, and l2f and
// l2m stages take their slot size from their first template like every other algorithm (its
// templates have no fixed size); another implementation can be installed with
// setFingerprintGallerySupport.

#include <quarlen/IdRecordImp.h>
#include <quarlen/Types.h>

namespace qrbase {

class FingerprintGallerySupport {
 public:
  virtual ~FingerprintGallerySupport() = default;
  // The gallery size in bytes of one template of algorithmA (l2f or l2m), 0 when unknown.
  virtual unsigned int galleryTemplateSize(qridy::Algorithm algorithmA) const = 0;
  // Trims every l2f template of recordA to at most maxMinutiaeA minutiae, in place. Throws
  // kxxcp::Exception on failure.
  virtual void trimL2fTemplates(qridy::IdRecordImp& recordA, int maxMinutiaeA) = 0;
};

// The installed implementation (not owned), or the finger library's when none is installed (or
// null was installed). Install before stages and containers are created; not synchronised.
FingerprintGallerySupport* fingerprintGallerySupport();
void setFingerprintGallerySupport(FingerprintGallerySupport* supportA);

}  // namespace qrbase
