#include <quarlen/TemplateMatcherMultipass_Stage.h>
#include <quarlen/TemplateMatcherMultipass_Stage_MemManager.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include <qrlcore/QuarlenInformation.h>
#include <qrliris/IrisMatchEngine.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/ResultIdRecord.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/UniqueMetadataContainer.h>

#include "support/Environment.h"
#include "support/ExceptionMatchers.h"
#include "support/RegistryConfig.h"
#include "support/ScoreConfig.h"

namespace {

using namespace qridy;
using qrbase::GalleryEntry;
using qrbase::TemplateMatcherMultipass_Stage;
using qrbase::TemplateMatcherMultipass_Stage_MemManager;
using quarlen_test::TempDir;

// A block of algorithmA whose gallery part is sizeA bytes derived from seedA.
std::unique_ptr<TemplateBlockImp> block(Algorithm algorithmA, unsigned sizeA, unsigned seedA,
                                        bool symmetricA = false) {
  std::vector<unsigned char> galleryL(sizeA);
  for (unsigned i = 0; i < sizeA; ++i)
    galleryL[i] = static_cast<unsigned char>(seedA * 31 + i * 7 + 1);
  const unsigned char probeL[4] = {9, 8, 7, 6};
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(algorithmA));
  blockL->setData(probeL, 4, galleryL.empty() ? nullptr : galleryL.data(), sizeA, symmetricA);
  return blockL;
}

KXuint128 sample(std::uint64_t nA) {
  return KXuint128{nA * 3 + 1, nA};
}

// Installs a configuration with maxMemoryChunkSize for the life of the object.
class ChunkConfig {
 public:
  explicit ChunkConfig(unsigned bytesA) {
    kxutl::QuarlenInformation::setConfigFile(dirM.write(
        "q.ini",
        "[TEMPLATE_MATCHING_MULTIPASS]\nmaxMemoryChunkSize = " + std::to_string(bytesA) + "\n"));
  }
  ~ChunkConfig() { kxutl::QuarlenInformation::setConfigFile(""); }

 private:
  TempDir dirM;
};

class StageTest : public ::testing::Test {
 protected:
  // One metadata entry per key, with a stable address.
  const IdentityMetadata* md(std::uint64_t personA, std::uint64_t transactionA) {
    auto& entryL = poolM[IdRecordKey(personA, transactionA)];
    if (!entryL) entryL = std::make_unique<IdentityMetadata>(IdRecordKey(personA, transactionA));
    return entryL.get();
  }
  std::map<IdRecordKey, std::unique_ptr<IdentityMetadata>> poolM;
};

TEST_F(StageTest, BaseStageKeepsGalleryCopiesAndRefusesWhatDoesNotFit) {
  TemplateMatcherMultipass_Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 2);
  EXPECT_KXXCP_MESSAGE(stageL.add(block(AlgSta, 8, 1).get(), md(1, 1), sample(1)),
                       "TemplateBlockImp has not the configured algorithm");
  auto b1L = block(AlgHgm, 24, 1);
  stageL.add(b1L.get(), md(1, 1), sample(1));
  b1L.reset();  // the stage keeps its own copy
  stageL.add(block(AlgHgm, 8, 2).get(), md(2, 5), sample(2));
  EXPECT_KXXCP_MESSAGE(stageL.add(block(AlgHgm, 8, 3).get(), md(3, 3), sample(3)),
                       "Cannot add to gallery, because number of reserved templates reached.");
  ASSERT_EQ(stageL.numberOfTemplates(), 2u);
  EXPECT_EQ(stageL.maxNumberOfTemplates(), 2u);
  EXPECT_EQ(std::memcmp(stageL.galleryVec()[0].data, block(AlgHgm, 24, 1)->galleryDataPtr(), 24),
            0);
  // Templates rebuilt from the stage carry the gallery part only.
  std::vector<TemplateImp*> templatesL = stageL.getTemplates(IdRecordKey(2, 5));
  ASSERT_EQ(templatesL.size(), 1u);
  EXPECT_EQ(templatesL[0]->sampleId(), sample(2));
  EXPECT_EQ(templatesL[0]->getTemplateBlock(AlgHgm)->gallerySize(), 8u);
  for (auto* t : templatesL) delete t;
  // Removal in the base stage keeps the order of the others.
  EXPECT_TRUE(stageL.destroyIdRecord(IdRecordKey(1, 1)));
  ASSERT_EQ(stageL.numberOfTemplates(), 1u);
  EXPECT_EQ(stageL.galleryVec()[0].sampleId, sample(2));
}

TEST_F(StageTest, DumpsHaveTheirExactBytes) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 4);
  std::ostringstream emptyL;
  stageL.dumpBinary(emptyL);
  EXPECT_EQ(emptyL.str(), std::string("SMBD\0\0\0\0", 8));
  stageL.add(block(AlgHgm, 16, 1).get(), md(0x0102030405060708ull, 0x1112131415161718ull),
             sample(1));
  stageL.add(block(AlgHgm, 16, 2).get(), md(2, 0xA0B0C0D0E0F00001ull), sample(2));
  std::ostringstream fullL, shortL;
  stageL.dumpBinary(fullL);
  stageL.dumpShortBinary(shortL);
  EXPECT_EQ(fullL.str(), std::string("SMBD\x02\0\0\0"
                                     "\x08\x07\x06\x05\x04\x03\x02\x01"
                                     "\x18\x17\x16\x15\x14\x13\x12\x11"
                                     "\x02\0\0\0\0\0\0\0"
                                     "\x01\x00\xF0\xE0\xD0\xC0\xB0\xA0",
                                     8 + 32));
  EXPECT_EQ(shortL.str(), std::string("SMSD\x02\0\0\0"
                                      "\x18\x17\x16\x15"
                                      "\x01\x00\xF0\xE0",
                                      16));
  std::ostringstream textL;
  stageL.dump(textL);
  const std::string t = textL.str();
  EXPECT_EQ(t.rfind("--- galleryVecM ::\n    - 0.) ( pid, 72623859790382856), ( trid, "
                    "1230066625199609624), ( s.low,1), ( s.high, 4), ( dataPtr, ",
                    0),
            0u)
      << t;
  EXPECT_NE(t.find("    - 1.) ( pid, 2), "), std::string::npos) << t;
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 3) << t;  // the title and one line per entry
}

TEST_F(StageTest, LookUpsByPersonKeyAndSampleSeeTheCurrentGallery) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 10);
  // Keys added out of order, person 5 with two records.
  const std::vector<IdRecordKey> keysL{{5, 9}, {1, 1}, {5, 2}, {3, 3}, {9, 0}};
  for (std::size_t i = 0; i < keysL.size(); ++i) {
    stageL.add(block(AlgHgm, 16, static_cast<unsigned>(i)).get(),
               md(keysL[i].personId, keysL[i].transactionId), sample(i));
  }
  auto personFiveL = stageL.getGalleryEntriesByPid({5});
  ASSERT_EQ(personFiveL.size(), 2u);
  EXPECT_EQ(personFiveL[0]->idRecordKey(), IdRecordKey(5, 2));
  EXPECT_EQ(personFiveL[1]->idRecordKey(), IdRecordKey(5, 9));
  EXPECT_TRUE(stageL.getGalleryEntriesByPid({4, 10}).empty());
  std::vector<int> positionsL;
  stageL.findFromIdVector({{3, 3}, {3, 4}, {1, 1}, {9, 0}}, positionsL);
  EXPECT_EQ(positionsL, (std::vector<int>{1, -1, 0, 4}));
  EXPECT_EQ(stageL.getIdRecordKeyBySampleId(sample(3)), IdRecordKey(3, 3));
  EXPECT_KXXCP_MESSAGE(stageL.getIdRecordKeyBySampleId(sample(77)),
                       "No gallery entry with sample id (232, 77)");
  // An add after a look-up is found (the index is rebuilt).
  stageL.add(block(AlgHgm, 16, 7).get(), md(4, 4), sample(7));
  ASSERT_EQ(stageL.getGalleryEntriesByIdRecordKey({{4, 4}}).size(), 1u);
  // A removal as well: the moved entry is found under its own key.
  EXPECT_TRUE(stageL.destroyIdRecord({1, 1}));
  EXPECT_FALSE(stageL.destroyIdRecord({1, 1}));  // absent: nothing changes
  EXPECT_EQ(stageL.numberOfTemplates(), 5u);
  auto movedL = stageL.getGalleryEntriesByIdRecordKey({{4, 4}});
  ASSERT_EQ(movedL.size(), 1u);
  EXPECT_EQ(movedL[0]->sampleId, sample(7));
  EXPECT_EQ(stageL.getIdRecordKeyBySampleId(sample(7)), IdRecordKey(4, 4));

  std::vector<Result> resultsL;
  stageL.identifyTransaction(nullptr, std::vector<std::uint64_t>{5, 3}, resultsL);
  ASSERT_EQ(resultsL.size(), 3u);
  for (const Result& r : resultsL) EXPECT_EQ(r.score(), 0.0f);
  std::vector<Result> byKeyL;
  stageL.identifyTransaction(nullptr, std::vector<IdRecordKey>{{9, 0}}, byKeyL);
  ASSERT_EQ(byKeyL.size(), 1u);
  EXPECT_EQ(byKeyL[0].sampleId(), sample(4));
  // Every entry as one zero score of the stage's algorithm, at its identity, the stage's
  // modality and instance and its sample.
  ResultTreeList treeL;
  stageL.identifyTransaction(nullptr, treeL);
  ASSERT_EQ(treeL.size(), 5u);
  for (const ResultIdRecord& r : treeL.resultIdRecordVector()) {
    const auto entriesL =
        stageL.getGalleryEntriesByIdRecordKey({{r.personId(), r.transactionId()}});
    ASSERT_EQ(entriesL.size(), 1u) << r.personId() << "/" << r.transactionId();
    EXPECT_EQ(r.getScore(), 0.0f);
    ASSERT_EQ(r.bioRecords().size(), 1u);
    const auto& bioL = r.bioRecords().begin();
    EXPECT_EQ(bioL->first, BioRecordImp::calculateHashKey(ModalityFace, InstanceFaceFrontal));
    ASSERT_EQ(bioL->second.templates().size(), 1u);
    EXPECT_EQ(bioL->second.templates().begin()->first, entriesL[0]->sampleId);
    const auto& blocksL = bioL->second.templates().begin()->second.blocks();
    ASSERT_EQ(blocksL.size(), 1u);
    EXPECT_EQ(blocksL.begin()->first, AlgHgm);
    EXPECT_EQ(blocksL.begin()->second.getScore(), 0.0f);
    EXPECT_FALSE(blocksL.begin()->second.isNormalaizedScore());
  }
  EXPECT_KXXCP_MESSAGE(stageL.processBinMap(qrbase::BinMap{}, qrbase::FilterModeNone),
                       "!!! Work to do here !!!");
}

// The positions of identities' entries follow every change of the gallery; an identity with
// two samples has two positions.
TEST_F(StageTest, GalleryPositionsOfIdentities) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 5000);
  EXPECT_EQ(stageL.getGalleryEntries().positionIndex, nullptr);
  stageL.setPositionIndexed(true);
  EXPECT_EQ(stageL.getGalleryEntries().positionIndex, &stageL);
  const std::vector<IdRecordKey> keysL{{5, 9}, {1, 1}, {5, 9}, {3, 3}, {9, 0}};
  for (std::size_t i = 0; i < keysL.size(); ++i) {
    stageL.add(block(AlgHgm, 16, static_cast<unsigned>(i)).get(),
               md(keysL[i].personId, keysL[i].transactionId), sample(i));
  }
  auto positions = [&](std::vector<IdRecordKey> keysA) {
    std::vector<IdentityMetadata*> mL;
    for (const IdRecordKey& k : keysA) {
      mL.push_back(const_cast<IdentityMetadata*>(md(k.personId, k.transactionId)));
    }
    std::vector<std::uint32_t> pL{77};
    stageL.galleryPositions(mL, pL);
    return pL;
  };
  EXPECT_EQ(positions({{9, 0}, {5, 9}, {2, 2}}), (std::vector<std::uint32_t>{0, 2, 4}));
  stageL.add(block(AlgHgm, 16, 7).get(), md(2, 2), sample(7));
  EXPECT_EQ(positions({{2, 2}}), (std::vector<std::uint32_t>{5}));
  // (2, 2), the last entry, moves into the hole of (1, 1).
  EXPECT_TRUE(stageL.destroyIdRecord({1, 1}));
  EXPECT_EQ(positions({{2, 2}, {1, 1}}), (std::vector<std::uint32_t>{1}));
  EXPECT_TRUE(positions({}).empty());
  // Many adds after a look-up: found by the walk over the added entries, then by the index.
  for (std::uint64_t n = 10; n < 4200; ++n) {
    stageL.add(block(AlgHgm, 16, 9).get(), md(n, n), sample(n));
    if (n == 10 || n == 4150) {
      EXPECT_EQ(positions({{n, n}, {3, 3}}),
                (std::vector<std::uint32_t>{3, static_cast<std::uint32_t>(n - 5)}))
          << n;
    }
  }
  EXPECT_EQ(positions({{4199, 4199}, {9, 0}, {11, 11}}), (std::vector<std::uint32_t>{4, 6, 4194}));
}

TEST_F(StageTest, SeveralSamplesOfOneRecordAreNotRemoved) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 10);
  stageL.add(block(AlgHgm, 16, 1).get(), md(1, 1), sample(1));
  stageL.add(block(AlgHgm, 16, 2).get(), md(1, 1), sample(2));
  quarlen_test::CapturedErrors errorsL;
  EXPECT_FALSE(stageL.destroyIdRecord({1, 1}));
  EXPECT_EQ(stageL.numberOfTemplates(), 2u);
  ASSERT_EQ(errorsL.entriesM.size(), 1u);
  EXPECT_EQ(errorsL.entriesM[0], "Multiple samples per record detected. Delete not supported!");
}

// The placeholder identification of the base class: the first entries, score 0, unlabelled as
// candidates of the probe slot (entries without a registry are left alone).
TEST_F(StageTest, ThePlaceholderIdentificationReturnsTheFirstEntriesAndUnlabelsThem) {
  quarlen_test::RegistryConfig configL(4);  // two probe slots
  UniqueMetadataContainer registryL(ModalityFace);
  std::vector<IdentityMetadata*> registeredL;
  for (std::uint64_t t = 1; t <= 3; ++t) {
    registeredL.push_back(registryL.addIdRecordKey({t + 10, t}, nullptr, nullptr, 0, false));
  }
  registryL.setAllSelected(0, true);
  registryL.setAllSelected(1, true);
  TemplateMatcherMultipass_Stage stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 5);
  for (std::size_t i = 0; i < 3; ++i)
    stageL.add(block(AlgHgm, 8, 1).get(), registeredL[i], sample(i));
  stageL.add(block(AlgHgm, 8, 1).get(), md(99, 99), sample(99));
  std::vector<Result> resultsL;
  stageL.identifyTemplate(nullptr, 1, 2, resultsL);
  ASSERT_EQ(resultsL.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(resultsL[i].personId(), i + 11);
    EXPECT_EQ(resultsL[i].transactionId(), i + 1);
    EXPECT_EQ(resultsL[i].sampleId(), sample(i));
    EXPECT_EQ(resultsL[i].score(), 0.0f);
  }
  EXPECT_FALSE(registeredL[0]->getRealSelected(1));
  EXPECT_FALSE(registeredL[1]->getRealSelected(1));
  EXPECT_TRUE(registeredL[2]->getRealSelected(1));
  EXPECT_TRUE(registeredL[0]->getRealSelected(0));  // other slots keep their candidates
  resultsL.clear();
  stageL.identifyTemplate(nullptr, 0, 10, resultsL);
  ASSERT_EQ(resultsL.size(), 4u);
  EXPECT_EQ(resultsL[3].personId(), 99u);
  EXPECT_FALSE(registeredL[2]->getRealSelected(0));
}

// At debug level 2 the removal from an l1v stage of 1000 entries or more is timed to standard
// output and the stage dumped to "stage.txt"; smaller stages, other algorithms and lower levels
// stay quiet.
TEST_F(StageTest, RemovalFromLargeL1vStagesIsTimedAtDebugLevelTwo) {
  TempDir dirL;
  const std::filesystem::path previousDirL = std::filesystem::current_path();
  std::filesystem::current_path(dirL.path());
  const int previousLevelL = kxutl::QuarlenInformation::debugLevelS;
  auto removalOutput = [&](Algorithm algorithmA, unsigned countA, int levelA) {
    std::filesystem::remove("stage.txt");
    TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFingerprint, InstanceFingerRightIndex,
                                                     algorithmA, countA);
    for (unsigned i = 0; i < countA; ++i) {
      stageL.add(block(algorithmA, 16, i).get(), md(i, i), sample(i));
    }
    kxutl::QuarlenInformation::debugLevelS = levelA;
    testing::internal::CaptureStdout();
    const bool removedL = stageL.destroyIdRecord({5, 5});
    std::string outL = testing::internal::GetCapturedStdout();
    kxutl::QuarlenInformation::debugLevelS = previousLevelL;
    EXPECT_TRUE(removedL);
    if (std::filesystem::exists("stage.txt")) outL += "stage.txt";
    return outL;
  };
  const std::string timedL = removalOutput(AlgL1v, 1000, 2);
  for (const char* stepL : {"Delete Step 1) ", "Delete Step 2) ", "Delete Step 3) ",
                            "Delete Step 4) ", "Delete Step 5) "}) {
    EXPECT_NE(timedL.find(stepL), std::string::npos) << timedL;
  }
  EXPECT_NE(timedL.find("stage.txt"), std::string::npos);
  EXPECT_EQ(removalOutput(AlgL1v, 999, 2), "");
  EXPECT_EQ(removalOutput(AlgL1v, 1000, 1), "");
  EXPECT_EQ(removalOutput(AlgHgm, 1000, 2), "");
  std::filesystem::current_path(previousDirL);
}

TEST_F(StageTest, ResultSortingIsHighestFirstAndCanBeSwitchedOff) {
  struct Probe : TemplateMatcherMultipass_Stage {
    using TemplateMatcherMultipass_Stage::sort;
    using TemplateMatcherMultipass_Stage::TemplateMatcherMultipass_Stage;
  } stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 1);
  std::vector<qrbase::LocalResult> intL{{3, nullptr}, {9, nullptr}, {-1, nullptr}};
  std::vector<qrbase::LocalFloatResult> floatL{{0.5f, nullptr}, {2.5f, nullptr}, {1.0f, nullptr}};
  std::vector<Result> resultsL(3);
  resultsL[0].setScore(1);
  resultsL[1].setScore(7);
  resultsL[2].setScore(4);
  stageL.sort(intL);
  stageL.sort(floatL);
  stageL.sort(resultsL);
  EXPECT_EQ(intL[0].score, 9);
  EXPECT_EQ(intL[2].score, -1);
  EXPECT_EQ(floatL[0].score, 2.5f);
  EXPECT_EQ(floatL[2].score, 0.5f);
  EXPECT_EQ(resultsL[0].score(), 7);
  EXPECT_EQ(resultsL[2].score(), 1);
  stageL.setSortResults(false);
  std::vector<qrbase::LocalResult> keptL{{1, nullptr}, {5, nullptr}};
  stageL.sort(keptL);
  EXPECT_EQ(keptL[0].score, 1);
}

// --- memory manager ------------------------------------------------------------------------------

TEST_F(StageTest, SlotSizeRulesAndTheirMessages) {
  TemplateMatcherMultipass_Stage_MemManager staL(ModalityFace, InstanceFaceFrontal, AlgSta, 10);
  EXPECT_EQ(staL.dataSize(), 4096u);
  EXPECT_KXXCP_MESSAGE(
      staL.add(block(AlgSta, 5000, 1).get(), md(1, 1), sample(1)),
      "The data size of your template is too large. (exp, current) = (4096, 5000)");
  staL.add(block(AlgSta, 4096, 1).get(), md(1, 1), sample(1));
  EXPECT_EQ(staL.dataSize(), 4096u);

  TemplateMatcherMultipass_Stage_MemManager hgmL(ModalityFace, InstanceFaceFrontal, AlgHgm, 10);
  EXPECT_EQ(hgmL.dataSize(), 0u);
  {
    std::vector<std::pair<kxntc::Level, std::string>> notesL;
    const kxntc::Sink previousL = kxntc::setSink(
        [&](kxntc::Level levelA, const std::string& textA) { notesL.emplace_back(levelA, textA); });
    EXPECT_KXXCP_MESSAGE(hgmL.add(nullptr, md(1, 1), sample(1)),
                         "add - invalid input parameter(s)");
    kxntc::setSink(previousL);
    ASSERT_EQ(notesL.size(), 1u);
    EXPECT_EQ(notesL[0].first, kxntc::Level::warning);
    EXPECT_EQ(notesL[0].second, "add input pointer is null > templateBlockPtrA ( hgm )");
  }
  EXPECT_KXXCP_MESSAGE(hgmL.add(block(AlgHgm, 8, 1).get(), nullptr, sample(1)),
                       "add - invalid input parameter(s)");
  EXPECT_KXXCP_MESSAGE(hgmL.add(block(AlgHgm, 0, 1).get(), md(1, 1), sample(1)),
                       "template has no gallery data ( hgm )");
  EXPECT_EQ(hgmL.dataSize(), 0u);  // failed adds fix nothing
  hgmL.add(block(AlgHgm, 33, 1).get(), md(1, 1), sample(1));
  EXPECT_EQ(hgmL.dataSize(), 48u);
  hgmL.add(block(AlgHgm, 48, 2).get(), md(2, 2), sample(2));
  EXPECT_KXXCP_MESSAGE(hgmL.add(block(AlgHgm, 49, 3).get(), md(3, 3), sample(3)),
                       "The data size of your template is too large. (exp, current) = (48, 49)");
  EXPECT_KXXCP_MESSAGE(hgmL.add(block(AlgHgm, 16, 3, true).get(), md(3, 3), sample(3)),
                       "Symmetric flag inconsistent for hgm:\t\"1\" (expected:0).");
  EXPECT_KXXCP_MESSAGE(hgmL.add(block(AlgSta, 16, 3).get(), md(3, 3), sample(3)),
                       "TemplateBlockImp has not the configured algorithm");
  EXPECT_EQ(hgmL.numberOfTemplates(), 2u);
  // The slot holds the bytes, zero-padded to the slot size, 16-byte aligned.
  const unsigned char* slotL = hgmL.galleryVec()[0].data;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(slotL) % 16, 0u);
  EXPECT_EQ(std::memcmp(slotL, block(AlgHgm, 33, 1)->galleryDataPtr(), 33), 0);
  EXPECT_EQ(std::count(slotL + 33, slotL + 48, 0), 15);
}

TEST_F(StageTest, FingerSlotsHoldTheLongestTemplateTheGalleryKeeps) {
  // Minutiae templates vary in length: the slot is 12 + 6 n bytes (padded to 16) for the gallery's
  // trimming count n of l2f, else for the format's 255 minutiae.
  const auto slotOf = [](Algorithm algorithmA, const std::string& iniA) {
    quarlen_test::RegistryConfig configL(4, 1044, 16, 2, iniA);
    return TemplateMatcherMultipass_Stage_MemManager(ModalityFingerprint, InstanceFingerRightIndex,
                                                     algorithmA, 10)
        .dataSize();
  };
  EXPECT_EQ(slotOf(AlgL2f, ""), 1552u);
  EXPECT_EQ(slotOf(AlgL2f, "L2fMaxMinutiaCountForGallery = 50\n"), 320u);
  EXPECT_EQ(slotOf(AlgL2m, "L2fMaxMinutiaCountForGallery = 50\n"), 1552u);
  EXPECT_EQ(slotOf(AlgL2f, "L2fMaxMinutiaCountForGallery = 0\n"), 1552u);
}

// The add of stored gallery bytes and the add of a block are one rule: the same sequence through
// both gives the same messages (the golden list) and the same stage, byte for byte, with the
// slots of the second written by streaming stores.
TEST_F(StageTest, AddingStoredGalleryBytesFollowsTheRulesOfAddingABlock) {
  struct Case {
    Algorithm algorithm;
    unsigned size;
    bool symmetric;
    const char* message;  // empty: added
  };
  const std::vector<Case> casesL{
      {AlgSta, 16, false, "TemplateBlockImp has not the configured algorithm"},
      {AlgHgm, 0, false, "template has no gallery data ( hgm )"},
      {AlgHgm, 33, false, ""},
      {AlgHgm, 49, false, "The data size of your template is too large. (exp, current) = (48, 49)"},
      {AlgHgm, 16, true, "Symmetric flag inconsistent for hgm:\t\"1\" (expected:0)."},
      {AlgHgm, 48, false, ""},
      {AlgHgm, 20, false, ""},
      {AlgHgm, 20, false, "Cannot add to gallery, because number of reserved templates reached."},
  };
  TemplateMatcherMultipass_Stage_MemManager byBlockL(ModalityFace, InstanceFaceFrontal, AlgHgm, 3);
  TemplateMatcherMultipass_Stage_MemManager byBytesL(ModalityFace, InstanceFaceFrontal, AlgHgm, 3);
  auto messageOf = [](const std::function<void()>& addA) -> std::string {
    try {
      addA();
      return "";
    } catch (const kxxcp::Exception& eA) {
      return eA.getMessage();
    }
  };
  byBytesL.setStreamingAdds(true);
  for (std::size_t i = 0; i < casesL.size(); ++i) {
    const Case& c = casesL[i];
    const auto blockL = block(c.algorithm, c.size, static_cast<unsigned>(i), c.symmetric);
    EXPECT_EQ(messageOf([&] { byBlockL.add(blockL.get(), md(i, i), sample(i)); }), c.message) << i;
    EXPECT_EQ(messageOf([&] {
                byBytesL.addGalleryData(c.algorithm, blockL->galleryDataPtr(), c.size, c.symmetric,
                                        md(i, i), sample(i));
              }),
              c.message)
        << i;
  }
  byBytesL.setStreamingAdds(false);
  const unsigned char bytesL[16] = {1};
  EXPECT_EQ(
      messageOf([&] { byBytesL.addGalleryData(AlgHgm, bytesL, 16, false, nullptr, sample(9)); }),
      "add - invalid input parameter(s)");
  EXPECT_EQ(byBytesL.dataSize(), 48u);
  EXPECT_EQ(byBytesL.isSymmetric(), byBlockL.isSymmetric());
  ASSERT_EQ(byBytesL.numberOfTemplates(), 3u);
  ASSERT_EQ(byBlockL.numberOfTemplates(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const GalleryEntry& a = byBlockL.galleryVec()[i];
    const GalleryEntry& b = byBytesL.galleryVec()[i];
    EXPECT_EQ(a.metadata, b.metadata);
    EXPECT_EQ(a.sampleId, b.sampleId);
    EXPECT_EQ(std::memcmp(a.data, b.data, 48), 0) << i;
  }
}

// Memory in use counts the pages of the last array only up to the furthest slot filled.
TEST_F(StageTest, MemoryInUseCountsTheFilledPagesOfTheLastArray) {
  ChunkConfig configL(9600);  // 200 slots of 48 bytes per array
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 1000);
  EXPECT_EQ(stageL.memoryInUse(), 0u);
  auto addL = [&](unsigned nA) { stageL.add(block(AlgHgm, 48, nA).get(), md(nA, nA), sample(nA)); };
  addL(0);
  const std::size_t vectorsL = stageL.memoryInUse() - 4096;  // one page of the first array
  // Room for the arrays that the reserved count can fill (1000 / 200 + 1).
  EXPECT_EQ(stageL.memoryArrays().capacity(), 6u);
  EXPECT_EQ(vectorsL, 1000 * 32 + 1000 * 8 + 6 * 16);
  for (unsigned n = 1; n < 85; ++n) addL(n);
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 4096);  // 85 x 48 = 4080 bytes: one page
  addL(85);
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 8192);
  for (unsigned n = 86; n < 200; ++n) addL(n);
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 9600);  // full: never more than the array
  addL(200);
  ASSERT_EQ(stageL.memoryArrays().size(), 2u);
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 9600 + 4096);  // a full array and one page
  EXPECT_TRUE(stageL.destroyIdRecord({7, 7}));              // the second array goes
  ASSERT_EQ(stageL.memoryArrays().size(), 1u);
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 9600);
  stageL.empty();  // the array stays, written
  EXPECT_EQ(stageL.memoryInUse(), vectorsL + 9600);
  stageL.clear();
  EXPECT_EQ(stageL.memoryInUse(), vectorsL);
}

// Arrays taken and released are reported on standard error from debug levels 6 and 3 on.
TEST_F(StageTest, ArrayChangesAreReportedAtTheirDebugLevels) {
  ChunkConfig configL(48);  // one 48-byte slot per array
  const int previousL = kxutl::QuarlenInformation::debugLevelS;
  auto stderrOf = [&](int levelA, const std::function<void()>& changeA) {
    kxutl::QuarlenInformation::debugLevelS = levelA;
    testing::internal::CaptureStderr();
    changeA();
    kxutl::QuarlenInformation::debugLevelS = previousL;
    return testing::internal::GetCapturedStderr();
  };
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 10);
  auto addL = [&](unsigned nA) { stageL.add(block(AlgHgm, 48, nA).get(), md(nA, nA), sample(nA)); };
  addL(0);
  const std::string createdL = "\ncreate new Memory Array [ ";
  EXPECT_EQ(stderrOf(5, [&] { addL(1); }).find(createdL), std::string::npos);
  EXPECT_NE(stderrOf(6, [&] { addL(2); }).find(createdL + "2 ] \n"), std::string::npos);
  const std::string deletedL = "\ndelete memoryArrayVecM[ ";
  EXPECT_EQ(stderrOf(2, [&] { stageL.destroyIdRecord({0, 0}); }).find(deletedL), std::string::npos);
  EXPECT_NE(stderrOf(3,
                     [&] {
                       stageL.destroyIdRecord({1, 1});
                     })
                .find(deletedL + "1 ]\n"),
            std::string::npos);
  EXPECT_EQ(stageL.memoryArrays().size(), 1u);
}

TEST_F(StageTest, TheReservedCountIsAHardLimit) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgm, 3);
  for (unsigned i = 0; i < 3; ++i) stageL.add(block(AlgHgm, 16, i).get(), md(i, i), sample(i));
  EXPECT_KXXCP_MESSAGE(stageL.add(block(AlgHgm, 16, 3).get(), md(3, 3), sample(3)),
                       "Cannot add to gallery, because number of reserved templates reached.");
  EXPECT_EQ(stageL.numberOfTemplates(), 3u);
  EXPECT_TRUE(stageL.destroyIdRecord({1, 1}));
  stageL.add(block(AlgHgm, 16, 3).get(), md(3, 3), sample(3));  // room again
  EXPECT_EQ(stageL.numberOfTemplates(), 3u);
}

TEST_F(StageTest, ArraysGrowByChunksAndTheLastIsReleasedWhenNotNeeded) {
  ChunkConfig configL(1u << 20);
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgSta, 1000);
  for (unsigned i = 0; i < 256; ++i) stageL.add(block(AlgSta, 4096, i).get(), md(i, i), sample(i));
  ASSERT_EQ(stageL.memoryArrays().size(), 1u);
  EXPECT_EQ(stageL.memoryArrays()[0].capacity, 256u);
  std::vector<const unsigned char*> slotsL;
  for (const GalleryEntry& e : stageL.galleryVec()) slotsL.push_back(e.data);
  stageL.add(block(AlgSta, 4096, 256).get(), md(256, 256), sample(256));
  ASSERT_EQ(stageL.memoryArrays().size(), 2u);
  EXPECT_EQ(stageL.galleryVec()[256].data, stageL.memoryArrays()[1].data);
  stageL.add(block(AlgSta, 4096, 257).get(), md(257, 257), sample(257));
  // Growth moved nothing.
  for (unsigned i = 0; i < 256; ++i) ASSERT_EQ(stageL.galleryVec()[i].data, slotsL[i]);
  EXPECT_TRUE(stageL.destroyIdRecord({3, 3}));
  EXPECT_EQ(stageL.memoryArrays().size(), 2u);  // 257 entries do not fit in one array
  EXPECT_TRUE(stageL.destroyIdRecord({4, 4}));
  EXPECT_EQ(stageL.memoryArrays().size(), 1u);  // 256 do
  EXPECT_EQ(stageL.numberOfTemplates(), 256u);
  // The entries moved into the holes kept their data.
  EXPECT_EQ(stageL.getIdRecordKeyBySampleId(sample(257)), IdRecordKey(257, 257));
  for (const GalleryEntry& e : stageL.galleryVec()) {
    const unsigned seedL = static_cast<unsigned>(e.idRecordKey().personId);
    ASSERT_EQ(std::memcmp(e.data, block(AlgSta, 4096, seedL)->galleryDataPtr(), 4096), 0) << seedL;
  }
  // Growing again takes a fresh second array.
  stageL.add(block(AlgSta, 4096, 900).get(), md(900, 900), sample(900));
  EXPECT_EQ(stageL.memoryArrays().size(), 2u);
  // Emptied, the stage keeps its arrays: refilled, entry 0 is in the same slot again.
  const unsigned char* firstSlotL = stageL.galleryVec()[0].data;
  stageL.empty();
  EXPECT_EQ(stageL.numberOfTemplates(), 0u);
  EXPECT_EQ(stageL.memoryArrays().size(), 2u);
  EXPECT_TRUE(stageL.getGalleryEntriesByPid({900}).empty());
  stageL.add(block(AlgSta, 100, 901).get(), md(901, 901), sample(901));
  EXPECT_EQ(stageL.galleryVec()[0].data, firstSlotL);
  EXPECT_EQ(std::count(firstSlotL + 100, firstSlotL + 4096, 0), 3996);  // no old bytes behind
  stageL.clear();
  EXPECT_TRUE(stageL.memoryArrays().empty());
  EXPECT_EQ(stageL.numberOfTemplates(), 0u);
  EXPECT_EQ(stageL.dataSize(), 4096u);
}

TEST_F(StageTest, RandomRemovalKeepsEveryOtherEntryWhole) {
  ChunkConfig configL(64 * 1000);  // 1000 slots of 64 bytes per array: many arrays
  constexpr unsigned kCount = 50000;
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityFace, InstanceFaceFrontal, AlgHgmFloat,
                                                   kCount);
  for (unsigned i = 0; i < kCount; ++i) {
    stageL.add(block(AlgHgmFloat, 64 - i % 25, i).get(), md(i / 2, i), sample(i));
  }
  ASSERT_EQ(stageL.memoryArrays().size(), 50u);
  std::map<std::uint64_t, const unsigned char*> slotOfEntryL;  // index -> slot, fixed
  for (std::size_t i = 0; i < kCount; ++i) slotOfEntryL[i] = stageL.galleryVec()[i].data;
  std::mt19937 rngL(12);
  std::vector<unsigned> orderL(kCount);
  for (unsigned i = 0; i < kCount; ++i) orderL[i] = i;
  std::shuffle(orderL.begin(), orderL.end(), rngL);
  const std::vector<unsigned> removedL(orderL.begin(), orderL.begin() + 30000);
  for (unsigned t : removedL) ASSERT_TRUE(stageL.destroyIdRecord({t / 2, t}));
  // Person-wise removal of several entries in one call (the last entries among them).
  std::vector<GalleryEntry*> personL = stageL.getGalleryEntriesByPid({orderL[40000] / 2});
  const std::size_t beforeL = stageL.numberOfTemplates();
  stageL.destroyByIndices(personL);
  EXPECT_EQ(stageL.numberOfTemplates(), beforeL - personL.size());
  std::map<std::uint64_t, unsigned> seenL;
  const auto& galleryL = stageL.galleryVec();
  for (std::size_t i = 0; i < galleryL.size(); ++i) {
    const GalleryEntry& e = galleryL[i];
    ASSERT_EQ(e.data, slotOfEntryL[i]) << "slot of entry " << i << " moved";
    const unsigned t = static_cast<unsigned>(e.idRecordKey().transactionId);
    ASSERT_EQ(e.idRecordKey().personId, t / 2);
    ASSERT_EQ(e.sampleId, sample(t));
    ASSERT_EQ(e.metadata, md(t / 2, t));
    const unsigned sizeL = 64 - t % 25;
    ASSERT_EQ(std::memcmp(e.data, block(AlgHgmFloat, sizeL, t)->galleryDataPtr(), sizeL), 0) << t;
    ASSERT_EQ(std::count(e.data + sizeL, e.data + 64, 0), 64 - sizeL) << t;
    ++seenL[t];
  }
  const std::size_t expectedL = kCount - removedL.size() - personL.size();
  EXPECT_EQ(seenL.size(), expectedL);
  for (unsigned t : removedL) ASSERT_EQ(seenL.count(t), 0u);
  // Removing one entry per call releases each array as soon as the others hold every entry.
  EXPECT_EQ(stageL.memoryArrays().size(), (galleryL.size() + 999) / 1000);
}

TEST_F(StageTest, IrisStagesStoreUntransformedCodes) {
  TemplateMatcherMultipass_Stage_MemManager stageL(ModalityIris, InstanceIrisLeft, AlgMvxIris2PiSdk,
                                                   4);
  ASSERT_NE(stageL.irisEngine(), nullptr);
  auto blockL = block(AlgMvxIris2PiSdk, 1200, 5);
  stageL.add(blockL.get(), md(1, 1), sample(1));
  std::vector<unsigned char> expectedL(blockL->galleryDataPtr(), blockL->galleryDataPtr() + 1200);
  kxegm::IrisMatchEngine engineL;
  engineL.init();
  engineL.untransformIrisCode(expectedL.data(), 1200);
  ASSERT_NE(std::memcmp(expectedL.data(), blockL->galleryDataPtr(), 1200), 0);
  EXPECT_EQ(std::memcmp(stageL.galleryVec()[0].data, expectedL.data(), 1200), 0);
  // The block itself is not changed.
  EXPECT_EQ(std::memcmp(blockL->galleryDataPtr(),
                        block(AlgMvxIris2PiSdk, 1200, 5)->galleryDataPtr(), 1200),
            0);
}

}  // namespace
