#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include <qrliris/IrisMatchEngine.h>
#include <quarlen/TemplateBlockIrisDecorator.h>
#include <quarlen/TemplateBlock_Common.h>

#include "support/EngineTesting.h"
#include "support/ExceptionMatchers.h"

namespace qridy {
namespace {

class TemplateBlockIrisDecoratorTest : public ::testing::Test {
 protected:
  std::vector<unsigned char> randomBytes(std::size_t nA) {
    return quarlen_test::randomBytes(rngM, nA);
  }
  static std::vector<unsigned char> galleryOf(const TemplateBlockImp& blockA) {
    return {blockA.galleryDataPtr(), blockA.galleryDataPtr() + blockA.gallerySize()};
  }
  static std::vector<unsigned char> probeOf(const TemplateBlockImp& blockA) {
    return {blockA.probeDataPtr(), blockA.probeDataPtr() + blockA.probeSize()};
  }

  std::mt19937 rngM{3};
};

TEST_F(TemplateBlockIrisDecoratorTest, OnlyIrisBlocksOfTheOldMatcherAreDecorated) {
  TemplateBlock_Common faceL(AlgHgm);
  TemplateBlock_Common daugman2010L(AlgDaugman2010);
  TemplateBlockImp* const blocksL[] = {&faceL, &daugman2010L, nullptr};
  for (TemplateBlockImp* blockL : blocksL) {
    EXPECT_KXXCP_MESSAGE(TemplateBlockIrisDecorator(blockL, false),
                         "TemplateBlockIrisDecorator - Invalid template block to decorate");
  }
}

TEST_F(TemplateBlockIrisDecoratorTest, TransformedCopiesLeaveTheWrappedBlockAlone) {
  TemplateBlock_Common blockL(AlgMvxIris2PiSdk);
  const auto galleryL = randomBytes(256);
  auto probeL = galleryL;
  probeL.insert(probeL.end(), galleryL.begin(), galleryL.end());  // the probe carries it twice
  blockL.setData(probeL.data(), 512, galleryL.data(), 256, false);
  const unsigned char metaL[3] = {1, 2, 3};
  blockL.setMetaData(metaL, 3);

  TemplateBlockIrisDecorator untransformedL(&blockL, false);
  EXPECT_KXXCP_MESSAGE(untransformedL.untransformIrisCode(),
                       "untransformIrisCode called for untransformed data");
  std::unique_ptr<TemplateBlockImp> transformedL(untransformedL.transformIrisCode());
  EXPECT_EQ(galleryOf(blockL), galleryL);
  EXPECT_EQ(probeOf(blockL), probeL);
  EXPECT_EQ(transformedL->algorithm(), AlgMvxIris2PiSdk);
  EXPECT_EQ(transformedL->metaDataSize(), 0u);
  EXPECT_FALSE(transformedL->isSymmetric());

  // The copies are what the iris library's transformation makes of the parts.
  kxegm::IrisMatchEngine irisL;
  irisL.init();
  auto expectedL = galleryL;
  irisL.transformIrisCode(expectedL.data(), 256);
  EXPECT_EQ(galleryOf(*transformedL), expectedL);
  ASSERT_EQ(transformedL->probeSize(), 512u);

  TemplateBlockIrisDecorator transformedDecoratorL(transformedL.get(), true);
  EXPECT_KXXCP_MESSAGE(transformedDecoratorL.transformIrisCode(),
                       "transformIrisCode called for transformed data");
  std::unique_ptr<TemplateBlockImp> backL(transformedDecoratorL.untransformIrisCode());
  EXPECT_EQ(galleryOf(*backL), galleryL);
  EXPECT_EQ(probeOf(*backL), probeL);
}

TEST_F(TemplateBlockIrisDecoratorTest, MissingPartsStayMissing) {
  TemplateBlock_Common blockL(AlgMvxIris2PiSdk);
  const auto galleryL = randomBytes(300);
  blockL.setData(nullptr, 0, galleryL.data(), 300, false);
  TemplateBlockIrisDecorator decoratorL(&blockL, true);
  std::unique_ptr<TemplateBlockImp> outL(decoratorL.untransformIrisCode());
  EXPECT_EQ(outL->probeSize(), 0u);
  EXPECT_EQ(outL->probeDataPtr(), nullptr);
  ASSERT_EQ(outL->gallerySize(), 300u);
  // The 44 bytes after the whole code are copied unchanged.
  EXPECT_TRUE(std::equal(galleryL.begin() + 256, galleryL.end(), outL->galleryDataPtr() + 256));
}

}  // namespace
}  // namespace qridy
