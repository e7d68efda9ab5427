#include <quarlen/TemplateMatcherMultipass_Pipeline_Common.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <qrliris/IrisCodeForms.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/PipelineFactory.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/ScoreConfig.h"

namespace qrbase {
namespace {

using namespace qridy;

constexpr unsigned kDim = 128;
constexpr unsigned kPersons = 400;
constexpr unsigned kSlots = 2;

// Two passes over a face gallery: hgmByte in memory keeping 40, then hgmFloat (on disk only,
// reloaded per probe slot) keeping 8.
const char* const kPipelines =
    "<config>\n"
    " <multipass id=\"face\">\n"
    "  <common processing=\"sequential\"/>\n"
    "  <stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\" filterScore=\"true\""
    " globalWeight=\"1\" resultLengthMax=\"40\" resultLengthMin=\"40\" nThreads=\"2\""
    " resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" useNormalization=\"false\""
    " isRequired=\"true\"/>\n"
    "  <stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\" "
    "filterScore=\"true\""
    " globalWeight=\"1\" resultLengthMax=\"8\" resultLengthMin=\"8\" nThreads=\"2\""
    " resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" useNormalization=\"false\""
    " isRequired=\"true\"/>\n"
    " </multipass>\n"
    " <multipass id=\"empty\"/>\n"
    " <multipass id=\"mixed\">\n"
    "  <stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\" "
    "filterScore=\"true\""
    " globalWeight=\"1\" resultLengthMax=\"8\" resultLengthMin=\"8\" nThreads=\"1\""
    " resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" useNormalization=\"false\""
    " isRequired=\"true\"/>\n"
    "  <stage modality=\"iris\" instance=\"irisLeft\" algorithm=\"daugman2010\" "
    "filterScore=\"true\""
    " globalWeight=\"1\" resultLengthMax=\"8\" resultLengthMin=\"8\" nThreads=\"1\""
    " resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" useNormalization=\"false\""
    " isRequired=\"true\"/>\n"
    " </multipass>\n"
    "</config>\n";

std::vector<float> unitVector(std::mt19937& rngA) {
  std::normal_distribution<float> nL;
  std::vector<float> vL(kDim);
  float sL = 0;
  for (float& x : vL) {
    x = nL(rngA);
    sL += x * x;
  }
  for (float& x : vL) x /= std::sqrt(sL);
  return vL;
}

std::unique_ptr<TemplateBlockImp> faceBlock(const std::vector<float>& vA, Algorithm algorithmA) {
  std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(algorithmA));
  if (algorithmA == AlgHgmByte) {
    std::vector<signed char> qL(vA.size());
    kxegm::ByteMinimalGraph::quantize(vA.data(), vA.size(), qL.data());
    const auto* bytesL = reinterpret_cast<const unsigned char*>(qL.data());
    bL->setData(bytesL, kDim, bytesL, kDim, false);
  } else {
    const auto* bytesL = reinterpret_cast<const unsigned char*>(vA.data());
    bL->setData(bytesL, kDim * 4, bytesL, kDim * 4, false);
  }
  return bL;
}

std::unique_ptr<IdRecordImp> faceRecord(const std::vector<float>& vA, std::uint64_t personA,
                                        std::initializer_list<Algorithm> algorithmsA) {
  auto rL = std::make_unique<IdRecordImp>();
  rL->setIdRecordKey(IdRecordKey(personA, personA + 1000));
  for (Algorithm aL : algorithmsA) {
    rL->addTemplateBlock(faceBlock(vA, aL).release(), ModalityFace, InstanceFaceFrontal,
                         KXuint128{0, personA});
  }
  return rL;
}

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string storageL = dirM.write(
        "storage.xml",
        "<root><storage id=\"face\" reserveNumberOfTemplates=\"500\" folder=\"" + dirM.path() +
            "/gallery\">\n"
            " <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\"/>\n"
            " <harddisk id=\"hd1\" sizes=\"600\">\n"
            "  <disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
            " </harddisk>\n"
            "</storage></root>\n");
    pipelinesM = dirM.write("pipelines.xml", kPipelines);
    quarlen_test::installScoreConfig(
        dirM, "noMapping",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 2\n"
        "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityFace);
    umcM->setFidFileFolder(dirM.path() + "/gallery", true);
    containerM = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("face", storageL);
    containerM->init(kSlots, false, umcM.get());
    umcM->initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgHgmByte, 0);
    umcM->initAddNewTripple(ModalityFace, InstanceFaceFrontal, AlgHgmFloat, 1);
    for (unsigned s = 0; s < kSlots; ++s) {
      threadsM.emplace_back(s);
      threadsM[s].resultParameter.readFromQuarlenIni();
      for (Algorithm aL : {AlgHgmByte, AlgHgmFloat}) {
        for (int e = 0; e < 2; ++e) {
          threadsM[s].sharedMatchEngines[aL].push_back(
              StageMatchEngine_Base::createStageEngine(aL));
        }
      }
    }
    std::mt19937 rngL(5);
    for (unsigned p = 0; p < kPersons; ++p) {
      vectorsM.push_back(unitVector(rngL));
      const auto recordL = faceRecord(vectorsM.back(), p, {AlgHgmByte, AlgHgmFloat});
      const unsigned int attributesL[4] = {p % 4, 0, 0, 0};
      QueryLanguage qL;
      qL.setAttributes(0, attributesL);
      containerM->addIdRecord(recordL.get(), &qL, nullptr, threadsM[0], false);
    }
    pipelineM = makePipeline("face");
  }
  void TearDown() override {
    pipelineM.reset();
    containerM.reset();
    umcM.reset();
    kxutl::QuarlenInformation::setConfigFile("");
  }
  std::unique_ptr<TemplateMatcherMultipass_Pipeline> makePipeline(const std::string& idA) {
    MultipassConfig configL;
    configL.read(pipelinesM, idA);
    std::unique_ptr<TemplateMatcherMultipass_Pipeline> pL(
        PipelineFactory::createPipeline(configL, idA));
    pL->setConfig(configL);
    return pL;
  }
  // A probe near person pA: its vector with noise of relative strength noiseA.
  std::vector<float> probeVector(unsigned pA, float noiseA, unsigned seedA) {
    std::mt19937 rngL(seedA);
    std::vector<float> nL = unitVector(rngL), vL(kDim);
    for (unsigned d = 0; d < kDim; ++d) vL[d] = vectorsM[pA][d] + noiseA * nL[d];
    return vL;
  }
  ResultTreeList identify(const IdRecordImp& probeA, ProbeDescriptor* descriptorA = nullptr,
                          unsigned slotA = 1) {
    ResultTreeList resultsL;
    pipelineM->identifyTransactionPrivate(&probeA, threadsM[slotA], descriptorA, containerM.get(),
                                          umcM.get(), resultsL);
    return resultsL;
  }
  static std::vector<std::uint64_t> persons(const ResultTreeList& resultsA) {
    std::vector<std::uint64_t> idsL;
    for (std::size_t i = 0; i < resultsA.size(); ++i) idsL.push_back(resultsA[i].personId());
    return idsL;
  }
  // The best kA persons of candidatesA by algorithmA's engine, as a set.
  std::set<std::uint64_t> bruteForce(const std::vector<float>& probeA, Algorithm algorithmA,
                                     const std::vector<unsigned>& candidatesA, std::size_t kA) {
    std::unique_ptr<StageMatchEngine_Base> eL(StageMatchEngine_Base::createStageEngine(algorithmA));
    const auto probeL = faceBlock(probeA, algorithmA);
    std::vector<std::pair<float, unsigned>> sL;
    for (unsigned p : candidatesA) {
      const auto gL = faceBlock(vectorsM[p], algorithmA);
      sL.push_back({eL->verify(probeL->probeDataPtr(), probeL->probeSize(), gL->galleryDataPtr(),
                               gL->gallerySize()),
                    p});
    }
    std::stable_sort(sL.begin(), sL.end(), [](auto aA, auto bA) { return aA.first > bA.first; });
    std::set<std::uint64_t> bestL;
    for (std::size_t i = 0; i < std::min(kA, sL.size()); ++i) bestL.insert(sL[i].second);
    return bestL;
  }
  std::vector<unsigned> everyone() const {
    std::vector<unsigned> allL(kPersons);
    for (unsigned p = 0; p < kPersons; ++p) allL[p] = p;
    return allL;
  }

  quarlen_test::TempDir dirM;
  std::string pipelinesM;
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> containerM;
  std::vector<ThreadStruct> threadsM;
  std::vector<std::vector<float>> vectorsM;
  std::unique_ptr<TemplateMatcherMultipass_Pipeline> pipelineM;
};

TEST_F(PipelineTest, TwoPassesKeepWhatTheEnginesRankBest) {
  for (unsigned i = 0; i < 12; ++i) {
    const unsigned mateL = (i * 37) % kPersons;
    const std::vector<float> vL = probeVector(mateL, 0.8f, 100 + i);
    const auto probeL = faceRecord(vL, 9999, {AlgHgmByte, AlgHgmFloat});
    const ResultTreeList resultsL = identify(*probeL, nullptr, i % kSlots);
    ASSERT_EQ(resultsL.size(), 8u);
    EXPECT_EQ(resultsL[0].personId(), mateL);
    // The survivors of the byte pass, narrowed by the float pass, and nothing else.
    const std::set<std::uint64_t> firstL = bruteForce(vL, AlgHgmByte, everyone(), 40);
    const std::set<std::uint64_t> expectedL =
        bruteForce(vL, AlgHgmFloat, std::vector<unsigned>(firstL.begin(), firstL.end()), 8);
    const std::vector<std::uint64_t> gotL = persons(resultsL);
    EXPECT_EQ(std::set<std::uint64_t>(gotL.begin(), gotL.end()), expectedL) << "probe " << i;
    for (std::size_t r = 1; r < resultsL.size(); ++r) {
      EXPECT_GE(resultsL[r - 1].getScore(), resultsL[r].getScore());
    }
    EXPECT_EQ(resultsL[0].transactionId(), mateL + 1000u);
  }
}

TEST_F(PipelineTest, PassesWithoutProbeBlockOrLengthAreSkipped) {
  const std::vector<float> vL = probeVector(17, 0.8f, 3);
  // Without an hgmByte block the float pass alone scores the whole gallery.
  const auto floatOnlyL = faceRecord(vL, 9999, {AlgHgmFloat});
  std::vector<std::uint64_t> gotL = persons(identify(*floatOnlyL));
  EXPECT_EQ(std::set<std::uint64_t>(gotL.begin(), gotL.end()),
            bruteForce(vL, AlgHgmFloat, everyone(), 8));
  // A first pass of length 0 is skipped the same way, the second still runs.
  MultipassConfig configL = pipelineM->config();
  ASSERT_TRUE(configL.setData(0u, MultipassConfig::ResultLengthMax, 0.0f));
  pipelineM->setConfig(configL);
  const auto bothL = faceRecord(vL, 9999, {AlgHgmByte, AlgHgmFloat});
  gotL = persons(identify(*bothL));
  EXPECT_EQ(std::set<std::uint64_t>(gotL.begin(), gotL.end()),
            bruteForce(vL, AlgHgmFloat, everyone(), 8));
  // No block of any pass: nothing to report.
  const auto noneL = faceRecord(vL, 9999, {AlgSta});
  EXPECT_EQ(identify(*noneL).size(), 0u);
}

TEST_F(PipelineTest, DescriptorsRestrictEveryPass) {
  const std::vector<float> vL = probeVector(42, 0.8f, 4);
  const auto probeL = faceRecord(vL, 9999, {AlgHgmByte, AlgHgmFloat});
  const auto restrictedTo = [&](const std::vector<unsigned>& candidatesA, ProbeDescriptor& dA) {
    const std::vector<std::uint64_t> gotL = persons(identify(*probeL, &dA));
    const std::set<std::uint64_t> firstL = bruteForce(vL, AlgHgmByte, candidatesA, 40);
    EXPECT_EQ(std::set<std::uint64_t>(gotL.begin(), gotL.end()),
              bruteForce(vL, AlgHgmFloat, std::vector<unsigned>(firstL.begin(), firstL.end()), 8));
  };
  // Persons 2 mod 4 by query (attribute 1 == 2); the mate 42 is one of them.
  ProbeDescriptor byQueryL;
  const unsigned int queryL[] = {3, 1, QueryLanguage::kEqual, 2, 0};
  byQueryL.setQuery(queryL, 5);
  std::vector<unsigned> evenL;
  for (unsigned p = 2; p < kPersons; p += 4) evenL.push_back(p);
  restrictedTo(evenL, byQueryL);
  // Transactions of persons 0..29 and a person list of the same persons.
  ProbeDescriptor byTransactionL, byPersonL;
  std::vector<std::uint64_t> transactionsL, personsL;
  std::vector<unsigned> firstThirtyL;
  for (unsigned p = 0; p < 30; ++p) {
    transactionsL.push_back(p + 1000);
    personsL.push_back(p);
    firstThirtyL.push_back(p);
  }
  byTransactionL.setTransactionList(transactionsL);
  restrictedTo(firstThirtyL, byTransactionL);
  byPersonL.setPersonList(personsL);
  restrictedTo(firstThirtyL, byPersonL);
  // An empty list leaves no candidate; the next probe without descriptor sees everyone again.
  ProbeDescriptor emptyL;
  emptyL.setPersonList({});
  EXPECT_EQ(identify(*probeL, &emptyL).size(), 0u);
  EXPECT_EQ(persons(identify(*probeL)).front(), 42u);
}

TEST_F(PipelineTest, PassErrorsAreNotFatalOtherErrorsNameTheirStep) {
  const auto probeL = faceRecord(probeVector(7, 0.5f, 8), 9999, {AlgHgmByte, AlgHgmFloat});
  // The float pass has no engines in slot 0: reported, and the byte pass's candidates remain.
  for (auto* eL : threadsM[0].sharedMatchEngines[AlgHgmFloat]) delete eL;
  threadsM[0].sharedMatchEngines[AlgHgmFloat].clear();
  {
    quarlen_test::CapturedErrors errorsL;
    const ResultTreeList resultsL = identify(*probeL, nullptr, 0);
    ASSERT_EQ(errorsL.entriesM.size(), 1u);
    EXPECT_EQ(errorsL.entriesM[0],
              "Catched kxxcp::Exception: in performStage:Catched kxxcp::Exception: ( No match "
              "engines for the stage. )");
    EXPECT_EQ(resultsL.size(), 40u);
    EXPECT_EQ(resultsL[0].personId(), 7u);
  }
  EXPECT_KXXCP_MESSAGE(makePipeline("empty")->identifyTransactionPrivate(
                           probeL.get(), threadsM[1], nullptr, containerM.get(), umcM.get(),
                           *std::make_unique<ResultTreeList>()),
                       "prepare\nkxxcp caught: No stages are configured in this pipeline");
  ResultTreeList unusedL;
  EXPECT_KXXCP_MESSAGE(pipelineM->identifyTransactionPrivate(nullptr, threadsM[1], nullptr,
                                                             containerM.get(), umcM.get(), unusedL),
                       "prepare\nkxxcp caught: Probe, container or metadata container is NULL");
  EXPECT_KXXCP_MESSAGE(makePipeline("mixed"), "PipelineFactory - Multi-modal search not supported");
  EXPECT_KXXCP_MESSAGE(pipelineM->getIdentifier({ModalityFace, InstanceFaceFrontal, AlgSta}),
                       "This stage not specified.");
  std::vector<ResultTreeList> bundleL;
  EXPECT_KXXCP_MESSAGE(pipelineM->identifyProbeBundle({probeL.get()}, threadsM[1], nullptr,
                                                      containerM.get(), umcM.get(), bundleL),
                       "Only IRIS Pipeline supports bundled probes");
}

TEST_F(PipelineTest, PerformanceFileSumsEveryProbeOfTheSlot) {
  const auto probeL = faceRecord(probeVector(3, 0.5f, 9), 9999, {AlgHgmByte, AlgHgmFloat});
  identify(*probeL);  // without TOLM_COMMON_DIR and log name nothing is written
  ::setenv("TOLM_COMMON_DIR", dirM.path().c_str(), 1);
  std::filesystem::create_directories(dirM.path() + "/logs");
  threadsM[1].performanceLogName = "run_p1";
  identify(*probeL);
  const std::string pathL =
      TemplateMatcherMultipass_Pipeline::performanceLogPath(threadsM[1], "face");
  ::unsetenv("TOLM_COMMON_DIR");
  EXPECT_EQ(pathL, dirM.path() + "/logs/kvt.matchingPerformance.face." +
                       std::to_string(kxutl::QuarlenInformation::currentProcessId()) +
                       ".run_p1_p01.xml");
  std::ifstream inL(pathL);
  std::stringstream textL;
  textL << inL.rdbuf();
  const std::string fileL = textL.str();
  EXPECT_EQ(fileL.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<?xml-stylesheet "
                        "type=\"text/xsl\" href=\"kvt.style.matchingPerformance.xsl\"?>\n"
                        "<perfLog>\n<settings>\n\t<pipelineId>face</pipelineId>\n",
                        0),
            0u);
  // Records: query filtering, the two passes, overall; counts over both probes of slot 1.
  EXPECT_NE(fileL.find("\t algorithm             =   \"QueryFiltering\"\n"), std::string::npos);
  EXPECT_NE(fileL.find("\t algorithm             =   \"hgmByte\"\n"), std::string::npos);
  EXPECT_NE(fileL.find("\t algorithm             =   \"Overall\"\n"), std::string::npos);
  EXPECT_NE(fileL.find("\t sumGallerySize        =   \"800\"\n"), std::string::npos);  // 2 x 400
  // hgmFloat is reloaded from disk in full for each probe; hgmByte lives in memory.
  EXPECT_NE(fileL.find("\t sumReloadSize         =   \"800\"\n"), std::string::npos);
  EXPECT_NE(fileL.find("\t sumReloadSize         =   \"0\"\n\t sumReloadTime         =   "
                       "\"0.00001\"\n"),
            std::string::npos);
  EXPECT_NE(fileL.find("\t >\n</perf>\n</perfLog>\n"), std::string::npos);
  EXPECT_EQ(threadsM[1].queryFilteringPerformance.probeCount, 2u);
}

// An iris gallery of random codes (matcher form, about 80 % of the bits usable).
class IrisBundleTest : public ::testing::Test {
 protected:
  static constexpr unsigned kIrisPersons = 150;

  void SetUp() override {
    const std::string storageL = dirM.write(
        "storage.xml",
        "<root><storage id=\"iris\" reserveNumberOfTemplates=\"200\" folder=\"" + dirM.path() +
            "\">\n"
            " <memory modality=\"iris\" instance=\"irisLeft\" algorithm=\"daugman2010\"/>\n"
            "</storage></root>\n");
    const std::string pipelinesL = dirM.write(
        "pipelines.xml",
        "<config><multipass id=\"iris\">\n"
        "  <stage modality=\"iris\" instance=\"irisLeft\" algorithm=\"daugman2010\" "
        "filterScore=\"true\" globalWeight=\"1\" resultLengthMax=\"5\" resultLengthMin=\"5\" "
        "nThreads=\"2\" resultLengthLocalPercent=\"0\" resultLengthGlobalPercent=\"0\" "
        "useNormalization=\"false\" isRequired=\"true\"/>\n"
        "</multipass></config>\n");
    quarlen_test::installScoreConfig(
        dirM, "noMapping",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxNumberOfParallelProbes = 1\n"
        "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\nStringIdentifierData = 8\n");
    QueryLanguage::setAttributeSize(4);
    umcM = std::make_unique<UniqueMetadataContainer>(ModalityIris);
    containerM = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("iris", storageL);
    containerM->init(1, false, umcM.get());
    umcM->initAddNewTripple(ModalityIris, InstanceIrisLeft, AlgDaugman2010, 0);
    threadM.resultParameter.readFromQuarlenIni();
    for (int e = 0; e < 2; ++e) {
      threadM.sharedMatchEngines[AlgDaugman2010].push_back(
          StageMatchEngine_Base::createStageEngine(AlgDaugman2010));
    }
    std::mt19937_64 rngL(3);
    for (unsigned p = 0; p < kIrisPersons; ++p) {
      codesM.push_back(randomCode(rngL));
      const auto recordL = irisRecord(codesM.back(), p);
      containerM->addIdRecord(recordL.get(), nullptr, nullptr, threadM, false);
    }
    MultipassConfig configL;
    configL.read(pipelinesL, "iris");
    pipelineM.reset(PipelineFactory::createPipeline(configL, "iris"));
    pipelineM->setConfig(configL);
  }
  void TearDown() override { kxutl::QuarlenInformation::setConfigFile(""); }

  static std::vector<unsigned char> randomCode(std::mt19937_64& rngA) {
    std::vector<unsigned char> codeL(kxegm::irisforms::kCodeBytes);
    for (std::size_t w = 0; w < codeL.size() / 8; ++w) {
      const std::uint64_t hiddenL = rngA() & rngA() & rngA() & 0xFFFFFFFFull;
      const std::uint64_t wordL = (rngA() & 0xFFFFFFFFull) | ((~hiddenL & 0xFFFFFFFFull) << 32);
      std::memcpy(codeL.data() + 8 * w, &wordL, 8);
    }
    return codeL;
  }
  // The code with about a fifth of its code bits flipped.
  static std::vector<unsigned char> noisy(std::vector<unsigned char> codeA, unsigned seedA) {
    std::mt19937 rngL(seedA);
    for (std::size_t w = 0; w < codeA.size() / 8; ++w) {
      for (int b = 0; b < 32; ++b) {
        if (rngL() % 5 == 0) codeA[8 * w + b / 8] ^= static_cast<unsigned char>(1u << (b % 8));
      }
    }
    return codeA;
  }
  static std::unique_ptr<IdRecordImp> irisRecord(const std::vector<unsigned char>& codeA,
                                                 std::uint64_t personA) {
    auto rL = std::make_unique<IdRecordImp>();
    rL->setIdRecordKey(IdRecordKey(personA, personA));
    std::unique_ptr<TemplateBlockImp> bL(TemplateBlockImp::createTemplateBlock(AlgDaugman2010));
    bL->setData(nullptr, 0, codeA.data(), static_cast<unsigned>(codeA.size()), true);
    rL->addTemplateBlock(bL.release(), ModalityIris, InstanceIrisLeft, KXuint128{0, personA});
    return rL;
  }

  quarlen_test::TempDir dirM;
  std::unique_ptr<UniqueMetadataContainer> umcM;
  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> containerM;
  ThreadStruct threadM{0};
  std::vector<std::vector<unsigned char>> codesM;
  std::unique_ptr<TemplateMatcherMultipass_Pipeline> pipelineM;
};

TEST_F(IrisBundleTest, EveryProbeOfABundleGetsItsOwnIdentification) {
  std::vector<std::unique_ptr<IdRecordImp>> probesL;
  std::vector<const IdRecordImp*> bundleL;
  for (unsigned p : {10u, 77u, 140u}) {
    probesL.push_back(irisRecord(noisy(codesM[p], p), 9000 + p));
    bundleL.push_back(probesL.back().get());
  }
  std::vector<ResultTreeList> listsL;
  pipelineM->identifyProbeBundle(bundleL, threadM, nullptr, containerM.get(), umcM.get(), listsL);
  ASSERT_EQ(listsL.size(), 3u);
  for (std::size_t i = 0; i < bundleL.size(); ++i) {
    // The same list as the probe identified alone.
    ResultTreeList aloneL;
    pipelineM->identifyTransactionPrivate(bundleL[i], threadM, nullptr, containerM.get(),
                                          umcM.get(), aloneL);
    ASSERT_GT(aloneL.size(), 0u);
    EXPECT_EQ(aloneL[0].personId(), bundleL[i]->personId() - 9000);
    ASSERT_EQ(listsL[i].size(), aloneL.size());
    for (std::size_t r = 0; r < aloneL.size(); ++r) {
      EXPECT_EQ(listsL[i][r].personId(), aloneL[r].personId());
      EXPECT_EQ(listsL[i][r].getScore(), aloneL[r].getScore());
    }
  }
  // Bundles cannot be narrowed, and every probe needs the stage's block.
  ProbeDescriptor dL;
  dL.setTransactionList({1});
  EXPECT_KXXCP_MESSAGE(
      pipelineM->identifyProbeBundle(bundleL, threadM, &dL, containerM.get(), umcM.get(), listsL),
      "transaction id lists not supported for bundled probes");
  dL.setPersonList({1});
  EXPECT_KXXCP_MESSAGE(
      pipelineM->identifyProbeBundle(bundleL, threadM, &dL, containerM.get(), umcM.get(), listsL),
      "person id lists not supported for bundled probes");
  IdRecordImp emptyL;
  bundleL.push_back(&emptyL);
  EXPECT_KXXCP_MESSAGE(pipelineM->identifyProbeBundle(bundleL, threadM, nullptr, containerM.get(),
                                                      umcM.get(), listsL),
                       "Unexpected bundle size!!");
}

TEST(ProbeDescriptorTest, QueriesAreValidatedAndCopiesOwnTheirParts) {
  quarlen_test::TempDir dirL;
  quarlen_test::installScoreConfig(dirL, "noMapping",
                                   "[MAX_TEMPLATE_SIZE]\nQueryLanguage = 1044\n");
  QueryLanguage::setAttributeSize(4);
  ProbeDescriptor dL;
  EXPECT_FALSE(dL.hasQuery() || dL.hasPersonList() || dL.hasTransactionList());
  EXPECT_EQ(dL.userValue(), -1);
  const unsigned int badL[] = {3, 9, QueryLanguage::kEqual, 2, 0};
  EXPECT_KXXCP_MESSAGE(
      dL.setQuery(badL, 5),
      "Query word 1: attribute index 9 is greater than the number of attributes 4.");
  EXPECT_FALSE(dL.hasQuery());
  const unsigned int goodL[] = {3, 1, QueryLanguage::kEqual, 2, 0, 77};  // trailing word dropped
  dL.setQuery(goodL, 6);
  EXPECT_EQ(dL.querySize(), 5u);
  ProbeDescriptor otherL;
  otherL.setQuery(goodL, 6);
  otherL.setQuery(goodL, 0);  // no words: no query
  EXPECT_FALSE(otherL.hasQuery());
  MultipassConfig configL;
  dL.setConfig(&configL);
  dL.setTransactionList({5});
  ProbeDescriptor copyL(dL);
  dL.clear();
  EXPECT_FALSE(dL.hasQuery() || dL.hasTransactionList() || dL.config() != nullptr);
  ASSERT_TRUE(copyL.hasQuery());
  EXPECT_EQ(std::vector<unsigned>(copyL.query(), copyL.query() + 5),
            std::vector<unsigned>(goodL, goodL + 5));
  EXPECT_NE(copyL.config(), nullptr);
  EXPECT_EQ(copyL.transactionList(), std::vector<std::uint64_t>{5});
  kxutl::QuarlenInformation::setConfigFile("");
}

}  // namespace
}  // namespace qrbase
