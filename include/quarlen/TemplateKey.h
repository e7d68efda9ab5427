#pragma once

#include <ostream>
#include <string>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

// Names one template inside an identity record: modality, instance and sample id. A default key
// is all zero; keys are equal when all four values (modality, instance, high, low) are.
class QUARLEN_EXPORT TemplateKey {
 public:
  TemplateKey() = default;
  TemplateKey(Modality modalityA, Instance instanceA, KXuint128 sampleIdA)
      : modality(modalityA), instance(instanceA), sampleId(sampleIdA) {}

  bool operator==(const TemplateKey& otherA) const {
    return modality == otherA.modality && instance == otherA.instance &&
           sampleId == otherA.sampleId;
  }
  bool operator!=(const TemplateKey& otherA) const { return !(*this == otherA); }
  // Modality, then instance, then sample id: a key fits ordered containers.
  bool operator<(const TemplateKey& otherA) const {
    if (modality != otherA.modality) return modality < otherA.modality;
    if (instance != otherA.instance) return instance < otherA.instance;
    return sampleId < otherA.sampleId;
  }

  // The text form used in messages: "(modality, instance, low, high)" with decimal numbers and a
  // line end.
  std::string text() const;

  Modality modality = ModalityUnknown;
  Instance instance = InstanceUnknown;
  KXuint128 sampleId;
};

QUARLEN_EXPORT std::ostream& operator<<(std::ostream& osA, const TemplateKey& keyA);

}  // namespace qridy
