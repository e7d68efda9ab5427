#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <quarlen/MultipassConfig.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/ThreadStruct.h>
#include <quarlen/Types.h>

namespace qridy {
class IdRecordImp;
class ProbeDescriptor;
class ResultTreeList;
class TemplateBlockImp;
class UniqueMetadataContainer;
}  // namespace qridy

namespace qrbase {

class ShardExchange;

class TemplateMatcherMultipass_Stage_Common;
class TemplateMatcherMultipass_TemplateContainer;

// Runs one probe record through the configured passes of one pipeline and fuses what they
// recorded into a sorted result list. Made by PipelineFactory::createPipeline, configured once
// with setConfig, owned by the matcher.
//
// Threads: identifications of different probe slots may run at once; everything they change is
// indexed by the slot (person mask, identity results, reload stages, the slot's ThreadStruct).
// The configuration and the identifiers are only read while identifying.
//
// Errors: kxxcp::Exception.
class QUARLEN_EXPORT TemplateMatcherMultipass_Pipeline {
 public:
  // All bits set: query filtering takes the first stage's thread count unchanged.
  static constexpr unsigned int kNoThreadCap = ~0u;

  TemplateMatcherMultipass_Pipeline(const std::string& pipelineIdA, const MultipassConfig& configA,
                                    const std::string& settingsA);
  virtual ~TemplateMatcherMultipass_Pipeline();
  TemplateMatcherMultipass_Pipeline(const TemplateMatcherMultipass_Pipeline&) = delete;
  TemplateMatcherMultipass_Pipeline& operator=(const TemplateMatcherMultipass_Pipeline&) = delete;

  // Copies configA and makes one identifier per stage (createIdentifier, then init(nullptr, 0)),
  // filed under the stage's triple (a later stage of the same triple replaces the earlier
  // identifier). The identifiers of a previous configuration are deleted.
  virtual void setConfig(const MultipassConfig& configA);

  // Identifies probeA on the slot of threadA (see the implementations).
  virtual void identifyTransactionPrivate(const qridy::IdRecordImp* probeA, ThreadStruct& threadA,
                                          qridy::ProbeDescriptor* descriptorA,
                                          TemplateMatcherMultipass_TemplateContainer* containerA,
                                          qridy::UniqueMetadataContainer* metadataA,
                                          qridy::ResultTreeList& resultsA) = 0;

  // Several probes in one run of the passes, one result list per probe (resultsA is resized).
  // Here: throws "Not supported for this pipeline".
  virtual void identifyProbeBundle(const std::vector<const qridy::IdRecordImp*>& probesA,
                                   ThreadStruct& threadA, qridy::ProbeDescriptor* descriptorA,
                                   TemplateMatcherMultipass_TemplateContainer* containerA,
                                   qridy::UniqueMetadataContainer* metadataA,
                                   std::vector<qridy::ResultTreeList>& resultsA);

  // One pass: stage stageIndexA of the configuration with probe block probeA on the slot of
  // threadA. Errors inside the pass are reported and end the pass, not the identification.
  virtual void performStage(const qridy::TemplateBlockImp* probeA, std::size_t stageIndexA,
                            ThreadStruct& threadA,
                            TemplateMatcherMultipass_TemplateContainer* containerA,
                            qridy::UniqueMetadataContainer* metadataA) = 0;

  // The result list of the slot from the state the passes left in the metadata container. Here:
  // createNewResultListFromIdentityResultContainer.
  virtual void createNewResultListFromUniqueMetaDataState(ThreadStruct& threadA,
                                                          qridy::UniqueMetadataContainer* metadataA,
                                                          qridy::ResultTreeList& resultsA);
  // The result list from the slot's identity results: one ResultIdRecord per record with at
  // least one usable score, scores per stage fused with the stage's weight and normalisation
  // and the slot's score mapping; sorted and cut to the records placed.
  virtual void createNewResultListFromIdentityResultContainer(
      ThreadStruct& threadA, qridy::UniqueMetadataContainer* metadataA,
      qridy::ResultTreeList& resultsA);

  const std::string& pipelineId() const { return pipelineIdM; }
  const std::string& settings() const { return settingsM; }
  const MultipassConfig& config() const { return configM; }
  // The identifier of a triple; throws "This stage not specified." when none is configured.
  TemplateMatcherMultipass_Stage_Common* getIdentifier(const qridy::BioMetricTriple& tripleA) const;
  const std::map<qridy::BioMetricTriple, TemplateMatcherMultipass_Stage_Common*>& identifiers()
      const {
    return identifiersM;
  }
  // The performance file of a slot: "$TOLM_COMMON_DIR/logs/kvt.matchingPerformance.<modality
  // text>.<process id>.<slot's log name>_p0<slot>.xml"; empty (nothing is written) while
  // TOLM_COMMON_DIR is not set or the slot has no log name.
  static std::string performanceLogPath(const ThreadStruct& threadA,
                                        const std::string& modalityTextA);
  // The thread cap of query filtering (kNoThreadCap: none).
  void setMaxThreadsPerProbe(unsigned int capA) { maxThreadsPerProbeM = capA; }
  unsigned int maxThreadsPerProbe() const { return maxThreadsPerProbeM; }
  // The link to the other shards when this pipeline's gallery is one shard of several (not owned;
  // null: the gallery is whole). Every pass then counts and cuts over all shards.
  void setShardExchange(ShardExchange* exchangeA) { shardExchangeM = exchangeA; }
  ShardExchange* shardExchange() const { return shardExchangeM; }

 protected:
  // Step 2 of an identification, shared by the pipelines: the candidate set of the slot from the
  // descriptor (query, person list, transaction list; none: no person mask), timed into the
  // slot's query-filtering performance record.
  void selectCandidates(ThreadStruct& threadA, const qridy::ProbeDescriptor* descriptorA,
                        qridy::UniqueMetadataContainer* metadataA);
  // Step 1 of an identification, shared by the pipelines: checks the arguments ("No stages are
  // configured in this pipeline", "Probe, container or metadata container is NULL"), empties the
  // slot's reload stages and results, switches filter scores off and readies the slot's records
  // for this configuration.
  void prepareSlot(const qridy::IdRecordImp* probeA, ThreadStruct& threadA,
                   TemplateMatcherMultipass_TemplateContainer* containerA,
                   qridy::UniqueMetadataContainer* metadataA, const char* functionA);
  // Step 3 of an identification, shared by the pipelines: each configured pass whose probe block
  // is there (blocksA: one per stage, null where the probe has none, which debug level 3 logs as
  // "\t - no probe block for <modality> <instance> <algorithm>"), in configuration order, through
  // performStage.
  void performStages(const std::vector<const qridy::TemplateBlockImp*>& blocksA,
                     ThreadStruct& threadA, TemplateMatcherMultipass_TemplateContainer* containerA,
                     qridy::UniqueMetadataContainer* metadataA);
  // The last steps of an identification, shared by the pipelines: the miss analysis (step "miss
  // analysis results") and the performance log (step "calc performance output"); stepA holds the
  // step under way, for the caller's error.
  void finishIdentification(const qridy::IdRecordImp& probeA, ThreadStruct& threadA,
                            qridy::ResultTreeList& resultsA, std::string& stepA);
  // With miss analysis on: the slot's collected pass elements, wrapped for the probe's person, as
  // the result list's miss-analysis text.
  void attachMissAnalysis(const qridy::IdRecordImp& probeA, const ThreadStruct& threadA,
                          qridy::ResultTreeList& resultsA) const;
  // Writes the slot's performance records (query filtering, each stage, and their sum "Overall")
  // to the slot's performance file, replacing it; nothing without a path.
  void writePerformanceLog(ThreadStruct& threadA, const std::string& modalityTextA) const;

  std::string pipelineIdM;
  std::string settingsM;
  unsigned int maxThreadsPerProbeM = kNoThreadCap;
  ShardExchange* shardExchangeM = nullptr;
  MultipassConfig configM;
  int counterM = 3;
  std::map<qridy::BioMetricTriple, TemplateMatcherMultipass_Stage_Common*> identifiersM;  // owned
};

}  // namespace qrbase
