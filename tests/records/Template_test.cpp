#include <quarlen/TemplateImp.h>

#include <memory>
#include <random>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <quarlen/TemplateBlock_Common.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/TemplateMetaDataFinger.h>

#include "support/RecordBytes.h"
#include "support/RecordFactory.h"

namespace qridy {
namespace {

using quarlen_test::hex;
using quarlen_test::readFromString;
using quarlen_test::thrownMessage;
using quarlen_test::writeToString;

const unsigned char kGallery[] = {1, 2, 3};
const unsigned char kProbe[] = {10, 20, 30, 40};

class TemplateTest : public ::testing::Test {
 protected:
  static TemplateBlockImp* block(Algorithm algorithmA, bool withProbeA, bool symmetricA = false) {
    TemplateBlockImp* blockL = TemplateBlockImp::createTemplateBlock(algorithmA);
    blockL->setData(withProbeA ? kProbe : nullptr, withProbeA ? 4 : 0, kGallery, 3, symmetricA);
    return blockL;
  }
  static TemplateBlockImp* fingerBlock(Algorithm algorithmA, FingerImpressionType typeA,
                                       float qualityA) {
    TemplateMetaDataFinger metaL;
    metaL.setImpressionType(typeA);
    metaL.setQuality(qualityA);
    const std::string bytesL = writeToString(metaL);
    TemplateBlockImp* blockL = block(algorithmA, false);
    blockL->setMetaData(reinterpret_cast<const unsigned char*>(bytesL.data()), 22);
    return blockL;
  }
  // Sample id (high 2, low 1), metadata "abc", blocks hgm (gallery only) and l2f (both parts).
  static std::string twoBlockRecord() {
    TemplateImp templateL;
    templateL.setSampleId({2, 1});
    templateL.setMetaData(reinterpret_cast<const unsigned char*>("abc"), 3);
    templateL.addTemplateBlock(block(AlgL2f, true));
    templateL.addTemplateBlock(block(AlgHgm, false));
    return writeToString(templateL);
  }
  static constexpr std::size_t kFirstBlock = 33;  // 28-byte head, 3 metadata bytes, count
  static constexpr std::size_t kSecondBlock = kFirstBlock + 34;
  static std::string readError(const std::string& bytesA) {
    TemplateImp templateL;
    return thrownMessage([&] { readFromString(templateL, bytesA); });
  }
};

TEST_F(TemplateTest, GoldenBytesOfAnEmptyTemplate) {
  TemplateImp templateL;
  templateL.setSampleId({0x0102030405060708ull, 0x1112131415161718ull});
  const std::string recordL = writeToString(templateL);
  EXPECT_EQ(hex(recordL),
            "54 50 05 00 00 00 00 00 18 17 16 15 14 13 12 11 08 07 06 05 04 03 02 01 "
            "00 00 00 00 00 00");
  EXPECT_FALSE(templateL.isGalleryTemplate());
  EXPECT_FALSE(templateL.isProbeTemplate());
  TemplateImp readL;
  EXPECT_EQ(readFromString(readL, recordL), 30u);
  EXPECT_EQ(readL.sampleId(), templateL.sampleId());
  EXPECT_EQ(readL.numberOfTemplateBlocks(), 0u);
}

TEST_F(TemplateTest, BlocksAreWrittenInAlgorithmOrderUnderTheirChecksumSum) {
  const std::string recordL = twoBlockRecord();
  ASSERT_EQ(recordL.size(), kSecondBlock + 38);
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 4), 6u + 6u + 100u);  // metadata does not count
  EXPECT_EQ(recordL.substr(28, 3), "abc");
  EXPECT_EQ(quarlen_test::fixed16At(recordL, 31), 2u);
  EXPECT_EQ(quarlen_test::fixed16At(recordL, kFirstBlock + 4), AlgHgm);
  EXPECT_EQ(quarlen_test::fixed16At(recordL, kSecondBlock + 4), AlgL2f);
  TemplateImp readL;
  EXPECT_EQ(readFromString(readL, recordL), recordL.size());
  EXPECT_EQ(readL.sampleId(), (KXuint128{2, 1}));
  ASSERT_EQ(readL.metaDataSize(), 3u);
  EXPECT_EQ(readL.checksum(), 112u);
  EXPECT_EQ(writeToString(readL), recordL);
}

TEST_F(TemplateTest, GalleryAndProbeTemplates) {
  TemplateImp templateL;
  templateL.addTemplateBlock(block(AlgHgm, false));
  templateL.addTemplateBlock(block(AlgHgmFloat, false, true));
  EXPECT_TRUE(templateL.isGalleryTemplate());
  EXPECT_FALSE(templateL.isProbeTemplate());
  templateL.getTemplateBlock(AlgHgm)->setData(kProbe, 4, kGallery, 3, false);
  EXPECT_TRUE(templateL.isProbeTemplate());
  templateL.getTemplateBlock(AlgHgmFloat)->removeGalleryTemplatePart();
  EXPECT_FALSE(templateL.isGalleryTemplate());
  EXPECT_FALSE(templateL.isProbeTemplate());  // symmetric without gallery: no probe either
}

TEST_F(TemplateTest, QualityAndImpressionTypePreferTheirAlgorithms) {
  TemplateImp templateL;
  EXPECT_EQ(templateL.getQuality(), 0.0f);
  EXPECT_EQ(templateL.getImpressionType(), ImpressionLatentImpression);
  templateL.addTemplateBlock(block(AlgLfa, false));
  EXPECT_EQ(templateL.getQuality(), 0.0f);
  templateL.addTemplateBlock(fingerBlock(AlgL2fi, ImpressionSwipe, 9.0f));
  templateL.addTemplateBlock(fingerBlock(AlgL2f360, ImpressionLiveRolled, 8.0f));
  // None of the preferred algorithms: the lowest algorithm (lfa) answers.
  EXPECT_EQ(templateL.getQuality(), 0.0f);
  templateL.deleteTemplateBlock(AlgLfa);
  EXPECT_EQ(templateL.getQuality(), 8.0f);
  EXPECT_EQ(templateL.getImpressionType(), ImpressionLatentImpression);
  templateL.addTemplateBlock(fingerBlock(AlgL1v, ImpressionLatentLift, 1.0f));
  EXPECT_EQ(templateL.getImpressionType(), ImpressionLatentLift);
  templateL.addTemplateBlock(fingerBlock(AlgL2f, ImpressionNonlivePlain, 2.0f));
  EXPECT_EQ(templateL.getImpressionType(), ImpressionNonlivePlain);
  templateL.addTemplateBlock(fingerBlock(AlgL2m, ImpressionLivePlain, 3.0f));
  templateL.addTemplateBlock(block(AlgHgm, false));
  EXPECT_EQ(templateL.getQuality(), 3.0f);  // l2m before l2f and hgm
  EXPECT_EQ(templateL.getImpressionType(), ImpressionLivePlain);
}

TEST_F(TemplateTest, AddTemplateBlockRefusals) {
  TemplateImp templateL;
  EXPECT_EQ(thrownMessage([&] { templateL.addTemplateBlock(nullptr); }), "Null pointer");
  std::unique_ptr<TemplateBlockImp> unknownL(block(AlgUnknown, false));
  EXPECT_EQ(thrownMessage([&] { templateL.addTemplateBlock(unknownL.get()); }), "unknownAlgorithm");
  TemplateBlockImp* firstL = block(AlgHgm, false);
  templateL.addTemplateBlock(firstL);
  std::unique_ptr<TemplateBlockImp> secondL(block(AlgHgm, true));
  EXPECT_EQ(thrownMessage([&] { templateL.addTemplateBlock(secondL.get()); }),
            "Algorithm already in map");
  EXPECT_EQ(templateL.getTemplateBlock(AlgHgm), firstL);
  EXPECT_EQ(templateL.numberOfTemplateBlocks(), 1u);
  EXPECT_TRUE(templateL.checkExistence(AlgHgm));
  EXPECT_FALSE(templateL.checkExistence(AlgL2f));
  // The message leaves its quote open.
  EXPECT_EQ(thrownMessage([&] { templateL.getTemplateBlock(AlgL2f); }),
            "TemplateBlock with algorithm 'l2fnot found in internal map.");
  templateL.deleteTemplateBlock(AlgL2f);
  templateL.deleteTemplateBlock(AlgHgm);
  EXPECT_EQ(templateL.numberOfTemplateBlocks(), 0u);
}

TEST_F(TemplateTest, ReadErrorsOfTheTemplateItself) {
  EXPECT_EQ(readError("XP" + twoBlockRecord().substr(2)),
            "kxxcp caught: Invalid template magic number: 'XP'.");
  std::string recordL = twoBlockRecord();
  recordL[2] = 4;
  EXPECT_EQ(readError(recordL), "kxxcp caught: Invalid template version: '4'.");
  recordL = twoBlockRecord();
  quarlen_test::addToFixed32At(recordL, 4, 1);
  EXPECT_EQ(readError(recordL), "kxxcp caught: Checksum error reading template.");
  EXPECT_EQ(readError(quarlen_test::cutStream(twoBlockRecord(), 30)),
            "kxxcp caught: Unexpected end of stream reading template meta data: '2' of '3' bytes.");
  recordL = twoBlockRecord();
  quarlen_test::setFixed32At(recordL, 24, 0xFFFFFFFFu);
  EXPECT_EQ(readError(recordL),
            "kxxcp caught: Unexpected end of stream reading template meta "
            "data: '77' of '4294967295' bytes.");
}

TEST_F(TemplateTest, BlockErrorsArriveWithOnePrefixPerLevel) {
  const std::string recordL = twoBlockRecord();
  EXPECT_EQ(readError(quarlen_test::flipByte(recordL, kFirstBlock + 16, 1)),
            "kxxcp caught: kxxcp caught: Checksum error reading gallery data.");
  // Two blocks of one algorithm.
  std::string twiceL = recordL;
  quarlen_test::setFixed16At(twiceL, kSecondBlock + 4, AlgHgm);
  EXPECT_EQ(readError(twiceL), "kxxcp caught: Algorithm already in map");
  quarlen_test::setFixed16At(twiceL, kSecondBlock + 4, AlgUnknown);
  EXPECT_EQ(readError(twiceL), "kxxcp caught: unknownAlgorithm");
}

TEST_F(TemplateTest, HostileBlockCountsStopAtTheEndOfTheStream) {
  std::string recordL = twoBlockRecord();
  quarlen_test::setFixed16At(recordL, 31, 0xFFFF);
  TemplateImp templateL;
  EXPECT_EQ(thrownMessage([&] { readFromString(templateL, recordL); }),
            "kxxcp caught: kxxcp caught: Invalid templateBlock magic number: ''.");
  // A failed read keeps what it had read.
  EXPECT_EQ(templateL.numberOfTemplateBlocks(), 2u);
  EXPECT_EQ(templateL.sampleId(), (KXuint128{2, 1}));
}

TEST_F(TemplateTest, CopiesAreDeepAndWrapBlockFailures) {
  TemplateImp sourceL;
  readFromString(sourceL, twoBlockRecord());
  TemplateImp copyL(sourceL);
  EXPECT_EQ(writeToString(copyL), writeToString(sourceL));
  EXPECT_NE(copyL.getTemplateBlock(AlgHgm), sourceL.getTemplateBlock(AlgHgm));
  EXPECT_NE(copyL.metaDataPtr(), sourceL.metaDataPtr());

  // A block whose part disagrees with its checksum cannot be copied.
  std::unique_ptr<TemplateBlockImp> lfaL(block(AlgLfa, false));
  auto* brokenL = new TemplateBlock_Common(AlgUnknown);
  thrownMessage(
      [&] { readFromString(*brokenL, quarlen_test::flipByte(writeToString(*lfaL), 16, 1)); });
  sourceL.addTemplateBlock(brokenL);
  try {
    TemplateImp failedL(sourceL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "kxxcp caught: gallery checksum mismatch.");
    EXPECT_EQ(e.getFunction(), "qridy::TemplateImp::TemplateImp");
  }
  const std::string beforeL = writeToString(copyL);
  EXPECT_EQ(thrownMessage([&] { copyL = sourceL; }), "kxxcp caught: gallery checksum mismatch.");
  EXPECT_EQ(writeToString(copyL), beforeL);
}

TEST_F(TemplateTest, ValidationTextNestsTheBlocks) {
  TemplateImp templateL;
  templateL.setSampleId({0, 42});
  templateL.addTemplateBlock(block(AlgHgm, false));
  std::string textL;
  EXPECT_TRUE(templateL.validate(textL));
  const std::string headL =
      "<Template\n"
      "      sampleIdLow             = \"42\"\n"
      "      sampleIdHigh            = \"0\"\n"
      "      metaDataSize            = \"0\"\n"
      "      checksum                = \"6\"\n"
      "      nTemplateBlocks         = \"1\"\n"
      "      validationSuccessful    = \"true\"    >\n"
      "<TemplateBlock\n";
  EXPECT_THAT(textL, ::testing::StartsWith(headL));
  EXPECT_THAT(textL, ::testing::EndsWith("</TemplateBlock>\n</Template>\n"));
  std::ostringstream infoL;
  templateL.info(infoL);
  EXPECT_EQ(infoL.str(), textL);
  // An empty template validates.
  std::string emptyL;
  EXPECT_TRUE(TemplateImp().validate(emptyL));
}

TEST_F(TemplateTest, ResetAndMetaData) {
  TemplateImp templateL;
  readFromString(templateL, twoBlockRecord());
  templateL.setMetaData(nullptr, 4);
  EXPECT_EQ(templateL.metaDataPtr(), nullptr);
  EXPECT_EQ(templateL.metaDataSize(), 0u);
  templateL.reset();
  EXPECT_EQ(templateL.sampleId(), KXuint128());
  EXPECT_EQ(templateL.numberOfTemplateBlocks(), 0u);
}

TEST_F(TemplateTest, RandomTemplatesSurviveAWriteReadWriteCycle) {
  std::mt19937 rngL(11);
  for (int i = 0; i < 50; ++i) {
    std::unique_ptr<TemplateImp> templateL(quarlen_test::randomTemplate(rngL, ModalityFace));
    const std::string firstL = writeToString(*templateL);
    ASSERT_EQ(quarlen_test::rewritten<TemplateImp>(firstL), firstL) << i;
  }
}

TEST_F(TemplateTest, TemplateKeyTextAndOrder) {
  const TemplateKey keyL(ModalityFingerprint, InstanceFingerRightIndex, {9, 8});
  EXPECT_EQ(keyL.text(), "(2, 102, 8, 9)\n");
  EXPECT_EQ(TemplateKey().text(), "(0, 0, 0, 0)\n");
  EXPECT_EQ(keyL, TemplateKey(ModalityFingerprint, InstanceFingerRightIndex, {9, 8}));
  EXPECT_NE(keyL, TemplateKey(ModalityFingerprint, InstanceFingerRightIndex, {8, 9}));
  EXPECT_LT(TemplateKey(ModalityFace, InstanceFaceFrontal, {5, 0}), keyL);
  EXPECT_LT((KXuint128{0, 9}), (KXuint128{1, 0}));
  EXPECT_LT((KXuint128{1, 0}), (KXuint128{1, 1}));
}

}  // namespace
}  // namespace qridy
