#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include <qrlimage/FacialFeaturePoints.h>
#include <qrlimage/Image.h>
#include <quarlen/IdRecordKey.h>
#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace kxegm {
class FaceQualityCheckResult;
}

namespace qrbase {

// The descriptor kinds, as stored in the descriptor stream.
enum BioDescriptorType : std::uint32_t {
  BioDescriptorTypeEye = 0,
  BioDescriptorTypeFace = 1,
  BioDescriptorTypeFingerprint = 2,
  BioDescriptorTypeIris = 3,
};

// Age class of the person a sample was taken from, as a locator estimated it.
enum AgeClass : std::uint32_t {
  AgeClassUnknown = 0,
  AgeClassChild = 1,
  AgeClassAdult = 2,
  AgeClassSenior = 3,
};

// What locating one biometric sample found out about it, handed from a locator to a template
// generator (EyeDescriptor, FaceDescriptor, FingerprintDescriptor, IrisDescriptor). Descriptors
// are written to and read from byte streams, so location and template creation may run in
// different processes or on different machines.
//
// Stream format, little-endian, no gaps. Every descriptor starts with a 57-byte header:
//   "BD", kind (32 bits), version (16 bits, 1), instance (32), sample id high then low
//   (64 + 64), person id (64), transaction id (64), quality class (32), quality value (float),
//   valid flag (8 bits, 1 or 0), age class (32).
// Each kind's part follows (see the kinds' headers).
//
// Reading from a stream: every length inside is bounded by what the stream holds; images are
// complete PNG files, read through qrimg::PngCodec. Readers throw kxxcp::Exception; the
// messages start with "BioDescriptor::read:  " (two blanks), for example
// "BioDescriptor::read:  Invalid Magic Number", "BioDescriptor::read:  Invalid version",
// "BioDescriptor::read:  Invalid stream." (the stream ends early) and, for an embedded item,
// "BioDescriptor::read:  Invalid <item>: " followed by the item reader's message.
class QUARLEN_EXPORT BioDescriptor {
 public:
  static constexpr std::uint16_t kVersion = 1;
  static constexpr std::size_t kHeaderSize = 57;

  virtual ~BioDescriptor();

  virtual BioDescriptorType type() const = 0;
  virtual qridy::Modality modality() const = 0;
  // Writes the descriptor. withInputImageA asks for the input image; only fingerprint
  // descriptors have one to leave out.
  virtual void write(std::ostream& osA, bool withInputImageA) const = 0;
  // Replaces the whole content by the descriptor read from the stream. imageA, when given,
  // stands in for an input image the stream does not carry (face: texture image; fingerprint:
  // input image) and is copied. Eye, face and iris descriptors are valid after a successful read
  // whatever the stored flag said; fingerprint descriptors keep the stored flag. After a failed
  // read the descriptor is invalid and holds what was read so far.
  virtual void read(std::istream& isA, const qrimg::Image* imageA) = 0;
  // The feature points of eye and face descriptors; null for the other kinds or when absent.
  virtual const qrimg::FacialFeaturePoints* facialFeaturePoints() const { return nullptr; }
  // The face quality check result of face descriptors; null otherwise or when absent.
  virtual const kxegm::FaceQualityCheckResult* faceRecQcheckResult() const { return nullptr; }

  // Reads a descriptor of any kind; the caller owns the result. The stream must be seekable
  // (the kind is peeked at). Throws "BioDescriptor::create:  Invalid Magic Number" unless the
  // stream starts with "BD", "BioDescriptor::create:  Invalid stream." when the kind cannot be
  // read, "BioDescriptor::create: Invalid BioDesciptor type." for a kind other than 0 to 3, and
  // whatever the kind's read throws.
  static BioDescriptor* create(std::istream& isA, const qrimg::Image* imageA);

  bool isValid() const { return validM; }
  void setValid(bool validA) { validM = validA; }
  qridy::Instance instance() const { return instanceM; }
  void setInstance(qridy::Instance instanceA) { instanceM = instanceA; }
  KXuint128 sampleId() const { return sampleIdM; }
  void setSampleId(KXuint128 idA) { sampleIdM = idA; }
  // The identity record the sample belongs to.
  const qridy::IdRecordKey& idRecordKey() const { return idRecordKeyM; }
  void setIdRecordKey(const qridy::IdRecordKey& keyA) { idRecordKeyM = keyA; }
  std::uint32_t qualityClass() const { return qualityClassM; }
  void setQualityClass(std::uint32_t classA) { qualityClassM = classA; }
  float qualityValue() const { return qualityValueM; }
  // At diagnostic level 9 or more prints "BioDescriptor::setQualityValue with <value>" to
  // standard output.
  void setQualityValue(float valueA);
  AgeClass ageClass() const { return ageClassM; }
  void setAgeClass(AgeClass ageClassA) { ageClassM = ageClassA; }

 protected:
  BioDescriptor() = default;
  BioDescriptor(const BioDescriptor&) = default;
  BioDescriptor& operator=(const BioDescriptor&) = default;

  // The common header of write and read. readHeader checks magic and version, and returns the
  // stored valid flag without applying it (the kinds decide).
  void writeHeader(std::ostream& osA) const;
  bool readHeader(std::istream& isA);
  // Back to the state after construction.
  void resetHeader();

 private:
  bool validM = false;
  qridy::Instance instanceM = qridy::InstanceUnknown;
  KXuint128 sampleIdM;
  qridy::IdRecordKey idRecordKeyM;
  std::uint32_t qualityClassM = 0;
  float qualityValueM = 0.0f;
  AgeClass ageClassM = AgeClassUnknown;
};

}  // namespace qrbase
