// The sharded gallery under mpirun (-np 2 and -np 4): every rank runs this executable; rank 0 also
// keeps one matcher over the whole gallery and checks that the merged answers of the shards equal
// its answers, probe by probe, down to every score of every result tree.
#include <gtest/gtest.h>

#include <mpi.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <qrlcore/Exception.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateMatcherMultipass.h>

#include "DemoPopulation.h"
#include "ShardedMatcher.h"
#include "support/ExampleConfig.h"
#include "support/ResultListText.h"

namespace {

using qrshard::ShardedMatcher;

int worldRank() {
  int rL = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rL);
  return rL;
}

// "" when the lists are equal, else their sizes and the first pair that differs.
std::string difference(const std::vector<std::string>& gotA,
                       const std::vector<std::string>& expectedA) {
  if (gotA == expectedA) return "";
  std::ostringstream osL;
  osL << gotA.size() << " records, expected " << expectedA.size();
  for (std::size_t i = 0; i < std::min(gotA.size(), expectedA.size()); ++i) {
    if (gotA[i] == expectedA[i]) continue;
    osL << "; first difference at " << i << ":\n" << gotA[i] << "\n" << expectedA[i];
    break;
  }
  return osL.str();
}

bool sortedByScore(const qridy::ResultTreeList& listA) {
  for (std::size_t i = 1; i < listA.size(); ++i) {
    if (listA[i].getScore() > listA[i - 1].getScore()) return false;
  }
  return true;
}

struct Population {
  std::unique_ptr<quarlen_cli::DemoModality> modality;
  std::uint64_t identities;
  unsigned probes;
};

// Gallery and probes of the exactness test: 20 000 identities and 200 probes in all. Fingerprint
// identification scores every finger template of the gallery with a minutiae matcher (about a
// thousand times the cost of a face comparison), so fingers get a small share that keeps both
// mpirun cases of this test within about three minutes on two cores.
std::vector<Population> populations() {
  std::vector<Population> outL;
  outL.push_back({quarlen_cli::faceModality(0.7f), 12000, 90});
  outL.push_back({quarlen_cli::irisModality(0.2, 2), 7600, 80});
  outL.push_back({quarlen_cli::fingerModality(), 400, 30});
  return outL;
}

class ShardedMatcherTest : public ::testing::Test {
 protected:
  quarlen_test::ExampleConfig configM;
};

// The merged answers of the shards equal the answers of one matcher over the same gallery: the
// same identities with the same scores at every level of their trees, in score order; also with a
// person list narrowing the candidates, and with every probe's mate enrolled on some rank.
TEST_F(ShardedMatcherTest, MergedAnswersEqualOneMatcherOverTheWholeGallery) {
  const bool rootL = worldRank() == 0;
  for (const Population& popL : populations()) {
    const quarlen_cli::DemoModality& modL = *popL.modality;
    SCOPED_TRACE(modL.label());
    ShardedMatcher shardedL(MPI_COMM_WORLD);
    shardedL.init(modL.storageId().c_str(), (configM.galleryDir() + "/sharded").c_str(), false);
    shardedL.addMatchingPipeline(modL.pipelineId());
    qrbase::TemplateMatcherMultipass wholeL;
    if (rootL) {
      wholeL.init(modL.storageId().c_str(),
                  (configM.galleryDir() + "/whole-" + modL.label()).c_str(), 0, false);
      wholeL.addMatchingPipeline(modL.pipelineId());
    }
    // Half of the gallery is routed from the root in batches, the other half enrolled by the
    // owning ranks themselves.
    std::vector<std::unique_ptr<qridy::IdRecordImp>> batchL;
    for (std::uint64_t id = 0; id < popL.identities; ++id) {
      std::unique_ptr<qridy::IdRecordImp> recordL = modL.enrolment(id);
      if (rootL) wholeL.addIdRecord(recordL.get(), nullptr, false);
      if (id % 2 == 0) {
        shardedL.addIdRecordIfOwned(*recordL);
      } else {
        batchL.push_back(std::move(recordL));
      }
      if (batchL.size() == 500 || id + 1 == popL.identities) {
        std::vector<const qridy::IdRecordImp*> rootRecordsL;
        if (rootL) {
          for (const auto& bL : batchL) rootRecordsL.push_back(bL.get());
        }
        EXPECT_EQ(shardedL.addIdRecords(rootRecordsL), batchL.size());
        batchL.clear();
      }
    }
    ASSERT_EQ(shardedL.numberOfIdRecords(), popL.identities);
    // Every rank holds part of the gallery.
    EXPECT_GT(shardedL.local().numberOfIdRecords(), 0u);

    std::size_t checkedL = 0;
    for (unsigned p = 0; p < popL.probes; ++p) {
      const std::uint64_t mateL = (p * 2654435761ull) % popL.identities;
      const std::unique_ptr<qridy::IdRecordImp> probeL = modL.probe(mateL, 1000 + p);
      // Every fifth probe is narrowed to a person list: its mate and a stretch of others.
      qridy::ProbeDescriptor descriptorL;
      const bool narrowedL = p % 5 == 4;
      if (narrowedL) {
        std::vector<std::uint64_t> personsL;
        for (std::uint64_t id = mateL; id < mateL + 3000 && id < popL.identities; id += 3) {
          personsL.push_back(id);
        }
        descriptorL.setPersonList(personsL);
      }
      const qridy::ResultTreeList mergedL =
          shardedL.identify(rootL ? probeL.get() : nullptr, narrowedL ? &descriptorL : nullptr);
      if (!rootL) continue;
      qridy::ResultTreeList expectedL;
      wholeL.identifyTransaction(probeL.get(), 0, expectedL, narrowedL ? &descriptorL : nullptr);
      // Only the root checks: an early return there would leave the other ranks waiting.
      EXPECT_FALSE(expectedL.size() == 0) << "probe " << p;
      EXPECT_TRUE(sortedByScore(mergedL)) << "probe " << p;
      EXPECT_EQ(difference(quarlen_test::resultListTexts(mergedL),
                           quarlen_test::resultListTexts(expectedL)),
                "")
          << "probe " << p;
      ++checkedL;
    }
    if (rootL) {
      EXPECT_EQ(checkedL, popL.probes);
    }
  }
}

// A rank whose identification fails makes the identification fail on every rank, naming the rank;
// the ranks stay in step and the next identification answers again.
TEST_F(ShardedMatcherTest, AFailingRankFailsTheProbeOnEveryRankAndIsNamed) {
  const auto modL = quarlen_cli::faceModality(0.7f);
  ShardedMatcher shardedL(MPI_COMM_WORLD);
  shardedL.init(modL->storageId().c_str(), nullptr, false);
  shardedL.addMatchingPipeline(modL->pipelineId());
  for (std::uint64_t id = 0; id < 200; ++id) shardedL.addIdRecordIfOwned(*modL->enrolment(id));
  const auto probeL = modL->probe(17, 5);
  const int lastL = shardedL.size() - 1;
  shardedL.failNextIdentificationOnRank(lastL);
  std::string messageL;
  try {
    shardedL.identify(probeL.get());
  } catch (const kxxcp::Exception& eA) {
    messageL = eA.getMessage();
  }
  EXPECT_NE(messageL.find("identify failed on " + std::to_string(shardedL.size()) +
                          " ranks because of\nrank " + std::to_string(lastL) +
                          ": identification stopped on request"),
            std::string::npos)
      << messageL;
  const qridy::ResultTreeList againL = shardedL.identify(probeL.get());
  if (shardedL.rank() == 0) {
    EXPECT_EQ(againL.size() != 0 ? againL[0].personId() : 0, 17u);
  }
}

// Records live on the rank the person id hashes to; removal reaches that rank; a restart recovers
// every rank's shard from its own folder and answers as before.
TEST_F(ShardedMatcherTest, RemovalRoutesToTheOwnerAndRecoveryRestoresEveryShard) {
  const auto modL = quarlen_cli::faceModality(0.7f);
  const std::string folderL = configM.galleryDir() + "/restart";
  const auto probeL = modL->probe(42, 9);
  std::vector<std::string> beforeL;
  {
    ShardedMatcher shardedL(MPI_COMM_WORLD);
    shardedL.init(modL->storageId().c_str(), folderL.c_str(), false);
    shardedL.addMatchingPipeline(modL->pipelineId());
    std::vector<std::unique_ptr<qridy::IdRecordImp>> recordsL;
    std::vector<const qridy::IdRecordImp*> viewL;
    for (std::uint64_t id = 0; id < 300; ++id) {
      recordsL.push_back(modL->enrolment(id));
      viewL.push_back(recordsL.back().get());
    }
    EXPECT_EQ(shardedL.addIdRecords(
                  shardedL.rank() == 0 ? viewL : std::vector<const qridy::IdRecordImp*>()),
              300u);
    for (std::uint64_t id = 0; id < 300; ++id) {
      const bool ownedL = ShardedMatcher::ownerOf(id, shardedL.size()) == shardedL.rank();
      EXPECT_EQ(shardedL.local().exists(id), ownedL) << id;
    }
    EXPECT_TRUE(shardedL.destroyIdRecords(42));
    EXPECT_FALSE(shardedL.destroyIdRecords(42));
    EXPECT_EQ(shardedL.numberOfIdRecords(), 299u);
    const qridy::ResultTreeList listL = shardedL.identify(probeL.get());
    for (const auto& rL : listL.resultIdRecordVector()) EXPECT_NE(rL.personId(), 42u);
    beforeL = quarlen_test::resultListTexts(listL);
  }
  ShardedMatcher restartedL(MPI_COMM_WORLD);
  restartedL.init(modL->storageId().c_str(), folderL.c_str(), true);
  restartedL.addMatchingPipeline(modL->pipelineId());
  EXPECT_EQ(restartedL.numberOfIdRecords(), 299u);
  const qridy::ResultTreeList afterL = restartedL.identify(probeL.get());
  if (restartedL.rank() == 0) {
    EXPECT_EQ(quarlen_test::resultListTexts(afterL), beforeL);
  }
}

// Run alone (ctest sharded_killed_rank): rank 1 dies while rank 0 identifies. The job ends with
// mpirun naming the killed rank; rank 0 never prints an answer.
TEST(KilledRank, DISABLED_EndsTheJobWithoutAnAnswer) {
  quarlen_test::ExampleConfig configL;
  const auto modL = quarlen_cli::faceModality(0.7f);
  ShardedMatcher shardedL(MPI_COMM_WORLD);
  shardedL.init(modL->storageId().c_str(), nullptr, false);
  shardedL.addMatchingPipeline(modL->pipelineId());
  for (std::uint64_t id = 0; id < 100; ++id) shardedL.addIdRecordIfOwned(*modL->enrolment(id));
  const auto probeL = modL->probe(17, 5);
  if (shardedL.rank() == 1) std::raise(SIGKILL);
  const qridy::ResultTreeList listL = shardedL.identify(probeL.get());
  std::cout << "answered with " << listL.size() << " records" << std::endl;
}

// The owner of a person id is a fixed function of the id and the number of ranks: galleries
// written by one build are found by the next.
TEST(ShardOwner, IsAStableHashOfThePersonId) {
  const std::vector<std::uint64_t> idsL = {0, 1, 2, 3, 42, 1000000, 0xFFFFFFFFFFFFFFFFull};
  std::vector<int> twoL, fourL, sevenL;
  for (std::uint64_t id : idsL) {
    twoL.push_back(ShardedMatcher::ownerOf(id, 2));
    fourL.push_back(ShardedMatcher::ownerOf(id, 4));
    sevenL.push_back(ShardedMatcher::ownerOf(id, 7));
  }
  EXPECT_EQ(twoL, (std::vector<int>{1, 1, 0, 1, 1, 1, 0}));
  EXPECT_EQ(fourL, (std::vector<int>{3, 1, 2, 1, 1, 3, 0}));
  EXPECT_EQ(sevenL, (std::vector<int>{2, 2, 4, 2, 5, 4, 0}));
  EXPECT_EQ(ShardedMatcher::ownerOf(12345, 1), 0);
  // Consecutive ids spread over the ranks.
  std::vector<int> countsL(4, 0);
  for (std::uint64_t id = 0; id < 4000; ++id) ++countsL[ShardedMatcher::ownerOf(id, 4)];
  for (int cL : countsL) EXPECT_NEAR(cL, 1000, 100);
  EXPECT_EQ(ShardedMatcher::shardFolder("/g", 1, 4), "/g/shard-1of4");
}

}  // namespace

int main(int argc, char** argv) {
  int providedL = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &providedL);
  ::testing::InitGoogleTest(&argc, argv);
  // One report, from rank 0; the other ranks' failures reach it through the exit code.
  if (worldRank() != 0) {
    auto& listenersL = ::testing::UnitTest::GetInstance()->listeners();
    delete listenersL.Release(listenersL.default_result_printer());
  }
  int failedL = RUN_ALL_TESTS() != 0 ? 1 : 0, anyL = 0;
  MPI_Allreduce(&failedL, &anyL, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return anyL;
}
