#pragma once

#include <cstdint>
#include <vector>

#include <qrlimage/Image.h>
#include <qrliris/IrisQualityCheckResult.h>
#include <quarlen/BioDescriptor.h>

namespace qrbase {

// A located iris: the images of the capture (not owned: they belong to the caller and must
// outlive the descriptor's use), the iris code as probe and gallery data (owned copies), and
// the iris library's quality check result.
//
// Stream part after the header: a 32-bit zero (presence flags; nothing follows, so a stored
// iris descriptor is 61 bytes). Other flag values are refused
// ("BioDescriptor::read:  Invalid iris flags '<n>'").
class QUARLEN_EXPORT IrisDescriptor : public BioDescriptor {
 public:
  IrisDescriptor() = default;
  IrisDescriptor(const IrisDescriptor&) = default;
  IrisDescriptor& operator=(const IrisDescriptor&) = default;
  ~IrisDescriptor() override;

  BioDescriptorType type() const override { return BioDescriptorTypeIris; }
  qridy::Modality modality() const override { return qridy::ModalityIris; }
  void write(std::ostream& osA, bool withInputImageA) const override;
  void read(std::istream& isA, const qrimg::Image* imageA) override;

  const qrimg::Image* inputImage() const { return inputImageM; }
  void setInputImage(const qrimg::Image* imageA) { inputImageM = imageA; }
  const qrimg::Image* preprocessedImage() const { return preprocessedImageM; }
  void setPreprocessedImage(const qrimg::Image* imageA) { preprocessedImageM = imageA; }
  const qrimg::Image* isoOutputImage() const { return isoOutputImageM; }
  void setIsoOutputImage(const qrimg::Image* imageA) { isoOutputImageM = imageA; }

  // Null when empty.
  const unsigned char* probeData() const {
    return probeDataM.empty() ? nullptr : probeDataM.data();
  }
  std::uint32_t probeSize() const { return static_cast<std::uint32_t>(probeDataM.size()); }
  const unsigned char* galleryData() const {
    return galleryDataM.empty() ? nullptr : galleryDataM.data();
  }
  std::uint32_t gallerySize() const { return static_cast<std::uint32_t>(galleryDataM.size()); }
  // Copies the bytes (a null pointer clears).
  void setProbeData(const unsigned char* dataA, std::uint32_t sizeA);
  void setGalleryData(const unsigned char* dataA, std::uint32_t sizeA);

  const kxegm::IrisQualityCheckResult& irisQcheckResult() const { return qcheckResultM; }
  void setIrisQcheckResult(const kxegm::IrisQualityCheckResult& resultA) {
    qcheckResultM = resultA;
  }

 private:
  const qrimg::Image* inputImageM = nullptr;
  const qrimg::Image* preprocessedImageM = nullptr;
  const qrimg::Image* isoOutputImageM = nullptr;
  std::vector<unsigned char> probeDataM;
  std::vector<unsigned char> galleryDataM;
  kxegm::IrisQualityCheckResult qcheckResultM;
};

}  // namespace qrbase
