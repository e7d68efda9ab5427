#pragma once

#include <istream>
#include <ostream>
#include <string>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

// The interface of a template block: the output of one feature-extraction algorithm for one
// sample, as an opaque gallery part (enrolment form), probe part (search form) and metadata part
// (a TemplateMetaData record), each guarded by a checksum (the wrapping 32-bit sum of its bytes).
// TemplateBlock_Common is the implementation; createTemplateBlock makes one.
//
// Errors are kxxcp::Exception (code -1). read, write, writeGalleryTB, setData and setMetaData
// wrap whatever they catch behind "kxxcp caught: " (or "std exc caught: ", "int exc caught: ",
// "unknown exc caught: ").
class QUARLEN_EXPORT TemplateBlockImp {
 public:
  TemplateBlockImp() = default;
  // The interface has no state: copying and assigning copy nothing.
  TemplateBlockImp(const TemplateBlockImp&) {}
  TemplateBlockImp& operator=(const TemplateBlockImp&) { return *this; }
  virtual ~TemplateBlockImp();

  // Recomputes the three checksums, appends the block's description to textA (without clearing
  // it) and returns whether all three match the stored ones.
  virtual bool validate(std::string& textA) const = 0;
  // True when one form serves both roles: the probe part is the gallery part.
  virtual bool isSymmetric() const = 0;
  // Frees all three parts; sizes and checksums 0, not symmetric; the algorithm stays.
  virtual void reset() = 0;
  virtual Algorithm algorithm() const = 0;
  virtual unsigned short version() const = 0;
  // The quality stored in the metadata part, for the algorithms whose metadata carries one.
  virtual float getQuality() const = 0;
  // The impression type of fingerprint metadata; latentImpression (4) otherwise.
  virtual FingerImpressionType getImpressionType() const = 0;
  // Replaces the probe and gallery parts by copies of the given bytes (a null pointer or a size
  // of 0 leaves that part empty) and sets the symmetric flag. The metadata part stays.
  virtual void setData(const unsigned char* probeDataA, unsigned int probeSizeA,
                       const unsigned char* galleryDataA, unsigned int gallerySizeA,
                       bool isSymmetricA) = 0;
  // Replaces the metadata part by a copy of the given bytes.
  virtual void setMetaData(const unsigned char* dataA, unsigned int sizeA) = 0;
  virtual std::istream& read(std::istream& isA) = 0;
  virtual std::ostream& write(std::ostream& osA) const = 0;
  // The write form with an empty probe part (probe checksum and size 0).
  virtual std::ostream& writeGalleryTB(std::ostream& osA) const = 0;
  // A deep copy; the caller owns it.
  virtual TemplateBlockImp* copy() const = 0;
  virtual void removeProbeTemplatePart() = 0;
  virtual void removeGalleryTemplatePart() = 0;
  virtual void removeMetaDataTemplatePart() = 0;
  // Wrapping sum of the stored gallery, probe and metadata checksums.
  virtual unsigned int checkSum() const = 0;
  virtual const unsigned char* galleryDataPtr() const = 0;
  virtual unsigned int gallerySize() const = 0;
  // The gallery part when the block is symmetric, else the stored probe part.
  virtual const unsigned char* probeDataPtr() const = 0;
  virtual unsigned int probeSize() const = 0;
  virtual const unsigned char* metaDataPtr() const = 0;
  virtual unsigned int metaDataSize() const = 0;
  // Overwrites the gallery and probe bytes with pseudo-random values (test data).
  virtual void randomizeFeatures() = 0;
  // Iris blocks (mvxIris2PiSdk) derive a missing gallery part from the probe part or the reverse.
  virtual void convertToGalleryAndProbe() = 0;

  // A new, empty TemplateBlock_Common of algorithmA; the caller owns it.
  static TemplateBlockImp* createTemplateBlock(Algorithm algorithmA);
};

}  // namespace qridy
