#include "gallery/FidFile.h"

#include <quarlen/FileManager.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"

namespace qridy {

namespace {

constexpr std::size_t kOffCapacity = 16;
constexpr std::size_t kOffFirstFree = 24;
constexpr std::size_t kOffPending = 40;
constexpr std::size_t kOffReservedStart = 44;
constexpr std::uint64_t kZeroChunk = 64 * 1024;

std::string magicText(std::uint32_t magicA) {
  std::string textL;
  for (int i = 0; i < 4; ++i) {
    const char cL = static_cast<char>(magicA >> (8 * i));
    textL += (cL >= 0x20 && cL < 0x7F) ? cL : '.';
  }
  return textL;
}

}  // namespace

void FidHeader::encode(unsigned char* outA) const {
  const std::uint32_t wordsL[11] = {magic,     version, recordSize, growth,   capacity, full,
                                    firstFree, used,    free,       checksum, pending};
  for (int i = 0; i < 11; ++i) coding::encodeFixed32(outA + 4 * i, wordsL[i]);
  for (int i = 0; i < 11; ++i) coding::encodeFixed32(outA + kOffReservedStart + 4 * i, reserved[i]);
}

FidHeader FidHeader::decode(const unsigned char* inA) {
  FidHeader hL;
  std::uint32_t* const wordsL[11] = {&hL.magic,    &hL.version,  &hL.recordSize, &hL.growth,
                                     &hL.capacity, &hL.full,     &hL.firstFree,  &hL.used,
                                     &hL.free,     &hL.checksum, &hL.pending};
  for (int i = 0; i < 11; ++i) *wordsL[i] = coding::decodeFixed32(inA + 4 * i);
  for (int i = 0; i < 11; ++i)
    hL.reserved[i] = coding::decodeFixed32(inA + kOffReservedStart + 4 * i);
  return hL;
}

FidHeader FidHeader::empty(std::uint32_t recordSizeA, std::uint32_t growthA) {
  FidHeader hL;
  hL.recordSize = recordSizeA;
  hL.growth = growthA;
  return hL;
}

FidFile::FidFile(std::string pathA, unsigned bufferBytesA)
    : pathM(std::move(pathA)), bufferBytesM(bufferBytesA) {}

FidFile::~FidFile() {
  close();
}

bool FidFile::fail(const std::string& messageA) {
  lastErrorM = messageA;
  return false;
}

bool FidFile::create(std::uint32_t dataSizeA, std::uint32_t growthA) {
  close();
  if (dataSizeA > kMaxDataSize) {
    std::ostringstream osL;
    osL << "FID file data size too large: '" << dataSizeA << "'.";
    return fail(osL.str());
  }
  if (growthA == 0) return fail("FID file growth increment must not be 0.");
  void* hL = FileManager::openFuncPtrS(FileManager::stateManagerS, pathM.c_str(), "wb");
  if (hL == nullptr) return fail("Cannot create FID file '" + pathM + "'.");
  unsigned char bytesL[FidHeader::kSize];
  FidHeader::empty(dataSizeA + kRecordHeaderSize, growthA).encode(bytesL);
  const bool okL = FileManager::writeFuncPtrS(bytesL, 1, sizeof bytesL, hL) == sizeof bytesL &&
                   FileManager::flushFuncPtrS(hL) == 0;
  const bool closedL = FileManager::closeFuncPtrS(hL) == 0;
  if (!okL || !closedL) return fail("Cannot write FID file header '" + pathM + "'.");
  return true;
}

bool FidFile::open() {
  return openWithMode("r+b", true);
}

bool FidFile::openForReading() {
  return openWithMode("rb", false);
}

bool FidFile::openWithMode(const char* modeA, bool settleA) {
  close();
  lastErrorM.clear();
  settledM = false;
  repairNoteM.clear();
  handleM = FileManager::openFuncPtrS(FileManager::stateManagerS, pathM.c_str(), modeA);
  if (handleM == nullptr) return fail("Cannot open FID file '" + pathM + "'.");
  readOnlyM = !settleA;
  brokenM = false;
  unsigned char bytesL[FidHeader::kSize];
  if (!readDirect(0, bytesL, sizeof bytesL)) {
    close();
    return fail("FID file too short for its header: '" + pathM + "'.");
  }
  const FidHeader hL = FidHeader::decode(bytesL);
  if (!validateHeader(hL)) {
    const std::string errorL = lastErrorM;
    close();
    return fail(errorL);
  }
  headerM = hL;
  recordLimitM = partLimit(headerM.recordSize);
  bufferM.assign(bufferBytesM, 0);
  invalidateBuffer();
  if (headerM.pending != 0) {
    if (!settleA) {
      close();
      return fail("FID file has a pending operation: '" + pathM + "'.");
    }
    if (!settle()) {
      close();
      return fail("Cannot settle the pending operation of FID file '" + pathM + "'.");
    }
    settledM = true;
  }
  if (settleA && !checkAgainstRecords()) {
    close();
    return fail("Cannot rebuild the header of FID file '" + pathM + "' from its records.");
  }
  return true;
}

bool FidFile::checkAgainstRecords() {
  const std::uint32_t capacityL = headerM.capacity;
  std::vector<std::uint32_t> statusL(capacityL);
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  const bool readL = forEachRecord(false, [&](std::uint32_t slotA, std::uint32_t statusA,
                                              std::uint32_t checksumA, const unsigned char*) {
    statusL[slotA] = statusA;
    if (statusA == kUsed) {
      sumL = fid::addRecordChecksum(sumL, checksumA);
      ++usedL;
    }
    return true;
  });
  if (!readL) return false;
  // The free list from the first free record must pass through free records only, without a
  // cycle, until it leaves the records (the next add grows the part).
  bool listL = true;
  if (headerM.firstFree != kNoRecord) {
    std::vector<bool> seenL(capacityL, false);
    for (std::uint32_t slotL = headerM.firstFree; slotL < capacityL;) {
      if (statusL[slotL] == kUsed || seenL[slotL]) {
        listL = false;
        break;
      }
      seenL[slotL] = true;
      slotL = statusL[slotL] != 0 ? statusL[slotL] - 1 : slotL + 1;
    }
  }
  // The file checksum is no reason to rebuild: it guards the record checksums, and a rebuild
  // would hide a damaged one from the consistency check. A rebuilt header gets it recomputed.
  if (listL && usedL == headerM.used && capacityL - usedL == headerM.free &&
      headerM.checksum <= 0xFFFFu) {
    return true;
  }

  // Every free record joins one list in ascending order; links that already say so stay.
  std::uint32_t firstL = capacityL;
  std::uint32_t previousL = kNoRecord;
  auto linkL = [&](std::uint32_t fromA, std::uint32_t nextA) {
    const std::uint32_t wantL = nextA == fromA + 1 ? 0 : nextA + 1;
    return statusL[fromA] == wantL || writeWord(recordOffset(fromA), wantL);
  };
  for (std::uint32_t slotL = 0; slotL < capacityL; ++slotL) {
    if (statusL[slotL] == kUsed) continue;
    if (previousL == kNoRecord) {
      firstL = slotL;
    } else if (!linkL(previousL, slotL)) {
      return false;
    }
    previousL = slotL;
  }
  if (previousL != kNoRecord && !linkL(previousL, capacityL)) return false;
  std::ostringstream osL;
  osL << "FID file header rebuilt from its records: '" << pathM << "' (used " << headerM.used
      << " -> " << usedL << ", free " << headerM.free << " -> " << capacityL - usedL
      << ", first free " << static_cast<std::int64_t>(static_cast<std::int32_t>(headerM.firstFree))
      << " -> " << firstL << ", checksum " << headerM.checksum << " -> " << sumL << ")";
  headerM.used = usedL;
  headerM.free = capacityL - usedL;
  headerM.checksum = sumL;
  headerM.firstFree = firstL;
  if (firstL < capacityL) headerM.full = 0;
  headerM.pending = 0;
  if (!writeHeaderRange(kOffCapacity, kOffReservedStart)) return false;
  repairNoteM = osL.str();
  return true;
}

bool FidFile::validateHeader(const FidHeader& hA) {
  std::ostringstream osL;
  if (hA.magic != FidHeader::kMagic) {
    osL << "Invalid FID file magic number: '" << magicText(hA.magic) << "'.";
  } else if (hA.version != FidHeader::kVersion) {
    osL << "Invalid FID file version: '" << hA.version << "'.";
  } else if (hA.recordSize < kRecordHeaderSize || hA.recordSize > kPartBytes) {
    osL << "Invalid FID file record size: '" << hA.recordSize << "'.";
  } else if (hA.growth == 0) {
    osL << "Invalid FID file growth increment: '" << hA.growth << "'.";
  } else if (hA.capacity > partLimit(hA.recordSize)) {
    osL << "Invalid FID file capacity: '" << hA.capacity << "' (at most '"
        << partLimit(hA.recordSize) << "').";
  }
  // The counters, the first free record, the file checksum and the pending-operation word are
  // what the records say; where they disagree with them the records win (checkAgainstRecords).
  if (osL.tellp() > 0) return fail(osL.str());

  // The records the header claims must be in the file (a longer file is left over from growth
  // that a crash cut short, and is harmless).
  const std::uint64_t needL =
      FidHeader::kSize + static_cast<std::uint64_t>(hA.capacity) * hA.recordSize;
  if (FileManager::seekFuncPtrS(handleM, 0, SEEK_END) != 0) return fail("Cannot seek FID file.");
  const std::uint64_t lengthL = FileManager::tellFuncPtrS(handleM);
  if (lengthL == ~0ULL || lengthL < needL) {
    osL << "FID file shorter than its capacity: '" << (lengthL == ~0ULL ? 0 : lengthL) << "' < '"
        << needL << "' bytes.";
    return fail(osL.str());
  }
  return true;
}

bool FidFile::settle() {
  const std::int32_t pL = static_cast<std::int32_t>(headerM.pending);
  const std::uint32_t slotL = pL > 0 ? headerM.pending - 1 : ~headerM.pending;
  if (slotL >= headerM.capacity) {
    // A word that names no record (damaged): nothing to settle; the check against the records
    // that follows the settling finds what the operation left.
  } else if (pL > 0) {
    // Writing record p - 1 was interrupted: the record is free again; where the free list went
    // is not known any more.
    if (!writeWord(recordOffset(headerM.pending - 1), 0)) return false;
    headerM.firstFree = kNoRecord;
  } else {
    // Removing record ~p was interrupted: the record stays used.
    if (!writeWord(recordOffset(~headerM.pending), kUsed)) return false;
  }
  headerM.pending = 0;
  return writeHeaderRange(kOffFirstFree, kOffReservedStart);
}

void FidFile::close() {
  if (handleM != nullptr) FileManager::closeFuncPtrS(handleM);
  handleM = nullptr;
  invalidateBuffer();
}

void FidFile::setRecordLimit(std::uint32_t limitA) {
  const std::uint32_t partL = partLimit(headerM.recordSize == 0 ? 1 : headerM.recordSize);
  recordLimitM = (limitA == 0 || limitA > partL) ? partL : limitA;
}

// --- raw access ---------------------------------------------------------------------------

bool FidFile::writeAt(std::uint64_t posA, const void* dataA, std::size_t sizeA) {
  invalidateBuffer();
  if (FileManager::seekFuncPtrS(handleM, posA, SEEK_SET) != 0) return false;
  if (FileManager::writeFuncPtrS(dataA, 1, sizeA, handleM) != sizeA) return false;
  return FileManager::flushFuncPtrS(handleM) == 0;
}

bool FidFile::writeWord(std::uint64_t offsetA, std::uint32_t valueA) {
  unsigned char bL[4];
  coding::encodeFixed32(bL, valueA);
  return writeAt(offsetA, bL, 4);
}

bool FidFile::writeHeaderRange(std::size_t fromA, std::size_t toA) {
  unsigned char bytesL[FidHeader::kSize];
  headerM.encode(bytesL);
  return writeAt(fromA, bytesL + fromA, toA - fromA);
}

bool FidFile::writeZeros(std::uint64_t posA, std::uint64_t sizeA) {
  static const unsigned char kZeros[kZeroChunk] = {};
  invalidateBuffer();
  if (FileManager::seekFuncPtrS(handleM, posA, SEEK_SET) != 0) return false;
  while (sizeA > 0) {
    const std::uint64_t nL = std::min(sizeA, kZeroChunk);
    if (FileManager::writeFuncPtrS(kZeros, 1, nL, handleM) != nL) return false;
    sizeA -= nL;
  }
  return FileManager::flushFuncPtrS(handleM) == 0;
}

bool FidFile::readDirect(std::uint64_t posA, void* dstA, std::uint64_t nA) {
  if (FileManager::seekFuncPtrS(handleM, posA, SEEK_SET) != 0) return false;
  return FileManager::readFuncPtrS(dstA, 1, nA, handleM) == nA;
}

std::uint64_t FidFile::readBytes(std::uint64_t posA, void* dstA, std::uint64_t nA) {
  if (dstA == nullptr || nA == 0 || handleM == nullptr) return 0;
  const std::uint64_t bL = bufferM.size();
  if (bL == 0 || !cachingM) return readDirect(posA, dstA, nA) ? nA : 0;
  // Served from the buffer only when it reaches strictly beyond the requested range.
  if (bufferValidM && bufferPosM <= posA && bufferPosM + bufferLenM > posA + nA) {
    std::memcpy(dstA, bufferM.data() + (posA - bufferPosM), static_cast<std::size_t>(nA));
    return nA;
  }
  if (nA > bL) {
    invalidateBuffer();
    return readDirect(posA, dstA, nA) ? nA : 0;
  }
  invalidateBuffer();
  if (FileManager::seekFuncPtrS(handleM, posA, SEEK_SET) != 0) return 0;
  const std::uint64_t gotL = FileManager::readFuncPtrS(bufferM.data(), 1, bL, handleM);
  if (gotL == 0 || gotL > bL) return 0;
  bufferPosM = posA;
  bufferLenM = gotL;
  bufferValidM = true;
  const std::uint64_t copyL = std::min(gotL, nA);
  std::memcpy(dstA, bufferM.data(), static_cast<std::size_t>(copyL));
  return copyL;
}

void FidFile::enableCaching(bool enableA) {
  cachingM = enableA;
  invalidateBuffer();
}

bool FidFile::sync() {
  if (handleM == nullptr) return false;
  if (FileManager::flushFuncPtrS(handleM) != 0) return false;
  return FileManager::syncFuncPtrS(handleM) == 0;
}

// --- adding -------------------------------------------------------------------------------

bool FidFile::planStep(FidAllocState& stateA, FidAddStep& stepA,
                       const std::unordered_set<std::uint32_t>& plannedA,
                       const HeaderReader& readHeaderA) {
  if (!stateA.accepts()) return false;
  const std::uint32_t slotL = stateA.nextSlot();
  if (plannedA.count(slotL) != 0) return false;  // the real add would find it used
  std::uint32_t statusL = 0;
  std::uint32_t checksumL = 0;
  if (slotL < stateA.diskCapacity && !readHeaderA(slotL, statusL, checksumL)) return false;
  return stateA.advance(statusL, checksumL, stepA);
}

bool FidFile::planAdd(FidAllocState& stateA, FidAddStep& stepA,
                      const std::unordered_set<std::uint32_t>& plannedA) {
  if (handleM == nullptr) return false;
  return planStep(stateA, stepA, plannedA,
                  [this](std::uint32_t slotA, std::uint32_t& statusA, std::uint32_t& checksumA) {
                    return readRecordHeader(slotA, statusA, checksumA);
                  });
}

std::uint32_t FidFile::add(const void* dataA, std::uint32_t& checksumA) {
  if (!mutable_()) return kNoRecord;
  FidAllocState stateL = allocState();
  FidAddStep stepL;
  if (!planAdd(stateL, stepL, {})) return kNoRecord;
  return applyAdd(stepL, dataA, checksumA) ? stepL.slot : kNoRecord;
}

bool FidFile::applyAdd(const FidAddStep& stepA, const void* dataA, std::uint32_t& checksumA) {
  if (!mutable_()) return false;
  FidAllocState afterL = allocState();
  FidAddStep stepL;
  if (!afterL.advance(stepA.foundStatus, stepA.foundChecksum, stepL) || stepL != stepA) {
    return false;
  }
  const FidHeader beforeL = headerM;
  // From here on a failure leaves the disk ahead of or behind memory: refuse further changes
  // until the part is opened again.
  brokenM = true;
  if (stepA.grows) {
    FidAllocState grownL = allocState();
    grownL.grow();
    if (!writeZeros(
            recordOffset(headerM.capacity),
            static_cast<std::uint64_t>(grownL.capacity - headerM.capacity) * headerM.recordSize)) {
      headerM = beforeL;
      return false;
    }
    grownL.store(headerM);
    if (!writeHeaderRange(0, FidHeader::kSize)) {
      headerM = beforeL;
      return false;
    }
  }
  // The slot must still hold what the plan saw.
  std::uint32_t statusL = 0;
  std::uint32_t oldChecksumL = 0;
  if (!readRecordHeader(stepA.slot, statusL, oldChecksumL) || statusL == kUsed ||
      statusL != stepA.foundStatus) {
    return false;
  }
  const std::uint32_t dataSizeL = dataSize();
  const std::uint32_t checksumL = fid::recordChecksum(dataA, dataSizeL);
  headerM.pending = stepA.slot + 1;
  if (!writeWord(kOffPending, headerM.pending)) return false;
  if (!writeAt(recordOffset(stepA.slot) + kRecordHeaderSize, dataA, dataSizeL)) return false;
  unsigned char recL[kRecordHeaderSize];
  coding::encodeFixed32(recL, kUsed);
  coding::encodeFixed32(recL + 4, checksumL);
  if (!writeAt(recordOffset(stepA.slot), recL, sizeof recL)) return false;
  headerM.checksum =
      fid::addRecordChecksum(static_cast<std::uint16_t>(headerM.checksum), checksumL);
  afterL.store(headerM);
  headerM.pending = 0;
  if (!writeHeaderRange(kOffCapacity, kOffReservedStart)) return false;
  brokenM = false;
  checksumA = checksumL;
  return true;
}

bool FidFile::applyBatch(const std::vector<FidAddStep>& stepsA,
                         const std::vector<const unsigned char*>& dataA,
                         std::vector<std::uint32_t>& checksumsA) {
  if (!mutable_() || stepsA.size() != dataA.size()) return false;
  const std::uint32_t dataSizeL = dataSize();
  const std::uint32_t sizeL = headerM.recordSize;
  // The header after all steps, checking that each step is the next one.
  FidAllocState stateL = allocState();
  FidHeader afterL = headerM;
  std::vector<std::uint32_t> checksumsL;
  checksumsL.reserve(stepsA.size());
  std::uint32_t freshL = 0;  // records of the batch beyond the capacity on disk
  for (std::size_t i = 0; i < stepsA.size(); ++i) {
    FidAddStep stepL;
    if (!stateL.advance(stepsA[i].foundStatus, stepsA[i].foundChecksum, stepL) ||
        stepL != stepsA[i]) {
      return false;
    }
    // Records beyond the capacity on disk are taken in order, from its end on.
    if (stepL.slot >= headerM.capacity) {
      if (stepL.slot != headerM.capacity + freshL) return false;
      ++freshL;
    }
    checksumsL.push_back(fid::recordChecksum(dataA[i], dataSizeL));
    afterL.checksum =
        fid::addRecordChecksum(static_cast<std::uint16_t>(afterL.checksum), checksumsL.back());
  }
  stateL.store(afterL);
  afterL.pending = 0;

  brokenM = true;
  // The records, in runs of consecutive slots of up to about 1 MiB.
  const std::size_t perRunL = std::max<std::size_t>(1, (1u << 20) / sizeL);
  std::vector<unsigned char> runL;
  for (std::size_t i = 0; i < stepsA.size();) {
    std::size_t endL = i + 1;
    while (endL < stepsA.size() && endL - i < perRunL &&
           stepsA[endL].slot == stepsA[endL - 1].slot + 1) {
      ++endL;
    }
    runL.resize((endL - i) * static_cast<std::size_t>(sizeL));
    for (std::size_t k = i; k < endL; ++k) {
      unsigned char* recL = runL.data() + (k - i) * static_cast<std::size_t>(sizeL);
      coding::encodeFixed32(recL, kUsed);
      coding::encodeFixed32(recL + 4, checksumsL[k]);
      std::memcpy(recL + kRecordHeaderSize, dataA[k], dataSizeL);
    }
    if (!writeAt(recordOffset(stepsA[i].slot), runL.data(), runL.size())) return false;
    i = endL;
  }
  // The rest of the grown region holds free records.
  const std::uint32_t zeroFromL = headerM.capacity + freshL;
  if (afterL.capacity > zeroFromL &&
      !writeZeros(recordOffset(zeroFromL),
                  static_cast<std::uint64_t>(afterL.capacity - zeroFromL) * sizeL)) {
    return false;
  }
  const FidHeader beforeL = headerM;
  headerM = afterL;
  if (!writeHeaderRange(0, FidHeader::kSize)) {
    headerM = beforeL;
    return false;
  }
  brokenM = false;
  checksumsA = std::move(checksumsL);
  return true;
}

// --- removing and rewriting -----------------------------------------------------------------

bool FidFile::remove(std::uint32_t slotA) {
  if (!mutable_() || slotA >= headerM.capacity) return false;
  std::uint32_t statusL = 0;
  std::uint32_t checksumL = 0;
  if (!readRecordHeader(slotA, statusL, checksumL) || statusL != kUsed) return false;
  brokenM = true;
  headerM.pending = ~slotA;
  if (!writeWord(kOffPending, headerM.pending)) return false;
  const std::uint32_t linkL =
      headerM.firstFree == kNoRecord ? headerM.capacity + 1 : headerM.firstFree + 1;
  unsigned char recL[kRecordHeaderSize];
  coding::encodeFixed32(recL, linkL);
  coding::encodeFixed32(recL + 4, checksumL);
  if (!writeAt(recordOffset(slotA), recL, sizeof recL)) return false;
  headerM.checksum =
      fid::subtractRecordChecksum(static_cast<std::uint16_t>(headerM.checksum), checksumL);
  headerM.free += 1;
  headerM.used -= 1;
  headerM.firstFree = slotA;
  headerM.full = 0;
  headerM.pending = 0;
  if (!writeHeaderRange(kOffCapacity, kOffReservedStart)) return false;
  brokenM = false;
  return true;
}

bool FidFile::rewrite(std::uint32_t slotA, const void* dataA, std::uint32_t& checksumA) {
  if (!mutable_() || slotA >= headerM.capacity) return false;
  std::uint32_t statusL = 0;
  std::uint32_t oldL = 0;
  if (!readRecordHeader(slotA, statusL, oldL) || statusL != kUsed) return false;
  brokenM = true;
  const std::uint32_t checksumL = fid::recordChecksum(dataA, dataSize());
  if (!writeAt(recordOffset(slotA) + kRecordHeaderSize, dataA, dataSize())) return false;
  if (!writeWord(recordOffset(slotA) + 4, checksumL)) return false;
  std::uint16_t sumL = static_cast<std::uint16_t>(headerM.checksum);
  sumL = fid::addRecordChecksum(fid::subtractRecordChecksum(sumL, oldL), checksumL);
  headerM.checksum = sumL;
  if (!writeHeaderRange(kOffCapacity, kOffReservedStart)) return false;
  brokenM = false;
  checksumA = checksumL;
  return true;
}

// --- reading --------------------------------------------------------------------------------

bool FidFile::readRecordHeader(std::uint32_t slotA, std::uint32_t& statusA,
                               std::uint32_t& checksumA) {
  if (handleM == nullptr || slotA >= headerM.capacity) return false;
  unsigned char recL[kRecordHeaderSize];
  if (readBytes(recordOffset(slotA), recL, sizeof recL) != sizeof recL) return false;
  statusA = coding::decodeFixed32(recL);
  checksumA = coding::decodeFixed32(recL + 4);
  return true;
}

bool FidFile::readRecord(std::uint32_t slotA, void* dataA, std::uint32_t* checksumA) {
  if (handleM == nullptr || slotA >= headerM.capacity || dataA == nullptr) return false;
  const std::uint32_t sizeL = headerM.recordSize;
  scratchM.resize(sizeL);
  if (readBytes(recordOffset(slotA), scratchM.data(), sizeL) != sizeL) return false;
  if (coding::decodeFixed32(scratchM.data()) != kUsed) return false;
  if (checksumA != nullptr) *checksumA = coding::decodeFixed32(scratchM.data() + 4);
  std::memcpy(dataA, scratchM.data() + kRecordHeaderSize, sizeL - kRecordHeaderSize);
  return true;
}

bool FidFile::readRecords(std::uint32_t firstA, std::uint32_t countA, unsigned char* dstA) {
  if (handleM == nullptr || dstA == nullptr || countA == 0 || firstA >= headerM.capacity ||
      countA > headerM.capacity - firstA) {
    return false;
  }
  return readDirect(recordOffset(firstA), dstA,
                    static_cast<std::uint64_t>(countA) * headerM.recordSize);
}

bool FidFile::forEachRecord(bool dataA, const RecordVisitor& fnA) {
  if (handleM == nullptr) return false;
  const std::uint32_t sizeL = headerM.recordSize;
  const std::uint32_t capacityL = headerM.capacity;
  // Small records are read in runs; for large ones without data only the headers are read.
  const bool runsL = dataA || sizeL <= 4096;
  if (capacityL == 0) return true;
  const std::uint32_t perRunL =
      runsL ? std::min(capacityL, std::max<std::uint32_t>(1, (1u << 20) / sizeL)) : 1;
  std::vector<unsigned char> runL(runsL ? static_cast<std::size_t>(perRunL) * sizeL : 8);
  invalidateBuffer();
  for (std::uint32_t firstL = 0; firstL < capacityL; firstL += perRunL) {
    const std::uint32_t countL = std::min(perRunL, capacityL - firstL);
    const std::uint64_t bytesL = runsL ? static_cast<std::uint64_t>(countL) * sizeL : 8;
    if (!readDirect(recordOffset(firstL), runL.data(), bytesL)) return false;
    for (std::uint32_t i = 0; i < countL; ++i) {
      const unsigned char* recL = runL.data() + static_cast<std::size_t>(i) * (runsL ? sizeL : 0);
      const std::uint32_t statusL = coding::decodeFixed32(recL);
      const std::uint32_t checksumL = coding::decodeFixed32(recL + 4);
      if (!fnA(firstL + i, statusL, checksumL, dataA ? recL + kRecordHeaderSize : nullptr)) {
        return true;
      }
    }
  }
  return true;
}

bool FidFile::computeChecksum(std::uint16_t& checksumA, std::uint32_t& usedA) {
  std::uint16_t sumL = 0;
  std::uint32_t usedL = 0;
  const bool okL = forEachRecord(false, [&](std::uint32_t, std::uint32_t statusA,
                                            std::uint32_t checksumA2, const unsigned char*) {
    if (statusA == kUsed) {
      sumL = fid::addRecordChecksum(sumL, checksumA2);
      ++usedL;
    }
    return true;
  });
  if (!okL) return false;
  checksumA = sumL;
  usedA = usedL;
  return true;
}

}  // namespace qridy
