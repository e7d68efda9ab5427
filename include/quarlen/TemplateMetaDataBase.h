#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

// The metadata part of a template block: a small tagged record describing the sample a block was
// made from (its quality and a few values of the extraction engine per modality).
//
// Record layout (little-endian, no padding): magic "MD", modality (uint16), version (uint16),
// then the fields of the concrete class. Readers and writers throw kxxcp::Exception; read and
// write wrap whatever they catch behind "kxxcp caught: " (and the other introductions).
class QUARLEN_EXPORT TemplateMetaDataBase {
 public:
  TemplateMetaDataBase() = default;
  TemplateMetaDataBase(const TemplateMetaDataBase&) = default;
  TemplateMetaDataBase& operator=(const TemplateMetaDataBase&) = default;
  virtual ~TemplateMetaDataBase();

  // Reads one record. Checks magic, modality and version; a record that ends early leaves the
  // remaining fields unchanged.
  virtual std::istream& read(std::istream& isA) = 0;
  virtual std::ostream& write(std::ostream& osA) const = 0;
  // Parses sizeA bytes as one record (read on a stream over the bytes).
  virtual void setData(const unsigned char* dataA, unsigned int sizeA);
  // Writes the record into a new array: dataA receives it (the caller owns it and releases it
  // with delete[]), sizeA its length.
  virtual void createData(unsigned char*& dataA, unsigned int& sizeA);
  virtual Modality modality() const = 0;

  // A new, default fingerprint metadata object for modality 2; every other modality throws
  // "Unsupported modality '<text>'.". The caller owns the result.
  static TemplateMetaDataBase* createMetaData(Modality modalityA);
  // The metadata object for a stored record, chosen by the modality field of the record's header
  // and filled from the record. Only fingerprint records are supported; a record of 2 bytes or
  // less throws "Invalid metadata size '<size>'.". The caller owns the result.
  static TemplateMetaDataBase* createMetaData(const unsigned char* dataA, unsigned int sizeA);

 protected:
  // Shared by the readers: checks the magic and that the modality field is this class's own,
  // and returns the version field (0 when the stream ended before it). Throws the plain
  // messages; the caller wraps them.
  unsigned short readHeader(std::istream& isA, const char* functionA) const;
  void writeHeader(std::ostream& osA, unsigned short versionA) const;
  // Face and iris records share one shape: version 1, two uint16 values and the quality.
  // versionKindA names the kind in the version message ("face", "Iris"). Wrap what they throw
  // behind the introductions, as read and write do.
  void readValuePairRecord(std::istream& isA, const char* functionA, const char* versionKindA,
                           std::uint16_t& firstA, std::uint16_t& secondA, float& qualityA);
  void writeValuePairRecord(std::ostream& osA, const char* functionA, std::uint16_t firstA,
                            std::uint16_t secondA, float qualityA) const;
};

}  // namespace qridy
