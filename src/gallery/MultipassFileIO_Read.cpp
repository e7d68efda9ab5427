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
