#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <unordered_map>
#include <utility>
#include <vector>

#include <quarlen/GalleryFileLinks.h>
#include <quarlen/IdRecordKey.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Result.h>
#include <quarlen/Types.h>

namespace qridy {
class ResultTreeList;
class TemplateBlockImp;
class TemplateImp;
}  // namespace qridy

namespace qrbase {

// One enrolled template in a stage (32 bytes): where its gallery data lie, whose it is and which
// sample it came from. The data and the metadata are not owned by the entry: the data belong to
// the stage (a slot of its memory, or a block copy in the base stage), the metadata to the unique
// metadata container.
struct GalleryEntry {
  const unsigned char* data = nullptr;
  const qridy::IdentityMetadata* metadata = nullptr;
  KXuint128 sampleId;

  const qridy::IdRecordKey& idRecordKey() const { return metadata->getIdRecordKey(); }
};
static_assert(sizeof(GalleryEntry) == 32, "GalleryEntry is 32 bytes");

class TemplateMatcherMultipass_Stage;

// What a stage hands to the stage identifiers: the slot size in bytes and the stage's dense
// vector of entries (not owned; valid until the stage changes), and the stage itself when it
// keeps an index of its entries' positions (see galleryPositions).
struct GalleryEntryData {
  std::uint32_t dataSize = 0;
  const std::vector<GalleryEntry>* galleryVec = nullptr;
  const TemplateMatcherMultipass_Stage* positionIndex = nullptr;
};

// Scored entries of the result sorts: an integer or a float score and the entry it belongs to.
struct LocalResult {
  int score = 0;
  const GalleryEntry* entry = nullptr;
};
struct LocalFloatResult {
  float score = 0.0f;
  const GalleryEntry* entry = nullptr;
};

// Not supported by stages; kept for the interface (processBinMap always throws).
struct BinMap {};
enum FilterMode : int { FilterModeNone = 0 };

// The gallery side of one biometric triple: the enrolled template blocks of one modality,
// instance and algorithm with their identities and sample ids, look-ups by person, record key
// and sample id, removal and simple result sorting.
//
// The base class keeps a copy of every block (without its probe part) as the entry's data;
// TemplateMatcherMultipass_Stage_MemManager, the class the gallery container instantiates, keeps
// the gallery parts in fixed-size aligned slots instead.
//
// Entries: galleryVecM is dense (removal moves entries) and is reserved to maxNumberOfTemplates
// at the first add, so it never reallocates: GalleryEntry addresses stay valid until the entry
// is removed or moved. The index (idVector) points into galleryVecM and is rebuilt lazily after
// adds and removals.
//
// Threads: no lock. add, destroy and clear must not run while anything reads the stage; readers
// (several identification workers, each on a disjoint range of entries) may run together.
//
// Errors are kxxcp::Exception (code -1).
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage : public qridy::GalleryBlockSink {
 public:
  TemplateMatcherMultipass_Stage(qridy::Modality modalityA, qridy::Instance instanceA,
                                 qridy::Algorithm algorithmA, unsigned int maxNumberOfTemplatesA);
  ~TemplateMatcherMultipass_Stage() override;
  TemplateMatcherMultipass_Stage(const TemplateMatcherMultipass_Stage&) = delete;
  TemplateMatcherMultipass_Stage& operator=(const TemplateMatcherMultipass_Stage&) = delete;

  // Nothing to do in the base class.
  virtual void init(const char* parameterA, const unsigned& valueA);
  // Adds the gallery part of blockA for metadataA and sampleIdA (the block stays the caller's;
  // metadataA must outlive the entry). Throws "Cannot add to gallery, because number of
  // reserved templates reached." when the stage is full and "TemplateBlockImp has not the
  // configured algorithm" for a block of another algorithm; the stage is then unchanged.
  void add(const qridy::TemplateBlockImp* blockA, const qridy::IdentityMetadata* metadataA,
           KXuint128 sampleIdA) override;
  // Removes every entry (and what the stage owns for them).
  virtual void clear();
  // Placeholder of the base class: scores nothing. Returns (in resultsA) up to resultLengthMaxA
  // of the stage's entries, in entry order, with score 0, and unlabels their identities as
  // candidates of probe slot probeIndexA (a metadata entry without container is left alone).
  virtual void identifyTemplate(const qridy::TemplateBlockImp* probeA, unsigned int probeIndexA,
                                unsigned int resultLengthMaxA,
                                std::vector<qridy::Result>& resultsA);
  // Every entry as one result of score 0 in resultsA (identity, biometric record of the stage's
  // modality and instance, template of the sample id).
  virtual void identifyTransaction(const qridy::TemplateBlockImp* probeA,
                                   qridy::ResultTreeList& resultsA);
  virtual std::size_t numberOfIdRecords() const { return galleryVecM.size(); }
  virtual std::size_t numberOfTemplates() const { return galleryVecM.size(); }
  // No effect.
  virtual void setBitMask(unsigned int maskA);
  virtual void resetBitMask();
  // New templates (owned by the caller) holding a block of the stage's algorithm with the
  // stored gallery data of every entry of keyA (the data of a slot come in its full slot size).
  virtual std::vector<qridy::TemplateImp*> getTemplates(const qridy::IdRecordKey& keyA);
  // For each key of keysA (in order) the position in the sorted idVector of its first entry, or
  // -1 when it has none. Rebuilds and sorts the index first.
  virtual void findFromIdVector(const std::vector<qridy::IdRecordKey>& keysA,
                                std::vector<int>& positionsA);
  // Removes the given entries (addresses inside galleryVecM, each at most once). The base class
  // erases them keeping the order of the others; the memory manager moves the last entry into
  // each hole.
  virtual void destroyByIndices(const std::vector<GalleryEntry*>& entriesA);
  // One result per entry of entriesA with score 0.0 and the entry's identity and sample id,
  // appended to resultsA.
  virtual void identifyTransactionSpecial(const qridy::TemplateBlockImp* probeA,
                                          const std::vector<GalleryEntry*>& entriesA,
                                          std::vector<qridy::Result>& resultsA);
  // "SMBD", the entry count (32-bit), per entry personId and transactionId (64-bit each);
  // little-endian, entries in gallery order.
  virtual void dumpBinary(std::ostream& osA);
  // "SMSD", the entry count (32-bit), per entry the low 32 bits of the transactionId.
  virtual void dumpShortBinary(std::ostream& osA);

  std::uint32_t maxNumberOfTemplates() const { return maxNumberOfTemplatesM; }
  std::uint32_t dataSize() const { return dataSizeM; }
  qridy::Modality modality() const { return modalityM; }
  qridy::Instance instance() const { return instanceM; }
  qridy::Algorithm algorithm() const { return algorithmM; }
  qridy::BioMetricTriple triple() const { return {modalityM, instanceM, algorithmM}; }
  bool isSymmetric() const { return symmetricM; }
  GalleryEntryData getGalleryEntries() const {
    return {dataSizeM, &galleryVecM, positionIndexedM ? this : nullptr};
  }
  // Whether getGalleryEntries offers the position index: worth it for stages that live long
  // (the memory stages), not for those refilled for every probe.
  void setPositionIndexed(bool indexedA) { positionIndexedM = indexedA; }
  // The positions in galleryVec() of the entries of the listed identities, ascending. The index
  // behind it (identity -> positions) is built at the first call after a removal, and after
  // adds once they are more than an eighth of the gallery (up to then the added entries are
  // walked); calls may come from several probe slots at once, changes never during
  // identifications.
  void galleryPositions(const std::vector<qridy::IdentityMetadata*>& metadataA,
                        std::vector<std::uint32_t>& positionsA) const;
  // Builds that index now when the stage offers one (recovery does, so that the first
  // identification after a restart does not).
  void indexPositions() const;
  const std::vector<GalleryEntry>& galleryVec() const { return galleryVecM; }

  // The key of the entry with that sample id; throws "No gallery entry with sample id (<high>,
  // <low>)" when there is none.
  qridy::IdRecordKey getIdRecordKeyBySampleId(KXuint128 sampleIdA) const;
  // The entries of the listed persons or keys, in key order (pointers into galleryVecM, valid
  // until the stage changes).
  std::vector<GalleryEntry*> getGalleryEntriesByPid(const std::vector<std::uint64_t>& personIdsA);
  std::vector<GalleryEntry*> getGalleryEntriesByIdRecordKey(
      const std::vector<qridy::IdRecordKey>& keysA);
  // Removes the one entry of keyA; true when it was removed. Nothing happens (false) when keyA
  // has no entry, and when it has several ("Multiple samples per record detected. Delete not
  // supported!" error notification).
  bool destroyIdRecord(const qridy::IdRecordKey& keyA);
  // The entries of the listed keys or persons as results of identifyTransactionSpecial, sorted.
  void identifyTransaction(const qridy::TemplateBlockImp* probeA,
                           const std::vector<qridy::IdRecordKey>& keysA,
                           std::vector<qridy::Result>& resultsA);
  void identifyTransaction(const qridy::TemplateBlockImp* probeA,
                           const std::vector<std::uint64_t>& personIdsA,
                           std::vector<qridy::Result>& resultsA);
  // Always throws "!!! Work to do here !!!".
  void processBinMap(const BinMap& binMapA, FilterMode modeA);
  // "--- galleryVecM ::" and one line per entry.
  void dump(std::ostream& osA) const;

  void setSortResults(bool sortA) { sortResultsM = sortA; }
  bool sortResults() const { return sortResultsM; }

 protected:
  // Highest score first, when sortResults is set; equal scores in no particular order.
  void sort(std::vector<LocalResult>& resultsA) const;
  void sort(std::vector<qridy::Result>& resultsA) const;
  void sort(std::vector<LocalFloatResult>& resultsA) const;
  // Rebuilds idVector from galleryVecM when it is stale.
  void updateIdxMaps();
  // Sorts idVector by record key when it is not sorted (dropping tombstones first).
  void sortIdVector();
  // Drops the tombstones of removed entries from idVector.
  void compactIndex();
  // The key at a position of the sorted idVector (a tombstone's remembered key included), and the
  // first position whose key is not below keyA.
  const qridy::IdRecordKey& indexKey(std::size_t positionA) const;
  std::size_t lowerBound(const qridy::IdRecordKey& keyA) const;
  // Reserves both vectors to the capacity and throws the reserved-templates message when full.
  void reserveForAdd();
  // Appends the entry and marks the index stale.
  void appendEntry(const unsigned char* dataA, const qridy::IdentityMetadata* metadataA,
                   KXuint128 sampleIdA);
  // Whether destroyByIndices fills a hole with the last entry (and keeps the others in place);
  // destroyIdRecord then keeps the sorted index up to date instead of rebuilding it.
  virtual bool removalMovesLastEntry() const { return false; }
  // The number of gallery bytes an entry holds: the block copy's gallery size in the base class,
  // the slot size otherwise.
  std::uint32_t galleryDataSize(const GalleryEntry& entryA) const;
  // Removes the candidate label of metadataA's identity for probe slot probeIndexA.
  static void unselect(const qridy::IdentityMetadata* metadataA, unsigned int probeIndexA);
  void invalidateIndex() {
    indexMapsValidM = false;
    idVectorSortedM = false;
    ++generationM;
  }

  std::uint32_t dataSizeM = 0;
  qridy::Modality modalityM;
  qridy::Instance instanceM;
  qridy::Algorithm algorithmM;
  bool symmetricM = false;
  bool symmetricKnownM = false;
  std::uint32_t maxNumberOfTemplatesM;
  std::vector<GalleryEntry> galleryVecM;
  std::int32_t indexMapsValidM = 0;
  std::vector<GalleryEntry*> idVectorM;  // null: a tombstone, its key in deadKeysM
  std::unordered_map<std::size_t, qridy::IdRecordKey> deadKeysM;
  bool idVectorSortedM = false;
  bool sortResultsM = true;
  // Counts the changes of galleryVecM other than adds; the position index is valid for one
  // count and covers the first indexedCountM entries.
  std::uint64_t generationM = 0;
  bool positionIndexedM = false;
  // Rebuilds the position index over every entry; positionMutexM is held.
  void buildPositionIndex() const;
  mutable std::mutex positionMutexM;
  mutable std::uint64_t positionGenerationM = ~std::uint64_t{0};
  mutable std::size_t indexedCountM = 0;
  mutable std::vector<std::pair<const qridy::IdentityMetadata*, std::uint32_t>> positionIndexM;

 private:
  // The base class's copies of the stored blocks, parallel to galleryVecM.
  std::vector<qridy::TemplateBlockImp*> blockCopiesM;
};

}  // namespace qrbase
