#include <quarlen/ShardExchange.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <quarlen/MultipassConfig.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/TemplateMatcherMultipass_Stage_Common.h>

#include "support/ExampleConfig.h"
#include "support/ResultListText.h"
#include "support/SyntheticRecords.h"

namespace {

using qrbase::ShardCandidate;
using qrbase::ShardExchange;
using qrbase::ShardPass;
using qrbase::ShardPassGuard;
using qrbase::ShardPassReport;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Candidates (score, person id); transaction id = person id + 1.
using Scored = std::vector<std::pair<float, std::uint64_t>>;

ShardPassReport reportOf(const Scored& scoresA, std::size_t boundA) {
  std::vector<ShardCandidate> listL;
  for (const auto& [scoreL, personL] : scoresA) listL.push_back({scoreL, personL, personL + 1});
  ShardPassReport rL;
  rL.setBest(std::move(listL), boundA);
  return rL;
}

Scored bestOf(const ShardPassReport& rA) {
  Scored outL;
  for (const ShardCandidate& cL : rA.best) outL.emplace_back(cL.score, cL.personId);
  return outL;
}

std::vector<std::size_t> sharesOf(const std::vector<ShardPassReport>& reportsA, std::size_t kA) {
  std::vector<std::size_t> outL;
  for (std::size_t s = 0; s < reportsA.size(); ++s) {
    outL.push_back(ShardPass(reportsA, s).localShare(kA));
  }
  return outL;
}

TEST(ShardPassReport, KeepsTheFirstCandidatesInCandidateOrderWithoutNaN) {
  const ShardPassReport rL =
      reportOf({{0.5f, 1}, {kNaN, 2}, {2.0f, 9}, {1.0f, 4}, {2.0f, 3}, {-3.0f, 5}}, 3);
  EXPECT_EQ(bestOf(rL), (Scored{{2.0f, 3}, {2.0f, 9}, {1.0f, 4}}));
  EXPECT_EQ(rL.candidates, 6u);
  EXPECT_EQ(bestOf(reportOf({{kNaN, 1}, {1.0f, 2}}, 5)), (Scored{{1.0f, 2}}));
  EXPECT_TRUE(reportOf({{1.0f, 1}}, 0).best.empty());
  // Equal scores and persons: the transaction decides.
  EXPECT_TRUE((ShardCandidate{1.0f, 4, 1}).before(ShardCandidate{1.0f, 4, 2}));
  EXPECT_FALSE((ShardCandidate{1.0f, 4, 2}).before(ShardCandidate{1.0f, 4, 2}));
  EXPECT_TRUE((ShardCandidate{1.5f, 9, 9}).before(ShardCandidate{1.0f, 1, 1}));
}

TEST(ShardPass, SumsTheShardsCountsAndFindsTheFirstFailedShard) {
  std::vector<ShardPassReport> reportsL(3);
  reportsL[0].compared = 10;
  reportsL[1].compared = 5;
  reportsL[0].identities = 100;
  reportsL[2].identities = 7;
  reportsL[1].results = 3;
  reportsL[2].results = 4;
  reportsL[0].candidates = 1;
  reportsL[2].candidates = 2;
  const ShardPass passL(reportsL, 1);
  EXPECT_EQ(
      std::make_tuple(passL.compared(), passL.identities(), passL.results(), passL.candidates()),
      std::make_tuple(15u, 107u, 7u, 3u));
  EXPECT_EQ(passL.firstFailedShard(), 3u);
  reportsL[2].failed = true;
  EXPECT_EQ(ShardPass(reportsL, 0).firstFailedShard(), 2u);
  reportsL[1].failed = true;
  EXPECT_EQ(ShardPass(reportsL, 0).firstFailedShard(), 1u);
}

// Equal scores at the cut go to the lowest person ids, on whichever shard they are.
TEST(ShardPass, SharesTiesAtTheCutByPersonId) {
  const std::vector<ShardPassReport> reportsL = {reportOf({{5, 20}, {3, 21}, {3, 4}}, 10),
                                                 reportOf({{3, 2}, {3, 30}}, 10),
                                                 reportOf({{3, 1}, {9, 50}}, 10)};
  EXPECT_EQ(sharesOf(reportsL, 0), (std::vector<std::size_t>{0, 0, 0}));
  EXPECT_EQ(sharesOf(reportsL, 1), (std::vector<std::size_t>{0, 0, 1}));
  EXPECT_EQ(sharesOf(reportsL, 2), (std::vector<std::size_t>{1, 0, 1}));
  EXPECT_EQ(sharesOf(reportsL, 3), (std::vector<std::size_t>{1, 0, 2}));
  EXPECT_EQ(sharesOf(reportsL, 4), (std::vector<std::size_t>{1, 1, 2}));
  EXPECT_EQ(sharesOf(reportsL, 5), (std::vector<std::size_t>{2, 1, 2}));
  EXPECT_EQ(sharesOf(reportsL, 6), (std::vector<std::size_t>{3, 1, 2}));
  EXPECT_EQ(sharesOf(reportsL, 7), (std::vector<std::size_t>{3, 2, 2}));
  EXPECT_EQ(sharesOf(reportsL, 9), (std::vector<std::size_t>{3, 2, 2}));
  EXPECT_EQ(ShardPass(reportsL, 3).localShare(4), 0u);
  // Several entries of one identity with one score (fingers of a person) stay on its shard.
  const std::vector<ShardPassReport> sameL = {reportOf({{3, 7}, {3, 7}, {3, 7}}, 10),
                                              reportOf({{4, 1}, {3, 8}}, 10)};
  EXPECT_EQ(sharesOf(sameL, 3), (std::vector<std::size_t>{2, 1}));
  EXPECT_EQ(sharesOf(sameL, 5), (std::vector<std::size_t>{3, 2}));
}

// Property: for random shards (scores from a small set, so that ties are common, and NaN), the
// first localShare(K) candidates of every shard together are exactly the first K candidates of
// all shards, whatever bound (at least K) the shards sent.
TEST(ShardPass, SharesMakeUpTheFirstKOfAllShards) {
  std::mt19937 rngL(7);
  const auto orderL = [](const std::pair<float, std::uint64_t>& aA,
                         const std::pair<float, std::uint64_t>& bA) {
    return aA.first != bA.first ? aA.first > bA.first : aA.second < bA.second;
  };
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t shardsL = 1 + rngL() % 5;
    const std::size_t kL = rngL() % 40;
    std::vector<Scored> scoresL(shardsL);
    Scored allL;
    std::uint64_t personL = 0;
    for (auto& sL : scoresL) {
      const std::size_t nL = rngL() % 25;
      for (std::size_t i = 0; i < nL; ++i) {
        const float vL = rngL() % 11 == 0 ? kNaN : static_cast<float>(rngL() % 8) - 2.0f;
        personL += 1 + rngL() % 3;
        sL.emplace_back(vL, personL);
        if (!std::isnan(vL)) allL.emplace_back(vL, personL);
      }
      std::shuffle(sL.begin(), sL.end(), rngL);
    }
    std::shuffle(scoresL.begin(), scoresL.end(), rngL);
    std::vector<ShardPassReport> reportsL;
    for (const auto& sL : scoresL) reportsL.push_back(reportOf(sL, kL + rngL() % 3));
    std::sort(allL.begin(), allL.end(), orderL);
    allL.resize(std::min(kL, allL.size()));
    Scored unionL;
    for (std::size_t s = 0; s < shardsL; ++s) {
      Scored mineL;
      for (const auto& cL : scoresL[s]) {
        if (!std::isnan(cL.first)) mineL.push_back(cL);
      }
      std::sort(mineL.begin(), mineL.end(), orderL);
      const std::size_t shareL = ShardPass(reportsL, s).localShare(kL);
      ASSERT_LE(shareL, mineL.size());
      unionL.insert(unionL.end(), mineL.begin(),
                    mineL.begin() + static_cast<std::ptrdiff_t>(shareL));
    }
    std::sort(unionL.begin(), unionL.end(), orderL);
    ASSERT_EQ(unionL, allL) << "trial " << trial;
  }
}

// Records what passes through it; answers with its own report and a second shard's.
class RecordingExchange : public ShardExchange {
 public:
  std::vector<ShardPassReport> sent;

 protected:
  std::vector<ShardPassReport> exchangeReports(const ShardPassReport& mineA) override {
    sent.push_back(mineA);
    ShardPassReport otherL;
    otherL.identities = 1000;
    return {mineA, otherL};
  }
  std::size_t shardIndex() const override { return 0; }
};

TEST(ShardPassGuard, TakesPartOnceInEveryPassHoweverThePassEnds) {
  RecordingExchange exL;
  {
    // The pass exchanged itself: the guard adds nothing.
    const ShardPassGuard guardL(&exL, 50, "0");
    ShardPassReport rL;
    rL.compared = 9;
    const ShardPass passL = exL.exchangePass(rL);
    EXPECT_EQ(passL.identities(), 1000u);
  }
  ASSERT_EQ(exL.sent.size(), 1u);
  EXPECT_EQ(exL.passes(), 1u);
  {
    // Nothing to score on this shard: an empty report that still counts the shard's identities.
    const ShardPassGuard guardL(&exL, 50, "1");
  }
  ASSERT_EQ(exL.sent.size(), 2u);
  EXPECT_EQ(std::make_tuple(exL.sent[1].identities, exL.sent[1].compared, exL.sent[1].failed),
            std::make_tuple(50u, 0u, false));
  EXPECT_TRUE(exL.takeFailures().empty());
  try {
    const ShardPassGuard guardL(&exL, 50, "2");
    throw std::runtime_error("pass broke");
  } catch (const std::runtime_error&) {
  }
  ASSERT_EQ(exL.sent.size(), 3u);
  EXPECT_TRUE(exL.sent[2].failed);
  try {
    const ShardPassGuard guardL(&exL, 50, "3");
    exL.exchangePass(ShardPassReport());
    throw std::runtime_error("recording broke");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(exL.sent.size(), 4u);
  EXPECT_EQ(exL.takeFailures(), (std::vector<std::string>{"pass 2 failed", "pass 3 failed"}));
  EXPECT_TRUE(exL.takeFailures().empty());
  { const ShardPassGuard guardL(nullptr, 50, "4"); }
  EXPECT_EQ(exL.sent.size(), 4u);
}

TEST(ShardPass, CandidateBoundCoversEveryCandidateCount) {
  qrbase::MultipassConfig::Matchmode modeL;
  modeL.resultLengthMax = 70;
  using Stage = qrbase::TemplateMatcherMultipass_Stage_Common;
  EXPECT_EQ(Stage::candidateBound(modeL, qrbase::MultipassConfig::ProcessingSequential), 70u);
  EXPECT_EQ(Stage::candidateBound(modeL, qrbase::MultipassConfig::ProcessingParallel), 700u);
  modeL.resultLengthMin = 0;
  modeL.resultLengthLocalPercent = 100;
  for (int processingL : {0, 1, 2}) {
    EXPECT_LE(Stage::candidateCount(modeL, 100000, 100000, processingL),
              Stage::candidateBound(modeL, processingL));
  }
}

// Shards in threads of one process: a barrier carries the reports of every pass.
class ThreadHub {
 public:
  explicit ThreadHub(std::size_t shardsA) : slotsM(shardsA) {}
  std::vector<ShardPassReport> exchange(std::size_t shardA, const ShardPassReport& mineA) {
    std::unique_lock<std::mutex> lockL(mutexM);
    slotsM[shardA] = mineA;
    const std::uint64_t roundL = roundM;
    if (++arrivedM == slotsM.size()) {
      publishedM = slotsM;
      arrivedM = 0;
      ++roundM;
      cvM.notify_all();
    } else {
      cvM.wait(lockL, [&] { return roundM != roundL; });
    }
    return publishedM;
  }

 private:
  std::mutex mutexM;
  std::condition_variable cvM;
  std::vector<ShardPassReport> slotsM, publishedM;
  std::size_t arrivedM = 0;
  std::uint64_t roundM = 0;
};

class ThreadExchange : public ShardExchange {
 public:
  ThreadExchange(ThreadHub& hubA, std::size_t shardA) : hubM(hubA), shardM(shardA) {}

 protected:
  std::vector<ShardPassReport> exchangeReports(const ShardPassReport& mineA) override {
    return hubM.exchange(shardM, mineA);
  }
  std::size_t shardIndex() const override { return shardM; }

 private:
  ThreadHub& hubM;
  std::size_t shardM;
};

std::string stageXml(const char* modalityA, const char* instanceA, const char* algorithmA,
                     const std::string& maxA, const std::string& minA, const std::string& localA,
                     const std::string& globalA) {
  return std::string("<stage modality=\"") + modalityA + "\" instance=\"" + instanceA +
         "\" algorithm=\"" + algorithmA +
         "\" filterScore=\"true\" globalWeight=\"1.0\" resultLengthMax=\"" + maxA +
         "\" resultLengthMin=\"" + minA + "\" nThreads=\"2\" resultLengthLocalPercent=\"" + localA +
         "\" resultLengthGlobalPercent=\"" + globalA +
         "\" useNormalization=\"false\" isRequired=\"true\"/>\n";
}

struct ShardCase {
  const char* pipeline;
  const char* storage;
  bool face;
  std::size_t shards;
};

class ShardedPipeline : public ::testing::TestWithParam<ShardCase> {};

// Shards of one gallery, each with its own matcher, cut every pass to the candidates one matcher
// over the whole gallery keeps: their lists together are that matcher's list, tree by tree. The
// pipelines size their cuts by every rule a shard cannot know alone: a fixed count below the
// gallery, a share of the compared candidates, a share of all identities.
TEST_P(ShardedPipeline, ShardsTogetherAnswerAsOneMatcher) {
  const ShardCase& caseL = GetParam();
  quarlen_test::ExampleConfig configL;
  // The example pipelines (iris among them) and two face pipelines of other cut rules.
  std::string pipelinesL = configL.filled("pipelines.xml");
  pipelinesL.insert(
      pipelinesL.rfind("</pipelines>"),
      "<multipass id=\"faceFixed\">\n<common processing=\"sequential\"/>\n" +
          stageXml("face", "faceFrontal", "hgmByte", "300", "300", "100", "100") +
          stageXml("face", "faceFrontal", "hgmFloat", "40", "40", "100", "100") +
          "</multipass>\n<multipass id=\"facePercent\">\n<common processing=\"parallel\"/>\n" +
          stageXml("face", "faceFrontal", "hgmByte", "100000", "0", "7", "0") +
          stageXml("face", "faceFrontal", "hgmFloat", "100000", "0", "0", "1.5") +
          "</multipass>\n");
  configL.replace("pipelines.xml", pipelinesL);
  configL.install();
  constexpr std::uint64_t kIdentities = 1500;
  const auto recordOf = [&](std::uint64_t idA, std::uint64_t seedA) {
    return caseL.face ? quarlen_test::syntheticFaceRecord(idA, idA + 1, idA + 1, seedA)
                      : quarlen_test::syntheticIrisRecord(idA, idA + 1, idA + 1, seedA);
  };
  qrbase::TemplateMatcherMultipass wholeL;
  wholeL.init(caseL.storage, (configL.galleryDir() + "/whole").c_str(), 0, false);
  wholeL.addMatchingPipeline(caseL.pipeline);
  ThreadHub hubL(caseL.shards);
  std::vector<std::unique_ptr<ThreadExchange>> exchangesL;
  std::vector<std::unique_ptr<qrbase::TemplateMatcherMultipass>> shardsL;
  for (std::size_t s = 0; s < caseL.shards; ++s) {
    exchangesL.push_back(std::make_unique<ThreadExchange>(hubL, s));
    shardsL.push_back(std::make_unique<qrbase::TemplateMatcherMultipass>());
    shardsL[s]->init(caseL.storage, (configL.galleryDir() + "/shard" + std::to_string(s)).c_str(),
                     0, false);
    shardsL[s]->setShardExchange(exchangesL[s].get());
    shardsL[s]->addMatchingPipeline(caseL.pipeline);
  }
  for (std::uint64_t id = 0; id < kIdentities; ++id) {
    const auto recordL = recordOf(id, 0);
    wholeL.addIdRecord(recordL.get(), nullptr, false);
    shardsL[(id * 7 + id / 5) % caseL.shards]->addIdRecord(recordL.get(), nullptr, false);
  }
  int answeredL = 0;
  for (std::uint64_t p = 0; p < 6; ++p) {
    const auto probeL = recordOf((p * 389) % kIdentities, 100 + p);
    qridy::ProbeDescriptor descriptorL;
    if (p % 3 == 2) {
      std::vector<std::uint64_t> personsL;
      for (std::uint64_t id = 0; id < kIdentities; id += 2) personsL.push_back(id);
      descriptorL.setPersonList(personsL);
    }
    qridy::ProbeDescriptor* narrowL = p % 3 == 2 ? &descriptorL : nullptr;
    qridy::ResultTreeList expectedL;
    wholeL.identifyTransaction(probeL.get(), 0, expectedL, narrowL);
    std::vector<qridy::ResultTreeList> partsL(caseL.shards);
    std::vector<std::thread> threadsL;
    for (std::size_t s = 0; s < caseL.shards; ++s) {
      threadsL.emplace_back([&, s] {
        qridy::ProbeDescriptor copyL = descriptorL;
        shardsL[s]->identifyTransaction(probeL.get(), 0, partsL[s], narrowL ? &copyL : nullptr);
      });
    }
    for (auto& tL : threadsL) tL.join();
    qridy::ResultTreeList mergedL;
    for (const auto& partL : partsL) mergedL.append(partL);
    answeredL += expectedL.size() != 0 ? 1 : 0;
    EXPECT_EQ(quarlen_test::resultListTexts(mergedL), quarlen_test::resultListTexts(expectedL))
        << "probe " << p;
    for (auto& exL : exchangesL) EXPECT_TRUE(exL->takeFailures().empty());
  }
  EXPECT_GE(answeredL, 4);
}

INSTANTIATE_TEST_SUITE_P(Pipelines, ShardedPipeline,
                         ::testing::Values(ShardCase{"faceFixed", "face", true, 2},
                                           ShardCase{"faceFixed", "face", true, 3},
                                           ShardCase{"facePercent", "face", true, 3},
                                           ShardCase{"iris", "iris", false, 2}),
                         [](const ::testing::TestParamInfo<ShardCase>& infoA) {
                           return std::string(infoA.param.pipeline) + "_" +
                                  std::to_string(infoA.param.shards);
                         });

}  // namespace
