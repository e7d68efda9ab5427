#pragma once

// One part of a gallery (FID) file: an 88-byte header followed by fixed-size records, with a
// free list, a pending-operation word that makes single record writes and removals safe against
// an interrupted process, and an optional read-ahead buffer. All access goes through the
// FileManager table.
//
// Layout (little-endian 32-bit words, no gaps):
//   header   0 "BFID", 4 version 5, 8 record size R = data size + 8, 12 growth increment,
//            16 capacity (records), 20 full flag, 24 first free record (0xFFFFFFFF unknown),
//            28 used records, 32 free records, 36 file checksum (16-bit, see FidChecksum.h),
//            40 pending-operation word (slot + 1 while a record is written, -(slot + 1) while one
//            is removed, 0 when consistent), 44..87 reserved (0)
//   record k at 88 + k * R: status word (0xFFFFFFFF used; free: v > 0 links to record v - 1,
//            0 links to the record that follows), record checksum, R - 8 data bytes.
//
// A part describes itself: its records' status words say which records are used and how the free
// records are linked. Opening a part for update checks the header against them (used and free
// counters, the free list from the first free record) and, where they disagree (a process that
// died between writing records and writing the header), rebuilds the header from the records
// (counters, file checksum) and links every free record into one free list, in ascending order.
// The header is therefore never needed to know what the records hold.
//
// Failures are reported by false results or a slot of kNoRecord, never by exceptions;
// lastError() explains the last failed open. After a mutating operation failed half-way the
// part refuses further changes until it is closed and opened again (which settles the pending
// word on disk).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "gallery/FidAllocState.h"

namespace qridy {

struct FidHeader {
  static constexpr std::size_t kSize = 88;
  static constexpr std::uint32_t kMagic = 0x44494642u;  // "BFID"
  static constexpr std::uint32_t kVersion = 5;

  std::uint32_t magic = kMagic;
  std::uint32_t version = kVersion;
  std::uint32_t recordSize = 0;
  std::uint32_t growth = 0;
  std::uint32_t capacity = 0;
  std::uint32_t full = 0;
  std::uint32_t firstFree = 0;
  std::uint32_t used = 0;
  std::uint32_t free = 0;
  std::uint32_t checksum = 0;
  std::uint32_t pending = 0;
  std::uint32_t reserved[11] = {};

  void encode(unsigned char* outA) const;  // kSize bytes
  static FidHeader decode(const unsigned char* inA);
  // The header of a freshly created, empty part.
  static FidHeader empty(std::uint32_t recordSizeA, std::uint32_t growthA);
};

class FidFile {
 public:
  static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;
  static constexpr std::uint32_t kUsed = 0xFFFFFFFFu;
  static constexpr std::uint32_t kPartBytes = 0x8000000u;  // 128 MiB of records per part
  static constexpr std::uint32_t kRecordHeaderSize = 8;

  // The number of records a part of record size R holds: 0x8000000 / R.
  static std::uint32_t partLimit(std::uint32_t recordSizeA) { return kPartBytes / recordSizeA; }
  // Largest data size whose part still holds one record.
  static constexpr std::uint32_t kMaxDataSize = kPartBytes - kRecordHeaderSize;

  // bufferBytesA: size of the read-ahead buffer (0: none).
  FidFile(std::string pathA, unsigned bufferBytesA);
  ~FidFile();
  FidFile(const FidFile&) = delete;
  FidFile& operator=(const FidFile&) = delete;

  const std::string& path() const { return pathM; }

  // Writes a new empty part (mode "wb") and closes it again. False when dataSizeA is larger than
  // kMaxDataSize, growthA is 0, or the file cannot be written.
  bool create(std::uint32_t dataSizeA, std::uint32_t growthA);
  // Opens the part for update ("r+b"), checks the header against itself and the file length,
  // settles a pending operation, rebuilds the header when it disagrees with the records (see
  // above; this reads every record header), and sets the record limit to the part limit.
  bool open();
  // Opens the part read-only ("rb") without settling; a pending operation fails the open.
  bool openForReading();
  void close();
  bool isOpen() const { return handleM != nullptr; }
  const std::string& lastError() const { return lastErrorM; }
  // Whether the last open() changed the part: settled a pending operation or rebuilt the header.
  bool repaired() const { return settledM || !repairNoteM.empty(); }
  // What the last open() rebuilt, in words (empty when the header agreed with the records).
  const std::string& repairNote() const { return repairNoteM; }

  const FidHeader& header() const { return headerM; }
  std::uint32_t dataSize() const { return headerM.recordSize - kRecordHeaderSize; }
  std::uint32_t recordSize() const { return headerM.recordSize; }
  std::uint32_t recordLimit() const { return recordLimitM; }
  // Limits the records of this part (0 or more than the part limit: the part limit).
  void setRecordLimit(std::uint32_t limitA);

  // Adds a record of dataSize() bytes; the slot, or kNoRecord. checksumA receives the record
  // checksum.
  std::uint32_t add(const void* dataA, std::uint32_t& checksumA);
  // Whether add could place a record without failing on the full flag or the limit.
  bool acceptsRecord() const { return allocState().accepts(); }
  FidAllocState allocState() const { return FidAllocState::of(headerM, recordLimitM); }
  // Plans the next add on stateA (advanced on success; unchanged on failure). plannedA holds the
  // slots planned before in the same batch: reaching one of them again fails as the real add
  // would. readHeaderA reads the status and checksum words of records below
  // stateA.diskCapacity.
  using HeaderReader =
      std::function<bool(std::uint32_t slot, std::uint32_t& status, std::uint32_t& checksum)>;
  static bool planStep(FidAllocState& stateA, FidAddStep& stepA,
                       const std::unordered_set<std::uint32_t>& plannedA,
                       const HeaderReader& readHeaderA);
  // planStep on this part's records.
  bool planAdd(FidAllocState& stateA, FidAddStep& stepA,
               const std::unordered_set<std::uint32_t>& plannedA);
  // Carries out a planned step; it must be the next one for the current state.
  bool applyAdd(const FidAddStep& stepA, const void* dataA, std::uint32_t& checksumA);
  // Carries out planned steps in one go, for a caller that keeps the before-images of the part
  // header and of the records' headers (an undo journal), which then takes the place of the
  // pending-operation word: the records are written in runs of consecutive records, the rest of
  // a grown region as zeros, and the header once at the end, each write flushed. The bytes on
  // disk afterwards are those of the same steps applied one by one. checksumsA receives the
  // record checksums.
  bool applyBatch(const std::vector<FidAddStep>& stepsA,
                  const std::vector<const unsigned char*>& dataA,
                  std::vector<std::uint32_t>& checksumsA);

  // Removes a used record: it joins the free list as the first free record.
  bool remove(std::uint32_t slotA);
  // Replaces the data of a used record.
  bool rewrite(std::uint32_t slotA, const void* dataA, std::uint32_t& checksumA);

  // Reads a used record's data (dataSize() bytes) and checksum word.
  bool readRecord(std::uint32_t slotA, void* dataA, std::uint32_t* checksumA = nullptr);
  // Reads the status and checksum words of any record below the capacity.
  bool readRecordHeader(std::uint32_t slotA, std::uint32_t& statusA, std::uint32_t& checksumA);
  // Reads countA whole records (status word, checksum word, data) from slot firstA on into dstA
  // (countA x recordSize() bytes) in one read that bypasses the read-ahead buffer. False when
  // the range reaches past the capacity or the read fails.
  bool readRecords(std::uint32_t firstA, std::uint32_t countA, unsigned char* dstA);

  // Walks all records below the capacity in file order, reading whole records when dataA is
  // set, else only their headers; stops early when fnA returns false. False on a read failure.
  using RecordVisitor = std::function<bool(std::uint32_t slot, std::uint32_t status,
                                           std::uint32_t checksum, const unsigned char* data)>;
  bool forEachRecord(bool dataA, const RecordVisitor& fnA);

  // The file checksum recomputed from the used records, and their number.
  bool computeChecksum(std::uint16_t& checksumA, std::uint32_t& usedA);

  // Reads nA bytes at posA through the read-ahead buffer; the number of bytes delivered.
  std::uint64_t readBytes(std::uint64_t posA, void* dstA, std::uint64_t nA);
  void enableCaching(bool enableA);
  bool cachingEnabled() const { return cachingM; }

  // Flushes and asks the storage to make the part durable (the sync entry of FileManager).
  bool sync();

  std::uint64_t recordOffset(std::uint32_t slotA) const {
    return FidHeader::kSize + static_cast<std::uint64_t>(slotA) * headerM.recordSize;
  }

 private:
  bool openWithMode(const char* modeA, bool settleA);
  bool fail(const std::string& messageA);
  bool validateHeader(const FidHeader& hA);
  bool settle();
  // Checks the header against the records and rebuilds it where they disagree; false when the
  // records cannot be read or the rebuilt header cannot be written.
  bool checkAgainstRecords();
  bool writeAt(std::uint64_t posA, const void* dataA, std::size_t sizeA);
  bool writeWord(std::uint64_t offsetA, std::uint32_t valueA);
  bool writeHeaderRange(std::size_t fromA, std::size_t toA);
  bool writeZeros(std::uint64_t posA, std::uint64_t sizeA);
  bool readDirect(std::uint64_t posA, void* dstA, std::uint64_t nA);
  void invalidateBuffer() { bufferValidM = false; }
  bool mutable_() const { return handleM != nullptr && !brokenM && !readOnlyM; }

  std::string pathM;
  void* handleM = nullptr;
  bool readOnlyM = false;
  bool brokenM = false;
  FidHeader headerM;
  std::uint32_t recordLimitM = 0;
  std::string lastErrorM;
  bool settledM = false;
  std::string repairNoteM;

  unsigned bufferBytesM;
  bool cachingM = true;
  std::vector<unsigned char> bufferM;
  std::uint64_t bufferPosM = 0;
  std::uint64_t bufferLenM = 0;
  bool bufferValidM = false;
  std::vector<unsigned char> scratchM;
};

}  // namespace qridy
