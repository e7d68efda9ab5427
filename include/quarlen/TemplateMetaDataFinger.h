#pragma once

#include <cstdint>

#include <quarlen/TemplateMetaDataBase.h>

namespace qridy {

// Metadata of a fingerprint sample (modality 2, format version 2; version 1 has the same layout
// and is read too): the impression type, six values of the fingerprint engine (stored and
// returned without interpretation) and the sample quality. Record: "MD", 2, 2,
// impressionType (uint16), fingerValue1 (uint16), fingerValue2 (uint8), fingerValue3 (uint8),
// fingerValue4..6 (uint16 each), quality (float32): 22 bytes.
class QUARLEN_EXPORT TemplateMetaDataFinger : public TemplateMetaDataBase {
 public:
  TemplateMetaDataFinger() = default;
  TemplateMetaDataFinger(const TemplateMetaDataFinger&) = default;
  TemplateMetaDataFinger& operator=(const TemplateMetaDataFinger&) = default;
  ~TemplateMetaDataFinger() override;

  std::istream& read(std::istream& isA) override;
  std::ostream& write(std::ostream& osA) const override;
  Modality modality() const override { return ModalityFingerprint; }

  static constexpr unsigned short kVersion = 2;

  FingerImpressionType impressionType() const { return impressionTypeM; }
  void setImpressionType(FingerImpressionType typeA) { impressionTypeM = typeA; }
  std::uint16_t fingerValue1() const { return fingerValue1M; }
  void setFingerValue1(std::uint16_t valueA) { fingerValue1M = valueA; }
  std::uint8_t fingerValue2() const { return fingerValue2M; }
  void setFingerValue2(std::uint8_t valueA) { fingerValue2M = valueA; }
  std::uint8_t fingerValue3() const { return fingerValue3M; }
  void setFingerValue3(std::uint8_t valueA) { fingerValue3M = valueA; }
  std::uint16_t fingerValue4() const { return fingerValue4M; }
  void setFingerValue4(std::uint16_t valueA) { fingerValue4M = valueA; }
  std::uint16_t fingerValue5() const { return fingerValue5M; }
  void setFingerValue5(std::uint16_t valueA) { fingerValue5M = valueA; }
  std::uint16_t fingerValue6() const { return fingerValue6M; }
  void setFingerValue6(std::uint16_t valueA) { fingerValue6M = valueA; }
  float quality() const { return qualityM; }
  void setQuality(float qualityA) { qualityM = qualityA; }

 private:
  FingerImpressionType impressionTypeM = ImpressionLatentImpression;  // 16 bits in the record
  std::uint16_t fingerValue1M = 0;
  std::uint8_t fingerValue2M = 0;
  std::uint8_t fingerValue3M = 181;
  std::uint16_t fingerValue4M = 250;
  std::uint16_t fingerValue5M = 0;
  std::uint16_t fingerValue6M = 0;
  float qualityM = 0.0f;
};

}  // namespace qridy
