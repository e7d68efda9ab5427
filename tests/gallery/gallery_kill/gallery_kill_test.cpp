// Child processes add batches of records to a gallery and remove some, and are killed with
// SIGKILL at random moments. The child reports through a pipe what it begins and what is
// acknowledged. After every kill the gallery must open, pass its consistency checks (every part
// header agreeing with its records too), and hold every acknowledged record with a good checksum.
// Then it must take changes again: one record is removed and two are added, and the checks are
// repeated.
//
// Two modes: with the journal kept, the gallery holds exactly the acknowledged records, plus the
// batch in flight either complete or absent (a removal in flight either done or not). With the
// journal lost (deleted after each kill, before the gallery is opened again), the files alone
// must bring the gallery back: the batch in flight may be found in part.
//
// QUARLEN_KILL_POINTS: number of kills per mode (default 200); QUARLEN_KILL_SEED: the random seed
// (printed at the start, so that a failing run can be repeated).

#include <quarlen/MultipassFileIO.h>

#include <gtest/gtest.h>

#include <qrlcore/Notification.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Environment.h"
#include "support/GalleryFiles.h"
#include "support/KillTesting.h"

namespace {

using quarlen_test::envNumber;
using quarlen_test::KillEvents;
using quarlen_test::TempDir;
using Change = quarlen_test::KillEvents::Change;

const std::vector<unsigned int> kSizes{256, 1024};
const char* const kName = "k";
constexpr int kPointsPerGallery = 25;

// The child: opens the gallery and changes it until it is killed.
[[noreturn]] void runChild(const std::string& baseA, std::uint64_t nextA, unsigned seedA,
                           bool syncA, int fdA) {
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  std::mt19937 rngL(seedA);
  quarlen_test::MetadataPool poolL;
  try {
    qridy::MultipassFileIO filesL(baseA, 0, kName, kSizes);
    filesL.setSyncToDisk(syncA);
    filesL.setFileLimit(64);
    filesL.readIdRecKeyToBlobOffsetMap(kName);  // opens, undoing an interrupted change
    quarlen_test::sayEvent(fdA, "O\n");
    for (;;) {
      const auto& indexL = filesL.getIdRecKeyToBlobOffsetMap();
      if (!indexL.empty() && rngL() % 4 == 0) {
        const qridy::IdRecordKey keyL = indexL[rngL() % indexL.size()].key;
        quarlen_test::sayEvent(fdA, "C " + std::to_string(keyL.transactionId) + "\n");
        quarlen_test::sayEvent(fdA, filesL.clear(keyL) ? "D\n" : "F\n");
        continue;
      }
      const unsigned countL = 1 + rngL() % 40;
      filesL.setWriteCacheSize(countL);
      quarlen_test::sayEvent(fdA,
                             "B " + std::to_string(nextA) + " " + std::to_string(countL) + "\n");
      bool okL = true;
      for (unsigned i = 0; i < countL; ++i, ++nextA) {
        const std::uint64_t pL = quarlen_test::personOfTransaction(nextA);
        const unsigned sizeL = quarlen_test::blobSizeFor(pL, nextA, 1024);
        const auto blobL = quarlen_test::blobFor(pL, nextA, sizeL);
        okL = filesL.add(poolL.get(pL, nextA), blobL.data(), sizeL);
      }
      quarlen_test::sayEvent(fdA, okL ? "A\n" : "F\n");
    }
  } catch (const std::exception& eL) {
    quarlen_test::sayEvent(fdA, std::string("E ") + eL.what() + "\n");
  }
  ::_exit(1);
}

std::uint32_t journalState(const std::string& pathA) {
  std::ifstream inL(pathA, std::ios::binary);
  unsigned char bL[12] = {};
  inL.read(reinterpret_cast<char*>(bL), sizeof bL);
  return bL[8] | (bL[9] << 8) | (bL[10] << 16) | (static_cast<std::uint32_t>(bL[11]) << 24);
}

enum class Journal { Kept, Lost };

// The gallery must accept changes after a kill: removes one stored record (chosen by rngA, if
// there is one) and adds two new ones (transactions nextA and nextA + 1). modelA follows.
void removeOneAndAddTwo(const std::string& baseA, std::set<std::uint64_t>& modelA,
                        std::uint64_t& nextA, std::mt19937& rngA,
                        quarlen_test::MetadataPool& poolA) {
  qridy::MultipassFileIO filesL(baseA, 0, kName, kSizes);
  filesL.readIdRecKeyToBlobOffsetMap(kName);
  if (!modelA.empty()) {
    auto itL = modelA.begin();
    std::advance(itL, rngA() % modelA.size());
    const std::uint64_t tL = *itL;
    ASSERT_TRUE(filesL.clear(qridy::IdRecordKey(quarlen_test::personOfTransaction(tL), tL)));
    modelA.erase(tL);
  }
  for (int i = 0; i < 2; ++i, ++nextA) {
    const std::uint64_t pL = quarlen_test::personOfTransaction(nextA);
    const unsigned sizeL = quarlen_test::blobSizeFor(pL, nextA, 1024);
    const auto blobL = quarlen_test::blobFor(pL, nextA, sizeL);
    ASSERT_TRUE(filesL.add(poolA.get(pL, nextA), blobL.data(), sizeL));
    modelA.insert(nextA);
  }
  ASSERT_TRUE(filesL.writeCacheToDisk());
}

class GalleryKillTest : public ::testing::TestWithParam<Journal> {};

TEST_P(GalleryKillTest, KilledWritersNeverLoseAcknowledgedRecords) {
  const bool lostL = GetParam() == Journal::Lost;
  const unsigned long pointsL = envNumber("QUARLEN_KILL_POINTS", 200);
  const unsigned long seedL =
      envNumber("QUARLEN_KILL_SEED",
                static_cast<unsigned long>(
                    std::chrono::steady_clock::now().time_since_epoch().count() & 0x7FFFFFFF));
  std::printf("journal %s: kill points %lu, seed %lu\n", lostL ? "lost" : "kept", pointsL, seedL);
  std::mt19937 rngL(static_cast<unsigned>(seedL));
  // Repairs made by opening the gallery, counted from its warnings.
  unsigned long rebuiltL = 0, removedL = 0;
  struct QuietAfterwards {
    ~QuietAfterwards() {
      kxntc::setSink([](kxntc::Level, const std::string&) {});
    }
  } quietL;
  kxntc::setSink([&](kxntc::Level levelA, const std::string& textA) {
    if (levelA != kxntc::Level::warning) return;
    rebuiltL += textA.find("header rebuilt") != std::string::npos;
    removedL += textA.find("unfinished change removed") != std::string::npos;
  });
  quarlen_test::MetadataPool poolL;

  std::unique_ptr<TempDir> dirL;
  std::set<std::uint64_t> modelL;
  std::uint64_t nextL = 0;
  unsigned long batchesL = 0, removalsL = 0, inFlightL = 0, inFlightPresentL = 0,
                journalActiveL = 0, beforeOpenL = 0, syncedL = 0, partialL = 0;
  std::size_t largestL = 0;
  for (unsigned long k = 0; k < pointsL; ++k) {
    if (k % kPointsPerGallery == 0) {
      dirL = std::make_unique<TempDir>();
      qridy::MultipassFileIO createL(dirL->path(), 0, kName, kSizes);
      createL.create(0, 0);
      modelL.clear();
    }
    const std::string galleryL = dirL->path() + "/" + kName;
    const bool syncL = rngL() % 10 == 0;
    const unsigned childSeedL = static_cast<unsigned>(rngL());
    // Mostly while the child changes the gallery, timed from its report that it is open; now
    // and then during the opening (and the undo it may do).
    const quarlen_test::KilledChild childL = quarlen_test::runAndKill(
        [&](int fdA) { runChild(dirL->path(), nextL, childSeedL, syncL, fdA); }, rngL, 3000,
        syncL ? 60000 : 20000);
    const std::string& textL = childL.report;
    const int statusL = childL.status;
    const KillEvents eventsL = quarlen_test::parseKillEvents(textL, nextL);
    ASSERT_TRUE(eventsL.failure.empty()) << "kill " << k << ": " << eventsL.failure;
    ASSERT_TRUE(WIFSIGNALED(statusL)) << "kill " << k << ": the child ended by itself";
    syncedL += syncL;
    beforeOpenL += !eventsL.opened;
    batchesL += eventsL.adds.empty() ? 0 : 1;
    removalsL += eventsL.removals.size();
    const std::string journalL = galleryL + "/" + kName + ".journal";
    if (journalState(journalL) != 0) ++journalActiveL;
    if (lostL) std::remove(journalL.c_str());
    for (std::uint64_t t : eventsL.adds) modelL.insert(t);
    for (std::uint64_t t : eventsL.removals) modelL.erase(t);
    nextL = eventsL.next;

    const quarlen_test::GalleryState stateL =
        quarlen_test::inspectGallery(dirL->path(), kName, kSizes, true);
    ASSERT_TRUE(stateL.opened) << "kill " << k << ": "
                               << (stateL.problems.empty() ? "" : stateL.problems[0]);
    ASSERT_TRUE(stateL.statusValid) << "kill " << k << "\n" << stateL.report;
    ASSERT_TRUE(stateL.intensiveValid) << "kill " << k << "\n" << stateL.report;
    ASSERT_TRUE(stateL.problems.empty()) << "kill " << k << ": " << stateL.problems[0];
    std::set<std::uint64_t> foundL;
    for (const auto& entryL : stateL.blobSizes) foundL.insert(entryL.first);

    std::set<std::uint64_t> withL = modelL;
    if (eventsL.inFlight == Change::Add) {
      for (std::uint64_t t = eventsL.first; t < eventsL.first + eventsL.count; ++t) withL.insert(t);
    } else if (eventsL.inFlight == Change::Removal) {
      withL.erase(eventsL.first);
    }
    if (eventsL.inFlight != Change::None) {
      ++inFlightL;
      if (foundL == withL && withL != modelL) ++inFlightPresentL;
    }
    if (lostL) {
      // Without the journal: every acknowledged record, and no record that was never added.
      std::set<std::uint64_t> leastL = modelL;
      std::set<std::uint64_t> mostL = withL;
      if (eventsL.inFlight == Change::Removal) {
        leastL.erase(eventsL.first);
        mostL.insert(eventsL.first);
      }
      ASSERT_TRUE(std::includes(foundL.begin(), foundL.end(), leastL.begin(), leastL.end()) &&
                  std::includes(mostL.begin(), mostL.end(), foundL.begin(), foundL.end()))
          << "kill " << k << ": found " << foundL.size() << " records, acknowledged "
          << modelL.size() << ", with the change in flight " << withL.size() << "\n"
          << textL;
      if (eventsL.inFlight == Change::Add && foundL != modelL && foundL != withL) ++partialL;
    } else {
      ASSERT_TRUE(foundL == modelL || foundL == withL)
          << "kill " << k << ": found " << foundL.size() << " records, acknowledged "
          << modelL.size() << ", with the change in flight " << withL.size() << "\n"
          << textL;
    }
    modelL = foundL;

    removeOneAndAddTwo(dirL->path(), modelL, nextL, rngL, poolL);
    ASSERT_FALSE(HasFatalFailure()) << "kill " << k;
    const quarlen_test::GalleryState changedL =
        quarlen_test::inspectGallery(dirL->path(), kName, kSizes, true);
    ASSERT_TRUE(changedL.opened && changedL.statusValid && changedL.intensiveValid)
        << "kill " << k << ", after changes\n"
        << changedL.report;
    ASSERT_TRUE(changedL.problems.empty())
        << "kill " << k << ", after changes: " << changedL.problems[0];
    std::set<std::uint64_t> changedFoundL;
    for (const auto& entryL : changedL.blobSizes) changedFoundL.insert(entryL.first);
    ASSERT_TRUE(changedFoundL == modelL) << "kill " << k << ", after changes";
    largestL = std::max(largestL, modelL.size());
  }
  std::printf(
      "kills %lu (%lu before the gallery was open, %lu with sync); children with acknowledged "
      "batches %lu; acknowledged removals %lu; changes in flight %lu (%lu found complete, the "
      "rest absent); journal active at the kill %lu; batches found in part %lu; largest gallery "
      "%zu records; part headers rebuilt %lu, openings that removed unfinished records %lu\n",
      pointsL, beforeOpenL, syncedL, batchesL, removalsL, inFlightL, inFlightPresentL,
      journalActiveL, partialL, largestL, rebuiltL, removedL);
}

INSTANTIATE_TEST_SUITE_P(Journal, GalleryKillTest, ::testing::Values(Journal::Kept, Journal::Lost),
                         [](const ::testing::TestParamInfo<Journal>& infoA) {
                           return std::string(infoA.param == Journal::Kept ? "Kept" : "Lost");
                         });

}  // namespace
