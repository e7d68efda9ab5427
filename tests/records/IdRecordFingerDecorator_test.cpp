#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <qrlcore/IniFile.h>
#include <qrlfinger/MvxFinger.h>
#include <qrlfinger/SyntheticFinger.h>
#include <quarlen/IdRecordFingerDecorator.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlock_Common.h>
#include <quarlen/TemplateKey.h>

#include "support/EngineTesting.h"
#include "support/ExceptionMatchers.h"

namespace qridy {
namespace {

constexpr KXuint128 kFirst{0, 1}, kSecond{0, 2};

// Slots: l2v thumb, index (16 bytes); l1v index, middle, thumb (16 bytes); l1b index, middle
// (8 bytes); fva as l1v.
constexpr const char* kDefinitions =
    "[MATCHING_DECORATOR_DEFINITION]\n"
    "l2v = fingerRightThumb,fingerRightIndex\n"
    "l1v = fingerRightIndex,fingerRightMiddle,fingerRightThumb\n"
    "l1b = fingerRightIndex,fingerRightMiddle\n"
    "[MATCHING_DECORATOR_SIZE]\n"
    "l2v = 16\n"
    "l1v = 4, 16\n"
    "l1b = 8\n";

class IdRecordFingerDecoratorTest : public quarlen_test::EngineConfigTest {
 protected:
  void TearDown() override {
    IdRecordFingerDecorator::forgetCachedDefinitions();
    EngineConfigTest::TearDown();
  }
  void useSections(const std::string& sectionsA) {
    useConfig(sectionsA);
    IdRecordFingerDecorator::forgetCachedDefinitions();
  }
  // A block whose gallery part is sizeA bytes of fillA.
  static void addBlock(IdRecordImp& recordA, Instance fingerA, Algorithm algorithmA, unsigned sizeA,
                       unsigned char fillA, KXuint128 sampleA = kFirst) {
    std::vector<unsigned char> galleryL(sizeA, fillA);
    auto* blockL = new TemplateBlock_Common(algorithmA);
    blockL->setData(nullptr, 0, galleryL.data(), sizeA, false);
    recordA.addTemplateBlock(blockL, ModalityFingerprint, fingerA, sampleA);
  }
  // An l1b block whose classifier value (float at offset 1) is valueA.
  static void addClassifier(IdRecordImp& recordA, Instance fingerA, float valueA) {
    std::vector<unsigned char> galleryL(8, 0);
    std::memcpy(galleryL.data() + 1, &valueA, 4);
    auto* blockL = new TemplateBlock_Common(AlgL1b);
    blockL->setData(nullptr, 0, galleryL.data(), 8, false);
    recordA.addTemplateBlock(blockL, ModalityFingerprint, fingerA, kFirst);
  }
  static std::vector<unsigned char> galleryOf(const TemplateBlockImp& blockA) {
    return {blockA.galleryDataPtr(), blockA.galleryDataPtr() + blockA.gallerySize()};
  }
  struct Assembled {
    std::uint16_t mask = 0;
    std::vector<unsigned char> blob;
    const TemplateBlockImp* last = nullptr;
  };
  static Assembled assemble(const IdRecordImp& recordA, Algorithm algorithmA) {
    Assembled outL;
    unsigned char* blobL = nullptr;
    std::uint32_t sizeL = 0;
    IdRecordFingerDecorator::createAssenbliedTemplateBlobs(
        &recordA, IdRecordFingerDecorator::definition(algorithmA), algorithmA, outL.mask, blobL,
        sizeL, outL.last);
    outL.blob.assign(blobL, blobL + sizeL);
    delete[] blobL;
    return outL;
  }
};

TEST_F(IdRecordFingerDecoratorTest, DefinitionsNameFingersOnly) {
  useSections(std::string(kDefinitions) + "l2m = fingerRightIndex\n");
  EXPECT_EQ(IdRecordFingerDecorator::definition(AlgL1v),
            (std::vector<Instance>{InstanceFingerRightIndex, InstanceFingerRightMiddle,
                                   InstanceFingerRightThumb}));
  EXPECT_TRUE(IdRecordFingerDecorator::definition(AlgL2m).empty());  // not a decorated algorithm
  EXPECT_EQ(IdRecordFingerDecorator::slotSize(AlgL1v), 16u);
  EXPECT_EQ(IdRecordFingerDecorator::blobSize(AlgL1v), 48u);
  EXPECT_EQ(IdRecordFingerDecorator::blobSize(AlgL1b), 16u);
  // Kept for the life of the process (until forgotten).
  useConfig("");
  EXPECT_EQ(IdRecordFingerDecorator::blobSize(AlgL1v), 48u);
  IdRecordFingerDecorator::forgetCachedDefinitions();
  EXPECT_EQ(IdRecordFingerDecorator::blobSize(AlgL1v), 0u);

  useSections("[MATCHING_DECORATOR_DEFINITION]\nl2v = fingerRightIndex,faceFrontal\n");
  std::vector<Instance> instancesL;
  EXPECT_KXXCP_MESSAGE(
      readMatchingDecoratorDefinition("MATCHING_DECORATOR_DEFINITION", AlgL2v, instancesL),
      "unsupported instance (faceFrontal) in block [MATCHING_DECORATOR_DEFINITION] at key l2v.");
  EXPECT_EQ(instancesL, std::vector<Instance>{InstanceFingerRightIndex});
  useSections("[MATCHING_DECORATOR_DEFINITION]\nl2v = fingerUnknown\n");
  EXPECT_KXXCP_PREFIX(IdRecordFingerDecorator::definition(AlgL2v), "unsupported instance (");
}

TEST_F(IdRecordFingerDecoratorTest, AbsentFingersLeaveTheirSlotsEmpty) {
  useSections(kDefinitions);
  IdRecordImp recordL;
  addBlock(recordL, InstanceFingerRightIndex, AlgL2v, 16, 0xAB);
  addBlock(recordL, InstanceFingerRightIndex, AlgL2v, 15, 0xCD, kSecond);  // not the first sample
  const Assembled l2vL = assemble(recordL, AlgL2v);
  EXPECT_EQ(l2vL.mask, 0x0002);
  std::vector<unsigned char> expectedL(16, 0);
  expectedL.resize(32, 0xAB);
  EXPECT_EQ(l2vL.blob, expectedL);
  ASSERT_NE(l2vL.last, nullptr);
  EXPECT_EQ(l2vL.last->gallerySize(), 16u);
  EXPECT_EQ(assemble(IdRecordImp(), AlgL2v).last, nullptr);

  addBlock(recordL, InstanceFingerRightThumb, AlgL2v, 15, 0x01);
  EXPECT_KXXCP_MESSAGE(assemble(recordL, AlgL2v),
                       "The data size of the given template (l2v) is invalid. (exp, current) = "
                       "(16, 15)");
}

TEST_F(IdRecordFingerDecoratorTest, LowClassifierConfidenceClearsVectorSlotsButNotThumbs) {
  useSections(std::string(kDefinitions) +
              "[MATCHING_DECORATOR_DEFINITION]\nuseL1bClassifierAsMissingMask = true\n"
              "L1bClassifierAsMissingMaskConfidence = 0.5\n");
  IdRecordImp recordL;
  addBlock(recordL, InstanceFingerRightIndex, AlgL1v, 16, 1);
  addBlock(recordL, InstanceFingerRightMiddle, AlgL1v, 16, 2);
  addBlock(recordL, InstanceFingerRightThumb, AlgL1v, 16, 3);
  addClassifier(recordL, InstanceFingerRightIndex, 0.2f);   // below: cleared
  addClassifier(recordL, InstanceFingerRightMiddle, 0.0f);  // zero is a confidence: cleared
  addClassifier(recordL, InstanceFingerRightThumb, 0.0f);   // a thumb: kept
  const Assembled l1vL = assemble(recordL, AlgL1v);
  EXPECT_EQ(l1vL.mask, 0x0004);
  EXPECT_EQ(l1vL.blob[0], 0);
  EXPECT_EQ(l1vL.blob[15], 0);
  EXPECT_EQ(l1vL.blob[16], 0);
  EXPECT_EQ(l1vL.blob[32], 3);
  // A negative value, or exactly the threshold, keeps the slot.
  for (float valueL : {-1.0f, 0.5f}) {
    IdRecordImp keptL;
    addBlock(keptL, InstanceFingerRightIndex, AlgL1v, 16, 1);
    addClassifier(keptL, InstanceFingerRightIndex, valueL);
    EXPECT_EQ(assemble(keptL, AlgL1v).mask, 0x0001) << valueL;
  }

  useSections(kDefinitions);  // the rule off
  EXPECT_EQ(assemble(recordL, AlgL1v).mask, 0x0007);
}

TEST_F(IdRecordFingerDecoratorTest, DecoratedBlocksFollowTheirLayouts) {
  useSections(std::string(kDefinitions) + "fva = fingerRightIndex\n");
  IdRecordImp recordL;
  addBlock(recordL, InstanceFingerRightIndex, AlgL2v, 16, 0x21);
  addBlock(recordL, InstanceFingerRightIndex, AlgL1v, 16, 0x11);
  addBlock(recordL, InstanceFingerRightThumb, AlgL1v, 16, 0x13);
  addBlock(recordL, InstanceFingerRightIndex, AlgL1b, 8, 0xB1);
  addBlock(recordL, InstanceFingerRightMiddle, AlgL1b, 8, 0xB2);
  const unsigned char metaL[4] = {9, 8, 7, 6};
  const_cast<TemplateBlockImp*>(assemble(recordL, AlgL1b).last)->setMetaData(metaL, 4);

  std::unique_ptr<TemplateBlockImp> l2vL(
      IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, AlgL2v));
  ASSERT_NE(l2vL, nullptr);
  EXPECT_EQ(l2vL->algorithm(), AlgL2v);
  EXPECT_TRUE(l2vL->isSymmetric());
  EXPECT_EQ(l2vL->probeDataPtr(), l2vL->galleryDataPtr());
  std::vector<unsigned char> expectedL(48, 0);
  expectedL[0] = 0x02;
  std::fill(expectedL.begin() + 32, expectedL.end(), 0x21);
  EXPECT_EQ(galleryOf(*l2vL), expectedL);

  // l1v: mask, l1v blob (48) at 2, pad to 64, the l1b blob laid out by the l1v definition (16
  // bytes: index, middle), total 80.
  std::unique_ptr<TemplateBlockImp> l1vL(
      IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, AlgL1v));
  ASSERT_NE(l1vL, nullptr);
  expectedL.assign(80, 0);
  expectedL[0] = 0x05;
  std::fill(expectedL.begin() + 2, expectedL.begin() + 18, 0x11);
  std::fill(expectedL.begin() + 34, expectedL.begin() + 50, 0x13);
  std::fill(expectedL.begin() + 64, expectedL.begin() + 72, 0xB1);
  std::fill(expectedL.begin() + 72, expectedL.begin() + 80, 0xB2);
  EXPECT_EQ(galleryOf(*l1vL), expectedL);
  EXPECT_EQ(l1vL->metaDataSize(), 4u);  // from the last block copied, the middle finger's l1b

  // fva: as l1v, then the l2v mask right after the l1b blob (80) and the l2v blob 16 bytes
  // later; 80 + 16 + 32 = 128.
  std::unique_ptr<TemplateBlockImp> fvaL(
      IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, AlgFva));
  ASSERT_NE(fvaL, nullptr);
  expectedL.resize(128, 0);
  expectedL[80] = 0x02;
  std::fill(expectedL.begin() + 112, expectedL.end(), 0x21);
  EXPECT_EQ(galleryOf(*fvaL), expectedL);
  EXPECT_EQ(fvaL->gallerySize() % 16, 0u);

  EXPECT_EQ(IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, AlgL2f), nullptr);
  EXPECT_EQ(IdRecordFingerDecorator::createDecoratedTemplateBlock(&recordL, AlgL1b), nullptr);
  EXPECT_EQ(IdRecordFingerDecorator::createDecoratedTemplateBlock(nullptr, AlgL2v), nullptr);
  IdRecordImp otherFingersL;
  addBlock(otherFingersL, InstanceFingerLeftIndex, AlgL2v, 16, 1);
  EXPECT_EQ(IdRecordFingerDecorator::createDecoratedTemplateBlock(&otherFingersL, AlgL2v), nullptr);
}

TEST_F(IdRecordFingerDecoratorTest, DecoratedBlocksRoundTripAndScoreTheSame) {
  useSections(std::string(kDefinitions) +
              "[TEMPLATE_MATCHING_MULTIPASS]\n"
              "fvaImprovedMatching = true\n");
  std::mt19937 rngL(4);
  auto randomRecord = [&](std::uint64_t personA) {
    IdRecordImp recordL;
    recordL.setIdRecordKey({personA, 1});
    for (Instance fingerL :
         {InstanceFingerRightThumb, InstanceFingerRightIndex, InstanceFingerRightMiddle}) {
      for (auto [algorithmL, sizeL] : {std::pair{AlgL2v, 16u}, {AlgL1v, 16u}, {AlgL1b, 8u}}) {
        const auto bytesL = quarlen_test::randomBytes(rngL, sizeL);
        auto* blockL = new TemplateBlock_Common(algorithmL);
        blockL->setData(nullptr, 0, bytesL.data(), sizeL, false);
        recordL.addTemplateBlock(blockL, ModalityFingerprint, fingerL, kFirst);
      }
    }
    return recordL;
  };
  const IdRecordImp probeRecordL = randomRecord(1), galleryRecordL = randomRecord(2);
  for (Algorithm algorithmL : {AlgL1v, AlgL2v, AlgFva}) {
    std::unique_ptr<TemplateBlockImp> probeL(
        IdRecordFingerDecorator::createDecoratedTemplateBlock(&probeRecordL, algorithmL));
    std::unique_ptr<TemplateBlockImp> galleryL(
        IdRecordFingerDecorator::createDecoratedTemplateBlock(&galleryRecordL, algorithmL));
    // Through an identity record's stream and back.
    IdRecordImp carrierL;
    carrierL.addTemplateBlock(galleryL->copy(), ModalityFingerprint, InstanceFingerUnknown, kFirst);
    std::stringstream streamL;
    carrierL.write(streamL);
    IdRecordImp readL;
    readL.read(streamL);
    const TemplateBlockImp* readBlockL = readL.getTemplateBlock(
        TemplateKey(ModalityFingerprint, InstanceFingerUnknown, kFirst), algorithmL, true);
    EXPECT_EQ(galleryOf(*readBlockL), galleryOf(*galleryL));
    EXPECT_TRUE(readBlockL->isSymmetric());

    std::unique_ptr<StageMatchEngine_Base> engineL(
        StageMatchEngine_Base::createStageEngine(algorithmL));
    auto score = [&](const TemplateBlockImp& gA) {
      unsigned probeSizeL = 0, gallerySizeL = 0;
      const unsigned char* pL = engineL->extractRawData(probeL.get(), probeSizeL, true);
      const unsigned char* gL = engineL->extractRawData(&gA, gallerySizeL, false);
      return engineL->verify(pL, probeSizeL, gL, gallerySizeL);
    };
    EXPECT_EQ(score(*readBlockL), score(*galleryL)) << algorithmL;
    EXPECT_NE(score(*probeL), 0.0f) << algorithmL;
  }
}

TEST_F(IdRecordFingerDecoratorTest, TrimsTheL2fTemplatesOfACopy) {
  qrfpt::SyntheticFingerGenerator generatorL(6);
  IdRecordImp recordL;
  const auto indexL = generatorL.impressionBytes(1, 1, {});
  const auto middleL = generatorL.impressionBytes(2, 1, {});
  for (auto [fingerL, bytesL] :
       {std::pair{InstanceFingerRightIndex, &indexL}, {InstanceFingerRightMiddle, &middleL}}) {
    auto* blockL = new TemplateBlock_Common(AlgL2f);
    blockL->setData(bytesL->data(), static_cast<unsigned>(bytesL->size()), bytesL->data(),
                    static_cast<unsigned>(bytesL->size()), false);
    recordL.addTemplateBlock(blockL, ModalityFingerprint, fingerL, kFirst);
  }
  addBlock(recordL, InstanceFingerRightIndex, AlgL2v, 16, 1);
  kxutl::IniFile iniL;
  qrfpt::MvxFinger fingerL(iniL);
  EXPECT_EQ(IdRecordFingerDecorator::trimL2FTemplates(nullptr, &fingerL, 2, 20), nullptr);
  EXPECT_EQ(IdRecordFingerDecorator::trimL2FTemplates(&recordL, nullptr, 2, 20), nullptr);

  std::unique_ptr<IdRecordImp> trimmedL(
      IdRecordFingerDecorator::trimL2FTemplates(&recordL, &fingerL, 2, 20));
  ASSERT_NE(trimmedL.get(), &recordL);
  const TemplateBlockImp* blockL = trimmedL->getTemplateBlock(
      TemplateKey(ModalityFingerprint, InstanceFingerRightMiddle, kFirst), AlgL2f, true);
  EXPECT_EQ(blockL->probeSize(), 0u);
  ASSERT_EQ(blockL->gallerySize(), 12u + 20 * 6);
  EXPECT_EQ(blockL->galleryDataPtr()[2], 20);
  qrfpt::L2FTrimResult expectedL;
  fingerL.trimL2FTemplate(middleL.data(), middleL.size(), expectedL, 20, 2, false);
  EXPECT_EQ(galleryOf(*blockL),
            std::vector<unsigned char>(expectedL.featurePtr(),
                                       expectedL.featurePtr() + expectedL.featureSize()));
  // The original is untouched; other blocks are copied as they are.
  EXPECT_EQ(
      recordL
          .getTemplateBlock(TemplateKey(ModalityFingerprint, InstanceFingerRightMiddle, kFirst),
                            AlgL2f, true)
          ->gallerySize(),
      middleL.size());
  EXPECT_EQ(
      trimmedL
          ->getTemplateBlock(TemplateKey(ModalityFingerprint, InstanceFingerRightIndex, kFirst),
                             AlgL2v, true)
          ->gallerySize(),
      16u);

  IdRecordImp noL2fL;
  addBlock(noL2fL, InstanceFingerRightIndex, AlgL2v, 16, 1);
  EXPECT_EQ(IdRecordFingerDecorator::trimL2FTemplates(&noL2fL, &fingerL, 2, 20), &noL2fL);

  addBlock(noL2fL, InstanceFingerRightIndex, AlgL2f, 11, 1);  // no l2f template
  EXPECT_KXXCP_MESSAGE(IdRecordFingerDecorator::trimL2FTemplates(&noL2fL, &fingerL, 2, 20),
                       "Failed to trim an L2F tempalte in the IdRecord");
}

TEST_F(IdRecordFingerDecoratorTest, GathersBlocksOfFirstOrEverySample) {
  IdRecordImp recordL;
  addBlock(recordL, InstanceFingerRightIndex, AlgL2f, 20, 1, kFirst);
  addBlock(recordL, InstanceFingerRightIndex, AlgL2f, 21, 2, kSecond);
  addBlock(recordL, InstanceFingerRightIndex, AlgL2m, 22, 3, kSecond);
  addBlock(recordL, InstanceFingerLeftIndex, AlgL2f, 23, 4, kFirst);
  const BioMetricTriple rightL{ModalityFingerprint, InstanceFingerRightIndex, AlgL2f};
  const BioMetricTriple leftL{ModalityFingerprint, InstanceFingerLeftIndex, AlgL2f};
  const BioMetricTriple l2mL{ModalityFingerprint, InstanceFingerRightIndex, AlgL2m};
  const BioMetricTriple absentL{ModalityFingerprint, InstanceFingerLeftThumb, AlgL2f};
  auto sizes = [](const std::vector<IdRecordFingerDecorator::GatheredBlock>& blocksA) {
    std::vector<unsigned> sizesL;
    for (const auto& b : blocksA) sizesL.push_back(b.second->gallerySize());
    return sizesL;
  };
  const auto firstL =
      IdRecordFingerDecorator::gatherFirstSampleBlocks(recordL, {rightL, absentL, leftL, l2mL});
  EXPECT_EQ(sizes(firstL), (std::vector<unsigned>{20, 23}));  // l2m is in the second sample only
  EXPECT_EQ(firstL[1].first, leftL);
  const auto allL =
      IdRecordFingerDecorator::gatherAllSampleBlocks(recordL, {rightL, absentL, leftL, l2mL});
  EXPECT_EQ(sizes(allL), (std::vector<unsigned>{20, 21, 23, 22}));
  EXPECT_EQ(allL[3].first, l2mL);
}

}  // namespace
}  // namespace qridy
