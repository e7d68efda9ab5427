#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/GalleryFileLinks.h>
#include <quarlen/IdRecordKeyContainerInternels.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResultContainer.h>
#include <quarlen/IdentityResultSlots.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/Types.h>

namespace qrimg {
class ByteImage;
}

namespace qridy {

class CompiledQuery;
class MetadataFile;

// How a probe's candidates were chosen: no mask (every identity of the gallery), or a mask of
// labelled identities (query, person or transaction lists). A probe never set answers
// PersonMaskOff.
enum PersonMaskSelectivity : int {
  PersonMaskNone = -1,
  PersonMaskOff = 0,
  PersonMaskOn = 1,
};

// The registry of every identity enrolled in the gallery of one modality: keys, SIDs and
// query-language records (IdRecordKeyContainerInternels), the raw-score slots of the gallery's
// biometric triples (IdentityResultSlots), per parallel probe the candidate selection and the
// identity results, and the metadata file "metaData.dat" in the gallery folder.
//
// Configuration: "TEMPLATE_MATCHING_MULTIPASS"/"maxNumberOfParallelProbes" (at least 1),
// "MAX_TEMPLATE_SIZE"/"StringIdentifierData" (SID_MAX) and "MAX_TEMPLATE_SIZE"/"QueryLanguage"
// (QL_MAX); records of the metadata file hold D = QL_MAX + SID_MAX bytes.
//
// Metadata file: one record per committed entry: personId (8 bytes), transactionId (8), the
// N + 1 query-language words (4 each), the SID (SID_MAX bytes, zero-padded) and the low 16
// bits of SID_MAX, little-endian, zero-padded to D bytes, in a gallery (FID) file of D-byte
// records. The file stays open between commits.
//
// Threads: enrolment (add, commit, remove, clear, recover, slot registration) must not run
// while identifications use the container. During identifications, each probe index is used by
// one identification at a time; its threads write only that probe's state words and its result
// container (which locks). Probe indexes at or above maxNumberOfParallelProbes() throw "probe
// index <p> out of range (<n> probes).".
class QUARLEN_EXPORT UniqueMetadataContainer : public IdRecordKeyContainerInternels,
                                               public IdentityResultSlots,
                                               public IdentityMetadataOwner,
                                               public GalleryMetadataSource {
 public:
  explicit UniqueMetadataContainer(Modality modalityA);
  ~UniqueMetadataContainer() override;

  unsigned int maxNumberOfParallelProbes() const override { return probesM; }
  // IdentityMetadataOwner: through the probe's result container.
  IdentityResult* acquireResult(unsigned int probeA, IdentityMetadata* entryA) override;
  void deleteResult(unsigned int probeA, IdentityMetadata* entryA,
                    IdentityResult* resultA) override;
  int resultAlgCount(const IdentityResult* resultA) const override;

  // --- registry ---------------------------------------------------------------------------
  // As the base, and raises the largest transaction id.
  IdentityMetadata* addIdRecordKey(const IdRecordKey& keyA, const QueryLanguage* queryA,
                                   const unsigned char* sidA, std::size_t sidLengthA,
                                   bool acceptExistingA) override;
  // Writes an entry that is not yet written to the metadata file (persistence enabled) and
  // returns its record position; 0 without persistence or entry. Write problems are logged.
  std::uint64_t commitIdRecordKey(IdentityMetadata* metadataA);
  // Removes the entry (its results of every probe are deleted) and clears its record in the
  // metadata file; problems with the file are logged.
  bool removeIdRecordKey(const IdRecordKey& keyA) override;
  std::size_t numberOfUniquePersons() override;
  // Removes every entry and result; slots and the file settings stay.
  void clear() override;
  std::size_t size() const override;
  // GalleryMetadataSource: the entry of keyA, or null.
  IdentityMetadata* getMetaDataByIdRecordKey(const IdRecordKey& keyA) override;
  std::uint64_t searchMaxTransactionID() const { return maxTransactionIdM; }

  // --- per-probe selection ----------------------------------------------------------------
  // The probe's result container (made on first use).
  IdentityResultContainer* getResultContainer(unsigned int probeA);
  // Selection mode: labelAsSelected(probe, selectedA) on every entry; filter mode: every
  // entry's filter-selected level becomes 1 (selectedA) or its word 0.
  void setAllSelected(unsigned int probeA, bool selectedA);
  // modeA != 1: the records of the listed persons become candidates. modeA == 1: every entry
  // becomes a candidate, then the records of the listed persons are unlabelled.
  void selectByPersonList(unsigned int probeA, const std::vector<std::uint64_t>& personIdsA,
                          int modeA);
  // The same for transaction ids; ids not found are skipped.
  void selectByTransactionList(unsigned int probeA,
                               const std::vector<std::uint64_t>& transactionIdsA, int modeA);
  // Labels every entry whose record matches queryA as candidate of the probe and unlabels
  // (deleting their results) those that do not, on threadCountA threads of the core pool (0
  // counts as 1). Throws "unknown filter mode." for modes other than 0. queryA must be
  // terminated: queries from outside go through QueryLanguage::validateQuery first.
  void processQueryLanguage(unsigned int probeA, const unsigned int* queryA,
                            unsigned int threadCountA, QueryFilterMode modeA);
  // The key of the first entry (key order) whose record matches; false when none.
  bool searchTransactionIdByQueryLanguage(const unsigned int* queryA, IdRecordKey& keyA) const;
  // The keys of every matching entry, in key order.
  void getIdsByQueryLanguage(unsigned int probeA, const unsigned int* queryA,
                             std::vector<IdRecordKey>& keysA) const;
  // Entries whose state word for the probe is not 0.
  std::size_t calcNumberOfSelectedIdRecords(unsigned int probeA) const;

  PersonMaskSelectivity usePersonMask(unsigned int probeA) const;
  void setUsePersonMask(unsigned int probeA, PersonMaskSelectivity maskA);
  bool useFilterScores(unsigned int probeA) const override;
  // Switches the probe between selection and filter mode; its state words are cleared first.
  void setUseFilterScores(unsigned int probeA, bool useA);

  // --- per-probe result life cycle --------------------------------------------------------
  // labelAsSelected(probe, selectedA) on every entry.
  void resetQueryLanguageAndIdentityResult(unsigned int probeA, bool selectedA);
  // Every state word of the probe 0 (results deleted); the dirty flag is cleared. While the
  // probe's candidates are sparse (see below) only their words are visited.
  void resetResultContainer(unsigned int probeA);
  // True while the probe's non-zero state words are exactly those of the identities with a
  // result registered in its result container: since the last reset nothing labelled whole
  // ranges of entries (selections, queries, filter mode) and the container registers results.
  // Walks over the probe's candidates may then visit those identities alone.
  bool sparseCandidates(unsigned int probeA) const;
  // Filter mode: every state word 0.
  void resetFilterResultContainer(unsigned int probeA);
  // Filter mode: counts and sums 0, levels kept.
  void resetFilterScoresResultContainer(unsigned int probeA);
  // Every result's current algorithm count 0.
  void resetRealAlgCountResultContainer(unsigned int probeA);
  // Filter mode: counts and sums 0, and every result's current algorithm count 0.
  void resetFilterAlgCountScores(unsigned int probeA);
  void setDirtyResultsFlag(unsigned int probeA, bool dirtyA);
  bool dirtyResults(unsigned int probeA) const;
  // The number of results the probe holds.
  std::size_t getResultsSize(unsigned int probeA) const;
  // Reduces the probe's candidates to the best keepA. Candidates: in filter mode the entries
  // whose filter-selected level is at least requiredLevelA, scored by their filter score;
  // otherwise the entries holding a result with a current algorithm count of at least 1,
  // scored by the fused score. Every other entry loses its state, except that with keepRestA an
  // entry that is still selected without scores (labelled, or filter level 0) keeps it. Of the
  // candidates the best keepA stay (IdentityResultContainer::selectBest), the others lose
  // their state.
  void sortAndCleanResultContainer(unsigned int probeA, bool filterModeA, std::size_t keepA,
                                   bool keepRestA, int requiredLevelA = 1);
  // Keeps the results whose current algorithm count is at least minCountA; every other entry
  // of the probe loses its state. Returns the number kept.
  std::size_t selectAndCleanByAlgCountResultContainer(unsigned int probeA, int minCountA);
  // Turns the filter selection into candidates: the probe leaves filter mode, and the entries
  // whose level was at least requiredLevelA are labelled. Returns their number.
  std::size_t selectAndCleanFilterIntoRealResultContainer(unsigned int probeA,
                                                          int requiredLevelA = 1);

  // --- persistence ------------------------------------------------------------------------
  // The gallery folder and whether the metadata file is used.
  void setFidFileFolder(const std::string& folderA, bool enableA);
  // Creates "<folder>/metaData.dat" afresh (once, persistence enabled). Throws "Cannot create
  // MultipassFileIO file : <path>, dataSize : <D>".
  void createFidFile();
  // Reads every record of the metadata file into the registry and checks the file checksum;
  // returns the number of entries read (0 when the file does not exist or persistence is off).
  // On any failure nothing is added and kxxcp::Exception is thrown:
  //   "metaData file checksum fails checksum test for file:<path>, dataSize : <D>,
  //    calcChecksum : <computed>, storedChecksum : <stored>"
  //   "Cannot read metaData file : <path> (<reason>)"
  //   "metaData file record of <n> bytes is shorter than an element of <m> bytes: <path>"
  //   "metaData file holds the IdRecord (<pid>, <tid>) twice: <path>" (also for a key already
  //   registered)
  std::size_t recoverData();
  // The stored file checksum of the metadata file (0 when it cannot be opened).
  unsigned int getMetaDataFileChecksum();
  std::string metaDataFilePath() const;
  // D = QL_MAX + SID_MAX.
  std::uint32_t metaDataRecordSize() const { return recordSizeM; }
  // The length of one element: 16 + 4 (N + 1) + SID_MAX + 2.
  std::uint32_t metaDataElementSize() const;
  void closeFidFile();

  // --- dumps ------------------------------------------------------------------------------
  void dump(std::ostream& osA) const;
  // "UMBD", entry count (32-bit), A = 4 N (32-bit), per entry personId, transactionId (64-bit)
  // and words 1 .. N. "UMSD": the same with the low 32 bits of the transactionId alone.
  void dumpBinary(std::ostream& osA) const;
  void dumpShortBinary(std::ostream& osA) const;

  // --- state image: one pixel per entry in key order, rows of ceil(sqrt(size)) pixels: 0 not
  // a candidate, 96 labelled, 160 holding a result, 255 highlighted -------------------------
  void resetCurrentStateImage(unsigned int probeA);
  const qrimg::ByteImage& getCurrentStateImage() const;
  void hightlightTopScoreInStateImage(const IdRecordKey& keyA);

 private:
  void checkProbe(unsigned int probeA, const char* functionA) const;
  void writeOneElememt(IdentityMetadata* metadataA);
  void dumpAttributes(std::ostream& osA, bool shortA) const;
  void createFidFileInternal();
  bool openFile(bool logA);
  void labelRange(unsigned int probeA, const CompiledQuery& queryA, std::size_t fromA,
                  std::size_t toA);
  // Called before anything labels entries of the probe without registering a result.
  void markLabelled(unsigned int probeA) {
    sparseM[probeA].store(false, std::memory_order_relaxed);
  }

  unsigned int probesM = 1;
  std::uint64_t maxTransactionIdM = 0;
  std::unique_ptr<std::atomic<IdentityResultContainer*>[]> resultContainersM;
  std::mutex resultContainerMutexM;
  std::vector<int> personMaskM;
  std::vector<char> filterScoresM;
  std::vector<char> dirtyM;
  // Per probe: see sparseCandidates (atomic: threads of one probe acquire results at once).
  std::unique_ptr<std::atomic<bool>[]> sparseM;

  std::string folderM;
  bool persistenceM = false;
  bool createdM = false;
  std::uint32_t qlMaxM = 0;
  std::uint32_t recordSizeM = 0;
  std::unique_ptr<MetadataFile> fileM;

  std::unique_ptr<qrimg::ByteImage> stateImageM;
  unsigned int stateImageProbeM = 0;
};

}  // namespace qridy
