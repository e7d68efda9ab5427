#include <quarlen/TemplateMatcherMultipass.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>

#include <qrlcore/Exception.h>
#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline.h>
#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/StepError.h"

namespace qrbase {

namespace {

using kxutl::QuarlenInformation;
using Clock = std::chrono::steady_clock;

constexpr const char* kSection = "TEMPLATE_MATCHING_MULTIPASS";
// More worker threads than this for one stage of one slot is a configuration error, not a wish
// the machine could grant.
constexpr float kMaxThreadsPerStage = 1024.0f;

double secondsSince(Clock::time_point startA) {
  return std::chrono::duration<double>(Clock::now() - startA).count();
}

bool debugAtLeast(int levelA) {
  return QuarlenInformation::debugLevelS.load(std::memory_order_relaxed) >= levelA;
}

void logLine(const std::string& textA) {
  kxntc::log << textA;
  kxntc::notify(kxntc::log);
}

void reportError(const std::string& textA) {
  kxntc::error << textA;
  kxntc::notify(kxntc::error);
}

// The slot index of an identification must name one of the slotCountA slots.
void checkProbeSlot(unsigned int threadIndexA, std::size_t slotCountA, const char* functionA) {
  if (threadIndexA >= slotCountA) {
    KXXCP_THROW(functionA,
                "Given thread index is greater than number of specified threads "
                "(given/max) = ("
                    << threadIndexA << "/" << static_cast<long long>(slotCountA) - 1 << ")");
  }
}

}  // namespace

TemplateMatcherMultipass::TemplateMatcherMultipass(qridy::UniqueMetadataContainer* metadataA)
    : metadataM(metadataA), ownsMetadataM(metadataA == nullptr) {}

TemplateMatcherMultipass::~TemplateMatcherMultipass() {
  const bool logL = debugAtLeast(3);
  auto say = [logL](const char* stepA) {
    if (logL) logLine(std::string("TemplateMatcherMultipass::~TemplateMatcherMultipass ") + stepA);
  };
  say("");
  delete pipelineM;
  pipelineM = nullptr;
  say("Post delete pipeline");
  delete containerM;
  containerM = nullptr;
  say("Post delete container");
  threadStructsM.clear();  // each slot deletes its engines
  say("Post delete engines");
  if (ownsMetadataM) {
    delete metadataM;
    metadataM = nullptr;
    say("Post delete uniqueMetadataContainerPtrM");
  }
}

// --- set-up ----------------------------------------------------------------------------------

void TemplateMatcherMultipass::init(const char* storageIdA, const char* templateDataFolderA,
                                    unsigned int, bool recoverA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::init";
  if (!threadStructsM.empty()) {
    KXXCP_THROW(kFunction, "TemplateMatcherMultipass is already initialized.");
  }
  // Everything is built aside and taken over only when all of it succeeded: a failed init leaves
  // the matcher as it was (and may be repeated).
  std::vector<ThreadStruct> slotsL;
  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> containerL;
  std::unique_ptr<qridy::UniqueMetadataContainer> ownMetadataL;
  qridy::UniqueMetadataContainer* metadataL = metadataM;
  try {
    const int slotCountL =
        QuarlenInformation::getIntFromConfigFile(kSection, "maxNumberOfParallelProbes");
    if (slotCountL < 1 || slotCountL > 1024) {
      KXXCP_THROW(kFunction,
                  "maxNumberOfParallelProbes must be from 1 to 1024: '" << slotCountL << "'");
    }
    slotsL.reserve(static_cast<std::size_t>(slotCountL));
    for (int i = 0; i < slotCountL; ++i) {
      slotsL.emplace_back(static_cast<unsigned int>(i));
      slotsL.back().resultParameter.readFromQuarlenIni();
    }
    if (debugAtLeast(3)) {
      logLine(storageIdA != nullptr
                  ? std::string("  - TemplateMatcherMultipass::init storageId: = ") + storageIdA
                  : std::string("  - TemplateMatcherMultipass::init no storage id given."));
    }
    if (storageIdA != nullptr) {
      containerL = std::make_unique<TemplateMatcherMultipass_TemplateContainer>(storageIdA);
      if (templateDataFolderA != nullptr) containerL->setStorageFolder(templateDataFolderA);
      if (recoverA && !containerL->templateCachePresent()) {
        containerL.reset();
        KXXCP_THROW_CODE(kFunction, 515, "Failed to recover gallery, no cache found.");
      }
      if (metadataL == nullptr) {
        ownMetadataL = std::make_unique<qridy::UniqueMetadataContainer>(containerL->modality());
        metadataL = ownMetadataL.get();
      }
      containerL->init(static_cast<unsigned int>(slotsL.size()), recoverA, metadataL);
      metadataL->setFidFileFolder(containerL->storageFolder(), true);
      if (recoverA) {
        const Clock::time_point startL = Clock::now();
        containerL->recoverGallery(slotsL[0]);
        if (debugAtLeast(3)) {
          std::ostringstream osL;
          osL << "UniqueMetadataContainer Recoverd > time: " << secondsSince(startL);
          logLine(osL.str());
        }
      }
      metadataL->reserve(containerL->reserveSpaceForUniqueMetaDataContainer());
    }
  } catch (...) {
    rethrowFromStep(kFunction, "");
  }
  threadStructsM = std::move(slotsL);
  if (containerL) {
    templateDataFolderM = containerL->storageFolder();
    configIdM = storageIdA;
  }
  containerM = containerL.release();
  if (ownMetadataL) {
    metadataM = ownMetadataL.release();
    ownsMetadataM = true;
  }
}

void TemplateMatcherMultipass::addMatchingPipeline(const std::string& pipelineIdA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::addMatchingPipeline";
  if (threadStructsM.empty()) {
    KXXCP_THROW(kFunction, "failed to addMatchingPipeline, not initialized");
  }
  if (pipelineM != nullptr) {
    KXXCP_THROW(kFunction, "A matching pipeline was already added (section : "
                               << pipelineM->pipelineId() << ").");
  }
  const std::string pathL = QuarlenInformation::getStdStringFromConfigFile(kSection, "XmlFile");
  MultipassConfig configL;
  try {
    configL.read(pathL, pipelineIdA);
  } catch (const kxxcp::Exception& eA) {
    KXXCP_THROW(kFunction, "kxxcp exc caught:" << eA.getMessage());
  }
  // The configuration is checked before the pipeline is made, so that a section mixing
  // modalities is named as such whatever pipeline class it would have chosen.
  const std::vector<MultipassConfig::Matchmode>& stagesL = configL.getStages();
  if (stagesL.empty()) {
    KXXCP_THROW(kFunction, "No passes are configured in section : " << pipelineIdA << ".");
  }
  const qridy::Modality firstL = stagesL[0].modality;
  for (std::size_t i = 1; i < stagesL.size(); ++i) {
    if (stagesL[i].modality != firstL) {
      KXXCP_THROW(kFunction, "Specify the same modality form all stages (section:"
                                 << pipelineIdA << ")."
                                 << "First modality is " << qridy::Types::modality2Text(firstL)
                                 << ". Current modality (" << i << ") is "
                                 << qridy::Types::modality2Text(stagesL[i].modality));
    }
  }
  for (std::size_t i = 0; i < stagesL.size(); ++i) {
    const float nL = stagesL[i].nThreads;
    if (!(nL >= 1.0f && nL <= kMaxThreadsPerStage)) {
      KXXCP_THROW(kFunction, "nThreads of stage " << i << " must be from 1 to "
                                                  << kMaxThreadsPerStage << ": '" << nL << "'");
    }
  }

  std::unique_ptr<TemplateMatcherMultipass_Pipeline> pipelineL(
      PipelineFactory::createPipeline(configL, pipelineIdA));
  pipelineL->setConfig(configL);
  if (perflogMaxThreadsPerProbeM >= 0) {
    pipelineL->setMaxThreadsPerProbe(static_cast<unsigned int>(perflogMaxThreadsPerProbeM));
  }
  // The engines are made before anything is registered: an algorithm without an engine leaves
  // the matcher without pipeline, as before.
  for (const MultipassConfig::Matchmode& m : stagesL) {
    createSharedMatchEngines(m.modality, m.instance, m.algorithm,
                             static_cast<unsigned int>(m.nThreads));
  }
  if (metadataM == nullptr) {
    metadataM = new qridy::UniqueMetadataContainer(firstL);
    ownsMetadataM = true;
  }
  const bool logL = debugAtLeast(2);
  if (logL) logLine("addMatchingPipeline : " + pipelineIdA);
  for (std::size_t i = 0; i < stagesL.size(); ++i) {
    const MultipassConfig::Matchmode& m = stagesL[i];
    if (logL) {
      std::ostringstream osL;
      osL << " - stage " << i << "\t -> "
          << qridy::Types::bioTriple2Text({m.modality, m.instance, m.algorithm});
      logLine(osL.str());
    }
    metadataM->initAddNewTripple(m.modality, m.instance, m.algorithm, static_cast<unsigned int>(i));
  }
  pipelineL->setShardExchange(shardExchangeM);
  pipelineM = pipelineL.release();
}

void TemplateMatcherMultipass::setShardExchange(ShardExchange* exchangeA) {
  shardExchangeM = exchangeA;
  if (pipelineM != nullptr) pipelineM->setShardExchange(exchangeA);
}

void TemplateMatcherMultipass::createSharedMatchEngines(qridy::Modality, qridy::Instance,
                                                        qridy::Algorithm algorithmA,
                                                        unsigned int countA) {
  for (ThreadStruct& slotL : threadStructsM) {
    std::vector<qridy::StageMatchEngine_Base*>& enginesL = slotL.sharedMatchEngines[algorithmA];
    while (enginesL.size() < countA) {
      std::unique_ptr<qridy::StageMatchEngine_Base> engineL(
          qridy::StageMatchEngine_Base::createStageEngine(algorithmA));
      enginesL.push_back(engineL.get());
      engineL.release();
    }
  }
}

std::vector<qridy::StageMatchEngine_Base*>& TemplateMatcherMultipass::getSharedMatchEngines(
    qridy::Algorithm algorithmA, ThreadStruct& threadA) {
  return threadA.sharedMatchEngines[algorithmA];
}

std::uint64_t TemplateMatcherMultipass::calculateHashKey(qridy::Modality modalityA,
                                                         qridy::Instance instanceA,
                                                         qridy::Algorithm algorithmA) {
  return (((static_cast<std::uint64_t>(instanceA) << 16) + static_cast<std::uint64_t>(modalityA))
          << 32) +
         static_cast<std::uint64_t>(algorithmA);
}

// --- enrolment and removal -------------------------------------------------------------------

void TemplateMatcherMultipass::addIdRecord(const qridy::IdRecordImp* recordA,
                                           const qridy::QueryLanguage* queryA, bool flagA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::addIdRecord";
  if (containerM == nullptr || metadataM == nullptr) {
    KXXCP_THROW(kFunction, "failed to addIdRecord, not initialize");
  }
  if (recordA == nullptr) KXXCP_THROW(kFunction, "Failed to add IdRecord: the record is NULL.");
  if (!recordA->containsOnlyOneSamplePerInstance()) {
    KXXCP_THROW_CODE(kFunction, 1,
                     "Failed to add IdRecord: IdRecords with multiple samples per instance are "
                     "not supported.");
  }
  containerM->addIdRecord(recordA, queryA, this, threadStructsM[0], flagA);
}

bool TemplateMatcherMultipass::destroyIdRecord(const qridy::IdRecordKey& keyA) {
  if (containerM == nullptr || metadataM == nullptr) {
    reportError("destroyIdRecord - failed to remove IdRecord, not initialized");
    return false;
  }
  bool okL = true;
  // The registry goes first: a removal that is cut short leaves gallery data without identity,
  // which recovery clears, never an identity without its data.
  if (ownsMetadataM && !metadataM->removeIdRecordKey(keyA)) {
    reportError("destroyIdRecord - failed to remove IdRecordKey");
    okL = false;
  }
  if (!containerM->destroyIdRecord(keyA)) {
    std::ostringstream osL;
    osL << "destroyIdRecord - failed to remove IdRecord\n   Person id " << keyA.personId
        << "\n   Transaction id " << keyA.transactionId;
    reportError(osL.str());
    okL = false;
  }
  return okL;
}

bool TemplateMatcherMultipass::destroyIdRecords(unsigned long long personIdA) {
  if (containerM == nullptr || metadataM == nullptr) {
    reportError("destroyIdRecord - failed to remove IdRecord, not initialized");
    return false;
  }
  bool okL = true;
  for (const qridy::IdRecordKey& keyL : metadataM->getIdRecordKeysByPid(personIdA)) {
    okL = destroyIdRecord(keyL) && okL;
  }
  // Records of the person the registry no longer names (a registry supplied by the caller).
  return containerM->destroyIdRecords(personIdA) && okL;
}

std::size_t TemplateMatcherMultipass::destroyIdRecordsByQueryLanguage(const unsigned int* queryA) {
  if (containerM == nullptr || metadataM == nullptr) {
    reportError("destroyIdRecord - failed to remove IdRecord, not initialized");
    return 0;
  }
  const Clock::time_point startL = Clock::now();
  std::vector<qridy::IdRecordKey> keysL;
  metadataM->getIdsByQueryLanguage(0, queryA, keysL);
  std::size_t removedL = 0;
  for (const qridy::IdRecordKey& keyL : keysL) removedL += destroyIdRecord(keyL) ? 1 : 0;
  if (debugAtLeast(5)) {
    std::ostringstream osL;
    osL << "destroyIdRecords( queryPtrA ) time : " << secondsSince(startL);
    logLine(osL.str());
  }
  return removedL;
}

std::size_t TemplateMatcherMultipass::destroyIdRecordsByQueryLanguage(const unsigned int* queryA,
                                                                      std::size_t countA) {
  qridy::QueryLanguage::validateQuery(queryA, countA);
  return destroyIdRecordsByQueryLanguage(queryA);
}

void TemplateMatcherMultipass::deleteThreadFcn(ThreadData& dataA) {
  dataA.ok = false;
  dataA.error.clear();
  try {
    if (dataA.stage != nullptr &&
        !dataA.stage->getGalleryEntriesByIdRecordKey({dataA.key}).empty() &&
        !dataA.stage->destroyIdRecord(dataA.key)) {
      dataA.error = "deleteThreadFcn - failed to destroy IdRecord from a memory stage";
      return;
    }
    if (dataA.fidFile != nullptr && !dataA.fidFile->clear(dataA.key)) {
      dataA.error = "deleteThreadFcn - failed to clear IdRecord from a FID file";
      return;
    }
    dataA.ok = true;
  } catch (const std::exception& eA) {
    dataA.error = eA.what();
  } catch (...) {
    std::ostringstream osL;
    osL << "deleteThreadFcn throws an unknwon exception when deleting record with the idRecordKey "
           "'("
        << dataA.key.personId << ", " << dataA.key.transactionId << ")'";
    dataA.error = osL.str();
  }
}

// --- identification --------------------------------------------------------------------------

void TemplateMatcherMultipass::identifyTransaction(const qridy::IdRecordImp* probeA,
                                                   unsigned int threadIndexA,
                                                   qridy::ResultTreeList& resultsA,
                                                   qridy::ProbeDescriptor* descriptorA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::identifyTransaction";
  if (probeA == nullptr) KXXCP_THROW(kFunction, "Probe IdRecord is NULL.");
  if (!probeA->containsOnlyOneSamplePerInstance()) {
    KXXCP_THROW_CODE(kFunction, 1,
                     "Probe IdRecords with multiple samples per instance are not supported.");
  }
  checkProbeSlot(threadIndexA, threadStructsM.size(), kFunction);
  identifyTransactionPrivate(probeA, threadIndexA, resultsA, descriptorA);
}

void TemplateMatcherMultipass::identifyTransactionPrivate(const qridy::IdRecordImp* probeA,
                                                          unsigned int threadIndexA,
                                                          qridy::ResultTreeList& resultsA,
                                                          qridy::ProbeDescriptor* descriptorA) {
  static const char* const kFunction =
      "qrbase::TemplateMatcherMultipass::identifyTransactionPrivate";
  if (pipelineM == nullptr) {
    KXXCP_THROW(kFunction, "Cannot perform identification (no pipeline was added).");
  }
  if (containerM == nullptr) {
    KXXCP_THROW(kFunction, "Cannot perform identification (no gallery, init without storage id).");
  }
  const char* stepL = "begin";
  try {
    pipelineM->identifyTransactionPrivate(probeA, threadStructsM[threadIndexA], descriptorA,
                                          containerM, metadataM, resultsA);
  } catch (...) {
    rethrowFromStep(kFunction, stepL);
  }
}

void TemplateMatcherMultipass::identifyProbeBundle(
    const std::vector<const qridy::IdRecordImp*>& probesA, unsigned int threadIndexA,
    std::vector<qridy::ResultTreeList>& resultsA, qridy::ProbeDescriptor* descriptorA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::identifyProbeBundle";
  if (pipelineM == nullptr) {
    KXXCP_THROW(kFunction, "Cannot perform identification (no pipeline was added).");
  }
  if (containerM == nullptr) {
    KXXCP_THROW(kFunction, "Cannot perform identification (no gallery, init without storage id).");
  }
  checkProbeSlot(threadIndexA, threadStructsM.size(), kFunction);
  for (const qridy::IdRecordImp* probeL : probesA) {
    if (probeL == nullptr)
      KXXCP_THROW(kFunction, "Unexpected, NULL pointer in incomming Probe bundle");
    if (!probeL->containsOnlyOneSamplePerInstance()) {
      KXXCP_THROW_CODE(kFunction, 1,
                       "Probe IdRecords with multiple samples per instance are not supported.");
    }
  }
  pipelineM->identifyProbeBundle(probesA, threadStructsM[threadIndexA], descriptorA, containerM,
                                 metadataM, resultsA);
}

// --- verification ----------------------------------------------------------------------------

qridy::ResultIdRecord TemplateMatcherMultipass::verify(const qridy::IdRecordImp* probeA,
                                                       const qridy::IdRecordImp* galleryA,
                                                       const MultipassConfig* configA) {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::verify";
  if (threadStructsM.empty()) KXXCP_THROW(kFunction, "failed to verify, not initialized");
  if (probeA == nullptr || galleryA == nullptr) {
    KXXCP_THROW(kFunction, "Probe or Gallery pointer is NULL");
  }
  if (debugAtLeast(8)) {
    std::string probeTextL, galleryTextL;
    probeA->validate(probeTextL);
    galleryA->validate(galleryTextL);
    logLine("Validate Probe IdRecord : \n" + probeTextL);
    logLine("Validate Gallery IdRecord : \n" + galleryTextL);
  }
  const MultipassConfig* configL =
      configA != nullptr ? configA : (pipelineM != nullptr ? &pipelineM->config() : nullptr);
  if (configL == nullptr) {
    KXXCP_THROW(kFunction, "failed to verify, no configuration given and no pipeline was added");
  }
  const qridy::IdRecordKey galleryKeyL = galleryA->idRecordKey();
  qridy::ResultIdRecord resultL(galleryKeyL.personId, galleryKeyL.transactionId);
  ThreadStruct& slotL = threadStructsM[0];
  bool anyL = false;
  for (const MultipassConfig::Matchmode& m : configL->getStages()) {
    const qridy::BioMetricTriple tripleL{m.modality, m.instance, m.algorithm};
    // The pipeline's identifier of the triple, or one made for this call (a configuration of
    // the caller may name triples the pipeline does not have).
    std::unique_ptr<TemplateMatcherMultipass_Stage_Common> ownIdentifierL;
    TemplateMatcherMultipass_Stage_Common* identifierL = nullptr;
    if (pipelineM != nullptr) {
      const auto itL = pipelineM->identifiers().find(tripleL);
      if (itL != pipelineM->identifiers().end()) identifierL = itL->second;
    }
    std::vector<qridy::StageMatchEngine_Base*>& enginesL =
        getSharedMatchEngines(m.algorithm, slotL);
    bool foundL = false;
    float bestL = 0.0f;
    KXuint128 bestSampleL{};
    for (const qridy::TemplateKey& probeKeyL : probeA->getTemplateKeys(m.modality, m.instance)) {
      const qridy::TemplateBlockImp* probeBlockL =
          probeA->getTemplateBlock(probeKeyL, m.algorithm, false);
      if (probeBlockL == nullptr) continue;
      const bool probeUsableL = probeBlockL->probeSize() > 0 ||
                                (m.algorithm == qridy::AlgL2fi && probeBlockL->gallerySize() > 0);
      if (!probeUsableL) continue;
      for (const qridy::TemplateKey& galleryKeyL2 :
           galleryA->getTemplateKeys(m.modality, m.instance)) {
        const qridy::TemplateBlockImp* galleryBlockL =
            galleryA->getTemplateBlock(galleryKeyL2, m.algorithm, false);
        if (galleryBlockL == nullptr || galleryBlockL->gallerySize() == 0) continue;
        if (identifierL == nullptr) {
          ownIdentifierL.reset(TemplateMatcherMultipass_Stage_Common::createIdentifier(m));
          ownIdentifierL->init(nullptr, 0);
          identifierL = ownIdentifierL.get();
        }
        if (enginesL.empty()) {
          createSharedMatchEngines(m.modality, m.instance, m.algorithm, 1);
        }
        MatchConfigData dataL;
        dataL.uniqueMetadataContainer = metadataM;
        dataL.matchmode = &m;
        dataL.processing = configL->getProcessing();
        const float scoreL = identifierL->verify(probeBlockL, galleryBlockL, enginesL, dataL);
        if (debugAtLeast(3)) {
          std::ostringstream osL;
          osL << "   - score     : (" << qridy::Types::bioTriple2Text(tripleL) << ") " << scoreL;
          logLine(osL.str());
        }
        if (!foundL || scoreL > bestL) {
          bestL = scoreL;
          bestSampleL = galleryKeyL2.sampleId;
        }
        foundL = true;
      }
    }
    if (!foundL) continue;
    if (debugAtLeast(3)) {
      std::ostringstream osL;
      osL << "   - score max : (" << qridy::Types::bioTriple2Text(tripleL) << ") " << bestL;
      logLine(osL.str());
    }
    resultL.addScore(m.algorithm, bestSampleL, m.modality, m.instance, bestL, true, false,
                     m.globalWeight, slotL.resultParameter);
    anyL = true;
  }
  if (!anyL) {
    reportError("The current algorithm was not specified in storage file. !");
    return resultL;
  }
  if (debugAtLeast(3)) {
    std::ostringstream osL;
    osL << " Log Far score  " << resultL.getScore();
    logLine(osL.str());
  }
  return resultL;
}

// --- query processing ------------------------------------------------------------------------

void TemplateMatcherMultipass::checkQueryThreadIndex(unsigned int threadIndexA,
                                                     const char* functionA) const {
  if (threadIndexA >= threadStructsM.size()) {
    KXXCP_THROW(functionA, "Given thread index > than number of specified threads (given/max) = ("
                               << threadIndexA << "/" << threadStructsM.size() << ")");
  }
  if (metadataM == nullptr) {
    KXXCP_THROW(functionA, "failed to process the query, not initialized");
  }
}

unsigned int TemplateMatcherMultipass::queryThreadCount() const {
  unsigned int countL = 1;
  if (pipelineM != nullptr && pipelineM->config().getNumberOfStages() > 0) {
    countL = static_cast<unsigned int>(pipelineM->config().getStage(0).nThreads);
  }
  if (perflogMaxThreadsPerProbeM >= 0) {
    countL = std::min(countL, static_cast<unsigned int>(perflogMaxThreadsPerProbeM));
  }
  return std::max(countL, 1u);
}

void TemplateMatcherMultipass::processQueryLanguage(unsigned int threadIndexA,
                                                    const unsigned int* queryA,
                                                    qridy::QueryFilterMode modeA) {
  checkQueryThreadIndex(threadIndexA, "qrbase::TemplateMatcherMultipass::processQueryLanguage");
  const Clock::time_point startL = Clock::now();
  metadataM->processQueryLanguage(threadIndexA, queryA, queryThreadCount(), modeA);
  PerformanceRecord& recordL = threadStructsM[threadIndexA].queryFilteringPerformance;
  recordL.modality = "All";
  recordL.instance = "-";
  recordL.algorithm = "QueryFiltering";
  recordL.threads = queryThreadCount();
  ++recordL.probeCount;
  recordL.sumStageTime += secondsSince(startL);
}

void TemplateMatcherMultipass::processQueryLanguage(unsigned int threadIndexA,
                                                    const unsigned int* queryA, std::size_t countA,
                                                    qridy::QueryFilterMode modeA) {
  qridy::QueryLanguage::validateQuery(queryA, countA);
  processQueryLanguage(threadIndexA, queryA, modeA);
}

void TemplateMatcherMultipass::resetQueryLanguageAndIdentityResult(unsigned int threadIndexA,
                                                                   bool selectedA) {
  checkQueryThreadIndex(threadIndexA,
                        "qrbase::TemplateMatcherMultipass::resetQueryLanguageAndIdentityResult");
  metadataM->resetQueryLanguageAndIdentityResult(threadIndexA, selectedA);
}

// --- queries ---------------------------------------------------------------------------------

MultipassConfig TemplateMatcherMultipass::getMultipassConfig() const {
  return pipelineM != nullptr ? pipelineM->config() : MultipassConfig();
}

std::size_t TemplateMatcherMultipass::numberOfPersons() const {
  return metadataM != nullptr ? metadataM->numberOfUniquePersons() : 0;
}

std::size_t TemplateMatcherMultipass::numberOfIdRecords() const {
  return metadataM != nullptr ? metadataM->numberOfUniqueIdRecords() : 0;
}

std::size_t TemplateMatcherMultipass::numberOfTemplates(qridy::Modality modalityA,
                                                        qridy::Instance instanceA,
                                                        qridy::Algorithm algorithmA) const {
  return containerM != nullptr ? containerM->numberOfTemplates({modalityA, instanceA, algorithmA})
                               : 0;
}

bool TemplateMatcherMultipass::exists(const qridy::IdRecordKey& keyA) const {
  return metadataM != nullptr && metadataM->getMetaDataByIdRecordKey(keyA) != nullptr;
}

bool TemplateMatcherMultipass::exists(unsigned long long personIdA) const {
  return metadataM != nullptr && !metadataM->getIdRecordKeysByPid(personIdA).empty();
}

qridy::IdRecordImp* TemplateMatcherMultipass::getIdRecord(const qridy::IdRecordKey& keyA,
                                                          bool flagA) const {
  return containerM != nullptr ? containerM->getIdRecord(keyA, flagA) : nullptr;
}

const qridy::QueryLanguage* TemplateMatcherMultipass::getQueryLanguageData(
    const qridy::IdRecordKey& keyA) const {
  const qridy::IdentityMetadata* metaL =
      metadataM != nullptr ? metadataM->getMetaDataByIdRecordKey(keyA) : nullptr;
  return metaL != nullptr ? &metaL->queryLanguage() : nullptr;
}

unsigned int TemplateMatcherMultipass::getMasterChecksum() {
  return containerM != nullptr ? containerM->getMasterChecksum() : 0;
}

bool TemplateMatcherMultipass::galleryStatus(int intensityA, std::string& reportA) {
  if (containerM == nullptr) {
    reportA = "<galleryStatus>\n\t<error text=\"not initialized\" />\n</galleryStatus>\n";
    return false;
  }
  return containerM->galleryStatus(intensityA, reportA);
}

int TemplateMatcherMultipass::recoverGallery() {
  static const char* const kFunction = "qrbase::TemplateMatcherMultipass::recoverGallery";
  if (containerM == nullptr) KXXCP_THROW(kFunction, "failed to recover gallery, not initialized");
  const Clock::time_point startL = Clock::now();
  const int pushedL = containerM->recoverGallery(threadStructsM[0]);
  if (debugAtLeast(3)) {
    std::ostringstream osL;
    osL << "UniqueMetadataContainer Recoverd > time: " << secondsSince(startL);
    logLine(osL.str());
  }
  return pushedL;
}

void TemplateMatcherMultipass::clear() {
  if (containerM == nullptr || metadataM == nullptr) return;
  std::vector<qridy::IdRecordKey> keysL;
  for (const qridy::IdentityMetadata* metaL : metadataM->getInternalMetadataVector()) {
    keysL.push_back(metaL->getIdRecordKey());
  }
  for (const qridy::IdRecordKey& keyL : keysL) destroyIdRecord(keyL);
}

bool TemplateMatcherMultipass::clearTemplateDataFolder() {
  // The files stay (the gallery keeps them open); what they hold is removed record by record,
  // so that the folder afterwards holds an empty gallery that recovers as such.
  bool okL = containerM != nullptr && metadataM != nullptr;
  if (okL) {
    clear();
    okL = metadataM->size() == 0 && containerM->writeToHarddisk();
  }
  if (debugAtLeast(3))
    logLine(std::string("ClearTemplateDataFolder STATUS : ") + (okL ? "1" : "0"));
  return okL;
}

void TemplateMatcherMultipass::dump(std::ostream& osA) const {
  if (metadataM != nullptr) metadataM->dump(osA);
  if (containerM != nullptr) containerM->dump(osA);
}

void TemplateMatcherMultipass::dumpBinary(std::ostream& osA) const {
  if (metadataM != nullptr) metadataM->dumpBinary(osA);
}

void TemplateMatcherMultipass::dumpShortBinary(std::ostream& osA) const {
  if (metadataM != nullptr) metadataM->dumpShortBinary(osA);
}

void TemplateMatcherMultipass::info(std::ostream& osA) const {
  osA << "<TemplateMatcherMultipass storageId=\"" << configIdM << "\" folder=\""
      << templateDataFolderM << "\" probeSlots=\"" << threadStructsM.size() << "\" records=\""
      << numberOfIdRecords() << "\">\n";
  if (pipelineM != nullptr) pipelineM->config().info(osA);
  osA << "</TemplateMatcherMultipass>\n";
}

// --- performance logging ---------------------------------------------------------------------

void TemplateMatcherMultipass::setPerflogFilename(const std::string& nameA) {
  for (ThreadStruct& slotL : threadStructsM) {
    slotL.performanceLogName = nameA + "_p" + std::to_string(slotL.threadIndex);
  }
}

void TemplateMatcherMultipass::setPerflogNumberOfMaxThreadsPerProbe(int capA) {
  perflogMaxThreadsPerProbeM = capA;
  if (pipelineM != nullptr) {
    pipelineM->setMaxThreadsPerProbe(capA < 0 ? TemplateMatcherMultipass_Pipeline::kNoThreadCap
                                              : static_cast<unsigned int>(capA));
  }
}

}  // namespace qrbase
