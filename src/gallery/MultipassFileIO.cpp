#include <quarlen/FileManager.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>

#include <qrlcore/Exception.h>
#include <qrlcore/FilePath.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlcore/RWLock.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <sstream>
#include <unordered_set>

#include <fcntl.h>
#include <unistd.h>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "gallery/FidFile.h"
#include "gallery/FidJournal.h"
#include "gallery/MultiPartFidFile.h"

namespace qridy {

struct MultipassFileIO::Batch {
  std::vector<FidJournal::Patch> patches;
  // What the change leaves behind when it completes, kept for a roll-back whose outcome is not
  // known (see settleUnknownOutcome).
  std::vector<IdRecKeyToBlobOffset> unsettledAdds;
  std::vector<IdRecKeyToBlobOffset> unsettledRemovals;
  std::vector<std::string> patchFiles;       // per patch: the FID file it belongs to
  std::vector<unsigned int> patchPositions;  // per patch: the record position it concerns
  std::vector<MultiPartFidFile*> touched;
  bool newParts = false;
};

namespace {

constexpr const char* kSectionSizes = "FID_FILE_TEMPLATE_SIZE";
constexpr const char* kSectionMatching = "TEMPLATE_MATCHING_MULTIPASS";
constexpr const char* kSectionCaching = "FID_DATA_CACHING";

void notifyError(const std::string& textA) {
  kxntc::error << textA;
  kxntc::notify(kxntc::error);
}

void notifyWarning(const std::string& textA) {
  kxntc::warning << textA;
  kxntc::notify(kxntc::warning);
}

// Blob reads of all galleries share one lock: a FID file has one file position and one
// read-ahead buffer.
qrsys::RWLock& readLock() {
  static qrsys::RWLock lockS;
  return lockS;
}

// Makes a new directory entry durable. Only possible for files of the default file functions;
// a host with its own storage makes its directory changes durable itself.
bool syncDirectory(const std::string& directoryA) {
  if (FileManager::openFuncPtrS != &FileManager::defaultOpen) return true;
  const int fdL = ::open(directoryA.c_str(), O_RDONLY | O_DIRECTORY);
  if (fdL < 0) return false;
  const bool okL = ::fsync(fdL) == 0;
  ::close(fdL);
  return okL;
}

std::string fileNameOf(const std::string& pathA) {
  const std::size_t slashL = pathA.find_last_of('/');
  return slashL == std::string::npos ? pathA : pathA.substr(slashL + 1);
}

// The 25-byte index record.
void encodeIndexRecord(unsigned char* outA, const IdRecordKey& keyA, unsigned char fileA,
                       std::uint32_t positionA, std::uint32_t checksumA) {
  coding::encodeFixed64(outA, keyA.personId);
  coding::encodeFixed64(outA + 8, keyA.transactionId);
  outA[16] = fileA;
  coding::encodeFixed32(outA + 17, positionA);
  coding::encodeFixed32(outA + 21, checksumA);
}

MultipassFileIO::IdRecKeyToBlobOffset decodeIndexRecord(const unsigned char* inA) {
  MultipassFileIO::IdRecKeyToBlobOffset eL;
  eL.key = IdRecordKey(coding::decodeFixed64(inA), coding::decodeFixed64(inA + 8));
  eL.dataFileIndex = inA[16];
  eL.dataPosition = coding::decodeFixed32(inA + 17);
  eL.recordChecksum = coding::decodeFixed32(inA + 21);
  return eL;
}

bool keyLess(const MultipassFileIO::IdRecKeyToBlobOffset& aA,
             const MultipassFileIO::IdRecKeyToBlobOffset& bA) {
  return aA.key < bA.key;
}

std::string quoted(const std::string& textA) {
  return "\"" + textA + "\"";
}

template <typename T>
std::string quoted(T valueA) {
  std::ostringstream osL;
  osL << '"' << valueA << '"';
  return osL.str();
}

// Before-images of what a plan of adds will overwrite in one multi-part file: the header of every
// part it touches (an empty header for a part it creates) and the record header of every record
// it fills below the part's capacity.
void addPlanPatches(MultiPartFidFile& fileA, const std::string& displayA,
                    const std::vector<MultiPartFidFile::PlannedAdd>& planA,
                    std::vector<FidJournal::Patch>& patchesA, std::vector<std::string>& filesA,
                    std::vector<unsigned int>& positionsA, bool& newPartsA) {
  std::set<std::uint32_t> partsL;
  for (const auto& addL : planA) {
    if (partsL.insert(addL.part).second) {
      FidHeader headerL;
      if (addL.part < fileA.partCount()) {
        headerL = fileA.part(addL.part).header();
      } else {
        headerL = FidHeader::empty(fileA.recordSize(), fileA.growth());
        newPartsA = true;
      }
      FidJournal::Patch patchL;
      patchL.fileName = fileA.partFileName(addL.part);
      patchL.bytes.resize(FidHeader::kSize);
      headerL.encode(patchL.bytes.data());
      patchesA.push_back(std::move(patchL));
      filesA.push_back(displayA);
      positionsA.push_back(addL.position);
    }
    if (addL.part < fileA.partCount() && addL.step.slot < fileA.part(addL.part).header().capacity) {
      FidJournal::Patch patchL;
      patchL.fileName = fileA.partFileName(addL.part);
      patchL.offset = fileA.part(addL.part).recordOffset(addL.step.slot);
      patchL.bytes.resize(FidFile::kRecordHeaderSize);
      coding::encodeFixed32(patchL.bytes.data(), addL.step.foundStatus);
      coding::encodeFixed32(patchL.bytes.data() + 4, addL.step.foundChecksum);
      patchesA.push_back(std::move(patchL));
      filesA.push_back(displayA);
      positionsA.push_back(addL.position);
    }
  }
}

// Before-images for removing one used record: its part's header and its record header.
bool addRemovalPatches(MultiPartFidFile& fileA, const std::string& displayA,
                       std::uint32_t positionA, std::vector<FidJournal::Patch>& patchesA,
                       std::vector<std::string>& filesA, std::vector<unsigned int>& positionsA) {
  std::size_t partL = 0;
  std::uint32_t slotL = 0;
  std::uint32_t statusL = 0;
  std::uint32_t checksumL = 0;
  if (!fileA.locate(positionA, partL, slotL) ||
      !fileA.part(partL).readRecordHeader(slotL, statusL, checksumL)) {
    return false;
  }
  FidJournal::Patch headerL;
  headerL.fileName = fileA.partFileName(partL);
  headerL.bytes.resize(FidHeader::kSize);
  fileA.part(partL).header().encode(headerL.bytes.data());
  FidJournal::Patch recordL;
  recordL.fileName = headerL.fileName;
  recordL.offset = fileA.part(partL).recordOffset(slotL);
  recordL.bytes.resize(FidFile::kRecordHeaderSize);
  coding::encodeFixed32(recordL.bytes.data(), statusL);
  coding::encodeFixed32(recordL.bytes.data() + 4, checksumL);
  patchesA.push_back(std::move(headerL));
  patchesA.push_back(std::move(recordL));
  for (int i = 0; i < 2; ++i) {
    filesA.push_back(displayA);
    positionsA.push_back(positionA);
  }
  return true;
}

}  // namespace

// --- construction ---------------------------------------------------------------------------

MultipassFileIO::MultipassFileIO(const std::string& baseA, unsigned int reserveA,
                                 const std::string& nameA) {
  construct(baseA, reserveA, nameA, {});
}

MultipassFileIO::MultipassFileIO(const std::string& baseA, unsigned int reserveA,
                                 const std::string& nameA, std::vector<unsigned int> sizesA) {
  construct(baseA, reserveA, nameA, std::move(sizesA));
}

MultipassFileIO::~MultipassFileIO() {
  close();
}

void MultipassFileIO::construct(const std::string& baseA, unsigned int reserveA,
                                const std::string& nameA, std::vector<unsigned int> sizesA) {
  const char* const kFunction = "qridy::MultipassFileIO::construct";
  try {
    if (nameA.empty() || nameA.find('/') != std::string::npos ||
        nameA.find('\\') != std::string::npos || nameA == "." || nameA == "..") {
      KXXCP_THROW(kFunction, "Invalid gallery name: '" << nameA << "'.");
    }
    if (sizesA.empty()) {
      sizesA = kxutl::QuarlenInformation::getUintVectorFromConfigFile(kSectionSizes, "SIZES");
    }
    if (sizesA.empty()) {
      KXXCP_THROW(kFunction, "No data sizes: section '" << kSectionSizes << "', key 'SIZES'.");
    }
    if (sizesA.size() > kMaxDataFiles) {
      KXXCP_THROW(kFunction, "Too many data sizes: '" << sizesA.size() << "' (at most "
                                                      << kMaxDataFiles << ").");
    }
    for (unsigned int sizeL : sizesA) {
      if (sizeL > FidFile::kMaxDataSize) {
        KXXCP_THROW(kFunction, "Data size too large: '" << sizeL << "'.");
      }
    }
    const int cacheL =
        kxutl::QuarlenInformation::getIntFromConfigFile(kSectionMatching, "loadingCacheSize", 1000);
    cacheLimitM = cacheL < 1 ? 1u : static_cast<unsigned int>(cacheL);
    const int bufferL =
        kxutl::QuarlenInformation::getIntFromConfigFile(kSectionCaching, "cacheBufferSize", 0);
    bufferBytesM = bufferL < 1 ? 0u : static_cast<unsigned int>(bufferL);

    std::string baseL = baseA;
    kxutl::FilePath::trimPath(baseL, true);
    nameM = nameA;
    directoryM = baseL + nameA;
    kxutl::FilePath(directoryM, true).mkdir();

    indexFileM.fileName = directoryM + "/" + nameA + ".IDs";
    indexFileM.dataSize = kIndexDataSize;
    indexFileM.file = std::make_shared<MultiPartFidFile>(indexFileM.fileName, 0);
    for (std::size_t i = 0; i < sizesA.size(); ++i) {
      FidFileStruct fileL;
      fileL.fileName = directoryM + "/" + nameA + "_" + std::to_string(sizesA[i]) + ".dat";
      fileL.dataSize = sizesA[i];
      fileL.index = static_cast<unsigned int>(i);
      // A size given twice names the same file: the later entry shares the first one's file
      // and never receives blobs (the first of equal sizes is chosen).
      for (const FidFileStruct& earlierL : dataFilesM) {
        if (earlierL.dataSize == sizesA[i] && !fileL.alias) {
          fileL.file = earlierL.file;
          fileL.alias = true;
        }
      }
      if (!fileL.alias) {
        fileL.file = std::make_shared<MultiPartFidFile>(fileL.fileName, bufferBytesM);
      }
      maxDataSizeM = std::max(maxDataSizeM, sizesA[i]);
      dataFilesM.push_back(std::move(fileL));
    }
    journalM = std::make_unique<FidJournal>(directoryM, nameA + ".journal");
    indexM.reserve(std::min<unsigned int>(reserveA, 1u << 24));
  } catch (const kxxcp::Exception& eL) {
    KXXCP_THROW(kFunction, "Failed to create MultipassFileIO object. ... kxxcp exc caught: "
                               << eL.getMessage());
  } catch (...) {
    KXXCP_THROW(kFunction, "Failed to create MultipassFileIO object. . Unknown exc caught.");
  }
}

std::string MultipassFileIO::indexFileName() const {
  return indexFileM.fileName;
}

std::string MultipassFileIO::dataFileName(std::size_t fileA) const {
  return dataFilesM[fileA].fileName;
}

unsigned int MultipassFileIO::getFidFile(unsigned int sizeA) const {
  unsigned int bestL = 0;
  bool foundL = false;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (fileL.dataSize >= sizeA && (!foundL || fileL.dataSize < dataFilesM[bestL].dataSize)) {
      bestL = fileL.index;
      foundL = true;
    }
  }
  if (!foundL) {
    KXXCP_THROW("qridy::MultipassFileIO::getFidFile",
                "Cannot find a fidfile for datasize: " << sizeA);
  }
  return bestL;
}

// --- life cycle -----------------------------------------------------------------------------

void MultipassFileIO::create(unsigned int, unsigned int) {
  close();
  auto createL = [&](FidFileStruct& fileA) {
    if (!fileA.file->create(fileA.dataSize, kGrowthIncrement)) {
      KXXCP_THROW("qridy::MultipassFileIO::create",
                  "Cannot create MultipassFileIO file : " << fileA.fileName
                                                          << ", dataSize : " << fileA.dataSize);
    }
  };
  createL(indexFileM);
  for (FidFileStruct& fileL : dataFilesM) {
    if (!fileL.alias) createL(fileL);
  }
  if (!journalM->create(syncM) || (syncM && !syncDirectory(directoryM))) {
    KXXCP_THROW("qridy::MultipassFileIO::create",
                "Cannot create MultipassFileIO file : " << journalM->path() << ", dataSize : 0");
  }
  createdM = true;
  indexM.clear();
  cacheM.clear();
  cacheBytesM.clear();
  open();
}

bool MultipassFileIO::journalAccepts(const std::string& fileNameA) const {
  auto matchesL = [&](const std::string& baseA) {
    if (fileNameA == baseA) return true;
    if (fileNameA.size() < baseA.size() + 5 || fileNameA.compare(0, baseA.size(), baseA) != 0 ||
        fileNameA[baseA.size()] != '.') {
      return false;
    }
    return std::all_of(fileNameA.begin() + static_cast<std::ptrdiff_t>(baseA.size()) + 1,
                       fileNameA.end(),
                       [](char cA) { return std::isdigit(static_cast<unsigned char>(cA)) != 0; });
  };
  if (matchesL(fileNameOf(indexFileM.fileName))) return true;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (matchesL(fileNameOf(fileL.fileName))) return true;
  }
  return false;
}

void MultipassFileIO::open() {
  if (openM) return;
  const char* const kFunction = "qridy::MultipassFileIO::open";
  auto failL = [&](const std::string& nameA) {
    close();
    std::string textL = "Cannot open MultipassFileIO file : " + nameA;
    if (!createdM) textL += ", Not created!";
    notifyError(textL);
    throw kxxcp::Exception(textL, __FILE__, __LINE__, kFunction);
  };
  // Nothing may be read before an interrupted change is undone: the before-images are raw bytes,
  // written before the parts are opened (and checked).
  FidJournal::State journalL = FidJournal::State::Missing;
  if (!journalM->recover([this](const std::string& nA) { return journalAccepts(nA); }, syncM,
                         journalL)) {
    failL(journalM->path());
  }
  if (journalL == FidJournal::State::Active && kxutl::QuarlenInformation::debugLevelS >= 3) {
    kxntc::log << "MultipassFileIO::open - interrupted change undone in " << directoryM;
    kxntc::notify(kxntc::log);
  }
  if (!indexFileM.file->open()) failL(indexFileM.fileName);
  if (indexFileM.file->dataSize() != kIndexDataSize) failL(indexFileM.fileName);
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    if (!fileL.file->open() || fileL.file->dataSize() != fileL.dataSize) failL(fileL.fileName);
    fileL.file->setRecordLimit(static_cast<std::uint32_t>(fileLimitM));
    fileL.file->enableCaching(dataCachingM);
  }
  // A gallery written without a journal gets one now (its directory entry made durable before
  // the first change relies on it).
  if (journalL == FidJournal::State::Missing &&
      (!journalM->create(syncM) || (syncM && !syncDirectory(directoryM)))) {
    failL(journalM->path());
  }
  openM = true;
  if (!unsettledAddsM.empty() || !unsettledRemovalsM.empty()) settleUnknownOutcome();
}

void MultipassFileIO::close() {
  indexFileM.file->close();
  for (FidFileStruct& fileL : dataFilesM) fileL.file->close();
  openM = false;
}

bool MultipassFileIO::isOpen() const {
  return openM;
}

bool MultipassFileIO::ensureOpen(std::string& failedA) {
  if (openM) return true;
  try {
    open();
    return true;
  } catch (const kxxcp::Exception& eL) {
    failedA = eL.getMessage();
    return false;
  }
}

void MultipassFileIO::setFileLimit(long limitA) {
  fileLimitM = limitA < 0 ? 0 : std::min<long>(limitA, 0xFFFFFFFFL);
  for (FidFileStruct& fileL : dataFilesM) {
    fileL.file->setRecordLimit(static_cast<std::uint32_t>(fileLimitM));
  }
}

long MultipassFileIO::getFileLimit() const {
  if (!dataFilesM.empty() && dataFilesM[0].file->isOpen()) {
    return dataFilesM[0].file->part(0).recordLimit();
  }
  return fileLimitM;
}

void MultipassFileIO::enableCachingForDataFidFiles(bool enableA) {
  dataCachingM = enableA;
  for (FidFileStruct& fileL : dataFilesM) fileL.file->enableCaching(enableA);
}

// --- writing --------------------------------------------------------------------------------

bool MultipassFileIO::add(const IdentityMetadata& metadataA, const void* dataA,
                          unsigned int sizeA) {
  if (sizeA > maxDataSizeM) getFidFile(sizeA);  // throws: no data file takes the blob
  if (dataA == nullptr && sizeA > 0) return false;
  CachedBlob blobL;
  blobL.key = metadataA.getIdRecordKey();
  blobL.metadata = &metadataA;
  blobL.size = sizeA;
  const std::size_t offsetL = cacheBytesM.size();
  cacheBytesM.resize(offsetL + maxDataSizeM, 0);
  if (sizeA > 0) std::memcpy(cacheBytesM.data() + offsetL, dataA, sizeA);
  cacheM.push_back(blobL);
  if (cacheM.size() >= cacheLimitM) return writeCacheToDisk();
  return true;
}

bool MultipassFileIO::writeCacheToDisk() {
  if (cacheM.empty()) return true;
  std::string failedL;
  if (!ensureOpen(failedL)) {
    if (failedL.find(indexFileM.fileName) != std::string::npos) {
      notifyError("writeCacheToDisk - Failed to open ID FID file " + indexFileM.fileName);
    } else {
      notifyError("writeCacheToDisk - Failed to open the data FID files ");
    }
    return false;
  }
  const std::size_t countL = cacheM.size();
  std::vector<unsigned int> fileOfL(countL);
  std::vector<std::size_t> perFileL(dataFilesM.size(), 0);
  for (std::size_t i = 0; i < countL; ++i) {
    fileOfL[i] = getFidFile(cacheM[i].size);
    ++perFileL[fileOfL[i]];
  }

  // Plan every add first, so that the journal can hold the before-images of all of them.
  Batch batchL;
  std::vector<std::vector<MultiPartFidFile::PlannedAdd>> dataPlansL(dataFilesM.size());
  for (std::size_t f = 0; f < dataFilesM.size(); ++f) {
    if (perFileL[f] == 0) continue;
    MultiPartFidFile& fileL = *dataFilesM[f].file;
    if (!fileL.planAdds(perFileL[f], dataPlansL[f])) {
      notifyError("writeCacheToDisk - Add failed for FID file " + dataFilesM[f].fileName);
      return false;
    }
    addPlanPatches(fileL, dataFilesM[f].fileName, dataPlansL[f], batchL.patches, batchL.patchFiles,
                   batchL.patchPositions, batchL.newParts);
    batchL.touched.push_back(&fileL);
  }
  std::vector<MultiPartFidFile::PlannedAdd> indexPlanL;
  if (!indexFileM.file->planAdds(countL, indexPlanL)) {
    notifyError("writeCacheToDisk - Add failed for ID FID file " + indexFileM.fileName);
    return false;
  }
  addPlanPatches(*indexFileM.file, indexFileM.fileName, indexPlanL, batchL.patches,
                 batchL.patchFiles, batchL.patchPositions, batchL.newParts);
  batchL.touched.push_back(indexFileM.file.get());
  if (!journalM->begin(batchL.patches, syncM)) {
    notifyError("writeCacheToDisk - Add failed for FID file " + journalM->path());
    return false;
  }

  // The blobs, file by file; each file's records in runs, its part headers written once.
  std::vector<IdRecKeyToBlobOffset> newL(countL);
  std::vector<std::vector<std::size_t>> blobsOfFileL(dataFilesM.size());
  for (std::size_t i = 0; i < countL; ++i) blobsOfFileL[fileOfL[i]].push_back(i);
  for (std::size_t f = 0; f < dataFilesM.size(); ++f) {
    if (blobsOfFileL[f].empty()) continue;
    std::vector<const unsigned char*> bytesL;
    for (std::size_t i : blobsOfFileL[f]) bytesL.push_back(cacheBytesM.data() + i * maxDataSizeM);
    std::vector<std::uint32_t> checksumsL;
    if (!dataFilesM[f].file->applyPlannedBatch(dataPlansL[f], bytesL, checksumsL)) {
      notifyError("writeCacheToDisk - Add failed for FID file " + dataFilesM[f].fileName);
      return rollBack(batchL, "writeCacheToDisk");
    }
    for (std::size_t k = 0; k < blobsOfFileL[f].size(); ++k) {
      IdRecKeyToBlobOffset& entryL = newL[blobsOfFileL[f][k]];
      entryL.key = cacheM[blobsOfFileL[f][k]].key;
      entryL.metadata = cacheM[blobsOfFileL[f][k]].metadata;
      entryL.dataFileIndex = static_cast<unsigned char>(f);
      entryL.dataPosition = dataPlansL[f][k].position;
      entryL.recordChecksum = checksumsL[k];
    }
  }
  // Then their index records.
  std::vector<unsigned char> recordsL(countL * kIndexDataSize);
  std::vector<const unsigned char*> recordPtrsL(countL);
  for (std::size_t i = 0; i < countL; ++i) {
    unsigned char* recordL = recordsL.data() + i * kIndexDataSize;
    encodeIndexRecord(recordL, newL[i].key, newL[i].dataFileIndex, newL[i].dataPosition,
                      newL[i].recordChecksum);
    recordPtrsL[i] = recordL;
    newL[i].indexPosition = indexPlanL[i].position;
  }
  std::vector<std::uint32_t> indexChecksumsL;
  if (!indexFileM.file->applyPlannedBatch(indexPlanL, recordPtrsL, indexChecksumsL)) {
    // The batch's records are written together; the first one stands for them.
    std::ostringstream osL;
    osL << "writeCacheToDisk - Add failed for ID FID file " << indexFileM.fileName
        << "\n   Person id " << newL[0].key.personId << "\n   Transaction id "
        << newL[0].key.transactionId << "\n   data FID file index "
        << static_cast<unsigned>(newL[0].dataFileIndex) << "\n   data FID file entry position "
        << newL[0].dataPosition;
    notifyError(osL.str());
    return rollBack(batchL, "writeCacheToDisk");
  }
  if (!finishChange(batchL)) {
    notifyError("writeCacheToDisk - Add failed for FID file " + journalM->path());
    // Whether the journal was closed is unknown: the batch may be complete on disk.
    batchL.unsettledAdds = newL;
    return rollBack(batchL, "writeCacheToDisk");
  }

  std::stable_sort(newL.begin(), newL.end(), keyLess);
  const std::size_t oldL = indexM.size();
  indexM.insert(indexM.end(), newL.begin(), newL.end());
  std::inplace_merge(indexM.begin(), indexM.begin() + static_cast<std::ptrdiff_t>(oldL),
                     indexM.end(), keyLess);
  cacheM.clear();
  cacheBytesM.clear();
  return true;
}

bool MultipassFileIO::finishChange(Batch& batchA) {
  if (syncM) {
    for (MultiPartFidFile* fileL : batchA.touched) {
      if (!fileL->sync()) return false;
    }
    if (batchA.newParts && !syncDirectory(directoryM)) return false;
  }
  return journalM->finish(syncM);
}

bool MultipassFileIO::rollBack(Batch& batchA, const char* contextA) {
  const bool addL = std::strcmp(contextA, "writeCacheToDisk") == 0;
  // The files are closed first: their objects hold what the failed change left in memory, and
  // closing flushes whatever the failed writes left buffered, which the undo then overwrites.
  close();
  auto reportL = [&](const std::string& fileA, unsigned int positionA) {
    std::ostringstream osL;
    osL << contextA << " - Rollback for " << (addL ? "add" : "clear") << " failed for FID file "
        << fileA << "   FID file position " << positionA;
    notifyError(osL.str());
    return false;
  };
  // The undo may only start once the journal is known to be active: should it stop half-way,
  // the next open() completes it.
  if (!journalM->activate(syncM)) {
    // Nothing was undone. If the journal was active, the next open() undoes the change; if the
    // change had been completed, it stays. open() finds out which, for this object's index.
    unsettledAddsM = batchA.unsettledAdds;
    unsettledRemovalsM = batchA.unsettledRemovals;
    return reportL(journalM->path(), batchA.patchPositions.empty() ? 0 : batchA.patchPositions[0]);
  }
  if (!journalM->undo(batchA.patches, syncM)) {
    const std::size_t kL = journalM->failedPatch();
    return reportL(batchA.patchFiles[kL], batchA.patchPositions[kL]);
  }
  // Should marking the journal idle fail, the next open() repeats the undo, which changes
  // nothing any more.
  journalM->finish(syncM);
  std::string failedL;
  ensureOpen(failedL);
  return false;
}

void MultipassFileIO::settleUnknownOutcome() {
  auto storedL = [&](const IdRecKeyToBlobOffset& entryA) {
    unsigned char recordL[kIndexDataSize];
    std::uint32_t checksumL = 0;
    if (!indexFileM.file->readRecord(entryA.indexPosition, recordL, &checksumL)) return false;
    const IdRecKeyToBlobOffset foundL = decodeIndexRecord(recordL);
    return foundL.key == entryA.key && foundL.dataFileIndex == entryA.dataFileIndex &&
           foundL.dataPosition == entryA.dataPosition;
  };
  if (!unsettledAddsM.empty() && storedL(unsettledAddsM.front())) {
    // The batch was completed: its blobs leave the cache, where they lead the queue.
    for (const IdRecKeyToBlobOffset& entryL : unsettledAddsM) insertEntry(entryL);
    const std::size_t countL = std::min(unsettledAddsM.size(), cacheM.size());
    cacheM.erase(cacheM.begin(), cacheM.begin() + static_cast<std::ptrdiff_t>(countL));
    cacheBytesM.erase(cacheBytesM.begin(),
                      cacheBytesM.begin() + static_cast<std::ptrdiff_t>(countL * maxDataSizeM));
  }
  for (const IdRecKeyToBlobOffset& entryL : unsettledRemovalsM) {
    if (storedL(entryL)) continue;
    const auto itL = findEntry(entryL.key);
    if (itL != indexM.end()) indexM.erase(itL);
  }
  unsettledAddsM.clear();
  unsettledRemovalsM.clear();
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

bool MultipassFileIO::clear(const IdRecordKey& keyA) {
  const auto itL = findEntry(keyA);
  if (itL == indexM.end()) return true;
  const IdRecKeyToBlobOffset entryL = *itL;
  indexM.erase(itL);
  auto failL = [&](const std::string& textA) {
    notifyError(textA);
    insertEntry(entryL);
    return false;
  };
  std::ostringstream idsL;
  idsL << "\n   Person id " << keyA.personId << "\n   Transaction id " << keyA.transactionId;
  std::string failedL;
  if (!ensureOpen(failedL)) {
    if (failedL.find(indexFileM.fileName) != std::string::npos ||
        failedL.find(journalM->path()) != std::string::npos) {
      return failL("MultipassFileIO::clear - Open failed for ID FID file " + indexFileM.fileName +
                   idsL.str());
    }
    return failL("MultipassFileIO::clear - Failed to open the data FID files ");
  }
  if (entryL.dataFileIndex >= dataFilesM.size()) {
    return failL("MultipassFileIO::clear - Clear failed for FID file " + indexFileM.fileName);
  }
  FidFileStruct& dataL = dataFilesM[entryL.dataFileIndex];
  Batch batchL;
  std::ostringstream positionL;
  positionL << "   FID position " << entryL.indexPosition;
  if (!addRemovalPatches(*indexFileM.file, indexFileM.fileName, entryL.indexPosition,
                         batchL.patches, batchL.patchFiles, batchL.patchPositions)) {
    return failL("MultipassFileIO::clear - Clear failed for ID FID file " + indexFileM.fileName +
                 positionL.str());
  }
  if (!addRemovalPatches(*dataL.file, dataL.fileName, entryL.dataPosition, batchL.patches,
                         batchL.patchFiles, batchL.patchPositions)) {
    return failL("MultipassFileIO::clear - Clear failed for FID file " + dataL.fileName);
  }
  batchL.touched = {indexFileM.file.get(), dataL.file.get()};
  if (!journalM->begin(batchL.patches, syncM)) {
    return failL("MultipassFileIO::clear - Clear failed for ID FID file " + indexFileM.fileName +
                 positionL.str());
  }
  // The index record goes first: a blob without an index record is never visible.
  if (!indexFileM.file->remove(entryL.indexPosition)) {
    failL("MultipassFileIO::clear - Clear failed for ID FID file " + indexFileM.fileName +
          positionL.str());
    return rollBack(batchL, "MultipassFileIO::clear");
  }
  if (!dataL.file->remove(entryL.dataPosition)) {
    failL("MultipassFileIO::clear - Clear failed for FID file " + dataL.fileName);
    return rollBack(batchL, "MultipassFileIO::clear");
  }
  if (!finishChange(batchL)) {
    failL("MultipassFileIO::clear - Clear failed for FID file " + journalM->path());
    batchL.unsettledRemovals.push_back(entryL);
    return rollBack(batchL, "MultipassFileIO::clear");
  }
  return true;
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

// --- reloading ------------------------------------------------------------------------------

void MultipassFileIO::readTemplateBlocksFromFidFileBlock(std::istringstream& isA,
                                                         std::vector<TemplateBlockImp*>& blocksA,
                                                         std::vector<KXuint128>& sampleIdsA,
                                                         std::vector<BioMetricTriple>& triplesA) {
  const char* const kFunction = "qridy::MultipassFileIO::readTemplateBlocksFromFidFileBlock";
  const std::size_t firstL = blocksA.size();
  try {
    std::uint32_t countL = 0;
    if (!coding::getFixed32(isA, countL)) KXXCP_THROW(kFunction, "Record blob too short.");
    // Every entry takes at least 28 bytes.
    const std::streamsize leftL = isA.rdbuf()->in_avail();
    if (leftL < 0 || countL > static_cast<std::uint64_t>(leftL) / 28) {
      KXXCP_THROW(kFunction, "Invalid record blob entry count: '" << countL << "'.");
    }
    for (std::uint32_t i = 0; i < countL; ++i) {
      std::uint32_t modalityL = 0, instanceL = 0, algorithmL = 0;
      KXuint128 idL;
      if (!coding::getFixed32(isA, modalityL) || !coding::getFixed32(isA, instanceL) ||
          !coding::getFixed32(isA, algorithmL) || !coding::getFixed64(isA, idL.low) ||
          !coding::getFixed64(isA, idL.high)) {
        KXXCP_THROW(kFunction, "Record blob too short.");
      }
      BioMetricTriple tripleL;
      tripleL.modality = static_cast<Modality>(modalityL);
      tripleL.instance = static_cast<Instance>(instanceL);
      tripleL.algorithm = static_cast<Algorithm>(algorithmL);
      if (algorithmL == AlgUnknown) {
        if (kxutl::QuarlenInformation::debugLevelS >= 2) {
          kxntc::debug << "Failed to reload Template Block : " << Types::bioTriple2Text(tripleL)
                       << "in " << __FILE__ << ", " << __LINE__;
          kxntc::notify(kxntc::debug);
        }
        continue;
      }
      TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(tripleL.algorithm);
      blocksA.push_back(blockL);
      blockL->read(isA);
      sampleIdsA.push_back(idL);
      triplesA.push_back(tripleL);
    }
  } catch (...) {
    for (std::size_t i = firstL; i < blocksA.size(); ++i) delete blocksA[i];
    blocksA.resize(firstL);
    sampleIdsA.resize(std::min(sampleIdsA.size(), firstL));
    triplesA.resize(std::min(triplesA.size(), firstL));
    throw;
  }
}

int MultipassFileIO::recoverDataAndAdd(const std::map<BioMetricTriple, GalleryBlockSink*>& sinksA) {
  const char* const kFunction = "qridy::MultipassFileIO::recoverDataAndAdd";
  int loadedL = 0;
  try {
    open();
    std::vector<const IdRecKeyToBlobOffset*> byPositionL;
    byPositionL.reserve(indexM.size());
    for (const IdRecKeyToBlobOffset& eL : indexM) byPositionL.push_back(&eL);
    auto posLess = [](const IdRecKeyToBlobOffset* aA, const IdRecKeyToBlobOffset* bA) {
      return aA->dataFileIndex != bA->dataFileIndex ? aA->dataFileIndex < bA->dataFileIndex
                                                    : aA->dataPosition < bA->dataPosition;
    };
    std::sort(byPositionL.begin(), byPositionL.end(), posLess);
    for (FidFileStruct& fileL : dataFilesM) {
      if (fileL.alias) continue;
      int inFileL = 0;
      MultiPartFidFile& multiL = *fileL.file;
      for (std::size_t p = 0; p < multiL.partCount(); ++p) {
        const bool okL = multiL.part(p).forEachRecord(true, [&](std::uint32_t slotA,
                                                                std::uint32_t statusA,
                                                                std::uint32_t,
                                                                const unsigned char* dataA) {
          if (statusA != FidFile::kUsed) return true;
          IdRecKeyToBlobOffset probeL;
          probeL.dataFileIndex = static_cast<unsigned char>(fileL.index);
          probeL.dataPosition = multiL.positionOf(p, slotA);
          auto itL = std::lower_bound(byPositionL.begin(), byPositionL.end(), &probeL, posLess);
          if (itL == byPositionL.end() || posLess(&probeL, *itL) || (*itL)->metadata == nullptr) {
            return true;  // not indexed (left over) or without metadata
          }
          std::istringstream isL(std::string(reinterpret_cast<const char*>(dataA), fileL.dataSize));
          std::vector<TemplateBlockImp*> blocksL;
          std::vector<KXuint128> idsL;
          std::vector<BioMetricTriple> triplesL;
          readTemplateBlocksFromFidFileBlock(isL, blocksL, idsL, triplesL);
          std::unique_ptr<TemplateBlockImp> ownedL;
          try {
            for (std::size_t b = 0; b < blocksL.size(); ++b) {
              ownedL.reset(blocksL[b]);
              blocksL[b] = nullptr;
              const auto sinkL = sinksA.find(triplesL[b]);
              if (sinkL == sinksA.end() || sinkL->second == nullptr) {
                std::ostringstream osL;
                osL << "*********\n This part of the Fid File is not configured to store in "
                       "Memory. "
                    << Types::bioTriple2Text(triplesL[b])
                    << ". All parts has to be added or removed. Incuded tripes : ";
                for (const BioMetricTriple& tL : triplesL) {
                  osL << " - " << Types::bioTriple2Text(tL);
                }
                osL << "*********";
                notifyError(osL.str());
                continue;
              }
              sinkL->second->add(ownedL.get(), (*itL)->metadata, idsL[b]);
              ++inFileL;
            }
          } catch (...) {
            for (TemplateBlockImp* bL : blocksL) delete bL;
            throw;
          }
          return true;
        });
        if (!okL) {
          KXXCP_THROW(kFunction, "Cannot read MultipassFileIO file : " << multiL.partFileName(p));
        }
      }
      if (kxutl::QuarlenInformation::debugLevelS >= 3) {
        kxntc::log << fileL.fileName << " - Number of templates in FidFile : " << inFileL;
        kxntc::notify(kxntc::log);
      }
      loadedL += inFileL;
    }
  } catch (const kxxcp::Exception& eL) {
    KXXCP_THROW(kFunction, "Failed to recover gallery: kxxcp caught: " << eL.getMessage());
  }
  return loadedL;
}

// --- checksums, dumps, checks ---------------------------------------------------------------

unsigned int MultipassFileIO::getMultiFileChecksum() {
  open();
  std::uint16_t sumL = 0;
  for (const FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    sumL = fid::addFileChecksum(sumL, fileL.file->storedChecksum());
  }
  return sumL;
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

bool MultipassFileIO::checkFile(FidFileStruct& fileA, const std::string& elementA,
                                std::string& reportA) {
  std::uint16_t computedL = 0;
  std::uint64_t usedL = 0;
  const bool readL = fileA.file->computeChecksum(computedL, usedL);
  const std::uint16_t storedL = fileA.file->storedChecksum();
  const bool validL =
      readL && fid::fileChecksumsEqual(storedL, computedL) && usedL == fileA.file->usedRecords();
  const std::string closeL = elementA.rfind("dataFile", 0) == 0 ? elementA : "idFile";
  reportA += "<" + elementA + " path=" + quoted(fileA.fileName) + ">\n";
  reportA += "     <checksum inFile=" + quoted(storedL) + "\n";
  reportA += "               calculated=" + quoted(computedL) + "\n";
  reportA += "               status=" + quoted(std::string(validL ? "valid" : "invalid")) + "/>\n";
  reportA += "</" + closeL + ">\n";
  return validL;
}

bool MultipassFileIO::checkStatusFast(std::string& reportA, validationNonBiometricInfo*) {
  std::string failedL;
  if (!ensureOpen(failedL)) {
    const bool dataL = failedL.find(indexFileM.fileName) == std::string::npos &&
                       failedL.find(journalM->path()) == std::string::npos;
    std::string pathL = indexFileM.fileName;
    for (const FidFileStruct& fileL : dataFilesM) {
      if (dataL && failedL.find(fileL.fileName) != std::string::npos) pathL = fileL.fileName;
    }
    reportA += std::string("<error     reason=") +
               quoted(std::string(dataL ? "cannot open FID file" : "cannot open Id FID file")) +
               "\n";
    reportA += "           filePath=" + quoted(pathL) + "/>\n";
    return false;
  }
  bool validL = checkFile(indexFileM, "idFile", reportA);
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    validL = checkFile(fileL, "dataFile" + std::to_string(fileL.index), reportA) && validL;
  }
  return validL;
}

bool MultipassFileIO::checkStatusIntensive(std::string& reportA,
                                           validationNonBiometricInfo* infoA) {
  const char* const kFunction = "qridy::MultipassFileIO::checkStatusIntensive";
  bool validL = checkStatusFast(reportA, infoA);
  if (!openM) return false;
  // The index as stored, independent of what this object holds in memory.
  std::vector<IdRecKeyToBlobOffset> entriesL;
  std::vector<unsigned int> damagedL;
  readIndexRecords(entriesL, damagedL, kFunction);
  for (unsigned int positionL : damagedL) {
    reportA += "<corruptIdFidRecord position=" + quoted(positionL) + "/>\n";
    validL = false;
  }
  std::vector<std::unordered_set<std::uint32_t>> namedL(dataFilesM.size());
  std::vector<unsigned char> blobL(maxDataSizeM);
  for (const IdRecKeyToBlobOffset& eL : entriesL) {
    FidFileStruct& fileL = dataFilesM[eL.dataFileIndex];
    namedL[eL.dataFileIndex].insert(eL.dataPosition);
    std::ostringstream whoL;
    whoL << " pid=" << quoted(eL.key.personId) << " trid=" << quoted(eL.key.transactionId)
         << " dataFile=" << quoted(static_cast<unsigned>(eL.dataFileIndex))
         << " position=" << quoted(eL.dataPosition);
    std::uint32_t checksumL = 0;
    if (!fileL.file->readRecord(eL.dataPosition, blobL.data(), &checksumL)) {
      reportA += "<corruptDataFidRecord" + whoL.str() + " reason=\"unreadable\"/>\n";
      validL = false;
      continue;
    }
    if (checksumL != eL.recordChecksum ||
        fid::recordChecksum(blobL.data(), fileL.dataSize) != checksumL) {
      reportA += "<corruptDataFidRecord" + whoL.str() + " reason=\"checksum\"/>\n";
      validL = false;
      continue;
    }
    if (infoA == nullptr) continue;
    std::istringstream isL(
        std::string(reinterpret_cast<const char*>(blobL.data()), fileL.dataSize));
    std::vector<TemplateBlockImp*> blocksL;
    std::vector<KXuint128> sampleIdsL;
    std::vector<BioMetricTriple> triplesL;
    try {
      readTemplateBlocksFromFidFileBlock(isL, blocksL, sampleIdsL, triplesL);
    } catch (const kxxcp::Exception& eL2) {
      reportA +=
          "<corruptDataFidRecord" + whoL.str() + " reason=" + quoted(eL2.getMessage()) + "/>\n";
      validL = false;
      continue;
    }
    for (TemplateBlockImp* bL : blocksL) delete bL;
    for (const BioMetricTriple& tL : triplesL) {
      if (std::find(infoA->modalities.begin(), infoA->modalities.end(), tL.modality) ==
          infoA->modalities.end()) {
        reportA += "<missingBiometric" + whoL.str() + " reason=" +
                   quoted("Cannot find the modality " + Types::modality2Text(tL.modality)) + "/>\n";
        validL = false;
      }
      if (std::find(infoA->instances.begin(), infoA->instances.end(), tL.instance) ==
          infoA->instances.end()) {
        reportA += "<missingBiometric" + whoL.str() + " reason=" +
                   quoted("Cannot find the instance " + Types::instance2Text(tL.instance)) + "/>\n";
        validL = false;
      }
    }
  }
  // Used data records that no index record names (left by a failed roll-back or a foreign
  // writer): they take room but are never read.
  for (FidFileStruct& fileL : dataFilesM) {
    if (fileL.alias) continue;
    MultiPartFidFile& multiL = *fileL.file;
    for (std::size_t p = 0; p < multiL.partCount(); ++p) {
      const bool okL = multiL.part(p).forEachRecord(
          false,
          [&](std::uint32_t slotA, std::uint32_t statusA, std::uint32_t, const unsigned char*) {
            const std::uint32_t positionL = multiL.positionOf(p, slotA);
            if (statusA == FidFile::kUsed && namedL[fileL.index].count(positionL) == 0) {
              reportA += "<orphanDataFidRecord dataFile=" + quoted(fileL.index) +
                         " position=" + quoted(positionL) + "/>\n";
              validL = false;
            }
            return true;
          });
      if (!okL) {
        KXXCP_THROW(kFunction, "Cannot read MultipassFileIO file : " << multiL.partFileName(p));
      }
    }
  }
  return validL;
}

}  // namespace qridy
