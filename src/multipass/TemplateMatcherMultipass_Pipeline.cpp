#include <quarlen/TemplateMatcherMultipass_Pipeline.h>

#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/PerfCount.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/IdentityResult.h>
#include <quarlen/IdentityResultContainer.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

namespace qrbase {

using QTypes = qridy::Types;

TemplateMatcherMultipass_Pipeline::TemplateMatcherMultipass_Pipeline(const std::string& pipelineIdA,
                                                                     const MultipassConfig& configA,
                                                                     const std::string& settingsA)
    : pipelineIdM(pipelineIdA), settingsM(settingsA), configM(configA) {}

TemplateMatcherMultipass_Pipeline::~TemplateMatcherMultipass_Pipeline() {
  for (auto& [tripleL, identifierL] : identifiersM) delete identifierL;
}

void TemplateMatcherMultipass_Pipeline::setConfig(const MultipassConfig& configA) {
  std::map<qridy::BioMetricTriple, TemplateMatcherMultipass_Stage_Common*> identifiersL;
  try {
    for (const MultipassConfig::Matchmode& stageL : configA.getStages()) {
      std::unique_ptr<TemplateMatcherMultipass_Stage_Common> identifierL(
          PipelineFactory::createIdentifier(stageL));
      identifierL->init(nullptr, 0);
      TemplateMatcherMultipass_Stage_Common*& slotL =
          identifiersL[{stageL.modality, stageL.instance, stageL.algorithm}];
      delete slotL;
      slotL = identifierL.release();
    }
  } catch (...) {
    for (auto& [tripleL, identifierL] : identifiersL) delete identifierL;
    throw;
  }
  for (auto& [tripleL, identifierL] : identifiersM) delete identifierL;
  identifiersM = std::move(identifiersL);
  configM = configA;
}

void TemplateMatcherMultipass_Pipeline::identifyProbeBundle(
    const std::vector<const qridy::IdRecordImp*>&, ThreadStruct&, qridy::ProbeDescriptor*,
    TemplateMatcherMultipass_TemplateContainer*, qridy::UniqueMetadataContainer*,
    std::vector<qridy::ResultTreeList>&) {
  KXXCP_THROW("qrbase::TemplateMatcherMultipass_Pipeline::identifyProbeBundle",
              "Not supported for this pipeline");
}

TemplateMatcherMultipass_Stage_Common* TemplateMatcherMultipass_Pipeline::getIdentifier(
    const qridy::BioMetricTriple& tripleA) const {
  const auto itL = identifiersM.find(tripleA);
  if (itL == identifiersM.end()) {
    KXXCP_THROW("qrbase::TemplateMatcherMultipass_Pipeline::getIdentifier",
                "This stage not specified.");
  }
  return itL->second;
}

void TemplateMatcherMultipass_Pipeline::createNewResultListFromUniqueMetaDataState(
    ThreadStruct& threadA, qridy::UniqueMetadataContainer* metadataA,
    qridy::ResultTreeList& resultsA) {
  createNewResultListFromIdentityResultContainer(threadA, metadataA, resultsA);
}

void TemplateMatcherMultipass_Pipeline::createNewResultListFromIdentityResultContainer(
    ThreadStruct& threadA, qridy::UniqueMetadataContainer* metadataA,
    qridy::ResultTreeList& resultsA) {
  const unsigned int slotL = threadA.threadIndex;
  const std::vector<qridy::IdentityMetadata*> recordsL =
      metadataA->getResultContainer(slotL)->registeredMetadata();
  const std::uint32_t sidMaxL =
      static_cast<std::uint32_t>(std::max(0, kxutl::QuarlenInformation::getIntFromConfigFile(
                                                 "MAX_TEMPLATE_SIZE", "StringIdentifierData", 0)));
  const auto& stagesL = configM.getStages();
  const qridy::Modality modalityL =
      stagesL.empty() ? qridy::ModalityUnknown : stagesL.front().modality;

  std::vector<qridy::ResultIdRecord>& listL = resultsA.resultIdRecordVector();
  listL.clear();
  listL.reserve(recordsL.size());
  for (qridy::IdentityMetadata* metaL : recordsL) {
    const qridy::IdentityResult* resultL = metaL->identityResult(slotL);
    if (resultL == nullptr) continue;
    const qridy::IdRecordKey keyL = metaL->getIdRecordKey();
    qridy::ResultIdRecord recordL(keyL.personId, keyL.transactionId);
    if (metaL->sid() != nullptr) {
      recordL.setSID(reinterpret_cast<const char*>(metaL->sid()), sidMaxL);
    }
    bool placedL = false;
    for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
      // A stage that did not run for this probe holds no score of it.
      if (iL < threadA.stagesRun.size() && !threadA.stagesRun[iL]) continue;
      const MultipassConfig::Matchmode& stageL = stagesL[iL];
      const float scoreL = resultL->getRawScore(qridy::IdentityResult::calculateHashKey(
          stageL.modality, stageL.instance, stageL.algorithm));
      // The lowest float: the record was not scored by this stage.
      if (scoreL == std::numeric_limits<float>::lowest()) continue;
      if (scoreL < std::numeric_limits<float>::lowest()) {
        std::cerr << "createNewResultListFromIdentityResultContainer "
                  << ": Very small scores detected" << QTypes::algorithm2Text(stageL.algorithm)
                  << std::endl;
        continue;
      }
      const bool addL = modalityL == qridy::ModalityFace ||
                        (modalityL == qridy::ModalityFingerprint && scoreL >= 0.0f) ||
                        (modalityL == qridy::ModalityIris && scoreL > 0.0f);
      if (!addL) continue;
      recordL.addScore(stageL.algorithm, resultL->getBestSample(), stageL.modality, stageL.instance,
                       scoreL, true, stageL.useNormalization, stageL.globalWeight,
                       threadA.resultParameter);
      placedL = true;
    }
    if (modalityL == qridy::ModalityIris) placedL = placedL && recordL.getScore() > 0.0f;
    if (placedL) listL.push_back(std::move(recordL));
  }
  const std::size_t placedCountL = listL.size();
  resultsA.sort();
  resultsA.reduceAbsolute(placedCountL);
}

void TemplateMatcherMultipass_Pipeline::selectCandidates(
    ThreadStruct& threadA, const qridy::ProbeDescriptor* descriptorA,
    qridy::UniqueMetadataContainer* metadataA) {
  const unsigned int slotL = threadA.threadIndex;
  kxutl::PerfCount clockL;
  PerformanceRecord& recordL = threadA.queryFilteringPerformance;
  recordL.modality = "All";
  recordL.instance = "-";
  recordL.algorithm = "QueryFiltering";
  qridy::PersonMaskSelectivity maskL = qridy::PersonMaskNone;
  if (descriptorA != nullptr) {
    if (descriptorA->hasQuery()) {
      unsigned int threadsL = configM.getNumberOfStages() != 0
                                  ? static_cast<unsigned int>(configM.getStage(0).nThreads)
                                  : 1u;
      if (maxThreadsPerProbeM < threadsL) threadsL = maxThreadsPerProbeM;
      recordL.threads = threadsL;
      metadataA->processQueryLanguage(slotL, descriptorA->query(), threadsL,
                                      qridy::QueryFilterModeDefault);
      maskL = qridy::PersonMaskOn;
    } else if (descriptorA->hasPersonList()) {
      metadataA->selectByPersonList(slotL, descriptorA->personList(), 0);
      maskL = qridy::PersonMaskOn;
    } else if (descriptorA->hasTransactionList()) {
      metadataA->selectByTransactionList(slotL, descriptorA->transactionList(), 0);
      maskL = qridy::PersonMaskOn;
    }
  }
  metadataA->setUsePersonMask(slotL, maskL);
  ++recordL.probeCount;
  const double secondsL = clockL.elapsedSec();
  recordL.sumIdentifyTime += secondsL;
  recordL.sumStageTime += secondsL;
}

void TemplateMatcherMultipass_Pipeline::prepareSlot(
    const qridy::IdRecordImp* probeA, ThreadStruct& threadA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA, const char* functionA) {
  const auto& stagesL = configM.getStages();
  if (stagesL.empty()) KXXCP_THROW(functionA, "No stages are configured in this pipeline");
  if (probeA == nullptr || containerA == nullptr || metadataA == nullptr) {
    KXXCP_THROW(functionA, "Probe, container or metadata container is NULL");
  }
  const unsigned int slotL = threadA.threadIndex;
  containerA->clearPreloadedStages(slotL);
  metadataA->resetResultContainer(slotL);
  metadataA->setUseFilterScores(slotL, false);
  if (threadA.stagePerformance.size() != stagesL.size()) {
    threadA.stagePerformance.assign(stagesL.size(), PerformanceRecord());
    for (std::size_t iL = 0; iL < stagesL.size(); ++iL) {
      PerformanceRecord& recordL = threadA.stagePerformance[iL];
      recordL.modality = QTypes::modality2Text(stagesL[iL].modality);
      recordL.instance = QTypes::instance2Text(stagesL[iL].instance);
      recordL.algorithm = QTypes::algorithm2Text(stagesL[iL].algorithm);
      recordL.threads = static_cast<unsigned int>(stagesL[iL].nThreads);
    }
  }
  threadA.stagesRun.assign(stagesL.size(), 0);
  threadA.missAnalysis.clear();
}

void TemplateMatcherMultipass_Pipeline::performStages(
    const std::vector<const qridy::TemplateBlockImp*>& blocksA, ThreadStruct& threadA,
    TemplateMatcherMultipass_TemplateContainer* containerA,
    qridy::UniqueMetadataContainer* metadataA) {
  for (std::size_t iL = 0; iL < blocksA.size(); ++iL) {
    if (blocksA[iL] != nullptr) {
      performStage(blocksA[iL], iL, threadA, containerA, metadataA);
    } else if (kxutl::QuarlenInformation::debugLevelS.load() >= 3) {
      const MultipassConfig::Matchmode& stageL = configM.getStage(static_cast<unsigned>(iL));
      kxntc::log << "\t - no probe block for " << QTypes::modality2Text(stageL.modality) << " "
                 << QTypes::instance2Text(stageL.instance) << " "
                 << QTypes::algorithm2Text(stageL.algorithm);
      kxntc::notify(kxntc::log);
    }
  }
}

void TemplateMatcherMultipass_Pipeline::finishIdentification(const qridy::IdRecordImp& probeA,
                                                             ThreadStruct& threadA,
                                                             qridy::ResultTreeList& resultsA,
                                                             std::string& stepA) {
  stepA = "miss analysis results";
  attachMissAnalysis(probeA, threadA, resultsA);
  stepA = "calc performance output";
  writePerformanceLog(threadA, QTypes::modality2Text(configM.getStages().front().modality));
}

void TemplateMatcherMultipass_Pipeline::attachMissAnalysis(const qridy::IdRecordImp& probeA,
                                                           const ThreadStruct& threadA,
                                                           qridy::ResultTreeList& resultsA) const {
  if (!configM.isMissAnalysis()) return;
  std::ostringstream osL;
  osL << "<missAnalysisResult personId = \"" << probeA.personId() << "\">\n"
      << threadA.missAnalysis << "</missAnalysisResult>\n";
  resultsA.setMissAnalysisResult(osL.str());
}

namespace {

// Times below 0.0001 s are written as 0.00001.
std::string seconds(double secondsA) {
  if (secondsA < 0.0001) return "0.00001";
  std::ostringstream osL;
  osL << secondsA;
  return osL.str();
}

void writeRecord(std::ostream& osA, const PerformanceRecord& recordA) {
  const auto fieldL = [&osA](const char* nameA, const std::string& valueA) {
    osA << "\t " << std::left << std::setw(22) << nameA << "=   \"" << valueA << "\"\n";
  };
  osA << "<perf\n";
  fieldL("modality", recordA.modality);
  fieldL("instance", recordA.instance);
  fieldL("algorithm", recordA.algorithm);
  fieldL("threads", std::to_string(recordA.threads));
  fieldL("probeCount", std::to_string(recordA.probeCount));
  fieldL("sumGallerySize", std::to_string(recordA.sumGallerySize));
  fieldL("sumBundleCount", std::to_string(recordA.sumBundleCount));
  fieldL("sumReloadSize", std::to_string(recordA.sumReloadSize));
  fieldL("sumReloadTime", seconds(recordA.sumReloadTime));
  fieldL("sumIdentifyTime", seconds(recordA.sumIdentifyTime));
  fieldL("sumNormalizationTime", seconds(recordA.sumNormalizationTime));
  fieldL("sumOverheadTime", seconds(recordA.sumOverheadTime));
  fieldL("sumStageTime", seconds(recordA.sumStageTime));
  osA << "\t >\n</perf>\n";
}

}  // namespace

std::string TemplateMatcherMultipass_Pipeline::performanceLogPath(
    const ThreadStruct& threadA, const std::string& modalityTextA) {
  const char* dirL = std::getenv("TOLM_COMMON_DIR");
  if (dirL == nullptr || threadA.performanceLogName.empty()) return std::string();
  std::ostringstream pathL;
  pathL << dirL << "/logs/"
        << "kvt.matchingPerformance" << '.' << modalityTextA << '.'
        << kxutl::QuarlenInformation::currentProcessId() << '.' << threadA.performanceLogName
        << "_p0" << threadA.threadIndex << ".xml";
  return pathL.str();
}

void TemplateMatcherMultipass_Pipeline::writePerformanceLog(
    ThreadStruct& threadA, const std::string& modalityTextA) const {
  const std::string pathL = performanceLogPath(threadA, modalityTextA);
  if (pathL.empty()) return;
  std::ofstream osL(pathL, std::ios::trunc);
  if (!osL) {
    kxntc::warning << "Cannot write the performance file " << pathL;
    kxntc::notify(kxntc::warning);
    return;
  }
  osL << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
      << "<?xml-stylesheet type=\"text/xsl\" href=\"kvt.style.matchingPerformance.xsl\"?>\n"
      << "<perfLog>\n"
      << "<settings>\n"
      << "\t<pipelineId>" << pipelineIdM << "</pipelineId>\n"
      << settingsM << "</settings>\n";
  PerformanceRecord overallL;
  overallL.modality = modalityTextA;
  overallL.instance = "-";
  overallL.algorithm = "Overall";
  overallL.probeCount = threadA.queryFilteringPerformance.probeCount;
  const auto addL = [&overallL](const PerformanceRecord& rA) {
    overallL.threads = std::max(overallL.threads, rA.threads);
    overallL.sumGallerySize += rA.sumGallerySize;
    overallL.sumBundleCount += rA.sumBundleCount;
    overallL.sumReloadSize += rA.sumReloadSize;
    overallL.sumReloadTime += rA.sumReloadTime;
    overallL.sumIdentifyTime += rA.sumIdentifyTime;
    overallL.sumNormalizationTime += rA.sumNormalizationTime;
    overallL.sumOverheadTime += rA.sumOverheadTime;
    overallL.sumStageTime += rA.sumStageTime;
  };
  writeRecord(osL, threadA.queryFilteringPerformance);
  addL(threadA.queryFilteringPerformance);
  for (const PerformanceRecord& recordL : threadA.stagePerformance) {
    writeRecord(osL, recordL);
    addL(recordL);
  }
  writeRecord(osL, overallL);
  osL << "</perfLog>\n";
}

}  // namespace qrbase
