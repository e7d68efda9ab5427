#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/Types.h>

namespace qridy {

// Everything extracted from one biometric sample: at most one template block per algorithm
// (owned, ordered by ascending algorithm value, never of algorithm 255), optional opaque metadata
// of the sample and the sample's 128-bit id.
//
// Record layout (format version 5, little-endian, no padding):
//   "TP", version (uint16), checksum (uint32), sampleId.low (uint64), sampleId.high (uint64),
//   metaDataSize M (uint32), M bytes, block count N (uint16), N template block records in
//   ascending algorithm order.
// The checksum is the wrapping sum of the blocks' checkSum(); the metadata does not enter it.
//
// Errors are kxxcp::Exception (code -1); read, write, the copy constructor and the assignment
// wrap what they catch behind "kxxcp caught: " (or the other introductions).
//
// Not a base class: the destructor is not virtual.
class QUARLEN_EXPORT TemplateImp final {
 public:
  TemplateImp() = default;
  // Copy the sample id and the metadata and add a copy() of every block of the source.
  TemplateImp(const TemplateImp& otherA);
  TemplateImp& operator=(const TemplateImp& otherA);
  ~TemplateImp();

  // Appends the template's description and those of its blocks to textA; true when every
  // block's validate is (true for a template without blocks).
  virtual bool validate(std::string& textA) const;
  // Reads one record (after a reset). A failed read leaves what was read so far.
  virtual std::istream& read(std::istream& isA);
  virtual std::ostream& write(std::ostream& osA) const;
  virtual void randomizeFeatures();
  virtual void convertToGalleryAndProbe();
  // True when there are blocks and every one has a gallery part.
  virtual bool isGalleryTemplate() const;
  // True when there are blocks and every one has a probe part (a symmetric block counts through
  // its gallery part).
  virtual bool isProbeTemplate() const;

  KXuint128 sampleId() const { return sampleIdM; }
  void setSampleId(KXuint128 sampleIdA) { sampleIdM = sampleIdA; }

  const unsigned char* metaDataPtr() const { return metaDataM.get(); }
  unsigned int metaDataSize() const { return metaDataSizeM; }
  // Replaces the metadata by a copy of sizeA bytes; null or 0 leaves no metadata.
  void setMetaData(const unsigned char* dataA, unsigned int sizeA);

  unsigned int numberOfTemplateBlocks() const {
    return static_cast<unsigned int>(templateBlockMapM.size());
  }
  const std::map<Algorithm, TemplateBlockImp*>& templateBlockMap() const {
    return templateBlockMapM;
  }
  // Wrapping sum of the blocks' checkSum().
  unsigned int checksum() const;

  // Takes ownership of blockA and files it under blockA->algorithm(). Throws "Null pointer",
  // "unknownAlgorithm" (algorithm 255) or "Algorithm already in map"; in the last two cases the
  // caller keeps ownership.
  void addTemplateBlock(TemplateBlockImp* blockA);
  // The block of algorithmA (owned by the template); throws when there is none.
  TemplateBlockImp* getTemplateBlock(Algorithm algorithmA) const;
  bool checkExistence(Algorithm algorithmA) const;
  // Deletes the block of algorithmA, if any.
  void deleteTemplateBlock(Algorithm algorithmA);

  // The quality of the first block present among mvxIris2PiSdk, l2m, l2f, l1Jim, hgmPyrBit and
  // hgm; otherwise of the block with the lowest algorithm; 0 without blocks.
  float getQuality() const;
  // The impression type of the l2m, else l2f, else l1v block; latentImpression without them.
  FingerImpressionType getImpressionType() const;

  // Sample id 0, no metadata, no blocks.
  void reset();
  // Writes the validation text.
  void info(std::ostream& osA) const;

  static constexpr unsigned short kVersion = 5;

 private:
  void readRecord(std::istream& isA);
  void deleteBlocks();

  std::uint32_t metaDataSizeM = 0;
  std::unique_ptr<unsigned char[]> metaDataM;
  KXuint128 sampleIdM;
  std::map<Algorithm, TemplateBlockImp*> templateBlockMapM;
};

}  // namespace qridy
