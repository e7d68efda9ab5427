#include <quarlen/TemplateGenerator_Base.h>

#include <gtest/gtest.h>
#include <qrlcore/QuarlenInformation.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/FaceDescriptor.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/TemplateBlock_Common.h>
#include <quarlen/TemplateImp.h>

#include <sstream>

#include "support/DescriptorFactory.h"
#include "support/ExceptionMatchers.h"

namespace qrbase {
namespace {

using qridy::Algorithm;

constexpr auto G = TemplateCreationTypeGallery;
constexpr auto P = TemplateCreationTypeProbe;
constexpr auto GP = TemplateCreationTypeGalleryAndProbe;

// A generator whose map a test can set.
class MapGenerator : public TemplateGenerator_Base {
 public:
  explicit MapGenerator(AlgorithmMap mapA) { algorithmMapM = std::move(mapA); }
};

class TemplateGeneratorBaseTest : public ::testing::Test {
 protected:
  static qridy::TemplateBlockImp* block(Algorithm algorithmA, unsigned char fillA) {
    auto* blockL = qridy::TemplateBlockImp::createTemplateBlock(algorithmA);
    const unsigned char dataL[4] = {fillA, fillA, fillA, fillA};
    blockL->setData(nullptr, 0, dataL, 4, true);
    return blockL;
  }
  static std::string recordBytes(const qridy::IdRecordImp& recordA) {
    std::ostringstream osL(std::ios::binary);
    recordA.write(osL);
    return osL.str();
  }
  void SetUp() override { quarlen_test::fillHeader(descriptorM, qridy::InstanceFaceFrontal); }
  FaceDescriptor descriptorM;
};

TEST_F(TemplateGeneratorBaseTest, CreationTypeIntersectionTable) {
  // Rows a = 0..4, columns b = 0..4; 0 means "no intersection".
  const int expectedL[5][5] = {
      {0, 0, 0, 0, 0}, {0, 1, 0, 1, 0}, {0, 0, 2, 2, 0}, {0, 1, 2, 3, 0}, {0, 0, 0, 0, 0}};
  for (int a = 0; a < 5; ++a) {
    for (int b = 0; b < 5; ++b) {
      auto outL = static_cast<TemplateCreationType>(77);
      const bool foundL = TemplateGenerator_Base::createTemplateCreationTypeIntersection(
          static_cast<TemplateCreationType>(a), static_cast<TemplateCreationType>(b), outL);
      EXPECT_EQ(foundL, expectedL[a][b] != 0) << a << "," << b;
      EXPECT_EQ(static_cast<int>(outL), foundL ? expectedL[a][b] : 77) << a << "," << b;
    }
  }
}

TEST_F(TemplateGeneratorBaseTest, ContainsWithWantedTypeTable) {
  // Rows: stored 0..4; columns: wanted 1..3.
  const bool expectedL[5][3] = {{false, false, false},
                                {true, false, false},
                                {false, true, false},
                                {true, true, true},
                                {false, false, false}};
  for (int stored = 0; stored < 5; ++stored) {
    const AlgorithmMap mapL{{qridy::AlgHgm, static_cast<TemplateCreationType>(stored)}};
    EXPECT_TRUE(TemplateGenerator_Base::algorithmMapContains(mapL, qridy::AlgHgm));
    for (int wanted = 1; wanted <= 3; ++wanted) {
      EXPECT_EQ(TemplateGenerator_Base::algorithmMapContains(
                    mapL, qridy::AlgHgm, static_cast<TemplateCreationType>(wanted)),
                expectedL[stored][wanted - 1])
          << stored << "," << wanted;
    }
    EXPECT_FALSE(TemplateGenerator_Base::algorithmMapContains(mapL, qridy::AlgLfa, G));
  }
}

TEST_F(TemplateGeneratorBaseTest, MapIntersectionDropsAlgorithmsWithoutCommonUse) {
  const AlgorithmMap ownL{{qridy::AlgHgm, GP}, {qridy::AlgLfa, P}, {qridy::AlgSta, GP}};
  const AlgorithmMap requestedL{{qridy::AlgHgm, G}, {qridy::AlgLfa, G}, {qridy::AlgVfa, GP}};
  EXPECT_EQ(TemplateGenerator_Base::createAlgorithmMapIntersection(ownL, requestedL),
            (AlgorithmMap{{qridy::AlgHgm, G}}));
  EXPECT_EQ(TemplateGenerator_Base::createAlgorithmMapIntersection(ownL, ownL), ownL);
  EXPECT_TRUE(TemplateGenerator_Base::createAlgorithmMapIntersection(ownL, AlgorithmMap()).empty());

  const MapGenerator generatorL(ownL);
  EXPECT_TRUE(generatorL.hasEnabled(qridy::ModalityIris, qridy::AlgSta));  // modality ignored
  EXPECT_FALSE(generatorL.hasEnabled(qridy::ModalityFace, qridy::AlgVfa));
  EXPECT_TRUE(TemplateGenerator_Base().algorithmMap().empty());
}

TEST_F(TemplateGeneratorBaseTest, FilesBlocksIntoANewTemplateOfTheDescriptorsSample) {
  qridy::IdRecordImp targetL;
  targetL.setIdRecordKey(qridy::IdRecordKey(1, 2));
  std::vector<qridy::TemplateBlockImp*> blocksL{block(qridy::AlgLfa, 1), nullptr,
                                                block(qridy::AlgHgm, 2)};
  const unsigned char metaL[3] = {9, 8, 7};
  TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, blocksL, descriptorM, metaL, 3);
  EXPECT_TRUE(blocksL.empty());
  EXPECT_EQ(targetL.idRecordKey(), qridy::IdRecordKey(1, 2));  // the target keeps its key
  const qridy::BioRecordImp* bioL =
      targetL.getBioRecord(qridy::ModalityFace, qridy::InstanceFaceFrontal, true);
  ASSERT_EQ(bioL->nTemplates(), 1u);
  const qridy::TemplateImp* templateL = bioL->getTemplateById(descriptorM.sampleId());
  EXPECT_EQ(templateL->numberOfTemplateBlocks(), 2u);
  EXPECT_EQ(templateL->getTemplateBlock(qridy::AlgHgm)->galleryDataPtr()[0], 2);
  ASSERT_EQ(templateL->metaDataSize(), 3u);
  EXPECT_EQ(templateL->metaDataPtr()[2], 7);
}

TEST_F(TemplateGeneratorBaseTest, FailuresAreWrappedAndTheBlocksReleased) {
  qridy::IdRecordImp targetL;
  const std::string beforeL = recordBytes(targetL);
  std::vector<qridy::TemplateBlockImp*> noneL{nullptr};
  EXPECT_KXXCP_MESSAGE(
      TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, noneL, descriptorM, nullptr, 0),
      "Failed to add 'TemplateBlock' to IDRecord. \n Details:All template blocks are null.");
  std::vector<qridy::TemplateBlockImp*> emptyL;
  EXPECT_KXXCP_MESSAGE(
      TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, emptyL, descriptorM, nullptr, 0),
      "Failed to add 'TemplateBlock' to IDRecord. \n Details:All template blocks are null.");
  // Two blocks of one algorithm: the second is refused; both are released (the sanitizer
  // build checks that nothing leaks).
  std::vector<qridy::TemplateBlockImp*> twiceL{block(qridy::AlgHgm, 1), block(qridy::AlgHgm, 2)};
  EXPECT_KXXCP_MESSAGE(
      TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, twiceL, descriptorM, nullptr, 0),
      "Failed to add 'TemplateBlock' to IDRecord. \n Details:Algorithm already in map");
  EXPECT_TRUE(twiceL.empty());
  EXPECT_EQ(recordBytes(targetL), beforeL);

  // A second filing of the same sample and algorithm clashes in the merge.
  std::vector<qridy::TemplateBlockImp*> firstL{block(qridy::AlgHgm, 1)};
  TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, firstL, descriptorM, nullptr, 0);
  std::vector<qridy::TemplateBlockImp*> againL{block(qridy::AlgHgm, 3)};
  const std::string messageL = quarlen_test::thrownMessage([&] {
    TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, againL, descriptorM, nullptr, 0);
  });
  EXPECT_EQ(messageL,
            "Failed to add 'TemplateBlock' to IDRecord. \n Details:The Template with the given id "
            "and templateBlocks of the same algorithm, exist in this BioRecord.");
}

TEST_F(TemplateGeneratorBaseTest, TracesFingerprintBlocksAtLevelNine) {
  qridy::IdRecordImp targetL;
  FaceDescriptor faceL;
  faceL.setInstance(qridy::InstanceFaceFrontal);
  faceL.setQualityValue(0.5f);
  const int savedL = kxutl::QuarlenInformation::debugLevelS;
  kxutl::QuarlenInformation::debugLevelS = 9;
  std::vector<qridy::TemplateBlockImp*> blocksL{block(qridy::AlgL2m, 1), block(qridy::AlgHgm, 1)};
  ::testing::internal::CaptureStdout();
  TemplateGenerator_Base::addGeneratedTemplateBlock(targetL, blocksL, faceL, nullptr, 0);
  const std::string outL = ::testing::internal::GetCapturedStdout();
  kxutl::QuarlenInformation::debugLevelS = savedL;
  EXPECT_EQ(outL, "addGeneratedTemplateBlock : instance faceFrontal, quality 0.5\n");
}

}  // namespace
}  // namespace qrbase
