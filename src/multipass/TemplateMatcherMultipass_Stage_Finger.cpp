#include <quarlen/TemplateMatcherMultipass_Stage_Finger.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "common/ThresholdSearch.h"
#include "multipass/StageWorkers.h"

namespace qrbase {

using qridy::IdentityMetadata;
using qridy::StageMatchEngine_Base;
using qridy::TemplateBlockImp;
using Stage = TemplateMatcherMultipass_Stage_Finger;

namespace {

constexpr const char* kIdentifyFunction =
    "qrbase::TemplateMatcherMultipass_Stage_Finger::identifyTemplate";
constexpr const char* kVerifyFunction = "qrbase::TemplateMatcherMultipass_Stage_Finger::verify";
constexpr const char* kSection = "TEMPLATE_MATCHING_MULTIPASS";

int debugLevel() {
  return kxutl::QuarlenInformation::debugLevelS.load();
}

int readLimit(const char* keyA) {
  return kxutl::QuarlenInformation::getIntFromConfigFile(kSection, keyA, 0);
}

// The entries' metadata are the container's; identifications write only their probe's state.
IdentityMetadata* writable(const GalleryEntry& entryA) {
  return const_cast<IdentityMetadata*>(entryA.metadata);
}

// How the results of a worker are turned into the survivors of the pass.
enum class Outcome { Best, Real, Filter };

// What every worker of one pass shares.
struct FingerPass {
  Stage::Worker worker = Stage::Finger2_RealScores;
  int limit = INT_MAX;  // the algorithm's match limit
  int level = Stage::kRequiredFilterLevel;
  qridy::Algorithm algorithm = qridy::AlgUnknown;
  float minScore{};  // the engines' lowest score, set per pass
  bool personMask = false;
  bool filterMode = false;  // the slot's state words hold filter scores
};

Outcome outcomeOf(const FingerPass& passA) {
  switch (passA.worker) {
    case Stage::Finger2_SingleInstance:
    case Stage::Finger2_SingleInstance_PM:
    case Stage::Finger2_SingleInstance_PMF:
      return Outcome::Best;
    case Stage::Finger2_FilterScores:
    case Stage::Finger2_FilterScores_PMF:
      return Outcome::Filter;
    case Stage::FingerUsePersonMask:
      return passA.filterMode ? Outcome::Filter : Outcome::Real;
    default:
      return Outcome::Real;
  }
}

// Scores every entry of the worker's slice that passes gateA and hands each number to recordA;
// every scored entry is a result of the worker (kept as often as compared).
template <typename Gate, typename Record>
void scoreEvery(stageworkers::WorkerData& workerA, Gate gateA, Record recordA) {
  StageMatchEngine_Base& engineL = *workerA.engine;
  const unsigned int sizeL = workerA.settings.dataSize;
  for (const GalleryEntry* eL = workerA.first; eL != workerA.end; ++eL) {
    IdentityMetadata* metadataL = writable(*eL);
    if (metadataL == nullptr || !gateA(*metadataL)) continue;
    ++workerA.compared;
    const float sL = engineL.matchGallery(eL->data, sizeL);
    if (std::isnan(sL)) continue;
    recordA(*metadataL, *eL, sL);
    workerA.results.push_back({sL, eL});
  }
}

// The running-threshold worker of a one-finger search over the entries that pass gateA: the
// threshold starts at the engine's lowest score and the buffer holds 2 x resultLengthMax
// scores whatever the slice size. With deselectA an entry not above the threshold loses its
// candidacy.
template <typename Gate>
void scoreBest(stageworkers::WorkerData& workerA, float startA, Gate gateA, bool deselectA) {
  stageworkers::RunningThreshold thresholdL(
      workerA, startA, 2 * static_cast<std::size_t>(workerA.settings.resultLengthMax));
  StageMatchEngine_Base& engineL = *workerA.engine;
  const unsigned int sizeL = workerA.settings.dataSize;
  const unsigned int slotL = workerA.settings.probeSlot;
  for (const GalleryEntry* eL = workerA.first; eL != workerA.end; ++eL) {
    IdentityMetadata* metadataL = writable(*eL);
    if (metadataL == nullptr || !gateA(*metadataL)) continue;
    ++workerA.compared;
    const float sL = engineL.matchGallery(eL->data, sizeL);
    if (sL > thresholdL.threshold()) {
      thresholdL.keep(sL, eL);
    } else if (deselectA) {
      metadataL->setSelected(slotL, false);
    }
  }
}

void runWorker(stageworkers::WorkerData& workerA, const FingerPass& passA) {
  const stageworkers::PassSettings& settingsL = workerA.settings;
  const unsigned int slotL = settingsL.probeSlot;
  const auto everyL = [](IdentityMetadata&) { return true; };
  const auto realL = [&](IdentityMetadata& mA, const GalleryEntry& eA, float sA) {
    qridy::IdentityResult* resultL = mA.identityResult(slotL);
    resultL->addRawScore(settingsL.scoreIndex, eA.sampleId, sA, true, false, false);
    resultL->increaseCount(passA.algorithm);
  };
  const auto filterL = [&](IdentityMetadata& mA, const GalleryEntry&, float sA) {
    mA.addFilterScore(slotL, sA);
  };
  // A candidate of the slot below the match limit. A candidate that is labelled but holds no
  // result yet (the first pass after a person or transaction list) has compared nothing and is
  // scored.
  const auto candidateL = [&](IdentityMetadata& mA) {
    return mA.getResultState(slotL) == 1 || mA.getRealSelected(slotL, passA.limit);
  };
  const auto filteredL = [&](IdentityMetadata& mA) {
    return mA.getFilterSelected(slotL, passA.limit, passA.level);
  };
  switch (passA.worker) {
    case Stage::Finger2_RealScores:
      scoreEvery(workerA, everyL, realL);
      break;
    case Stage::Finger2_FilterScores:
      scoreEvery(workerA, everyL, filterL);
      break;
    case Stage::Finger2_RealScores_PM:
    case Stage::Finger2_RealScores_PMF:  // the filter selection became candidates before
      scoreEvery(workerA, candidateL, realL);
      break;
    case Stage::Finger2_FilterScores_PMF:
      scoreEvery(workerA, filteredL, filterL);
      break;
    case Stage::Finger2_SingleInstance:
      scoreBest(workerA, passA.minScore, everyL, false);
      break;
    case Stage::Finger2_SingleInstance_PM:
      scoreBest(
          workerA, passA.minScore, [&](IdentityMetadata& mA) { return mA.getRealSelected(slotL); },
          true);
      break;
    case Stage::Finger2_SingleInstance_PMF:
      scoreBest(
          workerA, passA.minScore,
          [&](IdentityMetadata& mA) { return mA.getFilterSelectedReset(slotL, passA.level); },
          false);
      break;
    case Stage::FingerUsePersonMask:
      // Miss analysis: every candidate of the slot (all identities without a mask) is scored
      // and recorded, so that the element of the pass can list each of them.
      if (passA.filterMode && passA.personMask) {
        scoreEvery(workerA, filteredL, filterL);
      } else if (passA.filterMode) {
        scoreEvery(workerA, everyL, filterL);
      } else if (passA.personMask) {
        scoreEvery(workerA, candidateL, realL);
      } else {
        scoreEvery(workerA, everyL, realL);
      }
      break;
  }
}

// The survivors of a pass whose workers recorded every score: the best kA identities of this
// pass by their fused score (real) or mean filter score (filter) stay; the others lose their
// candidacy (real) or their filter level (filter). Returns the number kept.
std::vector<NormalisationResult> identityScores(const std::vector<NormalisationResult>& resultsA,
                                                const FingerPass& passA, unsigned int slotA) {
  std::vector<NormalisationResult> byIdentityL(resultsA.size());
  for (std::size_t i = 0; i < resultsA.size(); ++i) {
    const IdentityMetadata* mL = resultsA[i].entry->metadata;
    const qridy::IdentityResult* rL = passA.filterMode ? nullptr : mL->getIdentityResult(slotA);
    byIdentityL[i] = {passA.filterMode ? mL->getFilterScore(slotA)
                      : rL != nullptr  ? rL->getFusedScore()
                                       : resultsA[i].score,
                      resultsA[i].entry};
  }
  return byIdentityL;
}

std::size_t cutRecorded(const std::vector<NormalisationResult>& resultsA,
                        const std::vector<NormalisationResult>& byIdentityA,
                        const FingerPass& passA, unsigned int slotA, std::size_t kA,
                        stageworkers::TieOrder tiesA, std::vector<unsigned char>& keepA) {
  const std::size_t keptL =
      stageworkers::selectBest(byIdentityA.data(), byIdentityA.size(), kA, keepA, tiesA);
  for (std::size_t i = 0; i < resultsA.size(); ++i) {
    IdentityMetadata* mL = writable(*resultsA[i].entry);
    if (passA.filterMode) {
      const int levelL = mL->getFilterSelectedLevel(slotA);
      mL->setFilterSelected(slotA, keepA[i] ? std::max(levelL, passA.level) : 0);
    } else if (!keepA[i]) {
      mL->setSelected(slotA, false);
    }
  }
  return keptL;
}

void writeMissAnalysis(std::ostream& osA, const Stage& stageA, std::size_t gallerySizeA,
                       std::size_t kA, const std::vector<NormalisationResult>& resultsA,
                       const std::vector<unsigned char>& keepA) {
  using QTypes = qridy::Types;
  osA << "<stage modality = \"" << QTypes::modality2Text(stageA.modality()) << "\" instance = \""
      << QTypes::instance2Text(stageA.instance()) << "\" algorithm = \""
      << QTypes::algorithm2Text(stageA.algorithm()) << "\" localGallerySize = \"" << gallerySizeA
      << "\" localMaxResultLength = \"" << kA << "\">\n";
  for (std::size_t i = 0; i < resultsA.size(); ++i) {
    osA << "\t<record personId = \"" << resultsA[i].entry->idRecordKey().personId << "\" kept = \""
        << (keepA[i] ? "true" : "false") << "\" rawScore = \"" << resultsA[i].score
        << "\" fusedScore = \"NA\" rank = \"NA\" />\n";
  }
  osA << "</stage>\n";
}

}  // namespace

TemplateMatcherMultipass_Stage_Finger::TemplateMatcherMultipass_Stage_Finger(
    qridy::Modality modalityA, qridy::Instance instanceA, qridy::Algorithm algorithmA)
    : TemplateMatcherMultipass_Stage_Common(modalityA, instanceA, algorithmA) {
  maxL2fM = readLimit("maxL2fMatchCount");
  maxL2f360M = readLimit("maxL2f360MatchCount");
  maxL2fiM = readLimit("maxL2fiMatchCount");
  maxL2mM = readLimit("maxL2mMatchCount");
  switch (algorithmA) {
    case qridy::AlgL2f:
      matchLimitM = maxL2fM;
      break;
    case qridy::AlgL2f360:
      matchLimitM = maxL2f360M;
      break;
    case qridy::AlgL2fi:
      matchLimitM = maxL2fiM;
      break;
    case qridy::AlgL2m:
      matchLimitM = maxL2mM;
      break;
    default:
      matchLimitM = static_cast<int>(std::min<unsigned int>(maxAlgorithmMatchCountM, INT_MAX));
      break;
  }
  if (matchLimitM < 0) matchLimitM = 0;
}

TemplateMatcherMultipass_Stage_Finger::~TemplateMatcherMultipass_Stage_Finger() = default;

Stage::Worker TemplateMatcherMultipass_Stage_Finger::chooseWorker(bool missAnalysisA,
                                                                  bool personMaskA,
                                                                  bool singleInstanceA,
                                                                  bool stageFilterScoreA,
                                                                  bool slotFilterScoresA) {
  if (missAnalysisA) return FingerUsePersonMask;
  if (!personMaskA) {
    if (singleInstanceA) return Finger2_SingleInstance;
    return slotFilterScoresA ? Finger2_FilterScores : Finger2_RealScores;
  }
  if (singleInstanceA) {
    return slotFilterScoresA ? Finger2_SingleInstance_PMF : Finger2_SingleInstance_PM;
  }
  if (!slotFilterScoresA) return Finger2_RealScores_PM;
  return stageFilterScoreA ? Finger2_FilterScores_PMF : Finger2_RealScores_PMF;
}

const char* TemplateMatcherMultipass_Stage_Finger::workerName(Worker workerA) {
  switch (workerA) {
    case FingerUsePersonMask:
      return "matchThreadMultiFcn_FingerUsePersonMask";
    case Finger2_SingleInstance:
      return "matchThreadMultiFcn_Finger2_SingleInstance";
    case Finger2_FilterScores:
      return "matchThreadMultiFcn_Finger2_FilterScores";
    case Finger2_RealScores:
      return "matchThreadMultiFcn_Finger2_RealScores";
    case Finger2_SingleInstance_PM:
      return "matchThreadMultiFcn_Finger2_SingleInstance_PM";
    case Finger2_SingleInstance_PMF:
      return "matchThreadMultiFcn_Finger2_SingleInstance_PMF";
    case Finger2_FilterScores_PMF:
      return "matchThreadMultiFcn_Finger2_FilterScores_PMF";
    case Finger2_RealScores_PMF:
      return "matchThreadMultiFcn_Finger2_RealScores_PMF";
    case Finger2_RealScores_PM:
      return "matchThreadMultiFcn_Finger2_RealScores_PM";
  }
  return "";
}

std::size_t TemplateMatcherMultipass_Stage_Finger::fingerCandidateCount(
    const MultipassConfig::Matchmode& matchmodeA, std::size_t uniqueRecordsA) {
  const std::size_t globalL = static_cast<std::size_t>(
      matchmodeA.resultLengthGlobalPercent / 100.0f * static_cast<float>(uniqueRecordsA) + 0.5f);
  return std::min<std::size_t>(matchmodeA.resultLengthMax,
                               std::max<std::size_t>(matchmodeA.resultLengthMin, globalL));
}

bool TemplateMatcherMultipass_Stage_Finger::searchThreshold(NormalisationResultSimple* resultsA,
                                                            std::size_t nA, std::size_t kA,
                                                            float& thresholdA, std::size_t& equalA,
                                                            std::size_t& aboveOrEqualA) {
  return qrcommon::searchThreshold(resultsA, nA, kA, thresholdA, equalA, aboveOrEqualA,
                                   "SearchThresholdSimple");
}

void TemplateMatcherMultipass_Stage_Finger::identifyTemplate(
    const TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
    std::vector<IdentityMetadata*>& /*metadataA*/, unsigned int probeSlotA,
    std::vector<StageMatchEngine_Base*>& enginesA, MatchConfigData& configA,
    float& matchingSecondsA, float& normalisationSecondsA) {
  matchingSecondsA = 0.0f;
  normalisationSecondsA = 0.0f;
  try {
    if (!checkProbe(probeA, enginesA, kIdentifyFunction)) return;
    unsigned int probeSizeL = 0;
    const unsigned char* probeDataL = enginesA[0]->extractRawData(probeA, probeSizeL, true);
    if (!checkProbeData(probeDataL, probeSizeL, kIdentifyFunction)) return;
    const stageworkers::PassSettings settingsL = stageworkers::passSettings(
        *this, configA, probeSlotA, galleryA.dataSize, kIdentifyFunction);
    qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;
    const MultipassConfig::Matchmode& modeL = *configA.matchmode;

    FingerPass passL;
    passL.personMask = umcL.usePersonMask(probeSlotA) >= 0;
    passL.worker = chooseWorker(configA.doMissAnalysis, passL.personMask, configA.singleInstance,
                                modeL.filterScore, umcL.useFilterScores(probeSlotA));
    passL.limit = matchLimitM > 0 ? matchLimitM : INT_MAX;
    passL.algorithm = algorithmM;
    passL.minScore = enginesA[0]->minScore();
    if (debugLevel() >= 4) {
      kxntc::debug << "\t-- " << workerName(passL.worker) << ": ";
      kxntc::notify(kxntc::debug);
    }
    // A real-score pass over a filter selection first turns the selection into candidates.
    if (passL.worker == Finger2_RealScores_PMF) {
      umcL.selectAndCleanFilterIntoRealResultContainer(probeSlotA, passL.level);
    }
    passL.filterMode = umcL.useFilterScores(probeSlotA);

    const std::size_t galleryCountL =
        galleryA.galleryVec != nullptr ? galleryA.galleryVec->size() : 0;
    if (galleryCountL == 0) {
      if (debugLevel() >= 3) {
        kxntc::log << "pass skipped" << notificationSuffix(kIdentifyFunction, __LINE__);
        kxntc::notify(kxntc::log);
      }
      return;
    }
    kxutl::PerfCount clockL;
    std::vector<stageworkers::WorkerData> workersL =
        stageworkers::partition(galleryA, enginesA, settingsL);
    for (StageMatchEngine_Base* engineL : enginesA) {
      engineL->setProbeForIdentification(probeDataL, probeSizeL);
    }
    {
      kxutl::COrvixThreadPool poolL(static_cast<unsigned int>(workersL.size()), workersL.data());
      poolL.DoThreadedWork([&workersL, &passL](kxutl::ThreadData& threadA) {
        runWorker(workersL[threadA.threadIndexM], passL);
      });
    }
    for (StageMatchEngine_Base* engineL : enginesA) engineL->releaseProbe();
    matchingSecondsA = static_cast<float>(clockL.elapsedSec());

    std::size_t comparedL = 0;
    std::vector<NormalisationResult> resultsL;
    for (auto& workerL : workersL) {
      comparedL += workerL.compared;
      resultsL.insert(resultsL.end(), workerL.results.begin(), workerL.results.end());
    }
    if (debugLevel() >= 3) {
      kxntc::log << "\t--lSel: " << comparedL;
      kxntc::notify(kxntc::log);
    }
    // Real and filter passes cut by the identities' scores, best-of passes by the pass's scores.
    const Outcome outcomeL = outcomeOf(passL);
    std::vector<NormalisationResult> byIdentityL;
    if (outcomeL != Outcome::Best) byIdentityL = identityScores(resultsL, passL, probeSlotA);
    const stageworkers::PassCounts countsL = stageworkers::passCounts(
        configA.shardExchange, comparedL, umcL.numberOfUniqueIdRecords(),
        outcomeL == Outcome::Real ? umcL.getResultsSize(probeSlotA) : 0,
        outcomeL == Outcome::Best ? resultsL : byIdentityL, modeL.resultLengthMax);
    std::size_t kL = fingerCandidateCount(modeL, countsL.identities);
    std::vector<unsigned char> keepL;
    switch (outcomeL) {
      case Outcome::Best: {
        // A filter selection read by the workers gives way to the candidates they keep.
        if (passL.worker == Finger2_SingleInstance_PMF) umcL.setUseFilterScores(probeSlotA, false);
        kL = std::min(kL, countsL.candidates);
        stageworkers::selectBest(resultsL.data(), resultsL.size(), countsL.share(kL), keepL,
                                 countsL.ties());
        const bool maskL = passL.worker == Finger2_SingleInstance_PM;
        stageworkers::record(resultsL, keepL, settingsL, maskL, true);
        for (std::size_t i = 0; i < resultsL.size(); ++i) {
          if (!keepL[i]) continue;
          writable(*resultsL[i].entry)->identityResult(probeSlotA)->increaseCount(algorithmM);
        }
        break;
      }
      case Outcome::Real: {
        if (countsL.results <= kL) {
          kL = countsL.results;
          keepL.assign(resultsL.size(), 1);
        } else {
          cutRecorded(resultsL, byIdentityL, passL, probeSlotA, countsL.share(kL), countsL.ties(),
                      keepL);
        }
        break;
      }
      case Outcome::Filter:
        // Filter scores live in the state words, not in results: the pass's scored identities
        // are the count.
        if (countsL.candidates <= kL) kL = countsL.candidates;
        cutRecorded(resultsL, byIdentityL, passL, probeSlotA, countsL.share(kL), countsL.ties(),
                    keepL);
        break;
    }
    if (configA.doMissAnalysis && configA.missAnalysisStream != nullptr) {
      writeMissAnalysis(*configA.missAnalysisStream, *this, galleryCountL, kL, resultsL, keepL);
    }
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kIdentifyFunction, "Catched kxxcp::Exception: ( " << eA.getMessage() << " )");
  } catch (...) {
    KXXCP_THROW(kIdentifyFunction,
                "Catched unknown exception ( " << qridy::Types::algorithm2Text(algorithmM) << " )");
  }
}

float TemplateMatcherMultipass_Stage_Finger::verify(const TemplateBlockImp* probeA,
                                                    const TemplateBlockImp* galleryA,
                                                    std::vector<StageMatchEngine_Base*>& enginesA,
                                                    MatchConfigData& configA) {
  if (enginesA.empty() || enginesA[0] == nullptr) {
    KXXCP_THROW(kVerifyFunction, "No match engines for the stage.");
  }
  StageMatchEngine_Base& engineL = *enginesA[0];
  // A block the engine cannot read is refused before the common checks look at its parts.
  const auto readableL = [&engineL](const TemplateBlockImp* blockA) {
    if (blockA == nullptr) return false;
    try {
      unsigned int sizeL = 0;
      engineL.extractRawData(blockA, sizeL, false);
      return true;
    } catch (const kxxcp::Exception&) {
      return false;
    }
  };
  if (!readableL(probeA)) {
    KXXCP_THROW(kVerifyFunction, "probePtrA is not compatible with the configured algorithm");
  }
  if (!readableL(galleryA)) {
    KXXCP_THROW(kVerifyFunction, "galleryPtrA is not compatible with the configured algorithm");
  }
  if (algorithmM == qridy::AlgL2fi && probeA->algorithm() == algorithmM &&
      probeA->probeSize() == 0 && probeA->gallerySize() != 0) {
    // An l2fi template that only carries its gallery part serves as probe in that form.
    std::unique_ptr<TemplateBlockImp> asProbeL(TemplateBlockImp::createTemplateBlock(algorithmM));
    asProbeL->setData(probeA->galleryDataPtr(), probeA->gallerySize(), nullptr, 0, false);
    engineL.setProbeIsGalleryData(true);
    const float scoreL =
        TemplateMatcherMultipass_Stage_Common::verify(asProbeL.get(), galleryA, enginesA, configA);
    engineL.setProbeIsGalleryData(false);
    return scoreL;
  }
  return TemplateMatcherMultipass_Stage_Common::verify(probeA, galleryA, enginesA, configA);
}

}  // namespace qrbase
