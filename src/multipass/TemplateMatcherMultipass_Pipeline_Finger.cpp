#include <quarlen/ShardExchange.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline_Finger.h>

#include <algorithm>
#include <set>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/IniFile.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/MvxFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/FingerprintGallerySupport.h"
#include "multipass/StepError.h"

namespace qrbase {

using QTypes = qridy::Types;
using qridy::Algorithm;
using Stage = MultipassConfig::Matchmode;

namespace {

constexpr const char* kIdentifyFunction =
    "qrbase::TemplateMatcherMultipass_Pipeline_Finger::identifyTransactionPrivate";
constexpr const char* kPrepareFunction =
    "qrbase::TemplateMatcherMultipass_Pipeline_Finger::prepareProbe";

int debugLevel() {
  return kxutl::QuarlenInformation::debugLevelS.load();
}

std::string tripleText(const Stage& stageA) {
  return QTypes::modality2Text(stageA.modality) + " " + QTypes::instance2Text(stageA.instance) +
         " " + QTypes::algorithm2Text(stageA.algorithm);
}

void note(kxntc::Notification& channelA, const std::string& textA) {
  channelA << textA;
  kxntc::notify(channelA);
}

// The probe's block of a stage's triple with probe data (l2fi: a gallery part serves), or null.
const qridy::TemplateBlockImp* probeBlock(const qridy::IdRecordImp& probeA, const Stage& stageA) {
  for (const qridy::TemplateKey& keyL : probeA.getTemplateKeys(stageA.modality, stageA.instance)) {
    const qridy::TemplateBlockImp* bL = probeA.getTemplateBlock(keyL, stageA.algorithm, false);
    if (bL == nullptr) continue;
    if (bL->probeDataPtr() != nullptr && bL->probeSize() != 0) return bL;
    if (stageA.algorithm == qridy::AlgL2fi && bL->gallerySize() != 0) return bL;
  }
  return nullptr;
}

// The gallery side of a triple: l2f360 and l2fi compare against the l2f gallery.
qridy::BioMetricTriple storageTriple(const Stage& stageA) {
  const bool l2fL = stageA.algorithm == qridy::AlgL2f360 || stageA.algorithm == qridy::AlgL2fi;
  return {stageA.modality, stageA.instance, l2fL ? qridy::AlgL2f : stageA.algorithm};
}

bool hasStorage(const TemplateMatcherMultipass_TemplateContainer& containerA,
                const qridy::BioMetricTriple& tripleA) {
  return containerA.memoryTriples().count(tripleA) != 0 ||
         containerA.diskTriples().count(tripleA) != 0;
}

// A block of algorithmA holding bytesA as probe and gallery part.
std::unique_ptr<qridy::TemplateBlockImp> derivedBlock(Algorithm algorithmA,
                                                      const std::vector<std::uint8_t>& bytesA) {
  std::unique_ptr<qridy::TemplateBlockImp> blockL(
      qridy::TemplateBlockImp::createTemplateBlock(algorithmA));
  const unsigned int sizeL = static_cast<unsigned int>(bytesA.size());
  blockL->setData(bytesA.data(), sizeL, bytesA.data(), sizeL, false);
  return blockL;
}

}  // namespace

TemplateMatcherMultipass_Pipeline_Finger::TemplateMatcherMultipass_Pipeline_Finger(
    const std::string& pipelineIdA, const MultipassConfig& configA, const std::string& settingsA)
    : TemplateMatcherMultipass_Pipeline(pipelineIdA, configA, settingsA) {}

TemplateMatcherMultipass_Pipeline_Finger::~TemplateMatcherMultipass_Pipeline_Finger() = default;

bool TemplateMatcherMultipass_Pipeline_Finger::isSingleInstanceSearch() const {
  std::set<qridy::Instance> fingersL;
  for (const Stage& stageL : configM.getStages()) fingersL.insert(stageL.instance);
  return fingersL.size() == 1;
}

bool TemplateMatcherMultipass_Pipeline_Finger::startsWithFilterScores(
    const std::vector<char>& runsA) const {
  if (isSingleInstanceSearch()) return false;
  const auto& stagesL = configM.getStages();
  bool firstL = true;
  for (std::size_t iL = 0; iL < stagesL.size() && iL < runsA.size(); ++iL) {
    if (!runsA[iL]) continue;
    if (firstL && !stagesL[iL].filterScore) return false;
    if (!firstL && !stagesL[iL].filterScore) return true;
    firstL = false;
  }
  return false;
}

std::unique_ptr<qridy::IdRecordImp> TemplateMatcherMultipass_Pipeline_Finger::prepareProbe(
    const qridy::IdRecordImp& probeA) const {
  auto probeL = std::make_unique<qridy::IdRecordImp>(probeA);
  std::set<Algorithm> neededL;
  for (const Stage& stageL : configM.getStages()) neededL.insert(stageL.algorithm);

  const int maxMinutiaeL = kxutl::QuarlenInformation::getIntFromConfigFile(
      "MATCHING_DECORATOR_DEFINITION", "L2fMaxMinutiaCountForProbe", 0);
  if (maxMinutiaeL >= 1) {
    fingerprintGallerySupport()->trimL2fTemplates(*probeL, maxMinutiaeL);
  }

  const bool wantL2fL = neededL.count(qridy::AlgL2f) != 0 || neededL.count(qridy::AlgL2f360) != 0;
  const bool wantL2fiL = neededL.count(qridy::AlgL2fi) != 0;
  if (wantL2fL || wantL2fiL) {
    const kxutl::IniFile emptyL;
    qrfpt::MvxFinger fingerL(emptyL);
    fingerL.initL2f();
    const unsigned short countL =
        static_cast<unsigned short>(maxMinutiaeL >= 1 ? std::min(maxMinutiaeL, 65535) : 65535);
    for (const qridy::TemplateKey& keyL :
         probeL->getTemplateKeys(qridy::ModalityFingerprint, qridy::InstanceAny)) {
      qridy::TemplateImp* templateL = probeL->getTemplateByKey(keyL);
      if (!templateL->checkExistence(qridy::AlgL2m) || templateL->checkExistence(qridy::AlgL2f)) {
        continue;
      }
      const qridy::TemplateBlockImp* l2mL = templateL->getTemplateBlock(qridy::AlgL2m);
      const unsigned char* dataL =
          l2mL->probeSize() != 0 ? l2mL->probeDataPtr() : l2mL->galleryDataPtr();
      const unsigned int sizeL = l2mL->probeSize() != 0 ? l2mL->probeSize() : l2mL->gallerySize();
      qrfpt::L2FTrimResult derivedL;
      if (fingerL.deriveL2FFromL2M(dataL, sizeL, derivedL, countL) != 0 ||
          derivedL.featureSize() == 0) {
        KXXCP_THROW(kPrepareFunction, "Create L2F(p) from L2M template failed ("
                                          << QTypes::instance2Text(keyL.instance) << ")");
      }
      if (wantL2fL) {
        if (debugLevel() >= 4) note(kxntc::debug, "Create L2F(p) from L2M template");
        templateL->addTemplateBlock(derivedBlock(qridy::AlgL2f, derivedL.bytes()).release());
      }
      if (wantL2fiL && !templateL->checkExistence(qridy::AlgL2fi)) {
        if (debugLevel() >= 4) note(kxntc::debug, "Create L2F(p) from L2M template for L2Fi");
        templateL->addTemplateBlock(derivedBlock(qridy::AlgL2fi, derivedL.bytes()).release());
      }
    }
  }

  for (const Stage& stageL : configM.getStages()) {
    const Algorithm aL = stageL.algorithm;
    if (aL != qridy::AlgL1v && aL != qridy::AlgL2v && aL != qridy::AlgFva) continue;
    if (probeL->hasTemplateBlock({stageL.modality, stageL.instance, aL})) continue;
    std::unique_ptr<qridy::TemplateBlockImp> combinedL(
        qridy::IdRecordFingerDecorator::createDecoratedTemplateBlock(probeL.get(), aL));
    if (!combinedL) continue;
    if (debugLevel() >= 4) {
      note(kxntc::debug, "Create combined template from IdRecord : (" + QTypes::algorithm2Text(aL) +
                             " " + QTypes::instance2Text(stageL.instance) + ")");
    }
    combinedL->convertToGalleryAndProbe();
    probeL->addTemplateBlock(combinedL.release(), stageL.modality, stageL.instance,
                             KXuint128{0, 0});
  }
  return probeL;
}

void TemplateMatcherMultipass_Pipeline_Finger::identifyTransactionPrivate(
    const qridy::IdRecordImp* probeA, ThreadStruct& threadA, qridy::ProbeDescriptor* descriptorA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA, qridy::ResultTreeList& resultsA) {
  std::string stepL = "prepare";
  try {
    prepareSlot(probeA, threadA, containerA, metadataA, kIdentifyFunction);
    const auto& stagesL = configM.getStages();
    const unsigned int slotL = threadA.threadIndex;

    stepL = "analyze probe";
    const std::unique_ptr<qridy::IdRecordImp> preparedL = prepareProbe(*probeA);
    std::vector<const qridy::TemplateBlockImp*> blocksL(stagesL.size(), nullptr);
    std::vector<char> runsL(stagesL.size(), 0);
    for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
      blocksL[iL] = probeBlock(*preparedL, stagesL[iL]);
      runsL[iL] = blocksL[iL] != nullptr && stagesL[iL].resultLengthMax != 0;
    }
    // Filter mode first: switching it clears the slot's state words.
    metadataA->setUseFilterScores(slotL, startsWithFilterScores(runsL));

    stepL = "query filtering";
    selectCandidates(threadA, descriptorA, metadataA);

    stepL = "start matching";
    metadataA->setDirtyResultsFlag(slotL, true);
    performStages(blocksL, threadA, containerA, metadataA);
    if (debugLevel() >= 4) {
      kxntc::debug << "uniqueMetadataContainerPtrA->getResultsSize: "
                   << metadataA->getResultsSize(slotL);
      kxntc::notify(kxntc::debug);
    }

    stepL = "fuse results";
    createNewResultListFromUniqueMetaDataState(threadA, metadataA, resultsA);

    finishIdentification(*probeA, threadA, resultsA, stepL);
  } catch (...) {
    rethrowFromStep(kIdentifyFunction, stepL);
  }
}

void TemplateMatcherMultipass_Pipeline_Finger::performStage(
    const qridy::TemplateBlockImp* probeA, std::size_t stageIndexA, ThreadStruct& threadA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA) {
  const Stage& stageL = configM.getStage(static_cast<unsigned>(stageIndexA));
  const unsigned int slotL = threadA.threadIndex;
  if (stageL.resultLengthMax == 0) {
    note(kxntc::log, " - SKIP " + tripleText(stageL));
    note(kxntc::log, "Skip this stage because the length '(resultLengthMax)' is 0 (" +
                         tripleText(stageL) + ")");
    return;
  }
  if (debugLevel() >= 3) note(kxntc::log, " - PERF " + tripleText(stageL));
  if (debugLevel() >= 4) {
    kxntc::debug << "perfStageIndexL = " << stageIndexA << " for algorithm "
                 << QTypes::algorithm2Text(stageL.algorithm);
    kxntc::notify(kxntc::debug);
  }
  PerformanceRecord scratchL;
  PerformanceRecord& perfL = stageIndexA < threadA.stagePerformance.size()
                                 ? threadA.stagePerformance[stageIndexA]
                                 : scratchL;
  kxutl::PerfCount stageClockL;
  float matchingL = 0.0f, normalisationL = 0.0f;
  try {
    // On a shard, the pass takes part in the exchange of the other shards however it ends.
    const ShardPassGuard shardGuardL(shardExchangeM, metadataA->numberOfUniqueIdRecords(),
                                     std::to_string(stageIndexA));
    const qridy::BioMetricTriple tripleL{stageL.modality, stageL.instance, stageL.algorithm};
    const qridy::BioMetricTriple storedL = storageTriple(stageL);
    if (!hasStorage(*containerA, storedL)) {
      KXXCP_THROW("qrbase::TemplateMatcherMultipass_Pipeline_Finger::performStage",
                  "No templates stored for specified matching pipeline (stage : "
                      << tripleText(stageL) << ")");
    }
    kxutl::PerfCount reloadClockL;
    const GalleryEntryData galleryL =
        containerA->getGalleryTemplates(tripleL, slotL, threadA.sharedMatchEngines, false);
    const std::size_t gallerySizeL =
        galleryL.galleryVec != nullptr ? galleryL.galleryVec->size() : 0;
    if (containerA->memoryTriples().count(storedL) == 0) {
      perfL.sumReloadSize += gallerySizeL;
      perfL.sumReloadTime += reloadClockL.elapsedSec();
    }
    ++perfL.probeCount;
    perfL.sumGallerySize += gallerySizeL;
    if (gallerySizeL == 0) {
      note(kxntc::log, "Skip this stage because gallery size is 0 (" + tripleText(stageL) + ")");
      return;
    }
    std::ostringstream missL;
    MatchConfigData passL;
    passL.matchmode = &stageL;
    passL.uniqueMetadataContainer = metadataA;
    passL.processing = configM.getProcessing();
    passL.singleInstance = isSingleInstanceSearch();
    passL.pipeline = this;
    passL.doMissAnalysis = configM.isMissAnalysis();
    passL.shardExchange = shardExchangeM;
    if (passL.doMissAnalysis) passL.missAnalysisStream = &missL;
    std::vector<qridy::IdentityMetadata*> unusedL;
    getIdentifier(tripleL)->identifyTemplate(
        probeA, galleryL, unusedL, slotL,
        TemplateMatcherMultipass::getSharedMatchEngines(stageL.algorithm, threadA), passL,
        matchingL, normalisationL);
    threadA.stagesRun[stageIndexA] = 1;
    perfL.sumIdentifyTime += matchingL;
    perfL.sumNormalizationTime += normalisationL;
    threadA.missAnalysis += missL.str();
    // The survivors of a filtering pass are the candidates of the later passes.
    if (stageL.filterScore) metadataA->setUsePersonMask(slotL, qridy::PersonMaskOn);
  } catch (const kxxcp::Exception& eA) {
    kxntc::error << "Catched kxxcp::Exception: in performStage:" << eA.getMessage();
    kxntc::notify(kxntc::error);
  } catch (...) {
    kxntc::error << "Catched unknown exception in performStage:";
    kxntc::notify(kxntc::error);
  }
  const double secondsL = stageClockL.elapsedSec();
  perfL.sumStageTime += secondsL;
  perfL.sumOverheadTime += std::max(0.0, secondsL - static_cast<double>(matchingL));
}

void TemplateMatcherMultipass_Pipeline_Finger::createNewResultListFromUniqueMetaDataState(
    ThreadStruct& threadA, qridy::UniqueMetadataContainer* metadataA,
    qridy::ResultTreeList& resultsA) {
  const auto& stagesL = configM.getStages();
  const bool anyL = std::any_of(stagesL.begin(), stagesL.end(),
                                [](const Stage& sA) { return sA.resultLengthMax != 0; });
  if (!anyL) {
    resultsA.resultIdRecordVector().clear();
    note(kxntc::error,
         "createFingerNewResultListFromUniqueMetaDataState nStages <1 or all max "
         "results 0");
    return;
  }
  const unsigned int slotL = threadA.threadIndex;
  const auto countNote = [](const char* whichA, std::size_t countA) {
    if (debugLevel() < 4) return;
    kxntc::debug << "createFingerResults " << whichA << " iteration nCount:" << countA;
    kxntc::notify(kxntc::debug);
  };
  // 1st: the identities the passes left with a result.
  countNote("1st", metadataA->getResultsSize(slotL));
  // 2nd: one record per identity, its stages' scores filed per finger and fused by the tree.
  createNewResultListFromIdentityResultContainer(threadA, metadataA, resultsA);
  countNote("2nd", resultsA.resultIdRecordVector().size());
  // 3rd: after a search with filter scores only the last stage's length is reported.
  std::vector<char> runsL(stagesL.size());
  for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
    runsL[iL] = iL < threadA.stagesRun.size() ? threadA.stagesRun[iL] : 0;
  }
  const bool filteredL = startsWithFilterScores(runsL);
  if (filteredL) resultsA.reduceAbsolute(stagesL.back().resultLengthMax);
  countNote("3rd", resultsA.resultIdRecordVector().size());
}

}  // namespace qrbase
