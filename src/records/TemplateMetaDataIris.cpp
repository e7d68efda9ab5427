#include <quarlen/TemplateMetaDataIris.h>

namespace qridy {

TemplateMetaDataIris::~TemplateMetaDataIris() = default;

std::istream& TemplateMetaDataIris::read(std::istream& isA) {
  // The iris version message spells its kind with a capital I.
  readValuePairRecord(isA, "qridy::TemplateMetaDataIris::read", "Iris", irisValue1M, irisValue2M,
                      qualityM);
  return isA;
}

std::ostream& TemplateMetaDataIris::write(std::ostream& osA) const {
  writeValuePairRecord(osA, "qridy::TemplateMetaDataIris::write", irisValue1M, irisValue2M,
                       qualityM);
  return osA;
}

}  // namespace qridy
