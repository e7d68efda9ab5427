// Storage faults under the gallery files: every write, flush and seek of a batch and of a
// removal is made to fail in turn, and the gallery must come back with exactly its acknowledged
// records, readable and consistent. And crashes without the journal: the process dies at every
// write of a batch and of a removal in turn, its journal is lost, and the files alone must bring
// the gallery back.

#include <quarlen/MultipassFileIO.h>

#include <gtest/gtest.h>

#include <qrlcore/Notification.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "support/Environment.h"
#include "support/FaultyFiles.h"
#include "support/GalleryFiles.h"

namespace qridy {
namespace {

using quarlen_test::FaultyFiles;
using quarlen_test::MetadataPool;
using quarlen_test::TempDir;

const std::vector<unsigned int> kSizes{32, 64};

class MultipassFileIOFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The faults are reported as error notifications; they are expected here.
    previousSinkM = kxntc::setSink([](kxntc::Level, const std::string&) {});
  }
  void TearDown() override { kxntc::setSink(previousSinkM); }

  // A gallery in its own directory holding transactions 0..5 with 2 removed again (so that the
  // next batch reuses a free record) and a record limit of 4 per part (so that the next batch
  // fills a part and starts a new one).
  std::unique_ptr<MultipassFileIO> prepare(const std::string& dirA) {
    auto gL = std::make_unique<MultipassFileIO>(dirA, 0, "g", kSizes);
    gL->create(0, 0);
    gL->setFileLimit(4);
    gL->setWriteCacheSize(6);
    for (std::uint64_t t = 0; t < 6; ++t) add(*gL, t);
    EXPECT_EQ(gL->cachedBlobs(), 0u);
    EXPECT_TRUE(gL->clear(IdRecordKey(quarlen_test::personOfTransaction(2), 2)));
    gL->setWriteCacheSize(5);
    return gL;
  }
  bool add(MultipassFileIO& gA, std::uint64_t tA) {
    const std::uint64_t pL = quarlen_test::personOfTransaction(tA);
    const unsigned int sizeL = quarlen_test::blobSizeFor(pL, tA, 64);
    const auto blobL = quarlen_test::blobFor(pL, tA, sizeL);
    return gA.add(poolM.get(pL, tA), blobL.data(), sizeL);
  }
  // The gallery as a fresh object finds it: it must open, be consistent, and hold exactly
  // expectedA, every blob intact.
  void expectGallery(const std::string& dirA, const std::set<std::uint64_t>& expectedA,
                     const std::string& whatA, const std::set<std::uint64_t>* orA = nullptr) {
    const quarlen_test::GalleryState stateL = quarlen_test::inspectGallery(dirA, "g", kSizes, true);
    ASSERT_TRUE(stateL.opened) << whatA;
    EXPECT_TRUE(stateL.statusValid) << whatA << "\n" << stateL.report;
    EXPECT_TRUE(stateL.intensiveValid) << whatA << "\n" << stateL.report;
    EXPECT_TRUE(stateL.problems.empty()) << whatA << ": " << stateL.problems.front();
    std::set<std::uint64_t> foundL;
    for (const auto& entryL : stateL.blobSizes) foundL.insert(entryL.first);
    if (orA != nullptr && foundL == *orA) return;
    EXPECT_EQ(foundL, expectedA) << whatA;
  }

  // Fails call N of kindA (N = 1, 2, ...) inside operationA until the operation runs without
  // reaching call N; after each failure checks the files as another process would find them and
  // then that the same object still works. Returns the number of calls failed.
  int sweep(FaultyFiles::Kind kindA, FaultyFiles::Mode modeA,
            const std::function<bool(MultipassFileIO&)>& operationA,
            const std::set<std::uint64_t>& beforeA, const std::set<std::uint64_t>& afterA,
            const std::function<bool(MultipassFileIO&)>& retryA) {
    for (int n = 1;; ++n) {
      TempDir dirL;
      auto gL = prepare(dirL.path());
      bool resultL = false;
      bool firedL = false;
      {
        FaultyFiles faultL(kindA, static_cast<unsigned long long>(n), modeA);
        resultL = operationA(*gL);
        firedL = faultL.fired();
      }
      const std::string whatL = std::string(FaultyFiles::kindName(kindA)) + " #" +
                                std::to_string(n) +
                                (modeA == FaultyFiles::FromThen ? " and later" : "");
      if (!firedL) {
        EXPECT_TRUE(resultL) << whatL;
        gL.reset();
        expectGallery(dirL.path(), afterA, "no fault at " + whatL);
        return n - 1;
      }
      EXPECT_FALSE(resultL) << whatL;
      if (modeA == FaultyFiles::FromThen) {
        // The storage is gone, and so is the process. A change whose completion could not be
        // reported may be complete, but never half.
        gL.reset();
        expectGallery(dirL.path(), beforeA, "after " + whatL, &afterA);
      } else {
        expectGallery(dirL.path(), beforeA, "after " + whatL);
      }
      if (gL) {
        // The object that saw the failure carries on.
        EXPECT_TRUE(retryA(*gL)) << "retry after " << whatL;
        gL.reset();
        expectGallery(dirL.path(), afterA, "retry after " + whatL);
      }
      if (::testing::Test::HasFailure()) return n;
    }
  }

  MetadataPool poolM;
  kxntc::Sink previousSinkM;
};

const std::set<std::uint64_t> kAcknowledged{0, 1, 3, 4, 5};
const std::set<std::uint64_t> kWithBatch{0, 1, 3, 4, 5, 6, 7, 8, 9, 10};
const std::set<std::uint64_t> kWithoutFour{0, 1, 3, 5};

TEST_F(MultipassFileIOFaultsTest, EveryFaultOfABatchWrittenByAddIsRolledBack) {
  const auto addBatchL = [this](MultipassFileIO& gA) {
    for (std::uint64_t t = 6; t < 10; ++t) EXPECT_TRUE(add(gA, t));
    return add(gA, 10);  // the fifth blob fills the cache, which is written
  };
  const auto retryL = [](MultipassFileIO& gA) { return gA.writeCacheToDisk(); };
  for (FaultyFiles::Kind kindL : FaultyFiles::writeFlushSeek()) {
    const int failedL =
        sweep(kindL, FaultyFiles::Once, addBatchL, kAcknowledged, kWithBatch, retryL);
    EXPECT_GT(failedL, 10) << FaultyFiles::kindName(kindL);
  }
}

TEST_F(MultipassFileIOFaultsTest, EveryFaultOfWriteCacheToDiskIsRolledBack) {
  const auto writeL = [this](MultipassFileIO& gA) {
    gA.setWriteCacheSize(100);
    for (std::uint64_t t = 6; t < 11; ++t) add(gA, t);
    return gA.writeCacheToDisk();
  };
  const auto retryL = [](MultipassFileIO& gA) { return gA.writeCacheToDisk(); };
  for (FaultyFiles::Kind kindL : FaultyFiles::writeFlushSeek()) {
    sweep(kindL, FaultyFiles::Once, writeL, kAcknowledged, kWithBatch, retryL);
    // The storage fails for good from call N on: the roll-back fails too, and the next opening
    // undoes the batch from the journal.
    sweep(kindL, FaultyFiles::FromThen, writeL, kAcknowledged, kWithBatch, retryL);
  }
}

TEST_F(MultipassFileIOFaultsTest, EveryFaultOfClearLeavesTheRecordInPlace) {
  const IdRecordKey keyL(quarlen_test::personOfTransaction(4), 4);
  const auto clearL = [keyL](MultipassFileIO& gA) { return gA.clear(keyL); };
  for (FaultyFiles::Kind kindL : FaultyFiles::writeFlushSeek()) {
    const int failedL =
        sweep(kindL, FaultyFiles::Once, clearL, kAcknowledged, kWithoutFour, clearL);
    EXPECT_GT(failedL, 3) << FaultyFiles::kindName(kindL);
    sweep(kindL, FaultyFiles::FromThen, clearL, kAcknowledged, kWithoutFour, clearL);
  }
}

TEST_F(MultipassFileIOFaultsTest, SyncFailuresAreFailuresToo) {
  TempDir dirL;
  auto gL = prepare(dirL.path());
  gL->setSyncToDisk(true);
  {
    FaultyFiles faultL(FaultyFiles::Sync, 2);
    for (std::uint64_t t = 6; t < 10; ++t) add(*gL, t);
    EXPECT_FALSE(add(*gL, 10));
  }
  gL.reset();
  expectGallery(dirL.path(), kAcknowledged, "after a failed sync");
}

TEST_F(MultipassFileIOFaultsTest, EveryCrashPointWithoutTheJournalIsRepairedOnOpen) {
  struct Change {
    const char* name;
    std::function<bool(MultipassFileIO&)> run;
    std::set<std::uint64_t> least;  // the acknowledged records that must be found
    std::set<std::uint64_t> most;   // with the change in flight complete
  };
  const IdRecordKey fourL(quarlen_test::personOfTransaction(4), 4);
  const std::vector<Change> changesL{
      {"batch",
       [this](MultipassFileIO& gA) {
         gA.setWriteCacheSize(100);
         for (std::uint64_t t = 6; t < 11; ++t) add(gA, t);
         return gA.writeCacheToDisk();
       },
       kAcknowledged, kWithBatch},
      {"clear", [fourL](MultipassFileIO& gA) { return gA.clear(fourL); }, kWithoutFour,
       kAcknowledged}};
  for (const Change& changeL : changesL) {
    int partL = 0;
    int n = 1;
    for (;; ++n) {
      TempDir dirL;
      auto gL = prepare(dirL.path());
      bool firedL = false;
      {
        // The process dies at write N: that write is cut short and nothing after it is written.
        FaultyFiles faultL(FaultyFiles::Write, static_cast<unsigned long long>(n),
                           FaultyFiles::FromThen);
        changeL.run(*gL);
        firedL = faultL.fired();
      }
      gL.reset();
      if (!firedL) break;
      std::remove((dirL.path() + "/g/g.journal").c_str());
      const std::string whatL = std::string(changeL.name) + ", died at write #" + std::to_string(n);
      const quarlen_test::GalleryState stateL =
          quarlen_test::inspectGallery(dirL.path(), "g", kSizes, true);
      ASSERT_TRUE(stateL.opened) << whatL << ": " << stateL.problems.front();
      EXPECT_TRUE(stateL.statusValid && stateL.intensiveValid) << whatL << "\n" << stateL.report;
      ASSERT_TRUE(stateL.problems.empty()) << whatL << ": " << stateL.problems.front();
      std::set<std::uint64_t> foundL;
      for (const auto& entryL : stateL.blobSizes) foundL.insert(entryL.first);
      ASSERT_TRUE(
          std::includes(foundL.begin(), foundL.end(), changeL.least.begin(), changeL.least.end()) &&
          std::includes(changeL.most.begin(), changeL.most.end(), foundL.begin(), foundL.end()))
          << whatL << ": " << foundL.size() << " records found";
      partL += foundL != changeL.least && foundL != changeL.most;

      // After the repair the gallery takes changes: one record removed, two added.
      {
        MultipassFileIO filesL(dirL.path(), 0, "g", kSizes);
        filesL.readIdRecKeyToBlobOffsetMap("g");
        EXPECT_TRUE(filesL.clear(IdRecordKey(quarlen_test::personOfTransaction(0), 0))) << whatL;
        EXPECT_TRUE(add(filesL, 20)) << whatL;
        EXPECT_TRUE(add(filesL, 21)) << whatL;
        EXPECT_TRUE(filesL.writeCacheToDisk()) << whatL;
      }
      foundL.erase(0);
      foundL.insert({20, 21});
      expectGallery(dirL.path(), foundL, whatL + ", then changed");
      if (HasFailure()) return;
    }
    // Every write of the change was a crash point; some of them leave a batch in part.
    EXPECT_GT(n, 8) << changeL.name;
    if (std::string(changeL.name) == "batch") {
      EXPECT_GT(partL, 0);
    }
  }
}

}  // namespace
}  // namespace qridy
