// Identification through the matcher on the example configuration: synthetic face and iris
// galleries, mates found at rank 1, the same results after a restart with recovery and when
// several probe slots identify at once, and faults (probe records, slots, pipelines that name
// what the storage does not hold, passes whose engine throws) that end a pass or the call but
// never the process, and never change the gallery.

#include <quarlen/TemplateMatcherMultipass.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <qrlcore/Notification.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass_Pipeline.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/StageWorkers.h"
#include "support/ExampleConfig.h"
#include "support/ExceptionMatchers.h"
#include "support/SyntheticRecords.h"

namespace qrbase {
namespace {

using namespace qridy;
using quarlen_test::ExampleConfig;
using quarlen_test::syntheticFaceRecord;
using quarlen_test::syntheticIrisRecord;
using Synthetic = std::unique_ptr<IdRecordImp> (*)(std::uint64_t, std::uint64_t, std::uint64_t,
                                                   std::uint64_t);

// Person p is identity p, enrolled as transaction 1000 + p; probes are samples of the
// identity with noise.
constexpr std::uint64_t kTransactionBase = 1000;

// What a result list says, in order: person, transaction, score.
using Ranking = std::vector<std::tuple<std::uint64_t, std::uint64_t, float>>;

Ranking rankingOf(const ResultTreeList& listA) {
  Ranking rL;
  for (std::size_t i = 0; i < listA.size(); ++i) {
    rL.emplace_back(listA[i].personId(), listA[i].transactionId(), listA[i].getScore());
  }
  return rL;
}

class Quiet {
 public:
  Quiet() : previousM(kxntc::setSink([](kxntc::Level, const std::string&) {})) {}
  ~Quiet() { kxntc::setSink(previousM); }

 private:
  kxntc::Sink previousM;
};

// Collects error notifications.
class Errors {
 public:
  Errors() {
    previousM = kxntc::setSink([this](kxntc::Level levelA, const std::string& textA) {
      if (levelA == kxntc::Level::error) texts.push_back(textA);
    });
  }
  ~Errors() { kxntc::setSink(previousM); }
  bool any(const std::string& prefixA) const {
    for (const std::string& t : texts) {
      if (t.rfind(prefixA, 0) == 0) return true;
    }
    return false;
  }
  std::vector<std::string> texts;

 private:
  kxntc::Sink previousM;
};

class IdentificationTest : public ::testing::Test {
 protected:
  IdentificationTest() { QueryLanguage::setAttributeSize(4); }

  std::unique_ptr<TemplateMatcherMultipass> open(const char* storageA, const char* pipelineA,
                                                 bool recoverA) {
    auto mL = std::make_unique<TemplateMatcherMultipass>();
    mL->init(storageA, nullptr, 0, recoverA);
    mL->addMatchingPipeline(pipelineA);
    return mL;
  }
  static void enrol(TemplateMatcherMultipass& mA, Synthetic makeA, std::uint64_t personsA) {
    for (std::uint64_t p = 1; p <= personsA; ++p) {
      mA.addIdRecord(makeA(p, kTransactionBase + p, p, 0).get(), nullptr, false);
    }
  }
  static ResultTreeList identify(TemplateMatcherMultipass& mA, const IdRecordImp& probeA,
                                 unsigned slotA = 0, ProbeDescriptor* descriptorA = nullptr) {
    ResultTreeList listL;
    mA.identifyTransaction(&probeA, slotA, listL, descriptorA);
    return listL;
  }

  ExampleConfig configM;
  Quiet quietM;
};

// Every probe's mate is first; identity p's probe with sample seed s.
void expectMatesAtRankOne(TemplateMatcherMultipass& mA, Synthetic makeA, std::uint64_t personsA,
                          std::uint64_t stepA) {
  for (std::uint64_t p = 1; p <= personsA; p += stepA) {
    ResultTreeList listL;
    mA.identifyTransaction(makeA(0, 0, p, 77 + p).get(), 0, listL, nullptr);
    ASSERT_GT(listL.size(), 0u) << "person " << p;
    EXPECT_EQ(listL[0].personId(), p);
    EXPECT_EQ(listL[0].transactionId(), kTransactionBase + p);
    if (listL.size() > 1) {
      EXPECT_GT(listL[0].getScore(), listL[1].getScore()) << "person " << p;
    }
  }
}

TEST_F(IdentificationTest, FaceMatesAreFoundAtRankOneAndAgainAfterARestart) {
  // More identities than the first pass keeps (1000), so that it really prunes.
  constexpr std::uint64_t kPersons = 1200;
  std::vector<Ranking> beforeL;
  {
    auto mL = open("face", "face", false);
    enrol(*mL, syntheticFaceRecord, kPersons);
    expectMatesAtRankOne(*mL, syntheticFaceRecord, kPersons, 37);
    for (std::uint64_t p = 5; p <= kPersons; p += 150) {
      const ResultTreeList listL = identify(*mL, *syntheticFaceRecord(0, 0, p, 9));
      EXPECT_EQ(listL.size(), 100u);  // the last pass keeps 100
      beforeL.push_back(rankingOf(listL));
    }
  }
  auto mL = open("face", "face", true);
  EXPECT_EQ(mL->numberOfIdRecords(), kPersons);
  std::vector<Ranking> afterL;
  for (std::uint64_t p = 5; p <= kPersons; p += 150) {
    afterL.push_back(rankingOf(identify(*mL, *syntheticFaceRecord(0, 0, p, 9))));
  }
  EXPECT_EQ(afterL, beforeL);
}

TEST_F(IdentificationTest, IrisMatesAreFoundAtRankOneAlsoInBundles) {
  constexpr std::uint64_t kPersons = 150;
  auto mL = open("iris", "iris", false);
  enrol(*mL, syntheticIrisRecord, kPersons);
  expectMatesAtRankOne(*mL, syntheticIrisRecord, kPersons, 7);

  std::vector<std::unique_ptr<IdRecordImp>> probesL;
  std::vector<const IdRecordImp*> bundleL;
  for (std::uint64_t p : {3, 50, 149}) {
    probesL.push_back(syntheticIrisRecord(0, 0, p, 5));
    bundleL.push_back(probesL.back().get());
  }
  std::vector<ResultTreeList> listsL;
  mL->identifyProbeBundle(bundleL, 1, listsL);
  ASSERT_EQ(listsL.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rankingOf(listsL[i]), rankingOf(identify(*mL, *bundleL[i], 1))) << "probe " << i;
  }
  EXPECT_EQ(listsL[1][0].personId(), 50u);
}

// Four fingers of a mate outscore those of every impostor: fingerprint scores keep their log-FAR
// scale into the fusion (clamped to 1.0 each, a mate and a good impostor would tie).
TEST_F(IdentificationTest, FourFingerMatesAreFoundAtRankOne) {
  auto mL = open("finger", "fourFinger", false);
  enrol(*mL, quarlen_test::syntheticFingerRecord, 150);
  expectMatesAtRankOne(*mL, quarlen_test::syntheticFingerRecord, 150, 19);
}

TEST_F(IdentificationTest, DescriptorListsRestrictTheCandidates) {
  auto mL = open("face", "face", false);
  enrol(*mL, syntheticFaceRecord, 40);
  ProbeDescriptor onlyL;
  onlyL.setTransactionList({kTransactionBase + 3, kTransactionBase + 9});
  const ResultTreeList listL = identify(*mL, *syntheticFaceRecord(0, 0, 9, 1), 2, &onlyL);
  ASSERT_EQ(listL.size(), 2u);
  EXPECT_EQ(listL[0].personId(), 9u);
  EXPECT_EQ(listL[1].personId(), 3u);
  // The next identification of the slot starts from the whole gallery again.
  EXPECT_EQ(identify(*mL, *syntheticFaceRecord(0, 0, 20, 1), 2).size(), 40u);
}

// A narrow first pass leaves few candidates; the second pass then visits their entries alone.
// Its results are those of the walk over every entry, also after identifications that labelled
// the whole gallery (a transaction list, on the same slot).
TEST_F(IdentificationTest, CandidatePassesGiveTheResultsOfTheWholeGalleryWalk) {
  const auto stage = [](const char* algorithmA, int keepA) {
    const std::string kL = std::to_string(keepA);
    return std::string("<stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"") +
           algorithmA + "\" filterScore=\"true\" globalWeight=\"1\" resultLengthMax=\"" + kL +
           "\" resultLengthMin=\"" + kL +
           "\" nThreads=\"2\" resultLengthLocalPercent=\"100\" "
           "resultLengthGlobalPercent=\"100\" useNormalization=\"false\" isRequired=\"true\"/>";
  };
  configM.replace("pipelines.xml", "<p><multipass id=\"narrow\">" + stage("hgmByte", 20) +
                                       stage("hgmFloat", 8) + "</multipass></p>");
  auto mL = open("face", "narrow", false);
  enrol(*mL, syntheticFaceRecord, 400);
  ProbeDescriptor fewL;
  fewL.setTransactionList({kTransactionBase + 3, kTransactionBase + 9});
  const auto run = [&](bool walkA) {
    stageworkers::setCandidateWalk(walkA);
    std::vector<Ranking> rankingsL;
    for (std::uint64_t p = 1; p <= 400; p += 43) {
      const unsigned slotL = static_cast<unsigned>(p % 2);
      rankingsL.push_back(rankingOf(identify(*mL, *syntheticFaceRecord(0, 0, p, 5), slotL)));
      if (p % 3 == 0) {
        rankingsL.push_back(
            rankingOf(identify(*mL, *syntheticFaceRecord(0, 0, p, 6), slotL, &fewL)));
      }
    }
    stageworkers::setCandidateWalk(true);
    return rankingsL;
  };
  const std::size_t passesL = stageworkers::candidateWalkPasses();
  const std::vector<Ranking> walkL = run(true);
  const std::size_t walkedL = stageworkers::candidateWalkPasses() - passesL;
  const std::vector<Ranking> wholeL = run(false);
  EXPECT_EQ(stageworkers::candidateWalkPasses() - passesL, walkedL);
  EXPECT_EQ(walkedL, 10u);  // the plain identifications, not those with a list
  EXPECT_EQ(walkL, wholeL);
  ASSERT_EQ(walkL[0].size(), 8u);
  EXPECT_EQ(std::get<0>(walkL[0][0]), 1u);
}

TEST_F(IdentificationTest, FaultsEndAPassOrTheCallButNeverChangeTheGallery) {
  auto mL = open("iris", "iris", false);
  enrol(*mL, syntheticIrisRecord, 60);
  const unsigned checksumL = mL->getMasterChecksum();
  const auto probeL = syntheticIrisRecord(0, 0, 12, 3);

  // Slots: the maximum named is the last slot index.
  ResultTreeList listL;
  EXPECT_KXXCP_MESSAGE(
      mL->identifyTransaction(probeL.get(), 4, listL),
      "Given thread index is greater than number of specified threads (given/max) = (4/3)");
  std::vector<ResultTreeList> listsL;
  EXPECT_KXXCP_MESSAGE(
      mL->identifyProbeBundle({probeL.get()}, 9, listsL),
      "Given thread index is greater than number of specified threads (given/max) = (9/3)");

  // Two samples of one eye.
  auto twoL = syntheticIrisRecord(0, 0, 12, 3);
  std::unique_ptr<TemplateBlockImp> extraL(TemplateBlockImp::createTemplateBlock(AlgDaugman2010));
  const unsigned char codeL[256] = {3};
  extraL->setData(codeL, 256, codeL, 256, false);
  twoL->addTemplateBlock(extraL.release(), ModalityIris, InstanceIrisLeft, KXuint128{9, 9});
  EXPECT_EQ(quarlen_test::thrownMessage([&] { identify(*mL, *twoL); }),
            "Probe IdRecords with multiple samples per instance are not supported.");

  // A left-eye block the engine cannot load: that pass fails, the right eye still finds the
  // mate.
  auto brokenL = syntheticIrisRecord(0, 0, 12, 3);
  const TemplateKey leftL = brokenL->getTemplateKeys(ModalityIris, InstanceIrisLeft)[0];
  TemplateBlockImp* blockL =
      const_cast<TemplateBlockImp*>(brokenL->getTemplateBlock(leftL, AlgDaugman2010, true));
  const unsigned char shortL[100] = {7};
  blockL->setData(shortL, 100, shortL, 100, false);
  {
    Errors errorsL;
    const ResultTreeList resultL = identify(*mL, *brokenL);
    EXPECT_TRUE(errorsL.any("Catched kxxcp::Exception: in performStage:")) << errorsL.texts.size();
    ASSERT_GT(resultL.size(), 0u);
    EXPECT_EQ(resultL[0].personId(), 12u);
  }
  // A probe without any block of the pipeline's triples finds nothing.
  EXPECT_EQ(identify(*mL, *syntheticFaceRecord(0, 0, 12, 3)).size(), 0u);

  EXPECT_EQ(mL->numberOfIdRecords(), 60u);
  EXPECT_EQ(mL->getMasterChecksum(), checksumL);
  expectMatesAtRankOne(*mL, syntheticIrisRecord, 60, 11);
}

TEST_F(IdentificationTest, PassesOverTriplesWithoutStorageFailAlone) {
  const std::string stagesL =
      "<stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"sta\" filterScore=\"true\" "
      "globalWeight=\"1\" resultLengthMax=\"10\" resultLengthMin=\"10\" nThreads=\"1\" "
      "resultLengthLocalPercent=\"100\" resultLengthGlobalPercent=\"100\" "
      "useNormalization=\"false\" isRequired=\"true\"/>"
      "<stage modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\" "
      "filterScore=\"true\" globalWeight=\"1\" resultLengthMax=\"10\" resultLengthMin=\"10\" "
      "nThreads=\"2\" resultLengthLocalPercent=\"100\" resultLengthGlobalPercent=\"100\" "
      "useNormalization=\"false\" isRequired=\"true\"/>";
  configM.replace("pipelines.xml", "<p><multipass id=\"faceSta\">" + stagesL + "</multipass></p>");
  auto mL = open("face", "faceSta", false);
  enrol(*mL, syntheticFaceRecord, 30);
  auto probeL = syntheticFaceRecord(0, 0, 17, 2);
  std::unique_ptr<TemplateBlockImp> staL(TemplateBlockImp::createTemplateBlock(AlgSta));
  const unsigned char bytesL[64] = {1, 2, 3};
  staL->setData(bytesL, 64, bytesL, 64, false);
  probeL->addTemplateBlock(staL.release(), ModalityFace, InstanceFaceFrontal,
                           probeL->getTemplateKeys(ModalityFace, InstanceFaceFrontal)[0].sampleId);
  Errors errorsL;
  const ResultTreeList listL = identify(*mL, *probeL);
  EXPECT_TRUE(errorsL.any("Catched kxxcp::Exception: in performStage:"));
  ASSERT_EQ(listL.size(), 10u);
  EXPECT_EQ(listL[0].personId(), 17u);
  EXPECT_EQ(mL->numberOfIdRecords(), 30u);
}

TEST_F(IdentificationTest, FourSlotsIdentifyingAtOnceGiveTheSerialResults) {
  constexpr std::uint64_t kPersons = 48;
  constexpr unsigned kProbesPerSlot = 250;
  auto mL = open("face", "face", false);
  enrol(*mL, syntheticFaceRecord, kPersons);
  // Probe i of slot s: a sample of identity 1 + (7 s + i) mod kPersons.
  std::vector<std::vector<std::unique_ptr<IdRecordImp>>> probesL(4);
  for (unsigned s = 0; s < 4; ++s) {
    for (unsigned i = 0; i < kProbesPerSlot; ++i) {
      probesL[s].push_back(syntheticFaceRecord(0, 0, 1 + (7 * s + i) % kPersons, 1 + s * 1000 + i));
    }
  }
  std::vector<std::vector<Ranking>> serialL(4), parallelL(4);
  for (unsigned s = 0; s < 4; ++s) {
    for (const auto& probeL : probesL[s])
      serialL[s].push_back(rankingOf(identify(*mL, *probeL, s)));
  }
  std::vector<std::string> failuresL(4);
  std::vector<std::thread> threadsL;
  for (unsigned s = 0; s < 4; ++s) {
    threadsL.emplace_back([&, s] {
      try {
        for (const auto& probeL : probesL[s]) {
          parallelL[s].push_back(rankingOf(identify(*mL, *probeL, s)));
        }
      } catch (const std::exception& eA) {
        failuresL[s] = eA.what();
      }
    });
  }
  for (std::thread& t : threadsL) t.join();
  for (unsigned s = 0; s < 4; ++s) {
    EXPECT_EQ(failuresL[s], "") << "slot " << s;
    ASSERT_EQ(parallelL[s].size(), kProbesPerSlot) << "slot " << s;
    for (unsigned i = 0; i < kProbesPerSlot; ++i) {
      ASSERT_EQ(parallelL[s][i], serialL[s][i]) << "slot " << s << " probe " << i;
      EXPECT_EQ(std::get<0>(serialL[s][i].at(0)), 1 + (7 * s + i) % kPersons);
    }
  }
}

TEST_F(IdentificationTest, TheMatcherNeedsItsPipelineOnce) {
  TemplateMatcherMultipass mL;
  mL.init("face", nullptr, 0, false);
  ResultTreeList listL;
  const auto probeL = syntheticFaceRecord(0, 0, 1, 1);
  EXPECT_KXXCP_MESSAGE(mL.identifyTransaction(probeL.get(), 0, listL),
                       "Cannot perform identification (no pipeline was added).");
  std::vector<ResultTreeList> listsL;
  EXPECT_KXXCP_MESSAGE(mL.identifyProbeBundle({probeL.get()}, 0, listsL),
                       "Cannot perform identification (no pipeline was added).");
  mL.addMatchingPipeline("face");
  EXPECT_KXXCP_MESSAGE(mL.addMatchingPipeline("iris"),
                       "A matching pipeline was already added (section : face).");
  EXPECT_EQ(mL.getMultipassConfig().getNumberOfStages(), 2u);
  EXPECT_EQ(mL.getMultipassConfig().getPipelineId(), "face");
  // Engines per slot: nThreads of the stages (2), shared by stages of the same algorithm.
  for (const ThreadStruct& s : mL.probeSlots()) {
    EXPECT_EQ(s.sharedMatchEngines.at(AlgHgmByte).size(), 2u);
    EXPECT_EQ(s.sharedMatchEngines.at(AlgHgmFloat).size(), 2u);
  }
  const UniqueMetadataContainer* umcL = mL.getUniqueMetadataContainer();
  EXPECT_EQ(umcL->getIndexOfScore(TemplateMatcherMultipass::calculateHashKey(
                ModalityFace, InstanceFaceFrontal, AlgHgmByte)),
            0u);
  EXPECT_EQ(umcL->getIndexOfScore(TemplateMatcherMultipass::calculateHashKey(
                ModalityFace, InstanceFaceFrontal, AlgHgmFloat)),
            1u);
  // Query filtering runs on the first stage's threads, within the cap.
  const unsigned everyoneL[] = {3, 1, QueryLanguage::kLess, 100, 0};
  mL.processQueryLanguage(1, everyoneL, 5, QueryFilterModeDefault);
  EXPECT_EQ(mL.probeSlots()[1].queryFilteringPerformance.threads, 2u);
  mL.setPerflogNumberOfMaxThreadsPerProbe(1);
  EXPECT_EQ(mL.getPipeline()->maxThreadsPerProbe(), 1u);
  mL.processQueryLanguage(1, everyoneL, 5, QueryFilterModeDefault);
  EXPECT_EQ(mL.probeSlots()[1].queryFilteringPerformance.threads, 1u);
  EXPECT_EQ(mL.probeSlots()[1].queryFilteringPerformance.probeCount, 2u);
  mL.setPerflogNumberOfMaxThreadsPerProbe(-1);
  EXPECT_EQ(mL.getPipeline()->maxThreadsPerProbe(),
            TemplateMatcherMultipass_Pipeline::kNoThreadCap);
}

}  // namespace
}  // namespace qrbase
