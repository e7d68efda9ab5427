#include <quarlen/ShardExchange.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline_Common.h>

#include <map>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/StepError.h"

namespace qrbase {

using QTypes = qridy::Types;

namespace {

constexpr const char* kIdentifyFunction =
    "qrbase::TemplateMatcherMultipass_Pipeline_Common::identifyTransactionPrivate";
constexpr const char* kBundleFunction =
    "qrbase::TemplateMatcherMultipass_Pipeline_Common::identifyProbeBundle";

int debugLevel() {
  return kxutl::QuarlenInformation::debugLevelS.load();
}

std::string tripleText(const MultipassConfig::Matchmode& stageA) {
  return QTypes::modality2Text(stageA.modality) + " " + QTypes::instance2Text(stageA.instance) +
         " " + QTypes::algorithm2Text(stageA.algorithm);
}

// The probe's block of a stage's triple that holds probe data, or null.
const qridy::TemplateBlockImp* probeBlock(const qridy::IdRecordImp& probeA,
                                          const MultipassConfig::Matchmode& stageA) {
  for (const qridy::TemplateKey& keyL : probeA.getTemplateKeys(stageA.modality, stageA.instance)) {
    const qridy::TemplateBlockImp* blockL = probeA.getTemplateBlock(keyL, stageA.algorithm, false);
    if (blockL != nullptr && blockL->probeDataPtr() != nullptr && blockL->probeSize() != 0) {
      return blockL;
    }
  }
  return nullptr;
}

}  // namespace

TemplateMatcherMultipass_Pipeline_Common::TemplateMatcherMultipass_Pipeline_Common(
    const std::string& pipelineIdA, const MultipassConfig& configA, const std::string& settingsA)
    : TemplateMatcherMultipass_Pipeline(pipelineIdA, configA, settingsA) {}

TemplateMatcherMultipass_Pipeline_Common::~TemplateMatcherMultipass_Pipeline_Common() = default;

void TemplateMatcherMultipass_Pipeline_Common::identifyTransactionPrivate(
    const qridy::IdRecordImp* probeA, ThreadStruct& threadA, qridy::ProbeDescriptor* descriptorA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA, qridy::ResultTreeList& resultsA) {
  std::string stepL = "prepare";
  try {
    prepareSlot(probeA, threadA, containerA, metadataA, kIdentifyFunction);
    const auto& stagesL = configM.getStages();
    const unsigned int slotL = threadA.threadIndex;

    stepL = "query filtering";
    selectCandidates(threadA, descriptorA, metadataA);

    stepL = "analyze probe";
    std::vector<const qridy::TemplateBlockImp*> blocksL(stagesL.size(), nullptr);
    for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
      blocksL[iL] = probeBlock(*probeA, stagesL[iL]);
    }

    stepL = "start matching";
    metadataA->setDirtyResultsFlag(slotL, true);
    performStages(blocksL, threadA, containerA, metadataA);

    stepL = "fuse results";
    createNewResultListFromUniqueMetaDataState(threadA, metadataA, resultsA);
    if (debugLevel() >= 4) {
      kxntc::debug << "\t - (createNewResultListFromIdentityResultContainer) \n"
                   << "\t\t - numberOfUniqueIdRecords : " << metadataA->numberOfUniqueIdRecords()
                   << "\n\t\t - numberOfUniquePersons   : " << metadataA->numberOfUniquePersons()
                   << "\n\t\t - numberOfSelected        : "
                   << metadataA->calcNumberOfSelectedIdRecords(slotL);
      kxntc::notify(kxntc::debug);
    }

    finishIdentification(*probeA, threadA, resultsA, stepL);
  } catch (...) {
    rethrowFromStep(kIdentifyFunction, stepL);
  }
}

void TemplateMatcherMultipass_Pipeline_Common::performStage(
    const qridy::TemplateBlockImp* probeA, std::size_t stageIndexA, ThreadStruct& threadA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA) {
  const MultipassConfig::Matchmode& stageL = configM.getStage(static_cast<unsigned>(stageIndexA));
  const unsigned int slotL = threadA.threadIndex;
  if (stageL.resultLengthMax == 0) {
    kxntc::log << "Skip this stage because the length '(resultLengthMax)' is 0 ("
               << tripleText(stageL) << ")";
    kxntc::notify(kxntc::log);
    return;
  }
  if (debugLevel() >= 3) {
    kxntc::log << "\t -" << tripleText(stageL);
    kxntc::notify(kxntc::log);
  }
  if (debugLevel() >= 4) {
    kxntc::debug << "\t\t - numberOfUniqueIdRecords : " << metadataA->numberOfUniqueIdRecords()
                 << "\n\t\t - numberOfUniquePersons   : " << metadataA->numberOfUniquePersons()
                 << "\n\t\t - numberOfSelected        : "
                 << metadataA->calcNumberOfSelectedIdRecords(slotL);
    kxntc::notify(kxntc::debug);
  }
  PerformanceRecord scratchL;
  PerformanceRecord& recordL = stageIndexA < threadA.stagePerformance.size()
                                   ? threadA.stagePerformance[stageIndexA]
                                   : scratchL;
  kxutl::PerfCount stageClockL;
  double identifySecondsL = 0.0;
  try {
    // On a shard, the pass takes part in the exchange of the other shards however it ends.
    const ShardPassGuard shardGuardL(shardExchangeM, metadataA->numberOfUniqueIdRecords(),
                                     std::to_string(stageIndexA));
    const qridy::BioMetricTriple tripleL{stageL.modality, stageL.instance, stageL.algorithm};
    std::vector<qridy::StageMatchEngine_Base*>& enginesL =
        TemplateMatcherMultipass::getSharedMatchEngines(stageL.algorithm, threadA);
    kxutl::PerfCount clockL;
    const bool diskOnlyL = containerA->memoryTriples().count(tripleL) == 0;
    const GalleryEntryData galleryL =
        containerA->getGalleryTemplates(tripleL, slotL, threadA.sharedMatchEngines, false);
    const std::size_t sizeL = galleryL.galleryVec != nullptr ? galleryL.galleryVec->size() : 0;
    if (diskOnlyL) {
      recordL.sumReloadSize += sizeL;
      recordL.sumReloadTime += clockL.elapsedSec();
    }
    recordL.sumGallerySize += sizeL;
    ++recordL.probeCount;

    std::ostringstream missL;
    MatchConfigData configL;
    configL.uniqueMetadataContainer = metadataA;
    configL.pipeline = this;
    configL.doMissAnalysis = configM.isMissAnalysis();
    configL.shardExchange = shardExchangeM;
    configL.matchmode = &stageL;
    configL.processing = configM.getProcessing();
    configL.missAnalysisStream = configL.doMissAnalysis ? &missL : nullptr;
    std::vector<qridy::IdentityMetadata*> unusedL;
    identifySecondsL = 0.0;
    float matchingL = 0.0f, normalisationL = 0.0f;
    getIdentifier(tripleL)->identifyTemplate(probeA, galleryL, unusedL, slotL, enginesL, configL,
                                             matchingL, normalisationL);
    threadA.stagesRun[stageIndexA] = 1;
    identifySecondsL = matchingL;
    recordL.sumIdentifyTime += matchingL;
    recordL.sumNormalizationTime += normalisationL;
    threadA.missAnalysis += missL.str();
    // The candidates a filtering pass kept are the only ones the later passes score.
    if (stageL.filterScore) metadataA->setUsePersonMask(slotL, qridy::PersonMaskOn);
  } catch (const kxxcp::Exception& eA) {
    kxntc::error << "Catched kxxcp::Exception: in performStage:" << eA.getMessage();
    kxntc::notify(kxntc::error);
  } catch (...) {
    kxntc::error << "Catched unknown exception in performStage:";
    kxntc::notify(kxntc::error);
  }
  const double stageSecondsL = stageClockL.elapsedSec();
  recordL.sumStageTime += stageSecondsL;
  if (stageSecondsL > identifySecondsL) recordL.sumOverheadTime += stageSecondsL - identifySecondsL;
}

void TemplateMatcherMultipass_Pipeline_Common::identifyProbeBundle(
    const std::vector<const qridy::IdRecordImp*>& probesA, ThreadStruct& threadA,
    qridy::ProbeDescriptor* descriptorA, TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA, std::vector<qridy::ResultTreeList>& resultsA) {
  const auto& stagesL = configM.getStages();
  if (stagesL.empty() || stagesL.front().modality != qridy::ModalityIris) {
    KXXCP_THROW(kBundleFunction, "Only IRIS Pipeline supports bundled probes");
  }
  if (descriptorA != nullptr) {
    if (descriptorA->hasQuery()) {
      KXXCP_THROW(kBundleFunction, "queryLanguage not supported for bundled probes");
    }
    if (descriptorA->hasPersonList()) {
      KXXCP_THROW(kBundleFunction, "person id lists not supported for bundled probes");
    }
    if (descriptorA->hasTransactionList()) {
      KXXCP_THROW(kBundleFunction, "transaction id lists not supported for bundled probes");
    }
  }
  resultsA.clear();
  if (probesA.empty()) return;
  for (const qridy::IdRecordImp* probeL : probesA) {
    if (probeL == nullptr) KXXCP_THROW(kBundleFunction, "Probe IdRecord is NULL");
  }
  const unsigned int slotL = threadA.threadIndex;
  prepareSlot(probesA.front(), threadA, containerA, metadataA, kBundleFunction);
  metadataA->setUsePersonMask(slotL, qridy::PersonMaskNone);

  // "create probe bundles": per stage the probes' blocks of its triple, one per probe.
  std::vector<std::vector<const qridy::TemplateBlockImp*>> bundlesL(stagesL.size());
  for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
    for (const qridy::IdRecordImp* probeL : probesA) {
      if (const qridy::TemplateBlockImp* blockL = probeBlock(*probeL, stagesL[iL])) {
        bundlesL[iL].push_back(blockL);
      }
    }
    if (bundlesL[iL].size() != probesA.size()) {
      KXXCP_THROW(kBundleFunction, "Unexpected bundle size!!");
    }
  }

  // Per probe, its candidates of every pass, fused per record.
  std::vector<std::map<qridy::IdRecordKey, qridy::ResultIdRecord>> recordsL(probesA.size());
  for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
    const MultipassConfig::Matchmode& stageL = stagesL[iL];
    if (stageL.resultLengthMax == 0) continue;
    const qridy::BioMetricTriple tripleL{stageL.modality, stageL.instance, stageL.algorithm};
    std::vector<qridy::StageMatchEngine_Base*>& enginesL =
        TemplateMatcherMultipass::getSharedMatchEngines(stageL.algorithm, threadA);
    const GalleryEntryData galleryL =
        containerA->getGalleryTemplates(tripleL, slotL, threadA.sharedMatchEngines, false);
    MatchConfigData configL;
    configL.uniqueMetadataContainer = metadataA;
    configL.pipeline = this;
    configL.matchmode = &stageL;
    configL.processing = configM.getProcessing();
    std::vector<std::vector<NormalisationResult>> keptL;
    getIdentifier(tripleL)->identifyTemplateBundle(bundlesL[iL], galleryL, slotL, keptL, enginesL,
                                                   configL);
    if (iL < threadA.stagePerformance.size()) {
      ++threadA.stagePerformance[iL].sumBundleCount;
      threadA.stagePerformance[iL].sumGallerySize +=
          galleryL.galleryVec != nullptr ? galleryL.galleryVec->size() : 0;
    }
    for (std::size_t pL = 0; pL < keptL.size() && pL < probesA.size(); ++pL) {
      for (const NormalisationResult& rL : keptL[pL]) {
        const qridy::IdRecordKey keyL = rL.entry->idRecordKey();
        const bool addL = rL.score > 0.0f;
        if (debugLevel() >= 4) {
          kxntc::debug << (addL ? " - - ADD RESULT - BUNDLE : " : " - - SKIP       - BUNDLE : ")
                       << keyL.personId << " nResultsL : " << keptL[pL].size()
                       << " score : " << rL.score;
          kxntc::notify(kxntc::debug);
        }
        if (!addL) continue;
        auto itL = recordsL[pL].try_emplace(keyL, keyL.personId, keyL.transactionId).first;
        itL->second.addScore(stageL.algorithm, rL.entry->sampleId, stageL.modality, stageL.instance,
                             rL.score, true, stageL.useNormalization, stageL.globalWeight,
                             threadA.resultParameter);
      }
    }
  }
  // The bundle passes recorded every probe's candidates in the slot: forget them.
  metadataA->resetResultContainer(slotL);

  // "fuse results" per probe.
  resultsA.assign(probesA.size(), qridy::ResultTreeList());
  for (std::size_t pL = 0; pL < probesA.size(); ++pL) {
    std::vector<qridy::ResultIdRecord>& listL = resultsA[pL].resultIdRecordVector();
    for (auto& [keyL, recordL] : recordsL[pL]) {
      if (recordL.getScore() > 0.0f) listL.push_back(std::move(recordL));
    }
    const std::size_t placedL = listL.size();
    resultsA[pL].sort();
    resultsA[pL].reduceAbsolute(placedL);
  }
}

}  // namespace qrbase
