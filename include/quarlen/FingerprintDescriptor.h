#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <qrlimage/Image.h>
#include <quarlen/BioDescriptor.h>

namespace qrbase {

// Unit of the stored scan resolution.
enum ResolutionUnit : std::uint32_t {
  ResolutionUnitNone = 0,           // resolution not known
  ResolutionUnitPerInch = 1,        // pixels per inch
  ResolutionUnitPerCentimetre = 2,  // pixels per centimetre
};

// How far the estimated rotation of the finger can be trusted.
enum RotationConfidence : std::uint32_t {
  RotationConfidenceUnknown = 0,
  RotationConfidenceLow = 1,
  RotationConfidenceMedium = 2,
  RotationConfidenceHigh = 3,
};

// A located fingerprint: capture facts, the input and working images (owned copies), auxiliary
// data of the fingerprint engines and the capture-quality figures with their thresholds.
//
// Stream part after the header: presence flags (32 bits: bit 0 input image, written only when
// the image exists and the writer asks for it; bit 1 working image), the present images as
// complete PNG files in that order, then x resolution, y resolution, resolution unit and
// certificate value (32 bits each). Other flag bits are refused
// ("BioDescriptor::read:  Invalid fingerprint flags '<n>'"). Everything else stays in memory
// only.
class QUARLEN_EXPORT FingerprintDescriptor : public BioDescriptor {
 public:
  FingerprintDescriptor() = default;
  FingerprintDescriptor(const FingerprintDescriptor& otherA);
  FingerprintDescriptor& operator=(const FingerprintDescriptor& otherA);
  ~FingerprintDescriptor() override;

  BioDescriptorType type() const override { return BioDescriptorTypeFingerprint; }
  qridy::Modality modality() const override { return qridy::ModalityFingerprint; }
  void write(std::ostream& osA, bool withInputImageA) const override;
  // A stream without input image takes a copy of imageA (when given) as input image.
  void read(std::istream& isA, const qrimg::Image* imageA) override;

  // Images: the setters copy.
  const qrimg::Image* inputImage() const { return inputImageM.get(); }
  void setInputImage(const qrimg::Image* imageA);
  const qrimg::Image* workingImage() const { return workingImageM.get(); }
  void setWorkingImage(const qrimg::Image* imageA);

  // Opaque data of the fingerprint engines (owned copies).
  const std::vector<unsigned char>& l2mAuxData() const { return l2mAuxDataM; }
  void setL2mAuxData(std::vector<unsigned char> dataA) { l2mAuxDataM = std::move(dataA); }
  const std::vector<unsigned char>& standardAuxData() const { return standardAuxDataM; }
  void setStandardAuxData(std::vector<unsigned char> dataA) { standardAuxDataM = std::move(dataA); }
  const std::vector<unsigned char>& be5Template() const { return be5TemplateM; }
  void setBe5Template(std::vector<unsigned char> dataA) { be5TemplateM = std::move(dataA); }

  std::uint32_t xResolution() const { return xResolutionM; }
  std::uint32_t yResolution() const { return yResolutionM; }
  ResolutionUnit resolutionUnit() const { return resolutionUnitM; }
  void setResolution(std::uint32_t xA, std::uint32_t yA, ResolutionUnit unitA) {
    xResolutionM = xA;
    yResolutionM = yA;
    resolutionUnitM = unitA;
  }
  // The x resolution converted to pixels per inch and per metre; 0 when the unit is unknown.
  double resolutionPerInch() const;
  double resolutionPerMetre() const;

  std::uint32_t certificate() const { return certificateM; }
  void setCertificate(std::uint32_t certificateA) { certificateM = certificateA; }
  bool queryCertificate(std::uint32_t valueA) const { return certificateM == valueA; }

  qridy::FingerImpressionType impressionType() const { return impressionTypeM; }
  void setImpressionType(qridy::FingerImpressionType typeA) { impressionTypeM = typeA; }
  std::int16_t rotationAngle() const { return rotationAngleM; }
  RotationConfidence rotationConfidence() const { return rotationConfidenceM; }
  void setRotation(std::int16_t angleA, RotationConfidence confidenceA) {
    rotationAngleM = angleA;
    rotationConfidenceM = confidenceA;
  }
  std::uint8_t rotationTolerance() const { return rotationToleranceM; }
  void setRotationTolerance(std::uint8_t v) { rotationToleranceM = v; }
  std::uint8_t maxMinutiaCount() const { return maxMinutiaCountM; }
  void setMaxMinutiaCount(std::uint8_t v) { maxMinutiaCountM = v; }
  std::uint8_t classification() const { return classificationM; }
  float classificationConfidence() const { return classificationConfidenceM; }
  void setClassification(std::uint8_t classA, float confidenceA) {
    classificationM = classA;
    classificationConfidenceM = confidenceA;
  }

  // Capture-quality figures and the minimum each must reach.
  struct CaptureQuality {
    std::uint32_t contactArea = 0;
    std::uint32_t goodArea = 0;
    std::uint32_t darkArea = 0;
    std::uint32_t lightArea = 0;
    std::uint32_t smearArea = 0;
    std::uint32_t minutiaCount = 0;
    std::uint32_t l2mQuality = 0;
    float qualityConfidence = 0.0f;
  };
  struct CaptureThresholds {
    std::uint32_t minContactArea = 0;
    std::uint32_t minGoodArea = 0;
    std::uint32_t minL2mQuality = 0;
    std::uint32_t minMinutiaCount = 0;
    float minQuality = 0.0f;
  };
  const CaptureQuality& captureQuality() const { return captureQualityM; }
  void setCaptureQuality(const CaptureQuality& qualityA) { captureQualityM = qualityA; }
  const CaptureThresholds& captureThresholds() const { return captureThresholdsM; }
  void setCaptureThresholds(const CaptureThresholds& thresholdsA) {
    captureThresholdsM = thresholdsA;
  }
  // True when every figure reaches its minimum (the quality confidence against minQuality).
  bool meetsCaptureThresholds() const;

 private:
  std::unique_ptr<qrimg::Image> inputImageM;
  std::unique_ptr<qrimg::Image> workingImageM;
  std::vector<unsigned char> l2mAuxDataM;
  std::vector<unsigned char> standardAuxDataM;
  std::vector<unsigned char> be5TemplateM;
  std::uint32_t xResolutionM = 0;
  std::uint32_t yResolutionM = 0;
  ResolutionUnit resolutionUnitM = ResolutionUnitNone;
  std::uint32_t certificateM = 0;
  qridy::FingerImpressionType impressionTypeM = qridy::ImpressionLatentImpression;
  std::int16_t rotationAngleM = 0;
  RotationConfidence rotationConfidenceM = RotationConfidenceUnknown;
  std::uint8_t rotationToleranceM = 0;
  std::uint8_t maxMinutiaCountM = 0;
  std::uint8_t classificationM = 0;
  float classificationConfidenceM = 0.0f;
  CaptureQuality captureQualityM;
  CaptureThresholds captureThresholdsM;
};

}  // namespace qrbase
