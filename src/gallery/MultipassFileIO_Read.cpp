#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>

#include <algorithm>
#include <cstring>

#include "gallery/FidChecksum.h"
#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"

namespace qridy {

using namespace fileio;

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
  std::vector<unsigned char> runL;
  for (std::size_t f = 0; f < dataFilesM.size(); ++f) {
    MultiPartFidFile& fileL = *dataFilesM[f].file;
    const std::uint32_t recordL = fileL.recordSize();
    const std::uint32_t dataSizeL = recordL - FidFile::kRecordHeaderSize;
    const std::uint64_t runSlotsL = std::max<std::uint64_t>(1, kRunBytes / recordL);
    const std::uint64_t gapSlotsL = kGapBytes / recordL;
    for (std::size_t p = 0; p < slotsL[f].size(); ++p) {
      const std::vector<const IdRecKeyToBlobOffset*>& partL = slotsL[f][p];
      std::uint32_t s = 0;
      while (true) {
        while (s < partL.size() && partL[s] == nullptr) ++s;
        if (s >= partL.size()) break;
        // A run: from the wanted slot s up to the last wanted slot within reach.
        const std::uint32_t firstL = s;
        std::uint32_t lastL = s;
        bool stopHereL = stopsL && Place{f, fileL.positionOf(p, s)} >= stopL;
        if (stopHereL) return false;
        for (std::uint32_t n = s + 1; n < partL.size() && n - firstL < runSlotsL; ++n) {
          if (partL[n] == nullptr) {
            if (n - lastL > gapSlotsL) break;
            continue;
          }
          if (stopsL && Place{f, fileL.positionOf(p, n)} >= stopL) {
            stopHereL = true;
            break;
          }
          lastL = n;
        }
        const std::uint32_t countL = lastL - firstL + 1;
        runL.resize(static_cast<std::size_t>(countL) * recordL);
        bool readL = false;
        {
          qrsys::RWLock::WriteGuard guardL(readLock());
          readL = fileL.part(p).readRecords(firstL, countL, runL.data());
        }
        for (std::uint32_t n = firstL; n <= lastL; ++n) {
          if (partL[n] == nullptr) continue;
          unsigned char* recL = runL.data() + static_cast<std::size_t>(n - firstL) * recordL;
          if (!readL) {
            // The run could not be read in one go: record by record up to the one that fails.
            qrsys::RWLock::WriteGuard guardL(readLock());
            if (!fileL.part(p).readRecords(n, 1, recL)) return false;
          }
          if (coding::decodeFixed32(recL) != FidFile::kUsed) return false;
          const unsigned char* dataL = recL + FidFile::kRecordHeaderSize;
          visitA(*partL[n], dataL, dataSizeL);
          if (!sharedL.empty()) {
            const Place placeL{f, fileL.positionOf(p, n)};
            auto itL =
                std::lower_bound(sharedL.begin(), sharedL.end(), placeL,
                                 [](const auto& aA, const Place& bA) { return aA.first < bA; });
            for (; itL != sharedL.end() && itL->first == placeL; ++itL) {
              visitA(*itL->second, dataL, dataSizeL);
            }
          }
        }
        if (stopHereL) return false;
        s = lastL + 1;
      }
    }
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
