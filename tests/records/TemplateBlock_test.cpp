#include <quarlen/TemplateBlock_Common.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>
#include <quarlen/TemplateMetaDataFace.h>
#include <quarlen/TemplateMetaDataFinger.h>

#include "records/RecordIo.h"
#include "support/RecordBytes.h"

namespace qridy {
namespace {

using quarlen_test::cutStream;
using quarlen_test::fixUpChecksum;
using quarlen_test::flipByte;
using quarlen_test::hex;
using quarlen_test::readFromString;
using quarlen_test::thrownMessage;
using quarlen_test::writeToString;

const unsigned char kGallery[] = {1, 2, 3};
const unsigned char kProbe[] = {10, 20, 30, 40};

class TemplateBlockTest : public ::testing::Test {
 protected:
  // Gallery 01 02 03, no metadata, no probe: the 34-byte record.
  static TemplateBlock_Common galleryOnly() {
    TemplateBlock_Common blockL(AlgHgm);
    blockL.setData(nullptr, 0, kGallery, 3, false);
    return blockL;
  }
  static std::string faceMetaData(float qualityA) {
    TemplateMetaDataFace metaL;
    metaL.setQuality(qualityA);
    return writeToString(metaL);
  }
  static std::string fingerMetaData(FingerImpressionType typeA, float qualityA) {
    TemplateMetaDataFinger metaL;
    metaL.setImpressionType(typeA);
    metaL.setQuality(qualityA);
    return writeToString(metaL);
  }
  static void setMeta(TemplateBlock_Common& blockA, const std::string& metaA) {
    blockA.setMetaData(reinterpret_cast<const unsigned char*>(metaA.data()),
                       static_cast<unsigned int>(metaA.size()));
  }
  // Gallery 3 bytes, metadata 14 bytes, probe 4 bytes.
  static std::string fullRecord() {
    TemplateBlock_Common blockL(AlgHgm);
    blockL.setData(kProbe, 4, kGallery, 3, false);
    setMeta(blockL, faceMetaData(0.5f));
    return writeToString(blockL);
  }
  static std::string readError(const std::string& bytesA) {
    TemplateBlock_Common blockL(AlgUnknown);
    return thrownMessage([&] { readFromString(blockL, bytesA); });
  }
};

TEST_F(TemplateBlockTest, GoldenBytesOfAGalleryOnlyBlock) {
  const TemplateBlock_Common blockL = galleryOnly();
  const std::string recordL = writeToString(blockL);
  EXPECT_EQ(hex(recordL),
            "54 42 03 00 01 00 00 06 00 00 00 03 00 00 00 01 02 03 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(blockL.checkSum(), 6u);
  TemplateBlock_Common readL(AlgUnknown);
  EXPECT_EQ(readFromString(readL, recordL), 34u);
  EXPECT_EQ(readL.algorithm(), AlgHgm);
  EXPECT_EQ(writeToString(readL), recordL);
}

TEST_F(TemplateBlockTest, PartsAreWrittenGalleryMetaDataProbe) {
  const std::string recordL = fullRecord();
  ASSERT_EQ(recordL.size(), 31u + 3 + 14 + 4);
  EXPECT_EQ(recordL.substr(15, 3), std::string("\1\2\3"));
  EXPECT_EQ(recordL.substr(26, 2), "MD");
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 40), 100u);  // probe checksum 10+20+30+40
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 44), 4u);
  TemplateBlock_Common blockL(AlgUnknown);
  readFromString(blockL, recordL);
  EXPECT_EQ(blockL.getQuality(), 0.5f);
  std::string textL;
  EXPECT_TRUE(blockL.validate(textL));
}

TEST_F(TemplateBlockTest, ValidationText) {
  std::string textL = "before\n";
  EXPECT_TRUE(galleryOnly().validate(textL));
  EXPECT_EQ(textL,
            "before\n"
            "<TemplateBlock\n"
            "      algorithm                   = \"hgm (1)\"\n"
            "      version                     = \"3\"\n"
            "      quality                     = \"0\"\n"
            "      isSymmetric                 = \"false\"\n"
            "      gallerySize                 = \"3\"\n"
            "      probeSize                   = \"0\"\n"
            "      metaDataSize                = \"0\"\n"
            "      storedGalleryChecksum       = \"6\"\n"
            "      storedProbeChecksum         = \"0\"\n"
            "      storedMetaDataChecksum      = \"0\"\n"
            "      calculatedGalleryChecksum   = \"6\"\n"
            "      galleryChecksumCheck        = \"true\"\n"
            "      calculatedProbeChecksum     = \"0\"\n"
            "      probeChecksumCheck          = \"true\"\n"
            "      calculatedMetaDataChecksum  = \"0\"\n"
            "      metaDataChecksumCheck       = \"true\"\n"
            "      validationSuccessful        = \"true\"    >\n"
            "</TemplateBlock>\n");
}

TEST_F(TemplateBlockTest, WriteGalleryTBDropsTheProbePart) {
  TemplateBlock_Common blockL(AlgL2f);
  blockL.setData(kProbe, 4, kGallery, 3, false);
  std::ostringstream osL(std::ios::binary);
  blockL.writeGalleryTB(osL);
  const std::string recordL = osL.str();
  ASSERT_EQ(recordL.size(), 34u);
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 26), 0u);
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 30), 0u);
  TemplateBlock_Common readL(AlgUnknown);
  readFromString(readL, recordL);
  EXPECT_EQ(readL.probeSize(), 0u);
  EXPECT_EQ(readL.probeDataPtr(), nullptr);
  std::string textL;
  EXPECT_TRUE(readL.validate(textL));
}

TEST_F(TemplateBlockTest, SymmetricBlockServesTheGalleryPartAsProbe) {
  TemplateBlock_Common blockL(AlgHgmFloat);
  blockL.setData(nullptr, 0, kGallery, 3, true);
  EXPECT_EQ(blockL.probeDataPtr(), blockL.galleryDataPtr());
  EXPECT_EQ(blockL.probeSize(), 3u);
  const std::string recordL = writeToString(blockL);
  EXPECT_EQ(recordL[6], 1);
  // The stored (empty) probe fields are written, not the symmetric view.
  EXPECT_EQ(recordL.size(), 34u);
  EXPECT_EQ(quarlen_test::fixed32At(recordL, 30), 0u);
}

TEST_F(TemplateBlockTest, SymmetricFlagIsASignedByte) {
  std::string recordL = writeToString(galleryOnly());
  TemplateBlock_Common blockL(AlgUnknown);
  recordL[6] = 0x7F;
  readFromString(blockL, recordL);
  EXPECT_TRUE(blockL.isSymmetric());
  recordL[6] = static_cast<char>(0x80);
  readFromString(blockL, recordL);
  EXPECT_FALSE(blockL.isSymmetric());
}

TEST_F(TemplateBlockTest, RecordCutAfterTheAlgorithmReadsAsEmptySymmetricBlock) {
  TemplateBlock_Common blockL(AlgLfa);
  blockL.setData(kProbe, 4, kGallery, 3, false);
  readFromString(blockL, cutStream(fullRecord(), 6));
  EXPECT_TRUE(blockL.isSymmetric());
  EXPECT_EQ(blockL.algorithm(), AlgHgm);
  EXPECT_EQ(blockL.gallerySize(), 0u);
  EXPECT_EQ(blockL.galleryDataPtr(), nullptr);
  EXPECT_EQ(blockL.metaDataSize(), 0u);
  EXPECT_EQ(blockL.probeSize(), 0u);
  EXPECT_EQ(blockL.checkSum(), 0u);
}

TEST_F(TemplateBlockTest, MagicAndVersionErrors) {
  EXPECT_EQ(readError(flipByte(fullRecord(), 1, 0x10)),
            "kxxcp caught: Invalid templateBlock magic number: 'TR'.");
  EXPECT_EQ(readError(""), "kxxcp caught: Invalid templateBlock magic number: ''.");
  std::string recordL = fullRecord();
  recordL[2] = 2;
  EXPECT_EQ(readError(recordL), "kxxcp caught: Invalid templateBlock version: '2'.");
  EXPECT_EQ(readError(cutStream(recordL, 3)), "kxxcp caught: Invalid templateBlock version: '0'.");
}

TEST_F(TemplateBlockTest, EachPartHasItsOwnChecksumError) {
  TemplateBlock_Common blockL(AlgUnknown);
  const std::string galleryBadL = flipByte(fullRecord(), 16, 0x01);
  EXPECT_EQ(thrownMessage([&] { readFromString(blockL, galleryBadL); }),
            "kxxcp caught: Checksum error reading gallery data.");
  // The metadata and probe parts are not read after a gallery error.
  EXPECT_EQ(blockL.metaDataSize(), 0u);
  EXPECT_EQ(blockL.probeSize(), 0u);

  EXPECT_EQ(readError(flipByte(fullRecord(), 30, 0x01)),
            "kxxcp caught: Checksum error reading meta data.");
  EXPECT_EQ(readError(flipByte(fullRecord(), 48, 0x01)),
            "kxxcp caught: Checksum error reading probe data.");
  // A changed checksum field fails the same way as a changed byte.
  EXPECT_EQ(readError(flipByte(fullRecord(), 7, 0x01)),
            "kxxcp caught: Checksum error reading gallery data.");

  // With its checksum fixed up, a changed metadata byte reaches the metadata parser.
  std::string recordL = flipByte(fullRecord(), 26, 0x01);  // "MD" -> "LD"
  fixUpChecksum(recordL, 18, 26, 14);
  readFromString(blockL, recordL);
  EXPECT_EQ(thrownMessage([&] { blockL.getQuality(); }),
            "kxxcp caught: Invalid meta data magic number: 'LD'.");
}

TEST_F(TemplateBlockTest, CutPartsFailWithTheirChecksumMessage) {
  const std::string recordL = fullRecord();
  EXPECT_EQ(readError(cutStream(recordL, 17)),
            "kxxcp caught: Checksum error reading gallery data.");
  EXPECT_EQ(readError(cutStream(recordL, 30)), "kxxcp caught: Checksum error reading meta data.");
  EXPECT_EQ(readError(cutStream(recordL, 50)), "kxxcp caught: Checksum error reading probe data.");
  // Cut between parts: the missing sizes and checksums stay 0 and agree.
  TemplateBlock_Common blockL(AlgUnknown);
  readFromString(blockL, cutStream(recordL, 18));
  EXPECT_EQ(blockL.gallerySize(), 3u);
  EXPECT_EQ(blockL.metaDataSize(), 0u);
}

TEST_F(TemplateBlockTest, HostileSizesFailWithoutHugeAllocations) {
  for (std::uint32_t sizeL : {0xFFFFFFFFu, 0x7FFFFFFFu, 3u << 20, 1u << 20}) {
    std::string recordL = writeToString(galleryOnly());
    quarlen_test::setFixed32At(recordL, 11, sizeL);
    EXPECT_EQ(readError(recordL), "kxxcp caught: Checksum error reading gallery data.") << sizeL;
    // Even when the checksum of the bytes that did arrive matches.
    quarlen_test::setFixed32At(recordL, 7, quarlen_test::byteSum(recordL, 15, recordL.size() - 15));
    EXPECT_EQ(readError(recordL), "kxxcp caught: Checksum error reading gallery data.") << sizeL;
  }
  std::string recordL = fullRecord();
  quarlen_test::setFixed32At(recordL, 44, 0xFFFFFFF0u);
  EXPECT_EQ(readError(recordL), "kxxcp caught: Checksum error reading probe data.");
}

TEST_F(TemplateBlockTest, PartsLargerThanOneChunkReadWhole) {
  std::vector<unsigned char> bigL(300001);
  for (std::size_t i = 0; i < bigL.size(); ++i) bigL[i] = static_cast<unsigned char>(i * 7);
  TemplateBlock_Common blockL(AlgHgm);
  blockL.setData(bigL.data(), 70000, bigL.data(), 300001, false);
  const std::string recordL = writeToString(blockL);
  EXPECT_EQ(quarlen_test::rewritten<TemplateBlock_Common>(recordL, AlgUnknown), recordL);
  EXPECT_EQ(readError(cutStream(recordL, 200000)),
            "kxxcp caught: Checksum error reading gallery data.");
}

TEST_F(TemplateBlockTest, ChecksumIsAWrappingByteSum) {
  EXPECT_EQ(TemplateBlock_Common::calculateChecksum(nullptr, 0), 0u);
  EXPECT_EQ(TemplateBlock_Common(AlgHgm).checkSum(), 0u);
  // 17 MB of 0xFF sum to more than 2^32.
  const std::vector<unsigned char> fullL(17000000, 0xFF);
  EXPECT_EQ(TemplateBlock_Common::calculateChecksum(fullL.data(), 17000000),
            static_cast<std::uint32_t>(17000000ull * 255));
  // The lane sum agrees with the scalar reference at every length and alignment, across the
  // 8192-byte rounds after which it folds its lanes.
  std::mt19937 rngL(7);
  std::vector<unsigned char> dataL(8300);
  for (auto& b : dataL) b = static_cast<unsigned char>(rngL());
  for (std::size_t offL = 0; offL < 16; ++offL) {
    for (std::size_t lenL = 0; lenL + offL <= dataL.size(); lenL += 29) {
      ASSERT_EQ(recordio::byteSum(dataL.data() + offL, lenL),
                recordio::byteSumScalar(dataL.data() + offL, lenL));
    }
  }
  // checkSum of a block wraps too.
  TemplateBlock_Common blockL(AlgHgm);
  blockL.setData(fullL.data(), 17000000, fullL.data(), 17000000, false);
  EXPECT_EQ(blockL.checkSum(), static_cast<std::uint32_t>(2 * 17000000ull * 255));
}

TEST_F(TemplateBlockTest, QualityAndImpressionTypeDependOnTheAlgorithm) {
  const std::string faceL = faceMetaData(0.25f);
  const std::string fingerL = fingerMetaData(ImpressionSwipe, 7.5f);
  TemplateBlock_Common blockL(AlgLfa);
  EXPECT_EQ(blockL.getQuality(), 0.0f);
  setMeta(blockL, faceL);
  EXPECT_EQ(blockL.getQuality(), 0.0f);  // lfa carries no quality
  for (Algorithm a : {AlgHgm, AlgHgmPyrBit, AlgL1Jim}) {
    TemplateBlock_Common faceBlockL(a);
    setMeta(faceBlockL, faceL);
    EXPECT_EQ(faceBlockL.getQuality(), 0.25f) << a;
    EXPECT_EQ(faceBlockL.getImpressionType(), ImpressionLatentImpression);
  }
  for (Algorithm a : {AlgL2f, AlgL2m, AlgL2f360, AlgL2fi}) {
    TemplateBlock_Common fingerBlockL(a);
    EXPECT_EQ(fingerBlockL.getImpressionType(), ImpressionLatentImpression);
    setMeta(fingerBlockL, fingerL);
    EXPECT_EQ(fingerBlockL.getQuality(), 7.5f) << a;
    EXPECT_EQ(fingerBlockL.getImpressionType(), ImpressionSwipe) << a;
  }
  TemplateBlock_Common l1vL(AlgL1v);
  setMeta(l1vL, fingerL);
  EXPECT_EQ(l1vL.getImpressionType(), ImpressionSwipe);
  EXPECT_EQ(l1vL.getQuality(), 0.0f);
  // Face metadata in a fingerprint block does not parse.
  TemplateBlock_Common wrongL(AlgL2f);
  setMeta(wrongL, faceL);
  EXPECT_EQ(thrownMessage([&] { wrongL.getQuality(); }),
            "kxxcp caught: Invalid modality: 'face'.Modality: 'fingerprint' expected.");
}

TEST_F(TemplateBlockTest, ConvertToGalleryAndProbeActsOnIrisBlocksOnly) {
  const unsigned char fiveL[] = {1, 2, 3, 4, 5};
  TemplateBlock_Common irisL(AlgMvxIris2PiSdk);
  irisL.setData(fiveL, 5, nullptr, 0, false);
  irisL.convertToGalleryAndProbe();
  ASSERT_EQ(irisL.gallerySize(), 2u);
  EXPECT_EQ(irisL.galleryDataPtr()[1], 2);
  std::string textL;
  EXPECT_TRUE(irisL.validate(textL));

  irisL.setData(nullptr, 0, fiveL, 3, false);
  irisL.convertToGalleryAndProbe();
  ASSERT_EQ(irisL.probeSize(), 6u);
  EXPECT_EQ(std::vector<unsigned char>(irisL.probeDataPtr(), irisL.probeDataPtr() + 6),
            (std::vector<unsigned char>{1, 2, 3, 1, 2, 3}));
  EXPECT_TRUE(irisL.validate(textL));

  TemplateBlock_Common otherL(AlgDaugman2010);
  otherL.setData(fiveL, 5, nullptr, 0, false);
  otherL.convertToGalleryAndProbe();
  EXPECT_EQ(otherL.gallerySize(), 0u);
}

TEST_F(TemplateBlockTest, CopiesAreDeepAndChecked) {
  TemplateBlock_Common sourceL(AlgHgm);
  readFromString(sourceL, fullRecord());
  std::unique_ptr<TemplateBlockImp> copyL(sourceL.copy());
  EXPECT_NE(copyL->galleryDataPtr(), sourceL.galleryDataPtr());
  EXPECT_EQ(writeToString(*copyL), writeToString(sourceL));

  // A block left behind by a failed read holds a part that disagrees with its checksum.
  TemplateBlock_Common brokenL(AlgUnknown);
  EXPECT_NE(thrownMessage([&] { readFromString(brokenL, flipByte(fullRecord(), 16, 1)); }),
            "<no exception>");
  try {
    TemplateBlock_Common copy2L(brokenL);
    FAIL() << "no exception";
  } catch (const kxxcp::Exception& e) {
    EXPECT_EQ(e.getMessage(), "gallery checksum mismatch.");
    EXPECT_EQ(e.getFunction(), "qridy::TemplateBlock_Common::TemplateBlock_Common");
  }
  TemplateBlock_Common targetL(AlgL2f);
  targetL.setData(kProbe, 4, kGallery, 3, true);
  EXPECT_EQ(thrownMessage([&] { targetL = brokenL; }), "kxxcp caught: gallery checksum mismatch.");
  EXPECT_EQ(targetL.gallerySize(), 0u);
  EXPECT_EQ(targetL.checkSum(), 0u);
  EXPECT_FALSE(targetL.isSymmetric());
}

TEST_F(TemplateBlockTest, SettersReplaceTheirPartsOnly) {
  TemplateBlock_Common blockL(AlgHgm);
  blockL.setData(kProbe, 4, kGallery, 3, false);
  setMeta(blockL, faceMetaData(1.0f));
  // New data may come from the block's own parts.
  blockL.setData(blockL.galleryDataPtr(), blockL.gallerySize(), blockL.probeDataPtr(),
                 blockL.probeSize(), false);
  EXPECT_EQ(blockL.gallerySize(), 4u);
  EXPECT_EQ(blockL.probeDataPtr()[2], 3);
  EXPECT_EQ(blockL.metaDataSize(), 14u);
  blockL.setData(nullptr, 5, kGallery, 0, true);
  EXPECT_EQ(blockL.probeDataPtr(), nullptr);
  EXPECT_EQ(blockL.checkSum(), TemplateBlock_Common::calculateChecksum(blockL.metaDataPtr(), 14));

  blockL.setData(kProbe, 4, kGallery, 3, true);
  blockL.removeGalleryTemplatePart();
  EXPECT_TRUE(blockL.isSymmetric());
  EXPECT_EQ(blockL.checkSum(),
            100u + TemplateBlock_Common::calculateChecksum(blockL.metaDataPtr(), 14));
  blockL.removeMetaDataTemplatePart();
  blockL.removeProbeTemplatePart();
  EXPECT_EQ(blockL.checkSum(), 0u);
  blockL.setData(kProbe, 4, kGallery, 3, true);
  blockL.reset();
  EXPECT_FALSE(blockL.isSymmetric());
  EXPECT_EQ(blockL.algorithm(), AlgHgm);
  EXPECT_EQ(blockL.galleryDataPtr(), nullptr);
}

TEST_F(TemplateBlockTest, RandomizedFeaturesKeepValidChecksums) {
  TemplateBlock_Common blockL(AlgHgm);
  std::vector<unsigned char> bytesL(1000, 0);
  blockL.setData(bytesL.data(), 1000, bytesL.data(), 500, false);
  setMeta(blockL, faceMetaData(0.5f));
  std::srand(3);
  blockL.randomizeFeatures();
  std::string textL;
  EXPECT_TRUE(blockL.validate(textL));
  EXPECT_NE(blockL.checkSum(), TemplateBlock_Common::calculateChecksum(blockL.metaDataPtr(), 14));
  EXPECT_EQ(blockL.getQuality(), 0.5f);  // metadata untouched
  const std::string firstL = writeToString(blockL);
  std::srand(3);
  blockL.randomizeFeatures();
  EXPECT_EQ(writeToString(blockL), firstL);
}

TEST_F(TemplateBlockTest, FactoryMakesEmptyBlocks) {
  std::unique_ptr<TemplateBlockImp> blockL(TemplateBlockImp::createTemplateBlock(AlgDaugman2010));
  EXPECT_EQ(blockL->algorithm(), AlgDaugman2010);
  EXPECT_EQ(blockL->version(), 3);
  EXPECT_EQ(blockL->checkSum(), 0u);
  EXPECT_FALSE(blockL->isSymmetric());
  EXPECT_EQ(blockL->getImpressionType(), ImpressionLatentImpression);
}

}  // namespace
}  // namespace qridy
