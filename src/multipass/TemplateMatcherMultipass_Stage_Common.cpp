#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <unordered_set>

#include <qrlcore/COrvixThreadPool.h>
#include <qrlcore/Exception.h>
#include <qrlcore/IniFile.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/IdentityResultContainer.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateBlockIrisDecorator.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "common/ThresholdSearch.h"
#include "multipass/StageWorkers.h"

namespace qrbase {

using qridy::Algorithm;
using qridy::IdentityMetadata;
using qridy::StageMatchEngine_Base;
using qridy::TemplateBlockImp;
using QTypes = qridy::Types;

namespace {

constexpr const char* kIdentifyFunction =
    "qrbase::TemplateMatcherMultipass_Stage_Common::identifyTemplate";
constexpr const char* kBundleFunction =
    "qrbase::TemplateMatcherMultipass_Stage_Common::identifyTemplateBundle";
constexpr const char* kVerifyFunction = "qrbase::TemplateMatcherMultipass_Stage_Common::verify";
constexpr const char* kAdditionalFunction =
    "qrbase::TemplateMatcherMultipass_Stage_Common::loadAdditionalParametersFromConfigFile";

int debugLevel() {
  return kxutl::QuarlenInformation::debugLevelS.load();
}

// The probe part of probeA as engine 0 sees it: iris blocks go through the decorator first
// (the copy lives in holderA).
const unsigned char* probeData(const TemplateBlockImp* probeA, bool irisA,
                               StageMatchEngine_Base& engineA,
                               std::unique_ptr<TemplateBlockImp>& holderA, unsigned int& sizeA) {
  const TemplateBlockImp* blockL = probeA;
  if (irisA && probeA->algorithm() == qridy::AlgMvxIris2PiSdk) {
    qridy::TemplateBlockIrisDecorator decoratorL(const_cast<TemplateBlockImp*>(probeA), true);
    holderA.reset(decoratorL.untransformIrisCode());
    blockL = holderA.get();
  }
  return engineA.extractRawData(blockL, sizeA, true);
}

void writeMissAnalysis(std::ostream& osA, const TemplateMatcherMultipass_Stage_Common& stageA,
                       std::size_t gallerySizeA, std::size_t kA,
                       const std::vector<NormalisationResult>& resultsA,
                       const std::vector<unsigned char>& keepA, unsigned int probeSlotA) {
  osA << "<stage modality = \"" << QTypes::modality2Text(stageA.modality()) << "\" instance = \""
      << QTypes::instance2Text(stageA.instance()) << "\" algorithm = \""
      << QTypes::algorithm2Text(stageA.algorithm()) << "\" localGallerySize = \"" << gallerySizeA
      << "\" localMaxResultLength = \"" << kA << "\">\n";
  std::vector<std::size_t> orderL(resultsA.size());
  for (std::size_t i = 0; i < orderL.size(); ++i) orderL[i] = i;
  std::stable_sort(orderL.begin(), orderL.end(), [&](std::size_t aA, std::size_t bA) {
    return resultsA[aA].score > resultsA[bA].score;
  });
  std::size_t rankL = 0;
  for (std::size_t i : orderL) {
    const GalleryEntry& entryL = *resultsA[i].entry;
    const qridy::IdentityResult* resultL =
        entryL.metadata != nullptr ? entryL.metadata->getIdentityResult(probeSlotA) : nullptr;
    osA << "\t<record personId = \"" << entryL.idRecordKey().personId << "\" kept = \""
        << (keepA[i] ? "true" : "false") << "\" rawScore = \"" << resultsA[i].score
        << "\" fusedScore = \"";
    if (keepA[i] && resultL != nullptr) {
      osA << resultL->getFusedScore();
    } else {
      osA << "NA";
    }
    osA << "\" rank = \"";
    if (keepA[i]) {
      osA << ++rankL;
    } else {
      osA << "NA";
    }
    osA << "\" />\n";
  }
  osA << "</stage>\n";
}

// Pins the calling thread to processor indexA mod 32; reports a failure on standard error.
// A masked pass over a large gallery whose candidates are the few identities holding a result
// visits their entries alone (found through the stage's position index) instead of reading the
// state of every entry: the same pass, without the walk over the whole gallery.
void restrictToCandidates(std::vector<stageworkers::WorkerData>& workersA,
                          const GalleryEntryData& galleryA, qridy::UniqueMetadataContainer& umcA,
                          unsigned int probeSlotA) {
  if (!stageworkers::candidateWalk() || galleryA.positionIndex == nullptr ||
      galleryA.galleryVec == nullptr || !umcA.sparseCandidates(probeSlotA)) {
    return;
  }
  const std::vector<IdentityMetadata*> candidatesL =
      umcA.getResultContainer(probeSlotA)->registeredMetadata();
  // Looking candidates up costs a few cache misses each; reading every state, about one.
  if (candidatesL.size() * 8 > galleryA.galleryVec->size()) return;
  std::vector<std::uint32_t> positionsL;
  galleryA.positionIndex->galleryPositions(candidatesL, positionsL);
  stageworkers::restrictToCandidates(workersA, galleryA, positionsL);
}

void pinToProcessor(unsigned int indexA) {
  const unsigned int cpuL = indexA % 32;
  if (debugLevel() >= 4) std::printf("wThreadAffinityMask -> 0x%X\n", 1u << cpuL);
  cpu_set_t setL;
  CPU_ZERO(&setL);
  CPU_SET(cpuL, &setL);
  const int errorL = pthread_setaffinity_np(pthread_self(), sizeof(setL), &setL);
  if (errorL != 0) std::cerr << "FAILED TO SET ThreadAffinityMask : " << errorL << std::endl;
}

}  // namespace

TemplateMatcherMultipass_Stage_Common::TemplateMatcherMultipass_Stage_Common(
    qridy::Modality modalityA, qridy::Instance instanceA, Algorithm algorithmA)
    : modalityM(modalityA), instanceM(instanceA), algorithmM(algorithmA) {
  useThreadAffinityM = kxutl::QuarlenInformation::getBoolFromConfigFile(
      "TEMPLATE_MATCHING_MULTIPASS", "useThreadAffinity", false);
  const int countL = kxutl::QuarlenInformation::getIntFromConfigFile("TEMPLATE_MATCHING_MULTIPASS",
                                                                     "maxAlgorithmMatchCount", 0);
  maxAlgorithmMatchCountM = countL > 0 ? static_cast<unsigned int>(countL) : 0;
}

TemplateMatcherMultipass_Stage_Common::~TemplateMatcherMultipass_Stage_Common() = default;

void TemplateMatcherMultipass_Stage_Common::init(const char*, const unsigned&) {}

bool TemplateMatcherMultipass_Stage_Common::isIrisAlgorithm() const {
  return algorithmM == qridy::AlgMvxIris2PiSdk || algorithmM == qridy::AlgDaugman2010;
}

std::string TemplateMatcherMultipass_Stage_Common::notificationSuffix(const char* functionA,
                                                                      int lineA) const {
  std::ostringstream osL;
  osL << " " << QTypes::modality2Text(modalityM) << " " << QTypes::instance2Text(instanceM) << " "
      << QTypes::algorithm2Text(algorithmM) << " [ " << functionA << "@" << lineA;
  return osL.str();
}

bool TemplateMatcherMultipass_Stage_Common::checkProbe(
    const TemplateBlockImp* probeA, const std::vector<StageMatchEngine_Base*>& enginesA,
    const char* functionA, bool anyAlgorithmA) const {
  if (enginesA.empty() || enginesA[0] == nullptr) {
    KXXCP_THROW(functionA, "No match engines for the stage.");
  }
  if (probeA == nullptr) {
    kxntc::error << "Incomming probe is null" << notificationSuffix(functionA, __LINE__);
    kxntc::notify(kxntc::error);
    return false;
  }
  if (probeA->algorithm() != algorithmM && !anyAlgorithmA) {
    KXXCP_THROW(functionA, "probePtrA has not the configured algorithm");
  }
  return true;
}

bool TemplateMatcherMultipass_Stage_Common::checkProbeData(const unsigned char* dataA,
                                                           unsigned int sizeA,
                                                           const char* functionA) const {
  if (dataA != nullptr && sizeA != 0) return true;
  kxntc::error << "Failed to extraxt probedata from given probe"
               << notificationSuffix(functionA, __LINE__);
  kxntc::notify(kxntc::error);
  return false;
}

void TemplateMatcherMultipass_Stage_Common::loadAdditionalParametersFromConfigFile(
    std::vector<StageMatchEngine_Base*>& enginesA, const MatchConfigData& configA) {
  if (!isIrisAlgorithm() || configA.matchmode == nullptr ||
      configA.matchmode->additionalParameters.empty()) {
    return;
  }
  kxutl::IniFile iniL;
  std::istringstream textL(configA.matchmode->additionalParameters);
  iniL.read(textL);
  std::int32_t searchModeL = 0;
  if (iniL.getZNint32("Additional", "searchMode", searchModeL)) {
    if (searchModeL != 8) {
      KXXCP_THROW(kAdditionalFunction,
                  "Additional parameter 'searchMode' has invalid value (should be 8).");
    }
    for (StageMatchEngine_Base* engineL : enginesA) engineL->setParameter(4, 8);
  }
  std::int32_t toleranceL = 0;
  if (iniL.getZNint32("Additional", "superFastAngleToleranceMode", toleranceL)) {
    for (StageMatchEngine_Base* engineL : enginesA) {
      engineL->setParameter(5, static_cast<std::uint32_t>(toleranceL));
    }
  }
}

std::size_t TemplateMatcherMultipass_Stage_Common::candidateCount(
    const MultipassConfig::Matchmode& matchmodeA, std::size_t comparedA, std::size_t uniqueRecordsA,
    int processingA) {
  // Float arithmetic and truncation after adding 0.5, as the configured percentages always were.
  const auto percentL = [](float percentA, std::size_t countA) {
    return static_cast<std::size_t>(percentA / 100.0f * static_cast<float>(countA) + 0.5f);
  };
  const std::size_t localL = percentL(matchmodeA.resultLengthLocalPercent, comparedA);
  const std::size_t globalL = percentL(matchmodeA.resultLengthGlobalPercent, uniqueRecordsA);
  std::size_t kL = std::max<std::size_t>({matchmodeA.resultLengthMin, localL, globalL});
  kL = std::min<std::size_t>({comparedA, matchmodeA.resultLengthMax, kL});
  if (processingA == MultipassConfig::ProcessingParallel) kL = std::min(10 * kL, comparedA);
  return kL;
}

std::size_t TemplateMatcherMultipass_Stage_Common::candidateBound(
    const MultipassConfig::Matchmode& matchmodeA, int processingA) {
  const std::size_t maxL = matchmodeA.resultLengthMax;
  return processingA == MultipassConfig::ProcessingParallel ? 10 * maxL : maxL;
}

float TemplateMatcherMultipass_Stage_Common::divide(NormalisationResult* firstA,
                                                    NormalisationResult* lastA,
                                                    std::size_t& aboveOrEqualA, std::size_t& equalA,
                                                    std::size_t& belowA) {
  const qrcommon::DivideCounts countsL = qrcommon::divide(firstA, lastA);
  aboveOrEqualA = countsL.aboveOrEqual;
  equalA = countsL.equal;
  belowA = countsL.below;
  return countsL.pivot;
}

bool TemplateMatcherMultipass_Stage_Common::searchThreshold(NormalisationResult* resultsA,
                                                            std::size_t nA, std::size_t kA,
                                                            float& thresholdA, std::size_t& equalA,
                                                            std::size_t& aboveOrEqualA) {
  return qrcommon::searchThreshold(resultsA, nA, kA, thresholdA, equalA, aboveOrEqualA);
}

std::size_t TemplateMatcherMultipass_Stage_Common::selectBest(const NormalisationResult* resultsA,
                                                              std::size_t nA, std::size_t kA,
                                                              std::vector<unsigned char>& keepA) {
  return stageworkers::selectBest(resultsA, nA, kA, keepA);
}

void TemplateMatcherMultipass_Stage_Common::identifyTemplate(
    const TemplateBlockImp* probeA, const GalleryEntryData& galleryA,
    std::vector<IdentityMetadata*>& /*metadataA*/, unsigned int probeSlotA,
    std::vector<StageMatchEngine_Base*>& enginesA, MatchConfigData& configA,
    float& matchingSecondsA, float& normalisationSecondsA) {
  matchingSecondsA = 0.0f;
  normalisationSecondsA = 0.0f;
  try {
    // The engines take the stage's additional parameters even when the probe is then refused.
    if (!enginesA.empty() && enginesA[0] != nullptr) {
      loadAdditionalParametersFromConfigFile(enginesA, configA);
    }
    // daugman2010 stages take the probe's iris blocks of any algorithm through the decorator.
    if (!checkProbe(probeA, enginesA, kIdentifyFunction, algorithmM == qridy::AlgDaugman2010)) {
      return;
    }
    std::unique_ptr<TemplateBlockImp> decoratedL;
    unsigned int probeSizeL = 0;
    const unsigned char* probeDataL =
        probeData(probeA, isIrisAlgorithm(), *enginesA[0], decoratedL, probeSizeL);
    if (!checkProbeData(probeDataL, probeSizeL, kIdentifyFunction)) return;
    const stageworkers::PassSettings settingsL = stageworkers::passSettings(
        *this, configA, probeSlotA, galleryA.dataSize, kIdentifyFunction);
    qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;

    const qridy::PersonMaskSelectivity maskL = umcL.usePersonMask(probeSlotA);
    bool useMaskL = false;
    if (maskL == qridy::PersonMaskNone || maskL == qridy::PersonMaskOff) {
      if (debugLevel() >= 3) {
        kxntc::log << "matchThreadMultiFcn_NO_PersonMask";
        kxntc::notify(kxntc::log);
      }
    } else if (maskL == qridy::PersonMaskOn) {
      useMaskL = true;
      if (debugLevel() >= 3) {
        kxntc::log << "matchThreadMultiFcn_use_PersonMask";
        kxntc::notify(kxntc::log);
      }
    } else {
      KXXCP_THROW(kIdentifyFunction, "Unsupported person mask enum value.");
    }

    kxutl::PerfCount clockL;
    const std::size_t galleryCountL =
        galleryA.galleryVec != nullptr ? galleryA.galleryVec->size() : 0;
    std::vector<stageworkers::WorkerData> workersL =
        stageworkers::partition(galleryA, enginesA, settingsL);
    const double partitionSecondsL = clockL.elapsedSec();
    clockL.restart();
    if (galleryCountL == 0) {
      if (debugLevel() >= 3) {
        kxntc::log << "pass skipped" << notificationSuffix(kIdentifyFunction, __LINE__);
        kxntc::notify(kxntc::log);
      }
      return;
    }
    if (useMaskL) restrictToCandidates(workersL, galleryA, umcL, probeSlotA);
    for (StageMatchEngine_Base* engineL : enginesA) {
      engineL->setProbeForIdentification(probeDataL, probeSizeL);
    }
    stageworkers::runWorkers(workersL, useMaskL);
    for (StageMatchEngine_Base* engineL : enginesA) engineL->releaseProbe();
    const double workSecondsL = clockL.elapsedSec();
    matchingSecondsA = static_cast<float>(workSecondsL);
    clockL.restart();

    std::size_t comparedL = 0;
    bool stateChangedL = false;
    std::vector<NormalisationResult> resultsL;
    std::size_t totalL = 0;
    for (const auto& workerL : workersL) totalL += workerL.results.size();
    resultsL.reserve(totalL);
    for (auto& workerL : workersL) {
      comparedL += workerL.compared;
      stateChangedL = stateChangedL || workerL.stateChanged;
      resultsL.insert(resultsL.end(), workerL.results.begin(), workerL.results.end());
    }
    if (debugLevel() >= 3) {
      kxntc::log << "\t--lSel: " << comparedL;
      kxntc::notify(kxntc::log);
    }
    const stageworkers::PassCounts countsL = stageworkers::passCounts(
        configA.shardExchange, comparedL, umcL.numberOfUniqueIdRecords(), 0, resultsL,
        candidateBound(*configA.matchmode, configA.processing));
    const std::size_t kL = candidateCount(*configA.matchmode, countsL.compared, countsL.identities,
                                          configA.processing);
    std::vector<unsigned char> keepL;
    stageworkers::selectBest(resultsL.data(), resultsL.size(), countsL.share(kL), keepL,
                             countsL.ties());
    const double selectSecondsL = clockL.elapsedSec();
    clockL.restart();

    stageworkers::record(resultsL, keepL, settingsL, useMaskL, stateChangedL);
    const double reselectSecondsL = clockL.elapsedSec();

    if (configA.doMissAnalysis) {
      if (debugLevel() >= 2) {
        kxntc::debug << "--doMissanalysisM ";
        kxntc::notify(kxntc::debug);
      }
      if (configA.missAnalysisStream != nullptr) {
        writeMissAnalysis(*configA.missAnalysisStream, *this, galleryCountL, kL, resultsL, keepL,
                          probeSlotA);
      }
    } else if (debugLevel() >= 3) {
      kxntc::log << "(missAn/reduce):off ";
      kxntc::notify(kxntc::log);
    }
    if (debugLevel() >= 3) {
      kxntc::log << "1.) Create partitions       : " << partitionSecondsL << " s (" << galleryCountL
                 << " x " << enginesA.size() << ")\n"
                 << "2.) DoThreadedWork (woSort) : " << workSecondsL << " s\n"
                 << "3.) Sort/threshold          : " << selectSecondsL << " s\n"
                 << "4.) Reselect Persons        : " << reselectSecondsL << " s";
      kxntc::notify(kxntc::log);
    }
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kIdentifyFunction, "Catched kxxcp::Exception: ( " << eA.getMessage() << " )");
  } catch (...) {
    KXXCP_THROW(kIdentifyFunction,
                "Catched unknown exception ( " << QTypes::algorithm2Text(algorithmM) << " )");
  }
}

void TemplateMatcherMultipass_Stage_Common::identifyTemplateBundle(
    const std::vector<const TemplateBlockImp*>& probesA, const GalleryEntryData& galleryA,
    unsigned int probeSlotA, std::vector<std::vector<NormalisationResult>>& resultsA,
    std::vector<StageMatchEngine_Base*>& enginesA, MatchConfigData& configA) {
  if (modalityM != qridy::ModalityIris) {
    KXXCP_THROW(kBundleFunction,
                "This matcher is not for modality : " << QTypes::modality2Text(modalityM));
  }
  if (enginesA.empty() || enginesA[0] == nullptr) {
    KXXCP_THROW(kBundleFunction, "No match engines for the stage.");
  }
  for (const TemplateBlockImp* probeL : probesA) {
    if (probeL == nullptr) {
      KXXCP_THROW(kBundleFunction, "Unexpected, NULL pointer in incomming Probe bundle");
    }
    if (probeL->algorithm() != algorithmM) {
      KXXCP_THROW(kBundleFunction, "This matcher is not for algorithm : "
                                       << QTypes::algorithm2Text(probeL->algorithm()));
    }
  }
  loadAdditionalParametersFromConfigFile(enginesA, configA);
  enginesA[0]->getParameter(5);
  const stageworkers::PassSettings settingsL =
      stageworkers::passSettings(*this, configA, probeSlotA, galleryA.dataSize, kBundleFunction);
  qridy::UniqueMetadataContainer& umcL = *configA.uniqueMetadataContainer;
  if (debugLevel() >= 4 && !useThreadAffinityM) std::printf("wThreadAffinityMask -> false\n");

  // The probe data of every probe, extracted once by engine 0 (copied: the engine may reuse its
  // buffers).
  std::vector<std::vector<unsigned char>> probeDataL(probesA.size());
  for (std::size_t p = 0; p < probesA.size(); ++p) {
    std::unique_ptr<TemplateBlockImp> holderL;
    unsigned int sizeL = 0;
    const unsigned char* dataL = probeData(probesA[p], true, *enginesA[0], holderL, sizeL);
    if (dataL != nullptr) probeDataL[p].assign(dataL, dataL + sizeL);
  }
  std::vector<stageworkers::WorkerData> workersL =
      stageworkers::partition(galleryA, enginesA, settingsL);
  std::vector<std::vector<NormalisationResult>> perWorkerL;
  kxutl::COrvixThreadPool poolL(static_cast<unsigned int>(workersL.size()), workersL.data());
  const bool pinL = useThreadAffinityM;
  resultsA.assign(probesA.size(), {});
  for (std::size_t p = 0; p < probesA.size(); ++p) {
    if (probeDataL[p].empty()) continue;
    for (auto& workerL : workersL) workerL.reset();
    poolL.DoThreadedWork([&](kxutl::ThreadData& threadA) {
      if (pinL && p == 0) pinToProcessor(threadA.threadIndexM);
      stageworkers::WorkerData& workerL = workersL[threadA.threadIndexM];
      workerL.engine->setProbeForIdentification(probeDataL[p].data(),
                                                static_cast<unsigned int>(probeDataL[p].size()));
      stageworkers::scanNoMask(workerL);
      workerL.engine->releaseProbe();
    });
    std::size_t comparedL = 0;
    std::vector<NormalisationResult> allL;
    for (auto& workerL : workersL) {
      comparedL += workerL.compared;
      allL.insert(allL.end(), workerL.results.begin(), workerL.results.end());
    }
    const std::size_t kL = candidateCount(*configA.matchmode, comparedL,
                                          umcL.numberOfUniqueIdRecords(), configA.processing);
    std::vector<unsigned char> keepL;
    stageworkers::selectBest(allL.data(), allL.size(), kL, keepL);
    stageworkers::record(allL, keepL, settingsL, false, false);
    for (std::size_t i = 0; i < allL.size(); ++i) {
      if (keepL[i]) resultsA[p].push_back(allL[i]);
    }
  }
}

float TemplateMatcherMultipass_Stage_Common::verify(const TemplateBlockImp* probeA,
                                                    const TemplateBlockImp* galleryA,
                                                    std::vector<StageMatchEngine_Base*>& enginesA,
                                                    MatchConfigData& configA) {
  if (probeA == nullptr ||
      (probeA->algorithm() != algorithmM && algorithmM != qridy::AlgDaugman2010)) {
    KXXCP_THROW(kVerifyFunction, "probePtrA has not the configured algorithm");
  }
  if (galleryA == nullptr ||
      (galleryA->algorithm() != algorithmM && algorithmM != qridy::AlgDaugman2010)) {
    KXXCP_THROW(kVerifyFunction, "galleryPtrA has not the configured algorithm");
  }
  if (enginesA.empty() || enginesA[0] == nullptr) {
    KXXCP_THROW(kVerifyFunction, "No match engines for the stage.");
  }
  StageMatchEngine_Base& engineL = *enginesA[0];
  std::unique_ptr<TemplateBlockImp> probeHolderL, galleryHolderL;
  const TemplateBlockImp* probeBlockL = probeA;
  const TemplateBlockImp* galleryBlockL = galleryA;
  if (probeA->algorithm() == qridy::AlgMvxIris2PiSdk) {
    qridy::TemplateBlockIrisDecorator decoratorL(const_cast<TemplateBlockImp*>(probeA), true);
    probeHolderL.reset(decoratorL.untransformIrisCode());
    probeBlockL = probeHolderL.get();
  }
  if (galleryA->algorithm() == qridy::AlgMvxIris2PiSdk) {
    qridy::TemplateBlockIrisDecorator decoratorL(const_cast<TemplateBlockImp*>(galleryA), true);
    galleryHolderL.reset(decoratorL.untransformIrisCode());
    galleryBlockL = galleryHolderL.get();
  }
  unsigned int probeSizeL = 0, gallerySizeL = 0;
  const unsigned char* probeDataL = engineL.extractRawData(probeBlockL, probeSizeL, true);
  // Copied: extracting the gallery part may reuse the engine's buffer.
  const std::vector<unsigned char> probeCopyL(probeDataL, probeDataL + probeSizeL);
  const unsigned char* galleryDataL = engineL.extractRawData(galleryBlockL, gallerySizeL, false);
  if (galleryDataL == nullptr || gallerySizeL == 0) {
    KXXCP_THROW(kVerifyFunction, "Gallery sata size of given gallery template is NULL");
  }
  if (probeSizeL == 0) {
    KXXCP_THROW(kVerifyFunction, "Probe data size of given probe template is NULL");
  }
  loadAdditionalParametersFromConfigFile(enginesA, configA);
  return engineL.verify(probeCopyL.data(), probeSizeL, galleryDataL, gallerySizeL);
}

}  // namespace qrbase
