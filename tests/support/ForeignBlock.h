#pragma once

#include <istream>
#include <ostream>
#include <string>

#include <quarlen/TemplateBlockImp.h>

namespace quarlen_test {

// A block of the interface that is not a TemplateBlock_Common.
class ForeignBlock : public qridy::TemplateBlockImp {
 public:
  explicit ForeignBlock(qridy::Algorithm algorithmA = qridy::AlgHgmFloat)
      : algorithmM(algorithmA) {}
  bool validate(std::string&) const override { return true; }
  bool isSymmetric() const override { return false; }
  void reset() override {}
  qridy::Algorithm algorithm() const override { return algorithmM; }
  unsigned short version() const override { return 3; }
  float getQuality() const override { return 0; }
  qridy::FingerImpressionType getImpressionType() const override {
    return qridy::FingerImpressionType{};
  }
  void setData(const unsigned char*, unsigned int, const unsigned char*, unsigned int,
               bool) override {}
  void setMetaData(const unsigned char*, unsigned int) override {}
  std::istream& read(std::istream& isA) override { return isA; }
  std::ostream& write(std::ostream& osA) const override { return osA; }
  std::ostream& writeGalleryTB(std::ostream& osA) const override { return osA; }
  qridy::TemplateBlockImp* copy() const override { return new ForeignBlock(algorithmM); }
  void removeProbeTemplatePart() override {}
  void removeGalleryTemplatePart() override {}
  void removeMetaDataTemplatePart() override {}
  unsigned int checkSum() const override { return 0; }
  const unsigned char* galleryDataPtr() const override { return nullptr; }
  unsigned int gallerySize() const override { return 0; }
  const unsigned char* probeDataPtr() const override { return nullptr; }
  unsigned int probeSize() const override { return 0; }
  const unsigned char* metaDataPtr() const override { return nullptr; }
  unsigned int metaDataSize() const override { return 0; }
  void randomizeFeatures() override {}
  void convertToGalleryAndProbe() override {}

 private:
  qridy::Algorithm algorithmM;
};

}  // namespace quarlen_test
