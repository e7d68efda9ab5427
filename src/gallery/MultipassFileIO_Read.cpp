#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "gallery/FidChecksum.h"
#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"

namespace qridy {

using namespace fileio;

namespace {

// A run of records of one part of a data file, read in one go.
struct BlobRun {
  std::size_t file, part;
  std::uint32_t first, last;
  bool stopBefore, stopAfter;
  bool stops() const { return stopBefore || stopAfter; }
};

// Reads runs 0, 1, ... into two buffers on a thread of its own, one run ahead of the caller:
// take(i) waits for run i, release(i) hands its buffer back for run i + 2. With a single run
// it reads on the caller's thread. The destructor stops and joins the thread, also when the
// caller leaves early (a visitor that throws, a walk that ends).
class RunReader {
 public:
  using ReadFn = std::function<bool(std::size_t, std::vector<unsigned char>&)>;
  RunReader(std::size_t countA, ReadFn readA) : countM(countA), readM(std::move(readA)) {
    slotsM[1].run = 1;
    if (countM > 1) threadM = std::thread([this] { readAhead(); });
  }
  ~RunReader() {
    {
      std::lock_guard<std::mutex> guardL(mutexM);
      stopM = true;
    }
    changedM.notify_all();
    if (threadM.joinable()) threadM.join();
  }
  RunReader(const RunReader&) = delete;
  RunReader& operator=(const RunReader&) = delete;

  std::vector<unsigned char>& take(std::size_t iA, bool& readA) {
    Slot& slotL = slotsM[iA % 2];
    if (!threadM.joinable()) {
      readA = readM(iA, slotL.buffer);
      return slotL.buffer;
    }
    std::unique_lock<std::mutex> lockL(mutexM);
    changedM.wait(lockL, [&] { return slotL.run == iA && slotL.ready; });
    readA = slotL.ok;
    return slotL.buffer;
  }
  void release(std::size_t iA) {
    if (!threadM.joinable()) return;
    {
      std::lock_guard<std::mutex> guardL(mutexM);
      slotsM[iA % 2].ready = false;
      slotsM[iA % 2].run = iA + 2;
    }
    changedM.notify_all();
  }

 private:
  struct Slot {
    std::vector<unsigned char> buffer;
    std::size_t run = 0;  // the run the slot is for next
    bool ready = false;
    bool ok = false;
  };
  void readAhead() {
    for (std::size_t i = 0; i < countM; ++i) {
      Slot& slotL = slotsM[i % 2];
      {
        std::unique_lock<std::mutex> lockL(mutexM);
        changedM.wait(lockL, [&] { return stopM || (slotL.run == i && !slotL.ready); });
        if (stopM) return;
      }
      // The slot is the reader's until it is marked ready.
      const bool okL = readM(i, slotL.buffer);
      {
        std::lock_guard<std::mutex> guardL(mutexM);
        slotL.ok = okL;
        slotL.ready = true;
      }
      changedM.notify_all();
    }
  }

  std::size_t countM;
  ReadFn readM;
  Slot slotsM[2];
  std::mutex mutexM;
  std::condition_variable changedM;
  bool stopM = false;
  std::thread threadM;
};

}  // namespace

qrsys::RWLock& fileio::readLock() {
  static qrsys::RWLock lockS;
  return lockS;
}

// --- reading and removing ---------------------------------------------------------------------

std::vector<MultipassFileIO::IdRecKeyToBlobOffset>::iterator MultipassFileIO::findEntry(
    const IdRecordKey& keyA) {
  IdRecKeyToBlobOffset probeL;
  probeL.key = keyA;
  auto itL = std::lower_bound(indexM.begin(), indexM.end(), probeL, keyLess);
  return (itL != indexM.end() && !(keyA < itL->key)) ? itL : indexM.end();
}

void MultipassFileIO::insertEntry(const IdRecKeyToBlobOffset& entryA) {
  indexM.insert(std::upper_bound(indexM.begin(), indexM.end(), entryA, keyLess), entryA);
}

std::vector<MultipassFileIO::IdRecKeyToBlobOffset> MultipassFileIO::searchPid(
    unsigned long long personIdA) const {
  IdRecKeyToBlobOffset probeL;
  probeL.key = IdRecordKey(personIdA, 0);
  auto itL = std::lower_bound(indexM.begin(), indexM.end(), probeL, keyLess);
  std::vector<IdRecKeyToBlobOffset> outL;
  for (; itL != indexM.end() && itL->key.personId == personIdA; ++itL) outL.push_back(*itL);
  return outL;
}

bool MultipassFileIO::read(const IdRecordKey& keyA, void* bufferA, bool verifyA) {
  if (bufferA == nullptr) return false;
  const auto itL = findEntry(keyA);
  if (itL == indexM.end()) return false;
  if (itL->dataFileIndex >= dataFilesM.size()) return false;
  qrsys::RWLock::WriteGuard guardL(readLock());
  std::string failedL;
  if (!ensureOpen(failedL)) return false;
  FidFileStruct& fileL = dataFilesM[itL->dataFileIndex];
  std::uint32_t checksumL = 0;
  if (!fileL.file->readRecord(itL->dataPosition, bufferA, &checksumL)) return false;
  unsigned char* bytesL = static_cast<unsigned char*>(bufferA);
  std::memset(bytesL + fileL.dataSize, 0, maxDataSizeM - fileL.dataSize);
  if (!verifyA) return true;
  return checksumL == itL->recordChecksum &&
         fid::recordChecksum(bytesL, fileL.dataSize) == checksumL;
}

bool MultipassFileIO::readBlobsInFileOrder(const BlobWanted& wantA, const BlobVisitor& visitA) {
  constexpr std::uint64_t kRunBytes = 512u << 10;
  constexpr std::uint64_t kGapBytes = 64u << 10;
  using Place = std::pair<std::size_t, std::uint32_t>;  // data file index, record position
  std::vector<const IdRecKeyToBlobOffset*> wantedL;
  for (const IdRecKeyToBlobOffset& eL : indexM) {
    if (wantA(eL)) wantedL.push_back(&eL);
  }
  if (wantedL.empty()) return true;
  // The wanted entries by data file, part and slot: one array per part, filled in one pass, so
  // file order costs no sort. An entry that names no record of the files ends the walk where it
  // would be in file order; a second entry naming the same record is kept aside.
  std::vector<std::vector<std::vector<const IdRecKeyToBlobOffset*>>> slotsL(dataFilesM.size());
  std::vector<std::pair<Place, const IdRecKeyToBlobOffset*>> sharedL;
  bool stopsL = false;
  Place stopL{0, 0};
  {
    qrsys::RWLock::WriteGuard guardL(readLock());
    std::string failedL;
    if (!ensureOpen(failedL)) return false;
    for (std::size_t f = 0; f < dataFilesM.size(); ++f) {
      MultiPartFidFile& fileL = *dataFilesM[f].file;
      slotsL[f].resize(fileL.partCount());
      for (std::size_t p = 0; p < fileL.partCount(); ++p) {
        slotsL[f][p].resize(fileL.part(p).header().capacity);
      }
    }
  }
  for (const IdRecKeyToBlobOffset* eL : wantedL) {
    const Place placeL{eL->dataFileIndex, eL->dataPosition};
    std::size_t partL = 0;
    std::uint32_t slotL = 0;
    if (placeL.first >= dataFilesM.size() ||
        !dataFilesM[placeL.first].file->locate(placeL.second, partL, slotL) ||
        slotL >= slotsL[placeL.first][partL].size()) {
      if (!stopsL || placeL < stopL) stopL = placeL;
      stopsL = true;
    } else if (slotsL[placeL.first][partL][slotL] != nullptr) {
      sharedL.emplace_back(placeL, eL);
    } else {
      slotsL[placeL.first][partL][slotL] = eL;
    }
  }
  std::stable_sort(sharedL.begin(), sharedL.end(),
                   [](const auto& aA, const auto& bA) { return aA.first < bA.first; });
  // The runs to read, in file order: from a wanted slot up to the last wanted slot within
  // reach. A run may end the walk before it is read (its first slot is at or beyond an entry
  // that names no record) or after it has been visited.
  std::vector<BlobRun> runsL;
  for (std::size_t f = 0; f < dataFilesM.size() && (runsL.empty() || !runsL.back().stops()); ++f) {
    MultiPartFidFile& fileL = *dataFilesM[f].file;
    const std::uint32_t recordL = fileL.recordSize();
    const std::uint64_t runSlotsL = std::max<std::uint64_t>(1, kRunBytes / recordL);
    const std::uint64_t gapSlotsL = kGapBytes / recordL;
    for (std::size_t p = 0; p < slotsL[f].size() && (runsL.empty() || !runsL.back().stops()); ++p) {
      const std::vector<const IdRecKeyToBlobOffset*>& partL = slotsL[f][p];
      std::uint32_t s = 0;
      while (true) {
        while (s < partL.size() && partL[s] == nullptr) ++s;
        if (s >= partL.size()) break;
        BlobRun runL{f, p, s, s, false, false};
        if (stopsL && Place{f, fileL.positionOf(p, s)} >= stopL) {
          runL.stopBefore = true;
          runsL.push_back(runL);
          break;
        }
        for (std::uint32_t n = s + 1; n < partL.size() && n - runL.first < runSlotsL; ++n) {
          if (partL[n] == nullptr) {
            if (n - runL.last > gapSlotsL) break;
            continue;
          }
          if (stopsL && Place{f, fileL.positionOf(p, n)} >= stopL) {
            runL.stopAfter = true;
            break;
          }
          runL.last = n;
        }
        runsL.push_back(runL);
        if (runL.stopAfter) break;
        s = runL.last + 1;
      }
    }
  }
  // Runs are read ahead on a second thread while the visitor works on the one before.
  RunReader readerL(runsL.size(), [&](std::size_t iA, std::vector<unsigned char>& bufferA) {
    const BlobRun& runL = runsL[iA];
    if (runL.stopBefore) return false;
    MultiPartFidFile& fileL = *dataFilesM[runL.file].file;
    bufferA.resize(static_cast<std::size_t>(runL.last - runL.first + 1) * fileL.recordSize());
    qrsys::RWLock::WriteGuard guardL(readLock());
    return fileL.part(runL.part).readRecords(runL.first, runL.last - runL.first + 1,
                                             bufferA.data());
  });
  for (std::size_t i = 0; i < runsL.size(); ++i) {
    const BlobRun& runL = runsL[i];
    if (runL.stopBefore) return false;
    MultiPartFidFile& fileL = *dataFilesM[runL.file].file;
    const std::uint32_t recordL = fileL.recordSize();
    const std::uint32_t dataSizeL = recordL - FidFile::kRecordHeaderSize;
    const std::vector<const IdRecKeyToBlobOffset*>& partL = slotsL[runL.file][runL.part];
    bool readL = false;
    std::vector<unsigned char>& bufferL = readerL.take(i, readL);
    for (std::uint32_t n = runL.first; n <= runL.last; ++n) {
      if (partL[n] == nullptr) continue;
      unsigned char* recL = bufferL.data() + static_cast<std::size_t>(n - runL.first) * recordL;
      if (!readL) {
        // The run could not be read in one go: record by record up to the one that fails.
        qrsys::RWLock::WriteGuard guardL(readLock());
        if (!fileL.part(runL.part).readRecords(n, 1, recL)) return false;
      }
      if (coding::decodeFixed32(recL) != FidFile::kUsed) return false;
      const unsigned char* dataL = recL + FidFile::kRecordHeaderSize;
      visitA(*partL[n], dataL, dataSizeL);
      if (!sharedL.empty()) {
        const Place placeL{runL.file, fileL.positionOf(runL.part, n)};
        auto itL = std::lower_bound(sharedL.begin(), sharedL.end(), placeL,
                                    [](const auto& aA, const Place& bA) { return aA.first < bA; });
        for (; itL != sharedL.end() && itL->first == placeL; ++itL) {
          visitA(*itL->second, dataL, dataSizeL);
        }
      }
    }
    readerL.release(i);
    if (runL.stopAfter) return false;
  }
  return !stopsL;
}

// --- the index ------------------------------------------------------------------------------

void MultipassFileIO::readIdRecKeyToBlobOffsetMap(const std::string& labelA,
                                                  GalleryMetadataSource& sourceA) {
  loadIndex(labelA, &sourceA);
}

void MultipassFileIO::readIdRecKeyToBlobOffsetMap(const std::string& labelA) {
  loadIndex(labelA, nullptr);
}

void MultipassFileIO::readIndexRecords(std::vector<IdRecKeyToBlobOffset>& entriesA,
                                       std::vector<unsigned int>& damagedA, const char* functionA) {
  MultiPartFidFile& fileL = *indexFileM.file;
  entriesA.reserve(static_cast<std::size_t>(fileL.usedRecords()));
  for (std::size_t p = 0; p < fileL.partCount(); ++p) {
    const bool okL =
        fileL.part(p).forEachRecord(true, [&](std::uint32_t slotA, std::uint32_t statusA,
                                              std::uint32_t checksumA, const unsigned char* dataA) {
          if (statusA != FidFile::kUsed) return true;
          IdRecKeyToBlobOffset eL = decodeIndexRecord(dataA);
          eL.indexPosition = fileL.positionOf(p, slotA);
          if (fid::recordChecksum(dataA, kIndexDataSize) != checksumA ||
              eL.dataFileIndex >= dataFilesM.size()) {
            damagedA.push_back(eL.indexPosition);
          } else {
            entriesA.push_back(eL);
          }
          return true;
        });
    if (!okL) {
      KXXCP_THROW(functionA, "Cannot read MultipassFileIO file : " << fileL.partFileName(p));
    }
  }
}

void MultipassFileIO::loadIndex(const std::string& labelA, GalleryMetadataSource* sourceA) {
  const char* const kFunction = "qridy::MultipassFileIO::readIdRecKeyToBlobOffsetMap";
  try {
    open();
  } catch (const kxxcp::Exception& eL) {
    KXXCP_THROW(kFunction, eL.getMessage());
  }
  std::vector<IdRecKeyToBlobOffset> entriesL;
  std::vector<unsigned int> damagedL;
  readIndexRecords(entriesL, damagedL, kFunction);
  const std::size_t skippedL = damagedL.size();
  if (skippedL > 0) {
    std::ostringstream osL;
    osL << "readIdRecKeyToBlobOffsetMap - " << skippedL << " damaged index records skipped in "
        << indexFileM.fileName;
    notifyWarning(osL.str());
  }
  std::size_t unknownL = 0;
  if (sourceA != nullptr) {
    for (IdRecKeyToBlobOffset& eL : entriesL) {
      eL.metadata = sourceA->getMetaDataByIdRecordKey(eL.key);
      if (eL.metadata == nullptr) ++unknownL;
    }
  }
  if (unknownL > 0) {
    std::ostringstream osL;
    osL << "readIdRecKeyToBlobOffsetMap - " << unknownL
        << " stored identities are not in the metadata container (" << labelA << ")";
    notifyWarning(osL.str());
  }
  std::stable_sort(entriesL.begin(), entriesL.end(), keyLess);
  indexM = std::move(entriesL);
  if (kxutl::QuarlenInformation::debugLevelS >= 4) {
    kxntc::log << "read ids from (" << labelA << ") : " << indexM.size();
    kxntc::notify(kxntc::log);
  }
}

void MultipassFileIO::dump(std::ostream& osA, const char* magicA) const {
  osA.write(magicA, 4);
  coding::putFixed32(osA, static_cast<std::uint32_t>(indexM.size()));
  for (const IdRecKeyToBlobOffset& eL : indexM) {
    coding::putFixed64(osA, eL.key.personId);
    coding::putFixed64(osA, eL.key.transactionId);
    coding::putFixed8(osA, eL.dataFileIndex);
    coding::putFixed32(osA, eL.dataPosition);
    coding::putFixed32(osA, eL.indexPosition);
  }
}

void MultipassFileIO::dumpBinary(std::ostream& osA) const {
  dump(osA, "MFBD");
}

void MultipassFileIO::dumpShortBinary(std::ostream& osA) const {
  dump(osA, "MFSD");
}

}  // namespace qridy
