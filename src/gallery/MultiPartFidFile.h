#pragma once

// A gallery (FID) file made of parts: part 0 is named by the base path, part k >= 1 by the base
// path with "." and k in four decimal digits appended ("gallery.IDs.0001"). Each part holds at
// most 0x8000000 / R records of size R; when every part is full a new one is created.
//
// A record is named by its position: part k, slot s is position k * (0x8000000 / R) + s, so a
// position stays valid whatever record limits are in force. Positions are 32-bit; the number of
// parts is bounded so that no position reaches 0xFFFFFFFF (kNoRecord, the failure result).
//
// Records are added to the first part that accepts one (full flag clear, and room to grow when
// it has to). Adds can also be planned ahead (planAdds) and then applied one by one
// (applyPlanned), which lets a caller record beforehand which bytes a batch will change.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gallery/FidFile.h"

namespace qridy {

class MultiPartFidFile {
 public:
  struct PlannedAdd {
    std::uint32_t part = 0;      // may be the index of a part the batch creates
    std::uint32_t position = 0;  // the record's position
    FidAddStep step;
  };

  MultiPartFidFile(std::string basePathA, unsigned bufferBytesA);
  MultiPartFidFile(const MultiPartFidFile&) = delete;
  MultiPartFidFile& operator=(const MultiPartFidFile&) = delete;

  static std::string partPath(const std::string& basePathA, std::size_t partA);
  const std::string& basePath() const { return basePathM; }
  std::string partFileName(std::size_t partA) const;  // without the directory

  // Writes an empty part 0; parts 1 and up left over from an earlier file of the same name are
  // reset to empty parts. The file is closed afterwards.
  bool create(std::uint32_t dataSizeA, std::uint32_t growthA);
  // Opens part 0 and every following part that exists (a trailing file shorter than a part
  // header, left by a process that died while creating it, ends the list).
  bool open();
  void close();
  bool isOpen() const { return !partsM.empty(); }
  const std::string& lastError() const { return lastErrorM; }
  // Whether the last open() settled a pending operation or rebuilt a header in any part, and
  // what was rebuilt (FidFile::repairNote of each rebuilt part).
  bool repaired() const;
  std::vector<std::string> repairNotes() const;

  std::uint32_t dataSize() const { return recordSizeM - FidFile::kRecordHeaderSize; }
  std::uint32_t recordSize() const { return recordSizeM; }
  std::uint32_t growth() const { return growthM; }
  std::uint32_t partLimit() const { return FidFile::partLimit(recordSizeM); }
  std::size_t maxParts() const { return 0xFFFFFFFFu / partLimit(); }
  std::size_t partCount() const { return partsM.size(); }
  FidFile& part(std::size_t partA) { return *partsM[partA]; }

  // The record limit of every part, present and future (0: the part limit).
  void setRecordLimit(std::uint32_t limitA);
  std::uint32_t recordLimit() const { return recordLimitM; }

  std::uint32_t add(const void* dataA, std::uint32_t& checksumA);
  bool remove(std::uint32_t positionA);
  bool rewrite(std::uint32_t positionA, const void* dataA, std::uint32_t& checksumA);
  bool readRecord(std::uint32_t positionA, void* dataA, std::uint32_t* checksumA = nullptr);
  bool readRecordHeader(std::uint32_t positionA, std::uint32_t& statusA, std::uint32_t& checksumA);

  // Plans countA adds in order; false when they cannot all be placed.
  bool planAdds(std::size_t countA, std::vector<PlannedAdd>& plannedA);
  // Applies the next planned add (creating its part when it is the next new one).
  bool applyPlanned(const PlannedAdd& plannedA, const void* dataA, std::uint32_t& checksumA);
  // Applies a whole plan part by part with FidFile::applyBatch (for callers that journal the
  // before-images of the plan). checksumsA receives the record checksums in plan order.
  bool applyPlannedBatch(const std::vector<PlannedAdd>& planA,
                         const std::vector<const unsigned char*>& dataA,
                         std::vector<std::uint32_t>& checksumsA);

  // Sum of the parts' stored file checksums, and of their recomputed ones.
  std::uint16_t storedChecksum() const;
  bool computeChecksum(std::uint16_t& checksumA, std::uint64_t& usedA);
  std::uint64_t usedRecords() const;

  void enableCaching(bool enableA);
  bool sync();

  std::uint32_t positionOf(std::size_t partA, std::uint32_t slotA) const {
    return static_cast<std::uint32_t>(partA * partLimit() + slotA);
  }
  // The part and slot of a position; false when the part does not exist.
  bool locate(std::uint32_t positionA, std::size_t& partA, std::uint32_t& slotA) const;

 private:
  bool fail(const std::string& messageA);
  bool addPart();
  bool fileExists(const std::string& pathA, bool& emptyA) const;

  std::string basePathM;
  unsigned bufferBytesM;
  std::vector<std::unique_ptr<FidFile>> partsM;
  std::uint32_t recordSizeM = FidFile::kRecordHeaderSize;
  std::uint32_t growthM = 1;
  std::uint32_t recordLimitM = 0;
  bool cachingM = true;
  std::string lastErrorM;
};

}  // namespace qridy
