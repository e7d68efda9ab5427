#include <quarlen/TemplateMatcherMultipass_Stage.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <unordered_set>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/ResultParameter.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>

#include "common/Coding.h"

namespace qrbase {

using qridy::IdRecordKey;
using qridy::Result;
using qridy::TemplateBlockImp;

namespace {

bool entryKeyLess(const GalleryEntry* aA, const GalleryEntry* bA) {
  return aA->idRecordKey() < bA->idRecordKey();
}

}  // namespace

TemplateMatcherMultipass_Stage::TemplateMatcherMultipass_Stage(qridy::Modality modalityA,
                                                               qridy::Instance instanceA,
                                                               qridy::Algorithm algorithmA,
                                                               unsigned int maxNumberOfTemplatesA)
    : modalityM(modalityA),
      instanceM(instanceA),
      algorithmM(algorithmA),
      maxNumberOfTemplatesM(maxNumberOfTemplatesA) {}

TemplateMatcherMultipass_Stage::~TemplateMatcherMultipass_Stage() {
  for (TemplateBlockImp* blockL : blockCopiesM) delete blockL;
}

void TemplateMatcherMultipass_Stage::init(const char*, const unsigned&) {}

void TemplateMatcherMultipass_Stage::reserveForAdd() {
  if (galleryVecM.capacity() < maxNumberOfTemplatesM) {
    // Reserved once: the vector never reallocates, so the index's pointers stay valid.
    galleryVecM.reserve(maxNumberOfTemplatesM);
    idVectorM.reserve(maxNumberOfTemplatesM);
  }
  if (galleryVecM.size() >= maxNumberOfTemplatesM) {
    KXXCP_THROW("qrbase::TemplateMatcherMultipass_Stage::add",
                "Cannot add to gallery, because number of reserved templates reached.");
  }
}

void TemplateMatcherMultipass_Stage::appendEntry(const unsigned char* dataA,
                                                 const qridy::IdentityMetadata* metadataA,
                                                 KXuint128 sampleIdA) {
  galleryVecM.push_back(GalleryEntry{dataA, metadataA, sampleIdA});
  if (indexMapsValidM != 0) idVectorM.push_back(&galleryVecM.back());
  idVectorSortedM = false;
}

void TemplateMatcherMultipass_Stage::buildPositionIndex() const {
  const std::size_t countL = galleryVecM.size();
  positionIndexM.resize(countL);
  for (std::size_t iL = 0; iL < countL; ++iL) {
    positionIndexM[iL] = {galleryVecM[iL].metadata, static_cast<std::uint32_t>(iL)};
  }
  std::sort(positionIndexM.begin(), positionIndexM.end());
  positionGenerationM = generationM;
  indexedCountM = countL;
}

void TemplateMatcherMultipass_Stage::indexPositions() const {
  if (!positionIndexedM) return;
  std::lock_guard<std::mutex> guardL(positionMutexM);
  buildPositionIndex();
}

void TemplateMatcherMultipass_Stage::galleryPositions(
    const std::vector<qridy::IdentityMetadata*>& metadataA,
    std::vector<std::uint32_t>& positionsA) const {
  positionsA.clear();
  const std::size_t countL = galleryVecM.size();
  std::size_t indexedL = 0;
  {
    std::lock_guard<std::mutex> guardL(positionMutexM);
    // Entries added since the index was built are looked up in a walk over them, until they
    // are an eighth of the gallery (or 4096): enrolments between identifications cost a sort
    // now and then, not one per add.
    const std::size_t addedL = countL - std::min(indexedCountM, countL);
    if (positionGenerationM != generationM || indexedCountM > countL ||
        addedL > std::max<std::size_t>(4096, countL / 8)) {
      buildPositionIndex();
    }
    indexedL = indexedCountM;
  }
  // Read without the lock: the index changes only with the stage.
  for (const qridy::IdentityMetadata* mL : metadataA) {
    auto itL = std::lower_bound(positionIndexM.begin(), positionIndexM.end(),
                                std::pair<const qridy::IdentityMetadata*, std::uint32_t>{mL, 0});
    for (; itL != positionIndexM.end() && itL->first == mL; ++itL)
      positionsA.push_back(itL->second);
  }
  if (indexedL < countL) {
    const std::unordered_set<const qridy::IdentityMetadata*> wantedL(metadataA.begin(),
                                                                     metadataA.end());
    for (std::size_t iL = indexedL; iL < countL; ++iL) {
      if (wantedL.count(galleryVecM[iL].metadata) != 0) {
        positionsA.push_back(static_cast<std::uint32_t>(iL));
      }
    }
  }
  std::sort(positionsA.begin(), positionsA.end());
}

void TemplateMatcherMultipass_Stage::add(const TemplateBlockImp* blockA,
                                         const qridy::IdentityMetadata* metadataA,
                                         KXuint128 sampleIdA) {
  if (blockA == nullptr || metadataA == nullptr) {
    KXXCP_THROW("qrbase::TemplateMatcherMultipass_Stage::add", "add - invalid input parameter(s)");
  }
  reserveForAdd();
  if (blockA->algorithm() != algorithmM) {
    KXXCP_THROW("qrbase::TemplateMatcherMultipass_Stage::add",
                "TemplateBlockImp has not the configured algorithm");
  }
  std::unique_ptr<TemplateBlockImp> copyL(blockA->copy());
  copyL->removeProbeTemplatePart();
  blockCopiesM.reserve(maxNumberOfTemplatesM);
  blockCopiesM.push_back(copyL.get());
  appendEntry(copyL->galleryDataPtr(), metadataA, sampleIdA);
  copyL.release();
}

void TemplateMatcherMultipass_Stage::clear() {
  for (TemplateBlockImp* blockL : blockCopiesM) delete blockL;
  blockCopiesM.clear();
  galleryVecM.clear();
  idVectorM.clear();
  invalidateIndex();
}

void TemplateMatcherMultipass_Stage::identifyTemplate(const TemplateBlockImp*,
                                                      unsigned int probeIndexA,
                                                      unsigned int resultLengthMaxA,
                                                      std::vector<Result>& resultsA) {
  const std::size_t countL = std::min<std::size_t>(resultLengthMaxA, galleryVecM.size());
  for (std::size_t i = 0; i < countL; ++i) {
    const GalleryEntry& entryL = galleryVecM[i];
    Result resultL;
    resultL.setPersonId(entryL.idRecordKey().personId);
    resultL.setTransactionId(entryL.idRecordKey().transactionId);
    resultL.setSampleId(entryL.sampleId);
    resultsA.push_back(resultL);
    unselect(entryL.metadata, probeIndexA);
  }
}

void TemplateMatcherMultipass_Stage::identifyTransaction(const TemplateBlockImp*,
                                                         qridy::ResultTreeList& resultsA) {
  const qridy::ResultParameter parameterL;
  for (const GalleryEntry& entryL : galleryVecM) {
    const IdRecordKey& keyL = entryL.idRecordKey();
    resultsA.getResultIdRecordIfExistsOrAddNew(keyL.personId, keyL.transactionId)
        .addScore(algorithmM, entryL.sampleId, modalityM, instanceM, 0.0f, false, false, 1.0f,
                  parameterL);
  }
}

void TemplateMatcherMultipass_Stage::unselect(const qridy::IdentityMetadata* metadataA,
                                              unsigned int probeIndexA) {
  // The probe state words are the one part of an entry that identifications write.
  auto* entryL = const_cast<qridy::IdentityMetadata*>(metadataA);
  if (entryL != nullptr && entryL->container() != nullptr) {
    entryL->labelAsSelected(probeIndexA, false);
  }
}

void TemplateMatcherMultipass_Stage::setBitMask(unsigned int) {}
void TemplateMatcherMultipass_Stage::resetBitMask() {}

std::vector<qridy::TemplateImp*> TemplateMatcherMultipass_Stage::getTemplates(
    const IdRecordKey& keyA) {
  std::vector<qridy::TemplateImp*> templatesL;
  try {
    for (const GalleryEntry* entryL : getGalleryEntriesByIdRecordKey({keyA})) {
      std::unique_ptr<qridy::TemplateImp> templateL(new qridy::TemplateImp());
      templateL->setSampleId(entryL->sampleId);
      std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmM));
      blockL->setData(nullptr, 0, entryL->data, galleryDataSize(*entryL), symmetricM);
      templateL->addTemplateBlock(blockL.release());
      templatesL.push_back(templateL.release());
    }
  } catch (...) {
    for (qridy::TemplateImp* templateL : templatesL) delete templateL;
    throw;
  }
  return templatesL;
}

std::uint32_t TemplateMatcherMultipass_Stage::galleryDataSize(const GalleryEntry& entryA) const {
  const std::size_t indexL = static_cast<std::size_t>(&entryA - galleryVecM.data());
  return indexL < blockCopiesM.size() ? blockCopiesM[indexL]->gallerySize() : dataSizeM;
}

void TemplateMatcherMultipass_Stage::updateIdxMaps() {
  if (indexMapsValidM != 0) return;
  std::size_t indexL = 0;
  try {
    deadKeysM.clear();
    idVectorM.resize(galleryVecM.size());
    for (; indexL < galleryVecM.size(); ++indexL) idVectorM[indexL] = &galleryVecM[indexL];
  } catch (...) {
    KXXCP_THROW(
        "qrbase::TemplateMatcherMultipass_Stage::updateIdxMaps",
        "TemplateMatcher : updateIdxMaps failed"
            << "\nGalIndex : " << indexL << "\nGalSize  : " << galleryVecM.size() << "\nPersonId : "
            << (indexL < galleryVecM.size() ? galleryVecM[indexL].idRecordKey().personId : 0));
  }
  indexMapsValidM = 1;
  idVectorSortedM = false;
}

void TemplateMatcherMultipass_Stage::compactIndex() {
  if (deadKeysM.empty()) return;
  idVectorM.erase(std::remove(idVectorM.begin(), idVectorM.end(), nullptr), idVectorM.end());
  deadKeysM.clear();
}

void TemplateMatcherMultipass_Stage::sortIdVector() {
  if (idVectorSortedM) return;
  compactIndex();
  std::sort(idVectorM.begin(), idVectorM.end(), entryKeyLess);
  idVectorSortedM = true;
}

const IdRecordKey& TemplateMatcherMultipass_Stage::indexKey(std::size_t positionA) const {
  const GalleryEntry* entryL = idVectorM[positionA];
  return entryL != nullptr ? entryL->idRecordKey() : deadKeysM.at(positionA);
}

std::size_t TemplateMatcherMultipass_Stage::lowerBound(const IdRecordKey& keyA) const {
  std::size_t lowL = 0, highL = idVectorM.size();
  while (lowL < highL) {
    const std::size_t midL = lowL + (highL - lowL) / 2;
    if (indexKey(midL) < keyA) {
      lowL = midL + 1;
    } else {
      highL = midL;
    }
  }
  return lowL;
}

void TemplateMatcherMultipass_Stage::findFromIdVector(const std::vector<IdRecordKey>& keysA,
                                                      std::vector<int>& positionsA) {
  updateIdxMaps();
  sortIdVector();
  positionsA.clear();
  positionsA.reserve(keysA.size());
  for (const IdRecordKey& keyL : keysA) {
    std::size_t posL = lowerBound(keyL);
    while (posL < idVectorM.size() && idVectorM[posL] == nullptr && indexKey(posL) == keyL) ++posL;
    positionsA.push_back(posL < idVectorM.size() && idVectorM[posL] != nullptr &&
                                 idVectorM[posL]->idRecordKey() == keyL
                             ? static_cast<int>(posL)
                             : -1);
  }
}

std::vector<GalleryEntry*> TemplateMatcherMultipass_Stage::getGalleryEntriesByIdRecordKey(
    const std::vector<IdRecordKey>& keysA) {
  std::vector<int> positionsL;
  findFromIdVector(keysA, positionsL);
  std::vector<GalleryEntry*> entriesL;
  for (std::size_t k = 0; k < keysA.size(); ++k) {
    if (positionsL[k] < 0) continue;
    for (std::size_t i = static_cast<std::size_t>(positionsL[k]);
         i < idVectorM.size() && indexKey(i) == keysA[k]; ++i) {
      if (idVectorM[i] != nullptr) entriesL.push_back(idVectorM[i]);
    }
  }
  return entriesL;
}

std::vector<GalleryEntry*> TemplateMatcherMultipass_Stage::getGalleryEntriesByPid(
    const std::vector<std::uint64_t>& personIdsA) {
  updateIdxMaps();
  sortIdVector();
  std::vector<GalleryEntry*> entriesL;
  for (std::uint64_t personL : personIdsA) {
    for (std::size_t i = lowerBound(IdRecordKey(personL, 0));
         i < idVectorM.size() && indexKey(i).personId == personL; ++i) {
      if (idVectorM[i] != nullptr) entriesL.push_back(idVectorM[i]);
    }
  }
  return entriesL;
}

IdRecordKey TemplateMatcherMultipass_Stage::getIdRecordKeyBySampleId(KXuint128 sampleIdA) const {
  for (const GalleryEntry& entryL : galleryVecM) {
    if (entryL.sampleId == sampleIdA) return entryL.idRecordKey();
  }
  KXXCP_THROW(
      "qrbase::TemplateMatcherMultipass_Stage::getIdRecordKeyBySampleId",
      "No gallery entry with sample id (" << sampleIdA.high << ", " << sampleIdA.low << ")");
}

bool TemplateMatcherMultipass_Stage::destroyIdRecord(const IdRecordKey& keyA) {
  using Clock = std::chrono::steady_clock;
  const bool timedL = kxutl::QuarlenInformation::debugLevelS >= 2 && algorithmM == qridy::AlgL1v &&
                      galleryVecM.size() >= 1000;
  const Clock::time_point t0L = Clock::now();
  updateIdxMaps();
  sortIdVector();
  const Clock::time_point t1L = Clock::now();
  std::vector<int> positionsL;
  findFromIdVector({keyA}, positionsL);
  const Clock::time_point t2L = Clock::now();
  const std::vector<GalleryEntry*> entriesL = getGalleryEntriesByIdRecordKey({keyA});
  const Clock::time_point t3L = Clock::now();
  if (entriesL.empty()) return false;
  if (entriesL.size() > 1) {
    kxntc::error << "Multiple samples per record detected. Delete not supported!";
    kxntc::notify(kxntc::error);
    return false;
  }
  if (idVectorM.size() - deadKeysM.size() != galleryVecM.size()) {
    kxntc::error << "Different sizes of internal vectors" << idVectorM.size() - deadKeysM.size()
                 << " != " << galleryVecM.size();
    kxntc::notify(kxntc::error);
    return false;
  }
  GalleryEntry* const removedL = entriesL.front();
  if (removalMovesLastEntry()) {
    // Keep the sorted index instead of rebuilding it: the last entry moves into the removed
    // entry's place, so its index pointer follows it; the removed entry's position stays as a
    // tombstone that remembers its key (the order holds), until tombstones make up a sixteenth
    // of the index and one pass drops them all. A removal costs O(log n) amortised.
    const std::size_t removedPosL = static_cast<std::size_t>(positionsL.front());
    const IdRecordKey removedKeyL = removedL->idRecordKey();
    GalleryEntry* const lastL = &galleryVecM.back();
    if (lastL != removedL) {
      const IdRecordKey& lastKeyL = lastL->idRecordKey();
      for (std::size_t i = lowerBound(lastKeyL); i < idVectorM.size() && indexKey(i) == lastKeyL;
           ++i) {
        if (idVectorM[i] == lastL) {
          idVectorM[i] = removedL;
          break;
        }
      }
    }
    idVectorM[removedPosL] = nullptr;
    deadKeysM[removedPosL] = removedKeyL;
    std::vector<GalleryEntry*> indexL;
    indexL.swap(idVectorM);
    destroyByIndices(entriesL);
    idVectorM.swap(indexL);
    indexMapsValidM = 1;
    idVectorSortedM = true;
    if (deadKeysM.size() > idVectorM.size() / 16 + 64) compactIndex();
  } else {
    destroyByIndices(entriesL);
    invalidateIndex();
  }
  const Clock::time_point t4L = Clock::now();
  if (timedL) {
    auto secondsL = [](Clock::time_point aA, Clock::time_point bA) {
      return std::chrono::duration<double>(bA - aA).count();
    };
    std::cout << "Delete Step 1) " << secondsL(t0L, t1L) << "\n"
              << "Delete Step 2) " << secondsL(t1L, t2L) << "\n"
              << "Delete Step 3) " << secondsL(t2L, t3L) << "\n"
              << "Delete Step 4) " << secondsL(t3L, t4L) << "\n"
              << "Delete Step 5) " << secondsL(t0L, Clock::now()) << "\n";
    std::ofstream stageFileL("stage.txt");
    dump(stageFileL);
  }
  return true;
}

void TemplateMatcherMultipass_Stage::destroyByIndices(const std::vector<GalleryEntry*>& entriesA) {
  std::vector<std::size_t> indicesL;
  indicesL.reserve(entriesA.size());
  for (const GalleryEntry* entryL : entriesA) {
    indicesL.push_back(static_cast<std::size_t>(entryL - galleryVecM.data()));
  }
  std::sort(indicesL.begin(), indicesL.end());
  indicesL.erase(std::unique(indicesL.begin(), indicesL.end()), indicesL.end());
  for (auto itL = indicesL.rbegin(); itL != indicesL.rend(); ++itL) {
    if (*itL >= galleryVecM.size()) continue;
    delete blockCopiesM[*itL];
    blockCopiesM.erase(blockCopiesM.begin() + static_cast<std::ptrdiff_t>(*itL));
    galleryVecM.erase(galleryVecM.begin() + static_cast<std::ptrdiff_t>(*itL));
  }
  invalidateIndex();
}

void TemplateMatcherMultipass_Stage::identifyTransactionSpecial(
    const TemplateBlockImp*, const std::vector<GalleryEntry*>& entriesA,
    std::vector<Result>& resultsA) {
  for (const GalleryEntry* entryL : entriesA) {
    Result resultL;
    resultL.setScore(0.0f);
    resultL.setPersonId(entryL->idRecordKey().personId);
    resultL.setTransactionId(entryL->idRecordKey().transactionId);
    resultL.setSampleId(entryL->sampleId);
    resultsA.push_back(resultL);
  }
}

void TemplateMatcherMultipass_Stage::identifyTransaction(const TemplateBlockImp* probeA,
                                                         const std::vector<IdRecordKey>& keysA,
                                                         std::vector<Result>& resultsA) {
  identifyTransactionSpecial(probeA, getGalleryEntriesByIdRecordKey(keysA), resultsA);
  sort(resultsA);
}

void TemplateMatcherMultipass_Stage::identifyTransaction(
    const TemplateBlockImp* probeA, const std::vector<std::uint64_t>& personIdsA,
    std::vector<Result>& resultsA) {
  identifyTransactionSpecial(probeA, getGalleryEntriesByPid(personIdsA), resultsA);
  sort(resultsA);
}

void TemplateMatcherMultipass_Stage::processBinMap(const BinMap&, FilterMode) {
  KXXCP_THROW("qrbase::TemplateMatcherMultipass_Stage::processBinMap", "!!! Work to do here !!!");
}

void TemplateMatcherMultipass_Stage::sort(std::vector<LocalResult>& resultsA) const {
  if (!sortResultsM) return;
  std::sort(resultsA.begin(), resultsA.end(),
            [](const LocalResult& aA, const LocalResult& bA) { return aA.score > bA.score; });
}

void TemplateMatcherMultipass_Stage::sort(std::vector<Result>& resultsA) const {
  if (!sortResultsM) return;
  std::sort(resultsA.begin(), resultsA.end(),
            [](const Result& aA, const Result& bA) { return aA.score() > bA.score(); });
}

void TemplateMatcherMultipass_Stage::sort(std::vector<LocalFloatResult>& resultsA) const {
  if (!sortResultsM) return;
  std::sort(
      resultsA.begin(), resultsA.end(),
      [](const LocalFloatResult& aA, const LocalFloatResult& bA) { return aA.score > bA.score; });
}

void TemplateMatcherMultipass_Stage::dump(std::ostream& osA) const {
  osA << "--- galleryVecM ::\n";
  for (std::size_t i = 0; i < galleryVecM.size(); ++i) {
    const GalleryEntry& entryL = galleryVecM[i];
    osA << "    - " << i << ".) "
        << "( pid, " << entryL.idRecordKey().personId << "), "
        << "( trid, " << entryL.idRecordKey().transactionId << "), "
        << "( s.low," << entryL.sampleId.low << "), "
        << "( s.high, " << entryL.sampleId.high << "), "
        << "( dataPtr, " << static_cast<const void*>(entryL.data) << "), "
        << "( metadataPtr, " << static_cast<const void*>(entryL.metadata) << "), "
        << "\n";
  }
}

void TemplateMatcherMultipass_Stage::dumpBinary(std::ostream& osA) {
  osA.write("SMBD", 4);
  qridy::coding::putFixed32(osA, static_cast<std::uint32_t>(galleryVecM.size()));
  for (const GalleryEntry& entryL : galleryVecM) {
    qridy::coding::putFixed64(osA, entryL.idRecordKey().personId);
    qridy::coding::putFixed64(osA, entryL.idRecordKey().transactionId);
  }
}

void TemplateMatcherMultipass_Stage::dumpShortBinary(std::ostream& osA) {
  osA.write("SMSD", 4);
  qridy::coding::putFixed32(osA, static_cast<std::uint32_t>(galleryVecM.size()));
  for (const GalleryEntry& entryL : galleryVecM) {
    qridy::coding::putFixed32(osA, static_cast<std::uint32_t>(entryL.idRecordKey().transactionId));
  }
}

}  // namespace qrbase
