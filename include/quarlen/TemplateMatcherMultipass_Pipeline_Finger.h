#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <quarlen/TemplateMatcherMultipass_Pipeline.h>

namespace qridy {
class IdRecordImp;
}

namespace qrbase {

// The pipeline of fingerprint galleries.
//
// One identification on slot s:
//  - "prepare": the slot's reload stages, results and filter mode are reset;
//  - "analyze probe": the probe is prepared on a copy (the caller's record is not changed): its
//    l2f templates are trimmed to "L2fMaxMinutiaCountForProbe" minutiae (section
//    "MATCHING_DECORATOR_DEFINITION"; absent or below 1: not trimmed); a finger that carries an
//    l2m but no l2f template gets an l2f template derived from the l2m one when a stage needs
//    l2f or l2f360, and an l2fi template when a stage needs l2fi; the multi-finger templates
//    (l1v, l2v, fva) a stage needs are combined from the record's fingers when the probe lacks
//    them. Then the probe block of every stage is taken (a stage without one is skipped) and
//    the slot's mode is fixed: a search over one finger (all stages of one instance) keeps the
//    best candidates of every pass (single instance); in a search over several fingers a
//    leading run of filtering stages (filterScore) followed by a non-filtering stage keeps its
//    scores as filter scores, which only choose the candidates of the later passes;
//  - "query filtering": the candidates from the descriptor (none: the whole gallery);
//  - "start matching": the passes in configuration order; a filtering pass makes its survivors
//    the person mask of the following passes;
//  - "fuse results": createNewResultListFromUniqueMetaDataState;
//  - "miss analysis results", "calc performance output" as in the common pipeline.
// Errors leave as in the common pipeline (function
// "qrbase::TemplateMatcherMultipass_Pipeline_Finger::identifyTransactionPrivate").
class QUARLEN_EXPORT TemplateMatcherMultipass_Pipeline_Finger
    : public TemplateMatcherMultipass_Pipeline {
 public:
  TemplateMatcherMultipass_Pipeline_Finger(const std::string& pipelineIdA,
                                           const MultipassConfig& configA,
                                           const std::string& settingsA);
  ~TemplateMatcherMultipass_Pipeline_Finger() override;

  void identifyTransactionPrivate(const qridy::IdRecordImp* probeA, ThreadStruct& threadA,
                                  qridy::ProbeDescriptor* descriptorA,
                                  TemplateMatcherMultipass_TemplateContainer* containerA,
                                  qridy::UniqueMetadataContainer* metadataA,
                                  qridy::ResultTreeList& resultsA) override;

  // One pass. Notes " - SKIP " (resultLengthMax 0) or " - PERF " with the triple; a gallery of
  // size 0 skips the pass ("Skip this stage because gallery size is 0"); a triple without
  // storage is reported as "No templates stored for specified matching pipeline (stage :
  // <triple>)". Errors inside the pass are reported and end the pass.
  void performStage(const qridy::TemplateBlockImp* probeA, std::size_t stageIndexA,
                    ThreadStruct& threadA, TemplateMatcherMultipass_TemplateContainer* containerA,
                    qridy::UniqueMetadataContainer* metadataA) override;

  // The per-finger result list of the slot, in three passes: (1) the identities that hold a
  // result; (2) their ResultIdRecords, each stage's raw score (not negative, of a stage that
  // ran) filed under its finger (the stage's instance) and algorithm, so that a finger's
  // algorithms fuse into the finger's score and the fingers into the identity's score by the
  // result tree's rules (weights, score mapping); identities without a score drop out;
  // (3) sorted and, after a search with filter scores, cut to the last stage's
  // resultLengthMax. Without stages, or when every stage has resultLengthMax 0, the list stays
  // empty and the error "createFingerNewResultListFromUniqueMetaDataState nStages <1 or all max
  // results 0" is reported.
  void createNewResultListFromUniqueMetaDataState(ThreadStruct& threadA,
                                                  qridy::UniqueMetadataContainer* metadataA,
                                                  qridy::ResultTreeList& resultsA) override;

  // The probe as the passes see it: a copy of probeA, trimmed, with derived and combined
  // templates (see the class comment); the caller owns it.
  std::unique_ptr<qridy::IdRecordImp> prepareProbe(const qridy::IdRecordImp& probeA) const;

  // All stages name one finger.
  bool isSingleInstanceSearch() const;
  // Whether a search over several fingers starts with filter scores (runsA: per stage whether
  // it will run): the first stage that runs filters and a later one that runs does not.
  bool startsWithFilterScores(const std::vector<char>& runsA) const;
};

}  // namespace qrbase
