#include <quarlen/TemplateMatcherMultipass_TemplateContainer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/MultipassFileIO.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "multipass/FingerprintGallerySupport.h"
#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"
#include "support/ScoreConfig.h"

namespace qrbase {
namespace {

using namespace qridy;
using quarlen_test::CapturedErrors;
using quarlen_test::RegistryConfig;
using quarlen_test::TempDir;
using Engines = std::map<Algorithm, std::vector<StageMatchEngine_Base*>>;

const BioMetricTriple kHgmFloat{ModalityFace, InstanceFaceFrontal, AlgHgmFloat};
const BioMetricTriple kSta{ModalityFace, InstanceFaceFrontal, AlgSta};
const BioMetricTriple kHgmByte{ModalityFace, InstanceFaceFrontal, AlgHgmByte};
const BioMetricTriple kL1Jim{ModalityFace, InstanceFaceFrontal, AlgL1Jim};

// hgmFloat in memory and on disk "hd1", sta on disk "hd1", hgmByte in memory only, l1Jim on
// disk "hd2".
std::string storageXml(const std::string& folderA, const std::string& hd1SizesA = "2000,8000") {
  return "<root>\n"
         "  <storage id=\"other\" reserveNumberOfTemplates=\"5\">\n"
         "    <memory modality=\"iris\" instance=\"irisLeft\" algorithm=\"daugman2010\"/>\n"
         "  </storage>\n"
         "  <storage id=\"face\" reserveNumberOfTemplates=\"50\" "
         "reserveNumberOfReloadedTemplates=\"40\" folder=\"" +
         folderA +
         "\" numberOfThreads=\"3\">\n"
         "    <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
         "    <memory modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmByte\"/>\n"
         "    <harddisk id=\"hd1\" sizes=\"" +
         hd1SizesA +
         "\">\n"
         "      <disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"hgmFloat\"/>\n"
         "      <disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"sta\"/>\n"
         "    </harddisk>\n"
         "    <harddisk id=\"hd2\" sizes=\"600\">\n"
         "      <disk modality=\"face\" instance=\"faceFrontal\" algorithm=\"l1Jim\"/>\n"
         "    </harddisk>\n"
         "  </storage>\n"
         "</root>\n";
}

std::unique_ptr<TemplateBlockImp> block(Algorithm algorithmA, unsigned sizeA, unsigned seedA) {
  std::vector<unsigned char> galleryL(sizeA);
  for (unsigned i = 0; i < sizeA; ++i) {
    galleryL[i] = static_cast<unsigned char>(seedA * 13 + i * 5 + algorithmA);
  }
  const unsigned char probeL[3] = {1, 2, 3};
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
  blockL->setData(probeL, 3, galleryL.data(), sizeA, false);
  return blockL;
}

KXuint128 sampleOf(std::uint64_t transactionA) {
  return KXuint128{7, transactionA};
}

// A face record with blocks of hgmFloat (256 bytes), sta (4096), hgmByte (64) and l1Jim (100).
std::unique_ptr<IdRecordImp> faceRecord(std::uint64_t personA, std::uint64_t transactionA,
                                        unsigned staSizeA = 4096) {
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(IdRecordKey(personA, transactionA));
  const unsigned seedL = static_cast<unsigned>(transactionA);
  for (auto [algorithmL, sizeL] : std::vector<std::pair<Algorithm, unsigned>>{
           {AlgHgmFloat, 256}, {AlgSta, staSizeA}, {AlgHgmByte, 64}, {AlgL1Jim, 100}}) {
    recordL->addTemplateBlock(block(algorithmL, sizeL, seedL).release(), ModalityFace,
                              InstanceFaceFrontal, sampleOf(transactionA));
  }
  return recordL;
}

class ContainerTest : public ::testing::Test {
 protected:
  explicit ContainerTest(const std::string& extraIniA = "") : configM(4, 1044, 16, 3, extraIniA) {}

  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> make(bool openExistingA) {
    const std::string pathL = configM.dir().write("storage.xml", storageXml(galleryM.path()));
    auto containerL = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("face", pathL);
    registryM = std::make_unique<UniqueMetadataContainer>(ModalityFace);
    registryM->setFidFileFolder(galleryM.path(), true);
    containerL->init(3, openExistingA, registryM.get());
    return containerL;
  }
  void add(TemplateMatcherMultipass_TemplateContainer& containerA, const IdRecordImp& recordA) {
    containerA.addIdRecord(&recordA, nullptr, nullptr, threadM, false);
  }
  // Everything the gallery holds of keyA: registry entry, memory entries, file records.
  int presence(TemplateMatcherMultipass_TemplateContainer& containerA, const IdRecordKey& keyA) {
    int countL = registryM->getMetaDataByIdRecordKey(keyA) != nullptr ? 1 : 0;
    for (const auto& tripleL : {kHgmFloat, kHgmByte}) {
      countL += static_cast<int>(
          containerA.memoryStage(tripleL)->getGalleryEntriesByIdRecordKey({keyA}).size());
    }
    for (const char* idL : {"hd1", "hd2"}) {
      const auto& indexL = containerA.fidFile(idL)->getIdRecKeyToBlobOffsetMap();
      for (const auto& e : indexL) countL += e.key == keyA ? 1 : 0;
    }
    return countL;
  }

  RegistryConfig configM;
  TempDir galleryM;
  std::unique_ptr<UniqueMetadataContainer> registryM;
  ThreadStruct threadM;
  Engines enginesM;
};

// --- the storage definition ----------------------------------------------------------------------

TEST_F(ContainerTest, StorageDefinitionIsReadForItsId) {
  auto containerL = make(false);
  EXPECT_EQ(containerL->reserveNumberOfTemplates(), 50u);
  EXPECT_EQ(containerL->reserveNumberOfReloadedTemplates(), 40u);
  EXPECT_EQ(containerL->numberOfThreads(), 3u);
  EXPECT_EQ(containerL->storageFolder(), galleryM.path());
  EXPECT_EQ(containerL->modality(), ModalityFace);
  EXPECT_EQ(containerL->memoryTriples().size(), 2u);
  EXPECT_EQ(containerL->diskTriples().at(kSta), "hd1");
  EXPECT_EQ(containerL->diskTriples().at(kHgmFloat), "hd1");
  EXPECT_EQ(containerL->diskTriples().at(kL1Jim), "hd2");
  EXPECT_EQ(containerL->harddiskSizes().at("hd1"), (std::vector<unsigned>{2000, 8000}));
  EXPECT_EQ(containerL->harddiskSizes().at("hd2"), (std::vector<unsigned>{600}));
  EXPECT_EQ(containerL->numberOfThreadSlots(), 3u);
  EXPECT_EQ(containerL->memoryStage(kHgmFloat)->maxNumberOfTemplates(), 50u);
  EXPECT_EQ(containerL->memoryStage(kSta), nullptr);

  // Defaults where the storage gives nothing.
  const std::string minimalL =
      configM.dir().write("m.xml",
                          "<r><storage id=\"s\"><memory modality=\"iris\" instance=\"irisRight\" "
                          "algorithm=\"mvxIris2PiSdk\"/></storage></r>");
  TemplateMatcherMultipass_TemplateContainer defaultsL("s", minimalL);
  EXPECT_EQ(defaultsL.reserveNumberOfTemplates(), 100000u);
  EXPECT_EQ(defaultsL.reserveNumberOfReloadedTemplates(), 10000u);
  EXPECT_EQ(defaultsL.numberOfThreads(), 1u);
  EXPECT_EQ(defaultsL.storageFolder(), "c:\\temp");
  EXPECT_EQ(defaultsL.modality(), ModalityIris);
}

TEST_F(ContainerTest, StorageDefinitionFailuresHaveTheirMessages) {
  const TempDir& d = configM.dir();
  auto load = [](const std::string& idA, const std::string& pathA) {
    TemplateMatcherMultipass_TemplateContainer c(idA, pathA);
  };
  const std::string missingL = d.path() + "/none.xml";
  EXPECT_KXXCP_MESSAGE(load("face", missingL), "Cannot open multipass config file : " + missingL);
  const std::string brokenL = d.write("broken.xml", "<root><storage id=\"face\">");
  EXPECT_KXXCP_MESSAGE(load("face", brokenL), "Cannot open multipass config file : " + brokenL);
  const std::string goodL = d.write("good.xml", storageXml(galleryM.path()));
  EXPECT_KXXCP_MESSAGE(load("nope", goodL),
                       "Failed to initilaize storage with id = 'nope', check " + goodL);
  const std::string emptyL = d.write("empty.xml", "<r><storage id=\"e\" folder=\"/x\"/></r>");
  EXPECT_KXXCP_MESSAGE(load("e", emptyL),
                       "Failed to initilaize storage with id = 'e', check " + emptyL);
  const std::string unknownL =
      d.write("unknown.xml",
              "<r><storage id=\"u\"><memory modality=\"face\" instance=\"faceFrontal\" "
              "algorithm=\"hgmX\"/></storage></r>");
  EXPECT_KXXCP_MESSAGE(load("u", unknownL),
                       "Failed to initilaize storage with id = 'u', check " + unknownL);
  const std::string unknownDiskL =
      d.write("unknownDisk.xml",
              "<r><storage id=\"u\"><harddisk id=\"h\" sizes=\"10\"><disk "
              "modality=\"nose\" instance=\"faceFrontal\" algorithm=\"hgm\"/>"
              "</harddisk></storage></r>");
  EXPECT_KXXCP_MESSAGE(load("u", unknownDiskL),
                       "Failed to initilaize storage with id = 'u', check " + unknownDiskL);
  auto withStorage = [&](const std::string& attributesA, const std::string& harddiskA) {
    return d.write("v.xml", "<r><storage id=\"v\" " + attributesA +
                                "><memory modality=\"face\" instance=\"faceFrontal\" "
                                "algorithm=\"hgm\"/>" +
                                harddiskA + "</storage></r>");
  };
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("reserveNumberOfTemplates=\"-1\"", "")),
                       "Invalid storage definition 'v': reserveNumberOfTemplates '-1'");
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("reserveNumberOfTemplates=\"200000001\"", "")),
                       "Invalid storage definition 'v': reserveNumberOfTemplates '200000001'");
  load("v", withStorage("reserveNumberOfTemplates=\"200000000\"", ""));
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("numberOfThreads=\"0\"", "")),
                       "Invalid storage definition 'v': numberOfThreads '0'");
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("", "<harddisk id=\"../up\" sizes=\"10\"/>")),
                       "Invalid storage definition 'v': harddisk id '../up'");
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("", "<harddisk id=\"h\" sizes=\"10,x\"/>")),
                       "Invalid storage definition 'v': sizes '10,x'");
  EXPECT_KXXCP_MESSAGE(load("v", withStorage("", "<harddisk id=\"h\" sizes=\"67108865\"/>")),
                       "Invalid storage definition 'v': sizes '67108865'");
  EXPECT_KXXCP_MESSAGE(
      load("v",
           withStorage("", "<harddisk id=\"h\" sizes=\"10\"/><harddisk id=\"h\" sizes=\"10\"/>")),
      "Invalid storage definition 'v': harddisk id 'h'");
  const std::string twiceL =
      "<harddisk id=\"a\" sizes=\"10\"><disk modality=\"face\" instance=\"faceFrontal\" "
      "algorithm=\"sta\"/></harddisk><harddisk id=\"b\" sizes=\"10\"><disk modality=\"face\" "
      "instance=\"faceFrontal\" algorithm=\"sta\"/></harddisk>";
  EXPECT_KXXCP_MESSAGE(
      load("v", withStorage("", twiceL)),
      "Invalid storage definition 'v': disk triple stored twice '(face/faceFrontal/sta)'");
}

// --- the record blob -----------------------------------------------------------------------------

TEST(ContainerBlobTest, RecordBlobLayoutAndItsReading) {
  auto b1L = block(AlgHgmFloat, 20, 1);
  auto b2L = block(AlgSta, 8, 2);
  const std::string blobL = TemplateMatcherMultipass_TemplateContainer::recordBlob(
      {kHgmFloat, kSta}, {b1L.get(), b2L.get()},
      {KXuint128{0x0102030405060708ull, 0x1112131415161718ull}, KXuint128{0, 9}});
  std::ostringstream b1GalleryL, b2GalleryL;
  b1L->writeGalleryTB(b1GalleryL);
  b2L->writeGalleryTB(b2GalleryL);
  const std::string headL(
      "\x02\0\0\0"
      "\x01\0\0\0\x0B\0\0\0\x0B\0\0\0"
      "\x18\x17\x16\x15\x14\x13\x12\x11"
      "\x08\x07\x06\x05\x04\x03\x02\x01",
      4 + 12 + 16);
  const std::string secondL(
      "\x01\0\0\0\x0B\0\0\0\x05\0\0\0"
      "\x09\0\0\0\0\0\0\0"
      "\0\0\0\0\0\0\0\0",
      12 + 16);
  EXPECT_EQ(blobL, headL + b1GalleryL.str() + secondL + b2GalleryL.str());

  std::istringstream isL(blobL);
  std::vector<TemplateBlockImp*> blocksL;
  std::vector<KXuint128> idsL;
  std::vector<BioMetricTriple> triplesL;
  MultipassFileIO::readTemplateBlocksFromFidFileBlock(isL, blocksL, idsL, triplesL);
  ASSERT_EQ(blocksL.size(), 2u);
  EXPECT_EQ(triplesL[1], kSta);
  EXPECT_EQ(idsL[0], (KXuint128{0x0102030405060708ull, 0x1112131415161718ull}));
  EXPECT_EQ(blocksL[0]->gallerySize(), 20u);
  EXPECT_EQ(std::memcmp(blocksL[0]->galleryDataPtr(), b1L->galleryDataPtr(), 20), 0);
  for (auto* b : blocksL) delete b;
  EXPECT_KXXCP_MESSAGE(TemplateMatcherMultipass_TemplateContainer::recordBlob({kSta}, {}, {}),
                       "addTemplateBlocksToDisk - internal size error.");
}

// --- enrolment and the galleries of the probe slots ----------------------------------------------

TEST_F(ContainerTest, EnrolmentFillsMemoryStagesAndFilesAndSlotsReloadTheirOwn) {
  auto containerL = make(false);
  for (std::uint64_t t = 1; t <= 5; ++t) add(*containerL, *faceRecord(t % 3, t));
  EXPECT_EQ(registryM->size(), 5u);
  EXPECT_EQ(containerL->numberOfTemplates(kHgmFloat), 5u);
  EXPECT_EQ(containerL->numberOfTemplates(kHgmByte), 5u);
  EXPECT_EQ(containerL->numberOfTemplates(kSta), 5u);
  EXPECT_EQ(containerL->numberOfTemplates(kL1Jim), 5u);
  EXPECT_EQ(containerL->numberOfTemplates({ModalityIris, InstanceIrisLeft, AlgDaugman2010}), 0u);
  EXPECT_EQ(containerL->fidFile("hd1")->cachedBlobs(), 0u);  // acknowledged means written

  // Memory triples come from their memory stage; its slots hold the blocks' gallery parts.
  GalleryEntryData memoryL = containerL->getGalleryTemplates(kHgmFloat, 1, enginesM, false);
  ASSERT_EQ(memoryL.galleryVec->size(), 5u);
  EXPECT_EQ(memoryL.galleryVec, &containerL->memoryStage(kHgmFloat)->galleryVec());
  EXPECT_EQ(memoryL.dataSize, 256u);
  // A disk triple is reloaded into the slot's own stage, once.
  GalleryEntryData slot1L = containerL->getGalleryTemplates(kSta, 1, enginesM, false);
  ASSERT_EQ(slot1L.galleryVec->size(), 5u);
  EXPECT_EQ(slot1L.dataSize, 4096u);
  for (const GalleryEntry& e : *slot1L.galleryVec) {
    const std::uint64_t t = e.idRecordKey().transactionId;
    EXPECT_EQ(e.sampleId, sampleOf(t));
    EXPECT_EQ(e.metadata, registryM->getMetaDataByIdRecordKey(IdRecordKey(t % 3, t)));
    EXPECT_EQ(
        std::memcmp(e.data, block(AlgSta, 4096, static_cast<unsigned>(t))->galleryDataPtr(), 4096),
        0);
  }
  EXPECT_EQ(containerL->getGalleryTemplates(kSta, 1, enginesM, false).galleryVec,
            slot1L.galleryVec);
  EXPECT_EQ(slot1L.galleryVec->size(), 5u);  // not loaded twice
  // Other slots have their own stages, still empty with the no-reload flag.
  GalleryEntryData slot2L = containerL->getGalleryTemplates(kSta, 2, enginesM, true);
  EXPECT_NE(slot2L.galleryVec, slot1L.galleryVec);
  EXPECT_EQ(slot2L.galleryVec->size(), 0u);
  EXPECT_EQ(containerL->getGalleryTemplates(kL1Jim, 2, enginesM, false).galleryVec->size(), 5u);
  containerL->clearPreloadedStages(1);
  EXPECT_EQ(slot1L.galleryVec->size(), 0u);
  EXPECT_EQ(containerL->getGalleryTemplates(kSta, 1, enginesM, false).galleryVec->size(), 5u);

  EXPECT_KXXCP_MESSAGE(containerL->getGalleryTemplates({ModalityFace, InstanceFaceFrontal, AlgHgm},
                                                       0, enginesM, false),
                       "No storage specified for (face/faceFrontal/hgm)");
  EXPECT_THROW(containerL->getGalleryTemplates(kSta, 3, enginesM, false), std::out_of_range);
  EXPECT_THROW(containerL->clearPreloadedStages(3), std::out_of_range);
}

TEST_F(ContainerTest, RecordsAreRebuiltFromFilesAndStages) {
  auto containerL = make(false);
  auto originalL = faceRecord(4, 40);
  add(*containerL, *originalL);
  std::unique_ptr<IdRecordImp> rebuiltL(containerL->getIdRecord({4, 40}, false));
  ASSERT_NE(rebuiltL, nullptr);
  const TemplateKey keyL(ModalityFace, InstanceFaceFrontal, sampleOf(40));
  // From the files: the blocks as written (gallery form).
  for (Algorithm a : {AlgHgmFloat, AlgSta, AlgL1Jim}) {
    const TemplateBlockImp* gotL = rebuiltL->getTemplateBlock(keyL, a, true);
    const TemplateBlockImp* wantL = originalL->getTemplateBlock(keyL, a, true);
    ASSERT_EQ(gotL->gallerySize(), wantL->gallerySize()) << a;
    EXPECT_EQ(std::memcmp(gotL->galleryDataPtr(), wantL->galleryDataPtr(), wantL->gallerySize()),
              0);
    EXPECT_EQ(gotL->probeSize(), 0u);
  }
  // From memory only: the slot (64 bytes, the hgmByte block's size).
  const TemplateBlockImp* byteL = rebuiltL->getTemplateBlock(keyL, AlgHgmByte, true);
  ASSERT_EQ(byteL->gallerySize(), 64u);
  EXPECT_EQ(std::memcmp(byteL->galleryDataPtr(), block(AlgHgmByte, 64, 40)->galleryDataPtr(), 64),
            0);
  EXPECT_EQ(containerL->getIdRecord({4, 41}, false), nullptr);
}

TEST_F(ContainerTest, FailedAddsLeaveNothingBehind) {
  auto containerL = make(false);
  add(*containerL, *faceRecord(1, 1));
  const unsigned checksumL = containerL->getMasterChecksum();

  // Required triple missing: refused before anything is registered.
  containerL->setRequiredTriples({kHgmFloat, {ModalityFace, InstanceFaceFrontal, AlgVfa}});
  EXPECT_KXXCP_MESSAGE(
      add(*containerL, *faceRecord(2, 2)),
      "TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: Cannot add IdRecord. "
      "A required algorithm is missing :  (face/faceFrontal/vfa)");
  containerL->setRequiredTriples({kHgmFloat});
  // Duplicate: code 500, and the enrolled record stays whole.
  try {
    add(*containerL, *faceRecord(1, 1));
    ADD_FAILURE() << "duplicate accepted";
  } catch (const kxxcp::Exception& eA) {
    EXPECT_EQ(eA.errorCode(), 500);
    EXPECT_EQ(eA.getMessage().rfind("TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: Cannot "
                                    "add IdRecord (",
                                    0),
              0u);
  }
  EXPECT_EQ(presence(*containerL, {1, 1}), 5);  // registry, 2 stages, 2 harddisks

  // A memory stage refuses (sta is on disk only: use an hgmFloat block too large for its slot).
  auto bigL = faceRecord(3, 3);
  const TemplateKey keyL(ModalityFace, InstanceFaceFrontal, sampleOf(3));
  bigL->getTemplateByKey(keyL)->deleteTemplateBlock(AlgHgmFloat);
  bigL->getTemplateByKey(keyL)->addTemplateBlock(block(AlgHgmFloat, 300, 3).release());
  EXPECT_KXXCP_MESSAGE(
      add(*containerL, *bigL),
      "TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: addIdRecord - add to "
      "memory stage failed \n   Sample id 7 3\nThe data size of your template is "
      "too large. (exp, current) = (256, 300)");
  EXPECT_EQ(presence(*containerL, {3, 3}), 0);

  // The second harddisk refuses after the first was written: l1Jim's blob is too large for hd2.
  auto wideL = faceRecord(4, 4);
  wideL->getTemplateByKey(TemplateKey(ModalityFace, InstanceFaceFrontal, sampleOf(4)))
      ->deleteTemplateBlock(AlgL1Jim);
  wideL->getTemplateByKey(TemplateKey(ModalityFace, InstanceFaceFrontal, sampleOf(4)))
      ->addTemplateBlock(block(AlgL1Jim, 700, 4).release());
  try {
    add(*containerL, *wideL);
    ADD_FAILURE() << "oversized blob accepted";
  } catch (const kxxcp::Exception& eA) {
    const std::string m = eA.getMessage();
    EXPECT_NE(m.find("Data size of Algorithm 'l1Jim' is greater than MAX_TEMPLATE_SIZE : "
                     "(max/dataSize) = (600/"),
              std::string::npos)
        << m;
  }
  EXPECT_EQ(presence(*containerL, {4, 4}), 0);
  // A blob of several blocks too large for hd1 (sta 8000 + hgmFloat 256 > 8000).
  EXPECT_KXXCP_PREFIX(add(*containerL, *faceRecord(5, 5, 8000)),
                      "TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: Data size of "
                      "combined templates is greater than MAX_TEMPLATE_SIZE : (max/dataSize) = "
                      "(8000/");
  EXPECT_EQ(presence(*containerL, {5, 5}), 0);
  EXPECT_EQ(registryM->size(), 1u);
  EXPECT_EQ(containerL->getMasterChecksum(), checksumL);
  // The same keys enrol afterwards.
  add(*containerL, *faceRecord(3, 3));
  add(*containerL, *faceRecord(4, 4));
  EXPECT_EQ(presence(*containerL, {4, 4}), 5);
  EXPECT_NE(containerL->getMasterChecksum(), checksumL);
}

TEST_F(ContainerTest, RemovalReachesStagesAndFiles) {
  auto containerL = make(false);
  for (std::uint64_t t = 1; t <= 4; ++t) add(*containerL, *faceRecord(t <= 3 ? 8 : 9, t));
  EXPECT_TRUE(containerL->destroyIdRecord({9, 4}));
  EXPECT_EQ(presence(*containerL, {9, 4}), 1);  // the registry entry is the matcher's to remove
  EXPECT_TRUE(containerL->destroyIdRecords(8));
  for (std::uint64_t t = 1; t <= 3; ++t) EXPECT_EQ(presence(*containerL, {8, t}), 1);
  EXPECT_EQ(containerL->numberOfTemplates(kHgmFloat), 0u);
  EXPECT_EQ(containerL->numberOfTemplates(kSta), 0u);
  EXPECT_TRUE(containerL->destroyIdRecord({9, 99}));  // unknown: nothing to do
}

TEST_F(ContainerTest, RecoveryRebuildsMemoryAndDropsHalfEnrolledRecords) {
  std::vector<unsigned char> slotsL;
  {
    auto containerL = make(false);
    for (std::uint64_t t = 1; t <= 6; ++t) add(*containerL, *faceRecord(t, t));
    containerL->destroyIdRecord({2, 2});
    registryM->removeIdRecordKey({2, 2});
    // An add interrupted between its file writes and its commit: a blob without an identity.
    IdentityMetadata strayL(IdRecordKey(77, 77));
    containerL->fidFile("hd1")->add(strayL, "xyz", 3);
    containerL->fidFile("hd1")->writeCacheToDisk();
    // And an identity committed whose hd2 blob is gone (a damaged gallery).
    containerL->fidFile("hd2")->clear({5, 5});
  }
  auto containerL = make(true);
  EXPECT_TRUE(containerL->templateCachePresent());
  CapturedErrors errorsL;
  const int pushedL = containerL->recoverGallery(threadM);
  EXPECT_EQ(pushedL, 4);  // hgmFloat of records 1, 3, 4, 6
  EXPECT_EQ(registryM->size(), 4u);
  ASSERT_EQ(errorsL.entriesM.size(), 1u);
  EXPECT_EQ(errorsL.entriesM[0],
            "recoverGallery - IdRecord without its gallery data removed\n   "
            "Person id 5\n   Transaction id 5");
  EXPECT_EQ(presence(*containerL, {77, 77}), 0);
  EXPECT_EQ(presence(*containerL, {5, 5}), 0);
  for (std::uint64_t t : {1, 3, 4, 6}) {
    const auto entriesL =
        containerL->memoryStage(kHgmFloat)->getGalleryEntriesByIdRecordKey({{t, t}});
    ASSERT_EQ(entriesL.size(), 1u) << t;
    EXPECT_EQ(entriesL[0]->metadata, registryM->getMetaDataByIdRecordKey({t, t}));
    EXPECT_EQ(std::memcmp(entriesL[0]->data,
                          block(AlgHgmFloat, 256, static_cast<unsigned>(t))->galleryDataPtr(), 256),
              0);
    // hgmByte lives in memory only: gone with the process.
    EXPECT_EQ(containerL->numberOfTemplates(kHgmByte), 0u);
  }
  EXPECT_EQ(containerL->getGalleryTemplates(kL1Jim, 0, enginesM, false).galleryVec->size(), 4u);
}

// A reload goes through the files in file order; a blob whose block fails its checksum is
// reported and ends the reload with what came before it, none of its own blocks loaded.
TEST_F(ContainerTest, AReloadStopsAtABlobThatFailsItsChecksum) {
  auto containerL = make(false);
  // Keys fall while the file grows: file order is not key order.
  for (std::uint64_t t = 6; t >= 1; --t) add(*containerL, *faceRecord(t % 3, t));
  MultipassFileIO* filesL = containerL->fidFile("hd1");
  std::vector<MultipassFileIO::IdRecKeyToBlobOffset> byFileL = filesL->getIdRecKeyToBlobOffsetMap();
  std::sort(byFileL.begin(), byFileL.end(),
            [](const auto& aA, const auto& bA) { return aA.dataPosition < bA.dataPosition; });
  ASSERT_EQ(byFileL.size(), 6u);
  ASSERT_EQ(byFileL[0].key, IdRecordKey(0, 6));
  {
    // A byte of the hgmFloat gallery part of the fourth blob in file order (record size 8008).
    std::fstream f(filesL->dataFileName(byFileL[3].dataFileIndex),
                   std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(88 + static_cast<std::streamoff>(byFileL[3].dataPosition) * 8008 + 8 + 4 + 28 + 15 + 7);
    const char flipL = 0x5A;
    f.write(&flipL, 1);
  }
  CapturedErrors errorsL;
  const GalleryEntryData staL = containerL->getGalleryTemplates(kSta, 1, enginesM, false);
  ASSERT_EQ(errorsL.entriesM.size(), 1u);
  EXPECT_EQ(errorsL.entriesM[0],
            "kxxcp at reload templates. Number of templates added: 3\n"
            "kxxcp caught: Checksum error reading gallery data.");
  // The sta blocks of the three blobs before it, in file order (hgmFloat is matched in memory:
  // its blocks are not reloaded).
  ASSERT_EQ(staL.galleryVec->size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::uint64_t t = 6 - i;
    EXPECT_EQ((*staL.galleryVec)[i].idRecordKey(), IdRecordKey(t % 3, t));
    EXPECT_EQ((*staL.galleryVec)[i].sampleId, sampleOf(t));
    EXPECT_EQ(std::memcmp((*staL.galleryVec)[i].data,
                          block(AlgSta, 4096, static_cast<unsigned>(t))->galleryDataPtr(), 4096),
              0);
  }
}

TEST_F(ContainerTest, ProbeSlotsReloadAndReadTheirOwnStagesAtOnce) {
  auto containerL = make(false);
  constexpr std::uint64_t kRecords = 30;
  for (std::uint64_t t = 1; t <= kRecords; ++t) add(*containerL, *faceRecord(t, t));
  // Slot 0's gallery is loaded before and must not change while the others reload.
  const GalleryEntryData slot0L = containerL->getGalleryTemplates(kSta, 0, enginesM, false);
  std::vector<GalleryEntry> before0L = *slot0L.galleryVec;
  const std::vector<GalleryEntry>* memoryL =
      containerL->getGalleryTemplates(kHgmFloat, 0, enginesM, false).galleryVec;
  std::atomic<int> problemsL{0};
  std::atomic<bool> stopL{false};
  auto checkAll = [&](const std::vector<GalleryEntry>& galleryA, Algorithm aA, unsigned sizeA) {
    for (const GalleryEntry& e : galleryA) {
      const auto wantL = block(aA, sizeA, static_cast<unsigned>(e.idRecordKey().transactionId));
      if (std::memcmp(e.data, wantL->galleryDataPtr(), sizeA) != 0) ++problemsL;
    }
  };
  std::vector<std::thread> threadsL;
  for (unsigned slot = 1; slot <= 2; ++slot) {
    threadsL.emplace_back([&, slot] {
      Engines enginesL;
      for (int round = 0; round < 4; ++round) {
        const GalleryEntryData sL = containerL->getGalleryTemplates(kSta, slot, enginesL, false);
        const GalleryEntryData jL = containerL->getGalleryTemplates(kL1Jim, slot, enginesL, false);
        if (sL.galleryVec->size() != kRecords || jL.galleryVec->size() != kRecords) ++problemsL;
        checkAll(*sL.galleryVec, AlgSta, 4096);
        checkAll(*jL.galleryVec, AlgL1Jim, 100);
        checkAll(*memoryL, AlgHgmFloat, 256);
        containerL->clearPreloadedStages(slot);
      }
    });
  }
  threadsL.emplace_back([&] {
    while (!stopL) {
      const GalleryEntryData sL = containerL->getGalleryTemplates(kSta, 0, enginesM, true);
      if (sL.galleryVec != slot0L.galleryVec || sL.galleryVec->size() != before0L.size())
        ++problemsL;
      checkAll(*sL.galleryVec, AlgSta, 4096);
    }
  });
  threadsL[0].join();
  threadsL[1].join();
  stopL = true;
  threadsL[2].join();
  EXPECT_EQ(problemsL.load(), 0);
  ASSERT_EQ(slot0L.galleryVec->size(), before0L.size());
  for (std::size_t i = 0; i < before0L.size(); ++i) {
    EXPECT_EQ((*slot0L.galleryVec)[i].data, before0L[i].data);
    EXPECT_EQ((*slot0L.galleryVec)[i].metadata, before0L[i].metadata);
  }
}

// --- fingerprints --------------------------------------------------------------------------------

class FingerContainerTest : public ContainerTest {
 protected:
  FingerContainerTest()
      : ContainerTest("force4FingersToWatchlist = true\nL2fMaxMinutiaCountForGallery = 30\n") {}

  std::unique_ptr<TemplateMatcherMultipass_TemplateContainer> makeFinger() {
    std::string memoryL;
    for (Instance i = InstanceFingerRightThumb; i <= InstanceFingerLeftLittle;
         i = static_cast<Instance>(i + 1)) {
      memoryL += "<memory modality=\"fingerprint\" instance=\"" + qridy::Types::instance2Text(i) +
                 "\" algorithm=\"l2f\"/>";
    }
    const std::string pathL =
        configM.dir().write("finger.xml", "<r><storage id=\"f\" folder=\"" + galleryM.path() +
                                              "\">" + memoryL + "</storage></r>");
    auto containerL = std::make_unique<TemplateMatcherMultipass_TemplateContainer>("f", pathL);
    registryM = std::make_unique<UniqueMetadataContainer>(ModalityFingerprint);
    registryM->setFidFileFolder(galleryM.path(), true);
    containerL->init(1, false, registryM.get());
    return containerL;
  }
  std::unique_ptr<IdRecordImp> fingers(std::uint64_t keyA, const std::vector<Instance>& fingersA) {
    auto recordL = std::make_unique<IdRecordImp>();
    recordL->setIdRecordKey(IdRecordKey(keyA, keyA));
    for (Instance i : fingersA) {
      recordL->addTemplateBlock(block(AlgL2f, 120, i).release(), ModalityFingerprint, i,
                                KXuint128{0, i});
    }
    return recordL;
  }
  std::size_t count(TemplateMatcherMultipass_TemplateContainer& cA, Instance iA) {
    return cA.numberOfTemplates({ModalityFingerprint, iA, AlgL2f});
  }
};

// Trims by cutting the gallery part to two bytes per minutia (the shape a trimmed template has
// for the gallery: shorter, same beginning).
class CuttingTrimmer : public FingerprintGallerySupport {
 public:
  unsigned int galleryTemplateSize(Algorithm) const override { return 0; }
  void trimL2fTemplates(IdRecordImp& recordA, int maxMinutiaeA) override {
    calls.push_back(maxMinutiaeA);
    for (const TemplateKey& k : recordA.getTemplateKeys(ModalityFingerprint, InstanceAny)) {
      TemplateBlockImp* b = recordA.getTemplateByKey(k)->getTemplateBlock(AlgL2f);
      const std::vector<unsigned char> keptL(b->galleryDataPtr(),
                                             b->galleryDataPtr() + 2 * maxMinutiaeA);
      b->setData(nullptr, 0, keptL.data(), static_cast<unsigned>(keptL.size()), false);
    }
  }
  std::vector<int> calls;
};

TEST_F(FingerContainerTest,
       WatchlistKeepsFourFingersInOrderAndTrimmingGoesThroughTheFingerLibrary) {
  auto containerL = makeFinger();
  const std::vector<Instance> sixL{InstanceFingerRightThumb,  InstanceFingerRightIndex,
                                   InstanceFingerRightMiddle, InstanceFingerLeftThumb,
                                   InstanceFingerLeftIndex,   InstanceFingerLeftRing};
  // The finger library refuses to trim l2f bytes that are no minutiae template.
  EXPECT_KXXCP_MESSAGE(add(*containerL, *fingers(1, sixL)),
                       "TemplateMatcherMultipass::addIdRecord: \nkxxcp caught: Failed to trim L2F "
                       "templates in IdRecord");
  EXPECT_EQ(registryM->size(), 0u);
  CuttingTrimmer trimmerL;
  setFingerprintGallerySupport(&trimmerL);
  struct Uninstall {
    ~Uninstall() { setFingerprintGallerySupport(nullptr); }
  } uninstallL;
  auto recordL = fingers(1, sixL);
  add(*containerL, *recordL);
  EXPECT_EQ(trimmerL.calls, std::vector<int>{30});
  for (Instance i : {InstanceFingerRightIndex, InstanceFingerLeftIndex, InstanceFingerRightThumb,
                     InstanceFingerLeftThumb}) {
    EXPECT_EQ(count(*containerL, i), 1u) << i;
  }
  EXPECT_EQ(count(*containerL, InstanceFingerRightMiddle), 0u);
  EXPECT_EQ(count(*containerL, InstanceFingerLeftRing), 0u);
  // The trimmed template is stored; the caller's record is not changed.
  const auto* stageL =
      containerL->memoryStage({ModalityFingerprint, InstanceFingerRightIndex, AlgL2f});
  // The stage was made for the gallery's trimming count (30 minutiae: 12 + 6 x 30 bytes).
  EXPECT_EQ(stageL->dataSize(), 192u);
  EXPECT_EQ(std::memcmp(stageL->galleryVec()[0].data,
                        block(AlgL2f, 120, InstanceFingerRightIndex)->galleryDataPtr(), 60),
            0);
  EXPECT_EQ(std::count(stageL->galleryVec()[0].data + 60, stageL->galleryVec()[0].data + 192, 0),
            132);
  EXPECT_EQ(recordL->nBioRecords(), 6u);
  EXPECT_EQ(recordL
                ->getTemplateBlock(TemplateKey(ModalityFingerprint, InstanceFingerRightIndex,
                                               KXuint128{0, InstanceFingerRightIndex}),
                                   AlgL2f, true)
                ->gallerySize(),
            120u);
  // With middle fingers only, the first four present are kept.
  add(*containerL,
      *fingers(2, {InstanceFingerLeftLittle, InstanceFingerRightMiddle, InstanceFingerLeftMiddle,
                   InstanceFingerRightRing, InstanceFingerLeftRing}));
  EXPECT_EQ(count(*containerL, InstanceFingerLeftRing), 1u);
  EXPECT_EQ(count(*containerL, InstanceFingerLeftLittle), 0u);
}

// --- status --------------------------------------------------------------------------------------

int countOf(const std::string& textA, const std::string& partA) {
  int nL = 0;
  for (std::size_t p = textA.find(partA); p != std::string::npos; p = textA.find(partA, p + 1))
    ++nL;
  return nL;
}

TEST_F(ContainerTest, GalleryStatusGoesDeeperWithEachIntensity) {
  {
    auto containerL = make(false);
    for (std::uint64_t t = 1; t <= 3; ++t) add(*containerL, *faceRecord(t, t));
    std::string reportL;
    for (int level = 1; level <= 5; ++level) {
      EXPECT_TRUE(containerL->galleryStatus(level, reportL)) << reportL;
      for (int l = 1; l <= 5; ++l) {
        EXPECT_EQ(countOf(reportL, "<level" + std::to_string(l) + ">"), l <= level ? 1 : 0)
            << level << "\n"
            << reportL;
      }
    }
    EXPECT_NE(reportL.find("<memoryStage triple=\"(face/faceFrontal/hgmFloat)\" templates=\"3\" "
                           "slotSize=\"256\" arrays=\"1\"/>"),
              std::string::npos)
        << reportL;
    EXPECT_NE(reportL.find("<harddisk id=\"hd2\" records=\"3\""), std::string::npos);
    EXPECT_NE(reportL.find("<consistentFidFiles count=\"2\">"), std::string::npos);
    EXPECT_NE(reportL.find("<existenceBins places=\"5\">\n<bin found=\"5\" records=\"3\"/>"),
              std::string::npos)
        << reportL;
    EXPECT_NE(reportL.find("<corruptDataFidRecords count=\"0\">"), std::string::npos);
    // A record that lost its hd2 blob shows at level 3, not before.
    containerL->fidFile("hd2")->clear({2, 2});
    EXPECT_TRUE(containerL->galleryStatus(2, reportL));
    EXPECT_FALSE(containerL->galleryStatus(3, reportL));
    EXPECT_NE(reportL.find("<bin found=\"4\" records=\"1\"/>"), std::string::npos) << reportL;
    EXPECT_NE(reportL.find("<incompleteRecords count=\"1\">\n<record pid=\"2\" trid=\"2\" "
                           "found=\"4\" registered=\"1\"/>"),
              std::string::npos)
        << reportL;
    add(*containerL, *faceRecord(4, 4));
  }
  // A changed byte of a stored block shows when the blobs are read (levels 4 and 5).
  auto containerL = make(true);
  containerL->recoverGallery(threadM);
  containerL->fidFile("hd2")->enableCachingForDataFidFiles(false);
  {
    std::fstream f(containerL->fidFile("hd2")->dataFileName(0),
                   std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(88 + 8 + 60);
    const char flipL = 0x5A;
    f.write(&flipL, 1);
  }
  std::string reportL;
  EXPECT_TRUE(containerL->galleryStatus(2, reportL)) << reportL;
  // hgmByte is kept in memory only: after the restart its records miss it.
  EXPECT_FALSE(containerL->galleryStatus(3, reportL));
  EXPECT_NE(reportL.find("<bin found=\"4\" records=\"3\"/>"), std::string::npos) << reportL;
  EXPECT_FALSE(containerL->galleryStatus(5, reportL));
  EXPECT_NE(reportL.find("<intensiveCheck harddisk=\"hd2\" status=\"invalid\">"), std::string::npos)
      << reportL;
  EXPECT_NE(reportL.find("<corruptDataFidRecords count=\"1\">\n<record pid=\""), std::string::npos)
      << reportL;
  EXPECT_NE(reportL.find("<status valid=\"false\"/>"), std::string::npos);
}

TEST_F(ContainerTest, GalleryStatusRefusesIntensitiesOutsideOneToFive) {
  auto containerL = make(false);
  std::string reportL;
  EXPECT_FALSE(containerL->galleryStatus(0, reportL));
  EXPECT_EQ(
      reportL,
      "<galleryStatus>\n<error reason=\"TemplateMatcherMultipass::galleryStatus intensity > "
      "0 &amp;&amp; &lt; 6\" intensity=\"0\" validValues=\"1,2,3,4,5\"/>\n</galleryStatus>\n");
  EXPECT_FALSE(containerL->galleryStatus(6, reportL));
  EXPECT_NE(reportL.find("intensity=\"6\""), std::string::npos);
}

}  // namespace
}  // namespace qrbase
