// Child processes enrol records into a gallery through the gallery template container (memory
// stage and disk triples on two harddisks, registry with its metadata file) and remove some the
// way the matcher does (registry first, then stages and files), and are killed with SIGKILL at
// random moments. After every kill a fresh container and registry recover the gallery: every
// acknowledged record must be there with identical blocks in every stage (memory stage, reload
// stages) and file, the registry and the files must agree, and the record in flight must be
// either wholly present or wholly absent.
//
// QUARLEN_KILL_POINTS: number of kills (default 200); QUARLEN_KILL_SEED: the random seed.

#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <qrlcore/Notification.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/KillTesting.h"
#include "support/RegistryConfig.h"

namespace {

using namespace qridy;
using qrbase::GalleryEntry;
using qrbase::TemplateMatcherMultipass_TemplateContainer;
using quarlen_test::envNumber;
using quarlen_test::KillEvents;
using quarlen_test::TempDir;
using Change = quarlen_test::KillEvents::Change;

constexpr int kPointsPerGallery = 25;
const BioMetricTriple kHgmFloat{ModalityFace, InstanceFaceFrontal, AlgHgmFloat};
const BioMetricTriple kSta{ModalityFace, InstanceFaceFrontal, AlgSta};
const BioMetricTriple kL1Jim{ModalityFace, InstanceFaceFrontal, AlgL1Jim};
// Algorithm, gallery size: hgmFloat in memory and on hd1, sta on hd1, l1Jim on hd2.
const std::vector<std::pair<Algorithm, unsigned>> kBlocks{
    {AlgHgmFloat, 256}, {AlgSta, 1024}, {AlgL1Jim, 100}};

std::string storageXml(const std::string& folderA) {
  return "<r><storage id=\"k\" reserveNumberOfTemplates=\"20000\" "
         "reserveNumberOfReloadedTemplates=\"20000\" folder=\"" +
         folderA +
         "\">"
         "<memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>"
         "<harddisk id=\"hd1\" sizes=\"1500\">"
         "<disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>"
         "<disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"sta\"/></harddisk>"
         "<harddisk id=\"hd2\" sizes=\"200\">"
         "<disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"l1Jim\"/></harddisk>"
         "</storage></r>";
}

std::uint64_t personOf(std::uint64_t transactionA) {
  return transactionA % 97;
}
KXuint128 sampleOf(std::uint64_t transactionA) {
  return KXuint128{transactionA * 5, transactionA};
}

std::vector<unsigned char> galleryBytes(Algorithm algorithmA, unsigned sizeA, std::uint64_t tA) {
  std::vector<unsigned char> bytesL(sizeA);
  std::uint64_t xL = tA * 0x9E3779B97F4A7C15ull + algorithmA;
  for (unsigned char& b : bytesL) {
    xL ^= xL >> 13;
    xL *= 0xFF51AFD7ED558CCDull;
    b = static_cast<unsigned char>(xL >> 56);
  }
  return bytesL;
}

std::unique_ptr<IdRecordImp> recordOf(std::uint64_t tA) {
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(IdRecordKey(personOf(tA), tA));
  for (const auto& [algorithmL, sizeL] : kBlocks) {
    const std::vector<unsigned char> g = galleryBytes(algorithmL, sizeL, tA);
    std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmL));
    blockL->setData(nullptr, 0, g.data(), sizeL, false);
    recordL->addTemplateBlock(blockL.release(), ModalityFace, InstanceFaceFrontal, sampleOf(tA));
  }
  return recordL;
}

struct Gallery {
  std::unique_ptr<UniqueMetadataContainer> registry;
  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> container;
  qrbase::ThreadStruct thread;
};

// A fresh registry and container on the gallery of folderA: created afresh, or recovered.
std::unique_ptr<Gallery> openGallery(const std::string& folderA, const std::string& xmlA,
                                     bool createA) {
  auto gL = std::make_unique<Gallery>();
  gL->registry = std::make_unique<UniqueMetadataContainer>(ModalityFace);
  gL->container = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("k", xmlA);
  gL->container->init(1, !createA, gL->registry.get());
  gL->registry->setFidFileFolder(folderA, true);
  if (createA) {
    gL->registry->createFidFile();
  } else {
    gL->container->recoverGallery(gL->thread);
  }
  return gL;
}

[[noreturn]] void runChild(const std::string& folderA, const std::string& xmlA, std::uint64_t nextA,
                           unsigned seedA, int fdA) {
  kxntc::setSink([](kxntc::Level, const std::string&) {});
  std::mt19937 rngL(seedA);
  try {
    std::unique_ptr<Gallery> gL = openGallery(folderA, xmlA, false);
    quarlen_test::sayEvent(fdA, "O\n");
    for (;;) {
      const auto& indexL = gL->registry->getInternalMetadataVector();
      if (!indexL.empty() && rngL() % 5 == 0) {
        const IdRecordKey keyL = indexL[rngL() % indexL.size()]->getIdRecordKey();
        quarlen_test::sayEvent(fdA, "C " + std::to_string(keyL.transactionId) + "\n");
        const bool okL =
            gL->registry->removeIdRecordKey(keyL) && gL->container->destroyIdRecord(keyL);
        quarlen_test::sayEvent(fdA, okL ? "D\n" : "F removal\n");
        continue;
      }
      auto recordL = recordOf(nextA);
      quarlen_test::sayEvent(fdA, "B " + std::to_string(nextA) + "\n");
      gL->container->addIdRecord(recordL.get(), nullptr, nullptr, gL->thread, false);
      quarlen_test::sayEvent(fdA, "A\n");
      ++nextA;
    }
  } catch (const std::exception& eL) {
    std::string textL = eL.what();
    std::replace(textL.begin(), textL.end(), '\n', ' ');
    quarlen_test::sayEvent(fdA, "E " + textL + "\n");
  }
  ::_exit(1);
}

// Everything the recovered gallery holds, checked record by record; problems are returned.
std::set<std::uint64_t> inspect(Gallery& gA, std::vector<std::string>& problemsA) {
  std::set<std::uint64_t> foundL;
  auto& cL = *gA.container;
  std::map<qridy::Algorithm, std::vector<qridy::StageMatchEngine_Base*>> enginesL;
  std::map<BioMetricTriple, const std::vector<GalleryEntry>*> stagesL{
      {kHgmFloat, cL.getGalleryTemplates(kHgmFloat, 0, enginesL, false).galleryVec},
      {kSta, cL.getGalleryTemplates(kSta, 0, enginesL, false).galleryVec},
      {kL1Jim, cL.getGalleryTemplates(kL1Jim, 0, enginesL, false).galleryVec}};
  const std::size_t registeredL = gA.registry->size();
  for (const auto& [tripleL, galleryL] : stagesL) {
    if (galleryL->size() != registeredL) {
      problemsA.push_back(Types::bioTriple2Text(tripleL) + " holds " +
                          std::to_string(galleryL->size()) + " templates, the registry " +
                          std::to_string(registeredL));
    }
    for (const GalleryEntry& e : *galleryL) {
      const std::uint64_t t = e.idRecordKey().transactionId;
      const unsigned sizeL = tripleL.algorithm == AlgHgmFloat ? 256
                             : tripleL.algorithm == AlgSta    ? 1024
                                                              : 100;
      const auto wantL = galleryBytes(tripleL.algorithm, sizeL, t);
      if (e.sampleId != sampleOf(t) || e.idRecordKey().personId != personOf(t) ||
          std::memcmp(e.data, wantL.data(), sizeL) != 0 ||
          gA.registry->getMetaDataByIdRecordKey(e.idRecordKey()) != e.metadata) {
        problemsA.push_back("wrong entry of " + std::to_string(t) + " in " +
                            Types::bioTriple2Text(tripleL));
      }
    }
  }
  for (const char* idL : {"hd1", "hd2"}) {
    if (cL.fidFile(idL)->getIdRecKeyToBlobOffsetMap().size() != registeredL) {
      problemsA.push_back(std::string(idL) + " holds " +
                          std::to_string(cL.fidFile(idL)->getIdRecKeyToBlobOffsetMap().size()) +
                          " records, the registry " + std::to_string(registeredL));
    }
  }
  for (IdentityMetadata* mL : gA.registry->getInternalMetadataVector()) {
    const IdRecordKey keyL = mL->getIdRecordKey();
    foundL.insert(keyL.transactionId);
    std::unique_ptr<IdRecordImp> rL(cL.getIdRecord(keyL, false));
    const TemplateKey tkL(ModalityFace, InstanceFaceFrontal, sampleOf(keyL.transactionId));
    for (const auto& [algorithmL, sizeL] : kBlocks) {
      const TemplateBlockImp* bL = rL ? rL->getTemplateBlock(tkL, algorithmL, false) : nullptr;
      const auto wantL = galleryBytes(algorithmL, sizeL, keyL.transactionId);
      if (bL == nullptr || bL->gallerySize() != sizeL ||
          std::memcmp(bL->galleryDataPtr(), wantL.data(), sizeL) != 0) {
        problemsA.push_back("record " + std::to_string(keyL.transactionId) +
                            " rebuilt wrongly for " + Types::algorithm2Text(algorithmL));
      }
    }
  }
  return foundL;
}

TEST(ContainerKillTest, KilledEnrolmentNeverLosesAcknowledgedRecordsNorLeavesHalfRecords) {
  const unsigned long pointsL = envNumber("QUARLEN_KILL_POINTS", 200);
  const unsigned long seedL =
      envNumber("QUARLEN_KILL_SEED",
                static_cast<unsigned long>(
                    std::chrono::steady_clock::now().time_since_epoch().count() & 0x7FFFFFFF));
  std::printf("kill points %lu, seed %lu\n", pointsL, seedL);
  std::mt19937 rngL(static_cast<unsigned>(seedL));
  quarlen_test::RegistryConfig configL(4, 1044, 16, 1);
  kxntc::setSink([](kxntc::Level, const std::string&) {});

  std::unique_ptr<TempDir> dirL;
  std::string xmlL;
  std::set<std::uint64_t> modelL;
  std::uint64_t nextL = 1;
  unsigned long addsL = 0, removalsL = 0, inFlightL = 0, inFlightPresentL = 0, beforeOpenL = 0;
  std::size_t largestL = 0;
  for (unsigned long k = 0; k < pointsL; ++k) {
    if (k % kPointsPerGallery == 0) {
      dirL = std::make_unique<TempDir>();
      xmlL = dirL->write("storage.xml", storageXml(dirL->path() + "/g"));
      openGallery(dirL->path() + "/g", xmlL, true);
      modelL.clear();
    }
    const unsigned childSeedL = static_cast<unsigned>(rngL());
    const std::string folderL = dirL->path() + "/g";
    const quarlen_test::KilledChild childL = quarlen_test::runAndKill(
        [&](int fdA) { runChild(folderL, xmlL, nextL, childSeedL, fdA); }, rngL, 5000, 80000);
    const std::string& textL = childL.report;
    const int statusL = childL.status;

    const KillEvents eventsL = quarlen_test::parseKillEvents(textL, nextL);
    ASSERT_TRUE(eventsL.failure.empty()) << "kill " << k << ": " << eventsL.failure;
    ASSERT_TRUE(WIFSIGNALED(statusL)) << "kill " << k << ": the child ended by itself";
    beforeOpenL += !eventsL.opened;
    addsL += eventsL.adds.size();
    removalsL += eventsL.removals.size();
    for (std::uint64_t t : eventsL.adds) modelL.insert(t);
    for (std::uint64_t t : eventsL.removals) modelL.erase(t);
    nextL = eventsL.next;

    std::unique_ptr<Gallery> gL;
    try {
      gL = openGallery(dirL->path() + "/g", xmlL, false);
    } catch (const std::exception& eA) {
      FAIL() << "kill " << k << ": recovery failed: " << eA.what();
    }
    std::vector<std::string> problemsL;
    const std::set<std::uint64_t> foundL = inspect(*gL, problemsL);
    ASSERT_TRUE(problemsL.empty()) << "kill " << k << ": " << problemsL[0];
    std::set<std::uint64_t> withL = modelL;
    if (eventsL.inFlight == Change::Add) withL.insert(eventsL.first);
    if (eventsL.inFlight == Change::Removal) withL.erase(eventsL.first);
    if (eventsL.inFlight != Change::None) {
      ++inFlightL;
      if (foundL == withL && withL != modelL) ++inFlightPresentL;
    }
    ASSERT_TRUE(foundL == modelL || foundL == withL)
        << "kill " << k << ": found " << foundL.size() << " records, acknowledged " << modelL.size()
        << ", with the change in flight " << withL.size() << "\n"
        << textL;
    modelL = foundL;
    largestL = std::max(largestL, modelL.size());
  }
  std::printf(
      "kills %lu (%lu before the gallery was open); acknowledged adds %lu, removals %lu; "
      "changes in flight %lu (%lu found done, the rest not); largest gallery %zu records\n",
      pointsL, beforeOpenL, addsL, removalsL, inFlightL, inFlightPresentL, largestL);
}

}  // namespace
