#include <quarlen/MultipassFileIO.h>

#include <qrlcore/Exception.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "gallery/FidFile.h"
#include "gallery/MultipassFileIO_Internal.h"

namespace qridy {

using namespace fileio;

namespace {

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
  if (!ensureWritable("writeCacheToDisk")) return false;
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
  if (!ensureWritable("MultipassFileIO::clear")) {
    insertEntry(entryL);
    return false;
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

}  // namespace qridy
