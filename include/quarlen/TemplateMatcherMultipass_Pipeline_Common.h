#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <quarlen/TemplateMatcherMultipass_Pipeline.h>

namespace qrbase {

// The pipeline of face and iris galleries.
//
// One identification on slot s: the slot's reload stages and results are emptied; the candidates
// come from the probe descriptor (none: the whole gallery); then each configured pass in order
// scores the probe's block of its triple against the gallery of the triple (a probe without that
// block, or a pass with resultLengthMax 0, skips the pass) and keeps its candidates, which form
// the person mask of the following passes when the pass filters (filterScore); finally the
// recorded raw scores are fused per record into the sorted result list.
//
// Errors: an error inside a pass is reported ("Catched kxxcp::Exception: in performStage:" ...)
// and ends that pass only. Everything else is thrown from identifyTransactionPrivate as
// "<step>\nkxxcp caught: <message>" (the code kept), "<step>\nstd::exc caught: <text>",
// "<step>\nint exc caught: <n>" or "<step>\nunknown exc caught.", step being one of "prepare",
// "query filtering", "analyze probe", "start matching", "fuse results", "miss analysis results",
// "calc performance output".
class QUARLEN_EXPORT TemplateMatcherMultipass_Pipeline_Common
    : public TemplateMatcherMultipass_Pipeline {
 public:
  TemplateMatcherMultipass_Pipeline_Common(const std::string& pipelineIdA,
                                           const MultipassConfig& configA,
                                           const std::string& settingsA);
  ~TemplateMatcherMultipass_Pipeline_Common() override;

  // Sizes nothing yet: the slot's records are sized on the first identification.
  void identifyTransactionPrivate(const qridy::IdRecordImp* probeA, ThreadStruct& threadA,
                                  qridy::ProbeDescriptor* descriptorA,
                                  TemplateMatcherMultipass_TemplateContainer* containerA,
                                  qridy::UniqueMetadataContainer* metadataA,
                                  qridy::ResultTreeList& resultsA) override;

  // Iris only ("Only IRIS Pipeline supports bundled probes"); a descriptor may not narrow the
  // candidates ("queryLanguage not supported for bundled probes", "person id lists not supported
  // for bundled probes", "transaction id lists not supported for bundled probes"). Every probe
  // needs a block of every stage's triple ("Unexpected bundle size!!"). Every pass scans the
  // whole gallery for every probe; each probe's list fuses its kept candidates of all passes.
  void identifyProbeBundle(const std::vector<const qridy::IdRecordImp*>& probesA,
                           ThreadStruct& threadA, qridy::ProbeDescriptor* descriptorA,
                           TemplateMatcherMultipass_TemplateContainer* containerA,
                           qridy::UniqueMetadataContainer* metadataA,
                           std::vector<qridy::ResultTreeList>& resultsA) override;

  void performStage(const qridy::TemplateBlockImp* probeA, std::size_t stageIndexA,
                    ThreadStruct& threadA, TemplateMatcherMultipass_TemplateContainer* containerA,
                    qridy::UniqueMetadataContainer* metadataA) override;
};

}  // namespace qrbase
