#pragma once

#include <cstdint>
#include <memory>

#include <quarlen/TemplateBlockImp.h>

namespace qridy {

// The template block. Owns its three parts; a part's pointer is null exactly when its size is 0,
// and after every successful setter, read or copy each stored checksum is the sum of its part.
//
// Record layout (format version 3, little-endian, no padding):
//   "TB", version (uint16), algorithm (uint16), isSymmetric (uint8),
//   galleryChecksum (uint32), gallerySize G (uint32), G bytes,
//   metaDataChecksum (uint32), metaDataSize M (uint32), M bytes,
//   probeChecksum (uint32), probeSize P (uint32), P bytes.
class QUARLEN_EXPORT TemplateBlock_Common : public virtual TemplateBlockImp {
 public:
  explicit TemplateBlock_Common(Algorithm algorithmA);
  // Deep copies, followed by a check of the copied parts against the copied checksums (probe,
  // gallery, metadata). A mismatch empties the block and throws "probe checksum mismatch.",
  // "gallery checksum mismatch." or "meta data checksum mismatch." (the assignment wraps it
  // behind "kxxcp caught: ").
  TemplateBlock_Common(const TemplateBlock_Common& otherA);
  TemplateBlock_Common& operator=(const TemplateBlock_Common& otherA);
  ~TemplateBlock_Common() override;

  bool validate(std::string& textA) const override;
  bool isSymmetric() const override { return isSymmetricM; }
  void reset() override;
  Algorithm algorithm() const override { return algorithmM; }
  unsigned short version() const override { return kVersion; }
  // Face metadata for hgm, hgmPyrBit and l1Jim; fingerprint metadata for l2f, l2m, l2f360 and
  // l2fi; iris metadata for mvxIris2PiSdk; 0 for every other algorithm and without metadata.
  // Metadata that does not parse throws the metadata reader's exception.
  float getQuality() const override;
  // Fingerprint metadata of l2f, l2m, l1v, l2f360 and l2fi blocks; latentImpression otherwise.
  FingerImpressionType getImpressionType() const override;
  void setData(const unsigned char* probeDataA, unsigned int probeSizeA,
               const unsigned char* galleryDataA, unsigned int gallerySizeA,
               bool isSymmetricA) override;
  void setMetaData(const unsigned char* dataA, unsigned int sizeA) override;
  // Reads one record into the block (after a reset; the algorithm is taken from the record).
  // Stored sizes are untrusted: a part that the stream cannot deliver in full fails with its
  // checksum message. A record that ends after its algorithm field reads as an empty symmetric
  // block (the symmetric flag is preset to true).
  std::istream& read(std::istream& isA) override;
  std::ostream& write(std::ostream& osA) const override;
  std::ostream& writeGalleryTB(std::ostream& osA) const override;
  TemplateBlockImp* copy() const override;
  void removeProbeTemplatePart() override;
  void removeGalleryTemplatePart() override;
  void removeMetaDataTemplatePart() override;
  unsigned int checkSum() const override;
  const unsigned char* galleryDataPtr() const override { return galleryDataM.get(); }
  unsigned int gallerySize() const override { return gallerySizeM; }
  const unsigned char* probeDataPtr() const override;
  unsigned int probeSize() const override;
  const unsigned char* metaDataPtr() const override { return metaDataM.get(); }
  unsigned int metaDataSize() const override { return metaDataSizeM; }
  // Each gallery and probe byte becomes int(rand() / 32767.0 * 255); checksums are recomputed.
  void randomizeFeatures() override;
  // mvxIris2PiSdk only: a probe-only block gets the first probeSize / 2 bytes of the probe part
  // as gallery part; a gallery-only block gets the gallery part twice in a row as probe part.
  void convertToGalleryAndProbe() override;

  // Wrapping 32-bit sum of the bytes; 0 for an empty part.
  static unsigned int calculateChecksum(const unsigned char* dataA, unsigned int sizeA);

  static constexpr unsigned short kVersion = 3;

 private:
  std::ostream& writeRecord(std::ostream& osA, bool withProbeA) const;
  void readRecord(std::istream& isA);
  void copyFrom(const TemplateBlock_Common& otherA);
  void checkCopiedParts(const char* functionA);

  std::uint32_t galleryChecksumM = 0;
  std::uint32_t probeChecksumM = 0;
  std::uint32_t metaDataChecksumM = 0;
  std::uint32_t gallerySizeM = 0;
  std::uint32_t probeSizeM = 0;
  std::uint32_t metaDataSizeM = 0;
  std::unique_ptr<unsigned char[]> galleryDataM;
  std::unique_ptr<unsigned char[]> probeDataM;
  std::unique_ptr<unsigned char[]> metaDataM;
  bool isSymmetricM = false;
  Algorithm algorithmM;
};

}  // namespace qridy
