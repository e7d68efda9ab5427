// Child processes enrol face records into a gallery through the matcher
// (TemplateMatcherMultipass::addIdRecord, on the example configuration's "face" storage) and
// remove some (destroyIdRecord), and are killed with SIGKILL at random moments. After every kill
// a fresh matcher recovers the gallery (init with recover, then the "face" pipeline): every
// acknowledged record must be there with its blocks as enrolled, the record in flight wholly
// present or wholly absent, and the records present (the one in flight and a random sample of the
// others) must be identified at rank 1 by a probe of their own sample, with the score they have
// in a gallery that was never interrupted.
//
// QUARLEN_KILL_POINTS: number of kills (default 200); QUARLEN_KILL_SEED: the random seed;
// QUARLEN_KILL_RUN_MS: the longest time a child runs after opening the gallery (default 60).

#include <quarlen/TemplateMatcherMultipass.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <qrlcore/Notification.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/ExampleConfig.h"
#include "support/KillTesting.h"
#include "support/SyntheticRecords.h"

namespace {

using namespace qridy;
using qrbase::TemplateMatcherMultipass;
using quarlen_test::KillEvents;
using Change = quarlen_test::KillEvents::Change;

constexpr int kPointsPerGallery = 25;

// Transaction t belongs to person t % 53 and is identity t.
std::unique_ptr<IdRecordImp> recordOf(std::uint64_t tA) {
  return quarlen_test::syntheticFaceRecord(tA % 53, tA, tA, 0);
}

bool cachePresent(const std::string& folderA) {
  return std::filesystem::exists(folderA + "/metaData.dat");
}

// A matcher on the gallery of folderA: recovered when the gallery has its metadata file, else
// created afresh (an interrupted first enrolment leaves nothing acknowledged behind).
std::unique_ptr<TemplateMatcherMultipass> openMatcher(const std::string& folderA) {
  auto mL = std::make_unique<TemplateMatcherMultipass>();
  mL->init("face", folderA.c_str(), 0, cachePresent(folderA));
  mL->addMatchingPipeline("face");
  return mL;
}

[[noreturn]] void runChild(const std::string& folderA, std::uint64_t nextA, unsigned seedA,
                           int fdA) {
  using quarlen_test::sayEvent;
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  std::mt19937 rngL(seedA);
  try {
    std::unique_ptr<TemplateMatcherMultipass> mL = openMatcher(folderA);
    sayEvent(fdA, "O\n");
    for (;;) {
      const auto& indexL = mL->getUniqueMetadataContainer()->getInternalMetadataVector();
      if (!indexL.empty() && rngL() % 5 == 0) {
        const IdRecordKey keyL = indexL[rngL() % indexL.size()]->getIdRecordKey();
        sayEvent(fdA, "C " + std::to_string(keyL.transactionId) + "\n");
        sayEvent(fdA, mL->destroyIdRecord(keyL) ? "D\n" : "F removal\n");
        continue;
      }
      sayEvent(fdA, "B " + std::to_string(nextA) + "\n");
      mL->addIdRecord(recordOf(nextA).get(), nullptr, false);
      sayEvent(fdA, "A\n");
      ++nextA;
    }
  } catch (const std::exception& eL) {
    std::string textL = eL.what();
    for (char& c : textL) c = c == '\n' ? ' ' : c;
    sayEvent(fdA, "E " + textL + "\n");
  }
  ::_exit(1);
}

// The rank-1 score of each transaction's own sample in a gallery that was never interrupted
// (a memory-only one; a face score depends on the probe and its mate only).
class ReferenceScores {
 public:
  explicit ReferenceScores(const std::string& folderA) {
    matcherM.init("faceMemory", folderA.c_str(), 0, false);
    matcherM.addMatchingPipeline("face");
  }
  float of(std::uint64_t tA) {
    auto itL = scoresM.find(tA);
    if (itL != scoresM.end()) return itL->second;
    const auto recordL = recordOf(tA);
    matcherM.addIdRecord(recordL.get(), nullptr, false);
    ResultTreeList listL;
    matcherM.identifyTransaction(recordL.get(), 0, listL);
    matcherM.destroyIdRecord(recordL->idRecordKey());
    return scoresM[tA] = listL.size() > 0 ? listL[0].getScore() : NAN;
  }

 private:
  TemplateMatcherMultipass matcherM;
  std::map<std::uint64_t, float> scoresM;
};

// Checks the recovered gallery; returns the transactions it holds, problems in problemsA.
// Every record's blocks are compared; identification is tried for the record in flight and
// kIdentifiedPerKill others, chosen at random.
constexpr std::size_t kIdentifiedPerKill = 20;

std::set<std::uint64_t> inspect(TemplateMatcherMultipass& mA, ReferenceScores& referenceA,
                                std::uint64_t inFlightA, std::mt19937& rngA,
                                std::vector<std::string>& problemsA) {
  std::set<std::uint64_t> foundL;
  for (const IdentityMetadata* metaL :
       mA.getUniqueMetadataContainer()->getInternalMetadataVector()) {
    foundL.insert(metaL->getIdRecordKey().transactionId);
  }
  for (const Algorithm algorithmL : {AlgHgmByte, AlgHgmFloat}) {
    const std::size_t nL = mA.numberOfTemplates(ModalityFace, InstanceFaceFrontal, algorithmL);
    if (nL != foundL.size()) {
      problemsA.push_back(Types::algorithm2Text(algorithmL) + " stage holds " + std::to_string(nL) +
                          " templates, the registry " + std::to_string(foundL.size()));
    }
  }
  for (std::uint64_t t : foundL) {
    const auto wantL = recordOf(t);
    const std::string nameL = "record " + std::to_string(t);
    if (wantL->idRecordKey().personId != t % 53) problemsA.push_back(nameL + ": person");
    std::unique_ptr<IdRecordImp> gotL(mA.getIdRecord(wantL->idRecordKey(), false));
    const TemplateKey keyL = wantL->getTemplateKeys(ModalityFace, InstanceFaceFrontal)[0];
    for (const Algorithm algorithmL : {AlgHgmByte, AlgHgmFloat}) {
      const TemplateBlockImp* aL = wantL->getTemplateBlock(keyL, algorithmL, true);
      const TemplateBlockImp* bL = gotL ? gotL->getTemplateBlock(keyL, algorithmL, false) : nullptr;
      if (bL == nullptr || bL->gallerySize() != aL->gallerySize() ||
          std::memcmp(bL->galleryDataPtr(), aL->galleryDataPtr(), aL->gallerySize()) != 0) {
        problemsA.push_back(nameL + " rebuilt wrongly for " + Types::algorithm2Text(algorithmL));
      }
    }
    if (t != inFlightA && rngA() % foundL.size() >= kIdentifiedPerKill) continue;
    ResultTreeList listL;
    mA.identifyTransaction(wantL.get(), 0, listL);
    if (listL.size() == 0 || listL[0].transactionId() != t ||
        listL[0].getScore() != referenceA.of(t)) {
      problemsA.push_back(nameL + " not identified as before");
    }
  }
  return foundL;
}

TEST(MatcherKillTest, RecoveredMatcherIdentifiesEveryAcknowledgedRecord) {
  const unsigned long pointsL = quarlen_test::envNumber("QUARLEN_KILL_POINTS", 200);
  const unsigned long seedL = quarlen_test::envNumber(
      "QUARLEN_KILL_SEED",
      static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count() &
                                 0x7FFFFFFF));
  // How long a child runs after opening the gallery, at most (slower builds want more).
  const unsigned runMicrosL =
      static_cast<unsigned>(1000 * quarlen_test::envNumber("QUARLEN_KILL_RUN_MS", 60));
  std::printf("kill points %lu, seed %lu\n", pointsL, seedL);
  std::mt19937 rngL(static_cast<unsigned>(seedL));
  quarlen_test::ExampleConfig configL;
  std::string storageL = configL.filled("storage.xml");
  storageL.insert(storageL.rfind("</storages>"),
                  "<storage id=\"faceMemory\" reserveNumberOfTemplates=\"10\">"
                  "<memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\"/>"
                  "<memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>"
                  "</storage>\n");
  configL.replace("storage.xml", storageL);
  // The attribute count comes from the configuration (64), on its first use: the registry sizes
  // its blocks by it before any query-language record exists.
  ASSERT_EQ(QueryLanguage::attributeSize(), 64u);
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  ReferenceScores referenceL(configL.galleryOf("reference"));

  std::string folderL;
  std::set<std::uint64_t> modelL;
  std::uint64_t nextL = 1;
  unsigned long addsL = 0, removalsL = 0, inFlightL = 0, inFlightPresentL = 0, beforeOpenL = 0;
  std::size_t largestL = 0;
  for (unsigned long k = 0; k < pointsL; ++k) {
    if (k % kPointsPerGallery == 0) {
      folderL = configL.galleryOf("g" + std::to_string(k));
      modelL.clear();
    }
    const unsigned childSeedL = static_cast<unsigned>(rngL());
    const quarlen_test::KilledChild childL = quarlen_test::runAndKill(
        [&](int fdA) { runChild(folderL, nextL, childSeedL, fdA); }, rngL, 5000, runMicrosL);
    const KillEvents eventsL = quarlen_test::parseKillEvents(childL.report, nextL);
    ASSERT_TRUE(eventsL.failure.empty()) << "kill " << k << ": " << eventsL.failure;
    ASSERT_TRUE(WIFSIGNALED(childL.status)) << "kill " << k << ": the child ended by itself";
    beforeOpenL += !eventsL.opened;
    addsL += eventsL.adds.size();
    removalsL += eventsL.removals.size();
    for (std::uint64_t t : eventsL.adds) modelL.insert(t);
    for (std::uint64_t t : eventsL.removals) modelL.erase(t);
    nextL = eventsL.next;

    std::set<std::uint64_t> withL = modelL;
    if (eventsL.inFlight == Change::Add) withL.insert(eventsL.first);
    if (eventsL.inFlight == Change::Removal) withL.erase(eventsL.first);
    if (!cachePresent(folderL)) {
      // Killed before the first record reached the metadata file: nothing was acknowledged.
      ASSERT_TRUE(modelL.empty()) << "kill " << k << ": the gallery lost its metadata file";
      continue;
    }
    std::unique_ptr<TemplateMatcherMultipass> mL;
    try {
      mL = openMatcher(folderL);
    } catch (const std::exception& eA) {
      FAIL() << "kill " << k << ": recovery failed: " << eA.what();
    }
    std::vector<std::string> problemsL;
    const std::set<std::uint64_t> foundL = inspect(*mL, referenceL, eventsL.first, rngL, problemsL);
    ASSERT_TRUE(problemsL.empty()) << "kill " << k << ": " << problemsL[0];
    if (eventsL.inFlight != Change::None) {
      ++inFlightL;
      if (foundL == withL && withL != modelL) ++inFlightPresentL;
    }
    ASSERT_TRUE(foundL == modelL || foundL == withL)
        << "kill " << k << ": found " << foundL.size() << " records, acknowledged " << modelL.size()
        << ", with the change in flight " << withL.size() << "\n"
        << childL.report;
    modelL = foundL;
    largestL = std::max(largestL, modelL.size());
  }
  std::printf(
      "kills %lu (%lu before the gallery was open); acknowledged adds %lu, removals %lu; "
      "changes in flight %lu (%lu found done, the rest not); largest gallery %zu records\n",
      pointsL, beforeOpenL, addsL, removalsL, inFlightL, inFlightPresentL, largestL);
}

}  // namespace
