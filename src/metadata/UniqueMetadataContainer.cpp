#include <quarlen/UniqueMetadataContainer.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlimage/Image.h>
#include <quarlen/IdentityResult.h>

#include "common/Coding.h"
#include "gallery/FidChecksum.h"
#include "metadata/CompiledQuery.h"
#include "metadata/MetadataFile.h"

namespace qridy {
namespace {

constexpr std::size_t kPrefetchAhead = 16;
constexpr unsigned char kPixelLabelled = 96;
constexpr unsigned char kPixelResult = 160;
constexpr unsigned char kPixelHighlight = 255;

void makeFolder(const std::string& folderA) {
  std::string partL;
  for (std::size_t iL = 0; iL <= folderA.size(); ++iL) {
    if (iL == folderA.size() || folderA[iL] == '/') {
      if (!partL.empty()) ::mkdir(partL.c_str(), 0755);
    }
    if (iL < folderA.size()) partL += folderA[iL];
  }
}

}  // namespace

UniqueMetadataContainer::UniqueMetadataContainer(Modality modalityA)
    : IdentityResultSlots(modalityA) {
  ownerM = this;
  const int probesL = kxutl::QuarlenInformation::getIntFromConfigFile("TEMPLATE_MATCHING_MULTIPASS",
                                                                      "maxNumberOfParallelProbes");
  probesM = probesL > 0 ? static_cast<unsigned int>(probesL) : 1u;
  const int qlMaxL =
      kxutl::QuarlenInformation::getIntFromConfigFile("MAX_TEMPLATE_SIZE", "QueryLanguage");
  qlMaxM = qlMaxL > 0 ? static_cast<std::uint32_t>(qlMaxL) : 0u;
  recordSizeM = qlMaxM + sidMaxM;
  resultContainersM.reset(new std::atomic<IdentityResultContainer*>[probesM]);
  for (unsigned int pL = 0; pL < probesM; ++pL) resultContainersM[pL] = nullptr;
  resultContainersM[0] = new IdentityResultContainer(this, 0, true, 50000);
  personMaskM.assign(probesM, PersonMaskOff);
  filterScoresM.assign(probesM, 0);
  dirtyM.assign(probesM, 0);
  sparseM.reset(new std::atomic<bool>[probesM]);
  for (unsigned int pL = 0; pL < probesM; ++pL) sparseM[pL] = true;
  stateImageM = std::make_unique<qrimg::ByteImage>();
}

UniqueMetadataContainer::~UniqueMetadataContainer() {
  // Results first: they are registered in, or only reachable through, the entries.
  for (IdentityMetadata* entryL : indexM) {
    for (unsigned int pL = 0; pL < probesM; ++pL) entryL->resetState(pL);
  }
  for (unsigned int pL = 0; pL < probesM; ++pL) delete resultContainersM[pL].load();
}

void UniqueMetadataContainer::checkProbe(unsigned int probeA, const char* functionA) const {
  if (probeA >= probesM) {
    KXXCP_THROW(functionA, "probe index " << probeA << " out of range (" << probesM << " probes).");
  }
}

// --- registry -------------------------------------------------------------------------------

IdentityMetadata* UniqueMetadataContainer::addIdRecordKey(const IdRecordKey& keyA,
                                                          const QueryLanguage* queryA,
                                                          const unsigned char* sidA,
                                                          std::size_t sidLengthA,
                                                          bool acceptExistingA) {
  IdentityMetadata* entryL = IdRecordKeyContainerInternels::addIdRecordKey(
      keyA, queryA, sidA, sidLengthA, acceptExistingA);
  maxTransactionIdM = std::max(maxTransactionIdM, keyA.transactionId);
  return entryL;
}

bool UniqueMetadataContainer::removeIdRecordKey(const IdRecordKey& keyA) {
  IdentityMetadata* entryL = removeIdRecordKeyFromMemory(keyA);
  if (entryL == nullptr) return false;
  for (unsigned int pL = 0; pL < probesM; ++pL) entryL->resetState(pL);
  const std::uint64_t positionL = entryL->filePosition();
  if (!persistenceM || positionL == IdentityMetadata::kNotWritten) return true;
  if (!openFile(false)) {
    kxntc::error << "removeIdRecordKey - unable to open the metadata file";
    kxntc::notify(kxntc::error);
  } else if (!fileM->clear(static_cast<std::uint32_t>(positionL))) {
    kxntc::error << "removeIdRecordKey - Clear failed for a metadata entry"
                 << "FID position " << positionL;
    kxntc::notify(kxntc::error);
  }
  return true;
}

std::size_t UniqueMetadataContainer::numberOfUniquePersons() {
  return IdRecordKeyContainerInternels::numberOfUniquePersons();
}

void UniqueMetadataContainer::clear() {
  for (IdentityMetadata* entryL : indexM) {
    for (unsigned int pL = 0; pL < probesM; ++pL) entryL->resetState(pL);
  }
  IdRecordKeyContainerInternels::clear();
  maxTransactionIdM = 0;
  stateImageM = std::make_unique<qrimg::ByteImage>();
}

std::size_t UniqueMetadataContainer::size() const {
  return IdRecordKeyContainerInternels::size();
}

IdentityMetadata* UniqueMetadataContainer::getMetaDataByIdRecordKey(const IdRecordKey& keyA) {
  return findByKey(keyA);
}

// --- per-probe selection --------------------------------------------------------------------

IdentityResultContainer* UniqueMetadataContainer::getResultContainer(unsigned int probeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::getResultContainer");
  IdentityResultContainer* containerL = resultContainersM[probeA].load();
  if (containerL != nullptr) return containerL;
  std::lock_guard<std::mutex> lockL(resultContainerMutexM);
  containerL = resultContainersM[probeA].load();
  if (containerL == nullptr) {
    containerL = new IdentityResultContainer(this, probeA);
    resultContainersM[probeA] = containerL;
  }
  return containerL;
}

IdentityResult* UniqueMetadataContainer::acquireResult(unsigned int probeA,
                                                       IdentityMetadata* entryA) {
  IdentityResultContainer* resultsL = getResultContainer(probeA);
  // An unregistered result is found by walking every entry only.
  if (!resultsL->locking()) markLabelled(probeA);
  return resultsL->acquire(entryA);
}

void UniqueMetadataContainer::deleteResult(unsigned int probeA, IdentityMetadata* entryA,
                                           IdentityResult* resultA) {
  getResultContainer(probeA)->deleteResult(entryA, resultA);
}

int UniqueMetadataContainer::resultAlgCount(const IdentityResult* resultA) const {
  return resultA->getAlgCount();
}

void UniqueMetadataContainer::setAllSelected(unsigned int probeA, bool selectedA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::setAllSelected");
  markLabelled(probeA);
  for (IdentityMetadata* entryL : indexM) entryL->labelAsSelected(probeA, selectedA);
}

void UniqueMetadataContainer::selectByPersonList(unsigned int probeA,
                                                 const std::vector<std::uint64_t>& personIdsA,
                                                 int modeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::selectByPersonList");
  markLabelled(probeA);
  const bool excludeL = modeA == 1;
  if (excludeL) setAllSelected(probeA, true);
  for (std::uint64_t personIdL : personIdsA) {
    const auto beginL = std::lower_bound(indexM.begin(), indexM.end(), personIdL,
                                         [](const IdentityMetadata* mA, std::uint64_t pA) {
                                           return mA->getIdRecordKey().personId < pA;
                                         });
    for (auto itL = beginL; itL != indexM.end() && (*itL)->getIdRecordKey().personId == personIdL;
         ++itL) {
      (*itL)->labelAsSelected(probeA, !excludeL);
    }
  }
}

void UniqueMetadataContainer::selectByTransactionList(
    unsigned int probeA, const std::vector<std::uint64_t>& transactionIdsA, int modeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::selectByTransactionList");
  markLabelled(probeA);
  const bool excludeL = modeA == 1;
  if (excludeL) setAllSelected(probeA, true);
  const std::vector<IdentityMetadata*>& byTidL = byTransaction();
  for (std::uint64_t transactionIdL : transactionIdsA) {
    const auto itL = std::lower_bound(byTidL.begin(), byTidL.end(), transactionIdL,
                                      [](const IdentityMetadata* mA, std::uint64_t tA) {
                                        return mA->getIdRecordKey().transactionId < tA;
                                      });
    if (itL != byTidL.end() && (*itL)->getIdRecordKey().transactionId == transactionIdL) {
      (*itL)->labelAsSelected(probeA, !excludeL);
    }
  }
}

void UniqueMetadataContainer::labelRange(unsigned int probeA, const CompiledQuery& queryA,
                                         std::size_t fromA, std::size_t toA) {
  if (useFilterScores(probeA)) {
    for (std::size_t iL = fromA; iL < toA; ++iL) {
      IdentityMetadata* entryL = indexM[iL];
      entryL->labelAsSelected(probeA, queryA.matches(entryL->queryLanguage().attributes()));
    }
    return;
  }
  // Selection mode, inlined: a match labels an entry that is no candidate yet, a miss clears
  // the label and deletes a result. The words are found through the blocks: the index is
  // mostly in block order, so the walk streams through the blocks' word arrays.
  const std::size_t wordsL = QueryLanguage::attributeSize() + std::size_t{1};
  const BlockView* blockL = nullptr;
  const IdentityMetadata* blockEndL = nullptr;
  const std::less<const IdentityMetadata*> beforeL;
  for (std::size_t iL = fromA; iL < toA; ++iL) {
    IdentityMetadata* entryL = indexM[iL];
    if (blockL == nullptr || beforeL(entryL, blockL->entries) || !beforeL(entryL, blockEndL)) {
      blockL = &blockOf(entryL);
      blockEndL = blockL->entries + kBlockSize;
    }
    const std::size_t slotL = static_cast<std::size_t>(entryL - blockL->entries);
    // The record words of an entry further on, when it is in the same block: the hardware
    // does not see the stream through the index.
    if (iL + kPrefetchAhead < toA) {
      const IdentityMetadata* aheadL = indexM[iL + kPrefetchAhead];
      if (!beforeL(aheadL, blockL->entries) && beforeL(aheadL, blockEndL)) {
        __builtin_prefetch(blockL->queryWords +
                           static_cast<std::size_t>(aheadL - blockL->entries) * wordsL);
      }
    }
    const bool matchL = queryA.matches(blockL->queryWords + slotL * wordsL);
    std::uint64_t& wordL = blockL->stateWords[slotL * probesM + probeA];
    if (matchL) {
      if (wordL == 0) wordL = IdentityMetadata::kLabelled;
    } else if (wordL == IdentityMetadata::kLabelled) {
      wordL = 0;
    } else if (wordL != 0) {
      entryL->resetState(probeA);
    }
  }
}

void UniqueMetadataContainer::processQueryLanguage(unsigned int probeA, const unsigned int* queryA,
                                                   unsigned int threadCountA,
                                                   QueryFilterMode modeA) {
  if (modeA != QueryFilterModeDefault) {
    KXXCP_THROW("qridy::UniqueMetadataContainer::processQueryLanguage", "unknown filter mode.");
  }
  checkProbe(probeA, "qridy::UniqueMetadataContainer::processQueryLanguage");
  markLabelled(probeA);
  const CompiledQuery queryL(queryA, QueryLanguage::attributeSize());
  const std::size_t countL = indexM.size();
  const unsigned int threadsL = std::max(1u, threadCountA);
  if (threadsL == 1) {
    labelRange(probeA, queryL, 0, countL);
    return;
  }
  const std::size_t chunkL = countL / threadsL;
  kxutl::COrvixThreadPool poolL(threadsL, nullptr);
  poolL.DoThreadedWork([&](kxutl::ThreadData& dataA) {
    const std::size_t fromL = dataA.threadIndexM * chunkL;
    const std::size_t toL = dataA.threadIndexM + 1 == threadsL ? countL : fromL + chunkL;
    labelRange(probeA, queryL, fromL, toL);
  });
}

bool UniqueMetadataContainer::searchTransactionIdByQueryLanguage(const unsigned int* queryA,
                                                                 IdRecordKey& keyA) const {
  const CompiledQuery queryL(queryA, QueryLanguage::attributeSize());
  for (const IdentityMetadata* entryL : indexM) {
    if (queryL.matches(entryL->queryLanguage().attributes())) {
      keyA = entryL->getIdRecordKey();
      return true;
    }
  }
  return false;
}

void UniqueMetadataContainer::getIdsByQueryLanguage(unsigned int /*probeA*/,
                                                    const unsigned int* queryA,
                                                    std::vector<IdRecordKey>& keysA) const {
  keysA.clear();
  keysA.reserve(50000);
  const CompiledQuery queryL(queryA, QueryLanguage::attributeSize());
  for (const IdentityMetadata* entryL : indexM) {
    if (queryL.matches(entryL->queryLanguage().attributes())) {
      keysA.push_back(entryL->getIdRecordKey());
    }
  }
}

std::size_t UniqueMetadataContainer::calcNumberOfSelectedIdRecords(unsigned int probeA) const {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::calcNumberOfSelectedIdRecords");
  std::size_t countL = 0;
  for (const IdentityMetadata* entryL : indexM) countL += entryL->stateWord(probeA) != 0 ? 1 : 0;
  return countL;
}

PersonMaskSelectivity UniqueMetadataContainer::usePersonMask(unsigned int probeA) const {
  return probeA < probesM ? static_cast<PersonMaskSelectivity>(personMaskM[probeA]) : PersonMaskOff;
}

void UniqueMetadataContainer::setUsePersonMask(unsigned int probeA, PersonMaskSelectivity maskA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::setUsePersonMask");
  personMaskM[probeA] = maskA;
}

bool UniqueMetadataContainer::useFilterScores(unsigned int probeA) const {
  return probeA < probesM && filterScoresM[probeA] != 0;
}

void UniqueMetadataContainer::setUseFilterScores(unsigned int probeA, bool useA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::setUseFilterScores");
  if (useFilterScores(probeA) == useA) return;
  markLabelled(probeA);
  for (IdentityMetadata* entryL : indexM) entryL->resetState(probeA);
  filterScoresM[probeA] = useA ? 1 : 0;
}

// --- per-probe result life cycle ------------------------------------------------------------

void UniqueMetadataContainer::resetQueryLanguageAndIdentityResult(unsigned int probeA,
                                                                  bool selectedA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::resetQueryLanguageAndIdentityResult");
  markLabelled(probeA);
  for (IdentityMetadata* entryL : indexM) entryL->labelAsSelected(probeA, selectedA);
}

void UniqueMetadataContainer::resetResultContainer(unsigned int probeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::resetResultContainer");
  if (sparseCandidates(probeA)) {
    for (IdentityMetadata* entryL : getResultContainer(probeA)->registeredMetadata()) {
      entryL->resetState(probeA);
    }
  } else {
    for (IdentityMetadata* entryL : indexM) entryL->resetState(probeA);
  }
  sparseM[probeA].store(true, std::memory_order_relaxed);
  dirtyM[probeA] = 0;
}

bool UniqueMetadataContainer::sparseCandidates(unsigned int probeA) const {
  if (probeA >= probesM || !sparseM[probeA].load(std::memory_order_relaxed) ||
      useFilterScores(probeA)) {
    return false;
  }
  const IdentityResultContainer* resultsL = resultContainersM[probeA].load();
  return resultsL == nullptr || resultsL->locking();
}

void UniqueMetadataContainer::resetFilterResultContainer(unsigned int probeA) {
  resetResultContainer(probeA);
}

void UniqueMetadataContainer::resetFilterScoresResultContainer(unsigned int probeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::resetFilterScoresResultContainer");
  if (!useFilterScores(probeA)) return;
  for (IdentityMetadata* entryL : indexM) entryL->resetFilterScores(probeA);
}

void UniqueMetadataContainer::resetRealAlgCountResultContainer(unsigned int probeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::resetRealAlgCountResultContainer");
  for (IdentityMetadata* entryL : indexM) {
    if (IdentityResult* resultL = entryL->getIdentityResult(probeA)) resultL->resetRealAlgCount();
  }
}

void UniqueMetadataContainer::resetFilterAlgCountScores(unsigned int probeA) {
  resetFilterScoresResultContainer(probeA);
  resetRealAlgCountResultContainer(probeA);
}

void UniqueMetadataContainer::setDirtyResultsFlag(unsigned int probeA, bool dirtyA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::setDirtyResultsFlag");
  dirtyM[probeA] = dirtyA ? 1 : 0;
}

bool UniqueMetadataContainer::dirtyResults(unsigned int probeA) const {
  return probeA < probesM && dirtyM[probeA] != 0;
}

std::size_t UniqueMetadataContainer::getResultsSize(unsigned int probeA) const {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::getResultsSize");
  const IdentityResultContainer* containerL = resultContainersM[probeA].load();
  if (containerL != nullptr && containerL->locking()) return containerL->size();
  std::size_t countL = 0;
  for (const IdentityMetadata* entryL : indexM) {
    countL += entryL->getIdentityResult(probeA) != nullptr ? 1 : 0;
  }
  return countL;
}

void UniqueMetadataContainer::sortAndCleanResultContainer(unsigned int probeA, bool filterModeA,
                                                          std::size_t keepA, bool keepRestA,
                                                          int requiredLevelA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::sortAndCleanResultContainer");
  const bool filterL = filterModeA && useFilterScores(probeA);
  std::vector<IdentityMetadata*> candidatesL;
  std::vector<float> scoresL;
  for (IdentityMetadata* entryL : indexM) {
    if (filterL) {
      if (entryL->getFilterSelectedLevel(probeA) >= requiredLevelA) {
        candidatesL.push_back(entryL);
        scoresL.push_back(entryL->getFilterScore(probeA));
        continue;
      }
      const bool restL =
          entryL->stateWord(probeA) != 0 && entryL->getFilterSelectedLevel(probeA) == 0;
      if (!(keepRestA && restL)) entryL->resetState(probeA);
      continue;
    }
    const IdentityResult* resultL = entryL->getIdentityResult(probeA);
    if (resultL != nullptr && resultL->getAlgCount() >= 1) {
      candidatesL.push_back(entryL);
      scoresL.push_back(resultL->getFusedScore());
      continue;
    }
    const bool restL = entryL->stateWord(probeA) != 0;
    if (!(keepRestA && restL)) entryL->resetState(probeA);
  }
  std::vector<char> keptL;
  IdentityResultContainer::selectBest(scoresL, keepA, keptL);
  for (std::size_t iL = 0; iL < candidatesL.size(); ++iL) {
    if (!keptL[iL]) candidatesL[iL]->resetState(probeA);
  }
}

std::size_t UniqueMetadataContainer::selectAndCleanByAlgCountResultContainer(unsigned int probeA,
                                                                             int minCountA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::selectAndCleanByAlgCountResultContainer");
  std::size_t keptL = 0;
  for (IdentityMetadata* entryL : indexM) {
    const IdentityResult* resultL = entryL->getIdentityResult(probeA);
    if (resultL != nullptr && resultL->getAlgCount() >= minCountA) {
      ++keptL;
    } else {
      entryL->resetState(probeA);
    }
  }
  return keptL;
}

std::size_t UniqueMetadataContainer::selectAndCleanFilterIntoRealResultContainer(
    unsigned int probeA, int requiredLevelA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::selectAndCleanFilterIntoRealResultContainer");
  markLabelled(probeA);
  std::vector<char> selectedL(indexM.size(), 0);
  for (std::size_t iL = 0; iL < indexM.size(); ++iL) {
    selectedL[iL] = useFilterScores(probeA)
                        ? indexM[iL]->getFilterSelectedLevel(probeA) >= requiredLevelA
                        : indexM[iL]->stateWord(probeA) != 0;
  }
  setUseFilterScores(probeA, false);
  std::size_t countL = 0;
  for (std::size_t iL = 0; iL < indexM.size(); ++iL) {
    if (selectedL[iL]) {
      indexM[iL]->labelAsSelected(probeA, true);
      ++countL;
    }
  }
  return countL;
}

// --- persistence ----------------------------------------------------------------------------

void UniqueMetadataContainer::setFidFileFolder(const std::string& folderA, bool enableA) {
  closeFidFile();
  folderM = folderA;
  persistenceM = enableA;
  createdM = false;
  fileM = std::make_unique<MetadataFile>(metaDataFilePath());
}

std::string UniqueMetadataContainer::metaDataFilePath() const {
  return folderM + "/metaData.dat";
}

std::uint32_t UniqueMetadataContainer::metaDataElementSize() const {
  return MetadataFile::elementSize(QueryLanguage::attributeSize(), sidMaxM);
}

void UniqueMetadataContainer::closeFidFile() {
  if (fileM) fileM->close();
}

void UniqueMetadataContainer::createFidFile() {
  if (!persistenceM || createdM) return;
  createFidFileInternal();
}

void UniqueMetadataContainer::createFidFileInternal() {
  recordSizeM = qlMaxM + sidMaxM;
  makeFolder(folderM);
  // Made under a temporary name and renamed when complete, so that a crash never leaves a
  // metadata file cut short in its header (recovery would refuse it). A host whose file
  // functions cannot be renamed gets the file made in place.
  const std::string finalL = metaDataFilePath();
  const std::string tempL = finalL + ".new";
  {
    MetadataFile tempFileL(tempL);
    if (tempFileL.create(recordSizeM) && std::rename(tempL.c_str(), finalL.c_str()) == 0) {
      createdM = true;
      return;
    }
  }
  std::remove(tempL.c_str());
  if (!fileM->create(recordSizeM)) {
    KXXCP_THROW("qridy::UniqueMetadataContainer::createFidFileInternal",
                "Cannot create MultipassFileIO file : " << metaDataFilePath()
                                                        << ", dataSize : " << recordSizeM);
  }
  createdM = true;
}

bool UniqueMetadataContainer::openFile(bool logA) {
  if (fileM->isOpen()) return true;
  if (fileM->open()) return true;
  if (logA) {
    kxntc::error << "Cannot open MultipassFileIO file : " << metaDataFilePath()
                 << (createdM ? "" : ", Not created!");
    kxntc::notify(kxntc::error);
  }
  return false;
}

std::uint64_t UniqueMetadataContainer::commitIdRecordKey(IdentityMetadata* metadataA) {
  if (!persistenceM || metadataA == nullptr) return 0;
  if (metadataA->filePosition() == IdentityMetadata::kNotWritten) writeOneElememt(metadataA);
  return metadataA->filePosition();
}

void UniqueMetadataContainer::writeOneElememt(IdentityMetadata* metadataA) {
  std::vector<unsigned char> elementL =
      MetadataFile::encode(*metadataA, QueryLanguage::attributeSize(), sidMaxM);
  if (elementL.size() > recordSizeM) {
    kxntc::error << "QueryLanguage/StringIdentifer Data size is greater than configured "
                    "QL_MAX+SID_MAX Size : "
                 << elementL.size() << " > " << recordSizeM;
    kxntc::notify(kxntc::error);
    return;
  }
  makeFolder(folderM);
  if (!openFile(true)) return;
  if (fileM->dataSize() < elementL.size()) {
    kxntc::error << "QueryLanguage/StringIdentifer Data size is greater than configured "
                    "QL_MAX+SID_MAX Size : "
                 << elementL.size() << " > " << fileM->dataSize();
    kxntc::notify(kxntc::error);
    return;
  }
  elementL.resize(fileM->dataSize(), 0);
  const std::uint32_t positionL = fileM->append(elementL.data());
  if (positionL == MetadataFile::kNoRecord) {
    kxntc::error << "Cannot write to MultipassFileIO file : " << metaDataFilePath();
    kxntc::notify(kxntc::error);
    fileM->close();
    return;
  }
  metadataA->setFilePosition(positionL);
}

std::size_t UniqueMetadataContainer::recoverData() {
  static const char* const kFunction = "qridy::UniqueMetadataContainer::recoverData";
  if (!persistenceM || !fileM->exists()) return 0;
  fileM->close();
  if (!fileM->open()) {
    KXXCP_THROW(kFunction, "Cannot read metaData file : " << metaDataFilePath() << " ("
                                                          << fileM->lastError() << ")");
  }
  // Everything is read and checked before the registry changes.
  const std::uint32_t attributesL = QueryLanguage::attributeSize();
  const std::uint32_t elementL = MetadataFile::elementSize(attributesL, sidMaxM);
  const std::uint32_t dataSizeL = fileM->dataSize();
  if (dataSizeL < elementL) {
    fileM->close();
    KXXCP_THROW(kFunction, "metaData file record of "
                               << dataSizeL << " bytes is shorter than an element of " << elementL
                               << " bytes: " << metaDataFilePath());
  }
  std::vector<std::pair<std::uint32_t, MetadataFile::Element>> elementsL;
  std::uint16_t computedL = 0;
  const bool readL = fileM->readAll(
      [&](std::uint32_t positionA, const unsigned char* dataA) {
        MetadataFile::Element eL;
        MetadataFile::decode(dataA, dataSizeL, attributesL, sidMaxM, eL);
        elementsL.emplace_back(positionA, std::move(eL));
      },
      computedL);
  if (!readL) {
    const std::string errorL = fileM->lastError();
    fileM->close();
    KXXCP_THROW(kFunction,
                "Cannot read metaData file : " << metaDataFilePath() << " (" << errorL << ")");
  }
  const std::uint16_t storedL = fileM->storedChecksum();
  if (!fid::fileChecksumsEqual(computedL, storedL)) {
    fileM->close();
    KXXCP_THROW(kFunction, "metaData file checksum fails checksum test for file:"
                               << metaDataFilePath() << ", dataSize : " << recordSizeM
                               << ", calcChecksum : " << computedL
                               << ", storedChecksum : " << storedL);
  }
  std::vector<IdRecordKey> keysL;
  keysL.reserve(elementsL.size());
  for (const auto& eL : elementsL) keysL.push_back(eL.second.key);
  std::sort(keysL.begin(), keysL.end());
  for (std::size_t iL = 0; iL < keysL.size(); ++iL) {
    if ((iL > 0 && keysL[iL] == keysL[iL - 1]) || findByKey(keysL[iL]) != nullptr) {
      fileM->close();
      KXXCP_THROW(kFunction, "metaData file holds the IdRecord ("
                                 << keysL[iL].personId << ", " << keysL[iL].transactionId
                                 << ") twice: " << metaDataFilePath());
    }
  }
  indexM.reserve(indexM.size() + elementsL.size());
  for (const auto& [position, element] : elementsL) {
    IdentityMetadata* entryL = newEntry();
    entryL->setIdRecordKey(element.key);
    if (std::any_of(element.words.begin(), element.words.end(),
                    [](unsigned int wA) { return wA != 0; })) {
      std::copy(element.words.begin(), element.words.end(), entryL->queryM.wordsM);
    }
    if (keepSidM) entryL->setSid(element.sid.data(), element.sid.size(), sidMaxM);
    entryL->setFilePosition(position);
    indexM.push_back(entryL);
    sortedM = false;
    indexSid(entryL);
    maxTransactionIdM = std::max(maxTransactionIdM, element.key.transactionId);
  }
  sortIndex();
  markChanged();
  createdM = true;
  return elementsL.size();
}

unsigned int UniqueMetadataContainer::getMetaDataFileChecksum() {
  if (!fileM || !openFile(false)) return 0;
  return fileM->storedChecksum();
}

// --- dumps ----------------------------------------------------------------------------------

void UniqueMetadataContainer::dump(std::ostream& osA) const {
  osA << "begin UniqueMetadataContainer::dump" << std::endl;
  osA << "<all> " << std::endl;
  for (const IdentityMetadata* entryL : indexM) {
    osA << "<a "
        << " pid = \"" << entryL->getIdRecordKey().personId << "\" "
        << " trid = \"" << entryL->getIdRecordKey().transactionId << "\" "
        << " />" << std::endl;
  }
  osA << "</all> " << std::endl;
  osA << "end UniqueMetadataContainer::dump" << std::endl;
}

void UniqueMetadataContainer::dumpBinary(std::ostream& osA) const {
  dumpAttributes(osA, false);
}

void UniqueMetadataContainer::dumpShortBinary(std::ostream& osA) const {
  dumpAttributes(osA, true);
}

// "UMBD" / "UMSD", the entry count, the attribute bytes A, then per entry the key (the short
// form: the low 32 bits of the transaction id) and the attributes without word 0.
void UniqueMetadataContainer::dumpAttributes(std::ostream& osA, bool shortA) const {
  const std::uint32_t attributesL = QueryLanguage::attributeSize();
  osA.write(shortA ? "UMSD" : "UMBD", 4);
  coding::putFixed32(osA, static_cast<std::uint32_t>(indexM.size()));
  coding::putFixed32(osA, 4 * attributesL);
  for (const IdentityMetadata* entryL : indexM) {
    const IdRecordKey& keyL = entryL->getIdRecordKey();
    if (shortA) {
      coding::putFixed32(osA, static_cast<std::uint32_t>(keyL.transactionId));
    } else {
      coding::putFixed64(osA, keyL.personId);
      coding::putFixed64(osA, keyL.transactionId);
    }
    const unsigned int* wordsL = entryL->queryLanguage().attributes();
    for (std::uint32_t iL = 1; iL <= attributesL; ++iL) coding::putFixed32(osA, wordsL[iL]);
  }
}

// --- state image ----------------------------------------------------------------------------

void UniqueMetadataContainer::resetCurrentStateImage(unsigned int probeA) {
  checkProbe(probeA, "qridy::UniqueMetadataContainer::resetCurrentStateImage");
  stateImageProbeM = probeA;
  const std::size_t countL = indexM.size();
  const int sideL = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(countL))));
  const int rowsL = sideL == 0 ? 0 : static_cast<int>((countL + sideL - 1) / sideL);
  stateImageM = std::make_unique<qrimg::ByteImage>(sideL, rowsL, 0);
  for (std::size_t iL = 0; iL < countL; ++iL) {
    const int stateL = indexM[iL]->getResultState(probeA);
    stateImageM->at(static_cast<int>(iL % sideL), static_cast<int>(iL / sideL)) =
        stateL == 0   ? 0
        : stateL == 1 ? kPixelLabelled
                      : kPixelResult;
  }
}

const qrimg::ByteImage& UniqueMetadataContainer::getCurrentStateImage() const {
  return *stateImageM;
}

void UniqueMetadataContainer::hightlightTopScoreInStateImage(const IdRecordKey& keyA) {
  if (stateImageM->empty()) return;
  const auto itL = std::lower_bound(
      indexM.begin(), indexM.end(), keyA,
      [](const IdentityMetadata* mA, const IdRecordKey& kA) { return mA->getIdRecordKey() < kA; });
  if (itL == indexM.end() || (*itL)->getIdRecordKey() != keyA) return;
  const std::size_t iL = static_cast<std::size_t>(itL - indexM.begin());
  const int sideL = stateImageM->width();
  if (iL >= static_cast<std::size_t>(sideL) * stateImageM->height()) return;
  stateImageM->at(static_cast<int>(iL % sideL), static_cast<int>(iL / sideL)) = kPixelHighlight;
}

}  // namespace qridy
