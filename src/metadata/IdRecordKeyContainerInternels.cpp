#include <quarlen/IdRecordKeyContainerInternels.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include <google/sparse_hash_map>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/UniqueMetadataContainer.h>

namespace qridy {

const char* const IdRecordKeyContainerInternels::kDeletedSidKey = "-*- Q7delete key7Q -*-";

// kBlockSize entries with their record words and state words; entries are constructed when
// the block is made and destroyed with it.
struct IdRecordKeyContainerInternels::Block {
  Block(std::size_t wordsPerEntryA, std::size_t probesA)
      : queryWords(new unsigned int[kBlockSize * wordsPerEntryA]()),
        stateWords(new std::uint64_t[kBlockSize * probesA]()),
        entries(
            static_cast<IdentityMetadata*>(::operator new(kBlockSize * sizeof(IdentityMetadata)))) {
  }
  ~Block() {
    for (std::size_t iL = constructed; iL > 0; --iL) entries[iL - 1].~IdentityMetadata();
    ::operator delete(entries);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  std::unique_ptr<unsigned int[]> queryWords;
  std::unique_ptr<std::uint64_t[]> stateWords;
  IdentityMetadata* entries;
  std::size_t constructed = 0;
  std::size_t used = 0;
};

struct IdRecordKeyContainerInternels::SidIndex {
  SidIndex() : map(32) { map.set_deleted_key(kDeletedSidKey); }
  google::sparse_hash_map<std::string, IdentityMetadata*> map;
};

namespace {

bool keyLess(const IdentityMetadata* aA, const IdentityMetadata* bA) {
  return aA->getIdRecordKey() < bA->getIdRecordKey();
}

std::vector<IdentityMetadata*>::const_iterator lowerBound(
    const std::vector<IdentityMetadata*>& indexA, const IdRecordKey& keyA) {
  return std::lower_bound(
      indexA.begin(), indexA.end(), keyA,
      [](const IdentityMetadata* mA, const IdRecordKey& kA) { return mA->getIdRecordKey() < kA; });
}

}  // namespace

IdRecordKeyContainerInternels::IdRecordKeyContainerInternels()
    : sidIndexM(std::make_unique<SidIndex>()) {
  const int sidMaxL =
      kxutl::QuarlenInformation::getIntFromConfigFile("MAX_TEMPLATE_SIZE", "StringIdentifierData");
  sidMaxM = sidMaxL > 0 ? static_cast<std::uint32_t>(sidMaxL) : 0u;
  blocksM.reserve(10000);
}

IdRecordKeyContainerInternels::~IdRecordKeyContainerInternels() = default;

IdentityMetadata* IdRecordKeyContainerInternels::newEntry() {
  if (blocksM.empty() || blocksM.back()->used == kBlockSize) {
    const std::size_t wordsL = QueryLanguage::attributeSize() + std::size_t{1};
    const std::size_t probesL = ownerM != nullptr ? ownerM->maxNumberOfParallelProbes() : 1;
    auto blockL = std::make_unique<Block>(wordsL, probesL);
    for (std::size_t iL = 0; iL < kBlockSize; ++iL) {
      new (blockL->entries + iL) IdentityMetadata(blockL->queryWords.get() + iL * wordsL,
                                                  blockL->stateWords.get() + iL * probesL);
      ++blockL->constructed;
      blockL->entries[iL].init(ownerM);
    }
    const BlockView viewL{blockL->entries, blockL->queryWords.get(), blockL->stateWords.get()};
    const auto atL =
        std::upper_bound(blockViewsM.begin(), blockViewsM.end(), viewL,
                         [](const BlockView& aA, const BlockView& bA) {
                           return std::less<const IdentityMetadata*>()(aA.entries, bA.entries);
                         });
    blockViewsM.insert(atL, viewL);
    blocksM.push_back(std::move(blockL));
  }
  Block& blockL = *blocksM.back();
  return blockL.entries + blockL.used++;
}

const IdRecordKeyContainerInternels::BlockView& IdRecordKeyContainerInternels::blockOf(
    const IdentityMetadata* entryA) const {
  const auto itL = std::upper_bound(blockViewsM.begin(), blockViewsM.end(), entryA,
                                    [](const IdentityMetadata* eA, const BlockView& bA) {
                                      return std::less<const IdentityMetadata*>()(eA, bA.entries);
                                    });
  return *(itL - 1);
}

void IdRecordKeyContainerInternels::sortIndex() {
  if (!sortedM) {
    std::sort(indexM.begin(), indexM.end(), keyLess);
    sortedM = true;
  }
}

std::string IdRecordKeyContainerInternels::sidKey(const unsigned char* sidA,
                                                  std::size_t lengthA) const {
  if (sidA == nullptr) return std::string();
  std::size_t keptL = std::min<std::size_t>(lengthA, sidMaxM);
  while (keptL > 0 && sidA[keptL - 1] == 0) --keptL;
  return std::string(reinterpret_cast<const char*>(sidA), keptL);
}

void IdRecordKeyContainerInternels::indexSid(IdentityMetadata* entryA) {
  if (entryA->sid() == nullptr) return;
  std::string keyL = sidKey(entryA->sid(), sidMaxM);
  if (keyL.empty() || keyL == kDeletedSidKey) return;
  sidIndexM->map.insert(std::make_pair(std::move(keyL), entryA));
}

void IdRecordKeyContainerInternels::unindexSid(IdentityMetadata* entryA) {
  if (entryA->sid() == nullptr) return;
  const std::string keyL = sidKey(entryA->sid(), sidMaxM);
  if (keyL.empty() || keyL == kDeletedSidKey) return;
  const auto itL = sidIndexM->map.find(keyL);
  if (itL != sidIndexM->map.end() && itL->second == entryA) sidIndexM->map.erase(itL);
}

void IdRecordKeyContainerInternels::markChanged() {
  cachedCountM = 0;
  std::lock_guard<std::mutex> lockL(byTransactionMutexM);
  byTransactionStaleM = true;
}

IdentityMetadata* IdRecordKeyContainerInternels::searchForExisingIdRecordKey(
    const IdRecordKey& keyA, const QueryLanguage* queryA, const unsigned char* sidA,
    std::size_t sidLengthA, bool deleteA, bool addA, std::size_t& indexA, bool acceptExistingA) {
  if (deleteA && addA) {
    KXXCP_THROW("qridy::IdRecordKeyContainerInternels::searchForExisingIdRecordKey",
                "Just add xor delete supported!!");
  }
  sortIndex();
  const auto itL = lowerBound(indexM, keyA);
  indexA = static_cast<std::size_t>(itL - indexM.begin());
  const bool presentL = itL != indexM.end() && (*itL)->getIdRecordKey() == keyA;
  if (addA) {
    if (presentL) {
      if (acceptExistingA) return *itL;
      KXXCP_THROW_CODE("qridy::IdRecordKeyContainerInternels::searchForExisingIdRecordKey", 500,
                       "Cannot add IdRecord (" << keyA.personId << ", " << keyA.transactionId
                                               << "), because an IdRecord with this "
                                                  "person/transactionID already exists in the "
                                                  "gallery.");
    }
    // Room first, so that a failing allocation leaves nothing half done.
    if (indexM.size() == indexM.capacity())
      indexM.reserve(std::max<std::size_t>(16, 2 * indexM.size()));
    IdentityMetadata* entryL = newEntry();
    entryL->setIdRecordKey(keyA);
    if (queryA != nullptr) entryL->queryLanguage() = *queryA;
    if (keepSidM) entryL->setSid(sidA, sidLengthA, sidMaxM);
    entryL->setFilePosition(IdentityMetadata::kNotWritten);
    indexM.insert(indexM.begin() + static_cast<std::ptrdiff_t>(indexA), entryL);
    indexSid(entryL);
    return entryL;
  }
  if (!presentL) return nullptr;
  IdentityMetadata* entryL = *itL;
  if (deleteA) {
    indexM.erase(itL);
    unindexSid(entryL);
    cachedCountM = 0;
  }
  return entryL;
}

IdentityMetadata* IdRecordKeyContainerInternels::addIdRecordKey(const IdRecordKey& keyA,
                                                                const QueryLanguage* queryA,
                                                                const unsigned char* sidA,
                                                                std::size_t sidLengthA,
                                                                bool acceptExistingA) {
  std::size_t indexL = 0;
  IdentityMetadata* entryL = searchForExisingIdRecordKey(keyA, queryA, sidA, sidLengthA, false,
                                                         true, indexL, acceptExistingA);
  markChanged();
  return entryL;
}

IdentityMetadata* IdRecordKeyContainerInternels::removeIdRecordKeyFromMemory(
    const IdRecordKey& keyA) {
  std::size_t indexL = 0;
  IdentityMetadata* entryL =
      searchForExisingIdRecordKey(keyA, nullptr, nullptr, 0, true, false, indexL, false);
  if (entryL != nullptr) markChanged();
  return entryL;
}

bool IdRecordKeyContainerInternels::removeIdRecordKey(const IdRecordKey& keyA) {
  return removeIdRecordKeyFromMemory(keyA) != nullptr;
}

std::size_t IdRecordKeyContainerInternels::numberOfUniquePersons() {
  sortIndex();
  std::size_t countL = 0;
  for (std::size_t iL = 0; iL < indexM.size(); ++iL) {
    if (iL == 0 ||
        indexM[iL]->getIdRecordKey().personId != indexM[iL - 1]->getIdRecordKey().personId) {
      ++countL;
    }
  }
  return countL;
}

std::size_t IdRecordKeyContainerInternels::numberOfUniqueIdRecords() {
  std::size_t countL = cachedCountM.load(std::memory_order_relaxed);
  if (countL == 0) {
    countL = size();
    cachedCountM.store(countL, std::memory_order_relaxed);
  }
  return countL;
}

void IdRecordKeyContainerInternels::clear() {
  indexM.clear();
  sidIndexM = std::make_unique<SidIndex>();
  blockViewsM.clear();
  blocksM.clear();
  sortedM = true;
  markChanged();
}

std::size_t IdRecordKeyContainerInternels::size() const {
  return indexM.size();
}

IdentityMetadata* IdRecordKeyContainerInternels::findByKey(const IdRecordKey& keyA) const {
  const auto itL = lowerBound(indexM, keyA);
  return itL != indexM.end() && (*itL)->getIdRecordKey() == keyA ? *itL : nullptr;
}

IdentityMetadata* IdRecordKeyContainerInternels::getMetaDataBySID(const unsigned char* sidA,
                                                                  std::size_t lengthA) const {
  const std::string keyL = sidKey(sidA, lengthA);
  if (keyL.empty() || keyL == kDeletedSidKey) return nullptr;
  const auto itL = sidIndexM->map.find(keyL);
  return itL != sidIndexM->map.end() ? itL->second : nullptr;
}

IdentityMetadata* IdRecordKeyContainerInternels::getMetaDataByIndex(std::size_t indexA) const {
  return indexA < indexM.size() ? indexM[indexA] : nullptr;
}

std::vector<IdRecordKey> IdRecordKeyContainerInternels::getIdRecordKeysByPid(
    std::uint64_t personIdA) const {
  std::vector<IdRecordKey> keysL;
  for (auto itL = lowerBound(indexM, IdRecordKey(personIdA, 0));
       itL != indexM.end() && (*itL)->getIdRecordKey().personId == personIdA; ++itL) {
    keysL.push_back((*itL)->getIdRecordKey());
  }
  return keysL;
}

const std::vector<IdentityMetadata*>& IdRecordKeyContainerInternels::byTransaction() const {
  std::lock_guard<std::mutex> lockL(byTransactionMutexM);
  if (byTransactionStaleM) {
    byTransactionM = indexM;
    std::sort(byTransactionM.begin(), byTransactionM.end(),
              [](const IdentityMetadata* aA, const IdentityMetadata* bA) {
                return aA->getIdRecordKey().transactionId < bA->getIdRecordKey().transactionId;
              });
    byTransactionStaleM = false;
  }
  return byTransactionM;
}

IdentityMetadata* IdRecordKeyContainerInternels::getIdentityMetadataTransactionId(
    std::uint64_t transactionIdA, bool throwA, int& positionA) const {
  const std::vector<IdentityMetadata*>& byTidL = byTransaction();
  const auto itL = std::lower_bound(byTidL.begin(), byTidL.end(), transactionIdA,
                                    [](const IdentityMetadata* mA, std::uint64_t tA) {
                                      return mA->getIdRecordKey().transactionId < tA;
                                    });
  if (itL == byTidL.end() || (*itL)->getIdRecordKey().transactionId != transactionIdA) {
    positionA = -1;
    if (throwA) {
      KXXCP_THROW(
          "qridy::IdRecordKeyContainerInternels::getIdentityMetadataTransactionId",
          "IdRecord with transactionId : " << transactionIdA << " does not exist in the gallery.");
    }
    return nullptr;
  }
  positionA = static_cast<int>(lowerBound(indexM, (*itL)->getIdRecordKey()) - indexM.begin());
  return *itL;
}

IdRecordKey IdRecordKeyContainerInternels::getIdRecordKeyByTransactionId(
    std::uint64_t transactionIdA, bool throwA, int& positionA) const {
  const IdentityMetadata* entryL =
      getIdentityMetadataTransactionId(transactionIdA, throwA, positionA);
  return entryL != nullptr ? entryL->getIdRecordKey() : IdRecordKey();
}

std::size_t IdRecordKeyContainerInternels::capacity() const {
  return blocksM.size() * kBlockSize;
}

void IdRecordKeyContainerInternels::reserve(std::size_t nA) {
  indexM.reserve(nA);
}

std::size_t IdRecordKeyContainerInternels::sidSize() const {
  return sidIndexM->map.size();
}

}  // namespace qridy
