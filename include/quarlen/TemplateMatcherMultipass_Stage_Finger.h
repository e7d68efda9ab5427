#pragma once

#include <cstddef>
#include <vector>

#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

namespace qrbase {

// One scored candidate of the fingerprint identifier: the score, the entry and its identity.
struct NormalisationResultSimple {
  float score = 0.0f;
  const GalleryEntry* entry = nullptr;
  const qridy::IdentityMetadata* metadata = nullptr;
};

// The identifier of the fingerprint stages (l1b, l2f, l2m, l1v, l2v, l2f360, fva, l2fi).
//
// A fingerprint search runs one pass per finger and algorithm, and an identity collects the
// scores of its fingers in its identity result of the probe slot (or, in filter mode, in the
// filter score of its state word). A pass therefore either records every score it computes (the
// real-score and filter-score workers, no candidate list) or, for a search over one finger
// (MatchConfigData::singleInstance), keeps the best candidates with the running threshold of the
// common identifier. The worker of a pass follows from five settings (chooseWorker).
//
// Match limits ("maxL2fMatchCount", "maxL2f360MatchCount", "maxL2fiMatchCount" and
// "maxL2mMatchCount", section "TEMPLATE_MATCHING_MULTIPASS", read at construction) bound how
// many templates of an identity the gated workers compare for l2f, l2f360, l2fi and l2m; other
// algorithms use "maxAlgorithmMatchCount". A limit that is absent or not above 0 means no limit.
//
// Threads, errors and scores as for the common identifier.
class QUARLEN_EXPORT TemplateMatcherMultipass_Stage_Finger
    : public TemplateMatcherMultipass_Stage_Common {
 public:
  // The workers of a pass, in the order of the worker table.
  enum Worker : int {
    FingerUsePersonMask = 0,
    Finger2_SingleInstance,
    Finger2_FilterScores,
    Finger2_RealScores,
    Finger2_SingleInstance_PM,
    Finger2_SingleInstance_PMF,
    Finger2_FilterScores_PMF,
    Finger2_RealScores_PMF,
    Finger2_RealScores_PM,
  };

  // The filter-selected level a gated filter pass requires, and the level its survivors get.
  static constexpr int kRequiredFilterLevel = 1;

  TemplateMatcherMultipass_Stage_Finger(qridy::Modality modalityA, qridy::Instance instanceA,
                                        qridy::Algorithm algorithmA);
  ~TemplateMatcherMultipass_Stage_Finger() override;

  // One pass (see the class comment and the implementation for each worker's rule). The
  // candidate count is K = min(resultLengthMax, max(resultLengthMin, global share of the
  // unique identities)); when the pass leaves at most K results, all stay. Failures are wrapped
  // as by the common identifier. matchingSecondsA receives the scoring time.
  void identifyTemplate(const qridy::TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
                        std::vector<qridy::IdentityMetadata*>& metadataA, unsigned int probeSlotA,
                        std::vector<qridy::StageMatchEngine_Base*>& enginesA,
                        MatchConfigData& configA, float& matchingSecondsA,
                        float& normalisationSecondsA) override;

  // The common checks, and also "probePtrA is not compatible with the configured algorithm" /
  // "galleryPtrA is not compatible with the configured algorithm" for a block engine 0 cannot
  // read. An l2fi probe without probe part is compared by its gallery part.
  float verify(const qridy::TemplateBlockImp* probeA, const qridy::TemplateBlockImp* galleryA,
               std::vector<qridy::StageMatchEngine_Base*>& enginesA,
               MatchConfigData& configA) override;

  // The worker for a pass: miss analysis on, a person mask on the slot (usePersonMask not
  // negative), a single-instance search, the stage's filterScore, the slot's filter scores.
  static Worker chooseWorker(bool missAnalysisA, bool personMaskA, bool singleInstanceA,
                             bool stageFilterScoreA, bool slotFilterScoresA);
  // "matchThreadMultiFcn_" followed by the worker's name.
  static const char* workerName(Worker workerA);

  // The candidate count of a pass over a gallery of uniqueRecordsA identities.
  static std::size_t fingerCandidateCount(const MultipassConfig::Matchmode& matchmodeA,
                                          std::size_t uniqueRecordsA);

  // The threshold of the best kA of nA results (reordered), as searchThreshold of the common
  // identifier; the notification of a search that does not converge is "SearchThresholdSimple
  // not converged!".
  static bool searchThreshold(NormalisationResultSimple* resultsA, std::size_t nA, std::size_t kA,
                              float& thresholdA, std::size_t& equalA, std::size_t& aboveOrEqualA);

  // The match limit of the stage's algorithm (see the class comment); 0 means none.
  int matchLimit() const { return matchLimitM; }
  int maxL2fMatchCount() const { return maxL2fM; }
  int maxL2f360MatchCount() const { return maxL2f360M; }
  int maxL2fiMatchCount() const { return maxL2fiM; }
  int maxL2mMatchCount() const { return maxL2mM; }

 private:
  int maxL2fM = 0;
  int maxL2f360M = 0;
  int maxL2fiM = 0;
  int maxL2mM = 0;
  int matchLimitM = 0;
};

}  // namespace qrbase
