// The fingerprint pipeline over a gallery of synthetic fingers (two fingers, l2f and l2m each):
// mates at rank 1, skipped passes, a restricting descriptor and probes carrying l2m only.
#include <quarlen/TemplateMatcherMultipass_Pipeline_Finger.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <qrlcore/Notification.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlfinger/SyntheticFinger.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/FingerSlots.h"
#include "support/ScoreConfig.h"

namespace qrbase {
namespace {

using namespace qridy;

constexpr unsigned kPersons = 240;
constexpr Instance kFingers[] = {InstanceFingerRightIndex, InstanceFingerRightMiddle};

std::string stage(const char* instanceA, const char* algorithmA, bool filterA, int lengthA) {
  return std::string("  <stage modality=\"fingerprint\" instance=\"") + instanceA +
         "\" algorithm=\"" + algorithmA + "\" filterScore=\"" + (filterA ? "true" : "false") +
         "\" globalWeight=\"1\" resultLengthMax=\"" + std::to_string(lengthA) +
         "\" resultLengthMin=\"" + std::to_string(lengthA) +
         "\" nThreads=\"2\" resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\""
         " useNormalization=\"false\" isRequired=\"true\"/>\n";
}

// "fourFinger": l2f of both fingers filters (keeping 60), then l2m of both fingers keeps 10.
// "skipFirst": the same with the first l2f pass at length 0. "index": one finger, l2f then l2m.
std::string pipelines() {
  return "<config>\n <multipass id=\"fourFinger\">\n" + stage("fingerRightIndex", "l2f", true, 60) +
         stage("fingerRightMiddle", "l2f", true, 60) + stage("fingerRightIndex", "l2m", false, 10) +
         stage("fingerRightMiddle", "l2m", false, 10) +
         " </multipass>\n <multipass id=\"skipFirst\">\n" +
         stage("fingerRightIndex", "l2f", true, 0) + stage("fingerRightMiddle", "l2f", true, 60) +
         stage("fingerRightIndex", "l2m", false, 10) +
         stage("fingerRightMiddle", "l2m", false, 10) +
         " </multipass>\n <multipass id=\"index\">\n" + stage("fingerRightIndex", "l2f", true, 30) +
         stage("fingerRightIndex", "l2m", true, 5) + " </multipass>\n <multipass id=\"zero\">\n" +
         stage("fingerRightIndex", "l2f", true, 0) + " </multipass>\n</config>\n";
}

std::string mappingFile(const std::string& nameA) {
  const std::string dataL = QUARLEN_TEST_DATA_DIR;
  return dataL.substr(0, dataL.rfind("/tests/data")) + "/data/scoremapping/" + nameA;
}

class FingerPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string memoryL;
    for (const char* fL : {"fingerRightIndex", "fingerRightMiddle"}) {
      for (const char* aL : {"l2f", "l2m"}) {
        memoryL += std::string(" <memory modality=\"fingerprint\" instance=\"") + fL +
                   "\" algorithm=\"" + aL + "\"/>\n";
      }
    }
    const std::string storageL =
        dirM.write("storage.xml",
                   "<root><storage id=\"finger\" reserveNumberOfTemplates=\"500\""
                   " folder=\"" +
                       dirM.path() + "/gallery\">\n" + memoryL + "</storage></root>\n");
    pipelinesM = dirM.write("pipelines.xml", pipelines());
    quarlen_test::installScoreConfig(
        dirM, "noMapping",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n"
        "L2F_logFarScoreMappingFile = " +
            mappingFile("l2f.txt") +
            "\n[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityFingerprint);
    umcM->setFidFileFolder(dirM.path() + "/gallery", false);
    containerM = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("finger", storageL);
    containerM->init(2, false, umcM.get());
    unsigned slotL = 0;
    for (Algorithm aL : {AlgL2f, AlgL2m}) {
      for (Instance fL : kFingers) umcM->initAddNewTripple(ModalityFingerprint, fL, aL, slotL++);
    }
    for (unsigned s = 0; s < 2; ++s) {
      threadsM.emplace_back(s);
      threadsM[s].resultParameter.readFromQuarlenIni();
      for (Algorithm aL : {AlgL2f, AlgL2m}) {
        for (int e = 0; e < 2; ++e) {
          threadsM[s].sharedMatchEngines[aL].push_back(
              StageMatchEngine_Base::createStageEngine(aL));
        }
      }
    }
    for (unsigned p = 0; p < kPersons; ++p) {
      const auto recordL = record(p, 1, {AlgL2f, AlgL2m}, {kFingers[0], kFingers[1]});
      containerM->addIdRecord(recordL.get(), nullptr, nullptr, threadsM[0], false);
    }
  }
  void TearDown() override {
    containerM.reset();
    umcM.reset();
    kxutl::QuarlenInformation::setConfigFile("");
  }
  // Impression impressionA of the person's fingers (finger id 2 p + k).
  std::unique_ptr<IdRecordImp> record(unsigned personA, unsigned impressionA,
                                      std::vector<Algorithm> algorithmsA,
                                      std::vector<Instance> fingersA) const {
    auto rL = std::make_unique<IdRecordImp>();
    rL->setIdRecordKey(IdRecordKey(personA, personA + 1000));
    for (std::size_t k = 0; k < 2; ++k) {
      if (std::find(fingersA.begin(), fingersA.end(), kFingers[k]) == fingersA.end()) continue;
      for (Algorithm aL : algorithmsA) {
        qrfpt::ImpressionSettings settingsL;
        settingsL.kind = aL == AlgL2m ? qrfpt::kKindL2M : qrfpt::kKindL2F;
        const auto bytesL = generatorM.impressionBytes(2 * personA + static_cast<unsigned>(k),
                                                       impressionA, settingsL);
        std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(aL));
        const unsigned sizeL = static_cast<unsigned>(bytesL.size());
        bL->setData(bytesL.data(), sizeL, bytesL.data(), sizeL, false);
        rL->addTemplateBlock(bL.release(), ModalityFingerprint, kFingers[k], KXuint128{k, personA});
      }
    }
    return rL;
  }
  std::unique_ptr<TemplateMatcherMultipass_Pipeline> makePipeline(const std::string& idA) {
    MultipassConfig configL;
    configL.read(pipelinesM, idA);
    std::unique_ptr<TemplateMatcherMultipass_Pipeline> pL(
        PipelineFactory::createPipeline(configL, idA));
    pL->setConfig(configL);
    return pL;
  }
  ResultTreeList identify(TemplateMatcherMultipass_Pipeline& pipelineA, const IdRecordImp& probeA,
                          ProbeDescriptor* descriptorA = nullptr) {
    ResultTreeList resultsL;
    pipelineA.identifyTransactionPrivate(&probeA, threadsM[1], descriptorA, containerM.get(),
                                         umcM.get(), resultsL);
    return resultsL;
  }
  static std::vector<std::uint64_t> persons(const ResultTreeList& resultsA) {
    std::vector<std::uint64_t> idsL;
    for (std::size_t i = 0; i < resultsA.size(); ++i) idsL.push_back(resultsA[i].personId());
    return idsL;
  }
  std::vector<char> stagesRun() const { return threadsM[1].stagesRun; }

  quarlen_test::ScopedFingerSlots slotsM;
  quarlen_test::TempDir dirM;
  std::string pipelinesM;
  qrfpt::SyntheticFingerGenerator generatorM{41};
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> containerM;
  std::vector<ThreadStruct> threadsM;
};

TEST_F(FingerPipelineTest, FactoryChoosesTheFingerPipeline) {
  const auto pL = makePipeline("fourFinger");
  EXPECT_NE(dynamic_cast<TemplateMatcherMultipass_Pipeline_Finger*>(pL.get()), nullptr);
}

TEST_F(FingerPipelineTest, MatesComeFirstAfterFourPasses) {
  const auto pL = makePipeline("fourFinger");
  for (unsigned mateL : {3u, 77u, 150u, 239u}) {
    SCOPED_TRACE(mateL);
    const auto probeL = record(mateL, 2, {AlgL2f, AlgL2m}, {kFingers[0], kFingers[1]});
    const ResultTreeList resultsL = identify(*pL, *probeL);
    ASSERT_FALSE(persons(resultsL).empty());
    EXPECT_EQ(persons(resultsL).front(), mateL);
    EXPECT_LE(resultsL.size(), 10u);
    EXPECT_EQ(stagesRun(), (std::vector<char>{1, 1, 1, 1}));
    // The l2f passes filtered: their scores chose the candidates but are not in the result.
    const ResultIdRecord& bestL = resultsL[0];
    KXuint128 sampleL;
    bestL.getBestSampleScore(ModalityFingerprint, kFingers[0], sampleL);
    EXPECT_NO_THROW(bestL.getScore(ModalityFingerprint, kFingers[0], sampleL, AlgL2m));
    EXPECT_ANY_THROW(bestL.getScore(ModalityFingerprint, kFingers[0], sampleL, AlgL2f));
  }
  ASSERT_EQ(threadsM[1].stagePerformance.size(), 4u);
  EXPECT_EQ(threadsM[1].stagePerformance[3].probeCount, 4u);
  EXPECT_EQ(threadsM[1].stagePerformance[0].sumGallerySize, 4u * kPersons);
}

TEST_F(FingerPipelineTest, PassesWithoutLengthOrProbeBlockAreSkipped) {
  const auto skipL = makePipeline("skipFirst");
  const auto probeL = record(42, 2, {AlgL2f, AlgL2m}, {kFingers[0], kFingers[1]});
  EXPECT_EQ(persons(identify(*skipL, *probeL)).front(), 42u);
  EXPECT_EQ(stagesRun(), (std::vector<char>{0, 1, 1, 1}));

  const auto fourL = makePipeline("fourFinger");
  const auto indexOnlyL = record(42, 2, {AlgL2f, AlgL2m}, {kFingers[0]});
  EXPECT_EQ(persons(identify(*fourL, *indexOnlyL)).front(), 42u);
  EXPECT_EQ(stagesRun(), (std::vector<char>{1, 0, 1, 0}));
}

TEST_F(FingerPipelineTest, TransactionListRestrictsEveryPass) {
  const auto pL = makePipeline("fourFinger");
  const auto probeL = record(42, 2, {AlgL2f, AlgL2m}, {kFingers[0], kFingers[1]});
  ProbeDescriptor descriptorL;
  descriptorL.setTransactionList({1005, 1006, 1100, 1200});  // the mate is not listed
  const std::vector<std::uint64_t> foundL = persons(identify(*pL, *probeL, &descriptorL));
  ASSERT_FALSE(foundL.empty());
  for (std::uint64_t p : foundL) {
    EXPECT_TRUE(p == 5 || p == 6 || p == 100 || p == 200) << p;
  }
  descriptorL.setTransactionList({1005, 1042});
  EXPECT_EQ(persons(identify(*pL, *probeL, &descriptorL)).front(), 42u);
}

TEST_F(FingerPipelineTest, ProbesWithL2mOnlyGetDerivedL2fTemplates) {
  const auto pL = makePipeline("fourFinger");
  const auto probeL = record(150, 2, {AlgL2m}, {kFingers[0], kFingers[1]});
  const auto& fingerL = dynamic_cast<TemplateMatcherMultipass_Pipeline_Finger&>(*pL);
  const auto preparedL = fingerL.prepareProbe(*probeL);
  for (Instance fL : kFingers) {
    EXPECT_TRUE(preparedL->hasTemplateBlock({ModalityFingerprint, fL, AlgL2f}));
    EXPECT_FALSE(probeL->hasTemplateBlock({ModalityFingerprint, fL, AlgL2f}));
  }
  EXPECT_EQ(persons(identify(*pL, *probeL)).front(), 150u);
  EXPECT_EQ(stagesRun(), (std::vector<char>{1, 1, 1, 1}));
}

TEST_F(FingerPipelineTest, OneFingerSearchKeepsTheBestOfEachPass) {
  const auto pL = makePipeline("index");
  const auto probeL = record(7, 2, {AlgL2f, AlgL2m}, {kFingers[0]});
  const ResultTreeList resultsL = identify(*pL, *probeL);
  EXPECT_EQ(persons(resultsL).front(), 7u);
  EXPECT_EQ(resultsL.size(), 5u);
}

TEST_F(FingerPipelineTest, NoPassWithALengthGivesAnEmptyListAndAMessage) {
  const auto pL = makePipeline("zero");
  std::vector<std::string> errorsL;
  const kxntc::Sink previousL = kxntc::setSink([&](kxntc::Level levelA, const std::string& tA) {
    if (levelA == kxntc::Level::error) errorsL.push_back(tA);
  });
  const auto probeL = record(7, 2, {AlgL2f}, {kFingers[0]});
  const ResultTreeList resultsL = identify(*pL, *probeL);
  kxntc::setSink(previousL);
  EXPECT_EQ(resultsL.size(), 0u);
  EXPECT_NE(std::find(errorsL.begin(), errorsL.end(),
                      "createFingerNewResultListFromUniqueMetaDataState nStages <1 or all max "
                      "results 0"),
            errorsL.end());
}

}  // namespace
}  // namespace qrbase
