#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/IdRecordKey.h>
#include <quarlen/MultipassConfig.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/ThreadStruct.h>
#include <quarlen/Types.h>

namespace qridy {
class IdRecordImp;
class MultipassFileIO;
class ResultTreeList;
class StageMatchEngine_Base;
class UniqueMetadataContainer;
}  // namespace qridy

namespace qrbase {

class TemplateMatcherMultipass_Pipeline;
class ShardExchange;
class TemplateMatcherMultipass_Stage;
class TemplateMatcherMultipass_TemplateContainer;

// The 1:N identification engine: a gallery (memory stages and gallery files, see
// TemplateMatcherMultipass_TemplateContainer), the registry of its identities
// (qridy::UniqueMetadataContainer) and one matching pipeline of passes.
//
// Life: construct -> init (probe slots, gallery, registry; optionally recovered from the gallery
// folder) -> addMatchingPipeline (once) -> any mix of addIdRecord, destroyIdRecord...,
// identifyTransaction and verify -> destroy.
//
// Configuration: the system configuration (kxutl::QuarlenInformation) names the storage XML
// ("TEMPLATE_MATCHING_MULTIPASS"/"TemplateStorageXml"), the pipeline XML
// ("TEMPLATE_MATCHING_MULTIPASS"/"XmlFile") and the number of probe slots
// ("TEMPLATE_MATCHING_MULTIPASS"/"maxNumberOfParallelProbes").
//
// Threads: probe slots are the unit of concurrency. Up to getMaxNumberOfParallelProbes() caller
// threads may identify at once, each on its own slot index; each identification adds its own
// worker threads. The matcher takes no lock: enrolment, removal, recovery and clearing must not
// run while identifications are in progress (the caller serialises them).
//
// Errors: kxxcp::Exception with the messages given below; removal reports through error
// notifications and its result.
class QUARLEN_EXPORT TemplateMatcherMultipass {
 public:
  // metadataA (not owned, may be null) replaces the registry the matcher would make itself.
  explicit TemplateMatcherMultipass(qridy::UniqueMetadataContainer* metadataA = nullptr);
  virtual ~TemplateMatcherMultipass();
  TemplateMatcherMultipass(const TemplateMatcherMultipass&) = delete;
  TemplateMatcherMultipass& operator=(const TemplateMatcherMultipass&) = delete;

  // Makes the probe slots ("maxNumberOfParallelProbes", 1 to 1024) and, with a storage id, the
  // gallery container (templateDataFolderA, when given, becomes its folder) and the registry
  // (unless one was supplied). With recoverA the gallery is rebuilt from "<folder>/metaData.dat"
  // and the gallery files; a folder without it fails with "Failed to recover gallery, no cache
  // found." (error code 515). Every failure leaves as "\nkxxcp caught: <message>" (the caught
  // code kept; "\nstd::exc caught: ", "\nint exc caught: ", "\nunknown exc caught." with code
  // 0) and leaves the matcher as it was; a second init throws "TemplateMatcherMultipass is
  // already initialized.". valueA is not used.
  void init(const char* storageIdA, const char* templateDataFolderA, unsigned int valueA,
            bool recoverA);
  // Reads section pipelineIdA of the pipeline XML ("XmlFile"), makes the pipeline and registers
  // the triples of its stages and their match engines (nThreads per slot) in every slot; without
  // a registry it makes one of the first stage's modality. The section is checked before
  // anything changes: "kxxcp exc caught:<reading error>", "No passes are configured in section :
  // <id>.", "Specify the same modality form all stages (section:<id>).First modality is <text>.
  // Current modality (<i>) is <text>", "nThreads of stage <i> must be from 1 to 1024: '<n>'";
  // then what the pipeline factory throws. Once only: "A matching pipeline was already added
  // (section : <id>)."; before init: "failed to addMatchingPipeline, not initialized".
  void addMatchingPipeline(const std::string& pipelineIdA);

  // Enrols a record (one template per instance): "failed to addIdRecord, not initialize",
  // "Failed to add IdRecord: IdRecords with multiple samples per instance are not supported."
  // (code 1), else what the gallery container throws. flagA is handed to the container.
  void addIdRecord(const qridy::IdRecordImp* recordA, const qridy::QueryLanguage* queryA,
                   bool flagA);
  // Removes one record (registry and gallery); false, with an error notification, on failure.
  virtual bool destroyIdRecord(const qridy::IdRecordKey& keyA);
  // Removes every record of a person; false when one removal failed.
  virtual bool destroyIdRecords(unsigned long long personIdA);
  // Removes every record the query selects; returns how many were removed. queryA must be a
  // terminated query (see QueryLanguage); a query from outside goes through the counted form,
  // which validates its countA words first (QueryLanguage::validateQuery's messages).
  std::size_t destroyIdRecordsByQueryLanguage(const unsigned int* queryA);
  std::size_t destroyIdRecordsByQueryLanguage(const unsigned int* queryA, std::size_t countA);

  // Identifies probeA on probe slot threadIndexA into resultsA (replaced). descriptorA (may be
  // null) narrows the candidates. Throws "Probe IdRecords with multiple samples per instance are
  // not supported." (code 1), "Given thread index is greater than number of specified threads
  // (given/max) = (<i>/<slots - 1>)", "Cannot perform identification (no pipeline was added).".
  void identifyTransaction(const qridy::IdRecordImp* probeA, unsigned int threadIndexA,
                           qridy::ResultTreeList& resultsA,
                           qridy::ProbeDescriptor* descriptorA = nullptr);
  // Several iris probes in one run of the passes; one result list per probe.
  void identifyProbeBundle(const std::vector<const qridy::IdRecordImp*>& probesA,
                           unsigned int threadIndexA, std::vector<qridy::ResultTreeList>& resultsA,
                           qridy::ProbeDescriptor* descriptorA = nullptr);
  // 1:1: the fused score of probeA against galleryA over the stages of configA (null: the
  // pipeline's), as a result for galleryA's key.
  qridy::ResultIdRecord verify(const qridy::IdRecordImp* probeA, const qridy::IdRecordImp* galleryA,
                               const MultipassConfig* configA = nullptr);

  // Query processing on a slot, forwarded to the registry: the records queryA selects become the
  // slot's candidates. Throws "Given thread index > than number of specified threads (given/max)
  // = (<i>/<slots>)". queryA must be terminated; the counted form validates countA words first.
  void processQueryLanguage(unsigned int threadIndexA, const unsigned int* queryA,
                            qridy::QueryFilterMode modeA);
  void processQueryLanguage(unsigned int threadIndexA, const unsigned int* queryA,
                            std::size_t countA, qridy::QueryFilterMode modeA);
  void resetQueryLanguageAndIdentityResult(unsigned int threadIndexA, bool selectedA);

  // --- queries ---
  MultipassConfig getMultipassConfig() const;
  const std::string& getConfigId() const { return configIdM; }
  qridy::UniqueMetadataContainer* getUniqueMetadataContainer() const { return metadataM; }
  unsigned int getMaxNumberOfParallelProbes() const {
    return static_cast<unsigned int>(threadStructsM.size());
  }
  std::size_t numberOfPersons() const;
  std::size_t numberOfIdRecords() const;
  std::size_t numberOfTemplates(qridy::Modality modalityA, qridy::Instance instanceA,
                                qridy::Algorithm algorithmA) const;
  bool exists(const qridy::IdRecordKey& keyA) const;
  bool exists(unsigned long long personIdA) const;
  // A new record (owned by the caller) rebuilt from the gallery; null when the key is unknown.
  qridy::IdRecordImp* getIdRecord(const qridy::IdRecordKey& keyA, bool flagA) const;
  // The query-language record of a key (null when unknown).
  const qridy::QueryLanguage* getQueryLanguageData(const qridy::IdRecordKey& keyA) const;
  unsigned int getMasterChecksum();
  bool galleryStatus(int intensityA, std::string& reportA);
  // Rebuilds registry and memory stages from the gallery folder; returns the templates pushed.
  int recoverGallery();
  bool clearTemplateDataFolder();
  const std::string& getTemplateDataFolder() const { return templateDataFolderM; }
  void setTemplateDataFolder(const std::string& folderA) { templateDataFolderM = folderA; }
  // Forgets every record (registry, stages and gallery files).
  void clear();
  void dump(std::ostream& osA) const;
  void dumpBinary(std::ostream& osA) const;
  void dumpShortBinary(std::ostream& osA) const;
  void info(std::ostream& osA) const;

  // --- performance logging ---
  void setPerflogFilename(const std::string& nameA);
  void setPerflogNumberOfMaxThreadsPerProbe(int capA);

  // --- sharded galleries ---
  // Makes this matcher's gallery one shard of several: every pass of an identification counts
  // and cuts its candidates over all shards through exchangeA (not owned; null: the gallery is
  // whole). Applies to the pipeline added before or after.
  void setShardExchange(ShardExchange* exchangeA);

  // The probe slots (index, score mapping, engines, performance records).
  const std::vector<ThreadStruct>& probeSlots() const { return threadStructsM; }
  TemplateMatcherMultipass_TemplateContainer* getTemplateContainer() const { return containerM; }
  const TemplateMatcherMultipass_Pipeline* getPipeline() const { return pipelineM; }

  // One removal job for a worker thread: keyA's entry from one memory stage and its blob from
  // one set of gallery files (either may be null; a stage without an entry of the key is left
  // alone). Jobs on different stages and different files may run at the same time; the caller
  // removes the key from the registry first (see destroyIdRecord).
  struct ThreadData {
    TemplateMatcherMultipass_Stage* stage = nullptr;  // not owned
    qridy::MultipassFileIO* fidFile = nullptr;        // not owned
    qridy::IdRecordKey key;
    bool ok = false;    // the job's result
    std::string error;  // what failed ("" when ok)
  };
  // Runs one removal job; never throws (failures go to dataA.ok and dataA.error).
  static void deleteThreadFcn(ThreadData& dataA);

  // The engines of algorithmA of a slot (one per worker thread).
  static std::vector<qridy::StageMatchEngine_Base*>& getSharedMatchEngines(
      qridy::Algorithm algorithmA, ThreadStruct& threadA);
  // ((instance << 16) + modality) << 32, plus algorithm.
  static std::uint64_t calculateHashKey(qridy::Modality modalityA, qridy::Instance instanceA,
                                        qridy::Algorithm algorithmA);

 private:
  void createSharedMatchEngines(qridy::Modality modalityA, qridy::Instance instanceA,
                                qridy::Algorithm algorithmA, unsigned int countA);
  void identifyTransactionPrivate(const qridy::IdRecordImp* probeA, unsigned int threadIndexA,
                                  qridy::ResultTreeList& resultsA,
                                  qridy::ProbeDescriptor* descriptorA);
  void checkQueryThreadIndex(unsigned int threadIndexA, const char* functionA) const;
  unsigned int queryThreadCount() const;

  TemplateMatcherMultipass_Pipeline* pipelineM = nullptr;  // owned
  std::string configIdM;
  int perflogMaxThreadsPerProbeM = -1;
  std::string templateDataFolderM;
  qridy::UniqueMetadataContainer* metadataM = nullptr;
  bool ownsMetadataM = true;
  std::string reservedM;
  TemplateMatcherMultipass_TemplateContainer* containerM = nullptr;  // owned
  std::vector<ThreadStruct> threadStructsM;
  qridy::ProbeDescriptor scratchDescriptorM;
  ShardExchange* shardExchangeM = nullptr;
};

}  // namespace qrbase
