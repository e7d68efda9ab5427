#pragma once

#include <cstdint>
#include <memory>

#include <quarlen/IdRecordKey.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/QueryLanguage.h>

namespace qridy {

class IdentityMetadata;
class IdentityResult;

// What an entry asks of the container that owns it (the unique metadata container): the number
// of parallel probes, the mode of a probe's state words, and the making and deleting of the
// identity results a state word holds.
class QUARLEN_EXPORT IdentityMetadataOwner {
 public:
  virtual ~IdentityMetadataOwner();
  virtual unsigned int maxNumberOfParallelProbes() const = 0;
  // Whether the probe's state words are in filter mode.
  virtual bool useFilterScores(unsigned int probeA) const = 0;
  // A new result of the probe for entryA (owned by the probe's result container).
  virtual IdentityResult* acquireResult(unsigned int probeA, IdentityMetadata* entryA) = 0;
  // Deletes resultA, the probe's result of entryA.
  virtual void deleteResult(unsigned int probeA, IdentityMetadata* entryA,
                            IdentityResult* resultA) = 0;
  // The current algorithm count of a result.
  virtual int resultAlgCount(const IdentityResult* resultA) const = 0;
};

// The metadata entry of one enrolled identity: its key, its query-language record, its record
// position in the metadata file, its string identifier (SID) and, per parallel probe, one state
// word. Entries of a container are made by the container (in blocks that never move) and owned
// by it; stages and gallery files keep pointers to them. A stand-alone entry (constructed
// directly) carries a key and a record but no container until init().
//
// The state word of a probe is used in one of two ways, chosen per probe by the container's
// useFilterScores flag:
//   selection mode: 0 not a candidate; kLabelled (1) candidate without a result yet; otherwise
//     the address of the identity's IdentityResult for the probe, owned by the probe's result
//     container (getResultState answers 0, 1 or 3);
//   filter mode: byte 0 the filter-selected level (signed 8-bit), byte 1 the number of filter
//     scores (signed 8-bit), bytes 4 .. 7 the sum of the filter scores (float).
//
// Threads: during an identification only the thread that handles an identity for a probe
// writes that probe's state word; different probes use different words. Everything else is
// written while no identification runs.
class QUARLEN_EXPORT IdentityMetadata {
 public:
  static constexpr std::uint64_t kNotWritten = ~std::uint64_t{0};
  static constexpr std::uint64_t kLabelled = 1;

  IdentityMetadata();
  explicit IdentityMetadata(const IdRecordKey& keyA);
  // Copies key, record, file position and SID; the copy has no container and no state.
  IdentityMetadata(const IdentityMetadata& otherA);
  IdentityMetadata& operator=(const IdentityMetadata&) = delete;
  // Frees the SID and the state words; results a state word still holds belong to their result
  // container (which deletes them).
  ~IdentityMetadata();

  // Attaches the entry to its container and gives it one state word per parallel probe of the
  // container, all 0. Throws "UniqueMetadataContainer is NULL" for a null container.
  void init(IdentityMetadataOwner* containerA);
  IdentityMetadataOwner* container() const { return containerM; }

  const IdRecordKey& getIdRecordKey() const { return keyM; }
  void setIdRecordKey(const IdRecordKey& keyA) { keyM = keyA; }

  const QueryLanguage& queryLanguage() const { return queryM; }
  QueryLanguage& queryLanguage() { return queryM; }

  // Record position in the metadata file; kNotWritten before the entry is written.
  std::uint64_t filePosition() const { return filePositionM; }
  void setFilePosition(std::uint64_t positionA) { filePositionM = positionA; }

  // The SID buffer (sidMax + 1 bytes, zero-padded), or null when the entry has none.
  const unsigned char* sid() const { return sidM.get(); }
  // Copies min(lengthA, sidMaxA) bytes into a fresh zeroed buffer of sidMaxA + 1 bytes; a null
  // or empty SID (or sidMaxA 0) leaves the entry without one.
  void setSid(const unsigned char* sidA, std::size_t lengthA, std::uint32_t sidMaxA);

  // --- per-probe state (probeA below the container's number of parallel probes; an entry
  // without container has no state: reads answer 0, writes throw "probe index <p> out of
  // range (<n> probes).") ---------------------------------------------------------------------
  std::uint64_t stateWord(unsigned int probeA) const;
  // 0 not a candidate, 1 labelled, 3 holds a result.
  int getResultState(unsigned int probeA) const;
  // The result of the probe, made (and registered with the probe's result container) when the
  // entry holds none yet. Selection mode only.
  IdentityResult* identityResult(unsigned int probeA);
  // The result of the probe, or null.
  IdentityResult* getIdentityResult(unsigned int probeA) const;
  // true: labels the entry as candidate unless it already is one; false: removes the label and
  // deletes the result it holds. In filter mode the filter-selected level becomes 1, or the
  // word 0.
  void labelAsSelected(unsigned int probeA, bool selectedA);
  void setSelected(unsigned int probeA, bool selectedA) { labelAsSelected(probeA, selectedA); }
  // The state word is not 0.
  bool getRealSelected(unsigned int probeA) const { return stateWord(probeA) != 0; }
  // The state word holds a result whose current algorithm count is below limitA.
  bool getRealSelected(unsigned int probeA, int limitA) const;
  // Frees what the word holds (its result) and sets it to 0.
  void resetState(unsigned int probeA);

  // Filter mode.
  void setFilterSelected(unsigned int probeA, int levelA);
  int getFilterSelectedLevel(unsigned int probeA) const;
  int getFilterScoreCount(unsigned int probeA) const;
  // The level is at least levelA and the filter-score count below limitA.
  bool getFilterSelected(unsigned int probeA, int limitA, int levelA) const;
  // Clears the word; answers whether the level it held was at least levelA.
  bool getFilterSelectedReset(unsigned int probeA, int levelA);
  // Adds scoreA to the sum and 1 to the count (which stops at 127).
  void addFilterScore(unsigned int probeA, float scoreA);
  // Sum / count; 0.0 when the count is below 1.
  float getFilterScore(unsigned int probeA) const;
  // Keeps the level, clears count and sum.
  void resetFilterScores(unsigned int probeA);

 private:
  friend class IdRecordKeyContainerInternels;
  friend class UniqueMetadataContainer;
  // An entry of a metadata block: record words and state words live in block storage.
  IdentityMetadata(unsigned int* queryStorageA, std::uint64_t* stateStorageA);
  std::uint64_t& word(unsigned int probeA);
  bool filterMode(unsigned int probeA) const;

  IdRecordKey keyM;
  QueryLanguage queryM;
  std::uint64_t filePositionM = kNotWritten;
  std::unique_ptr<unsigned char[]> sidM;
  std::uint32_t sidBytesM = 0;  // size of the SID buffer
  IdentityMetadataOwner* containerM = nullptr;
  std::uint64_t* stateM = nullptr;
  unsigned int probesM = 0;
  bool ownsStateM = true;
};

}  // namespace qridy
