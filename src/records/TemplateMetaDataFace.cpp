#include <quarlen/TemplateMetaDataFace.h>

namespace qridy {

TemplateMetaDataFace::~TemplateMetaDataFace() = default;

std::istream& TemplateMetaDataFace::read(std::istream& isA) {
  readValuePairRecord(isA, "qridy::TemplateMetaDataFace::read", "face", imageWidthM, imageHeightM,
                      qualityM);
  return isA;
}

std::ostream& TemplateMetaDataFace::write(std::ostream& osA) const {
  writeValuePairRecord(osA, "qridy::TemplateMetaDataFace::write", imageWidthM, imageHeightM,
                       qualityM);
  return osA;
}

}  // namespace qridy
