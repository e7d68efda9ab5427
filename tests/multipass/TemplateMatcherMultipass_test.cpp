#include <quarlen/TemplateMatcherMultipass.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/ExampleConfig.h"
#include "support/ExceptionMatchers.h"
#include "support/RecordBytes.h"
#include "support/SyntheticRecords.h"

namespace qrbase {
namespace {

using namespace qridy;
using quarlen_test::ExampleConfig;
using quarlen_test::syntheticFaceRecord;
using quarlen_test::syntheticIrisRecord;

const BioMetricTriple kHgmFloat{ModalityFace, InstanceFaceFrontal, AlgHgmFloat};
const BioMetricTriple kHgmByte{ModalityFace, InstanceFaceFrontal, AlgHgmByte};

// Every notification entry, with its channel, while it lives.
class CapturedNotifications {
 public:
  CapturedNotifications() {
    previousM = kxntc::setSink([this](kxntc::Level levelA, const std::string& textA) {
      entries.push_back({levelA, textA});
    });
  }
  ~CapturedNotifications() { kxntc::setSink(previousM); }
  std::vector<std::string> texts(kxntc::Level levelA) const {
    std::vector<std::string> rL;
    for (const auto& [levelL, textL] : entries) {
      if (levelL == levelA) rL.push_back(textL);
    }
    return rL;
  }
  std::vector<std::pair<kxntc::Level, std::string>> entries;

 private:
  kxntc::Sink previousM;
};

class DebugLevel {
 public:
  explicit DebugLevel(int levelA) : previousM(kxutl::QuarlenInformation::debugLevelS) {
    kxutl::QuarlenInformation::debugLevelS = levelA;
  }
  ~DebugLevel() { kxutl::QuarlenInformation::debugLevelS = previousM; }

 private:
  int previousM;
};

// The error a statement throws (message, function and code).
kxxcp::Exception thrown(const std::function<void()>& statementA) {
  try {
    statementA();
  } catch (const kxxcp::Exception& eA) {
    return eA;
  }
  return kxxcp::Exception("nothing thrown", "", 0, "");
}

// A query-language record whose attribute 1 is groupA.
QueryLanguage queryRecord(std::uint64_t transactionA, unsigned groupA) {
  QueryLanguage qL;
  const unsigned valuesL[4] = {groupA, 0, 0, 0};
  qL.setAttributes(transactionA, valuesL);
  return qL;
}

class MatcherTest : public ::testing::Test {
 protected:
  MatcherTest() { QueryLanguage::setAttributeSize(4); }

  std::unique_ptr<TemplateMatcherMultipass> makeMatcher(bool recoverA = false) {
    auto mL = std::make_unique<TemplateMatcherMultipass>();
    mL->init("face", nullptr, 0, recoverA);
    return mL;
  }
  // Persons 1, 1, 2, 3, 4, 5 (transactions 10 .. 15); attribute 1 is the transaction's parity.
  void enrolSix(TemplateMatcherMultipass& mA) {
    const std::uint64_t personsL[6] = {1, 1, 2, 3, 4, 5};
    for (std::uint64_t i = 0; i < 6; ++i) {
      const QueryLanguage qL = queryRecord(10 + i, (10 + i) % 2);
      mA.addIdRecord(syntheticFaceRecord(personsL[i], 10 + i, 100 + i, 0).get(), &qL, false);
    }
  }

  ExampleConfig configM;
};

// --- hash key --------------------------------------------------------------------------------

TEST(MatcherHashKeyTest, InstanceModalityAndAlgorithmHaveTheirOwnBits) {
  EXPECT_EQ(TemplateMatcherMultipass::calculateHashKey(ModalityFace, InstanceFaceFrontal,
                                                       static_cast<Algorithm>(21)),
            0x000B000100000015ull);
  EXPECT_EQ(TemplateMatcherMultipass::calculateHashKey(static_cast<Modality>(0xFFFF),
                                                       static_cast<Instance>(0xFFFF),
                                                       static_cast<Algorithm>(0xFFFFFFFFu)),
            0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(TemplateMatcherMultipass::calculateHashKey(ModalityIris, InstanceIrisLeft, AlgUnknown),
            (static_cast<std::uint64_t>(InstanceIrisLeft) << 48) + (3ull << 32) + 255);
}

// --- initialisation --------------------------------------------------------------------------

TEST_F(MatcherTest, InitMakesTheSlotsTheGalleryAndTheRegistry) {
  auto mL = makeMatcher();
  EXPECT_EQ(mL->getMaxNumberOfParallelProbes(), 4u);
  ASSERT_EQ(mL->probeSlots().size(), 4u);
  for (unsigned i = 0; i < 4; ++i) {
    EXPECT_EQ(mL->probeSlots()[i].threadIndex, i);
    EXPECT_TRUE(mL->probeSlots()[i].resultParameter.isInitialised());
  }
  EXPECT_EQ(mL->getConfigId(), "face");
  EXPECT_EQ(mL->getTemplateDataFolder(), configM.galleryOf("face"));
  ASSERT_NE(mL->getUniqueMetadataContainer(), nullptr);
  EXPECT_EQ(mL->getUniqueMetadataContainer()->maxNumberOfParallelProbes(), 4u);
  ASSERT_NE(mL->getTemplateContainer(), nullptr);
  EXPECT_EQ(mL->getTemplateContainer()->modality(), ModalityFace);
  EXPECT_KXXCP_MESSAGE(mL->init("face", nullptr, 0, false),
                       "TemplateMatcherMultipass is already initialized.");

  // A given template data folder replaces the storage's folder.
  quarlen_test::TempDir otherL;
  TemplateMatcherMultipass folderL;
  folderL.init("face", otherL.path().c_str(), 0, false);
  EXPECT_EQ(folderL.getTemplateDataFolder(), otherL.path());
  EXPECT_EQ(folderL.getTemplateContainer()->storageFolder(), otherL.path());
}

TEST_F(MatcherTest, WithoutStorageIdOnlyTheSlotsExist) {
  TemplateMatcherMultipass mL;
  EXPECT_KXXCP_MESSAGE(mL.addIdRecord(syntheticFaceRecord(1, 1, 1, 0).get(), nullptr, false),
                       "failed to addIdRecord, not initialize");
  EXPECT_KXXCP_MESSAGE(mL.verify(nullptr, nullptr, nullptr), "failed to verify, not initialized");
  mL.init(nullptr, nullptr, 0, false);
  EXPECT_EQ(mL.getMaxNumberOfParallelProbes(), 4u);
  EXPECT_EQ(mL.getTemplateContainer(), nullptr);
  EXPECT_EQ(mL.getUniqueMetadataContainer(), nullptr);
  EXPECT_KXXCP_MESSAGE(mL.addIdRecord(syntheticFaceRecord(1, 1, 1, 0).get(), nullptr, false),
                       "failed to addIdRecord, not initialize");
  EXPECT_EQ(mL.numberOfIdRecords(), 0u);
  EXPECT_FALSE(mL.exists(IdRecordKey(1, 1)));
  std::string reportL;
  EXPECT_FALSE(mL.galleryStatus(1, reportL));
  EXPECT_EQ(mL.getMasterChecksum(), 0u);

  // For verification only: the pipeline brings a registry of its modality, owned by the matcher.
  mL.addMatchingPipeline("iris");
  EXPECT_FALSE(mL.clearTemplateDataFolder());
  EXPECT_KXXCP_MESSAGE(mL.recoverGallery(), "failed to recover gallery, not initialized");
  ASSERT_NE(mL.getUniqueMetadataContainer(), nullptr);
  EXPECT_EQ(mL.getUniqueMetadataContainer()->getIndexOfInstanceAlgorithm(InstanceIrisRight,
                                                                         AlgDaugman2010),
            1);
}

TEST_F(MatcherTest, InitAndDestructionLogTheirStepsFromLevelThree) {
  CapturedNotifications logL;
  {
    DebugLevel levelL(2);
    TemplateMatcherMultipass quietL;
    quietL.init(nullptr, nullptr, 0, false);
    quietL.addMatchingPipeline("iris");
  }
  EXPECT_EQ(logL.texts(kxntc::Level::log),
            (std::vector<std::string>{"addMatchingPipeline : iris",
                                      " - stage 0\t -> (iris/irisLeft/daugman2010)",
                                      " - stage 1\t -> (iris/irisRight/daugman2010)"}));
  logL.entries.clear();
  {
    DebugLevel levelL(3);
    TemplateMatcherMultipass mL;
    mL.init(nullptr, nullptr, 0, false);
    mL.addMatchingPipeline("iris");
  }
  EXPECT_EQ(logL.texts(kxntc::Level::log),
            (std::vector<std::string>{
                "  - TemplateMatcherMultipass::init no storage id given.",
                "addMatchingPipeline : iris", " - stage 0\t -> (iris/irisLeft/daugman2010)",
                " - stage 1\t -> (iris/irisRight/daugman2010)",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass ",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete pipeline",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete container",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete engines",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete "
                "uniqueMetadataContainerPtrM"}));
}

TEST_F(MatcherTest, InitFailuresLeaveTheMatcherUninitialised) {
  TemplateMatcherMultipass mL;
  quarlen_test::TempDir emptyL;
  const kxxcp::Exception eL = thrown([&] { mL.init("face", emptyL.path().c_str(), 0, true); });
  EXPECT_EQ(eL.getMessage(), "\nkxxcp caught: Failed to recover gallery, no cache found.");
  EXPECT_EQ(eL.errorCode(), 515);
  EXPECT_EQ(eL.getFunction(), "qrbase::TemplateMatcherMultipass::init");
  EXPECT_EQ(mL.getMaxNumberOfParallelProbes(), 0u);
  EXPECT_EQ(mL.getTemplateContainer(), nullptr);

  const std::string storageL = configM.configDir() + "/storage.xml";
  EXPECT_KXXCP_MESSAGE(
      mL.init("nope", nullptr, 0, false),
      "\nkxxcp caught: Failed to initilaize storage with id = 'nope', check " + storageL);
  configM.install("[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 0\n");
  EXPECT_KXXCP_MESSAGE(mL.init("face", nullptr, 0, false),
                       "\nkxxcp caught: maxNumberOfParallelProbes must be from 1 to 1024: '0'");
  configM.install();
  mL.init("face", nullptr, 0, false);  // the failures left nothing behind
  EXPECT_EQ(mL.getMaxNumberOfParallelProbes(), 4u);
}

// --- enrolment, look-up and removal ------------------------------------------------------------

TEST_F(MatcherTest, EnrolledRecordsCanBeFoundCountedAndRebuilt) {
  auto mL = makeMatcher();
  enrolSix(*mL);
  EXPECT_EQ(mL->numberOfIdRecords(), 6u);
  EXPECT_EQ(mL->numberOfPersons(), 5u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmFloat), 6u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgSta), 0u);
  EXPECT_TRUE(mL->exists(IdRecordKey(1, 11)));
  EXPECT_FALSE(mL->exists(IdRecordKey(2, 11)));
  EXPECT_TRUE(mL->exists(5ull));
  EXPECT_FALSE(mL->exists(6ull));
  const QueryLanguage* qL = mL->getQueryLanguageData(IdRecordKey(1, 11));
  ASSERT_NE(qL, nullptr);
  EXPECT_EQ(qL->attributes()[0], 11u);
  EXPECT_EQ(qL->attributes()[1], 1u);
  EXPECT_EQ(mL->getQueryLanguageData(IdRecordKey(9, 9)), nullptr);

  std::unique_ptr<IdRecordImp> rebuiltL(mL->getIdRecord(IdRecordKey(3, 13), false));
  ASSERT_NE(rebuiltL, nullptr);
  const auto originalL = syntheticFaceRecord(3, 13, 103, 0);
  for (Algorithm algorithmL : {AlgHgmFloat, AlgHgmByte}) {
    const TemplateKey keyL = originalL->getTemplateKeys(ModalityFace, InstanceFaceFrontal)[0];
    const TemplateBlockImp* wantL = originalL->getTemplateBlock(keyL, algorithmL, true);
    const TemplateBlockImp* gotL = rebuiltL->getTemplateBlock(keyL, algorithmL, true);
    ASSERT_EQ(gotL->gallerySize(), wantL->gallerySize());
    EXPECT_EQ(std::memcmp(gotL->galleryDataPtr(), wantL->galleryDataPtr(), wantL->gallerySize()),
              0);
  }
  EXPECT_EQ(mL->getIdRecord(IdRecordKey(9, 9), false), nullptr);

  std::ostringstream dumpL;
  mL->dump(dumpL);
  EXPECT_NE(dumpL.str().find("<a  pid = \"2\"  trid = \"12\"  />"), std::string::npos)
      << dumpL.str();
  std::ostringstream binaryL;
  mL->dumpShortBinary(binaryL);
  EXPECT_EQ(binaryL.str().substr(0, 8), std::string("UMSD\x06\0\0\0", 8));
}

TEST_F(MatcherTest, RefusedRecordsLeaveTheGalleryUnchanged) {
  auto mL = makeMatcher();
  enrolSix(*mL);
  const unsigned checksumL = mL->getMasterChecksum();
  const kxxcp::Exception duplicateL =
      thrown([&] { mL->addIdRecord(syntheticFaceRecord(2, 12, 7, 0).get(), nullptr, false); });
  EXPECT_EQ(duplicateL.errorCode(), 500);
  EXPECT_EQ(duplicateL.getMessage().rfind("TemplateMatcherMultipass::addIdRecord: ", 0), 0u);

  auto twoSamplesL = syntheticFaceRecord(7, 70, 7, 0);
  std::unique_ptr<TemplateBlockImp> extraL(TemplateBlockImp::createTemplateBlock(AlgHgmFloat));
  const unsigned char bytesL[16] = {1};
  extraL->setData(bytesL, 16, bytesL, 16, false);
  twoSamplesL->addTemplateBlock(extraL.release(), ModalityFace, InstanceFaceFrontal,
                                KXuint128{1, 2});
  const kxxcp::Exception multipleL =
      thrown([&] { mL->addIdRecord(twoSamplesL.get(), nullptr, false); });
  EXPECT_EQ(multipleL.getMessage(),
            "Failed to add IdRecord: IdRecords with multiple samples per instance are not "
            "supported.");
  EXPECT_EQ(multipleL.errorCode(), 1);

  EXPECT_EQ(mL->numberOfIdRecords(), 6u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmByte), 6u);
  EXPECT_FALSE(mL->exists(7ull));
  EXPECT_EQ(mL->getMasterChecksum(), checksumL);
}

TEST_F(MatcherTest, RemovalByKeyPersonAndQuery) {
  auto mL = makeMatcher();
  enrolSix(*mL);
  EXPECT_TRUE(mL->destroyIdRecord(IdRecordKey(2, 12)));
  EXPECT_FALSE(mL->exists(2ull));
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmFloat), 5u);
  {
    CapturedNotifications logL;
    EXPECT_FALSE(mL->destroyIdRecord(IdRecordKey(2, 12)));  // gone already
    EXPECT_EQ(logL.texts(kxntc::Level::error),
              std::vector<std::string>{"destroyIdRecord - failed to remove IdRecordKey"});
  }
  EXPECT_EQ(mL->numberOfIdRecords(), 5u);

  EXPECT_TRUE(mL->destroyIdRecords(1));  // both of person 1
  EXPECT_FALSE(mL->exists(1ull));
  EXPECT_EQ(mL->numberOfIdRecords(), 3u);
  EXPECT_EQ(mL->numberOfPersons(), 3u);

  // Left: transactions 13, 14, 15; attribute 1 is the parity.
  const unsigned oddL[] = {3, 1, QueryLanguage::kEqual, 1, 0};
  EXPECT_KXXCP_MESSAGE(mL->destroyIdRecordsByQueryLanguage(oddL, 4),
                       "Query word 4: the query ends without its terminating 0.");
  EXPECT_EQ(mL->numberOfIdRecords(), 3u);
  EXPECT_EQ(mL->destroyIdRecordsByQueryLanguage(oddL, 5), 2u);
  EXPECT_TRUE(mL->exists(IdRecordKey(4, 14)));
  EXPECT_EQ(mL->numberOfIdRecords(), 1u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmByte), 1u);
  EXPECT_EQ(mL->destroyIdRecordsByQueryLanguage(oddL), 0u);
}

TEST_F(MatcherTest, RestartWithRecoveryFindsTheSameGallery) {
  std::string dumpL, statusL;
  unsigned checksumL = 0;
  {
    auto mL = makeMatcher();
    enrolSix(*mL);
    EXPECT_TRUE(mL->destroyIdRecord(IdRecordKey(4, 14)));
    std::ostringstream osL;
    mL->dump(osL);
    dumpL = osL.str();
    checksumL = mL->getMasterChecksum();
    EXPECT_TRUE(mL->galleryStatus(3, statusL)) << statusL;
  }
  auto mL = makeMatcher(true);
  std::ostringstream osL;
  mL->dump(osL);
  EXPECT_EQ(osL.str(), dumpL);
  EXPECT_EQ(mL->getMasterChecksum(), checksumL);
  EXPECT_EQ(mL->numberOfIdRecords(), 5u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmFloat), 5u);
  ASSERT_NE(mL->getQueryLanguageData(IdRecordKey(5, 15)), nullptr);
  EXPECT_EQ(mL->getQueryLanguageData(IdRecordKey(5, 15))->attributes()[1], 1u);
  EXPECT_TRUE(mL->galleryStatus(3, statusL)) << statusL;
  // Recovering a live gallery rebuilds its two memory stages from the files.
  EXPECT_EQ(mL->recoverGallery(), 10);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmByte), 5u);

  // Clearing the folder leaves an empty gallery that recovers as such.
  EXPECT_TRUE(mL->clearTemplateDataFolder());
  EXPECT_EQ(mL->numberOfIdRecords(), 0u);
  EXPECT_EQ(mL->numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmFloat), 0u);
  mL.reset();
  mL = makeMatcher(true);
  EXPECT_EQ(mL->numberOfIdRecords(), 0u);
  enrolSix(*mL);  // and takes records again
  EXPECT_EQ(mL->numberOfIdRecords(), 6u);
}

TEST_F(MatcherTest, RemovalJobsTakeOneStageAndOneFileEach) {
  auto mL = makeMatcher();
  enrolSix(*mL);
  TemplateMatcherMultipass_TemplateContainer& cL = *mL->getTemplateContainer();
  TemplateMatcherMultipass::ThreadData floatL, byteL;
  floatL.key = byteL.key = IdRecordKey(3, 13);
  floatL.stage = cL.memoryStage(kHgmFloat);
  floatL.fidFile = cL.fidFile("faceDisk");
  byteL.stage = cL.memoryStage(kHgmByte);
  std::thread floatThreadL(TemplateMatcherMultipass::deleteThreadFcn, std::ref(floatL));
  std::thread byteThreadL(TemplateMatcherMultipass::deleteThreadFcn, std::ref(byteL));
  floatThreadL.join();
  byteThreadL.join();
  EXPECT_TRUE(floatL.ok) << floatL.error;
  EXPECT_TRUE(byteL.ok) << byteL.error;
  EXPECT_EQ(cL.memoryStage(kHgmFloat)->numberOfTemplates(), 5u);
  EXPECT_EQ(cL.memoryStage(kHgmByte)->numberOfTemplates(), 5u);
  EXPECT_EQ(cL.fidFile("faceDisk")->searchPid(3).size(), 0u);
  EXPECT_EQ(cL.fidFile("faceDisk")->searchPid(1).size(), 2u);
  // A key the stage does not hold is no failure; nothing to do at all is none either.
  TemplateMatcherMultipass::deleteThreadFcn(byteL);
  EXPECT_TRUE(byteL.ok);
  TemplateMatcherMultipass::ThreadData emptyL;
  TemplateMatcherMultipass::deleteThreadFcn(emptyL);
  EXPECT_TRUE(emptyL.ok);
  EXPECT_EQ(cL.memoryStage(kHgmByte)->numberOfTemplates(), 5u);
}

// --- queries on slots ------------------------------------------------------------------------

TEST_F(MatcherTest, QueriesSelectTheCandidatesOfTheirSlotOnly) {
  auto mL = makeMatcher();
  enrolSix(*mL);
  UniqueMetadataContainer& umcL = *mL->getUniqueMetadataContainer();
  const unsigned evenL[] = {3, 1, QueryLanguage::kEqual, 0, 0};
  EXPECT_KXXCP_MESSAGE(mL->processQueryLanguage(4, evenL, QueryFilterModeDefault),
                       "Given thread index > than number of specified threads (given/max) = (4/4)");
  EXPECT_KXXCP_MESSAGE(mL->resetQueryLanguageAndIdentityResult(4, true),
                       "Given thread index > than number of specified threads (given/max) = (4/4)");
  EXPECT_KXXCP_MESSAGE(mL->processQueryLanguage(2, evenL, 3, QueryFilterModeDefault),
                       "Query word 0: clause length 3 runs past the end of the query (3 words).");
  EXPECT_EQ(mL->probeSlots()[2].queryFilteringPerformance.probeCount, 0u);

  mL->processQueryLanguage(2, evenL, 5, QueryFilterModeDefault);
  EXPECT_EQ(umcL.calcNumberOfSelectedIdRecords(2), 3u);
  EXPECT_EQ(umcL.calcNumberOfSelectedIdRecords(1), 0u);
  EXPECT_EQ(umcL.calcNumberOfSelectedIdRecords(3), 0u);
  const PerformanceRecord& perfL = mL->probeSlots()[2].queryFilteringPerformance;
  EXPECT_EQ(perfL.modality, "All");
  EXPECT_EQ(perfL.instance, "-");
  EXPECT_EQ(perfL.algorithm, "QueryFiltering");
  EXPECT_EQ(perfL.probeCount, 1u);

  mL->resetQueryLanguageAndIdentityResult(3, true);
  EXPECT_EQ(umcL.calcNumberOfSelectedIdRecords(3), 6u);
  mL->resetQueryLanguageAndIdentityResult(2, false);
  EXPECT_EQ(umcL.calcNumberOfSelectedIdRecords(2), 0u);
}

// --- performance logging and destruction ------------------------------------------------------

TEST_F(MatcherTest, PerformanceLogNamesCarryTheSlotNumber) {
  auto mL = makeMatcher();
  mL->setPerflogFilename("night");
  std::vector<std::string> namesL;
  for (const ThreadStruct& s : mL->probeSlots()) namesL.push_back(s.performanceLogName);
  EXPECT_EQ(namesL, (std::vector<std::string>{"night_p0", "night_p1", "night_p2", "night_p3"}));
}

TEST_F(MatcherTest, DestructionLogsItsSteps) {
  auto mL = makeMatcher();
  DebugLevel levelL(3);
  CapturedNotifications logL;
  mL.reset();
  EXPECT_EQ(logL.texts(kxntc::Level::log),
            (std::vector<std::string>{
                "TemplateMatcherMultipass::~TemplateMatcherMultipass ",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete pipeline",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass_TemplateContainer",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass_TemplateContainer Post "
                "destroyPreloadedStages",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass_TemplateContainer Post "
                "delete mem stages",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass_TemplateContainer Post "
                "delete disk objects",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete container",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete engines",
                "TemplateMatcherMultipass::~TemplateMatcherMultipass Post delete "
                "uniqueMetadataContainerPtrM"}));
}

TEST_F(MatcherTest, ASuppliedRegistryIsUsedAndNotOwned) {
  auto umcL = std::make_unique<UniqueMetadataContainer>(ModalityFace);
  {
    TemplateMatcherMultipass mL(umcL.get());
    mL.init("face", nullptr, 0, false);
    EXPECT_EQ(mL.getUniqueMetadataContainer(), umcL.get());
    enrolSix(mL);
    EXPECT_EQ(umcL->size(), 6u);
    // The caller keeps its registry: removal takes the record from the gallery only.
    EXPECT_TRUE(mL.destroyIdRecord(IdRecordKey(3, 13)));
    EXPECT_EQ(mL.numberOfTemplates(ModalityFace, InstanceFaceFrontal, AlgHgmFloat), 5u);
    EXPECT_TRUE(umcL->getMetaDataByIdRecordKey(IdRecordKey(3, 13)) != nullptr);
  }
  EXPECT_EQ(umcL->size(), 6u);  // still alive after the matcher
}

// --- adding the pipeline ---------------------------------------------------------------------

std::string stageXml(const std::string& modalityA, const std::string& instanceA,
                     const std::string& algorithmA, const std::string& threadsA = "1") {
  return "<stage modality=\"" + modalityA + "\" instance=\"" + instanceA + "\" algorithm=\"" +
         algorithmA +
         "\" filterScore=\"true\" globalWeight=\"1\" resultLengthMax=\"10\" "
         "resultLengthMin=\"10\" nThreads=\"" +
         threadsA +
         "\" resultLengthLocalPercent=\"100\" resultLengthGlobalPercent=\"100\" "
         "useNormalization=\"false\" isRequired=\"true\"/>";
}

TEST_F(MatcherTest, PipelineSectionsAreCheckedBeforeTheyAreUsed) {
  configM.replace(
      "pipelines.xml",
      "<p><multipass id=\"mixed\">" + stageXml("face", "faceFrontal", "hgmFloat") +
          stageXml("iris", "irisLeft", "daugman2010") + "</multipass>" + "<multipass id=\"zero\">" +
          stageXml("face", "faceFrontal", "hgmFloat", "0") +
          "</multipass><multipass id=\"broken\"><stage modality=\"face\"/></multipass></p>");
  TemplateMatcherMultipass mL;
  EXPECT_KXXCP_MESSAGE(mL.addMatchingPipeline("mixed"),
                       "failed to addMatchingPipeline, not initialized");
  mL.init("face", nullptr, 0, false);
  EXPECT_KXXCP_MESSAGE(mL.addMatchingPipeline("none"),
                       "No passes are configured in section : none.");
  EXPECT_KXXCP_MESSAGE(mL.addMatchingPipeline("mixed"),
                       "Specify the same modality form all stages (section:mixed).First modality "
                       "is face. Current modality (1) is iris");
  EXPECT_KXXCP_MESSAGE(mL.addMatchingPipeline("zero"),
                       "nThreads of stage 0 must be from 1 to 1024: '0'");
  EXPECT_KXXCP_PREFIX(mL.addMatchingPipeline("broken"),
                      "kxxcp exc caught:Missing parameter(s) in tag <stage> (1) : instance ");
  EXPECT_EQ(mL.getPipeline(), nullptr);
  for (const ThreadStruct& s : mL.probeSlots()) EXPECT_TRUE(s.sharedMatchEngines.empty());
  EXPECT_EQ(mL.getUniqueMetadataContainer()->getIndexOfInstanceAlgorithm(InstanceFaceFrontal,
                                                                         AlgHgmFloat),
            -1);
}

// --- verification ----------------------------------------------------------------------------

TEST_F(MatcherTest, VerificationScoresTheConfiguredAlgorithms) {
  TemplateMatcherMultipass mL;
  mL.init(nullptr, nullptr, 0, false);
  MultipassConfig faceL, irisL;
  faceL.read(configM.configDir() + "/pipelines.xml", "face");
  irisL.read(configM.configDir() + "/pipelines.xml", "iris");
  const auto galleryL = syntheticFaceRecord(1, 1, 42, 0);
  const auto mateL = syntheticFaceRecord(2, 2, 42, 7);
  const auto otherL = syntheticFaceRecord(3, 3, 43, 7);

  EXPECT_KXXCP_MESSAGE(mL.verify(mateL.get(), nullptr, &faceL), "Probe or Gallery pointer is NULL");
  EXPECT_KXXCP_MESSAGE(mL.verify(mateL.get(), galleryL.get(), nullptr),
                       "failed to verify, no configuration given and no pipeline was added");

  const ResultIdRecord mateResultL = mL.verify(mateL.get(), galleryL.get(), &faceL);
  const ResultIdRecord otherResultL = mL.verify(otherL.get(), galleryL.get(), &faceL);
  EXPECT_EQ(mateResultL.personId(), 1u);
  EXPECT_EQ(mateResultL.transactionId(), 1u);
  EXPECT_GT(mateResultL.getScore(), otherResultL.getScore());
  EXPECT_GT(mateResultL.getScore(), 0.5f);
  EXPECT_EQ(mL.probeSlots()[0].sharedMatchEngines.at(AlgHgmFloat).size(), 1u);

  CapturedNotifications logL;
  const ResultIdRecord noneL = mL.verify(mateL.get(), galleryL.get(), &irisL);
  EXPECT_EQ(logL.texts(kxntc::Level::error),
            std::vector<std::string>{"The current algorithm was not specified in storage file. !"});
  EXPECT_EQ(noneL.getScore(), 0.0f);
  EXPECT_EQ(noneL.personId(), 1u);

  // The best pair of templates counts: a second gallery sample that is the mate wins over a
  // first one that is not.
  auto twoSamplesL = syntheticFaceRecord(1, 1, 43, 3);
  const auto mateSampleL = syntheticFaceRecord(1, 1, 42, 0);
  const TemplateKey mateKeyL = mateSampleL->getTemplateKeys(ModalityFace, InstanceFaceFrontal)[0];
  for (Algorithm algorithmL : {AlgHgmFloat, AlgHgmByte}) {
    const TemplateBlockImp* bL = mateSampleL->getTemplateBlock(mateKeyL, algorithmL, true);
    std::unique_ptr<TemplateBlockImp> copyL(TemplateBlockImp::createTemplateBlock(algorithmL));
    copyL->setData(bL->probeDataPtr(), bL->probeSize(), bL->galleryDataPtr(), bL->gallerySize(),
                   false);
    twoSamplesL->addTemplateBlock(copyL.release(), ModalityFace, InstanceFaceFrontal,
                                  KXuint128{0xFFFFFFFFFFull, 1});
  }
  EXPECT_EQ(mL.verify(mateL.get(), twoSamplesL.get(), &faceL).getScore(), mateResultL.getScore());
  // Gallery blocks without gallery part, and algorithms the gallery lacks, take no part.
  const auto floatOnlyL = syntheticFaceRecord(1, 1, 42, 0);
  const TemplateKey floatKeyL = floatOnlyL->getTemplateKeys(ModalityFace, InstanceFaceFrontal)[0];
  TemplateBlockImp* byteL =
      const_cast<TemplateBlockImp*>(floatOnlyL->getTemplateBlock(floatKeyL, AlgHgmByte, true));
  byteL->setData(byteL->probeDataPtr(), byteL->probeSize(), nullptr, 0, false);
  const float floatScoreL = mL.verify(mateL.get(), floatOnlyL.get(), &faceL).getScore();
  EXPECT_GT(floatScoreL, 0.5f);
  EXPECT_NE(floatScoreL, mateResultL.getScore());
  auto withoutByteL = syntheticFaceRecord(1, 1, 42, 0);
  withoutByteL->getBioRecord(ModalityFace, InstanceFaceFrontal, true)
      ->getTemplateByIndex(0, true)
      ->deleteTemplateBlock(AlgHgmByte);
  EXPECT_EQ(mL.verify(mateL.get(), withoutByteL.get(), &faceL).getScore(), floatScoreL);

  const auto irisGalleryL = syntheticIrisRecord(5, 5, 9, 0);
  const auto irisMateL = syntheticIrisRecord(6, 6, 9, 3);
  const auto irisOtherL = syntheticIrisRecord(7, 7, 10, 3);
  EXPECT_GT(mL.verify(irisMateL.get(), irisGalleryL.get(), &irisL).getScore(),
            mL.verify(irisOtherL.get(), irisGalleryL.get(), &irisL).getScore());
}

}  // namespace
}  // namespace qrbase
