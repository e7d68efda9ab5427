#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/IdRecordKey.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/ThreadStruct.h>
#include <quarlen/Types.h>

namespace qridy {
class IdRecordImp;
class MultipassFileIO;
class QueryLanguage;
class StageMatchEngine_Base;
class TemplateBlockImp;
class UniqueMetadataContainer;
}  // namespace qridy

namespace qrbase {

class TemplateMatcherMultipass;

// The gallery of one matcher: for every biometric triple of a storage definition, the gallery
// parts of the enrolled template blocks, in a memory stage (one per triple, filled when a record
// is added) and/or on disk (gallery files, one set per harddisk id, reloaded on demand into the
// probe slot's own stages). Every record is registered in the unique metadata container, which
// gives it its IdentityMetadata.
//
// Storage definition: the XML file named by section "TEMPLATE_MATCHING_MULTIPASS", key
// "TemplateStorageXml":
//
//   <anyRoot>
//     <storage id="face" reserveNumberOfTemplates="100000" reserveNumberOfReloadedTemplates="10000"
//              folder="/var/gallery" numberOfThreads="1">
//       <memory modality="face" instance="faceFrontal" algorithm="hgmFloat"/>
//       <harddisk id="hd1" sizes="1200,4000">
//         <disk modality="face" instance="faceFrontal" algorithm="hgmFloat"/>
//         <disk modality="face" instance="faceFrontal" algorithm="sta"/>
//       </harddisk>
//     </storage>
//   </anyRoot>
//
// A triple listed under memory and under a harddisk is matched in memory and kept on disk, so that
// recoverGallery can rebuild its memory stage after a restart; a memory-only triple is lost with
// the process. Counts are integers from 1 to 200000000 (absent: the defaults below), sizes from 1
// to 64 MiB, harddisk ids of letters, digits, '_', '-' and '.' (not first).
//
// Durability: addIdRecord writes the record's blob to every harddisk (flushed as one batch of the
// gallery files, see MultipassFileIO) before it commits the identity to the metadata file; a
// record is acknowledged when addIdRecord returns. recoverGallery removes what an interrupted add
// or removal leaves behind (blobs without a committed identity, identities without their blobs).
//
// Threads: no lock. Enrolment, removal, recovery and status must not run while identifications
// do. Identifications of different probe slots may run at once: each uses only its own
// ContainerThreadStruct (reload stages), the memory stages are only read.
//
// Errors are kxxcp::Exception; removal reports through error notifications and its result.
class QUARLEN_EXPORT TemplateMatcherMultipass_TemplateContainer {
 public:
  // Reads the settings ("enableCachingForSelectedCases", "L2fMaxMinutiaCountForGallery",
  // "force4FingersToWatchlist" of section "TEMPLATE_MATCHING_MULTIPASS") and the storage
  // definition. Throws "Cannot open multipass config file : <path>" (missing or malformed file),
  // "Internal object is not null. File parse error." and "Failed to initilaize storage with id =
  // '<id>', check <path>" (no storage of that id, no triples, or a triple with an unknown text),
  // and for values out of range "Invalid storage definition '<id>': <what> '<value>'".
  explicit TemplateMatcherMultipass_TemplateContainer(const std::string& storageIdA);
  // The same with the storage definition at storageXmlPathA.
  TemplateMatcherMultipass_TemplateContainer(const std::string& storageIdA,
                                             const std::string& storageXmlPathA);
  // Logs the destruction steps and frees the reload stages, memory stages and gallery files.
  virtual ~TemplateMatcherMultipass_TemplateContainer();
  TemplateMatcherMultipass_TemplateContainer(const TemplateMatcherMultipass_TemplateContainer&) =
      delete;
  TemplateMatcherMultipass_TemplateContainer& operator=(
      const TemplateMatcherMultipass_TemplateContainer&) = delete;

  // Creates the memory stages, the gallery files (created afresh unless openExistingA) and per
  // probe slot a reload stage per disk-only triple. metadataA (not owned) must outlive the
  // container.
  void init(unsigned int numberOfParallelProbesA, bool openExistingA,
            qridy::UniqueMetadataContainer* metadataA);

  // The triples every added record must carry (set by the pipeline); empty by default.
  void setRequiredTriples(const std::vector<qridy::BioMetricTriple>& triplesA) {
    requiredTriplesM = triplesA;
  }

  // Enrols recordA: registers its key (with queryA and its sId), copies its memory triples'
  // blocks into the memory stages, writes its disk triples' blocks to the gallery files and
  // commits the key. On failure nothing of the record stays in the registry, the stages or the
  // files, and the error is thrown as "TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: ..."
  // (keeping the caught error code, 500 for a record that is already enrolled). matcherA,
  // threadA and the flag are not used by the container.
  void addIdRecord(const qridy::IdRecordImp* recordA, const qridy::QueryLanguage* queryA,
                   const TemplateMatcherMultipass* matcherA, ThreadStruct& threadA, bool flagA);

  // Removes keyA's entries from every memory stage and its blobs from the gallery files (not the
  // registry entry). False, with an error notification, when a part fails.
  virtual bool destroyIdRecord(const qridy::IdRecordKey& keyA);
  // destroyIdRecord for every record of the person found in the stages or files.
  virtual bool destroyIdRecords(unsigned long long personIdA);

  // The gallery of tripleA for probe slot threadIndexA: its memory stage, or the slot's reload
  // stage, filled from the files first unless it is loaded or noReloadA is set. l2f360 and l2fi
  // use the l2f gallery. Throws std::out_of_range for a slot index past the slots and "No
  // storage specified for <triple>" for a triple without storage.
  GalleryEntryData getGalleryTemplates(
      const qridy::BioMetricTriple& tripleA, unsigned int threadIndexA,
      std::map<qridy::Algorithm, std::vector<qridy::StageMatchEngine_Base*>>& enginesA,
      bool noReloadA);
  // The stage getGalleryTemplates reads (same rules).
  TemplateMatcherMultipass_Stage* getTemplateMatcherStage(
      const qridy::BioMetricTriple& tripleA, unsigned int threadIndexA,
      std::map<qridy::Algorithm, std::vector<qridy::StageMatchEngine_Base*>>& enginesA,
      bool noReloadA);
  // Fills the slot's reload stages of tripleA's harddisk from the files (the records selected for
  // the slot when its query uses filter scores, else every record, in file order); returns the
  // number of templates added. Failures are notified and end the reload (the result counts what
  // was added). A reload of selected records switches the files' read-ahead off while it reads,
  // unless "enableCachingForSelectedCases" is set; the switch is shared by all slots, so such
  // reloads must not run at the same time as other reloads of the same harddisk.
  int reloadAndAddToGallery(
      const qridy::BioMetricTriple& tripleA, ContainerThreadStruct& threadA,
      std::map<qridy::Algorithm, std::vector<qridy::StageMatchEngine_Base*>>& enginesA);
  // Empties the slot's reload stages (keeping their memory for the next reload).
  void clearPreloadedStages(unsigned int threadIndexA);

  // A new record (owned by the caller) rebuilt from the gallery files (blocks as stored) and the
  // memory stages (the slot bytes, in their full slot size, for triples that are not on disk);
  // null when neither knows keyA. The flag is not used.
  qridy::IdRecordImp* getIdRecord(const qridy::IdRecordKey& keyA, bool flagA);
  // Templates of tripleA: its memory stage's count, else the records of its harddisk.
  std::size_t numberOfTemplates(const qridy::BioMetricTriple& tripleA) const;
  // The 16-bit ones'-complement sum of every harddisk's multi-file checksum and the metadata
  // file's checksum.
  unsigned int getMasterChecksum();
  // Rebuilds the registry (when empty) from the metadata file and the memory stages from the
  // gallery files, after settling what an interrupted add or removal left. Returns the number of
  // templates pushed into memory stages. Throws what the files and the registry throw.
  int recoverGallery(ThreadStruct& threadA);
  // A report of the gallery's consistency in reportA, deeper with each intensity: 1 counts, 2 the
  // files' checksums, 3 every identity's presence in registry, stages and files, 4 every stored
  // blob against its checksum and contents, 5 every record's checksum. True when nothing was
  // found. An intensity outside 1..5 gives an error element and false.
  bool galleryStatus(int intensityA, std::string& reportA);
  // Whether "<folder>/metaData.dat" exists.
  bool templateCachePresent() const;
  // Writes the files' write caches.
  bool writeToHarddisk();

  const std::string& storageFolder() const { return folderM; }
  void setStorageFolder(const std::string& folderA) { folderM = folderA; }
  qridy::Modality modality() const { return modalityM; }
  const std::string& storageId() const { return storageIdM; }
  unsigned int reserveSpaceForUniqueMetaDataContainer() const { return reserveNumberOfTemplatesM; }
  unsigned int reserveNumberOfTemplates() const { return reserveNumberOfTemplatesM; }
  unsigned int reserveNumberOfReloadedTemplates() const {
    return reserveNumberOfReloadedTemplatesM;
  }
  unsigned int numberOfThreads() const { return numberOfThreadsM; }
  const std::map<qridy::BioMetricTriple, std::string>& memoryTriples() const {
    return memoryTriplesM;
  }
  const std::map<qridy::BioMetricTriple, std::string>& diskTriples() const { return diskTriplesM; }
  const std::map<std::string, std::vector<unsigned int>>& harddiskSizes() const {
    return harddiskSizesM;
  }
  // The gallery files of a harddisk id (null when unknown); owned by the container.
  qridy::MultipassFileIO* fidFile(const std::string& harddiskIdA) const;
  // The memory stage of a triple (null when none); owned by the container.
  TemplateMatcherMultipass_Stage* memoryStage(const qridy::BioMetricTriple& tripleA) const {
    return getStage(stagesM, tripleA);
  }
  std::size_t numberOfThreadSlots() const { return threadStructsM.size(); }
  void dump(std::ostream& osA) const;

  static TemplateMatcherMultipass_Stage* getStage(
      const std::map<qridy::BioMetricTriple, TemplateMatcherMultipass_Stage*>& stagesA,
      const qridy::BioMetricTriple& tripleA);
  static TemplateMatcherMultipass_Stage* getStage(
      const std::map<qridy::BioMetricTriple, ReloadStagesStruct>& stagesA,
      const qridy::BioMetricTriple& tripleA);

  // The blob of one record for one harddisk: count, then per entry modality, instance,
  // algorithm (32-bit), sample id low and high half (64-bit) and the block's gallery form.
  // Throws "addTemplateBlocksToDisk - internal size error." for lists of different lengths.
  static std::string recordBlob(const std::vector<qridy::BioMetricTriple>& triplesA,
                                const std::vector<const qridy::TemplateBlockImp*>& blocksA,
                                const std::vector<KXuint128>& sampleIdsA);

 private:
  void readStorage(const std::string& pathA);
  void readSettings();
  qridy::IdRecordImp* prepareRecord(const qridy::IdRecordImp& recordA,
                                    std::unique_ptr<qridy::IdRecordImp>& copyA) const;
  void addToMemoryStages(const qridy::IdRecordImp& recordA, const qridy::IdentityMetadata* metaA);
  void addTemplateBlocksToDisk(const qridy::IdRecordImp& recordA,
                               const qridy::IdentityMetadata& metaA,
                               std::vector<std::string>& writtenA);
  void rollBack(const qridy::IdRecordKey& keyA, bool keyAddedA,
                const std::vector<std::string>& writtenA);
  // Replaces the gallery files of a harddisk by a fresh object on the same files (dropping a
  // write cache that could not be written).
  void reopenFidFile(const std::string& harddiskIdA);
  std::unique_ptr<qridy::MultipassFileIO> makeFidFile(const std::string& harddiskIdA) const;
  void settleInterruptedChanges();

  std::string storageIdM;
  std::string storagePathM;
  unsigned int reserveNumberOfTemplatesM = 100000;
  unsigned int reserveNumberOfReloadedTemplatesM = 10000;
  unsigned int numberOfThreadsM = 1;
  qridy::Modality modalityM = qridy::ModalityUnknown;
  std::string folderM = "c:\\temp";
  std::map<qridy::BioMetricTriple, std::string> memoryTriplesM;
  std::map<qridy::BioMetricTriple, std::string> diskTriplesM;
  std::map<std::string, std::vector<unsigned int>> harddiskSizesM;
  std::map<std::string, std::unique_ptr<qridy::MultipassFileIO>> fidFilesM;
  std::map<qridy::BioMetricTriple, TemplateMatcherMultipass_Stage*> stagesM;  // owned
  std::vector<ContainerThreadStruct> threadStructsM;
  qridy::UniqueMetadataContainer* metadataM = nullptr;
  std::vector<qridy::BioMetricTriple> requiredTriplesM;
  bool enableCachingForSelectedCasesM = false;
  int l2fMaxMinutiaCountForGalleryM = -1;
  bool force4FingersToWatchlistM = false;
};

}  // namespace qrbase
