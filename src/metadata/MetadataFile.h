#pragma once

// The metadata file "metaData.dat" of a gallery folder: a gallery (FID) file of fixed-size
// records, one per committed identity, and the coding of one record (an element).
//
// Element, little-endian without gaps: personId (8), transactionId (8), the N + 1 words of the
// query-language record (4 each), the SID (SID_MAX bytes, zero-padded), the low 16 bits of
// SID_MAX; the record is the element zero-padded to the record size.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/IdRecordKey.h>

namespace qridy {

class IdentityMetadata;
class MultiPartFidFile;

class MetadataFile {
 public:
  static constexpr std::uint32_t kGrowth = 1000;
  static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

  struct Element {
    IdRecordKey key;
    std::vector<unsigned int> words;  // N + 1
    std::vector<unsigned char> sid;   // SID_MAX bytes
  };

  explicit MetadataFile(std::string pathA);
  ~MetadataFile();
  MetadataFile(const MetadataFile&) = delete;
  MetadataFile& operator=(const MetadataFile&) = delete;

  const std::string& path() const { return pathM; }
  bool exists() const;
  // A new empty file of dataSizeA-byte records (closed afterwards).
  bool create(std::uint32_t dataSizeA);
  bool open();
  void close();
  bool isOpen() const;
  const std::string& lastError() const;
  std::uint32_t dataSize() const;

  // Adds one record (dataSize() bytes); its position, or kNoRecord.
  std::uint32_t append(const unsigned char* recordA);
  bool clear(std::uint32_t positionA);
  std::uint16_t storedChecksum() const;
  // Every used record in file order, with the file checksum recomputed from the records' data.
  // False (lastError) when a part cannot be read.
  bool readAll(const std::function<void(std::uint32_t position, const unsigned char* data)>& fnA,
               std::uint16_t& computedA);

  static std::uint32_t elementSize(std::uint32_t attributeCountA, std::uint32_t sidMaxA) {
    return 16 + 4 * (attributeCountA + 1) + sidMaxA + 2;
  }
  static std::vector<unsigned char> encode(const IdentityMetadata& metadataA,
                                           std::uint32_t attributeCountA, std::uint32_t sidMaxA);
  // Decodes an element from sizeA bytes; false when they are fewer than an element.
  static bool decode(const unsigned char* dataA, std::size_t sizeA, std::uint32_t attributeCountA,
                     std::uint32_t sidMaxA, Element& elementA);

 private:
  std::string pathM;
  std::unique_ptr<MultiPartFidFile> fileM;
  std::string errorM;
};

}  // namespace qridy
