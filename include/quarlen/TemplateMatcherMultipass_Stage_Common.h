#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/MultipassConfig.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/Types.h>

namespace qridy {
class IdentityMetadata;
class StageMatchEngine_Base;
class TemplateBlockImp;
class UniqueMetadataContainer;
}  // namespace qridy

namespace qrbase {

class ShardExchange;

// What the pipeline hands to a stage identifier for one call.
struct MatchConfigData {
  qridy::UniqueMetadataContainer* uniqueMetadataContainer = nullptr;  // not owned; required
  void* pipeline = nullptr;                                           // not read by the stages
  std::string text;
  bool doMissAnalysis = false;                             // the configuration's miss-analysis flag
  int callValue = 0;                                       // not read by the stages
  const MultipassConfig::Matchmode* matchmode = nullptr;   // the stage's settings; required
  int processing = MultipassConfig::ProcessingSequential;  // 0 parallel, 1 sequential, 2 filtering
  bool singleInstance = false;  // read by the fingerprint identifier only
  bool reserved = false;
  // Where the miss-analysis element of the pass goes (doMissAnalysis set); null writes nothing.
  std::ostream* missAnalysisStream = nullptr;
  // Set when the gallery is one shard of several: the pass counts and cuts over all shards.
  ShardExchange* shardExchange = nullptr;
};

// One scored candidate of the common identifier (16 bytes).
using NormalisationResult = LocalFloatResult;

// One pass of identification: one probe template block against the gallery entries of one
// biometric triple, on one worker thread per engine, keeping the best K candidates.
//
// Survival is recorded in the unique metadata container: without a person mask every kept
// candidate's score goes into its identity result of the probe slot; with a person mask the
// candidates that were not kept are deselected for the probe slot.
//
// Scores: larger is better. An engine score that is NaN is never kept; +infinity counts as the
// best score. The gallery's slot size is what the engines are told to read; the memory stages'
// slots are padded to 16 bytes, which is all the engines read past a template.
//
// Threads: calls for different probe slots may run at once on one identifier; everything a call
// changes is local or indexed by its probe slot. One call uses engines.size() workers of a core
// thread pool made for the call; each worker uses its own engine and writes only its own
// slice. Several samples of one identity in the gallery of a person-mask pass are scored by
// whichever workers hold them; only the deselection of such an identity is not ordered.
//
// Errors: kxxcp::Exception (code -1); identifyTemplate wraps what it catches (see there).
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_Common {
 public:
  // Reads "useThreadAffinity" and "maxAlgorithmMatchCount" (section
  // "TEMPLATE_MATCHING_MULTIPASS").
  TemplateMatcherMultipass_Stage_Common(qridy::Modality modalityA, qridy::Instance instanceA,
                                        qridy::Algorithm algorithmA);
  virtual ~TemplateMatcherMultipass_Stage_Common();
  TemplateMatcherMultipass_Stage_Common(const TemplateMatcherMultipass_Stage_Common&) = delete;
  TemplateMatcherMultipass_Stage_Common& operator=(const TemplateMatcherMultipass_Stage_Common&) =
      delete;

  // No effect.
  virtual void init(const char* parameterA, const unsigned& valueA);

  // Scores probeA against every entry of galleryA with enginesA (one worker per engine, each
  // engine of the stage's algorithm) for probe slot probeSlotA and records the survivors.
  // A null probe or a probe without probe data gives an error notification and no result.
  // Failures (engines, a probe of another algorithm: "probePtrA has not the configured
  // algorithm", an empty engine list: "No match engines for the stage.", a person-mask value
  // other than -1, 0, 1: "Unsupported person mask enum value.") are thrown as
  // "Catched kxxcp::Exception: ( <message> )" or "Catched unknown exception ( <algorithm> )".
  // matchingSecondsA receives the time of the threaded scoring, normalisationSecondsA 0.
  virtual void identifyTemplate(const qridy::TemplateBlockImp* probeA,
                                const GalleryEntryData& galleryA,
                                std::vector<qridy::IdentityMetadata*>& metadataA,
                                unsigned int probeSlotA,
                                std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                                MatchConfigData& configA, float& matchingSecondsA,
                                float& normalisationSecondsA);

  // Several iris probes in one pass (the stage's modality must be iris): every probe is scored
  // against every entry and the best K of each probe are recorded as by identifyTemplate.
  // Throws "This matcher is not for modality : <text>", "This matcher is not for algorithm :
  // <text>" and "Unexpected, NULL pointer in incomming Probe bundle". With useThreadAffinity
  // worker i pins itself to processor i mod 32 (a failure is written to standard error).
  virtual void identifyTemplateBundle(const std::vector<const qridy::TemplateBlockImp*>& probesA,
                                      const GalleryEntryData& galleryA, unsigned int probeSlotA,
                                      std::vector<std::vector<NormalisationResult>>& resultsA,
                                      std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                                      MatchConfigData& configA);

  // The score of probeA against galleryA with engine 0. Throws "probePtrA has not the configured
  // algorithm", "galleryPtrA has not the configured algorithm" (daugman2010 takes any
  // algorithm), "Gallery sata size of given gallery template is NULL", "Probe data size of given
  // probe template is NULL", and "No match engines for the stage." for an empty engine list.
  virtual float verify(const qridy::TemplateBlockImp* probeA,
                       const qridy::TemplateBlockImp* galleryA,
                       std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                       MatchConfigData& configA);

  // The identifier class for a stage (see PipelineFactory::createIdentifier); caller owns it.
  static TemplateMatcherMultipass_Stage_Common* createIdentifier(
      const MultipassConfig::Matchmode& matchmodeA);

  // The candidate count K of a pass that compared comparedA candidates of a gallery of
  // uniqueRecordsA identities (see the implementation for the rules).
  static std::size_t candidateCount(const MultipassConfig::Matchmode& matchmodeA,
                                    std::size_t comparedA, std::size_t uniqueRecordsA,
                                    int processingA);
  // The largest count candidateCount can give for these settings: resultLengthMax, ten times that
  // in parallel processing.
  static std::size_t candidateBound(const MultipassConfig::Matchmode& matchmodeA, int processingA);

  // Partitions [firstA, lastA) around the median of the first, middle and last scores: results
  // with score > pivot first, then those equal to it, then the rest. Returns the pivot and the
  // counts above-or-equal, equal and below.
  static float divide(NormalisationResult* firstA, NormalisationResult* lastA,
                      std::size_t& aboveOrEqualA, std::size_t& equalA, std::size_t& belowA);
  // The threshold score of the best kA of nA results (reordered): thresholdA, the number equal
  // to it (equalA) and the number at or above it (aboveOrEqualA); see qrcommon::searchThreshold
  // for the degenerate requests. false when it did not converge.
  static bool searchThreshold(NormalisationResult* resultsA, std::size_t nA, std::size_t kA,
                              float& thresholdA, std::size_t& equalA, std::size_t& aboveOrEqualA);
  // Marks in keepA (one flag per result, in array order) the best kA of the nA results: every
  // result above the threshold and the first of those equal to it. Returns the number kept
  // (min(kA, number of non-NaN results)). resultsA is not reordered.
  static std::size_t selectBest(const NormalisationResult* resultsA, std::size_t nA, std::size_t kA,
                                std::vector<unsigned char>& keepA);

  qridy::Modality modality() const { return modalityM; }
  qridy::Instance instance() const { return instanceM; }
  qridy::Algorithm algorithm() const { return algorithmM; }
  bool useThreadAffinity() const { return useThreadAffinityM; }
  unsigned int maxAlgorithmMatchCount() const { return maxAlgorithmMatchCountM; }
  // Selection counts kept for the pipeline, which sets them; the passes leave them alone (calls of
  // different probe slots run at once).
  unsigned int getNumberOfCurrentSelBeforeIdentify() const { return selBeforeM; }
  unsigned int getNumberOfCurrentSelAfterIdentify() const { return selAfterM; }
  void setNumberOfCurrentSelBeforeIdentify(unsigned int valueA) { selBeforeM = valueA; }
  void setNumberOfCurrentSelAfterIdentify(unsigned int valueA) { selAfterM = valueA; }

 protected:
  // For mvxIris2PiSdk and daugman2010 with a non-empty additionalParameters text (an INI text):
  // section "Additional", key "searchMode" must be 8 ("Additional parameter 'searchMode' has
  // invalid value (should be 8).") and sets engine parameter 4 to 8; "superFastAngleToleranceMode"
  // sets engine parameter 5 on every engine.
  void loadAdditionalParametersFromConfigFile(std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                                              const MatchConfigData& configA);
  bool isIrisAlgorithm() const;
  // The checks of a pass's arguments before it starts. Without engines it throws "No match
  // engines for the stage."; a null probe gives false after the error notification "Incomming
  // probe is null"; a probe of another algorithm throws "probePtrA has not the configured
  // algorithm" unless anyAlgorithmA. functionA names the pass in both.
  bool checkProbe(const qridy::TemplateBlockImp* probeA,
                  const std::vector<qridy::StageMatchEngine_Base*>& enginesA, const char* functionA,
                  bool anyAlgorithmA = false) const;
  // False, after the error notification "Failed to extraxt probedata from given probe", when the
  // probe gave no data to match.
  bool checkProbeData(const unsigned char* dataA, unsigned int sizeA, const char* functionA) const;
  // The "<modality> <instance> <algorithm> [ <function>@<line>" suffix of notifications.
  std::string notificationSuffix(const char* functionA, int lineA) const;

  qridy::Modality modalityM;
  qridy::Instance instanceM;
  qridy::Algorithm algorithmM;
  bool useThreadAffinityM = false;
  unsigned int selBeforeM = 0;
  unsigned int selAfterM = 0;
  std::vector<unsigned int> unusedM;
  unsigned int maxAlgorithmMatchCountM = 0;
};

}  // namespace qrbase
