#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <quarlen/IdRecordKey.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/QueryLanguage.h>

namespace qridy {

class UniqueMetadataContainer;

// The registry of identity keys: every entry (IdentityMetadata) in blocks of kBlockSize
// entries that never move, an index of the entries sorted by key (person id, then transaction
// id), and an index of the string identifiers (SID). An entry that is removed leaves its block
// slot unused until clear().
//
// SID_MAX, the stored length of a SID, is read from the configuration (section
// "MAX_TEMPLATE_SIZE", key "StringIdentifierData"). SIDs are cut to SID_MAX bytes and compared
// zero-padded to SID_MAX bytes, so trailing zero bytes do not tell two SIDs apart. An entry
// without SID is not in the SID index; of several entries with the same SID the index names
// the first.
//
// Threads: adding, removing and clearing must not run while anything else uses the registry;
// look-ups (by key, SID, person, transaction, index) may run on several threads at once.
class QUARLEN_EXPORT IdRecordKeyContainerInternels {
 public:
  static constexpr std::size_t kBlockSize = 10000;
  // The SID index marks erased entries with this key; a SID equal to it is not indexed.
  static const char* const kDeletedSidKey;

  IdRecordKeyContainerInternels();
  virtual ~IdRecordKeyContainerInternels();
  IdRecordKeyContainerInternels(const IdRecordKeyContainerInternels&) = delete;
  IdRecordKeyContainerInternels& operator=(const IdRecordKeyContainerInternels&) = delete;

  // A new entry for keyA with a copy of queryA's words (or zeros) and the first min(sidLengthA,
  // SID_MAX) bytes of sidA; with acceptExistingA the entry that already has keyA is returned.
  // Throws, with error code 500, "Cannot add IdRecord (<personId>, <transactionId>), because an
  // IdRecord with this person/transactionID already exists in the gallery.".
  virtual IdentityMetadata* addIdRecordKey(const IdRecordKey& keyA, const QueryLanguage* queryA,
                                           const unsigned char* sidA, std::size_t sidLengthA,
                                           bool acceptExistingA);
  // Removes keyA's entry; false when there is none.
  virtual bool removeIdRecordKey(const IdRecordKey& keyA);
  virtual std::size_t numberOfUniquePersons();
  // Removes every entry and frees the blocks.
  virtual void clear();
  // The number of entries.
  virtual std::size_t size() const;
  // Exactly one of addA (add, or with acceptExistingA return the present entry) and deleteA
  // (remove; null when absent), or neither (look-up: the entry or null). Both throw "Just add
  // xor delete supported!!". indexA receives the position in the index (where the key is or
  // would be).
  virtual IdentityMetadata* searchForExisingIdRecordKey(
      const IdRecordKey& keyA, const QueryLanguage* queryA, const unsigned char* sidA,
      std::size_t sidLengthA, bool deleteA, bool addA, std::size_t& indexA, bool acceptExistingA);

  // The number of entries, cached until the next add or remove.
  std::size_t numberOfUniqueIdRecords();
  // Removes keyA's entry from the indexes and returns it (null when absent); nothing else
  // changes.
  IdentityMetadata* removeIdRecordKeyFromMemory(const IdRecordKey& keyA);

  IdentityMetadata* findByKey(const IdRecordKey& keyA) const;
  // The entry whose SID equals the first min(lengthA, SID_MAX) bytes of sidA; null when none.
  IdentityMetadata* getMetaDataBySID(const unsigned char* sidA, std::size_t lengthA) const;
  // The indexA-th entry in key order, or null.
  IdentityMetadata* getMetaDataByIndex(std::size_t indexA) const;
  // The keys of one person, in key order.
  std::vector<IdRecordKey> getIdRecordKeysByPid(std::uint64_t personIdA) const;
  // The entry of a transaction id; positionA receives its position in key order (-1 when
  // absent). When absent: with throwA, throws "IdRecord with transactionId : <id> does not
  // exist in the gallery."; else null (the key form: (0, 0)).
  IdentityMetadata* getIdentityMetadataTransactionId(std::uint64_t transactionIdA, bool throwA,
                                                     int& positionA) const;
  IdRecordKey getIdRecordKeyByTransactionId(std::uint64_t transactionIdA, bool throwA,
                                            int& positionA) const;

  // Entry slots in the allocated blocks.
  std::size_t capacity() const;
  // Room in the index for nA entries.
  void reserve(std::size_t nA);
  // The number of SIDs in the SID index.
  std::size_t sidSize() const;
  // The entries in key order.
  const std::vector<IdentityMetadata*>& getInternalMetadataVector() const { return indexM; }

  std::uint32_t sidMax() const { return sidMaxM; }
  bool keepSid() const { return keepSidM; }
  // Whether SIDs are kept in memory (and indexed); set before adding.
  void setKeepSid(bool keepA) { keepSidM = keepA; }

 protected:
  // The next unused entry slot (a new block of kBlockSize entries, each attached to ownerM,
  // when the current one is used up).
  IdentityMetadata* newEntry();
  void sortIndex();
  void indexSid(IdentityMetadata* entryA);
  void unindexSid(IdentityMetadata* entryA);
  // The SID index key of a SID: cut to SID_MAX bytes, trailing zeros dropped.
  std::string sidKey(const unsigned char* sidA, std::size_t lengthA) const;
  // Entries by transaction id, built on first use after a change.
  const std::vector<IdentityMetadata*>& byTransaction() const;
  void markChanged();

  // The storage of one block: its entries, their record words (N + 1 per entry) and their
  // state words (one per parallel probe), in entry order. Walks over many entries find an
  // entry's words here instead of through the entry.
  struct BlockView {
    const IdentityMetadata* entries;
    unsigned int* queryWords;
    std::uint64_t* stateWords;
  };
  // Every block, ordered by the address of its entries.
  const std::vector<BlockView>& blockViews() const { return blockViewsM; }
  // The block of an entry (which must be one of this container's).
  const BlockView& blockOf(const IdentityMetadata* entryA) const;

  UniqueMetadataContainer* ownerM = nullptr;
  std::uint32_t sidMaxM = 0;
  bool keepSidM = true;
  // Read by identifications of several probe slots at once; changed only by writers.
  std::atomic<std::size_t> cachedCountM{0};
  bool sortedM = true;
  std::vector<IdentityMetadata*> indexM;

 private:
  struct Block;
  struct SidIndex;
  std::vector<std::unique_ptr<Block>> blocksM;
  std::vector<BlockView> blockViewsM;
  std::unique_ptr<SidIndex> sidIndexM;
  mutable std::mutex byTransactionMutexM;
  mutable std::vector<IdentityMetadata*> byTransactionM;
  mutable bool byTransactionStaleM = true;
};

}  // namespace qridy
