#pragma once

#include <cstdint>

#include <quarlen/TemplateMetaDataBase.h>

namespace qridy {

// Metadata of a face sample (modality 1, format version 1): the size of the face image and the
// sample quality. Record: "MD", 1, 1, imageWidth (uint16), imageHeight (uint16), quality
// (float32): 14 bytes.
class QUARLEN_EXPORT TemplateMetaDataFace : public TemplateMetaDataBase {
 public:
  TemplateMetaDataFace() = default;
  TemplateMetaDataFace(const TemplateMetaDataFace&) = default;
  TemplateMetaDataFace& operator=(const TemplateMetaDataFace&) = default;
  ~TemplateMetaDataFace() override;

  std::istream& read(std::istream& isA) override;
  std::ostream& write(std::ostream& osA) const override;
  Modality modality() const override { return ModalityFace; }

  std::uint16_t imageWidth() const { return imageWidthM; }
  void setImageWidth(std::uint16_t widthA) { imageWidthM = widthA; }
  std::uint16_t imageHeight() const { return imageHeightM; }
  void setImageHeight(std::uint16_t heightA) { imageHeightM = heightA; }
  float quality() const { return qualityM; }
  void setQuality(float qualityA) { qualityM = qualityA; }

 private:
  std::uint16_t imageWidthM = 0;   // pixels
  std::uint16_t imageHeightM = 0;  // pixels
  float qualityM = 0.0f;
};

}  // namespace qridy
