#pragma once

#include <cstdint>

#include <quarlen/TemplateMetaDataBase.h>

namespace qridy {

// Metadata of an iris sample (modality 3, format version 1): two values of the iris engine's
// quality check, stored and returned without interpretation, and the sample quality. Record:
// "MD", 3, 1, irisValue1 (uint16), irisValue2 (uint16), quality (float32): 14 bytes.
class QUARLEN_EXPORT TemplateMetaDataIris : public TemplateMetaDataBase {
 public:
  TemplateMetaDataIris() = default;
  TemplateMetaDataIris(const TemplateMetaDataIris&) = default;
  TemplateMetaDataIris& operator=(const TemplateMetaDataIris&) = default;
  ~TemplateMetaDataIris() override;

  std::istream& read(std::istream& isA) override;
  std::ostream& write(std::ostream& osA) const override;
  Modality modality() const override { return ModalityIris; }

  std::uint16_t irisValue1() const { return irisValue1M; }
  void setIrisValue1(std::uint16_t valueA) { irisValue1M = valueA; }
  std::uint16_t irisValue2() const { return irisValue2M; }
  void setIrisValue2(std::uint16_t valueA) { irisValue2M = valueA; }
  float quality() const { return qualityM; }
  void setQuality(float qualityA) { qualityM = qualityA; }

 private:
  std::uint16_t irisValue1M = 0;
  std::uint16_t irisValue2M = 0;
  float qualityM = 0.0f;
};

}  // namespace qridy
